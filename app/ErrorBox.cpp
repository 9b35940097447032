#include "app/ErrorBox.hpp"

#include <iostream>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <cstdlib>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;
#endif

namespace tamsel
{

#if defined(_WIN32)

void showError(const std::string& message)
{
    std::cerr << "Error: " << message << std::endl;
    MessageBoxA(nullptr, message.c_str(), "Error", MB_ICONERROR | MB_OK);
}

#else

namespace
{

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

// Runs a program with exactly these arguments (no shell sees the message) and waits for it to end.
void runAndWait(const std::string& program, std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return;
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR)
    {
    }
}

} // namespace

void showError(const std::string& message)
{
    std::cerr << "Error: " << message << std::endl;

    // The first dialog tool that is installed shows the box; without any, standard error carries the message.
    struct Dialog
    {
        const char* name;
        std::vector<std::string> args;
    };
    const Dialog dialogs[] = {
        {"zenity", {"zenity", "--error", "--title=Error", "--no-markup", "--text=" + message}},
        {"kdialog", {"kdialog", "--title", "Error", "--error", message}},
        {"xmessage", {"xmessage", "-title", "Error", "-center", "-buttons", "OK", message}},
    };
    for (const Dialog& dialog : dialogs)
    {
        const std::string program = findOnPath(dialog.name);
        if (!program.empty())
        {
            runAndWait(program, dialog.args);
            return;
        }
    }
}

#endif

} // namespace tamsel
