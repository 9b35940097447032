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
struct Settings;

/// The step's numbers for a world of these settings: its size, its grid, the radii and the friction factor.
StepParameters stepParameters(const Settings& settings);

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
    // every particle is damped, moved, wrapped and re-sorted into the region that holds it.
    void run(ParticleArrays& particles, const std::vector<Interaction>& interactions, std::int32_t typeCount,
             const StepParameters& parameters, float dt);

    // The vector widths, in lanes, that the force pass is built for and this CPU runs, narrowest first.
    static std::vector<std::size_t> laneCounts();

private:
    void accumulateForces(ParticleArrays& particles, const std::vector<Interaction>& interactions,
                          std::int32_t typeCount, const StepParameters& parameters, float dt);
    void moveAndSort(ParticleArrays& particles, const StepParameters& parameters, float dt);

    // The width's passes.
    void (*m_accumulateForces)(const ForceContext&);
    void (*m_moveParticles)(const MotionContext&);
    Arithmetic m_arithmetic;

    // With Arithmetic::fastest, the trials of the two ways: how many were run, the least time each way took
    // (divider, multiply-adds), and the faster so far.
    std::uint32_t m_trials = 0;
    std::chrono::steady_clock::duration m_trialTime[2] = {std::chrono::steady_clock::duration::max(),
                                                          std::chrono::steady_clock::duration::max()};
    bool m_fusedFaster = false;

    // The force pass's working memory (world/ForcePass.hpp).
    std::vector<float> m_paddedX, m_paddedY;
    std::vector<std::int32_t> m_paddedType;
    std::vector<std::uint8_t> m_cell;
    std::vector<Box> m_box;
    std::vector<std::uint64_t> m_typeBits;
    std::vector<std::int32_t> m_presentTypes;
    std::vector<std::uint8_t> m_typeSeen;
    std::vector<float> m_strength, m_reach, m_actingStrength, m_actingReach, m_cutoff2;
    std::vector<std::uint32_t> m_order;      // a region's particles, grouped for the lanes
    std::vector<float> m_nearbyX, m_nearbyY; // the candidates a block of lanes visits
    std::vector<std::uint32_t> m_nearbyRow;

    std::vector<std::uint32_t> m_slow;                             // particles moved past the fast path
    std::vector<std::uint32_t> m_targets;                          // each particle's region after moving
    std::vector<std::uint32_t> m_stayCount, m_arriveCount, m_fill; // per region
    // The re-sorted particles being written, swapped with the world's afterwards.
    std::vector<std::uint32_t> m_sortedStart;
    std::vector<std::int32_t> m_sortedType;
    std::vector<float> m_sortedX, m_sortedY, m_sortedVx, m_sortedVy;
};

} // namespace tamsel
