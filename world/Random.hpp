#pragma once

#include <cstdint>
#include <random>

namespace tamsel
{

/// The one source of every random number of the program, seeded once per run from std::random_device.
/// Tests may reseed it to repeat a run; the program never does.
extern std::mt19937 randomEngine;

/// One engine output scaled into [a, b). The float conversion can round an output up to 2^32, so the result can
/// equal b; callers that need a strict upper bound must handle that.
float uniformFloat(float a, float b);

/// Two engine outputs combined into one 64-bit fraction, scaled into [a, b) in double precision.
double uniformDouble(double a, double b);

/// An integer in [0, n - 1] without modulo bias; spends no output when n is 1. Requires n >= 1.
std::uint32_t uniformInteger(std::uint32_t n);

} // namespace tamsel
