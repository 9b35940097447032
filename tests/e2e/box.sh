# shellcheck shell=bash
# The box of the program's own, shown when no dialog tool shows one. Each row of BOX_CASES is a case of its own,
# named Box and the row's name.

# Long keys of characters that show nothing: 150,000 zero-width spaces, which the message shows as the escapes of
# their bytes, and "a" under 500,000 combining acute accents, which take no room on a line and which the box must
# still wrap.
ZERO_WIDTH_KEY="$(printf '%150000s' '' | sed 's/ /\xE2\x80\x8B/g')"
COMBINING_KEY="a$(printf '%500000s' '' | sed 's/ /\xCC\x81/g')"
settings_error ZeroWidthKey "$ZERO_WIDTH_KEY = 1" \
    "invalid configuration: $(printf '%150000s' '' | sed 's/ /\\xe2\\x80\\x8b/g')$(at_line 1)"
settings_error CombiningKey "$COMBINING_KEY = 1" "invalid configuration: $COMBINING_KEY$(at_line 1)"
# A key runs across line ends up to its "=": sixty lines of comments make a key, and a message, of sixty lines. A
# key of 10,000 W, the widest letter, is one word longer than any screen is wide.
MANY_LINES=() MANY_LINES_KEY=""
for line in {1..60}; do
    MANY_LINES+=("# a comment, line $line")
    MANY_LINES_KEY+="# a comment, line $line"$'\n'
done
settings_error ManyLines "$(IFS='|' && echo "${MANY_LINES[*]}")|colour = 3" \
    "invalid configuration: ${MANY_LINES_KEY}colour$JOINS$(at_line 1 61)"
WIDE_KEY="$(head -c 10000 /dev/zero | tr '\0' W)"
settings_error WideKey "$WIDE_KEY = 1" "invalid configuration: $WIDE_KEY$(at_line 1)"

# Each row: its name, the settings error whose config.txt is used (WindowTooLarge: a mistake found only after
# the program asked the display how large a window can be), the dialog tool (none: nothing on PATH;
# failing: the stand-in zenity fails at once; zenity: the desktop's own, whose box is then the one shown), how the
# box goes (Return, Escape, a click on OK, the close button, or destroyed by another client) and the font (outline:
# the desktop's, through Xft; fixed: fontconfig finds no font, as on a bare system, and the box falls back to the X
# server's own "fixed"). Every box lies wholly on a screen of 640 x 480 pixels.
BOX_CASES=(
    "UnknownKey   UnknownKey       none    Return fixed"
    "LongKey      LongKey          none    Escape outline"
    "ToolFails    BadNumber        failing click  outline"
    "CloseButton  NumberOutOfRange none    close  fixed"
    "ZeroWidthKey ZeroWidthKey     none    Return outline"
    "CombiningKey CombiningKey     none    Escape outline"
    "WindowTooLarge WindowTooLarge none    Return outline"
    "ManyLines    ManyLines        none    Return outline"
    "WideKey      WideKey          none    click  outline"
    "ToolManyLines ManyLines       zenity  Return outline"
    "ToolWideKey  WideKey          zenity  Return outline"
    "Destroyed    UnknownKey       none    destroy outline"
)
BOX_SCREEN=640x480x24
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

# text_in_letters FILE: the box's black text is drawn as letters: its ink covers less than a quarter of the
# rectangle around it, where a line drawn as one solid bar covers most of it.
text_in_letters() {
    local ink area
    ink=$(colour_counts "$1" | awk -v text="$BOX_TEXT" '$2 == text { print $1 }')
    area=$(convert "$1" -fill white +opaque "$BOX_TEXT" -trim -format '%[fx:w*h]' info:)
    ((${ink:-0} * 4 < area))
}

shot_box() {
    window_shot "$1" "$2" && box_shown "$2" "$3" && text_in_letters "$2"
}

# on_screen ID: the window lies wholly on the screen.
on_screen() {
    { xwininfo -root && xwininfo -id "$1"; } | awk 'BEGIN { n = 0 }
        /Absolute upper-left X:/ { x = $NF } /Absolute upper-left Y:/ { y = $NF }
        $1 == "Width:" { w[n] = $2 } $1 == "Height:" { h[n++] = $2 }
        END { exit !(n == 2 && x >= 0 && y >= 0 && x + w[1] <= w[0] && y + h[1] <= h[0]) }'
}

