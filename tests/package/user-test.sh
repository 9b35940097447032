#!/usr/bin/env bash
# The installed package as a user meets it, in a fresh minimal Debian system: apt installs the package, then a new
# user with an empty home starts the menu entry's command on a private Xvfb server. Its first start fills
# ~/.config/orbisk with the shipped files and opens the window; the user's changes to them are kept and used;
# XDG_CONFIG_HOME moves the folder; the menu entry runs there even when the home folder holds an unrelated
# config.txt, while the command typed in a folder that holds a config.txt runs there (its mistake names that
# file); the close request ends the program with 0. Two first starts at once both open their windows, each file
# copied whole; a bad HOME is named, with status 1, and nothing is made; a disk with no room for the icon still
# starts, and a later start with room copies it; under a umask that takes the user's own rights the folders made
# are still the user's alone and the copies the user's to read and write; a failure of the command started from the
# menu shows the error box. Root with the user's HOME (as sudo -E gives) makes nothing in the user's fresh home,
# saying why, and runs the program once the user's settings are there. Removing the package leaves the user's
# folder alone. scripts/package --install-test puts this script, x11.sh and wm_close beside the package.
# usage (as root): user-test.sh DEB
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
user=player
# A disk with room for two pages of 4 KiB: the test takes one, config.txt the other, and the icon finds none.
small_disk=/mnt/orbisk-small-disk
# shellcheck source=../../scripts/lib/x11.sh
source "$here/x11.sh"

# Each row: a HOME the command cannot use (unset: none at all) and the reason it gives.
BAD_HOMES=(
    "unset|HOME is not set"
    "|HOME is empty"
    "/nonexistent|HOME names no folder: /nonexistent: No such file or directory"
    "-v|HOME is not an absolute path: -v"
)

# expect_bad_homes COMMAND...: each bad HOME stops COMMAND, started in / without a display, with its message and
# status 1; nothing is made in HOME's place or in /.
expect_bad_homes() {
    local row home reason variables status stderr made
    stderr="$(mktemp)"
    for row in "${BAD_HOMES[@]}"; do
        home="${row%%|*}" reason="${row#*|}"
        variables=(-u HOME)
        [[ $home == unset ]] || variables=(HOME="$home")
        status=0
        (cd / && exec env -u DISPLAY -u XDG_CONFIG_HOME "${variables[@]}" "$@") >/dev/null 2>"$stderr" || status=$?
        [[ $status -eq 1 ]] || die "HOME ${home:-empty}: exit status $status, not 1: $(cat "$stderr")"
        grep -qxF "Error: cannot find the settings folder ~/.config/orbisk: $reason" "$stderr" ||
            die "HOME ${home:-empty}: no message naming it: $(cat "$stderr")"
        for made in /.config /orbisk /nonexistent; do
            [[ ! -e $made ]] || die "HOME ${home:-empty}: $made was made"
        done
    done
    rm -f "$stderr"
}

