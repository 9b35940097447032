#include "platform/X11Display.hpp"

#include <X11/Xlib.h>

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

} // namespace tamsel
