#include "world/Step.hpp"

#include "settings/Settings.hpp"
#include "world/Particles.hpp"
#include "world/RegionGrid.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tamsel
{

namespace
{

// The particles the width's motion pass left for the exact path (their coordinates ended a world width or height or
// more past an edge, or something overflowed): damped, moved and wrapped with fmod, as the list step does.
void moveSlowParticles(ParticleArrays& particles, const StepParameters& parameters, float dt,
                       const std::vector<std::uint32_t>& slow, std::vector<std::uint32_t>& targets)
{
    const float W = parameters.W, H = parameters.H, damping = parameters.damping;
    const RegionGrid grid = parameters.grid;
    const std::size_t count = particles.type.size();
    float* const xs = particles.x.data();
    float* const ys = particles.y.data();
    float* const vxs = particles.vx.data();
    float* const vys = particles.vy.data();
    for (std::size_t i = 0; i < count; ++i)
        if (slow[i])
        {
            float vx = vxs[i] * damping;
            float vy = vys[i] * damping;
            float y = ys[i] + vy * dt;
            float x = std::fmod(xs[i] + vx * dt, W);
            y = std::fmod(y, H);
            if (x < 0.0f)
                x += W;
            if (y < 0.0f)
                y += H;
            if (x >= W)
                x = 0.0f;
            if (y >= H)
                y = 0.0f;
            // Overwhelming forces can overflow a velocity or position; such a particle has no place in the grid,
            // so it restarts at rest, with each lost coordinate on the world's near edge.
            if (!std::isfinite(vx) || !std::isfinite(vy) || !std::isfinite(x) || !std::isfinite(y))
            {
                vx = vy = 0.0f;
                if (!std::isfinite(x))
                    x = 0.0f;
                if (!std::isfinite(y))
                    y = 0.0f;
            }
            xs[i] = x;
            ys[i] = y;
            vxs[i] = vx;
            vys[i] = vy;
            targets[i] = grid.regionOf(x, y);
        }
}

// The array made `size` long, for the pass to fill: what it held before does not matter.
template <typename T> T* sized(std::vector<T>& array, std::size_t size)
{
    array.resize(size);
    return array.data();
}

struct Width
{
    std::size_t lanes;
    void (*accumulateForces)(const ForceContext&);
    void (*moveParticles)(const MotionContext&);
    bool (*takesRootsByMultiplyAdds)();
};

// Whether this CPU runs code built for the width. Only x86-64 builds carry more than one width; the 8-lane one is
// built for AVX2 with fused multiply-adds, so a CPU with AVX2 but without them takes the 4 lanes. Both wide builds
// count bits with POPCNT.
bool cpuRuns(std::size_t lanes)
{
#if defined(TAMSEL_LANE_DISPATCH)
    __builtin_cpu_init();
    if (lanes == 16)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("popcnt");
    if (lanes == 8)
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("popcnt");
#endif
    return lanes == 4;
}

#define TAMSEL_WIDTH(count)                                                                                            \
    {                                                                                                                  \
        count, lanes##count::accumulateForces, lanes##count::moveParticles, lanes##count::takesRootsByMultiplyAdds     \
    }

// The widths built into the program, narrowest first.
#if defined(TAMSEL_LANE_DISPATCH)
constexpr Width builtWidths[] = {TAMSEL_WIDTH(4), TAMSEL_WIDTH(8), TAMSEL_WIDTH(16)};
#else
constexpr Width builtWidths[] = {TAMSEL_WIDTH(4)};
#endif
#undef TAMSEL_WIDTH

// The width of `lanes` lanes, or for 0 the widest this CPU runs.
Width widthOf(std::size_t lanes)
{
    const Width* chosen = nullptr;
    for (const Width& width : builtWidths)
        if (cpuRuns(width.lanes) && (lanes == 0 || width.lanes == lanes))
            chosen = &width;
    if (!chosen)
        throw std::invalid_argument("no step of " + std::to_string(lanes) + " lanes runs on this CPU");
    return *chosen;
}

// Which way takes less time depends on the CPU: the divider is cheap on some, the multiply-add units wide on others.
// A step times its first force passes, alternating between the two ways, and keeps the faster one: the least time
// each way over this many trials.
constexpr std::uint32_t trialsEachWay = 8;

} // namespace

StepParameters stepParameters(const Settings& settings)
{
    const std::int32_t columns = settings.regions_x_count, rows = settings.regions_y_count;
    StepParameters parameters{worldWidth(settings),
                              worldHeight(settings),
                              columns,
                              rows,
                              static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows),
                              RegionGrid(settings.region_size, columns, rows),
                              settings.effective_radius,
                              settings.stablized_zone,
                              settings.repulsion_strength,
                              1.0f - settings.friction};
    return parameters;
}

Step::Step(std::size_t lanes, Arithmetic arithmetic)
{
    const Width width = widthOf(lanes);
    m_accumulateForces = width.accumulateForces;
    m_moveParticles = width.moveParticles;
    // Without the sequences there is nothing to choose between.
    m_arithmetic = width.takesRootsByMultiplyAdds() ? arithmetic : Arithmetic::divider;
}

std::vector<std::size_t> Step::laneCounts()
{
    std::vector<std::size_t> counts;
    for (const Width& width : builtWidths)
        if (cpuRuns(width.lanes))
            counts.push_back(width.lanes);
    return counts;
}

void Step::run(ParticleArrays& particles, const std::vector<Interaction>& interactions, std::int32_t typeCount,
               const StepParameters& parameters, float dt)
{
    accumulateForces(particles, interactions, typeCount, parameters, dt);
    moveAndSort(particles, parameters, dt);
}

