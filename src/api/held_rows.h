// A table read into memory for the programs that refine a partition or train a
// model of it (kelbow-labels and kelbow-report with --refine and --model, and
// the embedding interface, kelbow_api.h), and the numbering of clusters by size.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "assign/refine.h"
#include "choose/code_table.h"

namespace kelbow {

// The rows of a table held in memory, as refinement and the model read them.
class HeldRows final : public TrainingRows {
 public:
  explicit HeldRows(const CodeTable& table) : table_(table) {}
  int rowCount() const override { return table_.rowCount(); }
  void codes(int r, int* out) const override {
    for (int a = 0; a < table_.attributeCount(); ++a) out[a] = table_.code(r, a);
  }

 private:
  const CodeTable& table_;
};

// Reads the table DESC / DATA again into memory (one byte a value, four when a
// domain has more than 256 values). The clustering has read it whole, so only
// a file that changed since can fail here; err then says where.
bool readCodeTable(const std::string& desc, const std::string& data,
                   std::unique_ptr<CodeTable>& table, std::string& err);

// Renumbers the labels of one level 1..K by cluster size, largest first; of
// clusters of one size, the one whose first row comes first gets the smaller
// number. `labels` holds one label per row, any integers.
std::vector<int> numberBySize(const std::vector<int>& labels);

// The labels 1..k of the rows after refining the cut `cut` (labels 1..k),
// renumbered by size; `what` receives the line that tells what refinement did
// ("refined: expected entropy ... -> ..., N moves in P passes (...); M rows in
// another cluster than at the cut").
std::vector<int> refineCut(const HeldRows& rows, const std::vector<int>& domainSizes, int k,
                           const std::vector<int>& cut, int passes, std::string& what);

}  // namespace kelbow
