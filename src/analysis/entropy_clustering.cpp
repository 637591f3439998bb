#include "analysis/entropy_clustering.h"

#include <cerrno>
#include <cstdlib>

#include "common/error.h"
#include "input/attribute_context.h"
#include "summary/cf_tree.h"

namespace kelbow {

namespace {
// Where the tree's page file once lived; the large-table driver removes it.
constexpr const char* kTreeFileName = "./trees/t00";
}  // namespace

EntropyClustering::EntropyClustering(const char* data, const char* description, const char* result) {
  openStreams(data, result != nullptr);
  descriptionFileName = description;
  if (!descriptionFile.open(description)) reportFileFailure("can't open name file\n", description, errno);
}

EntropyClustering::EntropyClustering(const char* data, DescriptionText description, bool collectResult)
    : descriptionFile(std::move(description)) {
  openStreams(data, collectResult);
  descriptionFileName = descriptionFile.fileName();
}

void EntropyClustering::openStreams(const char* data, bool collectResult) {
  dataFile = openInput(data);
  if (dataFile == nullptr) reportFileFailure("can't open data file\n", data, errno);
  dataFileName = data;
  treeFileName = kTreeFileName;
  if (collectResult) {
    resultWanted_ = true;
    // The whole group stays in memory until the run has succeeded, so that a
    // failed run leaves no trace in the result file.
    resultFile = open_memstream(&resultBuffer_, &resultSize_);
    if (resultFile == nullptr) reportFileFailure("can't open label file\n", "(memory)", errno);
  }
}

bool EntropyClustering::filesOpen() const {
  return dataFile != nullptr && descriptionFile.isOpen() && (!resultWanted_ || resultFile != nullptr);
}

std::string EntropyClustering::resultText() const {
  if (resultFile != nullptr || resultBuffer_ == nullptr) return "";
  return std::string(resultBuffer_, resultSize_);
}

EntropyClustering::~EntropyClustering() {
  logTable.clear();
  weights.clear();
  domainSizes.clear();
  clusters.clear();
  tree.reset();  // after the clusters: the attribute context may point into it
  resetAttributeContext();
  // Streams a loader or the merge loop did not close (a run that stopped early).
  dataFile.reset();
  if (resultFile != nullptr) std::fclose(resultFile);
  std::free(resultBuffer_);
}

}  // namespace kelbow
