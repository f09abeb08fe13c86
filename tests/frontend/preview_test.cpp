// The preview: the image of a frame with the mask and shift the encoder applies, where the
// picture goes in a page's box, and the pictures the pages show of real sources: a YUV4MPEG2
// clip, a video file through FFVideoSource and a D2V project through our decoder library. The
// opens' refusals: a picture larger than the preview planes, a decoder library or project that
// is not there.
#include <filesystem>
#include <random>

#include "common/fmtfield.h"
#include "common/yuvpicture.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "resources/frontend.h"
#include "tests/frontend/clips.h"
#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"

namespace {

uint32_t word(const std::vector<uint8_t>& b, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; i--) v = v << 8 | b[at + (size_t)i];
  return v;
}

// The image of a frame as previewbmp writes it (the planes are changed in place).
std::vector<uint8_t> bitmapof(yuvframe& f, int top, int bottom, int shift) {
  std::vector<uint8_t> bmp(bmpheadersize + (size_t)3 * f.w * f.h);
  previewbmp(f.y.data(), f.v.data(), f.u.data(), f.w, f.h, top, bottom, shift, bmp.data());
  return bmp;
}

yuvframe randomframe(std::mt19937& rng, int w, int h) {
  yuvframe f(w, h);
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto* p : {&f.y, &f.u, &f.v})
    for (uint8_t& b : *p) b = (uint8_t)byte(rng);
  return f;
}

// The page's picture box: its size in pixels and the picture painted last.
struct boxpicture {
  int w = 0, h = 0;
  std::vector<uint8_t> rgb;
};
boxpicture painted(int page) {
  boxpicture b;
  if (!dlgpicture(dlgof(page), previewbox, b.rgb, b.w, b.h)) b.w = b.h = 0;
  return b;
}

// A source's frames from ffmpeg: the file it writes and its own decode of it.
std::vector<yuvframe> ffmpegclip(const std::string& file, const std::vector<std::string>& encode, int w, int h,
                                 int frames) {
  std::vector<std::string> a{"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                             "testsrc2=size=" + std::to_string(w) + "x" + std::to_string(h) + ":rate=25",
                             "-frames:v", std::to_string(frames)};
  a.insert(a.end(), encode.begin(), encode.end());
  a.push_back(file);
  runresult r = runcommand(a);
  EXPECT_EQ(r.status, 0) << r.err;
  r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-fps_mode", "passthrough", "-f", "rawvideo",
                  "-pix_fmt", "yuv420p", file + ".yuv"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string raw = readfile(file + ".yuv");
  std::vector<yuvframe> v;
  const size_t fs = (size_t)w * h * 3 / 2;
  for (size_t at = 0; at + fs <= raw.size(); at += fs) {
    yuvframe f(w, h);
    std::copy_n(raw.begin() + (long)at, f.y.size(), f.y.begin());
    std::copy_n(raw.begin() + (long)(at + f.y.size()), f.u.size(), f.u.begin());
    std::copy_n(raw.begin() + (long)(at + f.y.size() + f.u.size()), f.v.size(), f.v.begin());
    v.push_back(f);
  }
  return v;
}

bool sourceholds(const yuvframe& f) {
  return std::equal(f.y.begin(), f.y.end(), sourceplanes.y) && std::equal(f.u.begin(), f.u.end(), sourceplanes.u) &&
         std::equal(f.v.begin(), f.v.end(), sourceplanes.v);
}

// Goes to each frame through page 106's current-frame edit: the source's planes hold the
// frame as given and the page's box shows it at the 4:3 aspect.
void expectframes(const std::vector<yuvframe>& frames, std::initializer_list<int> which) {
  guisettings.guiaspect = 2;
  for (int n : which) {
    usertype(dlgof(pagechapters), 1036, std::to_string(n));
    ASSERT_EQ(previewstate.previewframe, n);
    EXPECT_TRUE(sourceholds(frames[(size_t)n])) << n;
    boxpicture b = painted(pagechapters);
    EXPECT_TRUE(b.rgb == boxmodel(frames[(size_t)n], 2, b.w, b.h)) << n;
  }
}

// A D2V project as the decoder choice leaves it: the input, its version 16, the library of that
// version in the DGDecode folder (when library is set) and not loaded yet.
void setupproject(const std::string& dir, const std::string& project, bool library) {
  std::error_code ec;
  std::filesystem::remove_all(dir + "DGDecode", ec);
  if (library) {
    std::filesystem::create_directories(dir + "DGDecode");
    std::filesystem::copy_file(std::string(OSTREL_PROGDIR) + "/DGDecode/DGDecode16.dll",
                               dir + "DGDecode/DGDecode16.dll");
  }
  writefile(dir + "p.d2v", project);
  inputpath = dir + "p.d2v";
  avsinput = false;
  d2vinput = true;
  d2vversion = 16;
  d2vlibpath = decoderdir + "DGDecode16.dll";
  d2vloaded = false;
}

