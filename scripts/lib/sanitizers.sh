# shellcheck shell=bash
# Sourced by scripts/sanitize and scripts/fuzz.
#   leak_detection COMPILER DIR  prints 1 where LeakSanitizer can run, with programs built by COMPILER (g++,
#                                clang++; a probe built in DIR), else 0, saying so on standard error

# LeakSanitizer stops the world with ptrace, which some containers and debuggers forbid; it then fails every
# program at exit. Only then is leak detection turned off, so that the other checks still run.
leak_detection() {
    local probe="$2/lsan-probe"
    mkdir -p "$2"
    echo 'int main() { return 0; }' | "$1" -x c++ -fsanitize=address - -o "$probe" ||
        { echo "$1 cannot build a program with AddressSanitizer" >&2; return 1; }
    if ASAN_OPTIONS=detect_leaks=1 "$probe" >/dev/null 2>&1; then
        echo 1
    else
        echo "note: LeakSanitizer cannot run here (ptrace restricted?); leak detection is off for this run" >&2
        echo 0
    fi
}
