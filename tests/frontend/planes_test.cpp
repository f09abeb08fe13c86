// The front end's plane kernels: every path the host runs against the reference, bit for bit,
// on seeded random data (OSTREL_SEED repeats a run): sizes on both sides of every block size,
// every source and destination offset 0-15, planes ending against a guard page, canaries
// around the copies, the largest sums the contract allows. On failure the kernel, path, seed,
// size and offsets are printed.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "frontend/window/planes.h"
#include "tests/motion/harness.h"

namespace {

struct sadpath {
  const char* name;
  int need;  // the level whose processors run it
  int32_t (*f)(const uint8_t*, const uint8_t*, int);
};
const sadpath sadpaths[] = {{"c", 0, planesad_c}, {"mmx", 1, planesad_mmx}, {"sse2", 2, planesad_sse2}};

struct copypath {
  const char* name;
  int need;
  void (*f)(const uint8_t*, uint8_t*, int);
};
const copypath copypaths[] = {{"copyblocks256 c", 0, copyblocks_c},
                              {"copyblocks256 mmx", 1, copyblocks256_mmx},
                              {"copyblocks256 sse2", 2, copyblocks256_sse2},
                              {"copyblocks16 mmx", 1, copyblocks16_mmx},
                              {"copyblocks16 sse2", 2, copyblocks16_sse2}};

// Sizes around every block and piece the paths use, small planes below one block, and the
// planes of real pictures (176 x 144 luma and chroma, an odd chroma plane).
const int sizes[] = {0,   1,   7,   8,   9,   15,  16,  17,  63,   64,   65,   127,  128,
                     129, 135, 255, 256, 257, 271, 383, 384, 511,  512,  513,  1000, 6336,
                     6343, 25344};

}  // namespace

TEST(planekernels, sadofeverypathisthereferences) {
  std::mt19937 rng(testseed());
  for (int mode = 0; mode < 4; mode++)
    for (int size : sizes) {
      // Both planes end against a guard page: a read past the last byte faults.
      guardbuffer a((size_t)size), b((size_t)size);
      fillpixels(rng, a.data(), (size_t)size, mode);
      fillpixels(rng, b.data(), (size_t)size, mode + 1);
      const int32_t want = planesad_c(a.data(), b.data(), size);
      for (const sadpath& k : sadpaths) {
        if (!hostruns(k.need)) continue;
        setcontext("planesad, path %s, seed %u, size %d, mode %d", k.name, testseed(), size, mode);
        ASSERT_EQ(k.f(a.data(), b.data(), size), want) << context();
      }
    }
}

TEST(planekernels, sadateveryoffset) {
  std::mt19937 rng(testseed() ^ 0x5ADu);
  std::vector<uint8_t> a(600), b(600);
  fillpixels(rng, a.data(), a.size(), 0);
  fillpixels(rng, b.data(), b.size(), 0);
  alignas(16) static uint8_t pa[640], pb[640];
  for (int oa = 0; oa < 16; oa++)
    for (int ob = 0; ob < 16; ob++)
      for (int size : {8, 24, 256, 300, 531}) {
        std::memcpy(pa + oa, a.data(), (size_t)size);
        std::memcpy(pb + ob, b.data(), (size_t)size);
        const int32_t want = planesad_c(a.data(), b.data(), size);
        for (const sadpath& k : sadpaths) {
          if (!hostruns(k.need)) continue;
          ASSERT_EQ(k.f(pa + oa, pb + ob, size), want)
              << "planesad, path " << k.name << ", seed " << testseed() << ", size " << size << ", offsets " << oa
              << " and " << ob;
        }
      }
}

// The worst sums: all 0 against all 255 on the largest preview plane and at the contract's
// largest size, where the sum is just below 2^31.
TEST(planekernels, sadworstcases) {
  for (int size : {1920 * 1152, 8421504}) {
    std::vector<uint8_t> a((size_t)size, 0), b((size_t)size, 255);
    for (const sadpath& k : sadpaths) {
      if (!hostruns(k.need)) continue;
      EXPECT_EQ(k.f(a.data(), b.data(), size), int32_t(255 * int64_t(size))) << k.name << " " << size;
      EXPECT_EQ(k.f(b.data(), a.data(), size), int32_t(255 * int64_t(size))) << k.name << " " << size;
      EXPECT_EQ(k.f(a.data(), a.data(), size), 0) << k.name << " " << size;
    }
  }
}

TEST(planekernels, copiesofeverypathcopyeverybyteandnomore) {
  std::mt19937 rng(testseed() ^ 0xC0Bu);
  for (int size : sizes)
    for (int os = 0; os < 16; os++)
      for (int od : {0, 1, 8, 15}) {
        guardbuffer src((size_t)size + (size_t)os);
        fillpixels(rng, src.data() + os, (size_t)size, 0);
        for (const copypath& k : copypaths) {
          if (!hostruns(k.need)) continue;
          canarybuf dst((size_t)size + (size_t)od);
          std::memset(dst.data(), 0x5A, dst.size());
          setcontext("%s, seed %u, size %d, offsets %d and %d", k.name, testseed(), size, os, od);
          k.f(src.data() + os, dst.data() + od, size);
          ASSERT_EQ(std::memcmp(dst.data() + od, src.data() + os, (size_t)size), 0) << context();
          for (int i = 0; i < od; i++) ASSERT_EQ(dst.data()[i], 0x5A) << context();
          ASSERT_TRUE(dst.intact()) << context();
        }
      }
}

// The mode word: only level 1 takes the 8-byte paths; the entries give the reference's result
// at every level.
TEST(planekernels, modewordpicksthepath) {
  const struct {
    int level;
    planepath path;
  } cases[] = {{0, planesse2}, {1, planemmx}, {2, planesse2}, {3, planesse2}, {4, planesse2}};
  std::mt19937 rng(testseed() ^ 0x30Du);
  std::vector<uint8_t> a(1001), b(1001), c(1001);
  fillpixels(rng, a.data(), a.size(), 0);
  fillpixels(rng, b.data(), b.size(), 0);
  for (const auto& t : cases) {
    EXPECT_EQ(planepathfor(t.level), t.path) << t.level;
    if (!hostruns(t.path)) continue;
    setcpumode(t.level);
    EXPECT_EQ(cpumode(), t.level);
    EXPECT_EQ(planesad(a.data(), b.data(), 1001), planesad_c(a.data(), b.data(), 1001)) << t.level;
    for (auto copy : {copyblocks256, copyblocks16}) {
      std::fill(c.begin(), c.end(), 0);
      copy(a.data(), c.data(), 1001);
      EXPECT_EQ(c, a) << t.level;
    }
  }
  setcpumode(0);
}
