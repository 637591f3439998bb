#include "assign/model.h"

#include <climits>
#include <cstdio>
#include <set>

#include "common/json_text.h"
#include "common/json_value.h"
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
                    ",\n  \"missing\": " + jsonStrings(e.missing) + ",\n  \"attributes\": [\n";
  for (int a = 0; a < m.attributeCount(); ++a) {
    out += "    {\"name\": " + jsonString(e.names[a]) + ", \"kind\": \"categories\", \"weight\": " +
           floatText(attributeWeight(m.domainSizes()[a])) +
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
  ModelReader(const std::string& fileName, std::string& err) : file_(fileName), err_(err) {}

  bool read(const JsonValue& root, Encoding& e, std::vector<int>& rows,
            std::vector<std::vector<int>>& counts) {
    const JsonValue* format = root.isObject() ? root.find("format") : nullptr;
    if (format == nullptr || !format->isString() || format->string() != kFormatName)
      return fail(root, "not a kelbow model (no \"format\": \"kelbow-model\")", false);
    const JsonValue* version = root.find("version");
    int v = 0;
    if (version == nullptr) return fail(root, "the model has no \"version\"", false);
    if (!integer(*version, "\"version\"", v)) return false;
    if (v != Model::kFormatVersion)
      return fail(*version,
                  "a model of format version " + version->text() +
                      "; this version of kelbow reads version " +
                      std::to_string(Model::kFormatVersion),
                  false);
    for (const auto& [key, value] : root.members())
      if (key != "format" && key != "version" && key != "rows" && key != "values_are_codes" &&
          key != "missing" && key != "attributes" && key != "clusters")
        return fail(value, "unknown member \"" + key + "\"");
    const JsonValue *total, *coded, *missing, *attributes, *clusters;
    if (!member(root, "rows", JsonValue::Kind::kNumber, total) ||
        !member(root, "values_are_codes", JsonValue::Kind::kBool, coded) ||
        !member(root, "missing", JsonValue::Kind::kArray, missing) ||
        !member(root, "attributes", JsonValue::Kind::kArray, attributes) ||
        !member(root, "clusters", JsonValue::Kind::kArray, clusters))
      return false;
    e.valuesAreCodes = coded->boolean();
    if (!strings(*missing, "\"missing\"", e.missing, false)) return false;
    if (!readAttributes(*attributes, e)) return false;
    int n = 0;
    if (!integer(*total, "\"rows\"", n)) return false;
    return readClusters(*clusters, e, n, rows, counts);
  }

 private:
  bool fail(const JsonValue& at, const std::string& what, bool withLine = true) {
    err_ = file_ + (withLine ? ":" + std::to_string(at.line()) : "") + ": " + what;
    return false;
  }
  bool member(const JsonValue& object, std::string_view key, JsonValue::Kind kind,
              const JsonValue*& out) {
    out = object.find(key);
    if (out == nullptr) return fail(object, "the member \"" + std::string(key) + "\" is missing");
    if (out->kind() != kind)
      return fail(*out, "\"" + std::string(key) + "\" should be " + jsonKindName(kind) + ", not " +
                            jsonKindName(out->kind()));
    return true;
  }
  // A count: digits only, at most INT_MAX.
  bool integer(const JsonValue& v, const std::string& what, int& out) {
    const std::string& t = v.text();
    if (!v.isNumber() || t.empty() || t.size() > 10 ||
        t.find_first_not_of("0123456789") != std::string::npos || std::stoll(t) > INT_MAX)
      return fail(v, what + " should be a whole number from 0 to " + std::to_string(INT_MAX));
    out = static_cast<int>(std::stoll(t));
    return true;
  }
  bool strings(const JsonValue& list, const std::string& what, std::vector<std::string>& out,
               bool distinct) {
    std::set<std::string> seen;
    for (const JsonValue& s : list.items()) {
      if (!s.isString()) return fail(s, what + " should hold strings only");
      if (distinct && !seen.insert(s.string()).second)
        return fail(s, what + " holds the value " + jsonString(s.string()) + " twice");
      out.push_back(s.string());
    }
    return true;
  }

  bool readAttributes(const JsonValue& list, Encoding& e) {
    if (list.items().empty()) return fail(list, "\"attributes\" is empty");
    long long slots = 0;
    bool informative = false;
    for (const JsonValue& at : list.items()) {
      const std::string which = "attribute " + std::to_string(e.names.size() + 1);
      if (!at.isObject()) return fail(at, which + " should be an object");
      for (const auto& [key, value] : at.members())
        if (key != "name" && key != "kind" && key != "weight" && key != "values")
          return fail(value, which + ": unknown member \"" + key + "\"");
      const JsonValue *name, *kind, *weight, *values;
      if (!member(at, "name", JsonValue::Kind::kString, name) ||
          !member(at, "kind", JsonValue::Kind::kString, kind) ||
          !member(at, "weight", JsonValue::Kind::kNumber, weight) ||
          !member(at, "values", JsonValue::Kind::kArray, values))
        return false;
      const std::string named = which + " '" + name->string() + "'";
      // Numeric columns cut into bins will be a kind of their own, with the
      // edges that place a new number in its bin.
      if (kind->string() != "categories")
        return fail(*kind, named + ": the kind " + jsonString(kind->string()) +
                               " is not known; this version reads \"categories\"");
      e.names.push_back(name->string());
      e.values.emplace_back();
      if (!strings(*values, named + ": \"values\"", e.values.back(), true)) return false;
      const int d = static_cast<int>(e.values.back().size());
      if (d == 0) return fail(*values, named + " has no values");
      slots += d;
      if (slots > kMaxValueSlots)
        return fail(*values, "more than " + std::to_string(kMaxValueSlots) + " values in all");
      if (e.valuesAreCodes)
        for (int v = 0; v < d; ++v)
          if (e.values.back()[v] != std::to_string(v))
            return fail(*values, named + ": with \"values_are_codes\" the values are 0, 1, ...");
      if (static_cast<float>(weight->number()) != attributeWeight(d))
        return fail(*weight, named + ": the weight " + weight->text() + " is not 1/log2 of its " +
                                 std::to_string(d) + " values (" + floatText(attributeWeight(d)) +
                                 ")");
      informative = informative || d > 1;
    }
    if (!informative) return fail(list, "every attribute has a single value");
    return true;
  }

  bool readClusters(const JsonValue& list, const Encoding& e, int total, std::vector<int>& rows,
                    std::vector<std::vector<int>>& counts) {
    if (list.items().empty()) return fail(list, "\"clusters\" is empty");
    const std::vector<int> sizes = e.domainSizes();
    long long slots = 0;
    for (int d : sizes) slots += d;
    long long sum = 0;
    for (const JsonValue& c : list.items()) {
      const std::string which = "cluster " + std::to_string(rows.size() + 1);
      if (!c.isObject()) return fail(c, which + " should be an object");
      for (const auto& [key, value] : c.members())
        if (key != "cluster" && key != "rows" && key != "counts")
          return fail(value, which + ": unknown member \"" + key + "\"");
      const JsonValue *number, *n, *table;
      if (!member(c, "cluster", JsonValue::Kind::kNumber, number) ||
          !member(c, "rows", JsonValue::Kind::kNumber, n) ||
          !member(c, "counts", JsonValue::Kind::kArray, table))
        return false;
      int k = 0, size = 0;
      if (!integer(*number, which + ": \"cluster\"", k) || !integer(*n, which + ": \"rows\"", size))
        return false;
      if (k != static_cast<int>(rows.size()) + 1)
        return fail(*number, which + " is numbered " + number->text());
      if (size < 1) return fail(*n, which + " has no rows");
      if (table->items().size() != sizes.size())
        return fail(*table, which + " has counts of " + std::to_string(table->items().size()) +
                                " attributes; the model has " + std::to_string(sizes.size()));
      counts.emplace_back();
      counts.back().reserve(slots);
      for (size_t a = 0; a < sizes.size(); ++a) {
        const JsonValue& line = table->items()[a];
        const std::string where = which + ", attribute '" + e.names[a] + "'";
        if (!line.isArray() || static_cast<int>(line.items().size()) != sizes[a])
          return fail(line, where + ": the counts should be an array of " +
                                std::to_string(sizes[a]) + " numbers, one per value");
        long long attributeSum = 0;
        for (const JsonValue& x : line.items()) {
          int count = 0;
          if (!integer(x, where + ": a count", count)) return false;
          attributeSum += count;
          counts.back().push_back(count);
        }
        if (attributeSum != size)
          return fail(line, where + ": the counts add up to " + std::to_string(attributeSum) +
                                ", but the cluster has " + std::to_string(size) + " rows");
      }
      rows.push_back(size);
      sum += size;
    }
    if (sum != total)
      return fail(list, "the clusters hold " + std::to_string(sum) + " rows, but \"rows\" says " +
                            std::to_string(total));
    return true;
  }

  const std::string& file_;
  std::string& err_;
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

ValueLookup::ValueLookup(const Encoding& encoding) {
  for (const auto& values : encoding.values) {
    codes_.emplace_back();
    for (size_t v = 0; v < values.size(); ++v)
      codes_.back().emplace(values[v], static_cast<int>(v));
  }
  for (const std::string& m : encoding.missing) missing_.emplace(m, 0);
}

int ValueLookup::code(int a, std::string_view value) const {
  const auto it = codes_[a].find(value);
  return it == codes_[a].end() ? -1 : it->second;
}

bool ValueLookup::isMissing(std::string_view value) const {
  return missing_.find(value) != missing_.end();
}

}  // namespace kelbow
