// Scene changes and automatic GOPs from outside: "ostrel -i clip.avs -o out.m2v -cq 4" run
// headless in a program folder of its own, the scene-change list ("*SCDFILE" in KJ.ini, named
// after the output less its last four characters followed by "_scd.txt") and the GOP headers
// of the stream read back. Every GOP length is checked against the split table, the limit of
// the automatic GOP and the pair rule, given the B count the GOP was coded with.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace {

// One GOP of the stream: the display number of its first frame, closed_gop, its picture types
// in coding order.
struct gopseen {
  int first = 0;
  bool closed = false;
  std::string types;
  int bcount() const {  // the longest run of B pictures: the B count it was coded with
    int best = 0, run = 0;
    for (char c : types) best = std::max(best, run = c == 'B' ? run + 1 : 0);
    return best;
  }
};

std::vector<gopseen> readgops(const std::string& m2v, int* pictures) {
  const std::string s = readfile(m2v);
  std::vector<gopseen> gops;
  int n = 0;
  for (size_t i = 0; i + 8 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const unsigned char code = static_cast<unsigned char>(s[i + 3]);
    if (code == 0xB8) {
      gops.push_back({n, ((static_cast<unsigned char>(s[i + 7]) >> 6) & 1) != 0, ""});
    } else if (code == 0x00) {
      ++n;
      if (!gops.empty()) gops.back().types += " IPB"[(static_cast<unsigned char>(s[i + 5]) >> 3) & 3];
    }
  }
  *pictures = n;
  return gops;
}

// A 4:2:0 YUV4MPEG2 file of frames frames; pixel(f, plane, x, y) gives each sample (plane 0
// luma, 1 and 2 chroma at half size).
template <class fn>
void writey4m(const std::string& path, int w, int h, int frames, fn pixel) {
  std::string y = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) +
                  " F25:1 Ip A1:1 C420jpeg\n";
  for (int f = 0; f < frames; ++f) {
    y += "FRAME\n";
    for (int plane = 0; plane < 3; ++plane) {
      const int pw = plane ? w / 2 : w, ph = plane ? h / 2 : h;
      for (int yy = 0; yy < ph; ++yy)
        for (int x = 0; x < pw; ++x) y += char(pixel(f, plane, x, yy));
    }
  }
  writefile(path, y);
}

// A calm clip: a gradient drifting a pixel a frame, its frame differences far below one level
// on average, and from frame cut on a bright textured second scene drifting the same way.
void writecalm(const std::string& path, int frames, int cut) {
  writey4m(path, 352, 288, frames, [cut](int f, int plane, int x, int y) {
    if (f < cut) return plane == 0 ? 40 + ((x + y + f) / 4) % 64 : plane == 1 ? 110 : 140;
    if (plane == 0) return 150 + (((x + f) ^ y) & 31) * 2;
    return plane == 1 ? 160 : 90;
  });
}

// The lines of the scene-change list: each one frame number right-aligned in 8 columns.
std::vector<int> readlist(const progfolder& pf, const std::string& name) {
  std::vector<int> v;
  std::istringstream in(pf.read(name));
  for (std::string line; std::getline(in, line);) {
    EXPECT_EQ(line.size(), 8u) << "line \"" << line << "\"";
    v.push_back(std::stoi(line));
  }
  return v;
}

// The GOP length from a run of g frames (1..36) without a cut, by B count.
int splitvalue(int b, int g) {
  static const int table[3][36] = {
      {1, 2, 3, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9,
       10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18},
      {1, 2, 3, 2, 4, 4, 4, 4, 6, 6, 6, 6, 8, 8, 8, 8, 10, 10,
       10, 10, 12, 12, 12, 12, 14, 14, 14, 14, 14, 14, 18, 18, 18, 18, 18, 18},
      {1, 2, 3, 3, 3, 3, 3, 3, 6, 6, 6, 6, 9, 9, 9, 9, 9, 9,
       12, 12, 12, 12, 12, 12, 15, 15, 15, 15, 15, 15, 18, 18, 18, 18, 18, 18}};
  return table[b][g - 1];
}

