#!/usr/bin/env bash
# scripts/release as a maintainer meets it, in throwaway clones of the repository: each row of the table below
# prepares a clone, runs `scripts/release --source-only` there and expects it to refuse with a message naming the
# fault, or to succeed. Where it succeeds, the source archive is the same bytes made twice and from a second
# clone, holds the committed tree, and SHA256SUMS and RELEASE-NOTES.md say what they should.
# usage: release.sh REPOSITORY
set -euo pipefail
[[ $# -eq 1 ]] || { echo "usage: $0 REPOSITORY" >&2; exit 2; }
repository="$(realpath "$1")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

die() {
    echo "FAIL: $*" >&2
    exit 1
}

# shellcheck source=../../scripts/lib/common.sh
source "$repository/scripts/lib/common.sh"
version="$(project_version)"

# clone DIR: a clone of the repository's committed state in which the version is ready for release: its changes
# moved out of [Unreleased] into its own section, committed.
clone() {
    git clone --quiet --no-hardlinks "$repository" "$1"
    git -C "$1" config user.name "Release test"
    git -C "$1" config user.email "release-test@orbisk.localhost"
    awk -v version="$version" '
        /^## \[Unreleased\]/ { print; print ""; print "## [" version ".1] - 2026-12-31"; skip = 1; next }
        /^## \[/ && skip { skip = 0 }
        { print }' "$1/CHANGELOG.md" >"$1/CHANGELOG.new"
    mv "$1/CHANGELOG.new" "$1/CHANGELOG.md"
    sed -i "s/^project(Orbisk VERSION $version/project(Orbisk VERSION $version.1/" "$1/CMakeLists.txt"
    git -C "$1" commit --quiet -am "Version $version.1"
}

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
ready() { :; }

# Each row: the preparation and what the release must say on standard error (empty: it must succeed).
ROWS=(
    "uncommitted   the working tree has changes that are not committed"
    "untracked     the working tree has changes that are not committed"
    "no_section    CHANGELOG.md has no section \"## [9.9.9] - YYYY-MM-DD\""
    "unreleased    CHANGELOG.md still lists changes under [Unreleased]"
    "tag_elsewhere the tag v$version.1 names the commit"
    "ready"
)

for row in "${ROWS[@]}"; do
    read -r prepare expected <<<"$row"
    dir="$work/$prepare"
    clone "$dir"
    "$prepare" "$dir"
    status=0
    bash "$dir/scripts/release" --source-only >"$dir.out" 2>"$dir.err" || status=$?
    if [[ -n "$expected" ]]; then
        ((status == 1)) || die "$prepare: status $status, expected a refusal: $(cat "$dir.err")"
        grep -qF -- "$expected" "$dir.err" || die "$prepare: the refusal does not say \"$expected\": $(cat "$dir.err")"
        [[ ! -e "$dir/dist/$version.1" ]] || die "$prepare: a refused release wrote $dir/dist/$version.1"
        echo "PASS: $prepare is refused"
        continue
    fi
    ((status == 0)) || die "$prepare: status $status: $(cat "$dir.err")"
    dist="$dir/dist/$version.1" archive="orbisk-$version.1.tar.gz"
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
