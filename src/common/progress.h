// Where an analysis reports how far it has come. The library never prints: the
// loaders, the summary tree and the merge driver tell the Progress their caller
// hands them, and the caller decides what a user sees (kelbow writes its
// progress lines to standard output, the companions to standard error, and the
// runs that kelbow-choose makes on its own threads stay silent).
#pragma once

#include <string_view>

namespace kelbow {

class Progress {
 public:
  virtual ~Progress() = default;

  // The description's head as a loader read it: R rows, A attributes.
  virtual void tableSize(int /*rows*/, int /*attributes*/) {}
  // One domain size, as the large-table road reads them, in attribute order.
  virtual void domainSize(int /*size*/) {}
  // The direct road is taken for this many declared rows.
  virtual void directRoad(int /*rows*/) {}
  // The large-table road has inserted this many rows (every kRowStep rows).
  virtual void rowsInserted(int /*rows*/) {}
  // The large-table road has read its last row.
  virtual void rowsDone(int /*rows*/) {}
  // Merge number `iteration` (1 .. total) is done.
  virtual void merged(int /*iteration*/, int /*total*/) {}
  // A remark that does not stop the run, one line ending in a newline.
  virtual void note(std::string_view /*line*/) {}

  // Rows between two rowsInserted reports.
  static constexpr int kRowStep = 100;
};

// The Progress of a run nobody watches.
inline Progress& silentProgress() {
  static Progress silent;
  return silent;
}

}  // namespace kelbow
