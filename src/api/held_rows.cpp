#include "api/held_rows.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "input/byte_source.h"
#include "input/table_reader.h"

namespace kelbow {

bool readCodeTable(const std::string& descPath, const std::string& dataPath,
                   std::unique_ptr<CodeTable>& table, std::string& err) {
  TableDescription desc;
  {
    const std::unique_ptr<ByteSource> in = openInput(descPath);
    if (in == nullptr) {
      err = descPath + ": cannot open again (" + std::strerror(errno) + ")";
      return false;
    }
    if (!readDescription(*in, descPath, desc, err)) return false;
  }
  const std::unique_ptr<ByteSource> data = openInput(dataPath);
  if (data == nullptr) {
    err = dataPath + ": cannot open again (" + std::strerror(errno) + ")";
    return false;
  }
  RecordReader records(*data, dataPath, desc.domainSizes);
  table = std::make_unique<CodeTable>(desc);
  std::vector<int> codes(desc.attributeCount);
  for (;;) {
    const RowSource::Result got = records.read(codes.data(), err);
    if (got == RowSource::Result::kBad) return false;
    if (got == RowSource::Result::kEnd) break;
    table->append(codes.data());
  }
  return true;
}

std::vector<int> numberBySize(const std::vector<int>& labels) {
  struct Cluster {
    long long size = 0;
    size_t firstRow = 0;
    int number = 0;
  };
  std::map<int, Cluster> clusters;
  for (size_t row = 0; row < labels.size(); ++row) {
    auto [it, fresh] = clusters.try_emplace(labels[row]);
    if (fresh) it->second.firstRow = row;
    ++it->second.size;
  }
  std::vector<Cluster*> order;
  for (auto& [label, c] : clusters) order.push_back(&c);
  std::sort(order.begin(), order.end(), [](const Cluster* a, const Cluster* b) {
    return a->size != b->size ? a->size > b->size : a->firstRow < b->firstRow;
  });
  for (size_t i = 0; i < order.size(); ++i) order[i]->number = static_cast<int>(i) + 1;
  std::vector<int> out(labels.size());
  for (size_t row = 0; row < labels.size(); ++row) out[row] = clusters[labels[row]].number;
  return out;
}

std::vector<int> refineCut(const HeldRows& rows, const std::vector<int>& domainSizes, int k,
                           const std::vector<int>& cut, int passes, std::string& what) {
  std::vector<int> labels(cut.size());
  for (size_t r = 0; r < cut.size(); ++r) labels[r] = cut[r] - 1;
  const RefineResult result = refine(rows, domainSizes, k, labels, passes);
  long long changed = 0;
  for (size_t r = 0; r < cut.size(); ++r) changed += labels[r] != cut[r] - 1;
  for (int& l : labels) ++l;
  labels = numberBySize(labels);
  const double n = static_cast<double>(cut.size());
  char line[256];
  std::snprintf(line, sizeof line,
                "refined: expected entropy %.6f -> %.6f, %lld moves in %d passes (%s); %lld rows "
                "in another cluster than at the cut",
                result.entropyBefore / n, result.entropyAfter / n, result.moved, result.passes,
                result.settled ? "settled" : "pass limit reached", changed);
  what = line;
  return labels;
}

}  // namespace kelbow
