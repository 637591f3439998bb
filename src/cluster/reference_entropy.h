// Test support: the plain dense evaluation of the weighted sum S, the way the
// cost model defines it (attributes in order, codes in order, zero counts
// skipped, every step rounded to single precision, logarithms from a log
// table), against which every faster path is compared bit for bit.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "input/tables.h"

namespace kelbow {

// S of a dense count table over `domains` for n rows.
inline float referenceSum(const std::vector<int>& counts, int n, const std::vector<int>& domains,
                          const std::vector<float>& weights) {
  const std::vector<float> logs = logTable(n > 0 ? n : 1);
  float sum = 0.0f;
  int offset = 0;
  for (std::size_t a = 0; a < domains.size(); ++a) {
    if (domains[a] != 1) {
      float acc = 0.0f;
      for (int v = 0; v < domains[a]; ++v) {
        const int k = counts[offset + v];
        if (k != 0)
          acc = static_cast<float>(
              static_cast<double>(k) * (static_cast<double>(logs[k]) - logs[n]) + acc);
      }
      acc = static_cast<float>(static_cast<double>(acc) * weights[a]);
      sum = static_cast<float>(static_cast<double>(acc) + sum);
    }
    offset += domains[a];
  }
  return sum;
}

// The bit pattern of a float, so that a comparison tells -0 from +0.
inline std::uint32_t bits(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof b);
  return b;
}

// A generated table shape: domain sizes and rows drawn from a few prototypes
// (so that duplicates and near duplicates occur), every code in range.
struct TableShape {
  std::vector<int> domains;
  std::vector<std::vector<int>> rows;
};
inline TableShape generateShape(unsigned seed, int rows, std::vector<int> domains, int prototypes) {
  std::mt19937 random(seed);
  TableShape shape{std::move(domains), {}};
  std::vector<std::vector<int>> proto(prototypes);
  for (auto& p : proto)
    for (int d : shape.domains) p.push_back(static_cast<int>(random() % d));
  for (int r = 0; r < rows; ++r) {
    std::vector<int> row = proto[random() % prototypes];
    for (std::size_t a = 0; a < row.size(); ++a)
      if (random() % 3 == 0) row[a] = static_cast<int>(random() % shape.domains[a]);
    shape.rows.push_back(row);
  }
  return shape;
}

}  // namespace kelbow
