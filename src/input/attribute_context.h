// The attribute context that the loaders publish and the entropy code reads:
// one set per process, valid while one loaded analysis object exists.
#pragma once

namespace kelbow {

extern int gAttributeCount;          // number of attributes A
extern int gValueCount;              // number of value slots; 0 = context not set
extern const int* gDomainSizes;      // A domain sizes
extern const float* gLogTable;       // log2 k by row count k
extern const float* gWeights;        // 1 / log2 d per attribute, 0 when d = 1

// Clears all five values, so the next cluster summary captures a fresh context.
void resetAttributeContext();

}  // namespace kelbow
