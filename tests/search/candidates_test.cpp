// Search candidates: which entries exist where, the bounds, the rounded mean, the B scaling
// and the previous B picture's vector.
#include <gtest/gtest.h>

#include <set>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/search.h"
#include "tests/search/mesupport.h"

namespace {

std::set<int> validset(const mvcands& c) {
  std::set<int> s;
  for (int k = 0; k < 8; ++k)
    if (c.valid[k] == 1) s.insert(k);
  return s;
}

int mbindex(int col, int row) { return 1 + col + row * settings.mbcols; }

void setfull(int slot, int i, int x, int y, int bx = 0, int by = 0) {
  int16_t* v = picslots[slot].mbs[i].fullmv;
  v[0] = static_cast<int16_t>(x);
  v[1] = static_cast<int16_t>(y);
  v[2] = static_cast<int16_t>(bx);
  v[3] = static_cast<int16_t>(by);
}

TEST(candidates, firstmacroblockhasonlythezerovectorandthecolocatedone) {
  setpicture(64, 48);
  picslots[2].pictype = 1;
  mepred1(1, 2, 1, 0, 0, pcands);
  EXPECT_EQ(validset(pcands), (std::set<int>{0}));
  EXPECT_EQ(pcands.x[0], 0);
  EXPECT_EQ(pcands.y[0], 0);

  picslots[2].pictype = 2;
  setfull(2, 1, 3, 4);
  mepred1(1, 2, 1, 0, 0, pcands);
  EXPECT_EQ(validset(pcands), (std::set<int>{0, 5}));
  EXPECT_EQ(pcands.x[5], 3);
  EXPECT_EQ(pcands.y[5], 4);
  EXPECT_EQ(pcands.valid[7], 0);
}

TEST(candidates, neighboursbyposition) {
  setpicture(64, 48);  // 4 x 3 macroblocks, every vector (0, 0)
  picslots[2].pictype = 1;
  const struct {
    int col, row;
    std::set<int> entries;
  } cases[] = {
      {0, 0, {0}},          {1, 0, {0, 1, 7}},          {3, 0, {0, 1, 7}},
      {0, 1, {0, 3, 4, 7}}, {1, 1, {0, 1, 2, 3, 4, 7}}, {3, 1, {0, 1, 2, 3, 7}},
      {0, 2, {0, 3, 4, 7}}, {3, 2, {0, 1, 2, 3, 7}},
  };
  for (const auto& c : cases) {
    mepred1(1, 2, mbindex(c.col, c.row), 16 * c.col, 16 * c.row, pcands);
    EXPECT_EQ(validset(pcands), c.entries) << "macroblock " << c.col << "," << c.row;
  }

  // Each entry takes its own neighbour's vector.
  setpicture(96, 80);
  const int i = mbindex(2, 2), cols = settings.mbcols;
  const int from[5] = {0, i - 1, i - cols - 1, i - cols, i - cols + 1};
  for (int k = 1; k <= 4; ++k) setfull(1, from[k], k, -k);
  mepred1(1, 2, i, 32, 32, pcands);
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(pcands.x[k], 32 + k) << "entry " << k;
    EXPECT_EQ(pcands.y[k], 32 - k) << "entry " << k;
  }
  // Mean of entries 1, 3, 4: x (33 + 35 + 36) / 3 = 34.67, y (31 + 29 + 28) / 3 = 29.33.
  EXPECT_EQ(pcands.x[7], 35);
  EXPECT_EQ(pcands.y[7], 29);
}

TEST(candidates, aneighbourpointingoutsideisdroppedandleavesthemean) {
  setpicture(64, 48);
  const int i = mbindex(1, 1);  // at (16, 16)
  setfull(1, i - 1, -17, 0);    // left: x = -1
  setfull(1, i - 4, 0, 1);      // top: (16, 17)
  setfull(1, i - 3, 2, 1);      // top-right: (18, 17)
  setfull(1, i - 5, 0, 17);     // top-left: y = 33 > searchymax 32
  mepred1(1, 2, i, 16, 16, pcands);
  EXPECT_EQ(validset(pcands), (std::set<int>{0, 3, 4, 7}));
  EXPECT_EQ(pcands.x[7], 17);
  EXPECT_EQ(pcands.y[7], 17);

  // Exactly on the border is inside.
  setfull(1, i - 1, -16, 16);  // (0, 32)
  mepred1(1, 2, i, 16, 16, pcands);
  EXPECT_EQ(pcands.valid[1], 1);
}

