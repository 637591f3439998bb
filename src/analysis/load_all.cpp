// The direct loader of small tables: one starting cluster per record.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis/entropy_clustering.h"
#include "common/error.h"
#include "common/message_text.h"
#include "input/attribute_context.h"
#include "input/table_reader.h"
#include "input/tables.h"

namespace kelbow {

void EntropyClustering::loadAll(int rowLimit) {
  if (dataFile == nullptr || !descriptionFile.isOpen()) fatal("loadAll: the data or description file is not open\n");
  std::string err;
  // The description from its start, whoever read it before.
  const std::unique_ptr<ByteSource> description = descriptionFile.reader();
  NumberReader numbers(*description);
  TableDescription desc;
  if (!readTableSize(numbers, descriptionFileName, desc, err)) fatal(err + descriptionFile.swappedFilesHint());
  clusterCount = desc.rows;
  attributeCount = desc.attributeCount;
  if (rowLimit != 0) clusterCount = rowLimit;
  rowCount = clusterCount;
  std::printf("rows=%d cols = %d\n", clusterCount, attributeCount);

  for (int a = 0; a < attributeCount; ++a)
    if (!readDomainSize(numbers, descriptionFileName, a, desc, err)) fatal(err + descriptionFile.swappedFilesHint());
  if (!checkInformative(desc, descriptionFileName, err)) fatal(err + descriptionFile.swappedFilesHint());
  domainSizes = desc.domainSizes;
  weights = attributeWeights(domainSizes);

  std::vector<int> row(attributeCount);
  clusters.resize(clusterCount);
  gValueCount = 0;  // the first cluster below captures this table's context
  logTable = kelbow::logTable(clusterCount);

  RecordReader records(*dataFile, dataFileName, domainSizes);
  for (int i = 0; i < clusterCount; ++i) {
    switch (records.read(row.data(), err)) {
      case RecordReader::Result::kRecord:
        break;
      case RecordReader::Result::kEnd:
        fatal(shownName(dataFileName) + ": record " + std::to_string(i + 1) + " is missing; the file holds " +
              std::to_string(i) + " records, the description declares " + std::to_string(clusterCount) + "\n");
      case RecordReader::Result::kBad:
        fatal(err);
    }
    clusters[i] = std::make_unique<ClusterSummary>(attributeCount, desc.singleValuedCount, domainSizes.data(),
                                                   logTable.data());
    clusters[i]->initFromRow(row.data(), i);
  }
  if (rowLimit == 0 && !records.atEnd())
    fatal(shownName(dataFileName) + ": numbers left over after record " + std::to_string(clusterCount) +
          "; the description declares " + std::to_string(clusterCount) + " records\n");
  if (records.failed()) fatal(records.failureLine());
  gWeights = weights.data();

  dataFile.reset();
}

}  // namespace kelbow
