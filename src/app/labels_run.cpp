#include "app/labels_run.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "analysis/road.h"
#include "app/option_scanner.h"
#include "app/run.h"
#include "common/error.h"

namespace kelbow {

namespace {

void printLabelsUsage() {
  std::fputs("USAGE:\nkelbow-labels -d datafile -n descriptionfile -k clusters\n", stderr);
  std::fputs("datafile:\tthe data file name. Please read README for the file format.\n", stderr);
  std::fputs("descriptionfile:\tthe description file name. Please read README for the file format.\n", stderr);
  std::fputs("clusters:\tthe number of clusters K, at least 2.\n", stderr);
  std::fputs("Output:\tthe labels for K down to 2 clusters, one file per level.\n", stderr);
}

// Sends standard output to standard error while the analysis runs, so that the
// tool's own standard output holds only the names of the files it wrote.
class ProgressToStderr {
 public:
  ProgressToStderr() {
    std::fflush(stdout);
    saved_ = ::dup(1);
    ::dup2(2, 1);
  }
  ~ProgressToStderr() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      ::dup2(saved_, 1);
      ::close(saved_);
    }
  }
  ProgressToStderr(const ProgressToStderr&) = delete;
  ProgressToStderr& operator=(const ProgressToStderr&) = delete;

 private:
  int saved_;
};

bool parseClusters(const char* text, int& k) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < 2 || v > INT_MAX) return false;
  k = static_cast<int>(v);
  return true;
}

}  // namespace

int runLabels(int argc, char* argv[]) {
  std::string dataFileName, descriptionFileName, clustersText;
  bool haveData = false, haveDescription = false, haveClusters = false;
  for (int c; (c = getopt(argc, argv, "d:n:k:")) != -1;) {
    if (c == 'd') {
      dataFileName = optarg;
      haveData = true;
    } else if (c == 'n') {
      descriptionFileName = optarg;
      haveDescription = true;
    } else if (c == 'k') {
      clustersText = optarg;
      haveClusters = true;
    } else if (c == '?') {
      return kFailureStatus;  // the scanner has reported the option
    }
  }
  if (!haveData || !haveDescription || !haveClusters) {
    printLabelsUsage();
    return kFailureStatus;
  }
  int k = 0;
  if (!parseClusters(clustersText.c_str(), k)) {
    std::fprintf(stderr, "kelbow-labels: the number of clusters '%s' is not an integer of at least 2\n",
                 clustersText.c_str());
    return kFailureStatus;
  }

  TableDescription declared;
  if (!readDeclaredSize(descriptionFileName, "kelbow-labels: can't open the description file\n", declared))
    return kFailureStatus;

  std::vector<std::string> written;
  {
    ProgressToStderr progress;
    EntropyClustering analysis(dataFileName.c_str(), descriptionFileName.c_str(), nullptr);
    if (!analysis.filesOpen()) return kFailureStatus;
    analysis.keepMembers = true;
    loadStartingClusters(analysis, declared.rows);
    if (k > analysis.clusterCount) {
      std::fprintf(stderr, "kelbow-labels: %d clusters asked for, but the table starts from %d clusters\n", k,
                   analysis.clusterCount);
      return kFailureStatus;
    }
    // The merge loop writes levels below the starting count; the starting level
    // itself (every starting cluster its own label) is written here.
    if (k == analysis.clusterCount) analysis.writeHierarchySnapshot(k);
    analysis.agglomerate(k);
    for (int level = k; level >= 2; --level) written.push_back(analysis.snapshotFileName(level));
  }
  for (const std::string& name : written) std::printf("%s\n", name.c_str());
  return 0;
}

}  // namespace kelbow