using previewpage = frontfixture;
}  // namespace

// The colours and the header of the image, as given for the preview: studio black, the brightest
// studio white (floored to 254), a clamped white, a saturated red with a clamped green.
TEST(previewbmp, colourstheheaderandthebottomuprows) {
  yuvframe f(8, 2);
  const int samples[4][3] = {{16, 128, 128}, {235, 128, 128}, {255, 128, 128}, {16, 128, 240}};
  const uint8_t bgr[4][3] = {{0, 0, 0}, {254, 254, 254}, {255, 255, 255}, {0, 0, 178}};
  for (int k = 0; k < 4; k++) {
    for (int x : {2 * k, 2 * k + 1}) {
      f.y[(size_t)x] = (uint8_t)samples[k][0];
      f.y[(size_t)8 + x] = (uint8_t)(samples[k][0] == 255 ? 16 : samples[k][0]);  // the lower row
    }
    f.u[(size_t)k] = (uint8_t)samples[k][1];
    f.v[(size_t)k] = (uint8_t)samples[k][2];
  }
  std::vector<uint8_t> bmp = bitmapof(f, 0, 0, 0);
  // The upper source row is the last row of the image.
  for (int k = 0; k < 4; k++)
    for (int c = 0; c < 3; c++) EXPECT_EQ(bmp[54 + 24 + (size_t)3 * 2 * k + c], bgr[k][c]) << k << " " << c;
  EXPECT_EQ(bmp[54 + 3 * 4], 0);  // the lower row's clamped white is black there

  yuvframe pal(720, 576);
  bmp = bitmapof(pal, 0, 0, 0);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  const struct {
    size_t at;
    int bytes;
    uint32_t value;
  } fields[] = {{2, 4, 1244214}, {6, 4, 0},  {10, 4, 54},    {14, 4, 40},   {18, 4, 720}, {22, 4, 576}, {26, 2, 1},
                {28, 2, 24},     {30, 4, 0}, {34, 4, 1244160}, {38, 4, 2835}, {42, 4, 2835}, {46, 4, 0},  {50, 4, 0}};
  for (const auto& fl : fields) EXPECT_EQ(word(bmp, fl.at, fl.bytes), fl.value) << "byte " << fl.at;
}

// The mask and shift move and fill whole rows as the encoder does: the given cases on a PAL
// picture (rows 1-8 and 569-576 black with chroma rows 1-4 and 285-288; a shift of 4 moves chroma
// 2 rows), odd shifts moving chroma by whole rows, and counts beyond the picture. The planes and
// every pixel of the image are checked.
TEST(previewbmp, maskandshiftasthencoderapplies) {
  std::mt19937 rng(7);
  const struct {
    int w, h, top, bottom, shift;
  } cases[] = {{720, 576, 8, 8, 0}, {720, 576, 0, 0, 4}, {64, 48, 0, 0, 3},    {64, 48, 0, 0, -5},
               {64, 48, 3, 5, 1},   {64, 48, 0, 0, 48},  {64, 48, 0, 0, -999}, {64, 48, 999, 999, 0},
               {90, 50, 7, 1, -1},  {64, 48, -4, -9, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " top " + std::to_string(c.top) + " bottom " +
                 std::to_string(c.bottom) + " shift " + std::to_string(c.shift));
    yuvframe f = randomframe(rng, c.w, c.h);
    yuvframe want = maskedmodel(f, c.top, c.bottom, c.shift);
    std::vector<uint8_t> bmp = bitmapof(f, c.top, c.bottom, c.shift);
    ASSERT_EQ(f.y, want.y);
    ASSERT_EQ(f.u, want.u);
    ASSERT_EQ(f.v, want.v);
    for (int r = 0; r < c.h; r++)
      for (int x = 0; x < c.w; x++) {
        uint8_t rgb[3];
        const size_t ci = (size_t)std::min(r / 2, c.h / 2 - 1) * (c.w / 2) + (size_t)std::min(x / 2, c.w / 2 - 1);
        rgbmodel(want.y[(size_t)r * c.w + x], want.u[ci], want.v[ci], rgb);
        const size_t at = 54 + (size_t)3 * ((size_t)(c.h - 1 - r) * c.w + x);
        ASSERT_EQ(bmp[at], rgb[2]) << x << "," << r;
        ASSERT_EQ(bmp[at + 1], rgb[1]) << x << "," << r;
        ASSERT_EQ(bmp[at + 2], rgb[0]) << x << "," << r;
      }
  }
  // A PAL picture masked 8 rows at top and bottom, its rows read directly.
  yuvframe pal(720, 576);
  std::fill(pal.y.begin(), pal.y.end(), 100);
  std::fill(pal.u.begin(), pal.u.end(), 60);
  bitmapof(pal, 8, 8, 0);
  for (int r : {0, 7, 568, 575}) EXPECT_EQ(pal.y[(size_t)r * 720], 16) << r;
  for (int r : {8, 567}) EXPECT_EQ(pal.y[(size_t)r * 720], 100) << r;
  for (int r : {0, 3, 284, 287}) EXPECT_EQ(pal.u[(size_t)r * 360], 128) << r;
  for (int r : {4, 283}) EXPECT_EQ(pal.u[(size_t)r * 360], 60) << r;
}

