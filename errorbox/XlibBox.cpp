#include "errorbox/XlibBox.hpp"

#include "errorbox/XlibBoxFont.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <algorithm>
#include <vector>

namespace tamsel
{
namespace
{

constexpr int boxWidth = 420;    // pixels
constexpr int margin = 16;       // pixels around and between the parts of the box
constexpr int markSize = 32;     // pixels: diameter of the red disc
constexpr int buttonWidth = 80;  // pixels
constexpr int buttonHeight = 26; // pixels
// A message may be a whole file's worth of key; standard error has all of it, the box its beginning.
constexpr std::size_t maximumLines = 24;
// Characters of no width (zero-width spaces, combining marks) never fill a line; a line of them still ends after
// this many, so that no line is drawn in a request larger than the X server takes.
constexpr std::size_t maximumLineCharacters = 256;
constexpr const char* ellipsis = "...";

// Greedy word wrap to `width` pixels: lines break after the last blank that fits, or inside a word longer than a
// line (or than maximumLineCharacters). Stops once more than maximumLines lines are found; the last line shown then
// reads "...".
std::vector<std::string> wrap(const std::string& text, int width, const XlibBoxFont& font)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size() && lines.size() <= maximumLines)
    {
        std::size_t end = start;
        std::size_t lastBlank = std::string::npos;
        int used = 0;
        std::size_t characters = 0;
        while (end < text.size() && text[end] != '\n')
        {
            const std::size_t length = font.charLength(text, end);
            const int next = used + font.measure(&text[end], length);
            if ((next > width || characters == maximumLineCharacters) && end > start)
                break;
            ++characters;
            if (text[end] == ' ')
                lastBlank = end;
            used = next;
            end += length;
        }
        if (end == text.size() || text[end] == '\n')
        {
            lines.push_back(text.substr(start, end - start));
            start = end + 1;
        }
        else if (lastBlank != std::string::npos && lastBlank > start)
        {
            lines.push_back(text.substr(start, lastBlank - start));
            start = lastBlank + 1;
        }
        else
        {
            lines.push_back(text.substr(start, end - start));
            start = end;
        }
    }
    if (lines.size() > maximumLines)
    {
        lines.resize(maximumLines);
        lines.back() = ellipsis;
    }
    return lines;
}

unsigned long colour(Display* display, unsigned short red, unsigned short green, unsigned short blue,
                     unsigned long fallback)
{
    XColor wanted{};
    wanted.red = static_cast<unsigned short>(red * 257);
    wanted.green = static_cast<unsigned short>(green * 257);
    wanted.blue = static_cast<unsigned short>(blue * 257);
    wanted.flags = DoRed | DoGreen | DoBlue;
    return XAllocColor(display, DefaultColormap(display, DefaultScreen(display)), &wanted) ? wanted.pixel : fallback;
}

// Requests the box makes may fail on an odd server (focus on a window the window manager has not shown yet);
// none of them is worth ending the program over.
int ignoreError(Display*, XErrorEvent*)
{
    return 0;
}

struct Layout
{
    std::vector<std::string> lines;
    int lineHeight;
    int width;
    int height;
    XRectangle button;
};

Layout layOut(const std::string& message, const XlibBoxFont& font)
{
    Layout layout;
    const int textLeft = margin + markSize + margin;
    layout.lines = wrap(font.encode(message), boxWidth - textLeft - margin, font);
    layout.lineHeight = font.getAscent() + font.getDescent();
    const int textHeight = static_cast<int>(layout.lines.size()) * layout.lineHeight;
    layout.width = boxWidth;
    layout.height = margin + std::max(markSize, textHeight) + margin + buttonHeight + margin;
    layout.button = {static_cast<short>(boxWidth - margin - buttonWidth),
                     static_cast<short>(layout.height - margin - buttonHeight), buttonWidth, buttonHeight};
    return layout;
}

struct Palette
{
    unsigned long background, mark, markSign, button, buttonPressed, border;
};

void draw(Display* display, Window window, GC gc, const XlibBoxFont& font, const Layout& layout, const Palette& palette,
          bool pressed)
{
    XSetForeground(display, gc, palette.background);
    XFillRectangle(display, window, gc, 0, 0, static_cast<unsigned>(layout.width),
                   static_cast<unsigned>(layout.height));

    // The error mark: a red disc with a white cross.
    XSetForeground(display, gc, palette.mark);
    XFillArc(display, window, gc, margin, margin, markSize, markSize, 0, 360 * 64);
    XSetForeground(display, gc, palette.markSign);
    XSetLineAttributes(display, gc, 4, LineSolid, CapRound, JoinRound);
    const int centre = margin + markSize / 2, arm = markSize / 5;
    XDrawLine(display, window, gc, centre - arm, centre - arm, centre + arm, centre + arm);
    XDrawLine(display, window, gc, centre - arm, centre + arm, centre + arm, centre - arm);
    XSetLineAttributes(display, gc, 1, LineSolid, CapButt, JoinMiter);

    // The message, its first line level with the middle of the mark when it is short.
    const int textHeight = static_cast<int>(layout.lines.size()) * layout.lineHeight;
    int baseline = margin + std::max(0, (markSize - textHeight) / 2) + font.getAscent();
    for (const std::string& line : layout.lines)
    {
        font.draw(window, gc, margin + markSize + margin, baseline, line);
        baseline += layout.lineHeight;
    }

    // The one button, framed twice as the default button.
    const XRectangle& b = layout.button;
    XSetForeground(display, gc, pressed ? palette.buttonPressed : palette.button);
    XFillRectangle(display, window, gc, b.x, b.y, b.width, b.height);
    XSetForeground(display, gc, palette.border);
    XDrawRectangle(display, window, gc, b.x, b.y, b.width - 1u, b.height - 1u);
    XDrawRectangle(display, window, gc, b.x + 1, b.y + 1, b.width - 3u, b.height - 3u);
    const std::string label = "OK";
    font.draw(window, gc, b.x + (b.width - font.measure(label.data(), label.size())) / 2,
              b.y + (b.height + font.getAscent() - font.getDescent()) / 2, label);
    XFlush(display);
}

