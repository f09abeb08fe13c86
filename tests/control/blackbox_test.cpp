// The encoder program from outside: status lines on stdout, errors on stderr, exit status.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "tests/support/blackbox.h"

namespace {
std::vector<std::string> linesof(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream s(text);
  for (std::string l; std::getline(s, l);) v.push_back(l);
  return v;
}

// A short clip of our frame server, coded at a constant quantiser in one pass.
const char* clipscript = "BlankClip(length=10, width=64, height=64, fps=25)\n";
const std::vector<std::string> cqrun = {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"};
}  // namespace

TEST(shell, runendswiththecountdownandstatus0) {
  progfolder pf;
  pf.write("clip.avs", clipscript);
  runresult r = pf.ostrel(cqrun);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto l = linesof(r.out);
  ASSERT_GE(l.size(), 5u) << r.out;
  std::vector<std::string> tail(l.end() - 5, l.end());
  EXPECT_EQ(tail, std::vector<std::string>({" ( 5) encoding finished...", " ( 4) encoding finished...",
                                            " ( 3) encoding finished...", " ( 2) encoding finished...",
                                            " ( 1) encoding finished..."}));
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
}

TEST(shell, startuperrorshowsninetimesandendsnonzero) {
  progfolder pf;
  runresult r = pf.ostrel({});  // no inputs at all
  EXPECT_NE(r.status, 0);
  const std::string text = "input not complete, required input: input file, output file, bitrate, maxbitrate";
  // What is missing follows the fixed text on stderr, and is shown before its countdown.
  const std::string missing =
      "missing for two passes: input file (-i or *INFILE), output file (-o or *OUTFILE), bitrate (-b or "
      "*BITRATE), maxbitrate (-maxbitrate or *MAXBITRATE) (ostrel -h lists the switches)";
  std::vector<std::string> want{"ERROR, " + missing};
  for (int d = 9; d >= 1; d--) want.push_back(" (" + std::to_string(d) + ") ERROR, " + text);
  EXPECT_EQ(linesof(r.out), want);
  EXPECT_EQ(r.err, "ostrel: ERROR, " + text + "\nostrel: " + missing + "\n");
}

TEST(shell, silentinthesettingsfileprintsnothing) {
  progfolder pf;
  pf.write("clip.avs", clipscript);
  pf.write("KJ.ini", "*INFILE clip.avs\n*OUTFILE out.m2v\n*CQ 4\n*SILENT\n");
  runresult r = pf.ostrel({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  r = pf.ostrel({"-i", "missing.avs"});  // the switch overrides the file's *INFILE
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  // The file's settings that still count with the switch are said, and which file is missing.
  EXPECT_EQ(r.err, "ostrel: WARNING, settings file \"" + pf.path("KJ.ini") +
                       "\" (the program folder's; the front end writes it at every encode) was read with the "
                       "switches; in effect from it: *OUTFILE out.m2v, *CQ 4; so this is one pass at a constant "
                       "quantiser (-ini names another settings file)\n"
                       "ostrel: ERROR, can't find input file\n"
                       "ostrel: input \"missing.avs\" does not exist (names are taken from the folder " +
                       pf.dir() + "); a script (.avs) or a D2V project (.d2v) is taken\n");
}

// Every write of the stream fails (the device is always full): the run ends on the error.
TEST(shell, anerrorduringtheruncountsdownterminatedandendsnonzero) {
  progfolder pf;
  pf.write("clip.avs", clipscript);
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "/dev/full", "-cq", "4"});
  EXPECT_EQ(r.status, 2) << r.err;  // a run error, not a failed start-up
  EXPECT_EQ(r.err, "ostrel: ERROR, can't write to output file, aborting... (\"/dev/full\": No space left on device)\n");
  auto l = linesof(r.out);
  ASSERT_FALSE(l.empty());
  EXPECT_EQ(l.back(), " ( 1) encoding terminated on error...");
}
