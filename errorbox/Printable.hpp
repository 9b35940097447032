#pragma once

#include <string>

namespace tamsel
{

/// The text as a message may show it on a terminal or in a box: every byte that could drive a terminal, is no
/// part of a UTF-8 character or belongs to a character that shows nothing is written as \xNN (two lower-case hex
/// digits): control characters other than line feed and tab, DEL, NUL, the C1 controls, bytes of broken UTF-8,
/// and format characters that take no room (the byte-order mark, zero-width spaces and joiners, directional
/// marks, tags and the like) with the line and paragraph separators. Everything else stays as it is.
std::string printable(const std::string& text);

} // namespace tamsel
