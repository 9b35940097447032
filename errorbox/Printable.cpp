#include "errorbox/Printable.hpp"

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
            length = utf8Length(text, i);
            // U+0080 to U+009F, the C1 controls, are C2 80 to C2 9F.
            shown = length > 0 && !(lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
            length = shown ? length : 1;
        }
        if (shown)
            out.append(text, i, length);
        else
            out += {'\\', 'x', digits[lead >> 4], digits[lead & 0xF]};
        i += length;
    }
    return out;
}

} // namespace tamsel
