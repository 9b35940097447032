#include "LaneArithmetic.hpp"
#include "world/Step.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

// The force pass's square roots and quotients by multiply-add sequences (world/ExactArithmetic.hpp) against the
// hardware's instructions, bit for bit, at every width this CPU runs that has the sequences: over every positive
// float, and over every divisor significand.
namespace
{

using testworld::LaneArithmetic;

// Where runs are slow (under the sanitizers, scripts/sanitize) the sweeps below take a sample: every 61st block of
// floats, the first two dividends. Other builds run them whole.
#if defined(TESTWORLD_SHORT_RUNS)
constexpr std::uint64_t blockStride = 61;
constexpr std::size_t dividendCount = 2;
#else
constexpr std::uint64_t blockStride = 1;
constexpr std::size_t dividendCount = 6;
#endif

float fromBits(std::uint32_t bits)
{
    float x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

std::uint32_t bitsOf(float x)
{
    std::uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

// One width's square roots and quotients.
struct Width
{
    std::size_t lanes;
    bool (*squareRoots)(const float*, float*, std::size_t, LaneArithmetic);
    bool (*quotients)(const float*, const float*, float*, std::size_t, LaneArithmetic);
};

// The widths built into the tests, as into the program.
#define TESTWORLD_WIDTH(count)                                                                                         \
    {                                                                                                                  \
        count, testworld::lanes##count::squareRoots, testworld::lanes##count::quotients                                \
    }
constexpr Width builtWidths[] = {TAMSEL_BUILT_WIDTHS(TESTWORLD_WIDTH)};
#undef TESTWORLD_WIDTH

// The width whose arithmetic the checks below take.
const Width* width = nullptr;

bool squareRoots(const float* x, float* root, std::size_t count, LaneArithmetic how)
{
    return width->squareRoots(x, root, count, how);
}

bool quotients(const float* a, const float* b, float* q, std::size_t count, LaneArithmetic how)
{
    return width->quotients(a, b, q, count, how);
}

// The widths this CPU runs that have the sequences, each the one the checks take while `check` runs.
template <typename Check> void forEachFusedWidth(Check check)
{
    bool any = false;
    for (const std::size_t lanes : tamsel::Step::laneCounts())
        for (const Width& built : builtWidths)
        {
            float probe = 1.0f, root;
            if (built.lanes != lanes || !built.squareRoots(&probe, &root, 1, LaneArithmetic::fused))
                continue;
            any = true;
            width = &built;
            SCOPED_TRACE(testing::Message() << lanes << " lanes");
            check();
        }
    if (!any)
        GTEST_SKIP() << "this CPU has no width with fused multiply-adds";
}

// The first lane where two arrays differ in their bits, or `count`.
std::size_t firstDifference(const std::vector<float>& a, const std::vector<float>& b, std::size_t count)
{
    if (std::memcmp(a.data(), b.data(), count * sizeof(float)) == 0)
        return count;
    std::size_t i = 0;
    while (bitsOf(a[i]) == bitsOf(b[i]))
        ++i;
    return i;
}

// Every float from +0 up to +infinity (2^31 of them, a block at a time). Inside the proven range the pass's lanes
// take the sequence's results; one block in 16 checks the sequence alone there, so that a range that fell back to the
// hardware everywhere would not pass unseen.
TEST(ExactArithmetic, SquareRootOfEveryPositiveFloat)
{
    forEachFusedWidth(
        []
        {
            constexpr std::size_t block = 1 << 16;
            std::vector<std::uint32_t> bits(block);
            std::vector<float> x(block), expected(block), fused(block), sequence(block);
            for (std::uint64_t first = 0; first <= 0x7f800000u; first += block * blockStride)
            {
                const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(block, 0x7f800001u - first));
                for (std::size_t i = 0; i < count; ++i)
                    bits[i] = static_cast<std::uint32_t>(first + i);
                std::memcpy(x.data(), bits.data(), count * sizeof(float));
                squareRoots(x.data(), expected.data(), count, LaneArithmetic::divider);
                squareRoots(x.data(), fused.data(), count, LaneArithmetic::fused);
                const std::size_t wrong = firstDifference(fused, expected, count);
                ASSERT_EQ(wrong, count) << "sqrt(" << std::hexfloat << x[wrong] << ") gave " << fused[wrong]
                                        << " instead of " << expected[wrong];
                if (first < 0x0f800000u || first + count > 0x6f800000u || (first / block % 16 != 0 && blockStride == 1))
                    continue;
                squareRoots(x.data(), sequence.data(), count, LaneArithmetic::sequenceOnly);
                const std::size_t wrongSequence = firstDifference(sequence, expected, count);
                ASSERT_EQ(wrongSequence, count) << "the sequence's sqrt(" << std::hexfloat << x[wrongSequence] << ")";
            }
        });
}

// Lanes outside the sequences' range: negative numbers, NaN, zeros, denormals, infinities.
TEST(ExactArithmetic, SpecialArgumentsTakeTheHardwareResults)
{
    const float inf = __builtin_inff(), nan = __builtin_nanf("");
    const std::vector<float> special = {0.0f,     -0.0f,    -1.0f,           inf,     -inf,    nan,
                                        -nan,     1e-45f,   -1e-45f,         1e-40f,  3e38f,   -3e38f,
                                        0x1p-63f, 0x1p-62f, 0x1.fffffep-63f, 0x1p63f, 0x1p62f, 0x1.fffffep62f,
                                        0x1p-96f, 0x1p96f,  0x1.fffffep+0f,  1.0f,    -2.5f,   7.0f};
    forEachFusedWidth(
        [&]
        {
            const std::size_t n = special.size();
            std::vector<float> x(n), expected(n), fused(n);
            squareRoots(special.data(), expected.data(), n, LaneArithmetic::divider);
            squareRoots(special.data(), fused.data(), n, LaneArithmetic::fused);
            for (std::size_t i = 0; i < n; ++i)
                EXPECT_EQ(bitsOf(fused[i]), bitsOf(expected[i])) << "sqrt(" << special[i] << ")";

            // Every pair, in both orders.
            std::vector<float> a, b;
            for (const float p : special)
                for (const float q : special)
                {
                    a.push_back(p);
                    b.push_back(q);
                }
            std::vector<float> q(a.size()), hardware(a.size());
            quotients(a.data(), b.data(), hardware.data(), a.size(), LaneArithmetic::divider);
            quotients(a.data(), b.data(), q.data(), a.size(), LaneArithmetic::fused);
            for (std::size_t i = 0; i < a.size(); ++i)
                EXPECT_EQ(bitsOf(q[i]), bitsOf(hardware[i])) << a[i] << " / " << b[i];
        });
}

// Compares the quotients of a[0 .. count) and b[0 .. count): the pass's everywhere, the sequence's alone where
// `proven` holds.
void checkQuotients(const std::vector<float>& a, const std::vector<float>& b, bool proven)
{
    const std::size_t n = a.size();
    std::vector<float> expected(n), fused(n), sequence(n);
    quotients(a.data(), b.data(), expected.data(), n, LaneArithmetic::divider);
    quotients(a.data(), b.data(), fused.data(), n, LaneArithmetic::fused);
    const std::size_t wrong = firstDifference(fused, expected, n);
    ASSERT_EQ(wrong, n) << std::hexfloat << a[wrong] << " / " << b[wrong] << " gave " << fused[wrong] << " instead of "
                        << expected[wrong];
    if (!proven)
        return;
    quotients(a.data(), b.data(), sequence.data(), n, LaneArithmetic::sequenceOnly);
    for (std::size_t i = 0; i < n; ++i)
    {
        if ((bitsOf(b[i]) & 0x7fffffu) != 0x7fffffu && a[i] != 0.0f) // the divisors the sequence leaves out
        {
            ASSERT_EQ(bitsOf(sequence[i]), bitsOf(expected[i]))
                << "the sequence's " << std::hexfloat << a[i] << " / " << b[i];
        }
    }
}

// Every divisor significand against dividend significands that include the extremes, at exponents from one end of
// the proven range to the other, with every sign.
TEST(ExactArithmetic, QuotientOverEveryDivisorSignificand)
{
    const std::uint32_t dividends[] = {0x000000, 0x7fffff, 0x000001, 0x400000, 0x555555, 0x123456};
    // Unbiased exponents of dividend and divisor.
    const int exponents[][2] = {{0, 0}, {-62, 62}, {62, -62}, {-62, -62}, {62, 62}};
    forEachFusedWidth(
        [&]
        {
            std::vector<float> a(1 << 23), b(1 << 23);
            int round = 0;
            for (const auto& exponent : exponents)
                for (std::size_t d = 0; d < dividendCount; ++d)
                {
                    const std::uint32_t significand = dividends[d];
                    const std::uint32_t sign = (round++ & 3u) << 30 & 0x80000000u;
                    const float dividend =
                        fromBits(sign | static_cast<std::uint32_t>(127 + exponent[0]) << 23 | significand);
                    for (std::uint32_t s = 0; s < (1u << 23); ++s)
                    {
                        a[s] = dividend;
                        b[s] = fromBits(((s & 1u) << 31) | static_cast<std::uint32_t>(127 + exponent[1]) << 23 | s);
                    }
                    SCOPED_TRACE(testing::Message() << std::hexfloat << "dividend " << dividend);
                    checkQuotients(a, b, true);
                    if (HasFatalFailure())
                        return;
                }
        });
}

// Random pairs inside the proven range; random bits anywhere; and quotients that lie just off a midpoint between two
// floats, the hardest to round: a = b m rounded, for a midpoint m.
TEST(ExactArithmetic, QuotientOfRandomAndHardToRoundPairs)
{
    forEachFusedWidth(
        []
        {
            std::mt19937 random(2024);
            constexpr std::size_t count = 1 << 22;
            std::vector<float> a(count), b(count);
            const auto inRange = [&random]
            {
                const std::uint32_t bits = random();
                const std::uint32_t exponent = 127 - 62 + bits % 125;
                return fromBits((bits & 0x80000000u) | exponent << 23 | (random() & 0x7fffffu));
            };
            for (std::size_t i = 0; i < count; ++i)
            {
                a[i] = inRange();
                b[i] = inRange();
            }
            checkQuotients(a, b, true);

            for (std::size_t i = 0; i < count; ++i)
            {
                a[i] = fromBits(static_cast<std::uint32_t>(random()));
                b[i] = fromBits(static_cast<std::uint32_t>(random()));
            }
            checkQuotients(a, b, false);

            std::size_t n = 0;
            while (n < count)
            {
                const float divisor = inRange();
                const float q =
                    fromBits((random() & 0x807fffffu) | static_cast<std::uint32_t>(127 - 20 + random() % 40) << 23);
                const double midpoint = static_cast<double>(q) + static_cast<double>(std::nextafter(q, 2 * q) - q) / 2;
                const auto dividend = static_cast<float>(static_cast<double>(divisor) * midpoint);
                if (dividend == 0.0f || std::abs(dividend) < 0x1p-62f || std::abs(dividend) >= 0x1p63f)
                    continue;
                a[n] = dividend;
                b[n] = divisor;
                ++n;
            }
            checkQuotients(a, b, true);
        });
}

} // namespace
