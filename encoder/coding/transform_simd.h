// The 16-byte block kernels, included by transform_sse2.cpp and transform_ssse3.cpp only.
// Everything here has internal linkage, so each of the two files keeps its own copy compiled
// with its own instruction set; the SSSE3 file (built with __SSSE3__ defined) takes pabsw and
// psignw for absolute values and signs, the SSE2 file a shift, xor and subtract sequence.
//
// Layout: a block is 8 vectors, one row each (8 int16 lanes = 8 columns), so the column
// passes run on all columns at once. The row passes run on the transposed block, one lane per
// row, against the pair tables of transform.h.
#pragma once

#include <emmintrin.h>
#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif

#include <cstddef>
#include <cstdint>

#include "encoder/coding/transform.h"

namespace {

using vec = __m128i;

struct dctroundtable {
  alignas(16) int16_t fwd[8][8];  // [u][row]: R[row][u]
  alignas(16) int32_t inv[8];     // Q[row]
};
constexpr dctroundtable makeroundtable() {
  dctroundtable t{};
  for (int u = 0; u < 8; u++)
    for (int r = 0; r < 8; r++) t.fwd[u][r] = dctfwdround[r][u];
  for (int r = 0; r < 8; r++) t.inv[r] = dctinvround[r];
  return t;
}
constexpr dctroundtable roundtable = makeroundtable();

inline vec ld(const void* p) { return _mm_load_si128(static_cast<const vec*>(p)); }
inline void st(void* p, vec v) { _mm_store_si128(static_cast<vec*>(p), v); }
inline vec adds(vec a, vec b) { return _mm_adds_epi16(a, b); }
inline vec subs(vec a, vec b) { return _mm_subs_epi16(a, b); }
inline vec mulhi(vec a, int16_t k) { return _mm_mulhi_epi16(a, _mm_set1_epi16(k)); }
inline vec or1(vec a) { return _mm_or_si128(a, _mm_set1_epi16(1)); }

// |c| and the sign of c put back on a magnitude (0 where c is 0, for both forms).
#if defined(__SSSE3__)
inline vec absw(vec c) { return _mm_abs_epi16(c); }
inline vec signw(vec m, vec c) { return _mm_sign_epi16(m, c); }
#else
inline vec absw(vec c) {
  vec s = _mm_srai_epi16(c, 15);
  return _mm_sub_epi16(_mm_xor_si128(c, s), s);
}
inline vec signw(vec m, vec c) {
  vec s = _mm_srai_epi16(c, 15);
  vec z = _mm_cmpeq_epi16(c, _mm_setzero_si128());
  return _mm_andnot_si128(z, _mm_sub_epi16(_mm_xor_si128(m, s), s));
}
#endif

inline void transpose(vec r[8]) {
  vec a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  vec a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  vec a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  vec a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  vec b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  vec b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  vec b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  vec b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4);
  r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5);
  r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6);
  r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7);
  r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Forward transform of the rows in r (centred samples) into coefficient rows.
