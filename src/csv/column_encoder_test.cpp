#include "csv/column_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "input/table_reader.h"

namespace kelbow {
namespace {

// A cell of a test table that is missing (NaN in a frame, the empty field in
// its file).
const std::string kNA = "\x7fNA";

using Cells = std::vector<std::vector<std::string>>;  // per column, per row

struct Result {
  bool ok = false;
  std::string err;
  std::vector<std::int32_t> codes;
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> values;
  std::string source;
  std::vector<std::string> lines;
};

// The table as kelbow-csv codes the records of its file, row after row: the
// first reading surveys and codes every record, the second codes them with the
// final plan.
Result byRecords(const std::vector<std::string>& names, const Cells& cells,
                 const TypingOptions& o) {
  Result res;
  const size_t rows = cells[0].size();
  Cells records(rows, std::vector<std::string>(names.size()));
  std::vector<std::vector<TextPosition>> positions(rows, std::vector<TextPosition>(names.size()));
  for (size_t r = 0; r < rows; ++r)
    for (size_t col = 0; col < names.size(); ++col) {
      records[r][col] = cells[col][r] == kNA ? "" : cells[col][r];
      positions[r][col] = {static_cast<long>(r + 2), static_cast<long>(col + 1)};
    }
  ColumnTyping typing(o, "t", names, true, [&](bool warning, const std::string& text) {
    res.lines.push_back((warning ? "warning: " : "") + text);
  });
  if (!typing.assignRoles(res.err)) return res;
  const std::vector<bool> typed = typing.typedColumns();
  typing.chooseMark([&](std::string* example) {
    return detectDecimalMark(
        {records.begin(), records.begin() + std::min(rows, kHeaderSampleRows - 1)}, typed, example);
  });
  TableEncoder first(typing.roles(), names, kMaxValueSlots, 1);
  std::vector<int> coded;
  for (size_t r = 0; r < rows; ++r) {
    if (!first.codeRecord(records[r], positions[r], "t", coded, res.err)) return res;
    typing.surveyRecord(records[r], positions[r]);
  }
  std::vector<long long> distinct(names.size());
  for (size_t a = 0; a < first.attributeCount(); ++a)
    distinct[first.attributeColumn(a)] += static_cast<long long>(first.codes(a).values().size());
  std::vector<ColumnRole> roles;
  bool recode = false;
  if (!typing.decide(distinct, res.err) || !typing.plan(true, roles, recode, res.err)) return res;
  TableEncoder table(roles, names, kMaxValueSlots, 1);
  typing.setUp(table, roles);
  for (size_t r = 0; r < rows; ++r) {
    if (!table.codeRecord(records[r], positions[r], "t", coded, res.err)) return res;
    res.codes.insert(res.codes.end(), coded.begin(), coded.end());
  }
  for (size_t a = 0; a < table.attributeCount(); ++a) {
    res.names.push_back(table.attributeName(a));
    res.values.push_back(table.codes(a).values());
  }
  CsvEncoding made;
  made.mark = typing.mark();
  made.header = made.columnsByName = true;
  made.columns = static_cast<int>(names.size());
  if (o.missing) made.missing = *o.missing;
  made.attributes = table.sources();
  res.source = csvEncodingJson(made);
  res.ok = true;
  return res;
}

// The same table handed over as columns: each column's distinct texts, last
// seen first (their order is free), and a code per row.
Result byColumns(const std::vector<std::string>& names, const Cells& cells,
                 const TypingOptions& o) {
  Result res;
  std::vector<std::vector<std::int32_t>> codes(names.size());
  std::vector<TextColumn> columns;
  for (size_t col = 0; col < names.size(); ++col) {
    std::map<std::string, size_t> first;  // text -> its index in order of first appearance
    for (const std::string& cell : cells[col])
      if (cell != kNA) first.emplace(cell, first.size());
    std::vector<std::string> texts(first.size());
    for (const auto& [text, i] : first) texts[first.size() - 1 - i] = text;
    for (const std::string& cell : cells[col])
      codes[col].push_back(cell == kNA ? -1
                                       : static_cast<std::int32_t>(first.size() - 1 - first[cell]));
    columns.push_back({names[col], texts, codes[col].data()});
  }
  EncodedColumns out;
  res.ok = encodeColumns(columns, static_cast<long long>(cells[0].size()), o, "t", out, res.err);
  for (const EncodedColumns::Line& l : out.lines)
    res.lines.push_back((l.warning ? "warning: " : "") + l.text);
  if (!res.ok) return res;
  EXPECT_EQ(out.codes.size(), static_cast<size_t>(out.rows) * out.attributes);
  res.codes = out.codes;
  res.names = out.names;
  res.values = out.values;
  res.source = csvEncodingJson(out.source);
  EXPECT_EQ(out.missing, o.missing ? *o.missing : std::vector<std::string>());
  return res;
}

void expectSame(const std::vector<std::string>& names, const Cells& cells,
                const TypingOptions& o = {}) {
  const Result want = byRecords(names, cells, o), got = byColumns(names, cells, o);
  EXPECT_EQ(got.ok, want.ok);
  EXPECT_EQ(got.err, want.err);
  EXPECT_EQ(got.lines, want.lines);
  EXPECT_EQ(got.names, want.names);
  EXPECT_EQ(got.values, want.values);
  EXPECT_EQ(got.codes, want.codes);
  EXPECT_EQ(got.source, want.source);
}

TEST(ColumnEncoderTest, EdgesAreCodedAsTheRecordsOfTheFile) {
  TypingOptions markers;
  markers.missing = std::vector<std::string>{"?", ""};
  // A column of missing cells only, beside one that holds an empty value too.
  expectSame({"gone", "w"}, {{kNA, kNA, kNA, kNA}, {"a", "", kNA, "a"}});
  expectSame({"gone", "w"}, {{kNA, kNA, kNA, kNA}, {"a", "", kNA, "?"}}, markers);
  // One row.
  expectSame({"a", "n", "d"}, {{"x"}, {"2.5"}, {"2024-03-01"}});
  // Every value distinct: codes, numbers in a run, numbers with a gap.
  Cells distinct(3);
  for (int r = 0; r < 120; ++r) {
    distinct[0].push_back("r" + std::to_string(1000 + r * 7 % 120));
    distinct[1].push_back(std::to_string(r * 37 % 120));
    distinct[2].push_back(std::to_string(r * 3));
  }
  expectSame({"code", "run", "gaps"}, distinct);
}

TEST(ColumnEncoderTest, ManyDistinctNumbersAreSurveyedInRowOrder) {
  // Past ValueDistribution::kExactValues distinct numbers the quantile sketch
  // depends on the order of the rows: every other row holds one of 100 values,
  // which taken at once would enter the sketch with all their rows counted.
  // A thousand bins show any difference in the sketch; a second column bins
  // repeated values by their counts.
  const size_t rows = 2 * ValueDistribution::kExactValues + 5000;
  std::mt19937 random(7);
  Cells cells(2);
  for (size_t r = 0; r < rows; ++r) {
    const unsigned draw = random();
    cells[0].push_back(draw % 50 == 0 ? kNA
                       : r % 2 == 0   ? std::to_string(draw % 100 * 2000) + ".25"
                                      : std::to_string(r) + ".5");
    cells[1].push_back(std::to_string(draw % 3000));
  }
  TypingOptions o;
  o.bins = kMaxBins;
  o.missing = std::vector<std::string>{""};
  expectSame({"wide", "repeated"}, cells, o);
}

TEST(ColumnEncoderTest, RefusesCodesOutsideTheTexts) {
  const std::int32_t codes[] = {0, 1, 2};
  EncodedColumns out;
  std::string err;
  EXPECT_FALSE(encodeColumns({{"a", {"x", "y"}, codes}}, 3, {}, "frame", out, err));
  EXPECT_EQ(err, "frame: column 'a': row 2 holds the code 2, outside -1..1");
}

}  // namespace
}  // namespace kelbow
