// Four panels at a time of the vortex and source rows (vortex_row and
// source_row in panel_kernels.h), in AVX2 registers. The operations are those of the scalar loop, one lane
// per panel, in the same order and without fused multiply-adds (the file is
// compiled with contraction off), so each lane rounds exactly as the scalar
// code does. Like vector_math_avx2.cpp it holds nothing but these loops and
// is reached only through the run-time selection.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace velaro::avx2 {

namespace {

constexpr double kOneOver4Pi = 0.07957747154594767;
constexpr double kOneOver2Pi = 0.15915494309189535;
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kTwoPi = 6.283185307179586;
constexpr double kSingularSq = 1e-20;

inline __m256d add(__m256d a, __m256d b) { return _mm256_add_pd(a, b); }
inline __m256d sub(__m256d a, __m256d b) { return _mm256_sub_pd(a, b); }
inline __m256d mul(__m256d a, __m256d b) { return _mm256_mul_pd(a, b); }

// end_angle with branch 0: raw - 2 pi floor((raw - centre) / 2 pi + 1/2),
// centre = pi/2 with the sign of x.
inline __m256d end_angle(__m256d phi, __m256d theta, __m256d x) {
  const __m256d sign = _mm256_set1_pd(-0.0);
  const __m256d raw = sub(add(_mm256_set1_pd(kHalfPi), phi), theta);
  const __m256d centre = _mm256_or_pd(_mm256_and_pd(x, sign), _mm256_set1_pd(kHalfPi));
  const __m256d turns =
      _mm256_floor_pd(add(mul(sub(raw, centre), _mm256_set1_pd(kOneOver2Pi)), _mm256_set1_pd(0.5)));
  return sub(raw, mul(_mm256_set1_pd(kTwoPi), turns));
}

inline __m256d neg(__m256d a) { return _mm256_xor_pd(a, _mm256_set1_pd(-0.0)); }

// Lanes whose byte in live[j..j+3] is non-zero, as an all-ones mask.
inline __m256d live_mask(const unsigned char* live) {
  std::uint32_t bytes;
  __builtin_memcpy(&bytes, live, 4);
  const __m256i live64 = _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(static_cast<int>(bytes)));
  return _mm256_castsi256_pd(
      _mm256_xor_si256(_mm256_cmpeq_epi64(live64, _mm256_setzero_si256()), _mm256_set1_epi64x(-1)));
}

// Whether the end nodes j..j+3 (+ shift) enter: not the field node io and
// farther than kSingularSq.
inline __m256d use_mask(std::size_t j, std::size_t shift, std::size_t io, __m256d rs) {
  const long long jj = static_cast<long long>(j + shift);
  const __m256i idx = _mm256_set_epi64x(jj + 3, jj + 2, jj + 1, jj);
  const __m256d self = _mm256_castsi256_pd(_mm256_cmpeq_epi64(idx, _mm256_set1_epi64x(static_cast<long long>(io))));
  return _mm256_andnot_pd(self, _mm256_cmp_pd(rs, _mm256_set1_pd(kSingularSq), _CMP_GT_OQ));
}

