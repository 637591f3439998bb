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
#include "csv/column_typing.h"
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

// Data lines are handed to the file in pieces of about this size.
constexpr size_t kFlushBytes = 1 << 20;

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

// kelbow-csv's options: the file, how it is read and written, and how its
// columns are typed.
struct CsvOptions : TypingOptions {
  std::string input;
  std::optional<std::string> output;
  std::optional<char> delimiter;
  std::optional<bool> header;
  bool trim = false;
  bool quiet = false;
  bool force = false;
  std::optional<std::vector<std::string>> names;
};

// Takes a typing option; false after a usage message.
bool takeOption(std::string_view option, std::string_view arg, CsvOptions& o) {
  std::string err;
  if (takeTypingOption(option, arg, o, err)) return true;
  usageFailure(kProgram, err);
  return false;
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
        if (!takeOption("--drop", ::optarg, o)) return Scan::kRefused;
        break;
      case 'l':
        if (!takeOption("--labels", ::optarg, o)) return Scan::kRefused;
        break;
      case 'm':
        if (!takeOption("--missing", ::optarg, o)) return Scan::kRefused;
        break;
      case kTrimOption:
        o.trim = true;
        break;
      case kSplitOption:
        if (!takeOption("--split-chars", ::optarg, o)) return Scan::kRefused;
        break;
      case 'f':
        o.force = true;
        break;
      case kCategoricalOption:
        if (!takeOption("--categorical", ::optarg, o)) return Scan::kRefused;
        break;
      case kBinsOption:
      case kCutOption:
      case kDatesOption:
        if (!takeOption(c == kBinsOption  ? "--bins"
                        : c == kCutOption ? "--cut"
                                          : "--dates",
                        ::optarg, o))
          return Scan::kRefused;
        break;
      case kDecimalCommaOption:
        if (!takeOption("--decimal-comma", "", o)) return Scan::kRefused;
        break;
      case kDecimalPointOption:
        if (!takeOption("--decimal-point", "", o)) return Scan::kRefused;
        break;
      case kDayFirstOption:
        if (!takeOption("--day-first", "", o)) return Scan::kRefused;
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

class Run {
 public:
  explicit Run(const CsvOptions& o) : o_(o), name_(o.input == "-" ? "(standard input)" : o.input) {}

  int go();

 private:
  int fail(const std::string& message) { return companionFailure(kProgram, message); }
  void say(const std::string& message) {
    if (!o_.quiet) companionFailure(kProgram, message);
  }
  // What the column typing says: warnings always, the rest unless --quiet.
  void hear(bool warning, const std::string& text) {
    if (warning) {
      companionFailure(kProgram, "warning: " + text);
    } else {
      say(text);
    }
  }
  int publish(OutputFiles& outputs, const TableEncoder& encoder);
  // Protects the input and refuses an existing table without --force.
  bool prepareOutputs(OutputFiles& outputs, std::string& err);
  bool flush(std::FILE* f, std::string& text, const std::string& path, std::string& err);

  const CsvOptions& o_;
  std::string name_;
  bool haveHeader_ = false;
  std::vector<std::string> names_;
  std::optional<ColumnTyping> typing_;
  long namesLine_ = 0;
  char delimiter_ = ',';
};

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
  typing_.emplace(o_, name_, names_, haveHeader_ || o_.names,
                  [this](bool warning, const std::string& text) { hear(warning, text); });
  ColumnTyping& typing = *typing_;
  if (!typing.assignRoles(err)) return fail(err);
  const std::vector<ColumnRole>& roles = typing.roles();

  const size_t firstRow = haveHeader_ ? 1 : 0;
  const std::vector<bool> typed = typing.typedColumns();
  typing.chooseMark([&](std::string* example) {
    return detectDecimalMark({sample.begin() + static_cast<long>(firstRow), sample.end()}, typed,
                             example);
  });

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
    if (typing.rows() == 0)
      for (size_t a = 0; a < encoder.attributeCount(); ++a)
        if (typed[encoder.attributeColumn(a)]) watched.emplace_back(encoder.attributeColumn(a), a);
    typing.surveyRecord(f, at);
    if (typing.rows() % kCodingCheckRows == 0)
      for (const auto& [col, a] : watched)
        if ((typing.survey(col).numeric() || typing.survey(col).dates()) &&
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
  bool mayBeTyped = false;
  for (size_t col = 0; col < names_.size(); ++col)
    mayBeTyped = mayBeTyped || typing.survey(col).mayBeTyped();
  if (input.copying() && !mayBeTyped) input.dropCopy(reader);
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
  // The raw distinct values the first reading coded; a column no longer coded
  // has at least as many as it had then.
  std::vector<long long> distinct(names_.size());
  for (size_t a = 0; a < encoder.attributeCount(); ++a) {
    const size_t col = encoder.attributeColumn(a);
    distinct[col] += encoder.stopped(a) ? typing.survey(col).values()
                                        : static_cast<long long>(encoder.codes(a).values().size());
  }
  std::vector<ColumnRole> finalRoles;
  bool recode = false;
  ok = ok && writeOut() && typing.decide(distinct, err) &&
       typing.plan(encoder.complete(), finalRoles, recode, err);
  if (!ok) {
    closeAll();
    return fail(err);
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
    typing.setUp(table, finalRoles);
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

int Run::publish(OutputFiles& outputs, const TableEncoder& encoder) {
  std::string err, missingText;
  if (o_.missing)
    for (const std::string& m : *o_.missing) missingText += escapeValue(m) + "\n";
  const std::string& base = *o_.output;
  // How the table was made, so that new rows can be coded alike.
  CsvEncoding made;
  made.delimiter = delimiter_;
  made.mark = typing_->mark();
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