// The length an automatic GOP starting at frame s0 gets: cuts are the frames that start a new
// scene (chapter frames among them), frames the clip's length, l the longest GOP, b the B count
// the GOP was coded with, prev the length of the GOP before (0 for the first).
int autolength(const std::set<int>& cuts, int frames, int l, int s0, int b, bool closed,
               int prev) {
  const int m = std::min(2 * l, frames - s0);
  int g = 1;
  if (m > 1)
    for (int e = 1;; ++e) {
      if (cuts.count(s0 + e)) { g = e; break; }
      if (e + 1 >= m) { g = e + 1; break; }
    }
  int n = g;
  if (g > l) {
    n = splitvalue(b, g);
    if (b == 1) {
      if ((n % 2 == 0) == closed) ++n;
      while (n > l) n -= 2;
    }
    n = std::max(1, std::min(n, l));
  }
  // The pair rule: a long GOP right after a short one is shortened.
  struct row { int p, from, v0, v1c, v1o, v2c, v2o; };
  static const row rows[] = {{9, 15, 14, 13, 14, 13, 12}, {8, 16, 15, 15, 14, 13, 15},
                             {7, 17, 16, 15, 16, 16, 15}, {6, 18, 17, 17, 16, 16, 15}};
  for (const row& r : rows)
    if (prev == r.p && (r.p == 6 ? n == 18 : n >= r.from))
      n = b == 0 ? r.v0 : b == 1 ? (closed ? r.v1c : r.v1o) : (closed ? r.v2c : r.v2o);
  return n;
}

// Every GOP of an automatic run as the tables give it; closed exactly at frame 0 and the cuts.
void checkautogops(const std::vector<gopseen>& gops, const std::set<int>& cuts, int frames,
                   int l) {
  ASSERT_FALSE(gops.empty());
  EXPECT_EQ(gops[0].first, 0);
  int prev = 0;
  for (size_t i = 0; i < gops.size(); ++i) {
    const gopseen& g = gops[i];
    const int next = i + 1 < gops.size() ? gops[i + 1].first : frames;
    const bool atcut = g.first == 0 || cuts.count(g.first) > 0;
    EXPECT_EQ(g.closed, atcut) << "GOP at frame " << g.first;
    EXPECT_EQ(g.types[0], 'I') << "GOP at frame " << g.first;
    const int want = autolength(cuts, frames, l, g.first, g.bcount(), g.closed, prev);
    EXPECT_EQ(next - g.first, want) << "GOP at frame " << g.first << " (" << g.types << ")";
    prev = next - g.first;
  }
}

// Frame n's picture type in display order.
char typeat(const std::vector<std::string>& types, int n) {
  return n < int(types.size()) ? types[n][0] : '?';
}

}  // namespace

// A clip with a hard cut into frame 25: the list holds the cut, the GOP before it ends at 24,
// the GOP at 25 is closed and starts with an I picture, and every GOP is as long as the tables
// give (the longest automatic GOP at 25 frame/s is 15). On the calm clip and on the moving
// test pattern the cut is the only list line: the pattern's motion neither starts a scene at
// frame 1 nor at its last frame.
TEST(scenechange, hardcutinthelistandgops) {
  struct c {
    const char* name;
    bool calm;
    std::vector<int> list;
    std::set<int> cuts;  // the frames that start a new scene
  } cases[] = {
      {"calm clip", true, {25}, {25}},
      {"moving test pattern", false, {25}, {25}},
  };
  for (const c& t : cases) {
    SCOPED_TRACE(t.name);
    progfolder pf;
    if (t.calm) {
      writecalm(pf.path("calm.y4m"), 60, 25);
      pf.write("clip.avs", "Y4MSource(\"calm.y4m\")\n");
    } else {
      pf.write("clip.avs", "TestPattern(length=60, width=352, height=288, fps=25, cut=25)\n");
    }
    pf.write("KJ.ini", "*SCDFILE\n");
    runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"});
    ASSERT_EQ(r.status, 0) << described(r);
    const std::string m2v = pf.path("out.m2v");
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    ASSERT_TRUE(pf.exists("out_scd.txt"));
    EXPECT_EQ(readlist(pf, "out_scd.txt"), t.list);
    int pictures = 0;
    const std::vector<gopseen> gops = readgops(m2v, &pictures);
    EXPECT_EQ(pictures, 60);
    checkautogops(gops, t.cuts, 60, 15);
    bool atcut = false;
    for (const gopseen& g : gops) atcut = atcut || (g.first == 25 && g.closed);
    EXPECT_TRUE(atcut);
    const std::vector<std::string> types = probetypes(m2v);
    ASSERT_EQ(types.size(), 60u);
    EXPECT_EQ(typeat(types, 0), 'I');
    EXPECT_EQ(typeat(types, 25), 'I');
    EXPECT_NE(typeat(types, 24), 'B');  // the GOP before the cut ends on a reference
  }
}

