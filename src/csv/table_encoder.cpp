#include "csv/table_encoder.h"

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
      valueLimit_(valueLimit),
      namesLine_(namesLine) {}

bool TableEncoder::layOut(const std::vector<std::string>& fields, std::string& err) {
  splitLengths_.assign(roles_.size(), 0);
  for (size_t col = 0; col < roles_.size(); ++col) {
    if (roles_[col] == ColumnRole::kAttribute) {
      attributeNames_.push_back(names_[col]);
      attributeColumns_.push_back(col);
    } else if (roles_[col] == ColumnRole::kSplit) {
      splitLengths_[col] = fields[col].size();
      if (splitLengths_[col] == 0) {
        err = "the column '" + names_[col] + "' to split into characters is empty in the first row";
        return false;
      }
      for (size_t i = 1; i <= splitLengths_[col]; ++i) {
        attributeNames_.push_back(names_[col] + "[" + std::to_string(i) + "]");
        attributeColumns_.push_back(col);
      }
    }
  }
  codes_.resize(attributeNames_.size());
  laidOut_ = true;
  return true;
}

bool TableEncoder::add(const std::vector<std::string>& fields,
                       const std::vector<TextPosition>& positions, const std::string& fileName,
                       std::string& data, std::string& labels, std::string& err) {
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
  auto codeOf = [&](std::string_view value, size_t col) {
    const size_t before = codes_[a].values().size();
    const int c = codes_[a].code(value);
    if (codes_[a].values().size() > before && ++values_ > valueLimit_) {
      err = where(fileName, positions[col]) + "more than " + std::to_string(valueLimit_) +
            " distinct values in all columns; the tool accepts at most that many value slots";
      return false;
    }
    if (a > 0) data += ' ';
    appendCode(data, c);
    ++a;
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
      case ColumnRole::kLabels:
        labels += escapeValue(value);
        labels += '\n';
        break;
      case ColumnRole::kDrop:
        break;
    }
  }
  data += '\n';
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
  for (const std::string& n : attributeNames_) out += escapeValue(n) + "\n";
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
