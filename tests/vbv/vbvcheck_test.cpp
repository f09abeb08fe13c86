// The VBV check and the maximum-bitrate retry on pictures of given sizes: the worked cases of
// the factors, what each rollback puts back, the bounds that make every re-coding end, and the
// buffer model that catches what the reference chain lets through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "encoder/coding/goppattern.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/control/control.h"
#include "encoder/control/echo.h"
#include "encoder/control/settings.h"
#include "encoder/control/startup.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/progress.h"
#include "encoder/passes/vbvcheck.h"

namespace {

constexpr int32_t level1size = 1743258;  // 95 % of Main Level's 1,835,008 bits

// A second pass at Main Level, 720x576 at 25 frames a second under 8,000 kbit/s (a declared
// buffer of 112 x 16,384 bits), profile 2, no frame store (a rollback restores no picture).
struct vbvcheck : ::testing::Test {
  settingsrec saved;
  std::vector<std::string> logged;

  void SetUp() override {
    saved = settings;
    settings = settingsrec{};
    settings.level = 1;
    settings.profile = 2;
    settings.passno = 2;
    settings.maxbitrate = 8000000;
    settings.slotcount = 0;
    settings.logfileon = true;
    vbvtable[1] = level1size;
    seqfields.vbv_buffer_size_value = 112;
    seqfields.bit_rate_value = 20000;
    seqfields.frame_rate_code = 3;
    headercursor = {};
    logsink = [this](const std::string& l) { logged.push_back(l); };
    showwindow = false;
    startpass();
  }
  void TearDown() override {
    logsink = nullptr;
    showwindow = true;
    vbvtable[1] = 0;
    settings = saved;
  }
  // What a GOP loop does at a GOP's start: multipliers 1.0, no restart or retry yet, the
  // counters as the snapshot has them.
  void newgop() {
    std::fill(std::begin(picqfactors), std::end(picqfactors), 1.0f);
    vbvrestart = retrycount = 0;
    icount = 5;
    pcount = 7;
    bcount = 9;
    gopsnapshot = {icount, pcount, bcount, newref, previewcount, settings.gopframe};
  }
  // A coded picture of the given bits at coding position i, slot and quantiser, counted by
  // the loop, then checked.
  void picture(int type, int slot, int i, int64_t bits, float q = 4.0f) {
    picslots[slot].picbits = int32_t(bits);
    picslots[slot].picbytes = int32_t(bits / 8);
    picq[i] = q;
    (type == 1 ? icount : type == 2 ? pcount : bcount) += 1;
    gopbits += int32_t(bits);
    vbvcheck2(type, slot, gopsnapshot, i);
  }
  // GOP arrays of a closed GOP coded I0 P3 B1 B2 (slots 1, 4, 2, 3).
  static void ipbb() {
    const int order[5] = {0, 1, 2, 3, 4}, types[5] = {0, 1, 2, 3, 3}, trefs[5] = {0, 0, 3, 1, 2};
    for (int k = 0; k < 5; ++k) {
      goporder[k] = order[k];
      goptypes[k] = types[k];
      goptrefs[k] = trefs[k];
    }
  }
  // A declared rate of 2,000 kbit/s (80,000 bits a frame into the buffer): the buffer stays low
  // after large pictures, where the chain's bound counts.
  void lowrate() {
    seqfields.bit_rate_value = 5000;
    startpass();
  }
  // A pass's start with the stream's start behind it: at Main Level the first pictures must
  // also fit what a DVD multiplexer has delivered by their decoding times (startup below), so
  // GOPs of one small I picture go first until that start-up buffer has caught up with the
  // full one; then a fresh GOP.
  void startpass() {
    vbvstart();
    framesaved = false;
    for (int k = 0; k < 4; ++k) {
      newgop();
      picture(1, 1, 1, 1000);
    }
    gopbits = 0;
    vbvchain = 0;
    newgop();
  }
  bool rolledback() const {
    return icount == gopsnapshot.icount && pcount == gopsnapshot.pcount &&
           bcount == gopsnapshot.bcount && gopbits == 0;
  }
};

// Level 1, profile 2, an I picture of 1,900,000 bits: r = 1,900,000 x 1.2 / 1,743,258 = 1.308
// becomes its multiplier and the GOP restarts. With one overflow in a row (n = 1) the floor of
// its factor is 1.25.
TEST_F(vbvcheck, oneioverflow) {
  picture(1, 1, 1, 1900000);
  const float r = 1900000.0f * 1.2f / float(level1size);
  EXPECT_NEAR(r, 1.308f, 0.0005f);
  EXPECT_FLOAT_EQ(picqfactors[1], r);
  EXPECT_EQ(vbvrestart, 1);
  EXPECT_TRUE(rolledback());
  EXPECT_EQ(vbvchain, 1900000);

  // Coded again still too large (r = 1.239 now): fa = max(1.2 + 1 / 20, r) = 1.25 lies below
  // the multiplier 1.308, which the floor alone would leave as it was (the same coding again,
  // and again until the floor, growing by 0.05 an overflow, passed it); above the floor the
  // multiplier grows by fa.
  picture(1, 1, 1, 1800000);
  EXPECT_FLOAT_EQ(picqfactors[1], r * 1.25f);
  EXPECT_EQ(vbvrestart, 2);

  // n = 1 on a fresh multiplier: fa = max(1.2 + 1 / 20, 1.239) = 1.25.
  newgop();
  vbvrestart = 1;
  picture(1, 1, 1, 1800000);
  EXPECT_FLOAT_EQ(picqfactors[1], 1.25f);
  EXPECT_EQ(vbvrestart, 2);
}

// A P picture that overflows right after an I picture raises the I picture's multiplier to
// max(1, fa) x fd and its own to max(1, fb) x fd; the chain and the counters go back to the
// GOP's start. (At 2,000 kbit/s the buffer keeps 15,000 bits after the P picture, less than
// the 91,750 the chain's bound leaves free.)
TEST_F(vbvcheck, poverflowafteri) {
  lowrate();
  picture(1, 1, 1, 1000000);
  EXPECT_EQ(vbvrestart, 0);
  picture(2, 4, 2, 900000);
  const float r = 1900000.0f * 1.2f / float(level1size);
  const float fa = std::max(1.2f, r), fb = std::max(1.15f, (1.0f + r) / 2.0f);
  const float fd = std::max(1.08f, (3.0f + r) / 4.0f);
  EXPECT_FLOAT_EQ(picqfactors[1], fa * fd);
  EXPECT_FLOAT_EQ(picqfactors[4], fb * fd);
  EXPECT_NEAR(picqfactors[1], 1.308f * 1.08f, 0.001f);
  EXPECT_EQ(vbvrestart, 1);
  EXPECT_TRUE(rolledback());
  // From the start again the chain holds the new I picture alone.
  picture(1, 1, 1, 1000000);
  EXPECT_EQ(vbvchain, 1000000);
  EXPECT_EQ(vbvrestart, 0);
}

// A GOP whose second coded picture is a B picture keeps the previous GOP's newest reference
// picture in the chain; its B picture's overflow raises the I picture and itself, never that
// reference (slot 12 of the previous GOP).
TEST_F(vbvcheck, bpictureofaframesavedgop) {
  lowrate();
  picture(1, 1, 1, 200000);
  picture(2, 12, 2, 600000);
  newgop();
  framesaved = true;
  picture(1, 3, 1, 500000);
  EXPECT_EQ(vbvchain, 1100000);  // the I picture and the previous GOP's P picture
  picture(3, 1, 2, 800000);
  EXPECT_EQ(vbvrestart, 1);
  EXPECT_GT(picqfactors[3], 1.0f);
  EXPECT_GT(picqfactors[1], 1.0f);
  EXPECT_FLOAT_EQ(picqfactors[12], 1.0f);
  for (int s : {2, 4, 5, 6, 7, 8, 9, 10, 11}) EXPECT_FLOAT_EQ(picqfactors[s], 1.0f) << s;
}

// The same chain of 1,900,000 bits at 8,000 kbit/s: the declared buffer, 320,000 bits fuller
// after the I picture, still holds 255,008 bits once the P picture left, more than the bound
// leaves free. The stream is within its limits: no overflow, the GOP goes on unchanged (the
// constant quantiser's stream). A P picture that leaves less sends it back.
TEST_F(vbvcheck, chainoverthebounditsbufferholds) {
  picture(1, 1, 1, 1000000);
  picture(2, 4, 2, 900000);
  EXPECT_EQ(vbvchain, 1900000);
  EXPECT_EQ(vbvrestart, 0);
  EXPECT_FALSE(rolledback());
  for (float pq : picqfactors) EXPECT_FLOAT_EQ(pq, 1.0f);
  startpass();
  picture(1, 1, 1, 1000000);
  picture(2, 4, 2, 1100000);  // leaves 55,008 bits
  EXPECT_EQ(vbvrestart, 1);
  EXPECT_TRUE(rolledback());
}

// The GOP's budget, picture by picture: a GOP of four pictures at 25 frames a second may spend
// 4 x 320,000 bits under 8,000 kbit/s. The try whose P picture passes it is abandoned right
// there, its quantisers raised by f0 x the square root of the excess its bits point to (the
// B pictures not coded yet count nothing), the multipliers as they were. With every picture at
// quantiser 31 nothing is abandoned and the retry after the try accepts the GOP over the
// maximum; on the GOP's last try nothing is abandoned either.
TEST_F(vbvcheck, atrypastthegopsbudgetisabandonedatonce) {
  settings.framerate = 25.0;
  ipbb();
  float qi = 4.0f, qp = 4.0f, qb = 4.0f;
  auto code = [&](int type, int slot, int i, int64_t bits, float q) {
    picslots[slot].picbits = int32_t(bits);
    picq[i] = q;
    (type == 1 ? icount : type == 2 ? pcount : bcount) += 1;
    gopbits += int32_t(bits);
    return checkpicture2(type, slot, gopsnapshot, i, 4, qi, qp, qb);
  };
  picqfactors[4] = 1.5f;
  EXPECT_FALSE(code(1, 1, 1, 600000, 4.0f));
  EXPECT_TRUE(code(2, 4, 2, 800000, 6.0f));
  EXPECT_TRUE(rolledback());
  EXPECT_EQ(retrycount, 1);
  EXPECT_EQ(vbvrestart, 0);
  const float f = 1.03f * float(std::sqrt(1400000.0 * 25.0 / 4.0 / 8000000.0));
  EXPECT_FLOAT_EQ(qi, 4.0f * f);
  EXPECT_FLOAT_EQ(qb, 4.0f * f);
  EXPECT_FLOAT_EQ(picqfactors[4], 1.5f);

  // Every picture at 31: the GOP goes on and is accepted over the maximum.
  startpass();
  qi = qp = qb = 31.0f;
  EXPECT_FALSE(code(1, 1, 1, 600000, 31.0f));
  EXPECT_FALSE(code(2, 4, 2, 800000, 31.0f));
  EXPECT_FALSE(code(3, 2, 3, 100000, 31.0f));
  EXPECT_FALSE(code(3, 3, 4, 100000, 31.0f));
  gopbitrate = int32_t(double(gopbits) * 25.0 / 4);
  maxrateretry2(qi, qp, qb, gopsnapshot);
  EXPECT_EQ(retrycount, 0);
  gopaccepted(0, 4, 1);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("over the maximum bitrate of 8000 Kb/s"), std::string::npos);

