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

// Runs the identification instruction (leaf 1, then leaf 0) and fills words 0, 1 and 5-7 of rec.
// Returns rec. No failure path.
cpuidwords* cpuinfo(cpuidwords* rec);

// The level the words describe: 1 MMX, 2 SSE2, 3 SSE3, 4 SSSE3 with SSE3, 0 none; later tests
// override earlier ones (SSSE3 without SSE3 counts as what the earlier bits give). On x86-64 the
// real words always give 2 or more; 0 only comes from made-up words.
int cpulevelof(const cpuidwords& rec);
