# shellcheck shell=bash
# The largest worlds the settings accept, and memory that runs out: the program draws, or says why it cannot in a
# box, never aborts. These take gigabytes or every core for seconds, and run one at a time.

# dense_world COUNT: config.txt of COUNT particles in 240 x 200 regions small enough to step.
dense_world() {
    write_config "region_size = 5" "effective_radius = 0.5" "stablized_zone = 0.5" \
        "maximum_interaction_distance = 4" "regions_x_count = 240" "regions_y_count = 200" "particle_count = $1"
}

# window_or_end: the program's window is visible, or the program has ended.
window_or_end() {
    xdotool search --onlyvisible --name '^Orbisk$' >/dev/null || ! kill -0 "$ORBISK_PID" 2>/dev/null
}

# resident_memory PID: the most memory the process has held, for the test's output.
resident_memory() {
    awk '$1 == "VmHWM:" { printf "%d MB\n", $2 / 1024 }' "/proc/$1/status"
}

# The largest window the settings accept, beyond what Mesa's software renderer can draw antialiased (2^27
# pixels): particles are drawn, or the box says the window is too large and the program exits with status 1;
# never a window that stays black.
test_LargeWindow() {
    start_with "region_size = 128" "regions_x_count = 128" "regions_y_count = 128" "particle_count = 100000"
    retry "$START_SECONDS" window_or_end || true
    # The window may open before the program finds that it cannot draw into it.
    sleep 1
    if ! kill -0 "$ORBISK_PID" 2>/dev/null; then
        expect_exit 1
        dialog_says "invalid configuration: the world is 16384 x 16384 units, larger than the largest window" ||
            die "no box about the window's size: $(tr '\0' ' ' <"$ZENITY_ARGS_FILE")"
        echo "16384 x 16384: refused with the box"
        return 0
    fi
    # The screen shows part of the window, about a fifth of it covered by particles. A software renderer takes
    # seconds a frame at this size.
    WID=$(orbisk_window)
    retry 120 shot_covered root "$WORK/shot.png" 5 || die "the large window showed no particles"
    END_SECONDS=60 close_exits_zero
    echo "16384 x 16384: drawn"
}

# Far more particles than any batch of triangles holds, in regions small enough to step: the first frame is
# slow, but it comes, and the program keeps running until it is closed.
test_MillionsOfParticles() {
    with_display
    dense_world 1500000
    start_orbisk
    WID=$(orbisk_window 120)
    retry 300 shot_covered "$WID" "$WORK/shot.png" 30 || die "the window showed no particles"
    echo "1.5 million particles: first frame after $SECONDS s; the process holds at most" \
        "$(resident_memory "$ORBISK_PID") resident"
    END_SECONDS=300 close_exits_zero
    echo "closed after $SECONDS s"
}

# The most particles the settings accept either run or end with the out-of-memory box, never with an abort.
test_LargestPopulation() {
    with_display
    dense_world 16777216
    start_orbisk
    retry 120 window_or_end || true
    if kill -0 "$ORBISK_PID" 2>/dev/null; then
        xdotool search --onlyvisible --name '^Orbisk$' >/dev/null || die "no window after two minutes"
        sleep 10
        kill -0 "$ORBISK_PID" 2>/dev/null || die "the program ended after its window opened"
        echo "16,777,216 particles run: the process holds at most $(resident_memory "$ORBISK_PID") resident"
        return 0
    fi
    expect_exit 1
    dialog_says "not enough memory" || die "no out-of-memory box"
    echo "16,777,216 particles: not enough memory, reported in a box"
}

# Memory that runs out while the world runs ends the program with a box, not an abort. Here the allocations that
# fail are those of more than 4 MB up to 6 MB: the 400,000 particles' records for drawing the first frame take
# 4.8 MB, while generating the world takes 8 MB at once and each of its arrays 1.6 MB.
test_OutOfMemoryWhileRunning() {
    with_display
    dense_world 400000
    launch env LD_PRELOAD="$FAIL_ALLOC_LIBRARY" FAIL_ALLOCATIONS_ABOVE=4000000 FAIL_ALLOCATIONS_UP_TO=6000000
    expect_exit 1
    expect_dialog "not enough memory to draw the world"
}
