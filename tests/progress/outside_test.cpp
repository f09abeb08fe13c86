// The encoder from outside: the log of "ostrel -i clip.avs -o out.m2v -cq 4 -log run.log" on a
// script of our frame server, run headless in a program folder of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

std::vector<std::string> linesof(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

std::vector<std::string> blockat(const std::vector<std::string>& log, const std::string& first,
                                 size_t count) {
  auto it = std::find(log.begin(), log.end(), first);
  if (it == log.end()) return {};
  auto end = log.end() - it > long(count) ? it + long(count) : log.end();
  return std::vector<std::string>(it, end);
}

}  // namespace

// A 500-frame clip: the title box opens the log and the source block gives the clip's figures.
TEST(outside, sourceblockofa500frameclip) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=500, width=176, height=144, fps=25)\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-log", "run.log"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> l = linesof(pf.read("run.log"));
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l[0], " +------------------------------------------+");
  EXPECT_EQ(l[1], " |  Ostrel 0.21, MPEG-2 video encoder        |");
  EXPECT_EQ(l[2], " +------------------------------------------+");
  EXPECT_EQ(l[3], "");
  EXPECT_EQ(l[4], "MPEG profile@level:   MP@ML");
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
}
