// The attribute context that the loaders publish and the entropy code reads:
// one set per thread, valid while one loaded analysis object exists on that
// thread, so that runs on several threads never see each other's tables.
#pragma once

namespace kelbow {

extern thread_local constinit int gAttributeCount;  // number of attributes A
extern thread_local constinit int gValueCount;      // number of value slots; 0 = context not set
extern thread_local constinit const int* gDomainSizes;  // A domain sizes
extern thread_local constinit const float* gLogTable;   // log2 k by row count k
extern thread_local constinit const float* gWeights;    // 1 / log2 d per attribute, 0 when d = 1

// Clears all five values of this thread, so the next cluster summary captures a fresh context.
void resetAttributeContext();

// The five values of one thread, so that a helper thread working for the same
// run reads the same tables: captured on the run's thread, installed on the helper.
struct AttributeContext {
  int attributeCount = 0;
  int valueCount = 0;
  const int* domainSizes = nullptr;
  const float* logTable = nullptr;
  const float* weights = nullptr;
};
AttributeContext currentAttributeContext();
void installAttributeContext(const AttributeContext& context);

}  // namespace kelbow
