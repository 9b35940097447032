#pragma once

#include "world/ForcePass.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tamsel
{

struct Interaction;
struct ParticleArrays;

// How a step takes the force pass's square roots and quotients, with the same bits every way: by the hardware's
// instructions (the divider), by multiply-add sequences where the width is built with them (world/ExactArithmetic.hpp),
// or, the program's way, by whichever of the two its first force passes find faster.
enum class Arithmetic
{
    fastest,
    divider,
    fused
};

// The world's time step. It owns the step's working memory, kept from one step to the next so that a running world
// allocates nothing; nothing in it matters once a step has returned. Internal to the world.
class Step
{
public:
    // A step of `lanes` lanes, one of laneCounts(), or 0 for the widest this CPU runs, taking its square roots and
    // quotients `arithmetic`'s way. Every width and way gives the same results. Throws std::invalid_argument for a
    // width this CPU does not run.
    explicit Step(std::size_t lanes = 0, Arithmetic arithmetic = Arithmetic::fastest);

    // Advances the particles by dt seconds: every velocity collects the forces of the positions at the start, then
    // every particle is damped, moved, wrapped and re-sorted into the region that holds it. `acting` holds the
    // matrix's columns (actingTables).
    void run(ParticleArrays& particles, const std::vector<Interaction>& interactions, std::int32_t typeCount,
             const ActingTables& acting, const StepParameters& parameters, float dt);

    // The vector widths, in lanes, that the force pass is built for and this CPU runs, narrowest first.
    static std::vector<std::size_t> laneCounts();

private:
    void accumulateForces(ForceInput& input, float* vx, float* vy);
    void moveParticles(ParticleArrays& particles, const StepParameters& parameters, float dt);
    void countArrivals(const std::vector<std::uint32_t>& regionStart);
    void sortIntoRegions(ParticleArrays& particles);

    // The width's passes.
    void (*m_accumulateForces)(const ForceInput&, float*, float*, ForceBuffers&);
    void (*m_moveParticles)(const StepParameters&, float, const MovedParticles&, std::uint32_t*, std::uint32_t*);
    Arithmetic m_arithmetic;

    // With Arithmetic::fastest, the trials of the two ways: how many were run, the least time each way took
    // (divider, multiply-adds), and the faster so far.
    std::uint32_t m_trials = 0;
    std::chrono::steady_clock::duration m_trialTime[2] = {std::chrono::steady_clock::duration::max(),
                                                          std::chrono::steady_clock::duration::max()};
    bool m_fusedFaster = false;

    ForceBuffers m_forceBuffers;

    std::vector<std::uint32_t> m_leftToExactPath;                  // 1 for each particle the motion pass left as it was
    std::vector<std::uint32_t> m_targets;                          // each particle's region after moving
    std::vector<std::uint32_t> m_stayCount, m_arriveCount, m_fill; // per region
    // The re-sorted particles being written, swapped with the world's afterwards.
    std::vector<std::uint32_t> m_sortedStart;
    std::vector<std::int32_t> m_sortedType;
    std::vector<float> m_sortedX, m_sortedY, m_sortedVx, m_sortedVy;
};

} // namespace tamsel
