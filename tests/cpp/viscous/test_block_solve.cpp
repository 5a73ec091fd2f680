#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <limits>
#include <random>

#include "geometry/naca.h"
#include "viscous/assembly.h"
#include "viscous/block_solve.h"
#include "viscous/driver.h"
#include "viscous/setup.h"

using namespace velaro;

namespace {

// Random system with the shape of an assembled one: two sides of lines, VB
// zero on the first line of each side, a junction from the first wake line
// back to the upper TE line, dense mass columns. The diagonal blocks dominate
// so that the elimination without pivoting across lines is well conditioned.
AssemblyState random_system(std::size_t n_upper, std::size_t n_lower, std::size_t wake_from, unsigned seed,
                            double coupling = 0.1) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  AssemblyState a;
  a.resize(n_upper + n_lower);
  a.lower_offset = n_upper;
  a.ivte1 = n_upper;
  a.ivz = n_upper + wake_from;
  for (std::size_t iv = 1; iv <= a.nsys; ++iv) {
    for (int k = 0; k < 3; ++k) {
      a.va[iv][k][0] = (k == 0 ? 2.0 : 0.0) + 0.3 * u(gen);
      a.va[iv][k][1] = (k == 1 ? 2.0 : 0.0) + 0.3 * u(gen);
      const bool first_of_side = iv == 1 || iv == n_upper + 1;
      if (!first_of_side) {
        a.vb[iv][k][0] = 0.5 * u(gen);
        a.vb[iv][k][1] = 0.5 * u(gen);
      }
      for (std::size_t L = 1; L <= a.nsys; ++L) a.vm_at(iv, L, k) = coupling * u(gen);
      a.vm_at(iv, iv, k) += (k == 2 ? 3.0 : 0.0);
      a.vdel1[iv][k] = u(gen);
      a.vdel2[iv][k] = u(gen);
    }
  }
  for (int k = 0; k < 3; ++k) {
    a.vz[k][0] = 0.5 * u(gen);
    a.vz[k][1] = 0.5 * u(gen);
  }
  return a;
}

// Dense matrix of the same system; unknown (iv, c) is column 3 (iv - 1) + c.
Eigen::MatrixXd dense_matrix(const AssemblyState& a) {
  const Eigen::Index n = static_cast<Eigen::Index>(3 * a.nsys);
  Eigen::MatrixXd m = Eigen::MatrixXd::Zero(n, n);
  auto col = [](std::size_t iv, int c) { return static_cast<Eigen::Index>(3 * (iv - 1) + c); };
  for (std::size_t iv = 1; iv <= a.nsys; ++iv) {
    for (int k = 0; k < 3; ++k) {
      const Eigen::Index r = col(iv, k);
      m(r, col(iv, 0)) += a.va[iv][k][0];
      m(r, col(iv, 1)) += a.va[iv][k][1];
      if (iv > 1) {
        m(r, col(iv - 1, 0)) += a.vb[iv][k][0];
        m(r, col(iv - 1, 1)) += a.vb[iv][k][1];
      }
      if (iv == a.ivz) {
        m(r, col(a.ivte1, 0)) += a.vz[k][0];
        m(r, col(a.ivte1, 1)) += a.vz[k][1];
      }
      for (std::size_t L = 1; L <= a.nsys; ++L) m(r, col(L, 2)) += a.vm_at(iv, L, k);
    }
  }
  return m;
}

Eigen::VectorXd dense_rhs(const AssemblyState& a, int column) {
  Eigen::VectorXd r(static_cast<Eigen::Index>(3 * a.nsys));
  for (std::size_t iv = 1; iv <= a.nsys; ++iv)
    for (int k = 0; k < 3; ++k)
      r(static_cast<Eigen::Index>(3 * (iv - 1) + k)) = column == 1 ? a.vdel1[iv][k] : a.vdel2[iv][k];
  return r;
}

void expect_matches_dense(const AssemblyState& a, const SolveState& s, double tol) {
  const Eigen::MatrixXd m = dense_matrix(a);
  Eigen::PartialPivLU<Eigen::MatrixXd> lu(m);
  const Eigen::VectorXd x1 = lu.solve(dense_rhs(a, 1));
  const Eigen::VectorXd x2 = lu.solve(dense_rhs(a, 2));
  for (std::size_t iv = 1; iv <= a.nsys; ++iv)
    for (int k = 0; k < 3; ++k) {
      const Eigen::Index r = static_cast<Eigen::Index>(3 * (iv - 1) + k);
      EXPECT_NEAR(s.col1[iv][k], x1(r), tol) << "line " << iv << " component " << k;
      EXPECT_NEAR(s.col2[iv][k], x2(r), tol) << "line " << iv << " component " << k;
    }
}

}  // namespace

