// The settings echo of the log, line for line, for the runs users most often check.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "encoder/control/echo.h"

namespace {

// A two-pass 720x576 run with "-b 5000 -maxbitrate 8000", otherwise the presets, as the
// start-up leaves the record.
settingsrec twopassrun() {
  settingsrec s;
  s.level = 1;
  s.inpath = "/clips/movie.avs";
  s.outpath = "/clips/movie.m2v";
  s.width = 720;
  s.height = 576;
  s.firstframe = 0;
  s.lastframe = 1499;
  s.framerate = 25.0;
  s.aspect = 2;
  s.passmode = 2;
  s.bitrate = 5000000;
  s.maxbitrate = 8000000;
  s.bitrategiven = s.maxbitrategiven = true;
  s.simdlevel = 4;
  return s;
}

const std::vector<std::string> twopassecho = {
    "MPEG profile@level:   MP@ML",
    "input:                /clips/movie.avs",
    "output:               /clips/movie.m2v",
    "",
    "              --------------------",
    "              | encoder settings |",
    "              --------------------",
    "",
    "profile:              NORMAL",
    "frames:                      0    1499",
    "framerate:              25.000",
    "aspect ratio:         4:3",
    "bitrate Kb/s:             5000",
    "max. bitrate Kb/s:        8000",
    "pulldown:             no",
    "closed gops:          no",
    "VBV check:            yes",
    "scene change det.:    yes",
    "interlaced:           no",
    "goplen,B-pic:         AUTO",
    "dc_precision:                9",
    "scan method:          ZIGZAG",
    "bias:                        0",
    "chapter frames:              0",
    "time code:                   0       0       0       0",
    "CPU:                  SSSE3",
    "matrix:               MPEG",
    "luminance gain:       no",
};

// The lines of one label (a label may appear more than once: "constant Q:", "interlaced:").
std::vector<std::string> withlabel(const std::vector<std::string>& lines, const std::string& label) {
  std::vector<std::string> out;
  for (const std::string& l : lines)
    if (l.compare(0, label.size(), label) == 0) out.push_back(l);
  return out;
}

TEST(echosettings, twopassrun) {
  EXPECT_EQ(echolines(twopassrun()), twopassecho);
}

TEST(echosettings, constantquantiserrun) {
  settingsrec s = twopassrun();
  s.passmode = 1;
  s.cqmode = true;
  s.cqvalue = 3.0f;
  std::vector<std::string> l = echolines(s);
  std::vector<std::string> want = twopassecho;
  want[12] = "bitrate:              NA";
  want[13] = "max. bitrate:         NA";
  want.insert(want.begin() + 14, {"pass:                        1 (Constant Quant)",
                                  "constant Q:              3.000"});
  want[18] = "VBV check:            NA";
  EXPECT_EQ(l, want);
}

TEST(echosettings, conditionallines) {
  settingsrec s = twopassrun();
  // Constant quantiser under a maximum bitrate: the maximum bitrate stays, its quantiser shows.
  s.passmode = 1;
  s.cqmbrmode = true;
  s.cqmbrvalue = 12.25f;
  std::vector<std::string> l = echolines(s);
  EXPECT_EQ(withlabel(l, "max. bitrate"), std::vector<std::string>{"max. bitrate Kb/s:        8000"});
  EXPECT_EQ(withlabel(l, "constant Q:"), std::vector<std::string>{"constant Q:             12.250"});
  EXPECT_EQ(withlabel(l, "VBV check:"), std::vector<std::string>{"VBV check:            yes"});
  s.novbv = true;
  s.cqmode = true;
  EXPECT_EQ(withlabel(echolines(s), "VBV check:"),
            std::vector<std::string>{"VBV check:            no"});

  s = twopassrun();
  s.interlaced = true;
  s.tff = true;
  EXPECT_EQ(withlabel(echolines(s), "interlaced:"),
            std::vector<std::string>{"interlaced:           yes, TFF"});
  s.tff = false;
  s.bff = true;
  EXPECT_EQ(withlabel(echolines(s), "interlaced:"),
            std::vector<std::string>{"interlaced:           yes, BFF"});

  s = twopassrun();
  s.autogop = false;
  s.goplength = 12;
  s.bframes = 2;
  s.pulldown = true;
  s.closedgops = true;
  s.noscd = true;
  s.altscan = true;
  s.bias = 25;
  s.chaptercount = 7;
  s.tchours = 1;
  s.tcminutes = 2;
  s.tcseconds = 3;
  s.tcframes = 24;
  s.profile = 4;
  s.aspect = 4;
  s.level = 3;
  s.simdlevel = 2;
  s.framerate = 24000.0 / 1001.0;
  l = echolines(s);
  EXPECT_EQ(l[0], "MPEG profile@level:   MP@HL");
  EXPECT_EQ(withlabel(l, "goplen,B-pic:")[0], "goplen,B-pic:               12       2");
  EXPECT_EQ(withlabel(l, "pulldown:")[0], "pulldown:             yes, 23.976 --> 29.97");
  EXPECT_EQ(withlabel(l, "closed gops:")[0], "closed gops:          yes");
  EXPECT_EQ(withlabel(l, "scene change det.:")[0], "scene change det.:    no");
  EXPECT_EQ(withlabel(l, "scan method:")[0], "scan method:          ALTERNATE");
  EXPECT_EQ(withlabel(l, "bias:")[0], "bias:                       25");
  EXPECT_EQ(withlabel(l, "chapter frames:")[0], "chapter frames:              7");
  EXPECT_EQ(withlabel(l, "time code:")[0], "time code:                   1       2       3      24");
  EXPECT_EQ(withlabel(l, "profile:")[0], "profile:              BEST");
  EXPECT_EQ(withlabel(l, "aspect ratio:")[0], "aspect ratio:         2.21:1");
  EXPECT_EQ(withlabel(l, "CPU:")[0], "CPU:                  SSE2");
  EXPECT_EQ(withlabel(l, "framerate:")[0], "framerate:              23.976");
}

TEST(echosettings, dcprecisioneleven) {
  settingsrec s = twopassrun();
  s.dcprec = 3;
  EXPECT_EQ(withlabel(echolines(s), "dc_precision:"),
            std::vector<std::string>{"dc_precision:               11 <--- NOT DVD COMPLIANT"});
  s.dcprec = 2;
  EXPECT_EQ(withlabel(echolines(s), "dc_precision:"),
            std::vector<std::string>{"dc_precision:               10"});
  // 11 bits are beyond Main Profile: the stream declares High Profile at the same level.
  const char* const names[] = {"", "ML", "H-14", "HL"};
  for (int level = 1; level <= 3; ++level)
    for (int dcprec = 0; dcprec <= 3; ++dcprec) {
      s.level = level;
      s.dcprec = dcprec;
      EXPECT_EQ(echolines(s)[0], std::string("MPEG profile@level:   ") +
                                     (dcprec == 3 ? "HP@" : "MP@") + names[level]);
    }
}

TEST(echosettings, lumgainmakesthematrixadaptive) {
  settingsrec s = twopassrun();
  s.lumgain = 2;
  s.matrixno = 3;
  std::vector<std::string> l = echolines(s);
  EXPECT_EQ(withlabel(l, "matrix:")[0], "matrix:               NOTCH, adaptive");
  EXPECT_EQ(withlabel(l, "luminance gain:")[0], "luminance gain:       yes, level 2");
  s.lumgain = 0;
  s.adaptivematrix = true;
  s.matrixno = 0;
  EXPECT_EQ(withlabel(echolines(s), "matrix:")[0], "matrix:               CUSTOM, adaptive");
  s.adaptivematrix = false;
  s.matrixno = 16;
  EXPECT_EQ(withlabel(echolines(s), "matrix:")[0], "matrix:               MPEGSTD");
}

// Wide values are written in full; paths are trimmed, never cut.
TEST(echosettings, widevaluesandlongpaths) {
  settingsrec s = twopassrun();
  s.lastframe = 123456789;
  s.maxbitrate = 2000000000;
  s.inpath = "/a/very/long/folder/name/that/goes/on/and/on/clip with blanks.avs   ";
  std::vector<std::string> l = echolines(s);
  EXPECT_EQ(l[1], "input:                /a/very/long/folder/name/that/goes/on/and/on/clip with blanks.avs");
  EXPECT_EQ(withlabel(l, "frames:")[0], "frames:                      0123456789");
  EXPECT_EQ(withlabel(l, "max. bitrate Kb/s:")[0], "max. bitrate Kb/s:     2000000");
}

// The writers put exactly the lines, each ended by a line feed, into their target, and the
// no-argument form goes through the log's sink.
TEST(echosettings, writers) {
  settings = twopassrun();
  std::string want;
  for (const std::string& l : twopassecho) want += l + "\n";

  std::ostringstream os;
  EXPECT_TRUE(echosettings(os));
  EXPECT_EQ(os.str(), want);

  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(echosettings(f));
  std::rewind(f);
  std::string got;
  for (int c; (c = std::fgetc(f)) != EOF;) got += static_cast<char>(c);
  std::fclose(f);
  EXPECT_EQ(got, want);

  std::vector<std::string> sunk;
  logsink = [&sunk](const std::string& l) { sunk.push_back(l); };
  echosettings();
  logsink = nullptr;
  EXPECT_EQ(sunk, twopassecho);
  echosettings();  // no sink: nothing, no crash

  // A file that cannot be written reports the failure.
  std::FILE* ro = std::fopen("/dev/null", "r");
  ASSERT_NE(ro, nullptr);
  EXPECT_FALSE(echosettings(ro));
  std::fclose(ro);
  std::ostringstream bad;
  bad.setstate(std::ios::badbit);
  EXPECT_FALSE(echosettings(bad));
  settings = settingsrec();
}

}  // namespace
