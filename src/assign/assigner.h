// Assigning new rows to the clusters of a model: each row goes to the cluster
// whose entropy value it raises least, ties to the lower cluster number. Used
// by kelbow-assign, one row at a time, so memory does not grow with the rows.
#pragma once

#include <memory>
#include <vector>

#include "assign/model.h"
#include "assign/row_costs.h"

namespace kelbow {

struct Assignment {
  int cluster = -1;   // 0-based (the model numbers it cluster + 1); -1: nothing known
  double margin = 0;  // the second-least rise minus the least, >= 0
};

class Assigner {
 public:
  explicit Assigner(const Model& model);

  int clusterCount() const { return static_cast<int>(clusters_.size()); }

  // The cluster of a row of A codes, a negative code standing for an attribute
  // that is left out of every cluster's rise (a value never seen in training).
  // A row with every attribute left out gets no cluster. When `shares` is
  // given it receives the row's soft membership, one share per cluster adding
  // up to 1 (all 0 for a row without a cluster): cluster c's share is
  // proportional to 2^-(m * (rise_c - least rise)), m the number of attributes
  // with more than one value.
  Assignment assign(const int* codes, std::vector<double>* shares = nullptr) const;

  // The rise of every cluster's entropy value for this row (K values).
  void rises(const int* codes, std::vector<double>& out) const;

 private:
  std::unique_ptr<RowCostLayout> layout_;
  std::vector<ClusterRowCosts> clusters_;
};

}  // namespace kelbow
