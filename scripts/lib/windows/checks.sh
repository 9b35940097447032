# shellcheck shell=bash
# Sourced by scripts/windows, after windows/libraries.sh: the checks of the Windows build in WINDOWS_BUILD.
#   check_stack_moves      the machine code never moves wide vectors to or from the stack with aligned moves
#   test_under_wine DIR    the unit tests, then the program of the unpacked zip in DIR in a real window on a private
#                          Xvfb server, under Wine
# shellcheck source=../wm_close.sh
source "$(dirname "${BASH_SOURCE[0]}")/../wm_close.sh"

# Windows keeps the stack aligned to 16 bytes only. A compiler that spills 32- or 64-byte vectors with moves that
# need them aligned to 32 or 64 (GCC bug 54412) makes a program that crashes on Windows, though not under Wine,
# whose stacks happen to be aligned further. MinGW's GCC here spills with unaligned moves; this keeps it so.
aligned_stack_moves() {
    grep -E '[[:space:]]vmov(ap[sd]|dqa(32|64)?|nt(p[sd]|dqa?))[[:space:]]' "$1" | grep -E '%[yz]mm' |
        grep -E '\(%r[sb]p[,)]'
}

check_stack_moves() {
    # What the compiler does with a vector that lives across a call, and that the check tells the two kinds apart.
    local probe="$WINDOWS_BUILD/spill-probe" exe
    cat >"$probe.c" <<'EOF_PROBE'
typedef float Wide __attribute__((vector_size(32)));
void elsewhere(void);
void twice(Wide* v)
{
    Wide kept = *v * *v;
    elsewhere();
    *v = kept + kept;
}
EOF_PROBE
    "$WINDOWS_TRIPLE-gcc-posix" -O2 -mavx2 -c "$probe.c" -o "$probe.o"
    "$WINDOWS_TRIPLE-objdump" -d --no-show-raw-insn "$probe.o" >"$probe.s"
    grep -qE 'vmovups[[:space:]]+%ymm[0-9]+,[^(]*\(%rsp\)' "$probe.s" || {
        echo "The probe's vector did not go to the stack with an unaligned move:" >&2
        cat "$probe.s" >&2
        exit 1
    }
    sed 's/vmovups/vmovaps/' "$probe.s" >"$probe-aligned.s"
    if aligned_stack_moves "$probe.s" >/dev/null || ! aligned_stack_moves "$probe-aligned.s" >/dev/null; then
        echo "The check of aligned stack moves does not tell vmovaps from vmovups" >&2
        exit 1
    fi
    for exe in "$WINDOWS_BUILD/orbisk.exe" "$WINDOWS_BUILD/tests/orbisk_tests.exe"; do
        "$WINDOWS_TRIPLE-objdump" -d --no-show-raw-insn "$exe" >"$WINDOWS_BUILD/disassembly.s"
        if aligned_stack_moves "$WINDOWS_BUILD/disassembly.s"; then
            echo "$exe moves wide vectors to or from the stack with aligned moves: it would crash on Windows" >&2
            exit 1
        fi
    done
}

# Wine keeps its own prefix (its C: drive and registry) in the build folder, and only that one is ever stopped: the
# user's own Wine programs keep running. Without Mono and Gecko, a fresh prefix neither offers to download them
# nor waits for an answer.
wine_environment() {
    export WINEPREFIX="$WINDOWS_BUILD/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

stop_wine() {
    [[ -n "${WINDOWS_BUILD:-}" && "${WINEPREFIX:-}" == "$WINDOWS_BUILD/wine" ]] || return 0
    wineserver -k 2>/dev/null || true
}

test_under_wine() {
    wine_environment
    if [[ ! -e "$WINEPREFIX/system.reg" ]]; then
        echo "== Windows: a Wine prefix in $WINEPREFIX"
        logged "$WINDOWS_BUILD/wineboot.log" wineboot --init
        stop_wine
    fi

    echo "== Windows: unit tests under Wine"
    (cd "$WINDOWS_BUILD/tests" && wine ./orbisk_tests.exe --gtest_brief=1)
    stop_wine

    echo "== Windows: the program from the zip under Wine, in a window on Xvfb"
    # wm_close, the helper that sends a window the close request, runs on this machine: a build of its own for it.
    build_wm_close "$WINDOWS_BUILD/host"
    local failed=() name
    for name in WindowsVisit WindowsErrorBox; do
        bash "$ORBISK_ROOT/tests/e2e/e2e.sh" "$1/orbisk.exe" "$WM_CLOSE" "$1" "$name" || failed+=("$name")
    done
    if [[ ${#failed[@]} -gt 0 ]]; then
        echo "Failed under Wine: ${failed[*]}" >&2
        exit 1
    fi
}
