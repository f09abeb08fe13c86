#include "encoder/motion/cpu.h"

#include "encoder/control/settings.h"

cpuidwords cpuwords;
int32_t kernellevel = 0;

void getcpulevelfrom(const cpuidwords& rec, int& code) {
  cpuwords = rec;
  settings.simdlevel = cpulevelof(rec);
  code = settings.simdlevel == 0 ? 264 : 0;
}

void getcpulevel(int& code) {
  cpuidwords rec;
  cpuinfo(&rec);
  getcpulevelfrom(rec, code);
}

int cappedcpulevel(int choice, int detected) {
  if (choice < 1 || choice > 4) return detected;
  return choice < detected ? choice : detected;
}

void setcpumode(int level) { kernellevel = level; }

kernelpath pathaligned(int level, const void* source) {
  if (level <= 0) return pathc;
  if (level == 1) return pathmmx;
  if ((reinterpret_cast<uintptr_t>(source) & 15) == 0) return pathsse2a;
  if (level >= 3) return pathsse3;
  return pathsse2;
}

kernelpath pathsad(int level) {
  if (level <= 0) return pathc;
  if (level >= 3) return pathsse3;
  if (level == 1) return pathmmx;
  return pathsse2;
}

kernelpath pathtwo(int level) {
  if (level <= 0) return pathc;
  return level == 1 ? pathmmx : pathsse2;
}

kernelpath pathmmxonly(int level) { return level <= 0 ? pathc : pathmmx; }

kernelpath pathgrid(int level) {
  if (level <= 0) return pathc;
  if (level == 1) return pathmmx;
  return level == 2 ? pathsse2 : pathsse3;
}
