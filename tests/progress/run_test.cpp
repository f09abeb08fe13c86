// The display and the statistics of real first-pass runs: the log's blocks of a whole clip
// against the stream it wrote (picture types and GOPs as ffprobe and the headers show them,
// the file's size), and the window texts after the last GOP.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/layer.h"
#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "common/texttime.h"
#include "encoder/control/units.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/progress.h"
#include "resources/encoder.h"
#include "tests/icoder/fixture.h"
#include "tests/progress/logtext.h"
#include "tests/support/blackbox.h"

namespace {

class passrun : public coderun {
 protected:
  void TearDown() override {
    dlgsetheadlessout(nullptr);
    if (maindialog) dlgclose(maindialog);
    coderun::TearDown();
  }
  // Dialog 101 loaded and shown headless, as the encoder's window thread has it.
  void openwindow() {
    dlgsetresources(encoderresources, encoderresourcecount);
    ASSERT_TRUE(dlgload(101, maindialog));
    dlgshow(*maindialog, 1);
    dlgsetheadlessout([](const std::string&) {});
    showwindow = true;
  }
  std::string text(int id) {
    std::string s = dlggettext(*maindialog, id, 512);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  std::vector<std::string> log() {
    unitclose(unitlog);
    return linesof(readfile(dir + "/out.log"));
  }
};

}  // namespace

// A one-pass run over a 500-frame clip in GOPs of 15 with two B pictures between references:
// the source block with the clip's figures, the statistics block against the stream, the
// window after the last GOP.
TEST_F(passrun, onepassrunof500frames) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 500;
  r.goplength = 15;
  r.logfile = true;
  prepare(r);
  settings.bframes = 2;
  openwindow();
  cpustart = cputime();  // the program-start readings the run's times are measured from
  clockstart = elapsed(0.0f);
  encode(naturalpicture());
  unitclose(unitstream);
  ASSERT_EQ(nextstep.load(), stepdone);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;

  const std::vector<std::string> l = log();
  ASSERT_FALSE(l.empty());
  EXPECT_EQ(l[0], " +------------------------------------------+");
  EXPECT_EQ(l[1], " |  Ostrel 0.21, MPEG-2 video encoder       |");
  EXPECT_EQ(blockat(l, "              |  source stats  |", 8),
            (std::vector<std::string>{
                "              |  source stats  |",
                "              ------------------",
                "",
                "nr. of frames in source:             500",
                "width*height:                   176x 144",
                "fps:                               25.00",
                "nr. of frames to encode:             500",
                "frames to encode:                      0 -      499",
            }));
  const std::vector<std::string> pass = blockat(l, "              | encoding - pass 1 |", 5);
  ASSERT_EQ(pass.size(), 5u);
  EXPECT_EQ(pass[3].rfind("pass1 encoding time:            ", 0), 0u) << pass[3];
  EXPECT_EQ(pass[4].rfind("fps:                            ", 0), 0u) << pass[4];
  const std::vector<std::string> stats = blockat(l, "              | encoding stats |", 40);
  ASSERT_EQ(stats.size(), 37u);  // to the end of the log
  EXPECT_EQ(stats[3].rfind("total CPU time:                 ", 0), 0u) << stats[3];
  EXPECT_EQ(stats[4], "intra matrix used");
  EXPECT_EQ(stats[5], "   8  16  19  22  26  27  29  34");  // the default intra matrix
  EXPECT_EQ(stats[13], "non-intra matrix used");
  EXPECT_EQ(stats[14], "  16  16  16  16  16  16  16  16");
  EXPECT_EQ(stats.back().rfind("total elapsed time:             0:0", 0), 0u) << stats.back();

  // The counts are the stream's: GOP headers, picture types.
  const std::vector<uint8_t> s = readbytes(m2v);
  const std::vector<std::string> types = probetypes(m2v);
  ASSERT_EQ(types.size(), 500u);
  const long long icount = std::count(types.begin(), types.end(), "I");
  const long long pcount = std::count(types.begin(), types.end(), "P");
  const long long bcount = std::count(types.begin(), types.end(), "B");
  ASSERT_GT(pcount, 0);
  ASSERT_GT(bcount, 0);
  EXPECT_EQ(figure(stats, "nr. of gops:                "), long(gopclosedflags(s).size()));
  EXPECT_EQ(figure(stats, "nr. of gops:                "), gopcount);
  EXPECT_EQ(figure(stats, "nr. of frames:              "), 500);
  EXPECT_EQ(figure(stats, "nr. of I-frames:            "), icount);
  EXPECT_EQ(figure(stats, "nr. of P-frames:            "), pcount);
  EXPECT_EQ(figure(stats, "nr. of B-frames:            "), bcount);
  const long long avg = figure(stats, "average bitrate:            ");
  const long long lo = figure(stats, "minimum bitrate:            ");
  const long long hi = figure(stats, "maximum bitrate:            ");
  EXPECT_GT(lo, 0);
  EXPECT_LE(lo, avg);
  EXPECT_LE(avg, hi);
  EXPECT_EQ(figure(stats, "bytes in bitstream:         "), long(s.size()));
  EXPECT_EQ(figure(stats, "bits in bitstream:          "), 8 * long(s.size()));
  EXPECT_EQ(stats[stats.size() - 3], "average Quantizer:             4.000");

