// The analysis object of one run: its streams, the starting clusters, the
// per-attribute tables and, for large tables, the summary tree.
//
// A caller constructs it on a table in files (data and description) or on rows
// it holds or makes (a RowSource), with the settings of the run and a Progress
// that hears how far it has come; fills it with exactly one loader (loadAll for
// small tables, summarize for large ones: loadStartingClusters in road.h picks
// the one kelbow picks), calls agglomerate and reads the results back: the
// entropy curve, the kelbow block, the merges and, when the rows were kept, the
// cluster of every row at any level (Hierarchy, hierarchy.h). The object prints
// nothing and writes no file: bad input comes back as a false result with one
// line in err.
//
// The loaders live in load_all.cpp and summarize.cpp, the merge driver in
// agglomerate.cpp, the snapshots in hierarchy_snapshot.cpp.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "analysis/road.h"
#include "cluster/cluster_summary.h"
#include "common/progress.h"
#include "input/byte_source.h"
#include "input/description_text.h"
#include "input/table_reader.h"

namespace kelbow {

class CFTree;

// How a run goes: the road threshold and the summary tree's parameters, and
// whether the rows of the starting clusters are kept so that labels can be
// given (four bytes a row on the large-table road; nothing on the direct road,
// where every row is a starting cluster).
struct AnalysisSettings {
  int directRowLimit = kDirectRowLimit;  // fewer declared rows: one starting cluster per row
  int fanOut = kTreeFanOut;              // the summary tree: entries per node,
  int leafEntries = kTreeLeafEntries;    //   leaf entries at most,
  float threshold = kTreeThreshold;      //   merge cost below which entries count as close
  bool keepRows = false;
  // Threads the run may use (the calling one included): above 1, a large
  // table's rows are read ahead on a helper thread and the merge loop shares
  // its pair costs out; every value is the same on any number. Callers that
  // run many analyses side by side leave it at 1.
  int threads = 1;
};

// One merge of agglomerate: `absorbed` joined `survivor`, which keeps its
// number; both are starting-cluster numbers. `cost` is what the summed entropy
// value rose by.
struct MergeStep {
  int survivor;
  int absorbed;
  float cost;
};

class EntropyClustering {
 public:
  // A table in files. Opens the data file for reading and, with collectResult,
  // a result stream in memory that collects what the run appends (the caller
  // writes it to the result file at the end); keeps the description, which the
  // caller has opened (and perhaps read from) already. A stream that cannot be
  // opened is told by openFailures(); construction goes on.
  EntropyClustering(const char* dataFileName, DescriptionText description, bool collectResult,
                    const AnalysisSettings& settings = {}, Progress& progress = silentProgress());
  // The same, opening the description file itself.
  EntropyClustering(const char* dataFileName, const char* descriptionFileName, bool collectResult,
                    const AnalysisSettings& settings = {}, Progress& progress = silentProgress());
  // A table whose rows come from `rows` (which must outlive the loader), as
  // described by `desc`; no file is opened and no result stream kept.
  EntropyClustering(const TableDescription& desc, RowSource& rows,
                    const AnalysisSettings& settings = {}, Progress& progress = silentProgress());
  virtual ~EntropyClustering();
  EntropyClustering(const EntropyClustering&) = delete;
  EntropyClustering& operator=(const EntropyClustering&) = delete;

  // True when every stream the constructor tried to open is open.
  bool filesOpen() const;
  // What to tell the user about the streams that could not be opened: for each,
  // its fixed line and "PROGRAM: FILE: reason" (empty when all are open).
  const std::string& openFailures() const { return openFailures_; }

  // What the result stream collected, once agglomerate has closed it.
  std::string resultText() const;

  // Reads the description and every row: one starting cluster per row.
  // rowLimit > 0 loads only that many rows. False, with err set to one line,
  // on bad input.
  bool loadAll(int rowLimit, std::string& err);

  // Condenses the rows through the summary tree (fan-out f, at most nc leaf
  // entries, closeness threshold) into the starting clusters. False, with err
  // set to one line, on bad input.
  bool summarize(int f, int nc, float threshold, std::string& err);

  // Merges the starting clusters down to one, recording every merge in
  // `merges`, appends the kelbow block to the result stream (when open) and
  // closes it. Hands hierarchy snapshots to the snapshot sink as targetK asks
  // (-1: none; 0: every level below 20; K: levels K down to 2). Returns the
  // normalised expected entropy at targetK clusters, or 0 for a targetK
  // outside 1..39.
  float agglomerate(int targetK);

  // Hands the label of every data row at the current level of k clusters to
  // the snapshot sink (labels 0 .. k-1, the live clusters in ascending number).
  void writeHierarchySnapshot(int k);
  // Receives the snapshots; unset, snapshots go nowhere.
  std::function<void(int k, const std::vector<int>& labels)> snapshotSink;
  // Name of the snapshot file for k clusters, for callers that write them.
  std::string snapshotFileName(int k) const;

  const AnalysisSettings& settings() const { return settings_; }
  Progress& progress() const { return *progress_; }

  // Streams, each opened once: the loader that reads dataFile closes it;
  // agglomerate closes resultFile (a stream in memory); the destructor closes
  // what is still open.
  std::unique_ptr<ByteSource> dataFile;
  std::FILE* resultFile = nullptr;
  DescriptionText descriptionFile;
  std::string dataFileName;
  std::string descriptionFileName;
  std::string treeFileName;

  int clusterCount = 0;  // starting clusters
  int attributeCount = 0;
  int rowCount = 0;  // data rows N
  std::vector<int> domainSizes;
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  std::vector<float> logTable;  // small-table road only: rowCount + 1 entries
  std::vector<float> weights;
  std::unique_ptr<CFTree> tree;    // large tables only
  int f = 0;                       // tree fan-out (0 on the small-table road)
  int nc = 0;                      // tree leaf-entry budget (0 on the small-table road)
  float normalisedCurve[40] = {};  // expected entropy by number of clusters, 1..39
  std::vector<MergeStep> merges;   // agglomerate's merges, in order
  bool resultWriteFailed = false;  // the kelbow block did not reach the result file

 private:
  // Opens the data file and, when wanted, the result stream.
  void openStreams(const char* data, bool collectResult);
  // The rows the loaders read: the given source, or a reader over the data file.
  RowSource* rowSource(const std::vector<int>& domains);

  AnalysisSettings settings_;
  Progress* progress_;
  RowSource* rows_ = nullptr;               // rows a caller hands in
  std::unique_ptr<RecordReader> fileRows_;  // or the data file's records
  bool describedByCaller_ = false;          // the caller gave the description:
  TableDescription givenDescription_;       //   this one
  std::string openFailures_;
  bool resultWanted_ = false;
  char* resultBuffer_ = nullptr;  // the result stream's memory, freed by the destructor
  std::size_t resultSize_ = 0;
};

}  // namespace kelbow
