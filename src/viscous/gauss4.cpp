#include "viscous/gauss4.h"

#include <cmath>
#include <utility>

namespace velaro {

namespace {

// True for a usable pivot; NaN compares false and is treated as unusable.
bool usable_pivot(double p) { return std::fabs(p) >= kGauss4PivotFloor; }

}  // namespace

void gauss_4x4(Matrix4& a, Vector4& b) {
  constexpr int n = 4;
  for (int k = 0; k < n; ++k) {
    int piv = k;
    double best = std::fabs(a[k][k]);
    for (int i = k + 1; i < n; ++i) {
      const double v = std::fabs(a[i][k]);
      if (v > best) {
        best = v;
        piv = i;
      }
    }
    if (piv != k) {
      std::swap(a[piv], a[k]);
      std::swap(b[piv], b[k]);
    }
    const double pivot = a[k][k];
    if (!usable_pivot(pivot)) continue;
    for (int i = k + 1; i < n; ++i) {
      const double f = a[i][k] / pivot;
      if (f == 0.0) continue;
      for (int j = k; j < n; ++j) a[i][j] -= f * a[k][j];
      b[i] -= f * b[k];
    }
  }
  for (int k = n - 1; k >= 0; --k) {
    if (!usable_pivot(a[k][k])) {
      b[k] = 0.0;
      continue;
    }
    double s = b[k];
    for (int j = k + 1; j < n; ++j) s -= a[k][j] * b[j];
    b[k] = s / a[k][k];
  }
}

}  // namespace velaro
