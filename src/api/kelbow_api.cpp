#include "api/kelbow_api.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <utility>

#include "api/held_rows.h"
#include "common/version.h"
#include "csv/row_coder.h"
#include "merge/kelbow_output.h"
#include "profile/cluster_profile.h"
#include "profile/cluster_tests.h"
#include "report/dendrogram.h"

namespace kelbow {

namespace {

constexpr int kMaxClusters = 30;

std::string where(const std::string& name, long long row, int a) {
  return name + ": record " + std::to_string(row + 1) + ", attribute " + std::to_string(a + 1) +
         ": ";
}

// A setting outside lo..hi (or `unset`, its default) as a message, or "".
std::string outside(const char* what, long long v, long long unset, long long lo, long long hi) {
  if (v == unset || (v >= lo && v <= hi)) return "";
  return std::string(what) + " takes a number from " + std::to_string(lo) + " to " +
         std::to_string(hi) + ", not " + std::to_string(v);
}

}  // namespace

bool Table::make(const std::int32_t* codes, long long rows, int attributes, Encoding encoding,
                 std::string name, Table& out, std::string& err) {
  if (rows < 1 || rows > INT_MAX) {
    err = name + ": the table has " + std::to_string(rows) + " rows; it must have 1 to " +
          std::to_string(INT_MAX);
    return false;
  }
  if (attributes < 1) {
    err = name + ": the table has no attributes";
    return false;
  }
  const bool encoded = !encoding.values.empty();
  if (encoded && (encoding.values.size() != static_cast<size_t>(attributes) ||
                  encoding.names.size() != static_cast<size_t>(attributes))) {
    err = name + ": the table has " + std::to_string(attributes) + " attributes but its encoding " +
          std::to_string(encoding.values.size()) + " value lists and " +
          std::to_string(encoding.names.size()) + " names";
    return false;
  }
  TableDescription desc;
  desc.rows = static_cast<int>(rows);
  desc.attributeCount = attributes;
  desc.domainSizes.assign(attributes, 1);
  const auto at = [&](long long r, int a) { return codes[r * attributes + a]; };
  for (long long r = 0; r < rows; ++r) {
    for (int a = 0; a < attributes; ++a) {
      const std::int32_t c = at(r, a);
      const long long d = encoded ? static_cast<long long>(encoding.values[a].size()) : INT_MAX;
      if (c < 0 || c >= d) {
        err = where(name, r, a) + "the code " + std::to_string(c) + " is outside 0.." +
              std::to_string(d - 1);
        return false;
      }
      if (!encoded) desc.domainSizes[a] = std::max(desc.domainSizes[a], c + 1);
    }
  }
  if (encoded)
    for (int a = 0; a < attributes; ++a)
      desc.domainSizes[a] = std::max<int>(1, static_cast<int>(encoding.values[a].size()));
  long long slots = 0;
  for (int d : desc.domainSizes) {
    slots += d;
    desc.singleValuedCount += d == 1;
  }
  if (slots > kMaxValueSlots) {
    err = name + ": the domain sizes add up to more than " + std::to_string(kMaxValueSlots) +
          " values";
    return false;
  }
  desc.valueCount = static_cast<int>(slots);
  if (!checkInformative(desc, name, err)) {
    while (!err.empty() && err.back() == '\n') err.pop_back();
    return false;
  }
  auto table = std::make_shared<CodeTable>(desc);
  std::vector<int> row(attributes);
  for (long long r = 0; r < rows; ++r) {
    for (int a = 0; a < attributes; ++a) row[a] = at(r, a);
    table->append(row.data());
  }
  if (!encoded) encoding = Encoding::ofCodes(desc.domainSizes);
  return hold(std::move(table), std::move(encoding), std::move(name), out, err);
}

bool Table::hold(std::shared_ptr<const CodeTable> codes, Encoding encoding, std::string name,
                 Table& out, std::string& err) {
  if (encoding.domainSizes() != codes->description().domainSizes ||
      encoding.names.size() != encoding.values.size()) {
    err = name + ": the encoding does not describe the table's " +
          std::to_string(codes->attributeCount()) + " attributes";
    return false;
  }
  out.codes_ = std::move(codes);
  out.isMissing_ = markMissing(encoding.values, encoding.missing);
  out.encoding_ = std::move(encoding);
  out.name_ = std::move(name);
  return true;
}

bool fit(const Table& table, const FitSettings& settings, Fit& out, std::string& err) {
  const ChoiceSettings& c = settings.choice;
  for (const std::string& why :
       {outside("k", settings.k, 0, 2, kMaxClusters),
        outside("references", c.references, -1, 2, 1000), outside("orders", c.orders, -1, 0, 1000),
        outside("threads", c.threads, 0, 1, 1024),
        outside("reference rows", c.referenceRows, 0, 1, INT_MAX),
        outside("passes", settings.passes, kDefaultPassLimit, 1, INT_MAX)}) {
    if (!why.empty()) {
      err = why;
      return false;
    }
  }
  if (table.rows() == 0) {
    err = "the table is empty";
    return false;
  }
  Fit f;
  f.table_ = table;
  TableRows rows(table.codes(), nullptr, table.name());
  ChoiceProgress runs;
  if (!chooseClusters(table.description(), rows, c, silentProgress(), runs, f.choice_, f.hierarchy_,
                      err)) {
    while (!err.empty() && err.back() == '\n') err.pop_back();
    return false;
  }
  f.kGiven_ = settings.k > 0;
  f.k_ = f.kGiven_ ? settings.k : f.choice_.k;
  if (f.k_ > f.hierarchy_.startCount()) {
    err = table.name() + ": k " + std::to_string(f.k_) + ": the table has only " +
          std::to_string(f.hierarchy_.startCount()) + " starting clusters";
    return false;
  }
  f.labels_ = f.hierarchy_.labels(f.k_);
  if (settings.refine) {
    const HeldRows held(table.codes());
    f.labels_ = refineCut(held, table.description().domainSizes, f.k_, f.labels_, settings.passes,
                          f.refinement_);
  }
  out = std::move(f);
  return true;
}

std::vector<double> Fit::kelbowValues() const {
  std::vector<double> values;
  for (int t = 1; t <= kKelbowValues; ++t) values.push_back(kelbowValue(hierarchy_.curveData(), t));
  return values;
}

std::string Fit::kelbowBlock() const {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* out = open_memstream(&buffer, &size);
  if (out == nullptr) throw std::bad_alloc();
  writeKelbowBlock(out, table_.name(), hierarchy_.curveData());
  const bool closed = std::fclose(out) == 0;
  std::string text = closed && buffer != nullptr ? std::string(buffer, size) : std::string();
  std::free(buffer);
  if (!closed) throw std::bad_alloc();
  return text;
}

bool Fit::labelsAt(int k, std::vector<int>& out, std::string& err) const {
  if (k < 1 || k > kMaxClusters || k > hierarchy_.startCount()) {
    err = table_.name() + ": k " + std::to_string(k) + ": the levels are 1 to " +
          std::to_string(std::min(kMaxClusters, hierarchy_.startCount()));
    return false;
  }
  out = hierarchy_.labels(k);
  return true;
}

Model Fit::model() const {
  std::vector<int> zeroBased(labels_);
  for (int& l : zeroBased) --l;
  return trainModel(HeldRows(table_.codes()), table_.encoding(), k_, zeroBased);
}

bool Fit::report(int k, int top, int typical, ClusterReport& out, std::string& err) const {
  if (k == 0) k = k_;
  std::vector<int> other;
  if (k != k_ && !labelsAt(k, other, err)) return false;
  const std::vector<int>& labels = k == k_ ? labels_ : other;
  ClusterReport r;
  r.inputName = table_.name();
  r.version = kVersion;
  r.rows = table_.rows();
  r.attributeNames = table_.encoding().names;
  r.values = table_.encoding().values;
  r.isMissing = table_.isMissing();
  r.choice = choice_;
  r.k = k;
  r.kGiven = kGiven_ || k != k_;
  if (k == k_) r.refinement = refinement_;
  const CodeTable& codes = table_.codes();
  std::vector<int> row(codes.attributeCount());
  const auto eachRow = [&](auto each) {
    for (int i = 0; i < codes.rowCount(); ++i) {
      for (int a = 0; a < codes.attributeCount(); ++a) row[a] = codes.code(i, a);
      each(i, labels[i] - 1, row.data());
    }
  };
  ClusterCounts counts(k, codes.description().domainSizes);
  eachRow([&](int, int c, const int* values) { counts.add(c, values); });
  describeClusters(counts, top, r);
  TypicalRows rows(counts, typical);
  if (typical > 0) eachRow([&](int i, int c, const int* values) { rows.add(i, c, values); });
  for (int c = 0; c < k; ++c) r.typical.push_back(rows.of(c));
  r.dendrogram = buildDendrogram(hierarchy_, kReportLevels, k);
  out = std::move(r);
  return true;
}

bool assignCodes(const Model& model, const std::int32_t* codes, long long rows, int attributes,
                 std::vector<Assignment>& out, std::string& err) {
  if (attributes != model.attributeCount()) {
    err = "the rows have " + std::to_string(attributes) + " attributes; the model has " +
          std::to_string(model.attributeCount());
    return false;
  }
  const std::vector<int>& domains = model.domainSizes();
  for (long long r = 0; r < rows; ++r)
    for (int a = 0; a < attributes; ++a)
      if (codes[r * attributes + a] >= domains[a]) {
        err = where("the rows", r, a) + "the code " + std::to_string(codes[r * attributes + a]) +
              " is beyond the model's " + std::to_string(domains[a]) + " values";
        return false;
      }
  const Assigner assigner(model);
  out.clear();
  out.reserve(static_cast<size_t>(rows));
  std::vector<int> row(attributes);
  for (long long r = 0; r < rows; ++r) {
    for (int a = 0; a < attributes; ++a) row[a] = std::max(-1, codes[r * attributes + a]);
    out.push_back(assigner.assign(row.data()));
  }
  return true;
}

namespace {

RowCoder rowCoderOf(const Model& model) {
  const Encoding& e = model.encoding();
  return RowCoder(e.source, e.names, e.values, e.missing);
}

// Finds the model's attributes among the columns named `header`; false with
// err "NAME: what ... of the model" when one is not there.
bool findModelColumns(RowCoder& found, const std::vector<std::string>& header,
                      const std::string& name, std::string& err) {
  if (found.findColumns(header, err) && found.firstIsHeader()) return true;
  if (err.empty()) err = "the columns are not named as the model's attributes";
  err = name + ": " + err + " of the model";
  return false;
}

}  // namespace

bool assignCells(const Model& model, const std::vector<std::string>& header,
                 const std::vector<std::vector<std::string>>& rows, const std::string& name,
                 std::vector<Assignment>& out, std::string& err) {
  RowCoder found = rowCoderOf(model);
  if (!findModelColumns(found, header, name, err)) return false;
  const Assigner assigner(model);
  std::vector<int> codes(model.attributeCount());
  out.clear();
  out.reserve(rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].size() != header.size()) {
      err = name + ": row " + std::to_string(r + 1) + " has " + std::to_string(rows[r].size()) +
            " fields, but the header " + std::to_string(header.size());
      return false;
    }
    bool known = false;
    for (int a = 0; a < model.attributeCount(); ++a) {
      const RowCoder::Code got = found.code(a, rows[r][found.column(a)]);
      // A missing marker keeps its training code but makes no row known.
      codes[a] = got.code;
      known = (got.code >= 0 && !got.missing) || known;
    }
    out.push_back(known ? assigner.assign(codes.data()) : Assignment{});
  }
  return true;
}

