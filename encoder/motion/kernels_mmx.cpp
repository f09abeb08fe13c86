// The MMX paths: 8-byte MMX registers with the integer SSE instructions PAVGB and PSADBW; a
// 16-pixel row is done as two 8-pixel halves, the left half over all rows first. No alignment
// is needed anywhere. Every entry point ends with EMMS (_mm_empty).
// On x86-64 the compiler would carry the 8-byte operations in SSE registers; with SSE2
// switched off for this file they stay on the MMX registers this path is meant for.
#pragma GCC target("no-sse2")
#include <xmmintrin.h>

#include <cstddef>
#include <cstring>

#include "encoder/motion/kernels.h"

namespace {

inline __m64 ld8(const uint8_t* p) {
  __m64 v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void st8(uint8_t* p, __m64 v) { std::memcpy(p, &v, 8); }
inline const uint8_t* rowp(const uint8_t* p, int r, int stride) {
  return p + static_cast<ptrdiff_t>(r) * stride;
}
inline uint8_t* rowp(uint8_t* p, int r, int stride) { return p + static_cast<ptrdiff_t>(r) * stride; }
inline const uint8_t* pixel(const uint8_t* plane, int x, int y, int stride) {
  return plane + (static_cast<ptrdiff_t>(y) * stride + x);
}
inline uint8_t* pixel(uint8_t* plane, int x, int y, int stride) {
  return plane + (static_cast<ptrdiff_t>(y) * stride + x);
}
inline uint32_t low32(__m64 v) { return static_cast<uint32_t>(_mm_cvtsi64_si32(v)); }

// SAD of an n-row area, 8 columns wide, against a block whose rows lie bstride apart.
template <int n>
__m64 sadcols(const uint8_t* s, int stride, const uint8_t* block, int bstride, __m64 acc) {
#pragma GCC unroll 16
  for (int r = 0; r < n; ++r)
    acc = _mm_add_pi32(acc, _mm_sad_pu8(ld8(rowp(s, r, stride)), ld8(block + bstride * r)));
  return acc;
}

// The predictions of an n-row, 8-column strip.
template <int n>
void predxycols(const uint8_t* s, int stride, uint8_t* d, int dstride) {
  const __m64 z = _mm_setzero_si64(), two = _mm_set1_pi16(2);
  auto sums = [&](const uint8_t* p, __m64& lo, __m64& hi) {
    const __m64 a = ld8(p), b = ld8(p + 1);
    lo = _mm_add_pi16(_mm_unpacklo_pi8(a, z), _mm_unpacklo_pi8(b, z));
    hi = _mm_add_pi16(_mm_unpackhi_pi8(a, z), _mm_unpackhi_pi8(b, z));
  };
  __m64 lo0, hi0, lo1, hi1;
  sums(s, lo0, hi0);
#pragma GCC unroll 16
  for (int r = 0; r < n; ++r) {
    sums(rowp(s, r + 1, stride), lo1, hi1);
    const __m64 lo = _mm_srli_pi16(_mm_add_pi16(_mm_add_pi16(lo0, lo1), two), 2);
    const __m64 hi = _mm_srli_pi16(_mm_add_pi16(_mm_add_pi16(hi0, hi1), two), 2);
    st8(rowp(d, r, dstride), _mm_packs_pu16(lo, hi));
    lo0 = lo1;
    hi0 = hi1;
  }
}
template <int n>
void predxcols(const uint8_t* s, int stride, uint8_t* d, int dstride) {
#pragma GCC unroll 16
  for (int r = 0; r < n; ++r) {
    const uint8_t* p = rowp(s, r, stride);
    st8(rowp(d, r, dstride), _mm_avg_pu8(ld8(p), ld8(p + 1)));
  }
}
template <int n>
void predycols(const uint8_t* s, int stride, uint8_t* d, int dstride) {
  __m64 a = ld8(s);
#pragma GCC unroll 16
  for (int r = 0; r < n; ++r) {
    const __m64 b = ld8(rowp(s, r + 1, stride));
    st8(rowp(d, r, dstride), _mm_avg_pu8(a, b));
    a = b;
  }
}
template <int n>
void copycols(const uint8_t* s, int stride, uint8_t* d, int dstride) {
#pragma GCC unroll 16
  for (int r = 0; r < n; ++r) st8(rowp(d, r, dstride), ld8(rowp(s, r, stride)));
}

// ---- half-pel grid over the unavailable sides; both halves into the same accumulators ----
template <unsigned sides, bool store>
void gridbody(const uint8_t* plane, int xm1, int ym1, int stride, const uint8_t* src,
              int32_t* out, uint8_t* blocks) {
  constexpr bool up = !(sides & 1u), down = !(sides & 2u);
  constexpr bool left = !(sides & 4u), right = !(sides & 8u);
  constexpr int first = up ? 0 : 1, last = down ? 17 : 16;
  __m64 acc[9];
  for (int k = 0; k < 9; ++k) acc[k] = _mm_setzero_si64();
#pragma GCC unroll 2
  for (int half = 0; half < 16; half += 8) {
    auto take = [&](int k, int i, __m64 v) {
      acc[k] = _mm_add_pi32(acc[k], _mm_sad_pu8(v, ld8(src + 16 * i + half)));
      if constexpr (store) st8(blocks + 256 * (k == 8 ? 0 : k + 1) + 16 * i + half, v);
    };
    __m64 pc = _mm_setzero_si64(), pl = pc, pr = pc;
#pragma GCC unroll 18
    for (int r = first; r <= last; ++r) {
      // Window columns half .. half + 9: the left one only with the left side, the right one
      // (column 17 in the right half) only with the right side.
      const ptrdiff_t off = static_cast<ptrdiff_t>(ym1 + r) * stride + xm1 + half;
      const __m64 c = ld8(plane + (off + 1));
      __m64 hl = c, hr = c;
      if constexpr (left) hl = _mm_avg_pu8(ld8(plane + off), c);
      if constexpr (right) hr = _mm_avg_pu8(c, ld8(plane + (off + 2)));
      if (r > first) {
        const __m64 v = _mm_avg_pu8(pc, c);
        __m64 vl = v, vr = v;
        if constexpr (left) vl = _mm_avg_pu8(pl, hl);
        if constexpr (right) vr = _mm_avg_pu8(pr, hr);
        if constexpr (down) {
          if (r >= 2) {
            take(6, r - 2, v);
            if constexpr (left) take(5, r - 2, vl);
            if constexpr (right) take(7, r - 2, vr);
          }
        }
        if constexpr (up) {
          if (r <= 16) {
            take(1, r - 1, v);
            if constexpr (left) take(0, r - 1, vl);
            if constexpr (right) take(2, r - 1, vr);
          }
        }
      }
      if (r >= 1 && r <= 16) {
        take(8, r - 1, c);
        if constexpr (left) take(3, r - 1, hl);
        if constexpr (right) take(4, r - 1, hr);
      }
      pc = c;
      pl = hl;
      pr = hr;
    }
  }
  constexpr bool valid[8] = {up && left, up, up && right, left, right, down && left, down,
                             down && right};
  for (int k = 0; k < 8; ++k) out[k] = valid[k] ? static_cast<int32_t>(low32(acc[k])) : 16777215;
  out[8] = static_cast<int32_t>(low32(acc[8]));
  _mm_empty();
}

template <unsigned sides>
void gridmember(const uint8_t* plane, int xm1, int ym1, int stride, const uint8_t* src,
                int32_t* out) {
  gridbody<sides, false>(plane, xm1, ym1, stride, src, out, nullptr);
}

}  // namespace

void blockstatsmmx(const uint8_t* a, const uint8_t* b, int x, int y, int stride, uint32_t* sum,
                   uint32_t* sad, uint32_t* activity) {
  const uint8_t* pa = pixel(a, x, y, stride);
  const uint8_t* pb = pixel(b, x, y, stride);
  const __m64 z = _mm_setzero_si64();
  __m64 s = z, d = z, sq = z;
#pragma GCC unroll 2
  for (int half = 0; half < 16; half += 8) {
#pragma GCC unroll 16
    for (int r = 0; r < 16; ++r) {
      const __m64 va = ld8(rowp(pa, r, stride) + half), vb = ld8(rowp(pb, r, stride) + half);
      // The pixel sum in 16-bit lanes: one lane gathers 64 pixels (<= 16,320).
      const __m64 lo = _mm_unpacklo_pi8(va, z), hi = _mm_unpackhi_pi8(va, z);
      s = _mm_add_pi16(s, _mm_add_pi16(lo, hi));
      d = _mm_add_pi32(d, _mm_sad_pu8(va, vb));
      sq = _mm_add_pi32(sq, _mm_add_pi32(_mm_madd_pi16(lo, lo), _mm_madd_pi16(hi, hi)));
    }
  }
  const __m64 s32 = _mm_madd_pi16(s, _mm_set1_pi16(1));
  const uint32_t total = low32(s32) + low32(_mm_srli_si64(s32, 32));
  *sum = total;
  *sad = low32(d);
  *activity = low32(sq) + low32(_mm_srli_si64(sq, 32)) - (total >> 4) * (total >> 4);
  _mm_empty();
}

uint32_t sadframes_mmx(const uint8_t* a, const uint8_t* b, int count) {
  const int chunks = count >> 8;
  __m64 acc = _mm_setzero_si64();
  for (int n = 0; n < chunks; ++n) {
    const uint8_t* pa = a + static_cast<ptrdiff_t>(n) * 256;
    const uint8_t* pb = b + static_cast<ptrdiff_t>(n) * 256;
#pragma GCC unroll 4
    for (int g = 0; g < 256; g += 64) {
      __m64 t = _mm_add_pi32(_mm_sad_pu8(ld8(pa + g), ld8(pb + g)),
                             _mm_sad_pu8(ld8(pa + g + 8), ld8(pb + g + 8)));
      t = _mm_add_pi32(t, _mm_add_pi32(_mm_sad_pu8(ld8(pa + g + 16), ld8(pb + g + 16)),
                                       _mm_sad_pu8(ld8(pa + g + 24), ld8(pb + g + 24))));
      t = _mm_add_pi32(t, _mm_add_pi32(_mm_sad_pu8(ld8(pa + g + 32), ld8(pb + g + 32)),
                                       _mm_sad_pu8(ld8(pa + g + 40), ld8(pb + g + 40))));
      t = _mm_add_pi32(t, _mm_add_pi32(_mm_sad_pu8(ld8(pa + g + 48), ld8(pb + g + 48)),
                                       _mm_sad_pu8(ld8(pa + g + 56), ld8(pb + g + 56))));
      acc = _mm_add_pi32(acc, t);
    }
  }
  const uint32_t r = low32(acc);
  _mm_empty();
  return r;
}

void sad16_mmx(const uint8_t* plane, int x, int y, int stride, const uint8_t* block,
               uint32_t* result) {
  const uint8_t* s = pixel(plane, x, y, stride);
  __m64 acc = sadcols<16>(s, stride, block, 16, _mm_setzero_si64());
  acc = sadcols<16>(s + 8, stride, block + 8, 16, acc);
  *result = low32(acc);
  _mm_empty();
}

void sad8_mmx(const uint8_t* plane, int x, int y, int stride, const uint8_t* block,
              uint32_t* result) {
  *result = low32(sadcols<8>(pixel(plane, x, y, stride), stride, block, 8, _mm_setzero_si64()));
  _mm_empty();
}

void put8_mmx(uint8_t* plane, int x, int y, int stride, const uint8_t* block) {
  uint8_t* d = pixel(plane, x, y, stride);
#pragma GCC unroll 8
  for (int r = 0; r < 8; ++r) st8(rowp(d, r, stride), ld8(block + 8 * r));
  _mm_empty();
}

uint32_t sadavg16_mmx(const uint8_t* p, const uint8_t* q, const uint8_t* s) {
  __m64 acc = _mm_setzero_si64();
#pragma GCC unroll 2
  for (int half = 0; half < 16; half += 8) {
#pragma GCC unroll 16
    for (int r = 0; r < 16; ++r) {
      const int o = 16 * r + half;
      acc = _mm_add_pi32(acc, _mm_sad_pu8(_mm_avg_pu8(ld8(p + o), ld8(q + o)), ld8(s + o)));
    }
  }
  const uint32_t t = low32(acc);
  _mm_empty();
  return t;
}

#define OSTREL_PRED_MMX(name, cols)                                                          \
  void name##16_mmx(const uint8_t* ref, int x, int y, int stride, uint8_t* dst, int dx,      \
                    int dy) {                                                                \
    const uint8_t* s = pixel(ref, x, y, stride);                                             \
    uint8_t* d = pixel(dst, dx, dy, stride);                                                 \
    cols<16>(s, stride, d, stride);                                                          \
    cols<16>(s + 8, stride, d + 8, stride);                                                  \
    _mm_empty();                                                                             \
  }                                                                                          \
  void name##16blk_mmx(const uint8_t* ref, int x, int y, int stride, uint8_t* block) {       \
    const uint8_t* s = pixel(ref, x, y, stride);                                             \
    cols<16>(s, stride, block, 16);                                                          \
    cols<16>(s + 8, stride, block + 8, 16);                                                  \
    _mm_empty();                                                                             \
  }                                                                                          \
  void name##8_mmx(const uint8_t* ref, int x, int y, int stride, uint8_t* dst, int dx, int dy) { \
    cols<8>(pixel(ref, x, y, stride), stride, pixel(dst, dx, dy, stride), stride);           \
    _mm_empty();                                                                             \
  }                                                                                          \
  void name##8blk_mmx(const uint8_t* ref, int x, int y, int stride, uint8_t* block) {        \
    cols<8>(pixel(ref, x, y, stride), stride, block, 8);                                     \
    _mm_empty();                                                                             \
  }
