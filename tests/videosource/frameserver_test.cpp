// Our frame server through the bridge: the script language and its messages, the result codes
// of avsopen, the plane copy, and the generated clips.
#include <cstring>

#include "libs/avisynth/frameserver.h"
#include "tests/videosource/vstest.h"

using frameserver = withframeserver;

TEST_F(frameserver, scriptErrorsNameTheLineAndTheFault) {
  struct c {
    const char* script;
    const char* message;  // the whole text the frame server gives
  } cases[] = {
      {"# a comment\n\nBlankClip(width=64\n",
       "Script error: expected \",\" or \")\" in the arguments of BlankClip but found the end of the script (t.avs, line 4)"},
      {"BlankClip(width=64,, height=32)", "Script error: expected a value but found \",\" (t.avs, line 1)"},
      {"\n  FooSource(\"x\")", "Script error: there is no function named \"FooSource\" (t.avs, line 2)"},
      {"BlankClip(\n  widht=64)", "Script error: BlankClip has no argument named \"widht\" (t.avs, line 1)"},
      {"BlankClip(width=\"64\")", "Script error: BlankClip: argument \"width\" must be an integer (t.avs, line 1)"},
      {"BlankClip(width=64, width=32)", "Script error: BlankClip: argument \"width\" is given twice (t.avs, line 1)"},
      {"BlankClip(width=64, 32)", "Script error: BlankClip: a positional argument follows a named one (t.avs, line 1)"},
      {"Y4MSource(\"a\", \"b\")", "Script error: Y4MSource takes at most 1 argument (t.avs, line 1)"},
      {"\n\nY4MSource(\"x.y4m)\n", "Script error: string not closed before the end of the line (t.avs, line 3)"},
      {"BlankClip()\nBlankClip()", "Script error: only one expression is allowed in a script, but \"B\" follows it (t.avs, line 2)"},
      {"BlankClip(width=12x)", "Script error: bad number \"12x\" (t.avs, line 1)"},
      {"BlankClip(width=99999999999)", "Script error: number 99999999999 is too large (t.avs, line 1)"},
      {"", "Script error: expected a value but found the end of the script (t.avs, line 1)"},
      {"BlankClip(pixel_type=\"YUY2\")",
       "BlankClip: pixel_type \"YUY2\" is not YV12, I420, RGB32 or YUV420P16 (t.avs, line 1)"},
      {"\nBlankClip(width=63)", "BlankClip: 4:2:0 needs an even width and height (t.avs, line 2)"},
      {"TestPattern(fps=0)", "TestPattern: fps must be above 0 and fps_denominator at least 1 (t.avs, line 1)"},
      {"TestPattern(cut=-3)", "TestPattern: cut must not be negative (t.avs, line 1)"},
      {"Import(\"t.avs\")", "Import: scripts nested more than 16 deep at \"DIR/t.avs\""},
  };
  for (const auto& k : cases) {
    opened o = script(k.script);
    std::string want = k.message;
    if (size_t p = want.find("DIR/"); p != std::string::npos) want.replace(p, 3, dir.dir());
    EXPECT_EQ(o.code, 3) << k.script;
    EXPECT_EQ(o.msg, want) << k.script;
    EXPECT_EQ(o.width, -1) << "outputs written on failure";
  }
}

TEST_F(frameserver, missingScriptIsTheFrameServersError) {
  opened o = openscript(dir.path("none.avs"));
  EXPECT_EQ(o.code, 3);
  EXPECT_EQ(o.msg, "Import: can't open \"" + dir.path("none.avs") + "\"");
}

TEST_F(frameserver, messageIsBlankPaddedAndNeverLonger) {
  std::string s = dir.write("t.avs", "Nope()");
  char buf[40];
  std::memset(buf, '#', sizeof buf);
  int w = -1, h, n, a, b;
  EXPECT_EQ(avsopen(s.c_str(), w, h, n, a, b, buf, 30), 3);
  EXPECT_EQ(std::string(buf, 30), "Script error: there is no func");
  EXPECT_EQ(std::string(buf + 30, 10), "##########");  // beyond the given length: untouched
  EXPECT_EQ(avsopen(s.c_str(), w, h, n, a, b, buf, 0), 3);
  // A short message is padded with blanks to the buffer's length.
  std::string t = dir.write("u.avs", "X");
  char big[120];
  std::memset(big, '#', sizeof big);
  EXPECT_EQ(avsopen(t.c_str(), w, h, n, a, b, big, 100), 3);
  std::string m(big, 100);
  EXPECT_EQ(m.substr(0, 13), "Script error:");
  EXPECT_EQ(m.find('#'), std::string::npos);
  EXPECT_EQ(m.back(), ' ');
  EXPECT_EQ(big[100], '#');
}

