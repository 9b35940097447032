#pragma once

#include <string>

namespace tamsel
{

/// Shows a modal error box titled "Error" with the message and returns once the user has dismissed it. The
/// message also goes to standard error, so it survives where no dialog can be shown.
void showError(const std::string& message);

/// Whether a window can be opened at all (on X11: whether the display can be reached).
bool isDisplayAvailable();

} // namespace tamsel
