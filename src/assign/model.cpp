#include "assign/model.h"

#include <cstdio>

#include "common/json_text.h"
#include "common/json_value.h"
#include "input/table_files.h"
#include "input/table_reader.h"
#include "input/tables.h"

namespace kelbow {

namespace {

constexpr std::string_view kFormatName = "kelbow-model";

// A float written with enough digits to be read back to the same float.
std::string floatText(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(v));
  return buf;
}

std::string jsonStrings(const std::vector<std::string>& list) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i) out += (i ? ", " : "") + jsonString(list[i]);
  return out + "]";
}

}  // namespace

Encoding Encoding::ofCodes(const std::vector<int>& domainSizes) {
  Encoding e;
  e.valuesAreCodes = true;
  for (size_t a = 0; a < domainSizes.size(); ++a) {
    e.names.push_back(std::to_string(a + 1));
    e.values.emplace_back();
    for (int v = 0; v < domainSizes[a]; ++v) e.values.back().push_back(std::to_string(v));
  }
  return e;
}

std::vector<int> Encoding::domainSizes() const {
  std::vector<int> sizes;
  for (const auto& v : values) sizes.push_back(static_cast<int>(v.size()));
  return sizes;
}

Model::Model(Encoding encoding, int k) : encoding_(std::move(encoding)) {
  layOut();
  rows_.assign(k, 0);
  counts_.assign(k, std::vector<int>(valueCount_, 0));
}

void Model::layOut() {
  domainSizes_ = encoding_.domainSizes();
  offsets_.clear();
  valueCount_ = 0;
  for (int d : domainSizes_) {
    offsets_.push_back(valueCount_);
    valueCount_ += d;
  }
}

void Model::addRow(int c, const int* codes) {
  ++rows_[c];
  for (int a = 0; a < attributeCount(); ++a) ++counts_[c][offsets_[a] + codes[a]];
}

long long Model::totalRows() const {
  long long n = 0;
  for (int r : rows_) n += r;
  return n;
}

std::string modelJson(const Model& m) {
  const Encoding& e = m.encoding();
  std::string out = "{\n  \"format\": " + jsonString(kFormatName) +
                    ",\n  \"version\": " + std::to_string(Model::kFormatVersion) +
                    ",\n  \"rows\": " + std::to_string(m.totalRows()) +
                    ",\n  \"values_are_codes\": " + (e.valuesAreCodes ? "true" : "false") +
                    ",\n  \"missing\": " + jsonStrings(e.missing) +
                    ",\n  \"encoding\": " + (e.source ? csvEncodingJson(*e.source, "  ") : "null") +
                    ",\n  \"attributes\": [\n";
  for (int a = 0; a < m.attributeCount(); ++a) {
    out += "    {\"name\": " + jsonString(e.names[a]) +
           ", \"weight\": " + floatText(attributeWeight(m.domainSizes()[a])) +
           ", \"values\": " + jsonStrings(e.values[a]) + "}";
    out += a + 1 < m.attributeCount() ? ",\n" : "\n";
  }
  out += "  ],\n  \"clusters\": [\n";
  for (int c = 0; c < m.clusterCount(); ++c) {
    out += "    {\"cluster\": " + std::to_string(c + 1) +
           ", \"rows\": " + std::to_string(m.clusterRows(c)) + ", \"counts\": [\n";
    const std::vector<int>& counts = m.clusterCounts(c);
    for (int a = 0; a < m.attributeCount(); ++a) {
      out += "      [";
      for (int v = 0; v < m.domainSizes()[a]; ++v)
        out += (v ? ", " : "") + std::to_string(counts[m.slotOffset(a) + v]);
      out += a + 1 < m.attributeCount() ? "],\n" : "]\n";
    }
    out += c + 1 < m.clusterCount() ? "    ]},\n" : "    ]}\n";
  }
  return out + "  ]\n}\n";
}

namespace {

// Checks a parsed model document member by member; every message names the
// line of the value that is wrong.
class ModelReader {
 public:
  ModelReader(const std::string& fileName, std::string& err)
      : file_(fileName), err_(err), check_(fileName, err) {}

