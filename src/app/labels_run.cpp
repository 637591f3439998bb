#include "app/labels_run.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "analysis/hierarchy.h"
#include "analysis/road.h"
#include "api/held_rows.h"
#include "app/companion.h"
#include "app/output_files.h"
#include "app/run.h"
#include "app/text_progress.h"
#include "assign/model.h"
#include "assign/refine.h"
#include "choose/code_table.h"
#include "common/error.h"
#include "input/byte_source.h"
#include "input/description_text.h"
#include "input/table_reader.h"

namespace kelbow {

namespace {

constexpr std::string_view kProgram = "kelbow-labels";

constexpr std::string_view kHelp =
    "Usage: kelbow-labels -d DATA -n DESC -k K [-o FILE [--snapshots]] [--refine]\n"
    "                     [--model MODEL]\n"
    "       kelbow-labels --from RECORD -k K -o FILE\n"
    "Clusters the table exactly as kelbow does (nothing is appended to DATA.kelbow) and\n"
    "writes the cluster of every data row for K clusters. With -o: one file, one label per\n"
    "data row in row order, the clusters numbered 1..K by size, largest first (clusters of\n"
    "one size in the order of their first rows). Without -o: one snapshot file per level\n"
    "from K clusters down to 2, DATAf<F>nc<N>.hier<k> with labels 0..k-1 (F and N are 20\n"
    "and 800 on tables of 1500 rows or more, else 0 and 0), whose names are printed.\n"
    "With --refine the K clusters of -o and --model are refined: rows move one at a\n"
    "time to the cluster whose entropy they raise least, pass after pass, and the\n"
    "entropy before and after and the moves are told on standard error. --model writes\n"
    "the model of the K clusters for kelbow-assign. Progress goes to standard error.\n"
    "With --from, the labels come from the record of a run that kelbow-report or\n"
    "kelbow-choose wrote (--record): the table is not read and not clustered again, and\n"
    "every level gives the labels of that one run.\n"
    "\n"
    "Options:\n"
    "  -d, --data DATA      the data file\n"
    "  -n, --desc DESC      the description file\n"
    "  -k, --clusters K     the number of clusters, from 2 to the number of starting clusters\n"
    "  -o, --output FILE    write the labels for exactly K clusters to FILE (- for standard\n"
    "                       output) instead of the snapshot files\n"
    "      --snapshots      with -o, write the snapshot files too (their names are printed\n"
    "                       unless the labels go to standard output)\n"
    "      --refine         refine the partition at K (needs -o or --model)\n"
    "      --passes N       with --refine, at most N passes over the rows (default 20)\n"
    "      --model MODEL    write the model of the K clusters (encoding from DATA's\n"
    "                       .codes, .names and .missing when they exist) to MODEL\n"
    "      --from RECORD    take the clustering from a run's record instead (with -k and\n"
    "                       -o; without -d, -n, --snapshots, --refine and --model)\n"
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
    "  kelbow-labels -d critters.data -n critters.desc -k 6\n"
    "  kelbow-labels -d critters.data -n critters.desc -k 4 -o critters.k4 --refine \\\n"
    "      --model critters.model\n"
    "  kelbow-labels --from critters.run -k 2 -o critters.k2\n";

enum LongOnly {
  kSnapshotsOption = kFirstLongOnly,
  kRefineOption,
  kPassesOption,
  kModelOption,
  kFromOption
};

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
  std::optional<std::string> output, model, from;
  bool snapshots = false, refine = false;
  int passes = kDefaultPassLimit;
  bool havePasses = false;
};

Scan scanOptions(int argc, char* argv[], LabelsOptions& o) {
  static const option kLong[] = {{"data", required_argument, nullptr, 'd'},
                                 {"desc", required_argument, nullptr, 'n'},
                                 {"clusters", required_argument, nullptr, 'k'},
                                 {"output", required_argument, nullptr, 'o'},
                                 {"snapshots", no_argument, nullptr, kSnapshotsOption},
                                 {"refine", no_argument, nullptr, kRefineOption},
                                 {"passes", required_argument, nullptr, kPassesOption},
                                 {"model", required_argument, nullptr, kModelOption},
                                 {"from", required_argument, nullptr, kFromOption},
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
      case kRefineOption:
        o.refine = true;
        break;
      case kPassesOption: {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(::optarg, &end, 10);
        if (end == ::optarg || *end != '\0' || errno != 0 || n < 1 || n > INT_MAX) {
          usageFailure(kProgram,
                       std::string("--passes '") + ::optarg + "' is not a count of at least 1");
          return Scan::kRefused;
        }
        o.passes = static_cast<int>(n);
        o.havePasses = true;
        break;
      }
      case kModelOption:
        o.model = ::optarg;
        break;
      case kFromOption:
        o.from = ::optarg;
        break;
      default:
        return commonOption(c, argv, kProgram, kHelp);
    }
  }
  if (::optind < argc) {
    usageFailure(kProgram, std::string("unexpected argument '") + argv[::optind] + "'");
    return Scan::kRefused;
  }
  if (o.from) {
    if (o.haveData || o.haveDesc || !o.haveClusters || !o.output || o.snapshots || o.refine ||
        o.model || o.havePasses) {
      usageFailure(kProgram,
                   "--from RECORD goes with -k K and -o FILE, without -d, -n, --snapshots, "
                   "--refine and --model");
      return Scan::kRefused;
    }
    return Scan::kRun;
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
  if (o.refine && !o.output && !o.model) {
    usageFailure(kProgram, "--refine goes with -o or --model (the snapshots are the hierarchy's)");
    return Scan::kRefused;
  }
  if (o.havePasses && !o.refine) {
    usageFailure(kProgram, "--passes goes with --refine");
    return Scan::kRefused;
  }
  return Scan::kRun;
}

// Writes one label per row, one a line.
void writeRowLabels(std::FILE* out, const std::vector<int>& labels) {
  char line[16];
  for (int label : labels) {
    const int n = std::snprintf(line, sizeof line, "%d\n", label);
    std::fwrite(line, 1, static_cast<size_t>(n), out);
  }
}

// Writes the label of every data row, ofStart[its starting cluster], one a line.
void writeLabels(std::FILE* out, const Hierarchy& h, const std::vector<int>& ofStart) {
  char line[16];
  for (int r = 0; r < h.rowCount(); ++r) {
    const int n = std::snprintf(line, sizeof line, "%d\n", ofStart[h.startOfRow(r)]);
    std::fwrite(line, 1, static_cast<size_t>(n), out);
  }
}

// The hierarchy of a run's record; false after reporting what is wrong.
bool readRecord(const std::string& path, Hierarchy& h) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return companionFailure(kProgram, path + ": cannot open (" + std::strerror(errno) + ")"), false;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return companionFailure(kProgram, path + ": read error"), false;
  std::string err;
  if (!Hierarchy::fromRecord(bytes, h, err))
    return companionFailure(kProgram, path + ": " + err), false;
  return true;
}

}  // namespace

