#include "settings/Settings.hpp"
#include "world/Orbisk.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <string_view>
#include <vector>
#if !defined(_WIN32)
#include <sys/stat.h>
#endif
#include <unistd.h>

namespace
{

using tamsel::Settings;

// The message of the configuration error that `read` raises, or "" when it raises none.
template <typename Read> std::string errorRaisedBy(Read read)
{
    try
    {
        read();
    }
    catch (const tamsel::ConfigurationError& error)
    {
        return error.getMessage();
    }
    return "";
}

// Where parsing `text` found its mistake, and what the message leaves out.
tamsel::TextPlace placeOfError(std::string_view text)
{
    Settings settings;
    try
    {
        tamsel::parseSettings(settings, text);
    }
    catch (const tamsel::ConfigurationError& error)
    {
        return error.getPlace();
    }
    ADD_FAILURE() << "no error";
    return {};
}

// The record that `text` gives over the defaults.
Settings parsed(std::string_view text)
{
    Settings settings;
    tamsel::parseSettings(settings, text);
    return settings;
}

// The error of parsing `text` over the defaults and making a world of the result, which checks it as the program
// does, from settings not yet checked. The defaults' reach is made to fit into any region, so that only what the
// text sets can fail.
std::string errorOf(std::string_view text)
{
    Settings settings;
    settings.maximum_interaction_distance = std::numeric_limits<float>::lowest();
    return errorRaisedBy(
        [&]
        {
            tamsel::parseSettings(settings, text);
            tamsel::Orbisk world(settings);
            world.generateTypes(settings.type_count);
        });
}

// A file of its own for each test, in a fresh folder.
class SettingsFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string name =
            std::string("orbisk-settings-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        dir = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // Writes `text` byte for byte into the file and returns its path.
    std::string write(const std::string& text)
    {
        const std::filesystem::path path = dir / "config.txt";
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    static std::string errorLoading(const std::string& path)
    {
        Settings settings;
        return errorRaisedBy([&] { tamsel::loadSettings(settings, path); });
    }

    std::filesystem::path dir;
};

void expectSame(const Settings& actual, const Settings& expected)
{
    EXPECT_EQ(actual.repulsion_strength, expected.repulsion_strength);
    EXPECT_EQ(actual.stablized_zone, expected.stablized_zone);
    EXPECT_EQ(actual.effective_radius, expected.effective_radius);
    EXPECT_EQ(actual.regions_x_count, expected.regions_x_count);
    EXPECT_EQ(actual.regions_y_count, expected.regions_y_count);
    EXPECT_EQ(actual.region_size, expected.region_size);
    EXPECT_EQ(actual.friction, expected.friction);
    EXPECT_EQ(actual.maximum_interaction_distance, expected.maximum_interaction_distance);
    EXPECT_EQ(actual.maximum_interaction_strength, expected.maximum_interaction_strength);
    EXPECT_EQ(actual.type_count, expected.type_count);
    EXPECT_EQ(actual.particle_count, expected.particle_count);
}

void expectDefaults(const Settings& s)
{
    expectSame(s, Settings());
}

TEST_F(SettingsFile, MissingFileKeepsDefaults)
{
    Settings settings;
    const tamsel::SettingsFileStatus status = tamsel::loadSettings(settings, (dir / "absent.txt").string());
    EXPECT_FALSE(status.read);
    EXPECT_EQ(status.whyUnreadable, "");
    expectDefaults(settings);
}

TEST_F(SettingsFile, RefusesWhatIsNoSettingsFile)
{
#if !defined(_WIN32)
    // A pipe would block the reader until someone writes to it; a device may never end.
    const std::filesystem::path pipe = dir / "pipe";
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    for (const std::string& path : {pipe.string(), std::string("/dev/zero")})
        EXPECT_EQ(errorLoading(path), "invalid configuration: " + path + " is not a regular file");
#endif

    // What is there but cannot be read leaves the defaults, and says why.
    struct Unreadable
    {
        std::filesystem::path path;
        std::string why;
    };
    std::vector<Unreadable> unreadable = {{dir, "Is a directory"}};
#if !defined(_WIN32)
    std::filesystem::create_symlink("absent.txt", dir / "link");
    unreadable.push_back({dir / "link", "a link to absent.txt: No such file or directory"});
    if (geteuid() != 0) // root reads any file
    {
        std::ofstream(dir / "locked.txt") << "friction=0.5";
        chmod((dir / "locked.txt").c_str(), 0);
        unreadable.push_back({dir / "locked.txt", "Permission denied"});
    }
#endif
    for (const Unreadable& file : unreadable)
    {
        SCOPED_TRACE(file.path);
        Settings settings;
        const tamsel::SettingsFileStatus status = tamsel::loadSettings(settings, file.path.string());
        EXPECT_FALSE(status.read);
        EXPECT_EQ(status.whyUnreadable, file.why);
        expectDefaults(settings);
    }

    // Nothing that large is a settings file; it is not read to its end.
    const std::string path = write(std::string(1 << 20, ' ') + "x");
    EXPECT_EQ(errorLoading(path), "invalid configuration: " + path + " is larger than 1 MiB");
    EXPECT_EQ(errorLoading(write(std::string((1 << 20) - 12, '\n').insert(0, "type_count=3"))), "");
}

TEST_F(SettingsFile, ReadsTheFileAsText)
{
    Settings settings;
    const tamsel::SettingsFileStatus status =
        tamsel::loadSettings(settings, write("friction=0.5\rtype_count=7\r\nparticle_count=9\n=\nregion_size=3"));
    EXPECT_TRUE(status.read);
    EXPECT_EQ(status.stop.line, 4u);
    expectSame(settings, Settings{100.0f, 5.0f, 10.0f, 10, 10, 50.0f, 0.5f, 40.0f, 10.0f, 7, 9});
}

TEST(SettingsText, TextThatStopsBeforeAnySettingKeepsDefaults)
{
    const char* files[] = {
        "",                        // empty
        "\n",                      // a final empty line
        "friction=\ntype_count=7", // empty value
        "=3\ntype_count=7",        // empty key
        " \t=3\ntype_count=7",     // key of blanks only
        "friction= \t\ntype_count=7",
        "no equals sign at the end",
    };
    for (const char* text : files)
    {
        SCOPED_TRACE(testing::Message() << "file: " << testing::PrintToString(std::string(text)));
        expectDefaults(parsed(text));
    }
}

TEST(SettingsText, ReadsValuesAsTheCLibraryConvertsThem)
{
    struct Case
    {
        const char* text;
        float Settings::*real;
        std::int32_t Settings::*whole;
        double expected;
    };
    const Case cases[] = {
        {" \t type_count \t= \t7 \t\n", nullptr, &Settings::type_count, 7},
        {"particle_count=1e3", nullptr, &Settings::particle_count, 1000},
        {"regions_x_count=12.9", nullptr, &Settings::regions_x_count, 12},
        {"regions_y_count=-3.7\nregions_y_count=4", nullptr, &Settings::regions_y_count, 4}, // last one wins
        {"friction=0.05abc", &Settings::friction, nullptr, 0.05f},
        {"friction=2=3", &Settings::friction, nullptr, 2},
        {"region_size=0x1p6", &Settings::region_size, nullptr, 64},
        {"region_size=60\r\n", &Settings::region_size, nullptr, 60},
        {"region_size=60\rfriction=2", &Settings::region_size, nullptr, 60},
        {"particle_count=16777217", nullptr, &Settings::particle_count, 16777216}, // read as a float first
        {"repulsion_strength=-12.5\r\nstablized_zone=2", &Settings::stablized_zone, nullptr, 2},
        {"maximum_interaction_strength = 3.25", &Settings::maximum_interaction_strength, nullptr, 3.25},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.text);
        const Settings s = parsed(c.text);
        if (c.real)
            EXPECT_EQ(s.*c.real, static_cast<float>(c.expected));
        else
            EXPECT_EQ(s.*c.whole, static_cast<std::int32_t>(c.expected));
    }
}

TEST(SettingsText, TruncatesIntegersTowardZero)
{
    EXPECT_EQ(parsed("particle_count=-3.7").particle_count, -3);
    EXPECT_EQ(parsed("particle_count=-0.9").particle_count, 0);
    EXPECT_EQ(parsed("type_count=1.9").type_count, 1);
}

TEST(SettingsText, ReadsEveryKeyInAnyOrder)
{
    const Settings s = parsed("particle_count=7\ntype_count=6\nmaximum_interaction_strength=9\n"
                              "maximum_interaction_distance=8\nfriction=0.5\nregion_size=70\nregions_y_count=4\n"
                              "regions_x_count=3\neffective_radius=2\nstablized_zone=1\nrepulsion_strength=11");
    expectSame(s, Settings{11.0f, 1.0f, 2.0f, 3, 4, 70.0f, 0.5f, 8.0f, 9.0f, 6, 7});
}

TEST(SettingsText, ReportsBadInputWithExactMessagesAndWhereItIs)
{
    // The message stays as it is; its lines of the file, and what it leaves out, come apart.
    const std::string joins =
        "a blank line or a line without \"=\" (a comment, say) joins the next key: the settings file has no comments";
    struct Case
    {
        std::string text;
        std::string message;
        std::size_t firstLine;
        std::size_t lastLine;
        std::string detail;
    };
    const Case cases[] = {
        {"Friction=0.1", "invalid configuration: Friction", 1, 1, ""},
        {"colour=3", "invalid configuration: colour", 1, 1, ""},
        {"friction=0.1\r\ntype_count=3\r\ncolour=1", "invalid configuration: colour", 3, 3, ""},
        {"friction=abc", "invalid stof argument", 1, 1, "friction = abc: the value does not begin with a number"},
        {"type_count=3\nregion_size=55\nfriction = \tO.01 \t", "invalid stof argument", 3, 3,
         "friction = O.01: the value does not begin with a number"},
        {"friction=1e99", "stof argument out of range", 1, 1,
         "friction = 1e99: the number is too large for a 32-bit float"},
        {"region_size=55\nfriction=1e39", "stof argument out of range", 2, 2,
         "friction = 1e39: the number is too large for a 32-bit float"},
        {"friction=1e-50", "stof argument out of range", 1, 1,
         "friction = 1e-50: the number is too close to 0 for a 32-bit float"},
        {"friction=-1e99", "stof argument out of range", 1, 1,
         "friction = -1e99: the number is too large for a 32-bit float"},
        {"friction=1\nparticle_count=inf", "invalid configuration: particle_count must be a finite number", 2, 2, ""},
        // A blank line makes the next key start with a line feed.
        {"friction=0.1\n\ntype_count=3", "invalid configuration: \ntype_count", 2, 3, joins},
        // A line without "=" joins the next key.
        {"# a comment\ntype_count=3", "invalid configuration: # a comment\ntype_count", 1, 2, joins},
        {"friction=0.1\n# two\n# comments\ntype_count=3", "invalid configuration: # two\n# comments\ntype_count", 2, 4,
         joins},
        // A carriage return ends a line on its own too.
        {"friction\r=0.1\n", "invalid configuration: friction\n", 1, 2, joins},
        {"region_size = 55\rcolour = 3\r", "invalid configuration: colour", 2, 2, ""},
        {"friction=0.1\r\rtype_count=3", "invalid configuration: \ntype_count", 2, 3, joins},
        // A NUL byte is part of the key, and of the message.
        {std::string("col\0our=3", 9), std::string("invalid configuration: col\0our", 30), 1, 1, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(c.text));
        EXPECT_EQ(errorOf(c.text), c.message);
        const tamsel::TextPlace place = placeOfError(c.text);
        EXPECT_EQ(place.firstLine, c.firstLine);
        EXPECT_EQ(place.lastLine, c.lastLine);
        EXPECT_EQ(place.detail, c.detail);
    }
}

TEST(SettingsText, KeepsSettingsReadBeforeAnError)
{
    Settings settings;
    EXPECT_THROW(tamsel::parseSettings(settings, "type_count=7\nfriction=abc\nparticle_count=5\n"),
                 tamsel::InvalidArgumentError);
    EXPECT_EQ(settings.type_count, 7);
    EXPECT_EQ(settings.particle_count, 1000);
}

TEST(SettingsText, StopsQuietlyAndKeepsEarlierLinesButSaysWhereWhenMoreFollows)
{
    struct Case
    {
        const char* text;
        std::size_t line; // where the reading stopped, 0 when only blank lines were left
        const char* why;
    };
    const Case cases[] = {
        {"type_count=7\nfriction=\nparticle_count=5", 2, "whose value is empty"},
        {"type_count=7\n=3\nparticle_count=5", 2, "whose key is empty"},
        {"type_count=7\n \t = 3\nparticle_count=5", 2, "whose key is empty"},
        {"type_count=7\n# note\nfriction=\nparticle_count=5", 3, "whose value is empty"},
        {"type_count=7\r\nfriction=\r\n\r\nparticle_count=5\r\n", 2, "whose value is empty"},
        {"type_count=7\nregion_size: 55\n\nparticle_count: 5", 2, "which has no \"=\""},
        {"type_count=7\n\n \t\nregion_size: 55\nparticle_count: 5\n", 4, "which has no \"=\""},
        // Nothing but blank lines after it: nothing to tell.
        {"type_count=7\nparticle_count= \t ", 0, ""},
        {"type_count=7\nfriction=\n\n \t\n", 0, ""},
        {"type_count=7\n\n", 0, ""},
        {"type_count=7\nno equals sign", 0, ""},
        {"type_count=7\nregion_size: 55\n \n\n", 0, ""},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        Settings s;
        const tamsel::ReadingStop stop = tamsel::parseSettings(s, c.text);
        EXPECT_EQ(s.type_count, 7);
        EXPECT_EQ(s.particle_count, 1000);
        EXPECT_EQ(stop.line, c.line);
        EXPECT_EQ(stop.why, c.why);
    }
}

TEST(SettingsText, ReadsTheLastLineWithOrWithoutLineFeed)
{
    EXPECT_EQ(parsed("type_count=7").type_count, 7);
    EXPECT_EQ(parsed("type_count=7\n").type_count, 7);
    EXPECT_EQ(parsed("friction=0.2\r\ntype_count=7\r\n").type_count, 7);
    EXPECT_EQ(parsed("friction=0.2\rtype_count=7\r").type_count, 7);
}

TEST(SettingsCheck, RefusesValuesTheWorldCannotUse)
{
    struct Case
    {
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"regions_x_count=0", "invalid configuration: regions_x_count must be at least 1"},
        {"regions_y_count=-2", "invalid configuration: regions_y_count must be at least 1"},
        {"region_size=0", "invalid configuration: region_size must be greater than 0"},
        {"region_size=-55", "invalid configuration: region_size must be greater than 0"},
        {"effective_radius=-0.5", "invalid configuration: effective_radius must be at least 0"},
        {"stablized_zone=-1", "invalid configuration: stablized_zone must be at least 0"},
        {"effective_radius=1e6\nmaximum_interaction_distance=-2e6",
         "invalid configuration: effective_radius must be at most region_size (particles push only within the "
         "neighbouring regions)"},
        {"region_size=55\neffective_radius=55.01", "invalid configuration: effective_radius must be at most "
                                                   "region_size (particles push only within the neighbouring regions)"},
        {"type_count=0", "invalid configuration: type_count must be at least 1"},
        {"type_count=4097", "invalid configuration: type_count must be at most 4096"},
        {"particle_count=16777218", "invalid configuration: particle_count must be at most 16777216"},
        {"region_size=1\nregions_x_count=8192\nregions_y_count=2049",
         "invalid configuration: regions_x_count x regions_y_count must be at most 16777216"},
        {"regions_x_count=2e9\nregions_y_count=2e9",
         "invalid configuration: regions_x_count x regions_y_count must be at most 16777216"},
        {"regions_x_count=700", "invalid configuration: regions_x_count x region_size must lie between 1 and 32767 "
                                "(the window's width in pixels)"},
        {"region_size=0.09", "invalid configuration: regions_x_count x region_size must lie between 1 and 32767 "
                             "(the window's width in pixels)"},
        {"regions_y_count=700", "invalid configuration: regions_y_count x region_size must lie between 1 and 32767 "
                                "(the window's height in pixels)"},
        {"friction=inf", "invalid configuration: friction must be a finite number"},
        {"repulsion_strength=-INFINITY", "invalid configuration: repulsion_strength must be a finite number"},
        {"maximum_interaction_strength=nan",
         "invalid configuration: maximum_interaction_strength must be a finite number"},
        {"type_count=nan", "invalid configuration: type_count must be a finite number"},
        {"particle_count=2147483648", "invalid configuration: particle_count must lie within the 32-bit integer range; "
                                      "it reads as the 32-bit float 2147483648"},
        // The nearest float to 2^31 - 1 is 2^31.
        {"regions_x_count=2147483647", "invalid configuration: regions_x_count must lie within the 32-bit integer "
                                       "range; it reads as the 32-bit float 2147483648"},
        {"regions_x_count=-3e9", "invalid configuration: regions_x_count must lie within the 32-bit integer range; "
                                 "it reads as the 32-bit float -3000000000"},
        {"type_count=3.4e38", "invalid configuration: type_count must lie within the 32-bit integer range; it reads "
                              "as the 32-bit float 339999995214436424907732413799364296704"},
        {"maximum_interaction_distance=35.5", "invalid maximum effective distance"}, // 50 - 10 - 5 = 35
        // A radius beyond the region that the reach already refuses keeps the reach's message.
        {"region_size=55\neffective_radius=60\nmaximum_interaction_distance=40", "invalid maximum effective distance"},
        // A value out of range is named before the reach.
        {"maximum_interaction_distance=99\ntype_count=0", "invalid configuration: type_count must be at least 1"},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(errorOf(c.text), c.message);
    }
}

