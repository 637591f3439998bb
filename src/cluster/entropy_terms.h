// The three rounding steps of every entropy value, named once so that each
// evaluation path (the summary's own, the merge loop's tables and lanes)
// rounds in exactly the same places: a count's term into its attribute's
// accumulator, the accumulator times the attribute's weight, and the weighted
// accumulator into the running sum. Each is evaluated in double precision from
// its single-precision and integer operands and rounded once to single precision.
#pragma once

#include "input/tables.h"

namespace kelbow {

// acc + k (log2 k - log2 n), with countLog = log2Count(k) and rowLog = log2Count(n).
inline float addCountTerm(float acc, int k, float countLog, double rowLog) {
  return static_cast<float>(static_cast<double>(k) * (static_cast<double>(countLog) - rowLog) +
                            acc);
}
inline float addCountTerm(float acc, int k, double rowLog) {
  return addCountTerm(acc, k, log2Count(k), rowLog);
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
