// The I picture coder, read back by ffmpeg: flat pictures decode exactly, natural pictures
// within 1 of the encoder's own reconstruction, the slices carry the quantiser map's values,
// and the interlaced and pulldown forms decode as well.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "encoder/coding/ipicture.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/quantmap.h"
#include "encoder/control/framestore.h"
#include "encoder/control/settings.h"
#include "encoder/passes/passhooks.h"
#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {

// The reconstruction of every picture as the coder left it in its slot, in coding order: the
// clips below are all I pictures (GOPs of one picture), each reconstructed into slot 1.
struct reconcapture {
  std::vector<std::vector<uint8_t>> pictures;
  reconcapture() {
    passafter = [this](int, int, const pictargs& a) {
      const settingsrec& st = settings;
      std::vector<uint8_t> p(size_t(st.lumasize + 2 * st.chromasize));
      std::memcpy(p.data(), reconplane(a.curslot, 0), size_t(st.lumasize));
      std::memcpy(p.data() + st.lumasize, reconplane(a.curslot, 1), size_t(st.chromasize));
      std::memcpy(p.data() + st.lumasize + st.chromasize, reconplane(a.curslot, 2),
                  size_t(st.chromasize));
      pictures.push_back(std::move(p));
    };
  }
  ~reconcapture() { passafter = nullptr; }
  // Largest difference between a decoded yuv420p frame and picture k's reconstruction.
  int distance(const uint8_t* frame, int k) const {
    const int w = settings.width, h = settings.displayheight;
    const uint8_t* rec = pictures[k].data();
    const uint8_t* r[3] = {rec, rec + settings.lumasize, rec + settings.lumasize + settings.chromasize};
    const uint8_t* planes[3] = {frame, frame + w * h, frame + w * h + w * h / 4};
    int worst = 0;
    for (int c = 0; c < 3; ++c) {
      int pw = c ? w / 2 : w, ph = c ? h / 2 : h;
      for (int i = 0; i < pw * ph; ++i) worst = std::max(worst, std::abs(planes[c][i] - r[c][i]));
    }
    return worst;
  }
};

double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double se = 0;
  for (size_t i = 0; i < n; ++i) se += double(a[i] - b[i]) * (a[i] - b[i]);
  return se == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / se);
}

}  // namespace

using ipicture = coderun;

TEST_F(ipicture, flatgreyframedecodesto128everywhere) {
  runsetup r;
  encodeclip(r, flatpicture(128, 128, 128));
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
  ASSERT_EQ(yuv.size(), 720u * 576 * 3 / 2) << why;
  for (size_t i = 0; i < yuv.size(); ++i) ASSERT_EQ(yuv[i], 128) << i;
  // 36 slices with start codes 0x101..0x124, and the picture's bits are whole bytes.
  std::vector<uint8_t> s = readbytes(m2v);
  std::vector<int> rows;
  for (const streamitem& it : startcodes(s))
    if (it.code >= 1 && it.code <= 0xAF) rows.push_back(it.code);
  ASSERT_EQ(rows.size(), 36u);
  for (int k = 0; k < 36; ++k) EXPECT_EQ(rows[k], k + 1);
  EXPECT_EQ(picslots[1].picbits, 8 * picslots[1].picbytes);
  EXPECT_EQ(picslots[1].picbytes, picslots[1].streamcursor.bytepos);
}

TEST_F(ipicture, flatframesdecodeexactlyateveryDCprecision) {
  for (int dcprec : {0, 1, 2}) {
    for (int v : {16, 128, 255}) {
      runsetup r;
      r.dcprec = dcprec;
      encodeclip(r, flatpicture(uint8_t(v), uint8_t(v), uint8_t(v)));
      std::string why;
      ASSERT_TRUE(decodesclean(m2v, &why)) << dcprec << " " << v << ": " << why;
      std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
      ASSERT_EQ(yuv.size(), 720u * 576 * 3 / 2) << why;
      size_t bad = 0;
      for (uint8_t b : yuv) bad += b != v;
      EXPECT_EQ(bad, 0u) << "DC bits " << 8 + dcprec << ", value " << v;
      TearDown();
      SetUp();
    }
  }
}

// Three different pictures in one GOP: each decodes within 1 of the slot's reconstruction
// (the inverse transforms may differ by one step), and stays near the source.
TEST_F(ipicture, naturalpicturesdecodewithin1ofthereconstruction) {
  runsetup r;
  r.frames = 3;
  r.goplength = 1;
  reconcapture rec;
  encodeclip(r, naturalpicture());
  ASSERT_EQ(rec.pictures.size(), 3u);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
  const size_t fsize = 720 * 576 * 3 / 2;
  ASSERT_EQ(yuv.size(), 3 * fsize) << why;
  std::vector<uint8_t> src(fsize);
  for (int f = 0; f < 3; ++f) {
    EXPECT_LE(rec.distance(yuv.data() + f * fsize, f), 1) << "frame " << f;
    naturalpicture()(f, src.data(), src.data() + 720 * 576, src.data() + 720 * 576 * 5 / 4);
    double p = psnr(src.data(), yuv.data() + f * fsize, 720 * 576);
    EXPECT_GT(p, 36.0) << "frame " << f;
    std::printf("frame %d: luma PSNR %.2f dB\n", f, p);
  }
}