inline void fdct(vec r[8]) {
  vec t0 = adds(r[0], r[7]), t7 = subs(r[0], r[7]);
  vec t1 = adds(r[1], r[6]), t6 = subs(r[1], r[6]);
  vec t2 = adds(r[2], r[5]), t5 = subs(r[2], r[5]);
  vec t3 = adds(r[3], r[4]), t4 = subs(r[3], r[4]);
  vec tm03 = subs(t0, t3), tm12 = subs(t1, t2);
  vec tp03 = adds(adds(t3, t3), tm03), tp12 = adds(adds(t2, t2), tm12);
  t5 = _mm_slli_epi16(t5, 4);
  t6 = _mm_slli_epi16(t6, 4);
  tp03 = _mm_slli_epi16(tp03, 3);
  tp12 = _mm_slli_epi16(tp12, 3);
  tm03 = _mm_slli_epi16(tm03, 3);
  tm12 = _mm_slli_epi16(tm12, 3);
  t4 = _mm_slli_epi16(t4, 3);
  t7 = _mm_slli_epi16(t7, 3);
  r[4] = subs(tp03, tp12);
  r[0] = adds(adds(tp12, tp12), r[4]);
  vec d65 = subs(t6, t5);
  vec s65 = adds(adds(t5, t5), d65);
  r[2] = or1(adds(mulhi(tm12, dctT2), tm03));
  r[6] = or1(subs(mulhi(tm03, dctT2), tm12));
  vec p65 = or1(mulhi(s65, dctC4));
  vec m65 = mulhi(d65, dctC4);
  vec a = subs(t4, m65), b = subs(t7, p65), c = adds(p65, t7), d = adds(m65, t4);
  r[1] = adds(mulhi(d, dctT1), c);
  r[3] = subs(b, adds(mulhi(a, dctT3), a));
  r[5] = adds(a, adds(mulhi(b, dctT3), b));
  r[7] = subs(mulhi(c, dctT1), d);
  for (int k = 0; k < 8; k++) st(dctscratch[1] + 8 * k, r[k]);

  transpose(r);  // r[c]: column c of the intermediate, one lane per row
  vec e[4], o[4];
  for (int i = 0; i < 4; i++) {
    e[i] = adds(r[i], r[7 - i]);
    o[i] = subs(r[i], r[7 - i]);
  }
  vec el01 = _mm_unpacklo_epi16(e[0], e[1]), eh01 = _mm_unpackhi_epi16(e[0], e[1]);
  vec el23 = _mm_unpacklo_epi16(e[2], e[3]), eh23 = _mm_unpackhi_epi16(e[2], e[3]);
  vec ol01 = _mm_unpacklo_epi16(o[0], o[1]), oh01 = _mm_unpackhi_epi16(o[0], o[1]);
  vec ol23 = _mm_unpacklo_epi16(o[2], o[3]), oh23 = _mm_unpackhi_epi16(o[2], o[3]);
  for (int u = 0; u < 8; u++) {
    const auto& w = dctpairs.fwd[u];
    bool odd = u & 1;
    vec lo = _mm_add_epi32(_mm_madd_epi16(odd ? ol01 : el01, ld(w[0][0])),
                           _mm_madd_epi16(odd ? ol23 : el23, ld(w[1][0])));
    vec hi = _mm_add_epi32(_mm_madd_epi16(odd ? oh01 : eh01, ld(w[0][1])),
                           _mm_madd_epi16(odd ? oh23 : eh23, ld(w[1][1])));
    vec s = _mm_packs_epi32(_mm_srai_epi32(lo, 16), _mm_srai_epi32(hi, 16));
    r[u] = _mm_srai_epi16(adds(s, ld(roundtable.fwd[u])), 4);  // column u, lane = row
  }
  transpose(r);
}

// Inverse transform of the dequantised rows in r into residual rows.
inline void idct(vec r[8]) {
  transpose(r);  // r[u]: column u, one lane per row
  vec l02 = _mm_unpacklo_epi16(r[0], r[2]), h02 = _mm_unpackhi_epi16(r[0], r[2]);
  vec l46 = _mm_unpacklo_epi16(r[4], r[6]), h46 = _mm_unpackhi_epi16(r[4], r[6]);
  vec l13 = _mm_unpacklo_epi16(r[1], r[3]), h13 = _mm_unpackhi_epi16(r[1], r[3]);
  vec l57 = _mm_unpacklo_epi16(r[5], r[7]), h57 = _mm_unpackhi_epi16(r[5], r[7]);
  vec qlo = ld(roundtable.inv), qhi = ld(roundtable.inv + 4);
  vec out[8];
  for (int n = 0; n < 4; n++) {
    const auto& w = dctpairs.inv[n];
    vec alo = _mm_add_epi32(qlo, _mm_add_epi32(_mm_madd_epi16(l02, ld(w[0][0])),
                                               _mm_madd_epi16(l46, ld(w[1][0]))));
    vec ahi = _mm_add_epi32(qhi, _mm_add_epi32(_mm_madd_epi16(h02, ld(w[0][1])),
                                               _mm_madd_epi16(h46, ld(w[1][1]))));
    vec blo = _mm_add_epi32(_mm_madd_epi16(l13, ld(w[2][0])), _mm_madd_epi16(l57, ld(w[3][0])));
    vec bhi = _mm_add_epi32(_mm_madd_epi16(h13, ld(w[2][1])), _mm_madd_epi16(h57, ld(w[3][1])));
    out[n] = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(alo, blo), 11),
                             _mm_srai_epi32(_mm_add_epi32(ahi, bhi), 11));
    out[7 - n] = _mm_packs_epi32(_mm_srai_epi32(_mm_sub_epi32(alo, blo), 11),
                                 _mm_srai_epi32(_mm_sub_epi32(ahi, bhi), 11));
  }
  transpose(out);  // rows of the row-pass output
  const vec* x = out;
  vec p17 = adds(mulhi(x[7], dctT1), x[1]);
  vec m17 = subs(mulhi(x[1], dctT1), x[7]);
  vec m35 = subs(adds(mulhi(x[3], dctT3), x[3]), x[5]);
  vec p35 = adds(adds(mulhi(x[5], dctT3), x[5]), x[3]);
  vec b0 = adds(p35, p17), b3 = subs(m17, m35);
  vec e = subs(p17, p35), f = adds(m35, m17);
  vec g1 = mulhi(adds(f, e), dctC4), g2 = mulhi(subs(e, f), dctC4);
  vec B1 = adds(g1, g1), B2 = adds(g2, g2);
  vec p26 = adds(mulhi(x[6], dctT2), x[2]);
  vec m26 = subs(mulhi(x[2], dctT2), x[6]);
  // Sums formed directly: a doubled term would saturate where the sum still fits.
  vec m04 = subs(x[0], x[4]), p04 = adds(x[0], x[4]);
  vec a2 = subs(m04, m26), a3 = subs(p04, p26);
  vec a1 = adds(m04, m26), a0 = adds(p04, p26);
  r[6] = _mm_srai_epi16(subs(a1, B1), 6);
  r[5] = _mm_srai_epi16(subs(a2, B2), 6);
  r[1] = _mm_srai_epi16(adds(a1, B1), 6);
  r[2] = _mm_srai_epi16(adds(a2, B2), 6);
  r[0] = _mm_srai_epi16(adds(a0, b0), 6);
  r[7] = _mm_srai_epi16(subs(a0, b0), 6);
  r[3] = _mm_srai_epi16(adds(a3, b3), 6);
  r[4] = _mm_srai_epi16(subs(a3, b3), 6);
}

