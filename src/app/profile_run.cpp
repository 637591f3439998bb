#include "app/profile_run.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/companion.h"
#include "app/output_files.h"
#include "common/message_text.h"
#include "input/table_files.h"
#include "input/table_reader.h"
#include "profile/cluster_profile.h"
#include "profile/cluster_tests.h"
#include "profile/profile_report.h"

namespace kelbow {

namespace {

constexpr std::string_view kProgram = "kelbow-profile";

constexpr std::string_view kHelp =
    "Usage: kelbow-profile [OPTIONS] TABLE LABELS\n"
    "Tells what characterises each cluster of one labelling of a table: the variables\n"
    "that separate the clusters most (chi-square test of each variable against the\n"
    "clusters, ranked by Cramer's V), and per cluster its size and share, the values\n"
    "that set it apart (a value's share in the cluster against its share in the whole\n"
    "table, ranked by the difference of the two, with their ratio as the lift and a test:\n"
    "z and the one-sided p of the normal approximation to the hypergeometric count), and\n"
    "its most frequent value per attribute (mode). With -c, the clusters are compared\n"
    "with known classes: the contingency table, purity and adjusted Rand index. TABLE is\n"
    "the table's base name or its .data file; LABELS holds one integer label per data\n"
    "row (kelbow-labels -o output, or a snapshot file). The files are read as streams:\n"
    "memory grows with clusters and values, not with rows.\n"
    "\n"
    "Options:\n"
    "  -c, --classes FILE     known classes, one per data row (kelbow-csv --labels)\n"
    "  -f, --format FORMAT    text (default), csv or json\n"
    "  -t, --top N            distinctive values shown per cluster (default 5)\n"
    "  -v, --variables N      variables shown in the ranking (default 10; 0 for none;\n"
    "                         csv and json list every one)\n"
    "      --modes            show the mode of every attribute (the default up to 20\n"
    "                         attributes)\n"
    "      --no-modes         leave the modes out (the default above 20 attributes)\n"
    "  -o, --output FILE      write the report to FILE instead of standard output\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Files:\n"
    "  TABLE.data, TABLE.desc  the table (required)\n"
    "  TABLE.codes             the raw value of every code (without it codes are shown)\n"
    "  TABLE.names             attribute names (without it 1, 2, ...)\n"
    "  TABLE.missing           markers of a missing value: counted per attribute and\n"
    "                          cluster, never shown as distinctive values or modes\n"
    "\n"
    "Exit status:\n"
    "  0  the report was written\n"
    "  1  bad options or input, or a file could not be read or written\n"
    "\n"
    "Examples:\n"
    "  kelbow-profile critters critters.k4\n"
    "  kelbow-profile -c critters.labels critters.data critters.k4\n"
    "  kelbow-profile -f json -t 10 -o critters.k4.json critters critters.k4\n";

constexpr int kDefaultTop = 5;
constexpr int kDefaultVariables = 10;
// Above this many attributes the modes are left out unless asked for.
constexpr int kModesUpToAttributes = 20;

enum LongOnly { kModesOption = kFirstLongOnly, kNoModesOption };

struct ProfileOptions {
  std::string table, labels;
  std::optional<std::string> classes, output;
  ReportFormat format = ReportFormat::kText;
  int top = kDefaultTop;
  int variables = kDefaultVariables;
  std::optional<bool> modes;
};

Scan scanOptions(int argc, char* argv[], ProfileOptions& o) {
  static const option kLong[] = {{"classes", required_argument, nullptr, 'c'},
                                 {"format", required_argument, nullptr, 'f'},
                                 {"top", required_argument, nullptr, 't'},
                                 {"variables", required_argument, nullptr, 'v'},
                                 {"modes", no_argument, nullptr, kModesOption},
                                 {"no-modes", no_argument, nullptr, kNoModesOption},
                                 {"output", required_argument, nullptr, 'o'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, kVersionOption},
                                 {nullptr, 0, nullptr, 0}};
  resetCompanionScan();
  for (int c; (c = getopt_long(argc, argv, ":c:f:t:v:o:h", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'c':
        o.classes = ::optarg;
        break;
      case 'f': {
        const std::string f = ::optarg;
        if (f == "text") {
          o.format = ReportFormat::kText;
        } else if (f == "csv") {
          o.format = ReportFormat::kCsv;
        } else if (f == "json") {
          o.format = ReportFormat::kJson;
        } else {
          usageFailure(kProgram, "the format '" + f + "' is none of text, csv and json");
          return Scan::kRefused;
        }
        break;
      }
      case 't':
      case 'v': {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(::optarg, &end, 10);
        if (end == ::optarg || *end != '\0' || errno != 0 || n < 0 || n > INT_MAX) {
          usageFailure(kProgram, std::string(c == 't' ? "--top '" : "--variables '") + ::optarg +
                                     "' is not a count");
          return Scan::kRefused;
        }
        (c == 't' ? o.top : o.variables) = static_cast<int>(n);
        break;
      }
      case kModesOption:
      case kNoModesOption:
        o.modes = c == kModesOption;
        break;
      case 'o':
        o.output = ::optarg;
        break;
      default:
        return commonOption(c, argv, kProgram, kHelp);
    }
  }
  if (argc - ::optind != 2) {
    usageFailure(kProgram, "TABLE and LABELS are required, and nothing else");
    return Scan::kRefused;
  }
  o.table = argv[::optind];
  o.labels = argv[::optind + 1];
  return Scan::kRun;
}

// The files of a table, opened or read together so that they all come from
// one run of kelbow-csv.
struct TableFiles {
  std::unique_ptr<ByteSource> desc, data;
  std::optional<std::vector<std::string>> codes, names, missing;
};

class Run {
 public:
  explicit Run(const ProfileOptions& o) : o_(o) {}
  int go();

 private:
  int fail(const std::string& message) { return companionFailure(kProgram, message); }
  bool openTable(const std::string& base, TableFiles& files, std::string& err);
  // The labels in use and their count, from a first reading of the labels file.
  bool scanLabels(std::string& err);
  // The rows, their labels and their classes read together, into the counts
  // and the contingency table of clusters against classes.
  bool readData(ByteSource& in, const std::string& path, ClusterCounts& counts,
                std::vector<std::vector<long long>>& contingency, std::string& err);

  const ProfileOptions& o_;
  TableDescription desc_;
  ProfileReport report_;
  std::map<long long, int> clusterOf_;  // label -> cluster index, labels ascending
};

// One integer label; false, with err naming the line, when `text` is none.
bool parseLabel(const std::string& path, long long line, const std::string& text, long long& v,
                std::string& err) {
  const char* start = text.c_str();
  char* end = nullptr;
  errno = 0;
  v = std::strtoll(start, &end, 10);
  while (end != start && (*end == ' ' || *end == '\t' || *end == '\r')) ++end;
  if (end != start && *end == '\0' && errno == 0) return true;
  err = path + ":" + std::to_string(line) + ": '" + shownText(text) + "' is not an integer label";
  return false;
}

std::string rowsMismatch(const std::string& path, long long lines, const char* what,
                         long long rows) {
  return path + ":" + std::to_string(std::min(lines, rows) + 1) + ": " + std::to_string(lines) +
         " " + what + ", but the table has " + std::to_string(rows) + " rows";
}

bool Run::scanLabels(std::string& err) {
  std::ifstream in(o_.labels, std::ios::binary);
  if (!in) {
    err = o_.labels + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  long long lines = 0, v = 0;
  for (std::string line; std::getline(in, line);) {
    if (!parseLabel(o_.labels, lines + 1, line, v, err)) return false;
    clusterOf_.emplace(v, 0);
    ++lines;
  }
  if (in.bad()) {
    err = o_.labels + ": read error";
    return false;
  }
  if (lines != desc_.rows) {
    err = rowsMismatch(o_.labels, lines, "labels", desc_.rows);
    return false;
  }
  for (auto& [label, i] : clusterOf_) {
    i = static_cast<int>(report_.clusterLabels.size());
    report_.clusterLabels.push_back(label);
  }
  return true;
}

bool Run::readData(ByteSource& in, const std::string& path, ClusterCounts& counts,
                   std::vector<std::vector<long long>>& contingency, std::string& err) {
  RecordReader records(in, path, desc_.domainSizes);
  std::ifstream labels(o_.labels, std::ios::binary);
  std::ifstream classes;
  if (o_.classes) classes.open(*o_.classes, std::ios::binary);
  if (!labels || (o_.classes && !classes)) {
    err = (labels ? *o_.classes : o_.labels) + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  std::unordered_map<std::string, int> classIndex;
  std::vector<int> codes(desc_.attributeCount);
  std::string line;
  bool ok = true;
  for (int r = 0; ok && r < desc_.rows; ++r) {
    const RecordReader::Result got = records.read(codes.data(), err);
    if (got != RecordReader::Result::kRecord) {
      if (got == RecordReader::Result::kEnd)
        err = path + ": record " + std::to_string(r + 1) +
              " is missing; the description declares " + std::to_string(desc_.rows) + " records";
      ok = false;
      break;
    }
    long long v = 0;
    if (!std::getline(labels, line) || !parseLabel(o_.labels, r + 1, line, v, err) ||
        clusterOf_.count(v) == 0) {
      err = o_.labels + ": changed while it was read";
      return false;
    }
    const int c = clusterOf_[v];
    counts.add(c, codes.data());
    if (!o_.classes) continue;
    if (!std::getline(classes, line)) {
      err = rowsMismatch(*o_.classes, r, "classes", desc_.rows);
      return false;
    }
    auto [it, fresh] = classIndex.emplace(line, static_cast<int>(report_.classNames.size()));
    if (fresh) {
      report_.classNames.push_back(line);
      for (auto& row : contingency) row.push_back(0);
    }
    ++contingency[c][it->second];
  }
  if (ok && !records.atEnd()) {
    err = path + ": numbers left over after record " + std::to_string(desc_.rows) +
          "; the description declares " + std::to_string(desc_.rows) + " records";
    ok = false;
  }
  if (ok && records.failed()) {
    err = records.failureLine();
    ok = false;
  }
  if (ok && o_.classes) {
    long long more = 0;
    while (std::getline(classes, line)) ++more;
    if (classes.bad()) {
      err = *o_.classes + ": read error";
      return false;
    }
    if (more > 0) {
      err = rowsMismatch(*o_.classes, desc_.rows + more, "classes", desc_.rows);
      return false;
    }
  }
  // The readers end their messages with a newline; the report adds its own.
  while (!err.empty() && err.back() == '\n') err.pop_back();
  return ok;
}

bool Run::openTable(const std::string& base, TableFiles& files, std::string& err) {
  const SetReadLock lock({base + ".desc", base + ".data"});
  for (auto [ext, source] : {std::pair{".desc", &files.desc}, std::pair{".data", &files.data}}) {
    *source = openInput(base + ext);
    if (*source == nullptr) {
      err = base + ext + ": cannot open (" + std::strerror(errno) + ")";
      return false;
    }
  }
  return readLinesIfThere(base + ".codes", files.codes, err) &&
         readLinesIfThere(base + ".names", files.names, err) &&
         readLinesIfThere(base + ".missing", files.missing, err);
}

int Run::go() {
  std::string base = o_.table;
  if (base.size() > 5 && base.ends_with(".data")) base.resize(base.size() - 5);
  std::string err;
  TableFiles files;
  if (!openTable(base, files, err)) return fail(err);
  {
    const bool ok = readDescription(*files.desc, base + ".desc", desc_, err);
    while (!err.empty() && err.back() == '\n') err.pop_back();
    if (!ok) return fail(err);
  }
  if (files.codes &&
      !parseCodes(base + ".codes", *files.codes, desc_.domainSizes, report_.values, err))
    return fail(err);
  if (files.names) {
    if (!parseNames(base + ".names", *files.names, desc_.attributeCount, report_.attributeNames,
                    err))
      return fail(err);
  } else {
    for (int a = 1; a <= desc_.attributeCount; ++a)
      report_.attributeNames.push_back(std::to_string(a));
  }
  std::vector<std::vector<bool>> isMissing;
  if (files.missing) {
    const std::vector<std::string>& markers = *files.missing;
    if (report_.values.empty()) {
      companionFailure(kProgram, "warning: " + base + ".missing is left aside: without " + base +
                                     ".codes the values are codes, not the markers it lists");
    } else {
      const std::set<std::string> marked(markers.begin(), markers.end());
      for (const auto& values : report_.values) {
        std::vector<bool> m;
        for (const std::string& v : values) m.push_back(marked.count(v) > 0);
        isMissing.push_back(std::move(m));
      }
    }
  }
  if (!scanLabels(err)) return fail(err);
  const int clusters = static_cast<int>(report_.clusterLabels.size());
  ClusterCounts counts(clusters, desc_.domainSizes);
  std::vector<std::vector<long long>> contingency(clusters);
  if (!readData(*files.data, base + ".data", counts, contingency, err)) return fail(err);

  report_.tableName = o_.table;
  report_.labelsName = o_.labels;
  report_.rows = desc_.rows;
  report_.clusters = profileClusters(counts, isMissing, o_.top);
  testDistinctiveValues(counts, report_.clusters);
  report_.variables = rankVariables(counts, isMissing);
  report_.shownVariables = o_.variables;
  report_.modes = o_.modes.value_or(desc_.attributeCount <= kModesUpToAttributes);
  if (o_.classes) {
    report_.classesName = *o_.classes;
    report_.agreement = agreementOf(std::move(contingency));
  }
  const std::string text = formatReport(report_, o_.format);
  if (o_.output && *o_.output != "-") {
    OutputFiles outputs;
    for (const char* ext : {".desc", ".data", ".codes", ".names", ".missing"})
      outputs.protect(base + ext);
    outputs.protect(o_.labels);
    if (o_.classes) outputs.protect(*o_.classes);
    if (!outputs.writeWhole(*o_.output, text, err) || !outputs.commit(err)) return fail(err);
    return 0;
  }
  return writeStandardOutput(kProgram, text);
}

}  // namespace

int runProfile(int argc, char* argv[]) {
  startCompanion("kelbow-profile");
  ProfileOptions options;
  const Scan scanned = scanOptions(argc, argv, options);
  if (scanned != Scan::kRun) return scanStatus(scanned);
  return Run(options).go();
}

}  // namespace kelbow
