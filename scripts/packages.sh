# shellcheck shell=bash
# Sourced by the scripts: installs the Debian/Ubuntu packages that are missing, and builds the close request's
# helper for this machine.
# usage: ensure_packages NAME...
#        build_wm_close DIR

ensure_packages() {
    local missing=()
    local package
    if ! command -v dpkg-query >/dev/null 2>&1 || ! command -v apt-get >/dev/null 2>&1; then
        echo "This script installs its packages on Debian or Ubuntu only. Install these yourself, then run it again:" >&2
        echo "  $*" >&2
        exit 1
    fi
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    echo "Installing: ${missing[*]}"
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "Not root and no sudo: install these packages, then run this again: ${missing[*]}" >&2
            exit 1
        fi
        sudo=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building the program needs.
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libsfml-dev libx11-dev libxft-dev libglx-dev)

# build_wm_close DIR: builds wm_close, which sends a window the close request as a window manager does, for this
# machine in the CMake build folder DIR (the tests configured there, only it built); WM_CLOSE is the program.
# shellcheck disable=SC2034 # WM_CLOSE is for the caller
build_wm_close() {
    local repository
    repository="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    ensure_packages "${BUILD_PACKAGES[@]}" libgtest-dev
    cmake -S "$repository" -B "$1" -G Ninja -DORBISK_BUILD_TESTS=ON -DORBISK_BUILD_BENCHMARKS=OFF >/dev/null
    cmake --build "$1" --target wm_close >/dev/null
    WM_CLOSE="$1/tests/e2e/wm_close"
}
