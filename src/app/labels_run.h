// kelbow-labels: the cluster of every data row for a chosen number of clusters.
// Clusters the table exactly as kelbow does, without appending to the result
// file, and writes the labels for exactly K clusters to one file (-o) or the
// hierarchy snapshots for K clusters down to 2.
#pragma once

namespace kelbow {

// Runs kelbow-labels with its command line; returns the process exit status.
int runLabels(int argc, char* argv[]);

}  // namespace kelbow
