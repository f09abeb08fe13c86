// An example matrix plug-in for the Ostrel encoder. Fast-changing GOPs hide fine detail, so
// their high-frequency weights rise, by up to a quarter for the highest frequency of a GOP of
// class 32; static GOPs (class 1) keep the chosen pair.
//
//   g++ -O2 -shared -fPIC -o matrix.dll example.cpp
#include "extmatrix.h"

void EXTMATRIX(int32_t* gopclass, int32_t* /*meanluma*/, int16_t* intra, int16_t* nonintra) {
  const int motion = *gopclass - 1;  // 0..31
  for (int i = 0; i < 64; ++i) {
    const int frequency = i / 8 + i % 8;                            // 0 (DC) .. 14
    const int percent = 100 + 25 * motion * frequency / (31 * 14);  // 100 .. 125
    intra[i] = int16_t(intra[i] * percent / 100);
    nonintra[i] = int16_t(nonintra[i] * percent / 100);
  }
}
