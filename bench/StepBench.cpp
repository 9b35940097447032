#include "ReferenceWorld.hpp"
#include "world/Orbisk.hpp"
#include "world/Random.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace
{

constexpr float dt = 0.025f;
constexpr int warmUpSteps = 300; // long enough for the particles to gather into clusters

struct WorldSize
{
    std::int32_t columns;
    std::int32_t rows;
    std::int32_t particles;
};

const WorldSize defaultWorld{10, 10, 1000};
const WorldSize screenWorld{34, 19, 20000}; // about 1870 x 1045 pixels

tamsel::Settings settingsFor(const WorldSize& size)
{
    tamsel::Settings settings;
    settings.region_size = 55.0f;
    settings.regions_x_count = size.columns;
    settings.regions_y_count = size.rows;
    return settings;
}

// The same clustered world for every benchmark: a fixed seed, then the warm-up.
tamsel::Orbisk clusteredWorld(const WorldSize& size)
{
    tamsel::randomEngine.seed(1234);
    tamsel::Orbisk world(settingsFor(size));
    world.generateTypes(10);
    world.generateParticles(size.particles);
    for (int i = 0; i < warmUpSteps; ++i)
        world.update(dt);
    return world;
}

// Pairs a step examines: each particle against every particle of its 3 x 3 neighbourhood.
double candidatePairs(const tamsel::Orbisk& world, const WorldSize& size)
{
    const auto regions = world.getRegions();
    double pairs = 0;
    for (std::int32_t c = 0; c < size.columns; ++c)
        for (std::int32_t r = 0; r < size.rows; ++r)
        {
            double neighbours = 0;
            for (std::int32_t dx = -1; dx <= 1; ++dx)
                for (std::int32_t dy = -1; dy <= 1; ++dy)
                {
                    const std::int32_t column = (c + dx + size.columns) % size.columns;
                    const std::int32_t row = (r + dy + size.rows) % size.rows;
                    neighbours +=
                        static_cast<double>(regions[static_cast<std::size_t>(column + row * size.columns)].size());
                }
            pairs += neighbours * static_cast<double>(regions[static_cast<std::size_t>(c + r * size.columns)].size());
        }
    return pairs;
}

void reportPairs(benchmark::State& state, double pairsPerStep)
{
    state.counters["pairs/s"] =
        benchmark::Counter(pairsPerStep * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["pairs/step"] = pairsPerStep;
}

// The program's step. The world moves on between iterations, but a clustered world changes slowly, so every
// iteration does about the same work.
void BM_Step(benchmark::State& state, WorldSize size)
{
    tamsel::Orbisk world = clusteredWorld(size);
    const double pairs = candidatePairs(world, size);
    for (auto _ : state)
        world.update(dt);
    reportPairs(state, pairs);
}

// The plain list-based step on the same world.
void BM_ReferenceStep(benchmark::State& state, WorldSize size)
{
    const tamsel::Orbisk world = clusteredWorld(size);
    const double pairs = candidatePairs(world, size);
    reference::ReferenceWorld plain(world, settingsFor(size));
    for (auto _ : state)
        plain.update(dt);
    reportPairs(state, pairs);
}

// The CPU side of one frame after a step: the whole batch of triangles for the render target.
void BM_PrepareFrame(benchmark::State& state, WorldSize size)
{
    tamsel::Orbisk world = clusteredWorld(size);
    for (auto _ : state)
    {
        state.PauseTiming();
        world.update(dt);
        state.ResumeTiming();
        benchmark::DoNotOptimize(world.getVertices().getVertexCount());
    }
}

// A frame in which the world did not change reuses the batch.
void BM_PrepareUnchangedFrame(benchmark::State& state, WorldSize size)
{
    tamsel::Orbisk world = clusteredWorld(size);
    for (auto _ : state)
        benchmark::DoNotOptimize(world.getVertices().getVertexCount());
}

BENCHMARK_CAPTURE(BM_ReferenceStep, DefaultWorld, defaultWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, DefaultWorld, defaultWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReferenceStep, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrepareFrame, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrepareUnchangedFrame, ScreenWorld, screenWorld)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
