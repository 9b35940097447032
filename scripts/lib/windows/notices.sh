# shellcheck shell=bash
# Sourced by scripts/windows: the licences that go with orbisk.exe. Orbisk's own, and the notices of the libraries
# linked into it, each taken whole from the copyright file of the Debian package that it was built from.
#   write_notices FILE   THIRD-PARTY-NOTICES.txt for the orbisk.exe in WINDOWS_BUILD
#   check_notices DIR    the unpacked zip in DIR holds Orbisk's LICENSE and a notice for every library that the
#                        link of orbisk.exe took code from; fails naming each one without
# Both read the link map WINDOWS_BUILD/orbisk.map and the libraries built in WINDOWS_LIBRARIES.
# shellcheck source=../common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

# notice_parts: NOTICE_PARTS, one row a part: its name; what of it the program holds; which linked files it
# accounts for (a Debian package that owns them, or a library in WINDOWS_LIBRARIES, by file name); the folder of
# its copyright file.
notice_parts() {
    local built="$WINDOWS_LIBRARIES/share/doc"
    NOTICE_PARTS=(
        "SFML|SFML's graphics, window and system modules, with the stb_image code inside the graphics module|built:libsfml-*|$built/libsfml"
        "FreeType|the FreeType font engine, which SFML's graphics module draws text with, and the copy of zlib's inflate code that FreeType carries for compressed fonts|built:libfreetype.a|$built/freetype"
        "MinGW-w64 runtime|the MinGW-w64 C runtime's start-up code and helpers, its POSIX threads library (winpthreads) and the import libraries of the DLLs that come with Windows|package:mingw-w64-x86-64-dev|/usr/share/doc/mingw-w64-x86-64-dev"
        "GCC runtime libraries|the C++ standard library (libstdc++) and GCC's support library (libgcc), under the GCC Runtime Library Exception|package:gcc-mingw-w64-x86-64-posix package:g++-mingw-w64-x86-64-posix|/usr/share/doc/gcc-mingw-w64-x86-64-posix"
    )
}

# linked_files: every file the link of orbisk.exe took code from, by its link map: each archive that gave it a
# member, and each object file loaded whole (not the linker's own import stubs, "dll stuff").
linked_files() {
    [[ -s "$WINDOWS_BUILD/orbisk.map" ]] || {
        echo "No link map of orbisk.exe: $WINDOWS_BUILD/orbisk.map" >&2
        exit 1
    }
    awk '/^Archive member included/ { members = 1; next }
         /^(Discarded input sections|Memory Configuration|Allocating common symbols)/ { members = 0 }
         members && /^[^ \t].*\(.*\)$/ { sub(/\([^()]*\)$/, ""); print }
         /^LOAD / && NF == 2 && $2 !~ /\.a$/ { print $2 }' "$WINDOWS_BUILD/orbisk.map" | sort -u |
        while read -r file; do (cd "$WINDOWS_BUILD" && realpath -m "$file"); done
}

# part_of FILE: the row of NOTICE_PARTS that accounts for a linked file, "Orbisk" for its own code, nothing if none.
part_of() {
    local key part files pattern
    case "$1" in
    "$WINDOWS_BUILD"/*) echo Orbisk && return ;;
    "$(realpath "$WINDOWS_LIBRARIES")"/*) key="built:$(basename "$1")" ;;
    *) key="package:$(dpkg -S "$1" 2>/dev/null | sed -n '1s/:.*//p')" ;;
    esac
    for part in "${NOTICE_PARTS[@]}"; do
        IFS='|' read -r _ _ files _ <<<"$part"
        for pattern in $files; do
            # shellcheck disable=SC2053 # the part's files are patterns
            if [[ "$key" == $pattern ]]; then
                echo "$part"
                return
            fi
        done
    done
}

# origin DOC-FOLDER: where a part's copyright file comes from.
origin() {
    if [[ -e "$1/version" ]]; then
        echo "the Debian source package $(basename "$1") $(cat "$1/version")"
    else
        dpkg-query -W -f='the Debian package ${Package} ${Version}, built from the source package ${source:Package}' \
            "$(basename "$1")"
    fi
}

write_notices() {
    local rule="================================================================================"
    local part name holds doc linked licence
    notice_parts
    linked="$(linked_files | while read -r file; do part_of "$file"; done | cut -d'|' -f1 | sort -u)"
    {
        echo "Third-party notices for orbisk.exe"
        echo
        echo "orbisk.exe is Orbisk (see LICENSE.txt) linked with the libraries below. Each section names one, says what"
        echo "of it the program holds and where its copyright file comes from, and then gives that file whole: the"
        echo "copyright holders and licences of every file in the library's sources, of which the program holds only"
        echo "those named. The licence texts that these files refer to follow at the end."
        for part in "${NOTICE_PARTS[@]}"; do
            IFS='|' read -r name holds _ doc <<<"$part"
            [[ -s "$doc/copyright" ]] || {
                echo "No copyright file for $name: $doc/copyright" >&2
                exit 1
            }
            printf '\n%s\n%s\n%s\n\n' "$rule" "$name" "$rule"
            if grep -qxF "$name" <<<"$linked"; then
                echo "orbisk.exe holds $holds."
            else
                echo "Built with $holds; orbisk.exe uses none of it, and the linker left it out, but here is its" \
                    "notice."
            fi
            echo "The copyright file of $(origin "$doc"):"
            echo
            cat "$doc/copyright"
        done
        for part in "${NOTICE_PARTS[@]}"; do
            IFS='|' read -r _ _ _ doc <<<"$part"
            grep -o '/usr/share/common-licenses/[A-Za-z0-9.+_-]*[A-Za-z0-9+]' "$doc/copyright" || true
        done | sort -u | while read -r licence; do
            # GPL is GPL-3 under another name.
            [[ -f "$licence" && ! -L "$licence" ]] || continue
            printf '\n%s\n%s\n%s\n\n' "$rule" "Licence text: $licence" "$rule"
            cat "$licence"
        done
    } >"$1"
}

check_notices() {
    local unaccounted=() text files file part name doc
    notice_parts
    files="$(linked_files)"
    [[ -f "$1/LICENSE.txt" && "$(tr -d '\r' <"$1/LICENSE.txt")" == "$(cat "$ORBISK_ROOT/LICENSE")" ]] ||
        unaccounted+=("Orbisk's own code: LICENSE.txt is missing or not LICENSE")
    text="$(tr -d '\r' <"$1/THIRD-PARTY-NOTICES.txt" 2>/dev/null)" || text=""
    while read -r file; do
        part="$(part_of "$file")"
        IFS='|' read -r name _ _ doc <<<"$part"
        if [[ -z "$part" ]]; then
            unaccounted+=("$file: no part of the notices accounts for it")
        elif [[ "$part" == Orbisk ]]; then
            continue
        elif ! grep -qxF "$name" <<<"$text" || [[ "$text" != *"$(cat "$doc/copyright")"* ]]; then
            unaccounted+=("$file: THIRD-PARTY-NOTICES.txt lacks the section $name with its copyright file")
        fi
    done <<<"$files"
    if [[ ${#unaccounted[@]} -gt 0 ]]; then
        printf 'Linked into orbisk.exe without its notice: %s\n' "${unaccounted[@]}" >&2
        exit 1
    fi
}
