#include "csv/cell_syntax.h"

#include <charconv>
#include <cmath>

namespace kelbow {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads exactly `n` digits at `i`.
bool digits(std::string_view s, size_t& i, size_t n, int& value) {
  if (i + n > s.size()) return false;
  value = 0;
  for (size_t k = 0; k < n; ++k) {
    if (!isDigit(s[i + k])) return false;
    value = value * 10 + (s[i + k] - '0');
  }
  i += n;
  return true;
}

// Reads one or two digits at `i`.
bool shortNumber(std::string_view s, size_t& i, int& value) {
  if (i >= s.size() || !isDigit(s[i])) return false;
  value = s[i++] - '0';
  if (i < s.size() && isDigit(s[i])) value = value * 10 + (s[i++] - '0');
  return true;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeapYear(y) ? 29 : kDays[m - 1];
}

bool validDay(int y, int m, int d) { return m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m); }

// Reads "hh:mm[:ss]" at `i` into `hour`; with `iso`, also a fraction of a
// second and a zone ("Z", "+hh", "+hh:mm", "+hhmm").
bool timeOfDay(std::string_view s, size_t& i, bool iso, int& hour) {
  int minute = 0, second = 0;
  if (!digits(s, i, 2, hour) || i >= s.size() || s[i] != ':' || !digits(s, ++i, 2, minute))
    return false;
  if (hour > 23 || minute > 59) return false;
  if (i < s.size() && s[i] == ':') {
    if (!digits(s, ++i, 2, second) || second > 60) return false;
    if (iso && i < s.size() && s[i] == '.') {
      const size_t start = ++i;
      while (i < s.size() && isDigit(s[i])) ++i;
      if (i == start) return false;
    }
  }
  if (iso && i < s.size()) {
    if (s[i] == 'Z') {
      ++i;
    } else if (s[i] == '+' || s[i] == '-') {
      int zh = 0, zm = 0;
      if (!digits(s, ++i, 2, zh) || zh > 23) return false;
      if (i < s.size() && s[i] == ':') ++i;
      if (i < s.size() && (!digits(s, i, 2, zm) || zm > 59)) return false;
    }
  }
  return i == s.size();
}

constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::string_view kWeekdays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

}  // namespace

bool parseNumber(std::string_view s, DecimalMark mark, double& value) {
  // Longer texts are no measure anyone writes; the copy below stays on the stack.
  constexpr size_t kMaxLength = 64;
  if (s.empty() || s.size() > kMaxLength) return false;
  const char point = mark == DecimalMark::kPoint ? '.' : ',';
  const char group = mark == DecimalMark::kPoint ? ',' : '.';
  char buf[kMaxLength + 1];
  size_t n = 0, i = 0;
  if (s[0] == '+' || s[0] == '-') {
    if (s[0] == '-') buf[n++] = '-';
    ++i;
  }
  const size_t intStart = i;
  size_t intDigits = 0, groupLength = 0;
  bool grouped = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (isDigit(c)) {
      buf[n++] = c;
      ++intDigits;
      ++groupLength;
    } else if (c == group) {
      if (intDigits == 0 || (grouped ? groupLength != 3 : groupLength > 3)) return false;
      grouped = true;
      groupLength = 0;
    } else {
      break;
    }
  }
  if (grouped && groupLength != 3) return false;
  if (intDigits > 1 && s[intStart] == '0') return false;
  size_t fractionDigits = 0;
  if (i < s.size() && s[i] == point) {
    buf[n++] = '.';
    for (++i; i < s.size() && isDigit(s[i]); ++i, ++fractionDigits) buf[n++] = s[i];
  }
  if (intDigits + fractionDigits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    buf[n++] = 'e';
    if (++i < s.size() && (s[i] == '+' || s[i] == '-')) buf[n++] = s[i++];
    size_t exponentDigits = 0;
    for (; i < s.size() && isDigit(s[i]); ++i, ++exponentDigits) buf[n++] = s[i];
    if (exponentDigits == 0) return false;
  }
  if (i != s.size()) return false;
  const auto [end, ec] = std::from_chars(buf, buf + n, value);
  return ec == std::errc() && end == buf + n && std::isfinite(value);
}

