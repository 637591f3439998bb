// kelbow-choose: how many clusters a table supports, with the evidence beside
// the answer (choose/choose.h), as text or JSON, and a chart of the kelbow
// curve against the references.
#pragma once

namespace kelbow {

// Runs kelbow-choose with its command line; returns the process exit status.
int runChoose(int argc, char* argv[]);

}  // namespace kelbow
