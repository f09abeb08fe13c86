// The slice quantiser map: rows at q and q + 1 by activity, clamping, and the row ranking.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "encoder/coding/quantmap.h"

namespace {

// The seed of the random cases: OSTREL_SEED when set; printed once.
unsigned testseed() {
  static const unsigned seed = [] {
    const char* s = std::getenv("OSTREL_SEED");
    unsigned v = s ? static_cast<unsigned>(std::strtoul(s, nullptr, 10)) : 20261210u;
    std::printf("random cases: seed %u (set OSTREL_SEED to repeat another)\n", v);
    return v;
  }();
  return seed;
}

struct mapresult {
  std::vector<int32_t> q;  // q[r], r = 1..n
  int count(int32_t v) const { return static_cast<int>(std::count(q.begin() + 1, q.end(), v)); }
};

mapresult runmap(float qf, const std::vector<uint32_t>& act) {
  int n = static_cast<int>(act.size());
  mapresult m;
  m.q.assign(n + 2, -7);  // canaries at 0 and n + 1
  mbquantmap(qf, n, m.q.data(), act.data(), n);
  EXPECT_EQ(m.q[0], -7);
  EXPECT_EQ(m.q[n + 1], -7);
  return m;
}

// 7.4 on 36 rows of which 30 carry detail: the 12 most active rows at 8, the rest at 7, and
// no flat row among the 8s.
TEST(mbquantmap, fractionreachesthemostactiverows) {
  std::mt19937 rng(testseed());
  std::vector<uint32_t> act(36);
  std::vector<int> rows(36);
  for (int i = 0; i < 36; ++i) rows[i] = i;
  std::shuffle(rows.begin(), rows.end(), rng);
  // Distinct activities 100, 200, ... for 30 rows in shuffled places; 6 flat rows.
  for (int i = 0; i < 36; ++i) act[rows[i]] = i < 6 ? 0 : 100u * (i - 5);
  mapresult m = runmap(7.4f, act);
  EXPECT_EQ(m.count(8), 12) << "seed " << testseed();
  EXPECT_EQ(m.count(7), 24);
  for (int r = 1; r <= 36; ++r) {
    bool top = act[r - 1] > 100u * 18;  // the activities 1900 .. 3000
    EXPECT_EQ(m.q[r], top ? 8 : 7) << "row " << r << " activity " << act[r - 1];
  }
}

struct mapcase {
  float qf;
  int active;  // rows 1..active carry detail (activity = row number), the rest are flat
  int rows;
  int32_t low, high;
  int highcount;
};

TEST(mbquantmap, edgecases) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const mapcase cases[] = {
      {7.4f, 30, 36, 7, 8, 12},
      {4.5f, 5, 5, 4, 5, 3},      // nint(2.5) = 3, halves away from zero
      {4.5f, 5, 36, 4, 5, 3},     // only detailed rows count
      {31.0f, 36, 36, 31, 31, 36},
      {45.7f, 36, 36, 31, 31, 36},
      {0.3f, 36, 36, 1, 1, 36},
      {-5.0f, 36, 36, 1, 1, 36},
      {1.0f, 36, 36, 1, 1, 36},
      {6.0f, 36, 36, 6, 6, 36},   // fraction 0: every row q
      {9.99f, 0, 36, 9, 9, 36},   // flat grey picture: m = 0
      {30.9f, 10, 10, 30, 31, 9},
      {inf, 36, 36, 31, 31, 36},
      {-inf, 36, 36, 1, 1, 36},
      {nan, 36, 36, 31, 31, 36},
      {-nan, 36, 36, 31, 31, 36},
      {2.5f, 1, 1, 2, 3, 1},
      {2.49f, 1, 1, 2, 2, 1},
  };
  for (const mapcase& c : cases) {
    SCOPED_TRACE("qf " + std::to_string(c.qf) + " active " + std::to_string(c.active) +
                 " rows " + std::to_string(c.rows));
    std::vector<uint32_t> act(c.rows, 0);
    for (int r = 1; r <= c.active; ++r) act[r - 1] = static_cast<uint32_t>(r);
    mapresult m = runmap(c.qf, act);
    EXPECT_EQ(m.count(c.high), c.highcount);
    if (c.high != c.low) {
      EXPECT_EQ(m.count(c.low), c.rows - c.highcount);
      for (int r = 1; r <= c.rows; ++r)
        EXPECT_EQ(m.q[r], r > c.active - c.highcount && r <= c.active ? c.high : c.low)
            << "row " << r;
    }
  }
}

