#include "app/run.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "analysis/entropy_clustering.h"
#include "analysis/road.h"
#include "app/option_scanner.h"
#include "common/append_file.h"
#include "common/error.h"
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

void reportUnknownOption(int c) {
  if (c >= 0 && std::isprint(c))
    std::fprintf(stderr, "Unknown option `-%c'.\n", c);
  else  // the byte value, also for characters above 127
    std::fprintf(stderr, "Unknown option character `\\x%x'.\n", static_cast<unsigned>(c & 0xff));
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

  installOutOfMemoryHandler();

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
    EntropyClustering analysis(dataFileName.c_str(), std::move(description), true);
    if (!analysis.filesOpen()) return kFailureStatus;
    loadStartingClusters(analysis, declared.rows);
    analysis.agglomerate(-1);
    if (analysis.resultWriteFailed) {
      std::fprintf(stderr, "couldn't write record file %s\n", resultFileName.c_str());
      return kFailureStatus;
    }
    group = analysis.resultText();
  }
  group += resultFileName + "\n";

  const AppendStatus appended = appendWhole(resultFileName, group);
  const int reason = errno;
  switch (appended) {
    case AppendStatus::kAppended:
      return 0;
    case AppendStatus::kCannotOpen:
      reportFileFailure(kCannotOpenResult, resultFileName, reason);
      return kFailureStatus;
    case AppendStatus::kCannotWrite:
      reportFileFailure("couldn't write record file " + resultFileName + "\n", resultFileName, reason);
      return kFailureStatus;
  }
  return kFailureStatus;
}

}  // namespace kelbow
