// A plug-in that goes wrong on purpose once it has served a few GOPs. OSTREL_TEST_PLUGIN says
// how: "hang" never returns (it sleeps on), "crash" dies of a segmentation fault; the calls
// before the fourth pass the matrices through unchanged. Each call first appends a line to
// "matrixcalls.txt" in the working folder, so a test sees how far the run got.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "extmatrix.h"

void EXTMATRIX(int32_t* gopclass, int32_t* meanluma, int16_t* intra, int16_t* nonintra) {
  static int calls = 0;
  if (FILE* f = fopen("matrixcalls.txt", "a")) {
    fprintf(f, "%d\n", int(*gopclass));
    fclose(f);
  }
  if (++calls < 4) return;
  const char* how = getenv("OSTREL_TEST_PLUGIN");
  if (how && strcmp(how, "hang") == 0)
    for (;;) sleep(1);
  if (how && strcmp(how, "crash") == 0) raise(SIGSEGV);
}
