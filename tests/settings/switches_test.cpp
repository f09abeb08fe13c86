// Command-line switches: the scan, each conversion and clamp, the error codes, switches over
// the settings file, the window marks and shown settings, the matrix fill.
#include <gtest/gtest.h>

#include "encoder/control/control.h"
#include "encoder/control/inireader.h"
#include "common/matrices.h"
#include "encoder/control/switches.h"
#include "tests/settings/settingsfixture.h"

namespace {

class switches : public ::testing::Test {
 protected:
  void SetUp() override {
    freshsettings();
    // The file stage always runs first; without a file its presets hold.
    settings.inifile = "/nonexistent-folder/KJ.ini";
    std::string text;
    ASSERT_EQ(readini(text), 0);
    checkini();
  }
  // File, then switches, as the start-up runs them.
  int withfile(const std::string& file, const std::vector<std::string>& words) {
    freshsettings();
    std::vector<const char*> argv{"ostrel"};
    for (const auto& w : words) argv.push_back(w.c_str());
    getargs(static_cast<int>(argv.size()), argv.data());
    iniresult r = runini(file);
    EXPECT_EQ(r.code, 0) << r.text;
    return parseargs();
  }
};

TEST_F(switches, scan) {
  const char* argv[] = {"ostrel", "-I", "/Clips/A.avs", "-gop", "12", "-b", "5000",
                        "-unknown", "-PULLDOWN", "-frames", "5"};
  getargs(11, argv);
  EXPECT_EQ(settings.argcount, 11);
  EXPECT_EQ(switchtexts[slotinput], "/Clips/A.avs");  // the value keeps its case
  EXPECT_EQ(switchtexts[slotgoplength], "12");
  EXPECT_EQ(switchtexts[slotgopb], "-b");  // a value word is taken whatever it is
  EXPECT_FALSE(switchgiven(slotbitrate));
  EXPECT_EQ(switchtexts[slotpulldown], "-pulldown");
  EXPECT_EQ(switchtexts[slotfirstframe], "5");
  EXPECT_FALSE(switchgiven(slotlastframe));
  EXPECT_EQ(parseargs(), 522);
  EXPECT_EQ(settings.goplength, 12);  // converted before the failure
}

TEST_F(switches, scanclearsthestartupflags) {
  settings.inputgiven = settings.cqmode = settings.iniused = settings.d2vinput = true;
  shutdownflag = true;
  const char* argv[] = {"ostrel", "-ini", "/Cfg/My.ini"};
  getargs(3, argv);
  EXPECT_FALSE(settings.inputgiven || settings.cqmode || settings.iniused || settings.d2vinput);
  EXPECT_FALSE(shutdownflag.load());
  EXPECT_TRUE(settings.inifilegiven);
  EXPECT_EQ(switchtexts[slotini], "/Cfg/My.ini");
  EXPECT_FALSE(switchgiven(slotinput));
}

TEST_F(switches, wholewordsonly) {
  const char* argv[] = {"ostrel", "-ini", "x.ini", "-in", "y", "-i ", "z.avs"};
  getargs(7, argv);
  EXPECT_EQ(switchtexts[slotini], "x.ini");
  EXPECT_EQ(switchtexts[slotinput], "z.avs");  // trailing blanks do not count
}

struct convcase {
  std::vector<std::string> words;
  int (*field)();
  int want;
};
#define F(expr) [] { return static_cast<int>(expr); }

TEST_F(switches, conversions) {
  const convcase cases[] = {
      {{"-b", "4000"}, F(settings.bitrate), 4000000},
      {{"-b", "4000"}, F(settings.bitrategiven), 1},
      {{"-b", " 4000,"}, F(settings.bitrate), 4000000},
      {{"-b", "4000 99"}, F(settings.bitrate), 4000000},
      {{"-b", "9999999"}, F(settings.bitrate), 2147483000},
      {{"-b", "0"}, F(settings.bitrate), 50000},
      {{"-b", "9000", "-maxbitrate", "8000"}, F(settings.bitrate), 9000000},
      {{"-maxbitrate", "9000"}, F(settings.maxbitrate), 9000000},
      {{"-maxbitrate", "9000"}, F(settings.maxbitrategiven), 1},
      {{"-maxbitrate", "-5"}, F(settings.maxbitrate), 50000},
      {{"-aspectratio", "4:3"}, F(settings.aspect), 2},
      {{"-aspectratio", "1:1"}, F(settings.aspect), 1},
      {{"-aspectratio", "2.21:1"}, F(settings.aspect), 4},
      {{"-aspectratio", "2:21"}, F(settings.aspect), 4},
      {{"-aspectratio", "16:10"}, F(settings.aspect), 3},
      {{"-gop", "12", "1"}, F(settings.goplength), 12},
      {{"-gop", "12", "1"}, F(settings.bframes), 1},
      {{"-gop", "12", "1"}, F(settings.autogop), 0},
      {{"-gop", "0", "5"}, F(settings.goplength), 1},
      {{"-gop", "0", "5"}, F(settings.bframes), 2},
      {{"-gop", "99", "-1"}, F(settings.goplength), 36},
      {{"-gop", "99", "-1"}, F(settings.bframes), 0},
      {{"-gop", "12"}, F(settings.bframes), 2},
      {{"-profile", "GOOD"}, F(settings.profile), 2},
      {{"-profile", "Best"}, F(settings.profile), 4},
      {{"-profile", "fast"}, F(settings.profile), 1},
      {{"-profile", "turbo"}, F(settings.profile), 2},
      {{"-noscene"}, F(settings.noscd), 1},
      {{"-noscene", "-scene"}, F(settings.noscd), 0},
      {{"-matrix", "KJLOW"}, F(settings.matrixno), 12},
      {{"-matrix", "mpegstd"}, F(settings.matrixno), 16},
      {{"-matrix", "custom"}, F(settings.matrixno), 1},
      {{"-bias", "50"}, F(settings.bias), 50},
      {{"-bias", "500"}, F(settings.bias), 100},
      {{"-bias", "-1"}, F(settings.bias), 0},
      {{"-dc_prec", "10"}, F(settings.dcprec), 2},
      {{"-dc_prec", "12"}, F(settings.dcprec), 3},
      {{"-dc_prec", "1"}, F(settings.dcprec), 0},
      {{"-frames", "100", "200"}, F(settings.firstframe), 100},
      {{"-frames", "100", "200"}, F(settings.lastframe), 200},
      {{"-cq", "3"}, F(settings.cqmode), 1},
      {{"-cq", "3"}, F(settings.passmode), 1},
      {{"-cq_maxbitrate", "3"}, F(settings.cqmbrmode), 1},
      {{"-cq", "3", "-cq_maxbitrate", "4"}, F(settings.cqmode && settings.cqmbrmode), 1},
      {{"-pulldown"}, F(settings.pulldown), 1},
      {{"-pulldown", "-i", "/A/Clip.avs"}, F(settings.pulldown && settings.inputgiven), 1},
      {{"-tff"}, F(settings.tff), 1},
      {{"-bff"}, F(settings.bff), 1},
      {{"-tff", "-bff"}, F(settings.tff), 0},
      {{"-bff", "-tff"}, F(settings.bff), 1},
      {{"-chapter", "/C/Ch.txt"}, F(settings.chapterfilegiven), 1},
      {{"-log", "/L/Run.log"}, F(settings.logfileon), 1},
      {{"-b"}, F(settings.bitrate), 5000000},
  };
  for (const auto& c : cases) {
    freshsettings();
    settings.inifile = "/nonexistent-folder/KJ.ini";
    std::string text;
    ASSERT_EQ(readini(text), 0);
    checkini();
    std::string all;
    for (const auto& w : c.words) all += w + " ";
    ASSERT_EQ(runargs(c.words), 0) << all;
    EXPECT_EQ(c.field(), c.want) << all;
  }
}

TEST_F(switches, realvaluesandclamps) {
  ASSERT_EQ(runargs({"-cq", "3.25", "-cq_maxbitrate", "40", "-cq_pfactor", "1.5",
                     "-cq_bfactor", "2"}),
            0);
  EXPECT_FLOAT_EQ(settings.cqvalue, 3.25f);
  EXPECT_FLOAT_EQ(settings.cqmbrvalue, 31.0f);
  EXPECT_FLOAT_EQ(settings.cqpfactor, 1.5f);
  EXPECT_FLOAT_EQ(settings.cqbfactor, 2.0f);
  ASSERT_EQ(runargs({"-cq", "0"}), 0);
  EXPECT_FLOAT_EQ(settings.cqvalue, 1.0f);
}

TEST_F(switches, pathskeeptheircase) {
  ASSERT_EQ(runargs({"-i", "/Clips/My Movie.AVS", "-o", "/Out/Movie.M2V", "-log",
                     "/Logs/Run.LOG", "-chapter", "/Ch/Chapters.TXT"}),
            0);
  EXPECT_EQ(settings.inpath, "/Clips/My Movie.AVS");
  EXPECT_EQ(settings.outpath, "/Out/Movie.M2V");
  EXPECT_EQ(settings.logpath, "/Logs/Run.LOG");
  EXPECT_EQ(settings.chapterpath, "/Ch/Chapters.TXT");
  EXPECT_TRUE(settings.inputgiven && settings.outputgiven);
}

TEST_F(switches, errorcodes) {
  struct {
    std::vector<std::string> words;
    int code;
  } cases[] = {
      {{"-b", "5000.0"}, 512},         {{"-b", "fast"}, 512},
      {{"-b", ","}, 512},              {{"-maxbitrate", "8M"}, 513},
      {{"-bias", "x"}, 514},           {{"-dc_prec", "nine"}, 515},
      {{"-frames", "a", "10"}, 516},   {{"-frames", "0", "1e3"}, 517},
      {{"-gop", "1.5", "2"}, 521},     {{"-gop", "12", "two"}, 522},
      {{"-cq", "q"}, 523},             {{"-cq_maxbitrate", "3x,5"}, 524},
      {{"-cq_pfactor", "--1"}, 525},   {{"-cq_bfactor", "."}, 526},
      {{"-gop", "12", "-b", "5000"}, 522},
      // The first unreadable value in scan order decides.
      {{"-cq", "x", "-b", "y"}, 512},
      {{"-cq_bfactor", "x", "-bias", "y"}, 514},
  };
  for (const auto& c : cases) {
    freshsettings();
    std::string all;
    for (const auto& w : c.words) all += w + " ";
    EXPECT_EQ(runargs(c.words), c.code) << all;
    EXPECT_TRUE(recordedputs.empty()) << all;  // no marks after a failure
  }
}

TEST_F(switches, failureskipsthematrixfill) {
  quantmatrices.intra[0] = -1;
  loadintramatrix = 7;
  EXPECT_EQ(runargs({"-matrix", "kj", "-bias", "x"}), 514);
  EXPECT_EQ(settings.matrixno, 2);  // converted before the failure
  EXPECT_EQ(quantmatrices.intra[0], -1);
  EXPECT_EQ(loadintramatrix, 7);
}

TEST_F(switches, overridethefile) {
  const std::string file =
      "*BITRATE 6000\n*MAXBITRATE 9000\n*GOP 12 1\n*MATRIX NOTCH\n*BIAS 20\n"
      "*INFILE /File/In.avs\n*PROFILE BEST\n*DC_PREC 10\n*FRAMES 5 50\n";
  ASSERT_EQ(withfile(file, {"-b", "4000", "-gop", "18", "2", "-matrix", "tgn", "-bias", "70",
                            "-i", "/Switch/In.AVS", "-profile", "fast", "-dc_prec", "8",
                            "-frames", "1", "99"}),
            0);
  EXPECT_EQ(settings.bitrate, 4000000);
  EXPECT_EQ(settings.maxbitrate, 9000000);  // from the file
  EXPECT_EQ(settings.goplength, 18);
  EXPECT_EQ(settings.bframes, 2);
  EXPECT_EQ(settings.matrixno, 4);
  EXPECT_EQ(settings.bias, 70);
  EXPECT_EQ(settings.inpath, "/Switch/In.AVS");
  EXPECT_EQ(settings.profile, 1);
  EXPECT_EQ(settings.dcprec, 0);
  EXPECT_EQ(settings.firstframe, 1);
  EXPECT_EQ(settings.lastframe, 99);

  // "-b" alone as the last word leaves the file's value.
  ASSERT_EQ(withfile("*BITRATE 6000\n", {"-b"}), 0);
  EXPECT_EQ(settings.bitrate, 6000000);
}

TEST_F(switches, switchesreplacecustompair) {
  std::string file = "*CUSTOMMATRIX\n";
  for (int i = 0; i < 64; ++i) file += std::to_string(i) + " ";  // entry 0 is 0
  file += "\n";
  for (int i = 0; i < 64; ++i) file += std::to_string(300 + i) + " ";  // above 255
  file += "\n";
  ASSERT_EQ(withfile(file, {}), 0);
  EXPECT_EQ(settings.matrixno, 0);
  // Custom weights go into the stream's range 1..255: never 0 (the reciprocals divide by
  // them), never above what the sequence header carries. The intra matrix's first entry is 8,
  // as the standard wants, whatever the file gave.
  EXPECT_EQ(quantmatrices.intra[0], 8);
  EXPECT_EQ(quantmatrices.intra[1], 1);
  EXPECT_EQ(quantmatrices.intra[5], 5);
  EXPECT_EQ(quantmatrices.nonintra[0], 255);
  EXPECT_EQ(loadintramatrix, 1);
  EXPECT_EQ(loadnonintramatrix, 1);
  EXPECT_EQ(basematrices.intra[0], 8);
  // "*INTRAMATRIX" replaces the custom intra matrix: its first entry is 8 too (here 16, 0 and
  // 300); an entry 0 elsewhere is 1.
  for (const char* first : {"16", "0", "300"}) {
    std::string intra = file + "*INTRAMATRIX\n" + first + " 0";
    for (int i = 2; i < 64; ++i) intra += " 20";
    ASSERT_EQ(withfile(intra + "\n", {}), 0);
    EXPECT_EQ(quantmatrices.intra[0], 8) << first;
    EXPECT_EQ(quantmatrices.intra[1], 1) << first;
    EXPECT_EQ(quantmatrices.intra[2], 20) << first;
    EXPECT_EQ(quantmatrices.nonintra[0], 255) << first;
  }
  ASSERT_EQ(withfile(file, {"-matrix", "mpegstd"}), 0);
  EXPECT_EQ(settings.matrixno, 16);
  EXPECT_EQ(quantmatrices.intra[1], 16);
  EXPECT_EQ(quantmatrices.nonintra[0], 16);
}

TEST_F(switches, matrixfill) {
  struct {
    std::string file;
    std::vector<std::string> words;
    int intra63, nonintra1, loadintra, loadnonintra;
  } cases[] = {
      {"", {}, 83, 17, 0, 1},
      {"", {"-matrix", "mpegstd"}, 83, 16, 0, 0},
      {"*LUMGAIN 1\n", {"-matrix", "mpegstd"}, 83, 16, 1, 1},
      {"*ADAPTIVEMATRIX\n", {}, 83, 17, 1, 1},
      {"", {"-matrix", "kj"}, 87, 16, 1, 1},
      {"*MATRIX HVSGOOD\n", {}, 115, 20, 1, 1},
      {"*MATRIX KIV3\n", {}, 41, 16, 1, 1},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(withfile(c.file, c.words), 0) << c.file;
    EXPECT_EQ(quantmatrices.intra[63], c.intra63) << c.file;
    EXPECT_EQ(quantmatrices.nonintra[1], c.nonintra1) << c.file;
    EXPECT_EQ(loadintramatrix, c.loadintra) << c.file;
    EXPECT_EQ(loadnonintramatrix, c.loadnonintra) << c.file;
    for (int i = 0; i < 64; ++i) {
      EXPECT_EQ(basematrices.intra[i], quantmatrices.intra[i]);
      EXPECT_EQ(basematrices.nonintra[i], quantmatrices.nonintra[i]);
    }
  }
  ASSERT_EQ(withfile("*MATRIX HVSGOOD\n", {}), 0);
  EXPECT_EQ(quantmatrices.intra[7 * 8 + 3], 26);
}

TEST_F(switches, fieldorderandscan) {
  struct {
    const char* file;
    std::vector<std::string> words;
    bool interlaced, tff, bff, altscan;
  } cases[] = {
      {"", {}, false, false, true, false},
      {"*INTERLACED\n", {}, true, true, false, true},
      {"*INTERLACED\n*SCANMETHOD ZIGZAG\n", {"-nointerlaced"}, false, false, true, false},
      {"*INTERLACED\n", {"-nointerlaced"}, false, false, true, false},
      {"", {"-interlaced"}, true, true, false, true},
      {"*SCANMETHOD ZIGZAG\n", {"-interlaced"}, true, true, false, false},
      {"*SCANMETHOD ALT\n", {}, false, false, true, true},
      {"*INTERLACED\n*BFF\n", {"-interlaced"}, true, false, true, true},
      {"*BFF\n", {"-interlaced"}, true, false, true, true},
      {"*INTERLACED\n*TFF\n", {"-nointerlaced"}, false, true, true, false},
      {"*INTERLACED\n", {"-bff"}, true, false, true, true},
      {"", {"-interlaced", "-tff", "-bff"}, true, false, true, true},
  };
  for (const auto& c : cases) {
    std::string all = c.file;
    for (const auto& w : c.words) all += " " + w;
    ASSERT_EQ(withfile(c.file, c.words), 0) << all;
    EXPECT_EQ(settings.interlaced, c.interlaced) << all;
    EXPECT_EQ(settings.tff, c.tff) << all;
    EXPECT_EQ(settings.bff, c.bff) << all;
    EXPECT_EQ(settings.altscan, c.altscan) << all;
  }
}

TEST_F(switches, marksandshownsettings) {
  ASSERT_EQ(withfile("*CLOSEDGOPS\n*INFILE /F/In.avs\n",
                     {"-o", "/O/Out.M2V", "-b", "4000", "-maxbitrate", "8000", "-gop", "9",
                      "2", "-tff", "-interlaced", "-pulldown", "-bias", "30", "-ini", "k.ini"}),
            0);
  for (int id : {1045, 1047, 1048, 1071, 1055, 1050, 1078, 1066, 1046})
    EXPECT_EQ(lastput(id), "x") << id;
  for (int id : {1044, 1049, 1057, 1052, 1056, 1058, 1067, 1072, 1070, 1077})
    EXPECT_EQ(lastput(id), "<none>") << id;
  EXPECT_EQ(lastput(1011), "/F/In.avs");
  EXPECT_EQ(lastput(1012), "/O/Out.M2V");
  EXPECT_EQ(lastput(1033), "4000");
  EXPECT_EQ(lastput(1032), "8000");
  EXPECT_EQ(lastput(1034), "normal");
  EXPECT_EQ(lastput(1035), "16:9");
  EXPECT_EQ(lastput(1036), "9-2, closed");
  EXPECT_EQ(lastput(1037), "yes");
  EXPECT_EQ(lastput(1038), "yes");
  EXPECT_EQ(lastput(1040), "MPEG");
  EXPECT_EQ(lastput(1041), "9");
  EXPECT_EQ(lastput(1043), "ALTERNATE");
  EXPECT_EQ(lastput(1042), "yes");
  EXPECT_EQ(lastput(1039), "TFF");
  EXPECT_EQ(lastput(1079), "yes");
  EXPECT_EQ(lastput(1068), "30");
}

TEST_F(switches, shownsettingsinconstantquantisermode) {
  ASSERT_EQ(withfile("*NOVBV\n*ADAPTIVEMATRIX\n", {"-cq", "3", "-profile", "best",
                                                     "-aspectratio", "2.21:1", "-noscene"}),
            0);
  EXPECT_EQ(lastput(1077), "x");
  EXPECT_EQ(lastput(1052), "x");
  EXPECT_EQ(lastput(1033), "NA");
  EXPECT_EQ(lastput(1032), "NA");
  EXPECT_EQ(lastput(1034), "best");
  EXPECT_EQ(lastput(1035), "2.21:1");
  EXPECT_EQ(lastput(1036), "auto");
  EXPECT_EQ(lastput(1037), "no");
  EXPECT_EQ(lastput(1038), "no");
  EXPECT_EQ(lastput(1040), "ADAPTIVE");
  EXPECT_EQ(lastput(1043), "ZIGZAG");
  EXPECT_EQ(lastput(1042), "no");
  EXPECT_EQ(lastput(1039), "NA");
  EXPECT_EQ(lastput(1079), "no");
  EXPECT_EQ(lastput(1068), "NA");

  ASSERT_EQ(withfile("", {"-cq_maxbitrate", "3", "-gop", "15", "2", "-interlaced", "-bff"}),
            0);
  EXPECT_EQ(lastput(1077), "x");
  EXPECT_EQ(lastput(1033), "NA");
  EXPECT_EQ(lastput(1032), "8000");  // a maximum bitrate holds the quantiser
  EXPECT_EQ(lastput(1038), "yes");
  EXPECT_EQ(lastput(1036), "15-2");
  EXPECT_EQ(lastput(1039), "BFF");
  EXPECT_EQ(lastput(1068), "NA");
}

TEST_F(switches, hiddenwindowwritesnothing) {
  showwindow = false;
  ASSERT_EQ(runargs({"-b", "4000", "-matrix", "kj"}), 0);
  EXPECT_TRUE(recordedputs.empty());
  EXPECT_EQ(loadintramatrix, 1);  // the matrices are filled all the same
  EXPECT_EQ(quantmatrices.intra[1], 9);
  showwindow = true;
}

}  // namespace
