#include "input/kelbow_block.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <vector>

namespace kelbow {
namespace {

using Values = std::array<double, kKelbowValueCount>;

// Values with a distinct pattern per seed, exactly representable as "%f" text.
Values makeValues(int seed) {
  Values v{};
  for (int t = 0; t < kKelbowValueCount; ++t) v[t] = ((t * 37 + seed * 11) % 23 - 11) / 1000.0;
  return v;
}

std::string valueLines(const Values& v, int count = kKelbowValueCount) {
  std::string s;
  char buf[32];
  for (int t = 0; t < count; ++t) {
    std::snprintf(buf, sizeof buf, "%f\n", v[t]);
    s += buf;
  }
  return s;
}

// One group as a run on the small-table road appends it.
std::string group(const std::string& name, const Values& v) {
  return name + "\nkelbow\n" + valueLines(v) + name + ".kelbow\n";
}

class KelbowBlockTest : public ::testing::Test {
 protected:
  bool parse(const std::string& text, std::optional<std::string> dataName = std::nullopt) {
    std::istringstream in(text);
    err_.clear();
    return parseKelbowBlock(in, "r.kelbow", dataName, &block_, &err_);
  }

  KelbowBlock block_;
  std::string err_;
};

TEST_F(KelbowBlockTest, ReadsTheOnlyBlock) {
  ASSERT_TRUE(parse(group("votes.data", makeValues(1)))) << err_;
  EXPECT_EQ(block_.dataName, "votes.data");
  EXPECT_EQ(block_.markerLine, 2);
  EXPECT_EQ(block_.values, makeValues(1));
}

TEST_F(KelbowBlockTest, TakesTheLastBlockOfTheFile) {
  std::string text =
      group("a", makeValues(1)) + group("b", makeValues(2)) + group("a", makeValues(3));
  ASSERT_TRUE(parse(text)) << err_;
  EXPECT_EQ(block_.dataName, "a");
  EXPECT_EQ(block_.markerLine, 2 * 32 + 2);
  EXPECT_EQ(block_.values, makeValues(3));
}

TEST_F(KelbowBlockTest, TakesTheLastBlockOfTheNamedDataFile) {
  std::string text = group("a", makeValues(1)) + group("b", makeValues(2)) +
                     group("b", makeValues(3)) + group("a", makeValues(4));
  ASSERT_TRUE(parse(text, "b")) << err_;
  EXPECT_EQ(block_.markerLine, 2 * 32 + 2);
  EXPECT_EQ(block_.values, makeValues(3));
  // A name matches only as a whole line.
  EXPECT_FALSE(parse(text, "a "));
  EXPECT_EQ(err_, "r.kelbow: no kelbow block for data file a ");
}

TEST_F(KelbowBlockTest, SkipsLargeTableLinesAndLoneResultNames) {
  // A failed run leaves only its result-file-name line; the large-table road
  // writes its parameters before the data file name.
  std::string text = "m.data.kelbow\n" + group("s.data", makeValues(1)) + "m.data.kelbow\n" +
                     "f=20, nc=800\n" + group("m.data", makeValues(2)) + "m.data.kelbow\n";
  ASSERT_TRUE(parse(text)) << err_;
  EXPECT_EQ(block_.dataName, "m.data");
  EXPECT_EQ(block_.markerLine, 1 + 32 + 2 + 2);
  EXPECT_EQ(block_.values, makeValues(2));
}

TEST_F(KelbowBlockTest, DataFileNamesAreWholeLinesOfAnyText) {
  for (std::string name : {"my data & <more>.txt", " ", "kelbow", "0.5", "f=20, nc=800"}) {
    std::string text = group("first", makeValues(1)) + group(name, makeValues(2));
    ASSERT_TRUE(parse(text)) << "name '" << name << "': " << err_;
    EXPECT_EQ(block_.dataName, name);
    EXPECT_EQ(block_.markerLine, 32 + 2);
    EXPECT_EQ(block_.values, makeValues(2));
    ASSERT_TRUE(parse(text, name)) << err_;
    EXPECT_EQ(block_.values, makeValues(2));
  }
}

TEST_F(KelbowBlockTest, FileWithoutBlockIsRefused) {
  for (std::string text : {"", "\n", "x.kelbow\n", "kelbow\n", "0.1\n0.2\n", "a\nkelbo\n0.1\n"}) {
    EXPECT_FALSE(parse(text)) << "text: " << text;
    EXPECT_EQ(err_, "r.kelbow: no kelbow block");
  }
  EXPECT_FALSE(parse(group("a", makeValues(1)), "b"));
  EXPECT_EQ(err_, "r.kelbow: no kelbow block for data file b");
}

TEST_F(KelbowBlockTest, ShortBlockAtEndOfFileNamesItsLastLine) {
  EXPECT_FALSE(parse("a\nkelbow\n" + valueLines(makeValues(1), 10)));
  EXPECT_EQ(err_, "r.kelbow:12: the kelbow block at line 2 ends after 10 of 29 values");
  EXPECT_FALSE(parse("a\nkelbow\n"));
  EXPECT_EQ(err_, "r.kelbow:2: the kelbow block at line 2 ends after 0 of 29 values");
}

TEST_F(KelbowBlockTest, ValueThatIsNotAFiniteNumberNamesItsLine) {
  for (std::string bad : {"abc", "", "nan", "-nan", "inf", "0.1x", " 0.1", "0,1", "a.kelbow"}) {
    std::string text =
        "a\nkelbow\n" + valueLines(makeValues(1), 4) + bad + "\n" + valueLines(makeValues(1), 24);
    EXPECT_FALSE(parse(text)) << "value: " << bad;
    EXPECT_EQ(err_,
              "r.kelbow:7: value 5 of 29 of the kelbow block at line 2 is not a finite number")
        << "value: " << bad;
  }
}

TEST_F(KelbowBlockTest, LastLineWithoutNewlineIsAnUnfinishedWrite) {
  std::string text = group("a", makeValues(1));
  text.resize(text.size() - std::string("\na.kelbow\n").size());  // cut the newline of value 29
  EXPECT_FALSE(parse(text));
  EXPECT_EQ(err_,
            "r.kelbow:31: value 29 of 29 of the kelbow block at line 2 is cut off (no newline)");
  // Without its newline a marker does not open a block yet.
  EXPECT_FALSE(parse("a\nkelbow"));
  EXPECT_EQ(err_, "r.kelbow: no kelbow block");
}

TEST_F(KelbowBlockTest, BrokenEarlierBlockDoesNotHideALaterOne) {
  // The broken block is followed by a group whose name looks like a number.
  std::string text = "a\nkelbow\n" + valueLines(makeValues(1), 5) + "f=20, nc=800\n" +
                     group("a", makeValues(2)) + "b\nkelbow\n" + valueLines(makeValues(3), 7) +
                     group("17", makeValues(4));
  ASSERT_TRUE(parse(text)) << err_;
  EXPECT_EQ(block_.dataName, "17");
  EXPECT_EQ(block_.values, makeValues(4));
  ASSERT_TRUE(parse(text, "a")) << err_;
  EXPECT_EQ(block_.markerLine, 10);
  EXPECT_EQ(block_.values, makeValues(2));
  // Asked for by name, the broken block is reported, not passed over.
  EXPECT_FALSE(parse(text, "b"));
  EXPECT_EQ(err_, "r.kelbow:49: the kelbow block at line 42 ends after 7 of 29 values");
}

// Cuts a file of two groups after every byte, as a run that dies mid-write
// would: every prefix either yields one of the two complete blocks or is
// refused with a message naming the file.
TEST_F(KelbowBlockTest, EveryTruncationYieldsACompleteBlockOrAnError) {
  std::string first = group("first", makeValues(1));
  std::string text = first + "f=20, nc=800\n" + group("second", makeValues(2));
  const size_t end1 = first.size() - std::string("first.kelbow\n").size();
  const size_t marker2 = text.find("second\nkelbow\n") + std::string("second\n").size();
  const size_t end2 = text.size() - std::string("second.kelbow\n").size();

  for (size_t len = 0; len <= text.size(); ++len) {
    bool ok = parse(text.substr(0, len));
    bool expectFirst = len >= end1 && len < marker2 + std::string("kelbow\n").size();
    bool expectSecond = len >= end2;
    ASSERT_EQ(ok, expectFirst || expectSecond) << "length " << len << ": " << err_;
    if (ok) {
      EXPECT_EQ(block_.dataName, expectSecond ? "second" : "first") << "length " << len;
      EXPECT_EQ(block_.values, makeValues(expectSecond ? 2 : 1)) << "length " << len;
    } else {
      EXPECT_EQ(err_.rfind("r.kelbow:", 0), 0u) << "length " << len << ": " << err_;
    }
  }
}

TEST(ReadKelbowBlockTest, UnreadableFileIsRefused) {
  KelbowBlock block;
  std::string err;
  EXPECT_FALSE(readKelbowBlock("/nonexistent/r.kelbow", std::nullopt, &block, &err));
  EXPECT_EQ(err, "/nonexistent/r.kelbow: cannot open result file (No such file or directory)");
  std::string dir = std::filesystem::temp_directory_path().string();
  EXPECT_FALSE(readKelbowBlock(dir, std::nullopt, &block, &err));
  EXPECT_EQ(err, dir + ": cannot open result file (is a directory)");
}

std::filesystem::path goldenDir() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path() /
         "shared" / "golden";
}

TEST(ReadKelbowBlockTest, ReadsTheShippedResultFilesOfBothRoads) {
  std::filesystem::path dir = goldenDir();
  if (!std::filesystem::exists(dir / "house-votes-84.data.kelbow")) {
    GTEST_SKIP() << "golden result files not found in " << dir << " (../shared missing)";
  }
  KelbowBlock block;
  std::string err;
  ASSERT_TRUE(readKelbowBlock(dir / "house-votes-84.data.kelbow", std::nullopt, &block, &err))
      << err;
  EXPECT_EQ(block.dataName, "house-votes-84.data");
  EXPECT_EQ(block.markerLine, 2);
  EXPECT_DOUBLE_EQ(block.values[0], 0.142719);
  EXPECT_DOUBLE_EQ(block.values[3], -0.002274);
  EXPECT_DOUBLE_EQ(block.values[28], 0.000036);

  ASSERT_TRUE(readKelbowBlock(dir / "mushroom.data.kelbow", "mushroom.data", &block, &err)) << err;
  EXPECT_EQ(block.dataName, "mushroom.data");
  EXPECT_EQ(block.markerLine, 3);
  EXPECT_DOUBLE_EQ(block.values[0], 0.022485);
  EXPECT_DOUBLE_EQ(block.values[1], -0.014738);
}

}  // namespace
}  // namespace kelbow
