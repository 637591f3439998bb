// The SVG chart of one kelbow block that kelbow-plot writes: the values against
// the number of clusters K = 2..30, a zero line, axes with ticks, strong peaks
// filled and labelled with their K, weak peaks as small grey rings, and a legend
// of the two. The document is self-contained and valid XML
// whatever bytes the data file name holds.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "input/kelbow_block.h"
#include "plot/peaks.h"

namespace kelbow {

// Escapes text for XML character data and attribute values. Bytes that are not
// valid UTF-8 and characters XML 1.0 forbids (control characters other than tab,
// newline and carriage return, U+FFFE, U+FFFF) become U+FFFD, since no escape can
// carry them.
std::string xmlText(std::string_view text);

// `value` with `decimals` digits after the point, always with '.' whatever the
// locale. From 1e15 up, or beyond 20 decimals, it is written in exponent form
// with at most 2 decimals instead.
std::string formatFixed(double value, int decimals);

// The complete SVG document for `block`; `peaks` as findPeaks returns them, and
// `resultFile` is named in the subtitle.
std::string renderKelbowChart(const KelbowBlock& block, const std::vector<Peak>& peaks,
                              std::string_view resultFile);

// A kelbow curve against references without structure, as kelbow-choose draws
// it: the band the references leave (values inside it are no evidence), the
// curve, every supported K marked and the recommended one labelled.
struct ChoiceChart {
  std::string dataName;
  std::array<double, kKelbowValueCount> values{};  // the table's, K = 2 .. 30
  std::array<double, kKelbowValueCount> low{};     // the reference band at each K
  std::array<double, kKelbowValueCount> high{};
  std::vector<int> supported;  // K
  int recommended = 1;         // 1: no cluster structure
  std::string subtitle;        // plain text
};
std::string renderChoiceChart(const ChoiceChart& chart);

}  // namespace kelbow
