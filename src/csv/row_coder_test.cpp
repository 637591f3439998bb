#include "csv/row_coder.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "csv/table_encoder.h"

namespace kelbow {
namespace {

// A file "id,age,joined,seq,colour" made into age (3 bins, then the marker
// '?'), joined.month, joined.weekday, seq[2] and colour; decimal commas.
struct Survey {
  CsvEncoding encoding;
  std::vector<std::string> names = {"age", "joined.month", "joined.weekday", "seq[2]", "colour"};
  std::vector<std::vector<std::string>> values = {{"[17, 36)", "[36, 42)", "[42, 90]", "?"},
                                                  {"Jan", "Mar"},
                                                  {"Tue", "?"},
                                                  {"A", "C", "?"},
                                                  {"red", "?", "blue"}};
  Survey() {
    encoding.header = encoding.columnsByName = true;
    encoding.columns = 5;
    encoding.mark = DecimalMark::kComma;
    encoding.missing = {"?", ""};
    AttributeSource age = attributeFrom("age", "age", 2, Transform::kBins);
    age.edges = {36, 42};
    AttributeSource month = attributeFrom("joined.month", "joined", 3, Transform::kDatePart);
    month.part = DatePart::kMonth;
    month.dayFirst = true;
    AttributeSource weekday = month;
    weekday.name = "joined.weekday";
    weekday.part = DatePart::kWeekday;
    AttributeSource second = attributeFrom("seq[2]", "seq", 4, Transform::kCharacter);
    second.character = 2;
    second.length = 3;
    encoding.attributes = {age, month, weekday, second, attributeFrom("colour", "colour", 5)};
  }
  RowCoder coder() const { return RowCoder(encoding, names, values, encoding.missing); }
};

// code and missing flag side by side, for one comparison per case.
std::pair<int, bool> coded(const RowCoder& c, size_t a, std::string_view cell) {
  const RowCoder::Code got = c.code(a, cell);
  return {got.code, got.missing};
}

TEST(RowCoderTest, NumbersFallInTheirBinsAndBeyondTheEdgesInTheOuterOnes) {
  const RowCoder c = Survey().coder();
  const std::vector<std::pair<std::string, std::pair<int, bool>>> cases = {
      {"17", {0, false}},    {"35,99", {0, false}}, {"36", {1, false}},
      {"41,5", {1, false}},  {"42", {2, false}},    {"-3", {0, false}},  // below the range
      {"1.000", {2, false}}, {"1e9", {2, false}},                        // above it
      {"?", {3, true}},      {"", {-1, true}},  // a marker training saw, one it did not
      {"41.5", {-1, false}}, {"old", {-1, false}},  {" 40", {-1, false}},  // no numbers
  };
  for (const auto& [cell, want] : cases) EXPECT_EQ(coded(c, 0, cell), want) << cell;
}

TEST(RowCoderTest, DatesGiveTheirPartsAsTrainingLabelledThem) {
  const RowCoder c = Survey().coder();
  EXPECT_EQ(coded(c, 1, "2024-03-05"), std::make_pair(1, false));
  EXPECT_EQ(coded(c, 2, "2024-03-05"), std::make_pair(0, false));   // a Tuesday
  EXPECT_EQ(coded(c, 1, "05/01/2024"), std::make_pair(0, false));   // day first: January
  EXPECT_EQ(coded(c, 1, "2024-02-01"), std::make_pair(-1, false));  // February: unseen
  EXPECT_EQ(coded(c, 1, "2024-02-30"), std::make_pair(-1, false));  // no date
  EXPECT_EQ(coded(c, 1, "soon"), std::make_pair(-1, false));
  EXPECT_EQ(coded(c, 2, "?"), std::make_pair(1, true));
  EXPECT_EQ(coded(c, 1, "?"), std::make_pair(-1, true));
}

TEST(RowCoderTest, SplitColumnsGiveOneCharacterOfValuesOfTheirLength) {
  const RowCoder c = Survey().coder();
  EXPECT_EQ(coded(c, 3, "GAT"), std::make_pair(0, false));
  EXPECT_EQ(coded(c, 3, "T?T"), std::make_pair(2, true));
  EXPECT_EQ(coded(c, 3, "TGT"), std::make_pair(-1, false));
  EXPECT_EQ(coded(c, 3, "GA"), std::make_pair(-1, false));  // another length: unseen
  EXPECT_EQ(coded(c, 3, "GATC"), std::make_pair(-1, false));
  EXPECT_EQ(coded(c, 3, ""), std::make_pair(-1, true));  // a marker as the whole cell
  EXPECT_EQ(coded(c, 4, "blue"), std::make_pair(2, false));
  EXPECT_EQ(coded(c, 4, "Blue"), std::make_pair(-1, false));
}

TEST(RowCoderTest, GivesBackTheCodesOfTheEncoder) {
  const std::vector<std::vector<std::string>> records = {
      {"17", "2024-03-05", "GAT", "red"},
      {"?", "05/01/2024", "CCA", "blue"},
      {"41,5", "?", "T?T", "?"},
      {"1.000", "2024-01-09 10:00", "CCA", "red"}};
  TableEncoder encoder(
      {ColumnRole::kAttribute, ColumnRole::kAttribute, ColumnRole::kSplit, ColumnRole::kAttribute},
      {"age", "joined", "seq", "colour"}, 1000, 1);
  encoder.setBins(0, ValueBins(17, 1000, {36, 42}, {"36", "42"}), DecimalMark::kComma);
  encoder.setDateParts(1, {DatePart::kMonth, DatePart::kWeekday}, {{1, 3}, {1, 4}}, true);
  encoder.setMissing({"?"});
  std::string data, labels, err;
  for (const auto& record : records)
    ASSERT_TRUE(encoder.add(record, std::vector<TextPosition>(4), "t.csv", data, labels, err))
        << err;
  CsvEncoding made;
  made.mark = DecimalMark::kComma;
  made.missing = {"?"};
  made.attributes = encoder.sources();
  std::vector<std::vector<std::string>> values;
  for (size_t a = 0; a < encoder.attributeCount(); ++a) values.push_back(encoder.codes(a).values());
  const RowCoder coder(made, {}, values, made.missing);
  std::istringstream lines(data);
  for (const auto& record : records) {
    std::string line, coded;
    std::getline(lines, line);
    for (size_t a = 0; a < encoder.attributeCount(); ++a)
      coded +=
          (a ? " " : "") + std::to_string(coder.code(a, record[encoder.attributeColumn(a)]).code);
    EXPECT_EQ(coded, line);
  }
}

TEST(RowCoderTest, ColumnsAreFoundByNameOrByNumber) {
  Survey s;
  RowCoder c = s.coder();
  std::string err;
  // Reordered, with a column of the same name elsewhere: its own place wins.
  ASSERT_TRUE(c.findColumns({"colour", "age", "joined", "seq", "colour"}, err)) << err;
  EXPECT_TRUE(c.firstIsHeader());
  EXPECT_EQ(c.column(0), 1u);
  EXPECT_EQ(c.column(3), 3u);
  EXPECT_EQ(c.column(4), 4u);
  ASSERT_TRUE(c.findColumns({"seq", "joined", "colour", "age"}, err)) << err;
  EXPECT_EQ(c.column(1), 1u);
  EXPECT_EQ(c.column(4), 2u);
  EXPECT_FALSE(c.findColumns({"age", "colour"}, err));
  EXPECT_EQ(err, "the first line names no column 'joined', 'seq'");

  // A file without a header: by number, the first line is a row.
  s.encoding.header = s.encoding.columnsByName = false;
  c = s.coder();
  ASSERT_TRUE(c.findColumns({"1", "2", "x", "y", "z"}, err)) << err;
  EXPECT_FALSE(c.firstIsHeader());
  EXPECT_EQ(c.column(4), 4u);
  EXPECT_FALSE(c.findColumns({"1", "2", "x", "y"}, err));
  EXPECT_EQ(err, "the first line has 4 fields, too few for column 5");

  // Without a record of the encoding: by name when the first line names
  // them all, else by number when the names are numbers.
  RowCoder plain(std::nullopt, {"colour", "size"}, {{"red"}, {"big"}}, {});
  ASSERT_TRUE(plain.findColumns({"size", "colour"}, err)) << err;
  EXPECT_TRUE(plain.firstIsHeader());
  EXPECT_EQ(plain.column(0), 1u);
  EXPECT_EQ(plain.code(0, "red").code, 0);
  EXPECT_FALSE(plain.findColumns({"1", "2"}, err));
  EXPECT_EQ(err, "the first line names no column 'colour', 'size'");
  RowCoder numbered(std::nullopt, {"2", "1"}, {{"a"}, {"b"}}, {});
  ASSERT_TRUE(numbered.findColumns({"b", "a"}, err)) << err;
  EXPECT_FALSE(numbered.firstIsHeader());
  EXPECT_EQ(numbered.column(0), 1u);
  EXPECT_EQ(numbered.code(0, "a").code, 0);
}

}  // namespace
}  // namespace kelbow
