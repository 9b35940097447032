#pragma once

#include <cstddef>
#include <string>

namespace tamsel
{

/// The text as a message may show it on a terminal or in a box: every byte that could drive a terminal, is no
/// part of a UTF-8 character or belongs to a character that shows nothing is written as \xNN (two lower-case hex
/// digits): control characters other than line feed and tab, DEL, NUL, the C1 controls, bytes of broken UTF-8,
/// and format characters that take no room (the byte-order mark, zero-width spaces and joiners, directional
/// marks, tags and the like) with the line and paragraph separators. Everything else stays as it is.
std::string printable(const std::string& text);

/// The most lines a box shows, and the most columns of each: a box of them, in a desktop's usual fonts, fits a
/// screen of 640 x 480 pixels with its button.
constexpr std::size_t boxLines = 16;
constexpr std::size_t boxColumns = 36;

/// The text as a box shows it, the same for a dialog tool and for the box of the program's own: tabs become blanks
/// and the text is wrapped to lines of at most boxColumns columns, after the last blank that fits, or inside a
/// word longer than a line, never inside a character. A character takes one column in ASCII and the Latin, Greek
/// and Cyrillic scripts with their combining marks, and two beyond. Of more than boxLines lines the first are kept,
/// a line "..." that says what was left out, and the last paragraphs (the text's own lines) that fit into half the
/// box, since a message ends with where its mistake lies.
std::string boxText(const std::string& text);

} // namespace tamsel
