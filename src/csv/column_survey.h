// What the first reading of a file learns about each kept column, holding no
// more than per-column summaries, and what kind of column that makes it:
// numbers to keep as categories or to cut into bins, an identifier, dates, or
// words. kelbow-csv surveys every record, decides each column's kind and then
// encodes the file with the bins and date parts chosen.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "csv/cell_syntax.h"
#include "csv/csv_reader.h"
#include "csv/value_bins.h"

namespace kelbow {

// Numbers with at most this many distinct values stay categories: a rating,
// a count of children or the small codes of the real sets (at most 8 values
// in any of their columns) keep one code per value.
inline constexpr long long kFewNumbers = 20;
// Bins of a measure by default. On generated census-like tables (30,000 rows,
// 5 planted groups, age, hours and income beside 6 word columns, noise 0.5 and
// 0.6, three seeds each) 6 bins found the groups best: mean adjusted Rand
// index 0.59, against 0.55 for 5 bins and 0.51 for 8. Fewer bins blur the
// groups' centres together; more split each group's values over more codes.
inline constexpr int kDefaultBins = 6;
// A column with at least this share of distinct values, over at least
// kIdentifierMinRows rows, holds identifiers or free text rather than categories.
inline constexpr double kIdentifierShare = 0.95;
inline constexpr long long kIdentifierMinRows = 20;
// Such a column whose values are this long on average holds free text.
inline constexpr double kFreeTextLength = 20;

// The decimal mark of a file, from the first records: ',' when some value
// reads as a number with a decimal comma only ("2,5", "2.260,59") and none
// with a decimal point only ("1.5", "1,234.5"), else '.'. `example` receives
// the value that decided for ',' .
DecimalMark detectDecimalMark(const std::vector<std::vector<std::string>>& records,
                              const std::vector<bool>& typed, std::string* example);

class ColumnSurvey {
 public:
  // `typed`: look for numbers (read with `mark`) and dates; else only count.
  ColumnSurvey(bool typed, DecimalMark mark);

  // `count` equal values of the column that are no missing marker, the first
  // at `where`. Values added at once with their counts survey a column as
  // adding them one by one does, in the order of their first appearance,
  // while the column has at most ValueDistribution::kExactValues distinct
  // values; past that the numbers' sketch depends on the order of the rows.
  void add(std::string_view value, TextPosition where, long long count = 1);

  long long values() const { return values_; }
  // Numbers or dates may still be all the column holds: no other value seen
  // yet, or none but one or two beside numbers.
  bool mayBeTyped() const {
    return typed_ && ((numbersAlive_ && (numbers_.count() > 0 || strays_.empty())) || datesAlive_);
  }
  // Every value is a number.
  bool numeric() const { return numbersAlive_ && strays_.empty() && numbers_.count() > 0; }
  const ValueDistribution& numbers() const { return numbers_; }
  // Numbers but for one or two other values (such as "NA" or "?"): those
  // values, with their counts; empty otherwise.
  std::vector<std::pair<std::string, long long>> strays() const;
  // Every value reads as a number with the other decimal mark, and some only so.
  bool otherMarkReads() const { return otherAlive_ && otherOnly_ && !numeric(); }
  // The first value that is no number, and where it stands.
  const std::string& firstNonNumber() const { return firstNonNumber_; }
  TextPosition firstNonNumberAt() const { return firstNonNumberAt_; }

  // The first value that is no date (empty when there is none).
  const std::string& firstNonDate() const { return firstNonDate_; }
  TextPosition firstNonDateAt() const { return firstNonDateAt_; }
  // Every value is a date (the slashed ones all readable in one order).
  bool dates() const { return datesAlive_ && values_ > 0 && (possible_[0] || possible_[1]); }
  // Slashed dates that read both day first and month first.
  bool datesAmbiguous() const { return anySlashed_ && possible_[0] && possible_[1]; }
  bool dayFirstOnly() const { return possible_[1] && !possible_[0]; }
  bool anyTime() const { return hours_ != 0; }
  bool everyTime() const { return !dateWithoutTime_; }
  // The forms seen, for messages: "yyyy-mm-dd", "dd.mm.yyyy", "mm/dd/yyyy" ...
  std::string dateForms(bool dayFirst) const;
  // The values part `p` takes over the column, ascending (dates read day first
  // or not).
  std::vector<int> partValues(DatePart p, bool dayFirst) const;

  // Every value looks like a code: letters, an optional '-' or '_', digits.
  bool codeLike() const { return codeLike_ && values_ > 0; }
  double meanLength() const { return values_ ? static_cast<double>(length_) / values_ : 0; }
  const std::string& example() const { return example_; }

 private:
  void addDate(std::string_view value, TextPosition where);
  void noDate(std::string_view value, TextPosition where);

  bool typed_;
  DecimalMark mark_;
  long long values_ = 0;
  long long length_ = 0;
  bool codeLike_ = true;
  std::string example_;

  bool numbersAlive_;
  ValueDistribution numbers_;
  std::vector<std::pair<std::string, long long>> strays_;
  std::string firstNonNumber_;
  TextPosition firstNonNumberAt_;
  bool otherAlive_;
  bool otherOnly_ = false;

  bool datesAlive_;
  std::string firstNonDate_;
  TextPosition firstNonDateAt_;
  bool anySlashed_ = false;
  bool possible_[2] = {true, true};  // month first (and every ISO or dotted date), day first
  std::uint8_t forms_ = 0;           // bit per DateForm seen
  std::set<int> years_;
  std::uint32_t months_[2] = {0, 0}, days_[2] = {0, 0}, weekdays_[2] = {0, 0};
  std::uint32_t hours_ = 0;
  bool dateWithoutTime_ = false;
};

// What a column becomes.
enum class ColumnKind {
  kWords,          // anything else: one code per distinct value
  kFewNumbers,     // numbers with at most kFewNumbers distinct values: categories
  kMeasure,        // numbers cut into ordered bins
  kIdentifierRun,  // all-distinct integers without a gap: row numbers
  kDates,          // dates (and times)
};

ColumnKind classify(const ColumnSurvey& s, long long rows);

// Why a column of categories is suspect.
enum class Oddity {
  kNone,
  kConstant,    // one value in every row
  kCodes,       // (nearly) all distinct, codes like "r001"
  kFreeText,    // (nearly) all distinct, long
  kManyValues,  // (nearly) all distinct otherwise
};

// `distinct` is the column's number of distinct raw values, missing markers included.
Oddity oddity(const ColumnSurvey& s, long long distinct, long long rows);

}  // namespace kelbow
