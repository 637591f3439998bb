#include "merge/kelbow_output.h"

#include <array>

namespace kelbow {

double kelbowValue(const float* curve, int t) {
  const double c0 = curve[t], c1 = curve[t + 1], c2 = curve[t + 2], c3 = curve[t + 3];
  const double three = 3.0f;
  return ((c0 - three * c1) + three * c2) - c3;
}

void writeKelbowBlock(std::FILE* out, const std::string& dataFileName, const float* curve) {
  std::array<double, kKelbowValues> values;
  for (int t = 1; t <= kKelbowValues; ++t) values[t - 1] = kelbowValue(curve, t);
  writeKelbowBlock(out, dataFileName, values);
}

}  // namespace kelbow
