#include "ReferenceWorld.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace reference
{

using tamsel::Interaction;
using tamsel::Particle;

ReferenceWorld::ReferenceWorld(const tamsel::WorldView& world, const tamsel::Settings& settings)
    : settings(settings), typeCount(world.typeCount), interactions(world.interactions)
{
    const tamsel::ParticleArrays& particles = world.particles;
    regions.resize(particles.regionCount());
    for (std::size_t r = 0; r < regions.size(); ++r)
        for (std::size_t i = particles.regionStart[r]; i < particles.regionStart[r + 1]; ++i)
            regions[r].push_back(particles.at(i));
}

std::size_t ReferenceWorld::regionIndex(sf::Vector2f position) const
{
    const auto cell = [this](float coordinate, std::int32_t cells) -> std::size_t
    {
        const float index = std::floor(coordinate / settings.region_size);
        if (!(index > 0.0f))
            return 0;
        if (index >= static_cast<float>(cells))
            return static_cast<std::size_t>(cells) - 1;
        return static_cast<std::size_t>(index);
    };
    return cell(position.x, settings.regions_x_count) +
           cell(position.y, settings.regions_y_count) * static_cast<std::size_t>(settings.regions_x_count);
}

void ReferenceWorld::update(float dt)
{
    const float W = tamsel::worldWidth(settings);
    const float H = tamsel::worldHeight(settings);
    const float R = settings.effective_radius;
    const float Z = settings.stablized_zone;
    const float k = settings.repulsion_strength;
    const std::size_t T = static_cast<std::size_t>(typeCount);
    const std::int32_t columns = settings.regions_x_count;
    const std::int32_t rows = settings.regions_y_count;

    // A column (or row) of the grid wrapped into it, with the shift that carries its particles next to the one
    // looking at them.
    const auto wrap = [](std::int32_t cell, std::int32_t count, float extent, float& shift)
    {
        shift = cell < 0 ? extent : cell >= count ? -extent : 0.0f;
        return cell < 0 ? cell + count : cell >= count ? cell - count : cell;
    };

    // Forces: positions stay fixed while every velocity collects its contributions. Each velocity receives them
    // in a fixed order (neighbour column, neighbour row, list order), since float sums depend on their order.
    for (std::int32_t c = 0; c < columns; ++c)
        for (std::int32_t r = 0; r < rows; ++r)
            for (Particle& p : regions[static_cast<std::size_t>(c + r * columns)])
                for (std::int32_t dx = -1; dx <= 1; ++dx)
                    for (std::int32_t dy = -1; dy <= 1; ++dy)
                    {
                        // A neighbour across an edge is seen at its image one world width or height away.
                        float sx, sy;
                        const std::int32_t nc = wrap(c + dx, columns, W, sx);
                        const std::int32_t nr = wrap(r + dy, rows, H, sy);

                        for (const Particle& q : regions[static_cast<std::size_t>(nc + nr * columns)])
                        {
                            const float u = p.position.x - (q.position.x - sx);
                            const float v = p.position.y - (q.position.y - sy);
                            const float d = std::sqrt(u * u + v * v);
                            float F;
                            if (d > R + Z)
                            {
                                // A tent over the band of width reach that starts at R + Z.
                                const float e = d - R - Z;
                                const Interaction& m = interactions[T * static_cast<std::size_t>(p.type) +
                                                                    static_cast<std::size_t>(q.type)];
                                F = m.strength * std::max(0.0f, std::min(e, m.reach - e));
                            }
                            else if (d > R)
                                F = 0.0f;
                            else if (d > 0.0f)
                                F = (R - d) * k;
                            else
                                continue; // p itself, or a particle on top of it: no direction to push
                            p.velocity.x += F / d * u * dt;
                            p.velocity.y += F / d * v * dt;
                        }
                    }

    // Motion: damp, move, wrap, and collect the particles that left their region. They rejoin the grid only
    // after the walk, so none is moved twice and arrivals come after the particles already in a region.
    const float damping = 1.0f - settings.friction;
    std::vector<std::pair<std::size_t, Particle>> pending;
    for (std::size_t j = 0; j < regions.size(); ++j)
    {
        std::list<Particle>& region = regions[j];
        for (auto it = region.begin(); it != region.end();)
        {
            Particle& p = *it;
            p.velocity.x *= damping;
            p.velocity.y *= damping;
            p.position.y = p.position.y + p.velocity.y * dt;
            p.position.x = std::fmod(p.position.x + p.velocity.x * dt, W);
            p.position.y = std::fmod(p.position.y, H);
            if (p.position.x < 0.0f)
                p.position.x += W;
            if (p.position.y < 0.0f)
                p.position.y += H;
            // A tiny negative coordinate plus the width can round to the width itself: that is the near edge.
            if (p.position.x >= W)
                p.position.x = 0.0f;
            if (p.position.y >= H)
                p.position.y = 0.0f;
            // Overwhelming forces can overflow a velocity or position; such a particle has no place in the
            // grid, so it restarts at rest, with each lost coordinate on the world's near edge.
            if (!std::isfinite(p.velocity.x) || !std::isfinite(p.velocity.y) || !std::isfinite(p.position.x) ||
                !std::isfinite(p.position.y))
            {
                p.velocity = {};
                if (!std::isfinite(p.position.x))
                    p.position.x = 0.0f;
                if (!std::isfinite(p.position.y))
                    p.position.y = 0.0f;
            }

            const std::size_t target = regionIndex(p.position);
            if (target != j)
            {
                pending.emplace_back(target, p);
                it = region.erase(it);
            }
            else
                ++it;
        }
    }
    for (const auto& [target, particle] : pending)
        regions[target].push_back(particle);
}

} // namespace reference
