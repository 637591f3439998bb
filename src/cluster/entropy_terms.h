// The three rounding steps of every entropy value, named once so that each
// evaluation path (the summary's own, the merge loop's tables and lanes)
// rounds in exactly the same places: a count's term into its attribute's
// accumulator, the accumulator times the attribute's weight, and the weighted
// accumulator into the running sum. Each is evaluated in double precision from
// its single-precision and integer operands and rounded once to single precision.
#pragma once

#include "input/tables.h"

namespace kelbow {

// acc + k (log2 k - log2 n), with rowLog = log2 n as the log table holds it.
inline float addCountTerm(float acc, int k, double rowLog) {
  return static_cast<float>(static_cast<double>(k) * (static_cast<double>(log2Count(k)) - rowLog) +
                            acc);
}

// The attribute's accumulator times its weight.
inline float weightAttribute(float acc, float weight) {
  return static_cast<float>(static_cast<double>(acc) * weight);
}

// The weighted accumulator added to the running sum.
inline float addToSum(float term, float sum) {
  return static_cast<float>(static_cast<double>(term) + sum);
}

}  // namespace kelbow
