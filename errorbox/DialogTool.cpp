#include "errorbox/DialogTool.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tamsel
{

namespace
{

// A dialog tool gets at most this much of the message: a few KiB fill a box, and the whole message may exceed
// what the kernel allows for a program's arguments. Standard error always has all of it.
constexpr std::size_t maximumToolText = 4096; // bytes, the ellipsis included

// zenity ends with status 1 both when the user closes its box and when it could not show one (no usable
// display, a broken desktop), so the status alone cannot tell them apart; what can is the time. Failing takes
// a fraction of a second, while a box has to appear, be read and be dismissed before its tool ends with a
// failure status. A failure sooner than this counts as no box shown: at worst a very quick user sees the
// message a second time, in the box of our own, which is better than seeing no box at all.
constexpr std::chrono::milliseconds quickFailure{2000};

// The full path of an executable found on PATH, or an empty string.
std::string findOnPath(const std::string& name)
{
    const char* path = std::getenv("PATH");
    if (!path)
        return {};
    const std::string dirs = path;
    std::size_t start = 0;
    while (start <= dirs.size())
    {
        std::size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        const std::string candidate = dir + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// Runs a dialog tool with exactly these arguments (no shell sees the message), waits for it to end and tells
// whether it showed its box: not when it could not be started, was killed by a signal, or ended with a failure
// status within quickFailure.
bool runDialog(const std::string& program, std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    // The tool gets SIGPIPE's default back: an ignored signal stays ignored across exec.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const auto started = std::chrono::steady_clock::now();
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0)
        return false;
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(child, &status, 0)) < 0 && errno == EINTR)
    {
    }
    if (ended != child || !WIFEXITED(status))
        return false;
    return WEXITSTATUS(status) == 0 || std::chrono::steady_clock::now() - started >= quickFailure;
}

} // namespace

std::string shortened(const std::string& message)
{
    if (message.size() <= maximumToolText)
        return message;
    const std::string ellipsis = "\xE2\x80\xA6"; // U+2026 in UTF-8
    std::size_t cut = maximumToolText - ellipsis.size();
    while (cut > 0 && (static_cast<unsigned char>(message[cut]) & 0xC0) == 0x80)
        --cut;
    return message.substr(0, cut) + ellipsis;
}

bool showWithTool(const std::vector<DialogTool>& tools)
{
    for (const DialogTool& tool : tools)
    {
        const std::string program = findOnPath(tool.name);
        if (!program.empty() && runDialog(program, tool.args))
            return true;
    }
    return false;
}

} // namespace tamsel
