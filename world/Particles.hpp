#pragma once

#include <SFML/System/Vector2.hpp>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamsel
{

/// How particles of one type act on particles of another.
struct Interaction
{
    float strength = 0.0f; // signed: positive pushes the moved particle away, negative pulls it closer
    float reach = 0.0f;    // world units: width of the band beyond effective_radius + stablized_zone
};

struct Particle
{
    std::int32_t type = 0; // 0 <= type < type count
    sf::Vector2f position; // world units, inside [0, width) x [0, height)
    sf::Vector2f velocity; // world units per second
};

/// The particles of a world, region after region, one array per field: the particles of region r occupy
/// [regionStart[r], regionStart[r + 1]), from front to back. There is no grid while regionStart is empty.
struct ParticleArrays
{
    /// Each array holds this many zeros after the last particle, so that the step's vector loads may read past it.
    static constexpr std::size_t padding = 16;

    std::vector<std::uint32_t> regionStart;
    std::vector<std::int32_t> type;
    std::vector<float> x, y, vx, vy;

    std::size_t count() const { return regionStart.empty() ? 0 : regionStart.back(); }
    std::size_t regionCount() const { return regionStart.empty() ? 0 : regionStart.size() - 1; }
    Particle at(std::size_t index) const { return {type[index], {x[index], y[index]}, {vx[index], vy[index]}}; }
};

} // namespace tamsel
