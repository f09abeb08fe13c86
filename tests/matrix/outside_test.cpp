// The per-GOP matrices from outside: "ostrel -i clip.avs -o out.m2v -cq 4" run headless in a
// program folder of its own, with "*LUMGAIN" or "*ADAPTIVEMATRIX" in KJ.ini and a user's
// plug-in copied in as matrix.dll. The sequence headers of the stream are read back: while the
// matrices adapt, every GOP's sequence header carries both, as that GOP was coded with them.
#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/safety/safety.h"
#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {

// The raster position of each zigzag position (ISO/IEC 13818-2 Figure 7-2).
constexpr int zigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                            12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                            35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                            58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// One GOP of the stream: the display number of its first frame, its picture types in coding
// order, and the matrices its sequence header loads (empty when it loads none).
struct gopseen {
  int first = 0;
  std::string types;
  std::vector<int> intra, nonintra;  // raster order
  int bcount() const {  // the longest run of B pictures: the B count it was coded with
    int best = 0, run = 0;
    for (char c : types) best = std::max(best, run = c == 'B' ? run + 1 : 0);
    return best;
  }
};

std::vector<gopseen> readgops(const std::string& m2v) {
  const std::string s = readfile(m2v);
  auto byte = [&s](size_t i) { return i < s.size() ? static_cast<unsigned char>(s[i]) : 0u; };
  std::vector<gopseen> gops;
  int pictures = 0;
  for (size_t i = 0; i + 8 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const unsigned code = byte(i + 3);
    if (code == 0xB3) {
      // 62 bits of sizes, rates and flags, then the two optional matrices in zigzag order.
      size_t bit = 8 * (i + 4) + 62;
      auto get = [&](int n) {
        unsigned v = 0;
        for (int k = 0; k < n; ++k, ++bit) v = (v << 1) | ((byte(bit / 8) >> (7 - bit % 8)) & 1);
        return int(v);
      };
      gopseen g;
      g.first = pictures;
      for (std::vector<int>* m : {&g.intra, &g.nonintra})
        if (get(1)) {
          m->assign(64, 0);
          for (int k = 0; k < 64; ++k) (*m)[zigzag[k]] = get(8);
        }
      gops.push_back(g);
    } else if (code == 0x00) {
      ++pictures;
      if (!gops.empty()) gops.back().types += " IPB"[(byte(i + 5) >> 3) & 3];
    }
  }
  return gops;
}

// The GOP headers of the stream, counted on their own.
int gopheaders(const std::string& m2v) {
  const std::string s = readfile(m2v);
  int n = 0;
  for (size_t i = 0; i + 3 < s.size(); ++i)
    n += s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1 && static_cast<unsigned char>(s[i + 3]) == 0xB8;
  return n;
}

// The MPEG-2 default intra matrix (the intra matrix of the built-in pairs MPEG and MPEGSTD).
const std::vector<int> standardintra = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

// A 4:2:0 YUV4MPEG2 clip of 176x144 at 25 frames a second: `still` black frames (luma 16), then
// `noisy` frames of seeded random noise, every one unlike the one before.
void writestillthennoise(const std::string& path, int still, int noisy) {
  const int w = 176, h = 144;
  const unsigned seed = 20261224;
  std::printf("noise seed %u\n", seed);
  std::mt19937 rng(seed);
  std::string y = "YUV4MPEG2 W176 H144 F25:1 Ip A1:1 C420jpeg\n";
  for (int f = 0; f < still + noisy; ++f) {
    y += "FRAME\n";
    for (int plane = 0; plane < 3; ++plane) {
      const int samples = plane ? w * h / 4 : w * h;
      for (int k = 0; k < samples; ++k)
        y += char(f < still ? (plane ? 128 : 16) : int(16 + rng() % 224));
    }
  }
  writefile(path, y);
}

// One call of the logging plug-in: class, mean luma, then intra[0], intra[1], intra[63],
// nonintra[0], nonintra[63] as they came in.
struct callseen {
  int cls, luma, i0, i1, i63, n0, n63;
  bool operator==(const callseen&) const = default;
};

std::vector<callseen> readcalls(const progfolder& pf) {
  std::vector<callseen> v;
  if (!pf.exists("matrixcalls.txt")) return v;
  std::istringstream in(pf.read("matrixcalls.txt"));
  callseen c;
  while (in >> c.cls >> c.luma >> c.i0 >> c.i1 >> c.i63 >> c.n0 >> c.n63) v.push_back(c);
  return v;
}

bool haslogline(const std::string& log, const std::string& line) {
  std::istringstream in(log);
  for (std::string l; std::getline(in, l);)
    if (l == line) return true;
  return false;
}

}  // namespace

