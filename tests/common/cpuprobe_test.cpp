// The processor probe both programs share, fed with made-up words and run on the real processor.
#include <gtest/gtest.h>

#include <cstring>

#include "common/cpuprobe.h"

TEST(cpuprobe, processorwordsgivelevels) {
  const struct {
    const char* what;
    uint32_t ecx, edx;
    int level;
  } cases[] = {
      {"none", 0, 0, 0},
      {"MMX only", 0, cpuidmmx, 1},
      {"MMX and SSE2", 0, cpuidmmx | cpuidsse2, 2},
      {"SSE2 without MMX (later test wins)", 0, cpuidsse2, 2},
      {"SSE3", cpuidsse3, cpuidmmx | cpuidsse2, 3},
      {"SSSE3 with SSE3", cpuidsse3 | cpuidssse3, cpuidmmx | cpuidsse2, 4},
      {"SSSE3 without SSE3", cpuidssse3, cpuidmmx | cpuidsse2, 2},
      {"SSSE3 alone", cpuidssse3, 0, 0},
      {"other bits only", ~(cpuidsse3 | cpuidssse3), ~(cpuidmmx | cpuidsse2), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(cpulevelof(featurewords(c.ecx, c.edx)), c.level) << c.what;
}

TEST(cpuprobe, realprocessorhasmmxandsse2) {
  // On x86-64 both are part of the architecture: level 0 only comes from made-up words.
  cpuidwords w;
  cpuinfo(&w);
  EXPECT_GE(cpulevelof(w), 2);
}

TEST(cpuprobe, cpuinfokeepswords2to4andgivesthevendor) {
  cpuidwords w;
  for (int i = 0; i < 8; ++i) w.word[i] = 0xdead0000u + i;
  EXPECT_EQ(cpuinfo(&w), &w);
  EXPECT_EQ(w.word[2], 0xdead0002u);
  EXPECT_EQ(w.word[3], 0xdead0003u);
  EXPECT_EQ(w.word[4], 0xdead0004u);
  char vendor[13] = {};
  std::memcpy(vendor, &w.word[5], 12);
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(vendor[i] >= 32 && vendor[i] < 127) << vendor;
  EXPECT_NE(w.word[1] & cpuidmmx, 0u);
  EXPECT_NE(w.word[1] & cpuidsse2, 0u);
}
