#include "csv/table_encoder.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <set>

namespace kelbow {

namespace {

std::string where(const std::string& fileName, TextPosition p) {
  return fileName + ":" + std::to_string(p.line) + ":" + std::to_string(p.column) + ": ";
}

bool isNumber(std::string_view s) {
  double v;
  const char* first = s.data();
  if (!s.empty() && (s[0] == '+')) ++first;
  auto [end, ec] = std::from_chars(first, s.data() + s.size(), v);
  return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

void appendCode(std::string& out, int code) {
  char buf[16];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, code);
  out.append(buf, end);
}

}  // namespace

int AttributeCodes::code(std::string_view value) {
  auto it = codes_.find(value);
  if (it != codes_.end()) return it->second;
  const int c = static_cast<int>(values_.size());
  values_.emplace_back(value);
  codes_.emplace(values_.back(), c);
  return c;
}

TableEncoder::TableEncoder(std::vector<ColumnRole> roles, std::vector<std::string> names,
                           long long valueLimit, long namesLine)
    : roles_(std::move(roles)),
      names_(std::move(names)),
      bins_(roles_.size()),
      marks_(roles_.size(), DecimalMark::kPoint),
      dates_(roles_.size()),
      valueLimit_(valueLimit),
      namesLine_(namesLine) {}

void TableEncoder::setBins(size_t col, ValueBins bins, DecimalMark mark) {
  roles_[col] = ColumnRole::kBinned;
  bins_[col] = std::move(bins);
  marks_[col] = mark;
}

void TableEncoder::setDateParts(size_t col, std::vector<DatePart> parts,
                                std::vector<std::vector<int>> values, bool dayFirst) {
  roles_[col] = ColumnRole::kDateParts;
  dates_[col] = {std::move(parts), std::move(values), dayFirst};
}

void TableEncoder::stopCoding(size_t a) {
  if (std::find(stopped_.begin(), stopped_.end(), a) != stopped_.end()) return;
  values_ -= static_cast<long long>(codes_[a].values().size());
  codes_[a] = AttributeCodes();
  stopped_.push_back(a);
}

bool TableEncoder::stopped(size_t a) const {
  return std::find(stopped_.begin(), stopped_.end(), a) != stopped_.end();
}

bool TableEncoder::isMissing(std::string_view value) const {
  for (const std::string& m : missing_)
    if (m == value) return true;
  return false;
}

bool TableEncoder::layOut(const std::vector<std::string>& fields, std::string& err) {
  splitLengths_.assign(roles_.size(), 0);
  auto attribute = [&](size_t col, std::string name, Transform t) -> AttributeSource& {
    codes_.emplace_back();
    return sources_.emplace_back(
        attributeFrom(std::move(name), names_[col], static_cast<int>(col) + 1, t));
  };
  for (size_t col = 0; col < roles_.size(); ++col) {
    if (roles_[col] == ColumnRole::kAttribute) {
      attribute(col, names_[col], Transform::kValue);
    } else if (roles_[col] == ColumnRole::kBinned) {
      attribute(col, names_[col], Transform::kBins).edges = bins_[col].edges();
      for (int b = 0; b < bins_[col].size(); ++b) codes_.back().code(bins_[col].label(b));
    } else if (roles_[col] == ColumnRole::kDateParts) {
      const DateColumn& d = dates_[col];
      for (size_t i = 0; i < d.parts.size(); ++i) {
        AttributeSource& s = attribute(
            col, names_[col] + "." + std::string(datePartName(d.parts[i])), Transform::kDatePart);
        s.part = d.parts[i];
        s.dayFirst = d.dayFirst;
        for (int v : d.values[i]) codes_.back().code(datePartLabel(d.parts[i], v));
      }
    } else if (roles_[col] == ColumnRole::kSplit) {
      splitLengths_[col] = fields[col].size();
      if (splitLengths_[col] == 0) {
        err = "the column '" + names_[col] + "' to split into characters is empty in the first row";
        return false;
      }
      for (size_t i = 1; i <= splitLengths_[col]; ++i) {
        AttributeSource& s =
            attribute(col, names_[col] + "[" + std::to_string(i) + "]", Transform::kCharacter);
        s.character = static_cast<int>(i);
        s.length = static_cast<int>(splitLengths_[col]);
      }
    }
  }
  for (const AttributeCodes& c : codes_) values_ += static_cast<long long>(c.values().size());
  if (values_ > valueLimit_) {
    err = "more than " + std::to_string(valueLimit_) + " values in the bins and date parts";
    return false;
  }
  laidOut_ = true;
  return true;
}

bool TableEncoder::add(const std::vector<std::string>& fields,
                       const std::vector<TextPosition>& positions, const std::string& fileName,
                       std::string& data, std::string& labels, std::string& err) {
  const auto put = [&](size_t a, int c) {
    if (a > 0) data += ' ';
    appendCode(data, c);
  };
  if (!encode(fields, positions, fileName, put, &labels, err)) return false;
  data += '\n';
  return true;
}

bool TableEncoder::codeRecord(const std::vector<std::string>& fields,
                              const std::vector<TextPosition>& positions,
                              const std::string& fileName, std::vector<int>& codes,
                              std::string& err) {
  codes.clear();
  const auto put = [&](size_t, int c) { codes.push_back(c); };
  return encode(fields, positions, fileName, put, nullptr, err);
}

template <class Put>
bool TableEncoder::encode(const std::vector<std::string>& fields,
                          const std::vector<TextPosition>& positions, const std::string& fileName,
                          const Put& putCode, std::string* labels, std::string& err) {
  if (fields.size() != roles_.size()) {
    const TextPosition at = fields.size() > roles_.size() ? positions[roles_.size()] : positions[0];
    err = where(fileName, at) + "the row has " + std::to_string(fields.size()) +
          (fields.size() == 1 ? " field" : " fields") + ", but line " + std::to_string(namesLine_) +
          " has " + std::to_string(roles_.size());
    if (fields.size() > roles_.size())
      err += "; field " + std::to_string(roles_.size() + 1) + " starts here";
    return false;
  }
  if (rows_ == INT_MAX) {
    err = where(fileName, positions[0]) + "more than " + std::to_string(INT_MAX) + " data rows";
    return false;
  }
  if (!laidOut_) {
    firstLine_ = positions[0].line;
    if (!layOut(fields, err)) {
      err = where(fileName, positions[0]) + err;
      return false;
    }
  }
  size_t a = 0;
  auto put = [&](int c) { putCode(a++, c); };
  auto codeOf = [&](std::string_view value, size_t col) {
    if (!stopped_.empty() && std::find(stopped_.begin(), stopped_.end(), a) != stopped_.end()) {
      put(0);
      return true;
    }
    const size_t before = codes_[a].values().size();
    const int c = codes_[a].code(value);
    if (codes_[a].values().size() > before && ++values_ > valueLimit_) {
      err = where(fileName, positions[col]) + "more than " + std::to_string(valueLimit_) +
            " distinct values in all columns; the tool accepts at most that many value slots";
      return false;
    }
    put(c);
    return true;
  };
  for (size_t col = 0; col < roles_.size(); ++col) {
    const std::string& value = fields[col];
    switch (roles_[col]) {
      case ColumnRole::kAttribute:
        if (!codeOf(value, col)) return false;
        break;
      case ColumnRole::kSplit:
        if (value.size() != splitLengths_[col]) {
          err = where(fileName, positions[col]) + "the value of column '" + names_[col] + "' has " +
                std::to_string(value.size()) + " characters, but on line " +
                std::to_string(firstLine_) + " it has " + std::to_string(splitLengths_[col]);
          return false;
        }
        for (size_t i = 0; i < value.size(); ++i)
          if (!codeOf(std::string_view(value).substr(i, 1), col)) return false;
        break;
      case ColumnRole::kBinned: {
        int bin = 0;
        if (isMissing(value)) {
          if (!codeOf(value, col)) return false;
        } else if (bins_[col].binOfText(value, marks_[col], bin)) {
          put(bin);
        } else {
          err = where(fileName, positions[col]) + "'" + escapeValue(value) + "' in column '" +
                names_[col] + "' is no number";
          return false;
        }
        break;
      }
      case ColumnRole::kDateParts: {
        const DateColumn& d = dates_[col];
        CalendarDate date;
        if (isMissing(value)) {
          for (size_t i = 0; i < d.parts.size(); ++i)
            if (!codeOf(value, col)) return false;
        } else if (readDate(value, d.dayFirst, date)) {
          for (size_t i = 0; i < d.parts.size(); ++i) {
            const std::vector<int>& values = d.values[i];
            const int v = datePartValue(d.parts[i], date);
            const auto it = std::lower_bound(values.begin(), values.end(), v);
            if (it == values.end() || *it != v) {
              err = where(fileName, positions[col]) + "the " +
                    std::string(datePartName(d.parts[i])) + " of '" + escapeValue(value) +
                    "' in column '" + names_[col] + "' was not there in the first reading";
              return false;
            }
            put(static_cast<int>(it - values.begin()));
          }
        } else {
          err = where(fileName, positions[col]) + "'" + escapeValue(value) + "' in column '" +
                names_[col] + "' is no date";
          return false;
        }
        break;
      }
      case ColumnRole::kLabels:
        if (labels != nullptr) {
          *labels += escapeValue(value);
          *labels += '\n';
        }
        break;
      case ColumnRole::kDrop:
        break;
    }
  }
  ++rows_;
  return true;
}

std::string TableEncoder::descriptionText() const {
  std::string out = std::to_string(rows_) + " " + std::to_string(codes_.size()) + "\n";
  for (const AttributeCodes& c : codes_) out += std::to_string(c.values().size()) + "\n";
  return out;
}

std::string TableEncoder::codesText() const {
  std::string out;
  for (size_t a = 0; a < codes_.size(); ++a) {
    out += std::to_string(a);
    for (const std::string& v : codes_[a].values()) {
      out += '\t';
      out += escapeValue(v);
    }
    out += '\n';
  }
  return out;
}

std::string TableEncoder::namesText() const {
  std::string out;
  for (const AttributeSource& s : sources_) out += escapeValue(s.name) + "\n";
  return out;
}

bool looksLikeHeader(const std::vector<std::vector<std::string>>& rows, std::string* reason) {
  constexpr size_t kMinRepeatingRows = 4;
  if (rows.size() < 2) return false;
  const std::vector<std::string>& first = rows[0];
  std::set<std::string_view> seen;
  for (const std::string& f : first)
    if (f.empty() || !seen.insert(f).second) return false;
  for (size_t col = 0; col < first.size(); ++col) {
    std::set<std::string_view> below;
    bool allNumbers = true;
    size_t count = 0;
    for (size_t r = 1; r < rows.size(); ++r) {
      if (col >= rows[r].size()) continue;
      below.insert(rows[r][col]);
      allNumbers = allNumbers && isNumber(rows[r][col]);
      ++count;
    }
    if (count == 0 || below.count(first[col])) continue;
    const bool numbersBelow = allNumbers && !isNumber(first[col]);
    const bool repeatsBelow = count >= kMinRepeatingRows && below.size() * 2 <= count;
    if (numbersBelow || repeatsBelow) {
      *reason = "column " + std::to_string(col + 1) + ": '" + escapeValue(first[col]) + "' " +
                (numbersBelow ? "is not a number like the values below it"
                              : "is none of the values that repeat below it");
      return true;
    }
  }
  return false;
}

std::optional<size_t> findColumn(std::string_view wanted, const std::vector<std::string>& names,
                                 bool haveHeader) {
  if (!wanted.empty() && wanted.find_first_not_of("0123456789") == std::string_view::npos) {
    size_t n = 0;
    auto [end, ec] = std::from_chars(wanted.data(), wanted.data() + wanted.size(), n);
    if (ec != std::errc() || n < 1 || n > names.size()) return std::nullopt;
    return n - 1;
  }
  if (!haveHeader) return std::nullopt;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == wanted) return i;
  return std::nullopt;
}

}  // namespace kelbow
