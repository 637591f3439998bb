#include "csv/column_survey.h"

#include <algorithm>

namespace kelbow {

namespace {

// Non-number values a numeric column may hold before it counts as words.
constexpr size_t kMaxStrays = 2;

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool looksLikeCode(std::string_view v) {
  size_t i = 0;
  while (i < v.size() && isLetter(v[i])) ++i;
  if (i > 0 && i < v.size() && (v[i] == '-' || v[i] == '_')) ++i;
  const size_t digitsFrom = i;
  while (i < v.size() && isDigit(v[i])) ++i;
  return i == v.size() && i > digitsFrom;
}

DecimalMark other(DecimalMark m) {
  return m == DecimalMark::kPoint ? DecimalMark::kComma : DecimalMark::kPoint;
}

}  // namespace

DecimalMark detectDecimalMark(const std::vector<std::vector<std::string>>& records,
                              const std::vector<bool>& typed, std::string* example) {
  bool pointOnly = false, commaOnly = false;
  std::string commaExample;
  for (const std::vector<std::string>& record : records)
    for (size_t col = 0; col < record.size() && col < typed.size(); ++col) {
      if (!typed[col]) continue;
      double v;
      const bool point = parseNumber(record[col], DecimalMark::kPoint, v);
      const bool comma = parseNumber(record[col], DecimalMark::kComma, v);
      pointOnly = pointOnly || (point && !comma);
      if (comma && !point && !commaOnly) {
        commaOnly = true;
        commaExample = record[col];
      }
    }
  if (!commaOnly || pointOnly) return DecimalMark::kPoint;
  if (example != nullptr) *example = commaExample;
  return DecimalMark::kComma;
}

ColumnSurvey::ColumnSurvey(bool typed, DecimalMark mark)
    : typed_(typed), mark_(mark), numbersAlive_(typed), otherAlive_(typed), datesAlive_(typed) {}

void ColumnSurvey::add(std::string_view v, TextPosition where, long long count) {
  if (values_ == 0) example_ = v;
  values_ += count;
  length_ += static_cast<long long>(v.size()) * count;
  codeLike_ = codeLike_ && looksLikeCode(v);
  if (!typed_) return;
  bool number = false;
  if (numbersAlive_) {
    double x;
    number = parseNumber(v, mark_, x);
    if (number) {
      numbers_.add(x, count);
      if (datesAlive_) noDate(v, where);
    } else {
      if (firstNonNumberAt_.line == 0) {
        firstNonNumber_ = v;
        firstNonNumberAt_ = where;
      }
      auto it =
          std::find_if(strays_.begin(), strays_.end(), [&](const auto& s) { return s.first == v; });
      if (it != strays_.end()) {
        it->second += count;
      } else if (strays_.size() < kMaxStrays) {
        strays_.emplace_back(std::string(v), count);
      } else {
        numbersAlive_ = false;
        strays_.clear();
        numbers_ = ValueDistribution();  // no longer needed: the column is words
      }
    }
  }
  if (otherAlive_) {
    double y;
    if (!parseNumber(v, other(mark_), y)) {
      otherAlive_ = false;
    } else if (!number) {
      otherOnly_ = true;
    }
  }
  if (datesAlive_ && !number) addDate(v, where);
}

void ColumnSurvey::noDate(std::string_view v, TextPosition where) {
  datesAlive_ = false;
  firstNonDate_ = v;
  firstNonDateAt_ = where;
}

void ColumnSurvey::addDate(std::string_view v, TextPosition where) {
  DateText d;
  if (!parseDateText(v, d)) {
    noDate(v, where);
    return;
  }
  forms_ |= static_cast<std::uint8_t>(1u << static_cast<int>(d.form));
  anySlashed_ = anySlashed_ || d.form == DateForm::kSlashed;
  if (d.hour >= 0) {
    hours_ |= 1u << d.hour;
  } else {
    dateWithoutTime_ = true;
  }
  years_.insert(d.year);
  for (int k = 0; k < 2; ++k) {
    CalendarDate c;
    if (!possible_[k]) continue;
    if (!resolveDate(d, k == 1, c)) {
      possible_[k] = false;
      continue;
    }
    months_[k] |= 1u << c.month;
    days_[k] |= 1u << c.day;
    weekdays_[k] |= 1u << weekday(c.year, c.month, c.day);
  }
  if (!possible_[0] && !possible_[1]) noDate(v, where);
}

std::vector<std::pair<std::string, long long>> ColumnSurvey::strays() const {
  if (!numbersAlive_ || numbers_.count() == 0) return {};
  return strays_;
}

std::string ColumnSurvey::dateForms(bool dayFirst) const {
  std::string out;
  auto add = [&](DateForm f, const char* text) {
    if (!(forms_ & (1u << static_cast<int>(f)))) return;
    if (!out.empty()) out += ", ";
    out += text;
    if (anyTime()) out += " hh:mm";
  };
  add(DateForm::kIso, "yyyy-mm-dd");
  add(DateForm::kDotted, "dd.mm.yyyy");
  add(DateForm::kSlashed, dayFirst ? "dd/mm/yyyy" : "mm/dd/yyyy");
  return out;
}

std::vector<int> ColumnSurvey::partValues(DatePart p, bool dayFirst) const {
  const int k = dayFirst && anySlashed_ ? 1 : 0;
  std::vector<int> out;
  auto bits = [&](std::uint32_t mask, int from, int to) {
    for (int v = from; v <= to; ++v)
      if (mask & (1u << v)) out.push_back(v);
  };
  switch (p) {
    case DatePart::kYear:
      out.assign(years_.begin(), years_.end());
      break;
    case DatePart::kQuarter:
      for (int q = 1; q <= 4; ++q)
        if (months_[k] & (0x7u << (3 * q - 2))) out.push_back(q);
      break;
    case DatePart::kMonth:
      bits(months_[k], 1, 12);
      break;
    case DatePart::kDay:
      bits(days_[k], 1, 31);
      break;
    case DatePart::kWeekday:
      bits(weekdays_[k], 0, 6);
      break;
    case DatePart::kHour:
      bits(hours_, 0, 23);
      break;
  }
  return out;
}

ColumnKind classify(const ColumnSurvey& s, long long rows) {
  if (s.dates()) return ColumnKind::kDates;
  if (!s.numeric()) return ColumnKind::kWords;
  const ValueDistribution& n = s.numbers();
  if (n.exact() && static_cast<long long>(n.distinct()) <= kFewNumbers)
    return ColumnKind::kFewNumbers;
  if (rows >= kIdentifierMinRows && n.consecutiveIntegers()) return ColumnKind::kIdentifierRun;
  return ColumnKind::kMeasure;
}

Oddity oddity(const ColumnSurvey& s, long long distinct, long long rows) {
  if (distinct == 1 && rows > 1) return Oddity::kConstant;
  if (rows < kIdentifierMinRows || distinct < kIdentifierShare * static_cast<double>(rows))
    return Oddity::kNone;
  if (s.meanLength() >= kFreeTextLength) return Oddity::kFreeText;
  if (s.codeLike()) return Oddity::kCodes;
  return Oddity::kManyValues;
}

}  // namespace kelbow
