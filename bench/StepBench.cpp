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

tamsel::Orbisk clusteredWorld(const WorldSize& size)
{
    tamsel::Settings settings;
    settings.region_size = 55.0f;
    settings.regions_x_count = size.columns;
    settings.regions_y_count = size.rows;
    tamsel::randomEngine.seed(1234);
    tamsel::Orbisk world(settings);
    world.generateTypes(10);
    world.generateParticles(size.particles);
    for (int i = 0; i < warmUpSteps; ++i)
        world.update(dt);
    return world;
}

// Pairs the step examines: each particle against every particle of its 3 x 3 neighbourhood.
double candidatePairs(const tamsel::Orbisk& world, std::int32_t columns, std::int32_t rows)
{
    const auto& regions = world.getRegions();
    double pairs = 0;
    for (std::int32_t c = 0; c < columns; ++c)
        for (std::int32_t r = 0; r < rows; ++r)
        {
            double neighbours = 0;
            for (std::int32_t dx = -1; dx <= 1; ++dx)
                for (std::int32_t dy = -1; dy <= 1; ++dy)
                    neighbours +=
                        static_cast<double>(regions[static_cast<std::size_t>((c + dx + columns) % columns +
                                                                             (r + dy + rows) % rows * columns)]
                                                .size());
            pairs += neighbours * static_cast<double>(regions[static_cast<std::size_t>(c + r * columns)].size());
        }
    return pairs;
}

void BM_Step(benchmark::State& state, WorldSize size)
{
    tamsel::Orbisk world = clusteredWorld(size);
    double pairs = 0;
    for (auto _ : state)
    {
        state.PauseTiming();
        pairs += candidatePairs(world, size.columns, size.rows);
        state.ResumeTiming();
        world.update(dt);
    }
    state.counters["pairs/s"] = benchmark::Counter(pairs, benchmark::Counter::kIsRate);
    state.counters["pairs/step"] = benchmark::Counter(pairs, benchmark::Counter::kAvgIterations);
}

BENCHMARK_CAPTURE(BM_Step, DefaultWorld, defaultWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
