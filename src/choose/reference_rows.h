// The rows of a reference table without cluster structure: every column of the
// user's table shuffled on its own, so that each value keeps its frequency and
// every dependence between attributes is gone. The rows are drawn one at a time
// without replacement from each column's value counts, so nothing of the size
// of the table is held; stopping after fewer rows than the table has gives a
// random part of the shuffled table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/random.h"
#include "input/table_reader.h"

namespace kelbow {

class ReferenceRows final : public RowSource {
 public:
  // `counts`: each attribute's value counts, all of the same total; `rows`: how
  // many rows to hand out (at most that total); `seed` fixes every draw.
  ReferenceRows(const std::vector<std::vector<long long>>& counts, long long rows,
                std::uint64_t seed, std::string name);

  Result read(int* codes, std::string& err) override;
  bool atEnd() override { return made_ >= rows_; }
  const std::string& fileName() const override { return name_; }

 private:
  // The remaining counts of one column as a Fenwick tree, so that a draw finds
  // its value in log d steps whatever the domain.
  struct Column {
    std::vector<long long> tree;  // 1-based
    int top = 1;                  // the highest power of two not above the domain size
  };
  int draw(Column& c, long long left);

  std::vector<Column> columns_;
  long long total_ = 0;  // rows of the user's table
  long long rows_ = 0;
  long long made_ = 0;
  SplitMix64 random_;
  std::string name_;
};

}  // namespace kelbow
