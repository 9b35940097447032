#pragma once

#include "world/Particles.hpp"

#include <SFML/Graphics/Color.hpp>
#include <SFML/System/Vector2.hpp>

#include <cstdint>
#include <vector>

namespace tamsel
{

/// The world as it is now, read-only: what drawing it shows, and what its users may look at. Valid until the world
/// next changes (update, generateTypes, generateParticles, assignment).
struct WorldView
{
    const ParticleArrays& particles;              ///< region after region, each region's from front to back
    const std::vector<Interaction>& interactions; ///< typeCount x typeCount, row: moved type, column: acting type
    std::int32_t typeCount;
    const std::vector<sf::Color>& typeColors; ///< indexed by type
    sf::Vector2f size;                        ///< world units: regions_x_count and regions_y_count x region_size
    std::uint64_t version;                    ///< changes with every change of the world
};

} // namespace tamsel
