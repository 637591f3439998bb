// The report kelbow-profile writes: text for a person, CSV for a spreadsheet,
// JSON for a script. All three carry the same figures.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "profile/cluster_profile.h"
#include "profile/cluster_tests.h"

namespace kelbow {

struct ProfileReport {
  std::string tableName;  // as given on the command line
  std::string labelsName;
  long long rows = 0;
  std::vector<std::string> attributeNames;
  // values[a][code]: the raw value as the codes file writes it (escaped), or
  // empty when there is no codes file (the code is shown instead).
  std::vector<std::vector<std::string>> values;
  std::vector<long long> clusterLabels;       // the label of each cluster, ascending
  std::vector<ClusterProfile> clusters;       // distinctive values tested (testDistinctiveValues)
  std::vector<VariableSeparation> variables;  // strongest first (rankVariables)
  int shownVariables = 10;                    // variables in the text report (csv and json: all)
  bool modes = true;                          // the modes of every attribute, per cluster
  std::optional<std::string> classesName;
  std::vector<std::string> classNames;  // escaped, in order of first appearance
  ClassAgreement agreement;
};

enum class ReportFormat { kText, kCsv, kJson };

std::string formatReport(const ProfileReport& report, ReportFormat format);

}  // namespace kelbow
