// The encoder from outside: "ostrel -i clip.avs -o out.m2v -cq 4" on scripts of our frame
// server, run headless in a program folder of its own. The stream decodes cleanly to exactly
// the clip's frames; a two-pass first pass leaves its statistics file for the second pass and
// the run deletes it; a run stopped by SIGINT during the pass ends without a scratch file and
// with a stream that decodes up to where it stopped.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {


}  // namespace

// Every picture size the start-up takes, one constant-quantiser pass each, and a 10-frame clip.
TEST(outside, constantquantiserclipsofeverysize) {
  struct c {
    const char* script;
    std::vector<std::string> extra;
    int frames;
  } cases[] = {
      {"TestPattern(length=30, width=720, height=576, fps=25)", {}, 30},
      {"TestPattern(length=24, width=720, height=480, fps=24000, fps_denominator=1001)",
       {"-pulldown"}, 24},
      // High Level's maximum: the six pictures at quantiser 4 run at about 28 Mbit/s.
      {"TestPattern(length=6, width=1920, height=1080, fps=25)", {"-maxbitrate", "80000"}, 6},
      {"TestPattern(length=10, width=720, height=576, fps=25)", {}, 10},
  };
  for (const c& t : cases) {
    progfolder pf;
    pf.write("clip.avs", std::string(t.script) + "\n");
    std::vector<std::string> a = {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"};
    a.insert(a.end(), t.extra.begin(), t.extra.end());
    runresult r = pf.ostrel(a);
    EXPECT_EQ(r.status, 0) << t.script << "\n" << described(r);
    std::string why;
    ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << t.script << ": " << why;
    EXPECT_EQ(int(probetypes(pf.path("out.m2v")).size()), t.frames) << t.script;
    EXPECT_FALSE(scratchleft(pf)) << t.script;
  }
}

// The GOP structure of a clip with a hard cut: only the first GOP and the one that starts at
// the cut are closed. With "*MASK_SHIFT 32 48 16" the masked lines decode as the fill colour
// and the lines between them as the clip's own lines 16 further down.
TEST(outside, closedgopsandmask) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=60, width=352, height=288, fps=25, cut=25)\n");
  pf.write("KJ.ini", "*MASK_SHIFT 32 48 16\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"});
  EXPECT_EQ(r.status, 0) << described(r);
  const std::string m2v = pf.path("out.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  // GOP by GOP: its first frame (pictures before it) and closed_gop.
  const std::string s = readfile(m2v);
  std::vector<std::pair<int, int>> gops;
  int pictures = 0;
  for (size_t i = 0; i + 8 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const unsigned char code = static_cast<unsigned char>(s[i + 3]);
    if (code == 0x00) ++pictures;
    if (code == 0xB8) gops.push_back({pictures, (static_cast<unsigned char>(s[i + 7]) >> 6) & 1});
  }
  EXPECT_EQ(pictures, 60);
  ASSERT_GE(gops.size(), 3u);
  for (const auto& [first, closed] : gops)
    EXPECT_EQ(closed, first == 0 || first == 25 ? 1 : 0) << "GOP at frame " << first;
  bool atcut = false;
  for (const auto& g : gops) atcut = atcut || g.first == 25;
  EXPECT_TRUE(atcut);
  runresult d = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", m2v, "-f",
                            "rawvideo", "-pix_fmt", "yuv420p", pf.path("out.y")});
  ASSERT_EQ(d.status, 0) << d.err;
  const std::string y = readfile(pf.path("out.y"));
  const size_t fsize = 352 * 288 * 3 / 2;
  ASSERT_EQ(y.size(), 60 * fsize);
  for (int f = 0; f < 60; f += 7)
    for (int row : {0, 31, 240, 287})
      for (int x = 0; x < 352; x += 50)
        EXPECT_NEAR(static_cast<unsigned char>(y[f * fsize + size_t(row) * 352 + x]), 16, 3)
            << "frame " << f << " row " << row;

  // The same clip without the mask.
  pf.write("KJ.ini", "");
  r = pf.ostrel({"-i", "clip.avs", "-o", "plain.m2v", "-cq", "4"});
  ASSERT_EQ(r.status, 0) << described(r);
  d = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", pf.path("plain.m2v"), "-f",
                  "rawvideo", "-pix_fmt", "yuv420p", pf.path("plain.y")});
  ASSERT_EQ(d.status, 0) << d.err;
  const std::string plain = readfile(pf.path("plain.y"));
  ASSERT_EQ(plain.size(), 60 * fsize);
  auto at = [](const std::string& v, size_t i) { return int(static_cast<unsigned char>(v[i])); };
  for (int f = 0; f < 60; f += 7) {
    const size_t base = f * fsize;
    double luma = 0, chroma = 0;
    for (int row = 32; row < 240; ++row)
      for (int x = 0; x < 352; ++x)
        luma += std::abs(at(y, base + row * 352 + x) - at(plain, base + (row + 16) * 352 + x));
    for (int row = 16; row < 120; ++row)
      for (int x = 0; x < 176; ++x) {
        const size_t u = base + 352 * 288;
        chroma += std::abs(at(y, u + row * 176 + x) - at(plain, u + (row + 8) * 176 + x));
      }
    EXPECT_LT(luma / (208 * 352), 3.0) << "frame " << f;
    EXPECT_LT(chroma / (104 * 176), 3.0) << "frame " << f;
    // Far from the lines at any other distance (8 lines off).
    double off = 0;
    for (int row = 32; row < 240; ++row)
      for (int x = 0; x < 352; ++x)
        off += std::abs(at(y, base + row * 352 + x) - at(plain, base + (row + 8) * 352 + x));
    EXPECT_GT(off, 3 * luma) << "frame " << f;
  }
}

