#include "app/csv_run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "app/companion.h"
#include "app/output_files.h"
#include "csv/csv_reader.h"
#include "csv/table_encoder.h"
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
    "appearance, top to bottom. Quoted fields (RFC 4180), CRLF line ends and a UTF-8 byte\n"
    "order mark are understood; empty lines are skipped. What was decided about the\n"
    "delimiter and the header is said on standard error.\n"
    "\n"
    "Options:\n"
    "  -o, --output NAME      write NAME.data, NAME.desc, ... (default: FILE without its\n"
    "                         last extension; required for -)\n"
    "  -d, --delimiter CHAR   the field delimiter: ',' ';' 'tab' (or \\t) or any single byte\n"
    "                         (default: detected among ',' ';' and tab from the first lines)\n"
    "      --header           the first line holds the column names\n"
    "      --no-header        the first line is data (default: detected when unambiguous,\n"
    "                         else no header)\n"
    "  -x, --drop COLS        leave out these columns: 1-based numbers or header names,\n"
    "                         separated by commas; may be repeated\n"
    "  -l, --labels COL       keep this column aside as NAME.labels, not as an attribute\n"
    "  -m, --missing LIST     markers of a missing value, separated by commas ('?,,NA': '?',\n"
    "                         the empty field and 'NA'), written to NAME.missing for\n"
    "                         kelbow-profile; they are still coded like any value\n"
    "      --trim             strip blanks around unquoted fields\n"
    "      --split-chars COL  make one attribute per character of this column of\n"
    "                         equal-length strings, named COL[1], COL[2], ...\n"
    "  -f, --force            replace the files of an existing table NAME (never FILE itself)\n"
    "  -q, --quiet            say nothing but warnings and errors\n"
    "  -h, --help             show this help and exit\n"
    "      --version          show the version and exit\n"
    "\n"
    "Files:\n"
    "  NAME.data     one line per data row: its codes, separated by single blanks\n"
    "  NAME.desc     'ROWS ATTRIBUTES', then one domain size per line\n"
    "  NAME.codes    per attribute a: 'a<TAB>value of code 0<TAB>value of code 1 ...'\n"
    "  NAME.names    one attribute name per line (from the header, else 1, 2, ...)\n"
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
    "  kelbow-csv --no-header --labels 1 house-votes-84.data -o votes\n"
    "  gzip -dc big.csv.gz | kelbow-csv -o big -\n";

// Rows read before the header is decided; the head of the file held in memory.
constexpr size_t kHeaderSampleRows = 1000;
// A column with at least this share of distinct values, over at least
// kIdentifierMinRows rows, is most likely an identifier.
constexpr double kIdentifierShare = 0.95;
constexpr long long kIdentifierMinRows = 20;
// Data lines are handed to the file in pieces of about this size.
constexpr size_t kFlushBytes = 1 << 20;

enum LongOnly { kHeaderOption = kFirstLongOnly, kNoHeaderOption, kTrimOption, kSplitOption };

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

bool parseDelimiter(std::string_view text, char& d) {
  if (text == "tab" || text == "\\t" || text == "TAB") {
    d = '\t';
  } else if (text.size() == 1) {
    d = text[0];
  } else {
    return false;
  }
  return d != '"' && d != '\n' && d != '\r';
}

