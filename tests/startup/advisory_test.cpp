// What the start-up does not take as given is said: numbers brought into range, words it does
// not know, words of the command line that are no switch, settings that the program folder's
// KJ.ini brought in beside the switches, a 4:3 source flagged 16:9 by default; each as one
// " WARNING, " line on stderr and in the log, naming the word, where it came from and what is
// used. And the start-up errors whose fixed text does not say which: the second stderr line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

using args = std::vector<std::string>;

// A small clip; "sq.avs" a 4:3 one that says so (a y4m header's pixel aspect 12:11 at 352x288).
void writeclips(const progfolder& pf) {
  pf.write("a.avs", "BlankClip(length=8, width=352, height=288, fps=25)\n");
  std::string y4m = "YUV4MPEG2 W352 H288 F25:1 Ip A12:11 C420jpeg\n";
  for (int f = 0; f < 4; ++f) y4m += "FRAME\n" + std::string(352 * 288 * 3 / 2, char(60 + 20 * f));
  pf.write("sq.y4m", y4m);
  pf.write("sq.avs", "Y4MSource(\"sq.y4m\")\n");
}

// "sq.d2v": a D2V project whose MPEG source is flagged 4:3 ("wide.d2v" 16:9).
void writeprojects(const progfolder& pf) {
  runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc=size=352x288:rate=25",
                            "-frames:v", "6", "-c:v", "mpeg2video", "-aspect", "4:3", pf.path("sq.m2v")});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* shape : {"4:3", "16:9"})
    pf.write(std::string(shape) == "4:3" ? "sq.d2v" : "wide.d2v",
             "DGIndexProjectFile16\n1\nsq.m2v\n\nStream_Type=1\nMPEG_Type=2\nAspect_Ratio=" + std::string(shape) +
                 "\nPicture_Size=352x288\nFrame_Rate=25000 (25/1)\n");
}

const args cq = {"-i", "a.avs", "-o", "out.m2v", "-cq", "4", "-log", "run.log"};
const args twopass = {"-i", "a.avs", "-o", "out.m2v", "-b", "5000", "-maxbitrate", "8000", "-log", "run.log"};

