// The bit allocation between the passes on first passes set by hand: the bounds rule and the
// quantiser curve at worked values (worked out in single and extended precision by hand), a
// plan already on target left untouched, zone weights, the darkest GOPs, the peak cap with the
// WARNING texts, budgets beyond 32 bits, a GOP of no bits, and a 130,000-GOP plan that cannot
// reach its target ending at once.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "encoder/control/control.h"
#include "encoder/control/echo.h"
#include "encoder/control/settings.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/intermpass.h"
#include "encoder/passes/pass1.h"

namespace {

struct plangop {
  int frames;
  int32_t bits;
  float zone = 1.0f;
  int luma = 128;  // mean luma sample value of its frames
};

// A first pass of these GOPs at fps frames a second, one macroblock a frame.
void firstpass(const std::vector<plangop>& gops, double fps, int kbitrate, int kmaxbitrate,
               int bias = 0) {
  settings = settingsrec{};
  settingsrec& st = settings;
  st.framerate = fps;
  st.bitrate = kbitrate * 1000;
  st.maxbitrate = kmaxbitrate * 1000;
  st.bias = bias;
  st.mbcount = 1;
  st.firstframe = 0;
  int frame = 0;
  gopcount = int(gops.size());
  for (int i = 1; i <= gopcount; ++i) {
    const plangop& g = gops[size_t(i - 1)];
    gopstats.frames[i] = uint8_t(g.frames);
    gopstats.bits[i] = g.bits;
    gopstats.zone[i] = g.zone;
    for (int k = 0; k < g.frames; ++k) framelumasum[frame++] = g.luma * 256;
  }
  st.framecount = frame;
  st.lastframe = frame - 1;
  st.duration = frame / fps;
}

class plan : public ::testing::Test {
 protected:
  std::vector<std::string> log;
  void SetUp() override {
    logsink = [this](const std::string& l) { log.push_back(l); };
    keeprunning = true;
    errorflag = false;
    abortlatched = false;
  }
  void TearDown() override {
    logsink = nullptr;
    showwindow = true;
    settings = settingsrec{};
  }
  // Runs the pass with the log and the status line on; returns the status line, trimmed.
  std::string run() {
    settings.logfileon = true;
    showwindow = true;
    putstatus("");
    EXPECT_TRUE(intermpass());
    std::string s = getstatusline();
    return s.substr(0, s.find_last_not_of(' ') + 1);
  }
  int64_t reached() { return alloctotal(gopplan.target, gopplan.targetrate); }
};

TEST(ratebounds, workedvalues) {
  struct c {
    int32_t avg, max, pct, wantmax, wantlow;
  } cases[] = {
      // peak = nearest(2.4 x 3,000,000) in single precision: 7,200,000.5 gives 7,200,001;
      // low = 3,000,000 - trunc((3,000,000 / 7,200,001)^1.12 x 4,200,001) = 3,000,000 - 1,575,479
      {3000000, 9800000, 0, 7200001, 1424521},
      // 60 %: low + trunc(1,575,479 x 0.6), peak - trunc(0.6 x 4,200,001)
      {3000000, 9800000, 60, 4680001, 2369808},
      {3000000, 9800000, 100, 3000000, 3000000},
      // under 2.4 x avg the maximum stays: 0.625^1.12 x 3,000,000 = 1,772,176.1
      {5000000, 8000000, 0, 8000000, 3227824},
      {5000000, 8000000, 60, 6200000, 4291129},
      {1000000, 9800000, 0, 2400000, 474841},
      // an average at or above the maximum: nothing to narrow, the maximum never raised
      {5000000, 4000000, 60, 4000000, 5000000},
      {5000000, 5000000, 0, 5000000, 5000000},
      // no division by a zero or negative peak
      {5000000, 0, 0, 0, 5000000},
      {5000000, -7, 50, -7, 5000000},
      {0, 8000000, 0, 0, 0},
  };
  for (const c& t : cases) {
    int32_t max = t.max, low = -1;
    ratebounds(t.avg, max, low, t.pct);
    EXPECT_EQ(max, t.wantmax) << t.avg << " " << t.max << " " << t.pct;
    EXPECT_EQ(low, t.wantlow) << t.avg << " " << t.max << " " << t.pct;
  }
}

TEST(bpptoq, curveandclamps) {
  struct c {
    float x, want;
  } cases[] = {
      {0.1f, 26.10000228881836f},    // 35.9 - 98 x 0.1 in single precision
      {0.19f, 17.28000259399414f},
      {0.2f, 16.081157684326172f},   // the polynomial from 0.2 on (extended precision)
      {0.5f, 8.03734302520752f},
      {1.0f, 4.046536922454834f},
      {1.5f, 2.3868234157562256f},   // and up to 1.5
      {2.0f, 2.285600185394287f},    // 3.1428 - 0.4286 x 2
      {5.0f, 1.0f},                  // 0.9998, raised to 1
      {0.0f, 31.0f},                 // 35.9, lowered to 31
      {1000.0f, 1.0f},
  };
  for (const c& t : cases) EXPECT_EQ(bpptoq(t.x), t.want) << t.x;
}

TEST(alloctotal, ratesandaverage) {
  firstpass({{12, 3000000}, {13, 1000001}}, 25.0, 5000, 8000);
  int64_t sizes[3] = {0, 3000000, 1000001}, rates[3] = {};
  // 25 / 12 x 3,000,000 and 25 / 13 x 1,000,001 = 1,923,078.8; 4,000,001 bits in one second
  EXPECT_EQ(alloctotal(sizes, rates), 4000001);
  EXPECT_EQ(rates[1], 6250000);
  EXPECT_EQ(rates[2], 1923079);
}

// A first pass that already hit the target, every zone factor 1.0, no GOP above the peak: no
// budget changes, every GOP keeps the quantiser of a ratio of 1.
TEST_F(plan, ontargetisleftuntouched) {
  firstpass(std::vector<plangop>(20, {10, 2000000}), 25.0, 5000, 8000);
  EXPECT_EQ(run(), " bitrate set to      5000");
  for (int i = 1; i <= 20; ++i) {
    EXPECT_EQ(gopplan.target[i], 2000000) << i;
    EXPECT_EQ(gopplan.fixed[i], 0) << i;
    EXPECT_EQ(cumplan[i], 2000000LL * i) << i;
    EXPECT_EQ(gopqbase[i], bpptoq(1.0f)) << i;
  }
  EXPECT_EQ(cumplan[0], 0);
  EXPECT_EQ(plantotal, 40000000);
  EXPECT_EQ(ratetarget, 5000000);
  EXPECT_EQ(ratepeak, 8000000);
  EXPECT_EQ(ratefloor, 3227824);
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(log[1], "              --------------------------------");
  EXPECT_EQ(log[2], "              | encoding - intermediate pass |");
  EXPECT_EQ(log[5], "bitrate set to:                     5000 kb/s");
  // 5,000,000 bit/s for 8 seconds: 4,882.8 records of 8192 bytes
  EXPECT_EQ(log[6], "est. outfile length:                4883 kB");
  EXPECT_EQ(log[7].substr(0, 32), "intermediate encoding time:     ");
}

// On target with zone factors: the first stages compare the first pass's average and do
// nothing, the peak cap takes the weighted budgets' average, and the later stages pull it back
// to the target exactly, the heavier zones keeping more bits.
TEST_F(plan, zonesareweightedandpulledbacktothetarget) {
  std::vector<plangop> gops(20, {10, 2000000});
  for (int i = 0; i < 20; i += 2) gops[size_t(i)].zone = 1.5f;
  firstpass(gops, 25.0, 5000, 8000);
  EXPECT_EQ(run(), " bitrate set to      5000");
  EXPECT_EQ(reached(), 5000000);
  EXPECT_GT(gopplan.target[1], gopplan.target[2] * 14 / 10);
  EXPECT_EQ(plantotal, cumplan[20]);
}

// The darkest GOPs (mean luma below 17) keep their weighted first-pass size; the rest are
// scaled to meet the target.
TEST_F(plan, darkestgopskeeptheirsize) {
  std::vector<plangop> gops(8, {10, 2000000});
  gops[2].luma = 12;
  gops[5].luma = 12;
  gops[6].luma = 13;  // dark, but not the darkest
  gops[5].zone = 1.2f;
  firstpass(gops, 25.0, 3000, 8000);
  EXPECT_EQ(run(), " bitrate set to      3000");
  EXPECT_EQ(gopplan.luma[3], 12);
  EXPECT_EQ(gopplan.fixed[3], -1);
  EXPECT_EQ(gopplan.fixed[6], -1);
  EXPECT_EQ(gopplan.fixed[7], 0);
  EXPECT_EQ(gopplan.target[3], 2000000);
  EXPECT_EQ(gopplan.target[6], 2400000);
  EXPECT_LT(gopplan.target[7], 2000000);
  EXPECT_EQ(reached(), 3000000);
}

// A maximum under the average: every GOP is capped at the peak's share, the plan reaches the
// peak and the status line warns; with a bias above 50 % it names the bias.
TEST_F(plan, peakcapandwarnings) {
  for (int bias : {0, 50, 60}) {
    SCOPED_TRACE(bias);
    log.clear();
    firstpass(std::vector<plangop>(10, {10, 3000000}), 25.0, 5000, 4000, bias);
    const std::string status = run();
    for (int i = 1; i <= 10; ++i) {
      EXPECT_EQ(gopplan.target[i], 1600000) << i;  // 4,000,000 / (25 / 10)
      EXPECT_EQ(gopplan.fixed[i], -1) << i;
    }
    EXPECT_EQ(log[5], "bitrate set to:                     4000 kb/s");
    EXPECT_EQ(status, bias > 50 ? " WARNING, bitrate set to      4000, different from specified "
                                  "bitrate, maybe caused by high bias setting"
                                : " WARNING, bitrate set to      4000, different from specified "
                                  "bitrate");
  }
}

// Budgets far beyond 32 bits: one GOP of 36 frames at two gigabits a second.
TEST_F(plan, budgetsbeyond32bits) {
  firstpass({{36, 1000000}}, 25.0, 2000000, 2147483);
  run();
  EXPECT_GT(cumplan[1], int64_t(INT32_MAX));
  EXPECT_EQ(plantotal, cumplan[1]);
  // The single budget moves by 256 bits in single precision, so the unit stage trims the rest,
  // one bit at a time, up to its recomputation limit.
  EXPECT_NEAR(double(reached()), 2e9, 2e9 * 1e-4);
  EXPECT_EQ(gopqbase[1], 1.0f);
}

// A GOP without first-pass bits has no ratio: it takes the quantiser of a ratio of 1.
TEST_F(plan, gopwithoutbitstakesratioone) {
  firstpass({{10, 2000000}, {10, 0}, {10, 2000000}}, 25.0, 5000, 8000);
  run();
  EXPECT_EQ(gopqbase[2], bpptoq(1.0f));
}

// 130,000 GOPs whose plan cannot reach its target (above the peak): once every GOP is capped no
// stage can change a budget, and each ends at once instead of running to its iteration cap.
TEST_F(plan, unreachableplanof130000gopsendsatonce) {
  firstpass(std::vector<plangop>(130000, {1, 100000}), 25.0, 9000, 4000);
  const auto start = std::chrono::steady_clock::now();
  const std::string status = run();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 20.0);
  EXPECT_EQ(status, " WARNING, bitrate set to      4000, different from specified bitrate");
  EXPECT_EQ(reached(), 4000000);
  EXPECT_EQ(gopplan.fixed[130000], -1);
}

// A stop while the plan is being made ends the pass without a plan.
TEST_F(plan, stoppedpassmakesnoplan) {
  firstpass(std::vector<plangop>(10, {10, 100000}), 25.0, 5000, 8000);
  keeprunning = false;
  EXPECT_FALSE(intermpass());
  keeprunning = true;
}

}  // namespace
