# shellcheck shell=bash
# The largest worlds the settings accept, and memory that runs out: the program draws, or says why it cannot in a
# box, never aborts. These take gigabytes or every core for seconds, and run one at a time.

# What 16,777,216 particles of dense_world take at most, with room to spare, in GB.
LARGEST_POPULATION_GB=4

# dense_world COUNT: config.txt of COUNT particles in 240 x 200 regions small enough to step.
dense_world() {
    write_config "region_size = 5" "effective_radius = 0.5" "stablized_zone = 0.5" \
        "maximum_interaction_distance = 4" "regions_x_count = 240" "regions_y_count = 200" "particle_count = $1"
}

# resident_memory PID: the most memory the process has held, for the test's output.
resident_memory() {
    awk '$1 == "VmHWM:" { printf "%d MB\n", $2 / 1024 }' "/proc/$1/status"
}

# window_left_at ID X: the window's left edge stands at X on the screen.
window_left_at() {
    xwininfo -id "$1" | grep -q "Absolute upper-left X: *$2\$"
}

# A world one region wider than the largest window the graphics system draws into is refused before any window
# opens, with the box naming that largest window; a world exactly as wide as it is drawn edge to edge. The
# regions are 128 units, so that the largest viewport of any driver (16384 pixels on Mesa's) is a whole number of
# them; one region high, so that the window stays small in pixels.
test_LargeWindow() {
    local text largest left
    start_with "region_size = 128" "regions_x_count = 255" "regions_y_count = 1" "particle_count = 2000"
    END_SECONDS=60 expect_exit 1
    expect_no_orbisk_window
    text=$(sed -n 's/^Error: //p' "$WORK/stderr")
    [[ $text =~ ^"invalid configuration: the world is 32640 x 128 units, larger than the largest window the "\
"graphics system can show, "([0-9]+)" x "[0-9]+" pixels"$ ]] || die "not the message about the window's size: $text"
    expect_dialog "$text"$'\n'"in the settings file $(cd "$WORK" && pwd -P)/config.txt"
    largest=${BASH_REMATCH[1]}
    echo "the largest window is $largest pixels wide"

    rm -f "$ZENITY_ARGS_FILE"
    write_config "region_size = 128" "regions_x_count = $((largest / 128))" "regions_y_count = 1" \
        "particle_count = 2000"
    start_orbisk
    WID=$(orbisk_window 60)
    # Without a window manager the program places the window itself, once, just after making it: a window wider
    # than the screen stands at its left edge. Moved before that, it would be moved back.
    retry 10 window_left_at "$WID" 0 || die "the window wider than the screen was not placed at its left edge"
    # The screen (1280 pixels wide) shows the window's right end: particles there, a tenth of the screen's
    # height, mean that nothing was squeezed or cut off.
    left=$((1280 - largest / 128 * 128))
    xdotool windowmove "$WID" "$left" 0
    retry 10 window_left_at "$WID" "$left" || die "the window was not moved to $left"
    retry 120 shot_covered root "$WORK/shot.png" 1 || die "the right end of the large window showed no particles"
    expect_no_dialog
    END_SECONDS=60 close_exits_zero
    echo "$((largest / 128 * 128)) x 128: drawn to its right end"
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

# The most particles the settings accept run: the window opens and the program keeps stepping them. A machine
# without the memory they take skips the test rather than decide it wrongly.
test_LargestPopulation() {
    local available
    available=$(awk '$1 == "MemAvailable:" { print int($2 / 1048576) }' /proc/meminfo)
    if ((available < LARGEST_POPULATION_GB)); then
        echo "SKIP: 16,777,216 particles take $LARGEST_POPULATION_GB GB; this machine has $available GB available"
        exit 77
    fi
    with_display
    dense_world 16777216
    start_orbisk
    WID=$(orbisk_window 120)
    sleep 10
    kill -0 "$ORBISK_PID" 2>/dev/null || die "the program ended after its window opened: $(cat "$WORK/stderr")"
    expect_no_dialog
    echo "16,777,216 particles run: the process holds at most $(resident_memory "$ORBISK_PID") resident"
}

# The same world where memory runs out while it is made (its making takes about 700 MB): the box says so, naming
# the world, and the status is 1.
test_LargestPopulationWithoutMemory() {
    with_display
    dense_world 16777216
    launch prlimit --as=$((512 * 1024 ** 2))
    END_SECONDS=60 expect_exit 1
    expect_dialog "not enough memory for 16777216 particles in 48000 regions"
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
