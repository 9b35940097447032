#include "drawing/WorldDrawing.hpp"
#include "platform/SfmlCompat.hpp"
#include "world/Orbisk.hpp"
#include "world/Random.hpp"

#include <SFML/Graphics/CircleShape.hpp>
#include <SFML/Graphics/RectangleShape.hpp>
#include <SFML/Graphics/RenderTexture.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace
{

using tamsel::Orbisk;

// What the render target shows after `draw` on a cleared black texture; empty when no such texture exists.
sf::Image render(sf::Vector2u size, unsigned antialiasing, const std::function<void(sf::RenderTarget&)>& draw)
{
    sf::RenderTexture texture;
    sf::ContextSettings context;
    tamsel::sfml::antialiasingLevel(context) = antialiasing;
    if (!tamsel::sfml::createTexture(texture, size, context))
        return {};
    texture.clear(sf::Color(0, 0, 0, 255));
    draw(texture);
    texture.display();
    return texture.getTexture().copyToImage();
}

// The world drawn the plain way: its background, then one 30-point circle shape per particle in region order.
void drawShapeByShape(sf::RenderTarget& target, const Orbisk& world, float radius)
{
    const tamsel::WorldView view = world.getView();
    sf::RectangleShape background(view.size);
    background.setFillColor(sf::Color::Black);
    target.draw(background);
    for (std::size_t i = 0; i < view.particles.count(); ++i)
    {
        const tamsel::Particle particle = view.particles.at(i);
        sf::CircleShape circle(radius, 30);
        circle.setPosition(particle.position);
        circle.setFillColor(view.typeColors[static_cast<std::size_t>(particle.type)]);
        target.draw(circle);
    }
}

std::size_t differingPixels(const sf::Image& a, const sf::Image& b)
{
    std::size_t count = 0;
    for (unsigned y = 0; y < a.getSize().y; ++y)
        for (unsigned x = 0; x < a.getSize().x; ++x)
            count += tamsel::sfml::getPixel(a, x, y) != tamsel::sfml::getPixel(b, x, y);
    return count;
}

// Pixels of a colour other than black and the types' colours: the blends at the circles' edges that antialiasing
// makes. Without antialiasing every pixel has one of those colours.
std::size_t blendedPixels(const sf::Image& image, const std::vector<sf::Color>& typeColors)
{
    std::size_t count = 0;
    for (unsigned y = 0; y < image.getSize().y; ++y)
        for (unsigned x = 0; x < image.getSize().x; ++x)
        {
            const sf::Color pixel = tamsel::sfml::getPixel(image, x, y);
            count +=
                pixel != sf::Color::Black && std::find(typeColors.begin(), typeColors.end(), pixel) == typeColors.end();
        }
    return count;
}

struct Scene
{
    std::int32_t columns, rows;
    float regionSize, radius;
    std::int32_t types, particles, steps;
    unsigned antialiasing;
};

TEST(Drawing, LooksLikeOneShapePerParticle)
{
    const Scene scenes[] = {
        {10, 10, 55.0f, 10.0f, 10, 1000, 60, 0}, {34, 19, 55.0f, 10.0f, 10, 20000, 5, 0},
        {6, 4, 40.0f, 3.5f, 5, 2500, 20, 0},     {2, 3, 80.0f, 25.0f, 3, 60, 30, 0},
        {3, 3, 55.0f, 0.0f, 2, 50, 0, 0},        {10, 10, 55.0f, 10.0f, 10, 1000, 60, 4},
        {50, 30, 55.0f, 2.0f, 10, 140000, 2, 0}, // more circles than are kept between frames
    };
    // Under an OpenGL version too old for the graphics card's circles (render.OldContext), drawing falls back to the
    // batches.
    const bool oldContext = std::getenv("MESA_GL_VERSION_OVERRIDE") != nullptr;
    for (const Scene& scene : scenes)
    {
        SCOPED_TRACE(testing::Message() << scene.columns << " x " << scene.rows << " regions, radius " << scene.radius
                                        << ", antialiasing " << scene.antialiasing);
        tamsel::Settings settings;
        settings.regions_x_count = scene.columns;
        settings.regions_y_count = scene.rows;
        settings.region_size = scene.regionSize;
        settings.effective_radius = scene.radius;
        settings.stablized_zone = 0.0f;
        settings.maximum_interaction_distance = scene.regionSize - scene.radius;
        tamsel::randomEngine.seed(scene.particles);
        Orbisk world(settings);
        world.generateTypes(scene.types);
        world.generateParticles(scene.particles);
        for (int i = 0; i < scene.steps; ++i)
            world.update(0.025f);

        const sf::Vector2f size = world.getView().size;
        const sf::Vector2u pixels(static_cast<unsigned>(size.x), static_cast<unsigned>(size.y));
        const sf::Image shapes =
            render(pixels, scene.antialiasing, [&](sf::RenderTarget& t) { drawShapeByShape(t, world, scene.radius); });
        ASSERT_EQ(shapes.getSize(), pixels) << "no render texture could be made";
        // The antialiasing level asked for is the one drawn with, never quietly dropped.
        EXPECT_EQ(blendedPixels(shapes, world.getView().typeColors) > 0, scene.antialiasing > 0 && scene.radius > 0);
        tamsel::WorldDrawing drawing(scene.radius);
        const sf::Image drawn =
            render(pixels, scene.antialiasing, [&](sf::RenderTarget& t) { drawing.draw(world.getView(), t, {}); });
        const char* path = drawing.isGpuDrawing() ? "graphics card's circles" : "batches";
        EXPECT_EQ(drawing.isGpuDrawing(), !oldContext) << "drawn with the " << path;
        ASSERT_EQ(drawn.getSize(), pixels);
        // A circle shape reaches the GPU at the origin with its position as a transform, which the GPU folds into
        // its projection in its own float arithmetic; the world's circles arrive already in place, from the batch
        // or from the graphics card's own addition. Both give the same triangles up to the last bit of a corner, so
        // at most a pixel whose centre or sample lies exactly on an edge can differ: about one in 150,000 here.
        const std::size_t differing = differingPixels(drawn, shapes);
        EXPECT_LE(differing, pixels.x * pixels.y / 50000) << path;
        std::printf("%u x %u pixels, radius %g, antialiasing %u, %s: %zu differ\n", pixels.x, pixels.y, scene.radius,
                    scene.antialiasing, path, differing);
    }
}

// Each world keeps its own records on the graphics card: a copy, an assigned world and the original each draw
// themselves as they are now, in any number of render targets.
TEST(Drawing, CopiedWorldsDrawThemselves)
{
    tamsel::Settings settings;
    settings.region_size = 55.0f;
    tamsel::randomEngine.seed(7);
    Orbisk world(settings);
    world.generateTypes(5);
    world.generateParticles(1000);
    const sf::Vector2u pixels(550, 550);
    const auto picture = [&](const Orbisk& w) { return render(pixels, 0, [&](sf::RenderTarget& t) { t.draw(w); }); };
    const auto shapes = [&](const Orbisk& w)
    { return render(pixels, 0, [&](sf::RenderTarget& t) { drawShapeByShape(t, w, settings.effective_radius); }); };

    const sf::Image before = picture(world);
    Orbisk copy = world;
    copy.update(0.025f);
    Orbisk assigned(settings);
    picture(assigned);
    assigned = copy;
    assigned.update(0.025f);
    EXPECT_LE(differingPixels(picture(copy), shapes(copy)), pixels.x * pixels.y / 50000);
    EXPECT_LE(differingPixels(picture(assigned), shapes(assigned)), pixels.x * pixels.y / 50000);
    EXPECT_EQ(differingPixels(picture(world), before), 0u);
    EXPECT_GT(differingPixels(picture(copy), before), 0u);
}

} // namespace
