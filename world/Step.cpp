#include "world/Orbisk.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>

namespace tamsel
{

namespace
{

// Particles of one region handled side by side: every lane walks the same candidates in the same order, so each
// velocity still receives its contributions one after another, exactly as a particle-by-particle walk would add
// them, while the compiler turns the lane loop into vector instructions.
constexpr std::size_t lanes = 8;

// Eight floats operated on together (GCC and Clang vector extensions): one AVX register, or two SSE registers on
// a portable build. Comparisons give a mask of all-ones or zero per lane; `mask ? a : b` picks per lane.
using Lanes = float __attribute__((vector_size(lanes * sizeof(float))));
using LaneMask = std::int32_t __attribute__((vector_size(lanes * sizeof(float))));
constexpr Lanes zero = {};

inline Lanes load(const float* from)
{
    Lanes lanesOf;
    std::memcpy(&lanesOf, from, sizeof lanesOf);
    return lanesOf;
}

inline Lanes squareRoot(Lanes x)
{
    for (std::size_t l = 0; l < lanes; ++l)
        x[l] = std::sqrt(x[l]);
    return x;
}

// fmod(a, w) is a itself whenever |a| < w, which is nearly always: a particle rarely crosses the world in a step.
inline float wrapRemainder(float a, float w)
{
    return std::fabs(a) < w ? a : std::fmod(a, w);
}

} // namespace

void Orbisk::update(float dt)
{
    assert(!m_regionStart.empty() && "update needs the grid of generateParticles");
    accumulateForces(dt);
    moveAndSort(dt);
    m_verticesStale = true;
}

void Orbisk::accumulateForces(float dt)
{
    const float W = static_cast<float>(regions_x_count) * region_size;
    const float H = static_cast<float>(regions_y_count) * region_size;
    const float R = effective_radius;
    const float Z = stablized_zone;
    const float RZ = R + Z;
    const float k = repulsion_strength;
    const std::size_t T = static_cast<std::size_t>(typeCount);
    const std::int32_t columns = regions_x_count;
    const std::int32_t rows = regions_y_count;
    // Candidates farther than max(R, R + Z + reach) from every lane add only zeros and are skipped. The margin
    // covers the rounding of the distance and of the band's inner edge; without non-negative radii there is no
    // such bound and every candidate is visited.
    const bool canSkip = R >= 0.0f && Z >= 0.0f;
    constexpr float skipMargin = 1.0f + 1e-5f;

    StepBuffers& b = m_step;
    b.typeSlot.assign(T, -1);

    for (std::int32_t r = 0; r < rows; ++r)
        for (std::int32_t c = 0; c < columns; ++c)
        {
            const std::size_t region = static_cast<std::size_t>(c + r * columns);
            const std::size_t first = m_regionStart[region], last = m_regionStart[region + 1];
            if (first == last)
                continue;

            // The candidates, in the order every particle of this region meets them: neighbour columns left to
            // right, rows top to bottom within each column, each region front to back. A region across an edge
            // is seen at its image one world width or height away.
            b.candidateX.clear();
            b.candidateY.clear();
            b.candidateSlot.clear();
            b.slotType.clear();
            for (std::int32_t dx = -1; dx <= 1; ++dx)
                for (std::int32_t dy = -1; dy <= 1; ++dy)
                {
                    std::int32_t nc = c + dx;
                    float sx = 0.0f;
                    if (nc < 0)
                    {
                        nc += columns;
                        sx = W;
                    }
                    else if (nc >= columns)
                    {
                        nc -= columns;
                        sx = -W;
                    }
                    std::int32_t nr = r + dy;
                    float sy = 0.0f;
                    if (nr < 0)
                    {
                        nr += rows;
                        sy = H;
                    }
                    else if (nr >= rows)
                    {
                        nr -= rows;
                        sy = -H;
                    }
                    const std::size_t neighbour = static_cast<std::size_t>(nc + nr * columns);
                    for (std::size_t q = m_regionStart[neighbour]; q < m_regionStart[neighbour + 1]; ++q)
                    {
                        b.candidateX.push_back(m_x[q] - sx);
                        b.candidateY.push_back(m_y[q] - sy);
                        const auto type = static_cast<std::size_t>(m_type[q]);
                        if (b.typeSlot[type] < 0)
                        {
                            b.typeSlot[type] = static_cast<std::int32_t>(b.slotType.size());
                            b.slotType.push_back(m_type[q]);
                        }
                        b.candidateSlot.push_back(static_cast<std::uint32_t>(b.typeSlot[type]));
                    }
                }
            for (const std::int32_t type : b.slotType)
                b.typeSlot[static_cast<std::size_t>(type)] = -1;

            const std::size_t candidates = b.candidateX.size();
            const std::size_t slots = b.slotType.size();
            b.strength.resize(slots * lanes);
            b.reach.resize(slots * lanes);
            b.nearby.resize(candidates);

            // Lanes that lie close together share more candidates worth visiting: the region's particles are
            // grouped by the quarter of the region they lie in. Any grouping gives the same results, since each
            // particle's own sum keeps its order.
            b.order.clear();
            const float half = region_size / 2;
            const float midX = static_cast<float>(c) * region_size + half;
            const float midY = static_cast<float>(r) * region_size + half;
            for (int quarter = 0; quarter < 4; ++quarter)
                for (std::size_t i = first; i < last; ++i)
                    if ((m_x[i] >= midX) + 2 * (m_y[i] >= midY) == quarter)
                        b.order.push_back(static_cast<std::uint32_t>(i));

            for (std::size_t block = 0; block < b.order.size(); block += lanes)
            {
                const std::size_t active = std::min(lanes, b.order.size() - block);
                // Idle lanes copy the first particle of the block; their results are never stored.
                std::size_t index[lanes];
                float pxs[lanes], pys[lanes], vxs[lanes], vys[lanes];
                float left = INFINITY, right = -INFINITY, top = INFINITY, bottom = -INFINITY;
                for (std::size_t l = 0; l < lanes; ++l)
                {
                    index[l] = b.order[block + (l < active ? l : 0)];
                    pxs[l] = m_x[index[l]];
                    pys[l] = m_y[index[l]];
                    vxs[l] = m_vx[index[l]];
                    vys[l] = m_vy[index[l]];
                    left = std::min(left, pxs[l]);
                    right = std::max(right, pxs[l]);
                    top = std::min(top, pys[l]);
                    bottom = std::max(bottom, pys[l]);
                }
                // How each acting type present among the candidates acts on each lane's particle.
                float widestReach = 0.0f;
                for (std::size_t s = 0; s < slots; ++s)
                    for (std::size_t l = 0; l < lanes; ++l)
                    {
                        const Interaction& m = interactions[T * static_cast<std::size_t>(m_type[index[l]]) +
                                                            static_cast<std::size_t>(b.slotType[s])];
                        b.strength[s * lanes + l] = m.strength;
                        b.reach[s * lanes + l] = m.reach;
                        widestReach = std::max(widestReach, m.reach);
                    }

                // The candidates within reach of the block's bounding box, in their order.
                float cutoff = canSkip ? std::max(R, RZ + widestReach) * skipMargin : INFINITY;
                if (!(cutoff < INFINITY))
                    cutoff = INFINITY;
                const float nearLeft = left - cutoff, nearRight = right + cutoff;
                const float nearTop = top - cutoff, nearBottom = bottom + cutoff;
                std::size_t nearbyCount = 0;
                for (std::size_t q = 0; q < candidates; ++q)
                {
                    b.nearby[nearbyCount] = static_cast<std::uint32_t>(q);
                    const float qx = b.candidateX[q], qy = b.candidateY[q];
                    nearbyCount += (qx >= nearLeft) & (qx <= nearRight) & (qy >= nearTop) & (qy <= nearBottom);
                }

                Lanes vx, vy;
                std::memcpy(&vx, vxs, sizeof vx);
                std::memcpy(&vy, vys, sizeof vy);
                const Lanes px = load(pxs), py = load(pys);
                for (std::size_t n = 0; n < nearbyCount; ++n)
                {
                    const std::size_t q = b.nearby[n];
                    const std::size_t row = b.candidateSlot[q] * lanes;
                    const Lanes u = px - b.candidateX[q];
                    const Lanes v = py - b.candidateY[q];
                    const Lanes d = squareRoot(u * u + v * v);
                    // Beyond R + Z: a tent over the band of width reach; inside R: the close-range push. The
                    // neutral zone between adds a zero, which is left out, as is distance 0 (a particle meeting
                    // itself). Each select below is written as std::min and std::max decide.
                    const Lanes e = d - R - Z;
                    const Lanes outer = load(&b.reach[row]) - e;
                    const Lanes nearer = outer < e ? outer : e;
                    const Lanes tent = zero < nearer ? nearer : zero;
                    const Lanes band = load(&b.strength[row]) * tent;
                    const Lanes push = (R - d) * k;
                    const LaneMask beyond = d > RZ;
                    const LaneMask acts = beyond | ((d <= R) & (d > zero));
                    const Lanes f = (beyond ? band : push) / d;
                    vx = acts ? vx + f * u * dt : vx;
                    vy = acts ? vy + f * v * dt : vy;
                }
                std::memcpy(vxs, &vx, sizeof vx);
                std::memcpy(vys, &vy, sizeof vy);

                for (std::size_t l = 0; l < active; ++l)
                {
                    m_vx[index[l]] = vxs[l];
                    m_vy[index[l]] = vys[l];
                }
            }
        }
}

void Orbisk::moveAndSort(float dt)
{
    const float W = static_cast<float>(regions_x_count) * region_size;
    const float H = static_cast<float>(regions_y_count) * region_size;
    const float damping = 1.0f - friction;
    const std::size_t regionCount = m_regionStart.size() - 1;
    const std::size_t particles = m_type.size();

    StepBuffers& b = m_step;
    b.target.resize(particles);
    b.stayCount.assign(regionCount, 0);
    b.arriveCount.assign(regionCount, 0);

    // Damp, move and wrap every particle, and note the region it belongs to now.
    for (std::size_t j = 0; j < regionCount; ++j)
        for (std::size_t i = m_regionStart[j]; i < m_regionStart[j + 1]; ++i)
        {
            float vx = m_vx[i] * damping;
            float vy = m_vy[i] * damping;
            float y = m_y[i] + vy * dt;
            float x = wrapRemainder(m_x[i] + vx * dt, W);
            y = wrapRemainder(y, H);
            if (x < 0.0f)
                x += W;
            if (y < 0.0f)
                y += H;
            // A tiny negative coordinate plus the width can round to the width itself: that is the near edge.
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
            m_x[i] = x;
            m_y[i] = y;
            m_vx[i] = vx;
            m_vy[i] = vy;

            const auto target = static_cast<std::uint32_t>(getRegionIndex({x, y}));
            b.target[i] = target;
            if (target == j)
                ++b.stayCount[target];
            else
                ++b.arriveCount[target];
        }

    // Each region keeps the particles that stayed, in their order, followed by the arrivals in the order the walk
    // met them: a particle that moved on is placed only once, and after those already there.
    b.start.resize(regionCount + 1);
    b.fill.resize(2 * regionCount);
    b.start[0] = 0;
    for (std::size_t t = 0; t < regionCount; ++t)
    {
        b.start[t + 1] = b.start[t] + b.stayCount[t] + b.arriveCount[t];
        b.fill[2 * t] = b.start[t];                      // next place for a particle that stayed
        b.fill[2 * t + 1] = b.start[t] + b.stayCount[t]; // next place for an arrival
    }

    b.x.resize(particles);
    b.y.resize(particles);
    b.vx.resize(particles);
    b.vy.resize(particles);
    b.type.resize(particles);
    for (std::size_t j = 0; j < regionCount; ++j)
        for (std::size_t i = m_regionStart[j]; i < m_regionStart[j + 1]; ++i)
        {
            const std::uint32_t target = b.target[i];
            const std::uint32_t at = b.fill[2 * target + (target == j ? 0 : 1)]++;
            b.x[at] = m_x[i];
            b.y[at] = m_y[i];
            b.vx[at] = m_vx[i];
            b.vy[at] = m_vy[i];
            b.type[at] = m_type[i];
        }

    m_x.swap(b.x);
    m_y.swap(b.y);
    m_vx.swap(b.vx);
    m_vy.swap(b.vy);
    m_type.swap(b.type);
    m_regionStart.swap(b.start);
}

} // namespace tamsel
