#include "analysis/road.h"

#include "analysis/entropy_clustering.h"

namespace kelbow {

bool loadStartingClusters(EntropyClustering& analysis, int declaredRows, std::string& err) {
  const AnalysisSettings& s = analysis.settings();
  if (declaredRows < s.directRowLimit) {
    analysis.progress().directRoad(declaredRows);
    return analysis.loadAll(0, err);
  }
  return analysis.summarize(s.fanOut, s.leafEntries, s.threshold, err);
}

}  // namespace kelbow
