// The analysis object of one run: its three streams, the starting clusters,
// the per-attribute tables and, for large tables, the summary tree.
//
// The run driver constructs it, fills it with exactly one loader (loadAll for
// small tables, summarize for large ones), calls agglomerate and destroys it.
// Each operation lives in the room of its subsystem: loadAll in input/,
// agglomerate and the snapshots in merge/, summarize beside this file.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cluster/cluster_summary.h"
#include "input/byte_source.h"
#include "input/description_text.h"

namespace kelbow {

class CFTree;

class EntropyClustering {
 public:
  // Opens the data and description files for reading and, when resultFileName is
  // not null, a result stream in memory that collects what the run appends (the
  // run driver writes it to the result file at the end). A file that cannot be
  // opened is reported on standard error and construction goes on; see filesOpen().
  EntropyClustering(const char* dataFileName, const char* descriptionFileName,
                    const char* resultFileName);
  // The same with a description the caller has opened (and perhaps read from)
  // already; the object keeps it.
  EntropyClustering(const char* dataFileName, DescriptionText description, bool collectResult);
  virtual ~EntropyClustering();
  EntropyClustering(const EntropyClustering&) = delete;
  EntropyClustering& operator=(const EntropyClustering&) = delete;

  // True when every stream the constructor tried to open is open.
  bool filesOpen() const;

  // What the result stream collected, once agglomerate has closed it.
  std::string resultText() const;

  // Reads the description and the whole data file: one starting cluster per
  // record. rowLimit > 0 loads only that many records. Refuses bad input with
  // one line on standard error and ends the process (status 1).
  void loadAll(int rowLimit);

  // Condenses the data file through the summary tree (fan-out f, at most nc
  // leaf entries, closeness threshold) into the starting clusters.
  void summarize(int f, int nc, float threshold);

  // Merges the starting clusters down to one, appends the kelbow block to the
  // result stream (when open) and closes it. Writes hierarchy snapshots as
  // targetK asks (-1: none). Returns the normalised expected entropy at targetK
  // clusters, or 0 for a targetK outside 1..39.
  float agglomerate(int targetK);

  // Writes the label of every data row at the current level of k clusters.
  void writeHierarchySnapshot(int k);

  // Name of the snapshot file for k clusters.
  std::string snapshotFileName(int k) const;
  // Added to every snapshot file name while it is written, so that a caller can
  // write the files under temporary names and rename them when all are done.
  std::string snapshotSuffix;
  // When above 0, writeHierarchySnapshot writes this level only (a caller that
  // wants the labels of one level, not the files of every level below it).
  int snapshotOnlyLevel = 0;

  // Streams, each opened once: the loader that reads dataFile closes it;
  // agglomerate closes resultFile (a stream in memory); the destructor closes
  // what is still open.
  std::unique_ptr<ByteSource> dataFile;
  std::FILE* resultFile = nullptr;
  DescriptionText descriptionFile;
  std::string dataFileName;
  std::string descriptionFileName;
  std::string treeFileName;

  int clusterCount = 0;    // starting clusters
  int attributeCount = 0;
  int rowCount = 0;        // data rows N
  std::vector<int> domainSizes;
  std::vector<std::unique_ptr<ClusterSummary>> clusters;
  std::vector<float> logTable;  // small-table road only: rowCount + 1 entries
  std::vector<float> weights;
  std::unique_ptr<CFTree> tree;  // large tables only
  int f = 0;   // tree fan-out (0 on the small-table road)
  int nc = 0;  // tree leaf-entry budget (0 on the small-table road)
  float normalisedCurve[40] = {};  // expected entropy by number of clusters, 1..39
  bool resultWriteFailed = false;  // the kelbow block did not reach the result file
  // Set before summarize when hierarchy snapshots will be written: the tree then
  // records which starting cluster every row went to (four bytes a row). Plain
  // runs keep nothing per row.
  bool keepMembers = false;

 private:
  // Opens the data file and, when wanted, the result stream.
  void openStreams(const char* data, bool collectResult);

  bool resultWanted_ = false;
  char* resultBuffer_ = nullptr;  // the result stream's memory, freed by the destructor
  std::size_t resultSize_ = 0;
};

}  // namespace kelbow
