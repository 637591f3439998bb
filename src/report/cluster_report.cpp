#include "report/cluster_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "choose/choice_output.h"
#include "common/json_text.h"
#include "plot/svg_chart.h"

namespace kelbow {

namespace {

// Distinctive values named per cluster in the overview at the top of the page.
constexpr int kOverviewValues = 3;
// Colours of clusters 1, 2, ... (cycled): distinct on screen and in grey.
// A table in static storage: nothing of this file allocates before main.
constexpr std::string_view kColours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                         "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
constexpr size_t kColourCount = std::size(kColours);

constexpr std::string_view kStyle = R"(
body { font-family: "DejaVu Sans", Arial, sans-serif; margin: 1.2em 2em; color: #222; max-width: 1100px; }
h1 { font-size: 1.5em; margin: 0.2em 0; }
h2 { font-size: 1.2em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
h3 { font-size: 1em; margin: 1em 0 0.3em; }
p.answer { font-size: 1.1em; margin: 0.3em 0 0.8em; }
table { border-collapse: collapse; margin: 0.3em 0; }
th, td { padding: 2px 8px; text-align: left; vertical-align: top; border-bottom: 1px solid #eee; }
th { background: #f4f4f4; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
.swatch { display: inline-block; width: 0.9em; height: 0.9em; margin-right: 0.3em; vertical-align: -0.1em; }
.bar { display: inline-block; height: 0.8em; background: #4a78b0; }
.note { color: #555; font-size: 0.9em; }
section.cluster { border-left: 6px solid #ccc; padding-left: 1em; }
svg { max-width: 100%; height: auto; }
)";

constexpr std::string_view kChartFont =
    " font-family=\"DejaVu Sans, Arial, sans-serif\" font-size=\"12\"";
constexpr std::string_view kInlineFont =
    " style=\"font-family: DejaVu Sans, Arial, sans-serif; font-size: 12px\"";

std::string html(std::string_view text) { return xmlText(text); }

std::string fixed(double v, int decimals) { return formatFixed(v, decimals); }

std::string percent(double share) { return fixed(100 * share, 1) + "%"; }

std::string swatch(int cluster) {
  return "<span class=\"swatch\" style=\"background:" +
         std::string(kColours[(cluster - 1) % kColourCount]) + "\">&#160;</span>";
}

std::string valueOf(const ClusterReport& r, int a, int code) {
  if (code < 0) return "(missing)";
  return r.values.empty() ? std::to_string(code) : r.values[a][code];
}

// "colour = yellow" for a person.
std::string standingText(const ClusterReport& r, const ValueStanding& s) {
  return html(r.attributeNames[s.attribute]) + " = " + html(valueOf(r, s.attribute, s.code));
}

std::string numberCell(const std::string& text) { return "<td class=\"n\">" + text + "</td>"; }

std::string zText(double z) { return std::fabs(z) >= 1e6 ? fixed(z, 0) : fixed(z, 1); }

void header(const ClusterReport& r, std::string& out) {
  out += "<header>\n<h1>Clusters of " + html(r.inputName) + "</h1>\n<p class=\"answer\">";
  const Choice& c = r.choice;
  if (r.kGiven) {
    out += "<strong>" + std::to_string(r.k) + " clusters</strong>, as asked; " +
           (c.k == 1 ? std::string("the table shows no cluster structure on its own")
                     : "the recommendation is " + std::to_string(c.k));
  } else if (c.k == 1) {
    out +=
        "<strong>No cluster structure found</strong>: no number of clusters stands clearly "
        "above " +
        std::to_string(c.references) + " reference tables without structure";
  } else {
    out += "<strong>" + std::to_string(r.k) + " clusters</strong> recommended";
  }
  out += ". " + std::to_string(r.rows) + " rows, " + std::to_string(r.attributeNames.size()) +
         " attributes.</p>\n";
  if (!r.refinement.empty())
    out += "<p class=\"note\">The clusters were refined after the cut of the hierarchy (" +
           html(r.refinement) + "); the dendrogram shows the cut.</p>\n";
  out += "</header>\n";
}

void overview(const ClusterReport& r, std::string& out) {
  out +=
      "<section id=\"overview\">\n<h2>The clusters at a glance</h2>\n"
      "<table class=\"overview\">\n<tr><th>cluster</th><th>rows</th><th>share</th>"
      "<th>what sets it apart (share in the cluster / overall)</th></tr>\n";
  for (const ClusterProfile& p : r.clusters) {
    const int number = p.cluster + 1;
    out += "<tr><td><a href=\"#cluster-" + std::to_string(number) + "\">" + swatch(number) +
           std::to_string(number) + "</a></td>" + numberCell(std::to_string(p.size)) +
           numberCell(percent(p.share)) + "<td>";
    const int shown = std::min<int>(kOverviewValues, static_cast<int>(p.distinctive.size()));
    for (int i = 0; i < shown; ++i) {
      const ValueStanding& s = p.distinctive[i];
      out += std::string(i ? "; " : "") + "<strong>" + standingText(r, s) + "</strong> " +
             percent(s.share) + " / " + percent(s.overallShare);
    }
    if (shown == 0) out += "<span class=\"note\">nothing above its share overall</span>";
    out += "</td></tr>\n";
  }
  out += "</table>\n</section>\n";
}

void choiceSection(const ClusterReport& r, std::string& out) {
  const Choice& c = r.choice;
  out += "<section id=\"choice\">\n<h2>How many clusters</h2>\n<figure id=\"chart\">\n";
  std::string svg = renderChoiceChart(choiceChart(c, r.inputName));
  // Inline: the XML declaration belongs to a document of its own, and the
  // font goes into a style, which HTML checkers know on an svg element.
  if (svg.starts_with("<?xml")) svg.erase(0, svg.find('\n') + 1);
  const size_t font = svg.find(kChartFont);
  if (font != std::string::npos) svg.replace(font, kChartFont.size(), kInlineFont);
  out += svg;
  out +=
      "</figure>\n<p class=\"note\">The curve is the table's kelbow value at each number of "
      "clusters K; the grey band is what " +
      std::to_string(c.references) +
      " reference tables without structure (every column shuffled on its own) give there "
      "(mean &#177; 3 standard deviations). A K is supported when it stands clearly above "
      "the band.</p>\n";
  if (c.candidates.empty()) {
    out += "<p>No K is supported.</p>\n";
  } else {
    out +=
        "<table class=\"candidates\">\n<tr><th>K</th><th>value</th><th>reference mean "
        "&#177; sd</th><th>z</th><th>other row orders supporting it</th><th>agreement "
        "(ARI)</th></tr>\n";
    for (int k : c.candidates) {
      const LevelEvidence& e = c.at(k);
      out += std::string("<tr>") + "<td>" + std::to_string(k) + (k == c.k ? " (recommended)" : "") +
             "</td>" + numberCell(fixed(e.value, 6)) +
             numberCell(fixed(e.referenceMean, 6) + " &#177; " + fixed(e.referenceSd, 6)) +
             numberCell(e.z > 99999 ? "&gt;99999" : fixed(e.z, 1)) +
             numberCell(c.orders == 0 ? "-"
                                      : std::to_string(e.ordersSupported) + " of " +
                                            std::to_string(c.orders)) +
             numberCell(e.agreement < -1 ? "-" : fixed(e.agreement, 3)) + "</tr>\n";
    }
    out += "</table>\n";
  }
  out += "<p class=\"note\">" + std::to_string(c.rows) + " rows, " +
         std::to_string(c.startingClusters) + " starting clusters; " +
         std::to_string(c.references) + " reference tables of at most " +
         std::to_string(c.referenceRows) + " rows, " + std::to_string(c.orders) +
         " other row orders, seed " + std::to_string(c.seed) + ".</p>\n</section>\n";
}

void dendrogramSection(const ClusterReport& r, std::string& out) {
  out += "<section id=\"dendrogram\">\n<h2>The hierarchy</h2>\n<figure>\n" +
         renderDendrogramSvg(r.dendrogram, kColours) + "</figure>\n<p class=\"note\">The last " +
         std::to_string(std::max(0, r.dendrogram.leaves - 1)) + " merges, from " +
         std::to_string(r.dendrogram.leaves) +
         " clusters up to one; each bar is one cluster of that level, as high as its rows, "
         "coloured by its cluster at the cut.</p>\n</section>\n";
}

void variablesSection(const ClusterReport& r, std::string& out) {
  out +=
      "<section id=\"variables\">\n<h2>Variables that separate the clusters</h2>\n"
      "<table>\n<tr><th>variable</th><th>Cram&#233;r's V</th><th></th><th>chi-square</th>"
      "<th>df</th><th>p</th></tr>\n";
  const int shown = std::min<int>(kShownVariables, static_cast<int>(r.variables.size()));
  for (int i = 0; i < shown; ++i) {
    const VariableSeparation& v = r.variables[i];
    out += "<tr><td>" + html(r.attributeNames[v.attribute]) + "</td>" +
           numberCell(fixed(v.cramersV, 3)) +
           "<td><span class=\"bar\" style=\"width:" + fixed(120 * v.cramersV, 1) +
           "px\">&#160;</span></td>" + numberCell(fixed(v.chiSquare, 1)) +
           numberCell(std::to_string(v.degrees)) + numberCell(formatPValue(v.pValue)) + "</tr>\n";
  }
  out += "</table>\n";
  if (static_cast<int>(r.variables.size()) > shown)
    out += "<p class=\"note\">" + std::to_string(r.variables.size() - shown) +
           " more variables, weaker, in the JSON report.</p>\n";
  out +=
      "<p class=\"note\">Chi-square test of each variable's clusters &#215; values table "
      "(missing values left out); Cram&#233;r's V = &#8730;(chi-square / (n (min(clusters, "
      "values) &#8722; 1))) runs from 0 (the variable says nothing of the cluster) to 1.</p>\n"
      "</section>\n";
}

void classesSection(const ClusterReport& r, std::string& out) {
  const ClusterReport::Classes& k = *r.classes;
  out += "<section id=\"classes\">\n<h2>Against the known classes in " + html(k.column) +
         "</h2>\n<p>purity " + fixed(k.agreement.purity, 3) + ", adjusted Rand index " +
         fixed(k.agreement.adjustedRandIndex, 3) + "</p>\n<table>\n<tr><th>cluster</th>";
  for (const std::string& name : k.names) out += "<th>" + html(name) + "</th>";
  out += "</tr>\n";
  for (size_t c = 0; c < k.agreement.table.size(); ++c) {
    out += "<tr><td>" + swatch(static_cast<int>(c) + 1) + std::to_string(c + 1) + "</td>";
    for (long long n : k.agreement.table[c]) out += numberCell(std::to_string(n));
    out += "</tr>\n";
  }
  out += "</table>\n</section>\n";
}

void clusterSection(const ClusterReport& r, const ClusterProfile& p, std::string& out) {
  const int number = p.cluster + 1;
  const std::string colour(kColours[(number - 1) % kColourCount]);
  out += "<section class=\"cluster\" id=\"cluster-" + std::to_string(number) +
         "\" style=\"border-color:" + colour + "\">\n<h2>Cluster " + std::to_string(number) +
         "</h2>\n<p>" + std::to_string(p.size) + " rows, " + percent(p.share) +
         " of the table.</p>\n<h3>Values that set it apart</h3>\n";
  if (p.distinctive.empty()) {
    out += "<p class=\"note\">No value is more frequent here than in the whole table.</p>\n";
  } else {
    out +=
        "<table>\n<tr><th>value</th><th>rows</th><th>in the cluster</th><th>overall</th>"
        "<th>lift</th><th>z</th><th>p</th></tr>\n";
    for (const ValueStanding& s : p.distinctive)
      out += "<tr><td>" + standingText(r, s) + "</td>" + numberCell(std::to_string(s.count)) +
             numberCell(percent(s.share)) + numberCell(percent(s.overallShare)) +
             numberCell(fixed(s.lift, 2)) + numberCell(zText(s.z)) +
             numberCell(formatPValue(s.pValue)) + "</tr>\n";
    out += "</table>\n";
  }
  if (!r.keyAttributes.empty()) {
    out +=
        "<h3>Most frequent value of the variables that matter most</h3>\n<table>\n"
        "<tr><th>variable</th><th>mode</th><th>in the cluster</th></tr>\n";
    for (int a : r.keyAttributes) {
      const ValueStanding& m = p.modes[a];
      out += "<tr><td>" + html(r.attributeNames[a]) + "</td><td>" + html(valueOf(r, a, m.code)) +
             "</td>" + numberCell(m.code < 0 ? "-" : percent(m.share)) + "</tr>\n";
    }
    out += "</table>\n";
  }
  const std::vector<TypicalRows::Row>& typical = r.typical[p.cluster];
  if (!typical.empty()) {
    out += "<h3>Most typical rows</h3>\n<table>\n<tr><th>row</th>";
    for (int a : r.keyAttributes) out += "<th>" + html(r.attributeNames[a]) + "</th>";
    out += "</tr>\n";
    for (const TypicalRows::Row& row : typical) {
      out += "<tr>" + numberCell(std::to_string(row.row + 1));
      for (int a : r.keyAttributes) out += "<td>" + html(valueOf(r, a, row.codes[a])) + "</td>";
      out += "</tr>\n";
    }
    out += "</table>\n";
  }
  out += "</section>\n";
}

void footer(const ClusterReport& r, std::string& out) {
  out += "<footer>\n<h2>About this report</h2>\n<p class=\"note\">";
  if (!r.clustersFile.empty()) out += "Every row with its cluster: " + html(r.clustersFile) + ". ";
  if (!r.jsonFile.empty()) out += "The same figures for scripts: " + html(r.jsonFile) + ". ";
  if (!r.recordFile.empty())
    out += "The clustering's record (labels of any level without clustering again): " +
           html(r.recordFile) + ". ";
  out +=
      "Rows are numbered from 1, the data rows of the input in order (a header line is not "
      "counted). A value's z compares its rows in the cluster with the hypergeometric count "
      "expected by chance (a draw of the cluster's size from the whole table), in standard "
      "deviations; p is the one-sided normal approximation of that test. The most typical "
      "rows are those whose values are most frequent in their cluster (the highest mean log "
      "share). kelbow-report " +
      html(r.version) + ".</p>\n</footer>\n";
}

std::string jsonText(const ClusterReport& r, int a, int code) {
  return code < 0 ? std::string("null") : jsonString(valueOf(r, a, code));
}

std::string standingJson(const ClusterReport& r, const ValueStanding& s, bool tested) {
  std::string o = "{\"attribute\": " + jsonString(r.attributeNames[s.attribute]) +
                  ", \"value\": " + jsonText(r, s.attribute, s.code) +
                  ", \"count\": " + std::to_string(s.count) +
                  ", \"share\": " + jsonNumber(s.share, 6);
  if (tested)
    o += ", \"overall_share\": " + jsonNumber(s.overallShare, 6) +
         ", \"lift\": " + jsonNumber(s.lift, 6) + ", \"z\": " + jsonNumber(s.z, 3) +
         ", \"p\": " + jsonNumber(s.pValue, 17);
  return o + "}";
}

template <typename T, typename F>
std::string jsonList(const std::vector<T>& items, F each, const std::string& indent) {
  if (items.empty()) return "[]";
  std::string o = "[";
  for (size_t i = 0; i < items.size(); ++i) o += (i ? ",\n" : "\n") + indent + each(items[i]);
  return o + "\n" + indent.substr(2) + "]";
}

}  // namespace

std::vector<std::vector<bool>> markMissing(const std::vector<std::vector<std::string>>& values,
                                           const std::vector<std::string>& missing) {
  std::vector<std::vector<bool>> marked;
  if (missing.empty()) return marked;
  for (const auto& of : values) {
    std::vector<bool> m;
    for (const std::string& v : of)
      m.push_back(std::find(missing.begin(), missing.end(), v) != missing.end());
    marked.push_back(std::move(m));
  }
  return marked;
}

void describeClusters(const ClusterCounts& counts, int top, ClusterReport& r) {
  r.clusters = profileClusters(counts, r.isMissing, top);
  testDistinctiveValues(counts, r.clusters);
  r.variables = rankVariables(counts, r.isMissing);
  r.keyAttributes = keyAttributesOf(r.variables);
}

std::vector<int> keyAttributesOf(const std::vector<VariableSeparation>& ranked) {
  std::vector<int> out;
  for (const VariableSeparation& v : ranked) {
    if (static_cast<int>(out.size()) == kKeyAttributes) break;
    out.push_back(v.attribute);
  }
  return out;
}

std::string formatPValue(double p) {
  if (!(p >= 1e-300)) return "&lt; 1e-300";
  if (p >= 0.001) return formatFixed(p, 3);
  char text[32];
  std::snprintf(text, sizeof text, "%.1e", p);
  return text;
}

std::string renderReportHtml(const ClusterReport& r) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\" xmlns=\"http://www.w3.org/1999/xhtml\">\n"
      "<head>\n<meta charset=\"utf-8\"/>\n<title>kelbow report: " +
      html(r.inputName) + "</title>\n<style>" + std::string(kStyle) + "</style>\n</head>\n<body>\n";
  header(r, out);
  overview(r, out);
  choiceSection(r, out);
  dendrogramSection(r, out);
  variablesSection(r, out);
  if (r.classes) classesSection(r, out);
  for (const ClusterProfile& p : r.clusters) clusterSection(r, p, out);
  footer(r, out);
  return out + "</body>\n</html>\n";
}

std::string renderReportJson(const ClusterReport& r) {
  const Choice& c = r.choice;
  auto file = [](const std::string& f) { return f.empty() ? std::string("null") : jsonString(f); };
  std::string o =
      "{\n  \"input\": " + jsonString(r.inputName) + ",\n  \"version\": " + jsonString(r.version) +
      ",\n  \"rows\": " + std::to_string(r.rows) +
      ",\n  \"attributes\": " + std::to_string(r.attributeNames.size()) +
      ",\n  \"k\": " + std::to_string(r.k) + ",\n  \"k_given\": " + (r.kGiven ? "true" : "false") +
      ",\n  \"recommended_k\": " + std::to_string(c.k) +
      ",\n  \"structure\": " + (c.k > 1 ? "true" : "false");
  o += ",\n  \"choice\": {\"references\": " + std::to_string(c.references) +
       ", \"reference_rows\": " + std::to_string(c.referenceRows) +
       ", \"orders\": " + std::to_string(c.orders) + ", \"seed\": " + std::to_string(c.seed) +
       ", \"starting_clusters\": " + std::to_string(c.startingClusters) +
       ",\n    \"candidates\": " +
       jsonList(
           c.candidates, [&](int k) { return evidenceJson(c.at(k), c); }, "      ") +
       ",\n    \"levels\": " +
       jsonList(
           c.levels, [&](const LevelEvidence& e) { return evidenceJson(e, c); }, "      ") +
       "}";
  o += ",\n  \"variables\": " +
       jsonList(
           r.variables,
           [&](const VariableSeparation& v) {
             return "{\"attribute\": " + jsonString(r.attributeNames[v.attribute]) +
                    ", \"cramers_v\": " + jsonNumber(v.cramersV, 6) +
                    ", \"chi_square\": " + jsonNumber(v.chiSquare, 3) +
                    ", \"df\": " + std::to_string(v.degrees) +
                    ", \"p\": " + jsonNumber(v.pValue, 17) + "}";
           },
           "    ");
  o += ",\n  \"clusters\": " +
       jsonList(
           r.clusters,
           [&](const ClusterProfile& p) {
             std::string modes;
             for (int a : r.keyAttributes)
               modes += (modes.empty() ? "" : ", ") + standingJson(r, p.modes[a], false);
             std::string typical;
             for (const TypicalRows::Row& row : r.typical[p.cluster])
               typical += (typical.empty() ? "" : ", ") + std::string("{\"row\": ") +
                          std::to_string(row.row + 1) + ", \"score\": " + jsonNumber(row.score, 6) +
                          "}";
             std::string missing;
             for (const ValueStanding& m : p.missing)
               missing += (missing.empty() ? "" : ", ") + std::string("{\"attribute\": ") +
                          jsonString(r.attributeNames[m.attribute]) +
                          ", \"count\": " + std::to_string(m.count) + "}";
             return "{\"cluster\": " + std::to_string(p.cluster + 1) +
                    ", \"size\": " + std::to_string(p.size) +
                    ", \"share\": " + jsonNumber(p.share, 6) + ",\n      \"distinctive\": " +
                    jsonList(
                        p.distinctive,
                        [&](const ValueStanding& s) { return standingJson(r, s, true); },
                        "        ") +
                    ",\n      \"modes\": [" + modes + "],\n      \"typical_rows\": [" + typical +
                    "],\n      \"missing\": [" + missing + "]}";
           },
           "    ");
  const Dendrogram& d = r.dendrogram;
  std::vector<int> merges;
  for (int i = d.leaves; i < static_cast<int>(d.nodes.size()); ++i) merges.push_back(i);
  o += ",\n  \"dendrogram\": {\"levels\": " + std::to_string(d.leaves) +
       ", \"cut\": " + std::to_string(d.cut) + ",\n    \"leaves\": " +
       jsonList(
           std::vector<int>(d.leafOrder),
           [&](int i) {
             return "{\"node\": " + std::to_string(i) +
                    ", \"rows\": " + std::to_string(d.nodes[i].rows) +
                    ", \"cluster\": " + std::to_string(d.nodes[i].cluster) + "}";
           },
           "      ") +
       ",\n    \"merges\": " +
       jsonList(
           merges,
           [&](int i) {
             const Dendrogram::Node& n = d.nodes[i];
             return "{\"node\": " + std::to_string(i) + ", \"left\": " + std::to_string(n.left) +
                    ", \"right\": " + std::to_string(n.right) +
                    ", \"clusters_after\": " + std::to_string(n.level) +
                    ", \"rows\": " + std::to_string(n.rows) + "}";
           },
           "      ") +
       "}";
  if (r.classes) {
    const ClusterReport::Classes& k = *r.classes;
    std::string names, table;
    for (const std::string& n : k.names) names += (names.empty() ? "" : ", ") + jsonString(n);
    for (const auto& row : k.agreement.table) {
      std::string cells;
      for (long long n : row) cells += (cells.empty() ? "" : ", ") + std::to_string(n);
      table += (table.empty() ? "[" : ", [") + cells + "]";
    }
    o += ",\n  \"classes\": {\"column\": " + jsonString(k.column) + ", \"names\": [" + names +
         "], \"purity\": " + jsonNumber(k.agreement.purity, 6) +
         ", \"adjusted_rand_index\": " + jsonNumber(k.agreement.adjustedRandIndex, 6) +
         ", \"table\": [" + table + "]}";
  } else {
    o += ",\n  \"classes\": null";
  }
  o += ",\n  \"refinement\": " + file(r.refinement);
  o += ",\n  \"files\": {\"clusters\": " + file(r.clustersFile) +
       ", \"html\": " + file(r.htmlFile) + ", \"json\": " + file(r.jsonFile) +
       ", \"record\": " + file(r.recordFile) + ", \"model\": " + file(r.modelFile) + "}\n}\n";
  return o;
}

}  // namespace kelbow