TEST_F(frameserver, openCodes) {
  struct c {
    const char* script;
    int code;
  } cases[] = {
      {"BlankClip(pixel_type=\"RGB32\")", 5},
      {"BlankClip(pixel_type=\"YUV420P16\")", 5},  // 4:2:0 but 16-bit samples: would overflow the planes
      {"BlankClip(width=0)", 4},
      {"42", 4},           // the result is not a clip
      {"\"a text\"", 4},
      {"true", 4},
      {"BlankClip(pixel_type=\"i420\")", 0},
      {"blankclip(PIXEL_TYPE=\"yv12\")", 0},  // names compare without case
  };
  for (const auto& k : cases) {
    opened o = script(k.script);
    EXPECT_EQ(o.code, k.code) << k.script << " " << o.msg;
    if (k.code != 3) {
      EXPECT_EQ(o.msg, std::string(512, '#')) << "message buffer touched";
    }
    if (k.code != 0) {
      EXPECT_EQ(o.width, -1) << k.script;
      planes p(64, 64);
      EXPECT_EQ(p.get(0), 6) << "a failed open keeps no clip";
    }
  }
}

TEST_F(frameserver, openOutputs) {
  struct c {
    const char* script;
    int w, h, frames, num, den, pix;
  } cases[] = {
      {"BlankClip()", 640, 480, 240, 25, 1, pixyv12},
      {"BlankClip(length=7, width=720, height=480, fps=30000, fps_denominator=1001, pixel_type=\"I420\")", 720, 480,
       7, 30000, 1001, pixi420},
      {"TestPattern(length=12, width=352, height=288, fps=29.97)", 352, 288, 12, 2997, 100, pixyv12},
      {"TestPattern(12, 176, 144, 24)", 176, 144, 12, 24, 1, pixyv12},
      {"TestPattern(fps=50, fps_denominator=2)", 720, 576, 250, 25, 1, pixyv12},
      {"# comment line\nTestPattern( length = 3 , # trailing\n  width=32, height=32 )  # end\n\n", 32, 32, 3, 25, 1,
       pixyv12},
  };
  for (const auto& k : cases) {
    opened o = script(k.script);
    ASSERT_EQ(o.code, 0) << k.script << " " << o.msg;
    EXPECT_EQ(o.width, k.w) << k.script;
    EXPECT_EQ(o.height, k.h) << k.script;
    EXPECT_EQ(o.frames, k.frames) << k.script;
    EXPECT_EQ(o.fpsnum, k.num) << k.script;
    EXPECT_EQ(o.fpsden, k.den) << k.script;
    EXPECT_EQ(o.pixeltype, k.pix) << k.script;
  }
}

TEST_F(frameserver, importRelativeToTheScript) {
  dir.write("inner.avs", "BlankClip(length=3, width=16, height=16)");
  opened o = script("Import(\"inner.avs\")");
  ASSERT_EQ(o.code, 0) << o.msg;
  EXPECT_EQ(o.frames, 3);
}

TEST_F(frameserver, yv12AndI420GiveTheSamePlanes) {
  // Distinct Y, U and V values: a swap of U and V shows.
  planes a(32, 16), b(32, 16);
  ASSERT_EQ(script("BlankClip(length=2, width=32, height=16, color_yuv=$508040, pixel_type=\"YV12\")").code, 0);
  ASSERT_EQ(a.get(0), 0);
  ASSERT_EQ(script("BlankClip(length=2, width=32, height=16, color_yuv=0x508040, pixel_type=\"I420\")").code, 0);
  ASSERT_EQ(b.get(1), 0);
  EXPECT_EQ(a.y, std::vector<uint8_t>(512, 0x50));
  EXPECT_EQ(a.u, std::vector<uint8_t>(128, 0x80));
  EXPECT_EQ(a.v, std::vector<uint8_t>(128, 0x40));
  EXPECT_TRUE(a == b);
}

TEST_F(frameserver, planeCopyStaysInsideTheDestination) {
  // Rows of a wider destination keep their bytes right of the picture; nothing below the
  // picture is written (canaries around every plane).
  ASSERT_EQ(script("BlankClip(length=1, width=40, height=20, color_yuv=$112233)").code, 0);
  const int lp = 48, cp = 32, guard = 64;
  std::vector<uint8_t> y(lp * 20 + guard, 0xEE), u(cp * 10 + guard, 0xEE), v(cp * 10 + guard, 0xEE);
  ASSERT_EQ(avsgetframe(0, lp, cp, y.data(), u.data(), v.data()), 0);
  for (int r = 0; r < 20; r++)
    for (int x = 0; x < lp; x++) ASSERT_EQ(y[r * lp + x], x < 40 ? 0x11 : 0xEE) << r << " " << x;
  for (int r = 0; r < 10; r++)
    for (int x = 0; x < cp; x++) {
      ASSERT_EQ(u[r * cp + x], x < 20 ? 0x22 : 0xEE) << r << " " << x;
      ASSERT_EQ(v[r * cp + x], x < 20 ? 0x33 : 0xEE) << r << " " << x;
    }
  for (int i = 0; i < guard; i++) {
    ASSERT_EQ(y[lp * 20 + i], 0xEE);
    ASSERT_EQ(u[cp * 10 + i], 0xEE);
    ASSERT_EQ(v[cp * 10 + i], 0xEE);
  }
  // A pitch narrower than the picture cuts the rows instead of running into the next one.
  std::vector<uint8_t> ny(32 * 20 + guard, 0xEE), nu(16 * 10 + guard, 0xEE), nv(16 * 10 + guard, 0xEE);
  ASSERT_EQ(avsgetframe(0, 32, 16, ny.data(), nu.data(), nv.data()), 0);
  EXPECT_EQ(ny[32 * 20], 0xEE);
  EXPECT_EQ(nu[16 * 10], 0xEE);
}

