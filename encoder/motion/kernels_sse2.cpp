// The SSE2 paths: 16-byte registers; reference rows with ordinary unaligned loads (suffix
// _sse2) or, when the caller's source is on a 16-byte boundary, aligned loads (_sse2a).
#include <emmintrin.h>

#include <cstddef>

#include "encoder/motion/kernels.h"

namespace {
struct loadu {
  static __m128i ld(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  }
};
struct loada {
  static __m128i ld(const uint8_t* p) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(p));
  }
};
#include "encoder/motion/ssebody.inc"
}  // namespace

#define OSTREL_SFX sse2
#define OSTREL_GSFX
#define OSTREL_LOAD loadu
#include "encoder/motion/exports.inc"
#include "encoder/motion/grids.inc"
#undef OSTREL_SFX
#undef OSTREL_LOAD
#define OSTREL_SFX sse2a
#define OSTREL_LOAD loada
#include "encoder/motion/exports.inc"

const gridkernel hpelsadtable_sse2[16] = {
    gridmember<loadu, 0>,  gridmember<loadu, 1>,  gridmember<loadu, 2>,  gridmember<loadu, 3>,
    gridmember<loadu, 4>,  gridmember<loadu, 5>,  gridmember<loadu, 6>,  gridmember<loadu, 7>,
    gridmember<loadu, 8>,  gridmember<loadu, 9>,  gridmember<loadu, 10>, gridmember<loadu, 11>,
    gridmember<loadu, 12>, gridmember<loadu, 13>, gridmember<loadu, 14>, gridmember<loadu, 15>};

// ---- the kernels that have only an MMX and an SSE2 path (all accesses aligned) ----

void blockstats(const uint8_t* a, const uint8_t* b, int x, int y, int stride, uint32_t* sum,
                uint32_t* sad, uint32_t* activity) {
  const uint8_t* pa = pixel(a, x, y, stride);
  const uint8_t* pb = pixel(b, x, y, stride);
  const __m128i z = _mm_setzero_si128();
  __m128i s = z, d = z, sq = z;
#pragma GCC unroll 16
  for (int r = 0; r < 16; ++r) {
    const __m128i va = lda(rowp(pa, r, stride)), vb = lda(rowp(pb, r, stride));
    // The pixel sum in 16-bit lanes: one lane gathers 32 pixels (<= 8,160).
    const __m128i lo = _mm_unpacklo_epi8(va, z), hi = _mm_unpackhi_epi8(va, z);
    s = _mm_add_epi16(s, _mm_add_epi16(lo, hi));
    d = _mm_add_epi32(d, _mm_sad_epu8(va, vb));
    sq = _mm_add_epi32(sq, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
  }
  // Widen the eight sum lanes to 32 bits and add everything up.
  const __m128i s32 = _mm_madd_epi16(s, _mm_set1_epi16(1));
  auto add4 = [](__m128i v) {
    v = _mm_add_epi32(v, _mm_srli_si128(v, 8));
    v = _mm_add_epi32(v, _mm_srli_si128(v, 4));
    return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
  };
  const uint32_t total = add4(s32);
  *sum = total;
  *sad = lanesum(d);
  *activity = add4(sq) - (total >> 4) * (total >> 4);
}

uint32_t sadframes_sse2(const uint8_t* a, const uint8_t* b, int count) {
  const int chunks = count >> 8;
  __m128i acc = _mm_setzero_si128();
  for (int n = 0; n < chunks; ++n) {
    const uint8_t* pa = a + static_cast<ptrdiff_t>(n) * 256;
    const uint8_t* pb = b + static_cast<ptrdiff_t>(n) * 256;
#pragma GCC unroll 4
    for (int g = 0; g < 256; g += 64) {
      const __m128i s0 = _mm_sad_epu8(lda(pa + g), lda(pb + g));
      const __m128i s1 = _mm_sad_epu8(lda(pa + g + 16), lda(pb + g + 16));
      const __m128i s2 = _mm_sad_epu8(lda(pa + g + 32), lda(pb + g + 32));
      const __m128i s3 = _mm_sad_epu8(lda(pa + g + 48), lda(pb + g + 48));
      acc = _mm_add_epi32(acc, _mm_add_epi32(_mm_add_epi32(s0, s1), _mm_add_epi32(s2, s3)));
    }
  }
  return lanesum(acc);
}

uint32_t sadavg16_sse2(const uint8_t* p, const uint8_t* q, const uint8_t* s) {
  __m128i acc = _mm_setzero_si128();
#pragma GCC unroll 16
  for (int i = 0; i < 256; i += 16)
    acc = _mm_add_epi32(acc, _mm_sad_epu8(_mm_avg_epu8(lda(p + i), lda(q + i)), lda(s + i)));
  return lanesum(acc);
}

void avg16_sse2(const uint8_t* p, const uint8_t* q, int stride, uint8_t* dst, int dx, int dy) {
  uint8_t* d = pixel(dst, dx, dy, stride);
#pragma GCC unroll 16
  for (int r = 0; r < 16; ++r)
    sta(rowp(d, r, stride), _mm_avg_epu8(lda(p + 16 * r), lda(q + 16 * r)));
}

void diffblock_sse2(const uint8_t* source, const uint8_t* prediction, int16_t* err, int count) {
  const int groups = count >> 4;
  const __m128i z = _mm_setzero_si128();
  for (int g = 0; g < groups; ++g) {
    const ptrdiff_t o = static_cast<ptrdiff_t>(g) * 16;
    const __m128i s = lda(source + o), p = lda(prediction + o);
    __m128i* e = reinterpret_cast<__m128i*>(err + o);
    _mm_store_si128(e, _mm_sub_epi16(_mm_unpacklo_epi8(s, z), _mm_unpacklo_epi8(p, z)));
    _mm_store_si128(e + 1, _mm_sub_epi16(_mm_unpackhi_epi8(s, z), _mm_unpackhi_epi8(p, z)));
  }
}