// "-gop 12 2" with the quantiser factors (scene detection off): GOPs of 12 with their picture
// types in coding order, only the first closed, and every slice of the I, P and B pictures at
// 4, 6 and 8.
TEST(outside, fixedgopsandquantisers) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=36, width=352, height=288, fps=25)\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-cq_pfactor", "1.5",
                           "-cq_bfactor", "2", "-gop", "12", "2", "-noscene"});
  EXPECT_EQ(r.status, 0) << described(r);
  const std::string m2v = pf.path("out.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  EXPECT_EQ(probetypes(m2v).size(), 36u);
  const std::string s = readfile(m2v);
  std::string coding;  // picture types in stream order, a '|' at each GOP header
  std::vector<int> closed;
  int slices = 0, type = 0;
  for (size_t i = 0; i + 8 < s.size(); ++i) {
    if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1) continue;
    const unsigned char code = static_cast<unsigned char>(s[i + 3]);
    const unsigned char next = static_cast<unsigned char>(s[i + 4]);
    if (code == 0x00) {
      type = (static_cast<unsigned char>(s[i + 5]) >> 3) & 7;
      coding += " IPB"[type & 3];
    }
    if (code == 0xB8) {
      coding += '|';
      closed.push_back((static_cast<unsigned char>(s[i + 7]) >> 6) & 1);
    }
    if (code >= 0x01 && code <= 0xAF) {
      ++slices;
      EXPECT_EQ(next >> 3, 2 + 2 * type) << "slice " << int(code) << " of a type " << type;
    }
  }
  EXPECT_EQ(coding, "|IPBPBBPBBPBB|IBBPBBPBBPBB|IBBPBBPBBPBB");
  EXPECT_EQ(closed, (std::vector<int>{1, 0, 0}));
  EXPECT_EQ(slices, 36 * 18);
}

