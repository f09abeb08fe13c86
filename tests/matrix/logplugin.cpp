// A plug-in that logs every call to "matrixcalls.txt" in the working folder, one line each:
// the class, the mean luma, intra[0], intra[1], intra[63], nonintra[0], nonintra[63] as they
// came in. Then it raises every weight by one and scribbles over the class and the mean luma,
// which the encoder must ignore (the next GOP still starts from the chosen pair).
#include <stdio.h>

#include "extmatrix.h"

void EXTMATRIX(int32_t* gopclass, int32_t* meanluma, int16_t* intra, int16_t* nonintra) {
  if (FILE* f = fopen("matrixcalls.txt", "a")) {
    fprintf(f, "%d %d %d %d %d %d %d\n", int(*gopclass), int(*meanluma), intra[0], intra[1],
            intra[63], nonintra[0], nonintra[63]);
    fclose(f);
  }
  for (int i = 0; i < 64; ++i) {
    intra[i] = int16_t(intra[i] + 1);
    nonintra[i] = int16_t(nonintra[i] + 1);
  }
  *gopclass = 0;
  *meanluma = -1;
}
