#include "app/run.h"

#include <cctype>
#include <cstdio>
#include <string>

#include "analysis/entropy_clustering.h"
#include "analysis/road.h"
#include "app/option_scanner.h"
#include "common/error.h"
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

void reportUnknownOption(int c) {
  if (c >= 0 && std::isprint(c))
    std::fprintf(stderr, "Unknown option `-%c'.\n", c);
  else  // the byte value, also for characters above 127
    std::fprintf(stderr, "Unknown option character `\\x%x'.\n", static_cast<unsigned>(c & 0xff));
}

}  // namespace

bool readDeclaredSize(const std::string& name, const char* cantOpen, TableDescription& desc) {
  std::FILE* in = std::fopen(name.c_str(), "r");
  if (in == nullptr) {
    std::fputs(cantOpen, stderr);
    return false;
  }
  NumberReader numbers(in);
  std::string err;
  const bool ok = readTableSize(numbers, name, desc, err);
  std::fclose(in);
  if (!ok) error(err, false);
  return ok;
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

  TableDescription declared;
  if (!readDeclaredSize(descriptionFileName, "couldn't description file\n", declared))
    return kFailureStatus;

  const std::string resultFileName = dataFileName + ".kelbow";
  // Fully buffered and flushed only when closed: its one line, the result file's
  // own name, lands after everything the analysis object appends.
  std::FILE* result = std::fopen(resultFileName.c_str(), "a+");
  if (result == nullptr) {
    std::fputs("couldn't open record file\n", stderr);
    return kFailureStatus;
  }
  std::fprintf(result, "%s\n", resultFileName.c_str());

  int status = 0;
  bool written = true;
  {
    EntropyClustering analysis(dataFileName.c_str(), descriptionFileName.c_str(),
                               resultFileName.c_str());
    if (!analysis.filesOpen()) {
      status = kFailureStatus;
    } else {
      loadStartingClusters(analysis, declared.rows);
      analysis.agglomerate(-1);
      written = !analysis.resultWriteFailed;
    }
  }
  written = std::fclose(result) == 0 && written;
  if (status == 0 && !written) {
    std::fprintf(stderr, "couldn't write record file %s\n", resultFileName.c_str());
    status = kFailureStatus;
  }
  return status;
}

}  // namespace kelbow
