# shellcheck shell=bash
# Sourced by the scripts: installs the Debian/Ubuntu packages that are missing, and builds the close request's
# helper for this machine.
# usage: ensure_packages NAME...
#        apt_wait APT-GET-ARGUMENT...
#        project_version
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
    apt_wait update -qq
    apt_wait check -qq || true
    "${sudo[@]}" apt-get "${APT_WAIT[@]}" install -y -qq --no-install-recommends "${missing[@]}"
}

# Another package manager, such as a desktop's automatic updates, may hold apt's locks for minutes; apt waits for
# it this long, where apt-get alone would fail at once.
APT_WAIT_SECONDS=600
# apt-get's own wait for the package system's lock, for the commands that change the system (install, build-dep).
# It waits without a word under -qq, and not at all for the package lists' lock, which apt-get update takes.
APT_WAIT=(-o "DPkg::Lock::Timeout=$APT_WAIT_SECONDS")

# apt_wait ARG...: runs apt-get ARG... as root, again every 5 seconds while it fails on a lock that another process
# holds, saying once that it waits, for up to APT_WAIT_SECONDS. `apt_wait check -qq` waits for the package
# system's lock (check takes it and changes nothing), so that an install after it waits only in a rare race.
apt_wait() {
    local sudo=() log waited=0 status
    [[ "$(id -u)" -eq 0 ]] || sudo=(sudo)
    log="$(mktemp)"
    while true; do
        status=0
        "${sudo[@]}" env LC_ALL=C apt-get "$@" 2>"$log" || status=$?
        if ((status == 0 || waited >= APT_WAIT_SECONDS)) || ! grep -q '^E: Could not get lock' "$log"; then
            break
        fi
        ((waited > 0)) || echo "Waiting up to $((APT_WAIT_SECONDS / 60)) minutes for another package manager to" \
            "finish: $(sed -n 's/^E: Could not get lock/could not get lock/p' "$log" | head -n 1)"
        sleep 5
        waited=$((waited + 5))
    done
    cat "$log" >&2
    rm -f "$log"
    return "$status"
}

# project_version: the version of Orbisk, set once, in CMakeLists.txt.
project_version() {
    local repository version
    repository="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    version="$(sed -n 's/^project(Orbisk VERSION \([^ )]*\).*/\1/p' "$repository/CMakeLists.txt")"
    [[ -n "$version" ]] || { echo "CMakeLists.txt names no version" >&2; return 1; }
    echo "$version"
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