TEST(BlockSolve, ReproducesDenseLuWithoutDrop) {
  // The elimination is exact when no coupling is dropped: it must agree with
  // a pivoted dense LU of the same system to rounding (the systems are
  // well conditioned, so 1e-11 absolute is many orders above rounding and
  // far below any algebraic slip).
  for (unsigned seed = 1; seed <= 6; ++seed) {
    const AssemblyState a = random_system(7 + seed, 9 + 2 * seed, 4, seed);
    expect_matches_dense(a, block_solve(a, BlockSolveOptions::exact()), 1e-11);
  }
}

TEST(BlockSolve, ReproducesDenseLuWithStrongCouplings) {
  // Couplings of order one exercise every elimination path (all above the
  // thresholds, so the default drop changes nothing essential either).
  const AssemblyState a = random_system(12, 15, 6, 42, 0.6);
  expect_matches_dense(a, block_solve(a, BlockSolveOptions::exact()), 1e-10);
}

TEST(BlockSolve, ReproducesDenseLuWhenTheWakeStartsRightAfterTheUpperTe) {
  // The first wake line directly after the upper TE line receives the TE
  // coupling (VZ) and the previous-line coupling (VB) from the same line;
  // the elimination must apply both.
  const AssemblyState a = random_system(9, 11, 1, 17, 0.3);
  ASSERT_EQ(a.ivz, a.ivte1 + 1);
  expect_matches_dense(a, block_solve(a, BlockSolveOptions::exact()), 1e-10);
}

TEST(BlockSolve, InPlaceEliminationGivesTheSameSolutionToTheBit) {
  // The driver eliminates its system in place, into a reused solution; with
  // the default drop of weak couplings (some kept, some dropped) it must
  // reproduce the copying elimination exactly.
  SolveState reused;
  for (unsigned seed = 1; seed <= 3; ++seed) {
    const AssemblyState a = random_system(20 - 4 * seed, 25, 6, seed, 0.05);
    const SolveState s = block_solve(a);
    AssemblyState b = a;
    block_solve_in_place(b, reused);
    ASSERT_EQ(reused.col1.size(), s.col1.size());
    for (std::size_t iv = 0; iv <= a.nsys; ++iv) {
      EXPECT_EQ(reused.col1[iv], s.col1[iv]) << "line " << iv;
      EXPECT_EQ(reused.col2[iv], s.col2[iv]) << "line " << iv;
    }
  }
}

TEST(BlockSolve, DefaultThresholdsFollowSpan) {
  const auto o = BlockSolveOptions::for_span(1.0);
  EXPECT_EQ(o.vacc1, 0.01);
  EXPECT_EQ(o.vacc2, 0.02);
  EXPECT_EQ(o.vacc3, 0.02);
  const auto o4 = BlockSolveOptions::for_span(4.0);
  EXPECT_EQ(o4.vacc1, 0.01);
  EXPECT_DOUBLE_EQ(o4.vacc2, 0.005);
  EXPECT_EQ(BlockSolveOptions::for_span(0.25).vacc3, 0.02);  // span below 1 counts as 1
}

TEST(BlockSolve, WeakCouplingIsDropped) {
  // Line 3 couples weakly (0.005 < VACC1) to the mass of line 1 in its first
  // equation. The default elimination drops that coupling at the first sweep
  // step, so its result equals the exact solution of the system without it.
  AssemblyState a = random_system(2, 3, 10, 7, 0.0);  // no junction inside the system
  a.ivz = 99;
  a.vm_at(3, 1, 0) = 0.005;
  a.vm_at(4, 1, 1) = 0.5;  // a strong coupling is kept
  const SolveState dropped = block_solve(a);
  AssemblyState b = a;
  b.vm_at(3, 1, 0) = 0.0;
  expect_matches_dense(b, dropped, 1e-12);
  // And it differs from the exact solution of the full system.
  const SolveState exact = block_solve(a, BlockSolveOptions::exact());
  double diff = 0.0;
  for (std::size_t iv = 1; iv <= a.nsys; ++iv)
    for (int k = 0; k < 3; ++k) diff = std::max(diff, std::fabs(exact.col1[iv][k] - dropped.col1[iv][k]));
  EXPECT_GT(diff, 1e-6);
}

TEST(BlockSolve, FewerThanTwoLinesGivesZeroSolution) {
  AssemblyState a;
  a.resize(1);
  a.va[1] = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 0}}};
  a.vm_at(1, 1, 2) = 1.0;
  a.vdel1[1] = {1.0, 2.0, 3.0};
  const SolveState s = block_solve(a);
  ASSERT_EQ(s.col1.size(), 2u);
  for (const auto& v : s.col1)
    for (double c : v) EXPECT_EQ(c, 0.0);
  AssemblyState empty;
  empty.resize(0);
  EXPECT_EQ(block_solve(empty).col1.size(), 1u);
}

