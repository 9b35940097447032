#include "ReferenceWorld.hpp"
#include "drawing/WorldDrawing.hpp"
#include "world/Orbisk.hpp"
#include "world/Particles.hpp"
#include "world/Random.hpp"
#include "world/Step.hpp"

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

// The world a mouse click makes in the shipped window; every world here has the 10 types of such a world.
const WorldSize clickWorld{10, 10, 1000};
const WorldSize screenWorld{34, 19, 20000}; // about 1870 x 1045 pixels
// The screen world's density, about 10 particles per 1,000 square units, over 6600 x 3740 units.
const WorldSize quarterMillionWorld{120, 68, 250000};

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
    const std::vector<std::uint32_t>& start = world.getView().particles.regionStart;
    const auto particlesIn = [&](std::int32_t column, std::int32_t row)
    {
        const auto region = static_cast<std::size_t>(column + row * size.columns);
        return static_cast<double>(start[region + 1] - start[region]);
    };
    double pairs = 0;
    for (std::int32_t c = 0; c < size.columns; ++c)
        for (std::int32_t r = 0; r < size.rows; ++r)
        {
            double neighbours = 0;
            for (std::int32_t dx = -1; dx <= 1; ++dx)
                for (std::int32_t dy = -1; dy <= 1; ++dy)
                    neighbours += particlesIn((c + dx + size.columns) % size.columns, (r + dy + size.rows) % size.rows);
            pairs += neighbours * particlesIn(c, r);
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

// The program's step with its square roots and quotients taken one way only: by the hardware's instructions
// (the divider) or by multiply-add sequences. The program's own step tries both and keeps the faster.
void stepWithRoots(benchmark::State& state, WorldSize size, tamsel::Arithmetic arithmetic)
{
    const tamsel::Orbisk world = clusteredWorld(size);
    const double pairs = candidatePairs(world, size);
    const tamsel::StepParameters parameters = tamsel::stepParameters(settingsFor(size));
    const tamsel::WorldView view = world.getView();
    tamsel::ParticleArrays particles = view.particles;
    const tamsel::ActingTables acting = tamsel::actingTables(view.interactions, view.typeCount);
    tamsel::Step step(0, arithmetic);
    for (auto _ : state)
        step.run(particles, view.interactions, view.typeCount, acting, parameters, dt);
    reportPairs(state, pairs);
}

void BM_DividerStep(benchmark::State& state, WorldSize size)
{
    stepWithRoots(state, size, tamsel::Arithmetic::divider);
}

void BM_FusedStep(benchmark::State& state, WorldSize size)
{
    stepWithRoots(state, size, tamsel::Arithmetic::fused);
}

// The plain list-based step on the same world.
void BM_ReferenceStep(benchmark::State& state, WorldSize size)
{
    const tamsel::Orbisk world = clusteredWorld(size);
    const double pairs = candidatePairs(world, size);
    reference::ReferenceWorld plain(world.getView(), settingsFor(size));
    for (auto _ : state)
        plain.update(dt);
    reportPairs(state, pairs);
}

// What the CPU does to draw a frame after the world changed: the record of every particle that the graphics card
// draws its circles from.
void prepareFrame(tamsel::WorldDrawing& drawing, const tamsel::Orbisk& world)
{
    benchmark::DoNotOptimize(drawing.getPoints(world.getView()).data());
}

// The CPU side of one frame after a step.
void BM_PrepareFrame(benchmark::State& state, WorldSize size)
{
    tamsel::Orbisk world = clusteredWorld(size);
    tamsel::WorldDrawing drawing(settingsFor(size).effective_radius);
    for (auto _ : state)
    {
        state.PauseTiming();
        world.update(dt);
        state.ResumeTiming();
        prepareFrame(drawing, world);
    }
}

// A frame in which the world did not change reuses what the last one prepared.
void BM_PrepareUnchangedFrame(benchmark::State& state, WorldSize size)
{
    tamsel::Orbisk world = clusteredWorld(size);
    tamsel::WorldDrawing drawing(settingsFor(size).effective_radius);
    prepareFrame(drawing, world);
    for (auto _ : state)
        prepareFrame(drawing, world);
}

BENCHMARK_CAPTURE(BM_ReferenceStep, ClickWorld, clickWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, ClickWorld, clickWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DividerStep, ClickWorld, clickWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FusedStep, ClickWorld, clickWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReferenceStep, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Step, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DividerStep, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FusedStep, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrepareFrame, ScreenWorld, screenWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrepareUnchangedFrame, ScreenWorld, screenWorld)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Step, QuarterMillion, quarterMillionWorld)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PrepareFrame, QuarterMillion, quarterMillionWorld)->Unit(benchmark::kMillisecond);

