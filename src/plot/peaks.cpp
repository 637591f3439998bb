#include "plot/peaks.h"

#include <algorithm>

namespace kelbow {

std::vector<Peak> findPeaks(std::span<const double> values) {
  std::vector<Peak> peaks;
  // The last index is left out: see the header for why it never counts.
  for (size_t t = 0; t + 1 < values.size(); ++t) {
    bool aboveLeft = t == 0 || values[t] > values[t - 1];
    if (aboveLeft && values[t] > values[t + 1]) {
      peaks.push_back({static_cast<int>(t) + 2, values[t]});
    }
  }
  std::stable_sort(peaks.begin(), peaks.end(),
                   [](const Peak& a, const Peak& b) { return a.value > b.value; });
  return peaks;
}

}  // namespace kelbow
