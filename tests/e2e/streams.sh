# shellcheck shell=bash
# Where the program's output goes: closed standard streams, a pipe nobody reads, no display at all, and too few
# file descriptors to reach one.

# Started with standard input, output or error closed, the program opens its window, draws and ends with status
# 0 on the close request, whichever is closed.
test_ClosedStandardStreams() {
    local fds
    with_display
    write_config "region_size = 55"
    for fds in 0 1 2 "0 1 2"; do
        # shellcheck disable=SC2016 # the inner shell expands them
        launch bash -c 'for fd in $1; do eval "exec $fd>&-"; done; exec "$2"' closing "$fds"
        expect_drawn_and_closed "$WORK/shot.png"
    done
}

# launch_on_closed_pipe FD...: starts the program with those descriptors writing into a pipe that nobody reads,
# and SIGPIPE at its default, as a shell pipeline such as `orbisk | true` leaves them.
launch_on_closed_pipe() {
    launch python3 -c '
import os, signal, sys
reader, writer = os.pipe()
os.close(reader)
for fd in sys.argv[1:-1]:
    os.dup2(writer, int(fd))
signal.signal(signal.SIGPIPE, signal.SIG_DFL)
os.execv(sys.argv[-1], sys.argv[-1:])' "$@"
}

# Nobody reading the size line costs the line, not the program: the window opens; and a settings error still
# reaches its box when standard error goes nowhere either.
test_ClosedPipeOnStdout() {
    with_display
    write_config "region_size = 55"
    launch_on_closed_pipe 1
    expect_drawn_and_closed "$WORK/shot.png"

    write_config "colour = 3"
    launch_on_closed_pipe 1 2
    expect_exit 1
    expect_dialog "invalid configuration: colour"$'\n'"line 1 of the settings file $(cd "$WORK" && pwd -P)/config.txt"
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

# Under a limit of open files that leaves the window too few, standard error says so and the program ends with
# status 1: no box is tried, which would need descriptors too, and the graphics library and driver are not left to
# fail on their own (the driver's failure read as a display without OpenGL). Started with the standard streams
# alone open, the limit of 4 leaves 1 free.
test_TooFewFileDescriptors() {
    with_display
    write_config "region_size = 55"
    launch python3 -c '
import os, resource, sys
resource.setrlimit(resource.RLIMIT_NOFILE, (4, 4))
os.closerange(3, 65536)
os.execv(sys.argv[-1], sys.argv[-1:])'
    expect_exit 1
    expect_stderr_line "Error: too many open files: the window needs 16 free file descriptors, and the limit of open \
files (ulimit -n 4) leaves 1 free"
    expect_no_dialog
    expect_no_orbisk_window
}