// Mismatch control: an even sum of the 64 values flips the lowest bit of value 63 (the
// parity of the sum is the lowest bit of the xor of all values).
inline void mismatch(vec v[8]) {
  vec x = v[0];
  for (int k = 1; k < 8; k++) x = _mm_xor_si128(x, v[k]);
  x = _mm_xor_si128(x, _mm_srli_si128(x, 8));
  x = _mm_xor_si128(x, _mm_srli_si128(x, 4));
  x = _mm_xor_si128(x, _mm_srli_si128(x, 2));
  vec lane7 = _mm_set_epi16(1, 0, 0, 0, 0, 0, 0, 0);
  v[7] = _mm_xor_si128(v[7], _mm_andnot_si128(_mm_slli_si128(x, 14), lane7));
}

// Levels of the coefficient rows f: min(((|c| << 5) + (m >> 1)) * r >> 16 [+ rnd]) * qr >> 16,
// 2047) with the sign of c.
inline void quantise(const vec f[8], vec l[8], const int16_t* weights, const uint16_t* recip,
                     int32_t q, bool intra) {
  vec rnd = _mm_set1_epi16(int16_t(intra ? (3 * q + 2) >> 2 : 0));
  vec qr = _mm_set1_epi16(int16_t(uint16_t(32768 / q)));
  vec lim = _mm_set1_epi16(dctlevellimit);
  for (int k = 0; k < 8; k++) {
    vec m = ld(weights + 8 * k);
    vec x = _mm_add_epi16(_mm_slli_epi16(absw(f[k]), 5), _mm_srli_epi16(m, 1));
    x = _mm_mulhi_epu16(x, ld(recip + 8 * k));
    x = _mm_add_epi16(x, rnd);
    x = _mm_mulhi_epu16(x, qr);
    l[k] = signw(_mm_min_epi16(x, lim), f[k]);
  }
}

// Dequantised value: the magnitude (|l| * mul + add) * w >> shift (w = m * q in 16 bits),
// at most 2048, with the sign of l, then at most 2047.
inline vec dequantrow(vec l, vec m, vec qv, bool intra) {
  vec w = _mm_mullo_epi16(m, qv);
  vec a = absw(l);
  if (!intra) a = _mm_add_epi16(_mm_add_epi16(a, a), _mm_set1_epi16(1));
  vec plo = _mm_mullo_epi16(a, w), phi = _mm_mulhi_epu16(a, w);
  vec lo = _mm_unpacklo_epi16(plo, phi), hi = _mm_unpackhi_epi16(plo, phi);
  int sh = intra ? 4 : 5;
  vec mag = _mm_packs_epi32(_mm_srli_epi32(lo, sh), _mm_srli_epi32(hi, sh));
  mag = _mm_min_epi16(mag, _mm_set1_epi16(2048));
  return _mm_min_epi16(signw(mag, l), _mm_set1_epi16(dctdequantmax));
}

inline uint8_t* outrow(uint8_t* dest, int32_t x, int32_t y, int32_t stride, int32_t mode, int k) {
  return mode == 1 ? dest + 8 * k : dest + x + ptrdiff_t(y + k) * stride;
}

