// The constant quantiser under a maximum bitrate and the second pass with their checks, run in
// this process on small clips: every GOP at or under the maximum unless the log warns for it,
// only accepted tries in the stream and the counters, a stream the declared buffer delivers,
// and the VBV bar of the window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/layer.h"
#include "encoder/coding/headers.h"
#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "encoder/control/startup.h"
#include "encoder/control/units.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/passhooks.h"
#include "encoder/passes/vbvcheck.h"
#include "resources/encoder.h"
#include "tests/icoder/fixture.h"
#include "tests/progress/logtext.h"
#include "tests/support/blackbox.h"
#include "tests/vbv/streamcheck.h"

namespace {

// Noise that no prediction helps, drawn anew for every frame.
picturefn noisepicture() {
  return [](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    std::mt19937 rng(uint32_t(4242 + f));
    const int w = settings.width, h = settings.displayheight;
    for (int i = 0; i < w * h; ++i) y[i] = uint8_t(rng());
    for (int i = 0; i < w * h / 4; ++i) {
      u[i] = uint8_t(rng());
      v[i] = uint8_t(rng());
    }
  };
}

class cqloop : public coderun {
 protected:
  std::string logpath;

  void TearDown() override {
    passprobe = nullptr;
    std::fill(std::begin(vbvtable), std::end(vbvtable), 0);
    showbuffer = false;
    if (maindialog) dlgclose(maindialog);
    coderun::TearDown();
  }
  // "-cq_maxbitrate q -maxbitrate kbits" with B pictures, the log open; vbvtable as the
  // start-up makes it.
  void preparecq(runsetup r, float q, int kbits, int bframes = 2) {
    r.logfile = true;
    prepare(r);
    settingsrec& st = settings;
    st.cqmode = false;
    st.cqmbrmode = true;
    st.cqmbrvalue = q;
    st.bframes = bframes;
    st.maxbitrate = kbits * 1000;
    st.profile = 2;
    initheaders();  // bit_rate_value of the maximum
    for (int l = 1; l <= 3; ++l)
      vbvtable[l] = int(std::lround(float(std::vector<int>{0, 1835008, 7340032, 9781248}[l]) * 0.95f));
    logpath = dir + "/out.log";
  }
  std::vector<std::string> logged() {
    unitclose(unitlog);
    return linesof(readfile(logpath));
  }
};

// Noise at 176x144 coded at quantiser 2 under 1,500 kbit/s: the GOPs are coded again until each
// holds the maximum; the stream, the counters and the log count the accepted tries only, the
// declared buffer delivers every picture, and mplex multiplexes it for a DVD.
TEST_F(cqloop, noiseheldunderthemaximum) {
  runsetup r{.width = 176, .height = 144, .frames = 24, .goplength = 12};
  preparecq(r, 2.0f, 1500);
  int codings = 0;
  passprobe = [&](int, int) { ++codings; };
  encode(noisepicture());
  ASSERT_EQ(nextstep.load(), stepdone);
  EXPECT_EQ(icount + pcount + bcount, 24);
  EXPECT_EQ(settings.gopframe, 24);
  EXPECT_GT(codings, 24) << "the GOPs are coded again";
  unitclose(unitstream);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  const std::vector<uint8_t> s = readbytes(m2v);
  const std::vector<std::string> log = logged();
  EXPECT_EQ(figure(log, "bits in bitstream:          "), 8 * int64_t(s.size()));
  EXPECT_EQ(figure(log, "GOPs accepted over limits:  "), 0);
  int64_t highest = 0;
  for (const gopsize& g : gopsizes(s)) {
    EXPECT_LE(goprate(g, 25.0), 1500000);
    highest = std::max(highest, goprate(g, 25.0));
  }
  EXPECT_EQ(figure(log, "maximum bitrate:            "), highest / 1000);
  const buffercheck b = buffermodel(s);
  EXPECT_EQ(b.fault, "");
  EXPECT_EQ(b.underflows, 0);
  EXPECT_EQ(b.notffff, 0);
  ASSERT_TRUE(makeaudio(dir + "/audio.mp2", 1.0));
  std::string muxlog;
  EXPECT_TRUE(dvdmux(dir, m2v, dir + "/audio.mp2", &muxlog)) << muxlog;
}

// A GOP that fits from the start is coded once, exactly as the constant-quantiser pass codes it.
TEST_F(cqloop, agopthatfitsiscodedasbyconstantquantiser) {
  runsetup r{.width = 176, .height = 144, .frames = 15, .goplength = 6};
  preparecq(r, 4.0f, 15000);
  int codings = 0;
  passprobe = [&](int, int) { ++codings; };
  encode(naturalpicture());
  ASSERT_EQ(nextstep.load(), stepdone);
  EXPECT_EQ(codings, 15);
  unitclose(unitstream);
  const std::vector<uint8_t> mbr = readbytes(m2v);
  TearDown();
  SetUp();
  r.cq = 4.0f;
  prepare(r);
  settings.bframes = 2;
  settings.maxbitrate = 15000000;
  initheaders();
  encode(naturalpicture());
  unitclose(unitstream);
  EXPECT_TRUE(readbytes(m2v) == mbr);
}

// The second pass over noise planned at 1,200 kbit/s under a maximum of 1,500: the GOPs are
// coded again until each holds the maximum, the log counts no GOP over it, and the declared buffer
// delivers every picture.
TEST_F(cqloop, secondpassheldunderthemaximum) {
  runsetup r{.width = 176, .height = 144, .frames = 24, .goplength = 12};
  preparecq(r, 4.0f, 1500);
  settingsrec& st = settings;
  st.cqmbrmode = false;
  st.passmode = 2;
  st.cqvalue = 4.0f;
  st.bitrate = 1200000;
  st.bppclass = 3;
  st.duration = st.framecount / st.framerate;
  std::fill(std::begin(zonefactors), std::end(zonefactors), 1.0f);
  ASSERT_TRUE(unitopen(unitstats, dir + "/KJ01.dbs", unitnew));
  usesource(noisepicture());
  pass1thread(&statusblock);
  ASSERT_EQ(nextstep.load(), steppass2);
  int codings = 0;
  passprobe = [&](int, int) { ++codings; };
  pass2thread(&statusblock);
  EXPECT_GT(codings, 24) << "the plan's quantisers overshoot the maximum: GOPs coded again";
  usesource(nullptr);
  ASSERT_EQ(nextstep.load(), stepdone);
  EXPECT_EQ(icount + pcount + bcount, 24);
  unitclose(unitstream);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  const std::vector<uint8_t> s = readbytes(m2v);
  const std::vector<std::string> log = logged();
  EXPECT_EQ(figure(log, "GOPs accepted over limits:  "), 0);
  EXPECT_EQ(figure(log, "bits in bitstream:          "), 8 * int64_t(s.size()));
  for (const gopsize& g : gopsizes(s)) EXPECT_LE(goprate(g, 25.0), 1500000);
  EXPECT_EQ(buffermodel(s).underflows, 0);
}

// The VBV bar: with "show buffer" ticked it shows the chain's fullness after the pictures;
// with "*NOVBV" the box is disabled and the bar never moves, and the maximum still holds.
TEST_F(cqloop, vbvbarandnovbv) {
  dlgsetresources(encoderresources, encoderresourcecount);
  for (bool novbv : {false, true}) {
    SCOPED_TRACE(novbv);
    runsetup r{.width = 176, .height = 144, .frames = 12, .goplength = 6};
    preparecq(r, 2.0f, 1500);
    settings.novbv = novbv;
    ASSERT_TRUE(dlgload(101, maindialog));
    dlgputflag(*maindialog, 1075, true, ixenabled);
    dlgputflag(*maindialog, 1075, true);
    dlgputint(*maindialog, 1074, 0);
    dlgsetheadlessout([](const std::string&) {});
    showbuffer = true;
    showwindow = true;
    std::vector<int> bar;
    passprobe = [&](int, int) { bar.push_back(dlggetint(*maindialog, 1074)); };
    encode(noisepicture());
    showwindow = false;
    dlgsetheadlessout(nullptr);
    ASSERT_EQ(nextstep.load(), stepdone);
    bar.push_back(dlggetint(*maindialog, 1074));
    const int most = *std::max_element(bar.begin(), bar.end());
    if (novbv) {
      EXPECT_EQ(most, 0);
      EXPECT_FALSE(dlggetflag(*maindialog, 1075, ixenabled));
      EXPECT_FALSE(showbuffer.load());
    } else {
      EXPECT_GT(most, 0);
      EXPECT_LE(most, 100);
      EXPECT_TRUE(dlggetflag(*maindialog, 1075, ixenabled));
    }
    unitclose(unitstream);
    for (const gopsize& g : gopsizes(readbytes(m2v))) EXPECT_LE(goprate(g, 25.0), 1500000);
    TearDown();
    SetUp();
  }
}

}  // namespace
