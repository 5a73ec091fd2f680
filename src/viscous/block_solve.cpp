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
#include <vector>

#include "viscous/newton_observer.h"
#include "viscous/vector_clones.h"

namespace velaro {

namespace {

// Reciprocal of a pivot; 0 for a tiny or non-finite pivot so that a singular
// line yields an inexact (but finite) solution instead of infinities.
double pivot_reciprocal(double d) {
  if (!std::isfinite(d) || std::fabs(d) < kBlockPivotFloor) return 0.0;
  return 1.0 / d;
}

// The two kernels below carry most of the elimination's arithmetic.
// dst[L] -= t * src[L] for L = from .. to.
VELARO_VECTOR_CLONES void axpy(double* __restrict dst, const double* __restrict src, double t, std::size_t from, std::size_t to) {
  for (std::size_t L = from; L <= to; ++L) dst[L] -= t * src[L];
}

// Four pending eliminations applied in one pass over dst, in their order:
// every entry sees exactly the subtractions of four separate axpy passes,
// in the same sequence, so the result is the same to the last bit.
VELARO_VECTOR_CLONES void axpy4(double* __restrict dst, const double* __restrict s0, const double* __restrict s1,
           const double* __restrict s2, const double* __restrict s3, const double* t, std::size_t from,
           std::size_t to) {
  const double t0 = t[0], t1 = t[1], t2 = t[2], t3 = t[3];
  for (std::size_t L = from; L <= to; ++L) {
    double x = dst[L];
    x -= t0 * s0[L];
    x -= t1 * s1[L];
    x -= t2 * s2[L];
    x -= t3 * s3[L];
    dst[L] = x;
  }
}

// The elimination of one system, working in place on the coefficient
// arrays it is given.
//
// The forward sweep is organised by target line (left-looking): before line
// kv is reduced, every earlier line's contribution is brought into it in the
// order a line-by-line elimination would apply it (the previous line through
// VB, the upper TE line through VZ, and the kept mass couplings of all lines
// in between). Kept mass couplings are collected and applied four at a time
// in one pass over the equation's row, so that the row is read and written
// once per four couplings rather than once per coupling; every coefficient
// still receives the same subtractions in the same order.
class Elimination {
 public:
  Elimination(const AssemblyState& a, const BlockSolveOptions& options, Block3* va, double* vm, SolveState& out)
      : a_(a),
        nsys_(a.nsys),
        width_(a.nsys + 1),
        thresholds_{options.vacc1, options.vacc2, options.vacc3},
        va_(va),
        vm_(vm),
        d1_(out.col1),
        d2_(out.col2) {
    std::copy_n(a.vdel1.begin(), width_, d1_.begin());
    std::copy_n(a.vdel2.begin(), width_, d2_.begin());
  }

  void forward_sweep() {
    for (std::size_t kv = 1; kv <= nsys_; ++kv) {
      if (kv >= 2)
        for (std::size_t k = 0; k < 3; ++k) gather_into(kv, k);
      reduce_line(kv);
    }
  }
  // Resolves the masses from the last line upward.
  void back_substitute(NewtonObserver* observer);

  EliminationView view() const { return {vm_, nsys_}; }

 private:
  // Equation k of line iv: its mass couplings are one contiguous row.
  double* row(std::size_t iv, std::size_t k) const { return vm_ + (iv * 3 + k) * width_; }
  void scale(double* r, double p, std::size_t from) const {
    for (std::size_t L = from; L <= nsys_; ++L) r[L] *= p;
  }

  // Reduces line iv to (d_first, d_theta, m) in terms of the later masses.
  void reduce_line(std::size_t iv);
  // Brings the contributions of all earlier lines into equation k of line kv.
  void gather_into(std::size_t kv, std::size_t k);

