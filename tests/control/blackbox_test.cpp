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
}  // namespace

TEST(shell, runendswiththecountdownandstatus0) {
  progfolder pf;
  runresult r = pf.ostrel({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  auto l = linesof(r.out);
  ASSERT_GE(l.size(), 5u) << r.out;
  std::vector<std::string> tail(l.end() - 5, l.end());
  EXPECT_EQ(tail, std::vector<std::string>({" ( 5) encoding finished...", " ( 4) encoding finished...",
                                            " ( 3) encoding finished...", " ( 2) encoding finished...",
                                            " ( 1) encoding finished..."}));
}

TEST(shell, startuperrorshowsninetimesandendsnonzero) {
  progfolder pf;
  runresult r = pf.ostrel({}, {"OSTREL_STANDIN_CODE=258"});
  EXPECT_NE(r.status, 0);
  const std::string text = "input not complete, required input: input file, output file, bitrate, maxbitrate";
  std::vector<std::string> want;
  for (int d = 9; d >= 1; d--) want.push_back(" (" + std::to_string(d) + ") ERROR, " + text);
  EXPECT_EQ(linesof(r.out), want);
  EXPECT_EQ(r.err, "ostrel: ERROR, " + text + "\n");
}

TEST(shell, silentinthesettingsfileprintsnothing) {
  progfolder pf;
  pf.write("KJ.ini", "*INFILE x.avs\n*SILENT\n");
  runresult r = pf.ostrel({});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  r = pf.ostrel({}, {"OSTREL_STANDIN_CODE=259"});
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "ostrel: ERROR, can't find input file\n");
}

TEST(shell, anerrorduringtheruncountsdownterminatedandendsnonzero) {
  progfolder pf;
  runresult r = pf.ostrel({}, {"OSTREL_STANDIN_SCRIPT=1", "OSTREL_STANDIN_REOPEN=2"});
  EXPECT_NE(r.status, 0);
  auto l = linesof(r.out);
  ASSERT_FALSE(l.empty());
  EXPECT_EQ(l.back(), " ( 1) encoding terminated on error...");
}
