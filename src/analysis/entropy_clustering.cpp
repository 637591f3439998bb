#include "analysis/entropy_clustering.h"

#include "input/attribute_context.h"
#include "summary/cf_tree.h"

namespace kelbow {

namespace {
// Where the tree's page file once lived; the large-table driver removes it.
constexpr const char* kTreeFileName = "./trees/t00";
}  // namespace

EntropyClustering::EntropyClustering(const char* data, const char* description, const char* result) {
  dataFile = std::fopen(data, "r");
  if (dataFile == nullptr) std::fputs("can't open data file\n", stderr);
  dataFileName = data;
  descriptionFileName = description;
  treeFileName = kTreeFileName;
  descriptionFile = std::fopen(description, "r");
  if (descriptionFile == nullptr) std::fputs("can't open name file\n", stderr);
  if (result != nullptr) {
    resultWanted_ = true;
    resultFile = std::fopen(result, "a");
    if (resultFile == nullptr) std::fputs("can't open label file\n", stderr);
  }
}

bool EntropyClustering::filesOpen() const {
  return dataFile != nullptr && descriptionFile != nullptr && (!resultWanted_ || resultFile != nullptr);
}

EntropyClustering::~EntropyClustering() {
  logTable.clear();
  weights.clear();
  domainSizes.clear();
  clusters.clear();
  tree.reset();  // after the clusters: the attribute context may point into it
  resetAttributeContext();
  // Streams a loader or the merge loop did not close (a run that stopped early).
  if (descriptionFile != nullptr) std::fclose(descriptionFile);
  if (dataFile != nullptr) std::fclose(dataFile);
  if (resultFile != nullptr) std::fclose(resultFile);
}

}  // namespace kelbow
