// The rate feedback of the second pass on plans set by hand: the deviation table at its edges,
// the short window, the type ratios (one worked case of each branch, worked out in single
// precision by hand), the first GOPs' quantisers and histories, and the re-anchoring of a plan
// the pass stays far under, with its texts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "encoder/control/control.h"
#include "encoder/control/echo.h"
#include "encoder/control/settings.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/intermpass.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/pass2.h"
#include "encoder/passes/ratefeedback.h"

namespace {

TEST(deviationtable, edgesandcolumns) {
  struct c {
    int framesleft;
    int64_t d;
    float factor;
    int32_t level;
  } cases[] = {
      // 3000 or more frames left: thresholds 1024 ... 16
      {3000, 1024, 1.15f, 10}, {3000, 1025, 1.2f, 11},  {3000, -1024, 0.85f, -10},
      {3000, -1025, 0.8f, -11}, {5000, 16, 1.0f, 0},    {5000, 17, 1.01f, 0},
      {5000, -17, 0.99f, 0},    {5000, -16, 1.0f, 0},   {5000, 0, 1.0f, 0},
      {3000, 33, 1.02f, 1},     {3000, -129, 0.96f, -3},
      // 1500 to 2999: 896 ... 16
      {2999, 897, 1.2f, 11},    {1500, 896, 1.15f, 10}, {1500, 17, 1.01f, 0},
      // below 1500: 768 ... 12
      {1499, 769, 1.2f, 11},    {1200, 768, 1.15f, 10}, {1200, 13, 1.01f, 0},
      {1200, -12, 1.0f, 0},     {1, -13, 0.99f, 0},     {1, 21, 1.02f, 1},
  };
  for (const c& t : cases) {
    float factor = 0.0f;
    int32_t level = 99;
    deviationfactor(t.d, t.framesleft, factor, level);
    EXPECT_EQ(factor, t.factor) << t.framesleft << " " << t.d;
    EXPECT_EQ(level, t.level) << t.framesleft << " " << t.d;
  }
  EXPECT_EQ(deviationcolumn(1200), 2);  // thresholds from 768 on
}

TEST(deviationtable, shortwindow) {
  for (auto [left, w] : std::vector<std::pair<int, int>>{{1200, 10}, {1000, 10}, {999, 8},
                                                         {800, 8}, {799, 6}, {500, 6},
                                                         {499, 5}, {450, 5}, {1, 5}})
    EXPECT_EQ(shortwindow(left), w) << left;
}

TEST(typeqratios, everybranch) {
  struct c {
    int bppclass, gopclass, level;
    float q, qi, qp, qb;
  } cases[] = {
      // under the plan, B ratio 1.85 eased by 0.45: (1.85 + 0.45) / 1.45 = 1.5862068
      {6, 1, -11, 10.0f, 10.0f, 10.5f, 15.862068176269531f},
      // level -1 eases by 0.03: (1.45 + 0.03) / 1.03 = 1.4368932
      {4, 5, -1, 8.0f, 8.0f, 8.0f, 11.495145797729492f},
      // a B ratio at or below 1.0 is never eased
      {2, 30, -11, 10.0f, 10.0f, 9.5f, 9.59999942779541f},
      // over the plan (and at level 0) the B ratio stands
      {3, 1, 5, 10.0f, 10.0f, 9.0f, 17.0f},
      {1, 32, 0, 10.0f, 10.0f, 10.0f, 9.0f},
      // raised to 1, lowered to 31
      {1, 1, 0, 0.5f, 1.0f, 1.0f, 1.0f},
      {6, 1, 0, 30.0f, 30.0f, 31.0f, 31.0f},
  };
  for (const c& t : cases) {
    settings.bppclass = t.bppclass;
    settings.gopclass = t.gopclass;
    feedback.ratelevel = t.level;
    float qi = 0.0f, qp = 0.0f, qb = 0.0f;
    typeqratios(qi, qp, qb, t.q);
    SCOPED_TRACE(testing::Message() << t.bppclass << " " << t.gopclass << " " << t.level);
    EXPECT_EQ(qi, t.qi);
    EXPECT_EQ(qp, t.qp);
    EXPECT_EQ(qb, t.qb);
  }
  settings = settingsrec{};
  feedback = feedbackrec{};
}

class feedbackrun : public ::testing::Test {
 protected:
  std::vector<std::string> log;
  std::vector<std::pair<int, std::string>> shown;  // GOP and status text, at each change