bool inside(const XRectangle& r, int x, int y)
{
    return x >= r.x && y >= r.y && x < r.x + r.width && y < r.y + r.height;
}

void setAtom(Display* display, Window window, const char* property, const char* value)
{
    const Atom atom = XInternAtom(display, value, False);
    XChangeProperty(display, window, XInternAtom(display, property, False), XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&atom), 1);
}

} // namespace

bool showXlibBox(Display* display, const std::string& message)
{
    const struct PreviousHandler
    {
        XErrorHandler handler = XSetErrorHandler(ignoreError);
        ~PreviousHandler() { XSetErrorHandler(handler); }
    } previousHandler;

    const int screen = DefaultScreen(display);
    const XlibBoxFont font(display, screen);
    if (!font.isOpen())
        return false;

    const unsigned long black = BlackPixel(display, screen), white = WhitePixel(display, screen);
    const Palette palette{colour(display, 0xEE, 0xEE, 0xEE, white),
                          colour(display, 0xCC, 0x1F, 0x1F, black),
                          white,
                          colour(display, 0xFA, 0xFA, 0xFA, white),
                          colour(display, 0xCC, 0xCC, 0xCC, white),
                          colour(display, 0x55, 0x55, 0x55, black)};
    const Layout layout = layOut(message, font);

    const Window window = XCreateSimpleWindow(
        display, RootWindow(display, screen), std::max(0, (DisplayWidth(display, screen) - layout.width) / 2),
        std::max(0, (DisplayHeight(display, screen) - layout.height) / 2), static_cast<unsigned>(layout.width),
        static_cast<unsigned>(layout.height), 0, black, palette.background);

    // A fixed-size dialog titled "Error" whose close button asks rather than kills.
    XStoreName(display, window, "Error");
    const char title[] = "Error";
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title), sizeof title - 1);
    setAtom(display, window, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG");
    char name[] = "orbisk", className[] = "Orbisk";
    XClassHint classHint{name, className};
    XSetClassHint(display, window, &classHint);
    XSizeHints size{};
    size.flags = PPosition | PMinSize | PMaxSize;
    size.min_width = size.max_width = layout.width;
    size.min_height = size.max_height = layout.height;
    XSetWMNormalHints(display, window, &size);
    XWMHints hints{};
    hints.flags = InputHint | StateHint;
    hints.input = True;
    hints.initial_state = NormalState;
    XSetWMHints(display, window, &hints);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);

    XSelectInput(display, window,
                 ExposureMask | KeyPressMask | ButtonPressMask | ButtonReleaseMask | StructureNotifyMask);
    const GC gc = XCreateGC(display, window, 0, nullptr);
    XMapRaised(display, window);

    // Blocks until the user dismisses the box; nothing is grabbed, other windows stay usable.
    bool pressed = false, dismissed = false;
    XEvent event;
    while (!dismissed)
    {
        XNextEvent(display, &event);
        switch (event.type)
        {
        case MapNotify:
            // Without a window manager nobody else gives the box the keyboard.
            XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
            break;
        case Expose:
            if (event.xexpose.count == 0)
                draw(display, window, gc, font, layout, palette, pressed);
            break;
        case KeyPress:
        {
            const KeySym key = XLookupKeysym(&event.xkey, 0);
            dismissed = key == XK_Return || key == XK_KP_Enter || key == XK_Escape;
            break;
        }
        case ButtonPress:
            if (event.xbutton.button == Button1 && inside(layout.button, event.xbutton.x, event.xbutton.y))
            {
                pressed = true;
                draw(display, window, gc, font, layout, palette, pressed);
            }
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1 && pressed)
            {
                dismissed = inside(layout.button, event.xbutton.x, event.xbutton.y);
                pressed = false;
                draw(display, window, gc, font, layout, palette, pressed);
            }
            break;
        case ClientMessage:
            dismissed = event.xclient.message_type == XInternAtom(display, "WM_PROTOCOLS", False) &&
                        static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow;
            break;
        default:
            break;
        }
    }

    XFreeGC(display, gc);
    XDestroyWindow(display, window);
    XSync(display, False);
    return true;
}

} // namespace tamsel
