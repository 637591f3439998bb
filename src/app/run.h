// One run of the tool, from the command line to the appended kelbow block.
#pragma once

namespace kelbow {

// Tables with fewer declared rows are clustered row by row; larger ones are
// first condensed by the summary tree.
inline constexpr int kDirectRowLimit = 1500;
// The summary tree of the large-table road: fan-out, leaf-entry budget, and the
// merge cost below which two entries count as close.
inline constexpr int kTreeFanOut = 20;
inline constexpr int kTreeLeafEntries = 800;
inline constexpr float kTreeThreshold = 0.01f;

// Scans "-d datafile -n descriptionfile", clusters the table and appends the
// kelbow block to datafile.kelbow. Returns the process exit status: 0 when the
// block was appended, 1 otherwise.
int run(int argc, char* argv[]);

// Writes the usage text to standard error.
void printUsage();

}  // namespace kelbow
