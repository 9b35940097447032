#include "errorbox/ErrorBox.hpp"
#include "launcher/Messages.hpp"
#include "launcher/SettingsFolder.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Where the package puts the program and the settings and icon it ships.
constexpr const char* program = ORBISK_PROGRAM;
constexpr const char* shipped = ORBISK_SHIPPED;

// The process's umask, which can only be read by setting it.
mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

void enterSettingsFolder()
{
    using namespace tamsel;
    const std::string folder = findSettingsFolder(std::getenv("HOME"), std::getenv("XDG_CONFIG_HOME"));
    makeSettingsFolder(folder);
    const mode_t mode = copyMode(currentUmask());
    copyShippedFile(shipped, folder, "config.txt", mode);
    // Without its icon the window still opens, and a later start with room on the disk copies it.
    try
    {
        copyShippedFile(shipped, folder, "Orbisk.png", mode);
    }
    catch (const LaunchError& error)
    {
        std::cerr << messages::iconNotCopied(error.what()) << std::endl;
    }
    if (::chdir(folder.c_str()) != 0)
        throw LaunchError(messages::cannotEnter(folder, errno));
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace tamsel;
    try
    {
        // The menu entry passes the option, for the desktop starts it in the home folder, which may hold an
        // unrelated config.txt. Any other argument is ignored, as the program ignores them all.
        const bool fromMenu =
            std::any_of(argv + 1, argv + argc,
                        [](const char* argument) { return std::strcmp(argument, settingsFolderOption) == 0; });
        if (fromMenu || !holdsSettingsFile("."))
            enterSettingsFolder();
        // The program replaces this process, so the signals that the desktop or the terminal send reach it.
        char* const arguments[] = {const_cast<char*>(program), nullptr};
        ::execv(program, arguments);
        throw LaunchError(messages::cannotStart(program, errno));
    }
    catch (const LaunchError& error)
    {
        showError(error.what());
        return 1;
    }
}
