#include "report/dendrogram.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "plot/svg_chart.h"

namespace kelbow {

namespace {

// Page and plot area, in SVG user units.
constexpr double kWidth = 800;
constexpr double kLeft = 60;
constexpr double kRight = 780;
constexpr double kTop = 30;
constexpr double kMergeHeight = 300;  // from the leaves' level up to one cluster
constexpr double kBarHeight = 60;     // the largest leaf's bar
constexpr double kHeight = kTop + kMergeHeight + kBarHeight + 70;

}  // namespace

Dendrogram buildDendrogram(const Hierarchy& h, int levels, int k) {
  Dendrogram d;
  const int n = h.startCount();
  const int merged = static_cast<int>(h.merges().size());
  if (n == 0) return d;
  // The lowest level drawn: no more clusters than asked, and one the merges reach.
  const int top = std::max(1, std::min({levels, n, merged + 1}));
  d.leaves = top;
  d.cut = std::clamp(k, 1, top);
  const std::vector<int> leafOf = startLabels(h.merges(), n, top);
  const std::vector<int> atCut = h.startNumbersBySize(d.cut);
  d.nodes.resize(top);
  for (int s = 0; s < n; ++s) {
    Dendrogram::Node& leaf = d.nodes[leafOf[s]];
    leaf.level = top;
    leaf.rows += h.startSizes()[s];
    leaf.cluster = atCut[s];
  }
  // The node each live starting cluster stands for, once the first n - top merges are done.
  std::vector<int> nodeOf(n, -1);
  for (int s = 0; s < n; ++s) nodeOf[s] = leafOf[s];
  for (int i = n - top; i < n - 1 && i < merged; ++i) {
    const MergeStep& m = h.merges()[i];
    Dendrogram::Node node;
    node.left = nodeOf[m.survivor];
    node.right = nodeOf[m.absorbed];
    node.level = n - i - 1;
    node.rows = d.nodes[node.left].rows + d.nodes[node.right].rows;
    const int a = d.nodes[node.left].cluster, b = d.nodes[node.right].cluster;
    node.cluster = a == b ? a : 0;
    d.nodes.push_back(node);
    nodeOf[m.survivor] = static_cast<int>(d.nodes.size()) - 1;
  }
  d.root = static_cast<int>(d.nodes.size()) - 1;
  // Leaves left to right, depth first, the larger side first.
  std::vector<int> stack{d.root};
  while (!stack.empty()) {
    const int at = stack.back();
    stack.pop_back();
    const Dendrogram::Node& node = d.nodes[at];
    if (node.left < 0) {
      d.leafOrder.push_back(at);
      continue;
    }
    int first = node.left, second = node.right;
    if (d.nodes[second].rows > d.nodes[first].rows) std::swap(first, second);
    stack.push_back(second);
    stack.push_back(first);
  }
  return d;
}

std::string renderDendrogramSvg(const Dendrogram& d, std::span<const std::string_view> colours) {
  std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"dendrogram\" width=\"" +
                    formatFixed(kWidth, 0) + "\" height=\"" + formatFixed(kHeight, 0) +
                    "\" viewBox=\"0 0 " + formatFixed(kWidth, 0) + " " + formatFixed(kHeight, 0) +
                    "\" style=\"font-family: DejaVu Sans, Arial, sans-serif; font-size: 11px\">\n";
  out += "<title>the last merges of the hierarchy, cut at " + std::to_string(d.cut) +
         " clusters</title>\n";
  if (d.leaves == 0) return out + "</svg>\n";
  auto colour = [&](int cluster) {
    return std::string(cluster <= 0 || colours.empty() ? "#555"
                                                       : colours[(cluster - 1) % colours.size()]);
  };
  const double step = (kRight - kLeft) / d.leaves;
  std::vector<double> x(d.nodes.size());
  for (int i = 0; i < d.leaves; ++i) x[d.leafOrder[i]] = kLeft + step * (i + 0.5);
  // Level `level` (leaves at d.leaves, the root at 1) from bottom to top.
  const double span = std::max(1, d.leaves - 1);
  auto yOf = [&](double level) { return kTop + kMergeHeight * (level - 1) / span; };
  // Level axis: a tick at every level when there are few, else every fifth.
  out += "<g class=\"axis\" fill=\"#444\" text-anchor=\"end\">\n";
  for (int level = 1; level <= d.leaves; ++level) {
    if (d.leaves > 12 && level != 1 && level % 5 != 0 && level != d.leaves) continue;
    out += "<text x=\"" + formatFixed(kLeft - 8, 1) + "\" y=\"" + formatFixed(yOf(level) + 4, 1) +
           "\">" + std::to_string(level) + "</text>\n";
  }
  out += "</g>\n<text x=\"14\" y=\"" + formatFixed(kTop + kMergeHeight / 2, 1) +
         "\" transform=\"rotate(-90 14 " + formatFixed(kTop + kMergeHeight / 2, 1) +
         ")\" text-anchor=\"middle\" fill=\"#444\">clusters after the merge</text>\n";
  // Merges: a bracket from each child up to the merge's level.
  out += "<g class=\"merges\" fill=\"none\" stroke-width=\"1.5\">\n";
  for (size_t i = d.leaves; i < d.nodes.size(); ++i) {
    const Dendrogram::Node& node = d.nodes[i];
    x[i] = (x[node.left] + x[node.right]) / 2;
    const double y = yOf(node.level);
    out += "<path stroke=\"" + colour(node.cluster) + "\" d=\"M" + formatFixed(x[node.left], 2) +
           "," + formatFixed(yOf(d.nodes[node.left].level), 2) + " V" + formatFixed(y, 2) + " H" +
           formatFixed(x[node.right], 2) + " V" + formatFixed(yOf(d.nodes[node.right].level), 2) +
           "\"/>\n";
  }
  out += "</g>\n";
  // The cut: the merges up to the level of k clusters are made, those above it not.
  if (d.cut > 1) {
    const double y = (yOf(d.cut) + yOf(d.cut - 1)) / 2;
    out += "<line class=\"cut\" x1=\"" + formatFixed(kLeft - 4, 1) + "\" x2=\"" +
           formatFixed(kRight, 1) + "\" y1=\"" + formatFixed(y, 2) + "\" y2=\"" +
           formatFixed(y, 2) + "\" stroke=\"#c0392b\" stroke-dasharray=\"6 4\"/>\n";
    out += "<text x=\"" + formatFixed(kRight, 1) + "\" y=\"" + formatFixed(y - 5, 2) +
           "\" text-anchor=\"end\" fill=\"#c0392b\">cut: " + std::to_string(d.cut) +
           " clusters</text>\n";
  }
  // Leaves: a bar as high as its share of the largest leaf, its rows and its cluster.
  long long largest = 1;
  for (int i = 0; i < d.leaves; ++i) largest = std::max(largest, d.nodes[i].rows);
  const double base = yOf(d.leaves) + 8;
  out += "<g class=\"leaves\">\n";
  for (int i = 0; i < d.leaves; ++i) {
    const int at = d.leafOrder[i];
    const Dendrogram::Node& leaf = d.nodes[at];
    const double h = std::max(1.0, kBarHeight * static_cast<double>(leaf.rows) / largest);
    const double w = std::min(step * 0.7, 40.0);
    out += "<rect x=\"" + formatFixed(x[at] - w / 2, 2) + "\" y=\"" + formatFixed(base, 2) +
           "\" width=\"" + formatFixed(w, 2) + "\" height=\"" + formatFixed(h, 2) + "\" fill=\"" +
           colour(leaf.cluster) + "\"><title>" + std::to_string(leaf.rows) + " rows, cluster " +
           std::to_string(leaf.cluster) + "</title></rect>\n";
    const double ty = base + kBarHeight + 14;
    out += "<text x=\"" + formatFixed(x[at], 2) + "\" y=\"" + formatFixed(ty, 2) +
           "\" text-anchor=\"middle\" font-size=\"" + (d.leaves > 20 ? "8" : "10") + "\">" +
           std::to_string(leaf.rows) + "</text>\n";
    out += "<text x=\"" + formatFixed(x[at], 2) + "\" y=\"" + formatFixed(ty + 14, 2) +
           "\" text-anchor=\"middle\" font-weight=\"bold\" fill=\"" + colour(leaf.cluster) + "\">" +
           std::to_string(leaf.cluster) + "</text>\n";
  }
  out += "</g>\n<text x=\"" + formatFixed(kLeft - 8, 1) + "\" y=\"" +
         formatFixed(base + kBarHeight + 14, 1) +
         "\" text-anchor=\"end\" fill=\"#444\">rows</text>\n<text x=\"" +
         formatFixed(kLeft - 8, 1) + "\" y=\"" + formatFixed(base + kBarHeight + 28, 1) +
         "\" text-anchor=\"end\" fill=\"#444\">cluster</text>\n";
  return out + "</svg>\n";
}

}  // namespace kelbow
