#pragma once
// Natural logarithm and two-argument arc tangent over arrays, evaluated in
// SIMD registers by SLEEF (the 1.0-ulp variants: every result is within one
// unit in the last place of the correctly rounded value, the accuracy of the
// C library's scalar functions). The widest kernel the processor supports is
// chosen once at run time: four lanes with AVX2 and FMA, else two lanes with
// SSE2, which every x86-64 processor has.
#include <cstddef>

namespace velaro::vmath {

// out[k] = log(in[k]) for k < count. out may alias in.
void log_array(const double* in, double* out, std::size_t count);

// out[k] = atan2(y[k], x[k]) for k < count. out may alias y or x.
void atan2_array(const double* y, const double* x, double* out, std::size_t count);

// The name of the kernel set in use ("avx2" or "sse2"), for reports.
const char* kernel_name();

// Whether the four-lane AVX2 kernels are in use (other AVX2 loops of the
// library follow the same choice).
bool wide_kernels();

}  // namespace velaro::vmath
