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
#include "app/table_files.h"
#include "common/message_text.h"
#include "input/table_reader.h"
#include "profile/cluster_profile.h"
#include "profile/profile_report.h"

namespace kelbow {

namespace {

constexpr std::string_view kProgram = "kelbow-profile";

constexpr std::string_view kHelp =
    "Usage: kelbow-profile [OPTIONS] TABLE LABELS\n"
    "Tells what characterises each cluster of one labelling of a table: its size and\n"
    "share, the values that set it apart (a value's share in the cluster against its\n"
    "share in the whole table, ranked by the difference of the two, with their ratio as\n"
    "the lift), and its most frequent value per attribute (mode). With -c, the clusters\n"
    "are compared with known classes: the contingency table, purity and adjusted Rand\n"
    "index. TABLE is the table's base name or its .data file; LABELS holds one integer\n"
    "label per data row (kelbow-labels -o output, or a snapshot file).\n"
    "\n"
    "Options:\n"
    "  -c, --classes FILE     known classes, one per data row (kelbow-csv --labels)\n"
    "  -f, --format FORMAT    text (default), csv or json\n"
    "  -t, --top N            distinctive values shown per cluster (default 5)\n"
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

struct ProfileOptions {
  std::string table, labels;
  std::optional<std::string> classes, output;
  ReportFormat format = ReportFormat::kText;
  int top = kDefaultTop;
};

Scan scanOptions(int argc, char* argv[], ProfileOptions& o) {
  static const option kLong[] = {{"classes", required_argument, nullptr, 'c'},
                                 {"format", required_argument, nullptr, 'f'},
                                 {"top", required_argument, nullptr, 't'},
                                 {"output", required_argument, nullptr, 'o'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, kVersionOption},
                                 {nullptr, 0, nullptr, 0}};
  resetCompanionScan();
  for (int c; (c = getopt_long(argc, argv, ":c:f:t:o:h", kLong, nullptr)) != -1;) {
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
      case 't': {
        char* end = nullptr;
        errno = 0;
        const long n = std::strtol(::optarg, &end, 10);
        if (end == ::optarg || *end != '\0' || errno != 0 || n < 0 || n > INT_MAX) {
          usageFailure(kProgram, std::string("--top '") + ::optarg + "' is not a count");
          return Scan::kRefused;
        }
        o.top = static_cast<int>(n);
        break;
      }
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
  bool readCodes(const std::string& path, const std::vector<std::string>& lines, std::string& err);
  bool readNames(const std::string& path, const std::vector<std::string>& lines, std::string& err);
  bool readLabels(std::string& err);
  bool readClasses(std::string& err);
  bool readData(ByteSource& in, const std::string& path, ClusterCounts& counts, std::string& err);

  const ProfileOptions& o_;
  TableDescription desc_;
  ProfileReport report_;
  std::vector<int> clusterOfRow_;
  std::vector<int> classOfRow_;
};

bool Run::readCodes(const std::string& path, const std::vector<std::string>& lines,
                    std::string& err) {
  return parseCodes(path, lines, desc_.domainSizes, report_.values, err);
}

bool Run::readNames(const std::string& path, const std::vector<std::string>& lines,
                    std::string& err) {
  return parseNames(path, lines, desc_.attributeCount, report_.attributeNames, err);
}

bool Run::readLabels(std::string& err) {
  std::vector<std::string> lines;
  if (!readLines(o_.labels, lines, err)) return false;
  std::vector<long long> labels;
  for (size_t i = 0; i < lines.size(); ++i) {
    const char* text = lines[i].c_str();
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    while (end != text && (*end == ' ' || *end == '\t' || *end == '\r')) ++end;
    if (end == text || *end != '\0' || errno != 0) {
      err = o_.labels + ":" + std::to_string(i + 1) + ": '" + shownText(lines[i]) +
            "' is not an integer label";
      return false;
    }
    labels.push_back(v);
  }
  if (static_cast<long long>(labels.size()) != desc_.rows) {
    err = o_.labels + ":" + std::to_string(std::min<long long>(labels.size(), desc_.rows) + 1) +
          ": " + std::to_string(labels.size()) + " labels, but the table has " +
          std::to_string(desc_.rows) + " rows";
    return false;
  }
  std::map<long long, int> index;
  for (long long v : labels) index.emplace(v, 0);
  for (auto& [label, i] : index) {
    i = static_cast<int>(report_.clusterLabels.size());
    report_.clusterLabels.push_back(label);
  }
  clusterOfRow_.reserve(labels.size());
  for (long long v : labels) clusterOfRow_.push_back(index[v]);
  return true;
}

bool Run::readClasses(std::string& err) {
  std::vector<std::string> lines;
  if (!readLines(*o_.classes, lines, err)) return false;
  if (static_cast<long long>(lines.size()) != desc_.rows) {
    err = *o_.classes + ":" + std::to_string(std::min<long long>(lines.size(), desc_.rows) + 1) +
          ": " + std::to_string(lines.size()) + " classes, but the table has " +
          std::to_string(desc_.rows) + " rows";
    return false;
  }
  std::unordered_map<std::string, int> index;
  for (const std::string& line : lines) {
    auto [it, fresh] = index.emplace(line, static_cast<int>(report_.classNames.size()));
    if (fresh) report_.classNames.push_back(line);
    classOfRow_.push_back(it->second);
  }
  return true;
}

bool Run::readData(ByteSource& in, const std::string& path, ClusterCounts& counts,
                   std::string& err) {
  RecordReader records(in, path, desc_.domainSizes);
  std::vector<int> codes(desc_.attributeCount);
  bool ok = true;
  for (int r = 0; ok && r < desc_.rows; ++r) {
    const RecordReader::Result got = records.read(codes.data(), err);
    if (got == RecordReader::Result::kRecord) {
      counts.add(clusterOfRow_[r], codes.data());
    } else {
      if (got == RecordReader::Result::kEnd)
        err = path + ": record " + std::to_string(r + 1) +
              " is missing; the description declares " + std::to_string(desc_.rows) + " records";
      ok = false;
    }
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
  if (files.codes && !readCodes(base + ".codes", *files.codes, err)) return fail(err);
  if (files.names) {
    if (!readNames(base + ".names", *files.names, err)) return fail(err);
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
  if (!readLabels(err)) return fail(err);
  if (o_.classes && !readClasses(err)) return fail(err);
  ClusterCounts counts(static_cast<int>(report_.clusterLabels.size()), desc_.domainSizes);
  if (!readData(*files.data, base + ".data", counts, err)) return fail(err);

  report_.tableName = o_.table;
  report_.labelsName = o_.labels;
  report_.rows = desc_.rows;
  report_.clusters = profileClusters(counts, isMissing, o_.top);
  if (o_.classes) {
    report_.classesName = *o_.classes;
    report_.agreement = compareWithClasses(clusterOfRow_, classOfRow_,
                                           static_cast<int>(report_.clusterLabels.size()),
                                           static_cast<int>(report_.classNames.size()));
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
