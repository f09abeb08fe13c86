// The plane kernels' references, the mode word and the entries that pick a path by it.
#include "frontend/window/planes.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<int> modeword{0};
}

void setcpumode(int level) { modeword.store(level, std::memory_order_relaxed); }
int cpumode() { return modeword.load(std::memory_order_relaxed); }

planepath planepathfor(int level) { return level == 1 ? planemmx : planesse2; }

int32_t planesad_c(const uint8_t* a, const uint8_t* b, int size) {
  uint32_t s = 0;
  for (int i = 0; i < size; i++) s += uint32_t(std::abs(a[i] - b[i]));
  return int32_t(s);
}

void copyblocks_c(const uint8_t* source, uint8_t* destination, int size) {
  for (int i = 0; i < size; i++) destination[i] = source[i];
}

int32_t planesad(const uint8_t* a, const uint8_t* b, int size) {
  return planepathfor(cpumode()) == planemmx ? planesad_mmx(a, b, size) : planesad_sse2(a, b, size);
}

void copyblocks256(const uint8_t* source, uint8_t* destination, int size) {
  if (planepathfor(cpumode()) == planemmx) copyblocks256_mmx(source, destination, size);
  else copyblocks256_sse2(source, destination, size);
}

void copyblocks16(const uint8_t* source, uint8_t* destination, int size) {
  if (planepathfor(cpumode()) == planemmx) copyblocks16_mmx(source, destination, size);
  else copyblocks16_sse2(source, destination, size);
}
