#include "app/csv_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/companion.h"
#include "app/output_files.h"
#include "csv/column_survey.h"
#include "csv/csv_reader.h"
#include "csv/shell_word.h"
#include "csv/table_encoder.h"
#include "input/csv_encoding.h"
#include "input/table_reader.h"

namespace kelbow {

namespace {

// The name in every message: kelbow-csv's own, or that of a tool that encodes
// through it (encodeCsvFor), which leaves out the closing "wrote" line.
std::string_view kProgram = "kelbow-csv";
bool gEncodingForCaller = false;
CsvDecisions* gDecided = nullptr;  // where encodeCsvFor's caller hears the decisions

constexpr std::string_view kHelp =
    "Usage: kelbow-csv [OPTIONS] FILE\n"
    "Turns a delimited text file (CSV; FILE - reads standard input) into the tool's table:\n"
    "every column becomes an attribute whose values are coded 0, 1, ... in order of first\n"
    "appearance, top to bottom. A column of numbers with more than 20 distinct values is cut\n"
    "into 6 ordered bins of about equal counts, coded lowest first and labelled as intervals\n"
    "('[25, 35)'); dates are left out unless --dates makes categories of them. Quoted fields\n"
    "(RFC 4180), CRLF line ends and a UTF-8 byte order mark are understood; empty lines are\n"
    "skipped. What was decided about the delimiter, the header, the decimal mark and every\n"
    "column is said on standard error, with options to paste for another choice.\n"
    "\n"
    "Options:\n"
    "  -o, --output NAME      write NAME.data, NAME.desc, ... (default: FILE without its\n"
    "                         last extension; required for -)\n"
    "  -d, --delimiter CHAR   the field delimiter: ',' ';' 'tab' (or \\t) or any single byte\n"
    "                         (default: detected among ',' ';' and tab from the first lines)\n"
    "      --header           the first line holds the column names\n"
    "      --no-header        the first line is data (default: detected when unambiguous,\n"
    "                         else no header)\n"
    "      --names LIST       the column names, separated by commas (the first line is data\n"
    "                         unless --header is given, which replaces its names)\n"
    "  -x, --drop COLS        leave out these columns: 1-based numbers or header names,\n"
    "                         separated by commas; may be repeated\n"
    "  -l, --labels COL       keep this column aside as NAME.labels, not as an attribute\n"
    "  -m, --missing LIST     markers of a missing value, separated by commas ('?,,NA': '?',\n"
    "                         the empty field and 'NA'), written to NAME.missing for\n"
    "                         kelbow-profile; coded like any value, after a column's bins\n"
    "      --trim             strip blanks around unquoted fields\n"
    "      --split-chars COL  make one attribute per character of this column of\n"
    "                         equal-length strings, named COL[1], COL[2], ...\n"
    "  -f, --force            replace the files of an existing table NAME (never FILE itself)\n"
    "      --categorical COLS keep these columns as categories, whatever they hold\n"
    "      --bins N           cut numeric columns into N bins (2..1000; default 6)\n"
    "      --bins COL=N       cut this numeric column into N bins, even with few values\n"
    "      --cut COL=E1,E2,.. cut this numeric column at these ascending edges ('.' decimal)\n"
    "      --dates COL=PARTS  make categories of this date column: some of year, quarter,\n"
    "                         month, day, weekday and hour, named COL.month, ...\n"
    "      --decimal-comma    read numbers with ',' as the decimal mark ('2.260,59')\n"
    "      --decimal-point    read numbers with '.' as the decimal mark (default: ',' when\n"
    "                         the first rows hold numbers that only read so)\n"
    "      --day-first        read dates a/b/yyyy as dd/mm/yyyy when either order fits\n"
    "  -q, --quiet            say nothing but warnings and errors\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Files:\n"
    "  NAME.data     one line per data row: its codes, separated by single blanks\n"
    "  NAME.desc     'ROWS ATTRIBUTES', then one domain size per line\n"
    "  NAME.codes    per attribute a: 'a<TAB>value of code 0<TAB>value of code 1 ...'\n"
    "  NAME.names    one attribute name per line (from the header, else 1, 2, ...)\n"
    "  NAME.encoding how each attribute was made from the file and how the file was read\n"
    "                (JSON), for kelbow-labels --model and kelbow-assign\n"
    "  NAME.labels   with --labels: the kept column's value, one line per data row\n"
    "  NAME.missing  with --missing: one marker per line\n"
    "  A value holding TAB, CR, LF or a backslash is written as \\t \\r \\n \\\\.\n"
    "\n"
    "Exit status:\n"
    "  0  the files were written\n"
    "  1  bad input or options, a table NAME that exists (without --force), or a file\n"
    "     could not be read or written; nothing is left behind and an earlier table NAME\n"
    "     stays as it was (the files are written under temporary names and put in place\n"
    "     together at the end)\n"
    "\n"
    "Examples:\n"
    "  kelbow-csv --drop id --labels class --missing '?,' critters.csv\n"
    "  kelbow-csv --drop id --labels class --missing ',?' --dates joined=month survey.csv\n"
    "  kelbow-csv --no-header --labels 1 house-votes-84.data -o votes\n"
    "  gzip -dc big.csv.gz | kelbow-csv -o big -\n";

// Rows read before the header is decided; the head of the file held in memory.
constexpr size_t kHeaderSampleRows = 1000;
// Data lines are handed to the file in pieces of about this size.
constexpr size_t kFlushBytes = 1 << 20;
// Rows between two looks at the numeric columns' distinct values in the first
// reading; a column past ValueDistribution::kExactValues of them stops being
// coded as categories there (it is binned, or coded again in the second reading).
constexpr long long kCodingCheckRows = 4096;
// More value slots than this make kelbow slow: on 30,000 rows of 10 columns,
// 1,000 slots took 1.7 CPU s, 2,000 took 3.8 s and 5,000 took 8.6 s, and a
// 30,000-slot table 267 s (README).
constexpr long long kSlowSlots = 1000;
// Columns named in the warning of a slow table; names listed in a message.
constexpr size_t kWorstColumns = 3;
constexpr size_t kListedNames = 20;
// The most bins a column may be cut into.
constexpr int kMaxBins = 1000;

enum LongOnly {
  kHeaderOption = kFirstLongOnly,
  kNoHeaderOption,
  kTrimOption,
  kSplitOption,
  kNamesOption,
  kCategoricalOption,
  kBinsOption,
  kCutOption,
  kDatesOption,
  kDecimalCommaOption,
  kDecimalPointOption,
  kDayFirstOption
};

// What the options say about one column, named as on the command line.
struct ColumnOption {
  std::string column;
  std::string text;  // the option as given, for messages: "--bins 'age=5'"
  int bins = 0;
  std::vector<double> cuts;
  std::vector<std::string> cutTexts;
  std::vector<DatePart> parts;
};

struct CsvOptions {
  std::string input;
  std::optional<std::string> output;
  std::optional<char> delimiter;
  std::optional<bool> header;
  std::vector<std::string> drop;
  std::optional<std::string> labels;
  std::optional<std::vector<std::string>> missing;
  bool trim = false;
  std::vector<std::string> split;
  bool quiet = false;
  bool force = false;
  std::optional<std::vector<std::string>> names;
  std::vector<std::string> categorical;
  int bins = kDefaultBins;
  std::vector<ColumnOption> columnBins, cuts, dates;
  std::optional<DecimalMark> mark;
  bool dayFirst = false;
};

std::vector<std::string> splitList(std::string_view list) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    const size_t comma = list.find(',', start);
    items.emplace_back(list.substr(start, comma - start));
    if (comma == std::string_view::npos) return items;
    start = comma + 1;
  }
}

