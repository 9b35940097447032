#pragma once

namespace tamsel
{

/// Lets standard output and standard error reach the console the program was started from. On Windows the
/// program has no console of its own (double-clicking it opens no console window), so output that is not
/// redirected goes to the parent's console when there is one, and nowhere otherwise. Elsewhere it does nothing.
void attachToParentConsole();

} // namespace tamsel
