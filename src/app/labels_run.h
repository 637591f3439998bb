// kelbow-labels: the cluster of every data row for a chosen number of clusters.
// Clusters the table exactly as kelbow does, without appending to the result
// file, and writes the labels for exactly K clusters to one file (-o) or the
// hierarchy snapshots for K clusters down to 2.
#pragma once

#include <vector>

namespace kelbow {

// Runs kelbow-labels with its command line; returns the process exit status.
int runLabels(int argc, char* argv[]);

// Renumbers the labels of one level 1..K by cluster size, largest first; of
// clusters of one size, the one whose first row comes first gets the smaller
// number. `labels` holds one label per row, any integers.
std::vector<int> numberBySize(const std::vector<int>& labels);

}  // namespace kelbow
