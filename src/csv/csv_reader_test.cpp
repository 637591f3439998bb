#include "csv/csv_reader.h"

#include <gtest/gtest.h>

#include "csv/table_encoder.h"

namespace kelbow {
namespace {

using Records = std::vector<std::vector<std::string>>;

struct ReadCase {
  const char* what;
  std::string text;
  char delimiter;
  bool trim;
  Records records;    // expected records (all of them)
  std::string error;  // expected message of the record after them, or empty
};

// Reads `text` whole; the records before an error and the error itself.
Records readAll(const std::string& text, char delimiter, bool trim, std::string& err,
                std::vector<std::vector<TextPosition>>* where = nullptr) {
  CsvReader reader(nullptr, "t.csv");
  reader.useText(text);
  reader.setDelimiter(delimiter);
  reader.setTrim(trim);
  Records out;
  std::vector<std::string> fields;
  std::vector<TextPosition> positions;
  err.clear();
  CsvReader::Result r;
  while ((r = reader.next(fields, positions, err)) == CsvReader::Result::kRecord) {
    out.push_back(fields);
    if (where) where->push_back(positions);
  }
  if (r == CsvReader::Result::kEnd) {
    EXPECT_EQ(err, "");
  }
  return out;
}

TEST(CsvReaderTest, TrickyTextReadsAsWritten) {
  const std::vector<ReadCase> cases = {
      {"plain", "a,b\n1,2\n", ',', false, {{"a", "b"}, {"1", "2"}}, ""},
      {"no newline at the end", "a,b\n1,2", ',', false, {{"a", "b"}, {"1", "2"}}, ""},
      {"empty fields", ",\n,x,\n", ',', false, {{"", ""}, {"", "x", ""}}, ""},
      {"quoted delimiter and line break", "\"a,b\",\"c\nd\"\n", ',', false, {{"a,b", "c\nd"}}, ""},
      {"doubled quotes", "\"say \"\"hi\"\"\",\"\"\"\"\n", ',', false, {{"say \"hi\"", "\""}}, ""},
      {"quote inside an unquoted field", "5\"2,x\n", ',', false, {{"5\"2", "x"}}, ""},
      {"CRLF, and CRLF inside quotes kept",
       "a,b\r\n\"x\r\ny\",z\r\n",
       ',',
       false,
       {{"a", "b"}, {"x\r\ny", "z"}},
       ""},
      {"lone CR ends a line", "a\rb\r", ',', false, {{"a"}, {"b"}}, ""},
      {"byte order mark", "\xEF\xBB\xBFid,v\n1,2\n", ',', false, {{"id", "v"}, {"1", "2"}}, ""},
      {"blank lines skipped", "\n\na,b\n\r\n\n1,2\n\n", ',', false, {{"a", "b"}, {"1", "2"}}, ""},
      {"blanks kept without --trim", " a , b \n", ',', false, {{" a ", " b "}}, ""},
      {"--trim strips around fields and quotes",
       " a ,  \" b \" \t, c\n",
       ',',
       true,
       {{"a", " b ", "c"}},
       ""},
      {"--trim keeps tabs that delimit", "a \t b\n", '\t', true, {{"a", "b"}}, ""},
      {"semicolons", "a;\"b;c\"\n", ';', false, {{"a", "b;c"}}, ""},
      {"empty input", "", ',', false, {}, ""},
      {"unterminated quote",
       "a,b\n1,\"2\n3\n",
       ',',
       false,
       {{"a", "b"}},
       "t.csv:2:3: the quoted field 2 is not closed before the end of the file"},
      {"text after a closing quote",
       "\"a\"b,c\n",
       ',',
       false,
       {},
       "t.csv:1:4: unexpected character after the closing quote of field 1"},
  };
  for (const ReadCase& c : cases) {
    std::string err;
    EXPECT_EQ(readAll(c.text, c.delimiter, c.trim, err), c.records) << c.what;
    EXPECT_EQ(err.substr(0, c.error.size()), c.error) << c.what;
    if (c.error.empty()) {
      EXPECT_EQ(err, "") << c.what;
    }
  }
}

TEST(CsvReaderTest, PositionsCountLinesInsideQuotesAndSkipTheByteOrderMark) {
  std::string err;
  std::vector<std::vector<TextPosition>> where;
  readAll(
      "\xEF\xBB\xBF"
      "a,\"x\ny\",b\n\nc,d,e\n",
      ',', false, err, &where);
  ASSERT_EQ(where.size(), 2u);
  EXPECT_EQ(where[0][1].line, 1);
  EXPECT_EQ(where[0][1].column, 3);
  EXPECT_EQ(where[0][2].line, 2);
  EXPECT_EQ(where[0][2].column, 4);
  EXPECT_EQ(where[1][2].line, 4);
  EXPECT_EQ(where[1][2].column, 5);
}

TEST(CsvReaderTest, DelimiterIsTheOneThatSplitsEveryRowAlike) {
  EXPECT_EQ(detectDelimiter("a,b;c\n1,2;3\n", true, false).delimiter, ',');  // a tie: ',' first
  EXPECT_EQ(detectDelimiter("a;b;c\n1,5;2;3\n", true, false).delimiter, ';');
  EXPECT_EQ(detectDelimiter("a\tb\n\"x\ty\"\tz\n", true, false).delimiter, '\t');
  const DelimiterGuess none = detectDelimiter("a,b\n1\n", true, false);
  EXPECT_FALSE(none.consistent);
  EXPECT_EQ(none.delimiter, ',');
  // A head cut inside its last record judges by the records before it.
  EXPECT_TRUE(detectDelimiter("a;b\n1;2\n3", false, false).consistent);
}

TEST(CsvReaderTest, HeaderOnlyWhenSomeColumnSetsTheFirstRowApart) {
  std::string why;
  EXPECT_TRUE(looksLikeHeader({{"id", "n"}, {"a", "1"}, {"b", "2"}}, &why));
  EXPECT_NE(why.find("column 2: 'n' is not a number"), std::string::npos) << why;
  EXPECT_TRUE(looksLikeHeader({{"c", "v"}, {"x", "p"}, {"y", "p"}, {"x", "q"}, {"y", "q"}}, &why));
  // The first row's values appear below, repeat among themselves, or are empty.
  EXPECT_FALSE(looksLikeHeader({{"x", "p"}, {"y", "p"}, {"x", "q"}, {"y", "q"}, {"x", "p"}}, &why));
  EXPECT_FALSE(looksLikeHeader({{"a", "a"}, {"1", "2"}, {"3", "4"}}, &why));
  EXPECT_FALSE(looksLikeHeader({{"a", ""}, {"1", "2"}, {"3", "4"}}, &why));
  EXPECT_FALSE(looksLikeHeader({{"a", "b"}}, &why));
  // Distinct values below (an identifier column) prove nothing.
  EXPECT_FALSE(
      looksLikeHeader({{"r1", "x"}, {"r2", "x"}, {"r3", "y"}, {"r4", "x"}, {"r5", "y"}}, &why));
}

TEST(TableEncoderTest, CodesInOrderOfFirstAppearanceWithColumnsSplitDroppedAndKept) {
  TableEncoder enc(
      {ColumnRole::kLabels, ColumnRole::kDrop, ColumnRole::kAttribute, ColumnRole::kSplit},
      {"class", "id", "colour", "seq"}, 100, 1);
  std::string data, labels, err;
  const std::vector<TextPosition> at(4, TextPosition{2, 1});
  ASSERT_TRUE(enc.add({"A", "r1", "red", "GAT"}, at, "t.csv", data, labels, err)) << err;
  ASSERT_TRUE(enc.add({"B\tb", "r2", "blue", "TAG"}, at, "t.csv", data, labels, err)) << err;
  ASSERT_TRUE(enc.add({"A", "r3", "red", "GGG"}, at, "t.csv", data, labels, err)) << err;
  EXPECT_EQ(data, "0 0 0 0\n1 1 0 1\n0 0 1 1\n");
  EXPECT_EQ(labels, "A\nB\\tb\nA\n");
  EXPECT_EQ(enc.descriptionText(), "3 4\n2\n2\n2\n2\n");
  EXPECT_EQ(enc.codesText(), "0\tred\tblue\n1\tG\tT\n2\tA\tG\n3\tT\tG\n");
  EXPECT_EQ(enc.namesText(), "colour\nseq[1]\nseq[2]\nseq[3]\n");

  EXPECT_FALSE(enc.add({"A", "r4", "red", "GA"}, at, "t.csv", data, labels, err));
  EXPECT_EQ(err, "t.csv:2:1: the value of column 'seq' has 2 characters, but on line 2 it has 3");
  EXPECT_FALSE(enc.add({"A", "r4", "red"}, at, "t.csv", data, labels, err));
  EXPECT_EQ(err, "t.csv:2:1: the row has 3 fields, but line 1 has 4");
}

TEST(TableEncoderTest, TooManyDistinctValuesAreRefusedWhereTheyAppear) {
  TableEncoder enc({ColumnRole::kAttribute, ColumnRole::kAttribute}, {"1", "2"}, 3, 1);
  std::string data, labels, err;
  ASSERT_TRUE(enc.add({"a", "x"}, {{1, 1}, {1, 3}}, "t.csv", data, labels, err));
  ASSERT_TRUE(enc.add({"b", "x"}, {{2, 1}, {2, 3}}, "t.csv", data, labels, err));
  EXPECT_FALSE(enc.add({"b", "y"}, {{3, 1}, {3, 3}}, "t.csv", data, labels, err));
  EXPECT_EQ(err.rfind("t.csv:3:3: more than 3 distinct values", 0), 0u) << err;
}

TEST(TableEncoderTest, EscapesRoundTrip) {
  const std::string raw = "a\tb\\c\r\nd\\t";
  EXPECT_EQ(escapeValue(raw), "a\\tb\\\\c\\r\\nd\\\\t");
  EXPECT_EQ(unescapeValue(escapeValue(raw)), raw);
  EXPECT_EQ(unescapeValue("x\\q\\"), "x\\q\\");
}

TEST(TableEncoderTest, ColumnsByNumberOrName) {
  const std::vector<std::string> names = {"id", "7", "x"};
  EXPECT_EQ(findColumn("2", names, true), 1u);
  EXPECT_EQ(findColumn("7", names, true), std::nullopt);  // digits are a number, not a name
  EXPECT_EQ(findColumn("x", names, true), 2u);
  EXPECT_EQ(findColumn("x", names, false), std::nullopt);
  EXPECT_EQ(findColumn("0", names, true), std::nullopt);
  EXPECT_EQ(findColumn("", names, true), std::nullopt);
}

}  // namespace
}  // namespace kelbow

namespace kelbow {
namespace {

TEST(CsvReaderTest, RecordBytesAreKeptAsTheInputHoldsThem) {
  // A byte order mark, a quoted field over a CRLF, empty lines, trimmed blanks
  // around quotes, a lone CR and a last line without its end.
  const std::string text =
      "\xEF\xBB\xBF"
      "a,\"b\r\nc\"\r\n\r\n\n x ,  \"\"\"q\"  \r1,2";
  CsvReader reader(nullptr, "t.csv");
  reader.useText(text);
  reader.setTrim(true);
  reader.keepRecordBytes(true);
  std::vector<std::string> fields;
  std::vector<TextPosition> positions;
  std::string err;
  std::vector<std::pair<std::string, std::string>> seen;
  while (reader.next(fields, positions, err) == CsvReader::Result::kRecord)
    seen.emplace_back(reader.recordBytes(), reader.lineEnd());
  EXPECT_EQ(err, "");
  EXPECT_TRUE(reader.hadByteOrderMark());
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"a,\"b\r\nc\"", "\r\n"}, {" x ,  \"\"\"q\"  ", "\r"}, {"1,2", ""}};
  EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace kelbow