  // Quantisers below 31 on the GOP's last try: nothing abandoned.
  startpass();
  qi = qp = qb = 4.0f;
  lastgoptry = true;
  EXPECT_FALSE(code(1, 1, 1, 600000, 4.0f));
  EXPECT_FALSE(code(2, 4, 2, 800000, 4.0f));
  lastgoptry = false;
  EXPECT_FLOAT_EQ(qp, 4.0f);
}

// A P picture the buffer cannot carry right after the I picture (1,000,000 + 1,100,000 bits at
// 8,000 kbit/s), in a GOP of eight coded I P B B P B B P. From its own first pictures the try
// points to 13.4 Mbit/s (every P picture like the first), so it is abandoned and its
// quantisers raised. After a whole try of this GOP (1,500,000 bits at quantiser 5: at 4.5 about
// 5.8 Mbit/s) the try is not bound for more than the maximum: only the pictures that drained
// the buffer are raised, the GOP's quantisers stay. A whole try of another GOP counts nothing.
TEST_F(vbvcheck, awholetryofthegoptellsitscostbetterthanitsfirstpictures) {
  settings.framerate = 25.0;
  const int types[9] = {0, 1, 2, 3, 3, 2, 3, 3, 2}, trefs[9] = {0, 0, 3, 1, 2, 6, 4, 5, 7};
  for (int k = 0; k < 9; ++k) {
    goporder[k] = k;
    goptypes[k] = types[k];
    goptrefs[k] = trefs[k];
  }
  gopcount = 3;
  struct row {
    int wholegop;  // the GOP of the whole try, 0 for none
    bool abandoned;
  };
  for (const row r : {row{0, true}, row{2, true}, row{3, false}}) {
    SCOPED_TRACE(r.wholegop);
    startpass();
    wholetry = {r.wholegop, 5.0f, 1500000, 2.0f};
    float qi = 4.5f, qp = 4.5f, qb = 5.0f;
    auto code = [&](int type, int slot, int i, int64_t bits) {
      picslots[slot].picbits = int32_t(bits);
      picq[i] = type == 1 ? qi : qp;
      (type == 1 ? icount : pcount) += 1;
      gopbits += int32_t(bits);
      return checkpicture2(type, slot, gopsnapshot, i, 8, qi, qp, qb);
    };
    EXPECT_FALSE(code(1, 1, 1, 1000000));
    EXPECT_TRUE(code(2, 4, 2, 1100000));
    EXPECT_TRUE(rolledback());
    EXPECT_EQ(retrycount, r.abandoned ? 1 : 0);
    EXPECT_EQ(qi > 4.5f, r.abandoned);
    EXPECT_EQ(vbvrestart > 0, !r.abandoned);
    EXPECT_EQ(picqfactors[4] > 1.0f, !r.abandoned);
  }
  wholetry = {};
  gopcount = 0;
}

