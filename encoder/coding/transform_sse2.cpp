// The 16-byte block kernels (SSE2): absolute values and signs through a shift, xor and
// subtract sequence.
// Compiled with -msse2 only; the body is shared with the other 16-byte file.
#include "encoder/coding/transform_simd.h"

void intrablock_sse2(const uint8_t* src, int32_t x, int32_t y, int32_t stride, int16_t* levels,
                     const int16_t* weights, const uint16_t* recip, int32_t q, int32_t dcprec,
                     uint8_t* dest, int32_t mode) {
  intrabody(src, x, y, stride, levels, weights, recip, q, dcprec, dest, mode);
}

void interblock_sse2(const int16_t* resid, const uint8_t* pred, int32_t x, int32_t y,
                     int32_t stride, int16_t* levels, const int16_t* weights,
                     const uint16_t* recip, int32_t q, int32_t bitno, uint8_t* pattern,
                     uint8_t* dest, int32_t mode) {
  interbody(resid, pred, x, y, stride, levels, weights, recip, q, bitno, pattern, dest, mode);
}

void idctblock_sse2(int16_t* block) {
  vec r[8];
  for (int k = 0; k < 8; k++) r[k] = ld(block + 8 * k);
  idct(r);
  for (int k = 0; k < 8; k++) st(block + 8 * k, r[k]);
}
