#include "app/Display.hpp"
#include "platform/SfmlCompat.hpp"

#include <gtest/gtest.h>

// After the test framework, whose names Xlib's macros (None, Success) would replace.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>

namespace
{

using tamsel::DisplayConnection;

// The icon's width, height and first pixel on the window, as the desktop reads them; 0, 0, 0 when it has none.
struct IconStart
{
    unsigned long width = 0;
    unsigned long height = 0;
    unsigned long firstPixel = 0;
};

IconStart readIcon(Display* display, Window window)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    IconStart start;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_ICON", False), 0, 3, False, XA_CARDINAL,
                           &type, &format, &count, &remaining, &data) == Success &&
        data && format == 32 && count == 3)
    {
        // Xlib hands 32-bit values over as longs, widened with their sign.
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        start = {values[0], values[1], values[2] & 0xFFFFFFFFu};
    }
    if (data)
        XFree(data);
    return start;
}

} // namespace

// The window belongs to another connection, as the graphics library's does, and may be closed over it before the
// icon arrives: that costs the icon, never the program, whose connection reports the refusal when it next reads
// or closes. The connection then still hands icons to live windows.
TEST(DisplayConnection, IconForAClosedWindowCostsOnlyTheIcon)
{
    const std::unique_ptr<Display, int (*)(Display*)> other(XOpenDisplay(nullptr), XCloseDisplay);
    ASSERT_TRUE(other);
    const Window root = DefaultRootWindow(other.get());
    const Window closed = XCreateSimpleWindow(other.get(), root, 0, 0, 10, 10, 0, 0, 0);
    const Window live = XCreateSimpleWindow(other.get(), root, 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(other.get(), closed);
    XSync(other.get(), False);

    const sf::Image icon = tamsel::sfml::makeImage({2, 3}, sf::Color(48, 128, 255, 200));
    {
        const DisplayConnection display;
        ASSERT_TRUE(display.isOpen());
        display.showIcon(closed, icon);
        display.showIcon(live, icon);
    }
    const IconStart start = readIcon(other.get(), live);
    EXPECT_EQ(start.width, 2u);
    EXPECT_EQ(start.height, 3u);
    EXPECT_EQ(start.firstPixel, 0xC83080FFu);
}
