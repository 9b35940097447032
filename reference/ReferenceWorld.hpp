#pragma once

#include "settings/Settings.hpp"
#include "world/WorldView.hpp"

#include <cstdint>
#include <list>
#include <vector>

namespace reference
{

// The time step written the plain way, one linked list of particles per region. It is the yardstick the fast
// step of the program is measured and checked against: both must produce the same particles, in the same
// regions and order, with the same float values.
class ReferenceWorld
{
public:
    // A copy of the world's particles, types and matrix; `settings` must be those the world was made from.
    ReferenceWorld(const tamsel::WorldView& world, const tamsel::Settings& settings);

    void update(float dt);

    const std::vector<std::list<tamsel::Particle>>& getRegions() const { return regions; }

private:
    std::size_t regionIndex(sf::Vector2f position) const;

    tamsel::Settings settings;
    std::int32_t typeCount;
    std::vector<tamsel::Interaction> interactions;
    std::vector<std::list<tamsel::Particle>> regions;
};

} // namespace reference
