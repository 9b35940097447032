#pragma once

#include <string>

namespace tamsel
{

/// Shows a modal error box titled "Error" with the message and returns once the user has dismissed it. The whole
/// message also goes to standard error, the only channel where no display can be opened: then no box is tried.
/// Both show the message as printable() gives it, so that no byte of it can drive a terminal; the box shows its
/// first lines, wrapped by boxText() so that the box fits even a small screen.
void showError(const std::string& message);

/// What standard error says when no display can be opened, naming the display asked for.
std::string noDisplayMessage(const std::string& displayName);

/// On X11 the display asked for, for messages: the DISPLAY variable quoted, each byte printable, or a note that it
/// is not set.
std::string getX11DisplayName();

} // namespace tamsel