// Whatever the quantiser, every code is 1..31 and the mean over detailed rows is the nearest
// the rows allow; the rate control's values are often not round.
TEST(mbquantmap, meanoverdetailedrows) {
  unsigned seed = testseed();
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> qdist(0.0f, 33.0f);
  for (int trial = 0; trial < 2000; ++trial) {
    int n = 1 + static_cast<int>(rng() % 72);
    std::vector<uint32_t> act(n);
    int m = 0;
    for (uint32_t& a : act) {
      a = rng() % 3 == 0 ? 0 : rng() % 50000;
      m += a != 0;
    }
    float qf = qdist(rng);
    mapresult r = runmap(qf, act);
    float qc = std::clamp(qf, 1.0f, 31.0f);
    int q = static_cast<int>(qc);
    int k = 0;
    for (int i = 1; i <= n; ++i) {
      ASSERT_TRUE(r.q[i] == q || r.q[i] == q + 1) << "seed " << seed << " trial " << trial;
      ASSERT_LE(r.q[i], 31);
      if (r.q[i] == q + 1) {
        ++k;
        ASSERT_NE(act[i - 1], 0u) << "a flat row got the larger value, seed " << seed;
      }
    }
    ASSERT_LE(std::fabs(k - (qc - q) * m), 0.5f + 1e-3f) << "seed " << seed << " trial " << trial;
    // The larger value goes to the most active rows.
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j)
        if (r.q[i] > r.q[j]) {
          ASSERT_GE(act[i - 1], act[j - 1]) << "seed " << seed;
        }
  }
}

TEST(mbquantmap, rowspastthegivenactivitiesareflat) {
  std::vector<uint32_t> act(10, 500);
  std::vector<int32_t> q(maxquantrows + 2, -7);
  // 20 rows, activities only for the first 10: m = 10, k = 5, all among rows 1..10.
  mbquantmap(3.5f, 20, q.data(), act.data(), 10);
  int high = 0;
  for (int r = 1; r <= 20; ++r) {
    if (q[r] == 4) {
      ++high;
      EXPECT_LE(r, 10);
    }
  }
  EXPECT_EQ(high, 5);
  EXPECT_EQ(q[21], -7);
  // More rows than the map holds: only 80 are written.
  std::vector<uint32_t> many(200, 1);
  mbquantmap(3.5f, 200, q.data(), many.data(), 200);
  EXPECT_EQ(q[maxquantrows + 1], -7);
}

TEST(aqrank, sortsanindexoftheactivities) {
  unsigned seed = testseed();
  std::mt19937 rng(seed);
  for (int trial = 0; trial < 3000; ++trial) {
    int n = static_cast<int>(rng() % (maxquantrows + 1));
    std::vector<uint32_t> act(n);
    int kind = trial % 5;  // random, few values (ties), sorted, reversed, all equal
    for (int i = 0; i < n; ++i) {
      switch (kind) {
        case 0: act[i] = static_cast<uint32_t>(rng()); break;
        case 1: act[i] = rng() % 4; break;
        case 2: act[i] = static_cast<uint32_t>(i) * 3; break;
        case 3: act[i] = static_cast<uint32_t>(n - i) * 3; break;
        default: act[i] = 77; break;
      }
    }
    if (n > 0 && trial % 7 == 0) act[0] = 0xffffffffu;
    std::vector<uint32_t> before = act;
    std::vector<int32_t> order(maxquantrows + 2, -1);
    aqrank(act.data(), n, order.data());
    ASSERT_EQ(act, before) << "activities changed";
    std::vector<int> seen(n + 1, 0);
    for (int i = 1; i <= n; ++i) {
      ASSERT_TRUE(order[i] >= 1 && order[i] <= n) << "seed " << seed << " trial " << trial;
      ++seen[order[i]];
      if (i > 1) {
        ASSERT_LE(act[order[i - 1] - 1], act[order[i] - 1])
            << "seed " << seed << " trial " << trial << " kind " << kind << " n " << n;
      }
    }
    for (int r = 1; r <= n; ++r) ASSERT_EQ(seen[r], 1) << "seed " << seed << " trial " << trial;
    ASSERT_EQ(order[n + 1], -1);
  }
}

}  // namespace
