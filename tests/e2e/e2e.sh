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

# A fresh working directory holding the icon, the stand-in zenity first on PATH, and an empty folder to serve
# as a PATH without any dialog tool.
setup() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/orbisk-e2e.XXXXXX")
    cp "$ASSETS/Orbisk.png" "$WORK/"
    mkdir "$WORK/bin" "$WORK/empty"
    cp "$HERE/zenity" "$WORK/bin/zenity"
    export PATH="$WORK/bin:$PATH" ZENITY_ARGS_FILE="$WORK/zenity-args"
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

# expect_stderr_line TEXT: standard error holds the line TEXT. Compared in the shell, since TEXT may be longer
# than one argument of a program may be.
expect_stderr_line() {
    local line
    while IFS= read -r line; do
        [[ $line != "$1" ]] || return 0
    done <"$WORK/stderr"
    die "standard error lacks the line \"${1:0:200}\": $(head -c 2000 "$WORK/stderr")"
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

# expect_size_line WIDTH HEIGHT: standard output is the size line.
expect_size_line() {
    printf '%s,%s%s' "$1" "$2" "$EOL" | cmp -s - "$WORK/stdout" ||
        die "standard output is \"$(od -An -c "$WORK/stdout")\", not $1,$2 and a line end"
}

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

test_StdoutLine() {
    run_window "region_size = 55"
    close_window "$WID"
    expect_exit 0
    expect_size_line 550 550
}

# expect_default_style ID: the window asks the window manager for SFML's default style, a title bar, a border to
# resize it by and a close button: in _MOTIF_WM_HINTS the functions resize, move, minimise, maximise and close and
# every decoration. Nothing fixes its size.
expect_default_style() {
    local hints
    hints=$(xprop -id "$1" _MOTIF_WM_HINTS)
    [[ $hints == *" = 0x3, 0x3e, 0x7e, 0x0, 0x0" ]] || die "the window's style hints are \"$hints\""
    if xprop -id "$1" WM_NORMAL_HINTS | grep -q "maximum size"; then
        die "the window has a fixed size: $(xprop -id "$1" WM_NORMAL_HINTS)"
    fi
}

# A world wider than tall, so that width and height cannot be swapped unnoticed.
test_WindowTitleAndSize() {
    run_window "region_size = 55" "regions_x_count = 12" "regions_y_count = 8"
    expect_title_and_size "$WID" 660 440
    expect_default_style "$WID"
    expect_size_line 660 440
}

# expect_antialiasing FILE: the window asked for antialiasing level 8. SFML says on standard error when it got a
# context other than the one asked for, and what it got: the graphics system may offer less or none (Xvfb under
# Mesa 25 and later offers none). The picture of five types shows the blends antialiasing makes at the circles'
# edges exactly when the window got some: then far more colours than black and the five types'.
expect_antialiasing() {
    local level colours
    if grep -q "^Created: " "$WORK/stderr"; then
        grep -q "^Requested: .* AA level = 8 ;" "$WORK/stderr" ||
            die "antialiasing level 8 was not asked for: $(cat "$WORK/stderr")"
        level=$(sed -n 's/^Created: .* AA level = \([0-9]*\) ;.*/\1/p' "$WORK/stderr")
    else
        level=8
    fi
    colours=$(colour_counts "$1" | wc -l)
    if ((level > 0)); then
        ((colours > 20)) || die "antialiasing level $level, yet the picture has only $colours colours"
    else
        ((colours <= 6)) || die "no antialiasing, yet the picture has $colours colours"
    fi
    echo "antialiasing level $level: $colours colours"
}

test_BlackBackgroundAndCircles() {
    run_window "region_size = 55"
    shot_drawn "$WID" "$WORK/shot.png"
    expect_colours "$WORK/shot.png" 5
    expect_antialiasing "$WORK/shot.png"
}

# covered_percent FILE: the share of the picture that is not black.
covered_percent() {
    local black
    black=$(colour_counts "$1" | awk '$2 == "#000000" { print $1 }')
    echo $((100 - ${black:-0} * 100 / $(pixel_count "$1")))
}

# shot_covered ID FILE PERCENT: takes a picture of the window; succeeds when more than PERCENT of it is not black.
shot_covered() {
    window_shot "$1" "$2" && (($(covered_percent "$2") > $3))
}

test_ClickMakesNewWorld() {
    # 200 circles of radius 10 cover about 1 - exp(-200 * pi * 10^2 / 550^2) = 19 % of the window; the 1000 of a
    # new world cover about 65 %, less once they gather.
    run_window "region_size = 55" "type_count = 3" "particle_count = 200"
    expect_new_world_on_click "$WID"
    (($(covered_percent "$WORK/before.png") < 30)) || die "200 particles cover $(covered_percent "$WORK/before.png") %"
}

# The world steps on its own: a second later the particles stand elsewhere, in the same colours.
test_ParticlesMove() {
    local differing
    run_window "region_size = 55"
    shot_drawn "$WID" "$WORK/first.png"
    sleep 1
    window_shot "$WID" "$WORK/second.png"
    differing=$(differing_pixels "$WORK/first.png" "$WORK/second.png")
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

# An Orbisk.png that is no file to read, reached directly or through a link: the window opens without the icon
# and serves the close request.
test_IconNotARegularFile() {
    local kind
    with_display
    write_config "region_size = 55"
    for kind in pipe link-to-pipe; do
        rm -f "$WORK/Orbisk.png" "$WORK/pipe"
        case $kind in
        pipe) mkfifo "$WORK/Orbisk.png" ;;
        link-to-pipe) mkfifo "$WORK/pipe" && ln -s pipe "$WORK/Orbisk.png" ;;
        esac
        start_orbisk
        WID=$(orbisk_window)
        shot_drawn "$WID" "$WORK/$kind.png"
        close_window "$WID"
        expect_exit 0
    done
}