args operator+(args a, const args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(advisories, eachSurpriseIsSaidOnStderrAndInTheLog) {
  struct c {
    const char* what;
    std::string ini;   // KJ.ini of the program folder ("" none)
    args run;
    std::vector<std::string> said;     // warnings (after " WARNING, "); <ini> is the settings file
    std::vector<std::string> unsaid;   // texts that must not be there
  } cases[] = {
      {"unknown switch", "", cq + args{"-frobnicate", "1"},
       {"\"-frobnicate\" on the command line is no switch (ostrel -h lists them), ignored",
        "\"1\" on the command line is no switch and no switch's value (ostrel -h lists them), ignored"}, {}},
      {"aspect 4/3", "", cq + args{"-aspectratio", "4/3"},
       {"-aspectratio \"4/3\" on the command line is none of 1:1, 4:3, 16:9, 2.21:1; 16:9 used"}, {}},
      {"aspect 1.33", "", cq + args{"-aspectratio", "1.33"},
       {"-aspectratio \"1.33\" on the command line is none of 1:1, 4:3, 16:9, 2.21:1; 16:9 used"}, {}},
      {"aspect foo in the file", "*ASPECT foo\n", cq,
       {"*ASPECT \"foo\" in \"<ini>\" is none of 1:1, 4:3, 16:9, 2.21:1; 16:9 used"}, {}},
      {"profile", "", cq + args{"-profile", "quick"},
       {"-profile \"quick\" on the command line is none of fast, normal, good, best; normal used"}, {}},
      {"maximum above Main Level", "", twopass + args{"-maxbitrate", "20000"},
       {"-maxbitrate 20000 on the command line is above the 15000 kbit/s of Main Level, 15000 used"}, {}},
      {"average below 50", "", twopass + args{"-b", "1"},
       {"-b 1 on the command line is out of range 50..2147483 kbit/s, 50 used"}, {}},
      {"GOP", "", cq + args{"-gop", "99", "5"},
       {"-gop length 99 on the command line is out of range 1..36 pictures, 36 used",
        "-gop B pictures 5 on the command line is out of range 0..2, 2 used"}, {}},
      {"GOP in the file", "*GOP 40 3\n", cq,
       {"*GOP length 40 in \"<ini>\" is out of range 1..36 pictures, 36 used",
        "*GOP B pictures 3 in \"<ini>\" is out of range 0..2, 2 used"}, {}},
      {"a file value a switch replaces", "*GOP 40 3\n", cq + args{"-gop", "12", "2"}, {}, {"*GOP length"}},
      {"quantiser", "", cq + args{"-cq", "40"}, {"-cq 40 on the command line is out of range 1..31, 31 used"}, {}},
      {"VBV size", "*VBVSIZE 1000000000\n", cq,
       {"*VBVSIZE 1000000000 in \"<ini>\" is above the 1835008-bit VBV buffer of Main Level that the stream "
        "declares: the VBV check holds 1000000000 bits, more than a decoder of the stream is asked to hold"},
       {}},
      {"the program folder's KJ.ini", "*CQ 4\n*CLOSEDGOPS\n*CHAPTER 1\n5\n", twopass,
       {"settings file \"<ini>\" (the program folder's; the front end writes it at every encode) was read with "
        "the switches; in effect from it: *CQ 4, *CLOSEDGOPS, *CHAPTER 1; so this is one pass at a constant "
        "quantiser, not two passes to -b (-ini names another settings file)"},
       {}},
      {"4:3 source, no aspect", "", args{"-i", "sq.avs", "-o", "out.m2v", "-cq", "4", "-log", "run.log"},
       {"the source \"sq.avs\" is a 4:3 picture but no aspect was given: flagged 16:9, the default; "
        "-aspectratio 4:3 flags it 4:3"},
       {}},
      {"4:3 D2V project, no aspect", "", args{"-i", "sq.d2v", "-o", "out.m2v", "-cq", "4", "-log", "run.log"},
       {"the source \"sq.d2v\" is a 4:3 picture but no aspect was given: flagged 16:9, the default; "
        "-aspectratio 4:3 flags it 4:3"},
       {}},
      {"16:9 D2V project", "", args{"-i", "wide.d2v", "-o", "out.m2v", "-cq", "4"}, {}, {"WARNING"}},
      {"4:3 source flagged 4:3", "", args{"-i", "sq.avs", "-o", "out.m2v", "-cq", "4", "-aspectratio", "4:3"}, {},
       {"WARNING"}},
      {"switches alone", "", cq, {}, {"WARNING"}},
  };
  for (const c& k : cases) {
    SCOPED_TRACE(k.what);
    progfolder pf;
    writeclips(pf);
    if (k.run[1].find(".d2v") != std::string::npos) writeprojects(pf);
    if (!k.ini.empty()) pf.write("KJ.ini", k.ini);
    runresult r = pf.ostrel(k.run);
    ASSERT_EQ(r.status, 0) << described(r);
    const std::string log = pf.exists("run.log") ? pf.read("run.log") : "";
    for (std::string w : k.said) {
      for (size_t p; (p = w.find("<ini>")) != std::string::npos;) w.replace(p, 5, pf.path("KJ.ini"));
      EXPECT_NE(r.err.find("ostrel: WARNING, " + w + "\n"), std::string::npos) << w << "\n" << r.err;
      EXPECT_NE(log.find(" WARNING, " + w + "\n"), std::string::npos) << w << "\n" << log;
    }
    for (const std::string& w : k.unsaid) EXPECT_EQ(r.err.find(w), std::string::npos) << r.err;
    std::string why;
    EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  }
}

// A two-pass plan that cannot reach the average (a flat clip needs far less) says so on stderr
// too, not only in the status line.
TEST(advisories, aPlanThatMissesTheAverageIsSaidOnStderr) {
  progfolder pf;
  writeclips(pf);
  runresult r = pf.ostrel(twopass);
  ASSERT_EQ(r.status, 0) << described(r);
  EXPECT_NE(r.err.find("ostrel: WARNING, bitrate set to "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(", different from specified bitrate\n"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find(" WARNING, bitrate set to "), std::string::npos) << r.out;
}

// A settings file the user named (-ini) is meant: what it brings in is not warned of.
TEST(advisories, aSettingsFileNamedByIniIsMeant) {
  progfolder pf;
  writeclips(pf);
  pf.write("mine.ini", "*CQ 4\n*CLOSEDGOPS\n");
  runresult r = pf.ostrel(cq + args{"-ini", "mine.ini"});
  ASSERT_EQ(r.status, 0) << described(r);
  EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
}

// The fixed texts stay; the line after them says which file, what was found, what is taken.
TEST(advisories, startupErrorsSayWhichOnTheirSecondLine) {
  struct c {
    const char* script;  // a.avs ("" none)
    args run;
    std::string first, second;
  } cases[] = {
      {"", {"-i", "none.avs", "-o", "out.m2v", "-cq", "4"}, "can't find input file",
       "input \"none.avs\" does not exist (names are taken from the folder <dir>); a script (.avs) or a D2V "
       "project (.d2v) is taken"},
      {"BlankClip(length=8, width=352, height=288, fps=10)\n", {"-i", "a.avs", "-o", "out.m2v", "-cq", "4"},
       "invalid MPEG2 framerate",
       "the source \"a.avs\" gives 10/1 = 10.000 frames a second; MPEG-2 takes 23.976, 24, 25, 29.97, 30, 50, "
       "59.94 or 60 (within 0.01): FFVideoSource(\"file\", fpsnum=25, fpsden=1) gives 25, fpsnum=30000, "
       "fpsden=1001 gives 29.97"},
      {"", {"-i", "a.avs", "-b", "5000"},
       "input not complete, required input: input file, output file, bitrate, maxbitrate",
       "missing for two passes: output file (-o or *OUTFILE), maxbitrate (-maxbitrate or *MAXBITRATE) "
       "(ostrel -h lists the switches)"},
      {"", {"-o", "out.m2v", "-cq", "4"}, "input not complete, required input: input file, output file",
       "missing for one pass at a constant quantiser: input file (-i or *INFILE) (ostrel -h lists the switches)"},
      {"", {"-i", "a.avs", "-o", "out.m2v", "-cq_maxbitrate", "4"},
       "input not complete, required input: input file, output file, maxbitrate",
       "missing for one pass at a constant quantiser under a maximum bitrate: maxbitrate (-maxbitrate or "
       "*MAXBITRATE) (ostrel -h lists the switches)"},
  };
  for (const c& k : cases) {
    SCOPED_TRACE(k.first);
    progfolder pf;
    if (*k.script) pf.write("a.avs", k.script);
    runresult r = pf.ostrel(k.run);
    EXPECT_EQ(r.status, 1) << described(r);
    std::string second = k.second;
    if (size_t p = second.find("<dir>"); p != std::string::npos) second.replace(p, 5, pf.dir());
    EXPECT_NE(r.err.find("ostrel: ERROR, " + k.first + "\nostrel: " + second + "\n"), std::string::npos) << r.err;
  }
}

// -h, --help: the usage on stdout, every switch on a line of its own, a PAL and an NTSC run;
// --version the release. Nothing is encoded, no settings file is read, the status is 0.
TEST(advisories, helpAndVersion) {
  progfolder pf;
  pf.write("KJ.ini", "*INFILE none.avs\n*OUTFILE out.m2v\n*CQ 4\n");
  for (const char* word : {"-h", "--help", "-H"}) {
    SCOPED_TRACE(word);
    runresult r = pf.ostrel({word});
    EXPECT_EQ(r.status, 0) << described(r);
    EXPECT_EQ(r.err, "");
    for (const char* sw : {"-i", "-o", "-log", "-ini", "-b", "-maxbitrate", "-aspectratio", "-gop", "-profile",
                           "-scene, -noscene", "-interlaced", "-nointerlaced", "-tff, -bff", "-pulldown", "-matrix",
                           "-bias", "-dc_prec", "-frames", "-chapter", "-cq", "-cq_maxbitrate", "-cq_pfactor",
                           "-cq_bfactor"})
      EXPECT_NE(r.out.find(std::string("\n  ") + sw + " "), std::string::npos) << sw;
    EXPECT_NE(r.out.find("-b KBITS              average bitrate of a two-pass run, kbit/s"), std::string::npos);
    EXPECT_NE(r.out.find("A PAL DVD (720x576 at 25 frames/s"), std::string::npos);
    EXPECT_NE(r.out.find("An NTSC DVD (720x480 at 29.97 frames/s"), std::string::npos);
  }
  runresult v = pf.ostrel({"--version"});
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, "Ostrel 0.21 (file version 0.21.0.0)\n");
  // A switch's value is never a request for help: "-o -h" names the output "-h".
  runresult o = pf.ostrel({"-i", "a.avs", "-o", "-h", "-cq", "4"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("can't find input file"), std::string::npos) << o.err;
  EXPECT_FALSE(pf.exists("out.m2v"));
}