// "*LUMGAIN 4" with the standard pair ("-matrix mpegstd", which alone loads neither matrix):
// a black clip (luma 16, gain 0.50) codes with the intra matrix halved, halves rounded up
// (8 8 10 11 13 14 15 17 ... 42), and the non-intra matrix 8 everywhere; a bright clip (luma
// 235, gain 1.00) keeps the standard pair; both are loaded in every sequence header. The log
// says the matrices were adapted instead of printing them.
TEST(matrixoutside, luminancegainintheheaders) {
  std::vector<int> halved(64);
  for (int i = 0; i < 64; ++i) halved[i] = i == 0 ? 8 : (standardintra[i] + 1) / 2;
  struct c {
    const char* what;
    const char* colour;
    std::vector<int> intra, nonintra;
  } cases[] = {
      {"black", "$108080", halved, std::vector<int>(64, 8)},
      {"bright", "$EB8080", standardintra, std::vector<int>(64, 16)},
  };
  EXPECT_EQ(std::vector<int>(halved.begin(), halved.begin() + 8),
            (std::vector<int>{8, 8, 10, 11, 13, 14, 15, 17}));
  EXPECT_EQ(halved[63], 42);
  for (const c& t : cases) {
    progfolder pf;
    pf.write("clip.avs", std::string("BlankClip(length=20, width=176, height=144, fps=25, color_yuv=") +
                             t.colour + ")\n");
    pf.write("KJ.ini", "*LUMGAIN 4\n");
    runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-matrix", "mpegstd",
                             "-log", "out.log"});
    ASSERT_EQ(r.status, 0) << t.what << "\n" << described(r);
    std::string why;
    ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << t.what << ": " << why;
    const std::vector<gopseen> gops = readgops(pf.path("out.m2v"));
    ASSERT_GE(gops.size(), 2u) << t.what;
    EXPECT_EQ(int(gops.size()), gopheaders(pf.path("out.m2v"))) << t.what;
    for (const gopseen& g : gops) {
      EXPECT_EQ(g.intra, t.intra) << t.what << ", GOP at frame " << g.first;
      EXPECT_EQ(g.nonintra, t.nonintra) << t.what << ", GOP at frame " << g.first;
    }
    const std::string log = pf.read("out.log");
    EXPECT_TRUE(haslogline(log, "matrix:               MPEGSTD, adaptive")) << log;
    EXPECT_TRUE(haslogline(log, "luminance gain:       yes, level 4")) << log;
    EXPECT_TRUE(haslogline(log, "adapted intra matrix used")) << log;
    EXPECT_TRUE(haslogline(log, "adapted non-intra matrix used")) << log;
    EXPECT_FALSE(haslogline(log, "intra matrix used")) << log;
  }
}

// A plug-in that writes 0 everywhere, a negative weight and 300 into the intra DC position and
// one more entry of each matrix: the headers carry 8 everywhere, 255 there, intra DC 8.
TEST(matrixoutside, pluginsweightsarebounded) {
  progfolder pf;
  fs::copy_file(CLAMPPLUGIN, pf.path("matrix.dll"));
  pf.write("clip.avs", "TestPattern(length=20, width=176, height=144, fps=25)\n");
  pf.write("KJ.ini", "*ADAPTIVEMATRIX\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-log", "out.log"});
  ASSERT_EQ(r.status, 0) << described(r);
  std::string why;
  ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  const std::vector<gopseen> gops = readgops(pf.path("out.m2v"));
  ASSERT_GE(gops.size(), 2u);
  std::vector<int> intra(64, 8), nonintra(64, 8);
  intra[9] = 255;
  nonintra[63] = 255;
  for (const gopseen& g : gops) {
    EXPECT_EQ(g.intra, intra) << "GOP at frame " << g.first;
    EXPECT_EQ(g.nonintra, nonintra) << "GOP at frame " << g.first;
  }
  const std::string log = pf.read("out.log");
  EXPECT_TRUE(haslogline(log, "adapted intra matrix used")) << log;
  EXPECT_TRUE(haslogline(log, "adapted non-intra matrix used")) << log;
}

