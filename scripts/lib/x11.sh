# shellcheck shell=bash
# Shared by the end-to-end tests, the package's install test and scripts/screenshot: a private X server, the
# program's window and its pixels, and processes that are waited for with a time limit. Sourced by a script running
# under set -euo pipefail. It sources nothing itself: the install test copies it alone into a fresh system.

die() {
    echo "FAIL: $*" >&2
    exit 1
}

# start_xvfb DIR: starts Xvfb on the first free display number (the server picks it and reports it through
# -displayfd), keeps its log in DIR and exports DISPLAY. XVFB_PID is the server. XVFB_SCREEN, if set, is the
# screen's size and depth (e.g. 6700x3800x24) instead of 1280x1280x24; XVFB_OPTIONS, further options of the
# server (e.g. "-extension GLX").
start_xvfb() {
    local report="$1/displayfd" i options
    read -ra options <<<"${XVFB_OPTIONS:-}"
    : >"$report"
    # The screen is large enough for a 550 x 550 window to lie wholly on it; the root window is black, so a
    # window not yet drawn shows black rather than the default grey weave. Without -noreset the server resets
    # whenever its last client disconnects, and a client connecting at that moment (the program right after its
    # display check, or xdotool polling for the window) is refused.
    Xvfb -displayfd 3 -screen 0 "${XVFB_SCREEN:-1280x1280x24}" "${options[@]}" -br -noreset -nolisten tcp \
        3>"$report" >"$1/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for ((i = 0; i < 200; i++)); do
        if [[ $(wc -l <"$report") -ge 1 ]]; then
            DISPLAY=":$(head -n 1 "$report")"
            export DISPLAY
            return 0
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.05
    done
    cat "$1/xvfb.log" >&2
    die "Xvfb did not start"
}

# wait_exit PID SECONDS: waits for a child process to end; EXIT_STATUS is its exit status. Fails when it
# is still running after SECONDS.
# shellcheck disable=SC2034 # EXIT_STATUS is for the caller
wait_exit() {
    local pid="$1" i
    for ((i = 0; i < $2 * 20; i++)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            EXIT_STATUS=0
            wait "$pid" || EXIT_STATUS=$?
            return 0
        fi
        sleep 0.05
    done
    die "process $pid did not end within $2 seconds"
}

# stop PID...: ends processes that may still run, forcibly if they do not end within five seconds.
stop() {
    local pid i
    for pid in "$@"; do
        [[ -n "$pid" ]] || continue
        kill "$pid" 2>/dev/null || continue
        for ((i = 0; i < 100; i++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

# find_window SECONDS [PID [TITLE]]: prints the id of the visible window titled exactly TITLE (default "Orbisk"),
# waiting up to SECONDS; gives up early, with a message, when the process PID ends first.
find_window() {
    local end=$((SECONDS + $1)) title="${3:-Orbisk}" id
    until id=$(xdotool search --onlyvisible --name "^$title\$" | head -n 1) && [[ -n "$id" ]]; do
        if [[ -n "${2:-}" ]] && ! kill -0 "$2" 2>/dev/null; then
            echo "the program ended without showing its window" >&2
            return 1
        fi
        if ((SECONDS >= end)); then
            echo "no window titled $title appeared within $1 seconds" >&2
            return 1
        fi
        sleep 0.1
    done
    echo "$id"
}

# window_shot ID FILE: saves the pixels of just that window as a PNG.
window_shot() {
    import -window "$1" -depth 8 "png24:$2"
}

# retry SECONDS COMMAND...: runs COMMAND until it succeeds; returns 1 when SECONDS pass first.
retry() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.1
    done
}
