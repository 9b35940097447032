#pragma once

#include <string>

struct _XDisplay;

namespace tamsel
{

/// Shows the text, as boxText() gives it, in a small modal box of its own on the open X display, titled "Error",
/// with a red error mark and an "OK" button, as wide as its longest line (at least 420 pixels, at most the
/// screen), and returns true once the user has dismissed it (Return, Escape, OK or the close button) or another
/// client has destroyed it. Needs nothing on the X server beyond the "fixed" font every server has. Returns false
/// at once when the server has no font at all.
bool showXlibBox(_XDisplay* display, const std::string& text);

} // namespace tamsel
