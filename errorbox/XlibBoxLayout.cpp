#include "errorbox/XlibBoxLayout.hpp"

#include "errorbox/Printable.hpp"
#include "errorbox/XlibBoxFont.hpp"

#include <algorithm>

namespace tamsel
{
namespace
{

constexpr int minimumWidth = 420; // pixels: the box is as wide as its longest line needs, at least this
constexpr int buttonWidth = 80;   // pixels
constexpr int buttonHeight = 26;  // pixels
constexpr const char* ellipsis = "...";

// The lines of the text, each wrapped again where it is wider than `width` pixels: greedy, after the last blank
// that fits, or inside a word longer than a line. At most boxLines lines; the last line shown then reads "...".
std::vector<std::string> wrap(const std::string& text, int width, const XlibBoxFont& font)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size() && lines.size() <= boxLines)
    {
        std::size_t end = start;
        std::size_t lastBlank = std::string::npos;
        int used = 0;
        while (end < text.size() && text[end] != '\n')
        {
            const std::size_t length = font.charLength(text, end);
            const int next = used + font.measure(&text[end], length);
            if (next > width && end > start)
                break;
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
    if (lines.size() > boxLines)
    {
        lines.resize(boxLines);
        lines.back() = ellipsis;
    }
    return lines;
}

// The widest line of the text in pixels.
int widestLine(const std::string& text, const XlibBoxFont& font)
{
    int widest = 0;
    for (std::size_t start = 0; start <= text.size();)
    {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        widest = std::max(widest, font.measure(text.data() + start, end - start));
        start = end + 1;
    }
    return widest;
}

} // namespace

XlibBoxLayout layOutXlibBox(const std::string& text, const XlibBoxFont& font, int screenWidth)
{
    constexpr int margin = XlibBoxLayout::margin, textLeft = XlibBoxLayout::textLeft;
    XlibBoxLayout layout;
    const std::string encoded = font.encode(text);
    layout.width = std::min(std::max(minimumWidth, textLeft + widestLine(encoded, font) + margin), screenWidth);
    layout.lines = wrap(encoded, layout.width - textLeft - margin, font);
    layout.lineHeight = font.getAscent() + font.getDescent();
    const int textHeight = static_cast<int>(layout.lines.size()) * layout.lineHeight;
    layout.height = margin + std::max(XlibBoxLayout::markSize, textHeight) + margin + buttonHeight + margin;
    layout.button = {static_cast<short>(layout.width - margin - buttonWidth),
                     static_cast<short>(layout.height - margin - buttonHeight), buttonWidth, buttonHeight};
    return layout;
}

} // namespace tamsel
