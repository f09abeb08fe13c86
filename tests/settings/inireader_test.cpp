// The settings file reader: presets, every key's value form and clamp, the column rules,
// lists over line ends, error codes with their context, CRLF files, paths that keep their
// case, overlong lines.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "encoder/control/control.h"
#include "encoder/control/inireader.h"
#include "common/matrices.h"
#include "tests/settings/settingsfixture.h"

namespace {

class inireader : public ::testing::Test {
 protected:
  void SetUp() override { freshsettings(); }
};

std::string pad(const std::string& s, size_t n) { return s + std::string(n - s.size(), ' '); }

std::string matrixlines(int first, int perline, const char* sep = " ") {
  std::string s;
  for (int i = 0; i < 64; ++i) {
    s += std::to_string(first + i);
    s += (i + 1) % perline == 0 || i == 63 ? "\n" : sep;
  }
  return s;
}

TEST_F(inireader, presetswithoutfile) {
  settings.inifile = "/nonexistent-folder/KJ.ini";
  std::string text = "unchanged";
  EXPECT_EQ(readini(text), 0);
  EXPECT_EQ(text, "");
  checkini();
  EXPECT_FALSE(settings.iniused);
  EXPECT_EQ(settings.bitrate, 5000000);
  EXPECT_EQ(settings.maxbitrate, 8000000);
  EXPECT_EQ(settings.goplength, 15);
  EXPECT_EQ(settings.bframes, 2);
  EXPECT_EQ(settings.aspect, 3);
  EXPECT_EQ(settings.profile, 2);
  EXPECT_EQ(settings.passmode, 2);
  EXPECT_EQ(settings.dcprec, 1);
  EXPECT_TRUE(settings.autogop);
  EXPECT_EQ(settings.autogopmax, 15);
  EXPECT_TRUE(settings.seqendcode);
  EXPECT_EQ(settings.waitsecs, 5);
  EXPECT_EQ(settings.fillbytes[0], 16);
  EXPECT_EQ(settings.fillbytes[1], 128);
  EXPECT_EQ(settings.fillbytes[2], 128);
  EXPECT_EQ(settings.matrixno, 1);
  EXPECT_EQ(settings.firstframe, 0);
  EXPECT_EQ(settings.lastframe, 9999999);
  EXPECT_FLOAT_EQ(settings.cqvalue, 4.0f);
  EXPECT_FLOAT_EQ(settings.cqpfactor, 1.0f);
  EXPECT_FALSE(settings.cqmode || settings.cqmbrmode || settings.bitrategiven ||
               settings.maxbitrategiven || settings.inputgiven || settings.outputgiven ||
               settings.logfileon || settings.interlaced || settings.altscan);
  EXPECT_FALSE(settings.tff);
  EXPECT_TRUE(settings.bff);
  EXPECT_EQ(settings.simdlevel, 4);
  EXPECT_EQ(zonefactors[0], 1.0f);
  EXPECT_EQ(zonefactors[maxframes - 1], 1.0f);
  const builtinpair* mpeg = builtinmatrix(1);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(inivalues.customintra[i], mpeg->intra[i]);
    EXPECT_EQ(inivalues.customnonintra[i], mpeg->nonintra[i]);
  }
}

TEST_F(inireader, presetsarerestoredeveryrun) {
  ASSERT_EQ(runini("*CHAPTER 1\n77\n*ZONE 1\n10 1.5\n*BITRATE 6000\n").code, 0);
  ASSERT_EQ(chapterflags[77], 1);
  ASSERT_TRUE(keygiven[keybitrate]);
  ASSERT_EQ(runini("; nothing\n").code, 0);
  EXPECT_TRUE(settings.iniused);
  EXPECT_EQ(chapterflags[77], 0);
  EXPECT_EQ(zonefactors[10], 1.0f);
  EXPECT_FALSE(keygiven[keybitrate]);
  EXPECT_EQ(inivalues.bitrate, 5000);
}

// One setting per case: the file text, the field, the value it must hold.
struct intcase {
  const char* file;
  int (*field)();
  int want;
};

#define F(expr) [] { return static_cast<int>(expr); }

