#pragma once
// Marks a numerical kernel to be built for AVX2 as well as for plain x86-64,
// the version chosen when the library is loaded (GCC's target_clones). Only
// the vector width changes: the build keeps multiplications and additions
// separate (no fused multiply-add), so both versions give the same results
// to the bit. Elsewhere the kernel is built once.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define VELARO_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define VELARO_VECTOR_CLONES
#endif
