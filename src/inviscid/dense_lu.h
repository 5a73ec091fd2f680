#pragma once
// Partial-pivot LU factors of a dense square matrix (Eigen's algorithm) and
// their solves. The arithmetic runs in a build for AVX2 with FMA when the
// processor has both (the choice of the vector math kernels), else in the
// generic build; the two round differently in the last bits.
#include <Eigen/Dense>

#include <utility>
#include <vector>

namespace velaro {

class DenseLu {
 public:
  DenseLu() = default;
  explicit DenseLu(Eigen::MatrixXd a) { compute(std::move(a)); }

  // Factors `a` (square), replacing any earlier factors.
  void compute(Eigen::MatrixXd a);
  // L below the diagonal (unit diagonal implied), U on and above it.
  const Eigen::MatrixXd& matrixLU() const { return lu_; }
  // Hands the factors' storage to a caller that reuses it (compute() of a
  // later matrix of the same size); no factors are left.
  Eigen::MatrixXd release() {
    perm_.clear();
    return std::move(lu_);
  }
  Eigen::Index rows() const { return lu_.rows(); }
  // A^-1 rhs, for any number of columns of rhs (rows() rows).
  Eigen::MatrixXd solve(const Eigen::MatrixXd& rhs) const;
  // The same into `x` (resized to rows() x rhs.cols(); its storage is kept
  // when the size does not change).
  void solve_into(const Eigen::MatrixXd& rhs, Eigen::MatrixXd& x) const;

 private:
  Eigen::MatrixXd lu_;
  std::vector<int> perm_;
};

namespace dense_lu_detail {
// The two builds of the kernels, for the tests: the generic one always
// runs; the AVX2 one only where avx2_available().
void factor_generic(double* a, long n, int* perm);
void solve_generic(const double* lu, long n, const int* perm, const double* b, double* x, long nrhs);
bool avx2_available();
void factor_avx2(double* a, long n, int* perm);
void solve_avx2(const double* lu, long n, const int* perm, const double* b, double* x, long nrhs);
}  // namespace dense_lu_detail

}  // namespace velaro