TEST_F(inireader, integerkeysclampsandpresets) {
  const intcase cases[] = {
      {"*BITRATE 6000", F(settings.bitrate), 6000000},
      {"*BITRATE 6000", F(settings.bitrategiven), 1},
      {"*BITRATE 9000\n*MAXBITRATE 8500", F(settings.bitrate), 8500000},
      {"*BITRATE 10", F(settings.bitrate), 50000},
      {"*BITRATE -10", F(settings.bitrate), 50000},
      {"*MAXBITRATE 9000", F(settings.maxbitrate), 9000000},
      {"*MAXBITRATE 9000", F(settings.maxbitrategiven), 1},
      {"*MAXBITRATE 2147483647", F(settings.maxbitrate), 2147483000},
      {"*MAXBITRATE 2147483647\n*BITRATE 2147483647", F(settings.bitrate), 2147483000},
      {"*MAXBITRATE 0", F(settings.maxbitrate), 50000},
      {"*MAXBITRATE 10\n*BITRATE 30", F(settings.bitrate), 50000},
      {"*FRAMES 10 20", F(settings.firstframe), 10},
      {"*FRAMES 10 20", F(settings.lastframe), 20},
      {"*FRAMES 10,20", F(settings.lastframe), 20},
      {"*GOP 12 1", F(settings.goplength), 12},
      {"*GOP 12 1", F(settings.bframes), 1},
      {"*GOP 12 1", F(settings.autogop), 0},
      {"*GOP 40 3", F(settings.goplength), 36},
      {"*GOP 40 3", F(settings.bframes), 2},
      {"*GOP 40 3\n*AUTOGOP 18", F(settings.autogop), 0},
      {"*GOP 0 -1", F(settings.goplength), 1},
      {"*GOP -5 -1", F(settings.bframes), 0},
      {"*DC_PREC 10", F(settings.dcprec), 2},
      {"*DC_PREC 12", F(settings.dcprec), 3},
      {"*DC_PREC 7", F(settings.dcprec), 0},
      {"*AUTOGOP 14", F(settings.autogopmax), 14},
      {"*AUTOGOP 5", F(settings.autogopmax), 12},
      {"*AUTOGOP 30", F(settings.autogopmax), 18},
      {"*AUTOGOP", F(settings.autogopmax), 15},
      {"*AUTOGOP", F(keygiven[keyautogop]), 0},
      {"*AUTOGOP x", F(settings.autogopmax), 15},
      {"*AUTOGOP 16", F(keygiven[keyautogop]), 1},
      {"*BIAS 40", F(settings.bias), 40},
      {"*BIAS 150", F(settings.bias), 100},
      {"*BIAS -5", F(settings.bias), 0},
      {"*TIMECODE 1 2 3 4", F(settings.tcframes), 4},
      {"*TIMECODE 30 70 -1 99", F(settings.tchours), 23},
      {"*TIMECODE 30 70 -1 99", F(settings.tcminutes), 59},
      {"*TIMECODE 30 70 -1 99", F(settings.tcseconds), 0},
      {"*TIMECODE 30 70 -1 99", F(settings.tcframes), 59},
      {"*TIMECODE -3 0 0 0", F(settings.tchours), 0},
      {"*WAIT 7", F(settings.waitsecs), 7},
      {"*WAIT 200", F(settings.waitsecs), 100},
      {"*WAIT -1", F(settings.waitsecs), 0},
      {"*LUMGAIN 2", F(settings.lumgain), 2},
      {"*LUMGAIN 9", F(settings.lumgain), 4},
      {"*LUMGAIN -1", F(settings.lumgain), 0},
      {"*ADAPTIVEMATRIX", F(settings.adaptivematrix), 1},
      {"*ADAPTIVEMATRIX\n*LUMGAIN 1", F(settings.adaptivematrix), 0},
      {"*MASK_SHIFT 8 6 -4", F(settings.maskon), 1},
      {"*MASK_SHIFT 8 6 -4", F(settings.maskshift[0]), 8},
      {"*MASK_SHIFT 8 6 -4", F(settings.maskshift[1]), 6},
      {"*MASK_SHIFT 8 6 -4", F(settings.maskshift[2]), -4},
      {"*MASK_SHIFT 5000 -3 -5000", F(settings.maskshift[0]), 1152},
      {"*MASK_SHIFT 5000 -3 -5000", F(settings.maskshift[1]), 0},
      {"*MASK_SHIFT 5000 -3 -5000", F(settings.maskshift[2]), -1152},
      {"*MASK_VALUE 0 300 -1", F(settings.fillbytes[0]), 0},
      {"*MASK_VALUE 0 300 -1", F(settings.fillbytes[1]), 44},
      {"*MASK_VALUE 0 300 -1", F(settings.fillbytes[2]), 255},
      {"*MASK_VALUE 0 300 -1", F(settings.maskon), 0},
      {"*VBVSIZE 1000000", F(inivalues.vbvsize), 1000000},
      {"*VBVSIZE 1000000", F(inivalues.vbvsizegiven), 1},
      {"*VBVSIZE 0", F(inivalues.vbvsize), 16384},
      {"*CPU MMX", F(settings.simdlevel), 1},
      {"*CPU SSE2", F(settings.simdlevel), 2},
      {"*CPU SSE3", F(settings.simdlevel), 3},
      {"*CPU SSSE3", F(settings.simdlevel), 4},
      {"*CPU SSE4", F(settings.simdlevel), 4},
      {"*CPU AUTO", F(settings.simdlevel), 4},
      {"*CPU NONE", F(settings.simdlevel), 4},
      {"*PREVIEW", F(settings.previewini), 1},
      {"*LASTIFRAME", F(settings.lastiframe), 1},
      {"*PULLDOWN", F(settings.pulldown), 1},
      {"*CLOSEDGOPS", F(settings.closedgops), 1},
      {"*NOVBV", F(settings.novbv), 1},
      {"*NOSCD", F(settings.noscd), 1},
      {"*SCDFILE", F(settings.scdfile), 1},
      {"*SCDFILE\n*NOSCD", F(settings.scdfile), 0},
      {"*NOSEQ_ENDCODE", F(settings.seqendcode), 0},
      {"*SHUTDOWN", F(shutdownflag.load()), 1},
      {"*SHUTDOWN now please", F(shutdownflag.load()), 1},
      {"*SHUTDOWN", F(settings.waitsecs), 5},
      {"", F(shutdownflag.load()), 0},
      {"*bitrate 6000", F(settings.bitrate), 6000000},
      {"*Gop 9 2", F(settings.goplength), 9},
  };
  for (const auto& c : cases) {
    freshsettings();
    iniresult r = runini(std::string(c.file) + "\n");
    ASSERT_EQ(r.code, 0) << c.file << " / " << r.text;
    EXPECT_EQ(c.field(), c.want) << "file: " << c.file;
  }
}

