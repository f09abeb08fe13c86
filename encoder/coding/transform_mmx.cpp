// The 8-byte block kernels: MMX with the integer SSE instructions pmulhuw, pminsw (and the
// 8-byte shuffles). Compiled with -mmmx only. Every entry point ends with emms so that the
// callers' floating-point code can run.
//
// Layout: a block is 8 rows of two 4-lane halves (columns 0..3 and 4..7); the column passes
// run on each half, the row passes on the transposed block, one lane per row.
#include <mmintrin.h>
#include <xmmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "encoder/coding/transform.h"

namespace {

using m64 = __m64;
struct blk {
  m64 h[8][2];  // [row][half]
};

inline m64 ld(const void* p) {
  int64_t v;
  std::memcpy(&v, p, 8);
  return _mm_cvtsi64_m64(v);
}
inline void st(void* p, m64 v) {
  int64_t w = _mm_cvtm64_si64(v);
  std::memcpy(p, &w, 8);
}
inline m64 adds(m64 a, m64 b) { return _mm_adds_pi16(a, b); }
inline m64 subs(m64 a, m64 b) { return _mm_subs_pi16(a, b); }
inline m64 mulhi(m64 a, int16_t k) { return _mm_mulhi_pi16(a, _mm_set1_pi16(k)); }
inline m64 or1(m64 a) { return _mm_or_si64(a, _mm_set1_pi16(1)); }
inline m64 absw(m64 c) {
  m64 s = _mm_srai_pi16(c, 15);
  return _mm_sub_pi16(_mm_xor_si64(c, s), s);
}
// The sign of c on the magnitude m; 0 where c is 0.
inline m64 signw(m64 m, m64 c) {
  m64 s = _mm_srai_pi16(c, 15);
  m64 z = _mm_cmpeq_pi16(c, _mm_setzero_si64());
  return _mm_andnot_si64(z, _mm_sub_pi16(_mm_xor_si64(m, s), s));
}

inline void transpose4(m64& a0, m64& a1, m64& a2, m64& a3) {
  m64 t0 = _mm_unpacklo_pi16(a0, a1), t1 = _mm_unpackhi_pi16(a0, a1);
  m64 t2 = _mm_unpacklo_pi16(a2, a3), t3 = _mm_unpackhi_pi16(a2, a3);
  a0 = _mm_unpacklo_pi32(t0, t2);
  a1 = _mm_unpackhi_pi32(t0, t2);
  a2 = _mm_unpacklo_pi32(t1, t3);
  a3 = _mm_unpackhi_pi32(t1, t3);
}

inline blk transpose(const blk& b) {
  blk t;
  for (int R = 0; R < 2; R++)
    for (int C = 0; C < 2; C++) {
      m64 a0 = b.h[4 * R][C], a1 = b.h[4 * R + 1][C], a2 = b.h[4 * R + 2][C],
          a3 = b.h[4 * R + 3][C];
      transpose4(a0, a1, a2, a3);
      t.h[4 * C][R] = a0;
      t.h[4 * C + 1][R] = a1;
      t.h[4 * C + 2][R] = a2;
      t.h[4 * C + 3][R] = a3;
    }
  return t;
}

// Forward column pass of one half: x[k] is row k.
inline void fcol(m64 x[8]) {
  m64 t0 = adds(x[0], x[7]), t7 = subs(x[0], x[7]);
  m64 t1 = adds(x[1], x[6]), t6 = subs(x[1], x[6]);
  m64 t2 = adds(x[2], x[5]), t5 = subs(x[2], x[5]);
  m64 t3 = adds(x[3], x[4]), t4 = subs(x[3], x[4]);
  m64 tm03 = subs(t0, t3), tm12 = subs(t1, t2);
  m64 tp03 = adds(adds(t3, t3), tm03), tp12 = adds(adds(t2, t2), tm12);
  t5 = _mm_slli_pi16(t5, 4);
  t6 = _mm_slli_pi16(t6, 4);
  tp03 = _mm_slli_pi16(tp03, 3);
  tp12 = _mm_slli_pi16(tp12, 3);
  tm03 = _mm_slli_pi16(tm03, 3);
  tm12 = _mm_slli_pi16(tm12, 3);
  t4 = _mm_slli_pi16(t4, 3);
  t7 = _mm_slli_pi16(t7, 3);
  x[4] = subs(tp03, tp12);
  x[0] = adds(adds(tp12, tp12), x[4]);
  m64 d65 = subs(t6, t5);
  m64 s65 = adds(adds(t5, t5), d65);
  x[2] = or1(adds(mulhi(tm12, dctT2), tm03));
  x[6] = or1(subs(mulhi(tm03, dctT2), tm12));
  m64 p65 = or1(mulhi(s65, dctC4));
  m64 m65 = mulhi(d65, dctC4);
  m64 a = subs(t4, m65), b = subs(t7, p65), c = adds(p65, t7), d = adds(m65, t4);
  x[1] = adds(mulhi(d, dctT1), c);
  x[3] = subs(b, adds(mulhi(a, dctT3), a));
  x[5] = adds(a, adds(mulhi(b, dctT3), b));
  x[7] = subs(mulhi(c, dctT1), d);
}

// Inverse column pass of one half: x[k] is row k of the row-pass output; residual out.
inline void icol(m64 x[8]) {
  m64 p17 = adds(mulhi(x[7], dctT1), x[1]);
  m64 m17 = subs(mulhi(x[1], dctT1), x[7]);
  m64 m35 = subs(adds(mulhi(x[3], dctT3), x[3]), x[5]);
  m64 p35 = adds(adds(mulhi(x[5], dctT3), x[5]), x[3]);
  m64 b0 = adds(p35, p17), b3 = subs(m17, m35);
  m64 e = subs(p17, p35), f = adds(m35, m17);
  m64 g1 = mulhi(adds(f, e), dctC4), g2 = mulhi(subs(e, f), dctC4);
  m64 B1 = adds(g1, g1), B2 = adds(g2, g2);
  m64 p26 = adds(mulhi(x[6], dctT2), x[2]);
  m64 m26 = subs(mulhi(x[2], dctT2), x[6]);
  // Sums formed directly: a doubled term would saturate where the sum still fits.
  m64 m04 = subs(x[0], x[4]), p04 = adds(x[0], x[4]);
  m64 a2 = subs(m04, m26), a3 = subs(p04, p26);
  m64 a1 = adds(m04, m26), a0 = adds(p04, p26);
  x[6] = _mm_srai_pi16(subs(a1, B1), 6);
  x[5] = _mm_srai_pi16(subs(a2, B2), 6);
  x[1] = _mm_srai_pi16(adds(a1, B1), 6);
  x[2] = _mm_srai_pi16(adds(a2, B2), 6);
  x[0] = _mm_srai_pi16(adds(a0, b0), 6);
  x[7] = _mm_srai_pi16(subs(a0, b0), 6);
  x[3] = _mm_srai_pi16(adds(a3, b3), 6);
  x[4] = _mm_srai_pi16(subs(a3, b3), 6);
}

inline void colpass(blk& b, bool inverse) {
  for (int hh = 0; hh < 2; hh++) {
    m64 x[8];
    for (int k = 0; k < 8; k++) x[k] = b.h[k][hh];
    if (inverse)
      icol(x);
    else
      fcol(x);
    for (int k = 0; k < 8; k++) b.h[k][hh] = x[k];
  }
}

inline void storeblk(int16_t* p, const blk& b) {
  for (int k = 0; k < 8; k++) {
    st(p + 8 * k, b.h[k][0]);
    st(p + 8 * k + 4, b.h[k][1]);
  }
}

// Two 32-bit sums of pairs: rows (4hh, 4hh+1) from the low lanes, (4hh+2, 4hh+3) from the
// high lanes, against an 8-entry pair table.
inline void madd2(m64 a, m64 b, const int16_t* w, m64& s01, m64& s23) {
  s01 = _mm_add_pi32(s01, _mm_madd_pi16(_mm_unpacklo_pi16(a, b), ld(w)));
  s23 = _mm_add_pi32(s23, _mm_madd_pi16(_mm_unpackhi_pi16(a, b), ld(w + 4)));
}

// Forward transform: centred sample rows in b, coefficient rows out.
inline void fdct(blk& b) {
  colpass(b, false);
  storeblk(dctscratch[1], b);
  blk z = transpose(b);  // z.h[c][hh]: column c, rows 4hh..4hh+3
  blk f;                 // f.h[u][hh]: coefficient column u
  for (int hh = 0; hh < 2; hh++) {
    m64 e[4], o[4];
    for (int i = 0; i < 4; i++) {
      e[i] = adds(z.h[i][hh], z.h[7 - i][hh]);
      o[i] = subs(z.h[i][hh], z.h[7 - i][hh]);
    }
    for (int u = 0; u < 8; u++) {
      const m64* p = (u & 1) ? o : e;
      const auto& w = dctpairs.fwd[u];
      m64 s01 = _mm_setzero_si64(), s23 = _mm_setzero_si64();
      madd2(p[0], p[1], w[0][hh], s01, s23);
      madd2(p[2], p[3], w[1][hh], s01, s23);
      m64 s = _mm_packs_pi32(_mm_srai_pi32(s01, 16), _mm_srai_pi32(s23, 16));
      int16_t r0 = dctfwdround[4 * hh][u], r1 = dctfwdround[4 * hh + 1][u],
              r2 = dctfwdround[4 * hh + 2][u], r3 = dctfwdround[4 * hh + 3][u];
      f.h[u][hh] = _mm_srai_pi16(adds(s, _mm_set_pi16(r3, r2, r1, r0)), 4);
    }
  }
  b = transpose(f);
}

// Inverse transform: dequantised rows in b, residual rows out.
inline void idct(blk& b) {
  blk x = transpose(b);  // x.h[u][hh]: column u, rows 4hh..4hh+3
  blk o;                 // o.h[n][hh]: row-pass output column n
  for (int hh = 0; hh < 2; hh++) {
    for (int n = 0; n < 4; n++) {
      const auto& w = dctpairs.inv[n];
      m64 a01 = _mm_set_pi32(dctinvround[4 * hh + 1], dctinvround[4 * hh]);
      m64 a23 = _mm_set_pi32(dctinvround[4 * hh + 3], dctinvround[4 * hh + 2]);
      m64 b01 = _mm_setzero_si64(), b23 = _mm_setzero_si64();
      madd2(x.h[0][hh], x.h[2][hh], w[0][hh], a01, a23);
      madd2(x.h[4][hh], x.h[6][hh], w[1][hh], a01, a23);
      madd2(x.h[1][hh], x.h[3][hh], w[2][hh], b01, b23);
      madd2(x.h[5][hh], x.h[7][hh], w[3][hh], b01, b23);
      o.h[n][hh] = _mm_packs_pi32(_mm_srai_pi32(_mm_add_pi32(a01, b01), 11),
                                  _mm_srai_pi32(_mm_add_pi32(a23, b23), 11));
      o.h[7 - n][hh] = _mm_packs_pi32(_mm_srai_pi32(_mm_sub_pi32(a01, b01), 11),
                                      _mm_srai_pi32(_mm_sub_pi32(a23, b23), 11));
    }
  }
  b = transpose(o);
  colpass(b, true);
}

// Mismatch control: an even sum of the 64 values flips the lowest bit of value 63.
inline void mismatch(blk& v) {
  m64 x = _mm_setzero_si64();
  for (int k = 0; k < 8; k++) x = _mm_xor_si64(x, _mm_xor_si64(v.h[k][0], v.h[k][1]));
  x = _mm_xor_si64(x, _mm_srli_si64(x, 32));
  x = _mm_xor_si64(x, _mm_srli_si64(x, 16));
  m64 lane3 = _mm_set_pi16(1, 0, 0, 0);
  v.h[7][1] = _mm_xor_si64(v.h[7][1], _mm_andnot_si64(_mm_slli_si64(x, 48), lane3));
}

inline void quantise(const blk& f, blk& l, const int16_t* weights, const uint16_t* recip,
                     int32_t q, bool intra) {
  m64 rnd = _mm_set1_pi16(int16_t(intra ? (3 * q + 2) >> 2 : 0));
  m64 qr = _mm_set1_pi16(int16_t(uint16_t(32768 / q)));
  m64 lim = _mm_set1_pi16(dctlevellimit);
  for (int k = 0; k < 8; k++)
    for (int hh = 0; hh < 2; hh++) {
      m64 c = f.h[k][hh];
      m64 m = ld(weights + 8 * k + 4 * hh);
      m64 x = _mm_add_pi16(_mm_slli_pi16(absw(c), 5), _mm_srli_pi16(m, 1));
      x = _mm_mulhi_pu16(x, ld(recip + 8 * k + 4 * hh));
      x = _mm_add_pi16(x, rnd);
      x = _mm_mulhi_pu16(x, qr);
      l.h[k][hh] = signw(_mm_min_pi16(x, lim), c);
    }
}

inline m64 dequanthalf(m64 l, m64 m, m64 qv, bool intra) {
  m64 w = _mm_mullo_pi16(m, qv);
  m64 a = absw(l);
  if (!intra) a = _mm_add_pi16(_mm_add_pi16(a, a), _mm_set1_pi16(1));
  m64 plo = _mm_mullo_pi16(a, w), phi = _mm_mulhi_pu16(a, w);
  m64 lo = _mm_unpacklo_pi16(plo, phi), hi = _mm_unpackhi_pi16(plo, phi);
  int sh = intra ? 4 : 5;
  m64 mag = _mm_packs_pi32(_mm_srli_pi32(lo, sh), _mm_srli_pi32(hi, sh));
  mag = _mm_min_pi16(mag, _mm_set1_pi16(2048));
  return _mm_min_pi16(signw(mag, l), _mm_set1_pi16(dctdequantmax));
}

inline void dequant(const blk& l, blk& v, const int16_t* weights, int32_t q, bool intra) {
  m64 qv = _mm_set1_pi16(int16_t(q));
  for (int k = 0; k < 8; k++)
    for (int hh = 0; hh < 2; hh++)
      v.h[k][hh] = dequanthalf(l.h[k][hh], ld(weights + 8 * k + 4 * hh), qv, intra);
}

inline uint8_t* outrow(uint8_t* dest, int32_t x, int32_t y, int32_t stride, int32_t mode, int k) {
  return mode == 1 ? dest + 8 * k : dest + x + ptrdiff_t(y + k) * stride;
}

}  // namespace

