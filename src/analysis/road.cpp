#include "analysis/road.h"

#include <cstdio>

#include "analysis/entropy_clustering.h"

namespace kelbow {

void loadStartingClusters(EntropyClustering& analysis, int declaredRows) {
  if (declaredRows < kDirectRowLimit) {
    std::printf("%d rows\n", declaredRows);
    analysis.loadAll(0);
  } else {
    analysis.summarize(kTreeFanOut, kTreeLeafEntries, kTreeThreshold);
  }
}

}  // namespace kelbow