# box_case NAME: the box titled "Error" appears on the screen and waits; once dismissed the program exits with
# status 1, and standard error has the whole message.
box_case() {
    local row name error tool dismiss font id width height lines message
    for row in "${BOX_CASES[@]}"; do
        read -r name error tool dismiss font <<<"$row"
        [[ $name != "$1" ]] || break
    done
    [[ $name == "$1" ]] || die "no box case named $1"
    XVFB_SCREEN=$BOX_SCREEN with_display
    IFS='|' read -ra lines <<<"${ERROR_CONFIG[$error]}"
    write_config "${lines[@]}"
    if [[ $font == fixed ]]; then
        printf '<?xml version="1.0"?>\n<fontconfig></fontconfig>\n' >"$WORK/no-fonts.conf"
        export FONTCONFIG_FILE="$WORK/no-fonts.conf"
    fi
    case $tool in
    none) PATH="$WORK/empty" start_orbisk ;;
    failing) ZENITY_EXIT=1 start_orbisk ;;
    zenity)
        PATH=${PATH#"$WORK/bin:"} require zenity
        PATH=${PATH#"$WORK/bin:"} start_orbisk
        ;;
    esac
    id=$(find_window "$START_SECONDS" "$ORBISK_PID" Error) || die "no error box; $(head -c 2000 "$WORK/stderr")"
    # The program's own box shows its mark, its text and its button; the desktop's tool draws its own.
    [[ $tool == zenity ]] || retry "$START_SECONDS" shot_box "$id" "$WORK/box.png" "$font" ||
        die "the box lacks its mark, text or button: $(colour_counts "$WORK/box.png" | sort -rn | head -n 8)"
    sleep 0.5
    kill -0 "$ORBISK_PID" 2>/dev/null || die "the program did not wait for the box to be dismissed"
    on_screen "$id" || die "the box does not fit on the screen: $(xwininfo -id "$id" | grep -E 'Absolute|Width|Height')"

    case $dismiss in
    Return | Escape) xdotool key "$dismiss" ;;
    click)
        # The OK button, 80 x 26 pixels, sits 16 pixels from the bottom right corner.
        read -r width height <<<"$(identify -format "%w %h" "$WORK/box.png")"
        xdotool mousemove --window "$id" $((width - 56)) $((height - 29)) click 1
        ;;
    close) close_window "$id" ;;
    destroy) "$WM_CLOSE" --destroy "$id" || die "wm_close could not destroy the box" ;;
    esac
    expect_exit 1
    # The message's first line follows "Error: ". (Cut by head: the shell's cut at a pattern takes a time that
    # grows with the square of the length, minutes for the longest keys.)
    expect_error_line "$(printf '%s' "${ERROR_MESSAGE[$error]}" | head -n 1)" >/dev/null
    [[ $tool != failing || -e "$ZENITY_ARGS_FILE" ]] || die "the dialog tool was not tried first"
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

# A program started with SIGCHLD ignored, as some supervisors start theirs (exec keeps it), still learns that the
# dialog tool showed its box, and shows no second box of its own.
test_ToolBoxWithChildSignalIgnored() {
    with_display
    write_config "${ERROR_CONFIG[BadNumber]}"
    # shellcheck disable=SC2016 # perl's variables, not the shell's
    ZENITY_SECONDS=0.5 launch perl -e '$SIG{CHLD} = "IGNORE"; exec @ARGV or die "exec: $!"'
    expect_exit 1
    [[ -e "$ZENITY_ARGS_FILE" ]] || die "the dialog tool was not tried"
    ! xdotool search --name '^Error$' >/dev/null 2>&1 || die "a box of the program's own followed the tool's"
}

# gone PID: no process PID runs any more.
gone() {
    ! kill -0 "$1" 2>/dev/null
}

# tool_ends_with_program SIGNAL: the program, sent SIGNAL while a dialog tool shows its box, ends the tool and
# then ends by that signal, as it would have without a box.
tool_ends_with_program() {
    local tool
    with_display
    write_config "${ERROR_CONFIG[UnknownKey]}"
    # A script's background commands start with SIGINT ignored; a program started from a desktop or a terminal
    # has all three at their default.
    ZENITY_SECONDS=600 launch env --default-signal=HUP,INT,TERM
    retry "$START_SECONDS" test -s "$ZENITY_PID_FILE" || die "no dialog tool was started: $(cat "$WORK/stderr")"
    tool=$(cat "$ZENITY_PID_FILE")
    kill -s "$1" "$ORBISK_PID"
    expect_exit $((128 + $(kill -l "$1")))
    if ! retry 5 gone "$tool"; then
        stop "$tool"
        die "the dialog tool outlived the program"
    fi
}

test_TerminatedWhileToolShowsBox() {
    tool_ends_with_program TERM
}

test_InterruptedWhileToolShowsBox() {
    tool_ends_with_program INT
}

test_HungUpWhileToolShowsBox() {
    tool_ends_with_program HUP
}
