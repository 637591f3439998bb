// The model of a clustering that new rows are assigned with: how the table was
// coded (attribute names, the text of every code, the missing markers, and
// how kelbow-csv made each attribute from its file) and the value counts and
// size of each of its K clusters. Its size depends on the
// value slots and K, never on the rows. Written and read as versioned JSON
// (docs/MODEL.md); kelbow-labels --model writes it, kelbow-assign reads it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "input/csv_encoding.h"

namespace kelbow {

// How a table's columns were coded.
struct Encoding {
  std::vector<std::string> names;                // attribute names, in attribute order
  std::vector<std::vector<std::string>> values;  // per attribute, the text of codes 0 .. d-1
  std::vector<std::string> missing;              // markers of a missing value
  // True when the table came without its codes file: a value's text is its code.
  bool valuesAreCodes = false;
  // How kelbow-csv made the attributes from the columns of its file, when the
  // table has that record (NAME.encoding); without it a CSV file's cells are
  // looked up as they are, in the columns named as the attributes.
  std::optional<CsvEncoding> source;

  // The encoding of a table known only by its domain sizes: names 1, 2, ...
  // and each code standing for itself.
  static Encoding ofCodes(const std::vector<int>& domainSizes);
  std::vector<int> domainSizes() const;
};

class Model {
 public:
  // The version of the file format that modelJson writes. readModel reads it
  // and version 1, which had no "encoding".
  static constexpr int kFormatVersion = 2;

  Model() = default;
  // A model of k empty clusters over `encoding`.
  Model(Encoding encoding, int k);

  // Counts one training row (A codes, each inside its domain) in cluster c (0-based).
  void addRow(int c, const int* codes);

  const Encoding& encoding() const { return encoding_; }
  int attributeCount() const { return static_cast<int>(domainSizes_.size()); }
  const std::vector<int>& domainSizes() const { return domainSizes_; }
  int valueCount() const { return valueCount_; }
  // The first value slot of attribute a.
  int slotOffset(int a) const { return offsets_[a]; }
  int clusterCount() const { return static_cast<int>(rows_.size()); }
  // Rows of cluster c (0-based; the file numbers it c + 1).
  int clusterRows(int c) const { return rows_[c]; }
  long long totalRows() const;
  // The count of every value slot in cluster c.
  const std::vector<int>& clusterCounts(int c) const { return counts_[c]; }

 private:
  friend bool readModel(std::string_view, const std::string&, Model&, std::string&);
  void layOut();

  Encoding encoding_;
  std::vector<int> domainSizes_, offsets_;
  int valueCount_ = 0;
  std::vector<int> rows_;
  std::vector<std::vector<int>> counts_;
};

// The model as its JSON document.
std::string modelJson(const Model& model);

// Reads a model written by modelJson, validating everything an assignment
// relies on. On failure returns false with err "FILE: what" (or "FILE:LINE:
// what"): damaged JSON, another format or version, counts that do not add up.
bool readModel(std::string_view text, const std::string& fileName, Model& model, std::string& err);

// How the table BASE.data was coded, from its side files BASE.codes,
// BASE.names, BASE.missing and BASE.encoding where they exist (raw values,
// unescaped); without a codes file every code stands for itself.
bool readEncoding(const std::string& base, const std::vector<int>& domainSizes, Encoding& encoding,
                  std::string& err);

}  // namespace kelbow