TEST(SettingsCheck, AcceptsTheLimitsThemselves)
{
    const char* files[] = {
        "regions_x_count=1\nregions_y_count=1",
        "effective_radius=0\nstablized_zone=0",
        "type_count=1",
        "type_count=4096",
        "particle_count=16777216",
        "particle_count=0",
        "particle_count=-5",
        "particle_count=-2147483648", // the lowest 32-bit integer, which the float reads exactly
        "region_size=1\nregions_x_count=4096\nregions_y_count=4096\neffective_radius=1",
        "region_size=1\nregions_x_count=32767\nregions_y_count=512\neffective_radius=0.5",
        "regions_x_count=1\nregions_y_count=1\nregion_size=1\neffective_radius=1",
        // The largest radius that the reach check lets through with a reach of 0 or more.
        "effective_radius=50\nstablized_zone=0\nmaximum_interaction_distance=0",
        "friction=-3\nrepulsion_strength=-100\nmaximum_interaction_distance=-4",
        "maximum_interaction_distance=35",
    };
    for (const char* text : files)
    {
        SCOPED_TRACE(text);
        EXPECT_EQ(errorOf(text), "");
    }
}

TEST(SettingsCheck, DefaultsFailOnlyTheReachCheck)
{
    EXPECT_EQ(errorRaisedBy([] { tamsel::checkSettings(Settings()); }), "invalid maximum effective distance");
    EXPECT_EQ(errorRaisedBy([] { tamsel::checkSettings(parsed("region_size=55")); }), "");
}

} // namespace
