#include "world/Step.hpp"

#include "world/Orbisk.hpp"
#include "world/RegionGrid.hpp"

#include <cmath>
#include <limits>

namespace tamsel
{

namespace
{

// Damps, moves and wraps every particle. Nearly every particle ends less than a world width or height past its
// edge, where fmod leaves the coordinate as it is; the first pass, which runs on vectors, moves those and marks the
// rest in `slow` for the exact path of the second.
void moveParticles(ParticleArrays& particles, float W, float H, float damping, float dt,
                   std::vector<std::uint32_t>& slow)
{
    const std::size_t count = particles.type.size();
    slow.resize(count);
    float* const xs = particles.x.data();
    float* const ys = particles.y.data();
    float* const vxs = particles.vx.data();
    float* const vys = particles.vy.data();
    std::uint32_t* const slowOnes = slow.data();
    for (std::size_t i = 0; i < count; ++i)
    {
        const float vx = vxs[i] * damping;
        const float vy = vys[i] * damping;
        const float movedY = ys[i] + vy * dt;
        const float movedX = xs[i] + vx * dt;
        const bool isSlow = !(std::fabs(movedX) < W) | !(std::fabs(movedY) < H) |
                            !(std::fabs(vx) <= std::numeric_limits<float>::max()) |
                            !(std::fabs(vy) <= std::numeric_limits<float>::max());
        float x = movedX < 0.0f ? movedX + W : movedX;
        float y = movedY < 0.0f ? movedY + H : movedY;
        // A tiny negative coordinate plus the width can round to the width itself: that is the near edge.
        x = x >= W ? 0.0f : x;
        y = y >= H ? 0.0f : y;
        slowOnes[i] = isSlow;
        xs[i] = isSlow ? xs[i] : x;
        ys[i] = isSlow ? ys[i] : y;
        vxs[i] = isSlow ? vxs[i] : vx;
        vys[i] = isSlow ? vys[i] : vy;
    }
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
        }
}

// The region each particle belongs to now, on vectors.
void findTargets(const ParticleArrays& particles, const RegionGrid grid, std::vector<std::uint32_t>& targets)
{
    const std::size_t count = particles.type.size();
    targets.resize(count);
    const float* const xs = particles.x.data();
    const float* const ys = particles.y.data();
    std::uint32_t* const target = targets.data();
    for (std::size_t i = 0; i < count; ++i)
        target[i] = grid.regionOf(xs[i], ys[i]);
}

using ForcePass = void (*)(const ForceContext&);

struct Width
{
    std::size_t lanes;
    ForcePass pass;
};

// Whether this CPU runs code built for the width. Only x86-64 builds carry more than one width.
bool cpuRuns(std::size_t lanes)
{
#if defined(TAMSEL_LANE_DISPATCH)
    __builtin_cpu_init();
    if (lanes == 16)
        return __builtin_cpu_supports("avx512f");
    if (lanes == 8)
        return __builtin_cpu_supports("avx2");
#endif
    return lanes == 4;
}

// The widths built into the program, narrowest first.
#if defined(TAMSEL_LANE_DISPATCH)
constexpr Width builtWidths[] = {
    {4, lanes4::accumulateForces}, {8, lanes8::accumulateForces}, {16, lanes16::accumulateForces}};
#else
constexpr Width builtWidths[] = {{4, lanes4::accumulateForces}};
#endif

Width widest()
{
    Width chosen = builtWidths[0];
    for (const Width& width : builtWidths)
        if (cpuRuns(width.lanes))
            chosen = width;
    return chosen;
}

// Chosen once, when the program starts.
Width inUse = widest();

} // namespace

std::vector<std::size_t> Step::laneCounts()
{
    std::vector<std::size_t> counts;
    for (const Width& width : builtWidths)
        if (cpuRuns(width.lanes))
            counts.push_back(width.lanes);
    return counts;
}

void Step::useLanes(std::size_t count)
{
    inUse = widest();
    for (const Width& width : builtWidths)
        if (width.lanes == count && cpuRuns(count))
            inUse = width;
}

std::size_t Step::lanesInUse()
{
    return inUse.lanes;
}

void Step::run(ParticleArrays& particles, const std::vector<Interaction>& interactions, std::int32_t typeCount,
               const Settings& settings, float dt)
{
    accumulateForces(particles, interactions, typeCount, settings, dt);
    moveAndSort(particles, settings, dt);
}

void Step::accumulateForces(ParticleArrays& particles, const std::vector<Interaction>& interactions,
                            std::int32_t typeCount, const Settings& settings, float dt)
{
    const std::size_t count = particles.type.size();
    const std::size_t regionCount = particles.regionStart.size() - 1;
    const auto T = static_cast<std::size_t>(typeCount);
    m_paddedX.resize(count + maximumLanes);
    m_paddedY.resize(count + maximumLanes);
    m_paddedType.resize(count + maximumLanes);
    m_cell.resize(count);
    m_box.resize(regionCount);
    m_typeBits.resize(regionCount);
    m_presentTypes.resize(T);
    m_typeSeen.assign(T, 0);
    m_strength.resize(T * maximumLanes);
    m_reach.resize(T * maximumLanes);
    m_cutoff2.resize(T);
    m_order.resize(count);
    m_nearby.resize(count + maximumLanes);

    const ForceContext context = {count,
                                  particles.regionStart.data(),
                                  particles.type.data(),
                                  particles.x.data(),
                                  particles.y.data(),
                                  particles.vx.data(),
                                  particles.vy.data(),
                                  interactions.data(),
                                  typeCount,
                                  &settings,
                                  dt,
                                  m_paddedX.data(),
                                  m_paddedY.data(),
                                  m_paddedType.data(),
                                  m_cell.data(),
                                  m_box.data(),
                                  m_typeBits.data(),
                                  m_presentTypes.data(),
                                  m_typeSeen.data(),
                                  m_strength.data(),
                                  m_reach.data(),
                                  m_cutoff2.data(),
                                  m_order.data(),
                                  m_nearby.data()};
    inUse.pass(context);
}

void Step::moveAndSort(ParticleArrays& particles, const Settings& settings, float dt)
{
    const float W = static_cast<float>(settings.regions_x_count) * settings.region_size;
    const float H = static_cast<float>(settings.regions_y_count) * settings.region_size;
    moveParticles(particles, W, H, 1.0f - settings.friction, dt, m_slow);
    findTargets(particles, RegionGrid(settings), m_targets);

    const std::size_t regionCount = particles.regionStart.size() - 1;
    const std::size_t count = particles.type.size();
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
