// A table of codes held in memory, for the runs kelbow-choose makes besides the
// plain one: the same rows in other orders, and each column's value counts for
// the reference tables. A code takes one byte when every domain has at most 256
// values, else four.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/table_reader.h"

namespace kelbow {

class CodeTable {
 public:
  // An empty table of the attributes `desc` describes. Without `keepRows` it
  // keeps only each column's value counts (no rows to hand out again), for the
  // runs that need nothing else: memory independent of the row count.
  explicit CodeTable(const TableDescription& desc, bool keepRows = true);
  // Adds one row (A codes, each inside its domain).
  void append(const int* codes);

  int rowCount() const { return rowCount_; }
  int attributeCount() const { return desc_.attributeCount; }
  // The description with the row count the table holds.
  const TableDescription& description() const { return desc_; }
  // Needs the rows kept.
  int code(int r, int a) const {
    const std::size_t at = static_cast<std::size_t>(r) * desc_.attributeCount + a;
    return narrow_ ? bytes_[at] : words_[at];
  }
  // How often each code of every attribute occurs, attribute by attribute.
  std::vector<std::vector<long long>> valueCounts() const;

 private:
  TableDescription desc_;
  int rowCount_ = 0;
  bool narrow_ = true;
  bool keepRows_ = true;
  std::vector<std::vector<long long>> counts_;  // without keepRows
  std::vector<std::uint8_t> bytes_;
  std::vector<std::int32_t> words_;
};

// Hands on the rows of another source and keeps a copy of each in a table, so
// that one pass over a file both feeds a run and fills the table.
class KeepingRows final : public RowSource {
 public:
  KeepingRows(RowSource& from, CodeTable& table) : from_(from), table_(table) {}
  Result read(int* codes, std::string& err) override {
    const Result r = from_.read(codes, err);
    if (r == Result::kRecord) table_.append(codes);
    return r;
  }
  bool atEnd() override { return from_.atEnd(); }
  bool failed() const override { return from_.failed(); }
  std::string failureLine() const override { return from_.failureLine(); }
  const std::string& fileName() const override { return from_.fileName(); }

 private:
  RowSource& from_;
  CodeTable& table_;
};

// The rows of a CodeTable in the order `order` gives (row order[i] i-th), or
// in their own order when `order` is empty.
class TableRows final : public RowSource {
 public:
  TableRows(const CodeTable& table, const std::vector<int>* order, std::string name)
      : table_(table), order_(order), name_(std::move(name)) {}
  Result read(int* codes, std::string& err) override;
  bool atEnd() override { return next_ >= table_.rowCount(); }
  const std::string& fileName() const override { return name_; }

 private:
  const CodeTable& table_;
  const std::vector<int>* order_;
  std::string name_;
  int next_ = 0;
};

}  // namespace kelbow