void intrablock_mmx(const uint8_t* src, int32_t x, int32_t y, int32_t stride, int16_t* levels,
                    const int16_t* weights, const uint16_t* recip, int32_t q, int32_t dcprec,
                    uint8_t* dest, int32_t mode) {
  const m64 zero = _mm_setzero_si64(), bias = _mm_set1_pi16(dctbias);
  const uint8_t* p = src + x + ptrdiff_t(y) * stride;
  blk b;
  for (int k = 0; k < 8; k++) {
    m64 s = ld(p + ptrdiff_t(k) * stride);
    b.h[k][0] = _mm_sub_pi16(_mm_unpacklo_pi8(s, zero), bias);
    b.h[k][1] = _mm_sub_pi16(_mm_unpackhi_pi8(s, zero), bias);
  }
  storeblk(dctscratch[0], b);
  fdct(b);
  storeblk(dctscratch[0], b);

  blk l;
  quantise(b, l, weights, recip, q, true);
  int32_t dc = dctscratch[0][0];
  int32_t d = 8 >> dcprec, h = d >> 1;
  int16_t dclevel = int16_t(dc >= 0 ? (dc + h) / d : -((-dc + h) / d));
  l.h[0][0] = _mm_insert_pi16(l.h[0][0], dclevel, 0);
  storeblk(levels, l);
  if (mode > 0) {
    dequant(l, b, weights, q, true);
    b.h[0][0] = _mm_insert_pi16(b.h[0][0], int16_t(uint16_t(dclevel) << (3 - dcprec)), 0);
    mismatch(b);
    storeblk(dctscratch[1], b);
    idct(b);
    storeblk(dctscratch[1], b);
    const m64 flip = _mm_set1_pi8(char(0x80));
    for (int k = 0; k < 8; k++)
      st(outrow(dest, x, y, stride, mode, k),
         _mm_xor_si64(_mm_packs_pi16(b.h[k][0], b.h[k][1]), flip));
  }
  _mm_empty();
}

