#pragma once

#include "world/Lanes.hpp"

// Square roots and quotients rounded exactly as the hardware's sqrt and div instructions round them, the IEEE
// round-to-nearest results, computed on the multiply-add units: an estimate of the reciprocal (square root), refined
// by Newton steps, then a final step whose remainder decides the rounding. They trade the divider's time for about
// forty more operations on the multiply-add units, which pays only where the divider is slow and those units wide;
// the step times both ways (world/Step.cpp). Built only where fused multiply-adds are (AVX-512, and AVX2 with FMA);
// elsewhere `fused` is false and the hardware instructions stand in for the sequences.
//
// The sequences hold for arguments in a proven range; lanes outside it (zero divisors, denormals, infinities, NaN,
// exponents near the ends) take the hardware instruction, the whole vector at once when any lane needs it.
//
// Each fused operation is written out as an intrinsic: the build never lets the compiler fuse (-ffp-contract=off).

namespace tamsel::TAMSEL_LANES::exact
{

using lanes::Floats;
using lanes::Ints;

// Square roots are proven for 2^-96 <= x < 2^96 (the bits of those two floats) and for +0.
constexpr std::uint32_t rootLowest = 0x0f800000u, rootBeyond = 0x6f800000u;
// Quotients a / b are proven where a is zero or 2^-62 <= |a| < 2^63, 2^-62 <= |b| < 2^63 and b's significand is
// not all ones; these are the biased exponents.
constexpr std::uint32_t quotientLowestExponent = 127 - 62, quotientHighestExponent = 127 + 62;

#if defined(TAMSEL_SIMD_AVX512) || defined(TAMSEL_SIMD_AVX2)

constexpr bool fused = true;

#if defined(TAMSEL_SIMD_AVX512)
using Vector = __m512;
using Mask = __mmask16;
inline Vector broadcast(float value)
{
    return _mm512_set1_ps(value);
}
inline Vector multiply(Vector a, Vector b)
{
    return _mm512_mul_ps(a, b);
}
// a * b + c and c - a * b, rounded once.
inline Vector fma(Vector a, Vector b, Vector c)
{
    return _mm512_fmadd_ps(a, b, c);
}
inline Vector fnma(Vector a, Vector b, Vector c)
{
    return _mm512_fnmadd_ps(a, b, c);
}
// The float whose bits are those of x plus `step`: the next one up or down for a positive x.
inline Vector nextTo(Vector x, std::int32_t step)
{
    return _mm512_castsi512_ps(_mm512_add_epi32(_mm512_castps_si512(x), _mm512_set1_epi32(step)));
}
inline Mask greater(Vector a, Vector b)
{
    return _mm512_cmp_ps_mask(a, b, _CMP_GT_OQ);
}
inline Mask lessOrEqual(Vector a, Vector b)
{
    return _mm512_cmp_ps_mask(a, b, _CMP_LE_OQ);
}
inline Mask equal(Vector a, Vector b)
{
    return _mm512_cmp_ps_mask(a, b, _CMP_EQ_OQ);
}
// Per lane: b where the mask is set, a elsewhere.
inline Vector blend(Mask mask, Vector a, Vector b)
{
    return _mm512_mask_blend_ps(mask, a, b);
}
inline bool any(Mask mask)
{
    return mask != 0;
}
// An estimate of 1 / sqrt(x) and of 1 / x within a relative 2^-14. (The zero-masking forms: the plain ones start
// from an undefined register, which GCC 12 warns about.)
inline Vector reciprocalRootEstimate(Vector x)
{
    return _mm512_maskz_rsqrt14_ps(0xffff, x);
}
inline Vector reciprocalEstimate(Vector x)
{
    return _mm512_maskz_rcp14_ps(0xffff, x);
}
// Lanes whose bits, taken as unsigned, lie in [lowest, lowest + span].
inline Mask bitsWithin(Vector x, std::uint32_t lowest, std::uint32_t span)
{
    const __m512i offset = _mm512_sub_epi32(_mm512_castps_si512(x), _mm512_set1_epi32(static_cast<int>(lowest)));
    return _mm512_cmple_epu32_mask(offset, _mm512_set1_epi32(static_cast<int>(span)));
}
// Lanes whose bits under the mask equal `value`.
inline Mask bitsEqual(Vector x, std::uint32_t mask, std::uint32_t value)
{
    const __m512i masked = _mm512_and_si512(_mm512_castps_si512(x), _mm512_set1_epi32(static_cast<int>(mask)));
    return _mm512_cmpeq_epi32_mask(masked, _mm512_set1_epi32(static_cast<int>(value)));
}
// |x|, the sign bit cleared.
inline Vector magnitude(Vector x)
{
    return _mm512_castsi512_ps(_mm512_and_epi32(_mm512_castps_si512(x), _mm512_set1_epi32(0x7fffffff)));
}
inline Mask both(Mask a, Mask b)
{
    return static_cast<Mask>(a & b);
}
inline Mask either(Mask a, Mask b)
{
    return static_cast<Mask>(a | b);
}
inline Mask notAll(Mask a)
{
    return static_cast<Mask>(~a);
}
inline Vector hardwareRoot(Mask lanes, Vector root, Vector x)
{
    return _mm512_mask_sqrt_ps(root, lanes, x);
}
inline Vector hardwareQuotient(Mask lanes, Vector q, Vector a, Vector b)
{
    return _mm512_mask_div_ps(q, lanes, a, b);
}
#else
// AVX2's comparisons give vectors, as the vector extensions' do: plain operators serve for all but the fused
// operations and the estimates.
using Vector = Floats;
using Mask = Ints; // all bits set in a lane where it holds
using Bits = std::uint32_t __attribute__((vector_size(sizeof(Floats))));
inline Vector broadcast(float value)
{
    return Vector{} + value;
}
inline Vector multiply(Vector a, Vector b)
{
    return a * b;
}
inline Vector fma(Vector a, Vector b, Vector c)
{
    return _mm256_fmadd_ps(a, b, c);
}
inline Vector fnma(Vector a, Vector b, Vector c)
{
    return _mm256_fnmadd_ps(a, b, c);
}
inline Bits bitsOf(Vector x)
{
    return __builtin_bit_cast(Bits, x);
}
inline Vector nextTo(Vector x, std::int32_t step)
{
    return __builtin_bit_cast(Vector, bitsOf(x) + static_cast<std::uint32_t>(step));
}
inline Mask greater(Vector a, Vector b)
{
    return a > b;
}
inline Mask lessOrEqual(Vector a, Vector b)
{
    return a <= b;
}
inline Mask equal(Vector a, Vector b)
{
    return a == b;
}
inline Vector blend(Mask mask, Vector a, Vector b)
{
    return mask ? b : a;
}
inline bool any(Mask mask)
{
    return _mm256_movemask_ps(__m256(mask)) != 0;
}
// AVX's estimates are good to a relative 1.5 x 2^-12; one Newton step brings them below 2^-14 like AVX-512's.
inline Vector reciprocalRootEstimate(Vector x)
{
    const Vector y = _mm256_rsqrt_ps(x), h = y * 0.5f;
    const Vector r = fnma(x * y, h, broadcast(0.5f)); // 1/2 - x y^2 / 2
    return fma(y, r, y);
}
inline Vector reciprocalEstimate(Vector x)
{
    const Vector y = _mm256_rcp_ps(x);
    return fma(fnma(x, y, broadcast(1.0f)), y, y);
}
inline Mask bitsWithin(Vector x, std::uint32_t lowest, std::uint32_t span)
{
    return bitsOf(x) - lowest <= span;
}
inline Mask bitsEqual(Vector x, std::uint32_t mask, std::uint32_t value)
{
    return (bitsOf(x) & mask) == value;
}
inline Vector magnitude(Vector x)
{
    return __builtin_bit_cast(Vector, bitsOf(x) & 0x7fffffffu);
}
inline Mask both(Mask a, Mask b)
{
    return a & b;
}
inline Mask either(Mask a, Mask b)
{
    return a | b;
}
inline Mask notAll(Mask a)
{
    return ~a;
}
inline Vector hardwareRoot(Mask lanes, Vector root, Vector x)
{
    return blend(lanes, root, _mm256_sqrt_ps(x));
}
inline Vector hardwareQuotient(Mask lanes, Vector q, Vector a, Vector b)
{
    return blend(lanes, q, a / b);
}
#endif

static_assert(sizeof(Vector) == sizeof(Floats), "one register per vector of lanes");

inline Vector vector(Floats x)
{
    Vector v;
    std::memcpy(&v, &x, sizeof v);
    return v;
}

inline Floats floats(Vector v)
{
    Floats x;
    std::memcpy(&x, &v, sizeof x);
    return x;
}

// sqrt(x) for x in the proven range; other lanes hold anything.
//
// s is the root estimate x y refined by one Newton step; its error is below 0.6 ulp, so the rounded root is s or
// one of its neighbours s- < s < s+. With u = s+ - s, x and s s+ are multiples of u^2 (x of ulp(x) >= u^2), and
// x - (s + u/2)^2 = (x - s s+) - u^2/4, so x - s s+ > 0 exactly when x exceeds the square of the midpoint s + u/2
// (the root of a float never falls on a midpoint): then s+ is the rounded root. Likewise x - s s- <= 0 exactly when
// x lies below the square of the midpoint between s- and s (s s- is a multiple of u^2/2 and (s - s-)^2/4 <= u^2/4):
// then s-. Each remainder is one fused operation, whose rounding keeps its sign: in the range its exact value is 0
// or at least 2^-143 in size.
inline Vector rootSequence(Vector x)
{
    const Vector half = broadcast(0.5f);
    const Vector y = reciprocalRootEstimate(x);
    Vector s = multiply(x, y);
    const Vector r = fnma(s, multiply(y, half), half); // 1/2 - s y / 2
    s = fma(s, r, s);
    const Vector up = nextTo(s, 1), down = nextTo(s, -1);
    const Vector zero = broadcast(0.0f);
    s = blend(greater(fnma(s, up, x), zero), s, up);
    return blend(lessOrEqual(fnma(s, down, x), zero), s, down);
}

// a / b for a and b in the proven range, a not zero; other lanes hold anything. (Markstein's division, as on IA-64.)
//
//  1. y0 estimates 1/b within a relative 2^-14.
//  2. e0 = 1 - b y0 (rounded), y1 = y0 + e0 y0: before its rounding y1 is off by a relative (1 - b y0)^2 < 2^-28
//     plus 2^-38 from e0's rounding, below 1/15 ulp; so y1 lies within 0.57 ulp of 1/b.
//  3. q0 = a y1 lies within 1.64 ulp of a/b (y1's error is at most 1.14 ulp of a/b, plus q0's rounding).
//  4. r0 = a - b q0, q1 = q0 + r0 y1: one Newton step on the quotient. Before q1's rounding its error is that of q0
//     times the relative errors of r0 and y1 (at most 2^-24 + 0.57 x 2^-23), far below half an ulp; so q1 lies
//     within one ulp of a/b: a faithful quotient.
//  5. e1 = 1 - b y1, y2 = y1 + e1 y1: y1 lies within one ulp of 1/b, so by Markstein's theorem y2 is 1/b correctly
//     rounded, unless b's significand is all ones (1.11...1, where the theorem fails; those lanes take the divider).
//  6. r1 = a - b q1 is exact, since q1 is faithful, and q2 = q1 + r1 y2 is a/b correctly rounded: Markstein's
//     theorem for a faithful quotient and a correctly rounded reciprocal.
// The theorems need every intermediate free of overflow and underflow; in the range |a| and |b| lie in
// [2^-62, 2^63), so 1/b and a/b stay normal, and r1, a multiple of ulp(b) ulp(q1) >= 2^-110, is representable.
// A zero a gives q0 = a y1, which is a/b with the right sign: a zero; q2 would lose its sign.
// Every divisor significand is tested with several dividends (tests/ExactArithmeticTest.cpp); step 5 depends only on
// the divisor's significand, so that test covers it whole.
inline Vector quotientSequence(Vector a, Vector b)
{
    const Vector one = broadcast(1.0f);
    Vector y = reciprocalEstimate(b);
    y = fma(fnma(b, y, one), y, y);
    const Vector q0 = multiply(a, y);
    Vector q = fma(fnma(b, q0, a), y, q0);
    y = fma(fnma(b, y, one), y, y);
    q = fma(fnma(b, q, a), y, q);
    return blend(equal(a, broadcast(0.0f)), q, q0);
}

inline Mask rootProven(Vector x)
{
    return either(bitsWithin(x, rootLowest, rootBeyond - rootLowest - 1), bitsEqual(x, 0xffffffffu, 0));
}

inline Mask quotientProven(Vector a, Vector b)
{
    constexpr std::uint32_t lowest = quotientLowestExponent << 23;
    constexpr std::uint32_t span = ((quotientHighestExponent + 1) << 23) - 1 - lowest;
    return both(either(bitsWithin(magnitude(a), lowest, span), bitsEqual(a, 0x7fffffffu, 0)),
                both(bitsWithin(magnitude(b), lowest, span), notAll(bitsEqual(b, 0x007fffffu, 0x007fffffu))));
}

// The square root and the quotient of every lane, as the hardware rounds them.
inline Floats squareRoot(Floats x)
{
    const Vector v = vector(x);
    const Mask zero = bitsEqual(v, 0xffffffffu, 0);
    const Vector root = blend(zero, rootSequence(v), v);
    const Mask unproven = notAll(rootProven(v));
    return floats(any(unproven) ? hardwareRoot(unproven, root, v) : root);
}

inline Floats quotient(Floats a, Floats b)
{
    const Vector va = vector(a), vb = vector(b);
    const Vector q = quotientSequence(va, vb);
    const Mask unproven = notAll(quotientProven(va, vb));
    return floats(any(unproven) ? hardwareQuotient(unproven, q, va, vb) : q);
}

#else

// Without fused multiply-adds the hardware instructions stand in for the sequences.
constexpr bool fused = false;

using Vector = Floats;

inline Vector vector(Floats x)
{
    return x;
}

inline Floats floats(Vector v)
{
    return v;
}

inline Vector rootSequence(Vector x)
{
    return lanes::squareRoot(x);
}

inline Vector quotientSequence(Vector a, Vector b)
{
    return a / b;
}

inline Floats squareRoot(Floats x)
{
    return lanes::squareRoot(x);
}

inline Floats quotient(Floats a, Floats b)
{
    return a / b;
}

#endif

} // namespace tamsel::TAMSEL_LANES::exact
