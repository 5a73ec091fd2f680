#pragma once
// Dense 4x4 solve used by the station Newton iterations of the boundary-layer
// marches.
#include <array>

namespace velaro {

using Matrix4 = std::array<std::array<double, 4>, 4>;
using Vector4 = std::array<double, 4>;

// Pivot magnitude below which an elimination step is skipped and the
// matching solution component is set to zero.
inline constexpr double kGauss4PivotFloor = 1e-30;

// Solves a * x = b in place by Gaussian elimination with partial pivoting
// (largest magnitude in the column; rows are exchanged together with their
// right-hand sides). On return b holds x and a is destroyed. A pivot smaller
// than kGauss4PivotFloor in magnitude (or not a number) skips its elimination
// step and yields a zero component in back substitution, so the routine never
// divides by zero.
void gauss_4x4(Matrix4& a, Vector4& b);

}  // namespace velaro
