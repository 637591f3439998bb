#include "app/labels_run.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "analysis/hierarchy.h"
#include "analysis/road.h"
#include "app/companion.h"
#include "app/output_files.h"
#include "app/run.h"
#include "app/text_progress.h"
#include "common/error.h"

namespace kelbow {

namespace {

constexpr std::string_view kProgram = "kelbow-labels";

constexpr std::string_view kHelp =
    "Usage: kelbow-labels -d DATA -n DESC -k K [-o FILE [--snapshots]]\n"
    "Clusters the table exactly as kelbow does (nothing is appended to DATA.kelbow) and\n"
    "writes the cluster of every data row for K clusters. With -o: one file, one label per\n"
    "data row in row order, the clusters numbered 1..K by size, largest first (clusters of\n"
    "one size in the order of their first rows). Without -o: one snapshot file per level\n"
    "from K clusters down to 2, DATAf<F>nc<N>.hier<k> with labels 0..k-1 (F and N are 20\n"
    "and 800 on tables of 1500 rows or more, else 0 and 0), whose names are printed.\n"
    "Progress goes to standard error.\n"
    "\n"
    "Options:\n"
    "  -d, --data DATA      the data file\n"
    "  -n, --desc DESC      the description file\n"
    "  -k, --clusters K     the number of clusters, from 2 to the number of starting clusters\n"
    "  -o, --output FILE    write the labels for exactly K clusters to FILE (- for standard\n"
    "                       output) instead of the snapshot files\n"
    "      --snapshots      with -o, write the snapshot files too (their names are printed\n"
    "                       unless the labels go to standard output)\n"
    "  -h, --help           show this help and exit\n"
    "      --version        show the version and exit\n"
    "\n"
    "Files:\n"
    "  FILE                 one label 1..K per data row\n"
    "  DATAf<F>nc<N>.hier<k>  one label 0..k-1 per data row, for k = K down to 2\n"
    "\n"
    "Exit status:\n"
    "  0  the labels were written\n"
    "  1  bad options or input, or a file could not be read or written; a failed run\n"
    "     leaves no label or snapshot file behind\n"
    "\n"
    "Examples:\n"
    "  kelbow-labels -d critters.data -n critters.desc -k 4 -o critters.k4\n"
    "  kelbow-labels -d critters.data -n critters.desc -k 4 -o - | paste -d, - critters.labels\n"
    "  kelbow-labels -d critters.data -n critters.desc -k 6\n";

enum LongOnly { kSnapshotsOption = kFirstLongOnly };

bool parseClusters(const char* text, int& k) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || v < 2 || v > INT_MAX) return false;
  k = static_cast<int>(v);
  return true;
}

struct LabelsOptions {
  std::string data, desc, clusters;
  bool haveData = false, haveDesc = false, haveClusters = false;
  std::optional<std::string> output;
  bool snapshots = false;
};

Scan scanOptions(int argc, char* argv[], LabelsOptions& o) {
  static const option kLong[] = {{"data", required_argument, nullptr, 'd'},
                                 {"desc", required_argument, nullptr, 'n'},
                                 {"clusters", required_argument, nullptr, 'k'},
                                 {"output", required_argument, nullptr, 'o'},
                                 {"snapshots", no_argument, nullptr, kSnapshotsOption},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, kVersionOption},
                                 {nullptr, 0, nullptr, 0}};
  resetCompanionScan();
  for (int c; (c = getopt_long(argc, argv, ":d:n:k:o:h", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'd':
        o.data = ::optarg, o.haveData = true;
        break;
      case 'n':
        o.desc = ::optarg, o.haveDesc = true;
        break;
      case 'k':
        o.clusters = ::optarg, o.haveClusters = true;
        break;
      case 'o':
        o.output = ::optarg;
        break;
      case kSnapshotsOption:
        o.snapshots = true;
        break;
      default:
        return commonOption(c, argv, kProgram, kHelp);
    }
  }
  if (::optind < argc) {
    usageFailure(kProgram, std::string("unexpected argument '") + argv[::optind] + "'");
    return Scan::kRefused;
  }
  if (!o.haveData || !o.haveDesc || !o.haveClusters) {
    usageFailure(kProgram, "-d DATA, -n DESC and -k K are all required");
    return Scan::kRefused;
  }
  if (o.snapshots && !o.output) {
    usageFailure(kProgram,
                 "--snapshots goes with -o (without -o the snapshot files are written anyway)");
    return Scan::kRefused;
  }
  return Scan::kRun;
}

