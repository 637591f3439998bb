// The large-table loader of the analysis object: the summary tree condenses
// the data file into a bounded number of starting clusters, so that the merge
// loop's pair table stays small whatever the number of rows.
#include <cstdio>

#include "analysis/entropy_clustering.h"
#include "common/error.h"
#include "input/attribute_context.h"
#include "summary/cf_tree.h"

namespace kelbow {

void EntropyClustering::summarize(int f, int nc, float threshold) {
  // A tree file left by an earlier run is stale; it may well not exist.
  std::remove(treeFileName.c_str());

  this->f = f;
  this->nc = nc;
  if (dataFile == nullptr || !descriptionFile.isOpen())
    fatal("summarize: the data or description file is not open\n");
  // The tree reads the description from its start and the data through the
  // object's own stream: each file is opened once, so either may be a pipe.
  tree = std::make_unique<CFTree>(descriptionFile, *dataFile, dataFileName, treeFileName, threshold,
                                  nc, f, keepMembers);

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
  dataFile.reset();
}

}  // namespace kelbow
