#include "app/assign_run.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "app/companion.h"
#include "app/csv_run.h"
#include "app/output_files.h"
#include "assign/assigner.h"
#include "assign/model.h"
#include "common/error.h"
#include "csv/csv_reader.h"
#include "csv/row_coder.h"
#include "input/byte_source.h"
#include "input/description_text.h"
#include "input/table_files.h"
#include "input/table_reader.h"

namespace kelbow {

namespace {

constexpr std::string_view kProgram = "kelbow-assign";

constexpr std::string_view kHelp =
    "Usage: kelbow-assign [OPTIONS] MODEL FILE        (FILE - reads standard input)\n"
    "       kelbow-assign [OPTIONS] MODEL -d DATA -n DESC\n"
    "Gives every row of a new table the cluster of MODEL (written by kelbow-labels\n"
    "--model) whose entropy the row raises least, ties to the lower cluster number, and\n"
    "the margin to the second best. Writes the rows with their fields as they were and\n"
    "two more columns, cluster and margin, as CSV (RFC 4180); a row whose values were\n"
    "all unseen in training or missing gets an empty cluster. A value never seen in\n"
    "training is left out of the comparison for that column. A CSV file is read and coded\n"
    "as kelbow-csv read and coded the training file (the model holds how: delimiter,\n"
    "decimal mark, bins, date parts, split columns); a number below or above a binned\n"
    "column's edges falls in its first or last bin, and a cell that is no number there\n"
    "(no date in a date column) is unseen. Columns are found by their header names, or\n"
    "by number when the training file's columns were. With -d and -n the rows are the\n"
    "tool's own table, one code per attribute. A summary goes to standard error.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE     write the rows to FILE (default: standard output)\n"
    "  -s, --soft            add one column share_1 .. share_K: the row's soft membership\n"
    "                        (cluster c's share is proportional to 2^-b, b the bits more\n"
    "                        than the best cluster that c needs to code the row)\n"
    "  -t, --delimiter CHAR  the CSV file's delimiter: ',' ';' tab or one byte (default:\n"
    "                        the training file's, else detected as kelbow-csv does); the\n"
    "                        output uses the same\n"
    "      --trim            strip blanks around unquoted fields, as kelbow-csv --trim\n"
    "                        (the default when the training file was read so)\n"
    "  -d, --data DATA       the rows are a data file in the tool's own format ...\n"
    "  -n, --desc DESC       ... with this description\n"
    "  -q, --quiet           no summary on standard error\n"
    "  -h, --help            show this help and exit\n"
    "      --version         show the version and exit\n"
    "\n"
    "Exit status:\n"
    "  0  every row was read and written\n"
    "  1  bad options, a model that is damaged, of another version or for other columns,\n"
    "     a bad row, or a file that could not be read or written; with -o nothing is left\n"
    "\n"
    "Examples:\n"
    "  kelbow-labels -d critters.data -n critters.desc -k 4 -o critters.k4 --model critters.model\n"
    "  kelbow-assign critters.model critters.csv -o critters.assigned.csv\n"
    "  kelbow-assign --soft critters.model -d critters.data -n critters.desc\n";

enum LongOnly { kTrimOption = kFirstLongOnly };

struct AssignOptions {
  std::string model, input;
  std::optional<std::string> data, desc, output;
  std::optional<char> delimiter;
  bool soft = false, trim = false, quiet = false;
};

Scan scanOptions(int argc, char* argv[], AssignOptions& o) {
  static const option kLong[] = {{"output", required_argument, nullptr, 'o'},
                                 {"soft", no_argument, nullptr, 's'},
                                 {"delimiter", required_argument, nullptr, 't'},
                                 {"trim", no_argument, nullptr, kTrimOption},
                                 {"data", required_argument, nullptr, 'd'},
                                 {"desc", required_argument, nullptr, 'n'},
                                 {"quiet", no_argument, nullptr, 'q'},
                                 {"help", no_argument, nullptr, 'h'},
                                 {"version", no_argument, nullptr, kVersionOption},
                                 {nullptr, 0, nullptr, 0}};
  resetCompanionScan();
  for (int c; (c = getopt_long(argc, argv, ":o:st:d:n:qh", kLong, nullptr)) != -1;) {
    switch (c) {
      case 'o':
        o.output = ::optarg;
        break;
      case 's':
        o.soft = true;
        break;
      case 't': {
        char d = 0;
        if (!scanDelimiterOption(kProgram, ::optarg, d)) return Scan::kRefused;
        o.delimiter = d;
        break;
      }
      case kTrimOption:
        o.trim = true;
        break;
      case 'd':
        o.data = ::optarg;
        break;
      case 'n':
        o.desc = ::optarg;
        break;
      case 'q':
        o.quiet = true;
        break;
      default:
        return commonOption(c, argv, kProgram, kHelp);
    }
  }
  const int left = argc - ::optind;
  if (o.data.has_value() != o.desc.has_value()) {
    usageFailure(kProgram, "-d DATA and -n DESC go together");
    return Scan::kRefused;
  }
  if (left != (o.data ? 1 : 2)) {
    usageFailure(kProgram, o.data ? "MODEL is required with -d and -n, and nothing else"
                                  : "MODEL and FILE are required, and nothing else");
    return Scan::kRefused;
  }
  o.model = argv[::optind];
  if (!o.data) o.input = argv[::optind + 1];
  if (o.data && (o.delimiter || o.trim)) {
    usageFailure(kProgram, "--delimiter and --trim are for a CSV file, not -d and -n");
    return Scan::kRefused;
  }
  return Scan::kRun;
}

// Appends v with six decimals, as printf's %.6f writes it.
void appendFixed6(std::string& out, double v) {
  char buf[400];
  const std::to_chars_result r =
      std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 6);
  out.append(buf, r.ptr);
}

class Run {
 public:
  explicit Run(const AssignOptions& o) : o_(o) {}
  ~Run() {
    if (out_ != stdout) std::fclose(out_);
  }
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;
  int go();

