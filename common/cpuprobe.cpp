#include "common/cpuprobe.h"

#include <cpuid.h>

cpuidwords* cpuinfo(cpuidwords* rec) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  __cpuid(1, a, b, c, d);
  rec->word[0] = c;
  rec->word[1] = d;
  __cpuid(0, a, b, c, d);
  rec->word[5] = b;
  rec->word[6] = d;
  rec->word[7] = c;
  return rec;
}

int cpulevelof(const cpuidwords& rec) {
  const uint32_t ecx = rec.word[0], edx = rec.word[1];
  int level = 0;
  if (edx & cpuidmmx) level = 1;
  if (edx & cpuidsse2) level = 2;
  if (ecx & cpuidsse3) {
    level = 3;
    if (ecx & cpuidssse3) level = 4;
  }
  return level;
}