  // Three GOPs of 1,000,000 planned bits and 15 frames at base quantiser 10, 25 frames a
  // second under a maximum of 8,000 kbit/s.
  void threegopsatten() {
    plan({1000000, 1000000, 1000000});
    settings.maxbitrate = 8000000;
    settings.framerate = 25.0;
    gopstats.frames[1] = gopstats.frames[2] = gopstats.frames[3] = 15;
    gopqbase[1] = gopqbase[2] = gopqbase[3] = 10.0f;
  }

  // G GOPs of the given budgets at base quantiser 4, one macroblock a picture.
  void plan(const std::vector<int64_t>& budgets) {
    settings = settingsrec{};
    settings.mbcount = 1;
    settings.logfileon = true;
    logsink = [this](const std::string& l) { log.push_back(l); };
    showwindow = true;
    gopsdone = int(budgets.size());
    cumplan[0] = 0;
    for (size_t k = 1; k <= budgets.size(); ++k) {
      cumplan[k] = cumplan[k - 1] + budgets[k - 1];
      gopqbase[k] = 4.0f;
    }
    plantotal = cumplan[budgets.size()];
    spentbits = 0;
    feedback.ratelevel = 7;  // left from an earlier run: GOP 1 starts afresh
  }
  // adjustrate for GOPs 1..gops, nothing spent, frames left framesleft.
  void nothingspent(int gops, int framesleft) {
    ringcounters.framesleft = framesleft;
    for (gopcount = 1; gopcount <= gops; ++gopcount) {
      putstatus("");
      adjustrate();
      std::string s = getstatusline();
      s.erase(s.find_last_not_of(' ') + 1);
      if (!s.empty()) shown.push_back({gopcount, s});
    }
  }
  void TearDown() override {
    logsink = nullptr;
    settings = settingsrec{};
    gopcount = gopsdone = 0;
    spentbits = 0;
  }
};

// GOP 1 takes its base quantiser as it is. GOP 2, over the plan by 1025 bits a macroblock,
// gets factor 1.2 and level 11 from the table and its histories move on; its quantiser comes
// from what is left to spend (898,975 bits) against the rest of the plan (900,000), through the
// exponent 2 of a relation not measured yet. GOP 3, 13 bits under with fewer than 1500 frames
// left: factor 0.99, level 0, and 800,013 left against 800,000.
TEST_F(feedbackrun, firstgops) {
  plan(std::vector<int64_t>(10, 100000));
  gopqbase[1] = 7.5f;
  gopqbase[2] = 5.0f;
  gopqbase[3] = 5.0f;
  ringcounters.framesleft = 400;
  gopcount = 1;
  EXPECT_EQ(adjustrate(), 7.5f);
  EXPECT_EQ(feedback.ratelevel, 0);
  EXPECT_EQ(feedback.shortmean, 1.0f);
  gopcount = 2;
  spentbits = cumplan[1] + 1025;
  EXPECT_NEAR(adjustrate(), 5.0f * std::pow(898975.0f / 900000.0f, -0.5f), 1e-5);
  EXPECT_EQ(feedback.ratefactor, 1.2f);
  EXPECT_EQ(feedback.ratelevel, 11);
  EXPECT_EQ(feedback.shortmean, 1.0399999618530273f);  // (1.2 + 4 x 1.0) / 5
  EXPECT_EQ(feedback.midmean, 1.0049999952316284f);    // (1.2 + 39 x 1.0) / 40
  EXPECT_EQ(feedback.longmean, 1.000999927520752f);
  gopcount = 3;
  spentbits = cumplan[2] - 13;
  EXPECT_NEAR(adjustrate(), 5.0f * std::pow(800013.0f / 800000.0f, -0.5f), 1e-5);
  EXPECT_EQ(feedback.ratefactor, 0.99f);
  EXPECT_EQ(feedback.ratelevel, 0);
}

// Nothing spent on a plan of a million bits a GOP: every GOP is far under (0.8, level -11).
// Once the long mean sits at its floor (120 factors of 0.8) and the short one at 0.8, the rest
// of the plan comes down to what was spent, once per such run of GOPs, with the change of the
// planned total shown and logged.
TEST_F(feedbackrun, reanchorsaplanfarunderspent) {
  plan(std::vector<int64_t>(300, 1000000));
  nothingspent(300, 100);
  ASSERT_EQ(shown.size(), 2u);
  // 121 GOPs' plan lowered from GOP 122 on: 179,000,000 left of 300,000,000, -67.6 %
  EXPECT_EQ(shown[0].first, 121);
  EXPECT_EQ(shown[0].second, " adjusting average bitrate:  -67.60  %");
  // 120 more: 59,000,000 left, -408.5 %
  EXPECT_EQ(shown[1].first, 241);
  EXPECT_EQ(shown[1].second, " adjusting average bitrate:  -408.47  %");
  EXPECT_EQ(log, (std::vector<std::string>{" *** INFO, adjusting average bitrate:  -67.60  %",
                                           " *** INFO, adjusting average bitrate:  -408.47  %"}));
  EXPECT_EQ(cumplan[121], 121000000);
  EXPECT_EQ(cumplan[241], 120000000);
  EXPECT_EQ(cumplan[242], 1000000);
  EXPECT_EQ(cumplan[300], 59000000);
  EXPECT_EQ(plantotal, 300000000);
}

// A plan whose rest is empty re-anchors to no bits at all: the change is shown as 0, never a
// division by zero.
TEST_F(feedbackrun, reanchoringtoanemptyplanshowszero) {
  std::vector<int64_t> budgets(300, 0);
  for (int k = 0; k < 121; ++k) budgets[size_t(k)] = 1000000;
  plan(budgets);
  nothingspent(121, 100);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].second, " adjusting average bitrate:  0.00  %");
  EXPECT_EQ(cumplan[300], 0);
}

