#include "inviscid/vector_math.h"

#include <emmintrin.h>
#include <sleef.h>

namespace velaro::vmath {

// The four-lane kernels, compiled for AVX2 and FMA in their own file and
// called only when the processor has both.
namespace avx2 {
void log_array(const double* in, double* out, std::size_t count);
void atan2_array(const double* y, const double* x, double* out, std::size_t count);
}  // namespace avx2

namespace {

void log_sse2(const double* in, double* out, std::size_t count) {
  std::size_t k = 0;
  for (; k + 2 <= count; k += 2) _mm_storeu_pd(out + k, Sleef_logd2_u10sse2(_mm_loadu_pd(in + k)));
  if (k < count) {
    const __m128d v = Sleef_logd2_u10sse2(_mm_set_pd(1.0, in[k]));
    out[k] = _mm_cvtsd_f64(v);
  }
}

void atan2_sse2(const double* y, const double* x, double* out, std::size_t count) {
  std::size_t k = 0;
  for (; k + 2 <= count; k += 2)
    _mm_storeu_pd(out + k, Sleef_atan2d2_u10sse2(_mm_loadu_pd(y + k), _mm_loadu_pd(x + k)));
  if (k < count) {
    const __m128d v = Sleef_atan2d2_u10sse2(_mm_set_pd(0.0, y[k]), _mm_set_pd(1.0, x[k]));
    out[k] = _mm_cvtsd_f64(v);
  }
}

struct Kernels {
  void (*log)(const double*, double*, std::size_t);
  void (*atan2)(const double*, const double*, double*, std::size_t);
  const char* name;
};

Kernels select() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
    return {&avx2::log_array, &avx2::atan2_array, "avx2"};
  return {&log_sse2, &atan2_sse2, "sse2"};
}

const Kernels& kernels() {
  static const Kernels k = select();
  return k;
}

}  // namespace

void log_array(const double* in, double* out, std::size_t count) { kernels().log(in, out, count); }

void atan2_array(const double* y, const double* x, double* out, std::size_t count) {
  kernels().atan2(y, x, out, count);
}

const char* kernel_name() { return kernels().name; }

bool wide_kernels() { return kernels().log == &avx2::log_array; }

}  // namespace velaro::vmath