bool parseCount(std::string_view text, int lo, int hi, int& n) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return ec == std::errc() && end == text.data() + text.size() && n >= lo && n <= hi;
}

// "COL=VALUE" split at its last '=' (a column name may hold one).
bool splitAssignment(std::string_view text, std::string& column, std::string& value) {
  const size_t eq = text.rfind('=');
  if (eq == std::string_view::npos || eq == 0) return false;
  column = text.substr(0, eq);
  value = text.substr(eq + 1);
  return true;
}

// Reads the argument of --bins, --cut or --dates; false after a usage message.
bool parseColumnOption(int c, std::string_view arg, CsvOptions& o) {
  ColumnOption opt;
  const char* name = c == kBinsOption ? "--bins" : c == kCutOption ? "--cut" : "--dates";
  opt.text = std::string(name) + " " + shellWord(arg);
  std::string value;
  if (c == kBinsOption && arg.find('=') == std::string_view::npos) {
    if (!parseCount(arg, 2, kMaxBins, o.bins)) {
      usageFailure(kProgram, opt.text + ": a count of bins from 2 to " + std::to_string(kMaxBins) +
                                 ", or COL=N, is wanted");
      return false;
    }
    return true;
  }
  if (!splitAssignment(arg, opt.column, value)) {
    usageFailure(kProgram, opt.text + ": COL=" +
                               (c == kBinsOption  ? "N"
                                : c == kCutOption ? "E1,E2,... (ascending numbers)"
                                                  : "PARTS") +
                               " is wanted");
    return false;
  }
  if (c == kBinsOption) {
    if (!parseCount(value, 2, kMaxBins, opt.bins)) {
      usageFailure(kProgram, opt.text + ": a count of bins from 2 to " + std::to_string(kMaxBins) +
                                 " is wanted after '='");
      return false;
    }
    o.columnBins.push_back(std::move(opt));
  } else if (c == kCutOption) {
    for (const std::string& item : splitList(value)) {
      double edge;
      if (!parseNumber(item, DecimalMark::kPoint, edge) ||
          (!opt.cuts.empty() && edge <= opt.cuts.back())) {
        usageFailure(kProgram, opt.text +
                                   ": the edges are ascending numbers with '.' as the "
                                   "decimal mark, separated by commas");
        return false;
      }
      opt.cuts.push_back(edge);
      opt.cutTexts.push_back(numberLabel(edge));
    }
    o.cuts.push_back(std::move(opt));
  } else {
    for (const std::string& item : splitList(value)) {
      const auto part = std::find_if(kDateParts.begin(), kDateParts.end(),
                                     [&](DatePart p) { return datePartName(p) == item; });
      if (part == kDateParts.end() ||
          std::find(opt.parts.begin(), opt.parts.end(), *part) != opt.parts.end()) {
        usageFailure(kProgram, opt.text +
                                   ": the parts are some of year, quarter, month, day, weekday "
                                   "and hour, each once, separated by commas");
        return false;
      }
      opt.parts.push_back(*part);
    }
    o.dates.push_back(std::move(opt));
  }
  return true;
}

