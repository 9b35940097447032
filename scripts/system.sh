# shellcheck shell=bash
# Sourced by scripts/test and scripts/package: fresh minimal Debian systems, made with mmdebstrap from this
# machine's own archive entries, for running the project's scripts on other Debian releases.
#
#   system_start RELEASE   unpacks a fresh system of RELEASE (a codename: bookworm, trixie, sid) into a folder of
#                          its own and sets SYSTEM_ROOT; the system is made once and kept as a tarball in
#                          ${XDG_CACHE_HOME:-~/.cache}/orbisk, each run starts from a new copy of it
#   system_clone REPO PATH copies a clone of REPO's committed state to PATH inside it
#   system_run CMD...      runs a command as root inside it, in a clean environment
#   system_stop            unmounts and removes it (also done at exit)
#   system_package RELEASE DIST [SCRIPT]
#                          builds and checks the package of RELEASE in a fresh system of it, puts it in DIST, and
#                          gives it the install test in another
#
# Needs root (or sudo) for chroot and mounts. Reads, never writes, the machine's apt set-up.

SYSTEM_ROOT=""
system_sudo=()

# The Debian releases the suite runs on and a release ships a package for.
# shellcheck disable=SC2034 # for the scripts that source this
SYSTEM_RELEASES=(bookworm trixie sid)

# Debian's version number and name of a codename, for messages and file names.
system_describe() {
    case "$1" in
    bookworm) echo "Debian 12 (bookworm)" ;;
    trixie) echo "Debian 13 (trixie)" ;;
    forky) echo "Debian 14 (forky)" ;;
    sid) echo "Debian unstable (sid)" ;;
    *) echo "Debian $1" ;;
    esac
}

# This machine's Debian release, as its archive entries name it (unstable's os-release names the next release).
system_this_release() {
    # shellcheck disable=SC2016 # apt's own fields, not the shell's
    apt-get indextargets --format '$(CODENAME) $(LABEL)' 2>/dev/null |
        awk '$2 == "Debian" && $1 !~ /-/ { print $1; exit }'
}

# The Debian archive this machine installs from: the base address of its entry for its own release.
system_archive() {
    # shellcheck disable=SC2016 # apt's own fields, not the shell's
    apt-get indextargets --format '$(BASE_URI) $(CODENAME) $(LABEL)' 2>/dev/null |
        awk -v codename="$(system_this_release)" \
            '$2 == codename && $3 == "Debian" { sub(/dists\/.*$/, "", $1); print $1; exit }'
}

# Why fresh systems cannot be made here, or nothing when they can.
system_unavailable() {
    if ! grep -qx 'ID=debian' /etc/os-release 2>/dev/null; then
        echo "this machine is not Debian"
    elif [[ -z "$(system_archive)" ]]; then
        echo "no Debian archive entry for this machine's release was found in its apt sources"
    elif [[ "$(id -u)" -ne 0 ]] && ! sudo -n true 2>/dev/null; then
        echo "making and entering them needs root or password-less sudo"
    fi
}

system_tarball() {
    local release="$1" cache="${XDG_CACHE_HOME:-$HOME/.cache}/orbisk"
    local tarball="$cache/debian-$release.tar" archive new
    # A cached system is made anew after a week, so that unstable does not drift far behind its archive.
    if [[ -s "$tarball" && -z "$(find "$tarball" -mtime +7)" ]]; then
        echo "$tarball"
        return 0
    fi
    archive="$(system_archive)"
    mkdir -p "$cache"
    local options=()
    # The archive may be a snapshot whose unstable Release file is past its Valid-Until date; only the unstable
    # system is told to accept that.
    [[ "$release" != sid ]] || options+=(--aptopt='Acquire::Check-Valid-Until "false"')
    echo "== making a fresh $(system_describe "$release") system from $archive" >&2
    # A name of its own, so that two runs making the same system do not write into one file.
    new="$(mktemp "$tarball.XXXXXX")"
    if "${system_sudo[@]}" mmdebstrap --quiet --variant=apt --format=tar "${options[@]}" \
        "$release" "$new" "$archive" >&2; then
        "${system_sudo[@]}" mv "$new" "$tarball"
    else
        "${system_sudo[@]}" rm -f "$new"
        # An older system still serves when a new one cannot be made.
        [[ -s "$tarball" ]] || return 1
        echo "note: could not make a new system; using the cached one from $(date -r "$tarball" +%F)" >&2
    fi
    echo "$tarball"
}

