#pragma once

#include "ReferenceWorld.hpp"
#include "settings/Settings.hpp"
#include "world/Orbisk.hpp"
#include "world/Step.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

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

// A world's particles and interaction matrix stepped by a Step of one width and arithmetic, so that tests hold the
// ways of stepping against each other and place particles by hand; the world itself always steps the program's way.
class SteppedWorld
{
public:
    // An empty grid of the settings' regions, with `types` types whose interactions are all zero.
    SteppedWorld(const tamsel::Settings& settings, std::int32_t types, tamsel::Step step = tamsel::Step())
        : m_typeCount(types), m_interactions(static_cast<std::size_t>(types * types)),
          m_parameters(tamsel::stepParameters(settings)), m_step(std::move(step))
    {
        m_particles.regionStart.assign(m_parameters.grid.regionCount() + 1, 0);
        for (std::vector<float>* field : {&m_particles.x, &m_particles.y, &m_particles.vx, &m_particles.vy})
            field->assign(tamsel::ParticleArrays::padding, 0.0f);
        m_particles.type.assign(tamsel::ParticleArrays::padding, 0);
        m_actingTables = tamsel::actingTables(m_interactions, m_typeCount);
    }

    // The types, matrix and particles of a populated world made from `settings`.
    SteppedWorld(const tamsel::WorldView& world, const tamsel::Settings& settings, tamsel::Step step = tamsel::Step())
        : SteppedWorld(settings, world.typeCount, std::move(step))
    {
        m_interactions = world.interactions;
        m_actingTables = tamsel::actingTables(m_interactions, m_typeCount);
        m_particles = world.particles;
    }

    // Appends a particle at the back of the region that contains its position.
    void addParticle(const tamsel::Particle& p)
    {
        if (!(p.position.x >= 0.0f && p.position.x < m_parameters.width && p.position.y >= 0.0f &&
              p.position.y < m_parameters.height) ||
            p.type < 0 || p.type >= m_typeCount)
            throw std::invalid_argument("a particle outside the world or its types");
        tamsel::ParticleArrays& stored = m_particles;
        const std::size_t region = m_parameters.grid.regionOf(p.position.x, p.position.y);
        const auto at = static_cast<std::ptrdiff_t>(stored.regionStart[region + 1]);
        stored.type.insert(stored.type.begin() + at, p.type);
        stored.x.insert(stored.x.begin() + at, p.position.x);
        stored.y.insert(stored.y.begin() + at, p.position.y);
        stored.vx.insert(stored.vx.begin() + at, p.velocity.x);
        stored.vy.insert(stored.vy.begin() + at, p.velocity.y);
        for (std::size_t r = region + 1; r < stored.regionStart.size(); ++r)
            ++stored.regionStart[r];
    }

    // How particles of type `column` act on particles of type `row`.
    void setInteraction(std::int32_t row, std::int32_t column, const tamsel::Interaction& interaction)
    {
        m_interactions.at(static_cast<std::size_t>(row * m_typeCount + column)) = interaction;
        m_actingTables = tamsel::actingTables(m_interactions, m_typeCount);
    }

    void update(float dt) { m_step.run(m_particles, m_interactions, m_typeCount, m_actingTables, m_parameters, dt); }

    const tamsel::ParticleArrays& getParticles() const { return m_particles; }

private:
    std::int32_t m_typeCount;
    std::vector<tamsel::Interaction> m_interactions;
    tamsel::ActingTables m_actingTables;
    tamsel::StepParameters m_parameters;
    tamsel::ParticleArrays m_particles;
    tamsel::Step m_step;
};

// Every way of stepping this CPU runs: each vector width with square roots and quotients by the hardware's
// instructions, by multiply-add sequences, and by the program's own choice (trying both in the first steps).
inline std::vector<std::pair<std::size_t, tamsel::Arithmetic>> everyWayOfStepping()
{
    std::vector<std::pair<std::size_t, tamsel::Arithmetic>> ways;
    for (const std::size_t lanes : tamsel::Step::laneCounts())
        for (const tamsel::Arithmetic arithmetic :
             {tamsel::Arithmetic::divider, tamsel::Arithmetic::fused, tamsel::Arithmetic::fastest})
            ways.emplace_back(lanes, arithmetic);
    return ways;
}

inline const char* nameOf(tamsel::Arithmetic arithmetic)
{
    switch (arithmetic)
    {
    case tamsel::Arithmetic::divider:
        return "divider";
    case tamsel::Arithmetic::fused:
        return "multiply-adds";
    case tamsel::Arithmetic::fastest:
        break;
    }
    return "fastest";
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

// The particles of region `index`, from front to back.
inline std::vector<tamsel::Particle> regionOf(const tamsel::ParticleArrays& particles, std::size_t index)
{
    std::vector<tamsel::Particle> region;
    for (std::size_t i = particles.regionStart[index]; i < particles.regionStart[index + 1]; ++i)
        region.push_back(particles.at(i));
    return region;
}

// Every particle, region after region, each from front to back.
inline std::vector<tamsel::Particle> allParticles(const tamsel::ParticleArrays& particles)
{
    std::vector<tamsel::Particle> all;
    for (std::size_t i = 0; i < particles.count(); ++i)
        all.push_back(particles.at(i));
    return all;
}

inline std::vector<tamsel::Particle> allParticles(const tamsel::Orbisk& world)
{
    return allParticles(world.getView().particles);
}

inline std::vector<tamsel::Particle> allParticles(const SteppedWorld& world)
{
    return allParticles(world.getParticles());
}

// The same regions holding the same particles (sameParticle) in the same order as the list-based step's world.
inline testing::AssertionResult sameWorld(const tamsel::ParticleArrays& particles,
                                          const reference::ReferenceWorld& expected)
{
    const auto& expectedRegions = expected.getRegions();
    if (particles.regionCount() != expectedRegions.size())
        return testing::AssertionFailure()
               << "region count " << particles.regionCount() << " != " << expectedRegions.size();
    for (std::size_t r = 0; r < expectedRegions.size(); ++r)
    {
        const std::vector<tamsel::Particle> region = regionOf(particles, r);
        if (region.size() != expectedRegions[r].size())
            return testing::AssertionFailure()
                   << "region " << r << " holds " << region.size() << " particles, not " << expectedRegions[r].size();
        auto it = expectedRegions[r].begin();
        std::size_t place = 0;
        for (const tamsel::Particle& p : region)
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