void Step::accumulateForces(ParticleArrays& particles, const std::vector<Interaction>& interactions,
                            std::int32_t typeCount, const StepParameters& parameters, float dt)
{
    const std::size_t count = particles.type.size();
    const std::size_t regionCount = particles.regionStart.size() - 1;
    const auto T = static_cast<std::size_t>(typeCount);
    // The pass's working memory, each array sized as ForceContext says as it is handed over.
    ForceContext context;
    context.paddedX = sized(m_paddedX, count + maximumLanes);
    context.paddedY = sized(m_paddedY, count + maximumLanes);
    context.paddedType = sized(m_paddedType, count + maximumLanes);
    context.cell = sized(m_cell, count + maximumLanes);
    context.box = sized(m_box, regionCount);
    context.typeBits = sized(m_typeBits, regionCount);
    context.presentTypes = sized(m_presentTypes, T);
    m_typeSeen.assign(T, 0);
    context.typeSeen = m_typeSeen.data();
    context.strength = sized(m_strength, T * maximumLanes);
    context.reach = sized(m_reach, T * maximumLanes);
    context.actingStrength = sized(m_actingStrength, maximumLanes * maximumLanes);
    context.actingReach = sized(m_actingReach, maximumLanes * maximumLanes);
    context.cutoff2 = sized(m_cutoff2, std::max(T, maximumLanes));
    context.order = sized(m_order, count);
    context.nearbyX = sized(m_nearbyX, count + maximumLanes);
    context.nearbyY = sized(m_nearbyY, count + maximumLanes);
    context.nearbyRow = sized(m_nearbyRow, count + maximumLanes);

    context.count = count;
    context.regionStart = particles.regionStart.data();
    context.type = particles.type.data();
    context.x = particles.x.data();
    context.y = particles.y.data();
    context.vx = particles.vx.data();
    context.vy = particles.vy.data();
    context.interactions = interactions.data();
    context.typeCount = typeCount;
    context.parameters = parameters;
    context.dt = dt;

    if (m_arithmetic != Arithmetic::fastest || m_trials >= 2 * trialsEachWay)
    {
        context.fused = m_arithmetic == Arithmetic::fused || (m_arithmetic == Arithmetic::fastest && m_fusedFaster);
        m_accumulateForces(context);
        return;
    }
    const std::uint32_t way = m_trials++ % 2;
    context.fused = way == 1;
    const auto start = std::chrono::steady_clock::now();
    m_accumulateForces(context);
    m_trialTime[way] = std::min(m_trialTime[way], std::chrono::steady_clock::now() - start);
    m_fusedFaster = m_trialTime[1] < m_trialTime[0];
}

void Step::moveAndSort(ParticleArrays& particles, const StepParameters& parameters, float dt)
{
    const std::size_t count = particles.type.size();
    m_slow.resize(count);
    m_targets.resize(count);
    MotionContext motion;
    motion.count = count;
    motion.x = particles.x.data();
    motion.y = particles.y.data();
    motion.vx = particles.vx.data();
    motion.vy = particles.vy.data();
    motion.parameters = parameters;
    motion.dt = dt;
    motion.slow = m_slow.data();
    motion.targets = m_targets.data();
    m_moveParticles(motion);
    moveSlowParticles(particles, parameters, dt, m_slow, m_targets);

    const std::size_t regionCount = particles.regionStart.size() - 1;
    const std::vector<std::uint32_t>& start = particles.regionStart;
    m_stayCount.assign(regionCount, 0);
    m_arriveCount.assign(regionCount, 0);
    for (std::size_t j = 0; j < regionCount; ++j)
        for (std::size_t i = start[j]; i < start[j + 1]; ++i)
        {
            const std::uint32_t target = m_targets[i];
            if (target == j)
                ++m_stayCount[target];
            else
                ++m_arriveCount[target];
        }

    // Each region keeps the particles that stayed, in their order, followed by the arrivals in the order the walk
    // met them: a particle that moved on is placed only once, and after those already there.
    m_sortedStart.resize(regionCount + 1);
    m_fill.resize(2 * regionCount);
    m_sortedStart[0] = 0;
    for (std::size_t t = 0; t < regionCount; ++t)
    {
        m_sortedStart[t + 1] = m_sortedStart[t] + m_stayCount[t] + m_arriveCount[t];
        m_fill[2 * t] = m_sortedStart[t];                      // next place for a particle that stayed
        m_fill[2 * t + 1] = m_sortedStart[t] + m_stayCount[t]; // next place for an arrival
    }

    m_sortedX.resize(count);
    m_sortedY.resize(count);
    m_sortedVx.resize(count);
    m_sortedVy.resize(count);
    m_sortedType.resize(count);
    for (std::size_t j = 0; j < regionCount; ++j)
        for (std::size_t i = start[j]; i < start[j + 1]; ++i)
        {
            const std::uint32_t target = m_targets[i];
            const std::uint32_t at = m_fill[2 * target + (target == j ? 0 : 1)]++;
            m_sortedX[at] = particles.x[i];
            m_sortedY[at] = particles.y[i];
            m_sortedVx[at] = particles.vx[i];
            m_sortedVy[at] = particles.vy[i];
            m_sortedType[at] = particles.type[i];
        }

    particles.x.swap(m_sortedX);
    particles.y.swap(m_sortedY);
    particles.vx.swap(m_sortedVx);
    particles.vy.swap(m_sortedVy);
    particles.type.swap(m_sortedType);
    particles.regionStart.swap(m_sortedStart);
}

} // namespace tamsel
