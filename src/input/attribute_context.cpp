#include "input/attribute_context.h"

namespace kelbow {

thread_local constinit int gAttributeCount = 0;
thread_local constinit int gValueCount = 0;
thread_local constinit const int* gDomainSizes = nullptr;
thread_local constinit const float* gLogTable = nullptr;
thread_local constinit const float* gWeights = nullptr;

void resetAttributeContext() {
  gAttributeCount = 0;
  gValueCount = 0;
  gDomainSizes = nullptr;
  gLogTable = nullptr;
  gWeights = nullptr;
}

AttributeContext currentAttributeContext() {
  return {gAttributeCount, gValueCount, gDomainSizes, gLogTable, gWeights};
}

void installAttributeContext(const AttributeContext& context) {
  gAttributeCount = context.attributeCount;
  gValueCount = context.valueCount;
  gDomainSizes = context.domainSizes;
  gLogTable = context.logTable;
  gWeights = context.weights;
}

}  // namespace kelbow
