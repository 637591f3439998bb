// The vector kernels of the entry passes and of the merge loop come in two
// builds: one for AVX2 and one for the base instruction set of the target. Both
// do the same IEEE operations in the same order on each lane, so they give the
// same bits; the wide build runs where the processor has AVX2.
#pragma once

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KELBOW_HAS_WIDE_BUILD 1
#define KELBOW_WIDE_BUILD __attribute__((target("avx2")))
#else
#define KELBOW_HAS_WIDE_BUILD 0
#define KELBOW_WIDE_BUILD
#endif

namespace kelbow {

// True when the AVX2 builds of the kernels run.
bool wideVectors();

// Test hook: false makes every kernel take its base build, as on a processor
// without AVX2; true returns to the wide build where the processor has it.
void setWideVectors(bool enabled);

}  // namespace kelbow