Scan scanOptions(int argc, char* argv[], CsvOptions& o) {
  static const option kLong[] = {{"output", required_argument, nullptr, 'o'},
                                 {"delimiter", required_argument, nullptr, 'd'},
                                 {"header", no_argument, nullptr, kHeaderOption},
                                 {"no-header", no_argument, nullptr, kNoHeaderOption},
                                 {"names", required_argument, nullptr, kNamesOption},
                                 {"drop", required_argument, nullptr, 'x'},
                                 {"labels", required_argument, nullptr, 'l'},
                                 {"missing", required_argument, nullptr, 'm'},
                                 {"trim", no_argument, nullptr, kTrimOption},
                                 {"split-chars", required_argument, nullptr, kSplitOption},
                                 {"force", no_argument, nullptr, 'f'},
                                 {"categorical", required_argument, nullptr, kCategoricalOption},
                                 {"bins", required_argument, nullptr, kBinsOption},
                                 {"cut", required_argument, nullptr, kCutOption},
                                 {"dates", required_argument, nullptr, kDatesOption},
                                 {"decimal-comma", no_argument, nullptr, kDecimalCommaOption},
                                 {"decimal-point", no_argument, nullptr, kDecimalPointOption},
                                 {"day-first", no_argument, nullptr, kDayFirstOption},
                                 {"quiet", no_argument, nullptr, 'q'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, kVersionOption},
                                 {nullptr, 0, nullptr, 0}};
  resetCompanionScan();
  for (int c; (c = getopt_long(argc, argv, ":o:d:x:l:m:fqh", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'o':
        o.output = ::optarg;
        break;
      case 'd': {
        char d = 0;
        if (!scanDelimiterOption(kProgram, ::optarg, d)) return Scan::kRefused;
        o.delimiter = d;
        break;
      }
      case kHeaderOption:
        o.header = true;
        break;
      case kNoHeaderOption:
        o.header = false;
        break;
      case kNamesOption:
        o.names = splitList(::optarg);
        break;
      case 'x':
        for (std::string& item : splitList(::optarg)) o.drop.push_back(std::move(item));
        break;
      case 'l':
        o.labels = ::optarg;
        break;
      case 'm':
        o.missing = splitList(::optarg);
        break;
      case kTrimOption:
        o.trim = true;
        break;
      case kSplitOption:
        o.split.push_back(::optarg);
        break;
      case 'f':
        o.force = true;
        break;
      case kCategoricalOption:
        for (std::string& item : splitList(::optarg)) o.categorical.push_back(std::move(item));
        break;
      case kBinsOption:
      case kCutOption:
      case kDatesOption:
        if (!parseColumnOption(c, ::optarg, o)) return Scan::kRefused;
        break;
      case kDecimalCommaOption:
        o.mark = DecimalMark::kComma;
        break;
      case kDecimalPointOption:
        o.mark = DecimalMark::kPoint;
        break;
      case kDayFirstOption:
        o.dayFirst = true;
        break;
      case 'q':
        o.quiet = true;
        break;
      default:
        return commonOption(c, argv, kProgram, kHelp);
    }
  }
  if (::optind + 1 != argc) {
    usageFailure(kProgram,
                 ::optind == argc ? "no input FILE given" : "more than one input FILE given");
    return Scan::kRefused;
  }
  o.input = argv[::optind];
  if (!o.output) {
    if (o.input == "-") {
      usageFailure(kProgram, "reading standard input (-) needs -o NAME");
      return Scan::kRefused;
    }
    // FILE without its last extension, in FILE's own directory.
    const size_t slash = o.input.rfind('/');
    const size_t dot = o.input.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
    o.output = hasExtension ? o.input.substr(0, dot) : o.input;
  }
  if (o.output->empty()) {
    usageFailure(kProgram, "the output NAME is empty");
    return Scan::kRefused;
  }
  return Scan::kRun;
}

// The input, readable a second time: a regular file is read again from where
// the first reading started; anything else (a pipe, a terminal) is copied to
// an unnamed temporary file as it is read.
class Rereadable {
 public:
  // `in` is not owned.
  explicit Rereadable(std::FILE* in) : in_(in) {
    struct stat st;
    if (fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode)) start_ = ftello(in);
  }
  ~Rereadable() {
    if (copy_ != nullptr) std::fclose(copy_);
  }
  Rereadable(const Rereadable&) = delete;
  Rereadable& operator=(const Rereadable&) = delete;

  bool seekable() const { return start_ >= 0; }
  // Starts the copy; false with err when no temporary file can be made.
  bool startCopy(CsvReader& reader, std::string& err) {
    const char* dir = std::getenv("TMPDIR");
    std::string path =
        std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/kelbow-csv-input-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0 || (copy_ = fdopen(fd, "w+b")) == nullptr) {
      err = path + ": cannot create a temporary copy of standard input (" + std::strerror(errno) +
            ")";
      if (fd >= 0) close(fd);
      return false;
    }
    unlink(path.c_str());  // gone with the process, whatever happens
    copyPath_ = path;
    reader.setCopy([this](std::string_view bytes) {
      if (!failed_ && std::fwrite(bytes.data(), 1, bytes.size(), copy_) != bytes.size())
        failed_ = true, errno_ = errno;
    });
    return true;
  }
  // Ends a copy that is not needed.
  void dropCopy(CsvReader& reader) {
    reader.setCopy({});
    if (copy_ != nullptr) std::fclose(copy_);
    copy_ = nullptr;
  }
  bool copying() const { return copy_ != nullptr; }
  // The stream to read again from its start; null with err when that fails.
  std::FILE* rewind(std::string& err) {
    std::FILE* f = seekable() ? in_ : copy_;
    if (f == nullptr) {
      err = "standard input cannot be read a second time";
      return nullptr;
    }
    if (!seekable() && (failed_ || std::fflush(copy_) != 0)) {
      err = copyPath_ + ": cannot write the temporary copy of standard input (" +
            std::strerror(failed_ ? errno_ : errno) + ")";
      return nullptr;
    }
    if (fseeko(f, seekable() ? start_ : 0, SEEK_SET) != 0) {
      err = "cannot read the input a second time (" + std::string(std::strerror(errno)) + ")";
      return nullptr;
    }
    return f;
  }

 private:
  std::FILE* in_;
  off_t start_ = -1;
  std::FILE* copy_ = nullptr;
  std::string copyPath_;
  bool failed_ = false;
  int errno_ = 0;
};

// What becomes of a kept column after the first reading.
struct ColumnPlan {
  ColumnKind kind = ColumnKind::kWords;
  bool typed = false;  // surveyed for numbers and dates
  const ColumnOption* bins = nullptr;
  const ColumnOption* cut = nullptr;
  const ColumnOption* dates = nullptr;
  long long distinct = 0;  // raw distinct values in the first reading
  long long slots = 0;     // value slots in the table written
};

