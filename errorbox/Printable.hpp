#pragma once

#include <string>

namespace tamsel
{

/// The text as a message may show it on a terminal or in a box: every byte that could drive a terminal or is no
/// part of a UTF-8 character is written as \xNN (two lower-case hex digits): control characters other than line
/// feed and tab, DEL, NUL, the C1 controls and bytes of broken UTF-8. Everything else stays as it is.
std::string printable(const std::string& text);

} // namespace tamsel