TEST_F(inireader, cpulevelnevergoesabovethedetectedone) {
  for (int detected = 1; detected <= 4; ++detected) {
    for (const char* word : {"MMX", "SSE2", "SSE3", "SSSE3"}) {
      freshsettings(detected);
      ASSERT_EQ(runini(std::string("*CPU ") + word + "\n").code, 0);
      int asked = std::string(word) == "MMX" ? 1 : std::string(word) == "SSE2" ? 2
                  : std::string(word) == "SSE3" ? 3 : 4;
      EXPECT_EQ(settings.simdlevel, std::min(asked, detected)) << word << " on " << detected;
    }
  }
}

TEST_F(inireader, hiddenwindowhasnowait) {
  showwindow = false;
  ASSERT_EQ(runini("*WAIT 30\n").code, 0);
  EXPECT_EQ(settings.waitsecs, 0);
  showwindow = true;
}

struct realcase {
  const char* file;
  float (*field)();
  float want;
};
#define R(expr) [] { return static_cast<float>(expr); }

TEST_F(inireader, constantquantiserkeys) {
  const realcase cases[] = {
      {"*CQ 3.5", R(settings.cqvalue), 3.5f},
      {"*CQ 3.5", R(settings.cqmode), 1},
      {"*CQ 3.5", R(settings.passmode), 1},
      {"*CQ 3", R(settings.cqvalue), 3.0f},
      {"*CQ 40", R(settings.cqvalue), 31.0f},
      {"*CQ 0.5", R(settings.cqvalue), 1.0f},
      {"*CQ_MAXBITRATE 4", R(settings.cqmbrmode), 1},
      {"*CQ_MAXBITRATE 4", R(settings.cqmode), 0},
      {"*CQ_MAXBITRATE 4", R(settings.cqmbrvalue), 4.0f},
      {"*CQ_MAXBITRATE 4", R(settings.cqvalue), 4.0f},
      {"*CQ_MAXBITRATE 99", R(settings.cqmbrvalue), 31.0f},
      {"*CQ_MAXBITRATE 4", R(settings.passmode), 1},
      {"*CQ 3\n*CQ_MAXBITRATE 6", R(settings.cqmode), 0},
      {"*CQ 3\n*CQ_MAXBITRATE 6", R(keygiven[keycq]), 0},
      {"*CQ 3\n*CQ_MAXBITRATE 6", R(settings.cqmbrmode), 1},
      {"*CQ 3\n*CQ_MAXBITRATE 6", R(settings.cqmbrvalue), 6.0f},
      {"*CQ_PFACTOR 1.5", R(settings.cqpfactor), 1.0f},
      {"*CQ_PFACTOR 1.5\n*CQ 3", R(settings.cqpfactor), 1.5f},
      {"*CQ_BFACTOR 2.5\n*CQ_MAXBITRATE 3", R(settings.cqbfactor), 2.5f},
      {"*CQ_BFACTOR 2.5", R(settings.cqbfactor), 1.0f},
      {"*CQ_PFACTOR 2", R(settings.passmode), 2},
      {"", R(settings.cqvalue), 4.0f},
  };
  for (const auto& c : cases) {
    freshsettings();
    iniresult r = runini(std::string(c.file) + "\n");
    ASSERT_EQ(r.code, 0) << c.file << " / " << r.text;
    EXPECT_FLOAT_EQ(c.field(), c.want) << "file: " << c.file;
  }
}

