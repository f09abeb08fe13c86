// Y4MSource: the headers that tools write, truncated and broken files, and a file from ffmpeg.
#include <unistd.h>

#include "tests/videosource/vstest.h"

namespace {

uint8_t py(int n, int i) { return (uint8_t)(n * 5 + i * 3); }
uint8_t pu(int n, int i) { return (uint8_t)(n + i * 7 + 50); }
uint8_t pv(int n, int i) { return (uint8_t)(n * 11 + i + 150); }

// A YUV4MPEG2 file: the header line, then per frame its header line and the planes Y, Cb, Cr.
std::string y4mfile(const std::string& header, int w, int h, int frames,
                    const std::string& frameheader = "FRAME") {
  std::string s = header + "\n";
  for (int n = 0; n < frames; n++) {
    s += frameheader + "\n";
    for (int i = 0; i < w * h; i++) s += (char)py(n, i);
    for (int i = 0; i < w * h / 4; i++) s += (char)pu(n, i);
    for (int i = 0; i < w * h / 4; i++) s += (char)pv(n, i);
  }
  return s;
}

void expectframe(planes& p, int n) {
  for (size_t i = 0; i < p.y.size(); i++) ASSERT_EQ(p.y[i], py(n, (int)i)) << "Y frame " << n << " byte " << i;
  for (size_t i = 0; i < p.u.size(); i++) ASSERT_EQ(p.u[i], pu(n, (int)i)) << "U frame " << n << " byte " << i;
  for (size_t i = 0; i < p.v.size(); i++) ASSERT_EQ(p.v[i], pv(n, (int)i)) << "V frame " << n << " byte " << i;
}

}  // namespace

using y4msource = withframeserver;

TEST_F(y4msource, headersThatToolsWrite) {
  struct c {
    std::string header, frameheader;
    int num, den;
  } cases[] = {
      {"YUV4MPEG2 W32 H16 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG", "FRAME", 25, 1},
      {"YUV4MPEG2 W32 H16 F30000:1001 It A10:11 C420mpeg2 XCOLORRANGE=LIMITED", "FRAME", 30000, 1001},
      {"YUV4MPEG2 C420paldv Ib F24000:1001 A16:15 H16 W32", "FRAME Ib Xsome=thing", 24000, 1001},
      {"YUV4MPEG2 W32 H16 F50:1 Im A0:0 C420 X X=a=b", "FRAME Ip", 50, 1},
      {"YUV4MPEG2  W32  H16 F25:1 ", "FRAME Xframe=1 Xmore", 25, 1},  // no C: 4:2:0 by default
      {"YUV4MPEG2 W32 H16 F25:1 Zunknown", "FRAME", 25, 1},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.header + " / " + k.frameheader);
    dir.write("clip.y4m", y4mfile(k.header, 32, 16, 4, k.frameheader));
    opened o = script("Y4MSource(\"clip.y4m\")");  // beside the script
    ASSERT_EQ(o.code, 0) << o.msg;
    EXPECT_EQ(o.width, 32);
    EXPECT_EQ(o.height, 16);
    EXPECT_EQ(o.frames, 4);
    EXPECT_EQ(o.fpsnum, k.num);
    EXPECT_EQ(o.fpsden, k.den);
    for (int n : {2, 0, 3}) {
      planes p(32, 16);
      ASSERT_EQ(p.get(n), 0);
      expectframe(p, n);
    }
  }
}

TEST_F(y4msource, picturesOfEveryRowLayout) {
  // A picture is read from the file straight into the frame's rows: planes whose rows the
  // frame packs as the file does (32 wide), rows the frame pads (40 wide: 40 and 20 bytes in
  // rows of 48 and 32), and more rows than one read call takes (1100 lines: 2,200 rows).
  const int sizes[][2] = {{32, 16}, {40, 16}, {40, 1100}};
  for (const auto& wh : sizes) {
    const int w = wh[0], h = wh[1];
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const std::string header = "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F25:1";
    dir.write("clip.y4m", y4mfile(header, w, h, 4));
    opened o = script("Y4MSource(\"clip.y4m\")");
    ASSERT_EQ(o.code, 0) << o.msg;
    for (int n : {2, 0, 3, 3}) {
      planes p(w, h);
      ASSERT_EQ(p.get(n), 0);
      expectframe(p, n);
    }
  }
}