TEST(anchortext, shape) {
  EXPECT_EQ(anchortext(-3.5f, false), " adjusting average bitrate:  -3.50  %");
  EXPECT_EQ(anchortext(-3.5f, true), " *** INFO, adjusting average bitrate:  -3.50  %");
  EXPECT_EQ(anchortext(12.345f, false), " adjusting average bitrate:  12.35  %");
  EXPECT_EQ(anchortext(-12345.5f, true), " *** INFO, adjusting average bitrate:  -12345.50  %");
}

// The measured relation on GOPs of 1,000,000 planned bits at base quantiser 10 (15 frames at
// 25 a second under a maximum of 8,000 kbit/s, a GOP at most 4,656,000 bits at 97 % of it).
// GOP 1: a try at half its part is coded again one step of the steepest first guess (k = 3)
// finer and the model takes that step; the second try measures k from the two and, still
// 20 % under, goes again; a try at quantiser 1 under its part, or one the VBV check made
// coarser, teaches nothing; one over the maximum goes back to the margin under it at the
// steepest first guess (a try the VBV check touched measures no k).
TEST_F(feedbackrun, measuredrelation) {
  threegopsatten();
  ringcounters.framesleft = 45;
  gopcount = 1;
  adjustrate();  // GOP 1: a fresh model
  const float step1 = std::log(0.5f) / 3.0f;
  EXPECT_NEAR(ratemeasure(1, 500000, 10.0f, 0, true, true), std::exp(step1), 1e-5);
  EXPECT_NEAR(feedback.modelfactor, std::exp(step1), 1e-5);
  const float q2 = 10.0f * std::exp(step1);
  const float k = std::log(500000.0f / 800000.0f) / (std::log(q2) - std::log(10.0f));
  const float s2 = ratemeasure(1, 800000, q2, 1, true, true);
  EXPECT_NEAR(feedback.exponent, k, 1e-4);
  EXPECT_NEAR(s2, std::exp(std::log(0.8f) / k), 1e-4);
  const float mf = feedback.modelfactor;
  EXPECT_EQ(ratemeasure(1, 500000, 1.0f, 2, true, true), 1.0f);
  EXPECT_EQ(ratemeasure(1, 500000, 12.0f, 2, true, false), 1.0f);
  EXPECT_EQ(feedback.modelfactor, mf);
  // 6,000,000 bits in 15 frames is 10,000 kbit/s: six times its part, from quantiser 12.
  const float steepest = std::max(feedback.exponent, 3.0f);  // not measured on this try
  EXPECT_NEAR(ratemeasure(1, 6000000, 12.0f, 2, true, false),
              std::exp(std::min(std::log(6.0f) / steepest, 1.1f)), 1e-4);
}

