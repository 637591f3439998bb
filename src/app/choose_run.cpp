#include "app/choose_run.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/choice_options.h"
#include "app/companion.h"
#include "app/output_files.h"
#include "app/status_progress.h"
#include "choose/choice_output.h"
#include "choose/choose.h"
#include "common/error.h"
#include "common/json_text.h"
#include "input/byte_source.h"
#include "input/description_text.h"

namespace kelbow {

namespace {

constexpr std::string_view kProgram = "kelbow-choose";

constexpr std::string_view kHelp =
    "Usage: kelbow-choose -d DATA -n DESC [OPTIONS]\n"
    "Says how many clusters a table supports. Clusters the table exactly as kelbow does\n"
    "(nothing is appended to DATA.kelbow), then reference tables without structure (every\n"
    "column shuffled on its own: each value keeps its frequency, the dependence between\n"
    "attributes is gone) and the table in other row orders, and compares the kelbow values\n"
    "K by K. A number of clusters K is supported when the table's value at K stands at\n"
    "least 3 reference standard deviations above the references' mean, 0.001 above that\n"
    "mean and above 0, and at least a twentieth of the table's highest value, and its\n"
    "expected entropy falls from 1 to K clusters at least 1.4 times as far as the\n"
    "references'. The recommendation is the largest supported K that two thirds of the\n"
    "runs (the table in every order) support, else the largest supported K; a smaller\n"
    "one is a coarser grouping of its clusters. With none, the answer is \"no cluster\n"
    "structure found\" (K = 1). The runs besides the first use every processor.\n"
    "\n"
    "Options:\n"
    "  -d, --data DATA        the data file\n"
    "  -n, --desc DESC        the description file\n"
    "  -r, --references R     reference tables (default 10)\n"
    "  -s, --orders S         other row orders, for the stability of each K (default 8\n"
    "                         below 100,000 rows, 4 below 1,000,000, then 2; 0 for none)\n"
    "      --seed N           seed of the references and the orders (default 1); the same\n"
    "                         seed gives the same answer\n"
    "      --reference-rows N rows of a reference table at most (default 50000)\n"
    "  -j, --threads N        threads (default: every processor)\n"
    "  -f, --format FORMAT    text (default) or json, on standard output\n"
    "  -o, --output FILE      also write the label of every data row at the recommended K\n"
    "                         to FILE (- for standard output, in place of the answer), as\n"
    "                         kelbow-labels -o writes them: clusters numbered 1..K by size;\n"
    "                         every row 1 when there is no structure\n"
    "  -c, --chart FILE       the chart (default: DATA.choose.svg)\n"
    "      --no-chart         write no chart\n"
    "      --record FILE      write the run's record to FILE (kelbow-labels --from FILE\n"
    "                         labels any level from it without clustering again)\n"
    "  -q, --quiet            no progress on standard error\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Output (text): the recommendation, then one line per supported K with its evidence:\n"
    "the table's kelbow value, the references' mean and standard deviation there, how many\n"
    "standard deviations above, in how many other row orders K is supported too, and how\n"
    "well their labels at K agree with the table's (mean adjusted Rand index).\n"
    "\n"
    "Exit status:\n"
    "  0  the answer was printed (whether or not the table has structure)\n"
    "  1  bad options or input, or the chart could not be written\n"
    "\n"
    "Examples:\n"
    "  kelbow-choose -d critters.data -n critters.desc\n"
    "  kelbow-choose -d big.data -n big.desc -f json --orders 0 > big.choice.json\n";

enum LongOnly { kSeedOption = kFirstLongOnly, kReferenceRowsOption, kNoChartOption, kRecordOption };

struct ChooseOptions {
  std::string data, desc;
  bool haveData = false, haveDesc = false;
  ChoiceSettings settings;
  bool json = false;
  std::string chart;
  std::optional<std::string> output, record;
  bool haveChart = false, noChart = false, quiet = false;
};

Scan scanOptions(int argc, char* argv[], ChooseOptions& o) {
  static const option kLong[] = {
      {"data", required_argument, nullptr, 'd'},
      {"desc", required_argument, nullptr, 'n'},
      {"references", required_argument, nullptr, 'r'},
      {"orders", required_argument, nullptr, 's'},
      {"seed", required_argument, nullptr, kSeedOption},
      {"reference-rows", required_argument, nullptr, kReferenceRowsOption},
      {"threads", required_argument, nullptr, 'j'},
      {"format", required_argument, nullptr, 'f'},
      {"chart", required_argument, nullptr, 'c'},
      {"no-chart", no_argument, nullptr, kNoChartOption},
      {"record", required_argument, nullptr, kRecordOption},
      {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersionOption},
      {nullptr, 0, nullptr, 0}};
  resetCompanionScan();
  auto refuse = [&](const std::string& what) {
    usageFailure(kProgram, what);
    return Scan::kRefused;
  };
  for (int c; (c = getopt_long(argc, argv, ":d:n:r:s:j:f:o:c:qh", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'd':
        o.data = ::optarg, o.haveData = true;
        break;
      case 'n':
        o.desc = ::optarg, o.haveDesc = true;
        break;
      case 'r':
      case 's':
      case 'j':
      case kSeedOption:
      case kReferenceRowsOption:
        if (const std::string why = setChoiceOption(longName(kLong, c), ::optarg, o.settings);
            !why.empty())
          return refuse(why);
        break;
      case 'f':
        if (std::string_view(::optarg) == "json")
          o.json = true;
        else if (std::string_view(::optarg) != "text")
          return refuse("--format takes text or json");
        break;
      case 'o':
        o.output = ::optarg;
        break;
      case 'c':
        o.chart = ::optarg, o.haveChart = true;
        break;
      case kNoChartOption:
        o.noChart = true;
        break;
      case kRecordOption:
        o.record = ::optarg;
        break;
      case 'q':
        o.quiet = true;
        break;
      default:
        return commonOption(c, argv, kProgram, kHelp);
    }
  }
  if (::optind < argc) return refuse(std::string("unexpected argument '") + argv[::optind] + "'");
  if (!o.haveData || !o.haveDesc) return refuse("-d DATA and -n DESC are both required");
  if (o.haveChart && o.noChart) return refuse("--chart and --no-chart exclude each other");
  if (!o.haveChart) o.chart = o.data + ".choose.svg";
  return Scan::kRun;
}

std::string fixed(double v, int decimals) { return jsonNumber(v, decimals); }

std::string ordersText(const LevelEvidence& e, const Choice& c) {
  if (c.orders == 0) return "-";
  return std::to_string(e.ordersSupported) + "/" + std::to_string(c.orders);
}

std::string agreementText(const LevelEvidence& e) {
  return e.agreement < -1 ? "-" : fixed(e.agreement, 3);
}

std::string padLeft(const std::string& s, std::size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string textAnswer(const Choice& c, const std::string& chart) {
  std::string out;
  if (c.k == 1) {
    out += "no cluster structure found (K = 1): no number of clusters stands clearly above " +
           std::to_string(c.references) + " reference tables without structure\n";
  } else {
    out += "recommended: " + std::to_string(c.k) + " clusters\n";
    out += "supported K, the recommendation first (a smaller K groups its clusters coarser):\n";
    out += "   K      value   reference mean +- sd          z   orders  agreement\n";
    for (int k : c.candidates) {
      const LevelEvidence& e = c.at(k);
      out += padLeft(std::to_string(k), 4) + padLeft(fixed(e.value, 6), 11) +
             padLeft(fixed(e.referenceMean, 6), 11) + " +- " + fixed(e.referenceSd, 6) +
             padLeft(e.z > 99999 ? ">99999" : fixed(e.z, 1), 11) + padLeft(ordersText(e, c), 9) +
             padLeft(agreementText(e), 11) + "\n";
    }
  }
  out += std::to_string(c.rows) + " rows, " + std::to_string(c.startingClusters) +
         " starting clusters; " + std::to_string(c.references) + " reference tables of " +
         std::to_string(c.referenceRows) + " rows, " + std::to_string(c.orders) +
         " other row orders, seed " + std::to_string(c.seed);
  if (!chart.empty()) out += "; chart " + chart;
  return out + "\n";
}

std::string jsonAnswer(const Choice& c, const std::string& data, const std::string& chart) {
  std::string out =
      "{\n  \"table\": " + jsonString(data) + ",\n  \"rows\": " + std::to_string(c.rows) +
      ",\n  \"starting_clusters\": " + std::to_string(c.startingClusters) +
      ",\n  \"k\": " + std::to_string(c.k) + ",\n  \"structure\": " + (c.k > 1 ? "true" : "false") +
      ",\n  \"candidates\": [";
  for (std::size_t i = 0; i < c.candidates.size(); ++i)
    out += std::string(i ? ",\n    " : "\n    ") + evidenceJson(c.at(c.candidates[i]), c);
  out += c.candidates.empty() ? "],\n" : "\n  ],\n";
  out += "  \"levels\": [";
  for (std::size_t i = 0; i < c.levels.size(); ++i)
    out += std::string(i ? ",\n    " : "\n    ") + evidenceJson(c.levels[i], c);
  out += "\n  ],\n  \"references\": " + std::to_string(c.references) +
         ",\n  \"reference_rows\": " + std::to_string(c.referenceRows) +
         ",\n  \"orders\": " + std::to_string(c.orders) +
         ",\n  \"seed\": " + std::to_string(c.seed) +
         ",\n  \"chart\": " + (chart.empty() ? std::string("null") : jsonString(chart)) + "\n}\n";
  return out;
}

}  // namespace

int runChoose(int argc, char* argv[]) {
  startCompanion("kelbow-choose");
  prefixMessages();
  ChooseOptions o;
  const Scan scanned = scanOptions(argc, argv, o);
  if (scanned != Scan::kRun) return scanStatus(scanned);

  // The chart appears whole or not at all, never in place of an input, and
  // its place is tried before the clustering.
  OutputFiles files;
  files.protect(o.data);
  files.protect(o.desc);
  std::string err;
  std::FILE* chartFile = nullptr;
  std::FILE* labelsFile = nullptr;
  struct Closer {
    std::FILE*& f;
    ~Closer() {
      if (f != nullptr) std::fclose(f);
    }
  } closeChart{chartFile}, closeLabels{labelsFile};
  if (!o.noChart && (chartFile = files.open(o.chart, err)) == nullptr)
    return companionFailure(kProgram, err);
  const bool labelsToStdout = o.output && *o.output == "-";
  if (o.output && !labelsToStdout && (labelsFile = files.open(*o.output, err)) == nullptr)
    return companionFailure(kProgram, err);

  std::optional<SetReadLock> tableLock(std::in_place, std::vector<std::string>{o.desc, o.data});
  DescriptionText description;
  if (!description.open(o.desc))
    return companionFailure(kProgram, o.desc + ": cannot open (" + std::strerror(errno) + ")");
  TableDescription desc;
  {
    const std::unique_ptr<ByteSource> in = description.reader();
    if (!readDescription(*in, o.desc, desc, err)) {
      error(err + description.swappedFilesHint(), false);
      return kCompanionFailure;
    }
  }
  const std::unique_ptr<ByteSource> data = openInput(o.data);
  if (data == nullptr)
    return companionFailure(kProgram, o.data + ": cannot open (" + std::strerror(errno) + ")");
  tableLock.reset();
  RecordReader rows(*data, o.data, desc.domainSizes);

  StatusProgress progress(kProgram, o.data, !o.quiet);
  Choice choice;
  Hierarchy table;
  const bool chosen =
      chooseClusters(desc, rows, o.settings, progress, progress, choice, table, err);
  progress.finish();
  if (!chosen) {
    error(err, false);
    return kCompanionFailure;
  }

  const std::string chart = o.noChart ? "" : o.chart;
  if (chartFile != nullptr) {
    const std::string svg = renderChoiceChart(choiceChart(choice, o.data));
    std::fwrite(svg.data(), 1, svg.size(), chartFile);
    if (!OutputFiles::close(std::exchange(chartFile, nullptr), o.chart, err))
      return companionFailure(kProgram, err);
  }
  if (o.output) {
    const std::vector<int> numbers =
        choice.k > 1 ? table.startNumbersBySize(choice.k) : std::vector<int>(table.startCount(), 1);
    std::FILE* out = labelsToStdout ? stdout : labelsFile;
    char line[16];
    for (int r = 0; r < table.rowCount(); ++r) {
      const int n = std::snprintf(line, sizeof line, "%d\n", numbers[table.startOfRow(r)]);
      std::fwrite(line, 1, static_cast<size_t>(n), out);
    }
    if (!labelsToStdout && !OutputFiles::close(std::exchange(labelsFile, nullptr), *o.output, err))
      return companionFailure(kProgram, err);
  }
  if (o.record && !files.writeWhole(*o.record, table.record(), err))
    return companionFailure(kProgram, err);
  // The answer goes out before the files are put in place: when standard
  // output fails, no file is left either.
  const std::string answer = labelsToStdout ? ""
                             : o.json       ? jsonAnswer(choice, o.data, chart)
                                            : textAnswer(choice, chart);
  if (writeStandardOutput(kProgram, answer) != 0) return kCompanionFailure;
  if (!files.commit(err)) return companionFailure(kProgram, err);
  return 0;
}

}  // namespace kelbow
