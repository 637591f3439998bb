#include "assign/model.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/text_test_support.h"

namespace kelbow {
namespace {

// Two clusters over a word column with a missing marker and a two-valued one.
Model smallModel(std::optional<CsvEncoding> source = std::nullopt) {
  Encoding e;
  e.names = {"colour", "size \"xl\""};
  e.values = {{"blue", "red", "?"}, {"small", "big"}};
  e.missing = {"?", ""};
  e.source = std::move(source);
  Model m(e, 2);
  const int rows[][2] = {{0, 0}, {0, 1}, {1, 1}, {2, 1}, {1, 0}};
  for (int r = 0; r < 5; ++r) m.addRow(r < 2 ? 0 : 1, rows[r]);
  return m;
}

std::string refusal(const std::string& text) {
  Model m;
  std::string err;
  EXPECT_FALSE(readModel(text, "m.json", m, err)) << text;
  return err;
}

using testing::replaced;

TEST(ModelTest, ReadsBackWhatItWrites) {
  const Model m = smallModel();
  const std::string text = modelJson(m);
  Model back;
  std::string err;
  ASSERT_TRUE(readModel(text, "m.json", back, err)) << err;
  EXPECT_EQ(back.encoding().names, m.encoding().names);
  EXPECT_EQ(back.encoding().values, m.encoding().values);
  EXPECT_EQ(back.encoding().missing, m.encoding().missing);
  ASSERT_EQ(back.clusterCount(), 2);
  EXPECT_EQ(back.clusterRows(1), 3);
  EXPECT_EQ(back.clusterCounts(1), (std::vector<int>{0, 2, 1, 1, 2}));
  EXPECT_EQ(modelJson(back), text);
  EXPECT_NE(text.find("\"version\": 2,"), std::string::npos);
}

TEST(ModelTest, EveryCutOfTheFileIsRefused) {
  const std::string text = modelJson(smallModel());
  // The last bytes are white space after the closing brace.
  for (size_t n = 0; n + 2 < text.size(); ++n)
    EXPECT_EQ(refusal(text.substr(0, n)).rfind("m.json:", 0), 0u) << n;
}

TEST(ModelTest, RefusesOtherFilesVersionsAndDamage) {
  const std::string text = modelJson(smallModel());
  EXPECT_EQ(refusal("[1, 2]"), "m.json: not a kelbow model (no \"format\": \"kelbow-model\")");
  EXPECT_EQ(refusal(replaced(text, "\"version\": 2", "\"version\": 3")),
            "m.json: a model of format version 3; this version of kelbow reads versions 1 and 2");
  EXPECT_EQ(refusal(replaced(text, "[0, 2, 1]", "[0, 2, 2]")),
            "m.json:18: cluster 2, attribute 'colour': the counts add up to 4, but the cluster "
            "has 3 rows");
  EXPECT_EQ(refusal(replaced(text, "[0, 2, 1]", "[0, 2]")),
            "m.json:18: cluster 2, attribute 'colour': the counts should be an array of 3 "
            "numbers, one per value");
  EXPECT_EQ(refusal(replaced(text, "[0, 2, 1]", "[0, 2.5, 1]")),
            "m.json:18: cluster 2, attribute 'colour': a count should be a whole number from 0 "
            "to 2147483647");
  EXPECT_EQ(refusal(replaced(text, "\"rows\": 5", "\"rows\": 6")),
            "m.json:12: the clusters hold 5 rows, but \"rows\" says 6");
  EXPECT_EQ(refusal(replaced(text, "\"red\"", "\"blue\"")),
            "m.json:9: attribute 1 'colour': \"values\" holds the value \"blue\" twice");
  EXPECT_EQ(refusal(replaced(text, "\"weight\": 0.63", "\"kind\": \"bins\", \"weight\": 0.63")),
            "m.json:9: attribute 1: unknown member \"kind\"");
  EXPECT_EQ(
      refusal(replaced(text, "\"weight\": 1,", "\"weight\": 0.5,")),
      "m.json:10: attribute 2 'size \"xl\"': the weight 0.5 is not 1/log2 of its 2 values (1)");
  EXPECT_EQ(refusal(replaced(text, "\"rows\": 5,", "\"rows\": 5, \"rows\": 5,")),
            "m.json: the model is damaged: line 4: the member \"rows\" appears twice");
  EXPECT_EQ(refusal(replaced(text, "\"cluster\": 2", "\"cluster\": 3")),
            "m.json:17: cluster 2 is numbered 3");
  EXPECT_EQ(refusal(text + "x"),
            "m.json: the model is damaged: line 23: something follows the value");
}

TEST(ModelTest, CarriesTheTablesEncodingAndReadsTheFirstVersion) {
  CsvEncoding source;
  source.columns = 3;
  source.missing = {"?", ""};
  source.attributes = {attributeFrom("colour", "colour", 2),
                       attributeFrom("size \"xl\"", "size", 3, Transform::kBins)};
  source.attributes[1].edges = {4.5};
  const std::string text = modelJson(smallModel(source));
  Model back;
  std::string err;
  ASSERT_TRUE(readModel(text, "m.json", back, err)) << err;
  ASSERT_TRUE(back.encoding().source.has_value());
  EXPECT_EQ(back.encoding().source->attributes[1].edges, std::vector<double>{4.5});
  EXPECT_EQ(modelJson(back), text);
  EXPECT_EQ(
      refusal(replaced(text, "\"name\": \"colour\", \"column\"", "\"name\": \"hue\", \"column\"")),
      "m.json: attribute 1 is 'hue' in the encoding, but 'colour' in the table");
  EXPECT_EQ(refusal(replaced(text, "\"missing\": [\"?\", \"\"],\n    \"attributes\"",
                             "\"missing\": [\"?\"],\n    \"attributes\"")),
            "m.json:7: the encoding's \"missing\" differs from the model's");

  // Version 1: no encoding, every attribute of the kind "categories".
  std::string first = replaced(modelJson(smallModel()), "\"version\": 2", "\"version\": 1");
  first = replaced(first, "  \"encoding\": null,\n", "");
  for (const char* name : {"{\"name\": \"colour\",", "{\"name\": \"size \\\"xl\\\"\","})
    first = replaced(first, name, std::string(name) + " \"kind\": \"categories\",");
  ASSERT_TRUE(readModel(first, "m.json", back, err)) << err;
  EXPECT_FALSE(back.encoding().source.has_value());
  EXPECT_EQ(back.clusterCounts(1), smallModel().clusterCounts(1));
  EXPECT_EQ(refusal(replaced(first, "\"kind\": \"categories\"", "\"kind\": \"bins\"")),
            "m.json:8: attribute 1 'colour': the kind \"bins\" is not known; version 1 has "
            "\"categories\" only");
}

}  // namespace
}  // namespace kelbow
