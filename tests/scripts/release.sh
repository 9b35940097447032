#!/usr/bin/env bash
# scripts/release as a maintainer meets it, in throwaway clones of the repository: each row of the table below
# prepares a clone, runs `scripts/release --source-only` there and expects it to refuse with a message naming the
# fault, or to succeed. Where it succeeds, the source archive is the same bytes made twice and from a second
# clone, holds the committed tree, was tested unpacked where no git repository is around it, and SHA256SUMS and
# RELEASE-NOTES.md say what they should. The archive's own suite takes minutes; in these clones a stand-in for
# scripts/test, committed with the version, notes how and where it was run.
# usage: release.sh REPOSITORY   (exits 77, skipped, where REPOSITORY is no git clone: an unpacked source archive)
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 REPOSITORY" >&2; exit 2; }
repository="$(realpath "$1")"
if [[ ! -e "$repository/.git" ]] || ! command -v git >/dev/null; then
    echo "skipped: scripts/release makes releases from a git clone, and $repository is none"
    exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# From git 2.47 on, a commit starts git's upkeep in a process of its own that outlives it; under load it may still
# be writing into a clone's .git while a row removes that folder. These clones live for seconds and need none.
export GIT_CONFIG_COUNT=1 GIT_CONFIG_KEY_0=maintenance.auto GIT_CONFIG_VALUE_0=false

die() {
    echo "FAIL: $*" >&2
    exit 1
}

# shellcheck source=../../scripts/lib/common.sh
source "$repository/scripts/lib/common.sh"
version="$(project_version)"

# clone DIR: a clone of the repository's committed state in which the version is ready for release: a change of
# its own and those under [Unreleased] in its section, committed, with the stand-in for the archive's suite.
clone() {
    git clone --quiet --no-hardlinks "$repository" "$1"
    git -C "$1" config user.name "Release test"
    git -C "$1" config user.email "release-test@orbisk.localhost"
    awk -v version="$version" '
        /^## \[Unreleased\]/ {
            print; print ""; print "## [" version ".1] - 2026-12-31"; print ""; print "### Changed"; print ""
            print "- A change of the release test."
            next
        }
        { print }' "$1/CHANGELOG.md" >"$1/CHANGELOG.new"
    mv "$1/CHANGELOG.new" "$1/CHANGELOG.md"
    sed -i "s/^project(Orbisk VERSION $version/project(Orbisk VERSION $version.1/" "$1/CMakeLists.txt"
    # shellcheck disable=SC2016 # the stand-in's own variables
    printf '%s\n' '#!/usr/bin/env bash' \
        '{ echo "$*"; pwd; [[ -f CMakeLists.txt ]] && echo "the tree"; git rev-parse --git-dir 2>/dev/null ||' \
        '  echo "no git repository"; } >"$RELEASE_TEST_NOTE"' 'exit 0' >"$1/scripts/test"
    git -C "$1" commit --quiet -am "Version $version.1"
}
export RELEASE_TEST_NOTE="$work/note"

# What a row does to its clone before the release is tried.
uncommitted() { echo "# changed" >>"$1/README.md"; }
untracked() { touch "$1/notes.txt"; }
no_section() {
    sed -i "s/^project(Orbisk VERSION [^ )]*/project(Orbisk VERSION 9.9.9/" "$1/CMakeLists.txt"
    git -C "$1" commit --quiet -am "Version 9.9.9"
}
unreleased() {
    sed -i 's/^## \[Unreleased\]$/&\n\n- Something new./' "$1/CHANGELOG.md"
    git -C "$1" commit --quiet -am "Something new"
}
tag_elsewhere() {
    git -C "$1" tag "v$version.1" HEAD~1
}
no_clone() { rm -rf "$1/.git"; }
archive_fails() {
    sed -i 's/^exit 0$/exit 1/' "$1/scripts/test"
    git -C "$1" commit --quiet -am "A suite that fails"
}
ready() { :; }

