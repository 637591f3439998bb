#include "app/report_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "api/held_rows.h"
#include "app/choice_options.h"
#include "app/companion.h"
#include "app/csv_run.h"
#include "app/output_files.h"
#include "app/status_progress.h"
#include "assign/model.h"
#include "assign/refine.h"
#include "choose/choose.h"
#include "common/error.h"
#include "common/temporary_files.h"
#include "common/value_escape.h"
#include "common/version.h"
#include "csv/csv_reader.h"
#include "input/byte_source.h"
#include "plot/svg_chart.h"
#include "profile/cluster_tests.h"
#include "report/cluster_report.h"

namespace kelbow {

namespace {

constexpr std::string_view kProgram = "kelbow-report";

constexpr std::string_view kHelp =
    "Usage: kelbow-report [OPTIONS] FILE\n"
    "From a delimited text file (CSV; FILE - reads standard input) to its clusters in one\n"
    "command: encodes the file as kelbow-csv does, clusters it once as kelbow does, chooses\n"
    "the number of clusters as kelbow-choose does (or takes -k), labels every row from that\n"
    "one clustering, and writes, next to FILE unless -o says otherwise:\n"
    "  PREFIX.clusters.csv  every record of FILE as it was, with a column 'cluster' added\n"
    "  PREFIX.report.html   the report, one self-contained page for any browser\n"
    "  PREFIX.report.json   the same figures for scripts\n"
    "PREFIX is FILE without its last extension. The table itself is kept only in\n"
    "temporary files (--table keeps it). Progress goes to standard error; the answer and\n"
    "the names of the files written to standard output.\n"
    "\n"
    "Options of the encoding (as kelbow-csv's):\n"
    "  -d, --delimiter CHAR   ',' ';' 'tab' (or \\t) or any single byte (default: detected)\n"
    "      --header           the first line holds the column names\n"
    "      --no-header        the first line is data (default: detected)\n"
    "  -x, --drop COLS        leave out these columns (numbers or header names, commas)\n"
    "  -l, --labels COL       a known class column: kept aside, not clustered, and compared\n"
    "                         with the clusters (contingency, purity, adjusted Rand index)\n"
    "      --classes COL      the same as --labels\n"
    "  -m, --missing LIST     markers of a missing value, separated by commas\n"
    "      --trim             strip blanks around unquoted fields\n"
    "      --split-chars COL  one attribute per character of this column\n"
    "      --names LIST       the column names, separated by commas\n"
    "      --categorical COLS keep these columns as categories, whatever they hold\n"
    "      --bins N, --bins COL=N, --cut COL=E1,E2,..\n"
    "                         how numeric columns are cut into bins (default 6 bins)\n"
    "      --dates COL=PARTS  make categories of this date column (month, weekday, ...)\n"
    "      --decimal-comma, --decimal-point, --day-first\n"
    "                         how numbers and dates are read\n"
    "Options of the choice (as kelbow-choose's):\n"
    "  -k, --clusters K       report K clusters (2 to 30) whatever the recommendation\n"
    "  -r, --references R     reference tables (default 10)\n"
    "  -s, --orders S         other row orders (default: kelbow-choose's below 100,000 rows,\n"
    "                         then 0)\n"
    "      --seed N           seed of the references and the orders (default 1)\n"
    "      --reference-rows N rows of a reference table at most (default 100000)\n"
    "  -j, --threads N        threads (default: every processor)\n"
    "Options of the output:\n"
    "  -o, --output PREFIX    write PREFIX.clusters.csv, PREFIX.report.html and\n"
    "                         PREFIX.report.json (PREFIX may hold a directory)\n"
    "  -t, --top N            values shown per cluster (default 5)\n"
    "      --typical N        typical rows shown per cluster (default 5)\n"
    "      --record FILE      write the clustering's record to FILE as well (kelbow-labels\n"
    "                         --from FILE labels any level from it without clustering again)\n"
    "      --table NAME       keep the encoded table as NAME.data, NAME.desc, ...\n"
    "      --refine           refine the K clusters as kelbow-labels --refine does (rows\n"
    "                         move to the cluster whose entropy they raise least; the\n"
    "                         table is held in memory for it)\n"
    "      --passes N         with --refine, at most N passes over the rows (default 20)\n"
    "      --model FILE       write the model of the K clusters for kelbow-assign\n"
    "  -q, --quiet            no progress, and no notes on the encoding\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  the files were written\n"
    "  1  bad options or input, or a file could not be read or written; a failed run\n"
    "     leaves none of its files behind and changes none that existed\n"
    "\n"
    "Examples:\n"
    "  kelbow-report --drop id --labels class --missing '?,' critters.csv\n"
    "  kelbow-report -k 6 -o out/survey survey.csv\n"
    "  zcat big.csv.gz | kelbow-report -o big -\n";

enum LongOnly {
  kHeaderOption = kFirstLongOnly,
  kNoHeaderOption,
  kTrimOption,
  kSplitOption,
  kClassesOption,
  kSeedOption,
  kReferenceRowsOption,
  kTypicalOption,
  kRecordOption,
  kTableOption,
  kRefineOption,
  kPassesOption,
  kModelOption,
  // kelbow-csv's options that are handed on as they are.
  kNamesOption,
  kCategoricalOption,
  kBinsOption,
  kCutOption,
  kDatesOption,
  kDecimalCommaOption,
  kDecimalPointOption,
  kDayFirstOption,
};

// The kelbow-csv options handed on as they are, by their code.
constexpr std::pair<int, const char*> kHandedOn[] = {
    {kNamesOption, "--names"},
    {kCategoricalOption, "--categorical"},
    {kBinsOption, "--bins"},
    {kCutOption, "--cut"},
    {kDatesOption, "--dates"},
    {kDecimalCommaOption, "--decimal-comma"},
    {kDecimalPointOption, "--decimal-point"},
    {kDayFirstOption, "--day-first"},
};

constexpr int kDefaultTop = 5;
constexpr int kDefaultTypical = 5;
constexpr int kMaxClusters = 30;
// From this many rows on the other row orders are left out by default: each
// costs a whole run, and the report's goal is about one run's cost.
constexpr long long kOrdersBelowRows = 100000;
// Clusters file text handed to the file in pieces of about this size.
constexpr size_t kFlushBytes = 1 << 20;

struct ReportOptions {
  std::string input;
  std::string prefix;
  std::vector<std::string> csv;  // the encoding's options, as kelbow-csv takes them
  std::optional<char> delimiter;
  bool trim = false;
  std::optional<std::string> classes;
  int k = 0;  // 0: the recommendation
  bool ordersGiven = false;
  ChoiceSettings settings;
  int top = kDefaultTop, typical = kDefaultTypical;
  std::optional<std::string> record, table, model;
  bool refine = false;
  int passes = kDefaultPassLimit;
  bool passesGiven = false;
  bool quiet = false;
};

// FILE without its last extension, in FILE's own directory.
std::string withoutExtension(const std::string& file) {
  const size_t slash = file.rfind('/');
  const size_t dot = file.rfind('.');
  const bool has =
      dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
  return has ? file.substr(0, dot) : file;
}

Scan scanOptions(int argc, char* argv[], ReportOptions& o) {
  static const option kLong[] = {
      {"delimiter", required_argument, nullptr, 'd'},
      {"header", no_argument, nullptr, kHeaderOption},
      {"no-header", no_argument, nullptr, kNoHeaderOption},
      {"drop", required_argument, nullptr, 'x'},
      {"labels", required_argument, nullptr, 'l'},
      {"classes", required_argument, nullptr, kClassesOption},
      {"missing", required_argument, nullptr, 'm'},
      {"trim", no_argument, nullptr, kTrimOption},
      {"split-chars", required_argument, nullptr, kSplitOption},
      {"names", required_argument, nullptr, kNamesOption},
      {"categorical", required_argument, nullptr, kCategoricalOption},
      {"bins", required_argument, nullptr, kBinsOption},
      {"cut", required_argument, nullptr, kCutOption},
      {"dates", required_argument, nullptr, kDatesOption},
      {"decimal-comma", no_argument, nullptr, kDecimalCommaOption},
      {"decimal-point", no_argument, nullptr, kDecimalPointOption},
      {"day-first", no_argument, nullptr, kDayFirstOption},
      {"clusters", required_argument, nullptr, 'k'},
      {"references", required_argument, nullptr, 'r'},
      {"orders", required_argument, nullptr, 's'},
      {"seed", required_argument, nullptr, kSeedOption},
      {"reference-rows", required_argument, nullptr, kReferenceRowsOption},
      {"threads", required_argument, nullptr, 'j'},
      {"output", required_argument, nullptr, 'o'},
      {"top", required_argument, nullptr, 't'},
      {"typical", required_argument, nullptr, kTypicalOption},
      {"record", required_argument, nullptr, kRecordOption},
      {"table", required_argument, nullptr, kTableOption},
      {"refine", no_argument, nullptr, kRefineOption},
      {"passes", required_argument, nullptr, kPassesOption},
      {"model", required_argument, nullptr, kModelOption},
      {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},
      {"version", no_argument, nullptr, kVersionOption},
      {nullptr, 0, nullptr, 0}};
  resetCompanionScan();
  long long v = 0;
  auto refuse = [&](const std::string& what) {
    usageFailure(kProgram, what);
    return Scan::kRefused;
  };
  bool haveOutput = false;
  for (int c; (c = getopt_long(argc, argv, ":d:x:l:m:k:r:s:j:o:t:qh", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'd': {
        // kelbow-csv checks the delimiter; the copy with the cluster column needs it too.
        const std::string_view d = ::optarg;
        if (d.size() == 1) o.delimiter = d[0];
        if (d == "tab" || d == "TAB" || d == "\\t") o.delimiter = '\t';
        o.csv.insert(o.csv.end(), {"-d", ::optarg});
        break;
      }
      case kHeaderOption:
        o.csv.push_back("--header");
        break;
      case kNoHeaderOption:
        o.csv.push_back("--no-header");
        break;
      case 'x':
        o.csv.insert(o.csv.end(), {"--drop", ::optarg});
        break;
      case 'l':
      case kClassesOption:
        if (o.classes) return refuse("one class column at most (--labels or --classes)");
        o.classes = ::optarg;
        o.csv.insert(o.csv.end(), {"--labels", ::optarg});
        break;
      case 'm':
        o.csv.insert(o.csv.end(), {"--missing", ::optarg});
        break;
      case kTrimOption:
        o.trim = true;
        o.csv.push_back("--trim");
        break;
      case kSplitOption:
        o.csv.insert(o.csv.end(), {"--split-chars", ::optarg});
        break;
      case 'k':
        if (!parseCount(::optarg, 2, kMaxClusters, v))
          return refuse("-k takes a number of clusters from 2 to 30");
        o.k = static_cast<int>(v);
        break;
      case 'r':
      case 's':
      case 'j':
      case kSeedOption:
      case kReferenceRowsOption:
        if (const std::string why = setChoiceOption(longName(kLong, c), ::optarg, o.settings);
            !why.empty())
          return refuse(why);
        if (c == 's') o.ordersGiven = true;
        break;
      case 'o':
        o.prefix = ::optarg, haveOutput = true;
        break;
      case 't':
        if (!parseCount(::optarg, 0, 1000, v)) return refuse("--top takes a number from 0 to 1000");
        o.top = static_cast<int>(v);
        break;
      case kTypicalOption:
        if (!parseCount(::optarg, 0, 1000, v))
          return refuse("--typical takes a number from 0 to 1000");
        o.typical = static_cast<int>(v);
        break;
      case kRecordOption:
        o.record = ::optarg;
        break;
      case kTableOption:
        o.table = ::optarg;
        break;
      case kRefineOption:
        o.refine = true;
        break;
      case kPassesOption:
        if (!parseCount(::optarg, 1, INT_MAX, v))
          return refuse("--passes takes a number of at least 1");
        o.passes = static_cast<int>(v);
        o.passesGiven = true;
        break;
      case kModelOption:
        o.model = ::optarg;
        break;
      case 'q':
        o.quiet = true;
        break;
      default:
        if (const auto* on = std::find_if(std::begin(kHandedOn), std::end(kHandedOn),
                                          [&](const auto& h) { return h.first == c; });
            on != std::end(kHandedOn)) {
          o.csv.push_back(on->second);
          if (::optarg != nullptr) o.csv.push_back(::optarg);
          break;
        }
        return commonOption(c, argv, kProgram, kHelp);
    }
  }
  if (::optind + 1 != argc)
    return refuse(::optind == argc ? "no input FILE given" : "more than one input FILE given");
  o.input = argv[::optind];
  if (!haveOutput) {
    if (o.input == "-") return refuse("reading standard input (-) needs -o PREFIX");
    o.prefix = withoutExtension(o.input);
  }
  if (o.prefix.empty() || o.prefix.back() == '/') return refuse("the output PREFIX names no file");
  if (o.table && o.table->empty()) return refuse("the --table NAME is empty");
  if (o.passesGiven && !o.refine) return refuse("--passes goes with --refine");
  return Scan::kRun;
}

// The cluster 1 .. k of every row: read from the hierarchy (no copy of four
// bytes a row besides the one the hierarchy holds), or the refined labels.
class RowLabels {
 public:
  RowLabels(const Hierarchy& h, int k, std::vector<int> refined)
      : h_(h), ofStart_(h.startNumbersBySize(k)), refined_(std::move(refined)) {}
  int operator[](int r) const {
    return refined_.empty() ? ofStart_[h_.startOfRow(r)] : refined_[r];
  }

 private:
  const Hierarchy& h_;
  std::vector<int> ofStart_;
  std::vector<int> refined_;  // empty unless refined
};

// Files of this run outside its output set: the encoded table and a copy of
// standard input, under unpredictable names in the temporary directory,
// removed when the run ends, however it ends.
class Scratch {
 public:
  ~Scratch() {
    for (auto& [path, id] : files_) {
      ::unlink(path.c_str());
      forgetTemporary(id);
    }
  }
  // A fresh name; false with err when the temporary directory refuses.
  bool make(std::string& path, std::string& err) {
    std::error_code ec;
    std::string dir = std::filesystem::temp_directory_path(ec).string();
    if (ec) dir = "/tmp";
    std::string name = dir + "/kelbow-report.XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
      err = dir + ": cannot create a temporary file (" + std::strerror(errno) + ")";
      return false;
    }
    ::close(fd);
    add(name);
    path = name;
    return true;
  }
  void add(const std::string& path) { files_.emplace_back(path, registerTemporary(path)); }

 private:
  std::vector<std::pair<std::string, TemporaryId>> files_;
};

// The files kelbow-csv writes for a table NAME.
constexpr const char* kTableFiles[] = {".data",   ".desc",    ".codes",   ".names",
                                       ".labels", ".missing", ".encoding"};

class Run {
 public:
  explicit Run(ReportOptions& o) : o_(o), name_(o.input == "-" ? "(standard input)" : o.input) {}
  int go();

