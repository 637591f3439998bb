// What the companion programs (kelbow-csv, kelbow-profile, kelbow-labels,
// kelbow-plot) share on their command lines: long options through getopt_long,
// one-line messages "PROGRAM: what" on standard error, --version, status 1 for
// every failure.
#pragma once

#include <getopt.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace kelbow {

// Status of every companion run that fails, usage errors included.
inline constexpr int kCompanionFailure = 1;

// Long-only options get codes above every byte, so they never clash with a
// short option letter. --version is the first of them in every companion;
// a companion's own long-only options follow it.
inline constexpr int kVersionOption = 256;
inline constexpr int kFirstLongOnly = kVersionOption + 1;

// What scanning a companion's command line found: go on with the run, or end
// now with status 0 (the help or the version was printed), or with
// kCompanionFailure (a usage error was reported).
enum class Scan { kRun, kDone, kRefused };

// The exit status of a scan that does not go on.
inline int scanStatus(Scan s) { return s == Scan::kDone ? 0 : kCompanionFailure; }

// Longest message line: a longer one (a runaway name) is cut with "...".
inline constexpr std::size_t kShownMessageLimit = 16384;

// What every companion does first: names itself in the messages that come
// from below (running out of memory ends with "PROGRAM: out of memory"),
// keeps descriptors 0-2 from being reused by its own files, and removes its
// temporaries on SIGINT, SIGTERM, SIGHUP and every ending.
void startCompanion(const char* program);

// Writes `text` to standard output and flushes it; on a write error reports
// "PROGRAM: standard output: cannot write (reason)" and returns kCompanionFailure.
int writeStandardOutput(std::string_view program, std::string_view text);

// Flushes standard output; "" when every write to it has worked, else
// "standard output: cannot write (reason)" (without the reason when an earlier
// write failed and nothing tells why any more).
std::string standardOutputProblem();

// Flushes standard output; on a write error (now or earlier) reports it as
// writeStandardOutput does and returns kCompanionFailure, else 0.
int checkStandardOutput(std::string_view program);

// Starts a fresh scan with getopt_long (for tools and tests that scan more than
// one command line in one process). Messages are the caller's: opterr is 0.
void resetCompanionScan();

// The message for what getopt_long just refused (it returned '?' or ':').
std::string refusedOption(int c, char* const argv[]);

// Writes "PROGRAM: message\n" to standard error, the message escaped as
// shownText does (control characters, invalid UTF-8; cut at
// kShownMessageLimit), and returns kCompanionFailure.
int companionFailure(std::string_view program, std::string_view message);

// A usage error: the message and where to read more, on one line.
int usageFailure(std::string_view program, std::string_view message);

// Prints "PROGRAM VERSION" on standard output; 0, or kCompanionFailure after
// a reported write error.
int printVersion(std::string_view program);

// Prints the help text on standard output; 0 or kCompanionFailure, as above.
int printHelp(std::string_view program, std::string_view text);

// The cases every companion's scan ends with, for a code `c` its own switch
// does not take: -h prints `help`, --version the version (both kDone), and
// anything else getopt_long refused is a usage error (kRefused).
Scan commonOption(int c, char* const argv[], std::string_view program, std::string_view help);

}  // namespace kelbow
