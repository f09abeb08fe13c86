// The processor probe both programs use: the identification words and the SIMD level they
// describe. cpulevelof is a pure function of the words, so tests can feed made-up ones.
#pragma once

#include <cstdint>

// The processor's identification words, as cpuinfo leaves them:
//   word 0  leaf 1 ECX (bit 0 SSE3, bit 9 SSSE3)
//   word 1  leaf 1 EDX (bit 23 MMX, bit 26 SSE2)
//   words 2-4 untouched by cpuinfo
//   words 5-7 leaf 0 EBX, EDX, ECX: the 12-character vendor text in reading order
struct cpuidwords {
  uint32_t word[8] = {0, 0, 0, 0, 0, 0, 0, 0};
};

// The feature bits the levels come from: of leaf 1 EDX (word 1) and ECX (word 0).
constexpr uint32_t cpuidmmx = 1u << 23, cpuidsse2 = 1u << 26;
constexpr uint32_t cpuidsse3 = 1u, cpuidssse3 = 1u << 9;
// Words that carry only the given feature words (made-up processors for tests).
inline cpuidwords featurewords(uint32_t ecx, uint32_t edx) {
  cpuidwords w;
  w.word[0] = ecx;
  w.word[1] = edx;
  return w;
}

// Runs the identification instruction (leaf 1, then leaf 0) and fills words 0, 1 and 5-7 of rec.
// Returns rec. No failure path.
cpuidwords* cpuinfo(cpuidwords* rec);

// The level the words describe: 1 MMX, 2 SSE2, 3 SSE3, 4 SSSE3 with SSE3, 0 none; later tests
// override earlier ones (SSSE3 without SSE3 counts as what the earlier bits give). On x86-64 the
// real words always give 2 or more; 0 only comes from made-up words.
int cpulevelof(const cpuidwords& rec);