// A D2V project as the source: the frames come through the decoder library, all of them.
TEST(outside, d2vsource) {
  progfolder pf;
  runresult m = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                            "testsrc=size=352x288:rate=25:duration=0.4", "-c:v", "mpeg2video",
                            "-q:v", "3", "-g", "5", pf.path("src.m2v")});
  ASSERT_EQ(m.status, 0) << m.err;
  pf.write("src.d2v", "D2VProjectFile16\n1\nsrc.m2v\n\nFrame_Rate=25000 (25/1)\n");
  runresult r = pf.ostrel({"-i", "src.d2v", "-o", "out.m2v", "-cq", "4"});
  EXPECT_EQ(r.status, 0) << described(r);
  std::string why;
  ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), 10u);
  // Close to the pictures the decoder library delivered (the source decoded by ffmpeg).
  for (const char* name : {"src", "out"}) {
    runresult d = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i",
                              pf.path(std::string(name) + ".m2v"), "-f", "rawvideo", "-pix_fmt",
                              "yuv420p", pf.path(std::string(name) + ".yuv")});
    ASSERT_EQ(d.status, 0) << d.err;
  }
  const std::string a = readfile(pf.path("src.yuv")), b = readfile(pf.path("out.yuv"));
  const size_t fsize = 352 * 288 * 3 / 2;
  ASSERT_EQ(a.size(), 10 * fsize);
  ASSERT_EQ(b.size(), 10 * fsize);
  for (size_t f = 0; f < 10; ++f) {
    double se = 0;
    for (size_t i = 0; i < 352 * 288; ++i) {
      const double d = double(static_cast<unsigned char>(a[f * fsize + i])) -
                       static_cast<unsigned char>(b[f * fsize + i]);
      se += d * d;
    }
    const double psnr = se == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * 352 * 288 / se);
    EXPECT_GT(psnr, 30.0) << "frame " << f;
  }
}

// A two-pass run: the first pass writes the statistics file, the run ends with a stream of
// every frame and no scratch file.
TEST(outside, twopassrun) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=20, width=352, height=288, fps=25, cut=9)\n");
  runresult r =
      pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-b", "3000", "-maxbitrate", "6000"});
  EXPECT_EQ(r.status, 0) << described(r);
  std::string why;
  ASSERT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), 20u);
  EXPECT_FALSE(scratchleft(pf));
}

// SIGINT in the middle of a long pass: the run ends as stopped (exit status 3), deletes its
// scratch file, and the stream holds the whole GOPs coded before the stop.
TEST(outside, stoppedbysigint) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=3000, width=720, height=576, fps=25)\n");
  const std::string out = pf.path("out.m2v");
  pid_t pid = pf.startostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"}, "said.txt",
                             {"OSTREL_MSGBOX_ANSWER=yes"});
  ASSERT_GE(pid, 0);
  // Wait until the stream (under its temporary name until the run ends) has grown past a few
  // GOPs, then stop the run.
  bool grew = false;
  for (int i = 0; i < 3000 && !grew; ++i) {
    std::error_code ec;
    grew = fs::exists(out + ".partial", ec) && fs::file_size(out + ".partial", ec) > 2'000'000;
    if (!grew) usleep(10'000);
  }
  EXPECT_EQ(interrupt(pid), 3);
  ASSERT_TRUE(grew);
  EXPECT_FALSE(scratchleft(pf));
  std::string why;
  ASSERT_TRUE(decodesclean(out, &why)) << why;
  const size_t frames = probetypes(out).size();
  EXPECT_GT(frames, 0u);
  EXPECT_LT(frames, 3000u);
  // Every picture in the file is whole: as many picture headers as decoded frames, and the
  // stream ends on the end code after its last GOP.
  const std::string s = readfile(out);
  size_t headers = 0;
  for (size_t at = s.find(std::string("\0\0\1\0", 4)); at != std::string::npos;
       at = s.find(std::string("\0\0\1\0", 4), at + 4))
    ++headers;
  EXPECT_EQ(headers, frames);
  EXPECT_EQ(s.substr(s.size() - 4), std::string("\0\0\1\xB7", 4));
}
