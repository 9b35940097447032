#pragma once

#include <string>
#include <sys/types.h>

// Every message of the installed command, one line each, naming the path it is about and the system's reason.
namespace tamsel::messages
{

std::string homeUnset();
std::string homeEmpty();
std::string homeRelative(const std::string& home);
std::string homeNoFolder(const std::string& home, int error);
std::string homeIsRoot(const std::string& home);

std::string cannotMakeFolder(const std::string& folder, int error);
std::string folderInRoot(const std::string& folder);
std::string notAFolder(const std::string& folder);
std::string cannotMakeInAnotherUsersFolder(const std::string& folder, const std::string& parent, uid_t owner,
                                           uid_t user);

std::string cannotCopy(const std::string& source, const std::string& folder, int error);
std::string cannotCopyIntoAnotherUsersFolder(const std::string& source, const std::string& folder, uid_t owner,
                                             uid_t user);
std::string shippedNotAFile(const std::string& source, const std::string& folder);
std::string iconNotCopied(const std::string& copyMessage);

std::string cannotEnter(const std::string& folder, int error);
std::string cannotStart(const std::string& program, int error);

} // namespace tamsel::messages
