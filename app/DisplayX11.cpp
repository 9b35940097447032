#include "app/Display.hpp"

#include "errorbox/X11Display.hpp"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tamsel
{

namespace
{

int ignoreError(Display*, XErrorEvent*)
{
    return 0;
}

} // namespace

DisplayConnection::DisplayConnection() : m_display(connectX11Display()) {}

bool DisplayConnection::isOpen() const
{
    return m_display != nullptr;
}

std::string DisplayConnection::getName() const
{
    return getX11DisplayName();
}

bool DisplayConnection::offersOpenGL() const
{
    if (!m_display)
        return false;
    Display* display = m_display.get();
    int errorBase = 0;
    int eventBase = 0;
    if (!glXQueryExtension(display, &errorBase, &eventBase))
        return false;
    // What the graphics library insists on when it picks the window's visual.
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, None};
    XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
    if (!visual)
        return false;
    XFree(visual);
    return true;
}

unsigned DisplayConnection::getBitsPerPixel() const
{
    constexpr unsigned wanted = 32; // bits per pixel
    if (!m_display)
        return wanted;
    Display* display = m_display.get();
    const int depth = DefaultDepth(display, DefaultScreen(display));
    // A depth of 24 or 30 is stored in 32 bits a pixel; the server says so in its pixmap formats.
    int bits = depth;
    int count = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(display, &count))
    {
        for (int i = 0; i < count; ++i)
            if (formats[i].depth == depth)
                bits = formats[i].bits_per_pixel;
        XFree(formats);
    }
    return bits >= static_cast<int>(wanted) ? wanted : static_cast<unsigned>(depth);
}

std::optional<sf::Vector2i> DisplayConnection::getUnmanagedPosition(sf::Vector2u size) const
{
    if (!m_display)
        return std::nullopt;
    Display* display = m_display.get();
    const int screen = DefaultScreen(display);
    // A window manager owns the selection WM_Sn of the screen it manages.
    const std::string selection = "WM_S" + std::to_string(screen);
    if (XGetSelectionOwner(display, XInternAtom(display, selection.c_str(), False)) != None)
        return std::nullopt;
    const auto centred = [](int screenSide, unsigned windowSide)
    { return std::max(0, static_cast<int>((static_cast<long>(screenSide) - static_cast<long>(windowSide)) / 2)); };
    return sf::Vector2i(centred(DisplayWidth(display, screen), size.x),
                        centred(DisplayHeight(display, screen), size.y));
}

void DisplayConnection::showIcon(sf::WindowHandle window, const sf::Image& icon) const
{
    if (!m_display)
        return;
    // The width, the height, then each pixel as 0xAARRGGBB, row after row: one long per value, however wide a
    // long is, as Xlib takes 32-bit properties.
    const sf::Vector2u size = icon.getSize();
    const std::size_t count = std::size_t{size.x} * size.y;
    const std::uint8_t* pixel = icon.getPixelsPtr();
    std::vector<unsigned long> values;
    values.reserve(2 + count);
    values.push_back(size.x);
    values.push_back(size.y);
    for (std::size_t i = 0; i < count; ++i, pixel += 4)
        values.push_back(static_cast<unsigned long>(pixel[3]) << 24 | static_cast<unsigned long>(pixel[0]) << 16 |
                         static_cast<unsigned long>(pixel[1]) << 8 | pixel[2]);
    // The window is the graphics library's, made over its own connection. The X server orders requests within
    // a connection only: this one, a quarter of a megabyte, may still be arriving when the window is closed over
    // the other. So the request is answered here, while the window surely exists, and a refusal costs only the
    // icon: Xlib's default handler would end the program when this connection next reads, at the latest when it
    // closes.
    const XErrorHandler previous = XSetErrorHandler(ignoreError);
    XChangeProperty(m_display.get(), static_cast<Window>(window), XInternAtom(m_display.get(), "_NET_WM_ICON", False),
                    XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(values.data()),
                    static_cast<int>(values.size()));
    XSync(m_display.get(), False);
    XSetErrorHandler(previous);
}

} // namespace tamsel
