# shellcheck shell=bash
# Sourced by every other part of scripts/lib: the repository's folder, its version, commands run as root, and
# commands whose output is shown only when they fail.
#   ORBISK_ROOT            the repository's top folder
#   ORBISK_CACHE           where what is made once and reused is kept: fresh systems, libraries for Windows
#   project_version        the version of Orbisk, set once, in CMakeLists.txt
#   as_root COMMAND...     runs COMMAND as root: itself when this user is root, else through sudo
#   root_unavailable       why as_root cannot run without asking for a password; nothing when it can
#   logged LOG COMMAND...  runs COMMAND with its output added to LOG; when it fails, shows LOG's end and exits 1
#   working_tree           the working tree as it stands, changes not committed included, as a tar stream on
#                          standard output; without the build output (build/, dist/) and the repository's history
#   in_clone               whether the project's folder is a git clone (or a worktree of one); an unpacked source
#                          archive is not, and the scripts run there too, all but scripts/release
#   source_files GLOB...   the project's files whose names match a GLOB ('*.cpp'), relative to its folder, each
#                          ended by a NUL: those git tracks in a clone, else every such file of the tree but the
#                          build output
#   step NAME, step_times  a script's steps and their wall times (below)
#   at_exit FUNCTION       runs FUNCTION when the script exits, however it exits: each function once, the one
#                          registered last first, so that what a script and its libraries clean up adds up

# Sourced once, however many parts of scripts/lib source it.
[[ -z "${orbisk_common:-}" ]] || return 0
orbisk_common=1

ORBISK_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck disable=SC2034 # for the other parts
ORBISK_CACHE="${XDG_CACHE_HOME:-$HOME/.cache}/orbisk"

project_version() {
    local version
    version="$(sed -n 's/^project(Orbisk VERSION \([^ )]*\).*/\1/p' "$ORBISK_ROOT/CMakeLists.txt")"
    [[ -n "$version" ]] || { echo "CMakeLists.txt names no version" >&2; return 1; }
    echo "$version"
}

as_root() {
    if ((EUID == 0)); then "$@"; else sudo "$@"; fi
}

root_unavailable() {
    ((EUID == 0)) || sudo -n true 2>/dev/null || echo "it needs root or password-less sudo"
}

working_tree() {
    tar -C "$ORBISK_ROOT" --exclude=./build --exclude=./dist --exclude=./.git -cf - .
}

in_clone() {
    [[ -e "$ORBISK_ROOT/.git" ]]
}

source_files() {
    if in_clone; then
        git -C "$ORBISK_ROOT" ls-files -z -- "$@"
        return
    fi
    local names=() glob
    for glob in "$@"; do
        names+=(-o -name "$glob")
    done
    # The build output as .gitignore names it.
    (cd "$ORBISK_ROOT" && find . \( -path './build*' -o -path ./out -o -path ./dist \) -prune -o -type f \
        \( "${names[@]:1}" \) -printf '%P\0' | sort -z)
}

logged() {
    local log="$1"
    shift
    "$@" >>"$log" 2>&1 || {
        tail -n 40 "$log" >&2
        echo "The whole output is in $log" >&2
        exit 1
    }
}

# Steps and their wall times, for a script's report:
#   step NAME        ends the step under way, noting its time, and starts NAME, announced as "== STEP_PREFIX NAME";
#                    an empty NAME ends the step under way alone
#   step_times       ends the step under way and prints each step's time
STEP_TIMES=() STEP_NAME="" STEP_STARTED=$SECONDS STEP_PREFIX=""

step() {
    [[ -z "$STEP_NAME" ]] || STEP_TIMES+=("$STEP_NAME $((SECONDS - STEP_STARTED)) s")
    STEP_NAME="$1" STEP_STARTED=$SECONDS
    [[ -z "$STEP_NAME" ]] || echo "== $STEP_PREFIX$STEP_NAME"
}

step_times() {
    step ""
    local times
    times="$(printf '%s; ' "${STEP_TIMES[@]}")"
    echo "${times%; }"
}

AT_EXIT=()

at_exit() {
    local registered
    for registered in "${AT_EXIT[@]}"; do
        [[ "$registered" != "$1" ]] || return 0
    done
    AT_EXIT=("$1" "${AT_EXIT[@]}")
    trap run_at_exit EXIT
    # Ended by a signal (scripts/test ends what runs beside it so), the script still cleans up.
    trap 'exit 129' HUP
    trap 'exit 130' INT
    trap 'exit 143' TERM
}

run_at_exit() {
    local status=$? cleanup
    for cleanup in "${AT_EXIT[@]}"; do
        "$cleanup" || true
    done
    return "$status"
}
