// The full-pel search on made-up cost landscapes: the order in which positions are asked for,
// the early exits at each threshold, the tie rules, the walks' stops and reach, and that every
// position asked for lies inside the picture.
#include "encoder/motion/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/kernels.h"
#include "tests/motion/harness.h"
#include "tests/search/mesupport.h"

namespace {

using pos = costlandscape::pos;
using searchfn = int32_t (*)(const uint8_t*, int, const uint8_t*, int, const mvcands&, int&, int&,
                             int32_t, int32_t, int32_t);
const struct variant {
  const char* name;
  searchfn fn;
} variants[] = {{"mesearch1", mesearch1}, {"mesearch2", mesearch2}};

alignas(16) const uint8_t noblock[256] = {};

// Candidate k at (100 + 10 k, 50): distinct, far from each other.
mvcands spreadlist() {
  mvcands c{};
  for (int k = 0; k < 8; ++k) {
    c.x[k] = 100 + 10 * k;
    c.y[k] = 50;
    c.valid[k] = 1;
  }
  return c;
}
pos candpos(int k) { return {100 + 10 * k, 50}; }

// Costs by candidate entry; every other position costs 5000 (so no walk moves).
std::function<int32_t(int, int)> bycandidate(std::map<int, int32_t> costs) {
  return [costs](int px, int py) -> int32_t {
    for (const auto& [k, v] : costs)
      if (candpos(k) == pos{px, py}) return v;
    return 5000;
  };
}

std::vector<pos> candseq(std::initializer_list<int> ks) {
  std::vector<pos> v;
  for (int k : ks) v.push_back(candpos(k));
  return v;
}

struct result {
  int32_t cost;
  int bx, by;
};
result run(searchfn f, const mvcands& c, int32_t t0, int32_t t1, int32_t t7) {
  result r{};
  r.bx = r.by = -1;
  r.cost = f(nullptr, 0, noblock, 1, c, r.bx, r.by, t0, t1, t7);
  return r;
}

TEST(search, candidateorderandexits) {
  setpicture(320, 128);
  const struct {
    const char* what;
    int pictype;
    std::map<int, int32_t> costs;
    std::vector<int> validoff;
    std::vector<int> order;  // candidate entries asked for, in order
    int best;                // entry of the result
  } cases[] = {
      {"P: entry 0 below 328", 2, {{0, 327}}, {}, {0}, 0},
      {"P: entry 0 at 328, entry 1 below 272", 2, {{0, 328}, {1, 271}}, {}, {0, 1}, 1},
      {"P: entry 1 at 272, entry 7 below 256", 2, {{0, 328}, {1, 272}, {7, 255}}, {}, {0, 1, 7}, 7},
      {"P: all, best entry 7 at 256 ends without walk",
       2,
       {{0, 328}, {1, 272}, {7, 256}, {2, 300}, {3, 290}, {4, 280}, {5, 270}, {6, 260}},
       {},
       {0, 1, 7, 2, 3, 4, 5, 6},
       7},
      {"P: best at or below 256 among 2..6",
       2,
       {{0, 400}, {1, 400}, {7, 400}, {2, 300}, {3, 256}, {4, 256}, {5, 900}, {6, 257}},
       {},
       {0, 1, 7, 2, 3, 4, 5, 6},
       3},
      {"P: invalid entries are not asked for; entry 0 always",
       2,
       {{0, 500}, {3, 100}},
       {0, 1, 4, 7},
       {0, 2, 3, 5, 6},
       3},
      {"B: entry 1 first, below 328", 3, {{1, 327}}, {}, {1}, 1},
      {"B: entry 1 at 328, entry 0 below 272", 3, {{1, 328}, {0, 271}}, {}, {1, 0}, 0},
      {"B: entry 0 at 272 goes on", 3, {{1, 328}, {0, 272}, {7, 255}}, {}, {1, 0, 7}, 7},
      {"B: entry 1 invalid", 3, {{0, 200}}, {1}, {0}, 0},
      {"I: neither entry 0 nor 1", 1, {{7, 300}, {2, 100}}, {}, {7, 2, 3, 4, 5, 6}, 2},
  };
  for (const auto& c : cases)
    for (const variant& v : variants) {
      SCOPED_TRACE(testing::Message() << c.what << ", " << v.name);
      settings.curpictype = c.pictype;
      mvcands list = spreadlist();
      for (int k : c.validoff) list.valid[k] = 0;
      const int32_t t0 = c.pictype == 3 ? bthresh0 : pthresh0;
      const int32_t t1 = c.pictype == 3 ? bthresh1 : pthresh1;
      costlandscape land(bycandidate(c.costs));
      const result r = run(v.fn, list, t0, t1, 256);
      std::vector<pos> want;
      for (int k : c.order) want.push_back(candpos(k));
      EXPECT_EQ(land.asked(), want);
      EXPECT_EQ((pos{r.bx, r.by}), candpos(c.best));
      EXPECT_EQ(r.cost, c.costs.count(c.best) ? c.costs.at(c.best) : 5000);
      for (int k = 0; k < 8; ++k) {
        const bool asked = std::find(c.order.begin(), c.order.end(), k) != c.order.end();
        if (!asked) {
          EXPECT_EQ(candcost[k], nocost) << "entry " << k;
        }
      }
    }
}

TEST(search, tiesgotothelowerentryandthewalkstartsthere) {
  setpicture(320, 128);
  settings.curpictype = 2;
  for (const variant& v : variants) {
    SCOPED_TRACE(v.name);
    costlandscape land(bycandidate(
        {{0, 900}, {1, 900}, {7, 900}, {2, 400}, {3, 300}, {4, 300}, {5, 300}, {6, 301}}));
    const result r = run(v.fn, spreadlist(), 328, 272, 256);
    EXPECT_EQ((pos{r.bx, r.by}), candpos(3));
    EXPECT_EQ(r.cost, 300);
    // After the eight candidates the walk looks around entry 3 and finds nothing cheaper.
    const pos c = candpos(3);
    std::vector<pos> want = candseq({0, 1, 7, 2, 3, 4, 5, 6});
    if (v.fn == mesearch2)
      for (auto [dx, dy] :
           {std::pair{0, -2}, {-1, -1}, {1, -1}, {-2, 0}, {2, 0}, {-1, 1}, {1, 1}, {0, 2}})
        want.push_back({c.x + dx, c.y + dy});
    for (auto [dx, dy] : {std::pair{0, -1}, {-1, 0}, {1, 0}, {0, 1}})
      want.push_back({c.x + dx, c.y + dy});
    EXPECT_EQ(land.asked(), want);
  }
}

// A list whose only candidate is the macroblock's own position (ox, oy), cost above 256.
mvcands single(int ox, int oy) {
  mvcands c{};
  c.x[0] = ox;
  c.y[0] = oy;
  c.valid[0] = 1;
  return c;
}

TEST(search, astepcountsimprovementsmadeearlierinthesamestep) {
  setpicture(320, 128);
  settings.curpictype = 2;
  // Around (50, 50): up 900, left 950 (cheaper than the start, not than up), right 800, down
  // 850: the step ends at the right point; nothing around it is cheaper.
  const std::map<std::pair<int, int>, int32_t> costs = {
      {{50, 50}, 1000}, {{50, 49}, 900}, {{49, 50}, 950}, {{51, 50}, 800}, {{50, 51}, 850}};
  costlandscape land([&](int px, int py) -> int32_t {
    auto it = costs.find({px, py});
    return it == costs.end() ? 2000 : it->second;
  });
  const result r = run(mesearch1, single(50, 50), 328, 272, 256);
  EXPECT_EQ((pos{r.bx, r.by}), (pos{51, 50}));
  EXPECT_EQ(r.cost, 800);
  const std::vector<pos> want = {{50, 50}, {50, 49}, {49, 50}, {51, 50}, {50, 51},
                                 {51, 49}, {50, 50}, {52, 50}, {51, 51}};
  EXPECT_EQ(land.asked(), want);
}

TEST(search, walkstopsbelowthethresholdonlyandnotonequalcosts) {
  setpicture(320, 128);
  settings.curpictype = 2;
  // A valley falling to the right by 1 per pixel, from 258 at the origin (100, 50); no early
  // exit of the candidate stage (T0 = T1 = 0).
  for (const variant& v : variants) {
    SCOPED_TRACE(v.name);
    {
      // 258 - d: the walk passes 256 and stops at the first point below it (255).
      costlandscape land([](int px, int py) { return 258 - (px - 100) + 10 * std::abs(py - 50); });
      const result r = run(v.fn, single(100, 50), 0, 0, 256);
      // mesearch1 moves 1 per step: 257, 256 (goes on), 255 stops. mesearch2 moves 2: 256
      // goes on, 254 stops the large walk, then one small step reaches 253.
      EXPECT_EQ(r.bx, v.fn == mesearch1 ? 103 : 105);
      EXPECT_EQ(r.cost, v.fn == mesearch1 ? 255 : 253);
    }
    {
      // A flat plateau: no point is strictly cheaper, the walk stays.
      costlandscape land([](int, int) { return 700; });
      const result r = run(v.fn, single(100, 50), 0, 0, 256);
      EXPECT_EQ((pos{r.bx, r.by}), (pos{100, 50}));
      EXPECT_EQ(land.asked().size(), v.fn == mesearch1 ? 5u : 13u);
    }
  }
}

TEST(search, walkreach) {
  setpicture(640, 192);
  settings.curpictype = 2;
  // Costs fall without end in one direction; the walk stops once more than 252 columns or
  // 62 rows from the origin. mesearch2's final small step goes one further.
  const struct {
    int dx, dy;        // direction of the slope
    int ox, oy;        // origin
    int want1, want2;  // distance reached by mesearch1, mesearch2
  } cases[] = {{1, 0, 16, 16, 253, 255},
               {-1, 0, 600, 16, 253, 255},
               {0, 1, 16, 16, 63, 65},
               {0, -1, 16, 170, 63, 65}};
  for (const auto& c : cases)
    for (const variant& v : variants) {
      SCOPED_TRACE(testing::Message() << v.name << " slope " << c.dx << "," << c.dy);
      costlandscape land([&](int px, int py) {
        return 100000 - c.dx * px - c.dy * py +
               50 * (c.dx ? std::abs(py - c.oy) : std::abs(px - c.ox));
      });
      const result r = run(v.fn, single(c.ox, c.oy), 328, 272, 256);
      const int want = v.fn == mesearch1 ? c.want1 : c.want2;
      EXPECT_EQ(r.bx, c.ox + c.dx * want);
      EXPECT_EQ(r.by, c.oy + c.dy * want);
    }
}

TEST(search, everypositionisinsidethepicturenexttoeachborder) {
  setpicture(256, 112);  // positions 0..240 x 0..96
  settings.curpictype = 2;
  const int ox = 112, oy = 48;
  // Costs grow with the distance to a target outside the picture (or on its edge): the walk
  // runs into the border, along it, and ends at the nearest inside position.
  const pos targets[] = {{-50, 48},  {300, 48},  {112, -30}, {112, 150}, {-50, -30},
                         {300, -30}, {-50, 150}, {300, 150}, {0, 10},    {240, 96}};
  for (const pos& t : targets)
    for (const variant& v : variants) {
      SCOPED_TRACE(testing::Message() << v.name << " target " << t.x << "," << t.y);
      costlandscape land(
          [&](int px, int py) { return 1000 + std::abs(px - t.x) + 3 * std::abs(py - t.y); });
      const result r = run(v.fn, single(ox, oy), 328, 272, 256);
      EXPECT_EQ(r.bx, std::clamp(t.x, 0, settings.searchxmax));
      EXPECT_EQ(r.by, std::clamp(t.y, 0, settings.searchymax));
      for (const pos& p : land.asked()) {
        ASSERT_GE(p.x, 0);
        ASSERT_LE(p.x, settings.searchxmax);
        ASSERT_GE(p.y, 0);
        ASSERT_LE(p.y, settings.searchymax);
      }
    }
}

TEST(search, finalsmallstepstaysinsideafterthereachstop) {
  // The large walk stops on the reach limit right at the picture's edge: the small step after
  // it skips the points outside.
  setpicture(288, 96);  // searchxmax 272
  settings.curpictype = 2;
  costlandscape land([](int px, int py) { return 100000 - px + std::abs(py - 40); });
  int bx = 0, by = 0;
  mesearch2(nullptr, 0, noblock, 1, single(18, 40), bx, by, 328, 272, 256);
  // Large steps reach 272 = 18 + 254 (beyond 252, and the last column); the small step
  // cannot go right.
  EXPECT_EQ(bx, 272);
  EXPECT_EQ(by, 40);
  for (const pos& p : land.asked()) ASSERT_LE(p.x, 272);
}

}  // namespace

