// One run of the tool, from the command line to the appended kelbow block.
#pragma once

#include <string>

#include "input/table_reader.h"

namespace kelbow {

class EntropyClustering;

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

// Reads the declared row and column counts from the head of the description
// file (the analysis object reads the file again on its own). On failure writes
// `cantOpen` when the file cannot be opened, else the reader's message, and
// returns false.
bool readDeclaredSize(const std::string& name, const char* cantOpen, TableDescription& desc);

// Fills the analysis object by the road its declared row count asks for: one
// cluster per row below kDirectRowLimit, the summary tree from there on.
void loadStartingClusters(EntropyClustering& analysis, int declaredRows);

}  // namespace kelbow
