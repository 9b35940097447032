# Cross-compiling for 64-bit Windows with MinGW-w64 (Debian's g++-mingw-w64-x86-64-posix).
# Libraries built for Windows are looked for only in MinGW's own folder and in the folders listed in
# CMAKE_FIND_ROOT_PATH, never among the building machine's own: pass -DCMAKE_FIND_ROOT_PATH=/where/sfml/lies.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ORBISK_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: the C++ standard library's threads and mutexes exist, as GoogleTest expects them.
set(CMAKE_C_COMPILER ${ORBISK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORBISK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORBISK_MINGW_TRIPLE}-windres)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${ORBISK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