// A still-then-noise clip with the logging plug-in: one call per GOP of the only pass, in
// order, each with the GOP's own class and mean luma and always the chosen pair (MPEG: intra
// 8, 16 ... 83, non-intra 16 ... 33), although the plug-in raises every weight each time.
// Still GOPs come with luma 16 and the first with class 1; the first noise GOP, a full window
// of frames unlike each other, with class 32 and no B pictures. Every GOP's B count is the one
// its class gives. A two-pass run calls the plug-in in its first pass only: the same calls.
TEST(matrixoutside, pluginiscalledoncepergop) {
  progfolder pf;
  fs::copy_file(LOGPLUGIN, pf.path("matrix.dll"));
  writestillthennoise(pf.path("clip.y4m"), 20, 20);
  pf.write("clip.avs", "Y4MSource(\"clip.y4m\")\n");
  pf.write("KJ.ini", "*ADAPTIVEMATRIX\n");
  // The noise GOPs at quantiser 4 run at about 8.4 Mbit/s: declared under Main Level's maximum.
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-maxbitrate", "15000"});
  ASSERT_EQ(r.status, 0) << described(r);
  std::string why;
  ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  const std::vector<gopseen> gops = readgops(pf.path("out.m2v"));
  const std::vector<callseen> calls = readcalls(pf);
  ASSERT_EQ(calls.size(), gops.size());
  ASSERT_GE(gops.size(), 3u);
  bool noisegop = false;
  for (size_t g = 0; g < gops.size(); ++g) {
    const callseen& c = calls[g];
    const std::string at = "GOP at frame " + std::to_string(gops[g].first) + " (" +
                           gops[g].types + "), class " + std::to_string(c.cls);
    EXPECT_EQ(c, (callseen{c.cls, c.luma, 8, 16, 83, 16, 33})) << at;
    EXPECT_GE(c.cls, 1) << at;
    EXPECT_LE(c.cls, 32) << at;
    const bool still = gops[g].first + int(gops[g].types.size()) <= 20;
    if (still) {
      EXPECT_EQ(c.luma, 16) << at;
    } else {
      EXPECT_GT(c.luma, 100) << at;
    }
    if (gops[g].first == 20) {
      noisegop = true;
      EXPECT_EQ(c.cls, 32) << at;
    }
    if (gops[g].types.size() >= 4) {
      EXPECT_EQ(gops[g].bcount(), c.cls == 32 ? 0 : c.cls >= 12 ? 1 : 2) << at;
    }
  }
  EXPECT_EQ(calls[0].cls, 1);
  EXPECT_TRUE(noisegop);

  fs::remove(pf.path("matrixcalls.txt"));
  r = pf.ostrel({"-i", "clip.avs", "-o", "twopass.m2v", "-b", "2000", "-maxbitrate", "4000"});
  ASSERT_EQ(r.status, 0) << described(r);
  ASSERT_TRUE(decodesclean(pf.path("twopass.m2v"), &why)) << why;
  EXPECT_EQ(readcalls(pf), calls);
}

// The example plug-in of plugin/, built as the README says: still GOPs (class 1) keep the MPEG
// pair; the first noise GOP (class 32) has its highest frequency raised by a quarter (intra 83
// to 103, non-intra 33 to 41) with the DC weights unchanged.
TEST(matrixoutside, exampleplugin) {
  progfolder pf;
  fs::copy_file(EXAMPLEPLUGIN, pf.path("matrix.dll"));
  writestillthennoise(pf.path("clip.y4m"), 20, 20);
  pf.write("clip.avs", "Y4MSource(\"clip.y4m\")\n");
  pf.write("KJ.ini", "*ADAPTIVEMATRIX\n");
  // The noise GOPs at quantiser 4 run at about 8.4 Mbit/s: declared under Main Level's maximum.
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-maxbitrate", "15000"});
  ASSERT_EQ(r.status, 0) << described(r);
  std::string why;
  ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  const std::vector<gopseen> gops = readgops(pf.path("out.m2v"));
  ASSERT_GE(gops.size(), 3u);
  EXPECT_EQ(gops[0].intra, standardintra);
  bool noisegop = false;
  for (const gopseen& g : gops) {
    if (g.first != 20) continue;
    noisegop = true;
    ASSERT_EQ(g.intra.size(), 64u);
    ASSERT_EQ(g.nonintra.size(), 64u);
    EXPECT_EQ(g.intra[0], 8);
    EXPECT_EQ(g.intra[63], 103);
    EXPECT_EQ(g.nonintra[0], 16);
    EXPECT_EQ(g.nonintra[63], 41);
  }
  EXPECT_TRUE(noisegop);
}

namespace {

// A stream that ends at a whole GOP: it decodes strictly and ends on the sequence end code.
void expectendedstream(const std::string& m2v, size_t gops) {
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  EXPECT_EQ(gopheaders(m2v), int(gops));
  const std::string s = readfile(m2v);
  ASSERT_GE(s.size(), 4u);
  EXPECT_EQ(s.substr(s.size() - 4), std::string("\0\0\1\xB7", 4));
}

const std::string longpattern = "TestPattern(length=100000, width=176, height=144, fps=25)\n";

}  // namespace

