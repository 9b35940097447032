# shellcheck shell=bash
# Mistakes in config.txt: the program shows the message in an error box and on standard error, opens no window
# and exits with status 1. Each row of the table below is a case of its own, named Error and the row's name.

declare -gA ERROR_CONFIG=() ERROR_MESSAGE=() ERROR_NOTE=()
ERROR_CASES=()

# settings_error NAME CONFIG MESSAGE [NOTE]: a mistake in config.txt, the file to write (lines apart by "|",
# escapes as write_config takes them; NONE: nothing there at all; FOLDER, DANGLING_LINK, NO_PERMISSION: a
# config.txt that cannot be read, a folder, a link to nothing, a good file that the user may not read), the whole
# message the program gives, its lines apart by line feeds, and a line that standard error has besides; in both
# @CONFIG@ stands for the full path of config.txt.
settings_error() {
    ERROR_CONFIG[$1]=$2 ERROR_MESSAGE[$1]=$3 ERROR_NOTE[$1]=${4:-}
}

# error_row NAME CONFIG MESSAGE [NOTE]: a settings error that is a case of its own.
error_row() {
    settings_error "$@"
    ERROR_CASES+=("$1")
}

# The last line of a mistake in the file: the file, and where they are known, its lines (at_line FIRST [LAST]).
IN_FILE=$'\n'"in the settings file @CONFIG@"
at_line() {
    if (($# == 1)); then
        printf '\nline %s of the settings file @CONFIG@' "$1"
    else
        printf '\nlines %s to %s of the settings file @CONFIG@' "$1" "$2"
    fi
}
JOINS=$'\n''a blank line or a line without "=" (a comment, say) joins the next key: the settings file has no comments'

# A key of 200,000 characters, longer than the kernel allows for one argument of a program (128 KiB); it starts
# with three-byte characters, two columns wide in a box, whose lines must end between characters.
LONG_KEY="$(printf '%70000s' '' | sed 's/ /\xE2\x82\xAC/g')$(head -c 130000 /dev/zero | tr '\0' k)"

error_row UnknownKey "colour = 3" "invalid configuration: colour$(at_line 1)"
error_row LongKey "$LONG_KEY = 1" "invalid configuration: $LONG_KEY$(at_line 1)"
error_row BadNumber 'region_size = 55\nfriction = O.01' \
    "invalid stof argument"$'\n'"friction = O.01: the value does not begin with a number$(at_line 2)"
error_row NumberOutOfRange "friction = 1e39" \
    "stof argument out of range"$'\n'"friction = 1e39: the number is too large for a 32-bit float$(at_line 1)"
error_row NumberTooSmall "friction = 1e-50" \
    "stof argument out of range"$'\n'"friction = 1e-50: the number is too close to 0 for a 32-bit float$(at_line 1)"
error_row BlankLine "region_size = 55||type_count = 3" \
    "invalid configuration: "$'\n'"type_count$JOINS$(at_line 2 3)"
error_row CommentLine "# a comment|region_size = 55" \
    "invalid configuration: # a comment"$'\n'"region_size$JOINS$(at_line 1 2)"
error_row NoRegions "regions_x_count = 0" "invalid configuration: regions_x_count must be at least 1$IN_FILE"
error_row RadiusBeyondRegion "region_size = 55|effective_radius = 1e6|maximum_interaction_distance = -2e6" \
    "invalid configuration: effective_radius must be at most region_size (particles push only within the neighbouring regions)$IN_FILE"
# An empty value ends the reading quietly: the region size after it is not read, and the defaults' reach fails.
error_row StopsAtEmptyValue "friction =|region_size = 55" "invalid maximum effective distance$IN_FILE" \
    "reading the settings file @CONFIG@ stopped at line 1, whose value is empty; the lines after it were not read"
error_row NoConfig NONE \
    "invalid maximum effective distance"$'\n'"there is no settings file @CONFIG@; the built-in defaults were used"
# A * in the message stands for what depends on the machine.
error_row WindowTooLarge "region_size = 55|regions_x_count = 400" \
    "invalid configuration: the world is 22000 x 550 units, larger than the largest window the graphics system can show, * x * pixels$IN_FILE"
error_row ControlCharacters 'col\e]0;title\aour\e[2J\b = 3' \
    "invalid configuration: col\\x1b]0;title\\x07our\\x1b[2J\\x08$(at_line 1)"
error_row NulByte 'col\0our = 3' "invalid configuration: col\\x00our$(at_line 1)"
error_row BrokenUtf8 'k\xc2\x9b\xff\xc3\xa9\x7f = 1' "invalid configuration: k\\xc2\\x9b\\xffé\\x7f$(at_line 1)"
error_row LoneCarriageReturn 'region_size = 55\rcolour = 3\rtype_count = 3' "invalid configuration: colour$(at_line 2)"
# A key that looks right but for a byte-order mark before it.
error_row ByteOrderMark '\xef\xbb\xbfrepulsion_strength = 1' \
    "invalid configuration: \\xef\\xbb\\xbfrepulsion_strength$(at_line 1)"
DEFAULTS_USED="; the built-in defaults were used"$'\n'"invalid maximum effective distance"
error_row UnreadableFolder FOLDER "the settings file @CONFIG@ could not be read (Is a directory)$DEFAULTS_USED"
error_row DanglingLink DANGLING_LINK \
    "the settings file @CONFIG@ could not be read (a link to missing.txt: No such file or directory)$DEFAULTS_USED"
error_row NoPermission NO_PERMISSION "the settings file @CONFIG@ could not be read (Permission denied)$DEFAULTS_USED"

# expect_error_line MESSAGE: standard error has the line "Error: " MESSAGE, where a * in MESSAGE matches anything;
# prints the message as the program gave it.
expect_error_line() {
    local actual
    if [[ $1 != *"*"* ]]; then
        expect_stderr_line "Error: $1"
        printf '%s' "$1"
        return
    fi
    actual=$(sed -n 's/^Error: //p' "$WORK/stderr" | head -n 1)
    # shellcheck disable=SC2053
    [[ $actual == $1 ]] || die "standard error lacks \"$1\": $(cat "$WORK/stderr")"
    printf '%s' "$actual"
}

# write_settings_file CONFIG: config.txt as a row of the table gives it.
write_settings_file() {
    local lines
    case $1 in
    NONE) ;;
    FOLDER) mkdir "$WORK/config.txt" ;;
    DANGLING_LINK) ln -s missing.txt "$WORK/config.txt" ;;
    NO_PERMISSION)
        if ((EUID == 0)); then
            echo "SKIP: root may read any file"
            exit 77
        fi
        write_config "region_size = 55"
        chmod 0 "$WORK/config.txt"
        ;;
    *)
        IFS='|' read -ra lines <<<"$1"
        write_config "${lines[@]}"
        ;;
    esac
}

