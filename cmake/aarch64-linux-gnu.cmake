# Cross-compiling for 64-bit ARM Linux with Debian's cross compiler (crossbuild-essential-arm64) against the arm64
# libraries installed beside the building machine's own (multiarch: dpkg --add-architecture arm64, then
# libsfml-dev:arm64 and the others). CMake learns the multiarch folder, /usr/lib/aarch64-linux-gnu, from the
# compiler and looks for libraries there only, never among the building machine's.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# pkg-config's wrapper for the architecture reads the arm64 libraries' .pc files.
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")
