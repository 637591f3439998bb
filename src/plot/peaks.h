// Peaks of a kelbow curve: the numbers of clusters the data supports. kelbow-plot
// prints them as candidates and marks them on the chart.
#pragma once

#include <span>
#include <vector>

namespace kelbow {

struct Peak {
  int k = 0;         // number of clusters signalled: line t of the block gives k = t + 1
  double value = 0;  // the value on that line
};

// Finds the lines whose value is strictly above both neighbours; equal values
// make no peak. The first line has no left neighbour and is a peak when it is
// above the second. The last line is never a peak: its right neighbour (the
// next number of clusters) is not in the block, so a rise there may go on.
// The result is ordered by value, highest first; equal values put the smaller k first.
std::vector<Peak> findPeaks(std::span<const double> values);

}  // namespace kelbow