TEST_F(y4msource, brokenAndTruncatedFiles) {
  std::string good = y4mfile("YUV4MPEG2 W32 H16 F25:1", 32, 16, 3);
  const int frame = 6 + 32 * 16 * 3 / 2;
  const size_t hdr = std::string("YUV4MPEG2 W32 H16 F25:1\n").size();
  struct c {
    std::string data;
    std::string message;  // after "Y4MSource: \"DIR/clip.y4m\" "
  } cases[] = {
      {good.substr(0, hdr + 2 * frame + 100), "ends inside frame 2 (truncated file)"},
      {good.substr(0, hdr + 2 * frame + 3), "ends inside the header of frame 2 (truncated file)"},
      {good.substr(0, 12), "has no YUV4MPEG2 header line"},
      {"", "has no YUV4MPEG2 header line"},
      {"YUV4MPEG2 W32 H16 F25:1\n", "holds no frames"},
      {"RIFF W32 H16 F25:1\n", "is not a YUV4MPEG2 file"},
      {"YUV4MPEG2X W32 H16 F25:1\n", "is not a YUV4MPEG2 file"},
      {y4mfile("YUV4MPEG2 W32 H16 F25:1 C444", 32, 16, 1), "has colour space C444; only 8-bit 4:2:0 is read"},
      {y4mfile("YUV4MPEG2 W32 H16 F25:1 C420p10", 32, 16, 1), "has colour space C420p10; only 8-bit 4:2:0 is read"},
      {y4mfile("YUV4MPEG2 W32 H16 F25:1 Cmono", 32, 16, 1), "has colour space Cmono; only 8-bit 4:2:0 is read"},
      {y4mfile("YUV4MPEG2 W32 F25:1", 32, 16, 1), "gives no picture size (W and H)"},
      {y4mfile("YUV4MPEG2 W32 H16", 32, 16, 1), "gives no frame rate (F)"},
      {y4mfile("YUV4MPEG2 W32 H16 F25", 32, 16, 1), "has a bad frame rate \"F25\""},
      {y4mfile("YUV4MPEG2 W32 H16 F0:1", 32, 16, 1), "has a bad frame rate \"F0:1\""},
      {y4mfile("YUV4MPEG2 W-32 H16 F25:1", 32, 16, 1), "has a bad picture size \"W-32\""},
      {y4mfile("YUV4MPEG2 W31 H16 F25:1", 32, 16, 1), "has an odd picture size; 4:2:0 needs an even width and height"},
      {y4mfile("YUV4MPEG2 W32 H16 F25:1", 32, 16, 2, "FRAMEX"), "has no FRAME header at frame 0"},
      {std::string("YUV4MPEG2 W32 H16 F25:1") + std::string(5000, ' ') + "\n", "has no YUV4MPEG2 header line"},
  };
  for (const auto& k : cases) {
    dir.write("clip.y4m", k.data);
    opened o = script("\n\nY4MSource(\"clip.y4m\")");
    EXPECT_EQ(o.code, 3) << k.message;
    EXPECT_EQ(o.msg, "Y4MSource: \"" + dir.path("clip.y4m") + "\" " + k.message + " (t.avs, line 3)");
  }
  opened o = script("Y4MSource(\"none.y4m\")");
  EXPECT_EQ(o.code, 3);
  EXPECT_EQ(o.msg, "Y4MSource: \"" + dir.path("none.y4m") +
                       "\" can't be opened: No such file or directory (t.avs, line 1)");
}

TEST_F(y4msource, frameRequestThatFails) {
  // The file shrinks after the open: the frame server's error is code 6 and the planes keep
  // what they held; frames still in the file come as before.
  std::string data = y4mfile("YUV4MPEG2 W32 H16 F25:1", 32, 16, 3);
  std::string path = dir.write("clip.y4m", data);
  ASSERT_EQ(script("Y4MSource(\"clip.y4m\")").code, 0);
  ASSERT_EQ(truncate(path.c_str(), (off_t)(data.size() - 100)), 0);
  planes p(32, 16);
  EXPECT_EQ(p.get(2), 6);
  EXPECT_TRUE(p == planes(32, 16)) << "planes changed on failure";
  ASSERT_EQ(p.get(1), 0);
  expectframe(p, 1);
}

TEST_F(y4msource, fileFromFfmpeg) {
  // What ffmpeg writes as .y4m reads back as the same pictures ffmpeg decodes from it.
  std::string y4m = dir.path("src.y4m"), raw = dir.path("src.yuv");
  runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                            "testsrc=size=176x144:rate=30000/1001", "-frames:v", "6", "-pix_fmt", "yuv420p", y4m});
  ASSERT_EQ(r.status, 0) << r.err;
  r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-i", y4m, "-f", "rawvideo", "-pix_fmt", "yuv420p", raw});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string want = readfile(raw);
  opened o = openscript(dir.write("f.avs", "Y4MSource(\"" + y4m + "\")"));
  ASSERT_EQ(o.code, 0) << o.msg;
  EXPECT_EQ(o.width, 176);
  EXPECT_EQ(o.height, 144);
  EXPECT_EQ(o.frames, 6);
  EXPECT_EQ(o.fpsnum, 30000);
  EXPECT_EQ(o.fpsden, 1001);
  const size_t fs = 176 * 144 * 3 / 2;
  ASSERT_EQ(want.size(), 6 * fs);
  for (int n : {5, 0, 3}) {
    planes p(176, 144);
    ASSERT_EQ(p.get(n), 0);
    std::string got(p.y.begin(), p.y.end());
    got.append(p.u.begin(), p.u.end());
    got.append(p.v.begin(), p.v.end());
    EXPECT_TRUE(got == want.substr(n * fs, fs)) << "frame " << n;
  }
}
