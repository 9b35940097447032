#include "world/ForcePass.hpp"
#include "world/Lanes.hpp"

// This file is compiled once for each vector width; see world/ForcePass.hpp for what it may not use.
namespace tamsel::TAMSEL_LANES
{

// Nearly every particle ends less than a world width or height past its edge, where fmod leaves the coordinate as it
// is; this pass, which runs on vectors, moves those and leaves the rest for the step's exact path.
void moveParticles(const MotionContext& c)
{
    const float W = c.parameters.W, H = c.parameters.H, damping = c.parameters.damping, dt = c.dt;
    constexpr float largest = __FLT_MAX__;
    float* const xs = c.x;
    float* const ys = c.y;
    float* const vxs = c.vx;
    float* const vys = c.vy;
    for (std::size_t i = 0; i < c.count; ++i)
    {
        const float vx = vxs[i] * damping;
        const float vy = vys[i] * damping;
        const float movedY = ys[i] + vy * dt;
        const float movedX = xs[i] + vx * dt;
        const bool isSlow = !(__builtin_fabsf(movedX) < W) | !(__builtin_fabsf(movedY) < H) |
                            !(__builtin_fabsf(vx) <= largest) | !(__builtin_fabsf(vy) <= largest);
        float x = movedX < 0.0f ? movedX + W : movedX;
        float y = movedY < 0.0f ? movedY + H : movedY;
        // A tiny negative coordinate plus the width can round to the width itself: that is the near edge.
        x = x >= W ? 0.0f : x;
        y = y >= H ? 0.0f : y;
        c.slow[i] = isSlow;
        xs[i] = isSlow ? xs[i] : x;
        ys[i] = isSlow ? ys[i] : y;
        vxs[i] = isSlow ? vxs[i] : vx;
        vys[i] = isSlow ? vys[i] : vy;
    }
    for (std::size_t i = 0; i < c.count; ++i)
        c.targets[i] = c.parameters.grid.regionOf(xs[i], ys[i]);
}

} // namespace tamsel::TAMSEL_LANES
