# shellcheck shell=bash
# Sourced by the scripts that build and test on other Debian releases and architectures: fresh minimal Debian
# systems, made with mmdebstrap from this machine's own archive entries, for running the project's scripts there.
#
#   system_start RELEASE [ARCH]
#                          unpacks a fresh system of RELEASE (a codename: bookworm, trixie, sid) into a folder of
#                          its own and sets SYSTEM_ROOT; the system is made once and kept as a tarball in
#                          ${XDG_CACHE_HOME:-~/.cache}/orbisk, each run starts from a new copy of it. ARCH (a
#                          Debian architecture, arm64) makes it a system of that architecture, run under emulation
#   system_emulation ARCH  sets up the emulation of ARCH (qemu-user-static and binfmt_misc); prints why it cannot,
#                          or nothing when programs of ARCH now run here
#   system_start_prepared RELEASE NAME
#                          the same, but from the system kept by system_save RELEASE NAME at the end of an earlier
#                          run (within the week), so that what that run installed need not be installed again
#   system_source PATH     copies the project to PATH inside it: from a git clone, a clone of its committed state;
#                          from an unpacked source archive, which has no history, its tree as it stands
#   system_copy PATH       copies the working tree as it stands to PATH inside it
#   system_run CMD...      runs a command as root inside it, in a clean environment but for ORBISK_FRESH_SYSTEM
#   system_fetch ARCH DIST copies the package for ARCH that scripts/package built in its /root/orbisk to DIST;
#                          SYSTEM_DEB is the copy
#   system_stop            unmounts and removes it (also done at exit)
#   system_packages RELEASE DIST SCRIPT [ARCH...]
#                          builds and checks the packages of RELEASE in a fresh system of it, into DIST
#
# Needs root (or sudo) for chroot and mounts. Reads, never writes, the machine's apt set-up.
# shellcheck source=packages.sh
source "$(dirname "${BASH_SOURCE[0]}")/packages.sh"

SYSTEM_ROOT="" SYSTEM_PREPARED=0

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
    else
        root_unavailable
    fi
}

# The emulators that run another architecture's programs: qemu's user-mode emulation, registered with the kernel's
# binfmt_misc so that the kernel hands it every such program, also inside a fresh system (its entry is made with
# the F flag: the kernel keeps the emulator open, the system need not hold a copy).
system_emulation() {
    local arch="$1" qemu
    case "$arch" in
    arm64) qemu="qemu-aarch64" ;;
    *)
        echo "no emulator is known for $arch"
        return 0
        ;;
    esac
    local why
    why="$(root_unavailable)"
    [[ -z "$why" ]] || { echo "setting up the emulation of $arch: $why"; return 0; }
    (ensure_packages qemu-user-static binfmt-support arch-test) >&2 ||
        { echo "qemu-user-static, binfmt-support or arch-test could not be installed"; return 0; }
    if [[ ! -e /proc/sys/fs/binfmt_misc/register ]]; then
        as_root mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null ||
            { echo "binfmt_misc is not mounted, and mounting it was refused"; return 0; }
    fi
    grep -qsx enabled "/proc/sys/fs/binfmt_misc/$qemu" || as_root update-binfmts --enable "$qemu" >/dev/null 2>&1 || true
    arch-test "$arch" >/dev/null 2>&1 || echo "$arch programs do not run here, even with binfmt_misc and $qemu"
}

system_tarball() {
    local release="$1" arch="${2:-}" archive new
    local tarball="$ORBISK_CACHE/debian-$release${arch:+-$arch}.tar"
    # A cached system is made anew after a week, so that unstable does not drift far behind its archive.
    if [[ -s "$tarball" && -z "$(find "$tarball" -mtime +7)" ]]; then
        echo "$tarball"
        return 0
    fi
    archive="$(system_archive)"
    mkdir -p "$ORBISK_CACHE"
    local options=()
    # The archive may be a snapshot whose unstable Release file is past its Valid-Until date; only the unstable
    # system is told to accept that.
    [[ "$release" != sid ]] || options+=(--aptopt='Acquire::Check-Valid-Until "false"')
    [[ -z "$arch" ]] || options+=(--arch="$arch")
    echo "== making a fresh $(system_describe "$release")${arch:+ $arch} system from $archive" >&2
    # A name of its own, so that two runs making the same system do not write into one file.
    new="$(mktemp "$tarball.XXXXXX")"
    if as_root mmdebstrap --quiet --variant=apt --format=tar "${options[@]}" \
        "$release" "$new" "$archive" >&2; then
        as_root mv "$new" "$tarball"
    else
        as_root rm -f "$new"
        # An older system still serves when a new one cannot be made.
        [[ -s "$tarball" ]] || return 1
        echo "note: could not make a new system; using the cached one from $(date -r "$tarball" +%F)" >&2
    fi
    echo "$tarball"
}

system_start() {
    local release="$1" arch="${2:-}" tarball
    command -v mmdebstrap >/dev/null 2>&1 || ensure_packages mmdebstrap
    # This machine's own architecture needs no name of its own: its tarballs keep their names.
    [[ "$arch" != "$(dpkg --print-architecture)" ]] || arch=""
    if [[ -n "$arch" ]]; then
        local why
        why="$(system_emulation "$arch")"
        [[ -z "$why" ]] || { echo "Cannot run a $arch system here: $why" >&2; return 1; }
    fi
    tarball="$(system_tarball "$release" "$arch")" || return 1
    system_unpack "$release" "$tarball"
}