// A plug-in that hangs in its fourth call cannot hold the run: each stop signal ends it within
// 10 seconds as any stop does (exit status 3, the log says so, no scratch file left); a one-pass
// run keeps its three whole GOPs, a two-pass run (stopped in its first pass) leaves no stream
// and an earlier output as it was. Before the plug-in ran in a helper process, SIGINT and
// SIGTERM asked "quit anyway ?" and nothing happened, and only SIGKILL ended the run.
TEST(matrixoutside, ahangingpluginnevergetsintheway) {
  struct stopcase {
    const char* name;
    int sig;
    bool twopass;
  };
  const stopcase cases[] = {
      {"SIGTERM, two passes", SIGTERM, true},
      {"SIGINT, one pass", SIGINT, false},
      {"SIGHUP, one pass", SIGHUP, false},
      {"SIGQUIT, two passes", SIGQUIT, true},
  };
  for (const stopcase& c : cases) {
    SCOPED_TRACE(c.name);
    progfolder pf;
    fs::copy_file(FAULTYPLUGIN, pf.path("matrix.dll"));
    pf.write("clip.avs", longpattern);
    pf.write("KJ.ini", "*ADAPTIVEMATRIX\n");
    pf.write("out.m2v", "yesterday's film");
    std::vector<std::string> a = {"-i", "clip.avs", "-o", "out.m2v", "-log", "run.log"};
    for (const char* w : c.twopass ? std::vector<const char*>{"-b", "3000", "-maxbitrate", "6000"}
                                   : std::vector<const char*>{"-cq", "4"})
      a.push_back(w);
    liverun run(pf, a, false, {"OSTREL_TEST_PLUGIN=hang"});
    ASSERT_TRUE(waituntil([&] { return occurrences(pf.read("matrixcalls.txt"), "\n") >= 4; })) << run.err();
    const auto start = std::chrono::steady_clock::now();
    run.signal(c.sig);
    const int status = run.wait(30);
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(status, 3) << run.err();
    EXPECT_LT(secs, 10.0);
    EXPECT_FALSE(scratchleft(pf));
    EXPECT_FALSE(pf.exists("out.m2v.partial"));
    EXPECT_NE(pf.read("run.log").find(" *** encoding stopped by the user"), std::string::npos);
    if (c.twopass) EXPECT_EQ(pf.read("out.m2v"), "yesterday's film");
    else expectendedstream(pf.path("out.m2v"), 3);
  }
}

// A plug-in that hangs in its fourth call and no one stops the run: after 30 seconds without an
// answer the run ends with its own error line and exit status 7, the stream keeping the three
// GOPs coded before, ended with the end code, and no scratch file left.
TEST(matrixoutside, apluginthathangsendstherunafterthirtyseconds) {
  progfolder pf;
  fs::copy_file(FAULTYPLUGIN, pf.path("matrix.dll"));
  pf.write("clip.avs", longpattern);
  pf.write("KJ.ini", "*ADAPTIVEMATRIX\n");
  liverun run(pf, {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-log", "run.log"}, false,
              {"OSTREL_TEST_PLUGIN=hang"});
  ASSERT_TRUE(waituntil([&] { return occurrences(pf.read("matrixcalls.txt"), "\n") >= 4; })) << run.err();
  const auto start = std::chrono::steady_clock::now();
  const int status = run.wait(90);
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(status, 7) << run.err();
  EXPECT_GT(secs, 25.0);
  EXPECT_LT(secs, 45.0);
  const std::string text = "ERROR, the adaptive matrix plug-in matrix.dll failed in EXTMATRIX: it did not "
                           "answer within 30 seconds, aborting...";
  EXPECT_NE(run.err().find("ostrel: " + text + "\n"), std::string::npos) << run.err();
  EXPECT_NE(pf.read("run.log").find(" *** " + text + "\n"), std::string::npos);
  expectendedstream(pf.path("out.m2v"), 3);
  EXPECT_FALSE(pf.exists("out.m2v.partial"));
  EXPECT_FALSE(scratchleft(pf));
}

// A plug-in that crashes in its fourth call ends the run with its own error line and exit
// status 7; the stream keeps the three GOPs coded before, ended with the end code. Before, the
// crash took the encoder down and left a broken stream.
TEST(matrixoutside, acrashingpluginendstherunwithitsownerror) {
  progfolder pf;
  fs::copy_file(FAULTYPLUGIN, pf.path("matrix.dll"));
  pf.write("clip.avs", longpattern);
  pf.write("KJ.ini", "*ADAPTIVEMATRIX\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-log", "run.log"},
                          {"OSTREL_TEST_PLUGIN=crash"});
  EXPECT_EQ(r.status, 7) << described(r);
  const std::string text = "ERROR, the adaptive matrix plug-in matrix.dll failed in EXTMATRIX: it crashed "
                           "(signal 11, Segmentation fault), aborting...";
  EXPECT_NE(r.err.find("ostrel: " + text + "\n"), std::string::npos) << r.err;
  EXPECT_NE(pf.read("run.log").find(" *** " + text + "\n"), std::string::npos);
  expectendedstream(pf.path("out.m2v"), 3);
  EXPECT_FALSE(pf.exists("out.m2v.partial"));
}
