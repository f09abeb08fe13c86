// The forms of the block kernels this host can run, for the tests and the benchmark.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "encoder/coding/transform.h"

struct kernelform {
  std::string name;
  int32_t level;  // dctlevel set before each call (0: left alone)
  intrakernel intra;
  interkernel inter;
};

inline bool hostruns(int level) {
  __builtin_cpu_init();
  switch (level) {
    case 1: return __builtin_cpu_supports("mmx") && __builtin_cpu_supports("sse");
    case 2: return __builtin_cpu_supports("sse2");
    case 3: return __builtin_cpu_supports("sse3");
    case 4: return __builtin_cpu_supports("ssse3");
  }
  return false;
}

// Every path on its own, then the two entry points at every level word the host runs.
inline std::vector<kernelform> hostforms() {
  std::vector<kernelform> f;
  if (hostruns(1)) f.push_back({"mmx", 0, intrablock_mmx, interblock_mmx});
  if (hostruns(2)) f.push_back({"sse2", 0, intrablock_sse2, interblock_sse2});
  if (hostruns(4)) f.push_back({"ssse3", 0, intrablock_ssse3, interblock_ssse3});
  for (int level = 1; level <= 4; level++) {
    if (!hostruns(level)) continue;
    f.push_back({"intrablockmmx/interblockmmx@" + std::to_string(level), level, intrablockmmx,
                 interblockmmx});
    if (level >= 2)
      f.push_back({"intrablock/interblock@" + std::to_string(level), level, intrablock,
                   interblock});
  }
  return f;
}

struct idctform {
  std::string name;
  idctkernel idct;
};

inline std::vector<idctform> hostidcts() {
  std::vector<idctform> f{{"c", idctblock_c}};
  if (hostruns(1)) f.push_back({"mmx", idctblock_mmx});
  if (hostruns(2)) f.push_back({"sse2", idctblock_sse2});
  return f;
}