// Where the picture goes in the pages' box (404 x 312 pixels) and in a box of exactly the
// 4:3 picture's size.
TEST(previewplace, eachaspectsshapeasbigasitfitscentred) {
  const struct {
    int aspect, bw, bh, x, y, w, h;
  } cases[] = {{1, 404, 312, 46, 0, 312, 312}, {2, 404, 312, 0, 4, 404, 303}, {3, 404, 312, 0, 42, 404, 228},
               {4, 404, 312, 0, 63, 404, 186}, {2, 320, 240, 0, 0, 320, 240}, {0, 404, 312, 0, 0, 0, 0},
               {5, 404, 312, 0, 0, 0, 0},     {3, 0, 0, 0, 0, 0, 0}};
  for (const auto& c : cases) {
    previewrect r = previewplace(c.aspect, c.bw, c.bh);
    EXPECT_EQ(r.x, c.x) << c.aspect << " " << c.bw;
    EXPECT_EQ(r.y, c.y) << c.aspect << " " << c.bw;
    EXPECT_EQ(r.w, c.w) << c.aspect << " " << c.bw;
    EXPECT_EQ(r.h, c.h) << c.aspect << " " << c.bw;
  }
}

// The frame a page shows is the source's frame with the mask and shift, at the aspect's place in
// the box, black around it; the source's planes keep the frame as the source gave it. Both
// pages, every aspect, an odd chroma size (90 x 50).
TEST_F(previewpage, thepictureofframenisthesourceframe) {
  std::mt19937 rng(11);
  for (int size : {0, 1}) {
    const int w = size ? 90 : 176, h = size ? 50 : 144;
    if (size) again();
    std::vector<yuvframe> frames;
    for (int n = 0; n < 12; n++) frames.push_back(randomframe(rng, w, h));
    writefile(dir + "clip.y4m", y4m(frames));
    start("*INFILE " + script("clip.avs", "Y4MSource(\"clip.y4m\")\n") + "\n");
    ASSERT_TRUE(movieinfovalid);
    const struct {
      int page, aspect, top, bottom, shift, click, frame;
    } cases[] = {{pagechapters, 2, 0, 0, 0, 1015, 1},   {pagechapters, 3, 8, 8, 0, 1011, 11},
                 {pagechapters, 1, 0, 0, 4, 1016, 10},  {pagezones, 4, 2, 6, -3, 1014, 0},
                 {pagezones, 2, 0, 0, 7, 1012, 11}};
    for (const auto& c : cases) {
      SCOPED_TRACE("page " + std::to_string(c.page) + " aspect " + std::to_string(c.aspect));
      userselect(dlg(dlgmain), tabcontrol, c.page == pagechapters ? 5 : 6);
      guisettings.guiaspect = c.aspect;
      guisettings.guimask[0] = c.top, guisettings.guimask[1] = c.bottom, guisettings.guimask[2] = c.shift;
      userclick(dlg(c.page), c.click);
      ASSERT_EQ(previewstate.previewframe, c.frame);
      boxpicture b = painted(c.page);
      int x, y, bw, bh;
      ASSERT_TRUE(dlgcontrolrect(dlg(c.page), previewbox, x, y, bw, bh));
      ASSERT_EQ(b.w, bw);
      ASSERT_EQ(b.h, bh);
      EXPECT_TRUE(b.rgb == boxmodel(maskedmodel(frames[(size_t)c.frame], c.top, c.bottom, c.shift), c.aspect, bw, bh));
      EXPECT_TRUE(sourceholds(frames[(size_t)c.frame]));
    }
  }
}

