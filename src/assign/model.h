// The model of a clustering that new rows are assigned with: how the table was
// coded (attribute names, the text of every code, the missing markers) and the
// value counts and size of each of its K clusters. Its size depends on the
// value slots and K, never on the rows. Written and read as versioned JSON
// (docs/MODEL.md); kelbow-labels --model writes it, kelbow-assign reads it.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kelbow {

// How a table's columns were coded.
struct Encoding {
  std::vector<std::string> names;                // attribute names, in attribute order
  std::vector<std::vector<std::string>> values;  // per attribute, the text of codes 0 .. d-1
  std::vector<std::string> missing;              // markers of a missing value
  // True when the table came without its codes file: a value's text is its code.
  bool valuesAreCodes = false;

  // The encoding of a table known only by its domain sizes: names 1, 2, ...
  // and each code standing for itself.
  static Encoding ofCodes(const std::vector<int>& domainSizes);
  std::vector<int> domainSizes() const;
};

class Model {
 public:
  // The version of the file format that modelJson writes and readModel reads.
  static constexpr int kFormatVersion = 1;

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

// Finds the code of a raw value of each attribute.
class ValueLookup {
 public:
  explicit ValueLookup(const Encoding& encoding);
  // The code of `value` in attribute a, or -1 when training never saw it.
  int code(int a, std::string_view value) const;
  // Whether `value` is one of the missing markers.
  bool isMissing(std::string_view value) const;

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Map = std::unordered_map<std::string, int, Hash, std::equal_to<>>;
  std::vector<Map> codes_;
  Map missing_;
};

}  // namespace kelbow