# A close request that is waiting before the first frame (the icon takes seconds to decode) ends the program
# quietly: the frame in which the window closes has nothing to draw into, which says nothing about the driver.
test_CloseBeforeFirstFrame() {
    setup_huge_icon "$WORK/Orbisk.png"
    run_window "region_size = 55"
    close_window "$WID"
    END_SECONDS=120 expect_exit 0
    ! grep -q "Drawing without" "$WORK/stderr" || die "standard error: $(cat "$WORK/stderr")"
}

# start_orbisk_closing FD...: starts the program with those standard descriptors closed.
start_orbisk_closing() {
    (
        cd "$WORK"
        for fd in "$@"; do
            eval "exec $fd>&-"
        done
        exec "$ORBISK"
    ) >"$WORK/stdout" 2>"$WORK/stderr" &
    ORBISK_PID=$!
}

# Started with standard input, output or error closed, the program opens its window, draws and ends with status
# 0 on the close request, whichever is closed.
test_ClosedStandardStreams() {
    local fds
    with_display
    write_config "region_size = 55"
    for fds in 0 1 2 "0 1 2"; do
        # shellcheck disable=SC2086 # one descriptor a word
        start_orbisk_closing $fds
        WID=$(orbisk_window)
        shot_drawn "$WID" "$WORK/shot.png"
        close_window "$WID"
        expect_exit 0
    done
}