namespace {

// Real planes with rows flush against guard pages: at every macroblock on the picture's edge,
// neighbour vectors that point just outside the picture (or exactly onto its edge) give
// invalid (or valid) entries, and the searches read nothing outside.
TEST(search, realplanescandidatesattheedges) {
  std::mt19937 rng(testseed() ^ 0x4142u);
  for (bool rightflush : {false, true}) {
    setpicture(64, 48, 2);
    guardplane ref(64, 48, rightflush), src(64, 48, rightflush);
    fillplane(rng, ref, 0);
    fillplane(rng, src, 0);
    alignas(16) uint8_t block[256];
    for (int i = 1; i <= settings.mbcount; ++i) {
      const int x = 16 * ((i - 1) % settings.mbcols), y = 16 * ((i - 1) / settings.mbcols);
      for (int d = 0; d < 4; ++d) {
        // Vectors to the left, right, top and bottom edge of the picture, then one beyond.
        for (int beyond : {0, 1}) {
          const int vx = d == 0 ? -x - beyond : d == 1 ? settings.searchxmax - x + beyond : 0;
          const int vy = d == 2 ? -y - beyond : d == 3 ? settings.searchymax - y + beyond : 0;
          for (int k = 1; k <= settings.mbcount; ++k) {
            picslots[1].mbs[k].fullmv[0] = static_cast<int16_t>(vx);
            picslots[1].mbs[k].fullmv[1] = static_cast<int16_t>(vy);
            picslots[1].mbs[k].fullmv[2] = static_cast<int16_t>(vx);
            picslots[1].mbs[k].fullmv[3] = static_cast<int16_t>(vy);
          }
          picslots[2].pictype = 2;
          picslots[2].mbs[i].fullmv[0] = static_cast<int16_t>(vx);
          picslots[2].mbs[i].fullmv[1] = static_cast<int16_t>(vy);
          SCOPED_TRACE(testing::Message()
                       << "seed " << testseed() << " mb " << i << " vector " << vx << "," << vy);
          mepred1(1, 2, i, x, y, pcands);
          const bool exists[5] = {false, x > 0, x > 0 && y > 0, y > 0,
                                  x < settings.searchxmax && y > 0};
          for (int k = 1; k <= 4; ++k) {
            if (exists[k]) {
              EXPECT_EQ(pcands.valid[k], beyond ? 0 : 1) << "entry " << k;
            }
          }
          EXPECT_EQ(pcands.valid[5], beyond ? 0 : 1);
          copy16blk(src.origin(), x, y, src.stride(), block);
          for (const variant& v : variants) {
            int bx = -1, by = -1;
            settings.curpictype = 2;
            v.fn(ref.origin(), ref.stride(), block, i, pcands, bx, by, 328, 272, 256);
            EXPECT_TRUE(bx >= 0 && bx <= settings.searchxmax && by >= 0 &&
                        by <= settings.searchymax);
            settings.curpictype = 3;
            mepred2(1, 3, 2, i, x, y, fcands, bcands);
            v.fn(ref.origin(), ref.stride(), block, i, fcands, bx, by, 272, 328, 256);
            v.fn(ref.origin(), ref.stride(), block, i, bcands, bx, by, 272, 328, 256);
            EXPECT_TRUE(bx >= 0 && bx <= settings.searchxmax && by >= 0 &&
                        by <= settings.searchymax);
          }
        }
      }
    }
  }
}

}  // namespace