inline void intrabody(const uint8_t* src, int32_t x, int32_t y, int32_t stride, int16_t* levels,
                      const int16_t* weights, const uint16_t* recip, int32_t q, int32_t dcprec,
                      uint8_t* dest, int32_t mode) {
  const vec zero = _mm_setzero_si128(), bias = _mm_set1_epi16(dctbias);
  const uint8_t* p = src + x + ptrdiff_t(y) * stride;
  vec r[8];
  for (int k = 0; k < 8; k++) {
    vec b = _mm_loadl_epi64(reinterpret_cast<const vec*>(p + ptrdiff_t(k) * stride));
    r[k] = _mm_sub_epi16(_mm_unpacklo_epi8(b, zero), bias);
    st(dctscratch[0] + 8 * k, r[k]);
  }
  fdct(r);
  for (int k = 0; k < 8; k++) st(dctscratch[0] + 8 * k, r[k]);

  vec l[8];
  quantise(r, l, weights, recip, q, true);
  int32_t dc = int16_t(_mm_cvtsi128_si32(r[0]));
  int32_t d = 8 >> dcprec, h = d >> 1;
  int16_t dclevel = int16_t(dc >= 0 ? (dc + h) / d : -((-dc + h) / d));
  l[0] = _mm_insert_epi16(l[0], dclevel, 0);
  for (int k = 0; k < 8; k++) st(levels + 8 * k, l[k]);
  if (mode <= 0) return;

  vec qv = _mm_set1_epi16(int16_t(q));
  for (int k = 0; k < 8; k++) r[k] = dequantrow(l[k], ld(weights + 8 * k), qv, true);
  r[0] = _mm_insert_epi16(r[0], int16_t(uint16_t(dclevel) << (3 - dcprec)), 0);
  mismatch(r);
  for (int k = 0; k < 8; k++) st(dctscratch[1] + 8 * k, r[k]);
  idct(r);
  const vec flip = _mm_set1_epi8(char(0x80));
  for (int k = 0; k < 8; k++) {
    st(dctscratch[1] + 8 * k, r[k]);
    vec b = _mm_xor_si128(_mm_packs_epi16(r[k], r[k]), flip);
    _mm_storel_epi64(reinterpret_cast<vec*>(outrow(dest, x, y, stride, mode, k)), b);
  }
}

inline void interbody(const int16_t* resid, const uint8_t* pred, int32_t x, int32_t y,
                      int32_t stride, int16_t* levels, const int16_t* weights,
                      const uint16_t* recip, int32_t q, int32_t bitno, uint8_t* pattern,
                      uint8_t* dest, int32_t mode) {
  const int16_t* p = resid + x + ptrdiff_t(y) * stride;
  vec r[8];
  for (int k = 0; k < 8; k++) {
    r[k] = ld(p + ptrdiff_t(k) * stride);
    st(dctscratch[0] + 8 * k, r[k]);
  }
  fdct(r);
  for (int k = 0; k < 8; k++) st(dctscratch[0] + 8 * k, r[k]);

  vec l[8];
  quantise(r, l, weights, recip, q, false);
  vec any = l[0];
  for (int k = 0; k < 8; k++) {
    st(levels + 8 * k, l[k]);
    any = _mm_or_si128(any, l[k]);
  }
  bool nonzero = _mm_movemask_epi8(_mm_cmpeq_epi16(any, _mm_setzero_si128())) != 0xFFFF;
  uint8_t bit = uint8_t(1u << bitno);
  *pattern = uint8_t(nonzero ? *pattern | bit : *pattern & ~bit);
  if (mode <= 0) return;

  const uint8_t* pb = pred + x + ptrdiff_t(y) * stride;
  if (!nonzero) {
    for (int k = 0; k < 8; k++) {
      vec b = _mm_loadl_epi64(reinterpret_cast<const vec*>(pb + ptrdiff_t(k) * stride));
      _mm_storel_epi64(reinterpret_cast<vec*>(outrow(dest, x, y, stride, mode, k)), b);
    }
    return;
  }
  vec qv = _mm_set1_epi16(int16_t(q));
  for (int k = 0; k < 8; k++) r[k] = dequantrow(l[k], ld(weights + 8 * k), qv, false);
  mismatch(r);
  for (int k = 0; k < 8; k++) st(dctscratch[1] + 8 * k, r[k]);
  idct(r);
  const vec zero = _mm_setzero_si128();
  for (int k = 0; k < 8; k++) {
    st(dctscratch[1] + 8 * k, r[k]);
    vec b = _mm_loadl_epi64(reinterpret_cast<const vec*>(pb + ptrdiff_t(k) * stride));
    vec s = _mm_adds_epi16(_mm_unpacklo_epi8(b, zero), r[k]);
    _mm_storel_epi64(reinterpret_cast<vec*>(outrow(dest, x, y, stride, mode, k)),
                     _mm_packus_epi16(s, s));
  }
}

}  // namespace
