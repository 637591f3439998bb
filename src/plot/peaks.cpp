#include "plot/peaks.h"

#include <algorithm>
#include <cmath>

#include "plot/svg_chart.h"

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
  // Judged on the values as the block prints them, in millionths, so that a
  // peak at exactly a tenth of the highest is strong whatever the rounding.
  // Whole numbers held as doubles: exact far beyond any value the tool writes
  // (below 9e8), and no overflow for the values a damaged file may hold.
  auto millionths = [](double v) { return std::round(v * 1e6); };
  for (Peak& p : peaks) {
    const double v = millionths(p.value);
    p.strong =
        v >= millionths(kStrongMinimum) && v * kStrongDivisor >= millionths(peaks.front().value);
  }
  return peaks;
}

std::string candidatesLine(const std::vector<Peak>& peaks) {
  std::string strong, weak;
  for (const Peak& p : peaks) {
    std::string& group = p.strong ? strong : weak;
    group += " " + std::to_string(p.k) + " (" + formatFixed(p.value, 6) + ")";
  }
  std::string line = "candidates:" + (strong.empty() ? std::string(" none") : strong);
  if (!weak.empty()) line += "; weak:" + weak;
  return line;
}

}  // namespace kelbow
