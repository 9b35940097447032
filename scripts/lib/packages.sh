# shellcheck shell=bash
# Sourced by the scripts: installs the Debian/Ubuntu packages that are missing, waiting while another package
# manager holds apt's locks.
#   ensure_packages NAME...     installs those of the packages that are missing
#   apt_wait APT-GET-ARGUMENT...
#                               runs apt-get as root, waiting while another package manager holds its locks
#   apt_change COMMAND ARGUMENT...
#                               apt-get's COMMAND (install, build-dep) as root, without questions or recommended
#                               packages, once no other package manager holds apt's locks
#   BUILD_PACKAGES              what building the program needs
#   X_TEST_PACKAGES             what starting it in a window on a private X server and reading the window needs
# shellcheck source=common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# What building the program needs.
# shellcheck disable=SC2034 # for the scripts that source this
BUILD_PACKAGES=(cmake ninja-build g++ pkg-config libsfml-dev libx11-dev libxft-dev libglx-dev)
# The X server, Mesa's drawing for it, the tools that find, click and read windows, ImageMagick for pictures, and
# the desktop's dialog tool whose box the program shows its mistakes in.
# shellcheck disable=SC2034 # for the scripts that source this
X_TEST_PACKAGES=(xvfb xauth libgl1-mesa-dri xdotool x11-utils imagemagick zenity)

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
    # sudo may ask for a password here: the one who runs the script is there to give it.
    if ((EUID != 0)) && ! command -v sudo >/dev/null 2>&1; then
        echo "Not root and no sudo: install these packages, then run this again: ${missing[*]}" >&2
        exit 1
    fi
    apt_wait update -qq
    apt_change install "${missing[@]}"
}

apt_change() {
    apt_wait check -qq || true
    as_root env DEBIAN_FRONTEND=noninteractive apt-get "${APT_WAIT[@]}" -y -qq --no-install-recommends "$@"
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
    local log waited=0 status
    log="$(mktemp)"
    while true; do
        status=0
        as_root env LC_ALL=C DEBIAN_FRONTEND=noninteractive apt-get "$@" 2>"$log" || status=$?
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
