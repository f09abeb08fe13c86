// The processor probe both programs share, fed with made-up words and run on the real processor.
#include <gtest/gtest.h>

#include <cstring>

#include "common/cpuprobe.h"

namespace {

constexpr uint32_t mmxbit = 1u << 23, sse2bit = 1u << 26, sse3bit = 1u, ssse3bit = 1u << 9;

cpuidwords words(uint32_t ecx, uint32_t edx) {
  cpuidwords w;
  w.word[0] = ecx;
  w.word[1] = edx;
  return w;
}

}  // namespace

TEST(cpuprobe, processorwordsgivelevels) {
  const struct {
    const char* what;
    uint32_t ecx, edx;
    int level;
  } cases[] = {
      {"none", 0, 0, 0},
      {"MMX only", 0, mmxbit, 1},
      {"MMX and SSE2", 0, mmxbit | sse2bit, 2},
      {"SSE2 without MMX (later test wins)", 0, sse2bit, 2},
      {"SSE3", sse3bit, mmxbit | sse2bit, 3},
      {"SSSE3 with SSE3", sse3bit | ssse3bit, mmxbit | sse2bit, 4},
      {"SSSE3 without SSE3", ssse3bit, mmxbit | sse2bit, 2},
      {"SSSE3 alone", ssse3bit, 0, 0},
      {"other bits only", ~(sse3bit | ssse3bit), ~(mmxbit | sse2bit), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(cpulevelof(words(c.ecx, c.edx)), c.level) << c.what;
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
  EXPECT_NE(w.word[1] & mmxbit, 0u);
  EXPECT_NE(w.word[1] & sse2bit, 0u);
}
