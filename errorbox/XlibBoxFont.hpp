#pragma once

#include <X11/Xlib.h>

#include <cstddef>
#include <string>

struct _XftFont;

namespace tamsel
{

/// The font the error box writes with: an anti-aliased outline font through Xft where the desktop has one, else
/// the server's own "fixed", which every X server has, even one without any font package.
class XlibBoxFont
{
public:
    XlibBoxFont(Display* display, int screen);
    ~XlibBoxFont();
    XlibBoxFont(const XlibBoxFont&) = delete;
    XlibBoxFont& operator=(const XlibBoxFont&) = delete;

    /// Whether any font could be opened; the other members need one.
    bool isOpen() const;
    /// Pixels above and below the baseline.
    int getAscent() const;
    int getDescent() const;

    /// The UTF-8 text as this font shows it: line feeds stay, tabs become blanks, and every other character the
    /// font cannot show (control characters, broken UTF-8, beyond ISO 8859-1 for "fixed") becomes "?".
    std::string encode(const std::string& utf8) const;
    /// Bytes of the character that starts at `index` of an encoded text.
    std::size_t charLength(const std::string& text, std::size_t index) const;
    /// Pixels of advance of `length` bytes of encoded text.
    int measure(const char* text, std::size_t length) const;
    /// Draws encoded text in black with its baseline at y.
    void draw(Window window, GC gc, int x, int y, const std::string& text) const;

private:
    Display* m_display;
    int m_screen;
    _XftFont* m_outline = nullptr;
    XFontStruct* m_fixed = nullptr;
};

} // namespace tamsel