 private:
  int fail(const std::string& message) { return companionFailure(kProgram, message); }
  bool readModelFile(std::string& err);
  bool open(std::string& err);
  int assignCsv();
  int assignTable();
  // Takes the value of attribute a: its code in the model, or -1 when
  // training never saw it (counted). Returns whether it tells anything: a
  // missing marker does not, though one that training saw keeps its code, as
  // the clustering counted it.
  bool take(int a, int code, bool missing);
  // Assigns the row in codes_ and appends the added columns to `line`, each
  // after the delimiter d.
  void assignRow(bool known, char d, std::string& line);
  bool flush(bool last, std::string& err);
  int finish(const std::string& name);

  const AssignOptions& o_;
  Model model_;
  std::unique_ptr<RowCoder> coder_;
  std::unique_ptr<Assigner> assigner_;
  OutputFiles outputs_;
  std::FILE* out_ = stdout;
  std::string buffer_;
  std::vector<int> codes_;
  std::vector<double> shares_;
  long long rows_ = 0, unassigned_ = 0;
  std::vector<long long> unseen_;  // per attribute: rows whose value training never saw
};

bool Run::readModelFile(std::string& err) {
  std::string text;
  if (!readText(o_.model, text, err) || !readModel(text, o_.model, model_, err)) return false;
  const Encoding& e = model_.encoding();
  coder_ = std::make_unique<RowCoder>(e.source, e.names, e.values, e.missing);
  assigner_ = std::make_unique<Assigner>(model_);
  codes_.resize(model_.attributeCount());
  unseen_.assign(model_.attributeCount(), 0);
  return true;
}

bool Run::open(std::string& err) {
  outputs_.protect(o_.model);
  if (o_.data) {
    outputs_.protect(*o_.data);
    outputs_.protect(*o_.desc);
  } else {
    outputs_.protect(o_.input);
  }
  if (o_.output && *o_.output != "-") {
    out_ = outputs_.open(*o_.output, err);
    if (out_ == nullptr) return false;
  }
  return true;
}

bool Run::take(int a, int code, bool missing) {
  codes_[a] = code;
  if (code < 0 && !missing) ++unseen_[a];
  return code >= 0 && !missing;
}

void Run::assignRow(bool known, char d, std::string& line) {
  ++rows_;
  if (!known) {
    ++unassigned_;
    line.append(o_.soft ? model_.clusterCount() + 2 : 2, d);
    line += '\n';
    return;
  }
  const Assignment got = assigner_->assign(codes_.data(), o_.soft ? &shares_ : nullptr);
  char number[16];
  const std::to_chars_result r = std::to_chars(number, number + sizeof number, got.cluster + 1);
  line += d;
  line.append(number, r.ptr);
  line += d;
  appendFixed6(line, got.margin);
  if (o_.soft)
    for (double s : shares_) {
      line += d;
      appendFixed6(line, s);
    }
  line += '\n';
}

bool Run::flush(bool last, std::string& err) {
  if (!last && buffer_.size() < (1 << 16)) return true;
  if (std::fwrite(buffer_.data(), 1, buffer_.size(), out_) != buffer_.size() && out_ != stdout) {
    err = *o_.output + ": cannot write (" + std::strerror(errno) + ")";
    return false;
  }
  buffer_.clear();
  return true;
}

std::string addedColumns(int k, bool soft, char d) {
  std::string s = std::string(1, d) + "cluster" + d + "margin";
  if (soft)
    for (int c = 1; c <= k; ++c) s += d + ("share_" + std::to_string(c));
  return s + "\n";
}

int Run::assignCsv() {
  const std::string name = o_.input == "-" ? "standard input" : o_.input;
  std::FILE* in = o_.input == "-" ? stdin : std::fopen(o_.input.c_str(), "rb");
  if (in == nullptr) return fail(name + ": cannot open (" + std::strerror(errno) + ")");
  struct Closer {
    std::FILE* f;
    ~Closer() {
      if (f != stdin) std::fclose(f);
    }
  } closer{in};
  const std::optional<CsvEncoding>& source = model_.encoding().source;
  CsvReader reader(in, name);
  reader.setTrim(o_.trim || (source && source->trim));
  if (o_.delimiter) {
    reader.setDelimiter(*o_.delimiter);
  } else if (source) {
    reader.setDelimiter(source->delimiter);
  } else {
    const std::string_view head = reader.head();
    reader.setDelimiter(detectDelimiter(head, reader.headIsWhole(), o_.trim).delimiter);
  }
  const char d = reader.delimiter();
  std::string err;
  std::vector<std::string> fields;
  std::vector<TextPosition> positions;
  CsvReader::Result r = reader.next(fields, positions, err);
  if (r == CsvReader::Result::kBad) return fail(err);
  if (r == CsvReader::Result::kEnd) return fail(name + ": the file is empty (no records)");
  if (!coder_->findColumns(fields, err))
    return fail(name + ": " + err + " of the model " + o_.model);
  const bool header = coder_->firstIsHeader();
  const int attributes = model_.attributeCount();
  const size_t width = fields.size();
  std::string line;
  if (header) {
    for (size_t c = 0; c < width; ++c)
      line += (c ? std::string(1, d) : "") + csvField(fields[c], d);
  } else {
    for (size_t c = 0; c < width; ++c) line += (c ? std::string(1, d) : "") + std::to_string(c + 1);
  }
  buffer_ += line + addedColumns(model_.clusterCount(), o_.soft, d);
  long lineNumber = 0;
  for (bool first = !header;; first = false) {
    if (!first) {
      r = reader.next(fields, positions, err);
      if (r == CsvReader::Result::kBad) return fail(err);
      if (r == CsvReader::Result::kEnd) break;
    }
    lineNumber = positions.empty() ? lineNumber : positions[0].line;
    if (fields.size() != width)
      return fail(name + ":" + std::to_string(lineNumber) + ": " + std::to_string(fields.size()) +
                  " fields, but the first line has " + std::to_string(width));
    for (size_t c = 0; c < width; ++c) {
      if (c) buffer_ += d;
      appendCsvField(buffer_, fields[c], d);
    }
    bool known = false;
    for (int a = 0; a < attributes; ++a) {
      const RowCoder::Code got = coder_->code(a, fields[coder_->column(a)]);
      known = take(a, got.code, got.missing) || known;
    }
    assignRow(known, d, buffer_);
    if (!flush(false, err)) return fail(err);
  }
  if (!flush(true, err)) return fail(err);
  return finish(name);
}

int Run::assignTable() {
  TableDescription desc;
  {
    const std::unique_ptr<ByteSource> in = openInput(*o_.desc);
    if (in == nullptr) return fail(*o_.desc + ": cannot open (" + std::strerror(errno) + ")");
    std::string err;
    if (!readDescription(*in, *o_.desc, desc, err)) {
      while (!err.empty() && err.back() == '\n') err.pop_back();
      return fail(err);
    }
  }
  if (desc.attributeCount != model_.attributeCount())
    return fail(*o_.desc + ": " + std::to_string(desc.attributeCount) +
                " attributes, but the model " + o_.model + " has " +
                std::to_string(model_.attributeCount()));
  const std::unique_ptr<ByteSource> data = openInput(*o_.data);
  if (data == nullptr) return fail(*o_.data + ": cannot open (" + std::strerror(errno) + ")");
  RecordReader records(*data, *o_.data, desc.domainSizes);
  const Encoding& e = model_.encoding();
  std::string line;
  for (int a = 0; a < model_.attributeCount(); ++a)
    line += (a ? "," : "") + csvField(e.names[a], ',');
  buffer_ += line + addedColumns(model_.clusterCount(), o_.soft, ',');
  std::vector<int> codes(desc.attributeCount);
  std::string err;
  for (;;) {
    const RecordReader::Result got = records.read(codes.data(), err);
    if (got == RecordReader::Result::kBad) {
      while (!err.empty() && err.back() == '\n') err.pop_back();
      return fail(err);
    }
    if (got == RecordReader::Result::kEnd) break;
    bool known = false;
    for (int a = 0; a < desc.attributeCount; ++a) {
      if (a) buffer_ += ',';
      char number[16];
      buffer_.append(number, std::to_chars(number, number + sizeof number, codes[a]).ptr);
      // A code beyond the model's domain is a value training never saw.
      const bool seen = codes[a] < model_.domainSizes()[a];
      known =
          take(a, seen ? codes[a] : -1, seen && coder_->isMissing(e.values[a][codes[a]])) || known;
    }
    assignRow(known, ',', buffer_);
    if (!flush(false, err)) return fail(err);
  }
  if (!flush(true, err)) return fail(err);
  return finish(*o_.data);
}

int Run::finish(const std::string& name) {
  std::string err;
  if (out_ == stdout) {
    if (checkStandardOutput(kProgram) != 0) return kCompanionFailure;
  } else if (!OutputFiles::close(std::exchange(out_, stdout), *o_.output, err) ||
             !outputs_.commit(err)) {
    return fail(err);
  }
  if (o_.quiet) return 0;
  std::string text = name + ": " + std::to_string(rows_) +
                     " rows: " + std::to_string(rows_ - unassigned_) + " assigned, " +
                     std::to_string(unassigned_) +
                     " without a cluster (every value missing or unseen)";
  std::string columns;
  for (int a = 0; a < model_.attributeCount(); ++a)
    if (unseen_[a] > 0)
      columns += (columns.empty() ? "" : ", ") + model_.encoding().names[a] + " " +
                 std::to_string(unseen_[a]);
  text += "; rows with a value unseen in training: " + (columns.empty() ? "none" : columns);
  companionFailure(kProgram, text);
  return 0;
}

int Run::go() {
  std::string err;
  if (!readModelFile(err) || !open(err)) return fail(err);
  return o_.data ? assignTable() : assignCsv();
}

}  // namespace

int runAssign(int argc, char* argv[]) {
  startCompanion("kelbow-assign");
  prefixMessages();
  AssignOptions options;
  const Scan scanned = scanOptions(argc, argv, options);
  if (scanned != Scan::kRun) return scanStatus(scanned);
  return Run(options).go();
}

}  // namespace kelbow
