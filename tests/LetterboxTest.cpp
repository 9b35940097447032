#include "app/Letterbox.hpp"

#include <gtest/gtest.h>

namespace
{

TEST(Letterbox, WorldFillsTheLargestCentredRectangleOfItsShape)
{
    struct Case
    {
        sf::Vector2f world;
        sf::Vector2u window;
        sf::FloatRect viewport;
    };
    using Rect = sf::FloatRect;
    using Point = sf::Vector2f;
    const Case cases[] = {
        {{550, 550}, {550, 550}, Rect(Point(0, 0), Point(1, 1))},
        {{550, 550}, {1100, 550}, Rect(Point(0.25f, 0), Point(0.5f, 1))},
        {{550, 550}, {550, 1100}, Rect(Point(0, 0.25f), Point(1, 0.5f))},
        {{550, 550}, {1100, 1100}, Rect(Point(0, 0), Point(1, 1))},
        {{660, 440}, {1320, 880}, Rect(Point(0, 0), Point(1, 1))},
        {{400, 100}, {400, 400}, Rect(Point(0, 0.375f), Point(1, 0.25f))},
        {{100, 400}, {800, 400}, Rect(Point(0.4375f, 0), Point(0.125f, 1))},
        // A minimised window has no area to fit anything into.
        {{550, 550}, {0, 300}, Rect(Point(0, 0), Point(1, 1))},
        {{550, 550}, {300, 0}, Rect(Point(0, 0), Point(1, 1))},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(testing::Message() << c.world.x << " x " << c.world.y << " in " << c.window.x << " x "
                                        << c.window.y);
        EXPECT_EQ(tamsel::letterbox(c.world, c.window), c.viewport);
    }
}

TEST(Letterbox, ViewShowsTheWholeWorld)
{
    const sf::View view = tamsel::letterboxView({660, 440}, {1320, 440});
    EXPECT_EQ(view.getSize(), sf::Vector2f(660, 440));
    EXPECT_EQ(view.getCenter(), sf::Vector2f(330, 220));
    EXPECT_EQ(view.getViewport(), sf::FloatRect(sf::Vector2f(0.25f, 0), sf::Vector2f(0.5f, 1)));
}

} // namespace