 private:
  int fail(const std::string& message) { return companionFailure(kProgram, message); }
  bool spoolStandardInput(std::string& err);
  int encode();
  bool readTable(std::string& err);
  bool countClusters(const RowLabels& labels, ClusterCounts& counts, std::string& err);
  bool findTypicalRows(const RowLabels& labels, TypicalRows& typical, std::string& err);
  bool writeClustersFile(std::FILE* out, const std::string& path, const RowLabels& labels,
                         std::string& err);
  std::string answer(const ClusterReport& r) const;

  ReportOptions& o_;
  std::string name_;       // the input as messages name it
  std::string source_;     // the file read: the input, or the copy of standard input
  std::string tableBase_;  // the encoded table
  Scratch scratch_;
  CsvDecisions decided_;
  TableDescription desc_;
  Encoding encoding_;  // names, raw values and missing markers of the table
  std::vector<std::vector<bool>> isMissing_;
};

bool Run::spoolStandardInput(std::string& err) {
  if (!scratch_.make(source_, err)) return false;
  std::FILE* out = std::fopen(source_.c_str(), "wb");
  if (out == nullptr) {
    err = source_ + ": cannot write (" + std::strerror(errno) + ")";
    return false;
  }
  std::vector<char> buffer(1 << 16);
  bool ok = true;
  for (size_t got; ok && (got = std::fread(buffer.data(), 1, buffer.size(), stdin)) > 0;)
    ok = std::fwrite(buffer.data(), 1, got, out) == got;
  if (std::ferror(stdin)) {
    err = name_ + ": read error (" + std::strerror(errno) + ")";
    std::fclose(out);
    return false;
  }
  if (std::fclose(out) != 0 || !ok) {
    err = source_ + ": cannot write (" + std::strerror(errno) + ")";
    return false;
  }
  return true;
}

// kelbow-csv into the scratch table (or the kept one): its messages name this tool.
int Run::encode() {
  std::vector<std::string> args = {std::string(kProgram)};
  args.insert(args.end(), o_.csv.begin(), o_.csv.end());
  if (o_.quiet) args.push_back("--quiet");
  if (!o_.table) args.push_back("--force");
  args.insert(args.end(), {"-o", tableBase_, "--", source_});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  return encodeCsvFor(kProgram, static_cast<int>(args.size()), argv.data(), decided_);
}

bool Run::readTable(std::string& err) {
  std::unique_ptr<ByteSource> in = openInput(tableBase_ + ".desc");
  if (in == nullptr) {
    err = tableBase_ + ".desc: cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  const bool ok = readDescription(*in, tableBase_ + ".desc", desc_, err);
  while (!err.empty() && err.back() == '\n') err.pop_back();
  if (!ok) return false;
  if (!readEncoding(tableBase_, desc_.domainSizes, encoding_, err)) return false;
  isMissing_ = markMissing(encoding_.values, encoding_.missing);
  return true;
}

// Reads the table's rows once more, handing each with its cluster (0-based) to `each`.
template <typename Each>
bool eachRow(const std::string& path, const TableDescription& desc, const RowLabels& labels,
             std::string& err, Each each) {
  std::unique_ptr<ByteSource> in = openInput(path);
  if (in == nullptr) {
    err = path + ": cannot open (" + std::strerror(errno) + ")";
    return false;
  }
  RecordReader records(*in, path, desc.domainSizes);
  std::vector<int> codes(desc.attributeCount);
  for (int r = 0; r < desc.rows; ++r) {
    if (records.read(codes.data(), err) != RecordReader::Result::kRecord) {
      if (err.empty()) err = path + ": the table ended before its row " + std::to_string(r + 1);
      while (!err.empty() && err.back() == '\n') err.pop_back();
      return false;
    }
    each(r, labels[r] - 1, codes.data());
  }
  return true;
}

bool Run::countClusters(const RowLabels& labels, ClusterCounts& counts, std::string& err) {
  return eachRow(tableBase_ + ".data", desc_, labels, err,
                 [&](int, int c, const int* codes) { counts.add(c, codes); });
}

bool Run::findTypicalRows(const RowLabels& labels, TypicalRows& typical, std::string& err) {
  return eachRow(tableBase_ + ".data", desc_, labels, err,
                 [&](int r, int c, const int* codes) { typical.add(r, c, codes); });
}

// The input once more, record by record as it stands, each with its cluster
// added as a last field; the header gets the column's name.
bool Run::writeClustersFile(std::FILE* out, const std::string& path, const RowLabels& labels,
                            std::string& err) {
  std::FILE* in = std::fopen(source_.c_str(), "rb");
  if (in == nullptr) {
    err = name_ + ": cannot open again (" + std::strerror(errno) + ")";
    return false;
  }
  CsvReader reader(in, name_);
  reader.setTrim(o_.trim);
  reader.setDelimiter(decided_.delimiter);
  reader.keepRecordBytes(true);
  std::vector<std::string> fields;
  std::vector<TextPosition> positions;
  std::string text, lineEnd = "\n";
  bool lineEndSeen = false;
  long long record = 0;
  const long long records = desc_.rows + (decided_.header ? 1 : 0);
  CsvReader::Result got;
  bool ok = true;
  while (ok && (got = reader.next(fields, positions, err)) == CsvReader::Result::kRecord) {
    if (record == 0 && reader.hadByteOrderMark()) text += "\xEF\xBB\xBF";
    if (record >= records) {
      ++record;  // one more than the first reading found
      break;
    }
    if (!lineEndSeen && !reader.lineEnd().empty()) lineEnd = reader.lineEnd(), lineEndSeen = true;
    text += reader.recordBytes();
    text += decided_.delimiter;
    if (record == 0 && decided_.header) {
      const bool taken = std::find(fields.begin(), fields.end(), "cluster") != fields.end();
      text += taken ? "kelbow_cluster" : "cluster";
    } else {
      text += std::to_string(labels[record - (decided_.header ? 1 : 0)]);
    }
    text += reader.lineEnd().empty() ? lineEnd : std::string(reader.lineEnd());
    ++record;
    if (text.size() >= kFlushBytes) {
      ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
      text.clear();
    }
  }
  std::fclose(in);
  if (ok && got == CsvReader::Result::kBad) return false;
  if (ok && record != records) {
    err = name_ + ": changed while it was read (" + std::to_string(records) +
          " records at first, then " + (record < records ? std::to_string(record) : "more") + ")";
    return false;
  }
  if (ok) ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (!ok) err = path + ": cannot write (" + std::strerror(errno) + ")";
  return ok;
}

std::string padLeft(const std::string& s, size_t width) {
  return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

// What standard output says: the answer, one line per cluster, the files.
std::string Run::answer(const ClusterReport& r) const {
  const Choice& c = r.choice;
  std::string also;
  for (int k : c.candidates)
    if (k != r.k) also += (also.empty() ? "" : ", ") + std::to_string(k);
  std::string out = name_ + ": ";
  if (r.kGiven)
    out += std::to_string(r.k) + " clusters as asked (" +
           (c.k == 1 ? std::string("no cluster structure found on its own")
                     : "recommended: " + std::to_string(c.k)) +
           ")\n";
  else if (c.k == 1)
    out += "no cluster structure found (K = 1)\n";
  else
    out += std::to_string(r.k) + " clusters recommended" +
           (also.empty() ? "" : " (also supported: " + also + ")") + "\n";
  out += "cluster     rows   share  what sets it apart (share in the cluster / overall)\n";
  for (const ClusterProfile& p : r.clusters) {
    std::string apart;
    for (size_t i = 0; i < p.distinctive.size() && i < 3; ++i) {
      const ValueStanding& s = p.distinctive[i];
      apart += (i ? "; " : "") + escapeValue(r.attributeNames[s.attribute]) + " = " +
               escapeValue(r.values[s.attribute][s.code]) + " " + formatFixed(100 * s.share, 0) +
               "% / " + formatFixed(100 * s.overallShare, 0) + "%";
    }
    out += padLeft(std::to_string(p.cluster + 1), 7) + padLeft(std::to_string(p.size), 9) +
           padLeft(formatFixed(100 * p.share, 1) + "%", 8) + "  " + apart + "\n";
  }
  out += "wrote " + r.clustersFile + ", " + r.htmlFile + ", " + r.jsonFile;
  if (!r.recordFile.empty()) out += ", " + r.recordFile;
  if (!r.modelFile.empty()) out += ", " + r.modelFile;
  if (o_.table) out += ", " + *o_.table + ".data (and the table's other files)";
  return out + "\n";
}

int Run::go() {
  OutputFiles files;
  if (o_.input != "-") files.protect(o_.input);
  std::string err;
  ClusterReport report;
  report.clustersFile = o_.prefix + ".clusters.csv";
  report.htmlFile = o_.prefix + ".report.html";
  report.jsonFile = o_.prefix + ".report.json";
  if (o_.record) report.recordFile = *o_.record;
  if (o_.model) report.modelFile = *o_.model;
  for (const std::string* path : {&report.clustersFile, &report.htmlFile, &report.jsonFile,
                                  &report.recordFile, &report.modelFile}) {
    if (!path->empty() && files.isProtected(*path))
      return fail(*path +
                  ": is the input FILE and is never written over; choose another -o PREFIX");
  }
  // The places of the files are tried before anything is read.
  std::FILE* clusters = files.open(report.clustersFile, err);
  if (clusters == nullptr) return fail(err);
  struct Closer {
    std::FILE*& f;
    ~Closer() {
      if (f != nullptr) std::fclose(f);
    }
  } closer{clusters};

  if (o_.input == "-") {
    if (!spoolStandardInput(err)) return fail(err);
  } else {
    source_ = o_.input;
  }
  if (o_.table) {
    tableBase_ = *o_.table;
  } else {
    if (!scratch_.make(tableBase_, err)) return fail(err);
    for (const char* ext : kTableFiles) scratch_.add(tableBase_ + ext);
  }
  if (const int status = encode(); status != 0) return status;
  if (!readTable(err)) return fail(err);

  if (!o_.ordersGiven && desc_.rows >= kOrdersBelowRows) o_.settings.orders = 0;
  std::unique_ptr<ByteSource> data = openInput(tableBase_ + ".data");
  if (data == nullptr)
    return fail(tableBase_ + ".data: cannot open (" + std::strerror(errno) + ")");
  RecordReader rows(*data, tableBase_ + ".data", desc_.domainSizes);
  Hierarchy table;
  {
    StatusProgress progress(kProgram, name_, !o_.quiet);
    const bool chosen =
        chooseClusters(desc_, rows, o_.settings, progress, progress, report.choice, table, err);
    progress.finish();
    if (!chosen) {
      error(err, false);
      return kCompanionFailure;
    }
  }
  data.reset();
  report.kGiven = o_.k > 0;
  report.k = report.kGiven ? o_.k : report.choice.k;
  if (report.k > table.startCount())
    return fail(name_ + ": -k " + std::to_string(report.k) + ": the table has only " +
                std::to_string(table.startCount()) + " starting clusters");
  std::vector<int> refined;
  if (o_.refine || o_.model) {
    std::unique_ptr<CodeTable> held;
    if (!readCodeTable(tableBase_ + ".desc", tableBase_ + ".data", held, err)) {
      while (!err.empty() && err.back() == '\n') err.pop_back();
      return fail(err);
    }
    const HeldRows rows(*held);
    std::vector<int> labels = table.labels(report.k);
    if (o_.refine) {
      labels = refineCut(rows, desc_.domainSizes, report.k, labels, o_.passes, report.refinement);
      if (!o_.quiet) companionFailure(kProgram, report.refinement);
    }
    if (o_.model) {
      for (int& l : labels) --l;
      if (!files.writeWhole(*o_.model, modelJson(trainModel(rows, encoding_, report.k, labels)),
                            err))
        return fail(err);
      for (int& l : labels) ++l;
    }
    if (o_.refine) refined = std::move(labels);
  }
  const RowLabels labels(table, report.k, std::move(refined));

  ClusterCounts counts(report.k, desc_.domainSizes);
  if (!countClusters(labels, counts, err)) return fail(err);
  report.inputName = name_;
  report.version = kVersion;
  report.rows = desc_.rows;
  report.attributeNames = encoding_.names;
  report.values = encoding_.values;
  report.isMissing = isMissing_;
  describeClusters(counts, o_.top, report);
  TypicalRows typical(counts, o_.typical);
  if (o_.typical > 0 && !findTypicalRows(labels, typical, err)) return fail(err);
  for (int c = 0; c < report.k; ++c) report.typical.push_back(typical.of(c));
  report.dendrogram = buildDendrogram(table, kReportLevels, report.k);

  if (o_.classes) {
    // The class column kelbow-csv kept aside, one escaped value a row, read as it streams.
    ClusterReport::Classes classes;
    classes.column = *o_.classes;
    const std::string path = tableBase_ + ".labels";
    std::ifstream in(path, std::ios::binary);
    std::unordered_map<std::string, int> index;
    std::vector<std::vector<long long>> cells(report.k);
    std::string line;
    for (int r = 0; r < desc_.rows; ++r) {
      if (!std::getline(in, line))
        return fail(path + ": ended before row " + std::to_string(r + 1));
      auto [it, fresh] = index.emplace(line, static_cast<int>(classes.names.size()));
      if (fresh) {
        classes.names.push_back(unescapeValue(line));
        for (auto& row : cells) row.push_back(0);
      }
      ++cells[labels[r] - 1][it->second];
    }
    classes.agreement = agreementOf(std::move(cells));
    report.classes = std::move(classes);
  }

  if (!writeClustersFile(clusters, report.clustersFile, labels, err) ||
      !OutputFiles::close(std::exchange(clusters, nullptr), report.clustersFile, err) ||
      !files.writeWhole(report.htmlFile, renderReportHtml(report), err) ||
      !files.writeWhole(report.jsonFile, renderReportJson(report), err) ||
      (o_.record && !files.writeWhole(*o_.record, table.record(), err)))
    return fail(err);
  // The answer goes out before the files are put in place: when standard
  // output fails, no file is left either.
  if (writeStandardOutput(kProgram, answer(report)) != 0) return kCompanionFailure;
  if (!files.commit(err)) return fail(err);
  return 0;
}

}  // namespace

int runReport(int argc, char* argv[]) {
  startCompanion("kelbow-report");
  prefixMessages();
  ReportOptions options;
  const Scan scanned = scanOptions(argc, argv, options);
  if (scanned != Scan::kRun) return scanStatus(scanned);
  return Run(options).go();
}

}  // namespace kelbow
