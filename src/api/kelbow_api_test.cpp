#include "api/kelbow_api.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "csv/column_encoder.h"

namespace kelbow {
namespace {

// Rows of three planted groups (codes 0, 1 and 2 in most attributes) with a
// fixed stream of noise.
std::vector<std::int32_t> plantedCodes(int rows, int attributes) {
  std::vector<std::int32_t> codes;
  std::uint32_t noise = 7;
  for (int r = 0; r < rows; ++r)
    for (int a = 0; a < attributes; ++a) {
      noise = noise * 1664525u + 1013904223u;
      codes.push_back((noise >> 24) % 10 < 8 ? r % 3
                                             : static_cast<std::int32_t>((noise >> 16) % 4));
    }
  return codes;
}

// Cells given column by column, handed over as columns: each column's
// distinct texts in sorted order (not the order the rows bring them) and the
// empty cell as the missing one (-1).
struct Columns {
  std::vector<std::vector<std::int32_t>> codes;
  std::vector<TextColumn> columns;
};
Columns asColumns(const std::vector<std::string>& names,
                  const std::vector<std::vector<std::string>>& cells) {
  Columns out;
  out.codes.resize(names.size());
  for (size_t c = 0; c < names.size(); ++c) {
    std::map<std::string, std::int32_t> index;
    for (const std::string& cell : cells[c])
      if (!cell.empty()) index.emplace(cell, 0);
    TextColumn& column = out.columns.emplace_back();
    column.name = names[c];
    for (auto& [text, i] : index) {
      i = static_cast<std::int32_t>(column.texts.size());
      column.texts.push_back(text);
    }
    for (const std::string& cell : cells[c])
      out.codes[c].push_back(cell.empty() ? -1 : index[cell]);
    column.codes = out.codes[c].data();
  }
  return out;
}

TEST(KelbowApiTest, BadTablesAndSettingsComeBackAsOneLine) {
  Table t;
  std::string err;
  const std::vector<std::int32_t> bad = {0, 1, 2, -1};
  EXPECT_FALSE(Table::make(bad.data(), 2, 2, {}, "t", t, err));
  EXPECT_EQ(err, "t: record 2, attribute 2: the code -1 is outside 0..2147483646");
  Encoding two;
  two.names = {"a", "b"};
  two.values = {{"x", "y"}, {"x", "y"}};
  const std::vector<std::int32_t> wide = {0, 1, 2, 1};
  EXPECT_FALSE(Table::make(wide.data(), 2, 2, two, "t", t, err));
  EXPECT_EQ(err, "t: record 2, attribute 1: the code 2 is outside 0..1");
  EXPECT_FALSE(Table::make(wide.data(), 1, 4, two, "t", t, err));
  EXPECT_EQ(err, "t: the table has 4 attributes but its encoding 2 value lists and 2 names");
  const std::vector<std::int32_t> flat = {0, 0, 0, 0};
  EXPECT_FALSE(Table::make(flat.data(), 2, 2, {}, "t", t, err));
  EXPECT_EQ(err, "t: every attribute has domain size 1; there is nothing to cluster");
  EXPECT_FALSE(Table::make(flat.data(), 0, 2, {}, "t", t, err));

  const std::vector<std::int32_t> codes = plantedCodes(30, 4);
  ASSERT_TRUE(Table::make(codes.data(), 30, 4, {}, "t", t, err)) << err;
  Fit f;
  FitSettings s;
  s.k = 31;
  EXPECT_FALSE(fit(t, s, f, err));
  EXPECT_EQ(err, "k takes a number from 2 to 30, not 31");
  s.k = 0;
  s.choice.references = 1;
  EXPECT_FALSE(fit(t, s, f, err));
  EXPECT_EQ(err, "references takes a number from 2 to 1000, not 1");
}

TEST(KelbowApiTest, FitAgreesWithTheAnalysisAndItsModelPlacesTheTrainingRows) {
  const int rows = 90, attributes = 6;
  const std::vector<std::int32_t> codes = plantedCodes(rows, attributes);
  Table t;
  std::string err;
  ASSERT_TRUE(Table::make(codes.data(), rows, attributes, {}, "planted", t, err)) << err;
  Fit f;
  FitSettings s;
  s.choice.references = 4;
  s.choice.orders = 1;
  ASSERT_TRUE(fit(t, s, f, err)) << err;
  EXPECT_EQ(f.k(), 3);

  // The same rows through the analysis object directly give the same curve.
  TableRows direct(t.codes(), nullptr, "planted");
  EntropyClustering analysis(t.description(), direct);
  ASSERT_TRUE(analysis.loadAll(0, err)) << err;
  analysis.agglomerate(-1);
  const std::vector<double> values = f.kelbowValues();
  ASSERT_EQ(values.size(), 29u);
  for (int k = 2; k <= 30; ++k) EXPECT_EQ(values[k - 2], f.choice().at(k).value) << k;
  for (int k = 1; k < 40; ++k) EXPECT_EQ(f.hierarchy().curve(k), analysis.normalisedCurve[k]) << k;

  std::vector<int> at;
  ASSERT_TRUE(f.labelsAt(f.k(), at, err));
  EXPECT_EQ(at, f.labels());
  ASSERT_TRUE(f.labelsAt(5, at, err));
  EXPECT_EQ(*std::max_element(at.begin(), at.end()), 5);
  EXPECT_FALSE(f.labelsAt(31, at, err));

  // The model, written and read back, places every training row in its own
  // cluster here (the planted groups are far apart).
  Model m;
  ASSERT_TRUE(readModel(modelJson(f.model()), "model", m, err)) << err;
  std::vector<Assignment> placed;
  ASSERT_TRUE(assignCodes(m, codes.data(), rows, attributes, placed, err)) << err;
  int same = 0;
  for (int r = 0; r < rows; ++r) same += placed[r].cluster + 1 == f.labels()[r];
  EXPECT_GE(same, rows * 9 / 10);
  EXPECT_FALSE(assignCodes(m, codes.data(), rows / 2, attributes * 2, placed, err));

  ClusterReport r;
  ASSERT_TRUE(f.report(0, 3, 2, r, err)) << err;
  ASSERT_EQ(r.clusters.size(), 3u);
  long long sized = 0;
  for (const ClusterProfile& p : r.clusters) sized += p.size;
  EXPECT_EQ(sized, rows);
  EXPECT_EQ(r.typical[0].size(), 2u);
  EXPECT_NE(renderReportJson(r).find("\"rows\""), std::string::npos);
}

TEST(KelbowApiTest, CellsAndColumnsPlaceNewRowsAlike) {
  // A model of planted rows written as words, with a number column cut into
  // three bins and "?" and the empty cell as missing markers.
  const int rows = 90;
  const std::vector<std::int32_t> planted = plantedCodes(rows, 3);
  const std::vector<std::string> names = {"colour", "shape", "size"};
  const std::vector<std::vector<std::string>> words = {{"red", "green", "blue", "grey"},
                                                       {"ball", "cube", "cone", "ring"}};
  std::vector<std::vector<std::string>> training(3);
  for (int r = 0; r < rows; ++r) {
    for (int a = 0; a < 2; ++a) training[a].push_back(words[a][planted[r * 3 + a]]);
    training[2].push_back(std::to_string(planted[r * 3 + 2] * 10 + r % 5));
  }
  training[0][4] = "?";
  training[1][7] = "";
  TypingOptions o;
  o.missing = std::vector<std::string>{"?", ""};
  std::string err;
  ASSERT_TRUE(takeTypingOption("--bins", "size=3", o, err)) << err;
  const Columns train = asColumns(names, training);
  EncodedColumns encoded;
  ASSERT_TRUE(encodeColumns(train.columns, rows, o, "train", encoded, err)) << err;
  Encoding encoding;
  encoding.names = encoded.names;
  encoding.values = encoded.values;
  encoding.missing = encoded.missing;
  encoding.source = encoded.source;
  Table t;
  ASSERT_TRUE(
      Table::make(encoded.codes.data(), rows, encoded.attributes, encoding, "train", t, err))
      << err;
  Fit f;
  FitSettings s;
  s.k = 3;
  s.choice.references = 4;
  s.choice.orders = 1;
  ASSERT_TRUE(fit(t, s, f, err)) << err;
  Model m;
  ASSERT_TRUE(readModel(modelJson(f.model()), "model", m, err)) << err;

  // New rows in the model's column order: seen values; an unseen colour and a
  // number beyond every training one; markers; nothing known at all; a number
  // between training ones.
  const std::vector<std::vector<std::string>> fresh = {{"green", "cube", "12"},
                                                       {"purple", "ring", "999"},
                                                       {"red", "?", ""},
                                                       {"purple", "", "?"},
                                                       {"?", "ball", "7.5"}};
  // The same rows under a header in another order, with a column the model
  // does not know.
  const std::vector<std::string> header = {"note", "size", "shape", "colour"};
  std::vector<std::vector<std::string>> cells, byColumn(header.size());
  for (const std::vector<std::string>& row : fresh) {
    cells.push_back({"n" + std::to_string(cells.size()), row[2], row[1], row[0]});
    for (size_t c = 0; c < header.size(); ++c) byColumn[c].push_back(cells.back()[c]);
  }
  std::vector<Assignment> inOrder, byCells, byColumns;
  ASSERT_TRUE(assignCells(m, names, fresh, "new", inOrder, err)) << err;
  ASSERT_TRUE(assignCells(m, header, cells, "new", byCells, err)) << err;
  const Columns given = asColumns(header, byColumn);
  ASSERT_TRUE(
      assignColumns(m, given.columns, static_cast<long long>(fresh.size()), "new", byColumns, err))
      << err;
  ASSERT_EQ(inOrder.size(), fresh.size());
  ASSERT_EQ(byCells.size(), fresh.size());
  ASSERT_EQ(byColumns.size(), fresh.size());
  for (size_t r = 0; r < fresh.size(); ++r) {
    EXPECT_EQ(byCells[r].cluster, inOrder[r].cluster) << r;
    EXPECT_EQ(byCells[r].margin, inOrder[r].margin) << r;
    EXPECT_EQ(byColumns[r].cluster, byCells[r].cluster) << r;
    EXPECT_EQ(byColumns[r].margin, byCells[r].margin) << r;
    // Only the row with nothing known is left without a cluster.
    EXPECT_EQ(byCells[r].cluster == -1, r == 3) << r;
  }

  // A model column absent from the header is named, on both roads; a short row
  // is refused.
  const std::vector<std::string> noShape = {"size", "colour"};
  const std::string absent = "new: the first line names no column 'shape' of the model";
  EXPECT_FALSE(assignCells(m, noShape, {{"12", "red"}}, "new", byCells, err));
  EXPECT_EQ(err, absent);
  const Columns lacking = asColumns(noShape, {{"12"}, {"red"}});
  EXPECT_FALSE(assignColumns(m, lacking.columns, 1, "new", byColumns, err));
  EXPECT_EQ(err, absent);
  EXPECT_FALSE(assignCells(m, header, {{"n", "12", "cube"}}, "new", byCells, err));
  EXPECT_EQ(err, "new: row 1 has 3 fields, but the header 4");
}

}  // namespace
}  // namespace kelbow
