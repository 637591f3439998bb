#include "app/option_scanner.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace kelbow {
namespace {

// An argument vector as main receives it: writable words and a null after the last.
class Words {
 public:
  Words(std::initializer_list<std::string> words) : storage_(words) {
    for (std::string& w : storage_) pointers_.push_back(w.data());
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(storage_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> pointers_;
};

class OptionScannerTest : public testing::Test {
 protected:
  void SetUp() override { resetOptionScanner(); }
  void TearDown() override { resetOptionScanner(); }

  // Scans `words` with the tool's option string until -1; each result as
  // "c=argument", "c" (no argument) or "?x" (an error about x).
  std::vector<std::string> scan(Words& words, const char* options = "d:n:") {
    std::vector<std::string> out;
    for (int c; (c = getopt(words.argc(), words.argv(), options)) != -1;) {
      if (c == '?')
        out.push_back(std::string("?") + static_cast<char>(optopt));
      else
        out.push_back(std::string(1, static_cast<char>(c)) + (optarg ? "=" + std::string(optarg) : ""));
    }
    return out;
  }
  // The same, with standard error kept in `err`.
  std::vector<std::string> scanCapturing(Words& words, const char* options = "d:n:") {
    testing::internal::CaptureStderr();
    std::vector<std::string> out = scan(words, options);
    err = testing::internal::GetCapturedStderr();
    return out;
  }

  std::string err;
};

using Results = std::vector<std::string>;

TEST_F(OptionScannerTest, SeparatedArguments) {
  Words w{"prog", "-d", "data", "-n", "desc"};
  EXPECT_EQ(scan(w), (Results{"d=data", "n=desc"}));
  EXPECT_EQ(optind, 5);
}

TEST_F(OptionScannerTest, AttachedArguments) {
  Words w{"prog", "-ddata", "-ndesc"};
  EXPECT_EQ(scan(w), (Results{"d=data", "n=desc"}));
  EXPECT_EQ(optind, 3);
}

TEST_F(OptionScannerTest, OrderOfOptionsDoesNotMatter) {
  Words w{"prog", "-n", "desc", "-d", "data"};
  EXPECT_EQ(scan(w), (Results{"n=desc", "d=data"}));
}

TEST_F(OptionScannerTest, DoubleDashEndsTheOptionsAndIsConsumed) {
  Words w{"prog", "-d", "data", "--", "-n", "desc"};
  EXPECT_EQ(scan(w), (Results{"d=data"}));
  EXPECT_EQ(optind, 4);
}

TEST_F(OptionScannerTest, FirstNonOptionWordStopsTheScanUnconsumed) {
  Words w{"prog", "-d", "data", "extra", "-n", "desc"};
  EXPECT_EQ(scan(w), (Results{"d=data"}));
  EXPECT_EQ(optind, 3);
  EXPECT_EQ(getopt(w.argc(), w.argv(), "d:n:"), -1);  // and stays stopped
  EXPECT_EQ(optind, 3);
}

TEST_F(OptionScannerTest, LoneDashIsNotAnOption) {
  Words w{"prog", "-", "-d", "data"};
  EXPECT_TRUE(scan(w).empty());
  EXPECT_EQ(optind, 1);
}

TEST_F(OptionScannerTest, NoWordsAfterTheProgramName) {
  Words w{"prog"};
  EXPECT_TRUE(scan(w).empty());
  EXPECT_EQ(optind, 1);
}

TEST_F(OptionScannerTest, RepeatedOptionIsReturnedEachTime) {
  Words w{"prog", "-d", "a", "-d", "b", "-n", "desc"};
  EXPECT_EQ(scan(w), (Results{"d=a", "d=b", "n=desc"}));
}

TEST_F(OptionScannerTest, ArgumentIsTheNextWordWhateverItLooksLike) {
  Words w{"prog", "-d", "-n", "desc"};
  EXPECT_EQ(scan(w), (Results{"d=-n"}));
  EXPECT_EQ(optind, 3);
}

TEST_F(OptionScannerTest, UnknownOptionIsReportedWithTheProgramName) {
  Words w{"prog", "-x"};
  EXPECT_EQ(scanCapturing(w), (Results{"?x"}));
  EXPECT_EQ(optopt, 'x');
  EXPECT_EQ(err, "prog: illegal option -- x\n");
  EXPECT_EQ(optind, 2);
}

TEST_F(OptionScannerTest, ProgramNameIsWrittenByteForByte) {
  Words w{"./k%d%s", "-x"};
  scanCapturing(w);
  EXPECT_EQ(err, "./k%d%s: illegal option -- x\n");
}

TEST_F(OptionScannerTest, ColonIsNeverAnOption) {
  Words w{"prog", "-:"};
  EXPECT_EQ(scanCapturing(w), (Results{"?:"}));
  EXPECT_EQ(err, "prog: illegal option -- :\n");
}

TEST_F(OptionScannerTest, MissingArgumentAtTheEndIsReported) {
  Words w{"prog", "-d", "data", "-n"};
  EXPECT_EQ(scanCapturing(w), (Results{"d=data", "?n"}));
  EXPECT_EQ(optopt, 'n');
  EXPECT_EQ(err, "prog: option requires an argument -- n\n");
}

TEST_F(OptionScannerTest, UnknownOptionGroupedWithAnOptionThatTakesTheNextWord) {
  Words w{"prog", "-xd", "file", "-n", "desc"};
  EXPECT_EQ(scanCapturing(w), (Results{"?x", "d=file", "n=desc"}));
  EXPECT_EQ(err, "prog: illegal option -- x\n");
}

TEST_F(OptionScannerTest, UnknownOptionGroupedWithAnAttachedArgument) {
  Words w{"prog", "-xdfile"};
  EXPECT_EQ(scanCapturing(w), (Results{"?x", "d=file"}));
  EXPECT_EQ(optind, 2);
}

TEST_F(OptionScannerTest, OptionsWithoutArgumentShareAWord) {
  Words w{"prog", "-aab", "value", "rest"};
  EXPECT_EQ(scan(w, "ab:"), (Results{"a", "a", "b=value"}));
  EXPECT_EQ(optind, 3);
}

TEST_F(OptionScannerTest, OptErrZeroSilencesTheMessages) {
  opterr = 0;
  Words w{"prog", "-x", "-d"};
  EXPECT_EQ(scanCapturing(w), (Results{"?x", "?d"}));
  EXPECT_EQ(err, "");
}

TEST_F(OptionScannerTest, OptoptOfAByteAbove127IsNegative) {
  Words w{"prog", "-\xe9"};
  testing::internal::CaptureStderr();
  EXPECT_EQ(getopt(w.argc(), w.argv(), "d:n:"), '?');
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(optopt, 0xe9 - 256);
}

TEST_F(OptionScannerTest, ByteAbove127IsEchoedRaw) {
  Words w{"prog", "-\xe9"};
  scanCapturing(w);
  EXPECT_EQ(err, "prog: illegal option -- \xe9\n");
}

}  // namespace
}  // namespace kelbow