# start_orbisk_on_closed_pipe FD...: starts the program with those descriptors writing into a pipe that nobody
# reads, and SIGPIPE at its default, as a shell pipeline such as `orbisk | true` leaves them.
start_orbisk_on_closed_pipe() {
    (cd "$WORK" && exec python3 -c '
import os, signal, sys
reader, writer = os.pipe()
os.close(reader)
for fd in sys.argv[2:]:
    os.dup2(writer, int(fd))
signal.signal(signal.SIGPIPE, signal.SIG_DFL)
os.execv(sys.argv[1], sys.argv[1:2])' "$ORBISK" "$@") >"$WORK/stdout" 2>"$WORK/stderr" &
    ORBISK_PID=$!
}

# Nobody reading the size line costs the line, not the program: the window opens; and a settings error still
# reaches its box when standard error goes nowhere either.
test_ClosedPipeOnStdout() {
    with_display
    write_config "region_size = 55"
    start_orbisk_on_closed_pipe 1
    WID=$(orbisk_window)
    shot_drawn "$WID" "$WORK/shot.png"
    close_window "$WID"
    expect_exit 0

    write_config "colour = 3"
    start_orbisk_on_closed_pipe 1 2
    expect_exit 1
    printf '%s\0' --error --title=Error --no-markup \
        "--text=invalid configuration: colour"$'\n'"in the settings file $(cd "$WORK" && pwd -P)/config.txt" |
        cmp -s - "$ZENITY_ARGS_FILE" || die "no error box was shown"
}

# The largest window the settings accept, beyond what Mesa's software renderer can draw antialiased (2^27
# pixels): particles are drawn, or the box says the window is too large and the program exits with status 1;
# never a window that stays black.
test_LargeWindow() {
    local i
    with_display
    write_config "region_size = 128" "regions_x_count = 128" "regions_y_count = 128" "particle_count = 100000"
    start_orbisk
    for ((i = 0; i < START_SECONDS * 10; i++)); do
        xdotool search --onlyvisible --name '^Orbisk$' >/dev/null && break
        kill -0 "$ORBISK_PID" 2>/dev/null || break
        sleep 0.1
    done
    # The window may open before the program finds that it cannot draw into it.
    sleep 1
    if ! kill -0 "$ORBISK_PID" 2>/dev/null; then
        expect_exit 1
        grep -q -- "--text=invalid configuration: the world is 16384 x 16384 units, larger than the largest window" \
            "$ZENITY_ARGS_FILE" || die "no box about the window's size: $(tr '\0' ' ' <"$ZENITY_ARGS_FILE")"
        echo "16384 x 16384: refused with the box"
        return 0
    fi
    # The screen shows part of the window, about a fifth of it covered by particles. A software renderer takes
    # seconds a frame at this size.
    WID=$(orbisk_window)
    retry 120 shot_covered root "$WORK/shot.png" 5 || die "the large window showed no particles"
    close_window "$WID"
    END_SECONDS=60 expect_exit 0
    echo "16384 x 16384: drawn"
}

# A valid icon far larger than any desktop shows is scaled down to one. Task bars find it in _NET_WM_ICON even
# without a window manager that lists the property as supported, as here.
test_HugeIcon() {
    local icon
    setup_huge_icon "$WORK/Orbisk.png"
    run_window "region_size = 55"
    # Decoding 400 MB of pixels takes seconds before the first frame.
    retry 120 shot_showing "$WID" "$WORK/shot.png" 1 || die "the window showed no particles"
    # The width, the height, then the first pixel as 0xAARRGGBB: opaque red 48, green 128, blue 255.
    icon=$(xprop -id "$WID" -notype 32c _NET_WM_ICON | cut -c 1-40)
    [[ $icon == "_NET_WM_ICON = 256, 256, $((0xFF3080FF)),"* ]] ||
        die "the window icon is not 256 x 256 pixels of the picture's colour: $icon"
    close_window "$WID"
    expect_exit 0
}

# setup_huge_icon FILE: a 10000 x 10000 PNG of one colour (ImageMagick's default limits refuse that size).
setup_huge_icon() {
    python3 - "$1" <<'PY'
import struct, sys, zlib
side = 10000
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
row = b"\0" + bytes([48, 128, 255, 255]) * side
packer = zlib.compressobj(9)
pixels = b"".join(packer.compress(row) for _ in range(side)) + packer.flush()
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", side, side, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", pixels) + chunk(b"IEND", b""))
PY
}

