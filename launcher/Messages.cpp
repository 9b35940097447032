#include "launcher/Messages.hpp"

#include <cstring>
#include <pwd.h>

namespace tamsel::messages
{

namespace
{

// HOME is needed only for this folder, so its mistakes are named with it.
const std::string noSettingsFolder = "cannot find the settings folder ~/.config/orbisk: ";

std::string reason(int error)
{
    return std::strerror(error);
}

// "name (uid N)", or "uid N" for an id that no account has.
std::string userNamed(uid_t id)
{
    const struct passwd* account = ::getpwuid(id);
    const std::string number = "uid " + std::to_string(id);
    return account ? account->pw_name + (" (" + number + ")") : number;
}

// A folder root made in a user's home under sudo -E would be root's, and lock the user out of it.
std::string anotherUsersFolder(const std::string& folder, uid_t owner, uid_t user)
{
    return folder + " belongs to " + userNamed(owner) + ", not to " + userNamed(user) +
           ", who runs this command; nothing is made in another user's folder";
}

} // namespace

std::string homeUnset()
{
    return noSettingsFolder + "HOME is not set";
}

std::string homeEmpty()
{
    return noSettingsFolder + "HOME is empty";
}

std::string homeRelative(const std::string& home)
{
    return noSettingsFolder + "HOME is not an absolute path: " + home;
}

std::string homeNoFolder(const std::string& home, int error)
{
    return noSettingsFolder + "HOME names no folder: " + home + ": " + reason(error);
}

std::string homeIsRoot(const std::string& home)
{
    return noSettingsFolder + "HOME is the root folder: " + home;
}

std::string cannotMakeFolder(const std::string& folder, int error)
{
    return "cannot make the folder " + folder + ": " + reason(error);
}

std::string folderInRoot(const std::string& folder)
{
    return "cannot make the folder " + folder + ": no folder is made directly in /";
}

std::string notAFolder(const std::string& folder)
{
    return "cannot use the settings folder " + folder + ": it is not a folder";
}

std::string cannotMakeInAnotherUsersFolder(const std::string& folder, const std::string& parent, uid_t owner,
                                           uid_t user)
{
    return "cannot make the folder " + folder + ": " + anotherUsersFolder(parent, owner, user);
}

std::string cannotCopy(const std::string& source, const std::string& folder, int error)
{
    return "cannot copy " + source + " into " + folder + ": " + reason(error);
}

std::string cannotCopyIntoAnotherUsersFolder(const std::string& source, const std::string& folder, uid_t owner,
                                             uid_t user)
{
    return "cannot copy " + source + " into " + folder + ": " + anotherUsersFolder(folder, owner, user);
}

std::string shippedNotAFile(const std::string& source, const std::string& folder)
{
    return "cannot copy " + source + " into " + folder + ": not a regular file";
}

std::string iconNotCopied(const std::string& copyMessage)
{
    return copyMessage + "; the window keeps the desktop's default icon";
}

std::string cannotEnter(const std::string& folder, int error)
{
    return "cannot enter the settings folder " + folder + ": " + reason(error);
}

std::string cannotStart(const std::string& program, int error)
{
    return "cannot start the program " + program + ": " + reason(error);
}

} // namespace tamsel::messages
