// The frame store: its layout, the fill of the lines a source never writes, the failure code,
// and the coded height of interlaced and pulldown streams.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "encoder/control/framestore.h"
#include "encoder/control/settings.h"

namespace {

void sizes(int w, int h, int g) {
  settings = settingsrec{};
  settings.width = w;
  settings.height = h;
  settings.displayheight = h;
  settings.chromawidth = w / 2;
  settings.lumasize = w * h;
  settings.chromasize = w * h / 4;
  settings.slotcount = g + 1;
  settings.ringsize = 2 * g + 3;
}

bool aligned(const void* p) { return reinterpret_cast<std::uintptr_t>(p) % 16 == 0; }

struct framestore : ::testing::Test {
  void TearDown() override {
    freeframes();
    framestorelimit = std::numeric_limits<std::size_t>::max();
  }
};

}  // namespace

TEST_F(framestore, laysoutslotsringpredictionscratchandassemblyinorder) {
  sizes(720, 576, 15);
  ASSERT_EQ(allocframes(), 0);
  ASSERT_TRUE(framesallocated);
  const size_t L = 720 * 576, C = L / 4, F = L + 2 * C;
  for (int s = 1; s <= 16; ++s) {
    EXPECT_EQ(reconplanes[s].y, (s - 1) * F) << s;
    EXPECT_EQ(reconplanes[s].u, (s - 1) * F + L) << s;
    EXPECT_EQ(reconplanes[s].v, (s - 1) * F + L + C) << s;
  }
  for (int e = 1; e <= 33; ++e) {
    EXPECT_EQ(framering[e].planes.y, (16 + e - 1) * F) << e;
    EXPECT_EQ(framering[e].planes.v, (16 + e - 1) * F + L + C) << e;
  }
  EXPECT_EQ(predplanes.y, 49 * F);
  EXPECT_EQ(predplanes.v, 49 * F + L + C);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(scratchoffsets[i], 50 * F + 256 * size_t(i));
  EXPECT_EQ(assemblyoffset, 50 * F + 8192);
  EXPECT_EQ(residplanes[0].y, 0u);
  EXPECT_EQ(residplanes[1].u, F + L);
  EXPECT_EQ(wordscratchoffsets[31], 2 * F + 31 * 256);
  for (int c = 0; c < 3; ++c) {
    EXPECT_TRUE(aligned(reconplane(16, c)));
    EXPECT_TRUE(aligned(ringplane(33, c)));
    EXPECT_TRUE(aligned(predplane(c)));
    EXPECT_TRUE(aligned(residplane(1, c)));
  }
  EXPECT_TRUE(aligned(scratchblock(31)));
  EXPECT_TRUE(aligned(wordscratchblock(31)));
  EXPECT_TRUE(aligned(assemblyarea()));
  // The ends of the store are ours to write (the sanitizer build checks the bounds).
  assemblyarea()[assemblybytes - 1] = 1;
  wordscratchblock(31)[255] = 1;
  EXPECT_EQ(ringplane(1, 0)[0], 0);  // a store without lines to fill starts zero
  freeframes();
  EXPECT_FALSE(framesallocated);
  EXPECT_EQ(framebase, nullptr);
}

// Coded pictures taller than the source get their extra lines in fill colour in every ring
// entry (black by default, or the mask values); the reconstructed planes are not filled.
TEST_F(framestore, extralinesoftallercodedpicturesareblack) {
  struct c {
    int width, displayheight, height;
    uint8_t fill[3];
  } cases[] = {
      {1920, 1080, 1088, {16, 128, 128}},
      {1280, 720, 736, {16, 128, 128}},
      {720, 464, 480, {0, 100, 200}},
  };
  for (const c& t : cases) {
    sizes(t.width, t.height, 2);
    settings.displayheight = t.displayheight;
    for (int i = 0; i < 3; ++i) settings.fillbytes[i] = t.fill[i];
    ASSERT_EQ(allocframes(), 0);
    for (int e = 1; e <= settings.ringsize; ++e) {
      EXPECT_EQ(ringplane(e, 0)[settings.lumasize - 1], t.fill[0]) << t.height;
      EXPECT_EQ(ringplane(e, 0)[t.width * t.displayheight], t.fill[0]) << t.height;
      EXPECT_EQ(ringplane(e, 1)[settings.chromasize - 1], t.fill[1]) << t.height;
      EXPECT_EQ(ringplane(e, 2)[0], t.fill[2]) << t.height;
    }
    EXPECT_EQ(reconplane(1, 0)[0], 0);
  }
}

TEST_F(framestore, failedorimpossibleallocationgives269) {
  sizes(720, 576, 15);
  framestorelimit = 1000000;
  EXPECT_EQ(allocframes(), 269);
  EXPECT_FALSE(framesallocated);
  framestorelimit = std::numeric_limits<std::size_t>::max();
  for (auto [slots, ring] : {std::pair{0, 33}, {38, 33}, {16, 0}, {16, 76}}) {
    settings.slotcount = slots;
    settings.ringsize = ring;
    EXPECT_EQ(allocframes(), 269) << slots << " " << ring;
  }
  sizes(720, 576, 36);  // the largest GOP
  EXPECT_EQ(allocframes(), 0);
}

TEST_F(framestore, interlacedandpulldownheightsarepaddedtomultiplesof32) {
  struct c {
    int width, height;
    bool interlaced, pulldown;
    int coded, level;
  } cases[] = {
      {1280, 720, true, false, 736, 2},
      {1280, 720, false, false, 720, 2},  // progressive: no rows in pairs
      {720, 464, false, true, 480, 1},
      {720, 480, true, false, 480, 1},
      {720, 576, true, true, 576, 1},
      {1920, 1088, true, false, 1088, 3},
      {1920, 1136, true, false, 1152, 3},
  };
  for (const c& t : cases) {
    settings = settingsrec{};
    settings.width = t.width;
    settings.height = t.height;
    settings.displayheight = t.height;
    settings.interlaced = t.interlaced;
    settings.pulldown = t.pulldown;
    settings.level = t.width > 1440 ? 3 : t.width <= 720 && t.height <= 576 ? 1 : 2;
    settings.mbrows = t.height / 16;
    EXPECT_EQ(padcodedheight(), t.coded != t.height) << t.height;
    EXPECT_EQ(settings.height, t.coded) << t.height;
    EXPECT_EQ(settings.displayheight, t.height);
    EXPECT_EQ(settings.mbrows, t.coded / 16);
    EXPECT_EQ(settings.level, t.level) << t.height;
    if (t.coded != t.height) {
      EXPECT_EQ(settings.lumasize, t.width * t.coded);
      EXPECT_EQ(settings.chromasize, t.width * t.coded / 4);
      EXPECT_EQ(settings.mbcount, t.width * t.coded / 256);
      EXPECT_EQ(settings.chromaheight, t.coded / 2);
      EXPECT_EQ(settings.searchymax, t.coded - 16);
    }
  }
}