# resident_memory PID: the most memory the process has held, for the test's output.
resident_memory() {
    awk '$1 == "VmHWM:" { printf "%d MB\n", $2 / 1024 }' "/proc/$1/status"
}

# Far more particles than any batch of triangles holds, in regions small enough to step: the first frame is
# slow, but it comes, and the program keeps running until it is closed.
test_MillionsOfParticles() {
    with_display
    write_config "region_size = 5" "effective_radius = 0.5" "stablized_zone = 0.5" \
        "maximum_interaction_distance = 4" "regions_x_count = 240" "regions_y_count = 200" "particle_count = 1500000"
    start_orbisk
    WID=$(find_window 120 "$ORBISK_PID") || die "no window; standard error: $(cat "$WORK/stderr")"
    retry 300 shot_covered "$WID" "$WORK/shot.png" 30 || die "the window showed no particles"
    echo "1.5 million particles: first frame after $SECONDS s; the process holds at most" \
        "$(resident_memory "$ORBISK_PID") resident"
    close_window "$WID"
    END_SECONDS=300 expect_exit 0
    echo "closed after $SECONDS s"
}

# The most particles the settings accept either run or end with the out-of-memory box, never with an abort.
test_LargestPopulation() {
    local i
    with_display
    write_config "region_size = 5" "effective_radius = 0.5" "stablized_zone = 0.5" \
        "maximum_interaction_distance = 4" "regions_x_count = 240" "regions_y_count = 200" "particle_count = 16777216"
    start_orbisk
    for ((i = 0; i < 1200; i++)); do
        xdotool search --onlyvisible --name '^Orbisk$' >/dev/null && break
        kill -0 "$ORBISK_PID" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$ORBISK_PID" 2>/dev/null; then
        xdotool search --onlyvisible --name '^Orbisk$' >/dev/null || die "no window after two minutes"
        sleep 10
        kill -0 "$ORBISK_PID" 2>/dev/null || die "the program ended after its window opened"
        echo "16,777,216 particles run: the process holds at most $(resident_memory "$ORBISK_PID") resident"
        return 0
    fi
    expect_exit 1
    grep -q -- '--text=not enough memory' "$ZENITY_ARGS_FILE" || die "no out-of-memory box"
    echo "16,777,216 particles: not enough memory, reported in a box"
}

# Memory that runs out while the world runs ends the program with a box, not an abort. Here the allocations that
# fail are those of more than 4 MB up to 6 MB: the 400,000 particles' records for drawing the first frame take
# 4.8 MB, while generating the world takes 8 MB at once and each of its arrays 1.6 MB.
test_OutOfMemoryWhileRunning() {
    with_display
    write_config "region_size = 5" "effective_radius = 0.5" "stablized_zone = 0.5" \
        "maximum_interaction_distance = 4" "regions_x_count = 240" "regions_y_count = 200" "particle_count = 400000"
    (cd "$WORK" && LD_PRELOAD="$FAIL_ALLOC_LIBRARY" FAIL_ALLOCATIONS_ABOVE=4000000 FAIL_ALLOCATIONS_UP_TO=6000000 \
        exec "$ORBISK") >"$WORK/stdout" 2>"$WORK/stderr" &
    ORBISK_PID=$!
    expect_exit 1
    printf '%s\0' --error --title=Error --no-markup "--text=not enough memory to draw the world" |
        cmp -s - "$ZENITY_ARGS_FILE" || die "zenity was called with: $(tr '\0' ' ' <"$ZENITY_ARGS_FILE")"
}

