// The same run with 1, 2, 3 and 8 coding threads (OSTREL_THREADS) gives the same stream, byte
// for byte, and the same scene-change list and log warnings, from outside: one pass and two
// passes at each speed profile, interlaced, pulldown, a 1080-line picture with a mask (lines
// the source never delivers), scene cuts with their list, the finest quantiser with 11-bit DC,
// the MMX level, and runs held under a maximum bitrate (two passes, and a constant quantiser;
// in-process tests count their GOPs coded again: tests/threads/passes_test).
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

// The sanitizer build runs a few light rows at 1 and 3 threads (the whole table is heavy there).
constexpr bool sanitized = sanitizerbuild;

struct runcase {
  const char* name;
  const char* script;
  const char* ini;  // KJ.ini, or empty
  std::vector<std::string> args;
  bool light;  // also in the sanitizer build
};

// A textured picture that pans with a moving box, then a hard cut: every row has detail and
// the motion search walks.
const char* clip = "TestPattern(length=30, width=352, height=288, fps=25, cut=17)";
const char* small = "TestPattern(length=12, width=176, height=144, fps=25, cut=7)";

const runcase cases[] = {
    {"one pass, fast", clip, "", {"-cq", "4", "-profile", "fast", "-gop", "12", "2"}, false},
    {"one pass, normal", clip, "", {"-cq", "4", "-profile", "normal", "-gop", "12", "2"}, false},
    {"one pass, best", clip, "", {"-cq", "4", "-profile", "best", "-gop", "12", "2"}, false},
    {"two passes, fast", clip, "", {"-b", "2500", "-maxbitrate", "8000", "-profile", "fast"}, false},
    {"two passes, normal", clip, "", {"-b", "2500", "-maxbitrate", "8000", "-profile", "normal"},
     false},
    {"two passes, best", clip, "", {"-b", "2500", "-maxbitrate", "8000", "-profile", "best"}, false},
    {"interlaced", clip, "", {"-cq", "5", "-interlaced", "-gop", "12", "2"}, false},
    {"pulldown",
     "TestPattern(length=16, width=720, height=480, fps=24000, fps_denominator=1001)", "",
     {"-cq", "4", "-pulldown"}, false},
    // Lines below the source (coded 1088, and 256 for an interlaced 240) shifted into by the
    // mask, with more frames than ring entries: each entry keeps its own such lines.
    {"1080 lines with a mask", "TestPattern(length=12, width=1920, height=1080, fps=25)",
     "*MASK_SHIFT 8 0 -4\n", {"-cq", "8", "-gop", "2", "1", "-maxbitrate", "80000"}, false},
    {"interlaced 240 lines with a mask",
     "TestPattern(length=30, width=352, height=240, fps=30000, fps_denominator=1001)",
     "*MASK_SHIFT 8 0 -4\n", {"-cq", "4", "-interlaced", "-gop", "3", "1"}, true},
    {"scene cuts and their list", "TestPattern(length=60, width=176, height=144, fps=25, cut=25)",
     "*SCDFILE\n", {"-cq", "3", "-scene"}, false},
    {"finest quantiser, 11-bit DC", clip, "", {"-cq", "1", "-dc_prec", "11", "-profile", "best"},
     false},
    {"MMX level", clip, "*CPU MMX\n", {"-cq", "4", "-gop", "12", "2"}, false},
    {"two passes tight under the maximum", "TestPattern(length=40, width=720, height=576, fps=25, cut=20)",
     "", {"-b", "6000", "-maxbitrate", "6300", "-gop", "12", "2"}, false},
    {"constant quantiser under a maximum", clip, "", {"-cq_maxbitrate", "2", "-maxbitrate", "2500"},
     false},
    {"light: constant quantiser under a maximum", small, "",
     {"-cq_maxbitrate", "2", "-maxbitrate", "1000"}, true},
    {"light: one pass", small, "", {"-cq", "4", "-gop", "6", "2"}, true},
    {"light: two passes", small, "", {"-b", "1500", "-maxbitrate", "8000", "-profile", "best"}, true},
    {"light: interlaced", small, "", {"-cq", "4", "-interlaced", "-profile", "fast"}, true},
};

// Test names and messages show the row's name.
void PrintTo(const runcase& c, std::ostream* os) { *os << c.name; }

// The log's warning and error lines.
std::vector<std::string> complaints(const std::string& log) {
  std::vector<std::string> out;
  size_t at = 0;
  while (at < log.size()) {
    size_t end = log.find('\n', at);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(at, end - at);
    if (line.find("WARNING") != std::string::npos || line.find("ERROR") != std::string::npos)
      out.push_back(line);
    at = end + 1;
  }
  return out;
}

}  // namespace

class threadstreams : public ::testing::TestWithParam<runcase> {};

TEST_P(threadstreams, everythreadcountgivesthesamebytes) {
  const std::vector<int> threads = sanitized ? std::vector<int>{1, 3} : std::vector<int>{1, 2, 3, 8};
  const runcase& c = GetParam();
  if (sanitized && !c.light) GTEST_SKIP() << "heavy under the sanitizers; the light rows run here";
  {
    progfolder pf;
    pf.write("clip.avs", std::string(c.script) + "\n");
    if (*c.ini) pf.write("KJ.ini", c.ini);
    std::string stream1, list1;
    std::vector<std::string> complaints1;
    for (int t : threads) {
      const std::string out = "out" + std::to_string(t);
      std::vector<std::string> a = {"-i", "clip.avs", "-o", out + ".m2v", "-log", out + ".log"};
      a.insert(a.end(), c.args.begin(), c.args.end());
      const runresult r = pf.ostrel(a, {"OSTREL_THREADS=" + std::to_string(t)});
      ASSERT_EQ(r.status, 0) << t << " threads\n" << r.out << r.err;
      const std::string stream = pf.read(out + ".m2v");
      const std::string list = pf.exists(out + "_scd.txt") ? pf.read(out + "_scd.txt") : "";
      const std::vector<std::string> said = complaints(pf.read(out + ".log"));
      if (t == 1) {
        stream1 = stream;
        list1 = list;
        complaints1 = said;
        ASSERT_FALSE(stream.empty());
        std::string why;
        EXPECT_TRUE(decodesclean(pf.path(out + ".m2v"), &why)) << why;
        if (std::string(c.ini).find("SCDFILE") != std::string::npos) {
          EXPECT_FALSE(list.empty());
        }
        continue;
      }
      EXPECT_TRUE(stream == stream1) << t << " threads: the stream differs ("
                                     << stream.size() << " bytes against " << stream1.size() << ")";
      EXPECT_EQ(list, list1) << t << " threads";
      EXPECT_EQ(said, complaints1) << t << " threads";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(runs, threadstreams, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<runcase>& i) {
                           std::string n;
                           for (const char* p = i.param.name; *p; ++p)
                             if (std::isalnum(static_cast<unsigned char>(*p))) n += *p;
                           return n;
                         });