# error_case NAME: the program shows the message in an error box and on standard error, opens no window and
# exits with status 1.
error_case() {
    [[ -v "ERROR_CONFIG[$1]" ]] || die "no error case named $1"
    local config="${ERROR_CONFIG[$1]}" message="${ERROR_MESSAGE[$1]}" note="${ERROR_NOTE[$1]}" path rest line
    with_display
    write_settings_file "$config"
    path="$(cd "$WORK" && pwd -P)/config.txt"
    message=${message//@CONFIG@/$path}
    start_orbisk
    expect_exit 1
    expect_no_orbisk_window
    # The message's first line follows "Error: ", the others follow it.
    # (Cut by head and tail: the shell's cut at a pattern takes a time that grows with the square of the length.)
    rest=$(printf '%s' "$message" | tail -n +2)
    message=$(expect_error_line "$(printf '%s' "$message" | head -n 1)") || exit 1
    if [[ -n "$rest" ]]; then
        while IFS= read -r line; do
            expect_stderr_line "$line"
        done <<<"$rest"
        message+=$'\n'$rest
    fi
    [[ -z "$note" ]] || expect_stderr_line "${note//@CONFIG@/$path}"
    # No byte of standard error drives a terminal: no control character but the line feed.
    if LC_ALL=C grep -qaP '[\x00-\x09\x0b-\x1f\x7f]' "$WORK/stderr"; then
        die "standard error holds a control character: $(od -An -c "$WORK/stderr" | head -n 20)"
    fi
    expect_dialog "$message"
}
