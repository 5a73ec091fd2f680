#include <gtest/gtest.h>

#include <Eigen/Dense>

#include <cmath>
#include <vector>

#include "inviscid/dense_lu.h"

using namespace velaro;

namespace {

// A well-conditioned but unsymmetric test matrix whose pivoting is not the
// identity: random entries, a moderate diagonal and one small leading entry.
Eigen::MatrixXd test_matrix(Eigen::Index n) {
  std::srand(7);
  Eigen::MatrixXd a = Eigen::MatrixXd::Random(n, n);
  a.diagonal().array() += 2.0;
  a(0, 0) = 1e-3;
  return a;
}

}  // namespace

// The generic build is Eigen's partial-pivot LU, unchanged: factors, pivots
// and solutions agree with Eigen::PartialPivLU to the bit (it is what the
// engine used before the kernels were split, and what runs without AVX2).
TEST(DenseLu, GenericKernelsAreEigensPartialPivotLu) {
  for (Eigen::Index n : {1, 2, 17, 161, 241}) {
    const Eigen::MatrixXd a = test_matrix(n);
    const Eigen::MatrixXd b = Eigen::MatrixXd::Random(n, n + 24);
    const Eigen::PartialPivLU<Eigen::MatrixXd> ref(a);
    Eigen::MatrixXd f = a;
    std::vector<int> perm(static_cast<std::size_t>(n));
    dense_lu_detail::factor_generic(f.data(), n, perm.data());
    EXPECT_EQ(f, ref.matrixLU()) << n;
    EXPECT_EQ(Eigen::Map<const Eigen::VectorXi>(perm.data(), n), ref.permutationP().indices()) << n;
    Eigen::MatrixXd x(n, b.cols());
    dense_lu_detail::solve_generic(f.data(), n, perm.data(), b.data(), x.data(), b.cols());
    EXPECT_EQ(x, ref.solve(b)) << n;
  }
}

// The AVX2 build (where the processor has it) computes the same
// factorisation with other rounding: the same pivots, and factors and
// solutions within a few hundred units in the last place of the generic ones
// for these well-conditioned matrices.
TEST(DenseLu, Avx2KernelsAgreeWithTheGenericOnes) {
  if (!dense_lu_detail::avx2_available()) GTEST_SKIP() << "no AVX2 on this processor";
  for (Eigen::Index n : {1, 2, 17, 161, 241}) {
    const Eigen::MatrixXd a = test_matrix(n);
    const Eigen::MatrixXd b = Eigen::MatrixXd::Random(n, n + 24);
    Eigen::MatrixXd fg = a, fw = a;
    std::vector<int> pg(static_cast<std::size_t>(n)), pw(static_cast<std::size_t>(n));
    dense_lu_detail::factor_generic(fg.data(), n, pg.data());
    dense_lu_detail::factor_avx2(fw.data(), n, pw.data());
    EXPECT_EQ(pg, pw) << n;
    EXPECT_LE((fg - fw).cwiseAbs().maxCoeff(), 1e-13 * fg.cwiseAbs().maxCoeff()) << n;
    Eigen::MatrixXd xg(n, b.cols()), xw(n, b.cols());
    dense_lu_detail::solve_generic(fg.data(), n, pg.data(), b.data(), xg.data(), b.cols());
    dense_lu_detail::solve_avx2(fw.data(), n, pw.data(), b.data(), xw.data(), b.cols());
    EXPECT_LE((xg - xw).cwiseAbs().maxCoeff(), 1e-12 * xg.cwiseAbs().maxCoeff()) << n;
    // And it solves the system.
    EXPECT_LE((a * xw - b).cwiseAbs().maxCoeff(), 1e-12 * b.cwiseAbs().maxCoeff() * static_cast<double>(n)) << n;
  }
}

TEST(DenseLu, SolvesThroughTheChosenKernels) {
  const Eigen::MatrixXd a = test_matrix(40);
  const Eigen::MatrixXd b = Eigen::MatrixXd::Random(40, 3);
  const DenseLu lu(a);
  EXPECT_EQ(lu.rows(), 40);
  const Eigen::MatrixXd x = lu.solve(b);
  EXPECT_LE((a * x - b).cwiseAbs().maxCoeff(), 1e-12);
  // A right-hand side of the wrong height gives no numbers.
  const Eigen::MatrixXd bad = lu.solve(Eigen::MatrixXd::Ones(39, 2));
  EXPECT_EQ(bad.rows(), 40);
  EXPECT_EQ(bad.cols(), 2);
  EXPECT_FALSE(bad.allFinite());
  // Empty factors solve nothing.
  EXPECT_EQ(DenseLu(Eigen::MatrixXd(0, 0)).solve(Eigen::MatrixXd(0, 2)).size(), 0);
}