std::string plural(long long n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

class Run {
 public:
  explicit Run(const CsvOptions& o) : o_(o), name_(o.input == "-" ? "(standard input)" : o.input) {}

  int go();

 private:
  int fail(const std::string& message) { return companionFailure(kProgram, message); }
  void say(const std::string& message) {
    if (!o_.quiet) companionFailure(kProgram, message);
  }
  void warn(const std::string& message) {
    companionFailure(kProgram, "warning: " + name_ + ": " + message);
  }
  std::optional<size_t> column(const std::string& wanted, const std::string& option,
                               std::string& err) const;
  bool assignRoles(std::vector<ColumnRole>& roles, std::string& err);
  bool resolveColumnOptions(const std::vector<ColumnRole>& roles, std::string& err);
  bool isMissing(std::string_view v) const {
    if (o_.missing)
      for (const std::string& m : *o_.missing)
        if (m == v) return true;
    return false;
  }
  std::string columnName(size_t col) const {
    return "column " + std::to_string(col + 1) + " '" + escapeValue(names_[col]) + "'";
  }
  std::string reference(size_t col, bool inList) const {
    return shellWord(columnReference(col, names_, haveHeader_ || o_.names, inList));
  }
  bool decide(const TableEncoder& first, std::string& err);
  void report(const std::vector<ColumnRole>& roles);
  int publish(OutputFiles& outputs, const TableEncoder& encoder);
  // Protects the input and refuses an existing table without --force.
  bool prepareOutputs(OutputFiles& outputs, std::string& err);
  bool flush(std::FILE* f, std::string& text, const std::string& path, std::string& err);

  const CsvOptions& o_;
  std::string name_;
  bool haveHeader_ = false;
  std::vector<std::string> names_;
  std::vector<ColumnPlan> plans_;
  std::vector<ColumnSurvey> surveys_;
  std::vector<ValueBins> binsOf_;
  long namesLine_ = 0;
  DecimalMark mark_ = DecimalMark::kPoint;
  char delimiter_ = ',';
  long long rows_ = 0;
};

std::optional<size_t> Run::column(const std::string& wanted, const std::string& option,
                                  std::string& err) const {
  const bool named = haveHeader_ || o_.names;
  const std::optional<size_t> col = findColumn(wanted, names_, named);
  if (!col) {
    err = name_ + ":1: " + option + ": no such column (the file has " +
          plural(static_cast<long long>(names_.size()), "column", "columns") +
          (named ? ": " + columnList(names_, kListedNames)
           : wanted.find_first_not_of("0123456789") == std::string::npos
               ? ""
               : " and no header; --names gives them names") +
          ")";
  }
  return col;
}

bool Run::assignRoles(std::vector<ColumnRole>& roles, std::string& err) {
  roles.assign(names_.size(), ColumnRole::kAttribute);
  auto give = [&](const std::string& wanted, const char* option, ColumnRole role) {
    const std::optional<size_t> col = column(wanted, std::string(option) + " " + wanted, err);
    if (!col) return false;
    if (roles[*col] != ColumnRole::kAttribute && roles[*col] != role) {
      err = name_ + ":1: " + option + " " + wanted + ": column " + std::to_string(*col + 1) +
            " is already dropped, kept as labels or split";
      return false;
    }
    roles[*col] = role;
    return true;
  };
  for (const std::string& wanted : o_.drop)
    if (!give(wanted, "--drop", ColumnRole::kDrop)) return false;
  if (o_.labels && !give(*o_.labels, "--labels", ColumnRole::kLabels)) return false;
  for (const std::string& wanted : o_.split)
    if (!give(wanted, "--split-chars", ColumnRole::kSplit)) return false;
  for (ColumnRole r : roles)
    if (r == ColumnRole::kAttribute || r == ColumnRole::kSplit) return true;
  err = name_ + ":1: no column is left as an attribute";
  return false;
}

bool Run::resolveColumnOptions(const std::vector<ColumnRole>& roles, std::string& err) {
  plans_.assign(names_.size(), ColumnPlan());
  for (size_t col = 0; col < names_.size(); ++col)
    plans_[col].typed = roles[col] == ColumnRole::kAttribute;
  std::vector<std::string> given(names_.size());  // the option that chose a column's treatment
  auto claim = [&](size_t col, const std::string& option) {
    if (roles[col] != ColumnRole::kAttribute) {
      err =
          name_ + ":1: " + option + ": " + columnName(col) + " is dropped, kept as labels or split";
      return false;
    }
    if (!given[col].empty()) {
      err = name_ + ":1: " + option + ": " + columnName(col) + " is already given to " + given[col];
      return false;
    }
    given[col] = option;
    return true;
  };
  for (const std::string& wanted : o_.categorical) {
    const std::string option = "--categorical " + shellWord(wanted);
    const std::optional<size_t> col = column(wanted, option, err);
    if (!col || !claim(*col, option)) return false;
    plans_[*col].typed = false;
  }
  for (const auto* list : {&o_.columnBins, &o_.cuts, &o_.dates})
    for (const ColumnOption& opt : *list) {
      const std::optional<size_t> col = column(opt.column, opt.text, err);
      if (!col || !claim(*col, opt.text)) return false;
      (list == &o_.columnBins ? plans_[*col].bins
       : list == &o_.cuts     ? plans_[*col].cut
                              : plans_[*col].dates) = &opt;
    }
  return true;
}

// Decides every typed column's kind from its survey, checks what the options
// ask of it, and counts the slots of the table to be written.
bool Run::decide(const TableEncoder& first, std::string& err) {
  for (size_t a = 0; a < first.attributeCount(); ++a) {
    const size_t col = first.attributeColumn(a);
    // A column no longer coded has at least as many distinct values as it had then.
    plans_[col].distinct += first.stopped(a)
                                ? surveys_[col].values()
                                : static_cast<long long>(first.codes(a).values().size());
  }
  for (size_t col = 0; col < plans_.size(); ++col) {
    ColumnPlan& p = plans_[col];
    p.slots = p.distinct;
    if (!p.typed) continue;
    const ColumnSurvey& s = surveys_[col];
    p.kind = classify(s, rows_);
    const ColumnOption* wantsNumbers = p.bins != nullptr ? p.bins : p.cut;
    if (wantsNumbers != nullptr && !s.numeric()) {
      const TextPosition at = s.firstNonNumberAt();
      err = at.line == 0
                ? name_ + ":1: " + wantsNumbers->text + ": " + columnName(col) + " holds no numbers"
                : name_ + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": " +
                      wantsNumbers->text + ": " + columnName(col) + " holds '" +
                      escapeValue(s.firstNonNumber()) + "', which is no number";
      return false;
    }
    if (p.dates != nullptr) {
      if (!s.dates()) {
        const TextPosition at = s.firstNonDateAt();
        err = s.values() == 0 || at.line == 0
                  ? name_ + ":1: " + p.dates->text + ": " + columnName(col) + " holds no dates"
                  : name_ + ":" + std::to_string(at.line) + ":" + std::to_string(at.column) + ": " +
                        p.dates->text + ": " + columnName(col) + " holds '" +
                        escapeValue(s.firstNonDate()) + "', which is no date";
        return false;
      }
      if (!s.anyTime() && std::find(p.dates->parts.begin(), p.dates->parts.end(),
                                    DatePart::kHour) != p.dates->parts.end()) {
        err = name_ + ":1: " + p.dates->text + ": " + columnName(col) +
              " holds dates without a time of day: no hour";
        return false;
      }
    }
    if (wantsNumbers != nullptr) p.kind = ColumnKind::kMeasure;
  }
  return true;
}

bool Run::flush(std::FILE* f, std::string& text, const std::string& path, std::string& err) {
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
    err = path + ": cannot write (" + std::strerror(errno) + ")";
    return false;
  }
  text.clear();
  return true;
}