// Panels j..j+3's end terms seen from the field node io, as panel_ends in
// panel_kernels.cpp: tangential coordinates x1, x2 of the end nodes, the
// normal one yy, the squared distances, and log(r^2) and the angle at each
// end, zero where use_mask excludes the node.
struct Ends {
  __m256d x1, x2, yy, rs1, rs2, g1, g2, t1, t2;
};
inline Ends panel_ends(std::size_t j, const double* sx_, const double* sy_, const double* phi_, const double* rx,
                       const double* ry, const double* rs, const double* lg, const double* th, std::size_t io) {
  const __m256d sx = _mm256_loadu_pd(sx_ + j);
  const __m256d sy = _mm256_loadu_pd(sy_ + j);
  const __m256d rxa = _mm256_loadu_pd(rx + j), rxb = _mm256_loadu_pd(rx + j + 1);
  const __m256d rya = _mm256_loadu_pd(ry + j), ryb = _mm256_loadu_pd(ry + j + 1);
  Ends e;
  e.x1 = add(mul(sx, rxa), mul(sy, rya));
  e.x2 = add(mul(sx, rxb), mul(sy, ryb));
  e.yy = sub(mul(sx, rya), mul(sy, rxa));
  e.rs1 = _mm256_loadu_pd(rs + j);
  e.rs2 = _mm256_loadu_pd(rs + j + 1);
  const __m256d use1 = use_mask(j, 0, io, e.rs1);
  const __m256d use2 = use_mask(j, 1, io, e.rs2);
  const __m256d phi = _mm256_loadu_pd(phi_ + j);
  e.g1 = _mm256_and_pd(use1, _mm256_loadu_pd(lg + j));
  e.g2 = _mm256_and_pd(use2, _mm256_loadu_pd(lg + j + 1));
  e.t1 = _mm256_and_pd(use1, end_angle(phi, _mm256_loadu_pd(th + j), e.x1));
  e.t2 = _mm256_and_pd(use2, end_angle(phi, _mm256_loadu_pd(th + j + 1), e.x2));
  return e;
}

// 1 / d, or 0 where |d| <= kSingularSq.
inline __m256d guarded_reciprocal(__m256d d) {
  const __m256d abs_mask = _mm256_castsi256_pd(_mm256_set1_epi64x(0x7fffffffffffffffLL));
  const __m256d small = _mm256_cmp_pd(_mm256_and_pd(d, abs_mask), _mm256_set1_pd(kSingularSq), _CMP_LE_OQ);
  return _mm256_andnot_pd(small, _mm256_div_pd(_mm256_set1_pd(1.0), d));
}

// source_half_panel without velocity: psum and pdif.
struct Half {
  __m256d psum, pdif;
};
inline Half half_panel(__m256d xa, __m256d xb, __m256d yy, __m256d ga, __m256d gb, __m256d ta, __m256d tb,
                       __m256d rsa, __m256d rsb, __m256d apan, __m256d dxinv) {
  const __m256d half = _mm256_set1_pd(0.5);
  const __m256d tam = sub(ta, apan), tbm = sub(tb, apan);
  const __m256d psum = add(sub(mul(xb, tbm), mul(xa, tam)), mul(mul(half, yy), sub(ga, gb)));
  const __m256d pdif =
      mul(add(sub(add(mul(add(xa, xb), psum), mul(rsa, tam)), mul(rsb, tbm)), mul(sub(xb, xa), yy)), dxinv);
  return {psum, pdif};
}

}  // namespace

