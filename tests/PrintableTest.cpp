#include "errorbox/Printable.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::string repeated(const std::string& text, std::size_t count)
{
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += text;
    return out;
}

// Lines of the text, each ended by a line feed but the last.
std::string joined(const std::vector<std::string>& lines)
{
    std::string out = lines.front();
    for (std::size_t i = 1; i < lines.size(); ++i)
        out += "\n" + lines[i];
    return out;
}

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
        // Characters that show nothing and take no room, each byte escaped.
        {"\xEF\xBB\xBFkey", "\\xef\\xbb\\xbfkey"},                                        // U+FEFF, a byte-order mark
        {"a\xE2\x80\x8B-\xE2\x80\x8F", "a\\xe2\\x80\\x8b-\\xe2\\x80\\x8f"},               // U+200B, U+200F
        {"\xC2\xAD \xD8\x9C \xE1\xA0\x8E", "\\xc2\\xad \\xd8\\x9c \\xe1\\xa0\\x8e"},      // U+00AD, U+061C, U+180E
        {"\xE2\x80\xA8\xE2\x80\xAE", "\\xe2\\x80\\xa8\\xe2\\x80\\xae"},                   // U+2028, U+202E
        {"\xE2\x81\xA0\xE2\x81\xAF", "\\xe2\\x81\\xa0\\xe2\\x81\\xaf"},                   // U+2060, U+206F
        {"\xEF\xBF\xB9\xEF\xBF\xBB", "\\xef\\xbf\\xb9\\xef\\xbf\\xbb"},                   // U+FFF9, U+FFFB
        {"\xF3\xA0\x80\x81\xF3\xA0\x81\xBF", "\\xf3\\xa0\\x80\\x81\\xf3\\xa0\\x81\\xbf"}, // U+E0001, U+E007F
        // Their neighbours take room or mark a letter, and stay: a combining acute accent, U+00AC, U+00AE, U+200A,
        // U+2010, U+2027, U+202F, U+2070 and U+FFFC.
        {"e\xCC\x81\xC2\xAC\xC2\xAE\xE2\x80\x8A\xE2\x80\x90\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xB0\xEF\xBF\xBC",
         "e\xCC\x81\xC2\xAC\xC2\xAE\xE2\x80\x8A\xE2\x80\x90\xE2\x80\xA7\xE2\x80\xAF\xE2\x81\xB0\xEF\xBF\xBC"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.shown);
        EXPECT_EQ(tamsel::printable(c.text), c.shown);
    }
}

TEST(BoxText, WrapsToShortLinesAndCutsBetweenTheFirstAndTheLast)
{
    struct Case
    {
        const char* what;
        std::string text;
        std::string shown;
    };
    const std::string ideograph = "\xE6\xBC\xA2", acute = "\xCC\x81", eAcute = "\xC3\xA9";
    std::vector<std::string> sixteen, seventeen;
    for (int i = 1; i <= 17; ++i)
        (i <= 16 ? sixteen : seventeen).push_back("line " + std::to_string(i));
    seventeen.insert(seventeen.begin(), sixteen.begin(), sixteen.end());
    std::vector<std::string> wideKey{"invalid configuration:"};
    for (int i = 0; i < 14; ++i)
        wideKey.push_back(repeated("W", 36));
    wideKey.push_back("...");
    const Case cases[] = {
        {"short", "invalid stof argument", "invalid stof argument"},
        {"after the last blank that fits", "invalid configuration: the world is 22000 x 550 units",
         "invalid configuration: the world is\n22000 x 550 units"},
        {"at a blank just past a full line", repeated("a", 36) + " bb", repeated("a", 36) + "\nbb"},
        {"inside a word longer than a line", repeated("k", 40), repeated("k", 36) + "\n" + repeated("k", 4)},
        {"wide characters take two columns", repeated(ideograph, 20),
         repeated(ideograph, 18) + "\n" + repeated(ideograph, 2)},
        {"Latin letters of two bytes take one", repeated(eAcute, 40),
         repeated(eAcute, 36) + "\n" + repeated(eAcute, 4)},
        {"combining marks take one", "a" + repeated(acute, 40), "a" + repeated(acute, 35) + "\n" + repeated(acute, 5)},
        {"line feeds and empty lines stay, tabs become blanks", "a\n\n\tb", "a\n\n b"},
        {"sixteen lines stay", joined(sixteen), joined(sixteen)},
        {"of seventeen, the first seven, an ellipsis and the last eight", joined(seventeen),
         joined({seventeen.begin(), seventeen.begin() + 7}) + "\n...\n" +
             joined({seventeen.end() - 8, seventeen.end()})},
        {"a key of 10,000 W", "invalid configuration: " + repeated("W", 10000), joined(wideKey)},
        {"the last lines that fit into half the box stay, where a message says where",
         "invalid configuration: " + repeated("W", 10000) + "\nline 1 of the settings file /home/ann/config.txt",
         joined({wideKey.begin(), wideKey.begin() + 13}) + "\n...\nline 1 of the settings file\n/home/ann/config.txt"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(tamsel::boxText(c.text), c.shown);
    }
}

} // namespace