// The maximum-bitrate retry: profile 4, 9,000,000 against 8,000,000 bit/s gives f = 1.02 x
// 1.125 = 1.1475; quantiser 10 becomes 11.475, 30 becomes 31. With all three at 31 the GOP is
// accepted however far above the maximum. A maximum of 0 or less retries nothing.
TEST_F(vbvcheck, maximumbitrateretry) {
  settings.profile = 4;
  gopbitrate = 9000000;
  float qi = 10.0f, qp = 30.0f, qb = 20.0f;
  maxrateretry2(qi, qp, qb, gopsnapshot);
  EXPECT_EQ(retrycount, 1);
  EXPECT_FLOAT_EQ(qi, 10.0f * (1.02f * 9000000.0f / 8000000.0f));
  EXPECT_NEAR(qi, 11.475f, 1e-4f);
  EXPECT_FLOAT_EQ(qp, 31.0f);
  EXPECT_TRUE(rolledback());

  qi = qp = qb = 31.0f;
  gopbitrate = 90000000;
  maxrateretry2(qi, qp, qb, gopsnapshot);
  EXPECT_EQ(retrycount, 0);
  EXPECT_FLOAT_EQ(qi, 31.0f);
  gopaccepted(100, 12, 2);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], " WARNING, GOP " + std::to_string(gopcount) +
                           " (frames 100 - 111) accepted at 90000 Kb/s after 2 codings, over "
                           "the maximum bitrate of 8000 Kb/s");
  EXPECT_EQ(gopsoverlimit, 1);

  for (int maximum : {0, -400}) {
    settings.maxbitrate = maximum;
    qi = qp = qb = 4.0f;
    retrycount = 0;
    maxrateretry2(qi, qp, qb, gopsnapshot);
    maxrateretry1(qi, qp, qb, gopsnapshot);
    EXPECT_EQ(retrycount, 0);
    EXPECT_FLOAT_EQ(qb, 4.0f);
  }
}