  const AssemblyState& a_;
  std::size_t nsys_;
  std::size_t width_;
  double thresholds_[3];
  Block3* va_;
  double* vm_;
  std::vector<Vec3>& d1_;
  std::vector<Vec3>& d2_;
};

VELARO_VECTOR_CLONES void Elimination::reduce_line(std::size_t iv) {
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
    axpy(row(iv, k), m1, t, iv, nsys_);
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
    axpy(m3, m2, t, iv, nsys_);
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
    axpy(m1, m3, t1, iv + 1, nsys_);
    axpy(m2, m3, t2, iv + 1, nsys_);
    r1[0] -= t1 * r1[2];
    r2[0] -= t1 * r2[2];
    r1[1] -= t2 * r1[2];
    r2[1] -= t2 * r2[2];
  }
  // 7. Remove the second unknown from equation 1.
  {
    const double t = A[0][1];
    axpy(m1, m2, t, iv + 1, nsys_);
    r1[0] -= t * r1[1];
    r2[0] -= t * r2[1];
  }
}

VELARO_VECTOR_CLONES void Elimination::gather_into(std::size_t kv, std::size_t k) {
  double* __restrict dst = row(kv, k);
  // The equation's right-hand sides, kept in registers until the end.
  const Vec3* const r1 = d1_.data();
  const Vec3* const r2 = d2_.data();
  double b1 = r1[kv][k];
  double b2 = r2[kv][k];
  const double threshold = thresholds_[k];
  // Kept mass couplings of earlier lines that have reached the columns up to
  // the current one but not yet those beyond it.
  const double* src[4];
  double t[4];
  std::size_t pending = 0;
  // Column iv receives the pending couplings, so that the coefficient read
  // there is current.
  auto bring_column = [&](std::size_t iv) {
    if (pending == 0) return;
    double x = dst[iv];
    for (std::size_t j = 0; j < pending; ++j) x -= t[j] * src[j][iv];
    dst[iv] = x;
  };
  // The pending couplings reach the columns after iv.
  auto flush = [&](std::size_t iv) {
    if (pending == 4) {
      axpy4(dst, src[0], src[1], src[2], src[3], t, iv + 1, nsys_);
    } else {
      for (std::size_t j = 0; j < pending; ++j) axpy(dst, src[j], t[j], iv + 1, nsys_);
    }
    pending = 0;
  };
  // The mass of lines from .. to-1 in this equation, dropped when weak.
  auto mass_couplings = [&](std::size_t from, std::size_t to) {
    for (std::size_t iv = from; iv < to; ++iv) {
      if (pending == 0) {
        // Nothing pending: skip the dropped couplings without touching the
        // rows they would have been taken from.
        while (iv < to && !(std::fabs(dst[iv]) > threshold)) ++iv;
        if (iv == to) return;
      } else {
        bring_column(iv);
        if (!(std::fabs(dst[iv]) > threshold)) continue;
      }
      const double c = dst[iv];
      b1 -= c * r1[iv][2];
      b2 -= c * r2[iv][2];
      src[pending] = row(iv, 2);
      t[pending] = c;
      if (++pending == 4) flush(iv);
    }
  };
  // The first wake line also couples to the first two unknowns of the upper
  // TE line.
  auto junction = [&](std::size_t iv) {
    const double* m1 = row(iv, 0);
    const double* m2 = row(iv, 1);
    const double t1 = a_.vz[k][0];
    const double t2 = a_.vz[k][1];
    for (std::size_t L = iv + 1; L <= nsys_; ++L) dst[L] -= t1 * m1[L] + t2 * m2[L];
    b1 -= t1 * r1[iv][0] + t2 * r1[iv][1];
    b2 -= t1 * r2[iv][0] + t2 * r2[iv][1];
  };

  const std::size_t te = a_.ivte1;
  const bool has_junction = kv == a_.ivz && te >= 1 && te < kv;
  std::size_t from = 1;
  if (has_junction && te + 1 < kv) {
    mass_couplings(1, te);
    bring_column(te);
    flush(te);
    junction(te);
    from = te;
  }
  mass_couplings(from, kv - 1);
  // The coupling to the previous line's three unknowns.
  const std::size_t iv = kv - 1;
  bring_column(iv);
  flush(iv);
  {
    const double* m1 = row(iv, 0);
    const double* m2 = row(iv, 1);
    const double* m3 = row(iv, 2);
    const Block3& B = a_.vb[kv];
    const double t1 = B[k][0];
    const double t2 = B[k][1];
    const double t3 = dst[iv];
    for (std::size_t L = iv + 1; L <= nsys_; ++L) dst[L] -= t1 * m1[L] + t2 * m2[L] + t3 * m3[L];
    b1 -= t1 * r1[iv][0] + t2 * r1[iv][1] + t3 * r1[iv][2];
    b2 -= t1 * r2[iv][0] + t2 * r2[iv][1] + t3 * r2[iv][2];
  }
  if (has_junction && te + 1 == kv) junction(te);
  d1_[kv][k] = b1;
  d2_[kv][k] = b2;
}

VELARO_VECTOR_CLONES void Elimination::back_substitute(NewtonObserver* observer) {
  // Line by line from the bottom: each equation subtracts the masses of all
  // later lines, from the last one upward (the order of a column-by-column
  // substitution), while its row is read front to back in memory.
  if (nsys_ < 2) return;
  std::vector<double> dm1(width_, 0.0), dm2(width_, 0.0);
  dm1[nsys_] = d1_[nsys_][2];
  dm2[nsys_] = d2_[nsys_][2];
  if (observer) observer->mass_back_substituted(nsys_, view(), dm1[nsys_]);
  for (std::size_t kv = nsys_ - 1; kv >= 1; --kv) {
    const double* c0 = row(kv, 0);
    const double* c1 = row(kv, 1);
    const double* c2 = row(kv, 2);
    double a0 = d1_[kv][0], a1 = d1_[kv][1], a2 = d1_[kv][2];
    double e0 = d2_[kv][0], e1 = d2_[kv][1], e2 = d2_[kv][2];
    for (std::size_t iv = nsys_; iv > kv; --iv) {
      const double x1 = dm1[iv];
      const double x2 = dm2[iv];
      a0 -= c0[iv] * x1;
      e0 -= c0[iv] * x2;
      a1 -= c1[iv] * x1;
      e1 -= c1[iv] * x2;
      a2 -= c2[iv] * x1;
      e2 -= c2[iv] * x2;
    }
    d1_[kv] = {a0, a1, a2};
    d2_[kv] = {e0, e1, e2};
    dm1[kv] = a2;
    dm2[kv] = e2;
    if (observer && kv >= 2) observer->mass_back_substituted(kv, view(), a2);
  }
}

bool consistent(const AssemblyState& a) {
  const std::size_t width = a.nsys + 1;
  return a.nsys >= 2 && a.va.size() >= width && a.vb.size() >= width && a.vdel1.size() >= width &&
         a.vdel2.size() >= width && a.vm.size() >= width * width * 3;
}

void run(const AssemblyState& a, const BlockSolveOptions& options, Block3* va, double* vm, SolveState& out,
         NewtonObserver* observer) {
  Elimination elimination(a, options, va, vm, out);
  elimination.forward_sweep();
  if (observer) observer->forward_sweep_done(elimination.view());
  elimination.back_substitute(observer);
  if (observer) observer->elimination_done(out.col1);
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
  // Refuse inconsistent arrays rather than read past their ends.
  if (!consistent(a)) return out;
  const std::size_t width = nsys + 1;
  std::vector<Block3> va(a.va.begin(), a.va.begin() + static_cast<std::ptrdiff_t>(width));
  std::vector<double> vm(a.vm.begin(), a.vm.begin() + static_cast<std::ptrdiff_t>(width * width * 3));
  run(a, options, va.data(), vm.data(), out, observer);
  return out;
}

void block_solve_in_place(AssemblyState& a, SolveState& out, NewtonObserver* observer) {
  const std::size_t width = a.nsys + 1;
  out.col1.assign(width, Vec3{});
  out.col2.assign(width, Vec3{});
  if (!consistent(a)) return;
  run(a, BlockSolveOptions::for_span(a.span), a.va.data(), a.vm.data(), out, observer);
}

}  // namespace velaro
