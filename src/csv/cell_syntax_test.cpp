#include "csv/cell_syntax.h"

#include <gtest/gtest.h>

namespace kelbow {
namespace {

TEST(CellSyntaxTest, NumbersWithEitherDecimalMarkAndThousandsSeparators) {
  struct Case {
    const char* text;
    bool point, comma;  // whether it reads with '.' and with ',' as the decimal mark
    double value;       // its value with the mark that reads it ('.' when both do)
  } cases[] = {
      {"42", true, true, 42},
      {"-17", true, true, -17},
      {"+3", true, true, 3},
      {"2.5", true, false, 2.5},
      {"2,5", false, true, 2.5},
      {"-0,75", false, true, -0.75},
      {"1,234.5", true, false, 1234.5},
      {"2.260,59", false, true, 2260.59},
      {"1.234.567", false, true, 1234567},
      {"1,234", true, true, 1234},  // a thousands separator with '.', a decimal comma with ','
      {".5", true, false, 0.5},
      {"1e3", true, true, 1000},
      {"-2.5E-2", true, false, -0.025},
      {"0", true, true, 0},
      {"0.5", true, false, 0.5},
  };
  for (const Case& c : cases) {
    double v = -1;
    EXPECT_EQ(parseNumber(c.text, DecimalMark::kPoint, v), c.point) << c.text;
    if (c.point) {
      EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
    EXPECT_EQ(parseNumber(c.text, DecimalMark::kComma, v), c.comma) << c.text;
    if (c.comma && !c.point) {
      EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
  }
  double v;
  EXPECT_TRUE(parseNumber("1,234", DecimalMark::kComma, v));
  EXPECT_DOUBLE_EQ(v, 1.234);
  for (const char* text :
       {"",       "-",     "+",     ".",   "e5",     "1e",    "1,23", "12,34,567",
        "1,2345", "007",   "01234", " 5",  "5 ",     "1.2.3", "inf",  "nan",
        "0x1A",   "1e999", "5kg",   "--5", "1,,234", ",5,"})
    EXPECT_FALSE(parseNumber(text, DecimalMark::kPoint, v)) << text;
  EXPECT_FALSE(parseNumber("1.2345", DecimalMark::kComma, v));
  EXPECT_FALSE(parseNumber("2.260.59", DecimalMark::kComma, v));
}

TEST(CellSyntaxTest, DatesOfEachFormAndTheirParts) {
  DateText d;
  CalendarDate c;
  ASSERT_TRUE(parseDateText("2024-02-29", d));
  EXPECT_EQ(d.form, DateForm::kIso);
  ASSERT_TRUE(resolveDate(d, false, c));
  EXPECT_EQ(c.hour, -1);
  EXPECT_EQ(datePartLabel(DatePart::kWeekday, datePartValue(DatePart::kWeekday, c)), "Thu");
  ASSERT_TRUE(parseDateText("2023-12-31T23:59:60.5+01:00", d));
  ASSERT_TRUE(resolveDate(d, false, c));
  EXPECT_EQ(datePartLabel(DatePart::kWeekday, datePartValue(DatePart::kWeekday, c)), "Sun");
  EXPECT_EQ(datePartLabel(DatePart::kQuarter, datePartValue(DatePart::kQuarter, c)), "Q4");
  EXPECT_EQ(datePartLabel(DatePart::kMonth, datePartValue(DatePart::kMonth, c)), "Dec");
  EXPECT_EQ(datePartValue(DatePart::kHour, c), 23);
  ASSERT_TRUE(parseDateText("2020-06-01 08:15Z", d));
  EXPECT_EQ(d.hour, 8);
  ASSERT_TRUE(parseDateText("3.1.2000 17:05:00", d));
  EXPECT_EQ(d.form, DateForm::kDotted);
  ASSERT_TRUE(resolveDate(d, false, c));  // dotted dates are always day first
  EXPECT_EQ(c.month, 1);
  EXPECT_EQ(c.day, 3);
  EXPECT_EQ(c.hour, 17);
  EXPECT_EQ(weekday(2000, 1, 3), 0);  // a Monday
  EXPECT_EQ(weekday(1900, 3, 1), 3);
  ASSERT_TRUE(parseDateText("02/13/2021", d));
  EXPECT_EQ(d.form, DateForm::kSlashed);
  EXPECT_TRUE(resolveDate(d, false, c));
  EXPECT_FALSE(resolveDate(d, true, c));  // no 13th month
  ASSERT_TRUE(parseDateText("31/04/2021", d));
  EXPECT_FALSE(resolveDate(d, true, c));  // April has 30 days
  EXPECT_FALSE(resolveDate(d, false, c));
  for (const char* text : {"2023-02-29", "2024-13-01", "2024-1-5", "2024-01-05T24:00",
                           "2024-01-05 12", "2024-01-05x", "31.2.2020", "1/2/20", "0/5/2020",
                           "12/32/2020", "2024", "5.5", "12-05-2020", "2024-01-05T10:00+25"})
    EXPECT_FALSE(parseDateText(text, d)) << text;
}

TEST(CellSyntaxTest, EdgesAreTheShortestDecimalsBetweenNeighbours) {
  struct Case {
    double lo, hi;
    const char* text;
  } cases[] = {
      {24, 25, "25"},
      {29873.12, 30512.5, "30000"},
      {0.1, 0.3, "0.3"},
      {-7.5, -7.25, "-7.3"},
      {-1, 0.5, "0"},
      {99, 100, "100"},
      {1.23456, 1.23457, "1.23457"},
      {999999, 1000001, "1000000"},
  };
  for (const Case& c : cases) {
    std::string text;
    const double x = roundBetween(c.lo, c.hi, text);
    EXPECT_EQ(text, c.text) << c.lo << " " << c.hi;
    EXPECT_GT(x, c.lo);
    EXPECT_LE(x, c.hi);
  }
  EXPECT_EQ(numberLabel(1e6), "1000000");
  EXPECT_EQ(numberLabel(-0.0), "0");
  EXPECT_EQ(numberLabel(0.1), "0.1");
  EXPECT_EQ(numberLabel(1e20), "1e+20");
}

}  // namespace
}  // namespace kelbow
