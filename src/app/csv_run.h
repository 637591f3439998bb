// kelbow-csv: turns a delimited text file into the tool's table (NAME.data,
// NAME.desc), the raw value of every code (NAME.codes), the attribute names
// (NAME.names) and, on request, a column kept aside (NAME.labels) and the
// markers of a missing value (NAME.missing).
#pragma once

namespace kelbow {

// Runs kelbow-csv with its command line; returns the process exit status.
int runCsv(int argc, char* argv[]);

}  // namespace kelbow