  bool read(const JsonValue& root, Encoding& e, std::vector<int>& rows,
            std::vector<std::vector<int>>& counts) {
    const JsonValue* format = root.isObject() ? root.find("format") : nullptr;
    if (format == nullptr || !format->isString() || format->string() != kFormatName)
      return check_.fail(root, "not a kelbow model (no \"format\": \"kelbow-model\")", false);
    const JsonValue* version = root.find("version");
    if (version == nullptr) return check_.fail(root, "the model has no \"version\"", false);
    if (!check_.integer(*version, "\"version\"", version_)) return false;
    if (version_ != Model::kFormatVersion && version_ != kFirstVersion)
      return check_.fail(*version,
                         "a model of format version " + version->text() +
                             "; this version of kelbow reads versions " +
                             std::to_string(kFirstVersion) + " and " +
                             std::to_string(Model::kFormatVersion),
                         false);
    const bool first = version_ == kFirstVersion;
    if (!(first ? check_.knownMembers(root,
                                      {"format", "version", "rows", "values_are_codes", "missing",
                                       "attributes", "clusters"},
                                      "")
                : check_.knownMembers(root,
                                      {"format", "version", "rows", "values_are_codes", "missing",
                                       "encoding", "attributes", "clusters"},
                                      "")))
      return false;
    const JsonValue *total, *coded, *missing, *attributes, *clusters;
    if (!check_.member(root, "rows", JsonValue::Kind::kNumber, total) ||
        !check_.member(root, "values_are_codes", JsonValue::Kind::kBool, coded) ||
        !check_.member(root, "missing", JsonValue::Kind::kArray, missing) ||
        !check_.member(root, "attributes", JsonValue::Kind::kArray, attributes) ||
        !check_.member(root, "clusters", JsonValue::Kind::kArray, clusters))
      return false;
    e.valuesAreCodes = coded->boolean();
    if (!check_.strings(*missing, "\"missing\"", e.missing, false)) return false;
    if (!readAttributes(*attributes, e)) return false;
    if (!first && !readSource(root, e)) return false;
    int n = 0;
    if (!check_.integer(*total, "\"rows\"", n)) return false;
    return readClusters(*clusters, e, n, rows, counts);
  }

 private:
  // Version 1 held the attributes' kind ("categories") and no encoding.
  static constexpr int kFirstVersion = 1;

  bool readSource(const JsonValue& root, Encoding& e) {
    const JsonValue* source = root.find("encoding");
    if (source == nullptr) return check_.fail(root, "the member \"encoding\" is missing");
    if (source->kind() == JsonValue::Kind::kNull) return true;
    if (!source->isObject())
      return check_.fail(*source, "\"encoding\" should be an object or null");
    if (e.valuesAreCodes)
      return check_.fail(*source, "a model with \"values_are_codes\" has no \"encoding\"");
    e.source.emplace();
    if (!readCsvEncoding(*source, file_, *e.source, err_) ||
        !matchesTable(*e.source, e.names, e.domainSizes(), file_, err_))
      return false;
    if (e.source->missing != e.missing)
      return check_.fail(*source, "the encoding's \"missing\" differs from the model's");
    return true;
  }

  bool readAttributes(const JsonValue& list, Encoding& e) {
    if (list.items().empty()) return check_.fail(list, "\"attributes\" is empty");
    long long slots = 0;
    bool informative = false;
    for (const JsonValue& at : list.items()) {
      const std::string which = "attribute " + std::to_string(e.names.size() + 1);
      if (!at.isObject()) return check_.fail(at, which + " should be an object");
      if (!(version_ == kFirstVersion
                ? check_.knownMembers(at, {"name", "kind", "weight", "values"}, which)
                : check_.knownMembers(at, {"name", "weight", "values"}, which)))
        return false;
      const JsonValue *name, *kind, *weight, *values;
      if (!check_.member(at, "name", JsonValue::Kind::kString, name) ||
          (version_ == kFirstVersion &&
           !check_.member(at, "kind", JsonValue::Kind::kString, kind)) ||
          !check_.member(at, "weight", JsonValue::Kind::kNumber, weight) ||
          !check_.member(at, "values", JsonValue::Kind::kArray, values))
        return false;
      const std::string named = which + " '" + name->string() + "'";
      if (version_ == kFirstVersion && kind->string() != "categories")
        return check_.fail(*kind, named + ": the kind " + jsonString(kind->string()) +
                                      " is not known; version 1 has \"categories\" only");
      e.names.push_back(name->string());
      e.values.emplace_back();
      if (!check_.strings(*values, named + ": \"values\"", e.values.back(), true)) return false;
      const int d = static_cast<int>(e.values.back().size());
      if (d == 0) return check_.fail(*values, named + " has no values");
      slots += d;
      if (slots > kMaxValueSlots)
        return check_.fail(*values,
                           "more than " + std::to_string(kMaxValueSlots) + " values in all");
      if (e.valuesAreCodes)
        for (int v = 0; v < d; ++v)
          if (e.values.back()[v] != std::to_string(v))
            return check_.fail(*values,
                               named + ": with \"values_are_codes\" the values are 0, 1, ...");
      if (static_cast<float>(weight->number()) != attributeWeight(d))
        return check_.fail(*weight, named + ": the weight " + weight->text() +
                                        " is not 1/log2 of its " + std::to_string(d) + " values (" +
                                        floatText(attributeWeight(d)) + ")");
      informative = informative || d > 1;
    }
    if (!informative) return check_.fail(list, "every attribute has a single value");
    return true;
  }

