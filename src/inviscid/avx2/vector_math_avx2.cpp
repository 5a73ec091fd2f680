// Four-lane logarithm and arc tangent kernels. This file alone is compiled
// for AVX2 and FMA; it is reached only through the run-time selection in
// vector_math.cpp, and it defines nothing but these two plain loops (no
// inline library code that could be shared with generic objects).
#include <immintrin.h>
#include <sleef.h>

#include <cstddef>

namespace velaro::vmath::avx2 {

void log_array(const double* in, double* out, std::size_t count) {
  std::size_t k = 0;
  for (; k + 4 <= count; k += 4) _mm256_storeu_pd(out + k, Sleef_logd4_u10avx2(_mm256_loadu_pd(in + k)));
  if (k < count) {
    alignas(32) double a[4] = {1.0, 1.0, 1.0, 1.0};
    for (std::size_t i = k; i < count; ++i) a[i - k] = in[i];
    _mm256_store_pd(a, Sleef_logd4_u10avx2(_mm256_load_pd(a)));
    for (std::size_t i = k; i < count; ++i) out[i] = a[i - k];
  }
}

void atan2_array(const double* y, const double* x, double* out, std::size_t count) {
  std::size_t k = 0;
  for (; k + 4 <= count; k += 4)
    _mm256_storeu_pd(out + k, Sleef_atan2d4_u10avx2(_mm256_loadu_pd(y + k), _mm256_loadu_pd(x + k)));
  if (k < count) {
    alignas(32) double a[4] = {0.0, 0.0, 0.0, 0.0};
    alignas(32) double b[4] = {1.0, 1.0, 1.0, 1.0};
    for (std::size_t i = k; i < count; ++i) {
      a[i - k] = y[i];
      b[i - k] = x[i];
    }
    _mm256_store_pd(a, Sleef_atan2d4_u10avx2(_mm256_load_pd(a), _mm256_load_pd(b)));
    for (std::size_t i = k; i < count; ++i) out[i] = a[i - k];
  }
}

}  // namespace velaro::vmath::avx2
