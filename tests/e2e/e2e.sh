#!/usr/bin/env bash
# End-to-end tests of the orbisk program: the real executable, in a real window on a private Xvfb server.
# usage: e2e.sh ORBISK WM_CLOSE ASSETS-DIR TEST-NAME
# An ORBISK ending in .exe is the Windows build: it runs under Wine, in the Wine prefix WINEPREFIX names, which
# must be set (the user's own prefix is left alone).
# With E2E_KEEP set to a folder, the test's screenshots are kept there, named after the test.
# Exits 0 when the test passes, 1 when it fails and 77 when it is skipped because Xvfb is not installed.
set -euo pipefail

if [[ $# -ne 4 ]]; then
    echo "usage: $0 ORBISK WM_CLOSE ASSETS-DIR TEST-NAME" >&2
    exit 2
fi
ORBISK="$(realpath "$1")" WM_CLOSE="$(realpath "$2")" ASSETS="$(realpath "$3")" TEST="$4"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source-path=SCRIPTDIR source=x11.sh
source "$HERE/x11.sh"

# A colour is major when it covers at least this share of the window, in per cent. Antialiased edges blend a
# particle's colour with black or with a neighbour at a few coverage levels; each such blend covers at most about
# 1 % of the window, while every particle type of a fresh world with up to ten types covers about 5 % or more.
MAJOR_PERCENT=2
# 1000 circles of radius 10 leave about exp(-1000 * pi * 10^2 / 550^2) = 35 % of a 550 x 550 window black.
BLACK_PERCENT=25
# Starting the program and showing its window, or ending it, takes well under a second; these are the limits.
START_SECONDS=20
END_SECONDS=10

# The line end of the program's output: Windows writes text lines with a carriage return.
LAUNCHER=() EOL=$'\n'
if [[ $ORBISK == *.exe ]]; then
    EOL=$'\r\n'
    [[ -n "${WINEPREFIX:-}" ]] || die "set WINEPREFIX to the Wine prefix to run $ORBISK in"
    LAUNCHER=(wine)
    export WINEDEBUG=-all
fi

WORK="" XVFB_PID="" ORBISK_PID="" WID=""
cleanup() {
    stop "$ORBISK_PID"
    # Wine's server and desktop outlive the program for a while; they go before their X server does.
    [[ ${#LAUNCHER[@]} -eq 0 ]] || wineserver -k 2>/dev/null || true
    stop "$XVFB_PID"
    [[ -z "$WORK" ]] || keep_shots
    [[ -z "$WORK" ]] || rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

keep_shots() {
    local shot
    [[ -n "${E2E_KEEP:-}" ]] || return 0
    mkdir -p "$E2E_KEEP"
    for shot in "$WORK"/*.png; do
        [[ ! -e "$shot" || $shot == */Orbisk.png ]] || cp "$shot" "$E2E_KEEP/$TEST-${shot##*/}"
    done
}

# --- Setting up and running the program -------------------------------------------------------------------------

require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || die "$tool is not installed"
    done
}

# A fresh working directory holding the icon, and the stand-in zenity first on PATH.
setup() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/orbisk-e2e.XXXXXX")
    cp "$ASSETS/Orbisk.png" "$WORK/"
    mkdir "$WORK/bin"
    cp "$HERE/zenity" "$WORK/bin/zenity"
    export PATH="$WORK/bin:$PATH" ZENITY_ARGS_FILE="$WORK/zenity-args"
}

# A private X server; the test is skipped without Xvfb.
with_display() {
    if ! command -v Xvfb >/dev/null; then
        echo "SKIP: Xvfb is not installed (Debian package xvfb)"
        exit 77
    fi
    require xdotool xwininfo import convert compare identify "${LAUNCHER[@]}"
    start_xvfb "$WORK"
}

write_config() {
    printf '%s\n' "$@" >"$WORK/config.txt"
}

start_orbisk() {
    (cd "$WORK" && exec "${LAUNCHER[@]}" "$ORBISK") >"$WORK/stdout" 2>"$WORK/stderr" &
    ORBISK_PID=$!
}

# expect_exit STATUS: the program ends within END_SECONDS with that exit status.
expect_exit() {
    wait_exit "$ORBISK_PID" "$END_SECONDS"
    ORBISK_PID=""
    [[ $EXIT_STATUS -eq $1 ]] || die "exit status $EXIT_STATUS, expected $1; standard error: $(cat "$WORK/stderr")"
}

# The id of the program's window, once it is visible.
orbisk_window() {
    find_window "$START_SECONDS" "$ORBISK_PID" || die "no window; standard error: $(cat "$WORK/stderr")"
}

# run_window CONFIG-LINE...: starts the program with that config.txt on a private X server; WID is its window.
run_window() {
    with_display
    write_config "$@"
    start_orbisk
    WID=$(orbisk_window)
}

close_window() {
    "$WM_CLOSE" "$1" || die "wm_close could not send the close request"
}

click() {
    xdotool mousemove --window "$1" 100 100 click 1
}

expect_no_dialog() {
    [[ ! -e "$ZENITY_ARGS_FILE" ]] || die "an error box was shown: $(tr '\0' ' ' <"$ZENITY_ARGS_FILE")"
}

# --- Reading the window's pixels --------------------------------------------------------------------------------

pixel_count() {
    identify -format '%w %h' "$1" | awk '{ print $1 * $2 }'
}

# colour_counts FILE: one line per colour of the picture: its pixel count and its hex code.
colour_counts() {
    convert "$1" -depth 8 -format %c histogram:info:- |
        awk '{ sub(":", "", $1); for (i = 2; i <= NF; i++) if ($i ~ /^#/) { print $1, $i; break } }'
}

# major_colours FILE: the colours other than black covering at least MAJOR_PERCENT of the picture.
major_colours() {
    colour_counts "$1" |
        awk -v min="$(($(pixel_count "$1") * MAJOR_PERCENT / 100))" '$2 != "#000000" && $1 >= min { print $2 }'
}

major_count() {
    major_colours "$1" | wc -l
}

# shot_showing ID FILE MIN: takes a picture of the window; succeeds when it shows at least MIN major colours.
shot_showing() {
    window_shot "$1" "$2" && (($(major_count "$2") >= $3))
}

# shot_drawn ID FILE: a picture of the window once the particles are drawn.
shot_drawn() {
    retry "$START_SECONDS" shot_showing "$1" "$2" 1 || die "the window showed no particles"
}

# expect_colours FILE MAX: black is the most frequent colour and covers at least BLACK_PERCENT of the picture;
# there are 1 to MAX major colours besides.
expect_colours() {
    local total top majors
    total=$(pixel_count "$1")
    top=$(colour_counts "$1" | sort -rn | head -n 1)
    majors=$(major_count "$1")
    [[ ${top#* } == "#000000" ]] || die "the most frequent colour is ${top#* }, not black"
    ((${top% *} * 100 >= total * BLACK_PERCENT)) || die "only ${top% *} of $total pixels are black"
    ((majors >= 1 && majors <= $2)) || die "$majors major colours besides black, expected 1 to $2"
}

# --- The tests --------------------------------------------------------------------------------------------------

# The size line, once the program has ended.
expect_size_line() {
    printf '550,550%s' "$EOL" | cmp -s - "$WORK/stdout" ||
        die "standard output is \"$(od -An -c "$WORK/stdout")\", not 550,550 and a line end"
}

expect_title_and_size() {
    local info title size
    info=$(xwininfo -id "$1")
    title=$(sed -n 's/^xwininfo: Window id: [^ ]* "\(.*\)"$/\1/p' <<<"$info")
    size=$(awk '$1 == "Width:" { w = $2 } $1 == "Height:" { h = $2 } END { print w "x" h }' <<<"$info")
    [[ $title == Orbisk ]] || die "window title \"$title\""
    [[ $size == 550x550 ]] || die "window size $size, expected 550x550"
}

# expect_new_world_on_click ID: the window shows a world of at most three types; after a click it shows the new
# world of ten types.
expect_new_world_on_click() {
    local differing
    shot_drawn "$1" "$WORK/before.png"
    expect_colours "$WORK/before.png" 3

    # The new world has ten types.
    click "$1"
    retry "$START_SECONDS" shot_showing "$1" "$WORK/after.png" 4 ||
        die "after a click the window shows $(major_count "$WORK/after.png") major colours, expected more than 3"
    differing=$(compare -metric AE "$WORK/before.png" "$WORK/after.png" null: 2>&1) || true
    [[ $differing =~ ^[0-9]+$ ]] || die "compare failed: $differing"
    ((differing * 4 > $(pixel_count "$WORK/before.png"))) || die "only $differing pixels changed after a click"
}

test_StdoutLine() {
    run_window "region_size = 55"
    close_window "$WID"
    expect_exit 0
    expect_size_line
}

test_WindowTitleAndSize() {
    run_window "region_size = 55"
    expect_title_and_size "$WID"
}

test_BlackBackgroundAndCircles() {
    run_window "region_size = 55"
    shot_drawn "$WID" "$WORK/shot.png"
    expect_colours "$WORK/shot.png" 5
}

test_ClickMakesNewWorld() {
    run_window "region_size = 55" "type_count = 3"
    expect_new_world_on_click "$WID"
}

# The world steps on its own: a second later the particles stand elsewhere, in the same colours.
test_ParticlesMove() {
    local differing
    run_window "region_size = 55"
    shot_drawn "$WID" "$WORK/first.png"
    sleep 1
    window_shot "$WID" "$WORK/second.png"
    differing=$(compare -metric AE "$WORK/first.png" "$WORK/second.png" null: 2>&1) || true
    [[ $differing =~ ^[0-9]+$ ]] || die "compare failed: $differing"
    ((differing * 100 > $(pixel_count "$WORK/first.png"))) || die "only $differing pixels changed in a second"
    [[ $(major_colours "$WORK/first.png" | sort) == $(major_colours "$WORK/second.png" | sort) ]] ||
        die "the particle colours changed without a click"
}

test_CloseRequestExitsZero() {
    run_window "region_size = 55"
    close_window "$WID"
    expect_exit 0
    expect_no_dialog
}

test_ClickThenClose() {
    run_window "region_size = 55"
    click "$WID"
    close_window "$WID"
    expect_exit 0
}

test_MissingIcon() {
    rm "$WORK/Orbisk.png"
    run_window "region_size = 55"
    close_window "$WID"
    expect_exit 0
    expect_no_dialog
}

test_NoDisplay() {
    local display=987
    while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do
        display=$((display + 1))
    done
    write_config "region_size = 55"
    DISPLAY=":$display" start_orbisk
    expect_exit 1
    grep -qi display "$WORK/stderr" || die "standard error does not mention the display: $(cat "$WORK/stderr")"
    if compgen -G "$WORK/core*" >/dev/null; then
        die "the program left a core dump"
    fi
    expect_no_dialog
}

# Each configuration error: the config.txt to write (NONE: no file at all) and the message the program gives.
declare -A ERROR_CONFIG=(
    [UnknownKey]="colour = 3"
    [BadNumber]="friction = abc"
    [NumberOutOfRange]="friction = 1e99"
    [NoRegions]="regions_x_count = 0"
    [NoConfig]=NONE
)
declare -A ERROR_MESSAGE=(
    [UnknownKey]="invalid configuration: colour"
    [BadNumber]="invalid stof argument"
    [NumberOutOfRange]="stof argument out of range"
    [NoRegions]="invalid configuration: regions_x_count must be at least 1"
    [NoConfig]="invalid maximum effective distance"
)

# error_case NAME: the program shows the message in an error box and on standard error, opens no window and
# exits with status 1.
error_case() {
    [[ -v "ERROR_CONFIG[$1]" ]] || die "no error case named $1"
    local config="${ERROR_CONFIG[$1]}" message="${ERROR_MESSAGE[$1]}"
    with_display
    [[ $config == NONE ]] || write_config "$config"
    start_orbisk
    expect_exit 1
    if xdotool search --name Orbisk >/dev/null; then
        die "a window titled Orbisk appeared"
    fi
    grep -qF "Error: $message" "$WORK/stderr" || die "standard error lacks \"$message\": $(cat "$WORK/stderr")"
    [[ -e "$ZENITY_ARGS_FILE" ]] || die "no error box was shown"
    printf '%s\0' --error --title=Error --no-markup "--text=$message" | cmp -s - "$ZENITY_ARGS_FILE" ||
        die "zenity was called with: $(tr '\0' ' ' <"$ZENITY_ARGS_FILE")"
}

# The Windows build under Wine, where each start takes seconds, in one run: the window titled "Orbisk" at
# 550 x 550 on a black background with coloured circles, a click's new world, the close request, exit status 0 and
# the size line.
test_WindowsVisit() {
    [[ ${#LAUNCHER[@]} -gt 0 ]] || die "WindowsVisit tests the Windows build"
    run_window "region_size = 55" "type_count = 3"
    expect_title_and_size "$WID"
    expect_new_world_on_click "$WID"
    close_window "$WID"
    expect_exit 0
    expect_size_line
}

# The Windows build's error box, under Wine: MessageBoxA's window titled "Error" waits with the message until
# Return dismisses it; only then does the program end, with status 1 and no window of its own.
test_WindowsErrorBox() {
    local box message="invalid configuration: colour"
    [[ ${#LAUNCHER[@]} -gt 0 ]] || die "WindowsErrorBox tests the Windows build"
    with_display
    write_config "colour = 3"
    start_orbisk
    # The message reaches standard error before the box opens.
    retry "$START_SECONDS" grep -qF "Error: $message" "$WORK/stderr" ||
        die "standard error lacks \"Error: $message\": $(cat "$WORK/stderr")"
    retry "$START_SECONDS" error_box >/dev/null ||
        die "no window titled Error appeared; standard error: $(cat "$WORK/stderr")"
    box=$(error_box)
    window_shot "$box" "$WORK/box.png"
    expect_error_icon "$WORK/box.png"
    # The box holds the program: it is still running a second later.
    sleep 1
    kill -0 "$ORBISK_PID" 2>/dev/null || die "the program ended while its error box was open"
    xdotool windowfocus --sync "$box"
    xdotool key Return
    expect_exit 1
    ! error_box >/dev/null || die "the error box is still open"
    # Nothing but the message: a crash or a killed Wine would have had its say.
    printf 'Error: %s%s' "$message" "$EOL" | cmp -s - "$WORK/stderr" ||
        die "standard error is \"$(od -An -c "$WORK/stderr")\", not just the message"
    if xdotool search --name Orbisk >/dev/null; then
        die "a window titled Orbisk appeared"
    fi
}

# The visible window titled exactly "Error".
error_box() {
    xdotool search --onlyvisible --name '^Error$' | head -n 1 | grep .
}

# expect_error_icon FILE: the picture holds the red disc of the error icon: at least 100 strongly red pixels.
expect_error_icon() {
    local red
    red=$(colour_counts "$1" | awk '
        function hex(h, i, v) {
            for (i = 1; i <= length(h); i++) v = v * 16 + index("0123456789abcdef", substr(tolower(h), i, 1)) - 1
            return v
        }
        hex(substr($2, 2, 2)) >= 160 && hex(substr($2, 4, 2)) < 80 && hex(substr($2, 6, 2)) < 80 { n += $1 }
        END { print n + 0 }')
    ((red >= 100)) || die "the error box shows no error icon ($red red pixels)"
}

setup
if [[ $TEST == Error* ]]; then
    error_case "${TEST#Error}"
else
    declare -F "test_$TEST" >/dev/null || die "no test named $TEST"
    "test_$TEST"
fi
echo "PASS: $TEST"