TEST(candidates, meanroundshalvesawayfromzero) {
  setpicture(64, 48);
  const int i = mbindex(1, 1);  // at (16, 16)
  const struct {
    int lx, tx, trx;  // x of the vectors of left, top, top-right (top-right -99: outside)
    int mean;
  } cases[] = {{1, 2, -99, 18}, {0, 1, 1, 17}, {0, 0, 1, 16}, {0, 1, -99, 17}, {3, 3, 4, 19}};
  for (const auto& c : cases) {
    setfull(1, i - 1, c.lx, 0);
    setfull(1, i - 4, c.tx, 1);
    setfull(1, i - 3, c.trx, 0);
    mepred1(1, 2, i, 16, 16, pcands);
    EXPECT_EQ(pcands.valid[7], 1);
    EXPECT_EQ(pcands.x[7], c.mean) << c.lx << " " << c.tx << " " << c.trx;
  }
  // Two valid rows 16 and 17 give 16.5, rounded to 17.
  setfull(1, i - 3, -99, 0);
  mepred1(1, 2, i, 16, 16, pcands);
  EXPECT_EQ(pcands.y[7], 17);
}

TEST(candidates, bneighboursperdirection) {
  setpicture(64, 48, 3);
  const int i = mbindex(1, 1);
  setfull(2, i - 1, 1, 2, -3, -4);
  picslots[1].pictype = 1;
  picslots[3].pictype = 1;
  mepred2(1, 3, 2, i, 16, 16, fcands, bcands);
  EXPECT_EQ(fcands.x[1], 17);
  EXPECT_EQ(fcands.y[1], 18);
  EXPECT_EQ(bcands.x[1], 13);
  EXPECT_EQ(bcands.y[1], 12);
  EXPECT_EQ(validset(fcands), validset(bcands));
  EXPECT_EQ(fcands.valid[5], 0);  // backward reference is an I picture
  EXPECT_EQ(fcands.valid[6], 0);  // one B picture between the references
}

TEST(candidates, bscalingbytemporaldistance) {
  setpicture(96, 80, 3);
  const int i = mbindex(2, 2), x = 32, y = 32;
  const struct {
    int fwd, bwd, cur, vx, vy;
    bool entry5;
    int fx, fy, bx, by;  // entry 5 of each list, relative to (x, y)
  } cases[] = {
      {1, 4, 2, 4, -5, true, 1, -2, -3, 3},  // rf 1/3, rb 2/3
      {1, 4, 3, 4, -5, true, 3, -3, -1, 2},  // rf 2/3, rb 1/3
      {1, 3, 2, 3, -3, true, 2, -2, -2, 2},  // halves: 1.5 -> 2, -1.5 -> -2
      {1, 3, 2, -1, 1, true, -1, 1, 1, -1},  // -0.5 -> -1
      {1, 1, 2, 4, 4, false, 0, 0, 0, 0},    // both references in one slot: no distance
      {1, 5, 3, 6, 0, true, 3, 0, -3, 0},    // D 4: rf 2/4, rb 2/4
  };
  for (const auto& c : cases) {
    setpicture(96, 80, 3);
    picslots[c.bwd].pictype = 2;
    setfull(c.bwd, i, c.vx, c.vy);
    mepred2(c.fwd, c.bwd, c.cur, i, x, y, fcands, bcands);
    SCOPED_TRACE(testing::Message() << "slots " << c.fwd << " " << c.cur << " " << c.bwd);
    ASSERT_EQ(fcands.valid[5], c.entry5 ? 1 : 0);
    ASSERT_EQ(bcands.valid[5], c.entry5 ? 1 : 0);
    if (!c.entry5) continue;
    EXPECT_EQ(fcands.x[5] - x, c.fx);
    EXPECT_EQ(fcands.y[5] - y, c.fy);
    EXPECT_EQ(bcands.x[5] - x, c.bx);
    EXPECT_EQ(bcands.y[5] - y, c.by);
  }
}

TEST(candidates, bscaledvectoroutsidethepictureisdropped) {
  setpicture(96, 80, 3);
  picslots[3].pictype = 2;
  setfull(3, 1, -4, 0);  // at (0, 0): forward -2, backward +2
  mepred2(1, 3, 2, 1, 0, 0, fcands, bcands);
  EXPECT_EQ(fcands.valid[5], 0);
  EXPECT_EQ(bcands.valid[5], 1);
  EXPECT_EQ(bcands.x[5], 2);
}

TEST(candidates, previousbpicturevector) {
  const struct {
    int fwd, bwd, cur;
    bool entry6;
  } cases[] = {
      {1, 4, 3, true}, {1, 4, 2, false}, {1, 3, 2, false}, {1, 5, 4, true}, {1, 5, 3, false}};
  for (const auto& c : cases) {
    setpicture(96, 80, 3);
    const int i = mbindex(2, 2);
    setfull(c.cur - 1, i, 5, -6, -7, 8);
    mepred2(c.fwd, c.bwd, c.cur, i, 32, 32, fcands, bcands);
    SCOPED_TRACE(testing::Message() << "slots " << c.fwd << " " << c.cur << " " << c.bwd);
    ASSERT_EQ(fcands.valid[6], c.entry6 ? 1 : 0);
    ASSERT_EQ(bcands.valid[6], c.entry6 ? 1 : 0);
    if (!c.entry6) continue;
    EXPECT_EQ(fcands.x[6], 37);
    EXPECT_EQ(fcands.y[6], 26);
    EXPECT_EQ(bcands.x[6], 25);
    EXPECT_EQ(bcands.y[6], 40);
  }
}

}  // namespace