// The files of the table NAME, whether this run writes them or not.
constexpr const char* kTableFiles[] = {".data",   ".desc",    ".codes",   ".names",
                                       ".labels", ".missing", ".encoding"};

bool Run::prepareOutputs(OutputFiles& outputs, std::string& err) {
  const std::string& base = *o_.output;
  if (o_.input != "-") outputs.protect(o_.input);
  std::vector<std::string> members;
  for (const char* ext : kTableFiles) {
    members.push_back(base + ext);
    if (outputs.isProtected(members.back())) {
      err = members.back() +
            ": is the input FILE and is never written over; choose another NAME with -o";
      return false;
    }
  }
  // A run without --labels or --missing leaves no such file of an earlier run beside its table.
  if (!o_.labels) outputs.removeAtCommit(base + ".labels");
  if (!o_.missing) outputs.removeAtCommit(base + ".missing");
  if (o_.force) return true;
  // Checked now, so that nothing is read in vain, and again when the files are
  // put in place, where another run may have made the table meanwhile.
  outputs.refuseToReplace("--force replaces the table");
  const std::string existing = OutputFiles::firstExisting(members);
  if (existing.empty()) return true;
  err = existing + ": already exists; --force replaces the table";
  return false;
}

int Run::go() {
  OutputFiles outputs;
  std::string err;
  if (!prepareOutputs(outputs, err)) return fail(err);
  std::FILE* in = o_.input == "-" ? stdin : std::fopen(o_.input.c_str(), "rb");
  if (in == nullptr) return fail(name_ + ": cannot open (" + std::strerror(errno) + ")");
  struct Closer {
    std::FILE* f;
    ~Closer() {
      if (f != stdin) std::fclose(f);
    }
  } closer{in};
  Rereadable input(in);

  CsvReader reader(in, name_);
  reader.setTrim(o_.trim);
  if (!input.seekable() && !input.startCopy(reader, err)) return fail(err);
  if (o_.delimiter) {
    reader.setDelimiter(*o_.delimiter);
  } else {
    // The head is read first: only then does the reader know whether it is the whole input.
    const std::string_view head = reader.head();
    const DelimiterGuess g = detectDelimiter(head, reader.headIsWhole(), o_.trim);
    reader.setDelimiter(g.delimiter);
    if (g.consistent)
      say(name_ + ": delimiter " + delimiterName(g.delimiter) +
          " (detected: " + std::to_string(g.fields) + " fields on each of the first " +
          std::to_string(g.records) + " rows; -d to choose another)");
    else if (g.records > 0)
      say(name_ +
          ": delimiter ',' (none of ',' ';' tab gives the first lines one field count; -d to "
          "choose)");
  }

  delimiter_ = reader.delimiter();
  // The first records decide the header; they are held until then.
  std::vector<std::vector<std::string>> sample;
  std::vector<std::vector<TextPosition>> samplePositions;
  std::vector<std::string> fields;
  std::vector<TextPosition> positions;
  CsvReader::Result r = CsvReader::Result::kRecord;
  while (sample.size() < kHeaderSampleRows &&
         (r = reader.next(fields, positions, err)) == CsvReader::Result::kRecord) {
    sample.push_back(fields);
    samplePositions.push_back(positions);
  }
  if (r == CsvReader::Result::kBad) return fail(err);
  if (sample.empty()) return fail(name_ + ": the file is empty (no records)");

  if (o_.header) {
    haveHeader_ = *o_.header;
  } else if (o_.names) {
    haveHeader_ = false;
  } else {
    std::string reason;
    haveHeader_ = looksLikeHeader(sample, &reason);
    if (haveHeader_)
      say(name_ + ": line " + std::to_string(samplePositions[0][0].line) +
          " is a header (detected: " + reason + "; --no-header to read it as data)");
    else
      say(name_ +
          ": no header line (none detected; --header to take the first line as column names)");
  }
  if (gDecided != nullptr) *gDecided = {reader.delimiter(), haveHeader_};
  if (o_.names) {
    if (o_.names->size() != sample[0].size())
      return fail(name_ + ":" + std::to_string(samplePositions[0][0].line) + ": --names gives " +
                  plural(static_cast<long long>(o_.names->size()), "name", "names") +
                  ", but the file has " +
                  plural(static_cast<long long>(sample[0].size()), "column", "columns"));
    names_ = *o_.names;
  } else if (haveHeader_) {
    names_ = sample[0];
  } else {
    for (size_t i = 1; i <= sample[0].size(); ++i) names_.push_back(std::to_string(i));
  }
  std::vector<ColumnRole> roles;
  if (!assignRoles(roles, err) || !resolveColumnOptions(roles, err)) return fail(err);

  const size_t firstRow = haveHeader_ ? 1 : 0;
  std::vector<bool> typed(names_.size());
  for (size_t col = 0; col < names_.size(); ++col) typed[col] = plans_[col].typed;
  if (o_.mark) {
    mark_ = *o_.mark;
  } else {
    std::string example;
    mark_ = detectDecimalMark({sample.begin() + static_cast<long>(firstRow), sample.end()}, typed,
                              &example);
    if (mark_ == DecimalMark::kComma)
      say(name_ + ": decimal mark ',' (detected: '" + escapeValue(example) +
          "' is a number only with a decimal comma; --decimal-point to read '.')");
  }
  for (size_t col = 0; col < names_.size(); ++col) surveys_.emplace_back(typed[col], mark_);

  namesLine_ = samplePositions[0][0].line;
  TableEncoder encoder(roles, names_, kMaxValueSlots, namesLine_);
  const std::string& base = *o_.output;
  const std::string dataPath = base + ".data", labelsPath = base + ".labels";
  std::FILE* data = outputs.open(dataPath, err);
  if (data == nullptr) return fail(err);
  std::FILE* labels = nullptr;
  if (o_.labels && (labels = outputs.open(labelsPath, err)) == nullptr) {
    OutputFiles::close(data, dataPath, err);
    return fail(err);
  }
  std::string dataText, labelsText;
  auto writeOut = [&]() {
    return flush(data, dataText, dataPath, err) &&
           (labels == nullptr || flush(labels, labelsText, labelsPath, err));
  };
  auto closeAll = [&]() {
    bool ok = OutputFiles::close(data, dataPath, err);
    if (labels != nullptr) ok = OutputFiles::close(labels, labelsPath, err) && ok;
    return ok;
  };
  // Columns of numbers or dates are coded as categories too, in case they stay
  // so, but only while they have few values: past that they are binned, split
  // or left out, or coded again in the second reading.
  std::vector<std::pair<size_t, size_t>> watched;  // (column, attribute)
  auto survey = [&](const std::vector<std::string>& f, const std::vector<TextPosition>& at) {
    if (rows_++ == 0)
      for (size_t a = 0; a < encoder.attributeCount(); ++a)
        if (typed[encoder.attributeColumn(a)]) watched.emplace_back(encoder.attributeColumn(a), a);
    for (size_t col = 0; col < f.size(); ++col)
      if (roles[col] == ColumnRole::kAttribute && !isMissing(f[col]))
        surveys_[col].add(f[col], at[col]);
    if (rows_ % kCodingCheckRows == 0)
      for (const auto& [col, a] : watched)
        if ((surveys_[col].numeric() || surveys_[col].dates()) &&
            encoder.codes(a).values().size() > ValueDistribution::kExactValues)
          encoder.stopCoding(a);
  };
  bool ok = true;
  for (size_t i = firstRow; ok && i < sample.size(); ++i) {
    ok = encoder.add(sample[i], samplePositions[i], name_, dataText, labelsText, err);
    if (ok) survey(sample[i], samplePositions[i]);
  }
  const TextPosition afterSample = reader.position();
  sample.clear();
  samplePositions.clear();
  // Only a column that may still hold numbers or dates can need a second reading.
  if (input.copying() && std::none_of(surveys_.begin(), surveys_.end(),
                                      [](const ColumnSurvey& s) { return s.mayBeTyped(); }))
    input.dropCopy(reader);
  while (ok && r == CsvReader::Result::kRecord) {
    r = reader.next(fields, positions, err);
    if (r == CsvReader::Result::kBad) ok = false;
    if (r != CsvReader::Result::kRecord) break;
    ok = encoder.add(fields, positions, name_, dataText, labelsText, err);
    if (ok) survey(fields, positions);
    // Once a column is no longer coded, the data lines are not the table's.
    if (!encoder.complete()) dataText.clear();
    if (ok && (dataText.size() >= kFlushBytes || labelsText.size() >= kFlushBytes)) ok = writeOut();
  }
  if (ok && encoder.rows() == 0)
    ok = false,
    err = name_ + ":" + std::to_string(afterSample.line) + ": no data rows after the header line";
  ok = ok && writeOut() && decide(encoder, err);
  if (!ok) {
    closeAll();
    return fail(err);
  }

  // The plan of the table to write.
  bool recode = !encoder.complete();
  std::vector<ColumnRole> finalRoles = roles;
  binsOf_.assign(names_.size(), ValueBins());
  std::vector<std::vector<std::vector<int>>> partValues(names_.size());
  for (size_t col = 0; col < names_.size(); ++col) {
    ColumnPlan& p = plans_[col];
    if (!p.typed) continue;
    const ColumnSurvey& s = surveys_[col];
    if (p.kind == ColumnKind::kMeasure) {
      binsOf_[col] =
          p.cut != nullptr
              ? ValueBins::cut(s.numbers(), p.cut->cuts, p.cut->cutTexts)
              : ValueBins::quantiles(s.numbers(), p.bins != nullptr ? p.bins->bins : o_.bins);
      finalRoles[col] = ColumnRole::kBinned;
      p.slots = binsOf_[col].size();
      recode = true;
    } else if (p.kind == ColumnKind::kDates) {
      recode = true;
      if (p.dates == nullptr) {
        finalRoles[col] = ColumnRole::kDrop;
        p.slots = 0;
        continue;
      }
      p.slots = 0;
      for (DatePart part : p.dates->parts) {
        std::vector<int> values = s.partValues(part, o_.dayFirst);
        if (part == DatePart::kHour && !s.everyTime()) values.insert(values.begin(), -1);
        p.slots += static_cast<long long>(values.size());
        partValues[col].push_back(std::move(values));
      }
      finalRoles[col] = ColumnRole::kDateParts;
    }
  }
  report(finalRoles);
  bool anyKept = false;
  for (ColumnRole role : finalRoles)
    anyKept = anyKept || (role != ColumnRole::kDrop && role != ColumnRole::kLabels);
  if (!anyKept) {
    closeAll();
    return fail(name_ +
                ":1: no column is left as an attribute (the dates are left out; --dates "
                "makes categories of them)");
  }

  if (recode) {
    // The second reading: the same records, coded with the bins and date parts.
    say(name_ + (input.seekable() ? ": read a second time to code the bins and date parts"
                                  : ": read a second time from a temporary copy of standard "
                                    "input, to code the bins and date parts"));
    std::FILE* again = input.rewind(err);
    if (again == nullptr || std::fflush(data) != 0 || ftruncate(fileno(data), 0) != 0 ||
        std::fseek(data, 0, SEEK_SET) != 0) {
      if (again != nullptr) err = dataPath + ": cannot write (" + std::strerror(errno) + ")";
      closeAll();
      return fail(err);
    }
    CsvReader second(again, name_);
    second.setTrim(o_.trim);
    second.setDelimiter(reader.delimiter());
    TableEncoder table(finalRoles, names_, kMaxValueSlots, namesLine_);
    for (size_t col = 0; col < names_.size(); ++col) {
      if (finalRoles[col] == ColumnRole::kBinned) table.setBins(col, binsOf_[col], mark_);
      if (finalRoles[col] == ColumnRole::kDateParts)
        table.setDateParts(col, plans_[col].dates->parts, partValues[col],
                           o_.dayFirst || surveys_[col].dayFirstOnly());
    }
    if (o_.missing) table.setMissing(*o_.missing);
    std::string unusedLabels;
    bool header = haveHeader_;
    while (ok && (r = second.next(fields, positions, err)) == CsvReader::Result::kRecord) {
      if (header) {
        header = false;
        continue;
      }
      ok = table.add(fields, positions, name_, dataText, unusedLabels, err);
      unusedLabels.clear();
      if (ok && dataText.size() >= kFlushBytes) ok = flush(data, dataText, dataPath, err);
    }
    if (ok && r == CsvReader::Result::kBad) ok = false;
    if (ok && table.rows() != encoder.rows())
      ok = false, err = name_ + ": the input changed between its two readings";
    ok = ok && flush(data, dataText, dataPath, err);
    ok = closeAll() && ok;
    if (!ok) return fail(err);
    return publish(outputs, table);
  }
  ok = closeAll();
  if (!ok) return fail(err);
  return publish(outputs, encoder);
}

