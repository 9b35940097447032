#pragma once

#include <string>

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

std::string cannotCopy(const std::string& source, const std::string& folder, int error);
std::string iconNotCopied(const std::string& copyMessage);

std::string cannotEnter(const std::string& folder, int error);
std::string cannotStart(const std::string& program, int error);

} // namespace tamsel::messages
