#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Particles handled side by side, one per lane of a vector register: as many lanes as one register holds (16 with
// AVX-512, 8 with AVX2 and fused multiply-adds, 4 with SSE2 or without vectors), chosen by the instructions the
// including file is compiled for. Every lane does what a scalar walk would do, operation for operation, so the lane
// count never changes a result.
//
// Files built for different widths are linked into one program, so everything here lives in a namespace named after
// the width (tamsel::lanes16::lanes, ...): no function compiled for wide vectors can stand in for a narrower one's.
//
// The step computes both sides of each choice and keeps one, which the compiler only turns into vector code when
// arithmetic cannot trap (exceptions are never unmasked here) and the square root need not set errno (its argument
// is a sum of squares). The build therefore compiles the step's files (world/Forces.cpp, world/Motion.cpp,
// world/Step.cpp) with -fno-trapping-math and -fno-math-errno; neither changes a result.

// The instruction set, chosen here once: everything below and in world/ExactArithmetic.hpp asks for
// TAMSEL_SIMD_AVX512, TAMSEL_SIMD_AVX2 or TAMSEL_SIMD_SSE2 (none of them: plain C++ lane by lane), never for the
// compiler's own macros.
#if defined(__AVX512F__)
#define TAMSEL_SIMD_AVX512
#define TAMSEL_LANES lanes16
#elif defined(__AVX2__) && defined(__FMA__)
#define TAMSEL_SIMD_AVX2
#define TAMSEL_LANES lanes8
#elif defined(__SSE2__)
#define TAMSEL_SIMD_SSE2
#define TAMSEL_LANES lanes4
#else
#define TAMSEL_LANES lanes4
#endif

#if defined(TAMSEL_SIMD_AVX512) || defined(TAMSEL_SIMD_AVX2) || defined(TAMSEL_SIMD_SSE2)
#include <immintrin.h>
#endif

