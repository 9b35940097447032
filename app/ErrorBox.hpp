#pragma once

#include <string>

namespace tamsel
{

/// Shows a modal error box titled "Error" with the message and returns once the user has dismissed it. The
/// message also goes to standard error, so it survives where no dialog can be shown.
void showError(const std::string& message);

} // namespace tamsel
