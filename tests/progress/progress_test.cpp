// The progress display of the passes and the statistics blocks of the log, on figures set by
// hand: the exact lines of the source and statistics blocks, the window texts after a GOP and
// after the last one, the guards against a zero pass time and values wider than their field.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/layer.h"
#include "encoder/coding/headers.h"
#include "encoder/control/control.h"
#include "encoder/control/echo.h"
#include "encoder/control/settings.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/progress.h"
#include "platform/clock.h"
#include "platform/queue.h"
#include "resources/encoder.h"

namespace {

using lines = std::vector<std::string>;

// A 500-frame 720x576 clip at 25 frames a second, encoded whole.
settingsrec clip500() {
  settingsrec s;
  s.clipframes = 500;
  s.width = 720;
  s.height = 576;
  s.displayheight = 576;
  s.framerate = 25.0;
  s.firstframe = 0;
  s.lastframe = 499;
  s.framecount = 500;
  return s;
}

// The figures of a one-pass run over clip500: 34 GOPs, every picture type counted.
passfigures run500() {
  passfigures f;
  f.n = 5;
  f.nb = 2;
  f.closedflag = 0;
  f.gopframe = 500;
  f.framesleft = 0;
  f.gopcount = 34;
  f.icount = 34;
  f.pcount = 133;
  f.bcount = 333;
  f.gopbpics = 2;
  f.gopbitrate = 3456789;
  f.gopratemin = 1234567;
  f.gopratemax = 5678999;
  f.gopratesum = 50000000;  // 2500 kbit/s over 20 s
  f.totalbits = 50123456;
  f.qsum = 2000.5;
  f.qi = 4.0f;
  f.qp = 4.5f;
  f.qb = 31.0f;
  f.passtime = 65.4;
  f.currentfps = 9;
  f.timeleft = 0;
  return f;
}

matrixpair rampmatrices() {
  matrixpair m;
  for (int i = 0; i < 64; ++i) {
    m.intra[i] = int16_t(8 + i);
    m.nonintra[i] = int16_t(100 + 2 * i);
  }
  return m;
}

}  // namespace

TEST(progresslog, sourceblockofa500frameclip) {
  settingsrec s = clip500();
  EXPECT_EQ(sourcelines(s), (lines{
                                "",
                                "              ------------------",
                                "              |  source stats  |",
                                "              ------------------",
                                "",
                                "nr. of frames in source:             500",
                                "width*height:                   720x 576",
                                "fps:                               25.00",
                                "nr. of frames to encode:             500",
                                "frames to encode:                      0 -      499",
                            }));
  // A part of an NTSC clip: 29.97 frames a second, 1920x1080 coded as 1088.
  s.clipframes = 12000;
  s.width = 1920;
  s.height = 1088;
  s.displayheight = 1080;
  s.framerate = 30000.0 / 1001.0;
  s.firstframe = 100;
  s.lastframe = 10099;
  s.framecount = 10000;
  lines l = sourcelines(s);
  ASSERT_EQ(l.size(), 10u);
  EXPECT_EQ(l[5], "nr. of frames in source:           12000");
  EXPECT_EQ(l[6], "width*height:                   1920x1080");
  EXPECT_EQ(l[7], "fps:                               29.97");
  EXPECT_EQ(l[8], "nr. of frames to encode:           10000");
  EXPECT_EQ(l[9], "frames to encode:                    100 -    10099");
}

