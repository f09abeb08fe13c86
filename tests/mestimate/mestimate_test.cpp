// Motion estimation of whole P and B pictures on synthetic sequences: shifted pictures give
// their vectors, the forced-intra flag at its bound, the B directions, the f_codes, the second
// pass, and the clamps of the full-pel vectors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/motionest.h"
#include "encoder/motion/search.h"
#include "tests/mestimate/picplanes.h"
#include "tests/search/mesupport.h"

namespace {

int clampbyte(int v) { return std::clamp(v, 0, 255); }

// One picture's worth of planes and the slots 1 (forward), 2 (current), 3 (backward).
struct seq {
  yuvpic src, fwd, bwd, pred;
  residualplanes res;
  scratchblocks s;
  seq(int w, int h) : src(w, h, 0), fwd(w, h, 0), bwd(w, h, 0), pred(w, h, 0), res(w, h) {}
  pictargs p() { return argsfor(2, 1, 0, src, &fwd, nullptr, pred, res, s); }
  pictargs b() { return argsfor(2, 1, 3, src, &fwd, &bwd, pred, res, s); }
};

bool interiormb(int x, int y, int vx, int vy) {
  // The reference block and the ring of half-pel neighbours around it are inside.
  return x + vx > 0 && x + vx < settings.searchxmax && y + vy > 0 && y + vy < settings.searchymax;
}

template <class F>
void eachmb(F f) {
  for (int i = 1; i <= settings.mbcount; ++i)
    f(i, 16 * ((i - 1) % settings.mbcols), 16 * ((i - 1) / settings.mbcols));
}

TEST(picmotion, shiftedpicturegivesitsvector) {
  for (int profile : {1, 2, 3, 4}) {
    SCOPED_TRACE(testing::Message() << "profile " << profile);
    setpicture(128, 96, 2);
    settings.profile = profile;
    seq q(128, 96);
    // The source is the reference moved by (-3, 2): the macroblock at (x, y) is found at
    // (x + 3, y - 2) of the reference.
    q.fwd.fill([](int p, int x, int y) { return p ? 128 : smoothtexture(x, y); });
    q.src.fill([](int p, int x, int y) { return p ? 128 : smoothtexture(x + 3, y - 2); });
    picslots[1].pictype = 1;
    picmotionest(q.p());
    const picslot& s = picslots[2];
    int checked = 0;
    eachmb([&](int i, int x, int y) {
      if (!interiormb(x, y, 3, -2)) return;
      ++checked;
      EXPECT_EQ(s.mbs[i].fullmv[0], 3) << "mb " << i;
      EXPECT_EQ(s.mbs[i].fullmv[1], -2) << "mb " << i;
      EXPECT_EQ(s.mbs[i].halfmv[0], 6) << "mb " << i;
      EXPECT_EQ(s.mbs[i].halfmv[1], -4) << "mb " << i;
      EXPECT_EQ(s.mbs[i].statmv[0], 6) << "mb " << i;
      EXPECT_EQ(s.mbs[i].statmv[1], -4) << "mb " << i;
      EXPECT_EQ(s.mbs[i].mbdirflags[0], -1) << "mb " << i;
    });
    EXPECT_EQ(checked, 7 * 5);
    EXPECT_EQ(s.mecostflag, 0);
    int mh = 0, mv = 0;
    eachmb([&](int i, int, int) {
      mh = std::max(mh, std::abs(int(s.mbs[i].halfmv[0])));
      mv = std::max(mv, std::abs(int(s.mbs[i].halfmv[1])));
    });
    EXPECT_EQ(s.fcodes[0], fcodeforrange(mh));
    EXPECT_EQ(s.fcodes[1], fcodeforrange(mv));
    EXPECT_EQ(s.fcodes[2], 15);
    EXPECT_EQ(s.fcodes[3], 15);
    int sh = 0;
    eachmb([&](int i, int, int) { sh = std::max(sh, std::abs(int(s.mbs[i].statmv[0]))); });
    EXPECT_EQ(s.fcodes[4], fcodeforrange(sh));
    EXPECT_EQ(s.fcodes[6], 15);
    EXPECT_EQ(s.fcodes[7], 15);
  }
}

TEST(picmotion, flatpicturesmecostflagbound) {
  for (int pictype : {2, 3})
    for (int gap : {35, 36}) {
      SCOPED_TRACE(testing::Message() << "type " << pictype << " gap " << gap);
      setpicture(64, 48, pictype);
      seq q(64, 48);
      q.fwd.fill([](int, int, int) { return 100; });
      // B: the backward reference is further away; only the cheaper direction counts.
      q.bwd.fill([](int, int, int) { return 20; });
      q.src.fill([&](int, int, int) { return 100 + gap; });
      picslots[1].pictype = 1;
      picslots[3].pictype = 2;
      if (pictype == 2)
        picmotionest(q.p());
      else
        bmotionest(q.b());
      const picslot& s = picslots[2];
      EXPECT_EQ(s.mecostflag, gap == 36 ? -1 : 0);
      // Refinement and f_codes happen either way: flat planes keep every vector at zero.
      const int want[2][8] = {{1, 1, 15, 15, 1, 1, 15, 15}, {1, 1, 1, 1, 1, 1, 1, 1}};
      for (int n = 0; n < 8; ++n) EXPECT_EQ(s.fcodes[n], want[pictype - 2][n]) << n;
      eachmb([&](int i, int, int) {
        EXPECT_EQ(s.mbs[i].halfmv[0], 0);
        EXPECT_EQ(s.mbs[i].halfmv[1], 0);
        if (pictype == 2) {
          EXPECT_EQ(s.mbs[i].mbdirflags[0], 0);
        } else {
          EXPECT_EQ(s.mbs[i].mbdirflags[0], -1);  // forward is cheaper
          EXPECT_EQ(s.mbs[i].mbdirflags[1], 0);
        }
      });
    }
}

TEST(picmotion, flagsetonentryleaveseverythingalone) {
  setpicture(64, 48, 2);
  seq q(64, 48);
  picslots[2].mecostflag = -1;
  picslots[2].mbs[3].halfmv[0] = 9;
  picmotionest(q.p());
  EXPECT_EQ(picslots[2].mbs[3].halfmv[0], 9);
  EXPECT_EQ(picslots[2].fcodes[0], 15);
  settings.curpictype = 3;
  bmotionest(q.b());
  EXPECT_EQ(picslots[2].mbs[3].halfmv[0], 9);
}

struct bcase {
  const char* what;
  int foff, boff;  // brightness offsets of the forward and backward reference
  int dir;         // 0 forward, 1 backward, 2 interpolated
};

TEST(bmotion, shiftedreferencesoneitherside) {
  // Source T(x, y); forward reference T(x - 2, y + 1) (found at vector (2, -1)), backward
  // reference T(x + 4, y - 2) (found at vector (-4, 2)), each with a brightness offset.
  const bcase cases[] = {{"forward exact", 0, 3, 0},
                         {"backward exact", 3, 0, 1},
                         {"both exact", 0, 0, 1},
                         {"offsets cancel in the average", 4, -4, 2}};
  for (int profile : {2, 3, 4})
    for (const bcase& c : cases) {
      SCOPED_TRACE(testing::Message() << c.what << ", profile " << profile);
      setpicture(128, 96, 3);
      settings.profile = profile;
      seq q(128, 96);
      q.src.fill([](int p, int x, int y) { return p ? 128 : smoothtexture(x, y); });
      q.fwd.fill([&](int p, int x, int y) {
        return p ? 128 : clampbyte(smoothtexture(x - 2, y + 1) + c.foff);
      });
      q.bwd.fill([&](int p, int x, int y) {
        return p ? 128 : clampbyte(smoothtexture(x + 4, y - 2) + c.boff);
      });
      picslots[1].pictype = 1;
      picslots[3].pictype = 2;
      bmotionest(q.b());
      const picslot& s = picslots[2];
      int checked = 0;
      eachmb([&](int i, int x, int y) {
        if (!interiormb(x, y, 2, -1) || !interiormb(x, y, -4, 2)) return;
        ++checked;
        const mbrecord& mb = s.mbs[i];
        EXPECT_EQ(mb.fullmv[0], 2) << "mb " << i;
        EXPECT_EQ(mb.fullmv[1], -1) << "mb " << i;
        EXPECT_EQ(mb.fullmv[2], -4) << "mb " << i;
        EXPECT_EQ(mb.fullmv[3], 2) << "mb " << i;
        // A reference without offset matches exactly at full pel; one with an offset may
        // move half a pixel.
        const int want[4] = {4, -2, -8, 4};
        for (int d = 0; d < 4; ++d) {
          if ((d < 2 ? c.foff : c.boff) == 0)
            EXPECT_EQ(mb.halfmv[d], want[d]) << "mb " << i << " component " << d;
          else
            EXPECT_LE(std::abs(mb.halfmv[d] - want[d]), 1) << "mb " << i << " component " << d;
        }
        const int8_t flags[3][3] = {{-1, 0, 0}, {0, -1, 0}, {-1, -1, -1}};
        for (int d = 0; d < 3; ++d) EXPECT_EQ(mb.mbdirflags[d], flags[c.dir][d]) << "mb " << i;
      });
      EXPECT_EQ(checked, 6 * 4);
      int m[8] = {};
      eachmb([&](int i, int, int) {
        for (int n = 0; n < 4; ++n) {
          m[n] = std::max(m[n], std::abs(int(s.mbs[i].halfmv[n])));
          m[n + 4] = std::max(m[n + 4], std::abs(int(s.mbs[i].statmv[n])));
        }
      });
      for (int n = 0; n < 8; ++n) EXPECT_EQ(s.fcodes[n], fcodeforrange(m[n])) << n;
    }
}

TEST(bmotion, firstpassclearsthevectorsandflagsbeforesearching) {
  setpicture(64, 48, 3);
  seq q(64, 48);
  q.src.fill([](int p, int x, int y) { return p ? 128 : smoothtexture(x, y); });
  q.fwd.fill([](int p, int x, int y) { return p ? 128 : smoothtexture(x, y); });
  q.bwd.fill([](int p, int x, int y) { return p ? 128 : smoothtexture(x, y); });
  // Stale vectors of an earlier picture in this slot would be taken as neighbours.
  for (int i = 1; i <= settings.mbcount; ++i)
    for (int d = 0; d < 4; ++d) picslots[2].mbs[i].fullmv[d] = 7;
  picslots[1].pictype = 1;
  picslots[3].pictype = 1;
  bmotionest(q.b());
  eachmb([&](int i, int, int) {
    for (int d = 0; d < 4; ++d) EXPECT_EQ(picslots[2].mbs[i].fullmv[d], 0) << i;
  });
}

TEST(picmotion, secondpasstakesthestatisticsvectors) {
  for (int profile : {1, 2, 3}) {
    setpicture(64, 48, 2);
    settings.profile = profile;
    settings.passno = 2;
    seq q(64, 48);
    costlandscape land([](int, int) { return 0; });  // records any search
    eachmb([&](int i, int x, int y) {
      mbrecord& mb = picslots[2].mbs[i];
      mb.statmv[0] = static_cast<int16_t>(std::min(2 * (settings.searchxmax - x), i % 5));
      mb.statmv[1] = static_cast<int16_t>(-std::min(2 * y, i % 3));
      mb.fullmv[0] = 99;
    });
    picslots[2].mbs[7].statmv[0] = 17;  // largest: f_code 3
    picmotionest(q.p());
    EXPECT_TRUE(land.asked().empty());
    eachmb([&](int i, int, int) {
      const mbrecord& mb = picslots[2].mbs[i];
      EXPECT_EQ(mb.halfmv[0], mb.statmv[0]);
      EXPECT_EQ(mb.halfmv[1], mb.statmv[1]);
      EXPECT_EQ(mb.fullmv[0], 99);
      EXPECT_EQ(mb.mbdirflags[0], (mb.halfmv[0] || mb.halfmv[1]) ? -1 : 0);
    });
    EXPECT_EQ(picslots[2].fcodes[0], 3);
    EXPECT_EQ(picslots[2].fcodes[1], 1);
    EXPECT_EQ(picslots[2].fcodes[4], 3);
    EXPECT_EQ(picslots[2].mecostflag, 0);
  }
}

TEST(picmotion, fullpelvectorsclampedtothereach) {
  // Costs fall without end toward one side; the walk goes 253 columns (or 63 rows), the
  // stored vector is 252 (62).
  const struct {
    int w, h, dx, dy;
    int mb;  // macroblock checked (the one the walk starts furthest from the edge)
    int want0, want1;
  } cases[] = {{288, 16, 1, 0, 1, 252, 0},
               {288, 16, -1, 0, 18, -252, 0},
               {16, 96, 0, 1, 1, 0, 62},
               {16, 96, 0, -1, 6, 0, -62}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "slope " << c.dx << "," << c.dy);
    setpicture(c.w, c.h, 2);
    settings.profile = 1;
    seq q(c.w, c.h);
    costlandscape land([&](int px, int py) { return 100000 - c.dx * px - c.dy * py; });
    picmotionest(q.p());
    EXPECT_EQ(picslots[2].mbs[c.mb].fullmv[0], c.want0);
    EXPECT_EQ(picslots[2].mbs[c.mb].fullmv[1], c.want1);
  }
}

}  // namespace