// The stream does not depend on the processor: every level the host runs gives the same bytes.
TEST_F(ipicture, everykernellevelgivesthesamestream) {
  std::vector<uint8_t> first;
  for (int level = 1; level <= hostlevel(); ++level) {
    runsetup r;
    r.frames = 2;
    r.goplength = 2;
    r.simdlevel = level;
    encodeclip(r, naturalpicture());
    std::vector<uint8_t> s = readbytes(m2v);
    ASSERT_FALSE(s.empty());
    if (level == 1) first = s;
    else EXPECT_TRUE(s == first) << "level " << level;
    TearDown();
    SetUp();
  }
}

// 7.4 with 30 of 36 rows carrying detail: the 12 most active rows at 8, all others at 7.
TEST_F(ipicture, slicequantisersfollowthemap) {
  runsetup r;
  r.cq = 7.4f;
  picturefn rows = [](int, uint8_t* y, uint8_t* u, uint8_t* v) {
    const int w = settings.width, h = settings.displayheight;
    for (int line = 0; line < h; ++line) {
      int mbrow = line / 16;
      int amp = mbrow < 6 ? 0 : 2 * (mbrow - 5);  // rows 7..36: detail growing downwards
      for (int c = 0; c < w; ++c) y[line * w + c] = uint8_t(120 + ((c + line) % 2 ? amp : -amp));
    }
    std::fill(u, u + w * h / 4, 128);
    std::fill(v, v + w * h / 4, 128);
  };
  encodeclip(r, rows);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  std::vector<int> q = slicequants(readbytes(m2v), 0);
  ASSERT_EQ(q.size(), 36u);
  for (int row = 1; row <= 36; ++row) EXPECT_EQ(q[row - 1], row > 24 ? 8 : 7) << "row " << row;
  for (int row = 1; row <= 36; ++row) EXPECT_EQ(q[row - 1], rowquant[1][row]);
}

// The statistics record of an I picture: 72 bits, the record code, the frame's luma sum,
// the type and the forced-intra flag's low bits.
TEST_F(ipicture, statisticsrecordis72bits) {
  runsetup r;
  prepare(r);
  settings.streamout = false;
  settings.writestats = true;
  flatpicture(100, 128, 128)(0, ringplane(1, 0), ringplane(1, 1), ringplane(1, 2));
  framering[1].lumasum = 0x12345678;
  picslots[1].mecostflag = -1;
  pictargs a;
  a.curframe = 1;
  a.curslot = 1;
  float q = 4.0f;
  settings.gopframe = 7;
  codeipicture(a, q);
  EXPECT_EQ(settings.gopframe, 8);
  const picslot& sl = picslots[1];
  ASSERT_EQ(sl.statcursor.bytepos, 9);
  EXPECT_EQ(sl.statcursor.usedbits, 0);
  const uint8_t want[9] = {0, 0, 1, 1, 0x12, 0x34, 0x56, 0x78, 0x1F};
  EXPECT_EQ(std::memcmp(sl.statbits.data(), want, 9), 0);
  // Counting mode: the headers are written, the blocks only counted.
  EXPECT_EQ(sl.picbytes, sl.picbits / 8);
  EXPECT_GT(sl.picbits, 1620 * 6 * 3);  // at least a DC size and an end of block per block
  EXPECT_LT(sl.streamcursor.bytepos, 1620 * 2 + 36 * 6 + 20);  // headers only
}

// Interlaced coding: every macroblock has its dct_type bit, and a height that is not a multiple
// of 32 is coded padded (720 lines as 736), so the stream decodes to the source's 720 lines.
TEST_F(ipicture, interlacedpaddedpicturedecodes) {
  runsetup r;
  r.width = 1280;
  r.height = 720;
  r.interlaced = true;
  r.frames = 2;
  r.goplength = 1;
  reconcapture rec;
  encodeclip(r, naturalpicture());
  ASSERT_EQ(rec.pictures.size(), 2u);
  EXPECT_EQ(settings.height, 736);
  EXPECT_EQ(settings.displayheight, 720);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
  const size_t fsize = 1280 * 720 * 3 / 2;
  ASSERT_EQ(yuv.size(), 2 * fsize) << why;
  for (int f = 0; f < 2; ++f) EXPECT_LE(rec.distance(yuv.data() + f * fsize, f), 1);
  // The padded lines were coded black.
  EXPECT_NEAR(rec.pictures[1][1280 * 735 + 640], 16, 1);
  std::vector<int> q = slicequants(readbytes(m2v), 0);
  EXPECT_EQ(q.size(), 46u);
}