namespace tamsel::TAMSEL_LANES::lanes
{

#if defined(TAMSEL_SIMD_AVX512)
constexpr std::size_t count = 16;
#elif defined(TAMSEL_SIMD_AVX2)
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

inline Ints load(const std::int32_t* from)
{
    Ints loaded;
    std::memcpy(&loaded, from, sizeof loaded);
    return loaded;
}

// The low byte of each lane, one byte per lane.
inline void storeBytes(std::uint8_t* to, Ints from)
{
    using Bytes = std::uint8_t __attribute__((vector_size(count)));
    const Bytes bytes = __builtin_convertvector(from & 0xff, Bytes);
    std::memcpy(to, &bytes, sizeof bytes);
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

// The width's own instructions, one block each: min and max, the largest and smallest lane, the square root, the
// table lookup and the packing of kept lanes.
//
// min and max are std::min and std::max lane by lane, with their operand order: each returns a when the comparison
// fails, so a NaN operand gives the same lane as it does there. The instructions' own rule, "the first operand where
// the comparison holds, else the second", is the same one with the operands swapped; written as comparisons, the
// compiler may build a maximum with zero from a comparison and a masked move instead.
//
// largest() is for lanes that hold no NaN: halves compared until one lane is left.
//
// squareRoot() is the whole register's instruction, whatever vector width the compiler's tuning prefers: a loop of
// scalar square roots is split into halves under tunings that prefer 256-bit vectors, with a round trip through
// memory.
//
// lookUp(table, size, index) is table[index] in every lane, for indices below `size`; the table must hold at least
// `count` floats.
//
// pack(mask, limit, from, to) keeps the lanes among the first `limit` whose mask is set, in lane order: it packs each
// vector of `from` into the array of 32-bit values at the same place of `to`, and returns how many lanes were kept.
// A whole vector is written to each array, so each must have room for `count` values from where the kept ones start.

#if defined(TAMSEL_SIMD_AVX512)

inline Floats min(Floats a, Floats b)
{
    return (Floats)_mm512_maskz_min_ps(0xffff, (__m512)b, (__m512)a);
}

inline Floats max(Floats a, Floats b)
{
    return (Floats)_mm512_maskz_max_ps(0xffff, (__m512)b, (__m512)a);
}

inline float largest(Floats x)
{
    __m256 h = _mm256_max_ps((__m256)__builtin_shufflevector(x, x, 0, 1, 2, 3, 4, 5, 6, 7),
                             (__m256)__builtin_shufflevector(x, x, 8, 9, 10, 11, 12, 13, 14, 15));
    __m128 m = _mm_max_ps(_mm256_castps256_ps128(h), _mm256_extractf128_ps(h, 1));
    m = _mm_max_ps(m, _mm_movehl_ps(m, m));
    return _mm_cvtss_f32(_mm_max_ss(m, _mm_shuffle_ps(m, m, 1)));
}

inline Floats squareRoot(Floats x)
{
    // The masked form, with every lane set: GCC 12 takes the plain one's undefined start for an uninitialized
    // variable.
    return (Floats)_mm512_maskz_sqrt_ps(0xffff, (__m512)x);
}

inline Floats lookUp(const float* table, std::size_t size, Ints index)
{
    // The masked forms, with every lane set, start from zeros rather than an undefined register, which GCC 12 takes
    // for an uninitialized variable.
    const __m512 none = _mm512_setzero_ps();
    if (size <= count)
        return (Floats)_mm512_mask_permutexvar_ps(none, 0xffff, (__m512i)index, _mm512_loadu_ps(table));
    return (Floats)_mm512_mask_i32gather_ps(none, 0xffff, (__m512i)index, table, sizeof(float));
}

template <std::size_t arrays>
std::size_t pack(Ints mask, std::size_t limit, const Ints (&from)[arrays], void* const (&to)[arrays])
{
    const std::uint32_t first = limit >= count ? (1u << count) - 1 : (1u << limit) - 1;
    const __mmask16 kept = _mm512_mask_test_epi32_mask(static_cast<__mmask16>(first), (__m512i)mask, (__m512i)mask);
    for (std::size_t a = 0; a < arrays; ++a)
        _mm512_storeu_si512(to[a], _mm512_maskz_compress_epi32(kept, (__m512i)from[a]));
    return static_cast<std::size_t>(__builtin_popcount(kept));
}

#elif defined(TAMSEL_SIMD_AVX2)

inline Floats min(Floats a, Floats b)
{
    return (Floats)_mm256_min_ps((__m256)b, (__m256)a);
}

inline Floats max(Floats a, Floats b)
{
    return (Floats)_mm256_max_ps((__m256)b, (__m256)a);
}

inline float largest(Floats x)
{
    const __m256 h = (__m256)x;
    __m128 m = _mm_max_ps(_mm256_castps256_ps128(h), _mm256_extractf128_ps(h, 1));
    m = _mm_max_ps(m, _mm_movehl_ps(m, m));
    return _mm_cvtss_f32(_mm_max_ss(m, _mm_shuffle_ps(m, m, 1)));
}

inline Floats squareRoot(Floats x)
{
    return (Floats)_mm256_sqrt_ps((__m256)x);
}

inline Floats lookUp(const float* table, std::size_t size, Ints index)
{
    if (size <= count)
        return (Floats)_mm256_permutevar8x32_ps(_mm256_loadu_ps(table), (__m256i)index);
    return (Floats)_mm256_i32gather_ps(table, (__m256i)index, sizeof(float));
}

// For each 8-bit mask, the lanes whose bit is set, in order, one byte each: how AVX2 packs lanes together.
struct PackingOrders
{
    constexpr PackingOrders() : order()
    {
        for (std::uint32_t mask = 0; mask < 256; ++mask)
        {
            std::uint32_t kept = 0;
            for (std::uint32_t lane = 0; lane < 8; ++lane)
                if (mask >> lane & 1)
                    order[mask] |= std::uint64_t{lane} << (8 * kept++);
        }
    }
    std::uint64_t order[256];
};
inline constexpr PackingOrders packingOrders{};

template <std::size_t arrays>
std::size_t pack(Ints mask, std::size_t limit, const Ints (&from)[arrays], void* const (&to)[arrays])
{
    const std::uint32_t first = limit >= count ? (1u << count) - 1 : (1u << limit) - 1;
    const std::uint32_t kept = static_cast<std::uint32_t>(_mm256_movemask_ps((__m256)mask)) & first;
    const __m256i order = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(static_cast<long long>(packingOrders.order[kept])));
    for (std::size_t a = 0; a < arrays; ++a)
        _mm256_storeu_si256(static_cast<__m256i*>(to[a]), _mm256_permutevar8x32_epi32((__m256i)from[a], order));
    return static_cast<std::size_t>(__builtin_popcount(kept));
}

#else // SSE2, or plain C++

// Written as minps and maxps define them, b where the comparison fails (a NaN in either lane): GCC and Clang make
// exactly those instructions of it.
inline Floats min(Floats a, Floats b)
{
    return b < a ? b : a;
}

inline Floats max(Floats a, Floats b)
{
    return a < b ? b : a;
}

inline float largest(Floats x)
{
    float m = x[0];
    for (std::size_t l = 1; l < count; ++l)
        m = m < x[l] ? x[l] : m;
    return m;
}

inline Floats squareRoot(Floats x)
{
#if defined(TAMSEL_SIMD_SSE2)
    return (Floats)_mm_sqrt_ps((__m128)x);
#else
    for (std::size_t l = 0; l < count; ++l)
        x[l] = __builtin_sqrtf(x[l]);
    return x;
#endif
}

inline Floats lookUp(const float* table, std::size_t, Ints index)
{
    Floats looked;
    for (std::size_t l = 0; l < count; ++l)
        looked[l] = table[index[l]];
    return looked;
}

template <std::size_t arrays>
std::size_t pack(Ints mask, std::size_t limit, const Ints (&from)[arrays], void* const (&to)[arrays])
{
    const std::uint32_t first = limit >= count ? (1u << count) - 1 : (1u << limit) - 1;
    // Every lane is written; a kept lane moves the next write past it.
    std::size_t kept = 0;
    for (std::size_t l = 0; l < count; ++l)
    {
        for (std::size_t a = 0; a < arrays; ++a)
        {
            const std::int32_t value = from[a][l];
            std::memcpy(static_cast<char*>(to[a]) + kept * sizeof value, &value, sizeof value);
        }
        kept += (first >> l & 1) & static_cast<std::uint32_t>(mask[l] != 0);
    }
    return kept;
}

#endif

// The negated largest of the negated lanes: the same value, a zero's sign aside, which no comparison sees.
inline float smallest(Floats x)
{
    return -largest(-x);
}

} // namespace tamsel::TAMSEL_LANES::lanes
