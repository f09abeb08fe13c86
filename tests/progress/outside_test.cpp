// The encoder from outside: the log of "ostrel -i clip.avs -o out.m2v -cq 4 -log run.log" on a
// script of our frame server, run headless in a program folder of its own, and the window of
// such a run under a virtual display.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/progress/logtext.h"
#include "tests/support/blackbox.h"

namespace {

// What the stream's headers say: pictures by picture_coding_type (1 I, 2 P, 3 B), the GOP
// headers, and the last GOP's pictures, B pictures, closed_gop flag and B count (its longest
// run of B pictures in coding order: the B pictures between two references).
struct streamcounts {
  int types[4] = {0, 0, 0, 0};
  int gops = 0;
  int lastgop = 0, lastb = 0, lastclosed = -1, lastnb = 0;
};

streamcounts countstream(const std::string& s) {
  streamcounts c;
  int run = 0;
  for (size_t i = 0; i + 8 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const unsigned char code = static_cast<unsigned char>(s[i + 3]);
    if (code == 0x00) {
      const int type = (static_cast<unsigned char>(s[i + 5]) >> 3) & 7;
      if (type >= 1 && type <= 3) c.types[type]++;
      run = type == 3 ? run + 1 : 0;
      c.lastnb = std::max(c.lastnb, run);
      if (type == 3) ++c.lastb;
      ++c.lastgop;
    }
    if (code == 0xB8) {
      ++c.gops;
      c.lastgop = c.lastb = c.lastnb = run = 0;
      c.lastclosed = (static_cast<unsigned char>(s[i + 7]) >> 6) & 1;
    }
  }
  return c;
}

}  // namespace

// A 500-frame clip: the title box opens the log, the source block gives the clip's figures,
// the statistics block the stream's (picture and GOP counts, size), with the minimum, average
// and maximum bitrate in order.
TEST(outside, logofa500frameclip) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=500, width=176, height=144, fps=25)\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-log", "run.log"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::vector<std::string> l = linesof(pf.read("run.log"));
  ASSERT_GE(l.size(), 3u);
  EXPECT_EQ(l[0], " +------------------------------------------+");
  EXPECT_EQ(l[1], " |  Ostrel 0.21, MPEG-2 video encoder       |");
  EXPECT_EQ(l[2], " +------------------------------------------+");
  EXPECT_EQ(l[1].size(), l[0].size()) << "the identification box's sides line up";
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
  const std::string m2v = pf.read("out.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  const streamcounts c = countstream(m2v);
  EXPECT_EQ(c.types[1] + c.types[2] + c.types[3], 500);
  EXPECT_GT(c.types[3], 0);  // the settings' two B pictures between references
  const std::vector<std::string> st = blockat(l, "              | encoding stats |", 40);
  ASSERT_EQ(st.size(), 37u);
  EXPECT_EQ(figure(st, "nr. of gops:                "), c.gops);
  EXPECT_EQ(figure(st, "nr. of frames:              "), 500);
  EXPECT_EQ(figure(st, "nr. of I-frames:            "), c.types[1]);
  EXPECT_EQ(figure(st, "nr. of P-frames:            "), c.types[2]);
  EXPECT_EQ(figure(st, "nr. of B-frames:            "), c.types[3]);
  const long long lo = figure(st, "minimum bitrate:            ");
  const long long avg = figure(st, "average bitrate:            ");
  const long long hi = figure(st, "maximum bitrate:            ");
  EXPECT_GT(lo, 0);
  EXPECT_LE(lo, avg);
  EXPECT_LE(avg, hi);
  // 20 seconds of stream: the average is its size over its duration, within rounding (the
  // headers are not in the GOPs' bits).
  EXPECT_NEAR(double(avg), double(m2v.size()) * 8 / 20 / 1000, 0.02 * avg);
  EXPECT_EQ(figure(st, "bytes in bitstream:         "), (long long)m2v.size());
  EXPECT_EQ(figure(st, "bits in bitstream:          "), 8 * (long long)m2v.size());
  EXPECT_EQ(st[st.size() - 3], "average Quantizer:             4.000");
  const std::vector<std::string> pass = blockat(l, "              | encoding - pass 1 |", 5);
  ASSERT_EQ(pass.size(), 5u);
  EXPECT_EQ(pass[3].rfind("pass1 encoding time:            ", 0), 0u) << pass[3];
}

