#include "assign/refine.h"

#include "assign/row_costs.h"

namespace kelbow {

namespace {

double summedEntropy(const std::vector<ClusterRowCosts>& clusters) {
  double sum = 0;
  for (const ClusterRowCosts& c : clusters) sum += c.entropy();
  return sum;
}

}  // namespace

RefineResult refine(const TrainingRows& rows, const std::vector<int>& domainSizes, int k,
                    std::vector<int>& labels, int passLimit) {
  const RowCostLayout layout(domainSizes);
  std::vector<ClusterRowCosts> clusters;
  clusters.reserve(k);
  for (int c = 0; c < k; ++c) clusters.emplace_back(layout, true);
  std::vector<int> codes(domainSizes.size());
  for (int r = 0; r < rows.rowCount(); ++r) {
    rows.codes(r, codes.data());
    clusters[labels[r]].add(codes.data());
  }
  for (ClusterRowCosts& c : clusters) c.rebuild();

  RefineResult result;
  result.entropyBefore = summedEntropy(clusters);
  while (result.passes < passLimit && !result.settled) {
    ++result.passes;
    long long moved = 0;
    for (int r = 0; r < rows.rowCount(); ++r) {
      const int own = labels[r];
      if (clusters[own].rows() < 2) continue;
      rows.codes(r, codes.data());
      const double stay = clusters[own].decrease(codes.data());
      int best = -1;
      double least = stay;
      for (int c = 0; c < k; ++c) {
        if (c == own) continue;
        const double rise = clusters[c].increase(codes.data());
        if (rise < least) {  // strict: the first of equal rises, the lower label, wins
          least = rise;
          best = c;
        }
      }
      if (best < 0) continue;
      clusters[own].remove(codes.data());
      clusters[own].rebuild();
      clusters[best].add(codes.data());
      clusters[best].rebuild();
      labels[r] = best;
      ++moved;
    }
    result.moved += moved;
    result.settled = moved == 0;
  }
  result.entropyAfter = summedEntropy(clusters);
  return result;
}

Model trainModel(const TrainingRows& rows, Encoding encoding, int k,
                 const std::vector<int>& labels) {
  Model model(std::move(encoding), k);
  std::vector<int> codes(model.attributeCount());
  for (int r = 0; r < rows.rowCount(); ++r) {
    rows.codes(r, codes.data());
    model.addRow(labels[r], codes.data());
  }
  return model;
}

}  // namespace kelbow
