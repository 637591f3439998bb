// The top of one clustering's hierarchy as kelbow-report draws it: the
// clusters of one level (at most 30) as leaves, sized by their rows, and the
// merges above them up to one cluster, cut where the chosen number of
// clusters lies.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/hierarchy.h"

namespace kelbow {

struct Dendrogram {
  struct Node {
    int left = -1, right = -1;  // children; -1 for a leaf
    int level = 0;  // clusters once this node exists: the leaves' level, or after its merge
    long long rows = 0;
    int cluster = 0;  // its cluster at the cut (1 .. k by size), 0 when it spans several
  };
  std::vector<Node> nodes;  // the leaves first, then the merges in order
  int root = -1;
  int leaves = 0;
  int cut = 1;                 // the chosen number of clusters
  std::vector<int> leafOrder;  // leaves left to right, each merge's children side by side
};

// The dendrogram of `h` from its level of min(levels, starting clusters)
// clusters up, cut at k (1 <= k); needs the rows of the starting clusters.
Dendrogram buildDendrogram(const Hierarchy& h, int levels, int k);

// An SVG element (no XML declaration, for inlining in HTML) of the dendrogram:
// leaves along the bottom with bars sized by their rows and their cluster at
// the cut, merges drawn at the number of clusters they leave, the cut as a
// dashed line. `colours` gives the colour of cluster i at index i - 1 (cycled).
std::string renderDendrogramSvg(const Dendrogram& d, std::span<const std::string_view> colours);

}  // namespace kelbow
