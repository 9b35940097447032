# shellcheck shell=bash
# The end-to-end tests' harness, sourced by e2e.sh once ORBISK, WM_CLOSE, ASSETS and TEST are set: a fresh
# working directory, a private X server, the program started and ended, and its window's pixels read.
# shellcheck source-path=SCRIPTDIR source=../../scripts/lib/x11.sh
source "$HERE/../../scripts/lib/x11.sh"

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

WORK="" XVFB_PID="" ORBISK_PID="" HOLDER_PID="" WID=""
cleanup() {
    stop "$ORBISK_PID" "$HOLDER_PID"
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

# --- Setting up, starting and ending the program ----------------------------------------------------------------

require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || die "$tool is not installed"
    done
}

# A fresh working directory holding the icon, the stand-in zenity first on PATH, and an empty folder to serve
# as a PATH without any dialog tool.
setup() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/orbisk-e2e.XXXXXX")
    cp "$ASSETS/Orbisk.png" "$WORK/"
    mkdir "$WORK/bin" "$WORK/empty"
    cp "$HERE/zenity" "$WORK/bin/zenity"
    export PATH="$WORK/bin:$PATH" ZENITY_ARGS_FILE="$WORK/zenity-args" ZENITY_PID_FILE="$WORK/zenity-pid"
}

# A private X server; the test is skipped without Xvfb.
with_display() {
    if ! command -v Xvfb >/dev/null; then
        echo "SKIP: Xvfb is not installed (Debian package xvfb)"
        exit 77
    fi
    require xdotool xwininfo xprop import convert compare identify "${LAUNCHER[@]}"
    start_xvfb "$WORK"
}

# write_config LINE...: config.txt of these lines, each ended by a line feed; backslash escapes in a line are
# written as the bytes they stand for (\0 for a NUL byte, \r, \e, \xHH), as printf's %b writes them.
write_config() {
    printf '%b\n' "$@" >"$WORK/config.txt"
}

# launch COMMAND...: starts the program in WORK as the last word of COMMAND, its output in WORK/stdout and
# WORK/stderr; ORBISK_PID is the process.
launch() {
    (cd "$WORK" && exec "$@" "$ORBISK") >"$WORK/stdout" 2>"$WORK/stderr" &
    ORBISK_PID=$!
}

start_orbisk() {
    launch "${LAUNCHER[@]}"
}

# start_with CONFIG-LINE...: starts the program with that config.txt on a private X server.
start_with() {
    with_display
    write_config "$@"
    start_orbisk
}

# expect_exit STATUS: the program ends within END_SECONDS with that exit status.
expect_exit() {
    wait_exit "$ORBISK_PID" "$END_SECONDS"
    ORBISK_PID=""
    [[ $EXIT_STATUS -eq $1 ]] || die "exit status $EXIT_STATUS, expected $1; standard error: $(cat "$WORK/stderr")"
}

# The id of the program's window, once it is visible, within SECONDS (default START_SECONDS).
# shellcheck disable=SC2120 # the cases' files pass SECONDS
orbisk_window() {
    find_window "${1:-$START_SECONDS}" "$ORBISK_PID" || die "no window; standard error: $(cat "$WORK/stderr")"
}

# run_window CONFIG-LINE...: starts the program with that config.txt on a private X server; WID is its window.
run_window() {
    start_with "$@"
    WID=$(orbisk_window)
}

close_window() {
    "$WM_CLOSE" "$1" || die "wm_close could not send the close request"
}

# close_exits_zero: the close request sent to the window WID ends the program with status 0.
close_exits_zero() {
    close_window "$WID"
    expect_exit 0
}

# expect_drawn_and_closed FILE: the program's window shows particles (its picture in FILE) and closes on request.
expect_drawn_and_closed() {
    WID=$(orbisk_window)
    shot_drawn "$WID" "$1"
    close_exits_zero
}

click() {
    xdotool mousemove --window "$1" 100 100 click 1
}

expect_no_dialog() {
    [[ ! -e "$ZENITY_ARGS_FILE" ]] || die "an error box was shown: $(tr '\0' ' ' <"$ZENITY_ARGS_FILE")"
}

