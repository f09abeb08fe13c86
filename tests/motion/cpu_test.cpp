// The encoder's processor level, the level cap and the path rules, fed with made-up words and
// addresses (the probe's own tests are with the shared helpers).
#include <gtest/gtest.h>

#include "encoder/control/settings.h"
#include "encoder/motion/cpu.h"

namespace {

struct levelcase {
  const char* what;
  uint32_t ecx, edx;
  int level;
};

// The encoder keeps the words and takes their level (the probe's table of words and levels is
// tested with the probe); no MMX gives the start-up code 264.
TEST(cpulevel, processorwordsgivetheencoderslevel) {
  const levelcase cases[] = {
      {"none", 0, 0, 0},
      {"MMX only", 0, cpuidmmx, 1},
      {"SSSE3 with SSE3", cpuidsse3 | cpuidssse3, cpuidmmx | cpuidsse2, 4},
  };
  for (const levelcase& c : cases) {
    int code = -1;
    getcpulevelfrom(featurewords(c.ecx, c.edx), code);
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