# Without a display standard error is the only channel, for a good settings file and for a bad one alike: no
# dialog tool is started.
test_NoDisplay() {
    local display=987 config
    while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do
        display=$((display + 1))
    done
    for config in "region_size = 55" "colour = 3"; do
        write_config "$config"
        DISPLAY=":$display" start_orbisk
        expect_exit 1
        grep -q "no display available: cannot open the display \":$display\"" "$WORK/stderr" ||
            die "standard error does not mention the display: $(cat "$WORK/stderr")"
        if compgen -G "$WORK/core*" >/dev/null; then
            die "the program left a core dump"
        fi
        expect_no_dialog
    done
    expect_stderr_line "Error: invalid configuration: colour"
}

# A key of 200,000 characters, longer than the kernel allows for one argument of a program (128 KiB); it starts
# with three-byte characters, so that the 4096 bytes a dialog tool gets would end inside one.
LONG_KEY="$(printf '%70000s' '' | sed 's/ /\xE2\x82\xAC/g')$(head -c 130000 /dev/zero | tr '\0' k)"

# Keys of characters that take no room on a line: 150,000 zero-width spaces, and "a" under 500,000 combining
# acute accents.
ZERO_WIDTH_KEY="$(printf '%150000s' '' | sed 's/ /\xE2\x80\x8B/g')"
COMBINING_KEY="a$(printf '%500000s' '' | sed 's/ /\xCC\x81/g')"

# Each configuration error: the config.txt to write (NONE: no file at all; lines apart by "|", escapes as
# write_config takes them) and the message the program gives.
declare -A ERROR_CONFIG=(
    [UnknownKey]="colour = 3"
    [LongKey]="$LONG_KEY = 1"
    [BadNumber]="friction = abc"
    [NumberOutOfRange]="friction = 1e99"
    [NoRegions]="regions_x_count = 0"
    [NoConfig]=NONE
    [WindowTooLarge]="region_size = 55|regions_x_count = 400"
    [ZeroWidthKey]="$ZERO_WIDTH_KEY = 1"
    [CombiningKey]="$COMBINING_KEY = 1"
    [ControlCharacters]='col\e]0;title\aour\e[2J\b = 3'
    [NulByte]='col\0our = 3'
    [BrokenUtf8]='k\xc2\x9b\xff\xc3\xa9\x7f = 1'
    [LoneCarriageReturn]='region_size = 55\rcolour = 3\rtype_count = 3'
)
declare -A ERROR_MESSAGE=(
    [UnknownKey]="invalid configuration: colour"
    [LongKey]="invalid configuration: $LONG_KEY"
    [BadNumber]="invalid stof argument"
    [NumberOutOfRange]="stof argument out of range"
    [NoRegions]="invalid configuration: regions_x_count must be at least 1"
    [NoConfig]="invalid maximum effective distance"
    [WindowTooLarge]="invalid configuration: the world is 22000 x 550 units, larger than the largest window the graphics system can show, * x * pixels"
    [ZeroWidthKey]="invalid configuration: $ZERO_WIDTH_KEY"
    [CombiningKey]="invalid configuration: $COMBINING_KEY"
    [ControlCharacters]='invalid configuration: col\x1b]0;title\x07our\x1b[2J\x08'
    [NulByte]='invalid configuration: col\x00our'
    [BrokenUtf8]='invalid configuration: k\xc2\x9b\xffé\x7f'
    [LoneCarriageReturn]="invalid configuration: colour"
)

