// How kelbow-csv made every attribute of a table from the columns of its file
// (a plain value, the bin of a number, a part of a date, one character of a
// split column) and how it read the file (delimiter, decimal mark, trimming,
// header, missing markers). kelbow-csv writes it beside the table as
// NAME.encoding; kelbow-labels --model copies it into the model, and
// kelbow-assign codes new rows with it exactly as the training rows were coded.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "common/json_value.h"

namespace kelbow {

enum class DecimalMark { kPoint, kComma };

// The parts of a date that can become categories.
enum class DatePart { kYear, kQuarter, kMonth, kDay, kWeekday, kHour };
inline constexpr std::array<DatePart, 6> kDateParts = {DatePart::kYear,    DatePart::kQuarter,
                                                       DatePart::kMonth,   DatePart::kDay,
                                                       DatePart::kWeekday, DatePart::kHour};
// "year", "quarter", "month", "day", "weekday", "hour".
std::string_view datePartName(DatePart p);

// How one attribute is made from a cell of its column.
enum class Transform {
  kValue,      // the cell's text
  kBins,       // the bin of the cell's number
  kDatePart,   // one part of the cell's date
  kCharacter,  // one character (byte) of the cell
};

struct AttributeSource {
  std::string name;      // the attribute's name
  std::string column;    // the name of the column it comes from
  int columnNumber = 0;  // that column's place in a record, from 1
  Transform transform = Transform::kValue;
  // kBins: ascending; bin j holds [edges[j-1], edges[j]), the first bin
  // everything below edges[0] and the last everything from the last edge on.
  std::vector<double> edges;
  DatePart part = DatePart::kYear;  // kDatePart
  bool dayFirst = false;            // kDatePart: a/b/yyyy reads as dd/mm/yyyy
  int character = 0;                // kCharacter: from 1
  int length = 0;                   // kCharacter: the length of every value of the column
};

// An attribute made from column `columnNumber` (from 1) named `column`.
AttributeSource attributeFrom(std::string name, std::string column, int columnNumber,
                              Transform transform = Transform::kValue);

struct CsvEncoding {
  // The version of the format that csvEncodingJson writes and readCsvEncoding reads.
  static constexpr int kFormatVersion = 1;

  char delimiter = ',';
  DecimalMark mark = DecimalMark::kPoint;
  bool trim = false;                 // blanks around unquoted fields stripped
  bool header = false;               // the first record held names, not data
  bool columnsByName = false;        // the columns are found by their header name, else by number
  int columns = 0;                   // fields in every record
  std::vector<std::string> missing;  // markers of a missing value
  std::vector<AttributeSource> attributes;
};

// The encoding as a JSON object; every line after the first starts with `indent`.
std::string csvEncodingJson(const CsvEncoding& encoding, const std::string& indent = "");

// Reads an encoding object written by csvEncodingJson. On failure returns
// false with err "FILE:LINE: what".
bool readCsvEncoding(const JsonValue& object, const std::string& fileName, CsvEncoding& encoding,
                     std::string& err);

// Reads a whole NAME.encoding file's text.
bool parseCsvEncoding(std::string_view text, const std::string& fileName, CsvEncoding& encoding,
                      std::string& err);

// Checks that `encoding` makes the attributes `names` with `domainSizes`
// values (a binned attribute's bins are its first codes). False with err
// "FILE: what" otherwise.
bool matchesTable(const CsvEncoding& encoding, const std::vector<std::string>& names,
                  const std::vector<int>& domainSizes, const std::string& fileName,
                  std::string& err);

}  // namespace kelbow
