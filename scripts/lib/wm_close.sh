# shellcheck shell=bash
# Sourced by the scripts that start the program in a window and end it as a user does: wm_close sends a window
# the close request a window manager sends. Each sets WM_CLOSE, the program built.
#   build_wm_close DIR         for this machine, in the CMake build folder DIR (the tests configured there, only it
#                              built)
#   build_static_wm_close DIR  linked statically, in DIR: it runs as this machine's program in a fresh system of
#                              another architecture, which has none of this machine's libraries
# shellcheck source=packages.sh
source "$(dirname "${BASH_SOURCE[0]}")/packages.sh"

# shellcheck disable=SC2034 # WM_CLOSE is for the caller
build_wm_close() {
    ensure_packages "${BUILD_PACKAGES[@]}" libgtest-dev
    mkdir -p "$1"
    : >"$1/wm_close.log"
    logged "$1/wm_close.log" cmake -S "$ORBISK_ROOT" -B "$1" -G Ninja -DORBISK_BUILD_TESTS=ON \
        -DORBISK_BUILD_BENCHMARKS=OFF
    logged "$1/wm_close.log" cmake --build "$1" --target wm_close
    WM_CLOSE="$1/tests/e2e/wm_close"
}

# shellcheck disable=SC2034 # WM_CLOSE is for the caller
build_static_wm_close() {
    ensure_packages g++ pkg-config libx11-dev
    mkdir -p "$1"
    : >"$1/wm_close.log"
    WM_CLOSE="$1/wm_close"
    # The linker warns that Xlib's TCP connections would need this machine's C library; the tests connect through a
    # local socket.
    # shellcheck disable=SC2046 # pkg-config's words are the linker's arguments
    logged "$1/wm_close.log" g++ -std=c++17 -O2 -static -o "$WM_CLOSE" "$ORBISK_ROOT/tests/e2e/wm_close.cpp" \
        $(pkg-config --static --libs x11)
}
