#include "analysis/entropy_clustering.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "common/error.h"
#include "input/attribute_context.h"
#include "summary/cf_tree.h"

namespace kelbow {

namespace {
// Where the tree's page file once lived; the large-table driver removes it.
constexpr const char* kTreeFileName = "./trees/t00";

// The fixed line of a stream that could not be opened and the line that says why.
std::string openFailure(const char* fixedLine, const std::string& name, int errnum) {
  return std::string(fixedLine) + programName() + ": " + name + ": " + std::strerror(errnum) + "\n";
}
}  // namespace

EntropyClustering::EntropyClustering(const char* data, DescriptionText description,
                                     bool collectResult, const AnalysisSettings& settings,
                                     Progress& progress)
    : descriptionFile(std::move(description)), settings_(settings), progress_(&progress) {
  openStreams(data, collectResult);
  descriptionFileName = descriptionFile.fileName();
}

EntropyClustering::EntropyClustering(const char* data, const char* description, bool collectResult,
                                     const AnalysisSettings& settings, Progress& progress)
    : settings_(settings), progress_(&progress) {
  openStreams(data, collectResult);
  descriptionFileName = description;
  if (!descriptionFile.open(description))
    openFailures_ += openFailure("can't open name file\n", description, errno);
}

EntropyClustering::EntropyClustering(const TableDescription& desc, RowSource& rows,
                                     const AnalysisSettings& settings, Progress& progress)
    : settings_(settings),
      progress_(&progress),
      rows_(&rows),
      describedByCaller_(true),
      givenDescription_(desc) {
  dataFileName = rows.fileName();
  descriptionFileName = rows.fileName();
  treeFileName = kTreeFileName;
}

void EntropyClustering::openStreams(const char* data, bool collectResult) {
  dataFile = openInput(data);
  if (dataFile == nullptr) openFailures_ += openFailure("can't open data file\n", data, errno);
  dataFileName = data;
  treeFileName = kTreeFileName;
  if (collectResult) {
    resultWanted_ = true;
    // The whole group stays in memory until the run has succeeded, so that a
    // failed run leaves no trace in the result file.
    resultFile = open_memstream(&resultBuffer_, &resultSize_);
    if (resultFile == nullptr)
      openFailures_ += openFailure("can't open label file\n", "(memory)", errno);
  }
}

bool EntropyClustering::filesOpen() const {
  if (rows_ != nullptr) return true;
  return dataFile != nullptr && descriptionFile.isOpen() &&
         (!resultWanted_ || resultFile != nullptr);
}

RowSource* EntropyClustering::rowSource(const std::vector<int>& domains) {
  if (rows_ != nullptr) return rows_;
  if (dataFile == nullptr) return nullptr;
  fileRows_ = std::make_unique<RecordReader>(*dataFile, dataFileName, domains);
  return fileRows_.get();
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
  fileRows_.reset();
  dataFile.reset();
  if (resultFile != nullptr) std::fclose(resultFile);
  std::free(resultBuffer_);
}

}  // namespace kelbow
