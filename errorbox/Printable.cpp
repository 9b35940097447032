#include "errorbox/Printable.hpp"

#include <algorithm>
#include <vector>

namespace tamsel
{

namespace
{

// The length of the UTF-8 character that starts at `index`, or 0 when the bytes there are none (a stray
// continuation byte, an overlong form, a surrogate, beyond U+10FFFF, cut short).
std::size_t utf8Length(const std::string& text, std::size_t index)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[index + k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
    {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    }
    else if (lead >= 0xF0 && lead <= 0xF4)
    {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || index + length > text.size() || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((byte(k) & 0xC0) != 0x80)
            return 0;
    return length;
}

// Well-formed characters that are escaped all the same: the C1 controls, which can drive a terminal as the C0
// ones do, and format characters that show nothing and take no room, with the two separators that break a line
// in some toolkits' text. A key could hide one of those (a byte-order mark before the first key, a zero-width
// space) and still look right, or forge a line of the message. Combining marks are ordinary text.
struct CodePoints
{
    char32_t first, last;
};
constexpr CodePoints hidden[] = {
    {0x0080, 0x009F},   // C1 controls
    {0x00AD, 0x00AD},   // soft hyphen
    {0x061C, 0x061C},   // Arabic letter mark
    {0x180E, 0x180E},   // Mongolian vowel separator
    {0x200B, 0x200F},   // zero-width space, non-joiner and joiner, left-to-right and right-to-left marks
    {0x2028, 0x202E},   // line and paragraph separators, directional embeddings and overrides
    {0x2060, 0x206F},   // word joiner, invisible operators, directional isolates, deprecated format characters
    {0xFEFF, 0xFEFF},   // zero-width no-break space: the byte-order mark
    {0xFFF9, 0xFFFB},   // interlinear annotation
    {0x1BCA0, 0x1BCA3}, // shorthand format controls
    {0x1D173, 0x1D17A}, // musical beam, tie, slur and phrase controls
    {0xE0000, 0xE007F}, // tags
};

// The code point of the well-formed UTF-8 character of `length` bytes at `index`.
char32_t codePoint(const std::string& text, std::size_t index, std::size_t length)
{
    constexpr unsigned char leadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07}; // by length
    char32_t point = static_cast<unsigned char>(text[index]) & leadBits[length];
    for (std::size_t k = 1; k < length; ++k)
        point = point << 6 | (static_cast<unsigned char>(text[index + k]) & 0x3F);
    return point;
}

bool isHidden(char32_t point)
{
    for (const CodePoints& range : hidden)
        if (point >= range.first && point <= range.last)
            return true;
    return false;
}

// The columns a character takes in a box. Other scripts than these are drawn up to twice as wide (ideographs,
// and the boxes of hex digits a font draws for characters it lacks); counting them as two keeps a line of them as
// narrow on the screen as a line of Latin letters.
std::size_t columns(char32_t point)
{
    return point < 0x0530 ? 1 : 2; // below U+0530: Latin, the combining marks, Greek, Cyrillic
}

bool isBlank(char byte)
{
    return byte == ' ' || byte == '\t';
}

// The lines of one paragraph, text[start, stop), wrapped as a box shows them: after the last blank that fits, or
// inside a word longer than a line, never inside a character; tabs become blanks. At most `limit` + 1 lines, the
// last telling that there are more.
std::vector<std::string> wrapParagraph(const std::string& text, std::size_t start, std::size_t stop, std::size_t limit)
{
    std::vector<std::string> lines;
    const auto addLine = [&](std::size_t first, std::size_t end)
    {
        lines.push_back(text.substr(first, end - first));
        std::replace(lines.back().begin(), lines.back().end(), '\t', ' ');
    };
    do
    {
        std::size_t end = start, lastBlank = std::string::npos, used = 0;
        while (end < stop)
        {
            const std::size_t length = std::max<std::size_t>(1, utf8Length(text, end));
            const std::size_t width = length == 1 ? 1 : columns(codePoint(text, end, length));
            if (used + width > boxColumns)
                break;
            if (isBlank(text[end]))
                lastBlank = end;
            used += width;
            end += length;
        }
        if (end == stop || isBlank(text[end]))
        {
            addLine(start, end);
            start = end + 1;
        }
        else if (lastBlank != std::string::npos && lastBlank > start)
        {
            addLine(start, lastBlank);
            start = lastBlank + 1;
        }
        else
        {
            addLine(start, end);
            start = end;
        }
    } while (start < stop && lines.size() <= limit);
    return lines;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text = lines.front();
    for (std::size_t i = 1; i < lines.size(); ++i)
        text += '\n' + lines[i];
    return text;
}

} // namespace

std::string printable(const std::string& text)
{
    constexpr const char* digits = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
    {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 1;
        bool shown = lead == '\n' || lead == '\t' || (lead >= 0x20 && lead < 0x7F);
        if (lead >= 0x80)
        {
            // A byte of broken UTF-8 is escaped alone, so that a character after it is seen whole; a hidden
            // character is escaped whole.
            const std::size_t character = utf8Length(text, i);
            length = character > 0 ? character : 1;
            shown = character > 0 && !isHidden(codePoint(text, i, character));
        }
        if (shown)
            out.append(text, i, length);
        else
            for (std::size_t k = i; k < i + length; ++k)
            {
                const auto byte = static_cast<unsigned char>(text[k]);
                out += {'\\', 'x', digits[byte >> 4], digits[byte & 0xF]};
            }
        i += length;
    }
    return out;
}

std::string boxText(const std::string& text)
{
    // The whole text where it fits; only the lines shown are wrapped, and the one after them, which tells that the
    // text goes on.
    std::vector<std::string> head;
    for (std::size_t start = 0; start <= text.size() && head.size() <= boxLines;)
    {
        const std::size_t stop = std::min(text.find('\n', start), text.size());
        const std::vector<std::string> lines = wrapParagraph(text, start, stop, boxLines - head.size());
        head.insert(head.end(), lines.begin(), lines.end());
        start = stop + 1;
    }
    if (head.size() <= boxLines)
        return joined(head);

    // Cut, the text keeps its last lines too, where a message says where its mistake lies: the last paragraphs
    // that fit into half the box, after a line "..." that says what was left out.
    constexpr std::size_t tailLines = boxLines / 2;
    std::vector<std::string> tail;
    for (std::size_t stop = text.size();;)
    {
        const std::size_t lineFeed = stop == 0 ? std::string::npos : text.rfind('\n', stop - 1);
        const std::size_t start = lineFeed == std::string::npos ? 0 : lineFeed + 1;
        const std::vector<std::string> lines = wrapParagraph(text, start, stop, tailLines - tail.size());
        if (tail.size() + lines.size() > tailLines)
            break;
        tail.insert(tail.begin(), lines.begin(), lines.end());
        if (lineFeed == std::string::npos)
            break;
        stop = lineFeed;
    }
    head.resize(boxLines - 1 - tail.size());
    head.push_back("...");
    head.insert(head.end(), tail.begin(), tail.end());
    return joined(head);
}

} // namespace tamsel
