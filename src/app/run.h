// One run of the tool, from the command line to the appended kelbow block.
#pragma once

#include <string>

#include "input/description_text.h"
#include "input/table_reader.h"

namespace kelbow {

// Scans "-d datafile -n descriptionfile", clusters the table and appends the
// kelbow block to datafile.kelbow. Returns the process exit status: 0 when the
// block was appended, 1 otherwise. A first word of exactly "--help" or
// "--version" prints the help or the version line instead and returns 0.
int run(int argc, char* argv[]);

// Writes the usage text to standard error.
void printUsage();

// Reads the declared row and column counts from the head of the description
// file (the analysis object reads the file again on its own). On failure writes
// `cantOpen` and the reason when the file cannot be opened, else the reader's
// message, and returns false.
bool readDeclaredSize(const std::string& name, const char* cantOpen, TableDescription& desc);

// The same from a description opened once for the whole run; its text stays
// for the loaders.
bool readDeclaredSize(DescriptionText& description, TableDescription& desc);

}  // namespace kelbow
