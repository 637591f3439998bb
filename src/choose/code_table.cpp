#include "choose/code_table.h"

#include <algorithm>

namespace kelbow {

CodeTable::CodeTable(const TableDescription& desc, bool keepRows)
    : desc_(desc), keepRows_(keepRows) {
  desc_.rows = 0;
  if (!keepRows_)
    for (int d : desc.domainSizes) counts_.emplace_back(d, 0);
  narrow_ =
      std::all_of(desc.domainSizes.begin(), desc.domainSizes.end(), [](int d) { return d <= 256; });
}

void CodeTable::append(const int* codes) {
  const int a = desc_.attributeCount;
  if (!keepRows_)
    for (int i = 0; i < a; ++i) ++counts_[i][codes[i]];
  else if (narrow_)
    for (int i = 0; i < a; ++i) bytes_.push_back(static_cast<std::uint8_t>(codes[i]));
  else
    words_.insert(words_.end(), codes, codes + a);
  desc_.rows = ++rowCount_;
}

std::vector<std::vector<long long>> CodeTable::valueCounts() const {
  if (!keepRows_) return counts_;
  std::vector<std::vector<long long>> counts(attributeCount());
  for (int a = 0; a < attributeCount(); ++a) counts[a].assign(desc_.domainSizes[a], 0);
  for (int r = 0; r < rowCount_; ++r)
    for (int a = 0; a < attributeCount(); ++a) ++counts[a][code(r, a)];
  return counts;
}

RowSource::Result TableRows::read(int* codes, std::string& /*err*/) {
  if (next_ >= table_.rowCount()) return Result::kEnd;
  const int r = order_ != nullptr ? (*order_)[next_] : next_;
  ++next_;
  for (int a = 0; a < table_.attributeCount(); ++a) codes[a] = table_.code(r, a);
  return Result::kRecord;
}

}  // namespace kelbow
