# shellcheck shell=bash
# Sourced by scripts/windows: SFML, FreeType and GoogleTest for Windows, built with MinGW-w64 from the distribution's
# source packages, once; the result is kept in ${XDG_CACHE_HOME:-~/.cache}/orbisk/windows and reused while the
# compiler and package versions hold.
#   windows_libraries   builds them where the cache has no build for these versions; WINDOWS_LIBRARIES is the
#                       folder they are installed in, with each library's copyright file under share/doc/NAME
# shellcheck source=../common.sh
source "$(dirname "${BASH_SOURCE[0]}")/../common.sh"

WINDOWS_TRIPLE=x86_64-w64-mingw32
# Bump when the way the libraries are built changes, so that older builds in the cache are not reused.
WINDOWS_RECIPE=2

candidate() {
    apt-cache policy "$1" | awk '$1 == "Candidate:" { print $2 }'
}

# The active archive entries of this machine, as source entries: one-line entries go to DIR/sources.list,
# deb822 stanzas to DIR/sources.list.d/source.sources.
source_entries() {
    local dir="$1" file
    mkdir -p "$dir/sources.list.d"
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -e "$file" ]] || continue
        sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$file"
    done >"$dir/sources.list"
    for file in /etc/apt/sources.list.d/*.sources; do
        [[ -e "$file" ]] || continue
        awk 'BEGIN { RS = ""; ORS = "\n\n" }
             /(^|\n)Types:[^\n]*[ \t]deb([ \t\n]|$)/ && !/(^|\n)Enabled:[ \t]*no/ {
                 s = $0; gsub(/(^|\n)#[^\n]*/, "", s); sub(/^\n/, "", s); sub(/Types:[^\n]*/, "Types: deb-src", s); print s
             }' "$file"
    done >"$dir/sources.list.d/source.sources"
}

# fetch_sources DIR PACKAGE...: unpacks the distribution's source packages into DIR. apt works on a private
# list of source entries and a private package index in DIR, so the machine's own apt set-up is left untouched.
fetch_sources() {
    local dir="$1"
    shift
    source_entries "$dir/apt"
    mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial"
    local apt=(apt-get -q -o "Dir::Etc::SourceList=$dir/apt/sources.list"
        -o "Dir::Etc::SourceParts=$dir/apt/sources.list.d" -o "Dir::State::Lists=$dir/apt/lists"
        -o "Dir::Cache=$dir/apt/cache" -o "APT::Get::List-Cleanup=0" -o "APT::Sandbox::User=$(id -un)")
    # An entry whose archive offers no sources fails alone; apt-get source below says what is missing.
    "${apt[@]}" update >"$dir/apt-update.log" 2>&1 || cat "$dir/apt-update.log" >&2
    (cd "$dir" && "${apt[@]}" source "$@" >"$dir/apt-source.log" 2>&1) || {
        cat "$dir/apt-source.log" >&2
        echo "Could not get the source packages $* from this machine's archive entries" >&2
        exit 1
    }
}

# build_libraries PREFIX: builds and installs the libraries into PREFIX, in a scratch folder WORK that is removed
# at the end (and by the caller's exit trap, should the build fail).
build_libraries() {
    local prefix="$1"
    work=$(mktemp -d "${TMPDIR:-/tmp}/orbisk-windows-deps.XXXXXX")

    echo "== sources of SFML and FreeType"
    fetch_sources "$work/src" libsfml freetype
    local sfml freetype
    sfml=$(find "$work/src" -maxdepth 1 -type d -name 'libsfml-*' | head -n 1)
    freetype=$(find "$work/src" -maxdepth 1 -type d -name 'freetype-*' | head -n 1)
    [[ -d "$sfml" && -d "$freetype" ]] || {
        echo "The source packages did not unpack as expected" >&2
        exit 1
    }

    # Each library's copyright and licences, as its Debian source package states them, go with the build: the zip's
    # notices are made from them.
    local package dir
    for package in libsfml:"$sfml" freetype:"$freetype"; do
        dir="$prefix/share/doc/${package%%:*}"
        mkdir -p "$dir"
        cp "${package#*:}/debian/copyright" "$dir/copyright"
        dpkg-parsechangelog -l "${package#*:}/debian/changelog" -S Version >"$dir/version"
    done

    local cmake=(cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ORBISK_ROOT/cmake/mingw-w64.cmake"
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_FIND_ROOT_PATH="$prefix"
        -DBUILD_SHARED_LIBS=OFF)

    echo "== FreeType for Windows"
    # Only what SFML needs to read fonts; no compressed or colour fonts, so no further libraries.
    logged "$work/freetype.log" "${cmake[@]}" -S "$freetype" -B "$work/freetype" -DFT_DISABLE_ZLIB=ON \
        -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BROTLI=ON
    logged "$work/freetype.log" cmake --build "$work/freetype" --target install

    echo "== SFML for Windows"
    logged "$work/sfml.log" "${cmake[@]}" -S "$sfml" -B "$work/sfml" -DSFML_BUILD_AUDIO=OFF -DSFML_BUILD_NETWORK=OFF \
        -DSFML_BUILD_EXAMPLES=OFF -DSFML_USE_STATIC_STD_LIBS=ON \
        -DSFML_USE_SYSTEM_DEPS=ON -DFREETYPE_INCLUDE_DIR_ft2build="$prefix/include/freetype2" \
        -DFREETYPE_INCLUDE_DIR_freetype2="$prefix/include/freetype2" \
        -DFREETYPE_LIBRARY="$prefix/lib/libfreetype.a"
    logged "$work/sfml.log" cmake --build "$work/sfml" --target install
    # SFML names Windows' OpenGL library OpenGL32, which only a case-blind file system finds; MinGW has opengl32.
    sed -i 's/"OpenGL32"/"opengl32"/' "$prefix/lib/cmake/SFML/SFMLConfigDependencies.cmake"

    echo "== GoogleTest for Windows"
    logged "$work/gtest.log" "${cmake[@]}" -S /usr/src/googletest -B "$work/gtest" -DBUILD_GMOCK=OFF
    logged "$work/gtest.log" cmake --build "$work/gtest" --target install
    rm -rf "$work"
    work=""
}

windows_libraries() {
    local cache="$ORBISK_CACHE/windows" key partial
    key="r$WINDOWS_RECIPE-gcc$("$WINDOWS_TRIPLE-g++-posix" -dumpversion)-sfml$(candidate libsfml-dev)-freetype$(
        candidate libfreetype-dev)-gtest$(candidate libgtest-dev)"
    WINDOWS_LIBRARIES="$cache/$key"
    if [[ ! -d "$WINDOWS_LIBRARIES" ]]; then
        # Built under a name of its own and renamed when complete: an interrupted or parallel build never leaves a
        # half-built folder under the final name. The CMake files of these libraries find them relative to
        # themselves.
        partial="$WINDOWS_LIBRARIES.partial-$$"
        rm -rf "$partial"
        mkdir -p "$cache"
        build_libraries "$partial"
        mv -T "$partial" "$WINDOWS_LIBRARIES" 2>/dev/null || rm -rf "$partial"
    fi
    echo "Libraries for Windows: $WINDOWS_LIBRARIES"
}
