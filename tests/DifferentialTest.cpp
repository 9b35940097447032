#include "ReferenceWorld.hpp"
#include "WorldFixture.hpp"
#include "world/Random.hpp"

#include <gtest/gtest.h>

namespace
{

using tamsel::Orbisk;

struct Scenario
{
    std::int32_t columns;
    std::int32_t rows;
    std::int32_t types;
    std::int32_t particles;
    float friction;
    float radius;
    float zone;
    unsigned seed;
};

// Grids down to one column or row (where a region is its own neighbour at several images), every type count from
// one up, crowded and sparse worlds, and the close-range zones switched off.
const Scenario scenarios[] = {
    {1, 1, 1, 20, 0.01f, 10.0f, 5.0f, 1},    {1, 3, 3, 90, 0.01f, 10.0f, 5.0f, 2},
    {3, 1, 2, 90, 0.0f, 10.0f, 5.0f, 3},     {2, 2, 4, 160, 0.01f, 10.0f, 5.0f, 4},
    {2, 5, 5, 300, 0.05f, 10.0f, 5.0f, 5},   {5, 2, 9, 300, 0.01f, 0.0f, 0.0f, 6},
    {4, 4, 10, 900, 0.01f, 10.0f, 5.0f, 7},  {10, 10, 10, 1000, 0.01f, 10.0f, 5.0f, 8},
    {7, 3, 6, 1800, 0.01f, 12.0f, 3.0f, 9},  {10, 10, 7, 3000, 0.02f, 10.0f, 5.0f, 10},
    {3, 4, 64, 400, 0.01f, 10.0f, 5.0f, 11}, {4, 3, 100, 600, 0.01f, 10.0f, 5.0f, 12},
};

// Every vector width this CPU runs, each against the list step.
TEST(Differential, FastStepMatchesTheListStepBitForBit)
{
    for (const std::size_t lanes : tamsel::Step::laneCounts())
        for (const Scenario& s : scenarios)
        {
            tamsel::Step::useLanes(lanes);
            SCOPED_TRACE(testing::Message() << lanes << " lanes, " << s.columns << " x " << s.rows << " regions, "
                                            << s.types << " types, " << s.particles << " particles, seed " << s.seed);
            tamsel::Settings settings = testworld::sceneSettings(s.columns, s.rows);
            settings.friction = s.friction;
            settings.effective_radius = s.radius;
            settings.stablized_zone = s.zone;
            tamsel::randomEngine.seed(s.seed);
            Orbisk world(settings);
            world.generateTypes(s.types);
            world.generateParticles(s.particles);
            reference::ReferenceWorld expected(world, settings);

            for (int step = 1; step <= 300; ++step)
            {
                world.update(0.025f);
                expected.update(0.025f);
                ASSERT_TRUE(testworld::sameWorld(world, expected)) << "after step " << step;
            }
        }
    tamsel::Step::useLanes(0);
}

} // namespace
