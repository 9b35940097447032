#include "app/Console.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace tamsel
{

void guardStandardStreams()
{
    // open() takes the lowest free number, so going up from 0 fills each closed one in turn.
    for (int descriptor = 0; descriptor <= 2; ++descriptor)
        if (fcntl(descriptor, F_GETFD) == -1 && errno == EBADF)
            open("/dev/null", O_RDWR);
    std::signal(SIGPIPE, SIG_IGN);
}

void attachToParentConsole() {}

} // namespace tamsel