# Each row: the preparation and what the release must say on standard error (empty: it must succeed).
ROWS=(
    "uncommitted   the working tree has changes that are not committed"
    "untracked     the working tree has changes that are not committed"
    "no_section    CHANGELOG.md has no section \"## [9.9.9] - YYYY-MM-DD\""
    "unreleased    CHANGELOG.md still lists changes under [Unreleased]"
    "tag_elsewhere the tag v$version.1 names the commit"
    "no_clone      a release is made from a git clone"
    "archive_fails the source archive's own test failed"
    "ready"
)

for row in "${ROWS[@]}"; do
    read -r prepare expected <<<"$row"
    dir="$work/$prepare"
    clone "$dir"
    "$prepare" "$dir"
    status=0
    rm -f "$RELEASE_TEST_NOTE"
    bash "$dir/scripts/release" --source-only >"$dir.out" 2>"$dir.err" || status=$?
    if [[ -n "$expected" ]]; then
        ((status == 1)) || die "$prepare: status $status, expected a refusal: $(cat "$dir.err")"
        grep -qF -- "$expected" "$dir.err" || die "$prepare: the refusal does not say \"$expected\": $(cat "$dir.err")"
        [[ ! -e "$dir/dist/$version.1/SHA256SUMS" ]] || die "$prepare: a refused release wrote SHA256SUMS"
        echo "PASS: $prepare is refused"
        continue
    fi
    ((status == 0)) || die "$prepare: status $status: $(cat "$dir.err")"
    dist="$dir/dist/$version.1" archive="orbisk-$version.1.tar.gz"
    # The archive's suite ran in the archive unpacked elsewhere, with no git repository around it.
    [[ -f "$RELEASE_TEST_NOTE" ]] || die "the source archive's own test did not run"
    mapfile -t note <"$RELEASE_TEST_NOTE"
    [[ "${note[0]}" == "--linux-only --no-sanitizers" ]] || die "the archive's test ran as: scripts/test ${note[0]}"
    [[ "${note[1]}" == */orbisk-$version.1 && "${note[1]}" != "$dir"* ]] ||
        die "the archive's test ran in ${note[1]}, not in the archive unpacked elsewhere"
    [[ "${note[2]}" == "the tree" && "${note[3]}" == "no git repository" ]] ||
        die "the archive's test found: ${note[*]:2}"
    [[ ! -e "${note[1]}" ]] || die "the unpacked archive was left in ${note[1]}"
    (cd "$dist" && sha256sum --quiet --check SHA256SUMS) || die "SHA256SUMS does not match the files"
    [[ "$(awk '{ print $2 }' "$dist/SHA256SUMS" | sort | tr '\n' ' ')" == "RELEASE-NOTES.md $archive " ]] ||
        die "SHA256SUMS lists: $(cat "$dist/SHA256SUMS")"
    [[ "$(head -n 1 "$dist/RELEASE-NOTES.md")" == "# Orbisk $version.1" ]] ||
        die "RELEASE-NOTES.md begins: $(head -n 3 "$dist/RELEASE-NOTES.md")"
    grep -q '^### ' "$dist/RELEASE-NOTES.md" || die "RELEASE-NOTES.md holds no section of the CHANGELOG"
    ! grep -q '^## ' "$dist/RELEASE-NOTES.md" || die "RELEASE-NOTES.md holds more than the version's section"
    # The committed tree, whole, under one folder.
    diff <(tar -tzf "$dist/$archive" | grep -v '/$' | sed "s|^orbisk-$version.1/||" | sort) \
        <(git -C "$dir" ls-files | sort) >/dev/null || die "the source archive does not hold the committed files"
    # The same bytes again, a second later and from another clone.
    cp "$dist/$archive" "$work/first.tar.gz"
    sleep 1
    bash "$dir/scripts/release" --source-only >/dev/null 2>&1 || die "a second release failed"
    cmp -s "$work/first.tar.gz" "$dist/$archive" || die "the source archive differs when made again"
    git clone --quiet --no-hardlinks "$dir" "$work/again"
    bash "$work/again/scripts/release" --source-only >/dev/null 2>&1 || die "the release in another clone failed"
    cmp -s "$work/first.tar.gz" "$work/again/dist/$version.1/$archive" ||
        die "the source archive differs when made from another clone"
    echo "PASS: the source archive, its notes and sums, the same bytes each time"
done