  bool readClusters(const JsonValue& list, const Encoding& e, int total, std::vector<int>& rows,
                    std::vector<std::vector<int>>& counts) {
    if (list.items().empty()) return check_.fail(list, "\"clusters\" is empty");
    const std::vector<int> sizes = e.domainSizes();
    long long slots = 0;
    for (int d : sizes) slots += d;
    long long sum = 0;
    for (const JsonValue& c : list.items()) {
      const std::string which = "cluster " + std::to_string(rows.size() + 1);
      if (!c.isObject()) return check_.fail(c, which + " should be an object");
      if (!check_.knownMembers(c, {"cluster", "rows", "counts"}, which)) return false;
      const JsonValue *number, *n, *table;
      if (!check_.member(c, "cluster", JsonValue::Kind::kNumber, number) ||
          !check_.member(c, "rows", JsonValue::Kind::kNumber, n) ||
          !check_.member(c, "counts", JsonValue::Kind::kArray, table))
        return false;
      int k = 0, size = 0;
      if (!check_.integer(*number, which + ": \"cluster\"", k) ||
          !check_.integer(*n, which + ": \"rows\"", size))
        return false;
      if (k != static_cast<int>(rows.size()) + 1)
        return check_.fail(*number, which + " is numbered " + number->text());
      if (size < 1) return check_.fail(*n, which + " has no rows");
      if (table->items().size() != sizes.size())
        return check_.fail(*table,
                           which + " has counts of " + std::to_string(table->items().size()) +
                               " attributes; the model has " + std::to_string(sizes.size()));
      counts.emplace_back();
      counts.back().reserve(slots);
      for (size_t a = 0; a < sizes.size(); ++a) {
        const JsonValue& line = table->items()[a];
        const std::string where = which + ", attribute '" + e.names[a] + "'";
        if (!line.isArray() || static_cast<int>(line.items().size()) != sizes[a])
          return check_.fail(line, where + ": the counts should be an array of " +
                                       std::to_string(sizes[a]) + " numbers, one per value");
        long long attributeSum = 0;
        for (const JsonValue& x : line.items()) {
          int count = 0;
          if (!check_.integer(x, where + ": a count", count)) return false;
          attributeSum += count;
          counts.back().push_back(count);
        }
        if (attributeSum != size)
          return check_.fail(line, where + ": the counts add up to " +
                                       std::to_string(attributeSum) + ", but the cluster has " +
                                       std::to_string(size) + " rows");
      }
      rows.push_back(size);
      sum += size;
    }
    if (sum != total)
      return check_.fail(list, "the clusters hold " + std::to_string(sum) +
                                   " rows, but \"rows\" says " + std::to_string(total));
    return true;
  }

  const std::string& file_;
  std::string& err_;
  JsonChecker check_;
  int version_ = 0;
};

}  // namespace

bool readModel(std::string_view text, const std::string& fileName, Model& model, std::string& err) {
  JsonValue root;
  if (!parseJson(text, root, err)) {
    err = fileName + ": the model is damaged: " + err;
    return false;
  }
  Model m;
  if (!ModelReader(fileName, err).read(root, m.encoding_, m.rows_, m.counts_)) return false;
  m.layOut();
  model = std::move(m);
  return true;
}

bool readEncoding(const std::string& base, const std::vector<int>& domainSizes, Encoding& encoding,
                  std::string& err) {
  SideFiles files;
  if (!readSideFiles(base, domainSizes, files, err)) return false;
  encoding = Encoding::ofCodes(domainSizes);
  if (files.values) {
    encoding.values = std::move(*files.values);
    encoding.valuesAreCodes = false;
    if (files.missing) encoding.missing = std::move(*files.missing);
    encoding.source = std::move(files.encoding);
  }
  if (files.names) encoding.names = std::move(*files.names);
  return true;
}

}  // namespace kelbow
