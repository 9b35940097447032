#include "app/ErrorBox.hpp"

#include "app/Console.hpp"

#include <iostream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#if !defined(__APPLE__)
#include "app/Display.hpp"
#include "app/X11ErrorBox.hpp"
#endif

extern char** environ;
#endif

namespace tamsel
{

#if defined(_WIN32)

void showError(const std::string& text)
{
    const std::string message = printable(text);
    std::cerr << "Error: " << message << std::endl;
    MessageBoxA(nullptr, message.c_str(), "Error", MB_ICONERROR | MB_OK);
}

#else

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

// The message cut to maximumToolText bytes at a character boundary, ending in an ellipsis.
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

struct Dialog
{
    const char* name;
    std::vector<std::string> args;
};

// The installed tools that may show the box, in the order they are tried; each looks native on its desktop.
std::vector<Dialog> dialogs(const std::string& text)
{
#if defined(__APPLE__)
    // The text reaches the script as an argument, never as part of its source.
    return {{"osascript",
             {"osascript", "-e", "on run argv", "-e",
              "display alert \"Error\" message (item 1 of argv) as critical buttons {\"OK\"} default button \"OK\"",
              "-e", "end run", "--", text}}};
#else
    return {
        {"zenity", {"zenity", "--error", "--title=Error", "--no-markup", "--text=" + text}},
        {"kdialog", {"kdialog", "--title", "Error", "--error", text}},
    };
#endif
}

// Whether one of the dialog tools showed the message.
bool showWithTool(const std::string& message)
{
    for (const Dialog& dialog : dialogs(shortened(message)))
    {
        const std::string program = findOnPath(dialog.name);
        if (!program.empty() && runDialog(program, dialog.args))
            return true;
    }
    return false;
}

} // namespace

#if defined(__APPLE__)

void showError(const std::string& text)
{
    const std::string message = printable(text);
    std::cerr << "Error: " << message << std::endl;
    if (!showWithTool(message))
        std::cerr << "Error: the error box could not be shown (osascript failed)" << std::endl;
}

#else

void showError(const std::string& text)
{
    const std::string message = printable(text);
    std::cerr << "Error: " << message << std::endl;

    // Held while the box is up: a bare X server that resets as its last client leaves would refuse the next one.
    const DisplayConnection display;
    if (!display.isOpen())
    {
        std::cerr << "Error: no display available: cannot open the display " << display.getName()
                  << ", so no error box could be shown" << std::endl;
        return;
    }

    // A desktop's own dialog tool looks native; where none is installed or it fails, the box of our own.
    if (!showWithTool(message) && !showX11ErrorBox(message))
        std::cerr << "Error: the error box could not be shown on the display " << display.getName() << std::endl;
}

#endif

#endif

} // namespace tamsel