# error_case NAME: the program shows the message in an error box and on standard error, opens no window and
# exits with status 1.
error_case() {
    [[ -v "ERROR_CONFIG[$1]" ]] || die "no error case named $1"
    local config="${ERROR_CONFIG[$1]}" message="${ERROR_MESSAGE[$1]}" lines actual
    with_display
    IFS='|' read -ra lines <<<"$config"
    [[ $config == NONE ]] || write_config "${lines[@]}"
    start_orbisk
    expect_exit 1
    if xdotool search --name Orbisk >/dev/null; then
        die "a window titled Orbisk appeared"
    fi
    # A * in the message stands for what depends on the machine.
    if [[ $message == *"*"* ]]; then
        actual=$(sed -n 's/^Error: //p' "$WORK/stderr" | head -n 1)
        # shellcheck disable=SC2053
        [[ $actual == $message ]] || die "standard error lacks \"$message\": $(cat "$WORK/stderr")"
        message=$actual
    fi
    expect_stderr_line "Error: $message"
    # No byte of standard error drives a terminal: no control character but the line feed.
    if LC_ALL=C grep -qaP '[\x00-\x09\x0b-\x1f\x7f]' "$WORK/stderr"; then
        die "standard error holds a control character: $(od -An -c "$WORK/stderr" | head -n 20)"
    fi
    # A mistake in the file is followed by the file's full path; without a file the defaults were at fault.
    if [[ $config == NONE ]]; then
        expect_stderr_line "config.txt could not be read; the built-in defaults were used"
    else
        message+=$'\n'"in the settings file $(cd "$WORK" && pwd -P)/config.txt"
        expect_stderr_line "${message#*$'\n'}"
    fi
    [[ -e "$ZENITY_ARGS_FILE" ]] || die "no error box was shown"
    printf '%s\0' --error --title=Error --no-markup "--text=$(tool_text "$message")" | cmp -s - "$ZENITY_ARGS_FILE" ||
        die "zenity was called with: $(tr '\0' ' ' <"$ZENITY_ARGS_FILE" | head -c 2000)"
}

# tool_text MESSAGE: the text a dialog tool is given: a message longer than 4096 bytes is cut to at most 4093,
# before a character rather than inside it, and ends in an ellipsis of three bytes.
tool_text() {
    local LC_ALL=C cut=4093 byte
    if ((${#1} <= 4096)); then
        printf '%s' "$1"
        return
    fi
    # UTF-8 continuation bytes are 0x80 to 0xBF.
    while printf -v byte '%d' "'${1:cut:1}" && ((byte >= 0x80 && byte < 0xC0)); do
        cut=$((cut - 1))
    done
    printf '%s\xE2\x80\xA6' "${1:0:cut}"
}

# The box of our own, shown when no dialog tool shows one: the error case whose settings file is used, the
# dialog tool (none: nothing on PATH; failing: the stand-in zenity fails at once), how the user dismisses it and
# the font (outline: the desktop's, through Xft; fixed: fontconfig finds no font, as on a bare system, and the
# box falls back to the X server's own "fixed").
declare -A BOX_CASE=(
    [UnknownKey]="UnknownKey none Return fixed"
    [LongKey]="LongKey none Escape outline"
    [ToolFails]="BadNumber failing click outline"
    [CloseButton]="NumberOutOfRange none close fixed"
    [ZeroWidthKey]="ZeroWidthKey none Return outline"
    [CombiningKey]="CombiningKey none Escape outline"
)
# The box's colours: the red of the error mark, the black of the text and the grey of the button's frame.
BOX_MARK="#CC1F1F" BOX_TEXT="#000000" BOX_FRAME="#555555"

# box_shown FILE FONT: the picture shows a red disc of 32 pixels across, the frame of a button and black text:
# anti-aliased, in many shades, in the outline font; in the six colours of the box alone in "fixed".
box_shown() {
    colour_counts "$1" | awk -v mark="$BOX_MARK" -v text="$BOX_TEXT" -v frame="$BOX_FRAME" -v font="$2" '
        $2 == mark { m = $1 } $2 == text { t = $1 } $2 == frame { f = $1 } { n++ }
        END {
            shaded = font == "outline" ? n > 20 && t >= 30 : n <= 6 && t >= 100
            exit !(m >= 500 && m <= 804 && f >= 300 && shaded)
        }'
}

shot_box() {
    window_shot "$1" "$2" && box_shown "$2" "$3"
}

# box_case NAME: the box titled "Error" appears and waits; once dismissed the program exits with status 1, and
# standard error has the whole message.
box_case() {
    [[ -v "BOX_CASE[$1]" ]] || die "no box case named $1"
    local error tool dismiss font id width height
    read -r error tool dismiss font <<<"${BOX_CASE[$1]}"
    with_display
    write_config "${ERROR_CONFIG[$error]}"
    if [[ $font == fixed ]]; then
        printf '<?xml version="1.0"?>\n<fontconfig></fontconfig>\n' >"$WORK/no-fonts.conf"
        export FONTCONFIG_FILE="$WORK/no-fonts.conf"
    fi
    if [[ $tool == none ]]; then
        PATH="$WORK/empty" start_orbisk
    else
        ZENITY_EXIT=1 start_orbisk
    fi
    id=$(find_window "$START_SECONDS" "$ORBISK_PID" Error) || die "no error box; $(head -c 2000 "$WORK/stderr")"
    retry "$START_SECONDS" shot_box "$id" "$WORK/box.png" "$font" ||
        die "the box lacks its mark, text or button: $(colour_counts "$WORK/box.png" | sort -rn | head -n 8)"
    sleep 0.5
    kill -0 "$ORBISK_PID" 2>/dev/null || die "the program did not wait for the box to be dismissed"

    case $dismiss in
    Return | Escape) xdotool key "$dismiss" ;;
    click)
        # The OK button, 80 x 26 pixels, sits 16 pixels from the bottom right corner.
        read -r width height <<<"$(identify -format "%w %h" "$WORK/box.png")"
        xdotool mousemove --window "$id" $((width - 56)) $((height - 29)) click 1
        ;;
    close) close_window "$id" ;;
    esac
    expect_exit 1
    expect_stderr_line "Error: ${ERROR_MESSAGE[$error]}"
    [[ $tool == none || -e "$ZENITY_ARGS_FILE" ]] || die "the dialog tool was not tried first"
}

