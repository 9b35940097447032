#include "errorbox/Printable.hpp"

#include <gtest/gtest.h>

namespace
{

TEST(Printable, EscapesEveryByteThatIsNoPrintableCharacter)
{
    struct Case
    {
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {"line one\n\tline two", "line one\n\tline two"},
        {"a\x1b[2Jb\r", "a\\x1b[2Jb\\x0d"},
        {std::string("a\0b\x7f", 4), "a\\x00b\\x7f"},
        {"\xC3\xA9 \xC2\xA0 \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC3\xA9 \xC2\xA0 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xC2\x9B", "\\xc2\\x9b"},                              // a C1 control
        {"\xC0\xAF \xE0\x80\xAF", "\\xc0\\xaf \\xe0\\x80\\xaf"}, // overlong forms
        {"\xED\xA0\x80", "\\xed\\xa0\\x80"},                     // a surrogate
        {"\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},            // beyond U+10FFFF
        {"ab\xE2\x82", "ab\\xe2\\x82"},                          // cut short
        {"\x80\xFF", "\\x80\\xff"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(tamsel::printable(c.text), c.shown);
    }
}

} // namespace
