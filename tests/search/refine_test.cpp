// Half-pel refinement on real planes (rows flush against guard pages): the choice on the grid,
// the B direction rule and the interpolated cost, the second pass, and the f_code ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/kernels.h"
#include "encoder/motion/search.h"
#include "tests/motion/harness.h"
#include "tests/search/mesupport.h"

namespace {

// The k-th (1..9) half-pel offset: the rows of the grid table, centre last.
constexpr int offx[10] = {0, -1, 0, 1, -1, 1, -1, 0, 1, 0};
constexpr int offy[10] = {0, -1, -1, -1, 0, 0, 1, 1, 1, 0};

inline int avg2(int a, int b) { return (a + b + 1) >> 1; }

// Our own model of the grid: candidate k's pixel (i, j) at full-pel position (px, py), built
// from the reference pixel by pixel; -1 when it needs a pixel outside the picture.
int candpixel(const guardplane& ref, int px, int py, int k, int i, int j) {
  const int dx = offx[k], dy = offy[k];
  const int c = px + j, r = py + i;
  if (c + std::min(dx, 0) < 0 || c + std::max(dx, 0) > settings.width - 1 ||
      r + std::min(dy, 0) < 0 || r + std::max(dy, 0) > settings.height - 1)
    return -1;
  auto R = [&](int x, int y) { return int(const_cast<guardplane&>(ref).at(x, y)); };
  // Horizontal half between columns c0 and c0 + 1 on row y.
  auto h = [&](int c0, int y) { return avg2(R(c0, y), R(c0 + 1, y)); };
  if (dx == 0 && dy == 0) return R(c, r);
  if (dy == 0) return h(dx < 0 ? c - 1 : c, r);
  if (dx == 0) return avg2(R(c, r), R(c, r + dy));
  const int c0 = dx < 0 ? c - 1 : c;
  return avg2(h(c0, r), h(c0, r + dy));
}

struct gridmodel {
  int32_t cost[10];        // by k; invalidsad outside
  uint8_t block[10][256];  // candidate blocks by k (valid ones)
};
gridmodel modelgrid(const guardplane& ref, int px, int py, const uint8_t* src) {
  gridmodel g{};
  for (int k = 1; k <= 9; ++k) {
    int32_t s = 0;
    bool ok = true;
    for (int i = 0; i < 16 && ok; ++i)
      for (int j = 0; j < 16; ++j) {
        const int v = candpixel(ref, px, py, k, i, j);
        if (v < 0) {
          ok = false;
          break;
        }
        g.block[k][16 * i + j] = static_cast<uint8_t>(v);
        s += std::abs(v - src[16 * i + j]);
      }
    g.cost[k] = ok ? s : invalidsad;
  }
  return g;
}
int modelchoice(const gridmodel& g, int32_t& cost) {
  int best = 9;
  cost = g.cost[9];
  for (int k = 1; k <= 8; ++k)
    if (g.cost[k] < cost) cost = g.cost[best = k];
  return best;
}
int32_t modelavgsad(const uint8_t* p, const uint8_t* q, const uint8_t* s) {
  int32_t t = 0;
  for (int n = 0; n < 256; ++n) t += std::abs(avg2(p[n], q[n]) - s[n]);
  return t;
}

// A small picture with its source and two reference luma planes, and the arguments.
struct refinefixture {
  guardplane src, fwd, bwd;
  alignas(16) uint8_t scratch[256];
  pictargs args;
  refinefixture(int w, int h, bool rightflush)
      : src(w, h, rightflush), fwd(w, h, rightflush), bwd(w, h, rightflush) {
    args.curslot = 2;
    args.fwdslot = 1;
    args.bwdslot = 3;
    args.ypitch = src.stride();
    args.cury = src.origin();
    args.fwdy = fwd.origin();
    args.bwdy = bwd.origin();
    args.mescratch = scratch;
  }
  void sourceblock(int x, int y, const uint8_t* b) {
    for (int i = 0; i < 16; ++i) std::memcpy(&src.at(x, y + i), b + 16 * i, 16);
  }
  void getsource(int x, int y, uint8_t* b) {
    for (int i = 0; i < 16; ++i) std::memcpy(b + 16 * i, &src.at(x, y + i), 16);
  }
};

mbrecord& mbat(int i) { return picslots[2].mbs[i]; }
void setfull(mbrecord& mb, int fx, int fy, int bx = 0, int by = 0) {
  mb.fullmv[0] = static_cast<int16_t>(fx);
  mb.fullmv[1] = static_cast<int16_t>(fy);
  mb.fullmv[2] = static_cast<int16_t>(bx);
  mb.fullmv[3] = static_cast<int16_t>(by);
}

TEST(refine, gridchoicetiesandcentre) {
  const struct {
    int32_t g[9];
    int k;
    int32_t cost;
  } cases[] = {
      {{50, 50, 50, 50, 50, 50, 50, 50, 50}, 9, 50},
      {{60, 60, 40, 60, 60, 40, 60, 60, 50}, 3, 40},
      {{invalidsad, 49, 60, 60, 60, 60, 60, 60, 50}, 2, 49},
      {{60, 60, 60, 60, 60, 60, 60, 10, 50}, 8, 10},
      {{invalidsad, invalidsad, invalidsad, 60, 60, 60, 60, 60, 0}, 9, 0},
  };
  for (const auto& c : cases) {
    int32_t cost = -1;
    EXPECT_EQ(gridchoice(c.g, cost), c.k);
    EXPECT_EQ(cost, c.cost);
  }
}

TEST(refine, directionrule) {
  const struct {
    int32_t sf, sb, interp;
    int bpp;
    bdir want;
  } cases[] = {
      {1000, 1010, 980, 1, dirforward},  // J = 1019
      {1000, 1010, 980, 3, dirinterp},   // J = 980
      {1000, 1010, 990, 2, dirinterp},   // J = 999.9 truncated to 999 < 1000
      {1000, 1010, 991, 2, dirforward},  // J = 1000.9 truncated to 1000, equal to forward
      {700, 700, 100, 3, dirinterp},      {700, 700, 700, 3, dirbackward},  // all equal: backward
      {500, 500, nocost, 1, dirbackward},  // equal forward and backward
      {499, 500, nocost, 1, dirforward},  {500, 499, nocost, 1, dirbackward},
      {600, 400, 400, 3, dirbackward},  // J equal to the backward cost
      {400, 600, 400, 3, dirforward},   // J equal to the forward cost
      {600, 500, 400, 6, dirinterp},
  };
  for (const auto& c : cases)
    EXPECT_EQ(bdirection(c.sf, c.sb, c.interp, c.bpp), c.want)
        << c.sf << " " << c.sb << " " << c.interp << " class " << c.bpp;
  EXPECT_FLOAT_EQ(interpfactor(1), 1.04f);
  EXPECT_FLOAT_EQ(interpfactor(2), 1.01f);
  for (int b = 3; b <= 6; ++b) EXPECT_FLOAT_EQ(interpfactor(b), 1.0f);
}

TEST(refine, fcodeforrange) {
  const int cases[][2] = {{0, 1},    {8, 1},    {9, 2},     {16, 2},  {17, 3},   {32, 3},
                          {33, 4},   {64, 4},   {65, 5},    {128, 5}, {129, 6},  {256, 6},
                          {257, 7},  {505, 7},  {512, 7},   {513, 8}, {1024, 8}, {1025, 9},
                          {2048, 9}, {2049, 0}, {100000, 0}};
  for (const auto& c : cases) EXPECT_EQ(fcodeforrange(c[0]), c[1]) << c[0];
}

TEST(refine, pchoosesthematchinghalfpelposition) {
  std::mt19937 rng(testseed() ^ 0x4143u);
  setpicture(96, 80);
  refinefixture f(96, 80, false);
  fillplane(rng, f.fwd, 0);
  fillplane(rng, f.src, 0);
  const int x = 32, y = 32, i = 1 + 2 + 2 * settings.mbcols;
  for (int profile : {1, 2, 4})
    for (int k = 1; k <= 9; ++k) {
      SCOPED_TRACE(testing::Message()
                   << "seed " << testseed() << " profile " << profile << " k " << k);
      settings.profile = profile;
      // The source macroblock is candidate k around full-pel (34, 31).
      uint8_t src[256];
      f.getsource(x, y, src);
      const gridmodel g0 = modelgrid(f.fwd, 34, 31, src);
      f.sourceblock(x, y, g0.block[k]);
      setfull(mbat(i), 2, -1);
      mehalfpel1(f.args, x, y, i);
      EXPECT_EQ(mbat(i).halfmv[0], 4 + offx[k]);
      EXPECT_EQ(mbat(i).halfmv[1], -2 + offy[k]);
      EXPECT_EQ(mbat(i).statmv[0], profile == 4 ? 4 : 4 + offx[k]);
      EXPECT_EQ(mbat(i).statmv[1], profile == 4 ? -2 : -2 + offy[k]);
      EXPECT_EQ(gridfwd[k == 9 ? 8 : k - 1], 0);
    }
}

// Whole refinement against the model at every position of a small picture, random planes,
// both picture types, every profile, both passes; rows flush left and right.
TEST(refine, matchesthemodelateveryposition) {
  std::mt19937 rng(testseed() ^ 0x4243u);
  for (bool rightflush : {false, true}) {
    setpicture(64, 48, 2);
    refinefixture f(64, 48, rightflush);
    std::uniform_int_distribution<int> vec(-3, 3), bpp(1, 6);
    for (int round = 0; round < 3; ++round) {
      fillplane(rng, f.src, round);
      fillplane(rng, f.fwd, round);
      fillplane(rng, f.bwd, round);
      for (int pass : {1, 2})
        for (int profile : {1, 2, 3, 4})
          for (int i = 1; i <= settings.mbcount; ++i) {
            const int x = 16 * ((i - 1) % settings.mbcols), y = 16 * ((i - 1) / settings.mbcols);
            settings.passno = pass;
            settings.profile = profile;
            settings.bppclass = bpp(rng);
            SCOPED_TRACE(testing::Message()
                         << "seed " << testseed() << " round " << round << " pass " << pass
                         << " profile " << profile << " mb " << i);
            // Full-pel vectors inside the picture (first pass) or statistics vectors that
            // fit it (second pass).
            int16_t v[4];
            for (int d = 0; d < 4; ++d) {
              const int lo = d % 2 ? -y : -x,
                        hi = d % 2 ? settings.searchymax - y : settings.searchxmax - x;
              v[d] = static_cast<int16_t>(pass == 1 ? std::clamp(vec(rng), lo, hi)
                                                    : std::clamp(vec(rng), 2 * lo, 2 * hi));
            }
            uint8_t src[256];
            f.getsource(x, y, src);
            mbrecord& mb = mbat(i);
            mb = mbrecord{};
            if (pass == 1)
              setfull(mb, v[0], v[1], v[2], v[3]);
            else
              std::copy(v, v + 4, mb.statmv);
            mb.mbdirflags[0] = 5;  // marks flags a second pass must keep
            // The model.
            int16_t full[4], half[4];
            for (int d = 0; d < 4; ++d) {
              full[d] = pass == 1 ? v[d] : static_cast<int16_t>(v[d] / 2);
              half[d] = pass == 1 || profile == 4 ? static_cast<int16_t>(2 * full[d]) : v[d];
            }
            const bool refines = pass == 1 || profile == 4;
            // P.
            settings.curpictype = 2;
            mehalfpel1(f.args, x, y, i);
            int16_t wantp[2] = {half[0], half[1]};
            if (refines) {
              int32_t c;
              const int k = modelchoice(modelgrid(f.fwd, x + full[0], y + full[1], src), c);
              wantp[0] = static_cast<int16_t>(wantp[0] + offx[k]);
              wantp[1] = static_cast<int16_t>(wantp[1] + offy[k]);
            }
            ASSERT_EQ(mb.halfmv[0], wantp[0]);
            ASSERT_EQ(mb.halfmv[1], wantp[1]);
            if (pass == 1) {
              ASSERT_EQ(mb.statmv[0], profile < 4 ? wantp[0] : half[0]);
              ASSERT_EQ(mb.statmv[1], profile < 4 ? wantp[1] : half[1]);
            }
            // B.
            mb = mbrecord{};
            if (pass == 1)
              setfull(mb, v[0], v[1], v[2], v[3]);
            else
              std::copy(v, v + 4, mb.statmv);
            mb.mbdirflags[0] = 5;
            settings.curpictype = 3;
            mehalfpel2(f.args, x, y, i);
            if (!refines) {
              for (int d = 0; d < 4; ++d) ASSERT_EQ(mb.halfmv[d], v[d]);
              ASSERT_EQ(mb.mbdirflags[0], 5);
              continue;
            }
            const int pfx = x + full[0], pfy = y + full[1], pbx = x + full[2], pby = y + full[3];
            const gridmodel gf = modelgrid(f.fwd, pfx, pfy, src);
            const gridmodel gb = modelgrid(f.bwd, pbx, pby, src);
            int32_t sf, sb;
            int kf = modelchoice(gf, sf), kb = modelchoice(gb, sb);
            auto interior = [&](int px, int py) {
              return px > 0 && px < settings.searchxmax && py > 0 && py < settings.searchymax;
            };
            const bool both = interior(pfx, pfy) && interior(pbx, pby);
            int32_t in = nocost;
            if (both && profile >= 2) in = modelavgsad(gf.block[kf], gb.block[kb], src);
            if (pass == 2 && profile == 4 && both) {
              int32_t best = -1;
              int a0 = 0, b0 = 0;
              for (int a : {9, 1, 2, 3, 4, 5, 6, 7, 8})
                for (int b : {9, 1, 2, 3, 4, 5, 6, 7, 8}) {
                  const int32_t c = modelavgsad(gf.block[a], gb.block[b], src);
                  if (best < 0 || c < best) {
                    best = c;
                    a0 = a;
                    b0 = b;
                  }
                }
              if (best < sf && best < sb && best < in) {
                kf = a0;
                kb = b0;
                in = best;
              }
            }
            ASSERT_EQ(mb.halfmv[0], half[0] + offx[kf]);
            ASSERT_EQ(mb.halfmv[1], half[1] + offy[kf]);
            ASSERT_EQ(mb.halfmv[2], half[2] + offx[kb]);
            ASSERT_EQ(mb.halfmv[3], half[3] + offy[kb]);
            const int32_t j =
                static_cast<int32_t>(static_cast<float>(in) * (settings.bppclass == 1   ? 1.04f
                                                               : settings.bppclass == 2 ? 1.01f
                                                                                        : 1.0f));
            int8_t want[3];
            if (std::min({sf, sb, j}) == sb) {
              want[0] = 0;
              want[1] = -1;
              want[2] = 0;
            } else if (std::min(sf, j) == sf) {
              want[0] = -1;
              want[1] = 0;
              want[2] = 0;
            } else {
              want[0] = want[1] = want[2] = -1;
            }
            ASSERT_EQ(mb.mbdirflags[0], want[0]);
            ASSERT_EQ(mb.mbdirflags[1], want[1]);
            ASSERT_EQ(mb.mbdirflags[2], want[2]);
          }
    }
  }
}

TEST(refine, bflatreferencesoneitherside) {
  // Forward reference 100, backward 120, source 110: forward and backward cost 2,560 each,
  // their average costs 0.
  setpicture(96, 80, 3);
  refinefixture f(96, 80, false);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 96; ++x) {
      f.fwd.at(x, y) = 100;
      f.bwd.at(x, y) = 120;
      f.src.at(x, y) = 110;
    }
  const struct {
    int profile, mbx, mby, fx, fy;
    bool interp;
  } cases[] = {
      {2, 32, 32, 1, 1, true},   {4, 32, 32, -2, 3, true},
      {1, 32, 32, 1, 1, false},  {2, 32, 32, -32, 0, false},  // forward position on the left border
      {2, 0, 32, 0, 0, false},                                // macroblock on the border
      {2, 80, 64, -1, -1, true},                              // corner macroblock, positions inside
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "profile " << c.profile << " at " << c.mbx << "," << c.mby);
    settings.profile = c.profile;
    const int i = 1 + c.mbx / 16 + (c.mby / 16) * settings.mbcols;
    mbrecord& mb = mbat(i);
    mb = mbrecord{};
    setfull(mb, c.fx, c.fy, c.fx, c.fy);
    mehalfpel2(f.args, c.mbx, c.mby, i);
    EXPECT_EQ(mb.mbdirflags[2], c.interp ? -1 : 0);
    EXPECT_EQ(mb.mbdirflags[0], c.interp ? -1 : 0);
    EXPECT_EQ(mb.mbdirflags[1], -1);  // backward wins the tie otherwise
    // Flat planes: every grid entry costs the same, the vectors stay at full pel.
    EXPECT_EQ(mb.halfmv[0], 2 * mb.fullmv[0]);
    EXPECT_EQ(mb.halfmv[2], 2 * mb.fullmv[2]);
  }
}