# expect_dialog MESSAGE: the dialog tool was asked for an error box showing MESSAGE as a box shows it.
expect_dialog() {
    local args
    [[ -e "$ZENITY_ARGS_FILE" ]] || die "no error box was shown"
    mapfile -d '' args <"$ZENITY_ARGS_FILE"
    if [[ ${#args[@]} -ne 5 || ${args[*]:0:4} != "--error --title=Error --no-markup --no-wrap" ]] ||
        ! box_text_of "${args[4]#--text=}" "$1"; then
        die "zenity was called with: $(tr '\0' ' ' <"$ZENITY_ARGS_FILE" | head -c 2000)"
    fi
}

# box_text_of TEXT MESSAGE: TEXT is MESSAGE as a box shows it: at most 16 lines of at most 36 characters, the
# message's own words but for the blanks where its lines were broken, and where the lines would be more, its first
# lines, a line "..." and its last lines.
box_text_of() {
    local LC_ALL=C.UTF-8 line lines=0 shown message head tail=""
    while IFS= read -r line; do
        ((${#line} <= 36 && ++lines <= 16)) || return 1
    done <<<"$1"
    shown=$(printf '%s' "$1" | tr -d ' \t\n') message=$(printf '%s' "$2" | tr -d ' \t\n')
    [[ $shown != "$message" ]] || return 0
    [[ $1 == *$'\n...' || $1 == *$'\n...\n'* ]] || return 1
    # Compared by length, not by pattern: a pattern's time grows with the square of a long message's length.
    head=$(printf '%s' "${1%%$'\n...'*}" | tr -d ' \t\n')
    [[ $1 != *$'\n...\n'* ]] || tail=$(printf '%s' "${1#*$'\n...\n'}" | tr -d ' \t\n')
    [[ ${message:0:${#head}} == "$head" ]] || return 1
    [[ -z $tail || ${message:$((${#message} - ${#tail}))} == "$tail" ]]
}

expect_no_orbisk_window() {
    ! xdotool search --name Orbisk >/dev/null || die "a window titled Orbisk appeared"
}

# expect_stderr_line TEXT: standard error holds the line TEXT. Compared in the shell, since TEXT may be longer
# than one argument of a program may be.
expect_stderr_line() {
    local line
    while IFS= read -r line; do
        [[ $line != "$1" ]] || return 0
    done <"$WORK/stderr"
    die "standard error lacks the line \"${1:0:200}\": $(head -c 2000 "$WORK/stderr")"
}

expect_no_stderr() {
    [[ ! -s "$WORK/stderr" ]] || die "standard error is not empty: $(head -c 2000 "$WORK/stderr")"
}

# expect_size_line WIDTH HEIGHT: standard output is the size line.
expect_size_line() {
    printf '%s,%s%s' "$1" "$2" "$EOL" | cmp -s - "$WORK/stdout" ||
        die "standard output is \"$(od -An -c "$WORK/stdout")\", not $1,$2 and a line end"
}

# --- Reading the window's pixels --------------------------------------------------------------------------------

pixel_count() {
    identify -format '%w %h' "$1" | awk '{ print $1 * $2 }'
}

# differing_pixels FILE FILE: how many pixels differ, in any channel, between two pictures of one size. (The AE
# metric of compare counts them so only up to ImageMagick 6; ImageMagick 7 weighs each pixel by the share of its
# channels that differ.)
differing_pixels() {
    local count
    count=$(convert "$1" "$2" -compose difference -composite -alpha off -separate -evaluate-sequence max \
        -threshold 0 -format '%[fx:round(mean*w*h)]' info:) || die "cannot compare $1 with $2"
    [[ $count =~ ^[0-9]+$ ]] || die "cannot compare $1 with $2: $count"
    echo "$count"
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

# covered_percent FILE: the share of the picture that is not black.
covered_percent() {
    local black
    black=$(colour_counts "$1" | awk '$2 == "#000000" { print $1 }')
    echo $((100 - ${black:-0} * 100 / $(pixel_count "$1")))
}

# shot_showing ID FILE MIN: takes a picture of the window; succeeds when it shows at least MIN major colours.
shot_showing() {
    window_shot "$1" "$2" && (($(major_count "$2") >= $3))
}

# shot_covered ID FILE PERCENT: takes a picture of the window; succeeds when more than PERCENT of it is not black.
shot_covered() {
    window_shot "$1" "$2" && (($(covered_percent "$2") > $3))
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

# --- What the Linux and the Windows cases both check ------------------------------------------------------------

# expect_title_and_size ID WIDTH HEIGHT: the window is titled Orbisk and has that size.
expect_title_and_size() {
    local info title size
    info=$(xwininfo -id "$1")
    title=$(sed -n 's/^xwininfo: Window id: [^ ]* "\(.*\)"$/\1/p' <<<"$info")
    size=$(awk '$1 == "Width:" { w = $2 } $1 == "Height:" { h = $2 } END { print w "x" h }' <<<"$info")
    [[ $title == Orbisk ]] || die "window title \"$title\""
    [[ $size == "$2x$3" ]] || die "window size $size, expected $2x$3"
}

# expect_new_world_on_click ID: the window shows a world of at most three types; after a click it shows the new
# world of ten types and 1000 particles.
expect_new_world_on_click() {
    local differing
    shot_drawn "$1" "$WORK/before.png"
    expect_colours "$WORK/before.png" 3

    # The new world has ten types and 1000 particles: about a hundred of each type, each covering some 5 % of the
    # window right after the click, so at least eight types show as major colours however the colours fall.
    click "$1"
    retry "$START_SECONDS" shot_showing "$1" "$WORK/after.png" 8 ||
        die "after a click the window shows $(major_count "$WORK/after.png") major colours, expected at least 8"
    (($(covered_percent "$WORK/after.png") > 40)) ||
        die "after a click the particles cover only $(covered_percent "$WORK/after.png") % of the window"
    differing=$(differing_pixels "$WORK/before.png" "$WORK/after.png")
    ((differing * 4 > $(pixel_count "$WORK/before.png"))) || die "only $differing pixels changed after a click"
}