TEST(progresslog, statisticsblockofaonepassrun) {
  settingsrec s = clip500();
  const passfigures f = run500();
  const lines want = {
      "",
      "              ------------------",
      "              | encoding stats |",
      "              ------------------",
      "",
      "total CPU time:                 0:01:05   (65 s)",
      "intra matrix used",
      "   8   9  10  11  12  13  14  15",
      "  16  17  18  19  20  21  22  23",
      "  24  25  26  27  28  29  30  31",
      "  32  33  34  35  36  37  38  39",
      "  40  41  42  43  44  45  46  47",
      "  48  49  50  51  52  53  54  55",
      "  56  57  58  59  60  61  62  63",
      "  64  65  66  67  68  69  70  71",
      "non-intra matrix used",
      " 100 102 104 106 108 110 112 114",
      " 116 118 120 122 124 126 128 130",
      " 132 134 136 138 140 142 144 146",
      " 148 150 152 154 156 158 160 162",
      " 164 166 168 170 172 174 176 178",
      " 180 182 184 186 188 190 192 194",
      " 196 198 200 202 204 206 208 210",
      " 212 214 216 218 220 222 224 226",
      "nr. of gops:                          34",
      "nr. of frames:                       500",
      "nr. of I-frames:                      34",
      "nr. of P-frames:                     133",
      "nr. of B-frames:                     333",
      "average bitrate:                    2500",
      "minimum bitrate:                    1234",
      "maximum bitrate:                    5678",
      "",
      "bytes in bitstream:              6265436",  // with the sequence end code
      "bits in bitstream:              50123488",
      "",
      "average Quantizer:             4.001",
      "",
      "total elapsed time:             0:01:10   (70.46 s)",
  };
  EXPECT_EQ(statslines(f, 65.4, 70.456, s, rampmatrices()), want);
  s.seqendcode = false;  // "*NOSEQ_ENDCODE": the counted bits alone
  lines noend = statslines(f, 65.4, 70.456, s, rampmatrices());
  EXPECT_EQ(noend[33], "bytes in bitstream:              6265432");
  EXPECT_EQ(noend[34], "bits in bitstream:              50123456");
  s.seqendcode = true;

  // The adaptive matrix and the luminance gain change the matrices per GOP: no table.
  for (int variant = 0; variant < 2; ++variant) {
    settingsrec a = s;
    if (variant == 0) a.adaptivematrix = true;
    else a.lumgain = 2;
    lines l = statslines(f, 65.4, 70.456, a, rampmatrices());
    ASSERT_EQ(l.size(), want.size() - 16) << variant;
    EXPECT_EQ(l[6], "adapted intra matrix used");
    EXPECT_EQ(l[7], "adapted non-intra matrix used");
    EXPECT_EQ(l[8], "nr. of gops:                          34");
  }
}

TEST(progresslog, passblock) {
  settingsrec s = clip500();
  EXPECT_EQ(passlines(19.6, s), (lines{
                                     "",
                                     "              ---------------------",
                                     "              | encoding - pass 1 |",
                                     "              ---------------------",
                                     "",
                                     "pass1 encoding time:            0:00:20   (20 s)",
                                     "fps:                                25.5",
                                 }));
  // Ten hours and more fill the time's field.
  lines l = passlines(36000.0, s);
  EXPECT_EQ(l[5], "pass1 encoding time:            10:00:00  (36000 s)");
  EXPECT_EQ(l[6], "fps:                                 0.0");
}

// A pass that took no measurable CPU time, or a run of no frames: every figure divided by the
// time or the count is 0, never a division by zero.
TEST(progresslog, zerotimesandcountsgivezero) {
  settingsrec s = clip500();
  for (double t : {0.0, -0.001}) {
    lines l = passlines(t, s);
    EXPECT_EQ(l[5], "pass1 encoding time:            0:00:00   (0 s)") << t;
    EXPECT_EQ(l[6], "fps:                                 0.0") << t;
  }
  EXPECT_EQ(averagefps(500, 0.0), 0);
  EXPECT_EQ(averagefps(500, -1.0), 0);
  EXPECT_EQ(averagefps(500, 20.0), 25);
  EXPECT_EQ(averagekbits(50000000, 25.0, 0), 0);
  EXPECT_EQ(averagekbits(50000000, 25.0, 500), 2500);
  EXPECT_EQ(progresspercent(0, 0), 0);

  s.framecount = 0;
  passfigures f;
  lines st = statslines(f, 0.0, 0.0, s, rampmatrices());
  ASSERT_EQ(st.size(), 39u);
  EXPECT_EQ(st[29], "average bitrate:                       0");
  EXPECT_EQ(st[30], "minimum bitrate:                       0");  // no GOP counted
  EXPECT_EQ(st[st.size() - 3], "average Quantizer:             0.000");
  EXPECT_EQ(st.back(), "total elapsed time:             0:00:00   (0.00 s)");
}