// f0 of the retries by speed profile and retries made: maxrateretry2 takes its base factor,
// 1.05 after six; maxrateretry1 its base factor for the first three, then the larger of it and
// 1.15, of it and 1.2, then 1.25 on the sixth retry, 1.3, and 1.35 from the eighth on.
TEST_F(vbvcheck, retryfactors) {
  const float base2[5] = {0, 1.05f, 1.03f, 1.03f, 1.02f};
  const float base1[5] = {0, 1.2f, 1.15f, 1.15f, 1.1f};
  for (int p = 1; p <= 4; ++p) {
    SCOPED_TRACE(p);
    for (int made = 0; made <= 5; ++made) EXPECT_FLOAT_EQ(retryfactor2(p, made), base2[p]);
    for (int made = 6; made <= 9; ++made) EXPECT_FLOAT_EQ(retryfactor2(p, made), 1.05f);
    for (int made = 0; made <= 2; ++made) EXPECT_FLOAT_EQ(retryfactor1(p, made), base1[p]);
    EXPECT_FLOAT_EQ(retryfactor1(p, 3), std::max(base1[p], 1.15f));
    EXPECT_FLOAT_EQ(retryfactor1(p, 4), std::max(base1[p], 1.2f));
    EXPECT_FLOAT_EQ(retryfactor1(p, 5), 1.25f);  // the sixth retry
    EXPECT_FLOAT_EQ(retryfactor1(p, 6), 1.3f);
    for (int made = 7; made <= 20; ++made) EXPECT_FLOAT_EQ(retryfactor1(p, made), 1.35f);
  }
  EXPECT_FLOAT_EQ(vbvprofilefactor(1), 1.25f);
  EXPECT_FLOAT_EQ(vbvprofilefactor(3), 1.2f);
  EXPECT_FLOAT_EQ(vbvprofilefactor(4), 1.15f);

  // Through maxrateretry1 on its sixth retry, profile 1: f = 1.25 x 1.1.
  settings.profile = 1;
  gopbitrate = 8800000;
  retrycount = 5;
  float qi = 4.0f, qp = 4.0f, qb = 4.0f;
  maxrateretry1(qi, qp, qb, gopsnapshot);
  EXPECT_EQ(retrycount, 6);
  EXPECT_FLOAT_EQ(qi, 4.0f * (1.25f * 8800000.0f / 8000000.0f));
}