// Panels [0, count4) of source_row, count4 a multiple of 4; the arrays as
// there, out[0..5] the six contribution arrays in their order.
void source_row_wide(std::size_t count4, const double* const* in, const unsigned char* live, std::size_t io,
                     double* const* out) {
  const double *sx_ = in[0], *sy_ = in[1], *phi_ = in[2], *rx = in[3], *ry = in[4], *rs = in[5], *lg = in[6],
               *th = in[7], *rs0v = in[8], *g0v = in[9], *t0v = in[10], *apanv = in[11], *dsiov = in[12],
               *dsimv = in[13], *dsipv = in[14];
  const __m256d zero = _mm256_setzero_pd();
  const __m256d half = _mm256_set1_pd(0.5);
  const __m256d k4 = _mm256_set1_pd(kOneOver4Pi);
  for (std::size_t j = 0; j < count4; j += 4) {
    const auto [x1, x2, yy, rs1, rs2, g1, g2, t1, t2] = panel_ends(j, sx_, sy_, phi_, rx, ry, rs, lg, th, io);
    const __m256d x0 = mul(add(x1, x2), half);
    const __m256d rs0 = _mm256_loadu_pd(rs0v + j);
    const __m256d g0 = _mm256_and_pd(_mm256_cmp_pd(rs0, zero, _CMP_GT_OQ), _mm256_loadu_pd(g0v + j));
    const __m256d t0 = add(_mm256_loadu_pd(t0v + j), zero);
    const __m256d apan = _mm256_loadu_pd(apanv + j);
    const __m256d dsio = _mm256_loadu_pd(dsiov + j);
    const __m256d dsim = _mm256_loadu_pd(dsimv + j);
    const __m256d dsip = _mm256_loadu_pd(dsipv + j);
    const Half h1 = half_panel(x1, x0, yy, g1, g0, t1, t0, rs1, rs0, apan, guarded_reciprocal(sub(x1, x0)));
    const Half h2 = half_panel(x0, x2, yy, g0, g2, t0, t2, rs0, rs2, apan, guarded_reciprocal(sub(x0, x2)));
    const __m256d keep = live_mask(live + j);
    const __m256d c_jm = mul(mul(k4, sub(h1.pdif, h1.psum)), dsim);
    const __m256d c_j1 = mul(mul(k4, sub(neg(h1.psum), h1.pdif)), dsio);
    const __m256d c_jp1 = mul(k4, add(mul(h1.psum, add(dsio, dsim)), mul(h1.pdif, sub(dsio, dsim))));
    const __m256d c_j2 = mul(k4, sub(mul(neg(h2.psum), add(dsip, dsio)), mul(h2.pdif, sub(dsip, dsio))));
    const __m256d c_jp2 = mul(mul(k4, sub(h2.psum, h2.pdif)), dsio);
    const __m256d c_jq = mul(mul(k4, add(h2.psum, h2.pdif)), dsip);
    _mm256_storeu_pd(out[0] + j, _mm256_and_pd(keep, c_jm));
    _mm256_storeu_pd(out[1] + j, _mm256_and_pd(keep, c_j1));
    _mm256_storeu_pd(out[2] + j, _mm256_and_pd(keep, c_jp1));
    _mm256_storeu_pd(out[3] + j, _mm256_and_pd(keep, c_j2));
    _mm256_storeu_pd(out[4] + j, _mm256_and_pd(keep, c_jp2));
    _mm256_storeu_pd(out[5] + j, _mm256_and_pd(keep, c_jq));
  }
}

// Panels [0, count4) with count4 a multiple of 4; see vortex_row.
void vortex_row_wide(std::size_t count4, const double* sx_, const double* sy_, const double* phi_,
                     const unsigned char* live, const double* rx, const double* ry, const double* rs,
                     const double* lg, const double* th, std::size_t io, bool guarded, double* lo, double* hi) {
  const __m256d half = _mm256_set1_pd(0.5);
  const __m256d k4 = _mm256_set1_pd(kOneOver4Pi);
  for (std::size_t j = 0; j < count4; j += 4) {
    const auto [x1, x2, yy, rs1, rs2, g1, g2, t1, t2] = panel_ends(j, sx_, sy_, phi_, rx, ry, rs, lg, th, io);
    // psis = 0.5 x1 g1 - 0.5 x2 g2 + x2 - x1 + yy (t1 - t2), left to right.
    const __m256d psis =
        add(sub(add(sub(mul(mul(half, x1), g1), mul(mul(half, x2), g2)), x2), x1), mul(yy, sub(t1, t2)));
    // num = (x1 + x2) psis + 0.5 (rs2 g2 - rs1 g1 + x1 x1 - x2 x2).
    const __m256d inner = sub(add(sub(mul(rs2, g2), mul(rs1, g1)), mul(x1, x1)), mul(x2, x2));
    const __m256d num = add(mul(add(x1, x2), psis), mul(half, inner));
    const __m256d d = sub(x1, x2);
    const __m256d psid = guarded ? mul(num, guarded_reciprocal(d)) : _mm256_div_pd(num, d);
    const __m256d keep = live_mask(live + j);
    _mm256_storeu_pd(lo + j, _mm256_and_pd(keep, mul(k4, sub(psis, psid))));
    _mm256_storeu_pd(hi + j, _mm256_and_pd(keep, mul(k4, add(psis, psid))));
  }
}

}  // namespace velaro::avx2
