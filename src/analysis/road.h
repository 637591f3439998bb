// The two roads of a run: tables of fewer than kDirectRowLimit declared rows
// start from one cluster per row; larger ones are first condensed by the
// summary tree. kelbow and every companion take the same road for the same table.
#pragma once

#include <string>

namespace kelbow {

class EntropyClustering;

inline constexpr int kDirectRowLimit = 1500;
// The summary tree of the large-table road: fan-out, leaf-entry budget, and the
// merge cost below which two entries count as close.
inline constexpr int kTreeFanOut = 20;
inline constexpr int kTreeLeafEntries = 800;
inline constexpr float kTreeThreshold = 0.01f;

// Fills the analysis object by the road its declared row count asks for under
// the object's settings (kelbow's: the values above). The direct road first
// tells the progress. False, with err set to one line, on bad input.
bool loadStartingClusters(EntropyClustering& analysis, int declaredRows, std::string& err);

}  // namespace kelbow
