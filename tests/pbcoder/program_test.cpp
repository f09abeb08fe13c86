// The encoder program codes full GOPs of I, P and B pictures: the GOP switch's length and B
// count (as the fixed-GOP decision shares out the frames) give the picture types ffprobe
// reports, the streams decode cleanly, and the processor level that "*CPU" forces does not
// change a byte.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {

const char clipscript[] = "TestPattern(length=14, width=352, height=288, fps=25)\n";

std::string picturetypes(const std::string& m2v) {
  runresult r = runcommand({"ffprobe", "-v", "error", "-show_frames", m2v});
  std::string types;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("pict_type=", 0) == 0) types += line.substr(10);
  return types;
}

}  // namespace

TEST(program, gopswitchgivesipandbpictures) {
  struct c {
    const char* gop[2];
    const char* types;  // display order
  } cases[] = {
      {{"12", "2"}, "IBPBBPBBPBBIBP"},  // GOPs of 9 and 5, the second open: B B I B P
      {{"3", "2"}, "IBPBBIBBIBBIBI"},
      {{"2", "1"}, "IPBIBIBIBIBIBI"},
      {{"5", "0"}, "IPPPPIPPPPIPPP"},
  };
  for (const c& t : cases) {
    SCOPED_TRACE(t.gop[0] + std::string(" ") + t.gop[1]);
    progfolder pf;
    pf.write("clip.avs", clipscript);
    // Scene detection off: it takes this clip's second and last frames for cuts.
    runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-gop", t.gop[0],
                             t.gop[1], "-profile", "best", "-noscene"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string why;
    ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
    EXPECT_EQ(picturetypes(pf.path("out.m2v")), t.types);
  }
}

TEST(program, everyforcedprocessorlevelgivesthesamestream) {
  const char* levels[] = {"MMX", "SSE2", "SSE3", "SSSE3"};
  std::string first;
  for (int level = 1; level <= hostlevel(); ++level) {
    SCOPED_TRACE(levels[level - 1]);
    progfolder pf;
    pf.write("clip.avs", clipscript);
    pf.write("KJ.ini", std::string("*CPU ") + levels[level - 1] + "\n");
    runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "5", "-gop", "6", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string s = pf.read("out.m2v");
    ASSERT_FALSE(s.empty());
    if (level == 1) first = s;
    else EXPECT_TRUE(s == first);
  }
}