// "-noscene" on the moving pattern: none of its three scene starts is seen, the list stays
// empty, only the first GOP is closed, and the GOPs between the first and the tail have one
// length (the first, closed, is made odd by one frame).
TEST(scenechange, noscenegivesnocut) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=60, width=352, height=288, fps=25, cut=25)\n");
  pf.write("KJ.ini", "*SCDFILE\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-noscene"});
  ASSERT_EQ(r.status, 0) << described(r);
  const std::string m2v = pf.path("out.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  ASSERT_TRUE(pf.exists("out_scd.txt"));  // "*SCDFILE" opens it, "-noscene" writes no line
  EXPECT_EQ(pf.read("out_scd.txt"), "");
  int pictures = 0;
  const std::vector<gopseen> gops = readgops(m2v, &pictures);
  EXPECT_EQ(pictures, 60);
  checkautogops(gops, {}, 60, 15);
  ASSERT_GE(gops.size(), 4u);
  for (size_t i = 2; i + 1 < gops.size(); ++i)
    EXPECT_EQ(gops[i].first - gops[i - 1].first, gops[2].first - gops[1].first) << "GOP " << i;

  // A fixed GOP of 12 frames with scene detection off: 12, 12, ..., each open but the first.
  r = pf.ostrel({"-i", "clip.avs", "-o", "fixed.m2v", "-cq", "4", "-gop", "12", "2", "-noscene"});
  ASSERT_EQ(r.status, 0) << described(r);
  ASSERT_TRUE(decodesclean(pf.path("fixed.m2v"), &why)) << why;
  const std::vector<gopseen> fixed = readgops(pf.path("fixed.m2v"), &pictures);
  EXPECT_EQ(pictures, 60);
  ASSERT_EQ(fixed.size(), 5u);
  for (size_t i = 0; i < fixed.size(); ++i) {
    EXPECT_EQ(fixed[i].first, int(12 * i));
    EXPECT_EQ(fixed[i].closed, i == 0);
  }
}

