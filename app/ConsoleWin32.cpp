#include "app/Console.hpp"

#include <cstdio>
#include <windows.h>

namespace tamsel
{

namespace
{

// A stream that already leads somewhere (a file, a pipe, a console) keeps its place.
bool leadsNowhere(DWORD stream)
{
    const HANDLE handle = GetStdHandle(stream);
    return handle == nullptr || handle == INVALID_HANDLE_VALUE || GetFileType(handle) == FILE_TYPE_UNKNOWN;
}

} // namespace

void attachToParentConsole()
{
    const bool output = leadsNowhere(STD_OUTPUT_HANDLE);
    const bool error = leadsNowhere(STD_ERROR_HANDLE);
    if ((!output && !error) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (output)
        std::freopen("CONOUT$", "w", stdout);
    if (error)
        std::freopen("CONOUT$", "w", stderr);
}

// A Windows program has no descriptors that a later file could take, and no SIGPIPE.
void guardStandardStreams() {}

} // namespace tamsel
