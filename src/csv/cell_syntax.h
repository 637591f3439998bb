// What the text of one cell means to kelbow-csv when it is more than a word: a
// number (with a point or a comma as the decimal mark and an optional
// thousands separator) or a date, with or without a time of day. The column
// survey reads every cell of a typed column through these; the encoder reads
// binned and date columns through them again.
#pragma once

#include <string>
#include <string_view>

#include "input/csv_encoding.h"

namespace kelbow {

// Reads `text` as a number: an optional sign, digits (grouped by threes with
// the other mark as thousands separator, "1,234.5" or "1.234,5", or not at
// all), an optional decimal part and an optional exponent ("1e-3"). Nothing
// else may stand in the text, not even a blank. A leading zero before another
// digit ("007", "01234") makes it a code, not a number.
bool parseNumber(std::string_view text, DecimalMark mark, double& value);

// A calendar day and, when the text gives one, the hour of the day.
struct CalendarDate {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = -1;  // 0..23, or -1 without a time
};

// How a text was written as a date.
enum class DateForm {
  kIso,     // yyyy-mm-dd, optionally T or a blank and hh:mm[:ss[.fff]][Z|+hh:mm]
  kDotted,  // dd.mm.yyyy, optionally a blank and hh:mm[:ss]
  kSlashed  // a/b/yyyy (month and day in either order), optionally a blank and hh:mm[:ss]
};

// A date as read, before the order of a slashed date is known.
struct DateText {
  DateForm form = DateForm::kIso;
  int year = 0;
  int first = 0;   // kIso and kDotted: the month; kSlashed: the first number
  int second = 0;  // kIso and kDotted: the day; kSlashed: the second number
  int hour = -1;
};

// Reads `text` in one of the date forms; the numbers are checked for range
// (hours, minutes, seconds; ISO and dotted days against their month), a slashed
// date only for 1..31.
bool parseDateText(std::string_view text, DateText& date);

// The date that `d` gives when a slashed date is read day first (dd/mm/yyyy)
// or month first (mm/dd/yyyy); false when it is no valid day that way.
bool resolveDate(const DateText& d, bool dayFirst, CalendarDate& date);

// Reads `text` as a date, a/b/yyyy day first with `dayFirst`: how the
// encoder and the coder of new rows read a date column's cells.
bool readDate(std::string_view text, bool dayFirst, CalendarDate& date);

// Day of the week, 0 for Monday ... 6 for Sunday (proleptic Gregorian).
int weekday(int year, int month, int day);

// The value of part `p` of `date`, a number in the part's natural order (the
// year; 1..4; 1..12; 1..31; 0..6 from Monday; 0..23, -1 without a time).
int datePartValue(DatePart p, const CalendarDate& date);
// How a value of part `p` is written in the codes file: "2024", "Q1", "Jan",
// "1", "Mon", "0" ... "23" ("(no time)" for the hour -1).
std::string datePartLabel(DatePart p, int value);

// How a number is written in a bin's label: shortest round trip, without an
// exponent for every value people write as plain decimals.
std::string numberLabel(double v);

// The shortest decimal x with lo < x <= hi (lo < hi), and its text: an edge
// that splits the values at or below lo from those at or above hi and reads
// well ("30000" rather than "29873.12").
double roundBetween(double lo, double hi, std::string& text);

}  // namespace kelbow
