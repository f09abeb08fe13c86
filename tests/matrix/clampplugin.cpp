// A plug-in whose weights the encoder must not trust: 0 everywhere, a negative weight, 300 in
// the intra DC position and in one more entry of each matrix.
#include "extmatrix.h"

void EXTMATRIX(int32_t*, int32_t*, int16_t* intra, int16_t* nonintra) {
  for (int i = 0; i < 64; ++i) intra[i] = nonintra[i] = 0;
  intra[0] = 300;    // the DC weight is always 8
  intra[9] = 300;    // row 1, column 1
  intra[1] = -300;
  nonintra[63] = 300;
}
