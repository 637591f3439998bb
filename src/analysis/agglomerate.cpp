// The bottom-up merge of the analysis object's starting clusters, the entropy
// curve it records and the kelbow block it appends.
#include <cstdio>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "merge/kelbow_output.h"
#include "merge/merge_loop.h"

namespace kelbow {

namespace {

// A snapshot is written after the merge that leaves k clusters when the caller
// asked for levels down from targetK, or for every level below 20 (targetK 0).
bool snapshotWanted(int k, int targetK) {
  return (k > 1 && k <= targetK) || (targetK == 0 && k < 20);
}

}  // namespace

float EntropyClustering::agglomerate(int targetK) {
  const int n = clusterCount;
  MergeLoop loop(clusters, UnionSums::Method::kChoose, settings_.threads);
  const float start = loop.setUp();

  // Entries no merge reaches (k >= n, when fewer than 40 clusters start) hold
  // the starting value, so the curve is flat above n; entry 0 is never used.
  float entropyCurve[kCurveSize] = {};
  for (int k = n; k < kCurveSize; ++k)
    if (k >= 1) entropyCurve[k] = start;

  float totalEntropy = start;
  merges.clear();
  merges.reserve(n > 0 ? n - 1 : 0);
  for (int k = n; k > 1;) {
    progress_->merged(n - k + 1, n - 1);
    const MergeLoop::Merge merged = loop.mergeCheapest();
    merges.push_back({merged.survivor, merged.absorbed, merged.cost});
    totalEntropy = static_cast<float>(static_cast<double>(totalEntropy) + merged.cost);
    --k;
    if (k < kCurveSize) entropyCurve[k] = totalEntropy;
    if (snapshotWanted(k, targetK)) writeHierarchySnapshot(k);
  }

  for (int t = 1; t < kCurveSize; ++t) {
    entropyCurve[t] = static_cast<float>(entropyCurve[t] / static_cast<double>(rowCount));
    normalisedCurve[t] = entropyCurve[t];
  }

  if (resultFile != nullptr) {
    writeKelbowBlock(resultFile, dataFileName, entropyCurve);
    // A block that did not reach the file (a full disk) must not pass for a result.
    const bool failed = std::ferror(resultFile) != 0;
    if (std::fclose(resultFile) != 0 || failed) resultWriteFailed = true;
    resultFile = nullptr;
  }
  return targetK >= 1 && targetK < kCurveSize ? entropyCurve[targetK] : 0.0f;
}

}  // namespace kelbow
