#include "world/Step.hpp"

#include "world/Particles.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tamsel
{

static_assert(ParticleArrays::padding >= maximumLanes, "a vector load at the last particle stays in the arrays");

namespace
{

// The particles the width's motion pass left for the exact path (their coordinates ended a world width or height or
// more past an edge, or something overflowed): damped, moved and wrapped with fmod, as the list step does.
void moveOnExactPath(ParticleArrays& particles, const StepParameters& parameters, float dt,
                     const std::vector<std::uint32_t>& leftToExactPath, std::vector<std::uint32_t>& targets)
{
    const float width = parameters.width, height = parameters.height, damping = parameters.damping;
    const std::size_t count = particles.count();
    for (std::size_t i = 0; i < count; ++i)
        if (leftToExactPath[i])
        {
            float vx = particles.vx[i] * damping;
            float vy = particles.vy[i] * damping;
            float y = particles.y[i] + vy * dt;
            float x = std::fmod(particles.x[i] + vx * dt, width);
            y = std::fmod(y, height);
            if (x < 0.0f)
                x += width;
            if (y < 0.0f)
                y += height;
            if (x >= width)
                x = 0.0f;
            if (y >= height)
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
            particles.x[i] = x;
            particles.y[i] = y;
            particles.vx[i] = vx;
            particles.vy[i] = vy;
            targets[i] = parameters.grid.regionOf(x, y);
        }
}

struct Width
{
    std::size_t lanes;
    void (*accumulateForces)(const ForceInput&, float*, float*, ForceBuffers&);
    void (*moveParticles)(const StepParameters&, float, const MovedParticles&, std::uint32_t*, std::uint32_t*);
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

constexpr Width builtWidths[] = {TAMSEL_BUILT_WIDTHS(TAMSEL_WIDTH)};
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
               const ActingTables& acting, const StepParameters& parameters, float dt)
{
    ForceInput input{particles.count(),
                     particles.regionStart.data(),
                     particles.type.data(),
                     particles.x.data(),
                     particles.y.data(),
                     interactions.data(),
                     typeCount,
                     acting.strength.data(),
                     acting.reach.data(),
                     parameters,
                     dt,
                     false};
    m_forceBuffers.reserve(input.count, static_cast<std::size_t>(typeCount), parameters.grid.regionCount());
    accumulateForces(input, particles.vx.data(), particles.vy.data());
    moveParticles(particles, parameters, dt);
    countArrivals(particles.regionStart);
    sortIntoRegions(particles);
}

// The force pass, taking its square roots and quotients the step's way; the first passes of the fastest way are
// the trials that choose it.
void Step::accumulateForces(ForceInput& input, float* vx, float* vy)
{
    if (m_arithmetic != Arithmetic::fastest || m_trials >= 2 * trialsEachWay)
    {
        input.fused = m_arithmetic == Arithmetic::fused || (m_arithmetic == Arithmetic::fastest && m_fusedFaster);
        m_accumulateForces(input, vx, vy, m_forceBuffers);
        return;
    }
    const std::uint32_t way = m_trials++ % 2;
    input.fused = way == 1;
    const auto start = std::chrono::steady_clock::now();
    m_accumulateForces(input, vx, vy, m_forceBuffers);
    m_trialTime[way] = std::min(m_trialTime[way], std::chrono::steady_clock::now() - start);
    m_fusedFaster = m_trialTime[1] < m_trialTime[0];
}

// Damps, moves and wraps every particle, and finds the region each one ends in.
void Step::moveParticles(ParticleArrays& particles, const StepParameters& parameters, float dt)
{
    const std::size_t count = particles.count();
    m_leftToExactPath.resize(count);
    m_targets.resize(count);
    const MovedParticles moved{count, particles.x.data(), particles.y.data(), particles.vx.data(), particles.vy.data()};
    m_moveParticles(parameters, dt, moved, m_leftToExactPath.data(), m_targets.data());
    moveOnExactPath(particles, parameters, dt, m_leftToExactPath, m_targets);
}

// How many particles stay in each region, and how many arrive in it.
void Step::countArrivals(const std::vector<std::uint32_t>& regionStart)
{
    const std::size_t regionCount = regionStart.size() - 1;
    m_stayCount.assign(regionCount, 0);
    m_arriveCount.assign(regionCount, 0);
    for (std::size_t j = 0; j < regionCount; ++j)
        for (std::size_t i = regionStart[j]; i < regionStart[j + 1]; ++i)
        {
            const std::uint32_t target = m_targets[i];
            if (target == j)
                ++m_stayCount[target];
            else
                ++m_arriveCount[target];
        }
}

// Each region keeps the particles that stayed, in their order, followed by the arrivals in the order the walk met
// them: a particle that moved on is placed only once, and after those already there.
void Step::sortIntoRegions(ParticleArrays& particles)
{
    const std::size_t regionCount = particles.regionCount(), count = particles.count();
    m_sortedStart.resize(regionCount + 1);
    m_fill.resize(2 * regionCount);
    m_sortedStart[0] = 0;
    for (std::size_t t = 0; t < regionCount; ++t)
    {
        m_sortedStart[t + 1] = m_sortedStart[t] + m_stayCount[t] + m_arriveCount[t];
        m_fill[2 * t] = m_sortedStart[t];                      // next place for a particle that stayed
        m_fill[2 * t + 1] = m_sortedStart[t] + m_stayCount[t]; // next place for an arrival
    }

    const std::size_t padded = count + ParticleArrays::padding;
    m_sortedX.resize(padded);
    m_sortedY.resize(padded);
    m_sortedVx.resize(padded);
    m_sortedVy.resize(padded);
    m_sortedType.resize(padded);
    const std::vector<std::uint32_t>& start = particles.regionStart;
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
    for (std::size_t i = count; i < padded; ++i)
    {
        m_sortedX[i] = m_sortedY[i] = m_sortedVx[i] = m_sortedVy[i] = 0.0f;
        m_sortedType[i] = 0;
    }

    particles.x.swap(m_sortedX);
    particles.y.swap(m_sortedY);
    particles.vx.swap(m_sortedVx);
    particles.vy.swap(m_sortedVy);
    particles.type.swap(m_sortedType);
    particles.regionStart.swap(m_sortedStart);
}

} // namespace tamsel
