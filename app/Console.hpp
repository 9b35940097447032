#pragma once

namespace tamsel
{

/// Makes the standard streams safe to use, whatever the program was started with. Elsewhere than on Windows, a
/// closed standard descriptor (0, 1 or 2) is opened on /dev/null, so that no file the program opens later (the
/// display's connection, say) takes its number and receives what is written to the stream; and SIGPIPE is
/// ignored, so that a closed pipe on standard output or error costs the lines written to it, not the program.
void guardStandardStreams();

/// Lets standard output and standard error reach the console the program was started from. On Windows the
/// program has no console of its own (double-clicking it opens no console window), so output that is not
/// redirected goes to the parent's console when there is one, and nowhere otherwise. Elsewhere it does nothing.
void attachToParentConsole();

} // namespace tamsel
