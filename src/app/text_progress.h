// A run's progress as the lines kelbow has always printed: the table's size,
// "R rows" on the direct road, the large-table road's "inserting object N"
// (each overwriting the last on a terminal) and "iteration i" for every merge.
// kelbow writes them to standard output, the companions to standard error.
// Remarks that do not stop the run go to standard error, always on a line of
// their own.
#pragma once

#include <cstdio>
#include <string_view>

#include "common/progress.h"

namespace kelbow {

class TextProgress : public Progress {
 public:
  explicit TextProgress(std::FILE* out) : out_(out) {}

  void tableSize(int rows, int attributes) override;
  void domainSize(int size) override;
  void directRoad(int rows) override;
  void rowsInserted(int rows) override;
  void rowsDone(int rows) override;
  void merged(int iteration, int total) override;
  void note(std::string_view line) override;

  // Ends an unfinished progress line, so that a message written next starts a
  // line of its own (only when the progress shares standard error).
  void endLine();

 private:
  std::FILE* out_;
  bool midLine_ = false;
};

}  // namespace kelbow