// Later GOPs against their part of what is left: GOP 2 after GOP 1 spent 1,400,000 has
// 1,600,000 left against the 2,000,000 the plan still holds, so its part is 800,000. 10 % over
// it the try stands (GOP 3 takes the 80,000 up) and the model takes half its step; 1,800,000
// bits over it is more than GOP 3's share, so the GOP goes again, from its own quantiser;
// after a try of it was abandoned at quantiser 12, a finer one goes at most half way there.
// The last GOP takes up any miss beyond 2 %.
TEST_F(feedbackrun, latergopsandwhatisleft) {
  threegopsatten();
  ringcounters.framesleft = 30;
  gopcount = 1;
  adjustrate();  // a fresh model: exponent 2, factor 1
  spentbits = 1400000;
  gopcount = 2;
  // 2,000,000 left against 1,600,000 planned, through the exponent 2
  EXPECT_NEAR(adjustrate(), 10.0f * std::pow(1600000.0f / 2000000.0f, -0.5f), 1e-4);
  const float part = 800000.0f;
  EXPECT_EQ(ratemeasure(2, 880000, 10.0f, 0, true, true), 1.0f);
  EXPECT_NEAR(feedback.modelfactor, std::exp(0.5f * std::log(0.88f) / 3.0f), 1e-5);
  feedback.modelfactor = 1.0f;
  EXPECT_NEAR(ratemeasure(2, 2600000, 10.0f, 0, true, true),
              std::exp(std::log(2600000.0f / part) / 3.0f), 1e-4);
  feedback.lastgop = 0;  // (the two tries at 10 and 14 would measure an exponent)
  EXPECT_NEAR(ratemeasure(2, 300000, 14.0f, 1, true, true, 12.0f),
              std::exp(0.5f * (std::log(12.0f) - std::log(14.0f))), 1e-4);
  // the last GOP: 1,600,000 spent before it, 1,400,000 left
  spentbits = 1600000;
  EXPECT_NEAR(ratemeasure(3, 1500000, 10.0f, 0, true, true),
              std::exp(std::log(1500000.0f / 1400000.0f) / 3.0f), 1e-4);
  EXPECT_EQ(ratemeasure(3, 1410000, 10.0f, 0, true, true), 1.0f);  // within 2 %
}

// A later GOP on its part (GOP 1 spent its plan): 15 % under, GOP 3 takes the miss up; 30 %
// under (or 30 % over) is content the relation learnt on GOP 1 does not know, coded again like
// the first GOP, up to three times, though GOP 3 could take it up. A GOP whose part is the
// margin under the maximum (maximum 1,600 kbit/s: 931,200 bits) goes again 5 % under it, where
// the GOPs after it would have to spend above their plan. Tries 3 % apart measure an exponent.
TEST_F(feedbackrun, latergopsfaroffornearthemaximum) {
  struct row {
    int32_t maxbitrate;
    int64_t bits;
    int recodes;
    float factor;  // 1: the try stands
  };
  const float k = 3.0f;  // the first guess's, nothing measured on GOP 2
  const row rows[] = {
      {8000000, 850000, 0, 1.0f},
      {8000000, 700000, 0, std::exp(std::log(0.7f) / k)},
      {8000000, 700000, 2, std::exp(std::log(0.7f) / k)},
      {8000000, 700000, 3, 1.0f},
      {8000000, 1300000, 2, std::exp(std::log(1.3f) / k)},
      {8000000, 880000, 0, 1.0f},
      {1600000, 880000, 0, std::exp(std::log(880000.0f / 931200.0f) / k)},
      {1600000, 920000, 0, 1.0f},  // within 2 %
  };
  for (const row& r : rows) {
    SCOPED_TRACE(testing::Message() << r.maxbitrate << " " << r.bits << " " << r.recodes);
    threegopsatten();
    settings.maxbitrate = r.maxbitrate;
    ringcounters.framesleft = 30;
    gopcount = 1;
    adjustrate();
    spentbits = 1000000;
    gopcount = 2;
    adjustrate();
    EXPECT_NEAR(ratemeasure(2, r.bits, 10.0f, r.recodes, true, true), r.factor, 1e-4);
  }
  threegopsatten();
  gopcount = 1;
  adjustrate();
  ratemeasure(1, 500000, 10.0f, 0, true, true);
  ratemeasure(1, 530000, 10.0f / 1.03f, 1, true, true);
  EXPECT_NEAR(feedback.exponent, std::log(530000.0f / 500000.0f) / std::log(1.03f), 1e-3);
}

// An abandoned try's raise: the square root the picture check took stands until the relation
// is measured steeper than 2; then the measured power of the excess over the margin under the
// maximum (97 % of 8,000 kbit/s), at least 2 % and never more than the check's raise.
TEST_F(feedbackrun, abandonedtriesfollowthemeasuredrelation) {
  plan({1000000});
  settings.maxbitrate = 8000000;
  feedback.exponent = 2.0f;
  EXPECT_EQ(abandonstep(1.3f, 16000000), 1.3f);
  feedback.exponent = 6.0f;
  EXPECT_NEAR(abandonstep(1.3f, 9000000), std::pow(9000000.0f / 7760000.0f, 1.0f / 6.0f), 1e-5);
  EXPECT_EQ(abandonstep(1.3f, 7000000), 1.02f);
  EXPECT_EQ(abandonstep(1.01f, 7000000), 1.01f);
  EXPECT_EQ(abandonstep(1.05f, 64000000), 1.05f);
}

}  // namespace
