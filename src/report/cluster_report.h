// What kelbow-report tells about one clustering of a table: the number of
// clusters with its evidence, the top of the hierarchy, the variables that
// separate the clusters, and per cluster its size, the values that set it apart
// with their test, the modes of the attributes that matter and its most typical
// rows; against a known class column, the contingency with purity and ARI.
// The same figures go out as one self-contained HTML page and as JSON.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "choose/choose.h"
#include "profile/cluster_profile.h"
#include "profile/cluster_tests.h"
#include "report/dendrogram.h"

namespace kelbow {

struct ClusterReport {
  std::string inputName;  // the CSV file as given (shown, never opened here)
  std::string version;
  long long rows = 0;
  std::vector<std::string> attributeNames;       // raw
  std::vector<std::vector<std::string>> values;  // values[a][code], raw
  std::vector<std::vector<bool>> isMissing;      // empty: no missing markers

  Choice choice;
  int k = 1;            // the clusters reported (the recommendation or -k)
  bool kGiven = false;  // -k overrode the recommendation
  Dendrogram dendrogram;

  std::vector<VariableSeparation> variables;           // strongest first
  std::vector<int> keyAttributes;                      // attributes whose modes are shown
  std::vector<ClusterProfile> clusters;                // index c: cluster c + 1
  std::vector<std::vector<TypicalRows::Row>> typical;  // per cluster

  struct Classes {
    std::string column;
    std::vector<std::string> names;  // raw, in order of first appearance
    ClassAgreement agreement;        // table[cluster][class]
  };
  std::optional<Classes> classes;

  // What refinement did, one line, when the clusters were refined ("" when not).
  std::string refinement;

  // The files written beside the report, as they are shown (may be empty).
  std::string clustersFile, jsonFile, htmlFile, recordFile, modelFile;
};

// How many attributes have their modes shown per cluster.
inline constexpr int kKeyAttributes = 8;
// Variables shown in the page's ranking (the JSON has every one).
inline constexpr int kShownVariables = 25;

// Levels of the hierarchy the report's dendrogram shows.
inline constexpr int kReportLevels = 30;

// Per attribute and code, whether the code's text is one of the missing
// markers; empty when there are none.
std::vector<std::vector<bool>> markMissing(const std::vector<std::vector<std::string>>& values,
                                           const std::vector<std::string>& missing);

// Fills what the report says of the clusters from their value counts: each
// cluster's profile with `top` distinctive values and their tests, the
// variables ranked and the key attributes (r.isMissing marks the missing
// markers).
void describeClusters(const ClusterCounts& counts, int top, ClusterReport& r);

// The attributes whose modes matter: the strongest min(kKeyAttributes, A) by rankVariables.
std::vector<int> keyAttributesOf(const std::vector<VariableSeparation>& ranked);

// One self-contained HTML document: inline CSS and SVG, no script, no
// external resource. Valid XML too, so that an XML parser can check it.
std::string renderReportHtml(const ClusterReport& r);

// The same figures as one JSON object.
std::string renderReportJson(const ClusterReport& r);

// A p-value as the page shows it: three decimals down to 0.001, then two
// significant digits in exponent form, "< 1e-300" below that.
std::string formatPValue(double p);

}  // namespace kelbow
