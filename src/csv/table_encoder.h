// Turning the records of a delimited file into the tool's table: every kept
// column becomes an attribute whose raw values are coded 0, 1, ... in order of
// first appearance, top to bottom; a binned column's values are coded by their
// bin, lowest first, and a date column becomes one attribute per date part,
// coded in the part's order. Missing markers follow those codes in order of
// first appearance. kelbow-csv feeds it one record at a time and writes the
// lines it returns, so memory grows with the distinct values only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/value_escape.h"
#include "csv/cell_syntax.h"
#include "csv/csv_reader.h"
#include "csv/value_bins.h"

namespace kelbow {

// What becomes of one column of the file.
enum class ColumnRole {
  kAttribute,  // one attribute
  kSplit,      // one attribute per character (equal-length strings)
  kDrop,       // left out
  kLabels,     // kept aside, one raw value per row
  kBinned,     // one attribute: the bin of each number (setBins)
  kDateParts,  // one attribute per date part (setDateParts)
};

// The codes of one attribute.
class AttributeCodes {
 public:
  // The code of `value`, giving it the next code when it is new.
  int code(std::string_view value);
  const std::vector<std::string>& values() const { return values_; }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, int, Hash, std::equal_to<>> codes_;
  std::vector<std::string> values_;
};

class TableEncoder {
 public:
  // `roles` and `names` hold one entry per column of the file. `valueLimit` is
  // the most distinct values the whole table may have; `namesLine` is the line
  // whose field count every record must have (for messages).
  TableEncoder(std::vector<ColumnRole> roles, std::vector<std::string> names, long long valueLimit,
               long namesLine);

  // Cuts column `col` into `bins`; its numbers are read with `mark`.
  void setBins(size_t col, ValueBins bins, DecimalMark mark);
  // Makes column `col` one attribute per part of `parts`, named COL.part,
  // coded in the order of `values[i]`, the values part i takes (slashed dates
  // read day first with `dayFirst`).
  void setDateParts(size_t col, std::vector<DatePart> parts, std::vector<std::vector<int>> values,
                    bool dayFirst);
  // The markers of a missing value: a binned or date column codes them as they are.
  void setMissing(std::vector<std::string> markers) { missing_ = std::move(markers); }

  // Stops coding attribute `a` to save its memory: its codes are forgotten
  // and its cells written as 0. The data written from then on is not the
  // table's (complete() turns false); the caller encodes again.
  void stopCoding(size_t a);
  bool complete() const { return stopped_.empty(); }
  bool stopped(size_t a) const;

  // Codes one record. Appends its data line ("c c c\n") to `data` and, when a
  // column is kept as labels, its escaped value and a newline to `labels`.
  // On a bad record returns false with err "FILE:LINE:COLUMN: what".
  bool add(const std::vector<std::string>& fields, const std::vector<TextPosition>& positions,
           const std::string& fileName, std::string& data, std::string& labels, std::string& err);

  // Codes one record as add does, into `codes` (one per attribute), leaving
  // out a labels column.
  bool codeRecord(const std::vector<std::string>& fields,
                  const std::vector<TextPosition>& positions, const std::string& fileName,
                  std::vector<int>& codes, std::string& err);

  long long rows() const { return rows_; }
  size_t attributeCount() const { return codes_.size(); }
  // Name of attribute a, and the file column it comes from (0-based).
  const std::string& attributeName(size_t a) const { return sources_[a].name; }
  size_t attributeColumn(size_t a) const { return sources_[a].columnNumber - 1; }
  const AttributeCodes& codes(size_t a) const { return codes_[a]; }
  // How every attribute is made from its column (after the first record).
  const std::vector<AttributeSource>& sources() const { return sources_; }

  // The description ("R A", then one domain size per line), the codes file
  // ("a<TAB>value<TAB>value ...") and the names file (one name per line).
  std::string descriptionText() const;
  std::string codesText() const;
  std::string namesText() const;

 private:
  // Lays out the attributes; the first record fixes the length of split columns.
  bool layOut(const std::vector<std::string>& fields, std::string& err);

  bool isMissing(std::string_view value) const;
  // Codes one record, handing put(attribute, code) every code in order and,
  // when `labels` is given, appending a labels column's value to it.
  template <class Put>
  bool encode(const std::vector<std::string>& fields, const std::vector<TextPosition>& positions,
              const std::string& fileName, const Put& put, std::string* labels, std::string& err);

  struct DateColumn {
    std::vector<DatePart> parts;
    std::vector<std::vector<int>> values;
    bool dayFirst = false;
  };

  std::vector<ColumnRole> roles_;
  std::vector<std::string> names_;
  std::vector<ValueBins> bins_;     // per file column; used when binned
  std::vector<DecimalMark> marks_;  // per file column; used when binned
  std::vector<DateColumn> dates_;   // per file column; used for date parts
  std::vector<std::string> missing_;
  std::vector<size_t> stopped_;  // attributes no longer coded
  long long valueLimit_;
  bool laidOut_ = false;
  std::vector<size_t> splitLengths_;  // per file column; 0 unless split
  std::vector<AttributeSource> sources_;
  std::vector<AttributeCodes> codes_;
  long long values_ = 0;
  long long rows_ = 0;
  long namesLine_;
  long firstLine_ = 0;  // the first data row
};

// Whether the first of `rows` (the first records of a file, as read) is a header.
// It is when its fields are non-empty and distinct and at least one column
// clearly sets it apart from the rows below: its first field appears nowhere
// else in that column, and the column below is all numbers while the field is
// not, or repeats its values (at most half as many distinct values as rows,
// at least 4 rows). Otherwise the file is taken to have none. `reason` says which
// column decided.
bool looksLikeHeader(const std::vector<std::vector<std::string>>& rows, std::string* reason);

// Finds the column that `wanted` names: a number (digits only) is the 1-based
// column, anything else a header name. Returns the 0-based index, or nullopt.
std::optional<size_t> findColumn(std::string_view wanted, const std::vector<std::string>& names,
                                 bool haveHeader);

}  // namespace kelbow
