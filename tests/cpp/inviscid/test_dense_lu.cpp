#include <gtest/gtest.h>

#include <Eigen/Dense>

#include <algorithm>
#include <cmath>
#include <utility>
#include <cstdint>
#include <vector>

#include "geometry/naca.h"
#include "inviscid/dense_lu.h"
#include "inviscid/factored_system.h"
#include "inviscid/panel_geometry.h"

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

TEST(DenseLu, KernelsGiveTheSameNumbersWhereverTheBuffersLie) {
  // Vector kernels group their partial sums by where a column starts within
  // a register, so the same system placed at another address could round
  // differently, and a repeated analysis would not repeat its numbers. Both
  // builds must give the same factors and solutions at every offset of the
  // buffers within a cache line.
  // A random matrix and the panel system of a NACA 0012 (59 nodes, the
  // size where a repeated analysis was seen to change its last digits).
  auto geometry = AirfoilGeometry::from_points(generate_naca4(12, 30));
  ASSERT_TRUE(geometry.has_value());
  const AirfoilSystemMatrix panel = assemble_airfoil_system(*geometry, std::nullopt);
  struct Case {
    Eigen::MatrixXd a, b;
  };
  const std::vector<Case> cases{{test_matrix(17), Eigen::MatrixXd::Random(17, 1)},
                                {test_matrix(161), Eigen::MatrixXd::Random(161, 24)},
                                {panel.a, panel.rhs}};
  for (const Case& c : cases) {
    const Eigen::MatrixXd& a = c.a;
    const Eigen::MatrixXd& b = c.b;
    const Eigen::Index n = a.rows();
    const Eigen::Index nrhs = b.cols();
    const auto nn = static_cast<std::size_t>(n * n), nb = static_cast<std::size_t>(n * b.cols());
    for (const bool wide : {false, true}) {
      if (wide && !dense_lu_detail::avx2_available()) continue;
      std::vector<double> first_f, first_x;
      for (std::size_t shift = 0; shift < 8; ++shift) {
        SCOPED_TRACE(::testing::Message() << "n " << n << " rhs " << nrhs << " wide " << wide << " shift " << shift);
        // Buffers offset by `shift` doubles from a 64-byte boundary.
        std::vector<double> store(nn + nb + nb + 64);
        double* base = store.data();
        while (reinterpret_cast<std::uintptr_t>(base) % 64 != 0) ++base;
        double* f = base + shift;
        double* rhs = f + nn;
        double* x = rhs + nb;
        std::copy_n(a.data(), nn, f);
        std::copy_n(b.data(), nb, rhs);
        std::vector<int> perm(static_cast<std::size_t>(n));
        if (wide) {
          dense_lu_detail::factor_avx2(f, n, perm.data());
          dense_lu_detail::solve_avx2(f, n, perm.data(), rhs, x, b.cols());
        } else {
          dense_lu_detail::factor_generic(f, n, perm.data());
          dense_lu_detail::solve_generic(f, n, perm.data(), rhs, x, b.cols());
        }
        const std::vector<double> ff(f, f + nn), xx(x, x + nb);
        if (shift == 0) {
          first_f = ff;
          first_x = xx;
          continue;
        }
        // Generic: 16-byte registers, and every buffer the engine hands it
        // starts on a 16-byte boundary (even shifts).
        if (!wide && shift % 2 != 0) continue;
        EXPECT_EQ(ff, first_f);
        EXPECT_EQ(xx, first_x);
      }
    }
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