// Writes the label of every data row, ofStart[its starting cluster], one a line.
void writeLabels(std::FILE* out, const Hierarchy& h, const std::vector<int>& ofStart) {
  char line[16];
  for (int r = 0; r < h.rowCount(); ++r) {
    const int n = std::snprintf(line, sizeof line, "%d\n", ofStart[h.startOfRow(r)]);
    std::fwrite(line, 1, static_cast<size_t>(n), out);
  }
}

}  // namespace

std::vector<int> numberBySize(const std::vector<int>& labels) {
  struct Cluster {
    long long size = 0;
    size_t firstRow = 0;
    int number = 0;
  };
  std::map<int, Cluster> clusters;
  for (size_t row = 0; row < labels.size(); ++row) {
    auto [it, fresh] = clusters.try_emplace(labels[row]);
    if (fresh) it->second.firstRow = row;
    ++it->second.size;
  }
  std::vector<Cluster*> order;
  for (auto& [label, c] : clusters) order.push_back(&c);
  std::sort(order.begin(), order.end(), [](const Cluster* a, const Cluster* b) {
    return a->size != b->size ? a->size > b->size : a->firstRow < b->firstRow;
  });
  for (size_t i = 0; i < order.size(); ++i) order[i]->number = static_cast<int>(i) + 1;
  std::vector<int> out(labels.size());
  for (size_t row = 0; row < labels.size(); ++row) out[row] = clusters[labels[row]].number;
  return out;
}

int runLabels(int argc, char* argv[]) {
  setProgramName("kelbow-labels");
  installOutOfMemoryHandler();
  LabelsOptions o;
  const Scan scanned = scanOptions(argc, argv, o);
  if (scanned != Scan::kRun) return scanStatus(scanned);
  int k = 0;
  if (!parseClusters(o.clusters.c_str(), k))
    return companionFailure(
        kProgram, "the number of clusters '" + o.clusters + "' is not an integer of at least 2");

  TableDescription declared;
  if (!readDeclaredSize(o.desc, "kelbow-labels: can't open the description file\n", declared))
    return kCompanionFailure;

  TextProgress progress(stderr);
  AnalysisSettings settings;
  settings.keepRows = true;
  Hierarchy hierarchy;
  std::string err;
  std::string snapshotBase;  // DATAf<F>nc<N>.hier
  {
    EntropyClustering analysis(o.data.c_str(), o.desc.c_str(), false, settings, progress);
    if (!analysis.filesOpen()) {
      error(analysis.openFailures(), false);
      return kCompanionFailure;
    }
    if (!loadStartingClusters(analysis, declared.rows, err)) {
      progress.endLine();
      error(err, false);
      return kCompanionFailure;
    }
    if (k > analysis.clusterCount) {
      return companionFailure(kProgram, std::to_string(k) +
                                            " clusters asked for, but the table starts from " +
                                            std::to_string(analysis.clusterCount) + " clusters");
    }
    analysis.agglomerate(-1);
    snapshotBase = analysis.snapshotFileName(0);
    snapshotBase.pop_back();
    hierarchy = Hierarchy::take(analysis);
  }

  // Every file appears under its real name only when the whole run has worked.
  OutputFiles kept;
  std::vector<std::string> snapshotNames;
  if (!o.output || o.snapshots) {
    for (int level = k; level >= 2; --level) {
      const std::string name = snapshotBase + std::to_string(level);
      std::FILE* out = kept.open(name, err);
      if (out == nullptr) return companionFailure(kProgram, err);
      writeLabels(out, hierarchy, startLabels(hierarchy.merges(), hierarchy.startCount(), level));
      if (!OutputFiles::close(out, name, err)) return companionFailure(kProgram, err);
      snapshotNames.push_back(name);
    }
  }
  const bool toStdout = o.output && *o.output == "-";
  if (o.output) {
    const std::vector<int> numbers = hierarchy.startNumbersBySize(k);
    if (toStdout) {
      writeLabels(stdout, hierarchy, numbers);
      if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return companionFailure(
            kProgram, std::string("standard output: cannot write (") + std::strerror(errno) + ")");
    } else {
      std::FILE* out = kept.open(*o.output, err);
      if (out == nullptr) return companionFailure(kProgram, err);
      writeLabels(out, hierarchy, numbers);
      if (!OutputFiles::close(out, *o.output, err)) return companionFailure(kProgram, err);
    }
  }
  if (!kept.commit(err)) return companionFailure(kProgram, err);
  // Standard output holds the labels, or the names of the snapshot files written.
  std::string text;
  if (!toStdout)
    for (const std::string& name : snapshotNames) text += name + "\n";
  return writeStandardOutput(kProgram, text);
}

}  // namespace kelbow