system_start() {
    local release="$1" tarball
    [[ "$(id -u)" -eq 0 ]] || system_sudo=(sudo)
    command -v mmdebstrap >/dev/null 2>&1 || ensure_packages mmdebstrap
    tarball="$(system_tarball "$release")" || return 1
    SYSTEM_ROOT="$(mktemp -d "${TMPDIR:-/tmp}/orbisk-$release.XXXXXX")"
    trap system_stop EXIT
    "${system_sudo[@]}" tar -C "$SYSTEM_ROOT" -xf "$tarball"
    # Name resolution as on this machine; the kernel's file systems and devices for Xvfb, the compilers and the
    # sanitizers. Slave mounts, so that unmounting them never reaches this machine's own.
    "${system_sudo[@]}" cp -L /etc/resolv.conf "$SYSTEM_ROOT/etc/resolv.conf"
    "${system_sudo[@]}" mount -t proc proc "$SYSTEM_ROOT/proc"
    local tree
    for tree in sys dev; do
        "${system_sudo[@]}" mount --rbind "/$tree" "$SYSTEM_ROOT/$tree"
        "${system_sudo[@]}" mount --make-rslave "$SYSTEM_ROOT/$tree"
    done
}

# A clone of the repository's committed state at PATH inside the system.
system_clone() {
    local repository="$1" path="$2" clone
    clone="$(mktemp -d "${TMPDIR:-/tmp}/orbisk-clone.XXXXXX")"
    git clone --quiet --no-hardlinks "$repository" "$clone/repository"
    "${system_sudo[@]}" cp -r --preserve=mode,timestamps "$clone/repository" "$SYSTEM_ROOT$path"
    rm -rf "$clone"
}

system_run() {
    "${system_sudo[@]}" chroot "$SYSTEM_ROOT" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

system_stop() {
    [[ -n "$SYSTEM_ROOT" ]] || return 0
    local tree
    for tree in dev sys proc; do
        if mountpoint -q "$SYSTEM_ROOT/$tree"; then
            "${system_sudo[@]}" umount -R "$SYSTEM_ROOT/$tree" 2>/dev/null ||
                "${system_sudo[@]}" umount -R -l "$SYSTEM_ROOT/$tree"
        fi
    done
    # Never remove a tree that still has something mounted inside it, nor step out of its file system.
    if awk -v root="$SYSTEM_ROOT/" 'index($5, root) == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo; then
        echo "warning: $SYSTEM_ROOT still has mounts; left in place" >&2
    else
        "${system_sudo[@]}" rm -rf --one-file-system "$SYSTEM_ROOT"
    fi
    SYSTEM_ROOT=""
}

# system_package RELEASE DIST [SCRIPT]: in a fresh system of RELEASE, from a clone of the repository's committed
# state, runs the shell text SCRIPT there first when given (scripts/test runs its suite), then scripts/package,
# which builds and checks the package; the package is copied to DIST and gets its install test in another fresh
# system of its release. SYSTEM_DEB is its path.
# shellcheck disable=SC2034 # SYSTEM_DEB is for the caller
system_package() {
    local release="$1" dist="$2" before="${3:-true}" repository deb
    repository="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    system_start "$release"
    system_clone "$repository" /root/orbisk
    system_run bash -c "cd /root/orbisk && $before && scripts/package"
    deb="$(system_run /root/orbisk/scripts/package --name)"
    mkdir -p "$dist"
    system_run cat "/root/orbisk/dist/$deb" >"$dist/$deb"
    system_stop
    bash "$repository/scripts/package" --install-test "$dist/$deb" "$release"
    SYSTEM_DEB="$dist/$deb"
}