TEST(refine, secondpassvectorsfromthestatisticsstream) {
  std::mt19937 rng(testseed() ^ 0x4343u);
  setpicture(96, 80, 2);
  refinefixture f(96, 80, false);
  fillplane(rng, f.src, 0);
  fillplane(rng, f.fwd, 0);
  settings.passno = 2;
  const int x = 32, y = 32, i = 1 + 2 + 2 * settings.mbcols;
  // Profiles 1-3 take the vector as it is and measure nothing.
  for (int profile : {1, 2, 3}) {
    settings.profile = profile;
    mbrecord& mb = mbat(i);
    mb = mbrecord{};
    mb.statmv[0] = 5;
    mb.statmv[1] = -3;
    mb.mbdirflags[1] = -1;
    std::fill(gridfwd, gridfwd + 9, 77);
    mehalfpel1(f.args, x, y, i);
    EXPECT_EQ(mb.halfmv[0], 5);
    EXPECT_EQ(mb.halfmv[1], -3);
    mehalfpel2(f.args, x, y, i);
    EXPECT_EQ(mb.mbdirflags[1], -1);
    EXPECT_EQ(gridfwd[4], 77);
  }
  // Profile 4: statmv (-3, 5) gives full-pel (-1, 2); the grid is centred there and the
  // refined vector starts from twice it, (-2, 4).
  settings.profile = 4;
  uint8_t src[256];
  f.getsource(x, y, src);
  const gridmodel g = modelgrid(f.fwd, x - 1, y + 2, src);
  f.sourceblock(x, y, g.block[5]);  // the right half-pel candidate
  mbrecord& mb = mbat(i);
  mb = mbrecord{};
  mb.statmv[0] = -3;
  mb.statmv[1] = 5;
  mehalfpel1(f.args, x, y, i);
  EXPECT_EQ(mb.fullmv[0], -1);
  EXPECT_EQ(mb.fullmv[1], 2);
  EXPECT_EQ(mb.halfmv[0], -1);
  EXPECT_EQ(mb.halfmv[1], 4);
  EXPECT_EQ(mb.statmv[0], -3);  // the statistics vector is not rewritten in the second pass
}

