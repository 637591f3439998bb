// The program's own option scanner. Its state is module-level and shared by
// successive calls, and its messages are part of the program's output.
#pragma once

namespace kelbow {

extern int optind;    // index in argv of the word being scanned (starts at 1)
extern char* optarg;  // argument of the option just returned, or null
extern int optopt;    // option character last examined (signed 8-bit, widened)
extern int opterr;    // when nonzero the scanner writes its own messages

// Returns the next option character, '?' on an error, or -1 at the first word
// that is not an option (or after "--"). Words are never reordered.
int getopt(int argc, char* const argv[], const char* optionString);

// Puts the scanner back to its state at process start (for tools and tests that
// scan more than one command line in one process).
void resetOptionScanner();

}  // namespace kelbow
