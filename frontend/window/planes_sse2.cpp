// The 16-byte paths of the plane kernels: SSE2 registers, unaligned loads and stores (the
// preview planes are aligned, the tests try every offset); the bytes after the last whole
// 16-byte piece are done one by one.
#include <emmintrin.h>

#include "frontend/window/planes.h"

namespace {
inline __m128i ld16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void st16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
// Two partial sums of a 16-byte piece, one in each 64-bit lane.
inline __m128i sad16(const uint8_t* a, const uint8_t* b) { return _mm_sad_epu8(ld16(a), ld16(b)); }

int copy16(const uint8_t* s, uint8_t* d, int i, int size) {
  for (; i + 16 <= size; i += 16) st16(d + i, ld16(s + i));
  return i;
}
void copytail(const uint8_t* s, uint8_t* d, int i, int size) {
  for (; i < size; i++) d[i] = s[i];
}
}  // namespace

int32_t planesad_sse2(const uint8_t* a, const uint8_t* b, int size) {
  __m128i acc = _mm_setzero_si128();
  int i = 0;
  // 256-byte blocks: sixteen pieces, four running sums.
  for (; i + 256 <= size; i += 256) {
    __m128i s0 = _mm_setzero_si128(), s1 = s0, s2 = s0, s3 = s0;
#pragma GCC unroll 4
    for (int k = 0; k < 256; k += 64) {
      s0 = _mm_add_epi64(s0, sad16(a + i + k, b + i + k));
      s1 = _mm_add_epi64(s1, sad16(a + i + k + 16, b + i + k + 16));
      s2 = _mm_add_epi64(s2, sad16(a + i + k + 32, b + i + k + 32));
      s3 = _mm_add_epi64(s3, sad16(a + i + k + 48, b + i + k + 48));
    }
    acc = _mm_add_epi64(acc, _mm_add_epi64(_mm_add_epi64(s0, s1), _mm_add_epi64(s2, s3)));
  }
  for (; i + 16 <= size; i += 16) acc = _mm_add_epi64(acc, sad16(a + i, b + i));
  uint32_t s = uint32_t(_mm_cvtsi128_si32(acc)) + uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(acc, 8)));
  for (; i < size; i++) s += uint32_t(a[i] > b[i] ? a[i] - b[i] : b[i] - a[i]);
  return int32_t(s);
}

void copyblocks256_sse2(const uint8_t* source, uint8_t* destination, int size) {
  int i = 0;
  for (; i + 256 <= size; i += 256) {
#pragma GCC unroll 16
    for (int k = 0; k < 256; k += 16) st16(destination + i + k, ld16(source + i + k));
  }
  copytail(source, destination, copy16(source, destination, i, size), size);
}

void copyblocks16_sse2(const uint8_t* source, uint8_t* destination, int size) {
  copytail(source, destination, copy16(source, destination, 0, size), size);
}
