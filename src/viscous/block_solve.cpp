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

// The elimination's working copies of the system and its right-hand sides.
class Elimination {
 public:
  Elimination(const AssemblyState& a, const BlockSolveOptions& options, SolveState& out)
      : a_(a),
        options_(options),
        nsys_(a.nsys),
        width_(a.nsys + 1),
        va_(a.va.begin(), a.va.begin() + static_cast<std::ptrdiff_t>(width_)),
        vm_(a.vm.begin(), a.vm.begin() + static_cast<std::ptrdiff_t>(width_ * width_ * 3)),
        d1_(out.col1),
        d2_(out.col2) {
    std::copy_n(a.vdel1.begin(), width_, d1_.begin());
    std::copy_n(a.vdel2.begin(), width_, d2_.begin());
  }

  // Reduces line iv to (d_first, d_theta, m) in terms of the later masses.
  void reduce_line(std::size_t iv);
  // Removes line iv's unknowns from the later lines coupled to it.
  void eliminate_from_later_lines(std::size_t iv);
  // Resolves the masses from the last line upward.
  void back_substitute(NewtonObserver* observer);

  EliminationView view() const { return {vm_.data(), nsys_}; }

 private:
  // Equation k of line iv: its mass couplings are one contiguous row.
  double* row(std::size_t iv, std::size_t k) { return vm_.data() + (iv * 3 + k) * width_; }
  // dst[L] -= t * src[L] for L = from .. nsys.
  void axpy(double* __restrict dst, const double* __restrict src, double t, std::size_t from) const {
    for (std::size_t L = from; L <= nsys_; ++L) dst[L] -= t * src[L];
  }
  void scale(double* r, double p, std::size_t from) const {
    for (std::size_t L = from; L <= nsys_; ++L) r[L] *= p;
  }

  const AssemblyState& a_;
  const BlockSolveOptions& options_;
  std::size_t nsys_;
  std::size_t width_;
  std::vector<Block3> va_;
  std::vector<double> vm_;
  std::vector<Vec3>& d1_;
  std::vector<Vec3>& d2_;
};

void Elimination::reduce_line(std::size_t iv) {
  Block3& A = va_[iv];
  double* m1 = row(iv, 0);
  double* m2 = row(iv, 1);
  double* m3 = row(iv, 2);
  Vec3& r1 = d1_[iv];
  Vec3& r2 = d2_[iv];

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
}

void Elimination::eliminate_from_later_lines(std::size_t iv) {
  const double* m1 = row(iv, 0);
  const double* m2 = row(iv, 1);
  const double* m3 = row(iv, 2);
  const Vec3& r1 = d1_[iv];
  const Vec3& r2 = d2_[iv];
  // The coupling of the next line to this line's unknowns.
  {
    const std::size_t nx = iv + 1;
    const Block3& B = a_.vb[nx];
    for (std::size_t k = 0; k < 3; ++k) {
      const double t1 = B[k][0];
      const double t2 = B[k][1];
      double* __restrict dst = row(nx, k);
      const double t3 = dst[iv];
      for (std::size_t L = iv + 1; L <= nsys_; ++L) dst[L] -= t1 * m1[L] + t2 * m2[L] + t3 * m3[L];
      d1_[nx][k] -= t1 * r1[0] + t2 * r1[1] + t3 * r1[2];
      d2_[nx][k] -= t1 * r2[0] + t2 * r2[1] + t3 * r2[2];
    }
  }
  // The first wake line also couples to the upper TE line.
  if (iv == a_.ivte1 && a_.ivz <= nsys_ && a_.ivz > iv) {
    const std::size_t z = a_.ivz;
    for (std::size_t k = 0; k < 3; ++k) {
      const double t1 = a_.vz[k][0];
      const double t2 = a_.vz[k][1];
      double* __restrict dst = row(z, k);
      for (std::size_t L = iv + 1; L <= nsys_; ++L) dst[L] -= t1 * m1[L] + t2 * m2[L];
      d1_[z][k] -= t1 * r1[0] + t2 * r1[1];
      d2_[z][k] -= t1 * r2[0] + t2 * r2[1];
    }
  }
  // This line's mass in the later lines, dropping weak couplings.
  if (iv + 1 < nsys_) {
    const double thresholds[3] = {options_.vacc1, options_.vacc2, options_.vacc3};
    for (std::size_t kv = iv + 2; kv <= nsys_; ++kv) {
      for (std::size_t k = 0; k < 3; ++k) {
        double* dst = row(kv, k);
        const double t = dst[iv];
        if (!(std::fabs(t) > thresholds[k])) continue;
        axpy(dst, m3, t, iv + 1);
        d1_[kv][k] -= t * r1[2];
        d2_[kv][k] -= t * r2[2];
      }
    }
  }
}

void Elimination::back_substitute(NewtonObserver* observer) {
  const EliminationView v = view();
  for (std::size_t iv = nsys_; iv >= 2; --iv) {
    const double dm1 = d1_[iv][2];
    const double dm2 = d2_[iv][2];
    for (std::size_t kv = iv - 1; kv >= 1; --kv) {
      for (std::size_t k = 0; k < 3; ++k) {
        const double c = row(kv, k)[iv];
        d1_[kv][k] -= c * dm1;
        d2_[kv][k] -= c * dm2;
      }
    }
    if (observer) observer->mass_back_substituted(iv, v, dm1);
  }
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

  Elimination elimination(a, options, out);
  for (std::size_t iv = 1; iv <= nsys; ++iv) {
    elimination.reduce_line(iv);
    if (iv == nsys) break;
    elimination.eliminate_from_later_lines(iv);
  }
  if (observer) observer->forward_sweep_done(elimination.view());
  elimination.back_substitute(observer);
  if (observer) observer->elimination_done(out.col1);
  return out;
}

}  // namespace velaro
