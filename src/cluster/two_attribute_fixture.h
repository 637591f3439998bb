// Test fixture of the cluster room: the attribute context of two attributes
// with domain sizes (2, 3) (slots 0-1 and 2-4), weights (1, 1/log2 3) and the
// logarithm table up to four rows, reset around every test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "cluster/cluster_summary.h"
#include "input/attribute_context.h"

namespace kelbow {

class TwoAttributeFixture : public testing::Test {
 protected:
  void SetUp() override {
    resetAttributeContext();
    gWeights = weights.data();
  }
  void TearDown() override { resetAttributeContext(); }

  // The one-row cluster of row `rowNumber` coded (a0, a1).
  std::unique_ptr<ClusterSummary> row(int a0, int a1, int rowNumber) {
    auto s = std::make_unique<ClusterSummary>(2, 0, sizes.data(), logs.data());
    const int codes[2] = {a0, a1};
    s->initFromRow(codes, rowNumber);
    return s;
  }

  std::vector<int> sizes{2, 3};
  std::vector<float> logs{0.0f, 0.0f, 1.0f, 1.5849625f, 2.0f};
  std::vector<float> weights{1.0f, 0.63092977f};
};

}  // namespace kelbow
