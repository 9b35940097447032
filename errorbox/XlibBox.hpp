#pragma once

#include <string>

struct _XDisplay;

namespace tamsel
{

/// Shows the message in a small modal box of its own on the open X display, titled "Error", with a red error mark
/// and an "OK" button, and returns true once the user has dismissed it (Return, Escape, OK or the close button).
/// Needs nothing on the X server beyond the "fixed" font every server has. Returns false at once when the server
/// has no font at all. A very long message shows its first lines only.
bool showXlibBox(_XDisplay* display, const std::string& message);

} // namespace tamsel
