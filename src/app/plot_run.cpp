#include "app/plot_run.h"

#include <string_view>

#include "app/companion.h"
#include "app/output_files.h"
#include "input/kelbow_block.h"
#include "plot/peaks.h"
#include "plot/svg_chart.h"

namespace kelbow {

namespace {

constexpr std::string_view kProgram = "kelbow-plot";
constexpr std::string_view kChartSuffix = ".svg";

constexpr std::string_view kHelp =
    "Usage: kelbow-plot [OPTIONS] [RESULTFILE]\n"
    "Reads the last kelbow block of a result file (DATA.kelbow), writes its SVG chart and\n"
    "prints the candidate numbers of clusters: the peaks of the curve, highest first, each\n"
    "with its height. A peak is strong when it is at least a tenth of the highest peak and\n"
    "at least 0.001; weaker ones are noise and listed apart, after \"weak:\". The chart\n"
    "marks strong peaks with a filled circle and their K, weak ones with a small grey ring.\n"
    "\n"
    "Options:\n"
    "  -r, --result FILE      the result file (or give it as the plain argument)\n"
    "  -d, --data NAME        take the last block of the data file NAME instead\n"
    "  -o, --output FILE.svg  the chart (default: the result file name with .svg added)\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  the chart was written and the candidates printed\n"
    "  1  bad options, an unreadable result file, no (matching) block, a damaged block,\n"
    "     or a chart that cannot be written\n"
    "\n"
    "Examples:\n"
    "  kelbow-plot critters.data.kelbow\n"
    "  kelbow-plot -d votes.data -o votes.svg results.kelbow\n";

}  // namespace

bool scanPlotOptions(int argc, char* const* argv, PlotOptions* options, std::string* err) {
  static const option kLong[] = {
      {"result", required_argument, nullptr, 'r'},       {"data", required_argument, nullptr, 'd'},
      {"output", required_argument, nullptr, 'o'},       {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersionOption}, {nullptr, 0, nullptr, 0}};
  auto usage = [&](const std::string& what) {
    *err = std::string(kProgram) + ": " + what + " (see " + std::string(kProgram) + " --help)";
    return false;
  };
  std::optional<std::string> result;
  bool haveChart = false;
  resetCompanionScan();
  for (int c; (c = getopt_long(argc, argv, ":r:d:o:h", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'r':
        result = ::optarg;
        break;
      case 'd':
        options->dataName = ::optarg;
        break;
      case 'o':
        options->chartFile = ::optarg;
        haveChart = true;
        break;
      case 'h':
        options->help = true;
        return true;
      case kVersionOption:
        options->version = true;
        return true;
      default:
        return usage(refusedOption(c, argv));
    }
  }
  const int plain = argc - ::optind;
  if (plain > 1 || (plain == 1 && result)) return usage("more than one result file given");
  if (plain == 1) result = argv[::optind];
  if (!result) return usage("no result file given");
  options->resultFile = *result;
  if (!haveChart) options->chartFile = options->resultFile + std::string(kChartSuffix);
  return true;
}

int runPlot(int argc, char* const* argv) {
  startCompanion("kelbow-plot");
  auto fail = [](const std::string& message) { return companionFailure(kProgram, message); };
  PlotOptions options;
  std::string err;
  if (!scanPlotOptions(argc, argv, &options, &err)) {
    // The scan's line already starts with the program's name.
    return fail(err.substr(kProgram.size() + 2));
  }
  if (options.help) return printHelp(kProgram, kHelp);
  if (options.version) return printVersion(kProgram);

  KelbowBlock block;
  if (!readKelbowBlock(options.resultFile, options.dataName, &block, &err)) return fail(err);
  // The result file is append-only history; a chart must never replace it.
  OutputFiles chart;
  chart.protect(options.resultFile);
  if (chart.isProtected(options.chartFile))
    return fail(options.chartFile + ": is the result file; choose another chart name with -o");

  std::vector<Peak> peaks = findPeaks(block.values);
  if (!chart.writeWhole(options.chartFile, renderKelbowChart(block, peaks, options.resultFile),
                        err))
    return fail(err);
  // The candidates are printed before the chart is put in place: when they
  // cannot be, the run fails and leaves no chart.
  if (writeStandardOutput(kProgram, candidatesLine(peaks) + "\n") != 0) return kPlotFailureStatus;
  if (!chart.commit(err)) return fail(err);
  return 0;
}

}  // namespace kelbow
