#include "common/vector_isa.h"

namespace kelbow {

namespace {

bool processorHasAvx2() {
#if KELBOW_HAS_WIDE_BUILD
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
#else
  return false;
#endif
}

bool& wideFlag() {
  static bool wide = processorHasAvx2();
  return wide;
}

}  // namespace

bool wideVectors() { return wideFlag(); }

void setWideVectors(bool enabled) { wideFlag() = enabled && processorHasAvx2(); }

}  // namespace kelbow
