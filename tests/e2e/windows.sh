# shellcheck shell=bash
# The Windows build under Wine, where each start takes seconds: e2e.sh runs these cases, and only these, for an
# ORBISK ending in .exe; scripts/windows runs them on the program from its zip.

# One visit: the window titled "Orbisk" at 550 x 550 on a black background with coloured circles, a click's new
# world, the close request, exit status 0 and the size line.
test_WindowsVisit() {
    run_window "region_size = 55" "type_count = 3"
    expect_title_and_size "$WID" 550 550
    expect_new_world_on_click "$WID"
    close_exits_zero
    expect_size_line 550 550
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

# MessageBoxA's window titled "Error" waits with the message until Return dismisses it; only then does the
# program end, with status 1 and no window of its own.
test_WindowsErrorBox() {
    local box message="invalid configuration: colour"
    start_with "colour = 3"
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
        $(sed -n 2p "$WORK/stderr") == "line 1 of the settings file "?:\\*\\config.txt"${EOL%$'\n'}" ]] ||
        die "standard error is \"$(od -An -c "$WORK/stderr")\", not just the message and the file"
    expect_no_orbisk_window
}
