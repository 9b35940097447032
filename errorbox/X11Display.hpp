#pragma once

#include <memory>
#include <string>

struct _XDisplay;

namespace tamsel
{

/// The program's connection to the X display that DISPLAY names, shared by all who hold it at the same time (the
/// window's display probe, the error box) and closed once the last of them lets it go. Null when no display can be
/// opened.
std::shared_ptr<_XDisplay> connectX11Display();

/// The display asked for, for messages: the DISPLAY variable, or a note that it is not set.
std::string getX11DisplayName();

} // namespace tamsel
