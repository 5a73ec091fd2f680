#include "inviscid/dense_lu.h"

#include <limits>
#include <utility>

#include "inviscid/vector_math.h"

extern "C" {
void velaro_dense_lu_factor_avx2(double* a, long n, int* perm);
void velaro_dense_lu_solve_avx2(const double* lu, long n, const int* perm, const double* b, double* x, long nrhs);
}

namespace velaro {

namespace dense_lu_detail {

namespace generic {
#include "inviscid/dense_lu_kernels.h"
}  // namespace generic

void factor_generic(double* a, long n, int* perm) { generic::lu_factor_kernel(a, n, perm); }
void solve_generic(const double* lu, long n, const int* perm, const double* b, double* x, long nrhs) {
  generic::lu_solve_kernel(lu, n, perm, b, x, nrhs);
}
bool avx2_available() { return vmath::wide_kernels(); }
void factor_avx2(double* a, long n, int* perm) { velaro_dense_lu_factor_avx2(a, n, perm); }
void solve_avx2(const double* lu, long n, const int* perm, const double* b, double* x, long nrhs) {
  velaro_dense_lu_solve_avx2(lu, n, perm, b, x, nrhs);
}

}  // namespace dense_lu_detail

void DenseLu::compute(Eigen::MatrixXd a) {
  lu_ = std::move(a);
  const long n = lu_.rows();
  perm_.assign(static_cast<std::size_t>(n), 0);
  if (n == 0 || lu_.cols() != n) return;
  if (dense_lu_detail::avx2_available())
    dense_lu_detail::factor_avx2(lu_.data(), n, perm_.data());
  else
    dense_lu_detail::factor_generic(lu_.data(), n, perm_.data());
}

Eigen::MatrixXd DenseLu::solve(const Eigen::MatrixXd& rhs) const {
  Eigen::MatrixXd x;
  solve_into(rhs, x);
  return x;
}

void DenseLu::solve_into(const Eigen::MatrixXd& rhs, Eigen::MatrixXd& x) const {
  const long n = lu_.rows();
  // A right-hand side of the wrong height has no solution: NaN throughout,
  // which every caller's finiteness check refuses.
  if (rhs.rows() != n) {
    x.setConstant(n, rhs.cols(), std::numeric_limits<double>::quiet_NaN());
    return;
  }
  x.resize(n, rhs.cols());
  if (n == 0 || rhs.cols() == 0) return;
  if (dense_lu_detail::avx2_available())
    dense_lu_detail::solve_avx2(lu_.data(), n, perm_.data(), rhs.data(), x.data(), rhs.cols());
  else
    dense_lu_detail::solve_generic(lu_.data(), n, perm_.data(), rhs.data(), x.data(), rhs.cols());
}

}  // namespace velaro