bool parseDateText(std::string_view s, DateText& d) {
  d = DateText();
  size_t i = 0;
  if (s.size() >= 10 && s[4] == '-') {
    d.form = DateForm::kIso;
    if (!digits(s, i, 4, d.year) || s[i] != '-' || !digits(s, ++i, 2, d.first) || i >= s.size() ||
        s[i] != '-' || !digits(s, ++i, 2, d.second) || !validDay(d.year, d.first, d.second))
      return false;
    if (i == s.size()) return true;
    if (s[i] != 'T' && s[i] != ' ') return false;
    return timeOfDay(s, ++i, true, d.hour);
  }
  int a = 0, b = 0;
  if (!shortNumber(s, i, a) || i >= s.size() || (s[i] != '.' && s[i] != '/')) return false;
  const char separator = s[i];
  if (!shortNumber(s, ++i, b) || i >= s.size() || s[i] != separator || !digits(s, ++i, 4, d.year))
    return false;
  d.first = a;
  d.second = b;
  if (separator == '.') {
    d.form = DateForm::kDotted;
    d.first = b;
    d.second = a;
    if (!validDay(d.year, d.first, d.second)) return false;
  } else {
    d.form = DateForm::kSlashed;
    if (a < 1 || a > 31 || b < 1 || b > 31) return false;
  }
  if (i == s.size()) return true;
  if (s[i] != ' ') return false;
  return timeOfDay(s, ++i, false, d.hour);
}

bool resolveDate(const DateText& d, bool dayFirst, CalendarDate& date) {
  date.year = d.year;
  date.hour = d.hour;
  if (d.form == DateForm::kSlashed && dayFirst) {
    date.month = d.second;
    date.day = d.first;
  } else {
    date.month = d.first;
    date.day = d.second;
  }
  return validDay(date.year, date.month, date.day);
}

bool readDate(std::string_view text, bool dayFirst, CalendarDate& date) {
  DateText d;
  return parseDateText(text, d) && resolveDate(d, dayFirst, date);
}

int weekday(int y, int m, int d) {
  // Days since 1970-01-01 (a Thursday), by the civil-calendar arithmetic of eras of 400 years.
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const long yearOfEra = y - era * 400;
  const long dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  const long days = era * 146097 + dayOfEra - 719468;
  return static_cast<int>(((days % 7) + 7 + 3) % 7);
}

int datePartValue(DatePart p, const CalendarDate& date) {
  switch (p) {
    case DatePart::kYear:
      return date.year;
    case DatePart::kQuarter:
      return (date.month - 1) / 3 + 1;
    case DatePart::kMonth:
      return date.month;
    case DatePart::kDay:
      return date.day;
    case DatePart::kWeekday:
      return weekday(date.year, date.month, date.day);
    case DatePart::kHour:
      return date.hour;
  }
  return 0;
}

std::string datePartLabel(DatePart p, int value) {
  switch (p) {
    case DatePart::kQuarter:
      return "Q" + std::to_string(value);
    case DatePart::kMonth:
      return std::string(kMonths[value - 1]);
    case DatePart::kWeekday:
      return std::string(kWeekdays[value]);
    case DatePart::kHour:
      return value < 0 ? "(no time)" : std::to_string(value);
    default:
      return std::to_string(value);
  }
}

std::string numberLabel(double v) {
  if (v == 0) return "0";
  // Plain decimals for what people write as such; an exponent only far out.
  constexpr double kPlainBelow = 1e16, kPlainFrom = 1e-6;
  const double a = std::fabs(v);
  char buf[512];
  const auto format =
      a >= kPlainFrom && a < kPlainBelow ? std::chars_format::fixed : std::chars_format::general;
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, format);
  return std::string(buf, end);
}

double roundBetween(double lo, double hi, std::string& text) {
  // From a power of ten above both ends down: the first multiple of it in
  // (lo, hi] has the fewest significant digits.
  constexpr int kFinestPower = -20;
  constexpr double kExactIntegers = 1e15;
  const double magnitude = std::fmax(std::fabs(lo), std::fabs(hi));
  const int top = magnitude > 0 ? static_cast<int>(std::floor(std::log10(magnitude))) + 1 : 0;
  for (int p = top; p >= kFinestPower; --p) {
    const double q = std::floor(hi / std::pow(10.0, p));
    if (std::fabs(q) > kExactIntegers) break;
    // Division may land a hair off: the multiple above is tried as well.
    for (const double m : {q + 1, q}) {
      const long long k = static_cast<long long>(m);
      std::string digitsText = std::to_string(k < 0 ? -k : k);
      std::string s;
      if (k == 0) {
        s = "0";
      } else if (p >= 0) {
        s = digitsText + std::string(p, '0');
      } else {
        const size_t places = static_cast<size_t>(-p);
        if (digitsText.size() <= places)
          digitsText = std::string(places + 1 - digitsText.size(), '0') + digitsText;
        s = digitsText.substr(0, digitsText.size() - places) + "." +
            digitsText.substr(digitsText.size() - places);
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
      }
      if (k < 0) s = "-" + s;
      double x = 0;
      std::from_chars(s.data(), s.data() + s.size(), x);
      if (lo < x && x <= hi) {
        text = s;
        return x;
      }
    }
  }
  text = numberLabel(hi);
  return hi;
}

}  // namespace kelbow
