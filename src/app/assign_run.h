// kelbow-assign: the rows of a new table, each with the cluster of a saved
// model whose entropy it raises least and the margin to the next best.
#pragma once

namespace kelbow {

// Runs kelbow-assign with its command line; returns the process exit status.
int runAssign(int argc, char* argv[]);

}  // namespace kelbow
