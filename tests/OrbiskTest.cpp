#include "WorldFixture.hpp"
#include "world/Random.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>

namespace
{

using tamsel::Orbisk;
using tamsel::Particle;
using testworld::sceneSettings;

TEST(GenerateTypes, ReachMustFitIntoTheNeighbouringRegions)
{
    struct Case
    {
        float regionSize;
        bool fits;
    };
    // effective_radius 10, stablized_zone 5, maximum_interaction_distance 40.
    for (const Case c : {Case{55.0f, true}, Case{54.9f, false}, Case{50.0f, false}})
    {
        SCOPED_TRACE(c.regionSize);
        tamsel::Settings settings;
        settings.region_size = c.regionSize;
        Orbisk world(settings);
        if (c.fits)
        {
            EXPECT_NO_THROW(world.generateTypes(4));
            continue;
        }
        try
        {
            world.generateTypes(4);
            ADD_FAILURE() << "the reach check passed";
        }
        catch (const tamsel::ConfigurationError& error)
        {
            EXPECT_STREQ(error.what(), "invalid maximum effective distance");
        }
        EXPECT_EQ(world.getTypeCount(), 0);
        EXPECT_TRUE(world.getInteractions().empty());
    }
}

TEST(GenerateTypes, DrawsAFullOpaqueTypeTableAndDropsTheGrid)
{
    Orbisk world(sceneSettings());
    world.generateTypes(3);
    world.generateParticles(50);
    world.generateTypes(10);

    EXPECT_EQ(world.getTypeCount(), 10);
    ASSERT_EQ(world.getInteractions().size(), 100u);
    ASSERT_EQ(world.getTypeColors().size(), 10u);
    for (const sf::Color& color : world.getTypeColors())
        EXPECT_EQ(color.a, 255);
    for (const tamsel::Interaction& interaction : world.getInteractions())
    {
        EXPECT_GE(interaction.reach, 0.0f);
        EXPECT_LE(interaction.reach, 40.0f);
        EXPECT_LE(std::fabs(interaction.strength), 10.0f);
    }
    EXPECT_EQ(world.getRegionCount(), 0u);
}

TEST(GenerateParticles, ScattersParticlesAtRestIntoTheirRegions)
{
    for (const auto& [columns, rows] : {std::pair{10, 10}, std::pair{1, 1}, std::pair{3, 7}})
    {
        SCOPED_TRACE(testing::Message() << columns << " x " << rows);
        Orbisk world(sceneSettings(columns, rows));
        world.generateTypes(10);
        world.generateParticles(1000);

        ASSERT_EQ(world.getRegionCount(), static_cast<std::size_t>(columns * rows));
        EXPECT_EQ(testworld::allParticles(world).size(), 1000u);
        for (std::size_t index = 0; index < world.getRegionCount(); ++index)
            for (const Particle& p : world.getRegion(index))
            {
                EXPECT_GE(p.type, 0);
                EXPECT_LT(p.type, 10);
                EXPECT_EQ(p.velocity, sf::Vector2f());
                const auto column = static_cast<std::size_t>(std::floor(p.position.x / 55.0f));
                const auto row = static_cast<std::size_t>(std::floor(p.position.y / 55.0f));
                EXPECT_EQ(column + row * static_cast<std::size_t>(columns), index);
            }
    }
}

TEST(GenerateParticles, NeedsATypeForEveryParticleAndComesBeforeUpdate)
{
    Orbisk world(sceneSettings(2, 2));
    EXPECT_THROW(world.generateParticles(1), std::logic_error);
    world.generateTypes(0);
    EXPECT_THROW(world.generateParticles(1), std::logic_error);
    EXPECT_THROW(world.update(0.025f), std::logic_error);
    world.generateParticles(0);
    EXPECT_EQ(world.getRegionCount(), 4u);
}

TEST(GenerateParticles, ZeroOrFewerParticlesLeaveAnEmptyGrid)
{
    for (std::int32_t count : {0, -5})
    {
        Orbisk world(sceneSettings(4, 3));
        world.generateTypes(2);
        world.generateParticles(count);
        EXPECT_EQ(world.getRegionCount(), 12u);
        EXPECT_EQ(testworld::allParticles(world).size(), 0u);
    }
}

// Engine outputs are spent in a fixed order: reach then strength per matrix entry row by row, one output per
// colour, then per particle its type, x and y.
TEST(Generation, SpendsEngineOutputsInTheirFixedOrder)
{
    const tamsel::Settings settings = sceneSettings(4, 3);
    const float width = 4 * 55.0f, height = 3 * 55.0f;
    tamsel::randomEngine.seed(2024);
    std::mt19937 reference(2024);
    const auto canonical = [&reference] { return static_cast<float>(reference()) / 4294967296.0f; };

    Orbisk world(settings);
    world.generateTypes(3);
    world.generateParticles(20);

    for (const tamsel::Interaction& interaction : world.getInteractions())
    {
        EXPECT_EQ(interaction.reach, canonical() * (40.0f - 0.0f) + 0.0f);
        const double x0 = reference(), x1 = reference();
        const double u = (x0 + x1 * 4294967296.0) / 18446744073709551616.0;
        EXPECT_EQ(interaction.strength, static_cast<float>((u * 2.0 - 1.0) * 10.0));
    }
    for (const sf::Color& color : world.getTypeColors())
    {
        const std::uint32_t v = reference();
        EXPECT_EQ(color, sf::Color(v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF, 255));
    }

    // Particles come out sorted by region; match them by their drawn values instead.
    std::vector<Particle> expected;
    for (int i = 0; i < 20; ++i)
    {
        std::uint32_t type;
        do
            type = reference();
        while (type / 3 >= 0xFFFFFFFFu / 3);
        const float x = canonical() * width;
        const float y = canonical() * height;
        expected.push_back(testworld::particle(static_cast<std::int32_t>(type % 3), x, y));
    }
    std::size_t found = 0;
    for (const Particle& p : testworld::allParticles(world))
        for (const Particle& e : expected)
            found += testworld::sameParticle(p, e);
    EXPECT_EQ(found, expected.size());
    EXPECT_EQ(tamsel::randomEngine(), reference());
}

TEST(Generation, OneTypeSpendsNoOutputOnTypes)
{
    tamsel::randomEngine.seed(99);
    Orbisk world(sceneSettings(1, 1));
    world.generateTypes(1);
    std::mt19937 reference(tamsel::randomEngine);
    world.generateParticles(5);

    for (const Particle& p : world.getRegion(0))
    {
        EXPECT_EQ(p.type, 0);
        EXPECT_EQ(p.position.x, static_cast<float>(reference()) / 4294967296.0f * 55.0f);
        EXPECT_EQ(p.position.y, static_cast<float>(reference()) / 4294967296.0f * 55.0f);
    }
}

TEST(RegionIndex, CoversTheWholeGridAndNoMore)
{
    Orbisk world(sceneSettings(10, 8));
    const float width = 550.0f, height = 440.0f;
    EXPECT_EQ(world.getRegionIndex({0.0f, 0.0f}), 0u);
    EXPECT_EQ(world.getRegionIndex({width - 0.5f, height - 0.5f}), 79u);
    EXPECT_EQ(world.getRegionIndex({55.0f, 0.0f}), 1u);
    EXPECT_EQ(world.getRegionIndex({0.0f, 55.0f}), 10u);
    // The largest coordinates below the far edges still land in the last column and row.
    EXPECT_EQ(world.getRegionIndex({std::nextafter(width, 0.0f), std::nextafter(height, 0.0f)}), 79u);
}

} // namespace
