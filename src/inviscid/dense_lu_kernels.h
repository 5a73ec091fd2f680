#pragma once
// The partial-pivot LU factorisation and solve behind DenseLu, written once
// and compiled twice: for generic x86-64 (dense_lu.cpp) and for AVX2 with
// FMA (avx2/dense_lu_avx2.cpp). Raw column-major buffers only cross between
// the two builds, so that no Eigen object or allocation compiled for one
// instruction set is used by code compiled for the other. Include only from
// those two files, inside their own namespace.
#include <Eigen/Dense>

// a: n x n, factored in place into L (unit lower, below the diagonal) and U;
// perm: the n indices of the row permutation P with P A = L U.
inline void lu_factor_kernel(double* a, long n, int* perm) {
  Eigen::Map<Eigen::MatrixXd> m(a, n, n);
  const Eigen::PartialPivLU<Eigen::Ref<Eigen::MatrixXd>> lu(m);
  Eigen::Map<Eigen::VectorXi>(perm, n) = lu.permutationP().indices();
}

// x = A^-1 b for the factors of lu_factor_kernel; b and x: n x nrhs.
inline void lu_solve_kernel(const double* lu, long n, const int* perm, const double* b, double* x, long nrhs) {
  const Eigen::Map<const Eigen::MatrixXd> f(lu, n, n);
  const Eigen::Map<const Eigen::MatrixXd> rhs(b, n, nrhs);
  Eigen::Map<Eigen::MatrixXd> dst(x, n, nrhs);
  const Eigen::PermutationMatrix<Eigen::Dynamic, Eigen::Dynamic, int> p(Eigen::Map<const Eigen::VectorXi>(perm, n));
  // The steps of Eigen's PartialPivLU::solve.
  dst = p * rhs;
  f.triangularView<Eigen::UnitLower>().solveInPlace(dst);
  f.triangularView<Eigen::Upper>().solveInPlace(dst);
}
