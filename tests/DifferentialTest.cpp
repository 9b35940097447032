#include "ReferenceWorld.hpp"
#include "WorldFixture.hpp"
#include "world/Random.hpp"

#include <gtest/gtest.h>

#include <vector>

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
// one up, counts on both sides of the lanes of each width (a block's tables are looked up in a register up to as many
// types as lanes), crowded and sparse worlds, and the close-range zones switched off.
const Scenario scenarios[] = {
    {1, 1, 1, 20, 0.01f, 10.0f, 5.0f, 1},    {1, 3, 3, 90, 0.01f, 10.0f, 5.0f, 2},
    {3, 1, 2, 90, 0.0f, 10.0f, 5.0f, 3},     {2, 2, 4, 160, 0.01f, 10.0f, 5.0f, 4},
    {2, 5, 5, 300, 0.05f, 10.0f, 5.0f, 5},   {5, 2, 9, 300, 0.01f, 0.0f, 0.0f, 6},
    {4, 4, 10, 900, 0.01f, 10.0f, 5.0f, 7},  {10, 10, 10, 1000, 0.01f, 10.0f, 5.0f, 8},
    {7, 3, 6, 1800, 0.01f, 12.0f, 3.0f, 9},  {10, 10, 7, 3000, 0.02f, 10.0f, 5.0f, 10},
    {3, 4, 64, 400, 0.01f, 10.0f, 5.0f, 11}, {4, 3, 100, 600, 0.01f, 10.0f, 5.0f, 12},
    {4, 4, 8, 700, 0.01f, 10.0f, 5.0f, 13},  {4, 4, 16, 800, 0.01f, 10.0f, 5.0f, 14},
    {4, 4, 17, 800, 0.01f, 10.0f, 5.0f, 15},
};

// Where runs are slow (under the sanitizers, which look for bad memory accesses; under emulation, where the seeded
// run's fingerprint still follows a long run) each world takes a fifth of the steps; other builds take them all.
#if defined(TESTWORLD_SHORT_RUNS)
constexpr int stepCount = 60;
#else
constexpr int stepCount = 300;
#endif

// Every way of stepping this CPU runs, and the world's own step, each against the list step: the worlds step side
// by side, the list step once for all.
TEST(Differential, FastStepMatchesTheListStepBitForBit)
{
    const auto ways = testworld::everyWayOfStepping();
    for (const Scenario& s : scenarios)
    {
        SCOPED_TRACE(testing::Message() << s.columns << " x " << s.rows << " regions, " << s.types << " types, "
                                        << s.particles << " particles, seed " << s.seed);
        tamsel::Settings settings = testworld::sceneSettings(s.columns, s.rows);
        settings.friction = s.friction;
        settings.effective_radius = s.radius;
        settings.stablized_zone = s.zone;
        // A world that ran with other types first, as after a click: what the step derives from the types must be
        // derived anew.
        Orbisk world(settings);
        tamsel::randomEngine.seed(s.seed + 1000);
        world.generateTypes(s.types);
        world.generateParticles(s.particles);
        world.update(0.025f);
        tamsel::randomEngine.seed(s.seed);
        world.generateTypes(s.types);
        world.generateParticles(s.particles);
        reference::ReferenceWorld expected(world.getView(), settings);
        std::vector<testworld::SteppedWorld> stepped;
        for (const auto& [lanes, arithmetic] : ways)
            stepped.emplace_back(world.getView(), settings, tamsel::Step(lanes, arithmetic));

        for (int step = 1; step <= stepCount; ++step)
        {
            expected.update(0.025f);
            world.update(0.025f);
            ASSERT_TRUE(testworld::sameWorld(world.getView().particles, expected))
                << "the world's own step, after step " << step;
            for (std::size_t w = 0; w < ways.size(); ++w)
            {
                stepped[w].update(0.025f);
                ASSERT_TRUE(testworld::sameWorld(stepped[w].getParticles(), expected))
                    << ways[w].first << " lanes, " << testworld::nameOf(ways[w].second) << ", after step " << step;
            }
        }
    }
}

} // namespace
