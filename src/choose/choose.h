// How many clusters a table supports, with the evidence beside the answer.
//
// The table is clustered once as kelbow clusters it (its kelbow curve is the
// block kelbow appends). Then reference tables without structure are made from
// it (every column shuffled on its own: each value keeps its frequency, every
// dependence between attributes is gone) and clustered the same way, and so is
// the table itself in other row orders. A number of clusters K is supported
// when the table's kelbow value at K stands clearly above what the references
// give there (rule in supportedAt); when no K is, the answer is that the table
// has no cluster structure (K = 1). The runs besides the first are independent
// and spread over threads. The rule, its thresholds and how they were chosen
// are set out in choose.cpp and docs/CHOOSING.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/hierarchy.h"
#include "common/progress.h"
#include "input/table_reader.h"

namespace kelbow {

struct ChoiceSettings {
  int references = -1;  // reference tables; -1: kDefaultReferences
  int orders = -1;      // other row orders; -1: by the table's size (defaultOrders)
  std::uint64_t seed = 1;
  int threads = 0;  // 0: every processor this process may use
  // Rows of a reference table at most (never below the large-table road's
  // threshold when the table takes that road): beyond some 5 x 10^4 rows a
  // structureless table's curve changes little with its size, and a smaller
  // reference makes the test stricter, not looser.
  long long referenceRows = 50000;
};

inline constexpr int kDefaultReferences = 10;
// How many reference standard deviations a supported K stands above the references.
inline constexpr double kChoiceMinZ = 3.0;
// Other row orders by default: fewer as each run costs more.
int defaultOrders(long long rows);

// The evidence at one number of clusters K = 2 .. 30.
struct LevelEvidence {
  int k = 0;
  double value = 0;          // the table's kelbow value (line K - 1 of the block)
  double referenceMean = 0;  // the references' values at K
  double referenceSd = 0;
  double z = 0;                   // (value - referenceMean) / referenceSd
  double reduction = 0;           // the table's expected entropy at 1 cluster less at K
  double referenceReduction = 0;  // the same of the references, on average
  bool supported = false;
  int ordersSupported = 0;  // other row orders in which K is supported too
  double agreement = -2;    // mean adjusted Rand index of those orders' labels
                            // with the table's at K; -2 when there are none
};

struct Choice {
  int k = 1;                          // the recommendation; 1: no cluster structure
  std::vector<int> candidates;        // the supported K, the recommendation first
  std::vector<LevelEvidence> levels;  // K = 2 .. 30, in order
  int references = 0;
  int orders = 0;
  long long referenceRows = 0;
  std::uint64_t seed = 0;
  int threads = 1;
  int rows = 0;
  int startingClusters = 0;

  const LevelEvidence& at(int k) const { return levels[k - 2]; }
};

// Hears how far the runs besides the first have come.
class ChoiceProgress {
 public:
  virtual ~ChoiceProgress() = default;
  // `done` of `total` runs (references and row orders) have finished; told
  // with 0 before the first starts.
  virtual void runsDone(int /*done*/, int /*total*/) {}
};

// Clusters the rows of `rows` (described by `desc`, read as kelbow reads a data
// file: the road follows desc.rows) reporting to `progress`, then the
// references and the other orders, and fills `choice`; `table` receives the
// hierarchy of the first run (file order), whose labels are kelbow-labels'.
// False, with err set to one line, on bad input.
bool chooseClusters(const TableDescription& desc, RowSource& rows, const ChoiceSettings& settings,
                    Progress& progress, ChoiceProgress& runs, Choice& choice, Hierarchy& table,
                    std::string& err);

// The part of the answer that needs no runs: the evidence at each K from the
// table's curve and the references' curves (each 40 entries, normalised
// expected entropy by number of clusters), the recommendation and the
// candidates. `orderCurves` are the curves of the other row orders, which
// count the orders that support each K. Agreement is left to the caller.
void judge(const float* curve, const std::vector<std::vector<float>>& references,
           const std::vector<std::vector<float>>& orderCurves, Choice& choice);

}  // namespace kelbow
