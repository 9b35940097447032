#include "app/Display.hpp"

#include "app/LibraryVisual.hpp"
#include "errorbox/ErrorBox.hpp"
#include "platform/X11Display.hpp"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <initializer_list>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace tamsel
{

namespace
{

// The file descriptors the window needs free, with room to spare: two connections to the display (the program's
// and the graphics library's), the graphics driver's device and cache files, the library's watch on the input
// devices, the icon file, a pipe to the dialog tool of an error box. Xvfb under Mesa's software renderer needs 5.
constexpr std::size_t descriptorsNeeded = 16;

int ignoreError(Display*, XErrorEvent*)
{
    return 0;
}

// Why the process has too few file descriptors left for the window; empty when it has enough. Counted by opening
// them, which is what the limit allows and what the open ones leave.
std::string findDescriptorShortage()
{
    std::vector<int> opened;
    opened.reserve(descriptorsNeeded);
    int error = 0;
    while (opened.size() < descriptorsNeeded)
    {
        const int descriptor = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
        {
            error = errno;
            break;
        }
        opened.push_back(descriptor);
    }
    for (const int descriptor : opened)
        close(descriptor);
    if (opened.size() == descriptorsNeeded || (error != EMFILE && error != ENFILE))
        return {};
    const std::string needs =
        "too many open files: the window needs " + std::to_string(descriptorsNeeded) + " free file descriptors, and ";
    if (error == ENFILE)
        return needs + "the system's table of open files is full";
    rlimit limit{};
    const std::string limitText = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                                      ? " (ulimit -n " + std::to_string(limit.rlim_cur) + ")"
                                      : "";
    return needs + "the limit of open files" + limitText + " leaves " + std::to_string(opened.size()) + " free";
}

// Whether the display takes a further connection, which the graphics library opens for itself (and without which
// it ends the program). The trial connection has left the server when this returns, so that the place it took is
// free again for the library's: the server frees it as it sees the connection closed, perhaps after answering
// the program's next request, and removes the trial's window at the same moment.
bool takesAnotherConnection(Display* display)
{
    Display* trial = XOpenDisplay(nullptr);
    if (!trial)
        return false;
    const Window mark = XCreateSimpleWindow(trial, DefaultRootWindow(trial), 0, 0, 1, 1, 0, 0, 0);
    XCloseDisplay(trial);
    const XErrorHandler previous = XSetErrorHandler(ignoreError);
    XWindowAttributes attributes;
    for (int i = 0; i < 500 && XGetWindowAttributes(display, mark, &attributes); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    XSetErrorHandler(previous);
    return true;
}

} // namespace

DisplayConnection::DisplayConnection() : m_descriptorShortage(findDescriptorShortage())
{
    if (m_descriptorShortage.empty())
        m_display = connectX11Display();
}

bool DisplayConnection::isOpen() const
{
    return m_display != nullptr;
}

std::string DisplayConnection::whyNotOpen() const
{
    return m_descriptorShortage.empty() ? noDisplayMessage(getX11DisplayName()) : m_descriptorShortage;
}

std::string DisplayConnection::whyNoWindow(const sf::ContextSettings& context) const
{
    Display* display = m_display.get();
    const std::string name = getX11DisplayName();
    int errorBase = 0;
    int eventBase = 0;
    // What the graphics library insists on when it picks the window's visual.
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, None};
    XVisualInfo* visual = glXQueryExtension(display, &errorBase, &eventBase)
                              ? glXChooseVisual(display, DefaultScreen(display), attributes)
                              : nullptr;
    if (!visual)
        return "no OpenGL available: the display " + name +
               " offers no true-colour OpenGL (GLX) visual, which the window is drawn with";
    XFree(visual);

    // The library makes a hidden window for its own context, of the desktop's depth and no other wishes, and then
    // the program's.
    const int screen = DefaultScreen(display);
    const int depth = DefaultDepth(display, screen);
    for (const auto& [bitsPerPixel, settings] :
         {std::pair(static_cast<unsigned>(depth), sf::ContextSettings()), std::pair(getBitsPerPixel(), context)})
    {
        const std::optional<VisualPlace> picked = pickLibraryVisual(display, bitsPerPixel, settings);
        if (!picked)
            continue;
        if (picked->screen != screen)
            return "no OpenGL available on screen " + std::to_string(screen) + " of the display " + name +
                   ": the graphics library takes its OpenGL (GLX) visual from screen " +
                   std::to_string(picked->screen) + ", and X refuses a window of one screen's visual on another";
        if (picked->depth != depth)
            return "no OpenGL available: on the display " + name +
                   " the graphics library picks an OpenGL (GLX) visual of " + std::to_string(picked->depth) +
                   " bits, and a window must have the screen's depth of " + std::to_string(depth) + " bits";
    }

    if (!takesAnotherConnection(display))
        return "no display available: the display " + name +
               " refuses a second connection, which the window needs beside the program's own (it may be serving"
               " as many programs as it can)";
    return {};
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
