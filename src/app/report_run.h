// kelbow-report: from a CSV file to what an analyst keeps, in one command. The
// file is encoded as kelbow-csv encodes it (into temporaries), clustered once
// as kelbow clusters it, the number of clusters chosen as kelbow-choose
// chooses it (or taken from -k), and every row labelled from that one run; the
// input comes back with a cluster column, beside an HTML report and its JSON.
#pragma once

namespace kelbow {

// Runs kelbow-report with its command line; returns the process exit status.
int runReport(int argc, char* argv[]);

}  // namespace kelbow
