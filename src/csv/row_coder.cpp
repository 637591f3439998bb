#include "csv/row_coder.h"

#include <algorithm>
#include <charconv>

#include "csv/cell_syntax.h"

namespace kelbow {

namespace {

// The column number a name stands for in a table without a header ("3"), or 0.
int numberOf(const std::string& name) {
  int n = 0;
  const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), n);
  return ec == std::errc() && end == name.data() + name.size() && n >= 1 && name[0] != '0' ? n : 0;
}

}  // namespace

RowCoder::RowCoder(const std::optional<CsvEncoding>& source, const std::vector<std::string>& names,
                   const std::vector<std::vector<std::string>>& values,
                   const std::vector<std::string>& missing) {
  if (source) {
    encoding_ = *source;
  } else {
    guessColumns_ = true;
    encoding_.missing = missing;
    for (const std::string& name : names) {
      AttributeSource& s = encoding_.attributes.emplace_back();
      s.name = s.column = name;
      s.columnNumber = numberOf(name);
    }
  }
  const size_t attributes = encoding_.attributes.size();
  lookups_.resize(attributes);
  byteTable_.assign(attributes, -1);
  bins_.resize(attributes);
  for (size_t a = 0; a < attributes; ++a) {
    for (size_t c = 0; c < values[a].size(); ++c)
      lookups_[a].emplace(values[a][c], Code{static_cast<int>(c), isMissing(values[a][c])});
    for (const std::string& m : encoding_.missing) lookups_[a].emplace(m, Code{-1, true});
    const AttributeSource& s = encoding_.attributes[a];
    if (s.transform == Transform::kBins) bins_[a] = ValueBins(s.edges);
    if (s.transform == Transform::kCharacter) {
      byteTable_[a] = static_cast<int>(bytes_.size());
      std::array<Code, 256>& table = bytes_.emplace_back();
      for (int b = 0; b < 256; ++b) table[b] = lookUp(a, std::string(1, static_cast<char>(b)));
    }
  }
}

bool RowCoder::isMissing(std::string_view text) const {
  return std::find(encoding_.missing.begin(), encoding_.missing.end(), text) !=
         encoding_.missing.end();
}

RowCoder::Code RowCoder::lookUp(size_t a, std::string_view text) const {
  const auto it = lookups_[a].find(text);
  return it == lookups_[a].end() ? Code{-1, false} : it->second;
}

bool RowCoder::findColumns(const std::vector<std::string>& first, std::string& err) {
  const std::vector<AttributeSource>& sources = encoding_.attributes;
  columns_.assign(sources.size(), 0);
  std::string absent;
  if (encoding_.columnsByName || guessColumns_) {
    for (size_t a = 0; a < sources.size(); ++a) {
      const AttributeSource& s = sources[a];
      // The column's own place first: a header may name two columns alike.
      size_t c = s.columnNumber >= 1 && static_cast<size_t>(s.columnNumber) <= first.size() &&
                         first[s.columnNumber - 1] == s.column
                     ? s.columnNumber - 1
                     : std::find(first.begin(), first.end(), s.column) - first.begin();
      if (c < first.size()) {
        columns_[a] = c;
      } else if (absent.find("'" + s.column + "'") == std::string::npos) {
        absent += (absent.empty() ? "'" : ", '") + s.column + "'";
      }
    }
    firstIsHeader_ = true;
    if (absent.empty()) return true;
    if (!guessColumns_) {
      err = "the first line names no column " + absent;
      return false;
    }
  }
  // By number: the first record is data unless the table's file had a header.
  firstIsHeader_ = encoding_.header;
  for (size_t a = 0; a < sources.size(); ++a) {
    const int n = sources[a].columnNumber;
    if (n < 1 || static_cast<size_t>(n) > first.size()) {
      err = n < 1 ? "the first line names no column " + absent
                  : "the first line has " + std::to_string(first.size()) +
                        " fields, too few for column " + std::to_string(n);
      return false;
    }
    columns_[a] = n - 1;
  }
  return true;
}

RowCoder::Code RowCoder::code(size_t a, std::string_view cell) const {
  const AttributeSource& s = encoding_.attributes[a];
  switch (s.transform) {
    case Transform::kValue:
      return lookUp(a, cell);
    case Transform::kCharacter:
      if (static_cast<int>(cell.size()) == s.length)
        return bytes_[byteTable_[a]][static_cast<unsigned char>(cell[s.character - 1])];
      return Code{-1, isMissing(cell)};
    case Transform::kBins: {
      int bin = 0;
      if (isMissing(cell)) return lookUp(a, cell);
      if (bins_[a].binOfText(cell, encoding_.mark, bin)) return Code{bin, false};
      return Code{-1, false};
    }
    case Transform::kDatePart: {
      CalendarDate date;
      if (isMissing(cell)) return lookUp(a, cell);
      if (!readDate(cell, s.dayFirst, date)) return Code{-1, false};
      return lookUp(a, datePartLabel(s.part, datePartValue(s.part, date)));
    }
  }
  return Code{-1, false};
}

}  // namespace kelbow
