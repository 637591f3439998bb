// The large-table loader of the analysis object: the summary tree condenses
// the rows into a bounded number of starting clusters, so that the merge
// loop's pair table stays small whatever the number of rows.
#include <cstdio>

#include "analysis/entropy_clustering.h"
#include "input/attribute_context.h"
#include "input/read_ahead_rows.h"
#include "summary/cf_tree.h"
#include "summary/leaf_stage.h"

namespace kelbow {

bool EntropyClustering::summarize(int f, int nc, float threshold, std::string& err) {
  this->f = f;
  this->nc = nc;
  TableDescription desc;
  if (describedByCaller_) {
    desc = givenDescription_;
    progress_->tableSize(desc.rows, desc.attributeCount);
    for (int d : desc.domainSizes) progress_->domainSize(d);
  } else {
    // A tree file left by an earlier run is stale; it may well not exist.
    std::remove(treeFileName.c_str());
    if (dataFile == nullptr || !descriptionFile.isOpen()) {
      err = "summarize: the data or description file is not open\n";
      return false;
    }
    // The description from its start and the data through the object's own
    // stream: each file is opened once, so either may be a pipe.
    const std::unique_ptr<ByteSource> in = descriptionFile.reader();
    if (!readDescription(*in, descriptionFileName, desc, err, progress_)) {
      err += descriptionFile.swappedFilesHint();
      return false;
    }
  }
  tree = std::make_unique<CFTree>(desc, threshold, nc, f, settings_.keepRows, descriptionFileName);
  RowSource* rows = rowSource(tree->domainSizes);
  if (rows == nullptr) {
    err = "summarize: the data file is not open\n";
    return false;
  }
  // More than one thread: a reader thread reads and parses the rows ahead,
  // and once the tree is full a thread of its own puts the rows in the leaves.
  bool read;
  if (settings_.threads > 1) {
    ReadAheadRows ahead(*rows, desc.attributeCount, desc.domainSizes.data());
    LeafStage leaves(*tree);
    read = tree->readRows(ahead, desc.rows, *progress_, err);
    leaves.finish();
  } else {
    read = tree->readRows(*rows, desc.rows, *progress_, err);
  }
  if (!read) return false;

  rowCount = tree->rowsInserted;
  attributeCount = tree->attributeCount;
  domainSizes.assign(tree->domainSizes.begin(), tree->domainSizes.begin() + attributeCount);
  weights.assign(tree->weights.begin(), tree->weights.begin() + attributeCount);
  // No logarithm table: the cluster arithmetic takes log2 of a count of any
  // size from log2Count, so nothing here grows with the number of rows.

  gWeights = weights.data();
  gDomainSizes = domainSizes.data();

  // The first cluster made here captures the attribute context from the tree's
  // own tables, which hold the same values as the copies above.
  clusterCount = tree->extractClusters(clusters);

  if (resultFile != nullptr) std::fprintf(resultFile, "f=%d, nc=%d\n", f, nc);
  fileRows_.reset();
  dataFile.reset();
  return true;
}

}  // namespace kelbow