// Says what became of each kept column, and warns about suspect ones and a
// table that clusters slowly, before the table is written.
void Run::report(const std::vector<ColumnRole>& finalRoles) {
  std::vector<std::string> words, fewNumbers;
  // One list of markers for every column that holds numbers but for a few
  // values: the markers given and those values, so that one option does for all.
  std::vector<std::string> given = o_.missing ? *o_.missing : std::vector<std::string>();
  for (size_t col = 0; col < plans_.size(); ++col)
    if (plans_[col].typed)
      for (const auto& [value, n] : surveys_[col].strays())
        if (std::find(given.begin(), given.end(), value) == given.end()) given.push_back(value);
  std::string markers;
  for (size_t i = 0; i < given.size(); ++i) markers += (i ? "," : "") + given[i];
  for (size_t col = 0; col < plans_.size(); ++col) {
    const ColumnPlan& p = plans_[col];
    const ColumnSurvey& s = surveys_[col];
    const ColumnRole role = finalRoles[col];
    if (role == ColumnRole::kDrop || role == ColumnRole::kLabels || role == ColumnRole::kSplit)
      if (p.kind != ColumnKind::kDates) continue;
    const std::string name = columnName(col);
    const std::string ref = columnReference(col, names_, haveHeader_ || o_.names, false);
    const std::string listRef = reference(col, true);
    if (role == ColumnRole::kBinned) {
      const ValueDistribution& n = s.numbers();
      const ValueBins& b = binsOf_[col];
      std::string edges;
      for (size_t i = 0; i < b.edges().size(); ++i)
        edges += (i ? ", " : "") + numberLabel(b.edges()[i]);
      say(name_ + ": " + name + ": numbers from " + numberLabel(n.min()) + " to " +
          numberLabel(n.max()) + " (" +
          (n.exact() ? std::to_string(n.distinct())
                     : "more than " + std::to_string(ValueDistribution::kExactValues)) +
          " distinct): " + plural(b.size(), "bin", "bins") +
          (p.cut != nullptr ? "" : " of about equal counts") +
          (edges.empty() ? "" : ", cut at " + edges) +
          (p.cut != nullptr    ? " (" + p.cut->text + ")"
           : p.bins != nullptr ? " (" + p.bins->text + ")"
                               : " (" + shellWord("--bins") + " " + shellWord(ref + "=N") +
                                     ", --cut " + shellWord(ref + "=E1,E2,...") +
                                     " or --categorical " + listRef + " to choose)"));
      continue;
    }
    if (p.kind == ColumnKind::kDates) {
      const bool dayFirst = o_.dayFirst || s.dayFirstOnly();
      const std::string forms = s.dateForms(dayFirst);
      const std::string order = s.datesAmbiguous()
                                    ? (o_.dayFirst ? "; read day first"
                                                   : "; read month first, --day-first for "
                                                     "dd/mm/yyyy")
                                    : "";
      if (role == ColumnRole::kDateParts) {
        std::string parts;
        for (DatePart part : p.dates->parts)
          parts += (parts.empty() ? "" : ", ") + escapeValue(names_[col]) + "." +
                   std::string(datePartName(part));
        say(name_ + ": " + name + ": dates (" + forms + ") made into " + parts + order);
      } else {
        warn(name + " holds dates (" + forms + "): left out; --dates " +
             shellWord(ref + (s.anyTime() ? "=month,weekday,hour" : "=month,weekday")) +
             " makes categories of them" + order);
      }
      continue;
    }
    if (!p.typed || p.kind == ColumnKind::kWords || p.kind == ColumnKind::kIdentifierRun) {
      words.push_back(names_[col]);
    } else {
      fewNumbers.push_back(names_[col]);
    }
    const std::string drop = "--drop " + listRef + " leaves it out";
    if (p.kind == ColumnKind::kIdentifierRun) {
      warn(name + " holds the integers " + numberLabel(s.numbers().min()) + " to " +
           numberLabel(s.numbers().max()) + ", each once: row numbers, an identifier; " + drop);
      continue;
    }
    const auto strays = s.strays();
    if (!strays.empty() && !(s.numbers().exact() && s.numbers().distinct() <= kFewNumbers)) {
      std::string shown;
      long long count = 0;
      for (const auto& [value, n] : strays) {
        shown += (shown.empty() ? "'" : " and '") + escapeValue(value) + "'";
        count += n;
      }
      warn(name + " holds numbers but for " + shown + " (" + plural(count, "row", "rows") +
           "): kept as categories; --missing " + shellWord(markers) +
           " reads that as missing, and the numbers are then cut into bins");
      continue;
    }
    if (s.otherMarkReads())
      warn(name + " reads as numbers with a decimal " +
           (mark_ == DecimalMark::kPoint ? "comma: --decimal-comma" : "point: --decimal-point") +
           " reads them so");
    switch (oddity(s, p.distinct, rows_)) {
      case Oddity::kConstant:
        warn(name + " holds '" + escapeValue(s.example()) + "' in every row: it carries nothing; " +
             drop);
        break;
      case Oddity::kCodes:
        warn(name + " holds " + std::to_string(p.distinct) + " distinct codes like '" +
             escapeValue(s.example()) + "' in " + std::to_string(rows_) + " rows: an identifier; " +
             drop);
        break;
      case Oddity::kFreeText: {
        char mean[32];
        std::snprintf(mean, sizeof mean, "%.0f", s.meanLength());
        warn(name + " holds free text (" + std::to_string(p.distinct) + " distinct values in " +
             std::to_string(rows_) + " rows, " + mean + " characters on average); " + drop);
        break;
      }
      case Oddity::kManyValues:
        warn(name + " has " + std::to_string(p.distinct) + " distinct values in " +
             std::to_string(rows_) + " rows: an identifier? " + drop);
        break;
      case Oddity::kNone:
        break;
    }
  }
  if (!words.empty()) say(name_ + ": kept as categories: " + columnList(words, kListedNames));
  if (!fewNumbers.empty())
    say(name_ + ": numbers with at most " + std::to_string(kFewNumbers) +
        " distinct values kept as categories: " + columnList(fewNumbers, kListedNames) +
        " (--bins 'COL=N' cuts one into N bins)");

  long long slots = 0;
  std::vector<size_t> kept;
  for (size_t col = 0; col < plans_.size(); ++col)
    if (finalRoles[col] != ColumnRole::kDrop && finalRoles[col] != ColumnRole::kLabels) {
      slots += plans_[col].slots;
      kept.push_back(col);
    }
  if (slots > kSlowSlots) {
    std::stable_sort(kept.begin(), kept.end(),
                     [&](size_t a, size_t b) { return plans_[a].slots > plans_[b].slots; });
    std::string worst;
    for (size_t i = 0; i < kept.size() && i < kWorstColumns; ++i)
      worst += (i ? ", '" : "'") + escapeValue(names_[kept[i]]) + "' (" +
               std::to_string(plans_[kept[i]].slots) + ")";
    warn(std::to_string(slots) + " value slots in all, the most in " + worst +
         ": kelbow will be slow on this table (it slows past " + std::to_string(kSlowSlots) +
         "); leave out or bin the columns with many values");
  }
}

