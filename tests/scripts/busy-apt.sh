#!/usr/bin/env bash
# scripts/run as a newcomer meets it on a fresh system, while another package manager holds apt's locks as a
# desktop's automatic updates do: the package lists' for the first 8 seconds, the package system's for 20. The
# install step must say that it waits, wait, then install and build; the program then starts, finds no display
# there and says so. It runs inside a fresh system that scripts/lib/system.sh made (scripts/test runs it there
# before that release's suite), since it takes that system's apt locks.
# usage: busy-apt.sh   (from the project's folder, inside such a system)
set -euo pipefail
[[ $# -eq 0 ]] || { echo "usage: $0" >&2; exit 2; }
[[ -n "${ORBISK_FRESH_SYSTEM:-}" ]] ||
    { echo "$0 takes apt's locks: it runs only inside a fresh system that scripts/lib/system.sh made" >&2; exit 2; }
root="$(realpath "$(dirname "${BASH_SOURCE[0]}")/../..")"

log="$root/build/busy-apt.log" held="$(mktemp -u)" status=0
# apt's locks are fcntl locks; perl, which every Debian system has, takes them as apt does.
# shellcheck disable=SC2016 # perl's variables
perl -e '
    use Fcntl;
    sub hold {
        sysopen(my $file, $_[0], O_RDWR | O_CREAT) or die "$_[0]: $!";
        my $lock = pack("s s x4 q q i x4", F_WRLCK, 0, 0, 0, 0); # struct flock: the whole file
        fcntl($file, F_SETLK, $lock) or die "cannot lock $_[0]: $!";
        return $file;
    }
    my $lists = hold("/var/lib/apt/lists/lock");
    my $packages = hold("/var/lib/dpkg/lock-frontend");
    open(my $held, ">", $ARGV[0]) or die;
    close($held);
    sleep 8;
    close($lists);
    sleep 12;' "$held" &
holder=$!
while [[ ! -e "$held" ]]; do
    kill -0 "$holder" 2>/dev/null || { echo "FAIL: apt's locks could not be taken" >&2; exit 1; }
    sleep 0.2
done
rm -f "$held"
mkdir -p "$root/build"
(cd "$root" && scripts/run) >"$log" 2>&1 || status=$?
wait "$holder" || true
failed=()
grep -q '^Waiting up to 10 minutes for another package manager to finish' "$log" || failed+=("said no word of waiting")
[[ -x "$root/build/release/orbisk" ]] || failed+=("built no program")
((status == 1)) && grep -q 'no display available' "$log" || failed+=("did not start the program (status $status)")
if ((${#failed[@]} > 0)); then
    tail -n 30 "$log" >&2
    printf 'FAIL: scripts/run while apt was busy %s\n' "${failed[@]}" >&2
    echo "Its output is in $log" >&2
    exit 1
fi
echo "scripts/run waited for apt, then installed, built and started the program"
