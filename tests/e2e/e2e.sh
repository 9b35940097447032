#!/usr/bin/env bash
# End-to-end tests of the orbisk program: the real executable, in a real window on a private Xvfb server.
# usage: e2e.sh ORBISK WM_CLOSE ASSETS-DIR TEST-NAME
#        e2e.sh --list
# A TEST-NAME of Error and a name is that row of the settings errors' table (settings-errors.sh), Box and a name
# that row of the boxes' table (box.sh), Display and a name that row of the displays' table (window.sh); any other
# names the function test_TEST-NAME in one of the cases' files.
# --list prints the name of every Linux case, one a line: CMake makes a test of each.
# An ORBISK ending in .exe is the Windows build, with cases of its own (windows.sh): it runs under Wine, in the
# Wine prefix WINEPREFIX names, which must be set (the user's own prefix is left alone).
# FAIL_ALLOC_LIBRARY and GLX_SAMPLES name the test programs of this folder, built (CTest sets them).
# With E2E_KEEP set to a folder, the test's screenshots are kept there, named after the test.
# Exits 0 when the test passes, 1 when it fails and 77 when it is skipped because Xvfb is not installed.
set -euo pipefail
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

# The Linux cases, a file a theme; the Windows build has cases of its own.
cases=(window.sh icon.sh streams.sh large.sh settings-errors.sh box.sh)
[[ ${1:-} != *.exe ]] || cases=(windows.sh)
for file in "${cases[@]}"; do
    # shellcheck source=/dev/null
    source "$HERE/$file"
done

if [[ $# -eq 1 && $1 == --list ]]; then
    compgen -A function test_ | sed 's/^test_//'
    printf 'Error%s\n' "${ERROR_CASES[@]}"
    printf 'Box%s\n' "${BOX_CASES[@]%% *}"
    printf 'Display%s\n' "${DISPLAY_CASES[@]%% *}"
    exit 0
fi
if [[ $# -ne 4 ]]; then
    echo "usage: $0 ORBISK WM_CLOSE ASSETS-DIR TEST-NAME" >&2
    echo "       $0 --list" >&2
    exit 2
fi
ORBISK="$(realpath "$1")" WM_CLOSE="$(realpath "$2")" ASSETS="$(realpath "$3")" TEST="$4"
# shellcheck source-path=SCRIPTDIR source=harness.sh
source "$HERE/harness.sh"

case $TEST in
Error*) run=(error_case "${TEST#Error}") ;;
Box*) run=(box_case "${TEST#Box}") ;;
Display*) run=(display_case "${TEST#Display}") ;;
*) run=("test_$TEST") ;;
esac
declare -F "${run[0]}" >/dev/null || die "no test named $TEST"
setup
"${run[@]}"
echo "PASS: $TEST"
