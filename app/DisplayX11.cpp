#include "app/Display.hpp"

#include "errorbox/X11Display.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdint>
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
