// The kelbow-plot run: scans the command line, reads one kelbow block from a
// result file, writes its SVG chart and prints the candidate numbers of clusters.
#pragma once

#include <optional>
#include <string>

namespace kelbow {

// Status of every kelbow-plot run that ends without writing its chart.
inline constexpr int kPlotFailureStatus = 1;

struct PlotOptions {
  std::string resultFile;               // -r, --result, or the one plain argument
  std::optional<std::string> dataName;  // -d: choose the last block of this data file
  std::string chartFile;                // -o, or the result file name with ".svg" added
  bool help = false;                    // -h, --help: print the help, nothing else
  bool version = false;                 // --version
};

// Scans the command line with getopt_long: -r/--result FILE or one plain
// argument FILE, -d/--data NAME, -o/--output FILE.svg, -h/--help, --version.
// A repeated option overrides the earlier one; "--" ends the options. On
// failure returns false with *err holding the one line to report (no newline).
bool scanPlotOptions(int argc, char* const* argv, PlotOptions* options, std::string* err);

// The whole program: returns 0 after writing the chart (or the help), and
// kPlotFailureStatus after reporting one line on standard error.
int runPlot(int argc, char* const* argv);

}  // namespace kelbow