TEST_F(inireader, keywords) {
  const intcase cases[] = {
      {"*PROFILE FAST", F(settings.profile), 1},
      {"*PROFILE NORMAL", F(settings.profile), 2},
      {"*PROFILE GOOD", F(settings.profile), 2},
      {"*PROFILE best", F(settings.profile), 4},
      {"*PROFILE XYZ", F(settings.profile), 2},
      {"*PROFILE BEST\n*PROFILE XYZ", F(settings.profile), 4},  // no match leaves the value
      {"*ASPECT 1:1", F(settings.aspect), 1},
      {"*ASPECT 4:3", F(settings.aspect), 2},
      {"*ASPECT 3:4", F(settings.aspect), 2},
      {"*ASPECT 16:9", F(settings.aspect), 3},
      {"*ASPECT 2.21:1", F(settings.aspect), 4},
      {"*ASPECT 1:2.21", F(settings.aspect), 4},
      {"*ASPECT 2:21", F(settings.aspect), 4},
      {"*ASPECT 4:3\n*ASPECT foo", F(settings.aspect), 2},
      {"*MATRIX           KJLOW", F(settings.matrixno), 12},
      {"*MATRIX KJ", F(settings.matrixno), 2},
      {"*MATRIX MPEGSTD", F(settings.matrixno), 16},
      {"*MATRIX MPEG", F(settings.matrixno), 1},
      {"*MATRIX hvsbetter", F(settings.matrixno), 8},
      {"*MATRIX HVSBEST", F(settings.matrixno), 9},
      {"*MATRIX KIV3", F(settings.matrixno), 15},
      {"*MATRIX ZELMAT7", F(settings.matrixno), 11},
      {"*MATRIX TGN\n*MATRIX NOSUCH", F(settings.matrixno), 1},
      {"*SCANMETHOD ZIGZAG", F(inivalues.scanmethod), 1},
      {"*SCANMETHOD ALTERNATE", F(inivalues.scanmethod), 2},
      {"*SCANMETHOD ZIGZAG", F(keygiven[keyscanmethod]), 1},
      {"*SCANMETHOD OTHER", F(keygiven[keyscanmethod]), 0},
  };
  for (const auto& c : cases) {
    freshsettings();
    iniresult r = runini(std::string(c.file) + "\n");
    ASSERT_EQ(r.code, 0) << c.file;
    EXPECT_EQ(c.field(), c.want) << "file: " << c.file;
  }
}

