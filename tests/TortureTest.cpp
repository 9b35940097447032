#include "ReferenceWorld.hpp"
#include "WorldFixture.hpp"
#include "world/Random.hpp"
#include "world/RegionGrid.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace
{

using tamsel::Orbisk;

// Random settings that the settings file accepts, reaching for the extremes: tiny and huge regions, forces up
// to the float limit, negative friction and repulsion, and no close-range zones at all.
tamsel::Settings randomSettings(std::mt19937& random)
{
    const auto uniform = [&random](float a, float b) { return std::uniform_real_distribution<float>(a, b)(random); };
    const auto logUniform = [&](float a, float b) { return std::exp(uniform(std::log(a), std::log(b))); };
    const auto pick = [&random](int count) { return std::uniform_int_distribution<int>(0, count - 1)(random); };

    tamsel::Settings s;
    s.regions_x_count = 1 + pick(6);
    s.regions_y_count = 1 + pick(6);
    s.region_size = logUniform(1.0f, 300.0f);
    s.effective_radius = pick(4) == 0 ? 0.0f : uniform(0.0f, s.region_size / 2);
    s.stablized_zone = pick(4) == 0 ? 0.0f : uniform(0.0f, s.region_size / 4);
    // Usually within the neighbouring regions; sometimes no room for any band at all.
    s.maximum_interaction_distance = std::max(0.0f, s.region_size - s.effective_radius - s.stablized_zone);
    if (pick(3) == 0)
        s.maximum_interaction_distance = -uniform(0.0f, 10.0f);
    s.repulsion_strength = (pick(4) == 0 ? -1.0f : 1.0f) * logUniform(1e-3f, 3e38f);
    s.maximum_interaction_strength = logUniform(1e-3f, 3e38f);
    s.friction = uniform(-1.0f, 2.0f);
    s.type_count = 1 + pick(12);
    s.particle_count = pick(400);
    return s;
}

TEST(Torture, ExtremeWorldsKeepEveryInvariantAndMatchTheListStep)
{
    std::mt19937 random(20261207);
    for (int world = 0; world < 60; ++world)
    {
        const tamsel::Settings s = randomSettings(random);
        SCOPED_TRACE(testing::Message() << "world " << world << ": " << s.regions_x_count << " x " << s.regions_y_count
                                        << " regions of " << s.region_size << ", R " << s.effective_radius << ", Z "
                                        << s.stablized_zone << ", k " << s.repulsion_strength << ", strength "
                                        << s.maximum_interaction_strength << ", friction " << s.friction << ", "
                                        << s.type_count << " types, " << s.particle_count << " particles");
        tamsel::randomEngine.seed(static_cast<unsigned>(world));
        Orbisk orbisk(s);
        orbisk.generateTypes(s.type_count);
        orbisk.generateParticles(s.particle_count);
        reference::ReferenceWorld expected(orbisk.getView(), s);
        const sf::Vector2f size = orbisk.getView().size;
        const tamsel::RegionGrid grid{s.region_size, s.regions_x_count, s.regions_y_count};

        for (int step = 1; step <= 200; ++step)
        {
            orbisk.update(0.025f);
            expected.update(0.025f);
            std::size_t count = 0;
            const tamsel::ParticleArrays& particles = orbisk.getView().particles;
            for (std::size_t index = 0; index < particles.regionCount(); ++index)
                for (const tamsel::Particle& p : testworld::regionOf(particles, index))
                {
                    ++count;
                    ASSERT_TRUE(std::isfinite(p.velocity.x) && std::isfinite(p.velocity.y)) << "step " << step;
                    ASSERT_TRUE(p.position.x >= 0.0f && p.position.x < size.x && p.position.y >= 0.0f &&
                                p.position.y < size.y)
                        << "step " << step << ": (" << p.position.x << ", " << p.position.y << ")";
                    ASSERT_EQ(grid.regionOf(p.position.x, p.position.y), index) << "step " << step;
                }
            ASSERT_EQ(count, static_cast<std::size_t>(s.particle_count)) << "step " << step;
        }

        ASSERT_TRUE(testworld::sameWorld(orbisk.getView().particles, expected));
    }
}

} // namespace
