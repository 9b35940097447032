#pragma once

#include <string>
#include <vector>

namespace tamsel
{

/// A program of the desktop's that may show the box, and the arguments to run it with, its own name first.
struct DialogTool
{
    const char* name;
    std::vector<std::string> args;
};

/// Runs each tool found on PATH in turn, with exactly its arguments (no shell sees the message), until one shows
/// its box, and returns once that one has ended: whether one did. A tool that cannot be started, is killed by a
/// signal or ends with a failure status within two seconds counts as showing none. Its status is waited for even
/// where the program was started with SIGCHLD ignored. SIGTERM, SIGINT or SIGHUP sent
/// to the program while a tool runs (and not ignored) ends the tool, then the program by that signal.
bool showWithTool(const std::vector<DialogTool>& tools);

} // namespace tamsel
