#include "input/csv_encoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text_test_support.h"

namespace kelbow {
namespace {

// Every transform, a delimiter and markers that need escapes, edges that a
// short decimal text does not hold exactly.
CsvEncoding everyKind() {
  CsvEncoding e;
  e.delimiter = ';';
  e.mark = DecimalMark::kComma;
  e.trim = true;
  e.header = true;
  e.columnsByName = true;
  e.columns = 4;
  e.missing = {"", "?", "n\"a"};
  AttributeSource plain = attributeFrom("colour", "colour", 1);
  AttributeSource bins = attributeFrom("income", "income", 2, Transform::kBins);
  bins.edges = {-0.1, 1e-7, 0.1 + 0.2, 41820, 1e300};
  AttributeSource month = attributeFrom("joined.month", "joined", 3, Transform::kDatePart);
  month.part = DatePart::kMonth;
  month.dayFirst = true;
  AttributeSource second = attributeFrom("seq[2]", "seq", 4, Transform::kCharacter);
  second.character = 2;
  second.length = 5;
  e.attributes = {plain, bins, month, second};
  return e;
}

std::string refusal(const std::string& text) {
  CsvEncoding e;
  std::string err;
  EXPECT_FALSE(parseCsvEncoding(text, "t.encoding", e, err)) << text;
  return err;
}

using testing::replaced;

TEST(CsvEncodingTest, ReadsBackWhatItWritesToTheLastBit) {
  const CsvEncoding e = everyKind();
  const std::string text = csvEncodingJson(e);
  CsvEncoding back;
  std::string err;
  ASSERT_TRUE(parseCsvEncoding(text, "t.encoding", back, err)) << err;
  EXPECT_EQ(back.delimiter, ';');
  EXPECT_EQ(back.mark, DecimalMark::kComma);
  EXPECT_TRUE(back.trim && back.header && back.columnsByName);
  EXPECT_EQ(back.missing, e.missing);
  ASSERT_EQ(back.attributes.size(), 4u);
  EXPECT_EQ(back.attributes[1].edges, e.attributes[1].edges);  // exact doubles
  EXPECT_EQ(back.attributes[2].part, DatePart::kMonth);
  EXPECT_TRUE(back.attributes[2].dayFirst);
  EXPECT_EQ(back.attributes[3].character, 2);
  EXPECT_EQ(back.attributes[3].length, 5);
  EXPECT_EQ(csvEncodingJson(back), text);

  // A delimiter beyond ASCII is kept as its byte's number.
  CsvEncoding high = e;
  high.delimiter = static_cast<char>(0xA7);
  ASSERT_TRUE(parseCsvEncoding(csvEncodingJson(high), "t.encoding", back, err)) << err;
  EXPECT_EQ(back.delimiter, static_cast<char>(0xA7));
  // Embedded in another document, every line is indented.
  EXPECT_NE(csvEncodingJson(e, "  ").find("\n    \"version\": 1,\n"), std::string::npos);
}

TEST(CsvEncodingTest, RefusesDamageAndWhatItCannotApply) {
  const std::string text = csvEncodingJson(everyKind());
  for (size_t n = 0; n + 1 < text.size(); ++n)
    EXPECT_EQ(refusal(text.substr(0, n)).rfind("t.encoding:", 0), 0u) << n;
  EXPECT_EQ(refusal("{}"),
            "t.encoding: not a table's encoding (no \"format\": \"kelbow-encoding\")");
  EXPECT_EQ(refusal(replaced(text, "\"version\": 1", "\"version\": 2")),
            "t.encoding: an encoding of format version 2; this version of kelbow reads version 1");
  EXPECT_EQ(refusal(replaced(text, "41820", "-1")),
            "t.encoding:13: attribute 2 'income': \"edges\" should be finite numbers in "
            "ascending order");
  EXPECT_EQ(refusal(replaced(text, "\"transform\": \"value\"", "\"transform\": \"log\"")),
            "t.encoding:12: attribute 1 'colour': the transform \"log\" is not one of \"value\", "
            "\"bins\", \"date part\" and \"character\"");
  EXPECT_EQ(refusal(replaced(text, "\"part\": \"month\"", "\"part\": \"week\"")),
            "t.encoding:14: attribute 3 'joined.month': the date part \"week\" is not one of year, "
            "quarter, month, day, weekday and hour");
  EXPECT_EQ(refusal(replaced(text, "\"character\": 2", "\"character\": 6")),
            "t.encoding:15: attribute 4 'seq[2]': \"character\" should be from 1 to the "
            "\"length\", 5");
  EXPECT_EQ(refusal(replaced(text, "\"column_number\": 3", "\"column_number\": 5")),
            "t.encoding:14: attribute 3 'joined.month': \"column_number\" should be from 1 to 4, "
            "the columns of the file");
  EXPECT_EQ(refusal(replaced(text, "\"header\": true", "\"header\": false")),
            "t.encoding:8: columns found by name need a header");
  EXPECT_EQ(refusal(replaced(text, "\"delimiter\": \";\"", "\"delimiter\": \";;\"")),
            "t.encoding:4: \"delimiter\" should be one ASCII character, or the number of a byte "
            "from 128 to 255");
  EXPECT_EQ(refusal(replaced(text, "\"transform\": \"value\"",
                             "\"transform\": \"value\", \"edges\": []")),
            "t.encoding:12: attribute 1 'colour': unknown member \"edges\"");
}

TEST(CsvEncodingTest, MustMakeTheTablesAttributes) {
  const CsvEncoding e = everyKind();
  const std::vector<std::string> names = {"colour", "income", "joined.month", "seq[2]"};
  std::string err;
  EXPECT_TRUE(matchesTable(e, names, {3, 7, 12, 4}, "t.encoding", err)) << err;
  EXPECT_FALSE(matchesTable(e, {"colour"}, {3}, "t.encoding", err));
  EXPECT_EQ(err, "t.encoding: the encoding makes 4 attributes, but the table has 1");
  EXPECT_FALSE(matchesTable(e, {"colour", "wage", "joined.month", "seq[2]"}, {3, 7, 12, 4},
                            "t.encoding", err));
  EXPECT_EQ(err, "t.encoding: attribute 2 is 'income' in the encoding, but 'wage' in the table");
  EXPECT_FALSE(matchesTable(e, names, {3, 5, 12, 4}, "t.encoding", err));
  EXPECT_EQ(err, "t.encoding: attribute 2 'income' has 6 bins, but only 5 values in the table");
}

}  // namespace
}  // namespace kelbow