// A value wider than its field is written in full, never as asterisks.
TEST(progresslog, widevaluesareprintedinfull) {
  settingsrec s = clip500();
  s.clipframes = 123456789;
  s.framecount = 987654321;
  s.firstframe = 12345678;
  s.lastframe = 999999999;
  s.framerate = 123456.789;
  lines l = sourcelines(s);
  EXPECT_EQ(l[5], "nr. of frames in source:        123456789");
  EXPECT_EQ(l[7], "fps:                            123456.79");
  EXPECT_EQ(l[8], "nr. of frames to encode:        987654321");
  EXPECT_EQ(l[9], "frames to encode:               12345678 - 999999999");

  passfigures f = run500();
  f.totalbits = 98765432109876;  // 14 digits
  s.seqendcode = false;
  f.gopcount = 1234567890;
  s.framecount = 500;
  lines st = statslines(f, 400000.0, 360000.25, s, rampmatrices());
  EXPECT_EQ(st[5], "total CPU time:                 111:06:40  (400000 s)");
  EXPECT_EQ(st[24], "nr. of gops:                  1234567890");
  EXPECT_EQ(st[33], "bytes in bitstream:         12345679013734");
  EXPECT_EQ(st[34], "bits in bitstream:          98765432109876");
  EXPECT_EQ(st.back(), "total elapsed time:             100:00:00  (360000.25 s)");

  EXPECT_EQ(hmstext(0), " 0:00:00");
  EXPECT_EQ(hmstext(3725), " 1:02:05");
  EXPECT_EQ(hmstext(359999), "99:59:59");
  EXPECT_EQ(hmstext(360000), "100:00:00");
  EXPECT_EQ(hmstext(-5), " 0:00:00");
  EXPECT_EQ(i8text(123456789012), "123456789012");
  EXPECT_EQ(i8text(-42), "-42");
  EXPECT_EQ(percenttext(1234), "1234%");
  EXPECT_EQ(quantisertext(100.0f, 4.0f, 1.0f), "Q:   I100.00   P 4.00   B 1.00");
}

TEST(progresslog, openingthroughthelogsink) {
  settingsrec saved = settings;
  settings = clip500();
  settings.logfileon = true;
  lines got;
  logsink = [&got](const std::string& l) { got.push_back(l); };
  logopening();
  const lines echo = echolines();
  const lines source = sourcelines();
  const lines title = titlelines();
  ASSERT_EQ(got.size(), title.size() + echo.size() + source.size());
  EXPECT_EQ(lines(got.begin(), got.begin() + 4),
            (lines{" +------------------------------------------+",
                   " |  Ostrel 0.21, MPEG-2 video encoder       |",
                   " +------------------------------------------+", ""}));
  EXPECT_EQ(lines(got.begin() + 4, got.begin() + 4 + long(echo.size())), echo);
  EXPECT_EQ(lines(got.end() - long(source.size()), got.end()), source);

  // The end of the pass: the pass block, and the statistics only when the stream was written.
  quantmatrices = rampmatrices();
  for (bool stream : {false, true}) {
    got.clear();
    settings.streamout = stream;
    logpassstats(run500(), 19.6, 65.4, 70.456);
    lines want = passlines(19.6);
    if (stream) {
      lines st = statslines(run500(), 65.4, 70.456);
      want.insert(want.end(), st.begin(), st.end());
    }
    EXPECT_EQ(got, want) << stream;
  }
  // Without a log nothing is written.
  got.clear();
  settings.logfileon = false;
  logopening();
  logpassstats(run500(), 19.6, 65.4, 70.456);
  logencodingstats(run500(), 1.0, 1.0);
  EXPECT_TRUE(got.empty());
  logsink = nullptr;
  settings = saved;
}

TEST(progresstext, labelsandpercent) {
  settingsrec s;
  s.passmode = 2;
  EXPECT_EQ(passlabel(s), "pass 1");
  s.passmode = 1;
  s.cqmode = true;
  EXPECT_EQ(passlabel(s), "CQ");
  s.cqmode = false;
  s.cqmbrmode = true;
  EXPECT_EQ(passlabel(s), "CQ, MBR");

  const std::pair<int, const char*> pct[] = {{0, "0%"}, {7, "7%"}, {42, "42%"}, {100, "100%"}};
  for (auto [p, t] : pct) EXPECT_EQ(percenttext(p), t);
  // nint(100 x done / all): 1 of 200 is 0.5 and goes up; 1 of 3 is 33.
  EXPECT_EQ(progresspercent(200, 199), 1);
  EXPECT_EQ(progresspercent(3, 2), 33);
  EXPECT_EQ(progresspercent(3, 1), 67);
  EXPECT_EQ(progresspercent(500, 0), 100);
  EXPECT_EQ(progresspercent(500, 500), 0);
  EXPECT_EQ(quantisertext(4.0f, 4.5f, 31.0f), "Q:   I 4.00   P 4.50   B31.00");
}

