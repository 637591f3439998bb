// The kelbow curve: the negated third difference of the expected-entropy curve,
// whose peaks mark the candidate numbers of clusters, and its text block.
#pragma once

#include <cstdio>
#include <string>

#include "input/kelbow_block.h"

namespace kelbow {

// Number of clusters the entropy curve is recorded for: 0 .. kCurveSize - 1.
inline constexpr int kCurveSize = 40;
// Values of one kelbow block, for t = 1 .. kKelbowValues.
inline constexpr int kKelbowValues = kKelbowValueCount;

// ((c(t) - 3 c(t+1)) + 3 c(t+2)) - c(t+3) in double precision from the
// single-precision curve; reads curve[t .. t+3].
double kelbowValue(const float* curve, int t);

// Appends the block of `curve` (input/kelbow_block.h has its format).
void writeKelbowBlock(std::FILE* out, const std::string& dataFileName, const float* curve);

}  // namespace kelbow
