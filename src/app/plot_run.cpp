#include "app/plot_run.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string_view>

#include "plot/kelbow_block.h"
#include "plot/peaks.h"
#include "plot/svg_chart.h"

namespace kelbow {

namespace {

constexpr std::string_view kProgram = "kelbow-plot";
constexpr std::string_view kChartSuffix = ".svg";

std::string optionError(std::string_view what, char option) {
  return std::string(kProgram) + ": " + std::string(what) + " -- " + option;
}

bool writeChart(const std::string& path, const std::string& svg, std::string* err) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (out) {
    out << svg;
    out.close();
  }
  if (!out) {
    *err = path + ": cannot write chart (" + std::strerror(errno) + ")";
    return false;
  }
  return true;
}

}  // namespace

bool scanPlotOptions(int argc, const char* const* argv, PlotOptions* options, std::string* err) {
  bool haveResult = false;
  bool haveChart = false;
  int i = 1;
  for (; i < argc; ++i) {
    std::string_view word = argv[i];
    if (word == "--") {
      ++i;
      break;
    }
    if (word.size() < 2 || word[0] != '-') break;
    char option = word[1];
    if (option != 'r' && option != 'd' && option != 'o') {
      *err = optionError("illegal option", option);
      return false;
    }
    std::string value;
    if (word.size() > 2) {
      value = word.substr(2);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      *err = optionError("option requires an argument", option);
      return false;
    }
    if (option == 'r') {
      options->resultFile = value;
      haveResult = true;
    } else if (option == 'd') {
      options->dataName = value;
    } else {
      options->chartFile = value;
      haveChart = true;
    }
  }
  if (i < argc || !haveResult) {
    *err = kPlotUsage;
    return false;
  }
  if (!haveChart) options->chartFile = options->resultFile + std::string(kChartSuffix);
  return true;
}

int runPlot(int argc, const char* const* argv) {
  auto fail = [](const std::string& line) {
    std::cerr << line << '\n';
    return kPlotFailureStatus;
  };
  PlotOptions options;
  std::string err;
  if (!scanPlotOptions(argc, argv, &options, &err)) return fail(err);

  KelbowBlock block;
  if (!readKelbowBlock(options.resultFile, options.dataName, &block, &err)) {
    return fail(std::string(kProgram) + ": " + err);
  }
  // The result file is append-only history; a chart must never replace it.
  std::error_code ec;
  if (std::filesystem::equivalent(options.chartFile, options.resultFile, ec)) {
    return fail(std::string(kProgram) + ": " + options.chartFile +
                ": is the result file; choose another chart name with -o");
  }

  std::vector<Peak> peaks = findPeaks(block.values);
  if (!writeChart(options.chartFile, renderKelbowChart(block, peaks, options.resultFile), &err)) {
    return fail(std::string(kProgram) + ": " + err);
  }
  std::cout << "candidates:";
  for (const Peak& p : peaks) std::cout << ' ' << p.k;
  std::cout << '\n';
  return 0;
}

}  // namespace kelbow