OSTREL_PRED_MMX(predxy, predxycols)
OSTREL_PRED_MMX(predx, predxcols)
OSTREL_PRED_MMX(predy, predycols)
OSTREL_PRED_MMX(copy, copycols)

void avg16_mmx(const uint8_t* p, const uint8_t* q, int stride, uint8_t* dst, int dx, int dy) {
  uint8_t* d = pixel(dst, dx, dy, stride);
#pragma GCC unroll 2
  for (int half = 0; half < 16; half += 8) {
#pragma GCC unroll 16
    for (int r = 0; r < 16; ++r)
      st8(rowp(d, r, stride) + half, _mm_avg_pu8(ld8(p + 16 * r + half), ld8(q + 16 * r + half)));
  }
  _mm_empty();
}

void avg8_mmx(const uint8_t* p, const uint8_t* q, int stride, uint8_t* dst, int dx, int dy) {
  uint8_t* d = pixel(dst, dx, dy, stride);
#pragma GCC unroll 8
  for (int r = 0; r < 8; ++r) st8(rowp(d, r, stride), _mm_avg_pu8(ld8(p + 8 * r), ld8(q + 8 * r)));
  _mm_empty();
}

void diffblock_mmx(const uint8_t* source, const uint8_t* prediction, int16_t* err, int count) {
  const int groups = count >> 4;
  const __m64 z = _mm_setzero_si64();
  for (int g = 0; g < groups; ++g) {
    const ptrdiff_t o = static_cast<ptrdiff_t>(g) * 16;
#pragma GCC unroll 2
    for (int h = 0; h < 16; h += 8) {
      const __m64 s = ld8(source + o + h), p = ld8(prediction + o + h);
      const __m64 lo = _mm_sub_pi16(_mm_unpacklo_pi8(s, z), _mm_unpacklo_pi8(p, z));
      const __m64 hi = _mm_sub_pi16(_mm_unpackhi_pi8(s, z), _mm_unpackhi_pi8(p, z));
      std::memcpy(err + o + h, &lo, 8);
      std::memcpy(err + o + h + 4, &hi, 8);
    }
  }
  _mm_empty();
}

