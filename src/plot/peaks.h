// Peaks of a kelbow curve: the numbers of clusters the data supports. kelbow-plot
// prints them as candidates and marks them on the chart.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace kelbow {

struct Peak {
  int k = 0;            // number of clusters signalled: line t of the block gives k = t + 1
  double value = 0;     // the value on that line
  bool strong = false;  // see markStrongPeaks
};

// A peak is strong when its value is at least 1/kStrongDivisor of the highest
// peak's and at least kStrongMinimum: the values are differences of expected
// entropies between 0 and 1, and peaks far below both are noise. Both are
// judged on the six decimals the block prints.
inline constexpr long long kStrongDivisor = 10;
inline constexpr double kStrongMinimum = 0.001;

// Finds the lines whose value is strictly above both neighbours; equal values
// make no peak. The first line has no left neighbour and is a peak when it is
// above the second. The last line is never a peak: its right neighbour (the
// next number of clusters) is not in the block, so a rise there may go on.
// The result is ordered by value, highest first; equal values put the smaller k first.
// Every peak is marked strong or weak (see kStrongShare).
std::vector<Peak> findPeaks(std::span<const double> values);

// The candidates line of kelbow-plot: "candidates: 4 (0.100374) 2 (0.056263);
// weak: 8 (0.000456) ...", strong peaks first, each group highest first;
// "candidates: none" when no peak is strong, and no "; weak:" part without weak ones.
std::string candidatesLine(const std::vector<Peak>& peaks);

}  // namespace kelbow
