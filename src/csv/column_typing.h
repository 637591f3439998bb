// How kelbow-csv decides what every column of a table becomes: the options
// that choose it (columns left out, kept as labels or split, categories forced,
// bins, cuts, date parts, missing markers, the decimal mark), each column's
// survey, its kind and the bins or date parts it is coded with, and the lines
// that say so. kelbow-csv drives it over the records of a file; encodeColumns
// (csv/column_encoder.h) over the columns of a table held in memory. It prints
// nothing: its lines go to the caller's sink, its errors come back as text.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "csv/column_survey.h"
#include "csv/csv_reader.h"
#include "csv/table_encoder.h"
#include "csv/value_bins.h"
#include "input/csv_encoding.h"

namespace kelbow {

// The most bins a column may be cut into.
inline constexpr int kMaxBins = 1000;
// Records read before the header is decided (the header line among them); the
// decimal mark is detected on the data rows among them.
inline constexpr size_t kHeaderSampleRows = 1000;
// Rows between two looks at the numeric columns' distinct values in the first
// reading; a column past ValueDistribution::kExactValues of them stops being
// coded as categories there (it is binned, or coded again in the second reading).
inline constexpr long long kCodingCheckRows = 4096;

// What an option says about one column, named as on the command line.
struct ColumnOption {
  std::string column;
  std::string text;  // the option as given, for messages: "--bins 'age=5'"
  int bins = 0;
  std::vector<double> cuts;
  std::vector<std::string> cutTexts;
  std::vector<DatePart> parts;
};

// The options that decide how the columns are typed and coded.
struct TypingOptions {
  std::vector<std::string> drop;
  std::optional<std::string> labels;
  std::optional<std::vector<std::string>> missing;
  std::vector<std::string> split;
  std::vector<std::string> categorical;
  int bins = kDefaultBins;
  std::vector<ColumnOption> columnBins, cuts, dates;
  std::optional<DecimalMark> mark;
  bool dayFirst = false;
};

// The items of a comma-separated list ("a,,b": "a", "", "b").
std::vector<std::string> splitList(std::string_view list);

// Takes kelbow-csv's option `option` (its long name: "--drop", "--labels",
// "--missing", "--split-chars", "--categorical", "--bins", "--cut", "--dates",
// "--decimal-comma", "--decimal-point", "--day-first") with its argument (unused
// by the last three). False with err, the usage message without the program's
// name, when the argument is bad or the option is none of these.
bool takeTypingOption(std::string_view option, std::string_view arg, TypingOptions& o,
                      std::string& err);

// What becomes of a kept column after its survey.
struct ColumnPlan {
  ColumnKind kind = ColumnKind::kWords;
  bool typed = false;  // surveyed for numbers and dates
  const ColumnOption* bins = nullptr;
  const ColumnOption* cut = nullptr;
  const ColumnOption* dates = nullptr;
  long long distinct = 0;  // raw distinct values in the survey's reading
  long long slots = 0;     // value slots in the table written
};

// "3 rows", "1 row".
std::string plural(long long n, const char* one, const char* many);

class ColumnTyping {
 public:
  // A line for the user: `warning` lines always, the others unless quiet.
  using Sink = std::function<void(bool warning, const std::string& text)>;

  // `o` must outlive the typing. `name` names the input in every line (a file,
  // "DataFrame"); `names` are the column names, which options may use when
  // `named` (they came from a header or were given), else only numbers.
  ColumnTyping(const TypingOptions& o, std::string name, std::vector<std::string> names, bool named,
               Sink sink);

  // Gives every column its role (--drop, --labels, --split-chars) and resolves
  // the column options; false with err "NAME:1: what".
  bool assignRoles(std::string& err);
  const std::vector<ColumnRole>& roles() const { return roles_; }
  // Whether column col is surveyed for numbers and dates.
  bool typed(size_t col) const { return plans_[col].typed; }
  std::vector<bool> typedColumns() const;

  // The decimal mark: the one the options give, else `detect`'s (which gives
  // the value that decided for ',' in its argument); says a detected ','.
  void chooseMark(const std::function<DecimalMark(std::string* example)>& detect);
  DecimalMark mark() const { return mark_; }

  bool isMissing(std::string_view v) const;
  // Surveys one record: every attribute column's value that is no missing marker.
  void surveyRecord(const std::vector<std::string>& fields,
                    const std::vector<TextPosition>& positions);
  // Surveys `count` equal values of column col at once (the first at `where`);
  // the caller leaves out the missing markers and keeps the order of first
  // appearance, and adds a row at a time past ValueDistribution::kExactValues
  // distinct values. `rows` is then set by setRows.
  ColumnSurvey& survey(size_t col) { return surveys_[col]; }
  const ColumnSurvey& survey(size_t col) const { return surveys_[col]; }
  long long rows() const { return rows_; }
  void setRows(long long rows) { rows_ = rows; }

  // Decides every typed column's kind from its survey and checks what the
  // options ask of it. `distinct` holds per column the raw distinct values the
  // survey's reading coded (a split column: its characters' over its attributes).
  bool decide(const std::vector<long long>& distinct, std::string& err);

  // The table to write: the role of each column after its kind is known, and
  // whether the table must be coded again (`codedComplete`: the survey's
  // reading coded every column to the end). Computes the bins and date parts,
  // says what became of every column and warns of suspect ones; false with
  // err when no column is left as an attribute.
  bool plan(bool codedComplete, std::vector<ColumnRole>& finalRoles, bool& recode,
            std::string& err);
  // Gives `table` (made with the final roles) the bins, date parts and markers.
  void setUp(TableEncoder& table, const std::vector<ColumnRole>& finalRoles) const;

  // The options as given.
  const TypingOptions& options() const { return o_; }

 private:
  std::optional<size_t> column(const std::string& wanted, const std::string& option,
                               std::string& err) const;
  bool resolveColumnOptions(std::string& err);
  std::string columnName(size_t col) const;
  std::string reference(size_t col, bool inList) const;
  void say(const std::string& text) const { sink_(false, text); }
  void warn(const std::string& text) const { sink_(true, name_ + ": " + text); }
  void report(const std::vector<ColumnRole>& finalRoles);

  const TypingOptions& o_;
  std::string name_;
  std::vector<std::string> names_;
  bool named_;
  Sink sink_;
  std::vector<ColumnRole> roles_;
  std::vector<ColumnPlan> plans_;
  std::vector<ColumnSurvey> surveys_;
  std::vector<ValueBins> binsOf_;
  std::vector<std::vector<std::vector<int>>> partValues_;
  DecimalMark mark_ = DecimalMark::kPoint;
  long long rows_ = 0;
};

}  // namespace kelbow