TEST_F(frameserver, framesBeyondTheClipAreItsEnds) {
  ASSERT_EQ(script("TestPattern(length=10, width=160, height=96)").code, 0);
  planes first(160, 96), last(160, 96), past(160, 96), before(160, 96);
  ASSERT_EQ(first.get(0), 0);
  ASSERT_EQ(last.get(9), 0);
  ASSERT_EQ(past.get(500), 0);
  ASSERT_EQ(before.get(-4), 0);
  EXPECT_TRUE(past == last);
  EXPECT_TRUE(before == first);
  EXPECT_FALSE(first == last);
}

TEST_F(frameserver, reopenReplacesTheClip) {
  ASSERT_EQ(script("BlankClip(length=3, width=16, height=16, color_yuv=$202020)").code, 0);
  opened o = script("BlankClip(length=9, width=32, height=16, color_yuv=$303030)");
  ASSERT_EQ(o.code, 0);
  planes p(32, 16);
  ASSERT_EQ(p.get(0), 0);
  EXPECT_EQ(p.y, std::vector<uint8_t>(512, 0x30));
}

namespace {

// Mean luma and mean absolute difference of two frames' luma.
double mad(const planes& a, const planes& b) {
  double s = 0;
  for (size_t i = 0; i < a.y.size(); i++) s += std::abs(a.y[i] - b.y[i]);
  return s / (double)a.y.size();
}

double mean(const planes& a) {
  double s = 0;
  for (uint8_t b : a.y) s += b;
  return s / (double)a.y.size();
}

}  // namespace

TEST_F(frameserver, testPatternMovesHasDetailAndCuts) {
  const int w = 352, h = 288;
  ASSERT_EQ(script("TestPattern(length=20, width=352, height=288, cut=10)").code, 0);
  std::vector<planes> f;
  for (int n = 0; n < 20; n++) {
    f.emplace_back(w, h);
    ASSERT_EQ(f.back().get(n), 0);
  }
  planes again(w, h);
  ASSERT_EQ(again.get(4), 0);
  EXPECT_TRUE(again == f[4]) << "not deterministic";

  // Detail: every macroblock row of every frame has luma and chroma that vary.
  for (int n : {0, 9, 10, 19})
    for (int row = 0; row < h / 16; row++) {
      int lo = 255, hi = 0, clo = 255, chi = 0;
      for (int y = row * 16; y < row * 16 + 16; y++)
        for (int x = 0; x < w; x++) {
          lo = std::min<int>(lo, f[n].y[y * w + x]);
          hi = std::max<int>(hi, f[n].y[y * w + x]);
        }
      for (int y = row * 8; y < row * 8 + 8; y++)
        for (int x = 0; x < w / 2; x++) {
          clo = std::min<int>(clo, f[n].u[y * w / 2 + x]);
          chi = std::max<int>(chi, f[n].u[y * w / 2 + x]);
        }
      EXPECT_GE(hi - lo, 40) << "frame " << n << " row " << row;
      EXPECT_GE(chi - clo, 8) << "frame " << n << " row " << row;
    }

  // Motion: the background of frame n + 1 is frame n moved 2 left and 1 up (away from the box
  // in the top left quarter); the second scene moves 3 right and 2 down.
  auto moved = [&](int n, int dx, int dy, int x0, int y0) {
    int diff = 0;
    for (int y = y0; y < y0 + 64; y++)
      for (int x = x0; x < x0 + 64; x++) diff += f[n + 1].y[y * w + x] != f[n].y[(y + dy) * w + x + dx];
    return diff;
  };
  EXPECT_EQ(moved(3, 2, 1, 250, 200), 0);
  EXPECT_EQ(moved(14, -3, -2, 100, 100), 0);
  EXPECT_GT(mad(f[3], f[4]), 5.0) << "no motion";

  // The cut: the mean luma jumps between frames 9 and 10 and hardly moves within a scene.
  for (int n = 0; n < 19; n++) {
    double step = std::abs(mean(f[n + 1]) - mean(f[n]));
    if (n == 9)
      EXPECT_GT(step, 30.0);
    else
      EXPECT_LT(step, 4.0) << "frame " << n;
  }
  // Without cut the picture goes on moving the first way.
  ASSERT_EQ(script("TestPattern(length=20, width=352, height=288)").code, 0);
  planes p10(w, h);
  ASSERT_EQ(p10.get(10), 0);
  EXPECT_FALSE(p10 == f[10]);
}