# The command line of the package's menu entry.
menu_command() {
    local desktop
    mapfile -t desktop < <(dpkg-query -L orbisk | grep '^/usr/share/applications/.*\.desktop$')
    [[ ${#desktop[@]} -eq 1 ]] || die "not exactly one menu entry: ${desktop[*]}"
    sed -n 's/^Exec=//p' "${desktop[0]}"
}

if [[ "${1:-}" != --as-user ]]; then
    [[ $# -eq 1 ]] || { echo "usage: $0 DEB" >&2; exit 2; }
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # apt, not dpkg: apt proves that the package's dependencies exist in this release and installs them. Zenity,
    # only recommended, is left out (the program then draws its own error box); the X server, its tools,
    # Mesa's software drivers, ImageMagick for the box's picture, and useradd and mount (not essential) are the
    # test's.
    apt-get install -y -qq --no-install-recommends "$1" xvfb xauth xdotool x11-utils libgl1-mesa-dri imagemagick \
        passwd mount >/dev/null
    menu="$(menu_command)"
    # Root could make a folder anywhere: a bad HOME must still make none.
    # shellcheck disable=SC2086 # the entry's command line is split into words, as the desktop does
    expect_bad_homes $menu
    useradd --no-create-home --home-dir "/home/$user" --shell /bin/bash "$user"
    install -d -o "$user" -g "$user" "/home/$user"
    # Root with the user's HOME, as sudo -E gives: a folder of root's in the fresh home would lock the user out.
    stderr="$(mktemp)" status=0
    # shellcheck disable=SC2086 # the entry's command line is split into words, as the desktop does
    (cd / && exec env -u DISPLAY -u XDG_CONFIG_HOME HOME="/home/$user" $menu) >/dev/null 2>"$stderr" || status=$?
    [[ $status -eq 1 ]] || die "root in the user's home: exit status $status, not 1: $(cat "$stderr")"
    grep -qxF "Error: cannot make the folder /home/$user/.config: /home/$user belongs to $user (uid $(id -u "$user")), \
not to root (uid 0), who runs this command; nothing is made in another user's folder" "$stderr" ||
        die "root in the user's home: no message naming it: $(cat "$stderr")"
    install -d "$small_disk"
    mount -t tmpfs -o size=8k,mode=0700,uid="$(id -u "$user")",gid="$(id -g "$user")" orbisk-small "$small_disk"
    trap 'umount "$small_disk" || umount -l "$small_disk"' EXIT
    runuser -u "$user" -- env -i HOME="/home/$user" LANG=C.UTF-8 PATH=/usr/local/bin:/usr/bin:/bin:/usr/games \
        bash "$here/user-test.sh" --as-user
    # Once the user's settings are there, root with the user's HOME runs the program in them (which, without a
    # display, stops there) and leaves nothing of its own.
    status=0
    # shellcheck disable=SC2086 # the entry's command line is split into words, as the desktop does
    (cd / && exec env -u DISPLAY -u XDG_CONFIG_HOME HOME="/home/$user" $menu) >/dev/null 2>"$stderr" || status=$?
    [[ $status -eq 1 ]] || die "root in the user's settings: exit status $status, not 1: $(cat "$stderr")"
    grep -qxF "Error: no display available: cannot open the display (DISPLAY is not set)" "$stderr" ||
        die "root in the user's settings: the program did not run: $(cat "$stderr")"
    [[ -z "$(find "/home/$user" ! -user "$user")" ]] ||
        die "root left its own files in the user's home: $(find "/home/$user" ! -user "$user")"
    rm -f "$stderr"
    apt-get purge -y -qq orbisk >/dev/null
    grep -qx 'region_size = 60' "/home/$user/.config/orbisk/config.txt" ||
        { echo "FAIL: removing the package took the user's settings" >&2; exit 1; }
    echo "PASS: installed by apt, started by a new user, removed"
    exit 0
fi

work="$(mktemp -d)" PIDS=()
cleanup() {
    stop "${PIDS[@]}" "${XVFB_PID:-}"
    rm -rf "$work"
}
trap cleanup EXIT
start_xvfb "$work"
shipped=/usr/share/games/orbisk settings="$HOME/.config/orbisk"
menu="$(menu_command)"

# start COMMAND DIR [NAME=VALUE...]: starts COMMAND (the menu entry's, or orbisk as typed in a terminal) in DIR
# with those variables; PIDS holds it, $work/stdout and $work/stderr its output.
start() {
    local command="$1" dir="$2"
    shift 2
    # shellcheck disable=SC2086 # the entry's command line is split into words, as the desktop does
    (cd "$dir" && exec env "$@" $command) >"$work/stdout" 2>"$work/stderr" &
    PIDS=($!)
}

# visit COMMAND DIR TITLE STATUS [NAME=VALUE...]: starts COMMAND in DIR with those variables, waits for its window
# titled TITLE, sends that window the close request and expects exit status STATUS.
visit() {
    local command="$1" dir="$2" title="$3" status="$4" id
    shift 4
    start "$command" "$dir" "$@"
    id="$(find_window 20 "${PIDS[0]}" "$title")" ||
        die "no window titled $title; standard error: $(cat "$work/stderr")"
    "$here/wm_close" "$id" || die "wm_close could not send the close request"
    wait_exit "${PIDS[0]}" 10
    PIDS=()
    [[ $EXIT_STATUS -eq $status ]] || die "exit status $EXIT_STATUS, expected $status: $(cat "$work/stderr")"
}

expect_size_line() {
    [[ "$(cat "$work/stdout")" == "$1" ]] || die "standard output is \"$(cat "$work/stdout")\", not $1"
}

# expect_entries DIR NAME...: DIR holds just those entries, no temporary copy among them.
expect_entries() {
    local dir="$1" found
    shift
    found="$(find "$dir" -mindepth 1 -printf '%f\n' | LC_ALL=C sort | tr '\n' ' ')"
    [[ "$found" == "$* " ]] || die "$dir holds $found, not $*"
}

mkdir "$work/elsewhere"
[[ ! -e "$HOME/.config" ]] || die "the home folder is not empty"
visit "$menu" "$work/elsewhere" Orbisk 0
for file in config.txt Orbisk.png; do
    cmp -s "$shipped/$file" "$settings/$file" || die "$settings/$file is not the shipped $file"
done
expect_size_line 550,550

# The user's change is kept, and used when the desktop starts the menu entry in the home folder, also when a
# config.txt there belongs to something else.
echo 'region_size = 60' >>"$settings/config.txt"
cp "$settings/config.txt" "$work/changed.txt"
printf '[General]\nname=another program\n' >"$HOME/config.txt"
visit "$menu" "$HOME" Orbisk 0
cmp -s "$work/changed.txt" "$settings/config.txt" || die "the user's config.txt was changed"
expect_size_line 600,600
rm "$HOME/config.txt"

visit "$menu" "$work/elsewhere" Orbisk 0 XDG_CONFIG_HOME="$work/xdg"
cmp -s "$shipped/config.txt" "$work/xdg/orbisk/config.txt" || die "XDG_CONFIG_HOME/orbisk was not filled"
[[ ! -e "$work/elsewhere/config.txt" ]] || die "the program wrote into the folder it was started in"

# The command typed in a folder holding a config.txt runs there; its mistake shows in the program's own box,
# named by its full path.
mkdir "$work/here"
echo 'colour = 3' >"$work/here/config.txt"
visit orbisk "$work/here" Error 1
grep -qx 'Error: invalid configuration: colour' "$work/stderr" || die "no message: $(cat "$work/stderr")"
grep -qx "line 1 of the settings file $work/here/config.txt" "$work/stderr" || die "no file named: $(cat "$work/stderr")"

# Two first starts at once, as a double click on the menu entry gives: both open their windows, and each shipped
# file is copied whole.
for round in 1 2 3 4; do
    home="$work/race-$round"
    mkdir "$home"
    PIDS=()
    for i in 0 1; do
        # shellcheck disable=SC2086 # the entry's command line is split into words, as the desktop does
        (cd "$work/elsewhere" && exec env HOME="$home" $menu) >/dev/null 2>"$work/race-stderr-$i" &
        PIDS+=($!)
    done
    end=$((SECONDS + 30))
    until mapfile -t ids < <(xdotool search --onlyvisible --name '^Orbisk$') && ((${#ids[@]} >= 2)); do
        for i in 0 1; do
            kill -0 "${PIDS[i]}" 2>/dev/null || die "round $round: a start ended without its window: $(cat "$work/race-stderr-$i")"
        done
        ((SECONDS < end)) || die "round $round: two windows did not appear within 30 seconds"
        sleep 0.1
    done
    for id in "${ids[@]}"; do
        "$here/wm_close" "$id" || die "wm_close could not send the close request"
    done
    for i in 0 1; do
        wait_exit "${PIDS[i]}" 10
        [[ $EXIT_STATUS -eq 0 ]] || die "round $round: exit status $EXIT_STATUS: $(cat "$work/race-stderr-$i")"
    done
    PIDS=()
    expect_entries "$home/.config/orbisk" Orbisk.png config.txt
    for file in config.txt Orbisk.png; do
        cmp -s "$shipped/$file" "$home/.config/orbisk/$file" || die "round $round: $file is not the shipped one"
    done
done

# A HOME that names no usable folder.
# shellcheck disable=SC2086 # the entry's command line is split into words, as the desktop does
expect_bad_homes $menu

# No room on the disk for the icon: the window opens without it, no partial copy is left, and a start once there
# is room copies it.
head -c 4096 /dev/zero >"$small_disk/filler"
visit "$menu" "$work/elsewhere" Orbisk 0 XDG_CONFIG_HOME="$small_disk"
expect_entries "$small_disk/orbisk" config.txt
grep -qxF "cannot copy $shipped/Orbisk.png into $small_disk/orbisk: No space left on device; the window keeps the \
desktop's default icon" "$work/stderr" || die "no word of the icon left out: $(cat "$work/stderr")"
rm "$small_disk/filler"
visit "$menu" "$work/elsewhere" Orbisk 0 XDG_CONFIG_HOME="$small_disk"
cmp -s "$shipped/Orbisk.png" "$small_disk/orbisk/Orbisk.png" || die "the icon was not copied once there was room"

# A umask that takes the user's own rights: the two folders made are still 0700, and the copies 0600, which the
# program reads.
for mask in 0277 0777; do
    mkdir "$work/umask-$mask"
    printf '#!/bin/sh\numask %s\nexec "$@"\n' "$mask" >"$work/umask-$mask/run"
    chmod +x "$work/umask-$mask/run"
    visit "$work/umask-$mask/run $menu" "$work/elsewhere" Orbisk 0 XDG_CONFIG_HOME="$work/umask-$mask/config"
    expect_size_line 550,550
    for row in config:700 config/orbisk:700 config/orbisk/config.txt:600 config/orbisk/Orbisk.png:600; do
        mode="$(stat -c %a "$work/umask-$mask/${row%:*}")"
        [[ $mode == "${row#*:}" ]] || die "umask $mask: ${row%:*} has mode $mode, not ${row#*:}"
    done
done

# box_pictured ID FILE: the picture of the window shows the box's red error mark.
box_pictured() {
    window_shot "$1" "$2" &&
        convert "$2" -depth 8 -format %c histogram:info:- |
        awk '/#CC1F1F / { sub(":", "", $1); n = $1 } END { exit !(n >= 500) }'
}

# The command started from the menu has no terminal: its failure shows in the error box.
mkdir -m 0500 "$work/locked"
start "$menu" "$work/elsewhere" XDG_CONFIG_HOME="$work/locked"
id="$(find_window 20 "${PIDS[0]}" Error)" || die "no error box; standard error: $(cat "$work/stderr")"
retry 10 box_pictured "$id" "$work/box.png" || die "the picture of the box shows no error mark"
xdotool key Return
wait_exit "${PIDS[0]}" 10
PIDS=()
[[ $EXIT_STATUS -eq 1 ]] || die "exit status $EXIT_STATUS after the box, not 1"
grep -qxF "Error: cannot make the folder $work/locked/orbisk: Permission denied" "$work/stderr" ||
    die "no message naming the folder: $(cat "$work/stderr")"
echo "PASS: the menu entry's command as a new user"