// Under "-cq_maxbitrate" a multiplier stops at 99; in the second pass it is not capped.
TEST_F(vbvcheck, multipliercappedat99inthecqloop) {
  settings.passno = 1;
  picslots[1].picbits = 200000000;
  picq[1] = 1.0f;
  vbvcheck1(1, 1, gopsnapshot, 1);
  EXPECT_FLOAT_EQ(picqfactors[1], 99.0f);
  EXPECT_EQ(vbvrestart, 1);
  settings.passno = 2;
  newgop();
  picture(1, 1, 1, 200000000, 1.0f);
  EXPECT_GT(picqfactors[1], 99.0f);
}

// Re-coding always ends: an overflow that no multiplier can help (the I picture already at
// quantiser 31, a B picture whose chain has no P picture to raise) is accepted and the GOP
// goes on; its acceptance warns and counts. On the GOP's last try nothing is rolled back.
TEST_F(vbvcheck, overflowsthatcannotbehelped) {
  gopcount = 7;
  picture(1, 1, 1, 1900000, 31.0f);
  EXPECT_EQ(vbvrestart, 0);
  EXPECT_FALSE(rolledback());
  gopbitrate = 4000000;
  gopaccepted(84, 12, 1);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0], " WARNING, GOP 7 (frames 84 - 95) accepted at 4000 Kb/s after 1 coding, "
                       "over the VBV buffer");

  // A chain of an I and a B picture without a P picture (the GOP before was one I picture,
  // this one starts with B pictures): no factor applies.
  startpass();
  picture(1, 5, 1, 300000);
  newgop();
  framesaved = true;
  picture(1, 2, 1, 300000);
  picture(3, 1, 2, 1500000);
  EXPECT_EQ(vbvrestart, 0);
  EXPECT_FALSE(rolledback());

  startpass();
  lastgoptry = true;
  picture(1, 1, 1, 1900000);
  EXPECT_EQ(vbvrestart, 0);
  EXPECT_FLOAT_EQ(picqfactors[1], 1.0f);
  float qi = 4.0f, qp = 4.0f, qb = 4.0f;
  gopbitrate = 9000000;
  maxrateretry2(qi, qp, qb, gopsnapshot);
  EXPECT_EQ(retrycount, 0);
  lastgoptry = false;
  logged.clear();
  gopaccepted(0, 12, maxgoptries);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("after 100 codings, over the maximum bitrate of 8000 Kb/s and the VBV "
                           "buffer"),
            std::string::npos)
      << logged[0];

  // A GOP that fits warns of nothing; one that reached the bound of tries says so.
  startpass();
  logged.clear();
  gopbitrate = 1000000;
  gopaccepted(0, 12, 3);
  EXPECT_TRUE(logged.empty());
  gopaccepted(0, 12, maxgoptries);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("accepted after 100 codings, the VBV buffer or the maximum bitrate "
                           "may be exceeded"),
            std::string::npos);
  EXPECT_EQ(gopsoverlimit, 0);
}