# system_prepared RELEASE NAME: the tarball that system_save keeps a system of RELEASE in, set up for the task NAME,
# while it is usable: made after the fresh system it grew from, and within the week. Prints nothing otherwise.
system_prepared() {
    local tarball="$ORBISK_CACHE/debian-$1-$2.tar" fresh
    fresh="$(system_tarball "$1")" || return 0
    [[ -s "$tarball" && "$tarball" -nt "$fresh" && -z "$(find "$tarball" -mtime +7)" ]] || return 0
    echo "$tarball"
}

# system_save RELEASE NAME: keeps the running system, what it installed included, for system_start_prepared; the
# project's folder in it (/root/orbisk) and the downloaded packages are left out.
system_save() {
    local tarball="$ORBISK_CACHE/debian-$1-$2.tar" new
    new="$(mktemp "$tarball.XXXXXX")"
    if as_root tar -C "$SYSTEM_ROOT" --one-file-system --exclude=./root/orbisk \
        --exclude='./var/cache/apt/archives/*.deb' -cf "$new" .; then
        as_root mv "$new" "$tarball"
    else
        as_root rm -f "$new"
    fi
}

# system_start_prepared RELEASE NAME: as system_start RELEASE, from the system system_save kept for NAME while it
# is usable (system_prepared), else from a fresh one; SYSTEM_PREPARED says which (1 or 0).
# shellcheck disable=SC2034 # SYSTEM_PREPARED is for the caller
system_start_prepared() {
    local tarball
    tarball="$(system_prepared "$1" "$2")"
    if [[ -n "$tarball" ]]; then
        SYSTEM_PREPARED=1
        system_unpack "$1" "$tarball"
    else
        SYSTEM_PREPARED=0
        system_start "$1"
    fi
}

system_unpack() {
    local release="$1" tarball="$2"
    SYSTEM_ROOT="$(mktemp -d "${TMPDIR:-/tmp}/orbisk-$release.XXXXXX")"
    at_exit system_stop
    as_root tar -C "$SYSTEM_ROOT" -xf "$tarball"
    # Name resolution as on this machine; the kernel's file systems and devices for Xvfb, the compilers and the
    # sanitizers. Slave mounts, so that unmounting them never reaches this machine's own.
    as_root cp -L /etc/resolv.conf "$SYSTEM_ROOT/etc/resolv.conf"
    as_root mount -t proc proc "$SYSTEM_ROOT/proc"
    local tree
    for tree in sys dev; do
        as_root mount --rbind "/$tree" "$SYSTEM_ROOT/$tree"
        as_root mount --make-rslave "$SYSTEM_ROOT/$tree"
    done
}

system_copy() {
    as_root mkdir -p "$SYSTEM_ROOT$1"
    working_tree | as_root tar -C "$SYSTEM_ROOT$1" -xf -
}

system_source() {
    in_clone || { system_copy "$1"; return; }
    local clone
    clone="$(mktemp -d "${TMPDIR:-/tmp}/orbisk-clone.XXXXXX")"
    git clone --quiet --no-hardlinks "$ORBISK_ROOT" "$clone/repository"
    as_root cp -r --preserve=mode,timestamps "$clone/repository" "$SYSTEM_ROOT$1"
    rm -rf "$clone"
}

# ORBISK_FRESH_SYSTEM tells the project's scripts that the system is theirs to change (scripts/package adds an
# architecture to it for a cross build).
system_run() {
    as_root chroot "$SYSTEM_ROOT" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" \
        ORBISK_FRESH_SYSTEM=1 PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

system_stop() {
    [[ -n "$SYSTEM_ROOT" ]] || return 0
    local tree
    for tree in dev sys proc; do
        if mountpoint -q "$SYSTEM_ROOT/$tree"; then
            as_root umount -R "$SYSTEM_ROOT/$tree" 2>/dev/null ||
                as_root umount -R -l "$SYSTEM_ROOT/$tree"
        fi
    done
    # Never remove a tree that still has something mounted inside it, nor step out of its file system.
    if awk -v root="$SYSTEM_ROOT/" 'index($5, root) == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo; then
        echo "warning: $SYSTEM_ROOT still has mounts; left in place" >&2
    else
        as_root rm -rf --one-file-system "$SYSTEM_ROOT"
    fi
    SYSTEM_ROOT=""
}

# system_packages RELEASE DIST SCRIPT [ARCH...]: in a fresh system of RELEASE, from the project as system_source
# copies it, runs the shell text SCRIPT first (scripts/test runs its suite there; `true` runs nothing), then
# builds and checks the package for each ARCH with scripts/package (no ARCH: this machine's), and copies the
# packages to DIST. SYSTEM_DEBS are their paths; their install tests are the caller's to run.
# shellcheck disable=SC2034 # SYSTEM_DEBS is for the caller
system_packages() {
    local release="$1" dist="$2" script="$3" arch commands=()
    shift 3
    [[ $# -gt 0 ]] || set -- "$(dpkg --print-architecture)"
    for arch in "$@"; do
        commands+=("scripts/package --arch $arch")
    done
    system_start "$release"
    system_source /root/orbisk
    system_run bash -c "cd /root/orbisk && $script$(printf ' && %s' "${commands[@]}")"
    SYSTEM_DEBS=()
    for arch in "$@"; do
        system_fetch "$arch" "$dist"
        SYSTEM_DEBS+=("$SYSTEM_DEB")
    done
    system_stop
}

# shellcheck disable=SC2034 # SYSTEM_DEB is for the caller
system_fetch() {
    local deb
    deb="$(system_run /root/orbisk/scripts/package --name --arch "$1")"
    mkdir -p "$2"
    system_run cat "/root/orbisk/dist/$deb" >"$2/$deb"
    SYSTEM_DEB="$2/$deb"
}