# A dialog tool that fails only after two seconds had its box seen and dismissed (zenity ends with status 1 on
# Escape too): the program ends with status 1 and draws no box of its own.
test_LateToolFailureIsNoFailure() {
    with_display
    write_config "${ERROR_CONFIG[BadNumber]}"
    ZENITY_EXIT=1 ZENITY_SECONDS=2.5 start_orbisk
    expect_exit 1
    [[ -e "$ZENITY_ARGS_FILE" ]] || die "the dialog tool was not tried"
    ! xdotool search --name '^Error$' >/dev/null 2>&1 || die "a box of the program's own was left open"
}

# The Windows build under Wine, where each start takes seconds, in one run: the window titled "Orbisk" at
# 550 x 550 on a black background with coloured circles, a click's new world, the close request, exit status 0 and
# the size line.
test_WindowsVisit() {
    [[ ${#LAUNCHER[@]} -gt 0 ]] || die "WindowsVisit tests the Windows build"
    run_window "region_size = 55" "type_count = 3"
    expect_title_and_size "$WID" 550 550
    expect_new_world_on_click "$WID"
    close_window "$WID"
    expect_exit 0
    expect_size_line 550 550
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
    # Nothing but the message and the settings file's path: a crash or a killed Wine would have had its say.
    [[ $(wc -l <"$WORK/stderr") -eq 2 && $(head -n 1 "$WORK/stderr") == "Error: $message${EOL%$'\n'}" &&
        $(sed -n 2p "$WORK/stderr") == "in the settings file "?:\\*\\config.txt"${EOL%$'\n'}" ]] ||
        die "standard error is \"$(od -An -c "$WORK/stderr")\", not just the message and the file"
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
case $TEST in
Error*) error_case "${TEST#Error}" ;;
Box*) box_case "${TEST#Box}" ;;
*)
    declare -F "test_$TEST" >/dev/null || die "no test named $TEST"
    "test_$TEST"
    ;;
esac
echo "PASS: $TEST"
