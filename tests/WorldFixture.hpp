#pragma once

#include "ReferenceWorld.hpp"
#include "settings/Settings.hpp"
#include "world/Orbisk.hpp"
#include "world/Step.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace testworld
{

// Gives the step back its own choices of lane width and square roots when it goes, so that a test that sets them
// and fails an assertion halfway cannot leave them to the tests after it.
struct StepChoicesGuard
{
    StepChoicesGuard() = default;
    StepChoicesGuard(const StepChoicesGuard&) = delete;
    StepChoicesGuard& operator=(const StepChoicesGuard&) = delete;
    ~StepChoicesGuard()
    {
        tamsel::Step::useLanes(0);
        tamsel::Step::chooseFastestRoots();
    }
};

// A grid of 55-unit regions whose random interactions just fit into the neighbouring regions.
inline tamsel::Settings sceneSettings(std::int32_t columns = 10, std::int32_t rows = 10)
{
    tamsel::Settings settings;
    settings.region_size = 55.0f;
    settings.regions_x_count = columns;
    settings.regions_y_count = rows;
    return settings;
}

// A populated but empty world whose interactions are all zero, ready for hand-placed particles.
inline tamsel::Orbisk emptyWorld(const tamsel::Settings& settings, std::int32_t types = 2)
{
    tamsel::Orbisk world(settings);
    world.generateTypes(types);
    world.generateParticles(0);
    for (std::int32_t a = 0; a < types; ++a)
        for (std::int32_t b = 0; b < types; ++b)
            world.setInteraction(a, b, {});
    return world;
}

inline tamsel::Particle particle(std::int32_t type, float x, float y, float vx = 0.0f, float vy = 0.0f)
{
    tamsel::Particle p;
    p.type = type;
    p.position = {x, y};
    p.velocity = {vx, vy};
    return p;
}

inline std::uint32_t bitsOf(float value)
{
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Bit-identical particles; a zero velocity equals a negative zero, since adding a zero force may flip the sign
// of a zero sum and nothing the world computes depends on it.
inline bool sameParticle(const tamsel::Particle& a, const tamsel::Particle& b)
{
    const auto sameVelocity = [](float x, float y) { return bitsOf(x) == bitsOf(y) || (x == 0.0f && y == 0.0f); };
    return a.type == b.type && bitsOf(a.position.x) == bitsOf(b.position.x) &&
           bitsOf(a.position.y) == bitsOf(b.position.y) && sameVelocity(a.velocity.x, b.velocity.x) &&
           sameVelocity(a.velocity.y, b.velocity.y);
}

// Every particle of a world, region after region, each from front to back.
inline std::vector<tamsel::Particle> allParticles(const tamsel::Orbisk& world)
{
    std::vector<tamsel::Particle> all;
    for (std::size_t r = 0; r < world.getRegionCount(); ++r)
    {
        const tamsel::Orbisk::Region region = world.getRegion(r);
        all.insert(all.end(), region.begin(), region.end());
    }
    return all;
}

// The same regions holding the same particles (sameParticle) in the same order as the list-based step's world.
inline testing::AssertionResult sameWorld(const tamsel::Orbisk& world, const reference::ReferenceWorld& expected)
{
    const auto& expectedRegions = expected.getRegions();
    if (world.getRegionCount() != expectedRegions.size())
        return testing::AssertionFailure()
               << "region count " << world.getRegionCount() << " != " << expectedRegions.size();
    for (std::size_t r = 0; r < expectedRegions.size(); ++r)
    {
        const auto region = world.getRegion(r);
        if (region.size() != expectedRegions[r].size())
            return testing::AssertionFailure()
                   << "region " << r << " holds " << region.size() << " particles, not " << expectedRegions[r].size();
        auto it = expectedRegions[r].begin();
        std::size_t place = 0;
        for (const tamsel::Particle p : region)
        {
            const tamsel::Particle& e = *it++;
            if (!sameParticle(p, e))
                return testing::AssertionFailure()
                       << "region " << r << " place " << place << ": type " << p.type << " at (" << p.position.x << ", "
                       << p.position.y << ") moving (" << p.velocity.x << ", " << p.velocity.y << "), expected type "
                       << e.type << " at (" << e.position.x << ", " << e.position.y << ") moving (" << e.velocity.x
                       << ", " << e.velocity.y << ")";
            ++place;
        }
    }
    return testing::AssertionSuccess();
}

} // namespace testworld
