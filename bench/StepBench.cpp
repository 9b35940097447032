#include "ReferenceWorld.hpp"
#include "world/Orbisk.hpp"
#include "world/Random.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <unistd.h>

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
                    neighbours += static_cast<double>(
                        world.getRegion(static_cast<std::size_t>(column + row * size.columns)).size());
                }
            pairs += neighbours *
                     static_cast<double>(world.getRegion(static_cast<std::size_t>(c + r * size.columns)).size());
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
        for (std::size_t batch = 0; batch < world.getBatchCount(); ++batch)
            benchmark::DoNotOptimize(world.getBatch(batch).data());
    }
}

// A frame in which the world did not change reuses the batch.
void BM_PrepareUnchangedFrame(benchmark::State& state, WorldSize size)
{
    tamsel::Orbisk world = clusteredWorld(size);
    for (auto _ : state)
        for (std::size_t batch = 0; batch < world.getBatchCount(); ++batch)
            benchmark::DoNotOptimize(world.getBatch(batch).data());
}

BENCHMARK_CAPTURE(BM_ReferenceStep, DefaultWorld, defaultWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, DefaultWorld, defaultWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReferenceStep, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrepareFrame, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrepareUnchangedFrame, ScreenWorld, screenWorld)->Unit(benchmark::kMicrosecond);

// The console report, followed by how much faster the program's step is than the list-based one on each world:
// from the medians when the benchmarks are repeated, from the single runs otherwise.
class SpeedUpReporter : public benchmark::ConsoleReporter
{
public:
    // Colours only on a terminal, as the library's own reporter does.
    SpeedUpReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
        {
            if (run.run_type == Run::RT_Iteration)
                singles[run.run_name.str()] = run.GetAdjustedRealTime();
            else if (run.aggregate_name == "median")
                medians[run.run_name.str()] = run.GetAdjustedRealTime();
        }
    }

    void printSpeedUps() const
    {
        const auto& times = medians.empty() ? singles : medians;
        for (const char* world : {"DefaultWorld", "ScreenWorld"})
        {
            const auto plain = times.find(std::string("BM_ReferenceStep/") + world);
            const auto fast = times.find(std::string("BM_Step/") + world);
            if (plain != times.end() && fast != times.end())
                std::printf("%s: the step is %.1f times faster than the list-based step (%s)\n", world,
                            plain->second / fast->second, medians.empty() ? "single runs" : "medians");
        }
    }

private:
    std::map<std::string, double> singles, medians;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SpeedUpReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printSpeedUps();
    benchmark::Shutdown();
    return 0;
}