TEST_F(inireader, keywordlaststartposition) {
  // "*PROFILE" searches from column 10 with start positions 1..66 (columns 10..75).
  ASSERT_EQ(runini(pad("*PROFILE", 74) + "BEST\n").code, 0);
  EXPECT_EQ(settings.profile, 4);
  ASSERT_EQ(runini(pad("*PROFILE", 75) + "BEST\n").code, 0);
  EXPECT_EQ(settings.profile, 2);
  // "*MATRIX" from column 8, start positions 1..65 (columns 8..72); a word must end by
  // column 79.
  ASSERT_EQ(runini(pad("*MATRIX", 71) + "KJLOW\n").code, 0);
  EXPECT_EQ(settings.matrixno, 12);
  ASSERT_EQ(runini(pad("*MATRIX", 72) + "KJLOW\n").code, 0);
  EXPECT_EQ(settings.matrixno, 1);
  ASSERT_EQ(runini(pad("*MATRIX", 70) + "HVSBETTER\n").code, 0);
  EXPECT_EQ(settings.matrixno, 8);
  ASSERT_EQ(runini(pad("*MATRIX", 71) + "HVSBETTER\n").code, 0);
  EXPECT_EQ(settings.matrixno, 1);
}

TEST_F(inireader, numberendingatcolumn80) {
  ASSERT_EQ(runini(pad("*BITRATE", 76) + "6000\n").code, 0);
  EXPECT_EQ(settings.bitrate, 6000000);
}

TEST_F(inireader, columnrules) {
  const intcase cases[] = {
      // One character after the key is skipped, whatever it is.
      {"*BITRATE5000", F(settings.bitrate), 50000},
      {"*BITRATE=6000", F(settings.bitrate), 6000000},
      {"*BITRATE 6000 7000", F(settings.bitrate), 6000000},
      // The front end's layout: key padded to 18 columns.
      {"*BITRATE          5000", F(settings.bitrate), 5000000},
      {"*BITRATE\t6000", F(settings.bitrate), 6000000},
      // Longer keys are tried first where a shorter one is their start.
      {"*CQ_MAXBITRATE 4", F(settings.cqmbrmode), 1},
      {"*CQ_MAXBITRATE 4", F(keygiven[keycq]), 0},
      // The chapter count begins right after the key.
      {"*CHAPTER2\n5\n6", F(chapterflags[6]), 1},
      // Lines that match no key.
      {"*SILENT", F(settings.bitrate), 5000000},
      {" *BITRATE 6000", F(settings.bitrate), 5000000},
      {";*BITRATE 6000", F(settings.bitrate), 5000000},
      {"*UNKNOWN 5", F(settings.bitrate), 5000000},
      {"BITRATE 6000", F(settings.bitrate), 5000000},
      // Flags ignore what follows them.
      {"*INTERLACED yes please", F(settings.interlaced), 1},
  };
  for (const auto& c : cases) {
    freshsettings();
    iniresult r = runini(std::string(c.file) + "\n");
    ASSERT_EQ(r.code, 0) << c.file << " / " << r.text;
    EXPECT_EQ(c.field(), c.want) << "file: " << c.file;
  }
}

TEST_F(inireader, numberbeyondcolumn80isnotseen) {
  std::string line = pad("*BITRATE", 80) + "6000";
  iniresult r = runini(line + "\n");
  EXPECT_EQ(r.code, 265);
  EXPECT_EQ(r.text, ": *BITRATE");
}

TEST_F(inireader, fieldorder) {
  struct {
    const char* file;
    bool interlaced, tff, bff, altscan;
  } cases[] = {
      {"", false, false, true, false},
      {"*TFF", false, false, true, false},
      {"*INTERLACED", true, true, false, true},
      {"*INTERLACED\n*BFF", true, false, true, true},
      {"*BFF\n*TFF\n*INTERLACED", true, true, false, true},
      {"*INTERLACED\n*SCANMETHOD ZIGZAG", true, true, false, false},
  };
  for (const auto& c : cases) {
    freshsettings();
    ASSERT_EQ(runini(std::string(c.file) + "\n").code, 0);
    EXPECT_EQ(settings.interlaced, c.interlaced) << c.file;
    EXPECT_EQ(settings.tff, c.tff) << c.file;
    EXPECT_EQ(settings.bff, c.bff) << c.file;
    EXPECT_EQ(settings.altscan, c.altscan) << c.file;
  }
}

TEST_F(inireader, pathskeeptheircase) {
  ASSERT_EQ(runini("*INFILE   /Video/My Clip.AVS  \n*OutFile /Out/Movie.M2V\n"
                   "*LOGFILE /Logs/Run.Log\n").code, 0);
  EXPECT_EQ(settings.inpath, "/Video/My Clip.AVS");
  EXPECT_TRUE(settings.inputgiven);
  EXPECT_EQ(settings.outpath, "/Out/Movie.M2V");
  EXPECT_TRUE(settings.outputgiven);
  EXPECT_EQ(settings.logpath, "/Logs/Run.Log");
  EXPECT_TRUE(settings.logfileon);
}

