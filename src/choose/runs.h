// The clustering runs of kelbow-choose: each a whole run of the analysis on
// rows a source hands out, left as a Hierarchy, and many of them spread over
// threads. Every run keeps its attribute context on its own thread, so the
// runs never see each other's tables.
#pragma once

#include <functional>
#include <string>

#include "analysis/entropy_clustering.h"
#include "analysis/hierarchy.h"
#include "common/worker_pool.h"  // availableThreads

namespace kelbow {

// Clusters the rows of `rows` (a table described by `desc`; the road follows
// desc.rows) as kelbow does and keeps the hierarchy. False, with err set to one
// line, on bad input.
bool clusterRows(const TableDescription& desc, RowSource& rows, const AnalysisSettings& settings,
                 Progress& progress, Hierarchy& out, std::string& err);

// Calls job(0) .. job(jobs - 1), each once, on `threads` threads at most (1:
// on the calling thread), and returns when all have returned.
void runInParallel(int jobs, int threads, const std::function<void(int)>& job);

}  // namespace kelbow
