// The dense LU kernels built for AVX2 and FMA. This object is linked with
// every symbol but the two entry points below made local, so that the Eigen
// code instantiated here never stands in for the generic build's.
//
// Eigen's kernels peel the leading elements of a column up to the first
// whole register (32 bytes here) and sum the rest by registers, so where
// the data starts within a register decides how partial sums are grouped,
// and with it the rounding. The caller's buffers are only 16-byte aligned,
// and where they land changes from call to call; the kernels therefore work
// on copies aligned to 64 bytes whenever a buffer is not, so that the same
// system always gives the same numbers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "inviscid/dense_lu_kernels.h"

namespace {

constexpr std::size_t kAlign = 64;
// Largest copy a thread keeps for the next call (4 MiB: a 700-node system);
// larger ones are freed after use.
constexpr std::size_t kKeptValues = std::size_t{1} << 19;

bool aligned(const double* p) { return reinterpret_cast<std::uintptr_t>(p) % kAlign == 0; }

// A buffer of doubles aligned to kAlign, kept by each thread and grown as
// needed.
class AlignedBuffer {
 public:
  double* get(std::size_t count) {
    if (count > capacity_) {
      const std::size_t bytes = (count * sizeof(double) + kAlign - 1) / kAlign * kAlign;
      data_.reset(static_cast<double*>(std::aligned_alloc(kAlign, bytes)));
      capacity_ = data_ ? count : 0;
    }
    return data_.get();
  }
  // Frees a buffer too large to keep.
  void trim() {
    if (capacity_ > kKeptValues) {
      data_.reset();
      capacity_ = 0;
    }
  }

 private:
  struct Free {
    void operator()(double* p) const { std::free(p); }
  };
  std::unique_ptr<double, Free> data_;
  std::size_t capacity_ = 0;
};

thread_local AlignedBuffer factors_copy, rhs_copy, solution_copy;

// `p` itself when aligned, else a copy of its `count` values in `buffer`
// (nullptr if that cannot be allocated).
const double* aligned_input(const double* p, std::size_t count, AlignedBuffer& buffer) {
  if (aligned(p)) return p;
  double* copy = buffer.get(count);
  if (copy) std::memcpy(copy, p, count * sizeof(double));
  return copy;
}

}  // namespace

extern "C" {

void velaro_dense_lu_factor_avx2(double* a, long n, int* perm) {
  if (aligned(a) || n <= 0) {
    lu_factor_kernel(a, n, perm);
    return;
  }
  const std::size_t count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  double* work = factors_copy.get(count);
  if (!work) {
    lu_factor_kernel(a, n, perm);
    return;
  }
  std::memcpy(work, a, count * sizeof(double));
  lu_factor_kernel(work, n, perm);
  std::memcpy(a, work, count * sizeof(double));
  factors_copy.trim();
}

void velaro_dense_lu_solve_avx2(const double* lu, long n, const int* perm, const double* b, double* x, long nrhs) {
  if (n <= 0 || nrhs <= 0 || (aligned(lu) && aligned(b) && aligned(x))) {
    lu_solve_kernel(lu, n, perm, b, x, nrhs);
    return;
  }
  const std::size_t nn = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
  const std::size_t nb = static_cast<std::size_t>(n) * static_cast<std::size_t>(nrhs);
  const double* f = aligned_input(lu, nn, factors_copy);
  const double* r = aligned_input(b, nb, rhs_copy);
  double* out = aligned(x) ? x : solution_copy.get(nb);
  if (!f || !r || !out) {
    lu_solve_kernel(lu, n, perm, b, x, nrhs);
    return;
  }
  lu_solve_kernel(f, n, perm, r, out, nrhs);
  if (out != x) std::memcpy(x, out, nb * sizeof(double));
  for (AlignedBuffer* buffer : {&factors_copy, &rhs_copy, &solution_copy}) buffer->trim();
}

}  // extern "C"
