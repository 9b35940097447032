#include "app/Display.hpp"

#include <cstdlib>

#if defined(_WIN32) || defined(__APPLE__)

namespace tamsel
{

DisplayConnection::DisplayConnection() : m_display(nullptr, nullptr) {}

bool DisplayConnection::isOpen() const
{
    return true;
}

std::string DisplayConnection::getName() const
{
    return "the desktop";
}

} // namespace tamsel

#else

#include "app/Console.hpp"

#include <X11/Xlib.h>

namespace tamsel
{

DisplayConnection::DisplayConnection() : m_display(XOpenDisplay(nullptr), XCloseDisplay) {}

bool DisplayConnection::isOpen() const
{
    return m_display != nullptr;
}

std::string DisplayConnection::getName() const
{
    const char* name = std::getenv("DISPLAY");
    return name ? "\"" + printable(name) + "\"" : "(DISPLAY is not set)";
}

} // namespace tamsel

#endif
