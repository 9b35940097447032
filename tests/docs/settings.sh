#!/usr/bin/env bash
# Usage: tests/docs/settings.sh SOURCE_DIR
# The settings reference (docs/settings.md), the manual page (docs/orbisk.6.in) and the README tell the user the
# same keys, defaults and messages: every key of the Settings record appears with its default in the reference's
# and the README's tables and in the manual page's SETTINGS, and every message of the reference's message tables
# appears in the manual page's DIAGNOSTICS, whose every message the reference lists in turn. And every message
# that the program and the orbisk command can write, found in their code (messages.pl), has its entry in the
# reference: a message added to the code without one fails here, named.
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 SOURCE_DIR" >&2
    exit 2
fi
root=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
header=$root/settings/Settings.hpp
reference=$root/docs/settings.md
manual=$root/docs/orbisk.6.in
readme=$root/README.md

failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

squeeze() {
    tr -s ' \t\n' '   ' | sed 's/^ //; s/ $//'
}

# The manual page as plain text, one line per input line, each "SECTION<TAB>text": the font macros' arguments
# joined as roff joins them (the alternating ones without spaces), escapes and quotes gone. A line "TAG<TAB>..."
# follows each .TP with the text of its tag.
manual_text() {
    awk '
    function args(line,    out, n, i, c, inq, cur, have) {
        n = 0; inq = 0; cur = ""; have = 0
        for (i = 1; i <= length(line); i++) {
            c = substr(line, i, 1)
            if (c == "\"") { inq = !inq; have = 1; continue }
            if (!inq && (c == " " || c == "\t")) {
                if (have) { out[++n] = cur; cur = ""; have = 0 }
                continue
            }
            cur = cur c; have = 1
        }
        if (have) out[++n] = cur
        return n
    }
    function plain(s) {
        gsub(/\\f[BIRP]/, "", s); gsub(/\\-/, "-", s); gsub(/\\\(mu/, "x", s); gsub(/\\&/, "", s)
        gsub(/\\e/, "\\", s); gsub(/\\\(dq/, "\"", s)
        return s
    }
    {
        line = $0; text = ""; macro = ""
        if (substr(line, 1, 1) == ".") {
            split(line, word, /[ \t]/); macro = substr(word[1], 2); rest = substr(line, length(word[1]) + 1)
            n = args(rest, a)
            sep = (macro == "B" || macro == "I" || macro == "SH") ? " " : ""
            if (macro ~ /^(B|I|BI|BR|IB|IR|RB|RI|SH)$/)
                for (i = 1; i <= n; i++) text = text (i > 1 ? sep : "") a[i]
            else if (macro == "TP") { tag = 1; next }
            else next
        } else
            text = line
        text = plain(text)
        if (macro == "SH") { section = text; next }
        print section "\t" text
        if (tag) { print "TAG\t" text; tag = 0 }
    }' "$manual"
}

manual_section() {
    manual_text | awk -F '\t' -v s="$1" '$1 == s { print $2 }' | squeeze
}

# Keys and defaults from the record: "float friction = 0.01f;" gives "friction 0.01".
keys=$(sed -n '/^struct Settings$/,/^};/p' "$header" |
    sed -nE 's/^ *(float|std::int32_t) ([a-z_]+) = ([-0-9.]+)f?;.*/\2 \3/p' |
    awk '{ v = $2; if (v ~ /\./) { sub(/0+$/, "", v); sub(/\.$/, "", v) } print $1, v }')
if [[ $(wc -l <<<"$keys") -ne 11 ]]; then
    fail "expected the 11 keys of the Settings record in $header, found: $keys"
fi

settings_text=$(manual_section SETTINGS)
while read -r key default; do
    for doc in "$reference" "$readme"; do
        grep -qF "| \`$key\` | $default |" "$doc" || fail "$doc has no table row for $key with its default $default"
    done
    grep -qF "$key (default $default)" <<<"$settings_text" ||
        fail "the manual page's SETTINGS have no \"$key (default $default)\""
done <<<"$keys"

# Messages: the first column of each table headed "| message |" in the reference, one backticked text a row.
messages=$(awk '
    /^\| message \|/ { table = 1; getline; next }
    table && /^\|/ {
        split($0, cell, "|"); m = cell[2]
        if (gsub(/`/, "", m) != 2) { print "MALFORMED " $0; next }
        print m; next
    }
    { table = 0 }' "$reference" | sed 's/^ *//; s/ *$//')
if [[ $(wc -l <<<"$messages") -lt 20 ]]; then
    fail "expected the message tables of $reference, found: $messages"
fi

diagnostics=$(manual_section DIAGNOSTICS)
reference_text=$(squeeze <"$reference")
while IFS= read -r message; do
    if [[ $message == MALFORMED* ]]; then
        fail "a message row of $reference holds no single backticked message: ${message#MALFORMED }"
        continue
    fi
    message=$(squeeze <<<"$message")
    grep -qF -- "$message" <<<"$diagnostics" || fail "the manual page's DIAGNOSTICS lack: $message"
    grep -qF -- "$message" <<<"$reference_text" || fail "$reference lacks: $message"
done <<<"$messages"

# Every message the manual page lists, as a tag of DIAGNOSTICS, is one of the reference's.
while IFS= read -r tag; do
    tag=$(squeeze <<<"$tag")
    grep -qxF -- "$tag" <<<"$messages" || fail "$reference's message tables lack the manual page's: $tag"
done < <(manual_text | awk -F '\t' '$1 == "DIAGNOSTICS" { on = 1; next } $1 == "TAG" && on { print $2 } $1 != "TAG" && $1 != "DIAGNOSTICS" { on = 0 }')

# The messages of the code. The reference's entries: its messages, and each reason of its table headed "| reason |"
# as the message it ends, after "invalid configuration: ".
reasons=$(awk '
    /^\| reason \|/ { table = 1; getline; next }
    table && /^\|/ {
        split($0, cell, "|"); n = split(cell[2], part, "`")
        for (i = 2; i <= n; i += 2) print "invalid configuration: " part[i]
        next
    }
    { table = 0 }' "$reference")
entries=$(mktemp)
trap 'rm -f "$entries"' EXIT
printf '%s\n%s\n' "$messages" "$reasons" >"$entries"
# Every C++ source of the program and the command: all but the tests', the benchmark's and the fuzzer's, and the
# build's output.
mapfile -d '' sources < <(cd "$root" && find . \( -path ./tests -o -path ./bench -o -path ./fuzz -o -path './build*' \
    -o -path ./out -o -path ./dist -o -path ./.git -o -name CMakeFiles \) -prune -o \( -name '*.cpp' -o -name '*.hpp' \) -print0 |
    sort -z)
# In perl, which every Debian system has, down to the fresh minimal ones the other releases are tested in.
found=$(cd "$root" && perl "$here/messages.pl" "$entries" "${sources[@]}")
code_messages=$(grep -c . <<<"$found" || true)
if ((code_messages < 30)); then
    fail "expected the messages of the program and the command in their code, found $code_messages: $found"
fi
undocumented=0
while IFS=$'\t' read -r documented where message; do
    [[ $documented == yes ]] && continue
    fail "$reference has no entry for the message \"$message\", written at $where"
    undocumented=$((undocumented + 1))
done <<<"$found"
if ((undocumented > 0)); then
    echo "(\"...\" stands for what the program fills in as it runs. Give each message a row of a message table" \
        "in $reference, its words as they stand and a placeholder such as path or reason for each \"...\"," \
        "and the manual page's DIAGNOSTICS the same.)" >&2
fi

if ((failures > 0)); then
    echo "$failures mismatches between $reference, $manual, $readme and the code" >&2
    exit 1
fi
echo "docs: $(wc -l <<<"$keys") keys, $(wc -l <<<"$messages") messages of the reference and $code_messages of the code agree"
