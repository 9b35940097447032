#include "errorbox/XlibBoxFont.hpp"

#include <X11/Xft/Xft.h>

namespace tamsel
{
namespace
{

constexpr const char* outlineName = "sans-serif:pixelsize=13"; // fontconfig pattern: the desktop's sans font
constexpr char32_t broken = 0xFFFFFFFF;                        // stands for a byte that starts no UTF-8 character

// The character that starts at `index`: its code point (or `broken`) and its length in bytes.
char32_t decode(const std::string& text, std::size_t index, std::size_t& length)
{
    const auto lead = static_cast<unsigned char>(text[index]);
    length = 1;
    if (lead < 0x80)
        return lead;
    const std::size_t expected = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (expected == 0)
        return broken;
    char32_t code = lead & (0x7F >> expected);
    for (std::size_t k = 1; k < expected; ++k)
    {
        if (index + k >= text.size() || (static_cast<unsigned char>(text[index + k]) & 0xC0) != 0x80)
            return broken;
        code = code << 6 | (static_cast<unsigned char>(text[index + k]) & 0x3F);
    }
    length = expected;
    return code;
}

bool isPrintable(char32_t code)
{
    return code >= 0x20 && !(code >= 0x7F && code < 0xA0) && !(code >= 0xD800 && code < 0xE000) && code <= 0x10FFFF;
}

std::string encodeUtf8(char32_t code)
{
    std::string out;
    if (code < 0x80)
        out += static_cast<char>(code);
    else if (code < 0x800)
        out += {static_cast<char>(0xC0 | code >> 6), static_cast<char>(0x80 | (code & 0x3F))};
    else if (code < 0x10000)
        out += {static_cast<char>(0xE0 | code >> 12), static_cast<char>(0x80 | (code >> 6 & 0x3F)),
                static_cast<char>(0x80 | (code & 0x3F))};
    else
        out += {static_cast<char>(0xF0 | code >> 18), static_cast<char>(0x80 | (code >> 12 & 0x3F)),
                static_cast<char>(0x80 | (code >> 6 & 0x3F)), static_cast<char>(0x80 | (code & 0x3F))};
    return out;
}

// The "fixed" alias exists on every X server; should it still be missing, the first font the server lists.
XFontStruct* loadFixed(Display* display)
{
    if (XFontStruct* font = XLoadQueryFont(display, "fixed"))
        return font;
    int count = 0;
    char** names = XListFonts(display, "*", 1, &count);
    XFontStruct* font = count > 0 ? XLoadQueryFont(display, names[0]) : nullptr;
    if (names)
        XFreeFontNames(names);
    return font;
}

// Xft blends its smoothed glyphs into true-colour pixels only; on a screen of 8 bits, with a palette, it draws each
// line of text as one solid bar.
_XftFont* openOutline(Display* display, int screen)
{
    return DefaultVisual(display, screen)->c_class == TrueColor ? XftFontOpenName(display, screen, outlineName)
                                                                : nullptr;
}

} // namespace

XlibBoxFont::XlibBoxFont(Display* display, int screen)
    : m_display(display), m_screen(screen), m_outline(openOutline(display, screen))
{
    if (!m_outline)
        m_fixed = loadFixed(display);
}

XlibBoxFont::~XlibBoxFont()
{
    if (m_outline)
        XftFontClose(m_display, m_outline);
    if (m_fixed)
        XFreeFont(m_display, m_fixed);
}

bool XlibBoxFont::isOpen() const
{
    return m_outline || m_fixed;
}

int XlibBoxFont::getAscent() const
{
    return m_outline ? m_outline->ascent : m_fixed->ascent;
}

int XlibBoxFont::getDescent() const
{
    return m_outline ? m_outline->descent : m_fixed->descent;
}

std::string XlibBoxFont::encode(const std::string& utf8) const
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0, length = 0; i < utf8.size(); i += length)
    {
        const char32_t code = decode(utf8, i, length);
        if (code == '\n')
            out += '\n';
        else if (code == '\t')
            out += ' ';
        else if (!isPrintable(code) || (m_fixed && code > 0xFF))
            out += '?';
        else if (m_outline)
            out += encodeUtf8(code);
        else
            out += static_cast<char>(code); // ISO 8859-1
    }
    return out;
}

std::size_t XlibBoxFont::charLength(const std::string& text, std::size_t index) const
{
    std::size_t length = 1;
    if (m_outline)
        decode(text, index, length);
    return length;
}

int XlibBoxFont::measure(const char* text, std::size_t length) const
{
    if (m_fixed)
        return XTextWidth(m_fixed, text, static_cast<int>(length));
    XGlyphInfo extents{};
    XftTextExtentsUtf8(m_display, m_outline, reinterpret_cast<const FcChar8*>(text), static_cast<int>(length),
                       &extents);
    return extents.xOff;
}

void XlibBoxFont::draw(Window window, GC gc, int x, int y, const std::string& text) const
{
    const int length = static_cast<int>(text.size());
    if (m_fixed)
    {
        XSetFont(m_display, gc, m_fixed->fid);
        XSetForeground(m_display, gc, BlackPixel(m_display, m_screen));
        XDrawString(m_display, window, gc, x, y, text.data(), length);
        return;
    }
    Visual* visual = DefaultVisual(m_display, m_screen);
    const Colormap colormap = DefaultColormap(m_display, m_screen);
    XftDraw* target = XftDrawCreate(m_display, window, visual, colormap);
    const XRenderColor black{0, 0, 0, 0xFFFF};
    XftColor colour{};
    if (target && XftColorAllocValue(m_display, visual, colormap, &black, &colour))
    {
        XftDrawStringUtf8(target, &colour, m_outline, x, y, reinterpret_cast<const FcChar8*>(text.data()), length);
        XftColorFree(m_display, visual, colormap, &colour);
    }
    if (target)
        XftDrawDestroy(target);
}

} // namespace tamsel