int Run::publish(OutputFiles& outputs, const TableEncoder& encoder) {
  std::string err, missingText;
  if (o_.missing)
    for (const std::string& m : *o_.missing) missingText += escapeValue(m) + "\n";
  const std::string& base = *o_.output;
  // How the table was made, so that new rows can be coded alike.
  CsvEncoding made;
  made.delimiter = delimiter_;
  made.mark = mark_;
  made.trim = o_.trim;
  made.header = haveHeader_;
  made.columnsByName = haveHeader_ && !o_.names;
  made.columns = static_cast<int>(names_.size());
  if (o_.missing) made.missing = *o_.missing;
  made.attributes = encoder.sources();
  if (!outputs.writeWhole(base + ".desc", encoder.descriptionText(), err) ||
      !outputs.writeWhole(base + ".codes", encoder.codesText(), err) ||
      !outputs.writeWhole(base + ".names", encoder.namesText(), err) ||
      !outputs.writeWhole(base + ".encoding", csvEncodingJson(made) + "\n", err) ||
      (o_.missing && !outputs.writeWhole(base + ".missing", missingText, err)) ||
      !outputs.commit(err))
    return fail(err);
  long long values = 0;
  for (size_t a = 0; a < encoder.attributeCount(); ++a)
    values += static_cast<long long>(encoder.codes(a).values().size());
  std::string written = base + ".data, .desc, .codes, .names, .encoding";
  if (o_.labels) written += ", .labels";
  if (o_.missing) written += ", .missing";
  if (!gEncodingForCaller)
    say("wrote " + written + ": " + std::to_string(encoder.rows()) + " rows, " +
        std::to_string(encoder.attributeCount()) + " attributes, " + std::to_string(values) +
        " values");
  return 0;
}
}  // namespace

int encodeCsvFor(std::string_view program, int argc, char* argv[], CsvDecisions& decided) {
  kProgram = program;
  gEncodingForCaller = true;
  gDecided = &decided;
  CsvOptions options;
  const Scan scanned = scanOptions(argc, argv, options);
  if (scanned != Scan::kRun) return scanStatus(scanned);
  return Run(options).go();
}

bool scanDelimiterOption(std::string_view program, const char* text, char& d) {
  if (parseDelimiter(text, d)) return true;
  usageFailure(program, std::string("the delimiter '") + text +
                            "' is not one byte, 'tab' or \\t (nor a quote or line end)");
  return false;
}

int runCsv(int argc, char* argv[]) {
  startCompanion("kelbow-csv");
  CsvOptions options;
  const Scan scanned = scanOptions(argc, argv, options);
  if (scanned != Scan::kRun) return scanStatus(scanned);
  return Run(options).go();
}

}  // namespace kelbow
