// The direct loader of small tables: one starting cluster per record.
#include <memory>
#include <string>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "input/attribute_context.h"
#include "input/table_reader.h"
#include "input/tables.h"

namespace kelbow {

bool EntropyClustering::loadAll(int rowLimit, std::string& err) {
  TableDescription desc;
  if (describedByCaller_) {
    desc = givenDescription_;
    clusterCount = desc.rows;
    attributeCount = desc.attributeCount;
    if (rowLimit != 0) clusterCount = rowLimit;
    rowCount = clusterCount;
    progress_->tableSize(clusterCount, attributeCount);
  } else {
    if (dataFile == nullptr || !descriptionFile.isOpen()) {
      err = "loadAll: the data or description file is not open\n";
      return false;
    }
    // The description from its start, whoever read it before.
    const std::unique_ptr<ByteSource> description = descriptionFile.reader();
    NumberReader numbers(*description);
    if (!readTableSize(numbers, descriptionFileName, desc, err)) {
      err += descriptionFile.swappedFilesHint();
      return false;
    }
    clusterCount = desc.rows;
    attributeCount = desc.attributeCount;
    if (rowLimit != 0) clusterCount = rowLimit;
    rowCount = clusterCount;
    progress_->tableSize(clusterCount, attributeCount);
    for (int a = 0; a < attributeCount; ++a)
      if (!readDomainSize(numbers, descriptionFileName, a, desc, err)) {
        err += descriptionFile.swappedFilesHint();
        return false;
      }
    if (!checkInformative(desc, descriptionFileName, err)) {
      err += descriptionFile.swappedFilesHint();
      return false;
    }
  }
  domainSizes = desc.domainSizes;
  weights = attributeWeights(domainSizes);

  std::vector<int> row(attributeCount);
  clusters.resize(clusterCount);
  gValueCount = 0;  // the first cluster below captures this table's context
  logTable = kelbow::logTable(clusterCount);

  RowSource& records = *rowSource(domainSizes);
  for (int i = 0; i < clusterCount; ++i) {
    switch (records.read(row.data(), err)) {
      case RowSource::Result::kRecord:
        break;
      case RowSource::Result::kEnd:
        err = records.fileName() + ": record " + std::to_string(i + 1) +
              " is missing; the file holds " + std::to_string(i) +
              " records, the description declares " + std::to_string(clusterCount) + "\n";
        return false;
      case RowSource::Result::kBad:
        return false;
    }
    clusters[i] = std::make_unique<ClusterSummary>(attributeCount, desc.singleValuedCount,
                                                   domainSizes.data(), logTable.data());
    clusters[i]->initFromRow(row.data(), i);
  }
  if (rowLimit == 0 && !records.atEnd()) {
    err = records.fileName() + ": numbers left over after record " + std::to_string(clusterCount) +
          "; the description declares " + std::to_string(clusterCount) + " records\n";
    return false;
  }
  if (records.failed()) {
    err = records.failureLine();
    return false;
  }
  gWeights = weights.data();

  fileRows_.reset();
  dataFile.reset();
  return true;
}

}  // namespace kelbow