Scan scanOptions(int argc, char* argv[], CsvOptions& o) {
  static const option kLong[] = {{"output", required_argument, nullptr, 'o'},
                                 {"delimiter", required_argument, nullptr, 'd'},
                                 {"header", no_argument, nullptr, kHeaderOption},
                                 {"no-header", no_argument, nullptr, kNoHeaderOption},
                                 {"drop", required_argument, nullptr, 'x'},
                                 {"labels", required_argument, nullptr, 'l'},
                                 {"missing", required_argument, nullptr, 'm'},
                                 {"trim", no_argument, nullptr, kTrimOption},
                                 {"split-chars", required_argument, nullptr, kSplitOption},
                                 {"force", no_argument, nullptr, 'f'},
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
        if (!parseDelimiter(::optarg, d)) {
          usageFailure(kProgram, std::string("the delimiter '") + ::optarg +
                                     "' is not one byte, 'tab' or \\t (nor a quote or line end)");
          return Scan::kRefused;
        }
        o.delimiter = d;
        break;
      }
      case kHeaderOption:
        o.header = true;
        break;
      case kNoHeaderOption:
        o.header = false;
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

class Run {
 public:
  explicit Run(const CsvOptions& o) : o_(o), name_(o.input == "-" ? "(standard input)" : o.input) {}

  int go();

 private:
  int fail(const std::string& message) { return companionFailure(kProgram, message); }
  void say(const std::string& message) {
    if (!o_.quiet) companionFailure(kProgram, message);
  }
  bool assignRoles(const std::vector<std::string>& names, bool haveHeader,
                   std::vector<ColumnRole>& roles, std::string& err);
  bool flush(std::FILE* f, std::string& text, const std::string& path, std::string& err);
  bool prepareOutputs(OutputFiles& outputs, std::string& err);

  const CsvOptions& o_;
  std::string name_;
};

bool Run::assignRoles(const std::vector<std::string>& names, bool haveHeader,
                      std::vector<ColumnRole>& roles, std::string& err) {
  roles.assign(names.size(), ColumnRole::kAttribute);
  auto give = [&](const std::string& wanted, const char* option, ColumnRole role) {
    const std::optional<size_t> col = findColumn(wanted, names, haveHeader);
    if (!col) {
      err = name_ + ":1: " + option + " " + wanted + ": no such column (the file has " +
            std::to_string(names.size()) + " columns" +
            (haveHeader || wanted.find_first_not_of("0123456789") == std::string::npos
                 ? ""
                 : " and no header") +
            ")";
      return false;
    }
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

bool Run::flush(std::FILE* f, std::string& text, const std::string& path, std::string& err) {
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) {
    err = path + ": cannot write (" + std::strerror(errno) + ")";
    return false;
  }
  text.clear();
  return true;
}

// The files of the table NAME, whether this run writes them or not.
constexpr const char* kTableFiles[] = {".data", ".desc", ".codes", ".names", ".labels", ".missing"};

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

  CsvReader reader(in, name_);
  reader.setTrim(o_.trim);
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

  bool haveHeader = false;
  if (o_.header) {
    haveHeader = *o_.header;
  } else {
    std::string reason;
    haveHeader = looksLikeHeader(sample, &reason);
    if (haveHeader)
      say(name_ + ": line " + std::to_string(samplePositions[0][0].line) +
          " is a header (detected: " + reason + "; --no-header to read it as data)");
    else
      say(name_ +
          ": no header line (none detected; --header to take the first line as column names)");
  }
  if (gDecided != nullptr) *gDecided = {reader.delimiter(), haveHeader};
  std::vector<std::string> names;
  if (haveHeader) {
    names = sample[0];
  } else {
    for (size_t i = 1; i <= sample[0].size(); ++i) names.push_back(std::to_string(i));
  }
  std::vector<ColumnRole> roles;
  if (!assignRoles(names, haveHeader, roles, err)) return fail(err);

  TableEncoder encoder(roles, names, kMaxValueSlots, samplePositions[0][0].line);
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
  bool ok = true;
  for (size_t i = haveHeader ? 1 : 0; ok && i < sample.size(); ++i)
    ok = encoder.add(sample[i], samplePositions[i], name_, dataText, labelsText, err);
  const TextPosition afterSample = reader.position();
  sample.clear();
  samplePositions.clear();
  while (ok && r == CsvReader::Result::kRecord) {
    r = reader.next(fields, positions, err);
    if (r == CsvReader::Result::kBad) ok = false;
    if (r != CsvReader::Result::kRecord) break;
    ok = encoder.add(fields, positions, name_, dataText, labelsText, err);
    if (ok && dataText.size() >= kFlushBytes) ok = writeOut();
  }
  if (ok && encoder.rows() == 0)
    ok = false,
    err = name_ + ":" + std::to_string(afterSample.line) + ": no data rows after the header line";
  ok = ok && writeOut();
  ok = closeAll() && ok;
  if (!ok) return fail(err);

  std::string missingText;
  if (o_.missing)
    for (const std::string& m : *o_.missing) missingText += escapeValue(m) + "\n";
  if (!outputs.writeWhole(base + ".desc", encoder.descriptionText(), err) ||
      !outputs.writeWhole(base + ".codes", encoder.codesText(), err) ||
      !outputs.writeWhole(base + ".names", encoder.namesText(), err) ||
      (o_.missing && !outputs.writeWhole(base + ".missing", missingText, err)) ||
      !outputs.commit(err))
    return fail(err);

  long long values = 0;
  for (size_t a = 0; a < encoder.attributeCount(); ++a) {
    const long long distinct = static_cast<long long>(encoder.codes(a).values().size());
    values += distinct;
    if (encoder.rows() >= kIdentifierMinRows && distinct >= kIdentifierShare * encoder.rows()) {
      const size_t col = encoder.attributeColumn(a);
      const std::string wanted =
          haveHeader && names[col].find(',') == std::string::npos &&
                  names[col].find_first_not_of("0123456789") != std::string::npos
              ? names[col]
              : std::to_string(col + 1);
      companionFailure(kProgram, "warning: " + name_ + ": column " + std::to_string(col + 1) +
                                     " '" + escapeValue(encoder.attributeName(a)) + "' has " +
                                     std::to_string(distinct) + " distinct values in " +
                                     std::to_string(encoder.rows()) +
                                     " rows: an identifier? --drop " + wanted + " leaves it out");
    }
  }
  std::string written = base + ".data, .desc, .codes, .names";
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

int runCsv(int argc, char* argv[]) {
  startCompanion("kelbow-csv");
  CsvOptions options;
  const Scan scanned = scanOptions(argc, argv, options);
  if (scanned != Scan::kRun) return scanStatus(scanned);
  return Run(options).go();
}

}  // namespace kelbow
