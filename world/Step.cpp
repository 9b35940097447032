#include "world/Orbisk.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>

namespace tamsel
{

namespace
{

// Particles of one region handled side by side: every lane walks the same candidates in the same order, so each
// velocity still receives its contributions one after another, exactly as a particle-by-particle walk would add
// them, while the compiler turns the lane loop into vector instructions.
constexpr std::size_t lanes = 8;

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

            for (std::size_t block = first; block < last; block += lanes)
            {
                const std::size_t active = std::min(lanes, last - block);
                // Idle lanes copy the first particle; their results are never stored.
                alignas(32) float px[lanes], py[lanes], vx[lanes], vy[lanes];
                for (std::size_t l = 0; l < lanes; ++l)
                {
                    const std::size_t i = block + (l < active ? l : 0);
                    px[l] = m_x[i];
                    py[l] = m_y[i];
                    vx[l] = m_vx[i];
                    vy[l] = m_vy[i];
                }
                // How each acting type present among the candidates acts on each lane's particle.
                for (std::size_t s = 0; s < slots; ++s)
                    for (std::size_t l = 0; l < lanes; ++l)
                    {
                        const std::size_t i = block + (l < active ? l : 0);
                        const Interaction& m = interactions[T * static_cast<std::size_t>(m_type[i]) +
                                                            static_cast<std::size_t>(b.slotType[s])];
                        b.strength[s * lanes + l] = m.strength;
                        b.reach[s * lanes + l] = m.reach;
                    }

                for (std::size_t q = 0; q < candidates; ++q)
                {
                    const float qx = b.candidateX[q], qy = b.candidateY[q];
                    const float* strength = &b.strength[b.candidateSlot[q] * lanes];
                    const float* reach = &b.reach[b.candidateSlot[q] * lanes];
                    for (std::size_t l = 0; l < lanes; ++l)
                    {
                        const float u = px[l] - qx;
                        const float v = py[l] - qy;
                        const float d = std::sqrt(u * u + v * v);
                        // Beyond R + Z: a tent over the band of width reach; between R and R + Z: nothing; inside
                        // R: the close-range push. At distance 0 (a particle meeting itself) nothing is added.
                        const float e = d - R - Z;
                        const float band = strength[l] * std::max(0.0f, std::min(e, reach[l] - e));
                        const float push = (R - d) * k;
                        const float F = d > RZ ? band : (d > R ? 0.0f : push);
                        const bool acts = (d > RZ) | (d > R) | (d > 0.0f);
                        const float f = F / d;
                        vx[l] = acts ? vx[l] + f * u * dt : vx[l];
                        vy[l] = acts ? vy[l] + f * v * dt : vy[l];
                    }
                }

                for (std::size_t l = 0; l < active; ++l)
                {
                    m_vx[block + l] = vx[l];
                    m_vy[block + l] = vy[l];
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
