// The paths of a kernel as the tests run them: each direct path function the host can run,
// and the level-dispatched entry point at every level the host can run.
#pragma once

#include <vector>

#include "encoder/motion/cpu.h"
#include "tests/motion/harness.h"

template <class F>
struct kpath {
  const char* name;
  int need;        // level the host needs: 0 reference, 1 MMX, 2 SSE2, 3 SSE3
  F fn;
  int level = -1;  // >= 0: fn is the dispatcher, run with kernellevel = level
  bool srcaligned = false;  // the path loads its source aligned (sse2a)
  // Paths that take any alignment (the reference, MMX and the level 1 dispatcher).
  bool anyalign() const { return need <= 1; }
};

template <class F>
std::vector<kpath<F>> hostpaths(std::initializer_list<kpath<F>> all) {
  std::vector<kpath<F>> v;
  for (const kpath<F>& p : all)
    if (hostruns(p.need)) v.push_back(p);
  return v;
}

// Runs one path: sets kernellevel for a dispatcher, and clears it again afterwards.
template <class F, class... A>
auto runpath(const kpath<F>& p, A... a) {
  struct reset {
    ~reset() { setcpumode(0); }
  } r;
  if (p.level >= 0) setcpumode(p.level);
  return p.fn(a...);
}

// The dispatcher at every level (level 4 runs the SSE3 code, so it needs SSE3 only).
#define OSTREL_LEVELS(k) \
  {"level 1", 1, k, 1}, {"level 2", 2, k, 2}, {"level 3", 3, k, 3}, { "level 4", 3, k, 4 }
#define OSTREL_PATHS_C_MMX(k) {"c", 0, k##_c}, {"mmx", 1, k##_mmx}, OSTREL_LEVELS(k)
#define OSTREL_PATHS_TWO(k) \
  {"c", 0, k##_c}, {"mmx", 1, k##_mmx}, {"sse2", 2, k##_sse2}, OSTREL_LEVELS(k)
#define OSTREL_PATHS_THREE(k)                                                       \
  {"c", 0, k##_c}, {"mmx", 1, k##_mmx}, {"sse2", 2, k##_sse2}, {"sse3", 3, k##_sse3}, \
      OSTREL_LEVELS(k)
#define OSTREL_PATHS_ALIGNED(k)                                                       \
  {"c", 0, k##_c}, {"mmx", 1, k##_mmx}, {"sse2", 2, k##_sse2}, {"sse2a", 2, k##_sse2a, -1, true}, \
      {"sse3", 3, k##_sse3}, OSTREL_LEVELS(k)
