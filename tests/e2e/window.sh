# shellcheck shell=bash
# The window as a user meets it: its size line, title, style and picture, the particles moving, a click's new
# world and the close request.

test_StdoutLine() {
    run_window "region_size = 55"
    close_exits_zero
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
