#include "WorldFixture.hpp"
#include "world/Random.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace
{

using tamsel::Orbisk;
using tamsel::Particle;
using testworld::allParticles;
using testworld::particle;
using testworld::sceneSettings;

constexpr float dt = 0.025f;

// The particles of a scene after one step, in region order, alike on every way of stepping. The scene has no
// friction unless told.
std::vector<Particle> step(tamsel::Settings settings, const std::vector<Particle>& scene,
                           const std::vector<std::pair<std::pair<int, int>, tamsel::Interaction>>& matrix = {})
{
    std::vector<Particle> first;
    for (const auto& [lanes, arithmetic] : testworld::everyWayOfStepping())
    {
        testworld::SteppedWorld world(settings, 2, tamsel::Step(lanes, arithmetic));
        for (const auto& [entry, interaction] : matrix)
            world.setInteraction(entry.first, entry.second, interaction);
        for (const Particle& p : scene)
            world.addParticle(p);
        world.update(dt);
        const std::vector<Particle> after = allParticles(world);
        if (first.empty())
            first = after;
        const bool same = after.size() == first.size() &&
                          std::equal(after.begin(), after.end(), first.begin(), testworld::sameParticle);
        EXPECT_TRUE(same) << lanes << " lanes, " << testworld::nameOf(arithmetic);
    }
    return first;
}

tamsel::Settings frictionless(std::int32_t columns = 10, std::int32_t rows = 10)
{
    tamsel::Settings settings = sceneSettings(columns, rows);
    settings.friction = 0.0f;
    return settings;
}

TEST(Step, LoneParticleOnlyDriftsAndSlows)
{
    const auto after = step(sceneSettings(), {particle(0, 100.0f, 200.0f, 40.0f, -8.0f)});
    ASSERT_EQ(after.size(), 1u);
    const float vx = 40.0f * (1.0f - 0.01f), vy = -8.0f * (1.0f - 0.01f);
    EXPECT_EQ(after[0].velocity, sf::Vector2f(vx, vy));
    EXPECT_EQ(after[0].position, sf::Vector2f(100.0f + vx * dt, 200.0f + vy * dt));
}

TEST(Step, ForceLawOverDistance)
{
    // Particle 0 at (100, 100), particle 1 to its right; only type 1 acts on type 0 through the matrix, so the
    // right-hand particle feels the band force of no one.
    struct Case
    {
        const char* name;
        float distance;
        float strength;
        float leftVelocity;  // of the particle at (100, 100)
        float rightVelocity; // of the other
    };
    const Case cases[] = {
        {"close-range push", 5.0f, 2.0f, -12.5f, 12.5f}, // (10 - 5) x 100 / 5 x 5 x 0.025
        {"neutral zone", 12.0f, 2.0f, 0.0f, 0.0f},
        {"inner edge of the band", 15.0f, 2.0f, 0.0f, 0.0f},
        {"middle of the band pushes", 25.0f, 2.0f, -0.5f, 0.0f}, // 2 x min(10, 20 - 10) / 25 x 25 x 0.025
        {"middle of the band pulls", 25.0f, -2.0f, 0.5f, 0.0f},
        {"outer edge of the band", 35.0f, 2.0f, 0.0f, 0.0f},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const auto after = step(frictionless(), {particle(0, 100.0f, 100.0f), particle(1, 100.0f + c.distance, 100.0f)},
                                {{{0, 1}, {c.strength, 20.0f}}});
        ASSERT_EQ(after.size(), 2u);
        EXPECT_EQ(after[0].velocity, sf::Vector2f(c.leftVelocity, 0.0f));
        EXPECT_EQ(after[1].velocity, sf::Vector2f(c.rightVelocity, 0.0f));
    }
}

TEST(Step, WrapsAtBothEdges)
{
    const float width = 550.0f;
    const auto right = step(frictionless(), {particle(0, width - 0.1f, 30.0f, 10.0f)});
    EXPECT_EQ(right[0].position.x, std::fmod((width - 0.1f) + 10.0f * dt, width));
    EXPECT_NEAR(right[0].position.x, 0.15f, 1e-4f);

    const auto left = step(frictionless(), {particle(0, 0.1f, 30.0f, -10.0f)});
    EXPECT_EQ(left[0].position.x, (0.1f + -10.0f * dt) + width);
    EXPECT_NEAR(left[0].position.x, width - 0.15f, 1e-4f);

    // Farther than a whole world in one step: the remainder of the division by the width.
    const auto far = step(frictionless(), {particle(0, 100.0f, 30.0f, 30000.0f, -30000.0f)});
    EXPECT_EQ(far[0].position,
              sf::Vector2f(std::fmod(100.0f + 30000.0f * dt, width), std::fmod(30.0f + -30000.0f * dt, width) + width));
    EXPECT_EQ(far[0].position, sf::Vector2f(300.0f, 30.0f - 750.0f + 1100.0f));
    // The same towards negative x: the remainder keeps the sign of the dividend, then the width is added.
    const auto farLeft = step(frictionless(), {particle(0, 100.0f, 30.0f, -30000.0f)});
    EXPECT_EQ(farLeft[0].position.x, std::fmod(100.0f + -30000.0f * dt, width) + width);
    EXPECT_EQ(farLeft[0].position.x, 450.0f);

    // A tiny move left from the near edge: adding the width rounds to the width itself, which is the near edge
    // again. Alike on the exact path, taken here because the particle also moves a world height in y.
    for (const float vy : {0.0f, 30000.0f})
    {
        const auto edge = step(frictionless(), {particle(0, 0.0f, 30.0f, -4e-5f, vy)});
        EXPECT_EQ(edge[0].position.x, 0.0f) << "vy " << vy;
    }

    testworld::SteppedWorld world(frictionless(), 2);
    world.addParticle(particle(0, width - 0.1f, 30.0f, 10.0f));
    world.addParticle(particle(0, 0.1f, 500.0f, -10.0f, 10.0f));
    world.update(dt);
    EXPECT_EQ(testworld::regionOf(world.getParticles(), 0).size(), 1u);          // column 0, row 0
    EXPECT_EQ(testworld::regionOf(world.getParticles(), 9 + 9 * 10).size(), 1u); // last column, row 9
}

// Friction takes the same share of the velocity every step, whatever the step's length.
TEST(Step, FrictionDampsOncePerStepWhateverItsLength)
{
    testworld::SteppedWorld world(sceneSettings(), 2);
    world.addParticle(particle(0, 10.0f, 10.0f, 100.0f, 0.0f));
    float expected = 100.0f;
    for (int n = 1; n <= 50; ++n)
    {
        world.update(n % 2 == 0 ? dt : 4 * dt);
        expected *= 1.0f - 0.01f;
        ASSERT_EQ(allParticles(world)[0].velocity.x, expected) << "step " << n;
    }
}

TEST(Step, NeighboursAcrossEdgesAndCornersPushApart)
{
    const float width = 550.0f, height = 550.0f;
    // 2 apart through the left/right edge: (10 - 2) x 100 / 2 x 2 x 0.025 = 20.
    const auto edge = step(frictionless(), {particle(0, 1.0f, 100.0f), particle(0, width - 1.0f, 100.0f)});
    ASSERT_EQ(edge.size(), 2u);
    EXPECT_EQ(edge[0].velocity, sf::Vector2f(20.0f, 0.0f));
    EXPECT_EQ(edge[1].velocity, sf::Vector2f(-20.0f, 0.0f));

    const auto corner = step(frictionless(), {particle(0, 1.0f, 1.0f), particle(0, width - 1.0f, height - 1.0f)});
    ASSERT_EQ(corner.size(), 2u);
    const float d = std::sqrt(8.0f);
    const float push = (10.0f - d) * 100.0f / d * 2.0f * dt;
    EXPECT_EQ(corner[0].velocity, sf::Vector2f(push, push));
    EXPECT_EQ(corner[1].velocity, sf::Vector2f(-push, -push));
}

TEST(Step, NonSquareWorldWrapsEachAxisByItsOwnSize)
{
    // 12 x 8 regions of 55: 660 wide, 440 tall.
    const float width = 660.0f, height = 440.0f;
    testworld::SteppedWorld world(frictionless(12, 8), 2);
    world.addParticle(particle(0, width - 0.1f, 200.0f, 10.0f)); // leaves on the right
    world.addParticle(particle(0, 300.0f, 0.1f, 0.0f, -10.0f));  // leaves at the top
    world.addParticle(particle(0, 100.0f, 1.0f));                // 2 apart through the top and bottom edges
    world.addParticle(particle(0, 100.0f, height - 1.0f));
    world.update(dt);

    // In region order: column 1 row 0, column 0 row 3, column 1 row 7, column 5 row 7.
    const auto after = allParticles(world);
    ASSERT_EQ(after.size(), 4u);
    EXPECT_EQ(after[0].velocity, sf::Vector2f(0.0f, 20.0f)); // (10 - 2) x 100 / 2 x 2 x 0.025
    EXPECT_EQ(after[0].position, sf::Vector2f(100.0f, 1.0f + 20.0f * dt));
    EXPECT_EQ(after[1].position, sf::Vector2f(std::fmod((width - 0.1f) + 10.0f * dt, width), 200.0f));
    EXPECT_EQ(after[2].velocity, sf::Vector2f(0.0f, -20.0f));
    EXPECT_EQ(after[2].position, sf::Vector2f(100.0f, (height - 1.0f) - 20.0f * dt));
    EXPECT_EQ(after[3].position, sf::Vector2f(300.0f, (0.1f + -10.0f * dt) + height));
    EXPECT_EQ(testworld::regionOf(world.getParticles(), 0 + 3 * 12).size(), 1u);
    EXPECT_EQ(testworld::regionOf(world.getParticles(), 5 + 7 * 12).size(), 1u);
}

float bandPush(float strength, float reach, float u, float v = 0.0f)
{
    const float d = std::sqrt(u * u + v * v);
    const float e = d - 10.0f - 5.0f;
    const float F = strength * std::max(0.0f, std::min(e, reach - e));
    return F / d * u * dt;
}

TEST(Step, NarrowGridsMeetEachNeighbourOncePerImage)
{
    // One column 55 wide: the particle at x 40 is met at its images x - 55, x and x + 55, in that order.
    const auto one =
        step(frictionless(1, 3), {particle(0, 10.0f, 80.0f), particle(1, 40.0f, 80.0f)}, {{{0, 1}, {2.0f, 30.0f}}});
    float expected = 0.0f;
    expected += bandPush(2.0f, 30.0f, 10.0f - (40.0f - 55.0f));
    expected += bandPush(2.0f, 30.0f, 10.0f - 40.0f);
    expected += bandPush(2.0f, 30.0f, 10.0f - (40.0f + 55.0f));
    EXPECT_EQ(one[0].velocity.x, expected);
    EXPECT_NE(expected, 0.0f);

    // Two columns, 110 wide: from column 0 the other column is met shifted by the width, then unshifted. A reach
    // beyond any random one makes both images count.
    const auto two =
        step(frictionless(2, 3), {particle(0, 10.0f, 80.0f), particle(1, 60.0f, 80.0f)}, {{{0, 1}, {2.0f, 100.0f}}});
    float expectedTwo = 0.0f;
    expectedTwo += bandPush(2.0f, 100.0f, 10.0f - (60.0f - 110.0f));
    expectedTwo += bandPush(2.0f, 100.0f, 10.0f - 60.0f);
    EXPECT_EQ(two[0].velocity.x, expectedTwo);
}

TEST(Step, MoversJoinTheirNewRegionAfterItsResidentsInWalkOrder)
{
    testworld::SteppedWorld world(frictionless(3, 1), 2);
    world.addParticle(particle(0, 50.0f, 20.0f, 400.0f));   // region 0, moves to region 1
    world.addParticle(particle(1, 52.0f, 40.0f, 400.0f));   // region 0, moves to region 1
    world.addParticle(particle(0, 80.0f, 5.0f));            // resident of region 1
    world.addParticle(particle(1, 112.0f, 50.0f, -400.0f)); // region 2, moves to region 1
    // No forces reach between these: far apart or in the neutral zone, with a zero matrix.
    world.update(dt);

    const std::vector<Particle> middle = testworld::regionOf(world.getParticles(), 1);
    ASSERT_EQ(middle.size(), 4u);
    std::vector<float> xs;
    for (const Particle& p : middle)
        xs.push_back(p.position.x);
    EXPECT_EQ(xs, (std::vector<float>{80.0f, 60.0f, 62.0f, 102.0f}));
}

TEST(Step, OverwhelmingForcesRestartParticlesAtRestInsideTheWorld)
{
    // (10 - 1) x 3e38 overflows: the velocities become infinite or undefined, and so would the positions.
    tamsel::Settings settings = frictionless();
    settings.repulsion_strength = 3e38f;
    const auto after = step(settings, {particle(0, 100.0f, 100.0f), particle(0, 101.0f, 100.0f)});
    ASSERT_EQ(after.size(), 2u);
    for (const Particle& p : after)
    {
        EXPECT_EQ(p.velocity, sf::Vector2f());
        EXPECT_EQ(p.position, sf::Vector2f(0.0f, 0.0f));
    }
}

// A clustered random world over many steps: nothing is lost and the grid stays consistent.
TEST(Step, LongRunKeepsEveryParticleInItsRegion)
{
    tamsel::randomEngine.seed(42);
    Orbisk world(sceneSettings());
    world.generateTypes(10);
    world.generateParticles(1000);
    for (int n = 1; n <= 600; ++n)
    {
        world.update(dt);
        if (n % 50 != 0)
            continue;
        std::size_t count = 0;
        const tamsel::ParticleArrays& particles = world.getView().particles;
        for (std::size_t index = 0; index < particles.regionCount(); ++index)
            for (const Particle& p : testworld::regionOf(particles, index))
            {
                ++count;
                ASSERT_TRUE(std::isfinite(p.velocity.x) && std::isfinite(p.velocity.y));
                ASSERT_GE(p.position.x, 0.0f);
                ASSERT_LT(p.position.x, 550.0f);
                ASSERT_GE(p.position.y, 0.0f);
                ASSERT_LT(p.position.y, 550.0f);
                const auto column = static_cast<std::size_t>(std::floor(p.position.x / 55.0f));
                const auto row = static_cast<std::size_t>(std::floor(p.position.y / 55.0f));
                ASSERT_EQ(column + row * 10, index) << "step " << n;
            }
        ASSERT_EQ(count, 1000u) << "step " << n;
    }
}

// The fingerprint of a run: every particle's type, position and velocity.
std::uint64_t fingerprintOf(const std::vector<Particle>& particles)
{
    std::uint64_t hash = 14695981039346656037u; // FNV-1a
    const auto mix = [&hash](std::uint32_t word)
    {
        for (int byte = 0; byte < 4; ++byte, word >>= 8)
            hash = (hash ^ (word & 0xFF)) * 1099511628211u;
    };
    for (const Particle& p : particles)
    {
        mix(static_cast<std::uint32_t>(p.type));
        for (const float value : {p.position.x, p.position.y, p.velocity.x, p.velocity.y})
            mix(testworld::bitsOf(value + 0.0f)); // a zero counts as a zero, whatever its sign
    }
    return hash;
}

// A world of the scene's settings, populated from the random engine seeded with `seed`.
Orbisk seededScene(std::uint32_t seed, std::int32_t types, std::int32_t particles)
{
    tamsel::randomEngine.seed(seed);
    Orbisk world(sceneSettings());
    world.generateTypes(types);
    world.generateParticles(particles);
    return world;
}

// Every build, portable or using the newest instructions, every lane count and either way of taking square roots
// and quotients gives the same bits: the fingerprint of a seeded run is fixed here, for the world's own step and for
// every way of stepping this CPU runs.
TEST(Step, SeededRunHasTheSameFingerprintOnEveryBuild)
{
    constexpr int steps = 200;
    constexpr std::uint64_t fingerprint = 6978635094353289245u;
    const auto seededWorld = [] { return seededScene(99, 10, 1000); };

    Orbisk world = seededWorld();
    for (int n = 0; n < steps; ++n)
        world.update(dt);
    EXPECT_EQ(fingerprintOf(allParticles(world)), fingerprint) << "the world's own step";

    for (const auto& [lanes, arithmetic] : testworld::everyWayOfStepping())
    {
        SCOPED_TRACE(testing::Message() << lanes << " lanes, " << testworld::nameOf(arithmetic));
        testworld::SteppedWorld stepped(seededWorld().getView(), sceneSettings(), tamsel::Step(lanes, arithmetic));
        for (int n = 0; n < steps; ++n)
            stepped.update(dt);
        EXPECT_EQ(fingerprintOf(allParticles(stepped)), fingerprint);
    }
}

} // namespace