// ---- grid members ----
#define OSTREL_MEMBER(n, sides)                                                             \
  void n##mmx(const uint8_t* plane, int xm1, int ym1, int stride, const uint8_t* source,    \
              int32_t* gridsad) {                                                           \
    gridbody<sides, false>(plane, xm1, ym1, stride, source, gridsad, nullptr);              \
  }
OSTREL_MEMBER(hpelsad, 0)
OSTREL_MEMBER(hpelsadtl, sidetop | sideleft)
OSTREL_MEMBER(hpelsadt, sidetop)
OSTREL_MEMBER(hpelsadtr, sidetop | sideright)
OSTREL_MEMBER(hpelsadl, sideleft)
OSTREL_MEMBER(hpelsadr, sideright)
OSTREL_MEMBER(hpelsadbl, sidebottom | sideleft)
OSTREL_MEMBER(hpelsadb, sidebottom)
OSTREL_MEMBER(hpelsadbr, sidebottom | sideright)
#undef OSTREL_MEMBER

void hpelsadpredmmx(const uint8_t* plane, int xm1, int ym1, int stride, const uint8_t* source,
                    int32_t* gridsad, uint8_t* blocks) {
  gridbody<0, true>(plane, xm1, ym1, stride, source, gridsad, blocks);
}

const gridkernel hpelsadtable_mmx[16] = {
    gridmember<0>,  gridmember<1>,  gridmember<2>,  gridmember<3>, gridmember<4>,  gridmember<5>,
    gridmember<6>,  gridmember<7>,  gridmember<8>,  gridmember<9>, gridmember<10>, gridmember<11>,
    gridmember<12>, gridmember<13>, gridmember<14>, gridmember<15>};