int runLabels(int argc, char* argv[]) {
  startCompanion("kelbow-labels");
  prefixMessages();
  LabelsOptions o;
  const Scan scanned = scanOptions(argc, argv, o);
  if (scanned != Scan::kRun) return scanStatus(scanned);
  int k = 0;
  if (!parseClusters(o.clusters.c_str(), k))
    return companionFailure(
        kProgram, "the number of clusters '" + o.clusters + "' is not an integer of at least 2");

  // Every file appears under its real name only when the whole run has worked,
  // and never in place of an input.
  OutputFiles kept;
  kept.protect(o.data);
  kept.protect(o.desc);
  std::string base = o.data;  // the table's other files are BASE.codes, ...
  if (base.size() > 5 && base.ends_with(".data")) base.resize(base.size() - 5);
  for (const char* ext : {".codes", ".names", ".missing", ".labels"}) kept.protect(base + ext);
  const bool toStdout = o.output && *o.output == "-";
  const bool snapshots = !o.output || o.snapshots;
  std::string err;
  // The labels file is made before the clustering, so that a place that takes
  // no file is said at once.
  std::FILE* labelsFile = nullptr;
  if (o.output && !toStdout && (labelsFile = kept.open(*o.output, err)) == nullptr)
    return companionFailure(kProgram, err);
  struct Closer {
    std::FILE*& f;
    ~Closer() {
      if (f != nullptr) std::fclose(f);
    }
  } closer{labelsFile};

  Hierarchy hierarchy;
  std::string snapshotBase;  // DATAf<F>nc<N>.hier
  if (o.from) {
    kept.protect(*o.from);
    if (!readRecord(*o.from, hierarchy)) return kCompanionFailure;
    if (k > hierarchy.startCount())
      return companionFailure(kProgram, std::to_string(k) +
                                            " clusters asked for, but the run started from " +
                                            std::to_string(hierarchy.startCount()) + " clusters");
  } else {
    TableDescription declared;
    {
      DescriptionText description;
      if (!description.open(o.desc))
        return companionFailure(kProgram, o.desc + ": cannot open (" + std::strerror(errno) + ")");
      if (!readDeclaredSize(description, declared)) return kCompanionFailure;
    }

    TextProgress progress(stderr);
    AnalysisSettings settings;
    settings.keepRows = true;
    {
      std::optional<SetReadLock> tableLock(std::in_place, std::vector<std::string>{o.desc, o.data});
      EntropyClustering analysis(o.data.c_str(), o.desc.c_str(), false, settings, progress);
      if (!analysis.filesOpen()) {
        error(analysis.openFailures(), false);
        return kCompanionFailure;
      }
      tableLock.reset();
      if (snapshots) {
        // The snapshots' directory is tried before the clustering too.
        OutputFiles probe;
        std::FILE* f = probe.open(analysis.snapshotFileName(k), err);
        if (f == nullptr) return companionFailure(kProgram, err);
        std::fclose(f);
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
  }

  std::vector<std::string> snapshotNames;
  if (snapshots) {
    for (int level = k; level >= 2; --level) {
      const std::string name = snapshotBase + std::to_string(level);
      std::FILE* out = kept.open(name, err);
      if (out == nullptr) return companionFailure(kProgram, err);
      writeLabels(out, hierarchy, startLabels(hierarchy.merges(), hierarchy.startCount(), level));
      if (!OutputFiles::close(out, name, err)) return companionFailure(kProgram, err);
      snapshotNames.push_back(name);
    }
    // Snapshots of levels above K, from an earlier run, would mix two runs.
    for (int level = k + 1; level <= hierarchy.startCount(); ++level)
      kept.removeAtCommit(snapshotBase + std::to_string(level));
  }
  std::vector<int> labels;  // refined, or the cut's when a model needs them
  if (o.refine || o.model) {
    std::unique_ptr<CodeTable> table;
    if (!readCodeTable(o.desc, o.data, table, err)) {
      while (!err.empty() && err.back() == '\n') err.pop_back();
      return companionFailure(kProgram, err);
    }
    if (table->rowCount() != hierarchy.rowCount())
      return companionFailure(kProgram, o.data + ": changed while it was read (" +
                                            std::to_string(table->rowCount()) + " rows, then " +
                                            std::to_string(hierarchy.rowCount()) + ")");
    const HeldRows rows(*table);
    labels = hierarchy.labels(k);
    const std::vector<int>& sizes = table->description().domainSizes;
    if (o.refine) {
      std::string what;
      labels = refineCut(rows, sizes, k, labels, o.passes, what);
      companionFailure(kProgram, what);
    }
    if (o.model) {
      Encoding encoding;
      if (!readEncoding(base, sizes, encoding, err)) return companionFailure(kProgram, err);
      std::vector<int> zeroBased(labels);
      for (int& l : zeroBased) --l;
      if (!kept.writeWhole(*o.model, modelJson(trainModel(rows, std::move(encoding), k, zeroBased)),
                           err))
        return companionFailure(kProgram, err);
    }
  }
  if (o.output) {
    const std::vector<int> numbers = hierarchy.startNumbersBySize(k);
    if (toStdout) {
      if (o.refine)
        writeRowLabels(stdout, labels);
      else
        writeLabels(stdout, hierarchy, numbers);
    } else {
      if (o.refine)
        writeRowLabels(labelsFile, labels);
      else
        writeLabels(labelsFile, hierarchy, numbers);
      if (!OutputFiles::close(std::exchange(labelsFile, nullptr), *o.output, err))
        return companionFailure(kProgram, err);
    }
  }
  // Standard output holds the labels, or the names of the snapshot files. It
  // is written before the files are put in place: when it fails, no file is.
  std::string text;
  if (!toStdout)
    for (const std::string& name : snapshotNames) text += name + "\n";
  if (writeStandardOutput(kProgram, text) != 0) return kCompanionFailure;
  if (!kept.commit(err)) return companionFailure(kProgram, err);
  return 0;
}

}  // namespace kelbow
