#include "input/attribute_context.h"

namespace kelbow {

int gAttributeCount = 0;
int gValueCount = 0;
const int* gDomainSizes = nullptr;
const float* gLogTable = nullptr;
const float* gWeights = nullptr;

void resetAttributeContext() {
  gAttributeCount = 0;
  gValueCount = 0;
  gDomainSizes = nullptr;
  gLogTable = nullptr;
  gWeights = nullptr;
}

}  // namespace kelbow
