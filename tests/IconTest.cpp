#include "app/Icon.hpp"
#include "world/SfmlCompat.hpp"

#include <gtest/gtest.h>

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

} // namespace
