#include "csv/column_survey.h"

#include <gtest/gtest.h>

#include "csv/shell_word.h"

namespace kelbow {
namespace {

ColumnSurvey survey(const std::vector<std::string>& values,
                    DecimalMark mark = DecimalMark::kPoint) {
  ColumnSurvey s(true, mark);
  long line = 2;
  for (const std::string& v : values) s.add(v, {line++, 1});
  return s;
}

// n values: the integers from..from+n-1 as text, each `repeat` times.
std::vector<std::string> integers(int from, int n, int repeat = 1) {
  std::vector<std::string> out;
  for (int r = 0; r < repeat; ++r)
    for (int i = 0; i < n; ++i) out.push_back(std::to_string(from + i));
  return out;
}

TEST(ColumnSurveyTest, KindsOfTrickyColumns) {
  struct Case {
    const char* what;
    std::vector<std::string> values;
    DecimalMark mark;
    ColumnKind kind;
  };
  std::vector<std::string> euro, negatives, grouped, mixed, row, measure;
  for (int i = 0; i < 30; ++i) {
    euro.push_back(std::to_string(1 + i) + "." + std::to_string(100 + i * 7) + "," +
                   std::to_string(10 + i));  // 1.100,10 2.107,11 ...
    negatives.push_back(std::to_string(-15 + i) + ".5");
    grouped.push_back(std::to_string(1 + i % 9) + "," + std::to_string(100 + i) + ".25");
    mixed.push_back(i % 10 == 3   ? "n/a"
                    : i % 10 == 5 ? "unknown"
                    : i % 10 == 7 ? "none"
                                  : std::to_string(i));
    measure.push_back(std::to_string(i * i));
  }
  row = integers(1, 30);
  const Case cases[] = {
      {"decimal commas with thousands separators", euro, DecimalMark::kComma, ColumnKind::kMeasure},
      {"negative decimals", negatives, DecimalMark::kPoint, ColumnKind::kMeasure},
      {"thousands separators", grouped, DecimalMark::kPoint, ColumnKind::kMeasure},
      {"three kinds of words among numbers", mixed, DecimalMark::kPoint, ColumnKind::kWords},
      {"row numbers", row, DecimalMark::kPoint, ColumnKind::kIdentifierRun},
      {"all distinct but with gaps", measure, DecimalMark::kPoint, ColumnKind::kMeasure},
      {"few distinct numbers", integers(0, 8, 5), DecimalMark::kPoint, ColumnKind::kFewNumbers},
      {"twenty distinct numbers", integers(0, 20, 2), DecimalMark::kPoint, ColumnKind::kFewNumbers},
      {"twenty-one distinct numbers", integers(0, 21, 2), DecimalMark::kPoint,
       ColumnKind::kMeasure},
      {"codes with leading zeros",
       {"007", "012", "345", "999"},
       DecimalMark::kPoint,
       ColumnKind::kWords},
      {"ISO dates and times",
       {"2024-01-05", "2024-02-06T10:00", "2023-12-31 23:59:59"},
       DecimalMark::kPoint,
       ColumnKind::kDates},
      {"dotted dates", {"31.12.2023", "1.1.2024"}, DecimalMark::kPoint, ColumnKind::kDates},
      {"a date among words", {"2024-01-05", "soon"}, DecimalMark::kPoint, ColumnKind::kWords},
      {"slashed dates read both ways",
       {"02/03/2024", "03/02/2024"},
       DecimalMark::kPoint,
       ColumnKind::kDates},
      {"slashed dates that fit no one order",
       {"13/02/2024", "02/13/2024"},
       DecimalMark::kPoint,
       ColumnKind::kWords},
  };
  for (const Case& c : cases)
    EXPECT_EQ(classify(survey(c.values, c.mark), static_cast<long long>(c.values.size())), c.kind)
        << c.what;

  // Read with the wrong mark, decimal commas are no numbers; the survey says the other mark reads
  // them.
  const ColumnSurvey wrong = survey(euro, DecimalMark::kPoint);
  EXPECT_FALSE(wrong.numeric());
  EXPECT_TRUE(wrong.otherMarkReads());
  EXPECT_EQ(wrong.firstNonNumber(), "1.100,10");
  EXPECT_EQ(wrong.firstNonNumberAt().line, 2);
}

TEST(ColumnSurveyTest, OneOrTwoOtherValuesAmongNumbersAreStrays) {
  std::vector<std::string> values = integers(1, 40);
  values[3] = "NA";
  values[9] = "";
  values[20] = "NA";
  const ColumnSurvey s = survey(values);
  EXPECT_FALSE(s.numeric());
  EXPECT_EQ(s.strays(), (std::vector<std::pair<std::string, long long>>{{"NA", 2}, {"", 1}}));
  EXPECT_EQ(s.numbers().count(), 37);
  EXPECT_EQ(s.firstNonNumber(), "NA");
  EXPECT_EQ(s.firstNonNumberAt().line, 5);
  values[30] = "?";  // a third kind: words
  EXPECT_TRUE(survey(values).strays().empty());
  EXPECT_FALSE(survey(values).mayBeTyped());
  EXPECT_TRUE(survey({}).mayBeTyped());
}

TEST(ColumnSurveyTest, DateOrderAndPartsComeFromTheWholeColumn) {
  const ColumnSurvey ambiguous = survey({"02/03/2024 10:30", "03/02/2024 14:00"});
  EXPECT_TRUE(ambiguous.datesAmbiguous());
  EXPECT_EQ(ambiguous.partValues(DatePart::kMonth, false), (std::vector<int>{2, 3}));
  EXPECT_EQ(ambiguous.partValues(DatePart::kHour, false), (std::vector<int>{10, 14}));
  EXPECT_TRUE(ambiguous.anyTime() && ambiguous.everyTime());
  const ColumnSurvey dayFirst = survey({"02/03/2024", "25/12/2023"});
  EXPECT_TRUE(dayFirst.dates());
  EXPECT_TRUE(dayFirst.dayFirstOnly());
  EXPECT_FALSE(dayFirst.datesAmbiguous());
  EXPECT_EQ(dayFirst.partValues(DatePart::kMonth, true), (std::vector<int>{3, 12}));
  EXPECT_EQ(dayFirst.partValues(DatePart::kQuarter, true), (std::vector<int>{1, 4}));
  EXPECT_EQ(dayFirst.partValues(DatePart::kYear, true), (std::vector<int>{2023, 2024}));
  EXPECT_EQ(dayFirst.partValues(DatePart::kWeekday, true), (std::vector<int>{0, 5}));
  EXPECT_EQ(dayFirst.dateForms(true), "dd/mm/yyyy");
  EXPECT_FALSE(dayFirst.anyTime());
}

TEST(ColumnSurveyTest, DecimalMarkFromTheFirstRecords) {
  std::string example;
  const std::vector<bool> typed = {true, true};
  EXPECT_EQ(detectDecimalMark({{"a", "2,5"}, {"b", "1.234"}}, typed, &example),
            DecimalMark::kComma);
  EXPECT_EQ(example, "2,5");
  EXPECT_EQ(detectDecimalMark({{"2.5", "2,5"}}, typed, &example), DecimalMark::kPoint);
  EXPECT_EQ(detectDecimalMark({{"1,234", "7"}}, typed, &example), DecimalMark::kPoint);
  EXPECT_EQ(detectDecimalMark({{"2,5", "x"}}, {false, true}, &example), DecimalMark::kPoint);
}

TEST(ColumnSurveyTest, SuspectColumnsOfCategories) {
  std::vector<std::string> codes, text, names;
  for (int i = 0; i < 30; ++i) {
    codes.push_back("ID-" + std::to_string(1000 + i));
    text.push_back("the printer on floor " + std::to_string(i) + " jams again");
    names.push_back(std::string("name") + static_cast<char>('a' + i % 26) + std::to_string(i) +
                    "x");
  }
  EXPECT_EQ(oddity(survey(codes), 30, 30), Oddity::kCodes);
  EXPECT_EQ(oddity(survey(text), 30, 30), Oddity::kFreeText);
  EXPECT_EQ(oddity(survey(names), 29, 30), Oddity::kManyValues);
  EXPECT_EQ(oddity(survey(names), 28, 30), Oddity::kNone);  // under 95% distinct
  EXPECT_EQ(oddity(survey(codes), 19, 19), Oddity::kNone);  // too few rows to tell
  EXPECT_EQ(oddity(survey({"yes", "yes"}), 1, 2), Oddity::kConstant);
}

TEST(ShellWordTest, SuggestionsPasteAsOneWord) {
  EXPECT_EQ(shellWord("income"), "income");
  EXPECT_EQ(shellWord("age=5"), "age=5");
  EXPECT_EQ(shellWord("Umsatz (EUR)"), "'Umsatz (EUR)'");
  EXPECT_EQ(shellWord("it's"), "'it'\\''s'");
  EXPECT_EQ(shellWord(""), "''");
  EXPECT_EQ(shellWord("$HOME"), "'$HOME'");
  EXPECT_EQ(shellWord("~x"), "'~x'");
  const std::vector<std::string> names = {"id", "a,b", "2024", "dup", "dup", "Größe"};
  EXPECT_EQ(columnReference(0, names, true, true), "id");
  EXPECT_EQ(columnReference(1, names, true, true), "2");  // a comma in a list option
  EXPECT_EQ(columnReference(1, names, true, false), "a,b");
  EXPECT_EQ(columnReference(2, names, true, false), "3");   // digits read as a number
  EXPECT_EQ(columnReference(3, names, true, false), "4");   // not the column's alone
  EXPECT_EQ(columnReference(5, names, false, false), "6");  // no header
  EXPECT_EQ(columnList(names, 3), "id, a,b, 2024, ...");
}

}  // namespace
}  // namespace kelbow