bool assignColumns(const Model& model, const std::vector<TextColumn>& columns, long long rows,
                   const std::string& name, std::vector<Assignment>& out, std::string& err) {
  RowCoder found = rowCoderOf(model);
  std::vector<std::string> header;
  for (const TextColumn& c : columns) header.push_back(c.name);
  if (!findModelColumns(found, header, name, err)) return false;
  for (const TextColumn& c : columns)
    if (!checkCodes(c, rows, name, err)) return false;
  // Per attribute, the code of each of its column's texts (after the missing cell's).
  const int attributes = model.attributeCount();
  std::vector<std::vector<RowCoder::Code>> coded(attributes);
  for (int a = 0; a < attributes; ++a) {
    const TextColumn& c = columns[found.column(a)];
    coded[a].push_back(found.code(a, ""));
    for (const std::string& text : c.texts) coded[a].push_back(found.code(a, text));
  }
  const Assigner assigner(model);
  std::vector<int> codes(attributes);
  out.clear();
  out.reserve(static_cast<size_t>(rows));
  for (long long r = 0; r < rows; ++r) {
    bool known = false;
    for (int a = 0; a < attributes; ++a) {
      const RowCoder::Code got = coded[a][columns[found.column(a)].codes[r] + 1];
      // A missing marker keeps its training code but makes no row known.
      codes[a] = got.code;
      known = (got.code >= 0 && !got.missing) || known;
    }
    out.push_back(known ? assigner.assign(codes.data()) : Assignment{});
  }
  return true;
}

}  // namespace kelbow
