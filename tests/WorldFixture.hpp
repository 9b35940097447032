#pragma once

#include "settings/Settings.hpp"
#include "world/Orbisk.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace testworld
{

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

} // namespace testworld
