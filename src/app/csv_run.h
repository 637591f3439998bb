// kelbow-csv: turns a delimited text file into the tool's table (NAME.data,
// NAME.desc), the raw value of every code (NAME.codes), the attribute names
// (NAME.names) and, on request, a column kept aside (NAME.labels) and the
// markers of a missing value (NAME.missing).
#pragma once

#include <string_view>

namespace kelbow {

// Runs kelbow-csv with its command line; returns the process exit status.
int runCsv(int argc, char* argv[]);

// Reads a delimiter option's value into d; a value that is none reports a usage
// error of `program` and gives false.
bool scanDelimiterOption(std::string_view program, const char* text, char& d);

// What kelbow-csv decided about a file, given or detected.
struct CsvDecisions {
  char delimiter = ',';
  bool header = false;
};

// Encodes as kelbow-csv does, for a tool whose options include kelbow-csv's:
// `argv` is a kelbow-csv command line (argv[0] unused), the messages name
// `program`, the closing "wrote" line is left out (the table is the
// caller's) and `decided` hears the delimiter and the header. Returns
// kelbow-csv's status; the failures are already reported.
int encodeCsvFor(std::string_view program, int argc, char* argv[], CsvDecisions& decided);

}  // namespace kelbow