// A video file through FFVideoSource and a D2V project through our versioned decoder library:
// the frame a page shows is the frame ffmpeg decodes. The D2V project is set up as the decoder
// choice leaves it (the library of its version in the DGDecode folder).
TEST_F(previewpage, videofilesandd2vprojectsshowwhatffmpegdecodes) {
  const int w = 176, h = 144;
  std::vector<yuvframe> mkv = ffmpegclip(dir + "clip.mkv", {"-c:v", "mpeg2video", "-g", "6", "-bf", "2"}, w, h, 12);
  ASSERT_EQ(mkv.size(), 12u);
  start("*INFILE " + script("clip.avs", "FFVideoSource(\"clip.mkv\")\n") + "\n");
  ASSERT_TRUE(movieinfovalid) << statustext;
  EXPECT_EQ(guisettings.sourceframes, 12);
  userselect(dlg(dlgmain), tabcontrol, 5);
  expectframes(mkv, {7, 3, 11});

  std::vector<yuvframe> es = ffmpegclip(dir + "clip.m2v", {"-c:v", "mpeg2video", "-g", "12", "-bf", "2"}, w, h, 30);
  ASSERT_EQ(es.size(), 30u);
  setupproject(dir, "DGIndexProjectFile16\n1\n" + dir + "clip.m2v\n\nStream_Type=0\nMPEG_Type=2\n"
                    "Picture_Size=176x144\nField_Operation=0\nFrame_Rate=25000 (25/1)\n\n", true);
  showinfo(" KJ.ini successfully processed", false);
  opend2v(1);
  // 176x144 is no DVD size: the DVD check's warning follows.
  EXPECT_EQ(statustext,
            " KJ.ini successfully processed, DGDecode.dll (project version 16) loaded, DGDecode successfully initialized,"
            "\nWARNING, resolution/frame rate mismatch");
  ASSERT_TRUE(movieinfovalid);
  EXPECT_TRUE(d2vloaded);
  EXPECT_EQ(guisettings.sourceframes, 30);
  EXPECT_FLOAT_EQ(guisettings.sourcefps, 25.0f);
  expectframes(es, {20, 4, 29});
}

// The opens that fail: a picture larger than the preview planes (refused with its size, no input
// left), the largest one that fits, and the D2V failures: no library file, a project that does
// not open.
TEST_F(previewpage, failedopensleavenoinputandsaywhy) {
  const struct {
    const char* script;
    const char* line;
  } scripts[] = {
      {"TestPattern(length=5, width=1936, height=1088)",
       " picture 1936x1088 too large, the largest is 1920x1152"},
      {"TestPattern(length=5, width=720, height=1160)", " picture 720x1160 too large, the largest is 1920x1152"},
      {"TestPattern(length=5, width=1920, height=1152)",
       " KJ.ini successfully processed, Avisynth.dll loaded, Avisynth successfully initialized"},
  };
  for (const auto& s : scripts) {
    if (&s != scripts) again();
    start("*INFILE " + script("clip.avs", std::string(s.script) + "\n") + "\n");
    EXPECT_EQ(statustext, s.line);
    const bool fits = std::string(s.line).find("too large") == std::string::npos;
    EXPECT_EQ(movieinfovalid, fits);
    EXPECT_EQ(inputpath.empty(), !fits);
    EXPECT_EQ(guisettings.sourceframes, fits ? 5 : 0);
    if (!fits) {
      EXPECT_EQ(text(pagemain, 1008), "input file name (*.d2v, *.avs)");
    }
  }

  again();
  start("");
  const struct {
    bool library;
    const char* project;
    const char* line;
  } projects[] = {
      {false, "DGIndexProjectFile16\n1\nnothere.m2v\n", ", DGDecode.dll NOT found in %sDGDecode"},
      {true, "DGIndexProjectFile16\n1\nnothere.m2v\n", ", error initializing DGDecode, can't open mpeg file"},
  };
  for (const auto& p : projects) {
    setupproject(dir, p.project, p.library);
    showinfo("", false);
    opend2v(1);
    std::string want = p.line;
    if (size_t k = want.find("%s"); k != std::string::npos) want.replace(k, 2, dir);
    if (p.library) want = ", DGDecode.dll (project version 16) loaded" + want;
    EXPECT_EQ(statustext, want);
    EXPECT_FALSE(movieinfovalid);
    EXPECT_FALSE(d2vloaded);
    if (p.library) {
      EXPECT_TRUE(inputpath.empty());
      EXPECT_FALSE(d2vinput);
      EXPECT_EQ(text(pagemain, 1008), "input file name (*.d2v, *.avs)");
    }
  }
}