namespace {

// Dialog 101 loaded and shown headless, the settings of clip500.
struct window : ::testing::Test {
  settingsrec saved;
  void SetUp() override {
    saved = settings;
    settings = clip500();
    setclockscale(0);
    clearqueue();
    dlgsetresources(encoderresources, encoderresourcecount);
    ASSERT_TRUE(dlgload(101, maindialog));
    dlgshow(*maindialog, 1);
    dlgsetheadlessout([](const std::string&) {});
    showwindow = true;
  }
  void TearDown() override {
    dlgsetheadlessout(nullptr);
    dlgclose(maindialog);
    settings = saved;
    showwindow = true;
    showbuffer = false;
  }
  static std::string text(int id) { return trimmed(dlggettext(*maindialog, id, 512)); }
  static std::string trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  // Every text the passes write, by control id.
  static std::vector<std::pair<int, std::string>> alltexts() {
    std::vector<std::pair<int, std::string>> v;
    for (int id : {1013, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021, 1027, 1028, 1029, 1030,
                   1031, 1059, 1060, 1061, 1062, 1063, 1064, 1065, 1076})
      v.emplace_back(id, text(id));
    return v;
  }
};

}  // namespace

// The texts after the last GOP of a one-pass run: 100% and the bar at 100, the counts, the
// GOP shape, the bitrates and the quantisers.
TEST_F(window, afterthelastgopofaonepassrun) {
  settings.passmode = 1;
  settings.cqmode = true;
  settings.streamout = true;
  dlgputflag(*maindialog, 1075, true, ixenabled);
  dlgputflag(*maindialog, 1075, true);
  showbuffer = true;
  showpassstart();
  EXPECT_FALSE(showbuffer.load());
  EXPECT_EQ(text(1013), "CQ");
  EXPECT_EQ(text(1018), " encoding statistics pass 1");
  EXPECT_EQ(text(1059), "500  frames");
  EXPECT_FALSE(dlggetflag(*maindialog, 1075, ixenabled));
  EXPECT_FALSE(dlggetflag(*maindialog, 1075));

  passfigures f = run500();
  f.passtime = 19.6;
  showgopprogress(f);
  const std::pair<int, const char*> want[] = {
      {1019, "0:00:00"}, {1020, "0:00:20"}, {1027, "9"},      {1061, "26"},
      {1028, "500"},     {1029, "34"},      {1030, "133"},    {1031, "333"},
      {1062, "5"},       {1063, "2"},       {1064, "open"},   {1065, "100%"},
      {1014, "3456"},    {1015, "1234"},    {1016, "5678"},   {1017, "2500"},
      {1076, "Q:   I 4.00   P 4.50   B31.00"},
  };
  for (auto [id, t] : want) EXPECT_EQ(text(id), t) << id;
  EXPECT_EQ(dlggetint(*maindialog, 1008), 100);

  showpassend(19.6);
  EXPECT_EQ(text(1021), "0:00:20");
  showtotaltime(3725.4);
  EXPECT_EQ(text(1060), "1:02:05");
}

// A GOP in the middle of the first of two passes: no bitrates and no quantisers (the pass
// writes no stream), "-" for a GOP without B pictures, "closed", the percentage with no
// leading blank, the time left.
TEST_F(window, amiddlegopofthefirstoftwopasses) {
  settings.passmode = 2;
  settings.streamout = false;
  dlgputflag(*maindialog, 1075, true, ixenabled);
  showpassstart();
  EXPECT_EQ(text(1013), "pass 1");
  EXPECT_FALSE(dlggetflag(*maindialog, 1075, ixenabled));

  const auto before = alltexts();
  passfigures f;
  f.n = 12;
  f.nb = 2;  // asked for, but the GOP came out without B pictures
  f.gopbpics = 0;
  f.closedflag = 1;
  f.gopframe = 36;
  f.framesleft = 464;
  f.icount = 3;
  f.pcount = 33;
  f.passtime = 2.5;
  f.currentfps = 14;
  f.timeleft = 3725;
  showgopprogress(f);
  EXPECT_EQ(text(1019), "1:02:05");
  EXPECT_EQ(text(1020), "0:00:03");  // nint(2.5) = 3
  EXPECT_EQ(text(1027), "14");
  EXPECT_EQ(text(1061), "14");  // nint(36 / 2.5)
  EXPECT_EQ(text(1028), "36");
  EXPECT_EQ(text(1031), "0");
  EXPECT_EQ(text(1062), "12");
  EXPECT_EQ(text(1063), "-");
  EXPECT_EQ(text(1064), "closed");
  EXPECT_EQ(text(1065), "7%");
  EXPECT_EQ(dlggetint(*maindialog, 1008), 7);
  const auto after = alltexts();
  for (size_t i = 0; i < before.size(); ++i) {
    int id = before[i].first;
    if ((id >= 1014 && id <= 1017) || id == 1076) {
      EXPECT_EQ(after[i], before[i]) << id;
    }
  }
}