// Every rollback puts the chain back to the GOP's start: after a try of I and P that the
// maximum-bitrate retry rejects, the chain of the next try's I picture holds the previous
// GOP's newest reference picture again, not the rejected try's P picture.
TEST_F(vbvcheck, maximumbitrateretryputsthechainback) {
  picture(1, 1, 1, 100000);
  picture(2, 12, 2, 700000);
  newgop();
  framesaved = true;
  picture(1, 3, 1, 400000);
  picture(2, 6, 2, 900000);
  gopbitrate = 12000000;
  float qi = 4.0f, qp = 4.0f, qb = 4.0f;
  maxrateretry2(qi, qp, qb, gopsnapshot);
  ASSERT_EQ(retrycount, 1);
  picture(1, 3, 1, 300000);
  EXPECT_EQ(vbvchain, 300000 + 700000);
}

// What the chain lets through: an I and a P picture of 100,000 bits, then two B pictures of
// 1,200,000 bits. Each chain sum stays within 1,743,258 bits, but the buffer, full when the
// first B picture leaves and 320,000 bits fuller a frame later, holds 955,008 bits when the
// second must leave whole. The GOP is coded again, the multipliers of the two B pictures
// (those coded since the buffer was last full) raised by the share of the missing bits.
TEST_F(vbvcheck, underflowthechainletsthrough) {
  ipbb();
  picture(1, 1, 1, 100000);
  picture(2, 4, 2, 100000);
  picture(3, 2, 3, 1200000);
  EXPECT_EQ(vbvrestart, 0);
  EXPECT_EQ(vbvchain, 1400000);
  picture(3, 3, 4, 1200000);
  EXPECT_EQ(vbvchain, 1400000);
  EXPECT_EQ(vbvrestart, 1);
  EXPECT_TRUE(rolledback());
  const double missing = 1200000.0 + 32.0 - (1835008.0 - 1200000.0 + 320000.0);
  const float share = float(2400000.0 / (2400000.0 - missing));
  EXPECT_FLOAT_EQ(picqfactors[2], share);
  EXPECT_FLOAT_EQ(picqfactors[3], share);
  EXPECT_FLOAT_EQ(picqfactors[1], 1.0f);
  EXPECT_FLOAT_EQ(picqfactors[4], 1.0f);

  // Coded again smaller, the GOP passes, and the buffer model goes on from its start.
  picture(1, 1, 1, 100000);
  picture(2, 4, 2, 100000);
  picture(3, 2, 3, 1000000);
  picture(3, 3, 4, 1000000);
  EXPECT_EQ(vbvrestart, 0);

  // "*NOVBV": no check at all.
  settings.novbv = true;
  startpass();
  vbvchain = 123;
  picture(1, 1, 1, 1900000);
  picture(3, 2, 2, 1900000);
  EXPECT_EQ(vbvrestart, 0);
  EXPECT_EQ(vbvchain, 123);
  EXPECT_FLOAT_EQ(picqfactors[1], 1.0f);
}