// A chapter frame of a calm clip without a cut, from a chapter file ("-chapter") or from
// "*CHAPTER" in KJ.ini, is listed and starts a closed GOP with an I picture; with "-noscene" too.
TEST(scenechange, chapterframestartsclosedgop) {
  struct c {
    const char* name;
    const char* ini;
    const char* chapters;  // chapter file, or nullptr
    std::vector<std::string> extra;
  } cases[] = {
      {"chapter file", "*SCDFILE\n", "*chapters\n20\n", {}},
      {"chapter file without the key line", "*SCDFILE\n", "20\n", {}},
      {"KJ.ini", "*SCDFILE\n*CHAPTER 1\n20\n", nullptr, {}},
      {"KJ.ini with -noscene", "*SCDFILE\n*CHAPTER 1\n20\n", nullptr, {"-noscene"}},
  };
  for (const c& t : cases) {
    SCOPED_TRACE(t.name);
    progfolder pf;
    writecalm(pf.path("calm.y4m"), 45, 1000);
    pf.write("clip.avs", "Y4MSource(\"calm.y4m\")\n");
    pf.write("KJ.ini", t.ini);
    std::vector<std::string> a = {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"};
    if (t.chapters) {
      pf.write("chapters.txt", t.chapters);
      a.insert(a.end(), {"-chapter", "chapters.txt"});
    }
    a.insert(a.end(), t.extra.begin(), t.extra.end());
    runresult r = pf.ostrel(a);
    ASSERT_EQ(r.status, 0) << described(r);
    const std::string m2v = pf.path("out.m2v");
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    ASSERT_TRUE(pf.exists("out_scd.txt"));
    EXPECT_EQ(readlist(pf, "out_scd.txt"), std::vector<int>{20});
    int pictures = 0;
    const std::vector<gopseen> gops = readgops(m2v, &pictures);
    EXPECT_EQ(pictures, 45);
    checkautogops(gops, {20}, 45, 15);
    EXPECT_EQ(typeat(probetypes(m2v), 20), 'I');
  }
}

// Seeded random noise (every frame unlike the one before, change class 32 throughout, every
// change about as large as the next): no frame starts a new scene, so the GOPs start at 0, 15
// and 28. A GOP decided on a full window (no cut within 15 frames) averages 15 change classes of
// 32 over 15 and gets no B pictures. The last GOP, at 28, is decided on the 12 frames left: its
// class sum holds the change classes of its frames after the first, 11 of them, divided by its
// length 12, which gives class 29, and so one B picture between references, as the rules give
// for any GOP decided on a window of 15 frames or fewer.
TEST(scenechange, noiseclipgetsnobpictures) {
  const int w = 176, h = 144, frames = 40;
  const unsigned seed = 20261210;
  std::printf("noise seed %u\n", seed);
  std::mt19937 rng(seed);
  progfolder pf;
  writey4m(pf.path("noise.y4m"), w, h, frames,
           [&](int, int, int, int) { return int(16 + rng() % 224); });
  pf.write("clip.avs", "Y4MSource(\"noise.y4m\")\n");
  pf.write("KJ.ini", "*SCDFILE\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "8"});
  ASSERT_EQ(r.status, 0) << described(r);
  const std::string m2v = pf.path("out.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  EXPECT_EQ(readlist(pf, "out_scd.txt"), std::vector<int>{});
  int pictures = 0;
  const std::vector<gopseen> gops = readgops(m2v, &pictures);
  EXPECT_EQ(pictures, frames);
  checkautogops(gops, {}, frames, 15);
  std::vector<int> starts;
  for (const gopseen& g : gops) starts.push_back(g.first);
  ASSERT_EQ(starts, (std::vector<int>{0, 15, 28}));
  for (const gopseen& g : gops) {
    if (g.first != 28) {
      EXPECT_EQ(g.types.find('B'), std::string::npos) << "GOP at frame " << g.first;
    }
  }
  EXPECT_EQ(gops[2].bcount(), 1) << gops[2].types;
}

// "-frames 10 69" of the moving pattern with its cut at 40: the list gives source frame
// numbers (40, not 30), while the stream starts at source frame 10; the run's first frames,
// moving, start no scene of their own.
TEST(scenechange, framesrangekeepssourcenumbers) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=80, width=352, height=288, fps=25, cut=40)\n");
  pf.write("KJ.ini", "*SCDFILE\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-frames", "10", "69"});
  ASSERT_EQ(r.status, 0) << described(r);
  const std::string m2v = pf.path("out.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  EXPECT_EQ(readlist(pf, "out_scd.txt"), (std::vector<int>{40}));
  int pictures = 0;
  const std::vector<gopseen> gops = readgops(m2v, &pictures);
  EXPECT_EQ(pictures, 60);
  // In the stream the cut is the 31st picture.
  checkautogops(gops, {30}, 60, 15);
}

namespace {

// A zoom into a texture: each frame 3 % closer than the one before, around the picture's
// centre; from frame black on, frame black - 1 ... is shown one frame later and frame 0 (and
// every frame before black) is black. black < 0: no black frame.
void writezoom(const std::string& path, int w, int h, int frames, int black = -1) {
  writey4m(path, w, h, frames, [w, h, black](int f, int plane, int x, int y) {
    if (black >= 0 && f <= black) return plane == 0 ? 16 : 128;
    const int t = black >= 0 ? f - black - 1 : f;
    const int scale = 1024 + 31 * t;  // 1024 = no zoom
    const int cx = plane ? w / 4 : w / 2, cy = plane ? h / 4 : h / 2;
    const int sub = plane ? 2 : 1;  // chroma samples cover two luma samples
    const int u = (x - cx) * sub * 1024 / scale + 512, v = (y - cy) * sub * 1024 / scale + 512;
    if (plane == 0) return 16 + ((u ^ v) & 31) * 3 + ((u >> 3) & 15) * 3 + ((v >> 4) & 7) * 5;
    if (plane == 1) return 96 + (((u >> 4) + (v >> 5)) & 15) * 4;
    return 104 + ((v >> 3) & 15) * 3;
  });
}

}  // namespace

// Moving clips without a cut (the panning test pattern, coded progressive and interlaced, and a
// zoom): the scene-change list stays empty and neither end of the stream is a GOP of one
// picture; the first GOP is the only closed one. Before, the histories started at their floor
// of 1, so the first change of any moving clip scored as a cut into frame 1 (a one-picture GOP
// at the start) and the last frame scored its summed change less 3 (often a one-picture GOP at
// the end).
TEST(scenechange, movingclipswithoutcutsgivenone) {
  struct c {
    const char* name;
    const char* script;  // nullptr: the zoom
    std::vector<std::string> extra;
  } cases[] = {
      {"pan", "TestPattern(length=40, width=352, height=288, fps=25)\n", {}},
      {"pan, interlaced", "TestPattern(length=40, width=352, height=288, fps=25)\n",
       {"-interlaced"}},
      {"zoom", nullptr, {}},
  };
  for (const c& t : cases) {
    SCOPED_TRACE(t.name);
    progfolder pf;
    if (t.script) {
      pf.write("clip.avs", t.script);
    } else {
      writezoom(pf.path("zoom.y4m"), 176, 144, 40);
      pf.write("clip.avs", "Y4MSource(\"zoom.y4m\")\n");
    }
    pf.write("KJ.ini", "*SCDFILE\n");
    std::vector<std::string> a = {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"};
    a.insert(a.end(), t.extra.begin(), t.extra.end());
    runresult r = pf.ostrel(a);
    ASSERT_EQ(r.status, 0) << described(r);
    const std::string m2v = pf.path("out.m2v");
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    EXPECT_EQ(readlist(pf, "out_scd.txt"), std::vector<int>{});
    int pictures = 0;
    const std::vector<gopseen> gops = readgops(m2v, &pictures);
    EXPECT_EQ(pictures, 40);
    ASSERT_GE(gops.size(), 2u);
    EXPECT_GT(gops.front().types.size(), 1u) << gops.front().types;
    EXPECT_GT(gops.back().types.size(), 1u) << gops.back().types;
    checkautogops(gops, {}, 40, 15);
  }
}

// A clip whose frame 0 is black and whose picture (the zoom) starts at frame 1: frame 1 starts a
// new scene, is listed and starts a closed GOP; frame 0 is a GOP of its own.
TEST(scenechange, blackthenpicturelistsframeone) {
  progfolder pf;
  writezoom(pf.path("zoom.y4m"), 176, 144, 30, 0);
  pf.write("clip.avs", "Y4MSource(\"zoom.y4m\")\n");
  pf.write("KJ.ini", "*SCDFILE\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"});
  ASSERT_EQ(r.status, 0) << described(r);
  const std::string m2v = pf.path("out.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  EXPECT_EQ(readlist(pf, "out_scd.txt"), std::vector<int>{1});
  int pictures = 0;
  const std::vector<gopseen> gops = readgops(m2v, &pictures);
  EXPECT_EQ(pictures, 30);
  checkautogops(gops, {1}, 30, 15);
  ASSERT_GE(gops.size(), 2u);
  EXPECT_EQ(gops[1].first, 1);
  EXPECT_TRUE(gops[1].closed);
}
