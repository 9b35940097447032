#include "errorbox/X11Display.hpp"

#include "errorbox/Printable.hpp"

#include <X11/Xlib.h>

#include <cstdlib>

namespace tamsel
{

std::shared_ptr<_XDisplay> connectX11Display()
{
    // Only the holders keep the connection; this merely finds it while one of them does.
    static std::weak_ptr<_XDisplay> shared;
    std::shared_ptr<_XDisplay> display = shared.lock();
    if (display)
        return display;
    if (Display* opened = XOpenDisplay(nullptr))
        display.reset(opened, XCloseDisplay);
    shared = display;
    return display;
}

std::string getX11DisplayName()
{
    const char* name = std::getenv("DISPLAY");
    return name ? "\"" + printable(name) + "\"" : "(DISPLAY is not set)";
}

} // namespace tamsel