namespace {

// A 176x144 clip at 25 frame/s: a still gradient up to frame `noise`, then seeded random
// samples in every frame (about 11 Mbit/s at quantiser 2).
void writenoiseclip(const std::string& path, int frames, int noise, unsigned seed) {
  const int w = 176, h = 144;
  std::mt19937 rng(seed);
  std::string y = "YUV4MPEG2 W176 H144 F25:1 Ip A1:1 C420jpeg\n";
  for (int f = 0; f < frames; ++f) {
    y += "FRAME\n";
    for (int plane = 0; plane < 3; ++plane) {
      const int pw = plane ? w / 2 : w, ph = plane ? h / 2 : h;
      for (int yy = 0; yy < ph; ++yy)
        for (int x = 0; x < pw; ++x)
          y += char(f >= noise ? 16 + rng() % 224 : plane ? 128 : 40 + (x + yy) / 4);
    }
  }
  writefile(path, y);
}

// The lines of a text that hold " WARNING, ".
std::vector<std::string> warnings(const std::string& text) {
  std::vector<std::string> v;
  for (const std::string& l : linesof(text))
    if (l.find("WARNING, ") != std::string::npos) v.push_back(l);
  return v;
}

}  // namespace

// A constant-quantiser run codes at its quantiser whatever the rate, under headers that declare
// the maximum bitrate. When GOPs ran above it, the end of the run says so in one " WARNING, "
// line (log, status, stderr): how many GOPs, the declared maximum, the highest GOP rate (the
// log's maximum bitrate), and that "-cq_maxbitrate" holds the maximum; the run ends with exit
// status 6, the stream kept. A clip that is calm for
// 15 frames and then noise, at quantiser 2: the GOPs from the cut at 15 on run at about 11
// Mbit/s, above the 8 Mbit/s the stream declares by default, the calm one far below. No warning
// when the declared maximum is above every GOP ("-maxbitrate 40000"), nor on a calm clip at
// quantiser 12.
TEST(outside, constantquantiserwarnsaboveitsmaximum) {
  struct c {
    const char* name;
    const char* script;  // nullptr: the noise clip
    std::vector<std::string> extra;
    bool warned;
  } cases[] = {
      {"detailed at -cq 2", nullptr, {"-cq", "2"}, true},
      // 15000 kbit/s: the most Main Level declares (a higher maximum is brought down to it).
      {"detailed at -cq 2 under a higher maximum", nullptr,
       {"-cq", "2", "-maxbitrate", "15000"}, false},
      {"calm at -cq 12", "TestPattern(length=40, width=176, height=144, fps=25)\n",
       {"-cq", "12"}, false},
  };
  for (const c& t : cases) {
    SCOPED_TRACE(t.name);
    progfolder pf;
    if (t.script) {
      pf.write("clip.avs", t.script);
    } else {
      writenoiseclip(pf.path("noise.y4m"), 40, 15, 20261211);
      pf.write("clip.avs", "Y4MSource(\"noise.y4m\")\n");
    }
    std::vector<std::string> a = {"-i", "clip.avs", "-o", "out.m2v", "-log", "run.log"};
    a.insert(a.end(), t.extra.begin(), t.extra.end());
    runresult r = pf.ostrel(a);
    // GOPs above the declared rate make the run end with status 6, the stream kept.
    ASSERT_EQ(r.status, t.warned ? 6 : 0) << r.out << r.err;
    std::string why;
    ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
    const std::string log = pf.read("run.log");
    const std::vector<std::string> inlog = warnings(log);
    if (!t.warned) {
      EXPECT_EQ(inlog, std::vector<std::string>{});
      EXPECT_EQ(warnings(r.out + r.err), std::vector<std::string>{});
      continue;
    }
    // GOPs from frame 15 on, each a GOP of noise.
    int gops = 0, noisy = 0, frame = 0;
    const std::string s = pf.read("out.m2v");
    for (size_t i = 0; i + 8 < s.size(); ++i) {
      if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
      if (static_cast<unsigned char>(s[i + 3]) == 0xB8) {
        ++gops;
        noisy += frame >= 15;
      }
      frame += s[i + 3] == 0;
    }
    const long long highest = figure(linesof(log), "maximum bitrate:            ");
    EXPECT_GT(highest, 8000);
    const std::string want = " WARNING, " + std::to_string(noisy) + " of " +
                             std::to_string(gops) +
                             " GOPs above the maximum bitrate the stream declares (8000 Kb/s), "
                             "the highest at " + std::to_string(highest) +
                             " Kb/s; -cq_maxbitrate holds the maximum";
    EXPECT_GT(noisy, 0);
    EXPECT_LT(noisy, gops);
    EXPECT_EQ(inlog, std::vector<std::string>{want});
    EXPECT_EQ(linesof(log).back(), want) << "the warning ends the log";
    EXPECT_EQ(warnings(r.out), std::vector<std::string>{want}) << "the status line";
    EXPECT_EQ(warnings(r.err), std::vector<std::string>{"ostrel:" + want}) << "stderr";
  }
}

