// Transform and quantisation kernels: kernel state, the choice of path and the plain C++
// reference that every instruction-set path matches bit for bit.
#include "encoder/coding/transform.h"

#include <cstddef>
#include <cstring>

int32_t dctlevel = 0;
alignas(16) thread_local int16_t dctscratch[2][64];

void setdctmode(int32_t level) { dctlevel = level; }

void intrablock(const uint8_t* src, int32_t x, int32_t y, int32_t stride, int16_t* levels,
                const int16_t* weights, const uint16_t* recip, int32_t q, int32_t dcprec,
                uint8_t* dest, int32_t mode) {
  if (dctpath(dctlevel) == 4)
    intrablock_ssse3(src, x, y, stride, levels, weights, recip, q, dcprec, dest, mode);
  else
    intrablock_sse2(src, x, y, stride, levels, weights, recip, q, dcprec, dest, mode);
}

void intrablockmmx(const uint8_t* src, int32_t x, int32_t y, int32_t stride, int16_t* levels,
                   const int16_t* weights, const uint16_t* recip, int32_t q, int32_t dcprec,
                   uint8_t* dest, int32_t mode) {
  intrablock_mmx(src, x, y, stride, levels, weights, recip, q, dcprec, dest, mode);
}

void interblock(const int16_t* resid, const uint8_t* pred, int32_t x, int32_t y, int32_t stride,
                int16_t* levels, const int16_t* weights, const uint16_t* recip, int32_t q,
                int32_t bitno, uint8_t* pattern, uint8_t* dest, int32_t mode) {
  if (dctpath(dctlevel) == 4)
    interblock_ssse3(resid, pred, x, y, stride, levels, weights, recip, q, bitno, pattern, dest,
                     mode);
  else
    interblock_sse2(resid, pred, x, y, stride, levels, weights, recip, q, bitno, pattern, dest,
                    mode);
}

void interblockmmx(const int16_t* resid, const uint8_t* pred, int32_t x, int32_t y,
                   int32_t stride, int16_t* levels, const int16_t* weights,
                   const uint16_t* recip, int32_t q, int32_t bitno, uint8_t* pattern,
                   uint8_t* dest, int32_t mode) {
  interblock_mmx(resid, pred, x, y, stride, levels, weights, recip, q, bitno, pattern, dest,
                 mode);
}

// ---- Reference ------------------------------------------------------------------------------
// Written step by step in the 16-bit arithmetic of the vector paths: saturating adds and
// subtracts, shifts that drop the bits shifted out, high halves of 16x16-bit products.