TEST_F(inireader, blankpathstillgiven) {
  ASSERT_EQ(runini("*INFILE      \n*OUTFILE\n").code, 0);
  EXPECT_EQ(settings.inpath, "");
  EXPECT_TRUE(settings.inputgiven);
  EXPECT_TRUE(settings.outputgiven);
}

TEST_F(inireader, pathsof500charactersandnomore) {
  // 500 characters are a path; one more is refused with the key named, never cut (a cut
  // "*OUTFILE" could name another existing stream).
  std::string p = "/";
  while (p.size() < 600) p += "Abc/";
  const std::string fits = p.substr(0, 500), longer = p.substr(0, 501);
  for (const char* key : {"*INFILE", "*OUTFILE", "*LOGFILE"}) {
    freshsettings();
    ASSERT_EQ(runini(std::string(key) + " " + fits + "  \n").code, 0) << key;
    std::string got = std::string(key) == "*INFILE"    ? settings.inpath
                      : std::string(key) == "*OUTFILE" ? settings.outpath
                                                       : settings.logpath;
    EXPECT_EQ(got, fits) << key;
    freshsettings();
    std::string text, why;
    settings.inifile = writefile("KJ.ini", std::string("*BITRATE 6000\n") + key + " " + longer + "\n");
    EXPECT_EQ(readini(text, &why), 265) << key;
    EXPECT_EQ(text, std::string(": ") + key);
    EXPECT_NE(why.find("longer than 500 characters"), std::string::npos) << why;
    EXPECT_NE(why.find(key), std::string::npos) << why;
  }
  // Lines of a list are read whole up to 1 MB; a longer one is refused, not cut.
  freshsettings();
  std::string text, why;
  settings.inifile = writefile("KJ.ini", "*CHAPTER 2\n" + std::string((1 << 20) + 10, ' ') + "7\n9\n");
  EXPECT_EQ(readini(text, &why), 265);
  EXPECT_EQ(text, ": *CHAPTER");
  EXPECT_NE(why.find("longer than"), std::string::npos) << why;
}

TEST_F(inireader, custommatrixacrosslines) {
  // 8 a line, an empty line between the two reads (skipped by the second read).
  std::string file = "*CUSTOMMATRIX\n" + matrixlines(1, 8) + "\n" + matrixlines(101, 8) +
                     "*BITRATE 6000\n";
  ASSERT_EQ(runini(file).code, 0);
  EXPECT_EQ(settings.matrixno, 0);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(inivalues.customintra[i], 1 + i);
    EXPECT_EQ(inivalues.customnonintra[i], 101 + i);
  }
  EXPECT_EQ(settings.bitrate, 6000000);  // reading goes on after the list
}

TEST_F(inireader, listlayouts) {
  struct {
    std::string file;
    int intra5, nonintra63, matrixno;
  } cases[] = {
      {"*CUSTOMMATRIX\n" + matrixlines(1, 64) + matrixlines(101, 64), 6, 164, 0},
      {"*CUSTOMMATRIX\n" + matrixlines(1, 5, ",") + matrixlines(101, 3, ", "), 6, 164, 0},
      // Each read drops the rest of its last line: 64 and more on one line.
      {"*CUSTOMMATRIX\n" + matrixlines(1, 64).replace(matrixlines(1, 64).size() - 1, 1,
                                                     " 999 998\n") +
           matrixlines(101, 16),
       6, 164, 0},
      {"*INTRAMATRIX\n" + matrixlines(1, 8) + "*MATRIX KJ\n", 6, 33, 2},
      {"*MATRIX KJ\n*INTERMATRIX\n" + matrixlines(101, 8), 27, 164, 2},
  };
  for (const auto& c : cases) {
    freshsettings();
    iniresult r = runini(c.file);
    ASSERT_EQ(r.code, 0) << c.file << r.text;
    EXPECT_EQ(inivalues.customintra[5], c.intra5) << c.file;
    EXPECT_EQ(inivalues.customnonintra[63], c.nonintra63) << c.file;
    EXPECT_EQ(settings.matrixno, c.matrixno) << c.file;
  }
}

