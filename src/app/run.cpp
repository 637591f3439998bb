#include "app/run.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "analysis/entropy_clustering.h"
#include "analysis/road.h"
#include "app/companion.h"
#include "app/option_scanner.h"
#include "app/output_files.h"
#include "app/text_progress.h"
#include "common/append_file.h"
#include "common/error.h"
#include "common/message_text.h"
#include "common/version.h"
#include "common/worker_pool.h"
#include "input/description_text.h"
#include "input/table_reader.h"

namespace kelbow {

void printUsage() {
  std::fputs("USAGE:\nkelbow -d datafile -n descriptionfile\n", stderr);
  std::fputs("datafile:\tthe data file name. Please read README for the file format.\n", stderr);
  std::fputs(
      "descriptionfile:\tthe description file name. Please read README for the file format.\n",
      stderr);
  std::fputs("Output:\tthe Kelbow is saved at datafile.kelbow.\n", stderr);
}

namespace {

constexpr const char* kCannotOpenResult = "couldn't open record file\n";

// The answer to `kelbow --help`, on standard output. The usage text above stays
// the tool's answer to an incomplete command line, on standard error.
constexpr const char* kHelp = R"(Usage: kelbow -d datafile -n descriptionfile
       kelbow --help | --version

Clusters a table of categorical records by entropy, bottom-up, and appends a
kelbow block to datafile.kelbow: 29 values whose peaks mark the numbers of
clusters the data supports.

Options:
  -d datafile         the data file: R records of A codes each, as decimal
                      integers separated by any white space; the code of
                      attribute a lies in 0 .. d_a - 1
  -n descriptionfile  the description file: R, A, then the A domain sizes d_a
  --help              print this help and exit
  --version           print the version and exit
Arguments may be attached (-ddata). Scanning stops at the first word that is
not an option, or after --. --help and --version count only as the first word.

Result file datafile.kelbow, appended to by every run: on tables of 1500 rows
or more the line "f=20, nc=800", then the data file name, the word "kelbow",
the 29 values and last the result file's own name.

Reading the block: the value on line t (t = 1 .. 29, counted from the first
number) rises when the entropy jumps between t + 1 and t clusters, so a peak
on line t signals t + 1 clusters. kelbow-plot -r datafile.kelbow charts the
block and lists the candidates; kelbow-labels -d datafile -n descriptionfile
-k K writes the cluster of every row.

Standard output: progress (the table's size, then "iteration i" for every
merge). Standard error: messages only.

Exit status: 0 when the block was appended, 1 otherwise.

Example:
  kelbow -d planted4.data -n planted4.desc > /dev/null
  kelbow-plot -r planted4.data.kelbow

More in the manual page: man 1 kelbow.
)";

void reportUnknownOption(int c) {
  if (c >= 0 && std::isprint(c))
    std::fprintf(stderr, "Unknown option `-%c'.\n", c);
  else  // the byte value, also for characters above 127
    std::fprintf(stderr, "Unknown option character `\\x%x'.\n", static_cast<unsigned>(c & 0xff));
}

// The threads of a run: KELBOW_THREADS when set (a whole number from 1 to
// kMostThreads), else every processor the process may use. False, with a
// message on standard error, for any other value.
constexpr int kMostThreads = 1024;
bool threadsOfRun(int& threads) {
  const char* value = std::getenv("KELBOW_THREADS");
  if (value == nullptr || *value == '\0') {
    threads = availableThreads();
    return true;
  }
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(value, &end, 10);
  if (errno == 0 && *end == '\0' && std::isdigit(static_cast<unsigned char>(*value)) && n >= 1 &&
      n <= kMostThreads) {
    threads = static_cast<int>(n);
    return true;
  }
  error(std::string(programName()) + ": KELBOW_THREADS=" + shownText(value) +
            ": not a number of threads from 1 to " + std::to_string(kMostThreads) + "\n",
        false);
  return false;
}

}  // namespace

bool readDeclaredSize(DescriptionText& description, TableDescription& desc) {
  const std::unique_ptr<ByteSource> in = description.reader();
  NumberReader numbers(*in);
  std::string err;
  if (readTableSize(numbers, description.fileName(), desc, err)) return true;
  error(err + description.swappedFilesHint(), false);
  return false;
}

