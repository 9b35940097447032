#include "app/Icon.hpp"
#include "platform/SfmlCompat.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>
#if !defined(_WIN32)
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#endif

namespace
{

TEST(Icon, LargePicturesShrinkToFitKeepingTheirAspect)
{
    struct Case
    {
        sf::Vector2u size, fitted;
    };
    const Case cases[] = {
        {{256, 256}, {256, 256}}, {{16, 40}, {16, 40}},  {{257, 10}, {256, 9}},      {{1000, 250}, {256, 64}},
        {{300, 1}, {256, 1}},     {{1, 5000}, {1, 256}}, {{4000, 3000}, {256, 192}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.size.x << " x " << c.size.y);
        const sf::Image image = tamsel::sfml::makeImage(c.size, sf::Color(10, 20, 30, 40));
        const sf::Image icon = tamsel::fitIcon(image);
        EXPECT_EQ(icon.getSize(), c.fitted);
        EXPECT_EQ(tamsel::sfml::getPixel(icon, c.fitted.x - 1, c.fitted.y - 1), sf::Color(10, 20, 30, 40));
    }
}

TEST(Icon, ShrunkPixelsAverageWhatTheyCover)
{
    // Left half opaque red, right half transparent green: the green lends nothing but transparency where the two
    // halves meet in one icon pixel.
    sf::Image image = tamsel::sfml::makeImage({6, 2}, sf::Color(0, 255, 0, 0));
    for (unsigned y = 0; y < 2; ++y)
        for (unsigned x = 0; x < 3; ++x)
            tamsel::sfml::setPixel(image, x, y, sf::Color::Red);
    const sf::Image icon = tamsel::fitIcon(image, 3);
    ASSERT_EQ(icon.getSize(), sf::Vector2u(3, 1));
    EXPECT_EQ(tamsel::sfml::getPixel(icon, 0, 0), sf::Color(255, 0, 0, 255));
    EXPECT_EQ(tamsel::sfml::getPixel(icon, 1, 0), sf::Color(255, 0, 0, 128));
    EXPECT_EQ(tamsel::sfml::getPixel(icon, 2, 0), sf::Color(0, 0, 0, 0));
}

TEST(Icon, OnlyRegularFilesAreRead)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("orbisk-icon-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const sf::Image picture = tamsel::sfml::makeImage({3, 2}, sf::Color::Red);
    ASSERT_TRUE(picture.saveToFile((dir / "picture.png").string()));
    std::vector<std::string> readable = {"picture.png"};
#if !defined(_WIN32)
    std::filesystem::create_symlink("picture.png", dir / "link-to-picture.png");
    readable.push_back("link-to-picture.png");
#endif
    for (const std::string& name : readable)
        EXPECT_EQ(tamsel::loadIcon((dir / name).string()).getSize(), sf::Vector2u(3, 2)) << name;

    // None of these may block or fail the program: each leaves the default icon. A pipe without a writer would
    // block its reader for ever.
    std::vector<std::string> unreadable = {(dir / "absent.png").string(), dir.string()};
#if !defined(_WIN32)
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::filesystem::create_symlink("pipe", dir / "link-to-pipe");
    std::filesystem::create_symlink(dir, dir / "link-to-folder");
    const int listening = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket").string();
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listening, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    for (const char* name : {"pipe", "link-to-pipe", "link-to-folder", "socket"})
        unreadable.push_back((dir / name).string());
    unreadable.push_back("/dev/zero");
#endif
    for (const std::string& path : unreadable)
        EXPECT_EQ(tamsel::loadIcon(path).getSize(), sf::Vector2u(0, 0)) << path;
#if !defined(_WIN32)
    close(listening);
#endif
    std::filesystem::remove_all(dir);
}

} // namespace
