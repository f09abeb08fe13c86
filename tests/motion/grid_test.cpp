// The half-pel grid kernels and the grid with candidate blocks: every member of every set the
// host runs against the reference at every position of small pictures (borders included,
// pictures 16 wide or high too), rows flush against guard pages on all sides.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include "encoder/motion/kernels.h"
#include "tests/motion/harness.h"

namespace {

struct gridset {
  const char* name;
  int need;
  const gridkernel* table;
};

std::vector<gridset> hostsets() {
  std::vector<gridset> v;
  for (const gridset& s : {gridset{"mmx", 1, hpelsadtable_mmx}, gridset{"sse2", 2, hpelsadtable_sse2},
                           gridset{"sse3", 3, hpelsadtable_sse3}})
    if (hostruns(s.need)) v.push_back(s);
  return v;
}

// Entry k needs these sides: 0 up-left ... 7 down-right, 8 centre.
constexpr unsigned entryneeds[9] = {sidetop | sideleft,     sidetop,    sidetop | sideright,
                                    sideleft,               sideright,  sidebottom | sideleft,
                                    sidebottom,             sidebottom | sideright, 0};

std::string gridwhere(const char* member, const char* set, int w, int h, int x, int y, int mode,
                      bool rf) {
  std::ostringstream s;
  s << member << ", set " << set << ", seed " << testseed() << ", picture " << w << "x" << h
    << ", position (" << x << ", " << y << "), mode " << mode << (rf ? ", flush right" : ", flush left");
  return s.str();
}

TEST(grid, sidesbyposition) {
  // Each side on its own; a picture 16 wide loses left and right at once.
  EXPECT_EQ(gridsides(5, 7, 32, 16), 0u);
  EXPECT_EQ(gridsides(0, 0, 32, 16), sidetop | sideleft);
  EXPECT_EQ(gridsides(32, 16, 32, 16), sidebottom | sideright);
  EXPECT_EQ(gridsides(0, 3, 0, 16), sideleft | sideright);
  EXPECT_EQ(gridsides(0, 0, 0, 0), sidetop | sidebottom | sideleft | sideright);
  EXPECT_EQ(gridsides(4, 0, 32, 0), sidetop | sidebottom);
}

TEST(grid, everymemberateverypositionmatchesthereference) {
  std::mt19937 rng(testseed() ^ 0x6121u);
  const auto sets = hostsets();
  const struct {
    int w, h;
  } sizes[] = {{48, 32}, {16, 16}, {16, 48}, {48, 16}, {32, 32}};
  for (const auto& sz : sizes)
    for (bool rf : {false, true})
      for (int mode = 0; mode < 5; ++mode) {
        guardplane pl(sz.w, sz.h, rf);
        fillplane(rng, pl, mode % 4);
        alignas(16) uint8_t src[256];
        fillpixels(rng, src, 256, mode % 4);
        if (mode == 4) {  // worst case: a flat 255 window against a flat 0 source
          for (int y = 0; y < sz.h; ++y) std::memset(&pl.at(0, y), 255, sz.w);
          std::memset(src, 0, 256);
        }
        const int xmax = sz.w - 16, ymax = sz.h - 16;
        for (int y = 0; y <= ymax; ++y)
          for (int x = 0; x <= xmax; ++x) {
            const unsigned sides = gridsides(x, y, xmax, ymax);
            int32_t want[9];
            setcontext("grid reference, picture %dx%d, position (%d, %d)", sz.w, sz.h, x, y);
            hpelsad_c(sides, pl.origin(), x - 1, y - 1, pl.stride(), src, want);
            for (int k = 0; k < 9; ++k) {
              const bool valid = (entryneeds[k] & sides) == 0;
              if (!valid) {
                ASSERT_EQ(want[k], invalidsad) << "entry " << k;
              } else if (mode == 4) {
                ASSERT_EQ(want[k], 65280) << "entry " << k;
              }
            }
            for (const gridset& s : sets)
              for (int via = 0; via < 2; ++via) {
                // Straight from the set's table, and through gridmember at the set's level.
                const gridkernel fn = via == 0 ? s.table[sides] : gridmember(s.need, sides);
                setcontext("grid member, set %s, seed %u, picture %dx%d, position (%d, %d), mode %d",
                           s.name, testseed(), sz.w, sz.h, x, y, mode);
                int32_t got[11];
                for (int32_t& g : got) g = -7;
                fn(pl.origin(), x - 1, y - 1, pl.stride(), src, got + 1);
                ASSERT_EQ(got[0], -7);
                ASSERT_EQ(got[10], -7);
                for (int k = 0; k < 9; ++k)
                  ASSERT_EQ(got[k + 1], want[k])
                      << gridwhere("grid", s.name, sz.w, sz.h, x, y, mode, rf) << ", entry " << k;
              }
          }
      }
}

TEST(grid, namedmembersandtheirinvalidentries) {
  struct member {
    const char* name;
    gridkernel sse2, sse3, mmx;
    int x, y;  // a position of this class in a 48x32 picture
    std::vector<int> invalid;
  };
  const member members[] = {
      {"interior", hpelsad, hpelsad3, hpelsadmmx, 16, 8, {}},
      {"top-left", hpelsadtl, hpelsadtl3, hpelsadtlmmx, 0, 0, {0, 1, 2, 3, 5}},
      {"top", hpelsadt, hpelsadt3, hpelsadtmmx, 16, 0, {0, 1, 2}},
      {"top-right", hpelsadtr, hpelsadtr3, hpelsadtrmmx, 32, 0, {0, 1, 2, 4, 7}},
      {"left", hpelsadl, hpelsadl3, hpelsadlmmx, 0, 8, {0, 3, 5}},
      {"right", hpelsadr, hpelsadr3, hpelsadrmmx, 32, 8, {2, 4, 7}},
      {"bottom-left", hpelsadbl, hpelsadbl3, hpelsadblmmx, 0, 16, {0, 3, 5, 6, 7}},
      {"bottom", hpelsadb, hpelsadb3, hpelsadbmmx, 16, 16, {5, 6, 7}},
      {"bottom-right", hpelsadbr, hpelsadbr3, hpelsadbrmmx, 32, 16, {2, 4, 5, 6, 7}},
  };
  std::mt19937 rng(testseed() ^ 0x9A3Eu);
  for (bool rf : {false, true}) {
    guardplane pl(48, 32, rf);
    fillplane(rng, pl, 0);
    alignas(16) uint8_t src[256];
    fillpixels(rng, src, 256, 0);
    for (const member& m : members) {
      int32_t want[9];
      hpelsad_c(gridsides(m.x, m.y, 32, 16), pl.origin(), m.x - 1, m.y - 1, pl.stride(), src, want);
      for (int k = 0; k < 9; ++k) {
        const bool inv = std::find(m.invalid.begin(), m.invalid.end(), k) != m.invalid.end();
        EXPECT_EQ(want[k] == invalidsad, inv) << m.name << " entry " << k;
      }
      const std::pair<const char*, gridkernel> fns[] = {{"sse2", m.sse2}, {"sse3", m.sse3}, {"mmx", m.mmx}};
      for (const auto& [set, fn] : fns) {
        if (!hostruns(std::strcmp(set, "mmx") == 0 ? 1 : std::strcmp(set, "sse2") == 0 ? 2 : 3)) continue;
        setcontext("%s member, set %s", m.name, set);
        int32_t got[9];
        fn(pl.origin(), m.x - 1, m.y - 1, pl.stride(), src, got);
        for (int k = 0; k < 9; ++k) EXPECT_EQ(got[k], want[k]) << m.name << ", set " << set << ", entry " << k;
      }
    }
  }
}

// A border member's computed entries equal the interior values of the same window in a larger
// picture; the others are invalid.
TEST(grid, borderentriesequalinteriorones) {
  std::mt19937 rng(testseed() ^ 0xB0Du);
  const int w = 48, h = 32, big = 16;  // the picture sits 16 pixels inside a larger one
  guardplane outer(w + 2 * big, h + 2 * big, false);
  fillplane(rng, outer, 0);
  const uint8_t* inner = &outer.at(big, big);
  alignas(16) uint8_t src[256];
  fillpixels(rng, src, 256, 0);
  for (int y = 0; y <= h - 16; ++y)
    for (int x = 0; x <= w - 16; ++x) {
      const unsigned sides = gridsides(x, y, w - 16, h - 16);
      int32_t border[9], interior[9];
      hpelsad_c(sides, inner, x - 1, y - 1, outer.stride(), src, border);
      hpelsad_c(0, inner, x - 1, y - 1, outer.stride(), src, interior);
      for (int k = 0; k < 9; ++k)
        ASSERT_EQ(border[k], (entryneeds[k] & sides) ? invalidsad : interior[k])
            << "position (" << x << ", " << y << "), entry " << k;
    }
}

TEST(grid, centreofamatchingwindowiszero) {
  guardplane pl(48, 32, false);
  std::mt19937 rng(testseed() ^ 0xC0u);
  fillplane(rng, pl, 0);
  alignas(16) uint8_t src[256];
  for (int i = 0; i < 16; ++i) std::memcpy(src + 16 * i, &pl.at(13, 7 + i), 16);
  for (const gridset& s : hostsets()) {
    int32_t got[9];
    s.table[0](pl.origin(), 12, 6, pl.stride(), src, got);
    EXPECT_EQ(got[8], 0) << s.name;
  }
}

// ---- the grid with candidate blocks ----

using gridpredfn = void (*)(const uint8_t*, int, int, int, const uint8_t*, int32_t*, uint8_t*);

struct predset {
  const char* name;
  int need;
  gridpredfn fn;
};
std::vector<predset> hostpredsets() {
  std::vector<predset> v;
  for (const predset& s : {predset{"c", 0, hpelsadpred_c}, predset{"mmx", 1, hpelsadpredmmx},
                           predset{"sse2", 2, hpelsadpred}, predset{"sse3", 3, hpelsadpred3},
                           predset{"level 1", 1, gridpredfor(1)}, predset{"level 2", 2, gridpredfor(2)},
                           predset{"level 3", 3, gridpredfor(3)}, predset{"level 4", 3, gridpredfor(4)}})
    if (hostruns(s.need)) v.push_back(s);
  return v;
}

TEST(gridblocks, allsetsmatchthereferenceandthepredictions) {
  std::mt19937 rng(testseed() ^ 0x4104u);
  const int w = 48, h = 32;
  for (bool rf : {false, true})
    for (int mode = 0; mode < 4; ++mode) {
      guardplane pl(w, h, rf);
      fillplane(rng, pl, mode);
      alignas(16) uint8_t src[256];
      fillpixels(rng, src, 256, mode);
      for (int y = 1; y < h - 16; ++y)
        for (int x = 1; x < w - 16; ++x) {
          int32_t want[9], grid[9];
          canarybuf wantblocks(2304);
          hpelsadpred_c(pl.origin(), x - 1, y - 1, pl.stride(), src, want, wantblocks.data());
          hpelsad_c(0, pl.origin(), x - 1, y - 1, pl.stride(), src, grid);
          ASSERT_EQ(std::memcmp(want, grid, sizeof want), 0) << "reference grid";
          // Blocks 0, 2, 4, 5, 7 are the plain predictions at the matching positions.
          const uint8_t* blocks = wantblocks.data();
          uint8_t b[256];
          const uint8_t* ref = pl.origin();
          const int st = pl.stride();
          copy16blk_c(ref, x, y, st, b);
          ASSERT_EQ(std::memcmp(blocks, b, 256), 0) << "block 0";
          predy16blk_c(ref, x, y - 1, st, b);
          ASSERT_EQ(std::memcmp(blocks + 2 * 256, b, 256), 0) << "block 2";
          predx16blk_c(ref, x - 1, y, st, b);
          ASSERT_EQ(std::memcmp(blocks + 4 * 256, b, 256), 0) << "block 4";
          predx16blk_c(ref, x, y, st, b);
          ASSERT_EQ(std::memcmp(blocks + 5 * 256, b, 256), 0) << "block 5";
          predy16blk_c(ref, x, y, st, b);
          ASSERT_EQ(std::memcmp(blocks + 7 * 256, b, 256), 0) << "block 7";
          for (const predset& s : hostpredsets()) {
            setcontext("grid with blocks, set %s, seed %u, position (%d, %d), mode %d", s.name,
                       testseed(), x, y, mode);
            canarybuf gotblocks(2304), gotgrid(36, 4);
            int32_t* g = reinterpret_cast<int32_t*>(gotgrid.data());
            s.fn(pl.origin(), x - 1, y - 1, pl.stride(), src, g, gotblocks.data());
            ASSERT_EQ(std::memcmp(g, want, sizeof want), 0)
                << gridwhere("hpelsadpred", s.name, w, h, x, y, mode, rf) << ", gridsad";
            ASSERT_EQ(std::memcmp(gotblocks.data(), wantblocks.data(), 2304), 0)
                << gridwhere("hpelsadpred", s.name, w, h, x, y, mode, rf) << ", blocks";
            ASSERT_TRUE(gotblocks.intact() && gotgrid.intact())
                << gridwhere("hpelsadpred", s.name, w, h, x, y, mode, rf) << ", canaries";
          }
        }
    }
}

// Diagonal candidates average two horizontal averages. Window rows alternate between two
// patterns, so every diagonal candidate sees the same pairs.
TEST(gridblocks, diagonalrounding) {
  struct {
    const char* what;
    int upper0, upper1, lower0, lower1;  // the pair of even rows, the pair of odd rows
    int diagonal;
  } cases[] = {
      {"upper 0,0 lower 1,3: averages 0 and 2, then 1 (columns first would give 2)", 0, 0, 1, 3, 1},
      {"upper 0,1 lower 0,0: 1, where the four-pixel mean is 0", 0, 1, 0, 0, 1},
      {"all 255", 255, 255, 255, 255, 255},
  };
  for (const auto& c : cases) {
    guardplane pl(48, 32, false);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 48; ++x)
        pl.at(x, y) = static_cast<uint8_t>(y % 2 ? (x % 2 ? c.lower1 : c.lower0)
                                                 : (x % 2 ? c.upper1 : c.upper0));
    alignas(16) uint8_t zero[256] = {};
    for (const predset& s : hostpredsets()) {
      canarybuf blocks(2304);
      int32_t g[9];
      s.fn(pl.origin(), 15, 7, pl.stride(), zero, g, blocks.data());
      for (int blk : {1, 3, 6, 8}) {  // up-left, up-right, down-left, down-right
        for (int i = 0; i < 256; ++i)
          ASSERT_EQ(blocks.data()[256 * blk + i], c.diagonal) << c.what << ", set " << s.name
                                                               << ", block " << blk;
        EXPECT_EQ(g[blk - 1], 256 * c.diagonal) << c.what << ", set " << s.name;
      }
    }
    if (c.upper0 == 0 && c.upper1 == 1) {  // the coded prediction takes the exact mean
      uint8_t b[256];
      predxy16blk_c(pl.origin(), 16, 8, pl.stride(), b);
      EXPECT_EQ(b[0], 0);
    }
  }
}

}  // namespace
