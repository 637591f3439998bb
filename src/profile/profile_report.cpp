#include "profile/profile_report.h"

#include <algorithm>
#include <cstdio>

#include "common/json_text.h"
#include "common/value_escape.h"
#include "profile/cluster_tests.h"

namespace kelbow {

namespace {

// Widest "attribute = value" column of the text report.
constexpr size_t kMaxValueColumn = 44;

std::string fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string percent(double share) { return fixed(100 * share, 1) + "%"; }

// A p-value in a few characters: three decimals down to 0.001, then two
// significant digits in exponent form, "<1e-300" below that.
std::string pText(double p) {
  if (!(p >= 1e-300)) return "<1e-300";
  if (p >= 0.001) return fixed(p, 3);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1e", p);
  return buf;
}

// Full precision for the files scripts read.
std::string exact(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string pad(std::string s, size_t width, bool right = false) {
  if (s.size() >= width) return s;
  return right ? std::string(width - s.size(), ' ') + s : s + std::string(width - s.size(), ' ');
}

// `items` after `lead`, separated by commas, in lines of at most kLineWidth
// characters where the items allow it; continuation lines are indented.
std::string wrapped(const std::string& lead, const std::vector<std::string>& items) {
  constexpr size_t kLineWidth = 100;
  std::string out = lead, line;
  size_t used = lead.size();
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string item = items[i] + (i + 1 < items.size() ? "," : "");
    if (i > 0 && used + 1 + item.size() > kLineWidth) {
      out += "\n" + std::string(lead.size(), ' ');
      used = lead.size();
    } else if (i > 0) {
      out += ' ';
      ++used;
    }
    out += item;
    used += item.size();
  }
  return out + "\n";
}

class Names {
 public:
  explicit Names(const ProfileReport& r) : r_(r) {}
  // The value as the codes file writes it (escaped), or the code.
  std::string value(int a, int code) const {
    if (code < 0) return "";
    if (r_.values.empty()) return std::to_string(code);
    return r_.values[a][code];
  }
  // The value for the text report: the empty value is shown as "".
  std::string shown(int a, int code) const {
    const std::string v = value(a, code);
    return v.empty() ? "\"\"" : v;
  }
  std::string raw(int a, int code) const {
    return r_.values.empty() ? value(a, code) : unescapeValue(value(a, code));
  }
  const std::string& attribute(int a) const { return r_.attributeNames[a]; }
  std::string label(int c) const { return std::to_string(r_.clusterLabels[c]); }

