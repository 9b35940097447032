#pragma once

#include <memory>

struct _XDisplay;

namespace tamsel
{

/// The program's connection to the X display that DISPLAY names, shared by all who hold it at the same time (the
/// window's display probe, the error box) and closed once the last of them lets it go. Null when no display can be
/// opened.
std::shared_ptr<_XDisplay> connectX11Display();

} // namespace tamsel