  // The window after the last GOP.
  const std::pair<int, std::string> want[] = {
      {1013, "CQ"},   {1018, " encoding statistics pass 1"}, {1059, "500  frames"},
      {1019, "0:00:00"}, {1028, "500"}, {1029, std::to_string(icount)},
      {1030, std::to_string(pcount)}, {1031, std::to_string(bcount)},
      {1062, std::to_string(gopstats.frames[gopcount])}, {1063, gopbpics == 0 ? "-" : "2"},
      {1064, "open"},  {1065, "100%"},
      {1014, std::to_string(gopbitrate / 1000)},
      {1015, std::to_string(lo)},    {1016, std::to_string(hi)}, {1017, std::to_string(avg)},
      {1076, "Q:   I 4.00   P 4.00   B 4.00"},
  };
  for (const auto& [id, t] : want) EXPECT_EQ(text(id), t) << id;
  EXPECT_EQ(dlggetint(*maindialog, 1008), 100);
  EXPECT_FALSE(dlggetflag(*maindialog, 1075, ixenabled));
  for (int id : {1020, 1021, 1060}) EXPECT_EQ(text(id).find(':'), text(id).size() - 6) << id;
}

// Without the sequence end code the stream is exactly the counted bits too.
TEST_F(passrun, bytesinbitstreamwithouttheendcode) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 7;
  r.goplength = 3;
  r.logfile = true;
  r.seqendcode = false;
  prepare(r);
  encode(naturalpicture());
  unitclose(unitstream);
  const std::vector<std::string> l = log();
  const long size = long(readbytes(m2v).size());
  EXPECT_EQ(figure(l, "bytes in bitstream:         "), size);
  EXPECT_EQ(figure(l, "bits in bitstream:          "), 8 * size);
}

// The first of two passes: the pass block and no statistics block; the window shows the
// pass label and the progress but keeps its bitrates and quantisers.
TEST_F(passrun, firstoftwopasses) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 9;
  r.goplength = 4;
  r.logfile = true;
  prepare(r);
  settings.passmode = 2;
  ASSERT_TRUE(unitopen(unitstats, dir + "/KJ.dbs", unitnew));
  openwindow();
  encode(naturalpicture());
  ASSERT_EQ(nextstep.load(), steppass2);
  const std::vector<std::string> l = log();
  EXPECT_EQ(blockat(l, "              | encoding - pass 1 |", 5).size(), 5u);
  EXPECT_TRUE(blockat(l, "              | encoding stats |", 1).empty());
  EXPECT_EQ(figure(l, "nr. of frames in source:        "), 9);
  EXPECT_EQ(text(1013), "pass 1");
  EXPECT_EQ(text(1065), "100%");
  EXPECT_EQ(dlggetint(*maindialog, 1008), 100);
  EXPECT_EQ(text(1062), std::to_string(gopstats.frames[gopcount]));
  EXPECT_EQ(text(1028), "9");
  for (int id : {1014, 1015, 1016, 1017, 1060}) EXPECT_EQ(text(id), "-") << id;
  EXPECT_EQ(text(1076), "");
}

// With the window hidden ("*SILENT") the log blocks are complete and no control changes.
TEST_F(passrun, silentrunwritesthewholelog) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 10;
  r.goplength = 5;
  r.logfile = true;
  prepare(r);
  openwindow();
  showwindow = false;
  encode(naturalpicture());
  ASSERT_EQ(nextstep.load(), stepdone);
  const std::vector<std::string> l = log();
  EXPECT_EQ(blockat(l, "              |  source stats  |", 8).size(), 8u);
  EXPECT_EQ(blockat(l, "              | encoding - pass 1 |", 5).size(), 5u);
  EXPECT_EQ(blockat(l, "              | encoding stats |", 40).size(), 37u);
  EXPECT_EQ(figure(l, "nr. of frames:              "), 10);
  EXPECT_EQ(figure(l, "nr. of I-frames:            ") + figure(l, "nr. of P-frames:            ") +
                figure(l, "nr. of B-frames:            "),
            10);
  for (int id : {1013, 1059, 1062, 1065}) EXPECT_EQ(text(id), "") << id;
  for (int id : {1019, 1020, 1021, 1028, 1060}) EXPECT_EQ(text(id), "-") << id;
  EXPECT_EQ(dlggetint(*maindialog, 1008), 0);
}

// GOPs that all code above 16.8 Mbit/s (I pictures of a detailed 720x576 clip at quantiser 2):
// the minimum is the smallest GOP's bitrate, not the preset.
TEST_F(passrun, minimumbitrateofahighratepass) {
  runsetup r;
  r.width = 720;
  r.height = 576;
  r.frames = 12;
  r.goplength = 4;
  r.cq = 2.0f;
  r.logfile = true;
  prepare(r);
  encode(naturalpicture());
  unitclose(unitstream);
  ASSERT_EQ(nextstep.load(), stepdone);
  const std::vector<std::string> l = log();
  const long long avg = figure(l, "average bitrate:            ");
  const long long lo = figure(l, "minimum bitrate:            ");
  const long long hi = figure(l, "maximum bitrate:            ");
  // The smallest GOP bitrate from the per-GOP records (8 x bytes, so at most 7 bits a picture
  // above the counted bits).
  long long least = -1;
  for (int g = 1; g <= gopcount; ++g) {
    long long rate = (long long)gopstats.bits[g] * 25 / gopstats.frames[g] / 1000;
    if (least < 0 || rate < least) least = rate;
  }
  ASSERT_GT(least, 16777) << "the clip must code above the old preset";
  EXPECT_LE(lo, avg);
  EXPECT_LE(avg, hi);
  EXPECT_LE(lo, least);
  EXPECT_GE(lo, least - 1);
}
