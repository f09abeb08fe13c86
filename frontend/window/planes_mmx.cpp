// The 8-byte paths of the plane kernels: MMX registers with the integer SSE instruction
// PSADBW. No alignment is needed; the bytes after the last whole 8-byte piece are done one by
// one. Every entry point ends with EMMS (_mm_empty).
// With SSE2 switched off for this file the 8-byte operations stay on the MMX registers.
#pragma GCC target("no-sse2")
#include <xmmintrin.h>

#include <cstring>

#include "frontend/window/planes.h"

namespace {
inline __m64 ld8(const uint8_t* p) {
  __m64 v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void st8(uint8_t* p, __m64 v) { std::memcpy(p, &v, 8); }
inline __m64 sad8(const uint8_t* a, const uint8_t* b) { return _mm_sad_pu8(ld8(a), ld8(b)); }

// The 8-byte moves of a copy from byte i on; returns where they stopped.
int copy8(const uint8_t* s, uint8_t* d, int i, int size) {
  for (; i + 8 <= size; i += 8) st8(d + i, ld8(s + i));
  _mm_empty();
  return i;
}
void copytail(const uint8_t* s, uint8_t* d, int i, int size) {
  for (; i < size; i++) d[i] = s[i];
}
}  // namespace

int32_t planesad_mmx(const uint8_t* a, const uint8_t* b, int size) {
  __m64 acc = _mm_setzero_si64();
  int i = 0;
  // 128-byte blocks: sixteen pieces, two running sums.
  for (; i + 128 <= size; i += 128) {
    __m64 s0 = _mm_setzero_si64(), s1 = _mm_setzero_si64();
#pragma GCC unroll 8
    for (int k = 0; k < 128; k += 16) {
      s0 = _mm_add_pi32(s0, sad8(a + i + k, b + i + k));
      s1 = _mm_add_pi32(s1, sad8(a + i + k + 8, b + i + k + 8));
    }
    acc = _mm_add_pi32(acc, _mm_add_pi32(s0, s1));
  }
  for (; i + 8 <= size; i += 8) acc = _mm_add_pi32(acc, sad8(a + i, b + i));
  uint32_t s = uint32_t(_mm_cvtsi64_si32(acc));
  _mm_empty();
  for (; i < size; i++) s += uint32_t(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
  return int32_t(s);
}

void copyblocks256_mmx(const uint8_t* source, uint8_t* destination, int size) {
  int i = 0;
  for (; i + 256 <= size; i += 256) {
#pragma GCC unroll 32
    for (int k = 0; k < 256; k += 8) st8(destination + i + k, ld8(source + i + k));
  }
  copytail(source, destination, copy8(source, destination, i, size), size);
}

void copyblocks16_mmx(const uint8_t* source, uint8_t* destination, int size) {
  copytail(source, destination, copy8(source, destination, 0, size), size);
}
