#pragma once

#include <stdexcept>
#include <string>
#include <sys/types.h>

namespace tamsel
{

/// The option of the menu entry's command line: run in the settings folder, whatever folder it was started in.
constexpr const char* settingsFolderOption = "--settings-folder";

/// Why the command cannot start the program; what() is one line naming the path and the reason.
class LaunchError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// Whether `folder` holds an entry named config.txt: a file, a folder or a link, even one that leads nowhere. A
/// folder the user keeps settings in is run in, and whatever is wrong with its config.txt is the program's to
/// report.
bool holdsSettingsFile(const std::string& folder);

/// The settings folder: "$XDG_CONFIG_HOME/orbisk" when `xdgConfigHome` is an absolute path (a relative one does
/// not count, by the XDG base directory rules), else "$HOME/.config/orbisk". A null pointer is an unset
/// variable. Throws LaunchError when HOME is needed and is not the absolute path of an existing folder other
/// than /. Creates nothing.
std::string findSettingsFolder(const char* home, const char* xdgConfigHome);

/// Makes `folder` and its parent where they are missing, each private to the user (mode 0700 whatever the
/// umask), and never more: a missing grandparent, a folder that would lie directly in / or in a folder of another
/// user (root's start with the user's HOME, under sudo -E), or an entry that is not a folder throws LaunchError.
/// Another start making them at the same time is no mistake.
void makeSettingsFolder(const std::string& folder);

/// The mode of a copy under the umask `mask`: the user reads and writes it whatever the umask, others as it lets.
mode_t copyMode(mode_t mask);

/// Copies the regular file `name` from the folder `shipped` into `folder` unless `folder` holds an entry of that
/// name already (the user's, even a link that leads nowhere), with `mode`. The copy appears whole under its name
/// or not at all (on a file system without hard links, after an empty file held the name for an instant), and
/// never replaces an entry: of starts copying at the same time, one copy wins. Returns whether this call made the
/// copy; throws LaunchError, leaving no file, when it cannot, and when `folder` belongs to another user.
bool copyShippedFile(const std::string& shipped, const std::string& folder, const std::string& name, mode_t mode);

} // namespace tamsel