namespace {

int16_t sat16(int32_t v) { return int16_t(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }
int16_t adds(int16_t a, int16_t b) { return sat16(int32_t(a) + b); }
int16_t subs(int16_t a, int16_t b) { return sat16(int32_t(a) - b); }
int16_t shl(int16_t a, int k) { return int16_t(uint16_t(uint16_t(a) << k)); }
int16_t mulhi(int16_t a, int16_t b) { return int16_t((int32_t(a) * b) >> 16); }
uint16_t mulhu(uint16_t a, uint16_t b) { return uint16_t((uint32_t(a) * b) >> 16); }

// Forward transform of s (64 values, raster order) into f; inter holds the column pass.
void fdct(const int16_t* s, int16_t* inter, int16_t* f) {
  for (int c = 0; c < 8; c++) {
    int16_t x[8];
    for (int k = 0; k < 8; k++) x[k] = s[8 * k + c];
    int16_t t0 = adds(x[0], x[7]), t7 = subs(x[0], x[7]);
    int16_t t1 = adds(x[1], x[6]), t6 = subs(x[1], x[6]);
    int16_t t2 = adds(x[2], x[5]), t5 = subs(x[2], x[5]);
    int16_t t3 = adds(x[3], x[4]), t4 = subs(x[3], x[4]);
    int16_t tm03 = subs(t0, t3), tm12 = subs(t1, t2);
    int16_t tp03 = adds(adds(t3, t3), tm03), tp12 = adds(adds(t2, t2), tm12);
    t5 = shl(t5, 4);
    t6 = shl(t6, 4);
    tp03 = shl(tp03, 3);
    tp12 = shl(tp12, 3);
    tm03 = shl(tm03, 3);
    tm12 = shl(tm12, 3);
    t4 = shl(t4, 3);
    t7 = shl(t7, 3);
    int16_t y[8];
    y[4] = subs(tp03, tp12);
    y[0] = adds(adds(tp12, tp12), y[4]);
    int16_t d65 = subs(t6, t5);
    int16_t s65 = adds(adds(t5, t5), d65);
    y[2] = int16_t(adds(mulhi(tm12, dctT2), tm03) | 1);
    y[6] = int16_t(subs(mulhi(tm03, dctT2), tm12) | 1);
    int16_t p65 = int16_t(mulhi(s65, dctC4) | 1);
    int16_t m65 = mulhi(d65, dctC4);
    int16_t a = subs(t4, m65), b = subs(t7, p65), cc = adds(p65, t7), d = adds(m65, t4);
    y[1] = adds(mulhi(d, dctT1), cc);
    y[3] = subs(b, adds(mulhi(a, dctT3), a));
    y[5] = adds(a, adds(mulhi(b, dctT3), b));
    y[7] = subs(mulhi(cc, dctT1), d);
    for (int k = 0; k < 8; k++) inter[8 * k + c] = y[k];
  }
  for (int r = 0; r < 8; r++) {
    const int16_t* z = inter + 8 * r;
    const auto& w = dctrowcoef[dctrowtable[r]];
    int16_t e[4], o[4];
    for (int i = 0; i < 4; i++) {
      e[i] = adds(z[i], z[7 - i]);
      o[i] = subs(z[i], z[7 - i]);
    }
    for (int u = 0; u < 8; u++) {
      const int16_t* p = (u & 1) ? o : e;
      int32_t sum = 0;
      for (int i = 0; i < 4; i++) sum += int32_t(w[u][i]) * p[i];
      f[8 * r + u] = int16_t(adds(sat16(sum >> 16), dctfwdround[r][u]) >> 4);
    }
  }
}

// Inverse transform of v (dequantised, raster order) in place; the row pass goes through
// inter.
void idct(int16_t* v, int16_t* inter) {
  for (int r = 0; r < 8; r++) {
    const int16_t* xr = v + 8 * r;
    const auto& w = dctrowcoef[dctrowtable[r]];
    for (int n = 0; n < 4; n++) {
      int32_t a = dctinvround[r], b = 0;
      for (int u = 0; u < 8; u += 2) a += int32_t(w[u][n]) * xr[u];
      for (int u = 1; u < 8; u += 2) b += int32_t(w[u][n]) * xr[u];
      inter[8 * r + n] = sat16((a + b) >> 11);
      inter[8 * r + 7 - n] = sat16((a - b) >> 11);
    }
  }
  for (int c = 0; c < 8; c++) {
    int16_t x[8];
    for (int k = 0; k < 8; k++) x[k] = inter[8 * k + c];
    int16_t p17 = adds(mulhi(x[7], dctT1), x[1]);
    int16_t m17 = subs(mulhi(x[1], dctT1), x[7]);
    int16_t m35 = subs(adds(mulhi(x[3], dctT3), x[3]), x[5]);
    int16_t p35 = adds(adds(mulhi(x[5], dctT3), x[5]), x[3]);
    int16_t b0 = adds(p35, p17), b3 = subs(m17, m35);
    int16_t e = subs(p17, p35), f = adds(m35, m17);
    int16_t g1 = mulhi(adds(f, e), dctC4), g2 = mulhi(subs(e, f), dctC4);
    int16_t B1 = adds(g1, g1), B2 = adds(g2, g2);
    int16_t p26 = adds(mulhi(x[6], dctT2), x[2]);
    int16_t m26 = subs(mulhi(x[2], dctT2), x[6]);
    // The sums below are formed directly (x0 + x4, m04 + m26, ...), never as 2b + (a - b):
    // the doubled term would saturate on large blocks where the sum itself still fits.
    int16_t m04 = subs(x[0], x[4]), p04 = adds(x[0], x[4]);
    int16_t a2 = subs(m04, m26), a3 = subs(p04, p26);
    int16_t a1 = adds(m04, m26), a0 = adds(p04, p26);
    int16_t o[8];
    o[6] = subs(a1, B1);
    o[5] = subs(a2, B2);
    o[1] = adds(a1, B1);
    o[2] = adds(a2, B2);
    o[0] = adds(a0, b0);
    o[7] = subs(a0, b0);
    o[3] = adds(a3, b3);
    o[4] = subs(a3, b3);
    for (int k = 0; k < 8; k++) v[8 * k + c] = int16_t(o[k] >> 6);
  }
}

// Magnitude to level: steps shared by both quantisers, the rounding term being 0 for
// non-intra blocks.
int16_t quantise(int16_t c, int16_t m, uint16_t r, uint16_t rnd, uint16_t qrecip) {
  uint16_t a = uint16_t(c < 0 ? -c : c);
  uint16_t x = uint16_t((a << 5) + (m >> 1));
  x = mulhu(x, r);
  x = uint16_t(x + rnd);
  x = mulhu(x, qrecip);
  int16_t l = int16_t(x > dctlevellimit ? dctlevellimit : x);
  return c < 0 ? int16_t(-l) : l;
}

// Magnitude mag of a dequantised value with the sign of l, in -2048..2047.
int16_t signeddequant(uint32_t mag, int16_t l) {
  if (mag > 2048) mag = 2048;
  int32_t v = l < 0 ? -int32_t(mag) : int32_t(mag);
  return int16_t(v > dctdequantmax ? dctdequantmax : v);
}

// Mismatch control: an even sum of the 64 values flips the lowest bit of value 63.
void mismatch(int16_t* v) {
  int16_t par = 0;
  for (int i = 0; i < 64; i++) par = int16_t(par ^ v[i]);
  if ((par & 1) == 0) v[63] = int16_t(v[63] ^ 1);
}

uint8_t clampbyte(int32_t v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

void intrablock_c(const uint8_t* src, int32_t x, int32_t y, int32_t stride, int16_t* levels,
                  const int16_t* weights, const uint16_t* recip, int32_t q, int32_t dcprec,
                  uint8_t* dest, int32_t mode) {
  int16_t* s = dctscratch[0];
  int16_t* t = dctscratch[1];
  const uint8_t* p = src + x + ptrdiff_t(y) * stride;
  for (int k = 0; k < 8; k++)
    for (int c = 0; c < 8; c++) s[8 * k + c] = int16_t(p[ptrdiff_t(k) * stride + c] - dctbias);
  fdct(s, t, s);

  uint16_t rnd = uint16_t((3 * q + 2) >> 2);
  uint16_t qrecip = uint16_t(32768 / q);
  for (int i = 0; i < 64; i++) levels[i] = quantise(s[i], weights[i], recip[i], rnd, qrecip);
  int16_t dc = s[0];
  int32_t d = 8 >> dcprec, h = d >> 1;
  levels[0] = int16_t(dc >= 0 ? (dc + h) / d : -((-dc + h) / d));
  if (mode <= 0) return;

  uint16_t wq[64];
  for (int i = 0; i < 64; i++) wq[i] = uint16_t(weights[i] * q);
  t[0] = int16_t(uint16_t(levels[0]) << (3 - dcprec));
  for (int i = 1; i < 64; i++) {
    int16_t l = levels[i];
    uint32_t a = uint32_t(l < 0 ? -l : l);
    t[i] = signeddequant(a * wq[i] / 16, l);
  }
  mismatch(t);
  idct(t, s);

  for (int k = 0; k < 8; k++) {
    uint8_t* row = mode == 1 ? dest + 8 * k : dest + x + ptrdiff_t(y + k) * stride;
    for (int c = 0; c < 8; c++) {
      int16_t v = t[8 * k + c];
      v = v < -128 ? -128 : v > 127 ? 127 : v;
      row[c] = uint8_t(v + dctbias);
    }
  }
}

void interblock_c(const int16_t* resid, const uint8_t* pred, int32_t x, int32_t y,
                  int32_t stride, int16_t* levels, const int16_t* weights,
                  const uint16_t* recip, int32_t q, int32_t bitno, uint8_t* pattern,
                  uint8_t* dest, int32_t mode) {
  int16_t* s = dctscratch[0];
  int16_t* t = dctscratch[1];
  const int16_t* p = resid + x + ptrdiff_t(y) * stride;
  for (int k = 0; k < 8; k++)
    for (int c = 0; c < 8; c++) s[8 * k + c] = p[ptrdiff_t(k) * stride + c];
  fdct(s, t, s);

  uint16_t qrecip = uint16_t(32768 / q);
  bool nonzero = false;
  for (int i = 0; i < 64; i++) {
    levels[i] = quantise(s[i], weights[i], recip[i], 0, qrecip);
    nonzero |= levels[i] != 0;
  }
  uint8_t bit = uint8_t(1u << bitno);
  *pattern = uint8_t(nonzero ? *pattern | bit : *pattern & ~bit);
  if (mode <= 0) return;

  const uint8_t* pb = pred + x + ptrdiff_t(y) * stride;
  if (!nonzero) {
    for (int k = 0; k < 8; k++) {
      uint8_t* row = mode == 1 ? dest + 8 * k : dest + x + ptrdiff_t(y + k) * stride;
      std::memcpy(row, pb + ptrdiff_t(k) * stride, 8);
    }
    return;
  }
  for (int i = 0; i < 64; i++) {
    int16_t l = levels[i];
    uint32_t a = uint32_t(l < 0 ? -l : l);
    uint32_t wq = uint16_t(weights[i] * q);
    t[i] = l == 0 ? int16_t(0) : signeddequant((2 * a + 1) * wq / 32, l);
  }
  mismatch(t);
  idct(t, s);

  for (int k = 0; k < 8; k++) {
    uint8_t* row = mode == 1 ? dest + 8 * k : dest + x + ptrdiff_t(y + k) * stride;
    for (int c = 0; c < 8; c++) row[c] = clampbyte(pb[ptrdiff_t(k) * stride + c] + t[8 * k + c]);
  }
}

void idctblock_c(int16_t* block) { idct(block, dctscratch[1]); }
