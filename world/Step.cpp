#include "world/Orbisk.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace tamsel
{

void Orbisk::update(float dt)
{
    if (m_regionStart.empty())
        throw std::logic_error("update needs the grid of generateParticles");
    accumulateForces(dt);
    moveAndSort(dt);
    m_verticesStale = true;
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

    // Damp, move and wrap every particle. Nearly every particle ends less than a world width or height past
    // its edge, where fmod leaves the coordinate as it is; this pass, which runs on vectors, moves those and
    // marks the rest for the exact path below.
    b.slow.resize(particles);
    float* const xs = m_x.data();
    float* const ys = m_y.data();
    float* const vxs = m_vx.data();
    float* const vys = m_vy.data();
    std::uint32_t* const slowOnes = b.slow.data();
    for (std::size_t i = 0; i < particles; ++i)
    {
        const float vx = vxs[i] * damping;
        const float vy = vys[i] * damping;
        const float movedY = ys[i] + vy * dt;
        const float movedX = xs[i] + vx * dt;
        const bool slow = !(std::fabs(movedX) < W) | !(std::fabs(movedY) < H) |
                          !(std::fabs(vx) <= std::numeric_limits<float>::max()) |
                          !(std::fabs(vy) <= std::numeric_limits<float>::max());
        float x = movedX < 0.0f ? movedX + W : movedX;
        float y = movedY < 0.0f ? movedY + H : movedY;
        // A tiny negative coordinate plus the width can round to the width itself: that is the near edge.
        x = x >= W ? 0.0f : x;
        y = y >= H ? 0.0f : y;
        slowOnes[i] = slow;
        xs[i] = slow ? xs[i] : x;
        ys[i] = slow ? ys[i] : y;
        vxs[i] = slow ? vxs[i] : vx;
        vys[i] = slow ? vys[i] : vy;
    }
    for (std::size_t i = 0; i < particles; ++i)
        if (b.slow[i])
        {
            float vx = m_vx[i] * damping;
            float vy = m_vy[i] * damping;
            float y = m_y[i] + vy * dt;
            float x = std::fmod(m_x[i] + vx * dt, W);
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
            m_x[i] = x;
            m_y[i] = y;
            m_vx[i] = vx;
            m_vy[i] = vy;
        }

    // The region each particle belongs to now, as getRegionIndex finds it, on vectors.
    const float size = region_size;
    const float columns = static_cast<float>(regions_x_count), rows = static_cast<float>(regions_y_count);
    const auto stride = static_cast<std::uint32_t>(regions_x_count);
    std::uint32_t* const targets = b.target.data();
    for (std::size_t i = 0; i < particles; ++i)
    {
        float column = std::floor(xs[i] / size);
        float row = std::floor(ys[i] / size);
        column = column > 0.0f ? (column >= columns ? columns - 1.0f : column) : 0.0f;
        row = row > 0.0f ? (row >= rows ? rows - 1.0f : row) : 0.0f;
        targets[i] = static_cast<std::uint32_t>(static_cast<std::int32_t>(column)) +
                     static_cast<std::uint32_t>(static_cast<std::int32_t>(row)) * stride;
    }
    for (std::size_t j = 0; j < regionCount; ++j)
        for (std::size_t i = m_regionStart[j]; i < m_regionStart[j + 1]; ++i)
        {
            const std::uint32_t target = b.target[i];
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
