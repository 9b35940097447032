#!/usr/bin/env bash
# The installed package as a user meets it, in a fresh minimal Debian system: apt installs the package, then a new
# user with an empty home starts the menu entry's command on a private Xvfb server. Its first start, from a folder
# without config.txt, fills ~/.config/orbisk with the shipped files and opens the window; the user's changes to
# them are kept and used; XDG_CONFIG_HOME moves the folder; a folder that holds a config.txt is run in (its
# mistake names that file); the close request ends the program with 0. Removing the package leaves the user's
# folder alone. scripts/package --install-test puts this script, x11.sh and wm_close beside the package.
# usage (as root): user-test.sh DEB
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
user=player

if [[ "${1:-}" != --as-user ]]; then
    [[ $# -eq 1 ]] || { echo "usage: $0 DEB" >&2; exit 2; }
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # apt, not dpkg: apt proves that the package's dependencies exist in this release and installs them. Zenity,
    # only recommended, is left out (the program then draws its own error box); the X server, its tools,
    # Mesa's software drivers and useradd (not essential since Debian 13) are the test's.
    apt-get install -y -qq --no-install-recommends "$1" xvfb xauth xdotool x11-utils libgl1-mesa-dri passwd \
        >/dev/null
    useradd --no-create-home --home-dir "/home/$user" --shell /bin/bash "$user"
    install -d -o "$user" -g "$user" "/home/$user"
    runuser -u "$user" -- env -i HOME="/home/$user" LANG=C.UTF-8 PATH=/usr/local/bin:/usr/bin:/bin:/usr/games \
        bash "$here/user-test.sh" --as-user
    apt-get purge -y -qq orbisk >/dev/null
    grep -qx 'region_size = 60' "/home/$user/.config/orbisk/config.txt" ||
        { echo "FAIL: removing the package took the user's settings" >&2; exit 1; }
    echo "PASS: installed by apt, started by a new user, removed"
    exit 0
fi

# shellcheck source=../e2e/x11.sh
source "$here/x11.sh"
work="$(mktemp -d)" PID=""
cleanup() {
    stop "$PID" "${XVFB_PID:-}"
    rm -rf "$work"
}
trap cleanup EXIT
start_xvfb "$work"
shipped=/usr/share/games/orbisk settings="$HOME/.config/orbisk"
desktop=(/usr/share/applications/*.desktop)
[[ ${#desktop[@]} -eq 1 ]] || die "not exactly one menu entry: ${desktop[*]}"
command="$(sed -n 's/^Exec=//p' "${desktop[0]}")"

# visit DIR TITLE STATUS [NAME=VALUE...]: starts the menu entry's command in DIR with those variables, waits for
# its window titled TITLE, sends that window the close request and expects exit status STATUS.
visit() {
    local dir="$1" title="$2" status="$3" id
    shift 3
    # shellcheck disable=SC2086 # the entry's command line is split into words, as the desktop does
    (cd "$dir" && exec env "$@" $command) >"$work/stdout" 2>"$work/stderr" &
    PID=$!
    id="$(find_window 20 "$PID" "$title")" || die "no window titled $title; standard error: $(cat "$work/stderr")"
    "$here/wm_close" "$id" || die "wm_close could not send the close request"
    wait_exit "$PID" 10
    PID=""
    [[ $EXIT_STATUS -eq $status ]] || die "exit status $EXIT_STATUS, expected $status: $(cat "$work/stderr")"
}

expect_size_line() {
    [[ "$(cat "$work/stdout")" == "$1" ]] || die "standard output is \"$(cat "$work/stdout")\", not $1"
}

mkdir "$work/elsewhere"
[[ ! -e "$HOME/.config" ]] || die "the home folder is not empty"
visit "$work/elsewhere" Orbisk 0
for file in config.txt Orbisk.png; do
    cmp -s "$shipped/$file" "$settings/$file" || die "$settings/$file is not the shipped $file"
done
expect_size_line 550,550

# The user's change is kept, and used from the home folder as from anywhere else.
echo 'region_size = 60' >>"$settings/config.txt"
cp "$settings/config.txt" "$work/changed.txt"
visit "$HOME" Orbisk 0
cmp -s "$work/changed.txt" "$settings/config.txt" || die "the user's config.txt was changed"
expect_size_line 600,600

visit "$work/elsewhere" Orbisk 0 XDG_CONFIG_HOME="$work/xdg"
cmp -s "$shipped/config.txt" "$work/xdg/orbisk/config.txt" || die "XDG_CONFIG_HOME/orbisk was not filled"
[[ ! -e "$work/elsewhere/config.txt" ]] || die "the program wrote into the folder it was started in"

# A folder holding a config.txt is run in; its mistake shows in the program's own box, named by its full path.
mkdir "$work/here"
echo 'colour = 3' >"$work/here/config.txt"
visit "$work/here" Error 1
grep -qx 'Error: invalid configuration: colour' "$work/stderr" || die "no message: $(cat "$work/stderr")"
grep -qx "in the settings file $work/here/config.txt" "$work/stderr" || die "no file named: $(cat "$work/stderr")"
echo "PASS: the menu entry's command as a new user"
