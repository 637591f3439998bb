// The tests that say how much a difference between clusters means, for
// kelbow-profile and kelbow-report: a test per value (its share in a cluster
// against its share in the whole table), the variables ranked by how strongly
// they separate the clusters, and each cluster's most typical rows.
#pragma once

#include <vector>

#include "profile/cluster_profile.h"

namespace kelbow {

// P(Z >= z) for a standard normal Z.
double normalUpperTail(double z);
// P(X >= x) for X chi-square with `degrees` degrees of freedom (> 0).
double chiSquareUpperTail(double x, double degrees);

// The over-representation of a value in a cluster: `count` of the cluster's
// `size` rows hold it, `total` of all `rows` do. Drawn without replacement,
// count is hypergeometric; z is its distance from the expected count in
// standard deviations of that law, and p = P(Z >= z) its normal approximation
// (one-sided: only values above their share are called distinctive). A value
// every row or no row holds, or a cluster of every row, gives z = 0, p = 1.
void testValue(long long count, long long size, long long total, long long rows, double& z,
               double& p);

// Fills z and p of every distinctive value of `profiles` (profileClusters' output).
void testDistinctiveValues(const ClusterCounts& counts, std::vector<ClusterProfile>& profiles);

// How strongly one attribute separates the clusters: the chi-square statistic
// of its clusters x values table (missing markers left out), its degrees of
// freedom and p-value, and Cramer's V = sqrt(chi2 / (n (min(clusters, values) - 1))),
// 0 (no link) to 1 (the value tells the cluster, or the cluster the value).
struct VariableSeparation {
  int attribute = 0;
  double chiSquare = 0;
  int degrees = 0;
  double pValue = 1;
  double cramersV = 0;
};

// Every attribute, strongest first (by V, then chi-square, then attribute).
// Clusters and values without a row in the table are left out of the degrees
// of freedom; an attribute with one value or one cluster gets V = 0, p = 1.
std::vector<VariableSeparation> rankVariables(const ClusterCounts& counts,
                                              const std::vector<std::vector<bool>>& isMissing);

// The rows most typical of each cluster: those whose values are most probable
// under the cluster's value shares (the mean over attributes of the log share
// of the row's value in its cluster). Fed the rows one by one after the counts
// are whole; keeps the best `keep` of each cluster, ties to the earlier row.
class TypicalRows {
 public:
  TypicalRows(const ClusterCounts& counts, int keep);
  // Row `row` of cluster c with one code per attribute.
  void add(long long row, int c, const int* codes);
  struct Row {
    long long row = 0;
    double score = 0;        // mean log share, <= 0; 0 when every value is the cluster's only one
    std::vector<int> codes;  // the row's codes
  };
  // The kept rows of cluster c, most typical first.
  std::vector<Row> of(int c) const;

 private:
  const ClusterCounts& counts_;
  int keep_;
  int slots_ = 0;
  std::vector<double> logShare_;        // [cluster][slot], when small enough to hold
  std::vector<std::vector<Row>> best_;  // per cluster, a heap with the least typical on top
};

}  // namespace kelbow