TEST(refine, secondpassvectorsstayinsidethepicture) {
  std::mt19937 rng(testseed() ^ 0x4443u);
  setpicture(64, 48, 2);
  refinefixture f(64, 48, false);
  fillplane(rng, f.src, 0);
  fillplane(rng, f.fwd, 0);
  settings.passno = 2;
  // An odd vector half a pixel left of the picture: profile 4 refines from (0, 0), so the
  // result never points left of column 0.
  settings.profile = 4;
  for (int trial = 0; trial < 8; ++trial) {
    fillplane(rng, f.src, trial);
    mbrecord& mb = mbat(5);  // at (0, 16)
    mb = mbrecord{};
    mb.statmv[0] = -1;
    mb.statmv[1] = 0;
    mehalfpel1(f.args, 0, 16, 5);
    EXPECT_EQ(mb.fullmv[0], 0);
    EXPECT_GE(mb.halfmv[0], 0);
    EXPECT_EQ(gridfwd[0], invalidsad);
    EXPECT_EQ(gridfwd[3], invalidsad);
    EXPECT_EQ(gridfwd[5], invalidsad);
  }
  // A damaged vector far outside is brought back to the nearest one that fits.
  const struct {
    int profile, x, y, vx, vy, wx, wy;
  } cases[] = {{2, 16, 16, -40, 0, -32, 0},
               {2, 16, 16, 100, -99, 64, -32},
               {1, 48, 32, 3, 3, 0, 0},
               {3, 0, 0, -1, -1, 0, 0}};
  for (const auto& c : cases) {
    settings.profile = c.profile;
    const int i = 1 + c.x / 16 + (c.y / 16) * settings.mbcols;
    mbrecord& mb = mbat(i);
    mb = mbrecord{};
    mb.statmv[0] = static_cast<int16_t>(c.vx);
    mb.statmv[1] = static_cast<int16_t>(c.vy);
    mehalfpel1(f.args, c.x, c.y, i);
    EXPECT_EQ(mb.halfmv[0], c.wx) << c.vx;
    EXPECT_EQ(mb.halfmv[1], c.wy) << c.vy;
  }
}

}  // namespace