void interblock_mmx(const int16_t* resid, const uint8_t* pred, int32_t x, int32_t y,
                    int32_t stride, int16_t* levels, const int16_t* weights,
                    const uint16_t* recip, int32_t q, int32_t bitno, uint8_t* pattern,
                    uint8_t* dest, int32_t mode) {
  const int16_t* p = resid + x + ptrdiff_t(y) * stride;
  blk b;
  for (int k = 0; k < 8; k++) {
    b.h[k][0] = ld(p + ptrdiff_t(k) * stride);
    b.h[k][1] = ld(p + ptrdiff_t(k) * stride + 4);
  }
  storeblk(dctscratch[0], b);
  fdct(b);
  storeblk(dctscratch[0], b);

  blk l;
  quantise(b, l, weights, recip, q, false);
  storeblk(levels, l);
  m64 any = _mm_setzero_si64();
  for (int k = 0; k < 8; k++) any = _mm_or_si64(any, _mm_or_si64(l.h[k][0], l.h[k][1]));
  bool nonzero = _mm_cvtm64_si64(any) != 0;
  uint8_t bit = uint8_t(1u << bitno);
  *pattern = uint8_t(nonzero ? *pattern | bit : *pattern & ~bit);

  if (mode > 0) {
    const uint8_t* pb = pred + x + ptrdiff_t(y) * stride;
    if (!nonzero) {
      for (int k = 0; k < 8; k++)
        st(outrow(dest, x, y, stride, mode, k), ld(pb + ptrdiff_t(k) * stride));
    } else {
      dequant(l, b, weights, q, false);
      mismatch(b);
      storeblk(dctscratch[1], b);
      idct(b);
      storeblk(dctscratch[1], b);
      const m64 zero = _mm_setzero_si64();
      for (int k = 0; k < 8; k++) {
        m64 s = ld(pb + ptrdiff_t(k) * stride);
        m64 lo = _mm_adds_pi16(_mm_unpacklo_pi8(s, zero), b.h[k][0]);
        m64 hi = _mm_adds_pi16(_mm_unpackhi_pi8(s, zero), b.h[k][1]);
        st(outrow(dest, x, y, stride, mode, k), _mm_packs_pu16(lo, hi));
      }
    }
  }
  _mm_empty();
}

void idctblock_mmx(int16_t* block) {
  blk b;
  for (int k = 0; k < 8; k++) {
    b.h[k][0] = ld(block + 8 * k);
    b.h[k][1] = ld(block + 8 * k + 4);
  }
  idct(b);
  storeblk(block, b);
  _mm_empty();
}