// The console report, followed by the comparisons below: from the medians when the benchmarks are repeated, from
// the single runs otherwise, and in CPU time, which a busy machine blurs less than the clock on the wall.
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
                singles[run.run_name.str()] = run.GetAdjustedCPUTime();
            else if (run.aggregate_name == "median")
                medians[run.run_name.str()] = run.GetAdjustedCPUTime();
        }
    }

    // How much faster the program's step is than the list-based one on each world, how frame preparation and the
    // quarter-million world compare with the list step at 20,000, and how many particles fit in real time.
    void printSpeedUps() const
    {
        const auto& times = medians.empty() ? singles : medians;
        const char* from = medians.empty() ? "single runs" : "medians";
        const auto time = [&times](const std::string& name)
        {
            const auto found = times.find(name);
            return found == times.end() ? -1.0 : found->second;
        };
        for (const char* world : {"ClickWorld", "ScreenWorld"})
        {
            const double plain = time(std::string("BM_ReferenceStep/") + world);
            const double fast = time(std::string("BM_Step/") + world);
            if (plain > 0 && fast > 0)
                std::printf("%s: the step is %.1f times faster than the list-based step (%s)\n", world, plain / fast,
                            from);
            const double divider = time(std::string("BM_DividerStep/") + world);
            const double fused = time(std::string("BM_FusedStep/") + world);
            if (divider > 0 && fused > 0)
                std::printf("%s: the force pass's multiply-add square roots and quotients make the step %.2f times as "
                            "fast as the divider's instructions, %zu lanes (%s)\n",
                            world, divider / fused, tamsel::Step::laneCounts().back(), from);
        }

        // Times in milliseconds, as every benchmark below reports them.
        const double plain = time("BM_ReferenceStep/ScreenWorld");
        const double small = time("BM_Step/ScreenWorld") + time("BM_PrepareFrame/ScreenWorld");
        const double large = time("BM_Step/QuarterMillion") + time("BM_PrepareFrame/QuarterMillion");
        if (time("BM_Step/ScreenWorld") > 0 && time("BM_PrepareFrame/ScreenWorld") > 0)
            std::printf("ScreenWorld: preparing a frame takes %.2f of the step's time\n",
                        time("BM_PrepareFrame/ScreenWorld") / time("BM_Step/ScreenWorld"));
        if (time("BM_Step/QuarterMillion") > 0 && time("BM_PrepareFrame/QuarterMillion") > 0)
            std::printf("QuarterMillion: preparing a frame takes %.2f of the step's time\n",
                        time("BM_PrepareFrame/QuarterMillion") / time("BM_Step/QuarterMillion"));
        if (plain > 0 && time("BM_Step/QuarterMillion") > 0 && time("BM_PrepareFrame/QuarterMillion") > 0)
            std::printf("QuarterMillion: step and frame take %.2f of the list-based step at 20,000 particles\n",
                        large / plain);
        // Step and frame grow in proportion to the particles at one density: the line through the two worlds gives
        // the count whose step and frame just fill one step of simulated time.
        if (time("BM_Step/ScreenWorld") > 0 && time("BM_PrepareFrame/ScreenWorld") > 0 && large > small)
        {
            const double perParticle = (large - small) / (quarterMillionWorld.particles - screenWorld.particles);
            const double fixed = small - perParticle * screenWorld.particles;
            std::printf("At the screen world's density, step and frame fit in one %.0f ms step of simulated time "
                        "up to about %.0f particles (%s)\n",
                        dt * 1000, (dt * 1000 - fixed) / perParticle, from);
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