TEST(BlockSolve, TinyOrNonFinitePivotGivesZeroReciprocal) {
  // A first-column pivot of 1e-30 (below 1e-25) and a NaN mass pivot: both
  // reciprocals are 0, so the solution stays finite instead of blowing up.
  AssemblyState a = random_system(3, 3, 2, 3);
  a.va[2][0][0] = 1e-30;
  a.va[2][1][0] = 0.0;
  a.va[2][2][0] = 0.0;
  a.vm_at(4, 4, 2) = std::numeric_limits<double>::quiet_NaN();
  const SolveState s = block_solve(a, BlockSolveOptions::exact());
  for (std::size_t iv = 1; iv <= a.nsys; ++iv)
    for (int k = 0; k < 3; ++k) {
      EXPECT_TRUE(std::isfinite(s.col1[iv][k])) << iv << " " << k;
      EXPECT_TRUE(std::isfinite(s.col2[iv][k])) << iv << " " << k;
    }
  // The tiny pivot zeroes the normalised first equation of line 2 before the
  // mass terms are removed: its first change is what the later masses leave.
  AssemblyState b;
  b.resize(2);
  b.ivz = 99;
  b.va[1] = {{{1e-26, 0, 0}, {0, 1, 0}, {0, 0, 0}}};
  b.va[2] = {{{1, 0, 0}, {0, 1, 0}, {0, 0, 0}}};
  b.vm_at(1, 1, 2) = 1.0;
  b.vm_at(2, 2, 2) = 1.0;
  b.vdel1[1] = {5.0, 2.0, 3.0};
  b.vdel1[2] = {1.0, 1.0, 1.0};
  const SolveState t = block_solve(b, BlockSolveOptions::exact());
  EXPECT_EQ(t.col1[1][0], 0.0);
  EXPECT_DOUBLE_EQ(t.col1[1][1], 2.0);
  EXPECT_DOUBLE_EQ(t.col1[1][2], 3.0);
}

TEST(BlockSolve, InconsistentArraysAreRefused) {
  AssemblyState a = random_system(3, 3, 2, 5);
  a.vm.resize(10);  // shorter than the line count requires
  const SolveState s = block_solve(a);
  ASSERT_EQ(s.col1.size(), a.nsys + 1);
  for (const auto& v : s.col1)
    for (double c : v) EXPECT_EQ(c, 0.0);
}

TEST(BlockSolve, ReproducesDenseLuOnAnAssembledAirfoilSystem) {
  // The system assemble_newton_system assembles for NACA 2412 at 4 degrees, Re = 1e6, after
  // one Newton iteration: with no coupling dropped the elimination is an
  // exact solve. The tolerance is relative to the largest solution component
  // (the system is far less well scaled than the random ones: mass
  // couplings of order 1e3 next to unit junction entries), 1e-8 of it.
  ViscousConfig cfg;
  cfg.reynolds = 1e6;
  cfg.max_iterations = 1;
  auto setup = build_state_from_coords("naca2412", generate_naca4(2412, 61), cfg, 4.0);
  ASSERT_TRUE(setup.has_value());
  ASSERT_TRUE(solve_operating_point_from_state(setup->state, setup->system, cfg).has_value());
  const AssemblyState a = assemble_newton_system(setup->state, 2, cfg.reynolds, cfg.ncrit, 0.0);
  ASSERT_GT(a.nsys, 100u);
  ASSERT_LE(a.ivz, a.nsys);
  const SolveState s = block_solve(a, BlockSolveOptions::exact());
  const Eigen::MatrixXd m = dense_matrix(a);
  Eigen::PartialPivLU<Eigen::MatrixXd> lu(m);
  const Eigen::VectorXd x1 = lu.solve(dense_rhs(a, 1));
  const double scale = x1.cwiseAbs().maxCoeff();
  for (std::size_t iv = 1; iv <= a.nsys; ++iv)
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(s.col1[iv][k], x1(static_cast<Eigen::Index>(3 * (iv - 1) + k)), 1e-8 * scale)
          << "line " << iv << " component " << k;
  // The default drop of weak couplings changes the step only slightly.
  const SolveState d = block_solve(a);
  double diff = 0.0;
  for (std::size_t iv = 1; iv <= a.nsys; ++iv)
    for (int k = 0; k < 3; ++k) diff = std::max(diff, std::fabs(d.col1[iv][k] - s.col1[iv][k]));
  EXPECT_LT(diff, 0.05 * scale);
}
