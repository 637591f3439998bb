// Refining a partition of the training table: the cut of the hierarchy at K
// never moves a row once it is merged; refinement moves rows one at a time to
// the cluster whose entropy value they raise least, and builds the model of
// the clusters that result. The one-command report and kelbow-labels call
// these two functions for --refine and --model.
#pragma once

#include <vector>

#include "assign/model.h"

namespace kelbow {

// The training rows, read by number (0 .. rowCount() - 1) as often as needed.
class TrainingRows {
 public:
  virtual ~TrainingRows() = default;
  virtual int rowCount() const = 0;
  // The A codes of row r, each inside its domain.
  virtual void codes(int r, int* out) const = 0;
};

struct RefineResult {
  double entropyBefore = 0;  // summed entropy value of the clusters before
  double entropyAfter = 0;   // and after
  long long moved = 0;       // moves made (a row may move in more than one pass)
  int passes = 0;            // passes made, the last one included
  bool settled = false;      // the last pass moved nothing
};

inline constexpr int kDefaultPassLimit = 20;

// Moves rows between the k clusters of `labels` (one label 0 .. k-1 per row,
// every cluster non-empty), in place. Pass after pass in row order, each row
// is taken out of its cluster and weighed against every cluster; it moves to
// the one whose entropy value it raises least (ties to the lower label) when
// that rise is strictly below what it adds to its own, so the summed entropy
// value falls with every move. The last row of a cluster stays, so no cluster
// empties. Ends when a pass moves nothing or after `passLimit` passes.
// Deterministic.
RefineResult refine(const TrainingRows& rows, const std::vector<int>& domainSizes, int k,
                    std::vector<int>& labels, int passLimit = kDefaultPassLimit);

// The model of the k clusters of `labels` (0 .. k-1 per row; the model
// numbers cluster c as c + 1), coded as `encoding` says.
Model trainModel(const TrainingRows& rows, Encoding encoding, int k,
                 const std::vector<int>& labels);

}  // namespace kelbow