bool readDeclaredSize(const std::string& name, const char* cantOpen, TableDescription& desc) {
  DescriptionText description;
  if (!description.open(name)) {
    reportFileFailure(cantOpen, name, errno);
    return false;
  }
  return readDeclaredSize(description, desc);
}

int run(int argc, char* argv[]) {
  guardStandardDescriptors();
  installOutOfMemoryHandler();
  // Only the exact first word is looked at, so every other command line scans
  // as it always has: "--x", or "--help" after another word, is still an
  // illegal option "-".
  const std::string_view first = argc >= 2 ? argv[1] : "";
  if (first == "--help" || first == "--version") {
    const std::string text =
        first == "--help" ? std::string(kHelp) : "kelbow " + std::string(kVersion) + "\n";
    return writeStandardOutput("kelbow", text);
  }

  std::string dataFileName;
  std::string descriptionFileName;
  bool haveData = false;
  bool haveDescription = false;
  for (int c; (c = getopt(argc, argv, "d:n:")) != -1;) {
    if (c == 'd') {
      dataFileName = optarg;
      haveData = true;
    } else if (c == 'n') {
      descriptionFileName = optarg;
      haveDescription = true;
    } else if (c == '?') {
      reportUnknownOption(optopt);
      return kFailureStatus;
    }
  }
  if (!haveData || !haveDescription) {
    printUsage();
    return kFailureStatus;
  }
  AnalysisSettings settings;
  if (!threadsOfRun(settings.threads)) return kFailureStatus;

  // The table's files are opened under a shared lock on their directories, so
  // that a kelbow-csv run that replaces the table is seen whole or not at all.
  std::optional<SetReadLock> tableLock(std::in_place,
                                       std::vector<std::string>{descriptionFileName, dataFileName});

  // The description is opened and read once; the loaders parse the same text again.
  DescriptionText description;
  if (!description.open(descriptionFileName)) {
    reportFileFailure("couldn't description file\n", descriptionFileName, errno);
    return kFailureStatus;
  }
  TableDescription declared;
  if (!readDeclaredSize(description, declared)) return kFailureStatus;

  // Checked now, before any work, and written only at the very end: the whole
  // group (the large-table line, the block and the result file's own name)
  // reaches the file in one append, so a run that fails leaves no trace.
  const std::string resultFileName = dataFileName + ".kelbow";
  if (!canAppendTo(resultFileName)) {
    reportFileFailure(kCannotOpenResult, resultFileName, errno);
    return kFailureStatus;
  }

  std::string group;
  {
    TextProgress progress(stdout);
    EntropyClustering analysis(dataFileName.c_str(), std::move(description), true, settings,
                               progress);
    if (!analysis.filesOpen()) {
      error(analysis.openFailures(), false);
      return kFailureStatus;
    }
    tableLock.reset();
    std::string err;
    if (!loadStartingClusters(analysis, declared.rows, err)) {
      error(err, false);
      return kFailureStatus;
    }
    analysis.agglomerate(-1);
    if (analysis.resultWriteFailed) {
      std::fprintf(stderr, "couldn't write record file %s\n", shownName(resultFileName).c_str());
      return kFailureStatus;
    }
    group = analysis.resultText();
  }
  group += resultFileName + "\n";

  // The progress went to standard output all along; a run whose progress was
  // lost (a full disk, a closed descriptor) fails here, before the append, so
  // that a failed run leaves the result file as it was.
  if (const std::string problem = standardOutputProblem(); !problem.empty()) {
    error(std::string(programName()) + ": " + problem + "\n", false);
    return kFailureStatus;
  }

  const AppendStatus appended = appendWhole(resultFileName, group);
  const int reason = errno;
  switch (appended) {
    case AppendStatus::kAppended:
      return 0;
    case AppendStatus::kCannotOpen:
      reportFileFailure(kCannotOpenResult, resultFileName, reason);
      return kFailureStatus;
    case AppendStatus::kCannotWrite:
    case AppendStatus::kCannotWritePartLeft:
      reportFileFailure("couldn't write record file " + shownName(resultFileName) + "\n",
                        resultFileName, reason);
      if (appended == AppendStatus::kCannotWritePartLeft)
        error(std::string(programName()) + ": " + shownName(resultFileName) +
                  ": the start of this run's group stays at its end (it could not be cut back)\n",
              false);
      return kFailureStatus;
  }
  return kFailureStatus;
}

}  // namespace kelbow
