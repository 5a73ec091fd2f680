// The dense LU kernels built for AVX2 and FMA. This object is linked with
// every symbol but the two entry points below made local, so that the Eigen
// code instantiated here never stands in for the generic build's.
#include "inviscid/dense_lu_kernels.h"

extern "C" {

void velaro_dense_lu_factor_avx2(double* a, long n, int* perm) { lu_factor_kernel(a, n, perm); }

void velaro_dense_lu_solve_avx2(const double* lu, long n, const int* perm, const double* b, double* x, long nrhs) {
  lu_solve_kernel(lu, n, perm, b, x, nrhs);
}

}  // extern "C"
