#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Particles handled side by side, one per lane of a vector register: as many lanes as one register holds (16 with
// AVX-512, 8 with AVX, 4 with SSE), chosen by the instructions the including file is compiled for. Every lane does
// what a scalar walk would do, operation for operation, so the lane count never changes a result.
//
// Files built for different widths are linked into one program, so everything here lives in a namespace named after
// the width (tamsel::lanes16::lanes, ...): no function compiled for wide vectors can stand in for a narrower one's.
//
// The step computes both sides of each choice and keeps one, which the compiler only turns into vector code when
// arithmetic cannot trap (exceptions are never unmasked here) and the square root need not set errno (its argument
// is a sum of squares). The build therefore compiles the step's files (world/Forces.cpp, world/Step.cpp) with
// -fno-trapping-math and -fno-math-errno; neither changes a result.

#if defined(__AVX512F__)
#define TAMSEL_LANES lanes16
#elif defined(__AVX__)
#define TAMSEL_LANES lanes8
#else
#define TAMSEL_LANES lanes4
#endif

namespace tamsel::TAMSEL_LANES::lanes
{

#if defined(__AVX512F__)
constexpr std::size_t count = 16;
#elif defined(__AVX__)
constexpr std::size_t count = 8;
#else
constexpr std::size_t count = 4;
#endif

// Floats operated on together (GCC and Clang vector extensions); an arithmetic operation with a float applies it
// to every lane.
using Floats = float __attribute__((vector_size(count * sizeof(float))));
// 32-bit integers, one per lane. A comparison of Floats gives one: all bits set (-1) where it holds, 0 elsewhere.
using Ints = std::int32_t __attribute__((vector_size(count * sizeof(float))));

constexpr Floats zero = {};

// 0, 1, 2, ... up to count - 1.
inline Ints indices()
{
    Ints index = {};
    for (std::size_t l = 0; l < count; ++l)
        index[l] = static_cast<std::int32_t>(l);
    return index;
}

inline Floats load(const float* from)
{
    Floats loaded;
    std::memcpy(&loaded, from, sizeof loaded);
    return loaded;
}

inline void store(float* to, Floats from)
{
    std::memcpy(to, &from, sizeof from);
}

// Per lane: a where the mask is set, b elsewhere.
inline Floats select(Ints mask, Floats a, Floats b)
{
    return mask ? a : b;
}

// std::min and std::max lane by lane, with their operand order: each returns a when the comparison fails, so a NaN
// operand gives the same lane as it does there.
inline Floats min(Floats a, Floats b)
{
    return b < a ? b : a;
}

inline Floats max(Floats a, Floats b)
{
    return a < b ? b : a;
}

inline Floats squareRoot(Floats x)
{
    for (std::size_t l = 0; l < count; ++l)
        x[l] = __builtin_sqrtf(x[l]);
    return x;
}

} // namespace tamsel::TAMSEL_LANES::lanes
