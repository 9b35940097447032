# shellcheck shell=bash
# The window as a user meets it: its size line, title, style and picture, the particles moving, a click's new
# world and the close request.

# An ordinary run writes the size line and nothing else: neither the graphics library's notes on the window it
# made nor anything on standard error.
test_StdoutLine() {
    run_window "region_size = 55"
    close_exits_zero
    expect_size_line 550 550
    expect_no_stderr
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

# expect_antialiasing FILE: the window asked for antialiasing level 8. It gets the most samples the display
# offers, up to 8 (glx_samples tells how many): the graphics system may offer fewer or none (Xvfb under Mesa 25
# and later offers none). The picture of five types shows the blends antialiasing makes at the circles' edges
# exactly when the window got some: then far more colours than black and the five types'.
expect_antialiasing() {
    local level colours
    level=$("$GLX_SAMPLES") || die "glx_samples failed"
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
    close_exits_zero
    expect_no_dialog
}

test_ClickThenClose() {
    run_window "region_size = 55"
    click "$WID"
    close_exits_zero
}

# The displays a user may start the program on. Each row is a case of its own, named Display and the row's name:
# the X server's screen (width x height x depth), its further options (- for none, a comma between words) and what
# the user meets: the window, drawn and centred on the screen (no window manager places it here), or the message
# that the display offers no OpenGL, from the dialog tool or, where none is installed, in the box of the program's
# own. A screen of 16 bits is common on VNC servers and small boards; one of 8 bits, or an X server without GLX,
# offers no OpenGL at all; one of 15 bits offers it in visuals of 32 bits only, or with some drivers in its own
# depth too (depth). On the second screen of a display (second) SFML 2.5 takes the first screen's visual and is
# refused; later versions open the window there.
# A display that takes one more client only (one-left, its other places held by idle clients) has room for the
# program's connection but not for the graphics library's: the program says so in its own box.
DISPLAY_CASES=(
    "Depth8            1280x1024x8  -                       box"
    "Depth15           1280x1024x15 -                       depth"
    "Depth16           1280x1024x16 -                       window"
    "Depth24           1920x1080x24 -                       window"
    "Depth30           1280x1024x30 -                       window"
    "NoGlx             1280x1024x24 -extension,GLX          dialog"
    "SecondScreen      1280x1024x24 -screen,1,1280x1024x24  second"
    "OneConnectionLeft 1280x1024x24 -maxclients,64          one-left"
)

# expect_centred ID: the window's top left corner is where centring it on the screen puts it.
expect_centred() {
    local screen position width height x y w h
    screen=$(xwininfo -root | awk '$1 == "Width:" { w = $2 } $1 == "Height:" { h = $2 } END { print w, h }')
    position=$(xwininfo -id "$1" |
        awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
             $1 == "Width:" { w = $2 } $1 == "Height:" { h = $2 } END { print x, y, w, h }')
    read -r width height <<<"$screen"
    read -r x y w h <<<"$position"
    ((x == (width - w) / 2 && y == (height - h) / 2))
}

# hold_connections COUNT: idle clients hold that many connections to the display, until HOLDER_PID ends. Each is
# a bare connection: the setup request and its accepting reply.
hold_connections() {
    local ready="$WORK/held"
    python3 - "${DISPLAY#:}" "$1" "$ready" <<'PY' &
import socket, struct, sys, time
number, count, ready = sys.argv[1].split(".")[0], int(sys.argv[2]), sys.argv[3]
held = []
for _ in range(count):
    client = socket.socket(socket.AF_UNIX)
    client.connect("/tmp/.X11-unix/X" + number)
    client.sendall(struct.pack("<cxHHHHxx", b"l", 11, 0, 0, 0))
    if client.recv(8)[:1] != b"\1":
        sys.exit("the display refused connection %d" % (len(held) + 1))
    held.append(client)
open(ready, "w").close()
time.sleep(3600)
PY
    HOLDER_PID=$!
    retry "$START_SECONDS" test -e "$ready" || die "the idle clients did not connect"
}

# expect_window: the program's window opens, centred and drawn, and closes on request without a box.
expect_window() {
    start_orbisk
    WID=$(orbisk_window)
    retry "$START_SECONDS" expect_centred "$WID" ||
        die "the window is not centred on the screen: $(xwininfo -id "$WID" | grep -E 'Absolute|Width|Height')"
    shot_drawn "$WID" "$WORK/shot.png"
    expect_colours "$WORK/shot.png" 5
    close_exits_zero
    expect_no_dialog
}

# expect_refusal MESSAGE: the program shows MESSAGE through the dialog tool and ends with status 1, windowless.
expect_refusal() {
    start_orbisk
    expect_exit 1
    expect_no_orbisk_window
    expect_dialog "$1"
}

# display_case NAME: the program started on that row's display.
display_case() {
    local row name screen options outcome message id
    for row in "${DISPLAY_CASES[@]}"; do
        read -r name screen options outcome <<<"$row"
        [[ $name != "$1" ]] || break
    done
    [[ $name == "$1" ]] || die "no display case named $1"
    [[ $options != - ]] || options=""
    XVFB_SCREEN=$screen XVFB_OPTIONS=${options//,/ } with_display
    write_config "region_size = 55"
    message="no OpenGL available: the display \"$DISPLAY\" offers no true-colour OpenGL (GLX) visual, which the"
    message+=" window is drawn with"
    case $outcome in
    window) expect_window ;;
    dialog) expect_refusal "$message" ;;
    depth)
        # Where the graphics library finds OpenGL only in visuals of 32 bits, the program refuses in its own words;
        # where the driver offers one of the screen's own depth, the window opens and is drawn. Never a raw X error,
        # and never a program left hanging without either.
        start_orbisk
        if WID=$(find_window "$START_SECONDS" "$ORBISK_PID" 2>/dev/null); then
            shot_drawn "$WID" "$WORK/shot.png"
            expect_colours "$WORK/shot.png" 5
            close_exits_zero
            expect_no_dialog
        else
            message="no OpenGL available: on the display \"$DISPLAY\" the graphics library picks an OpenGL (GLX)"
            expect_exit 1
            expect_no_orbisk_window
            expect_dialog "$message visual of 32 bits, and a window must have the screen's depth of 15 bits"
        fi
        ;;
    second)
        DISPLAY+=.1
        # Read whole: the loader writes a line at a time, and one written after an early "grep -q" has ended fails
        # the pipeline.
        if [[ $(ldd "$ORBISK") == *libsfml-window.so.2.5* ]]; then
            message="no OpenGL available on screen 1 of the display \"$DISPLAY\": the graphics library takes its"
            message+=" OpenGL (GLX) visual from screen 0, and X refuses a window of one screen's visual on another"
            expect_refusal "$message"
        else
            expect_window
        fi
        ;;
    one-left)
        # The server's own client takes one of the 64 places, the idle clients 62, the program the last.
        hold_connections 62
        PATH="$WORK/empty" start_orbisk
        retry "$START_SECONDS" grep -q "^Error: " "$WORK/stderr" || die "no message: $(cat "$WORK/stderr")"
        message="no display available: the display \"$DISPLAY\" refuses a second connection, which the window needs"
        expect_stderr_line "Error: $message beside the program's own (it may be serving as many programs as it can)"
        # The box the program draws over its own connection; the test's tools need places of their own.
        kill -0 "$ORBISK_PID" 2>/dev/null || die "the program ended without its box"
        stop "$HOLDER_PID"
        find_window "$START_SECONDS" "$ORBISK_PID" Error >/dev/null ||
            die "no error box; $(head -c 2000 "$WORK/stderr")"
        xdotool key Return
        expect_exit 1
        expect_no_orbisk_window
        ;;
    box)
        # Xft draws no text on a screen with a palette: the box writes in the server's own font.
        PATH="$WORK/empty" start_orbisk
        id=$(find_window "$START_SECONDS" "$ORBISK_PID" Error) || die "no error box; $(head -c 2000 "$WORK/stderr")"
        retry "$START_SECONDS" shot_box "$id" "$WORK/box.png" fixed ||
            die "the box lacks its mark, text or button: $(colour_counts "$WORK/box.png" | sort -rn | head -n 8)"
        xdotool key Return
        expect_exit 1
        expect_no_orbisk_window
        expect_error_line "$message" >/dev/null
        ;;
    esac
}