// The stream's start: at Main Level the first pictures must also fit what a DVD multiplexer
// has delivered by their decoding times, 8 x (97,187 - 512) = 773,400 bits before the first
// at 25 frames a second, then 9,400,000 bit/s. A first I picture above it is coded again on
// its own, its multiplier raised by its excess (1 % more); one that then fits with more than
// 3 % to spare comes down halfway towards the multiplier that did not fit. A P picture that
// the start-up buffer cannot deliver raises only itself: its reference stays as coded. At
// 29.97 frames a second the start holds 8 x (121,487 - 512) bits; above Main Level the buffer
// starts full.
TEST_F(vbvcheck, startupfillofthemultiplexer) {
  ipbb();
  vbvstart();
  newgop();
  picture(1, 1, 1, 773400 - 32);
  EXPECT_EQ(vbvrestart, 0);

  vbvstart();
  newgop();
  picture(1, 1, 1, 800000);
  EXPECT_EQ(vbvrestart, 1);
  EXPECT_TRUE(rolledback());
  const float raised = float(800032.0 * 1.01 / 773400.0);
  EXPECT_FLOAT_EQ(picqfactors[1], raised);
  picture(1, 1, 1, 600000);  // 22 % to spare
  EXPECT_EQ(vbvrestart, 2);
  EXPECT_TRUE(rolledback());
  EXPECT_FLOAT_EQ(picqfactors[1], std::sqrt(raised));
  picture(1, 1, 1, 760000);
  EXPECT_EQ(vbvrestart, 0);

  // The P picture: 773,400 - 700,000 + 376,000 bits are in the buffer at its decoding time.
  vbvstart();
  newgop();
  picture(1, 1, 1, 700000);
  EXPECT_EQ(vbvrestart, 0);
  picture(2, 4, 2, 600000);
  EXPECT_EQ(vbvrestart, 1);
  EXPECT_TRUE(rolledback());
  EXPECT_FLOAT_EQ(picqfactors[4], float(std::pow(600032.0 * 1.01 / 449400.0, 1.0 / 1.5)));
  EXPECT_FLOAT_EQ(picqfactors[1], 1.0f);

  seqfields.frame_rate_code = 4;
  vbvstart();
  newgop();
  picture(1, 1, 1, 8 * (121487 - 512) - 32);
  EXPECT_EQ(vbvrestart, 0);
  vbvstart();
  newgop();
  picture(1, 1, 1, 8 * (121487 - 512));
  EXPECT_EQ(vbvrestart, 1);

  settings.level = 2;
  vbvtable[2] = level1size;
  vbvstart();
  newgop();
  picture(1, 1, 1, 1500000);
  EXPECT_EQ(vbvrestart, 0);
  vbvtable[2] = 0;
}

}  // namespace
