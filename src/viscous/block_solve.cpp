// Block elimination of the global Newton system.
//
// The boundary-layer part is block-bidiagonal (VA on the diagonal, VB one
// line below, VZ from the first wake line back to the upper TE line) and every
// line couples densely to all mass unknowns through VM. The forward sweep
// turns each line into (d_first, d_theta, m) expressed through the masses of
// the later lines; the back substitution then resolves the masses from the
// last line upward. Couplings of lower lines at or below the VACC thresholds
// are dropped during the sweep, as the method prescribes.
#include "viscous/block_solve.h"

#include <algorithm>
#include <cmath>

#include "viscous/newton_observer.h"

namespace velaro {

namespace {

// Reciprocal of a pivot; 0 for a tiny or non-finite pivot so that a singular
// line yields an inexact (but finite) solution instead of infinities.
double pivot_reciprocal(double d) {
  if (!std::isfinite(d) || std::fabs(d) < kBlockPivotFloor) return 0.0;
  return 1.0 / d;
}

}  // namespace

BlockSolveOptions BlockSolveOptions::for_span(double span) {
  const double s = std::isfinite(span) ? std::max(span, 1.0) : 1.0;
  return {0.01, 0.02 / s, 0.02 / s};
}

SolveState block_solve(const AssemblyState& a, NewtonObserver* observer) {
  return block_solve(a, BlockSolveOptions::for_span(a.span), observer);
}

SolveState block_solve(const AssemblyState& a, const BlockSolveOptions& options, NewtonObserver* observer) {
  const std::size_t nsys = a.nsys;
  SolveState out;
  out.col1.assign(nsys + 1, Vec3{});
  out.col2.assign(nsys + 1, Vec3{});
  const std::size_t width = nsys + 1;
  // Refuse inconsistent arrays rather than read past their ends.
  if (nsys < 2 || a.va.size() < width || a.vb.size() < width || a.vdel1.size() < width ||
      a.vdel2.size() < width || a.vm.size() < width * width * 3)
    return out;

  std::vector<Block3> va(a.va.begin(), a.va.begin() + static_cast<std::ptrdiff_t>(width));
  std::vector<double> vm(a.vm.begin(), a.vm.begin() + static_cast<std::ptrdiff_t>(width * width * 3));
  std::vector<Vec3>& d1 = out.col1;
  std::vector<Vec3>& d2 = out.col2;
  std::copy_n(a.vdel1.begin(), width, d1.begin());
  std::copy_n(a.vdel2.begin(), width, d2.begin());

  // Equation k of line iv: its mass couplings are one contiguous row.
  auto row = [&](std::size_t iv, std::size_t k) { return vm.data() + (iv * 3 + k) * width; };
  // dst[L] -= t * src[L] for L = from .. nsys.
  auto axpy = [&](double* __restrict dst, const double* __restrict src, double t, std::size_t from) {
    for (std::size_t L = from; L <= nsys; ++L) dst[L] -= t * src[L];
  };
  auto scale = [&](double* r, double p, std::size_t from) {
    for (std::size_t L = from; L <= nsys; ++L) r[L] *= p;
  };

  for (std::size_t iv = 1; iv <= nsys; ++iv) {
    Block3& A = va[iv];
    double* m1 = row(iv, 0);
    double* m2 = row(iv, 1);
    double* m3 = row(iv, 2);
    Vec3& r1 = d1[iv];
    Vec3& r2 = d2[iv];

    // 1. Normalise the first equation on the first unknown.
    double p = pivot_reciprocal(A[0][0]);
    A[0][1] *= p;
    scale(m1, p, iv);
    r1[0] *= p;
    r2[0] *= p;
    // 2. Remove the first unknown from equations 2 and 3.
    for (std::size_t k = 1; k < 3; ++k) {
      const double t = A[k][0];
      A[k][1] -= t * A[0][1];
      axpy(row(iv, k), m1, t, iv);
      r1[k] -= t * r1[0];
      r2[k] -= t * r2[0];
    }
    // 3. Normalise the second equation on the second unknown.
    p = pivot_reciprocal(A[1][1]);
    scale(m2, p, iv);
    r1[1] *= p;
    r2[1] *= p;
    // 4. Remove the second unknown from equation 3.
    {
      const double t = A[2][1];
      axpy(m3, m2, t, iv);
      r1[2] -= t * r1[1];
      r2[2] -= t * r2[1];
    }
    // 5. Normalise the third equation on the line's own mass.
    p = pivot_reciprocal(m3[iv]);
    scale(m3, p, iv + 1);
    r1[2] *= p;
    r2[2] *= p;
    // 6. Remove the own mass from equations 1 and 2.
    {
      const double t1 = m1[iv];
      const double t2 = m2[iv];
      axpy(m1, m3, t1, iv + 1);
      axpy(m2, m3, t2, iv + 1);
      r1[0] -= t1 * r1[2];
      r2[0] -= t1 * r2[2];
      r1[1] -= t2 * r1[2];
      r2[1] -= t2 * r2[2];
    }
    // 7. Remove the second unknown from equation 1.
    {
      const double t = A[0][1];
      axpy(m1, m2, t, iv + 1);
      r1[0] -= t * r1[1];
      r2[0] -= t * r2[1];
    }
    // 8.
    if (iv == nsys) break;

    // 9. Eliminate the coupling of the next line to this line's unknowns.
    {
      const std::size_t nx = iv + 1;
      const Block3& B = a.vb[nx];
      for (std::size_t k = 0; k < 3; ++k) {
        const double t1 = B[k][0];
        const double t2 = B[k][1];
        double* __restrict dst = row(nx, k);
        const double t3 = dst[iv];
        for (std::size_t L = iv + 1; L <= nsys; ++L) dst[L] -= t1 * m1[L] + t2 * m2[L] + t3 * m3[L];
        d1[nx][k] -= t1 * r1[0] + t2 * r1[1] + t3 * r1[2];
        d2[nx][k] -= t1 * r2[0] + t2 * r2[1] + t3 * r2[2];
      }
    }
    // 10. The first wake line also couples to the upper TE line.
    if (iv == a.ivte1 && a.ivz <= nsys && a.ivz > iv) {
      const std::size_t z = a.ivz;
      for (std::size_t k = 0; k < 3; ++k) {
        const double t1 = a.vz[k][0];
        const double t2 = a.vz[k][1];
        double* __restrict dst = row(z, k);
        for (std::size_t L = iv + 1; L <= nsys; ++L) dst[L] -= t1 * m1[L] + t2 * m2[L];
        d1[z][k] -= t1 * r1[0] + t2 * r1[1];
        d2[z][k] -= t1 * r2[0] + t2 * r2[1];
      }
    }
    // 11. Remove this line's mass from the later lines, dropping weak
    // couplings.
    if (iv + 1 < nsys) {
      const double thresholds[3] = {options.vacc1, options.vacc2, options.vacc3};
      for (std::size_t kv = iv + 2; kv <= nsys; ++kv) {
        for (std::size_t k = 0; k < 3; ++k) {
          double* dst = row(kv, k);
          const double t = dst[iv];
          if (!(std::fabs(t) > thresholds[k])) continue;
          axpy(dst, m3, t, iv + 1);
          d1[kv][k] -= t * r1[2];
          d2[kv][k] -= t * r2[2];
        }
      }
    }
  }

  const EliminationView view{vm.data(), nsys};
  if (observer) observer->forward_sweep_done(view);

  // Back substitution of the masses, last line first.
  for (std::size_t iv = nsys; iv >= 2; --iv) {
    const double dm1 = d1[iv][2];
    const double dm2 = d2[iv][2];
    for (std::size_t kv = iv - 1; kv >= 1; --kv) {
      for (std::size_t k = 0; k < 3; ++k) {
        const double c = row(kv, k)[iv];
        d1[kv][k] -= c * dm1;
        d2[kv][k] -= c * dm2;
      }
    }
    if (observer) observer->mass_back_substituted(iv, view, dm1);
  }
  if (observer) observer->elimination_done(d1);
  return out;
}

}  // namespace velaro
