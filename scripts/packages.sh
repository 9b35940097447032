# Sourced by scripts/run and scripts/test: installs the Debian/Ubuntu packages that are missing.
# usage: ensure_packages NAME...

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
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libsfml-dev libx11-dev libxft-dev)