// The constant quantiser under a maximum bitrate keeps the VBV bar's check box and always
// shows the bitrates.
TEST_F(window, cqwithmaximumbitrate) {
  settings.passmode = 1;
  settings.cqmbrmode = true;
  settings.streamout = false;  // shown in this mode whatever the flag says
  dlgputflag(*maindialog, 1075, true, ixenabled);
  dlgputflag(*maindialog, 1075, true);
  showbuffer = true;
  showpassstart();
  EXPECT_TRUE(showbuffer.load());
  EXPECT_EQ(text(1013), "CQ, MBR");
  EXPECT_TRUE(dlggetflag(*maindialog, 1075, ixenabled));
  EXPECT_TRUE(dlggetflag(*maindialog, 1075));
  showgopprogress(run500());
  EXPECT_EQ(text(1014), "3456");
  EXPECT_EQ(text(1076), "Q:   I 4.00   P 4.50   B31.00");
}

// A pass that took no measurable CPU time shows 0 frames a second; wide values in full.
TEST_F(window, zeropasstimeandwidevalues) {
  settings.streamout = true;
  settings.passmode = 1;
  passfigures f = run500();
  f.passtime = 0.0;
  f.gopbitrate = 2000000000;
  f.icount = 2000000000;
  f.pcount = 2000000000;
  f.bcount = 2000000000;
  f.timeleft = 400000;
  showgopprogress(f);
  EXPECT_EQ(text(1061), "0");
  EXPECT_EQ(text(1020), "0:00:00");
  EXPECT_EQ(text(1019), "111:06:40");
  EXPECT_EQ(text(1014), "2000000");
  EXPECT_EQ(text(1028), "6000000000");
  EXPECT_EQ(text(1029), "2000000000");
}

// With the window hidden ("*SILENT") no control is written.
TEST_F(window, hiddenwindowwritesnothing) {
  settings.streamout = true;
  settings.passmode = 1;
  showwindow = false;
  const auto before = alltexts();
  const int bar = dlggetint(*maindialog, 1008);
  showpassstart();
  showgopprogress(run500());
  showpassend(12.0);
  showtotaltime(12.0);
  EXPECT_EQ(alltexts(), before);
  EXPECT_EQ(dlggetint(*maindialog, 1008), bar);
  // Without a window at all nothing is written and nothing fails.
  showwindow = true;
  dialogrecord* keep = maindialog;
  maindialog = nullptr;
  showgopprogress(run500());
  maindialog = keep;
}

// The warning of a constant-quantiser run: a GOP counts when its rate (bits x rate / frames,
// truncated, as the display shows it) is above the rate the headers declare (bit_rate_value x
// 400); a GOP exactly at it does not. Only a "-cq" run that wrote its stream warns.
TEST(progresslog, constantquantiserratewarning) {
  settingsrec s = clip500();
  s.passmode = 1;
  s.cqmode = true;
  s.streamout = true;
  seqfields.bit_rate_value = 20000;  // 8,000,000 bit/s
  // Three GOPs of 12 frames: 3,840,000 bits is exactly 8,000,000 bit/s at 25 frames a second.
  const int32_t bits[] = {3840000, 3840008, 1000000};
  for (int g = 1; g <= 3; ++g) {
    gopstats.frames[g] = 12;
    gopstats.bits[g] = bits[g - 1];
  }
  passfigures f = run500();
  f.gopcount = 3;
  f.gopratemax = 8000016;
  EXPECT_EQ(gopratefor(3840000, 12, 25.0), 8000000);
  EXPECT_EQ(gopratefor(1000, 0, 25.0), 0);
  EXPECT_EQ(gopsabove(3, 8000000, 25.0), 1);
  EXPECT_EQ(gopsabove(3, 7999999, 25.0), 2);
  EXPECT_EQ(cqratewarning(f, s),
            " WARNING, 1 of 3 GOPs above the maximum bitrate the stream declares (8000 Kb/s), "
            "the highest at 8000 Kb/s; -cq_maxbitrate holds the maximum");
  f.gopcount = 1;  // only the GOP at the limit
  EXPECT_EQ(cqratewarning(f, s), "");
  f.gopcount = 3;
  settingsrec other = s;
  other.cqmbrmode = true;  // the maximum-bitrate loop holds the rate itself
  EXPECT_EQ(cqratewarning(f, other), "");
  other = s;
  other.passmode = 2;  // the first of two passes writes no stream
  other.cqmode = false;
  other.streamout = false;
  EXPECT_EQ(cqratewarning(f, other), "");
  seqfields.bit_rate_value = 30000;  // 12,000,000 bit/s: every GOP below
  EXPECT_EQ(cqratewarning(f, s), "");
}