# Resized windows and where the world of 550 x 550 units lies in each: the window's size, then the world's
# rectangle in it (width x height + left + top). The world is scaled to fit, centred, and keeps its proportions;
# the bars beside it are black.
RESIZES=(
    "1100x550 550x550+275+0"
    "550x1100 550x550+0+275"
    "1100x1100 1100x1100+0+0"
)

# world_box FILE: the rectangle, as ImageMagick writes geometry, that holds every pixel of the picture that is not
# black.
world_box() {
    convert "$1" -bordercolor black -border 1 -trim -format '%wx%h%X%Y' info: |
        awk -F '[x+]' '{ printf "%dx%d+%d+%d\n", $1, $2, $3 - 1, $4 - 1 }'
}

# shot_within FILE SIZE RECTANGLE: takes a picture of the window WID; succeeds when it is of that size (WxH) and
# every pixel that is not black lies in the rectangle (WxH+X+Y), while the particles reach over most of its width and
# height (1000 of them scattered over the world come within a few diameters of each edge).
shot_within() {
    local w h x y width height left top
    window_shot "$WID" "$1" || return 1
    [[ $(identify -format '%wx%h' "$1") == "$2" ]] || return 1
    IFS='x+' read -r w h x y <<<"$(world_box "$1")"
    IFS='x+' read -r width height left top <<<"$3"
    ((x >= left && y >= top && x + w <= left + width && y + h <= top + height &&
        w * 10 >= width * 9 && h * 10 >= height * 9))
}

# A window resized by the user shows the whole world in the largest rectangle of its proportions that fits; a
# click on a bar starts a new world as a click on the world does.
test_ResizedWindowKeepsTheWorldsShape() {
    local row window world
    run_window "region_size = 55" "type_count = 3"
    # At the screen's corner, so that every size lies wholly on the screen and a picture of it is whole; once the
    # program has drawn, and so has placed its window itself.
    shot_drawn "$WID" "$WORK/first.png"
    xdotool windowmove "$WID" 0 0
    for row in "${RESIZES[@]}" "${RESIZES[0]}"; do
        read -r window world <<<"$row"
        xdotool windowsize "$WID" "${window%x*}" "${window#*x}"
        retry "$START_SECONDS" shot_within "$WORK/$window.png" "$window" "$world" ||
            die "in a window of $window the picture covers $(world_box "$WORK/$window.png"), not the world at $world"
    done
    (($(major_count "$WORK/1100x550.png") <= 3)) || die "more than three types before the click"
    xdotool mousemove --window "$WID" 100 300 click 1
    retry "$START_SECONDS" shot_showing "$WID" "$WORK/clicked.png" 8 ||
        die "a click on a bar did not start a new world of ten types"
    close_exits_zero
}