TEST_F(inireader, chapterlist) {
  // Every read takes one number and drops the rest of its line; empty lines are skipped;
  // frames beyond the table count as its last, frames below 0 as frame 0.
  ASSERT_EQ(runini("*CHAPTER 5\n10\n20 30\n\n40\n700000\n-3\n*BITRATE 6000\n").code, 0);
  for (int f : {0, 10, 20, 40, maxframes - 1}) EXPECT_EQ(chapterflags[f], 1) << f;
  for (int f : {30, 1, 639998}) EXPECT_EQ(chapterflags[f], 0) << f;
  EXPECT_EQ(inivalues.chaptercount, 5);
  EXPECT_EQ(settings.bitrate, 6000000);  // the line after the list is read as usual
}

TEST_F(inireader, chaptercountzeroreadsnolist) {
  ASSERT_EQ(runini("*CHAPTER 0\n*BITRATE 6000\n").code, 0);
  EXPECT_EQ(settings.bitrate, 6000000);
}

TEST_F(inireader, zones) {
  ASSERT_EQ(runini("*ZONE 2\n100 1.5\n50, 0.8\n").code, 0);
  EXPECT_EQ(zonefactors[49], 1.0f);
  for (int f : {50, 100, 5000, maxframes - 1}) EXPECT_FLOAT_EQ(zonefactors[f], 0.8f) << f;

  ASSERT_EQ(runini("*ZONE 1\n700000 3.0\n").code, 0);
  EXPECT_FLOAT_EQ(zonefactors[maxframes - 1], 2.0f);
  EXPECT_FLOAT_EQ(zonefactors[maxframes - 2], 1.0f);

  ASSERT_EQ(runini("*ZONE 2\n10\n0.1\n20 2\n").code, 0);  // a zone's two values over two lines
  EXPECT_FLOAT_EQ(zonefactors[10], 0.5f);
  EXPECT_FLOAT_EQ(zonefactors[20], 2.0f);
}

struct errorcase {
  std::string file;
  int code;
  const char* text;
};

TEST_F(inireader, unreadablevaluesfailwithcontext) {
  const errorcase cases[] = {
      {"*FRAMES 5", 265, ": *FRAMES"},
      {"*FRAMES", 265, ": *FRAMES"},
      {"*BITRATE 5.5", 265, ": *BITRATE"},
      {"*BITRATE 5000kbit", 265, ": *BITRATE"},
      {"*MAXBITRATE", 265, ": *MAXBITRATE"},
      {"*CQ abc", 265, ": *CQ"},
      {"*CQ_MAXBITRATE", 265, ": *CQ_MAXBITRATE"},
      {"*CQ_PFACTOR x", 265, ": *CQ_PFACTOR"},
      {"*CQ_BFACTOR", 265, ": *CQ_BFACTOR"},
      {"*GOP 12", 265, ": *GOP"},
      {"*GOP 12 2.0", 265, ": *GOP"},
      {"*DC_PREC nine", 265, ": *DC_PREC"},
      {"*TIMECODE 1 2 3", 265, ": *TIMECODE"},
      {"*MASK_SHIFT 1,2", 265, ": *MASK_SHIFT"},
      {"*MASK_VALUE 1 2 x", 265, ": *MASK_VALUE"},
      {"*BIAS", 265, ": *BIAS"},
      {"*WAIT", 265, ": *WAIT"},
      {"*LUMGAIN 1.5", 265, ": *LUMGAIN"},
      {"*VBVSIZE big", 265, ": *VBVSIZE"},
      {"*CHAPTER", 265, ": *CHAPTER"},
      {"*CHAPTER 2\n100\n", 265, ": *CHAPTER"},
      {"*CHAPTER 1\nten\n", 265, ": *CHAPTER"},
      {"*ZONE 1\n100\n", 265, ": *ZONE"},
      {"*ZONE 1\n100 x\n", 265, ": *ZONE"},
      {"*ZONE x", 265, ": *ZONE"},
      {"*CUSTOMMATRIX\n1 2 x\n", 265, ": *CUSTOMMATRIX"},
      {"*CUSTOMMATRIX\n" + matrixlines(1, 8), 265, ": *CUSTOMMATRIX"},
      {"*INTRAMATRIX\n1 2 3\n", 265, ": *INTRAMATRIX"},
      {"*INTERMATRIX\n1.5\n", 265, ": *INTERMATRIX"},
      {"*BIAS 5\n*WAIT x\n*BITRATE 6000", 265, ": *WAIT"},
  };
  for (const auto& c : cases) {
    freshsettings();
    iniresult r = runini(c.file + "\n");
    EXPECT_EQ(r.code, c.code) << c.file;
    EXPECT_EQ(r.text, c.text) << c.file;
  }
  // Values read before the failing line stay in the file values.
  EXPECT_EQ(inivalues.bias, 5);
  EXPECT_EQ(inivalues.bitrate, 5000);
}