 private:
  const ProfileReport& r_;
};

std::string text(const ProfileReport& r) {
  const Names names(r);
  std::string out = "table " + r.tableName + ": " + std::to_string(r.rows) + " rows, " +
                    std::to_string(r.attributeNames.size()) + " attributes; labels " +
                    r.labelsName + ": " + std::to_string(r.clusters.size()) + " clusters\n";
  const int shown = std::min<int>(r.shownVariables, static_cast<int>(r.variables.size()));
  if (shown > 0) {
    size_t width = 8;
    for (int i = 0; i < shown; ++i)
      width = std::max(width,
                       std::min(names.attribute(r.variables[i].attribute).size(), kMaxValueColumn));
    out += "\nvariables that separate the clusters (chi-square test, Cramer's V):\n  " +
           pad("variable", width) + "      V   chi-square    df  p\n";
    for (int i = 0; i < shown; ++i) {
      const VariableSeparation& v = r.variables[i];
      out += "  " + pad(names.attribute(v.attribute), width) + "  " +
             pad(fixed(v.cramersV, 3), 5, true) + "  " + pad(fixed(v.chiSquare, 1), 11, true) +
             "  " + pad(std::to_string(v.degrees), 4, true) + "  " + pText(v.pValue) + "\n";
    }
    if (static_cast<int>(r.variables.size()) > shown)
      out += "  ... " + std::to_string(r.variables.size() - shown) + " more (-v N shows more)\n";
  }
  for (const ClusterProfile& p : r.clusters) {
    out += "\ncluster " + names.label(p.cluster) + ": " + std::to_string(p.size) + " rows (" +
           percent(p.share) + ")\n";
    if (p.distinctive.empty()) {
      out += "  no value is more frequent here than in the whole table\n";
    } else {
      std::vector<std::string> lefts;
      size_t width = 18;
      for (const ValueStanding& s : p.distinctive) {
        lefts.push_back(names.attribute(s.attribute) + " = " + names.shown(s.attribute, s.code));
        width = std::max(width, std::min(lefts.back().size(), kMaxValueColumn));
      }
      out += "  " + pad("distinctive values", width) + "  in cluster   overall   lift      z  p\n";
      for (size_t i = 0; i < p.distinctive.size(); ++i) {
        const ValueStanding& s = p.distinctive[i];
        out += "  " + pad(lefts[i], width) + "  " + pad(percent(s.share), 10, true) + "  " +
               pad(percent(s.overallShare), 8, true) + "  " + pad(fixed(s.lift, 2), 5, true) +
               "  " + pad(fixed(s.z, 1), 5, true) + "  " + pText(s.pValue) + "\n";
      }
    }
    std::vector<std::string> modes;
    for (const ValueStanding& m : p.modes)
      modes.push_back(names.attribute(m.attribute) + " = " +
                      (m.code < 0
                           ? "(all missing)"
                           : names.shown(m.attribute, m.code) + " (" + percent(m.share) + ")"));
    if (r.modes) out += wrapped("  modes: ", modes);
    if (!p.missing.empty()) {
      std::vector<std::string> missing;
      for (const ValueStanding& m : p.missing)
        missing.push_back(names.attribute(m.attribute) + " " + std::to_string(m.count) + " (" +
                          percent(m.share) + ")");
      out += wrapped("  missing: ", missing);
    }
  }
  if (r.classesName) {
    out += "\nclusters against classes (" + *r.classesName + "):\n";
    std::vector<size_t> widths;
    size_t first = 7;
    for (const ClusterProfile& p : r.clusters)
      first = std::max(first, names.label(p.cluster).size());
    for (size_t k = 0; k < r.classNames.size(); ++k) {
      size_t w = std::max<size_t>(r.classNames[k].size(), 1);
      for (const auto& row : r.agreement.table) w = std::max(w, std::to_string(row[k]).size());
      widths.push_back(w);
    }
    out += "  " + pad("cluster", first);
    for (size_t k = 0; k < r.classNames.size(); ++k)
      out += "  " + pad(r.classNames[k], widths[k], true);
    out += "\n";
    for (size_t c = 0; c < r.agreement.table.size(); ++c) {
      out += "  " + pad(names.label(static_cast<int>(c)), first);
      for (size_t k = 0; k < r.classNames.size(); ++k)
        out += "  " + pad(std::to_string(r.agreement.table[c][k]), widths[k], true);
      out += "\n";
    }
    out += "purity " + fixed(r.agreement.purity, 4) + ", adjusted Rand index " +
           fixed(r.agreement.adjustedRandIndex, 4) + "\n";
  }
  return out;
}

std::string csvField(const std::string& s) {
  if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string csv(const ProfileReport& r) {
  const Names names(r);
  std::string out =
      "record,cluster,attribute,value,count,share,overall_share,lift,z,p,chi_square,df,cramers_v\n";
  // The figures past the lift: z and p of a distinctive value; p, chi-square,
  // df and V of a variable.
  std::string tail;
  auto line = [&](const std::string& record, const std::string& cluster,
                  const std::string& attribute, const std::string& value, const std::string& count,
                  const std::string& share, const std::string& overall, const std::string& lift) {
    out += record + "," + cluster + "," + csvField(attribute) + "," + csvField(value) + "," +
           count + "," + share + "," + overall + "," + lift + (tail.empty() ? ",,,,," : tail) +
           "\n";
    tail.clear();
  };
  auto standing = [&](const char* record, const std::string& cluster, const ValueStanding& s) {
    line(record, cluster, names.attribute(s.attribute), names.raw(s.attribute, s.code),
         std::to_string(s.count), fixed(s.share, 6), fixed(s.overallShare, 6), fixed(s.lift, 6));
  };
  for (const VariableSeparation& v : r.variables) {
    tail = ",," + exact(v.pValue) + "," + fixed(v.chiSquare, 6) + "," + std::to_string(v.degrees) +
           "," + fixed(v.cramersV, 6);
    line("variable", "", names.attribute(v.attribute), "", "", "", "", "");
  }
  for (const ClusterProfile& p : r.clusters) {
    const std::string c = names.label(p.cluster);
    line("cluster", c, "", "", std::to_string(p.size), fixed(p.share, 6), "", "");
    for (const ValueStanding& s : p.distinctive) {
      tail = "," + fixed(s.z, 6) + "," + exact(s.pValue) + ",,,";
      standing("distinctive", c, s);
    }
    for (const ValueStanding& m : p.modes)
      if (r.modes && m.code >= 0) standing("mode", c, m);
    for (const ValueStanding& m : p.missing)
      line("missing", c, names.attribute(m.attribute), "", std::to_string(m.count),
           fixed(m.share, 6), "", "");
  }
  if (r.classesName) {
    for (size_t c = 0; c < r.agreement.table.size(); ++c)
      for (size_t k = 0; k < r.classNames.size(); ++k)
        line("class", names.label(static_cast<int>(c)), "", unescapeValue(r.classNames[k]),
             std::to_string(r.agreement.table[c][k]), "", "", "");
    line("purity", "", "", "", "", fixed(r.agreement.purity, 6), "", "");
    line("adjusted_rand_index", "", "", "", "", fixed(r.agreement.adjustedRandIndex, 6), "", "");
  }
  return out;
}

std::string json(const ProfileReport& r) {
  const Names names(r);
  std::string out = "{\n  \"table\": " + jsonString(r.tableName) +
                    ",\n  \"labels\": " + jsonString(r.labelsName) +
                    ",\n  \"rows\": " + std::to_string(r.rows) + ",\n  \"attributes\": [";
  for (size_t a = 0; a < r.attributeNames.size(); ++a)
    out += (a ? ", " : "") + jsonString(r.attributeNames[a]);
  out += "],\n  \"variables\": [";
  for (size_t i = 0; i < r.variables.size(); ++i) {
    const VariableSeparation& v = r.variables[i];
    out += (i ? ",\n    " : "\n    ") + std::string("{\"attribute\": ") +
           jsonString(names.attribute(v.attribute)) + ", \"cramers_v\": " + fixed(v.cramersV, 6) +
           ", \"chi_square\": " + fixed(v.chiSquare, 6) + ", \"df\": " + std::to_string(v.degrees) +
           ", \"p\": " + exact(v.pValue) + "}";
  }
  out += r.variables.empty() ? "]" : "\n  ]";
  out += ",\n  \"clusters\": [";
  auto standing = [&](const ValueStanding& s, bool full, bool tested) {
    std::string o =
        "{\"attribute\": " + jsonString(names.attribute(s.attribute)) + ", \"value\": " +
        (s.code < 0 ? std::string("null") : jsonString(names.raw(s.attribute, s.code))) +
        ", \"count\": " + std::to_string(s.count) + ", \"share\": " + fixed(s.share, 6);
    if (full)
      o += ", \"overall_share\": " + fixed(s.overallShare, 6) + ", \"lift\": " + fixed(s.lift, 6);
    if (tested) o += ", \"z\": " + fixed(s.z, 6) + ", \"p\": " + exact(s.pValue);
    return o + "}";
  };
  auto list = [&](const std::vector<ValueStanding>& items, bool full, bool missing,
                  bool tested = false) {
    std::string o = "[";
    for (size_t i = 0; i < items.size(); ++i) {
      o += (i ? ",\n        " : "\n        ");
      o += missing ? "{\"attribute\": " + jsonString(names.attribute(items[i].attribute)) +
                         ", \"count\": " + std::to_string(items[i].count) +
                         ", \"share\": " + fixed(items[i].share, 6) + "}"
                   : standing(items[i], full && items[i].code >= 0, tested);
    }
    return o + (items.empty() ? "]" : "\n      ]");
  };
  for (size_t i = 0; i < r.clusters.size(); ++i) {
    const ClusterProfile& p = r.clusters[i];
    out += (i ? ",\n    {" : "\n    {");
    out += "\n      \"label\": " + names.label(p.cluster) +
           ",\n      \"size\": " + std::to_string(p.size) +
           ",\n      \"share\": " + fixed(p.share, 6) +
           ",\n      \"distinctive\": " + list(p.distinctive, true, false, true) +
           (r.modes ? ",\n      \"modes\": " + list(p.modes, true, false) : std::string()) +
           ",\n      \"missing\": " + list(p.missing, false, true) + "\n    }";
  }
  out += r.clusters.empty() ? "]" : "\n  ]";
  if (r.classesName) {
    out +=
        ",\n  \"classes\": {\n    \"file\": " + jsonString(*r.classesName) + ",\n    \"names\": [";
    for (size_t k = 0; k < r.classNames.size(); ++k)
      out += (k ? ", " : "") + jsonString(unescapeValue(r.classNames[k]));
    out += "],\n    \"contingency\": [";
    for (size_t c = 0; c < r.agreement.table.size(); ++c) {
      out += (c ? ",\n      [" : "\n      [");
      for (size_t k = 0; k < r.agreement.table[c].size(); ++k)
        out += (k ? ", " : "") + std::to_string(r.agreement.table[c][k]);
      out += "]";
    }
    out += "\n    ],\n    \"purity\": " + fixed(r.agreement.purity, 6) +
           ",\n    \"adjusted_rand_index\": " + fixed(r.agreement.adjustedRandIndex, 6) + "\n  }";
  }
  return out + "\n}\n";
}

}  // namespace

std::string formatReport(const ProfileReport& report, ReportFormat format) {
  switch (format) {
    case ReportFormat::kCsv:
      return csv(report);
    case ReportFormat::kJson:
      return json(report);
    case ReportFormat::kText:
      break;
  }
  return text(report);
}

}  // namespace kelbow
