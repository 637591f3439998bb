// Codes the cells of new rows as kelbow-csv coded the rows of a table, from
// the record of how each attribute was made (NAME.encoding, carried in a
// model): the same reading of numbers and dates, the same bin search, the same
// split into characters, and then the training code of what comes out.
// kelbow-assign codes every row of a CSV file through it.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "csv/value_bins.h"
#include "input/csv_encoding.h"

namespace kelbow {

class RowCoder {
 public:
  // The coder of a table whose attributes `names` have the codes `values`
  // (values[a][c] the text of code c) and the missing markers `missing`.
  // Without `source` every attribute is the plain value of the column of its
  // name (or, when no first record names them all and the names are numbers,
  // of that column number).
  RowCoder(const std::optional<CsvEncoding>& source, const std::vector<std::string>& names,
           const std::vector<std::vector<std::string>>& values,
           const std::vector<std::string>& missing);

  const CsvEncoding& encoding() const { return encoding_; }

  // Finds every attribute's column from the first record of a file: by name
  // when the table's columns were named by a header, else by number. False
  // with err naming the columns the record lacks ("'a', 'b'"), or, by
  // number, the first record's field count.
  bool findColumns(const std::vector<std::string>& first, std::string& err);
  // Whether the first record is a header (not a row), once the columns are found.
  bool firstIsHeader() const { return firstIsHeader_; }
  // The field (0-based) that attribute a is made from.
  size_t column(size_t a) const { return columns_[a]; }

  struct Code {
    int code;      // the training code; -1 when training never saw the value
    bool missing;  // the value is a missing marker
  };
  // The code of attribute a from `cell`, the field of its column. A number in
  // a binned column always has a bin (below the first edge the first, above
  // the last the last); a cell that is no number there, no date in a date
  // column, or of another length than a split column's, is a value training
  // never saw.
  Code code(size_t a, std::string_view cell) const;
  // Whether `text` is one of the missing markers.
  bool isMissing(std::string_view text) const;

 private:
  // FNV-1a: the values are short words, for which it is quicker than the
  // library's hash of a string.
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const {
      size_t h = 14695981039346656037u;
      for (char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211u;
      return h;
    }
  };
  using Lookup = std::unordered_map<std::string, Code, Hash, std::equal_to<>>;

  // The code of a whole value: its text looked up, the markers included.
  Code lookUp(size_t a, std::string_view text) const;

  CsvEncoding encoding_;
  bool guessColumns_ = false;  // no record: by name when the first line names them all
  bool firstIsHeader_ = false;
  std::vector<size_t> columns_;
  std::vector<Lookup> lookups_;               // per attribute: text -> code
  std::vector<std::array<Code, 256>> bytes_;  // per character attribute: byte -> code
  std::vector<int> byteTable_;                // per attribute: its entry in bytes_, or -1
  std::vector<ValueBins> bins_;               // per attribute: used when binned
};

}  // namespace kelbow
