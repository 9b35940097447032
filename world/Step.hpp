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

// The world's time step. It owns the step's working memory, kept from one step to the next so that a running world
// allocates nothing; nothing in it matters once a step has returned. Internal to the world.
class Step
{
public:
    // Advances the particles by dt seconds: every velocity collects the forces of the positions at the start, then
    // every particle is damped, moved, wrapped and re-sorted into the region that holds it.
    void run(ParticleArrays& particles, const std::vector<Interaction>& interactions, std::int32_t typeCount,
             const Settings& settings, float dt);

    // The vector widths, in lanes, that the force pass is built for and this CPU runs, narrowest first. Every
    // width gives the same results.
    static std::vector<std::size_t> laneCounts();
    // The width of every step from now on: one of laneCounts(), or 0 for the widest. Tests compare the widths with
    // it; the program always runs the widest.
    static void useLanes(std::size_t count);
    // How every step from now on takes its square roots and quotients, with the same bits either way: by the
    // hardware's instructions (true), or by exact multiply-add sequences where the width has them (false). Tests
    // and benchmarks compare the two with it.
    static void useDivider(bool hardware);
    // The program's way, the default: each step tries both ways in its first force passes and keeps the faster.
    static void chooseFastestRoots();
    // Square roots and quotients of whole arrays by the width in use (world/ForcePass.hpp), for the tests.
    static bool squareRoots(const float* x, float* root, std::size_t count, Arithmetic how);
    static bool quotients(const float* a, const float* b, float* q, std::size_t count, Arithmetic how);

private:
    void accumulateForces(ParticleArrays& particles, const std::vector<Interaction>& interactions,
                          std::int32_t typeCount, const Settings& settings, float dt);
    void moveAndSort(ParticleArrays& particles, const Settings& settings, float dt);

    // The trials of the two ways of taking square roots, for the width of m_trialLanes: how many were run, the least
    // time each way took (divider, multiply-adds), and the faster so far.
    std::size_t m_trialLanes = 0;
    std::uint32_t m_trials = 0;
    std::chrono::steady_clock::duration m_trialTime[2] = {};
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