TEST_F(inireader, unopenablefileis266) {
  auto dir = std::filesystem::path(tempdir()) / "folder.ini";
  std::filesystem::create_directories(dir);
  settings.inifile = dir.string();
  std::string text;
  EXPECT_EQ(readini(text), 266);
  std::filesystem::remove(dir);
}

TEST_F(inireader, crlffilewithmixedcasepaths) {
  std::string file =
      "*InFile\t/Media/Holiday 2024/Clip.AVS\r\n"
      "*OUTFILE  /Media/Out/Holiday.M2V\r\n"
      "*BITRATE\t6000\r\n"
      "*MaxBitrate 9000\r\n"
      "*GOP 12 2\r\n"
      "*CQ 3.5\r\n"
      "*MATRIX\tNOTCH\r\n"
      "*CHAPTER 2\r\n"
      "100\r\n"
      "200\r\n"
      "*CUSTOMMATRIX\r\n";
  for (int i = 0; i < 128; ++i) file += std::to_string(10 + i % 64) + ((i + 1) % 8 ? "\t" : "\r\n");
  file += "*INTERLACED\r\n*BFF\r\n";
  ASSERT_EQ(runini(file).code, 0);
  EXPECT_EQ(settings.inpath, "/Media/Holiday 2024/Clip.AVS");
  EXPECT_EQ(settings.outpath, "/Media/Out/Holiday.M2V");
  EXPECT_EQ(settings.bitrate, 6000000);
  EXPECT_EQ(settings.maxbitrate, 9000000);
  EXPECT_EQ(settings.goplength, 12);
  EXPECT_FLOAT_EQ(settings.cqvalue, 3.5f);
  EXPECT_EQ(settings.matrixno, 0);  // the custom pair came after *MATRIX
  EXPECT_EQ(chapterflags[100], 1);
  EXPECT_EQ(chapterflags[200], 1);
  EXPECT_EQ(inivalues.customintra[63], 73);
  EXPECT_EQ(inivalues.customnonintra[0], 10);
  EXPECT_TRUE(settings.interlaced);
  EXPECT_TRUE(settings.bff);
  EXPECT_FALSE(settings.tff);
}

TEST_F(inireader, longlinesnevercrash) {
  for (size_t len : {511u, 512u, 513u, 1000u, 100000u}) {
    freshsettings();
    std::string junk(len, 'x');
    std::string bitrate = pad("*BITRATE 6000", len);
    std::string path = "*INFILE /" + std::string(std::min<size_t>(len, 499), 'P');
    // The first read's last line goes on with a long unreadable rest, which it drops.
    std::string first = matrixlines(1, 64);
    first.pop_back();
    std::string list = "*CUSTOMMATRIX\n" + std::string(len, ' ') + "\n" + first + " " +
                       std::string(len, '7') + "x\n" + matrixlines(2, 64);
    iniresult r = runini(junk + "\r\n" + bitrate + "\r\n" + path + "\n" + list + "*GOP 9 1" +
                         std::string(len, ' ') + "\r\n");
    ASSERT_EQ(r.code, 0) << len << r.text;
    EXPECT_EQ(settings.bitrate, 6000000) << len;
    EXPECT_EQ(settings.goplength, 9) << len;
    EXPECT_EQ(settings.inpath.size(), std::min<size_t>(500, len + 1)) << len;
    EXPECT_EQ(inivalues.customnonintra[63], 65) << len;
  }
  // An overlong line's rest is never a line of its own: a key after column 512 is unseen.
  freshsettings();
  ASSERT_EQ(runini(std::string(512, ';') + "*BITRATE 6000\n").code, 0);
  EXPECT_EQ(settings.bitrate, 5000000);
}

}  // namespace
