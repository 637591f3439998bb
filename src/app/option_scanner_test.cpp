#include "app/option_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelbow {
namespace {

using Results = std::vector<std::string>;

// One command line, what the scanner returns for it until -1 (each result as
// "c=argument", "c" without argument, or "?x" for an error about x), where it
// stops, and what it writes to standard error.
struct ScanCase {
  const char* name;
  std::vector<std::string> words;
  Results results;
  int stopsAt;
  std::string err;
  const char* options = "d:n:";
};

class OptionScannerTest : public testing::TestWithParam<ScanCase> {
 protected:
  void SetUp() override { resetOptionScanner(); }
  void TearDown() override { resetOptionScanner(); }

  // Scans `words` (program name first) as main receives them; keeps standard error in `err`.
  Results scan(std::vector<std::string> words, const char* options = "d:n:") {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());
    Results out;
    testing::internal::CaptureStderr();
    for (int c; (c = getopt(argc, argv.data(), options)) != -1;) {
      if (c == '?')
        out.push_back(std::string("?") + static_cast<char>(optopt));
      else
        out.push_back(std::string(1, static_cast<char>(c)) +
                      (optarg ? "=" + std::string(optarg) : ""));
    }
    err = testing::internal::GetCapturedStderr();
    return out;
  }

  std::string err;
};

TEST_P(OptionScannerTest, ScansTheWords) {
  const ScanCase& c = GetParam();
  EXPECT_EQ(scan(c.words, c.options), c.results);
  EXPECT_EQ(optind, c.stopsAt);
  EXPECT_EQ(err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, OptionScannerTest,
    testing::Values(
        ScanCase{"SeparatedArguments",
                 {"prog", "-d", "data", "-n", "desc"},
                 {"d=data", "n=desc"},
                 5,
                 ""},
        ScanCase{"AttachedArguments", {"prog", "-ddata", "-ndesc"}, {"d=data", "n=desc"}, 3, ""},
        ScanCase{"OrderDoesNotMatter",
                 {"prog", "-n", "desc", "-d", "data"},
                 {"n=desc", "d=data"},
                 5,
                 ""},
        ScanCase{"DoubleDashEndsTheOptionsAndIsConsumed",
                 {"prog", "-d", "data", "--", "-n", "desc"},
                 {"d=data"},
                 4,
                 ""},
        ScanCase{"FirstNonOptionWordStopsUnconsumed",
                 {"prog", "-d", "data", "extra", "-n", "desc"},
                 {"d=data"},
                 3,
                 ""},
        ScanCase{"LoneDashIsNotAnOption", {"prog", "-", "-d", "data"}, {}, 1, ""},
        ScanCase{"NothingAfterTheProgramName", {"prog"}, {}, 1, ""},
        ScanCase{"RepeatedOptionIsReturnedEachTime",
                 {"prog", "-d", "a", "-d", "b", "-n", "desc"},
                 {"d=a", "d=b", "n=desc"},
                 7,
                 ""},
        ScanCase{"ArgumentIsTheNextWordWhateverItLooksLike",
                 {"prog", "-d", "-n", "desc"},
                 {"d=-n"},
                 3,
                 ""},
        ScanCase{"UnknownOption", {"prog", "-x"}, {"?x"}, 2, "prog: illegal option -- x\n"},
        ScanCase{"ProgramNameIsWrittenByteForByte",
                 {"./k%d%s", "-x"},
                 {"?x"},
                 2,
                 "./k%d%s: illegal option -- x\n"},
        ScanCase{"ColonIsNeverAnOption", {"prog", "-:"}, {"?:"}, 2, "prog: illegal option -- :\n"},
        ScanCase{"ByteAbove127IsEchoedRaw",
                 {"prog", "-\xe9"},
                 {"?\xe9"},
                 2,
                 "prog: illegal option -- \xe9\n"},
        ScanCase{"MissingArgumentAtTheEnd",
                 {"prog", "-d", "data", "-n"},
                 {"d=data", "?n"},
                 4,
                 "prog: option requires an argument -- n\n"},
        ScanCase{"UnknownOptionGroupedWithOneTakingTheNextWord",
                 {"prog", "-xd", "file", "-n", "desc"},
                 {"?x", "d=file", "n=desc"},
                 5,
                 "prog: illegal option -- x\n"},
        ScanCase{"UnknownOptionGroupedWithAnAttachedArgument",
                 {"prog", "-xdfile"},
                 {"?x", "d=file"},
                 2,
                 "prog: illegal option -- x\n"},
        ScanCase{"OptionsWithoutArgumentShareAWord",
                 {"prog", "-aab", "value", "rest"},
                 {"a", "a", "b=value"},
                 3,
                 "",
                 "ab:"}),
    [](const testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

// Scanner state across calls, outside the table above.
using OptionScannerStateTest = OptionScannerTest;

TEST_F(OptionScannerStateTest, OptErrZeroSilencesTheMessages) {
  opterr = 0;
  EXPECT_EQ(scan({"prog", "-x", "-d"}), (Results{"?x", "?d"}));
  EXPECT_EQ(err, "");
}

TEST_F(OptionScannerStateTest, OptoptOfAByteAbove127IsNegative) {
  scan({"prog", "-\xe9"});
  EXPECT_EQ(optopt, 0xe9 - 256);
}

TEST_F(OptionScannerStateTest, StoppedScanStaysStopped) {
  scan({"prog", "-d", "data", "extra"});
  EXPECT_EQ(scan({"prog", "-d", "data", "extra"}), Results{});
  EXPECT_EQ(optind, 3);
}

}  // namespace
}  // namespace kelbow
