#pragma once

#include <X11/Xlib.h>

#include <string>
#include <vector>

namespace tamsel
{

class XlibBoxFont;

/// Where the parts of the program's own error box go, in pixels.
struct XlibBoxLayout
{
    static constexpr int margin = 16;                           // pixels around and between the parts of the box
    static constexpr int markSize = 32;                         // pixels: diameter of the red error mark
    static constexpr int textLeft = margin + markSize + margin; // pixels

    std::vector<std::string> lines; // as the font encodes them
    int lineHeight;
    int width;
    int height;
    XRectangle button;
};

/// The box for the text, as boxText() gives it: as wide as its longest line needs, at least 420 pixels and at most
/// `screenWidth`. On a screen narrower than that a line is wrapped again, after the last blank that fits or inside
/// a word, and of more than boxLines lines the last one shown reads "...".
XlibBoxLayout layOutXlibBox(const std::string& text, const XlibBoxFont& font, int screenWidth);

} // namespace tamsel
