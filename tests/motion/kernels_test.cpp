// Block statistics, SADs, predictions, copies, averages and residuals: every path the host
// runs against the reference, bit for bit, on seeded random data; source offsets 0-15, odd
// positions and areas flush against guard pages on every side; canaries around outputs.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <vector>

#include "encoder/motion/kernels.h"
#include "tests/motion/harness.h"
#include "tests/motion/paths.h"

namespace {

constexpr int planew = 64, planeh = 48;

struct pos {
  int x, y;
};

// Positions of an area (n + ex) x (n + ey) read from a planew x planeh plane: every
// horizontal offset 0-15 against the 16-byte grid, odd rows, the four corners and the edges
// (the read area flush against the picture border), and random ones. xstep 16 keeps x on
// multiples of 16 (kernels whose plane rows must be aligned).
std::vector<pos> positions(std::mt19937& rng, int n, int ex, int ey, int xstep = 1) {
  const int xmax = planew - n - ex, ymax = planeh - n - ey;
  std::uniform_int_distribution<int> ry(0, ymax);
  std::vector<pos> v;
  for (int off = 0; off < 16; off += xstep) {
    std::uniform_int_distribution<int> rk(0, (xmax - off) / 16);
    const int oddy = ry(rng) | 1;
    v.push_back({16 * rk(rng) + off, oddy > ymax ? oddy - 2 : oddy});
    v.push_back({16 * rk(rng) + off, ry(rng) & ~1});
  }
  const int xlast = xmax / xstep * xstep;
  for (int y : {0, ymax})
    for (int x : {0, xlast}) v.push_back({x, y});
  for (int i = 0; i < 8; ++i) {
    v.push_back({0, ry(rng)});
    v.push_back({xlast, ry(rng)});
    std::uniform_int_distribution<int> rx(0, xmax / xstep);
    v.push_back({rx(rng) * xstep, 0});
    v.push_back({rx(rng) * xstep, ymax});
  }
  return v;
}

std::string where(const char* kernel, const char* path, int mode, bool rightflush, pos p) {
  std::ostringstream s;
  s << kernel << ", path " << path << ", seed " << testseed() << ", position (" << p.x << ", "
    << p.y << "), data mode " << mode << (rightflush ? ", plane flush right" : ", plane flush left");
  return s.str();
}

// Every kernel test loops over data modes (uniform, 0/255, near 0, near 255), both plane
// layouts and the positions; a failure names all of them and ends the test.
#define OSTREL_SETCTX(kernel, path, mode, rf, p)                                            \
  setcontext("%s, path %s, seed %u, position (%d, %d), mode %d, %s", kernel, path,            \
             testseed(), (p).x, (p).y, mode, (rf) ? "flush right" : "flush left")

// ---- block statistics ----

using blockstatsfn = void (*)(const uint8_t*, const uint8_t*, int, int, int, uint32_t*, uint32_t*,
                              uint32_t*);

TEST(blockstats, allpathsmatchthereference) {
  std::mt19937 rng(testseed());
  auto paths = hostpaths<blockstatsfn>({{"c", 0, blockstats_c}, {"mmx", 1, blockstatsmmx},
                                        {"sse2", 2, blockstats}});
  for (int mode = 0; mode < 6; ++mode)
    for (bool rf : {false, true}) {
      guardplane a(planew, planeh, rf), b(planew, planeh, rf);
      fillplane(rng, a, mode < 4 ? mode : 1);
      fillplane(rng, b, mode < 4 ? mode : 1);
      if (mode == 4)  // worst case: 255 against 0
        for (int y = 0; y < planeh; ++y) {
          std::memset(&a.at(0, y), 255, planew);
          std::memset(&b.at(0, y), 0, planew);
        }
      for (pos p : positions(rng, 16, 0, 0, 16)) {
        uint32_t want[3];
        blockstats_c(a.origin(), b.origin(), p.x, p.y, a.stride(), &want[0], &want[1], &want[2]);
        for (const auto& k : paths) {
          OSTREL_SETCTX("blockstats", k.name, mode, rf, p);
          // The three results between two canary words.
          uint32_t out[5] = {0xC0FFEEu, 1, 2, 3, 0xC0FFEEu};
          uint32_t* got = out + 1;
          runpath(k, a.origin(), b.origin(), p.x, p.y, a.stride(), &got[0], &got[1], &got[2]);
          ASSERT_TRUE(got[0] == want[0] && got[1] == want[1] && got[2] == want[2])
              << where("blockstats", k.name, mode, rf, p) << ": sum " << got[0] << "/" << want[0]
              << " sad " << got[1] << "/" << want[1] << " activity " << got[2] << "/" << want[2];
          ASSERT_TRUE(out[0] == 0xC0FFEEu && out[4] == 0xC0FFEEu) << "blockstats canary";
        }
      }
    }
}

TEST(blockstats, exactvalues) {
  auto paths = hostpaths<blockstatsfn>({{"c", 0, blockstats_c}, {"mmx", 1, blockstatsmmx},
                                        {"sse2", 2, blockstats}});
  struct {
    const char* what;
    int a, b, single;  // flat a (or 0 with one pixel 'single'), flat b
    uint32_t sum, sad, activity;
  } cases[] = {
      {"flat 7", 7, 7, -1, 256 * 7, 0, 0},
      {"flat 255 against 0", 255, 0, -1, 65280, 65280, 0},
      {"one pixel 15", 0, 0, 15, 15, 15, 225},
      {"one pixel 255 (mean 15 after truncation)", 0, 0, 255, 255, 255, 64800},
  };
  for (const auto& c : cases) {
    guardplane a(planew, planeh, false), b(planew, planeh, false);
    for (int y = 0; y < planeh; ++y) {
      std::memset(&a.at(0, y), c.a, planew);
      std::memset(&b.at(0, y), c.b, planew);
    }
    if (c.single >= 0) a.at(21, 5) = static_cast<uint8_t>(c.single);
    for (const auto& k : paths) {
      uint32_t s, d, act;
      runpath(k, a.origin(), b.origin(), 16, 0, a.stride(), &s, &d, &act);
      EXPECT_EQ(s, c.sum) << c.what << ", path " << k.name;
      EXPECT_EQ(d, c.sad) << c.what << ", path " << k.name;
      EXPECT_EQ(act, c.activity) << c.what << ", path " << k.name;
    }
  }
}

// ---- sadframes ----

using sadframesfn = uint32_t (*)(const uint8_t*, const uint8_t*, int);

TEST(sadframes, wholechunksonlyandnothingoutside) {
  std::mt19937 rng(testseed());
  auto paths = hostpaths<sadframesfn>({OSTREL_PATHS_TWO(sadframes)});
  // 86,400 is the chroma plane of 720x480: 337 chunks, the last 128 bytes left out.
  for (int count : {86400, 256, 512, 300, 4096 + 16, 129600}) {
    const size_t n = (static_cast<size_t>(count) + 15) & ~size_t{15};
    for (int mode = 0; mode < 5; ++mode) {
      guardbuffer a(n), b(n);
      fillpixels(rng, a.data(), n, mode);
      fillpixels(rng, b.data(), n, mode);
      if (mode == 4) {
        std::memset(a.data(), 255, n);
        std::memset(b.data(), 0, n);
      }
      const uint32_t want = sadframes_c(a.data(), b.data(), count);
      if (mode == 4) {
        EXPECT_EQ(want, 255u * (count / 256 * 256));
      }
      for (const auto& k : paths) {
        setcontext("sadframes, path %s, count %d, seed %u", k.name, count, testseed());
        EXPECT_EQ(runpath(k, a.data(), b.data(), count), want)
            << "sadframes, path " << k.name << ", count " << count << ", mode " << mode
            << ", seed " << testseed();
      }
    }
  }
  // The 128 bytes after the last whole chunk never count.
  {
    guardbuffer a(86400), b(86400);
    std::memset(a.data(), 9, 86400);
    std::memset(b.data(), 9, 86400);
    std::memset(a.data() + 86272, 200, 128);
    for (const auto& k : paths) EXPECT_EQ(runpath(k, a.data(), b.data(), 86400), 0u) << k.name;
  }
  // Below one chunk: 0, and nothing is read (the buffers end at a guard page, unaligned).
  for (int count : {0, 1, 64, 128, 255}) {
    guardbuffer a(count), b(count);
    if (count) {
      std::memset(a.data(), 255, count);
      std::memset(b.data(), 0, count);
    }
    for (const auto& k : paths) {
      setcontext("sadframes, path %s, count %d (below one chunk)", k.name, count);
      EXPECT_EQ(runpath(k, a.data(), b.data(), count), 0u) << k.name << " count " << count;
    }
  }
}

// ---- sad16, sad8 ----

using sadfn = void (*)(const uint8_t*, int, int, int, const uint8_t*, uint32_t*);

void checksad(const char* kernel, int n, sadfn ref, const std::vector<kpath<sadfn>>& paths) {
  std::mt19937 rng(testseed() ^ static_cast<uint32_t>(n));
  for (int mode = 0; mode < 5; ++mode)
    for (bool rf : {false, true}) {
      guardplane pl(planew, planeh, rf);
      canarybuf block(static_cast<size_t>(n) * n);
      fillplane(rng, pl, mode % 4);
      fillpixels(rng, block.data(), block.size(), mode % 4);
      if (mode == 4) {  // worst case: 0 against 255
        for (int y = 0; y < planeh; ++y) std::memset(&pl.at(0, y), 0, planew);
        std::memset(block.data(), 255, block.size());
      }
      for (pos p : positions(rng, n, 0, 0)) {
        uint32_t want = 0;
        ref(pl.origin(), p.x, p.y, pl.stride(), block.data(), &want);
        if (mode == 4) {
          ASSERT_EQ(want, 255u * n * n);
        }
        for (const auto& k : paths) {
          OSTREL_SETCTX(kernel, k.name, mode, rf, p);
          uint32_t out[3] = {0xC0FFEEu, 0xFFFFFFFFu, 0xC0FFEEu};  // the result between canaries
          runpath(k, pl.origin(), p.x, p.y, pl.stride(), block.data(), &out[1]);
          ASSERT_EQ(out[1], want) << where(kernel, k.name, mode, rf, p);
          ASSERT_TRUE(out[0] == 0xC0FFEEu && out[2] == 0xC0FFEEu) << kernel << " canary";
        }
        ASSERT_TRUE(block.intact());
      }
    }
}

TEST(sad, sad16allpaths) { checksad("sad16", 16, sad16_c, hostpaths<sadfn>({OSTREL_PATHS_THREE(sad16)})); }
TEST(sad, sad8allpaths) { checksad("sad8", 8, sad8_c, hostpaths<sadfn>({OSTREL_PATHS_C_MMX(sad8)})); }

// ---- put8 ----

using put8fn = void (*)(uint8_t*, int, int, int, const uint8_t*);

TEST(put8, writesthe64bytesonly) {
  std::mt19937 rng(testseed() ^ 0x8u);
  auto paths = hostpaths<put8fn>({OSTREL_PATHS_C_MMX(put8)});
  for (bool rf : {false, true})
    for (const auto& k : paths) {
      guardplane want(planew, planeh, rf), got(planew, planeh, rf);
      for (int y = 0; y < planeh; ++y) {
        fillpixels(rng, &want.at(0, y), planew, 0);
        std::memcpy(&got.at(0, y), &want.at(0, y), planew);
      }
      for (pos p : positions(rng, 8, 0, 0)) {
        uint8_t block[64];
        fillpixels(rng, block, 64, 0);
        OSTREL_SETCTX("put8", k.name, 0, rf, p);
        put8_c(want.origin(), p.x, p.y, want.stride(), block);
        runpath(k, got.origin(), p.x, p.y, got.stride(), block);
        for (int y = 0; y < planeh; ++y)
          ASSERT_EQ(std::memcmp(&want.at(0, y), &got.at(0, y), planew), 0)
              << where("put8", k.name, 0, rf, p) << ", plane row " << y;
      }
    }
}

// ---- sadavg16 ----

using sadavgfn = uint32_t (*)(const uint8_t*, const uint8_t*, const uint8_t*);

TEST(sadavg16, allpathsmatchthereference) {
  std::mt19937 rng(testseed() ^ 0xA16u);
  auto paths = hostpaths<sadavgfn>({OSTREL_PATHS_TWO(sadavg16)});
  canarybuf p(256), q(256), s(256);
  for (int trial = 0; trial < 200; ++trial) {
    const int mode = trial % 4;
    fillpixels(rng, p.data(), 256, mode);
    fillpixels(rng, q.data(), 256, (mode + trial / 4) % 4);
    fillpixels(rng, s.data(), 256, mode);
    const uint32_t want = sadavg16_c(p.data(), q.data(), s.data());
    for (const auto& k : paths)
      ASSERT_EQ(runpath(k, p.data(), q.data(), s.data()), want)
          << "sadavg16, path " << k.name << ", seed " << testseed() << ", trial " << trial;
  }
  // Exact: (0 + 1 + 1) >> 1 = 1 against 1 gives 0; 255/255 against 0 gives 65,280;
  // (254 + 255 + 1) >> 1 = 255 against 0 as well.
  struct {
    int p, q, s;
    uint32_t sad;
  } cases[] = {{0, 1, 1, 0}, {255, 255, 0, 65280}, {254, 255, 0, 65280}, {0, 1, 0, 256}, {0, 0, 255, 65280}};
  for (const auto& c : cases) {
    std::memset(p.data(), c.p, 256);
    std::memset(q.data(), c.q, 256);
    std::memset(s.data(), c.s, 256);
    for (const auto& k : paths)
      EXPECT_EQ(runpath(k, p.data(), q.data(), s.data()), c.sad)
          << "p " << c.p << " q " << c.q << " s " << c.s << ", path " << k.name;
  }
  EXPECT_TRUE(p.intact() && q.intact() && s.intact());
}

// ---- predictions and copies ----

using predfn = void (*)(const uint8_t*, int, int, int, uint8_t*, int, int);
using predblkfn = void (*)(const uint8_t*, int, int, int, uint8_t*);

struct predkernel {
  const char* name;
  int n, ex, ey;  // size and the extra column and row it reads
  predfn ref;
  std::vector<kpath<predfn>> plane;
  predblkfn refblk;
  std::vector<kpath<predblkfn>> blk;
};

std::vector<predkernel> predkernels() {
  return {
      {"predxy16", 16, 1, 1, predxy16_c, hostpaths<predfn>({OSTREL_PATHS_ALIGNED(predxy16)}),
       predxy16blk_c, hostpaths<predblkfn>({OSTREL_PATHS_ALIGNED(predxy16blk)})},
      {"predx16", 16, 1, 0, predx16_c, hostpaths<predfn>({OSTREL_PATHS_ALIGNED(predx16)}),
       predx16blk_c, hostpaths<predblkfn>({OSTREL_PATHS_ALIGNED(predx16blk)})},
      {"predy16", 16, 0, 1, predy16_c, hostpaths<predfn>({OSTREL_PATHS_ALIGNED(predy16)}),
       predy16blk_c, hostpaths<predblkfn>({OSTREL_PATHS_ALIGNED(predy16blk)})},
      {"copy16", 16, 0, 0, copy16_c, hostpaths<predfn>({OSTREL_PATHS_ALIGNED(copy16)}),
       copy16blk_c, hostpaths<predblkfn>({OSTREL_PATHS_ALIGNED(copy16blk)})},
      {"predxy8", 8, 1, 1, predxy8_c, hostpaths<predfn>({OSTREL_PATHS_C_MMX(predxy8)}),
       predxy8blk_c, hostpaths<predblkfn>({OSTREL_PATHS_C_MMX(predxy8blk)})},
      {"predx8", 8, 1, 0, predx8_c, hostpaths<predfn>({OSTREL_PATHS_C_MMX(predx8)}),
       predx8blk_c, hostpaths<predblkfn>({OSTREL_PATHS_C_MMX(predx8blk)})},
      {"predy8", 8, 0, 1, predy8_c, hostpaths<predfn>({OSTREL_PATHS_C_MMX(predy8)}),
       predy8blk_c, hostpaths<predblkfn>({OSTREL_PATHS_C_MMX(predy8blk)})},
      {"copy8", 8, 0, 0, copy8_c, hostpaths<predfn>({OSTREL_PATHS_C_MMX(copy8)}),
       copy8blk_c, hostpaths<predblkfn>({OSTREL_PATHS_C_MMX(copy8blk)})},
  };
}

bool aligned16(const void* p) { return (reinterpret_cast<uintptr_t>(p) & 15) == 0; }

TEST(prediction, allpathsmatchthereference) {
  std::mt19937 rng(testseed() ^ 0x9ED);
  for (const predkernel& pk : predkernels()) {
    const size_t bytes = static_cast<size_t>(pk.n) * pk.n;
    for (int mode = 0; mode < 4; ++mode)
      for (bool rf : {false, true}) {
        guardplane ref(planew, planeh, rf);
        fillplane(rng, ref, mode);
        // Destination planes with the reference's stride, kept equal between reference and
        // path: any byte written outside the area shows as a difference.
        std::vector<uint8_t> want(static_cast<size_t>(ref.stride()) * planeh + 16),
            got(want.size());
        uint8_t* wantp = want.data() + (16 - reinterpret_cast<uintptr_t>(want.data()) % 16) % 16;
        uint8_t* gotp = got.data() + (16 - reinterpret_cast<uintptr_t>(got.data()) % 16) % 16;
        fillpixels(rng, wantp, static_cast<size_t>(ref.stride()) * planeh, 0);
        std::memcpy(gotp, wantp, static_cast<size_t>(ref.stride()) * planeh);
        std::uniform_int_distribution<int> rdx(0, (planew - pk.n) / 16), rdy(0, planeh - pk.n);
        std::uniform_int_distribution<int> rodd(0, planew - pk.n);
        for (pos p : positions(rng, pk.n, pk.ex, pk.ey)) {
          const uint8_t* src = ref.origin() + (static_cast<ptrdiff_t>(p.y) * ref.stride() + p.x);
          // Block form.
          canarybuf wb(bytes), gb(bytes);
          pk.refblk(ref.origin(), p.x, p.y, ref.stride(), wb.data());
          for (const auto& k : pk.blk) {
            if (k.srcaligned && !aligned16(src)) continue;
            OSTREL_SETCTX(pk.name, k.name, mode, rf, p);
            std::memset(gb.data(), 0x5A, bytes);
            runpath(k, ref.origin(), p.x, p.y, ref.stride(), gb.data());
            ASSERT_EQ(std::memcmp(wb.data(), gb.data(), bytes), 0)
                << where(pk.name, k.name, mode, rf, p) << ", block form";
            ASSERT_TRUE(gb.intact()) << where(pk.name, k.name, mode, rf, p) << ", block canary";
          }
          // Plane form: an aligned destination for every path, an odd one for those that
          // take any alignment.
          for (const auto& k : pk.plane) {
            if (k.srcaligned && !aligned16(src)) continue;
            for (int odd = 0; odd < 2; ++odd) {
              if (odd && !(pk.n == 8 || k.anyalign())) continue;
              const int dx = odd ? rodd(rng) | 1 : 16 * rdx(rng), dy = rdy(rng);
              OSTREL_SETCTX(pk.name, k.name, mode, rf, p);
              pk.ref(ref.origin(), p.x, p.y, ref.stride(), wantp, dx, dy);
              runpath(k, ref.origin(), p.x, p.y, ref.stride(), gotp, dx, dy);
              ASSERT_EQ(std::memcmp(wantp, gotp, static_cast<size_t>(ref.stride()) * planeh), 0)
                  << where(pk.name, k.name, mode, rf, p) << ", plane form, destination (" << dx
                  << ", " << dy << ")";
            }
          }
        }
      }
  }
}

// Rounding: patterns whose every output pixel sees the same neighbour values.
TEST(prediction, roundingtables) {
  struct {
    const char* kernel;
    int pattern;  // 0 columns alternate a/b, 1 rows alternate a/b, 2 one 'b' in every 2x2
    int a, b, value;
  } cases[] = {
      {"predx16", 0, 0, 1, 1},      {"predx16", 0, 254, 255, 255}, {"predx16", 0, 0, 255, 128},
      {"predy16", 1, 0, 1, 1},      {"predy16", 1, 254, 255, 255}, {"predy16", 1, 255, 0, 128},
      {"predxy16", 2, 0, 1, 0},     {"predxy16", 1, 0, 1, 1},      {"predxy16", 0, 255, 255, 255},
      {"predxy16", 2, 255, 0, 191}, {"predx8", 0, 0, 1, 1},        {"predy8", 1, 254, 255, 255},
      {"predxy8", 2, 0, 1, 0},      {"predxy8", 1, 0, 1, 1},       {"predxy8", 0, 255, 255, 255},
  };
  for (const auto& c : cases)
    for (const predkernel& pk : predkernels()) {
      if (std::strcmp(pk.name, c.kernel) != 0) continue;
      for (int sx : {0, 1, 2}) {  // an aligned source, then unaligned ones
        guardplane ref(planew, planeh, false);
        for (int y = 0; y < planeh; ++y)
          for (int x = 0; x < planew; ++x) {
            const bool odd = c.pattern == 0 ? x % 2 : c.pattern == 1 ? y % 2 : (x % 2 && y % 2);
            ref.at(x, y) = static_cast<uint8_t>(odd ? c.b : c.a);
          }
        canarybuf blk(static_cast<size_t>(pk.n) * pk.n);
        for (const auto& k : pk.blk) {
          if (k.srcaligned && sx != 0) continue;
          runpath(k, ref.origin(), 16 + sx, 4, ref.stride(), blk.data());
          for (int i = 0; i < pk.n * pk.n; ++i)
            ASSERT_EQ(blk.data()[i], c.value)
                << c.kernel << " a " << c.a << " b " << c.b << ", path " << k.name << ", pixel " << i;
        }
      }
    }
}

// ---- averages ----

using avgfn = void (*)(const uint8_t*, const uint8_t*, int, uint8_t*, int, int);

void checkavg(const char* kernel, int n, avgfn ref, const std::vector<kpath<avgfn>>& paths) {
  std::mt19937 rng(testseed() ^ 0xA7u ^ static_cast<uint32_t>(n));
  for (bool rf : {false, true}) {
    guardplane want(planew, planeh, rf), got(planew, planeh, rf);
    for (int y = 0; y < planeh; ++y) {
      fillpixels(rng, &want.at(0, y), planew, 0);
      std::memcpy(&got.at(0, y), &want.at(0, y), planew);
    }
    canarybuf p(static_cast<size_t>(n) * n), q(static_cast<size_t>(n) * n);
    for (int mode = 0; mode < 5; ++mode)
      for (pos d : positions(rng, n, 0, 0)) {
        fillpixels(rng, p.data(), p.size(), mode % 4);
        fillpixels(rng, q.data(), q.size(), (mode + 1) % 4);
        if (mode == 4) std::memcpy(q.data(), p.data(), q.size());  // equal blocks: themselves
        for (const auto& k : paths) {
          if (n == 16 && !k.anyalign() && d.x % 16) continue;  // SSE2 needs an aligned destination
          OSTREL_SETCTX(kernel, k.name, mode, rf, d);
          ref(p.data(), q.data(), want.stride(), want.origin(), d.x, d.y);
          runpath(k, p.data(), q.data(), got.stride(), got.origin(), d.x, d.y);
          for (int y = 0; y < planeh; ++y)
            ASSERT_EQ(std::memcmp(&want.at(0, y), &got.at(0, y), planew), 0)
                << where(kernel, k.name, mode, rf, d) << ", plane row " << y;
          if (mode == 4) {
            for (int r = 0; r < n; ++r)
              ASSERT_EQ(std::memcmp(&got.at(d.x, d.y + r), p.data() + n * r, n), 0) << kernel;
          }
        }
      }
    EXPECT_TRUE(p.intact() && q.intact());
  }
}

TEST(average, avg16allpaths) { checkavg("avg16", 16, avg16_c, hostpaths<avgfn>({OSTREL_PATHS_TWO(avg16)})); }
TEST(average, avg8allpaths) { checkavg("avg8", 8, avg8_c, hostpaths<avgfn>({OSTREL_PATHS_C_MMX(avg8)})); }

TEST(average, roundshalvesup) {
  auto paths16 = hostpaths<avgfn>({OSTREL_PATHS_TWO(avg16)});
  struct {
    int p, q, v;
  } cases[] = {{0, 1, 1}, {254, 255, 255}, {0, 255, 128}, {255, 255, 255}, {0, 0, 0}};
  for (const auto& c : cases) {
    canarybuf p(256), q(256);
    std::memset(p.data(), c.p, 256);
    std::memset(q.data(), c.q, 256);
    guardplane d(planew, planeh, false);
    for (const auto& k : paths16) {
      runpath(k, p.data(), q.data(), d.stride(), d.origin(), 16, 3);
      for (int r = 0; r < 16; ++r)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(d.at(16 + x, 3 + r), c.v) << k.name;
    }
  }
}

// ---- diffblock ----

using difffn = void (*)(const uint8_t*, const uint8_t*, int16_t*, int);

TEST(diffblock, allpathsmatchthereference) {
  std::mt19937 rng(testseed() ^ 0xD1Fu);
  auto paths = hostpaths<difffn>({OSTREL_PATHS_TWO(diffblock)});
  for (int count : {16, 64, 256 + 48, 86400, 345600})
    for (int mode = 0; mode < 6; ++mode) {
      guardbuffer s(count), p(count);
      fillpixels(rng, s.data(), count, mode % 4);
      fillpixels(rng, p.data(), count, (mode + 1) % 4);
      if (mode >= 4) {  // the extremes: 0 - 255 and 255 - 0
        std::memset(s.data(), mode == 4 ? 0 : 255, count);
        std::memset(p.data(), mode == 4 ? 255 : 0, count);
      }
      canarybuf want(2 * static_cast<size_t>(count)), got(want.size());
      diffblock_c(s.data(), p.data(), reinterpret_cast<int16_t*>(want.data()), count);
      if (mode >= 4) {
        int16_t e;
        std::memcpy(&e, want.data() + 2 * (count - 1), 2);
        EXPECT_EQ(e, mode == 4 ? -255 : 255);
      }
      for (const auto& k : paths) {
        setcontext("diffblock, path %s, count %d, seed %u", k.name, count, testseed());
        std::memset(got.data(), 0x77, got.size());
        runpath(k, s.data(), p.data(), reinterpret_cast<int16_t*>(got.data()), count);
        ASSERT_EQ(std::memcmp(want.data(), got.data(), want.size()), 0)
            << "diffblock, path " << k.name << ", count " << count << ", mode " << mode
            << ", seed " << testseed();
        ASSERT_TRUE(got.intact()) << "diffblock canary, path " << k.name << ", count " << count;
      }
    }
}

}  // namespace
