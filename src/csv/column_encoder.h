// Encoding a table handed over as columns in memory (a data frame's), typed,
// binned and coded exactly as kelbow-csv codes the same table written as a
// CSV file with a header line: the same attributes, value texts, codes and
// encoding record, and the same lines said. Each column comes as the texts
// of its distinct values and one code per row into them, so every distinct
// value is surveyed and coded once, weighted by its count, and the rows are
// coded by an integer lookup. There is no header or delimiter to detect.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "csv/column_typing.h"
#include "input/csv_encoding.h"

namespace kelbow {

// One column: its name, the texts of its distinct values and, per row, the
// index of its value among them, or -1 for a missing cell (the empty field of
// the file). Two values may have the same text (they are one value then);
// their order is free. `codes` holds the table's rows and is not owned.
struct TextColumn {
  std::string name;
  std::vector<std::string> texts;
  const std::int32_t* codes = nullptr;
};

// Whether every row's code of `c` is -1 or the index of one of its texts;
// false with err "NAME: column 'C': row R holds the code X, outside -1..N".
bool checkCodes(const TextColumn& c, long long rows, const std::string& name, std::string& err);

// What the columns became.
struct EncodedColumns {
  long long rows = 0;
  int attributes = 0;
  std::vector<std::int32_t> codes;               // rows x attributes, row after row
  std::vector<std::string> names;                // per attribute
  std::vector<std::vector<std::string>> values;  // per attribute, the text of each code
  std::vector<std::string> missing;              // the markers of a missing value
  CsvEncoding source;  // how each attribute was made, as kelbow-csv records it
  struct Line {
    bool warning = false;
    std::string text;
  };
  // What kelbow-csv says of the table: warnings and, the others, what --quiet
  // leaves out.
  std::vector<Line> lines;
};

// Encodes `columns` of `rows` rows each as kelbow-csv encodes them with the
// options `o`; `name` stands for the table in every line. A place in the table
// is named as the line of the file would be, row r (from 0) as line r + 2,
// with the column's place (from 1) for the byte column. A labels column is
// left out. False with err, the one line kelbow-csv would give, on a table it
// refuses; `out.lines` then holds what was said before.
bool encodeColumns(const std::vector<TextColumn>& columns, long long rows, const TypingOptions& o,
                   const std::string& name, EncodedColumns& out, std::string& err);

}  // namespace kelbow