#ifdef OSTREL_WINDOWTEST
namespace {

bool haveprogram(const std::string& name) {
  return runcommand({"sh", "-c", "command -v " + name}, "", {}, 20).status == 0;
}

// The rows ("ID kind=... text=T") or the widgets ("widget ID ... shows=T") of a window dump.
std::map<int, std::string> dumped(const std::string& dump, bool widgets) {
  std::map<int, std::string> m;
  for (const std::string& l : linesof(dump)) {
    const bool widget = l.rfind("widget ", 0) == 0;
    if (widget != widgets) continue;
    std::istringstream f(widget ? l.substr(7) : l);
    int id = 0;
    if (f >> id) m[id] = l;
  }
  return m;
}

std::string after(const std::string& line, const std::string& key) {
  size_t at = line.find(key);
  return at == std::string::npos ? "(no " + key + ")" : line.substr(at + key.size());
}

}  // namespace

// In a real window (a virtual display): the statistics area shows the texts of the last GOP,
// both in the control table and in the widgets that draw it, when the run has ended.
TEST(outside, realwindowshowsthelastgop) {
  if (!haveprogram("xvfb-run")) GTEST_SKIP() << "no xvfb-run";
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=40, width=176, height=144, fps=25)\n");
  const std::string lsan = std::string("LSAN_OPTIONS=") +
                           (std::getenv("LSAN_OPTIONS") ? std::getenv("LSAN_OPTIONS") + std::string(":") : "") +
                           "suppressions=" OSTREL_LSANSUPP;
  runresult r = runcommand(
      {"xvfb-run", "-a", "-n", std::to_string(300 + getpid() % 600), "-s", "-screen 0 800x600x24",
       pf.path("ostrel"), "-i", "clip.avs", "-o", "out.m2v", "-cq", "4"},
      pf.dir(),
      {"OSTREL_HEADLESS=0", "OSTREL_TIMESCALE=0", "OSTREL_WINDOW_DUMP=" + pf.path("dump"), lsan},
      180);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string dump = pf.read("dump.txt");
  auto rows = dumped(dump, false), widgets = dumped(dump, true);
  const streamcounts c = countstream(pf.read("out.m2v"));
  ASSERT_GT(c.lastgop, 0);
  ASSERT_EQ(c.types[1] + c.types[2] + c.types[3], 40);
  const std::pair<int, std::string> want[] = {
      {1013, "CQ"},
      {1059, "40  frames"},
      {1028, "40"},
      {1029, std::to_string(c.types[1])},
      {1030, std::to_string(c.types[2])},
      {1031, std::to_string(c.types[3])},
      {1062, std::to_string(c.lastgop)},
      {1063, c.lastb == 0 ? std::string("-") : std::to_string(c.lastnb)},
      {1064, c.lastclosed == 1 ? "closed" : "open"},
      {1065, "100%"},
      {1076, "Q:   I 4.00   P 4.00   B 4.00"},
  };
  for (const auto& [id, t] : want) {
    EXPECT_EQ(after(rows[id], "text="), t) << rows[id];
    EXPECT_EQ(after(widgets[id], "shows="), t) << widgets[id];
  }
  EXPECT_NE(rows[1008].find("value=100 "), std::string::npos) << rows[1008];
  for (int id : {1014, 1015, 1016, 1017, 1019, 1020, 1021, 1060})
    EXPECT_NE(after(rows[id], "text="), "-") << rows[id];
}
#endif
