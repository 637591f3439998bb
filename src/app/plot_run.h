// The kelbow-plot run: scans the command line, reads one kelbow block from a
// result file, writes its SVG chart and prints the candidate numbers of clusters.
#pragma once

#include <optional>
#include <string>

namespace kelbow {

// Status of every kelbow-plot run that ends without writing its chart.
inline constexpr int kPlotFailureStatus = 1;

inline constexpr const char* kPlotUsage =
    "USAGE: kelbow-plot -r resultfile [-d datafile] [-o out.svg]";

struct PlotOptions {
  std::string resultFile;               // -r
  std::optional<std::string> dataName;  // -d: choose the last block of this data file
  std::string chartFile;                // -o, or the result file name with ".svg" added
};

// Scans -r, -d and -o; each takes an argument in the same word (-rfile) or the
// next word, whatever that looks like. A repeated option overrides the earlier
// one, "--" ends the options. Words left over and a missing -r are usage errors.
// On failure returns false with *err holding the one line to report (no newline).
bool scanPlotOptions(int argc, const char* const* argv, PlotOptions* options, std::string* err);

// The whole program: returns 0 after writing the chart, kPlotFailureStatus after
// reporting one line on standard error.
int runPlot(int argc, const char* const* argv);

}  // namespace kelbow
