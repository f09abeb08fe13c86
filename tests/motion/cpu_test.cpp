// The processor probe, the level cap and the path rules, fed with made-up words and addresses.
#include <gtest/gtest.h>

#include <cstring>

#include "encoder/control/settings.h"
#include "encoder/motion/cpu.h"

namespace {

constexpr uint32_t mmxbit = 1u << 23, sse2bit = 1u << 26, sse3bit = 1u, ssse3bit = 1u << 9;

cpuidwords words(uint32_t ecx, uint32_t edx) {
  cpuidwords w;
  w.word[0] = ecx;
  w.word[1] = edx;
  return w;
}

struct levelcase {
  const char* what;
  uint32_t ecx, edx;
  int level;
};

TEST(cpulevel, processorwordsgivelevels) {
  const levelcase cases[] = {
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
  for (const levelcase& c : cases) {
    EXPECT_EQ(cpulevelof(words(c.ecx, c.edx)), c.level) << c.what;
    int code = -1;
    getcpulevelfrom(words(c.ecx, c.edx), code);
    EXPECT_EQ(settings.simdlevel, c.level) << c.what;
    EXPECT_EQ(code, c.level == 0 ? 264 : 0) << c.what;
    EXPECT_EQ(cpuwords.word[0], c.ecx) << c.what;
    EXPECT_EQ(cpuwords.word[1], c.edx) << c.what;
  }
}

TEST(cpulevel, realprocessorhasmmxandsse2) {
  // On x86-64 both are part of the architecture: level 0 only comes from made-up words.
  int code = -1;
  getcpulevel(code);
  EXPECT_EQ(code, 0);
  EXPECT_GE(settings.simdlevel, 2);
  cpuidwords w;
  cpuinfo(&w);
  EXPECT_EQ(cpulevelof(w), settings.simdlevel);
}

TEST(cpulevel, cpuinfokeepswords2to4andgivesthevendor) {
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

TEST(cpulevel, forcedlevelnevergoesabovethedetectedone) {
  struct {
    int choice, detected, level;
  } cases[] = {
      {0, 4, 4}, {5, 4, 4}, {-1, 3, 3}, {1, 4, 1}, {2, 4, 2}, {3, 4, 3}, {4, 4, 4},
      {4, 3, 3}, {4, 2, 2}, {3, 2, 2}, {2, 2, 2}, {1, 2, 1}, {4, 1, 1}, {1, 1, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(cappedcpulevel(c.choice, c.detected), c.level)
        << "choice " << c.choice << ", detected " << c.detected;
}

TEST(cpulevel, setcpumodestoresthelevelword) {
  for (int level : {1, 2, 3, 4, 0}) {
    setcpumode(level);
    EXPECT_EQ(kernellevel, level);
  }
}

TEST(kernelpaths, rulesbylevelandaddress) {
  alignas(16) static uint8_t buf[32];
  const uint8_t* aligned = buf;
  const uint8_t* odd = buf + 1;
  struct {
    int level;
    kernelpath alignedsrc, unalignedsrc, sad, two, mmxonly, grid;
  } cases[] = {
      {0, pathc, pathc, pathc, pathc, pathc, pathc},
      {1, pathmmx, pathmmx, pathmmx, pathmmx, pathmmx, pathmmx},
      {2, pathsse2a, pathsse2, pathsse2, pathsse2, pathmmx, pathsse2},
      {3, pathsse2a, pathsse3, pathsse3, pathsse2, pathmmx, pathsse3},
      {4, pathsse2a, pathsse3, pathsse3, pathsse2, pathmmx, pathsse3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pathaligned(c.level, aligned), c.alignedsrc) << "level " << c.level;
    EXPECT_EQ(pathaligned(c.level, odd), c.unalignedsrc) << "level " << c.level;
    for (int off = 1; off < 16; ++off)
      EXPECT_EQ(pathaligned(c.level, buf + off), c.unalignedsrc) << "level " << c.level;
    EXPECT_EQ(pathaligned(c.level, buf + 16), c.alignedsrc) << "level " << c.level;
    EXPECT_EQ(pathsad(c.level), c.sad) << "level " << c.level;
    EXPECT_EQ(pathtwo(c.level), c.two) << "level " << c.level;
    EXPECT_EQ(pathmmxonly(c.level), c.mmxonly) << "level " << c.level;
    EXPECT_EQ(pathgrid(c.level), c.grid) << "level " << c.level;
  }
}

}  // namespace
