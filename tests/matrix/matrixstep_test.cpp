// The per-GOP matrix step in-process: the four gain tables against the gain levels as the
// encoder's documentation gives them (in ranges), the scaling's single-precision rounding and
// bounds, the GOP's mean luma in 64 bits, the plug-in call (copies of the class and the mean
// luma, the base pair every time, bounds on whatever comes back), the matrices in the GOP
// record of the statistics stream (byte for byte for the first GOP, read back for every GOP),
// and the reciprocals of a coded dark clip.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "common/matrices.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/quantrecip.h"
#include "encoder/coding/statstream.h"
#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/matrixstep.h"
#include "encoder/passes/pass1.h"
#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {

// The gain levels as documented: factors in hundredths, first at index `from`, rising by
// `step` hundredths per index up to `to`.
struct span {
  int gain, from, to, first, step;
};
constexpr span spans[] = {
    {1, 0, 23, 85, 0},  {1, 24, 26, 86, 0}, {1, 27, 28, 87, 0},  {1, 29, 30, 88, 0},
    {1, 31, 32, 89, 0}, {1, 33, 34, 90, 0}, {1, 35, 36, 91, 0},  {1, 37, 38, 92, 0},
    {1, 39, 40, 93, 0}, {1, 41, 42, 94, 0}, {1, 43, 43, 95, 0},  {1, 44, 44, 96, 0},
    {1, 45, 45, 97, 0}, {1, 46, 47, 98, 0}, {1, 48, 51, 99, 0},  {1, 52, 64, 100, 0},
    {2, 0, 26, 75, 0},  {2, 27, 27, 76, 0}, {2, 28, 28, 77, 0},  {2, 29, 30, 78, 0},
    {2, 31, 32, 79, 0}, {2, 33, 45, 80, 1}, {2, 46, 47, 93, 0},  {2, 48, 49, 94, 0},
    {2, 50, 51, 95, 0}, {2, 52, 53, 96, 0}, {2, 54, 55, 97, 0},  {2, 56, 58, 98, 0},
    {2, 59, 61, 99, 0}, {2, 62, 64, 100, 0},
    {3, 0, 24, 65, 0},  {3, 25, 54, 66, 1}, {3, 55, 56, 96, 0},  {3, 57, 58, 97, 0},
    {3, 59, 60, 98, 0}, {3, 61, 62, 99, 0}, {3, 63, 64, 100, 0},
    {4, 0, 24, 50, 0},  {4, 25, 34, 51, 1}, {4, 35, 44, 62, 2},  {4, 45, 64, 81, 1},
};

// The documented factor of gain 1..4 at mean luma 0..64, in hundredths (0 when undocumented).
int hundredths(int gain, int index) {
  for (const span& s : spans)
    if (s.gain == gain && index >= s.from && index <= s.to) return s.first + s.step * (index - s.from);
  return 0;
}

// The single-precision factor of a two-decimal value.
float factorof(int h) { return h == 100 ? 1.0f : std::stof("0." + std::to_string(h)); }

// Weights into 8..255, intra DC 8: the bounds every adapted pair ends with.
int bounded(int m) { return std::clamp(m, 8, 255); }

matrixpair flatpair(int16_t v) {
  matrixpair p;
  std::fill(std::begin(p.intra), std::end(p.intra), v);
  std::fill(std::begin(p.nonintra), std::end(p.nonintra), v);
  return p;
}

matrixpair builtinpairof(int matrixno) {
  const builtinpair* b = builtinmatrix(matrixno);
  matrixpair p;
  for (int i = 0; i < 64; ++i) {
    p.intra[i] = b->intra[i];
    p.nonintra[i] = b->nonintra[i];
  }
  return p;
}

// What a fake plug-in saw and how it answers.
struct plugincall {
  int32_t cls, luma;
  matrixpair in;
};
std::vector<plugincall> calls;
void (*pluginanswer)(int32_t*, int32_t*, int16_t*, int16_t*) = nullptr;

void fakeplugin(int32_t* cls, int32_t* luma, int16_t* intra, int16_t* nonintra) {
  plugincall c{*cls, *luma, {}};
  std::copy(intra, intra + 64, c.in.intra);
  std::copy(nonintra, nonintra + 64, c.in.nonintra);
  calls.push_back(c);
  if (pluginanswer) pluginanswer(cls, luma, intra, nonintra);
  *cls = 99;  // ignored by the encoder
  *luma = -5;
}

// Weights the encoder must bound: 0, negative, 300 (also in the intra DC position).
void wildanswer(int32_t*, int32_t*, int16_t* intra, int16_t* nonintra) {
  for (int i = 0; i < 64; ++i) intra[i] = nonintra[i] = 0;
  intra[0] = 300;
  intra[9] = 300;
  intra[1] = -300;
  nonintra[63] = 300;
}

// An answer that depends on the GOP: intra luma + i, non-intra 300 - 4i.
void lumaanswer(int32_t*, int32_t* luma, int16_t* intra, int16_t* nonintra) {
  for (int i = 0; i < 64; ++i) {
    intra[i] = int16_t(*luma + i);
    nonintra[i] = int16_t(300 - 4 * i);
  }
}

class matrixstepunit : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = settingsrec{};
    settings.mbcount = 99;  // 176x144
    calls.clear();
    pluginanswer = nullptr;
  }
  void TearDown() override {
    settings = settingsrec{};
    std::fill(std::begin(framelumasum), std::end(framelumasum), 0);
  }
  // Frames first..first+n-1 all of luma sample y.
  void flatframes(int first, int n, int y) {
    for (int f = first; f < first + n; ++f) framelumasum[f] = y * settings.mbcount * 256;
  }
};

}  // namespace

// Every factor of the four tables is the documented one, and scaling a flat 100 pair by it
// gives the factor in hundredths in every entry but the intra DC (8); a mean luma above 64
// takes the last factor, 1.00.
TEST_F(matrixstepunit, gaintablesasdocumented) {
  for (int gain = 1; gain <= 4; ++gain) {
    settings.lumgain = gain;
    for (int luma : {0, 1, 16, 23, 24, 25, 33, 34, 35, 44, 45, 51, 52, 54, 55, 61, 62, 63, 64,
                     65, 128, 255}) {
      const int index = std::min(luma, 64);
      const int h = hundredths(gain, index);
      ASSERT_GT(h, 0) << "gain " << gain << " index " << index;
      EXPECT_EQ(lumgaintables[gain - 1][index], factorof(h)) << "gain " << gain << " index " << index;
      quantmatrices = flatpair(100);
      int32_t l = luma;
      scalematrix(l);
      EXPECT_EQ(quantmatrices.intra[0], 8);
      for (int i = 1; i < 64; ++i) ASSERT_EQ(quantmatrices.intra[i], h) << gain << " " << luma;
      for (int i = 0; i < 64; ++i) ASSERT_EQ(quantmatrices.nonintra[i], h) << gain << " " << luma;
    }
    for (int index = 0; index <= 64; ++index)
      EXPECT_EQ(lumgaintables[gain - 1][index], factorof(hundredths(gain, index)))
          << "gain " << gain << " index " << index;
  }
}

// The product is single precision and rounds halves away from zero; the results are bounded
// to 8..255 with the intra DC at 8. m x 0.51f is exactly 25.5 in single precision for m = 50
// (26), where double precision gives 25.499... (25); m x 0.53f is 26.4999981 (26), where the
// decimal product 26.5 would give 27.
TEST_F(matrixstepunit, scalingroundsinsingleprecision) {
  struct c {
    int gain, luma, m, want;
  } cases[] = {
      {4, 16, 17, 9},  {4, 0, 15, 8},    {4, 0, 9, 8},     {4, 10, 255, 128}, {4, 25, 50, 26},
      {4, 27, 50, 26}, {3, 0, 30, 20},   {1, 64, 255, 255}, {1, 200, 3, 8},   {2, 60, 1, 8},
  };
  for (const c& t : cases) {
    settings.lumgain = t.gain;
    quantmatrices = flatpair(int16_t(t.m));
    int32_t l = t.luma;
    scalematrix(l);
    EXPECT_EQ(quantmatrices.intra[0], 8);
    EXPECT_EQ(quantmatrices.intra[5], t.want) << t.gain << " " << t.luma << " " << t.m;
    EXPECT_EQ(quantmatrices.nonintra[0], t.want) << t.gain << " " << t.luma << " " << t.m;
    EXPECT_EQ(l, t.luma);
  }
}

// The standard pair at gain 4 on black (mean luma 16): the intra matrix halved with halves
// rounded up, the non-intra matrix 8 everywhere.
TEST_F(matrixstepunit, blackhalvesthestandardpair) {
  settings.lumgain = 4;
  basematrices = builtinpairof(16);
  flatframes(100, 12, 16);
  matrixstep(100, 12, 1);
  EXPECT_EQ(gopmeanluma, 16);
  const int16_t begins[8] = {8, 8, 10, 11, 13, 14, 15, 17};
  EXPECT_TRUE(std::equal(begins, begins + 8, quantmatrices.intra));
  EXPECT_EQ(quantmatrices.intra[63], 42);
  for (int i = 1; i < 64; ++i)
    EXPECT_EQ(quantmatrices.intra[i], std::lround(basematrices.intra[i] / 2.0)) << i;
  for (int i = 0; i < 64; ++i) EXPECT_EQ(quantmatrices.nonintra[i], 8) << i;
  // Reciprocals of the new pair: 65535 / weight.
  rebuildrecip();
  EXPECT_EQ(quantrecip.intra[0], 8191);
  EXPECT_EQ(quantrecip.intra[2], 6553);
  EXPECT_EQ(quantrecip.intra[63], 1560);
  EXPECT_EQ(quantrecip.nonintra[17], 8191);
}

// The mean luma of the GOP's own frames, truncated, summed in 64 bits: 36 frames of a
// 1920x1152 picture at luma 235 pass 2^32 many times over.
TEST_F(matrixstepunit, meanlumaofthegopsframes) {
  settings.mbcount = 8640;
  flatframes(1000, 36, 235);
  EXPECT_EQ(meanluma(1000, 36), 235);
  settings.mbcount = 99;
  flatframes(0, 4, 30);
  flatframes(1, 3, 31);
  flatframes(4, 4, 200);
  EXPECT_EQ(meanluma(0, 4), 30);  // 30.75
  EXPECT_EQ(meanluma(2, 4), 115);  // (31 + 31 + 200 + 200) / 4 = 115.5
  EXPECT_EQ(meanluma(0, 0), 0);
  EXPECT_EQ(meanluma(maxframes - 2, 4), 0);  // past the table: counted as 0
}

// The plug-in: once per step with the class given and the mean luma, on copies (what it writes
// there changes nothing), always on the base pair whatever it answered before; its answer is
// bounded. Without adaptation nothing happens; a luminance gain replaces the plug-in's answer.
TEST_F(matrixstepunit, pluginsanswerisbounded) {
  settings.adaptivematrix = true;
  settings.extmatrixentry = fakeplugin;
  settings.gopclass = 7;
  basematrices = builtinpairof(2);
  flatframes(0, 6, 16);
  flatframes(6, 6, 120);

  pluginanswer = wildanswer;
  matrixstep(0, 6, 7);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].cls, 7);
  EXPECT_EQ(calls[0].luma, 16);
  EXPECT_EQ(gopmeanluma, 16);
  EXPECT_EQ(settings.gopclass, 7);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(calls[0].in.intra[i], basematrices.intra[i]) << i;
    EXPECT_EQ(quantmatrices.intra[i], i == 9 ? 255 : 8) << i;
    EXPECT_EQ(quantmatrices.nonintra[i], i == 63 ? 255 : 8) << i;
  }

  // A second GOP starts from the base pair again; a plug-in that changes nothing leaves it.
  pluginanswer = nullptr;
  matrixstep(6, 6, 32);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].cls, 32);
  EXPECT_EQ(calls[1].luma, 120);
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(calls[1].in.intra[i], basematrices.intra[i]) << i;
    EXPECT_EQ(calls[1].in.nonintra[i], basematrices.nonintra[i]) << i;
    EXPECT_EQ(quantmatrices.intra[i], basematrices.intra[i]) << i;
    EXPECT_EQ(quantmatrices.nonintra[i], basematrices.nonintra[i]) << i;
  }

  // With a luminance gain as well (the start-up never leaves both on) the scaling wins.
  settings.lumgain = 4;
  pluginanswer = wildanswer;
  matrixstep(0, 6, 7);
  EXPECT_EQ(calls.size(), 3u);
  EXPECT_EQ(quantmatrices.intra[63], 44);  // 87 x 0.50

  // Neither: nothing changes and no call.
  settings.adaptivematrix = false;
  settings.lumgain = 0;
  quantmatrices = flatpair(77);
  matrixstep(0, 6, 7);
  EXPECT_EQ(calls.size(), 3u);
  EXPECT_EQ(quantmatrices.intra[0], 77);
  EXPECT_FALSE(matricesadapt());
}

namespace {

class matrixrun : public coderun {
 protected:
  void TearDown() override {
    settings.extmatrixentry = nullptr;
    calls.clear();
    pluginanswer = nullptr;
    coderun::TearDown();
  }
  // The settings of a run with adaptation (lumgain, or the fake plug-in when 0): both
  // matrices in every sequence header, as the start-up sets them.
  void adapt(int lumgain) {
    settings.lumgain = lumgain;
    settings.adaptivematrix = lumgain == 0;
    settings.extmatrixentry = lumgain == 0 ? fakeplugin : nullptr;
    matrixloadflags(1, true, loadintramatrix, loadnonintramatrix);
    initheaders();
  }
};

// The luma of frame f of the record test's clip: GOPs of different brightness, one of them
// mixed.
int recordluma(int f) { return f < 4 ? 16 : f < 8 ? (f == 4 ? 30 : 31) : 200; }

}  // namespace

// The first of two passes writes each GOP's matrices after its row words, intra first, 64
// big-endian 16-bit entries each in raster order: byte for byte in the first GOP record, and
// read back for every GOP. With a luminance gain they are the base pair scaled by the GOP's
// own mean luma; with the plug-in, its bounded answer for the GOP's own class and mean luma.
TEST_F(matrixrun, goprecordcarriesthegopsmatrices) {
  for (int lumgain : {4, 0}) {
    const std::string what = lumgain ? "luminance gain 4" : "plug-in";
    runsetup r;
    r.width = 176;
    r.height = 144;
    r.frames = 12;
    r.goplength = 4;
    prepare(r);
    adapt(lumgain);
    pluginanswer = lumaanswer;
    settings.passmode = 2;
    const std::string dbs = dir + "/KJ.dbs";
    ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
    encode([](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
      flatpicture(uint8_t(recordluma(f)), 128, 128)(f, y, u, v);
    });
    ASSERT_EQ(nextstep.load(), steppass2) << what;

    // GOP by GOP: what the matrices must be, from the GOP's frames.
    ASSERT_TRUE(dbsreadstart());
    std::vector<matrixpair> want;
    int first = 0;
    for (int g = 1; g <= gopcount; ++g) {
      gopstatrecord rec;
      ASSERT_TRUE(readgopunit(rec)) << what << " GOP " << g;
      int sum = 0;
      for (int f = first; f < first + rec.n; ++f) sum += recordluma(f);
      const int luma = sum / rec.n;
      matrixpair m = basematrices;
      for (int i = 0; i < 64; ++i) {
        if (lumgain) {
          const float f = factorof(hundredths(4, std::min(luma, 64)));
          m.intra[i] = int16_t(bounded(int(std::lround(basematrices.intra[i] * f))));
          m.nonintra[i] = int16_t(bounded(int(std::lround(basematrices.nonintra[i] * f))));
        } else {
          m.intra[i] = int16_t(bounded(luma + i));
          m.nonintra[i] = int16_t(bounded(300 - 4 * i));
        }
      }
      m.intra[0] = 8;
      if (!lumgain) {
        ASSERT_EQ(int(calls.size()), gopcount) << what;
        EXPECT_EQ(calls[g - 1].luma, luma) << what << " GOP " << g;
        EXPECT_EQ(calls[g - 1].cls, rec.gopclass) << what << " GOP " << g;
      }
      for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(rec.intra[i], m.intra[i]) << what << " GOP " << g << " intra " << i;
        EXPECT_EQ(rec.nonintra[i], m.nonintra[i]) << what << " GOP " << g << " non-intra " << i;
      }
      want.push_back(m);
      first += rec.n;
    }
    EXPECT_EQ(first, 12) << what;
    ASSERT_GE(want.size(), 3u) << what;

    // The first record as bytes: n, b, closed, the three lists of n, the class (4 bytes), the
    // row words (4 bytes each of mbrows rows per picture), then the matrices.
    const std::vector<uint8_t> bytes = readbytes(dbs);
    const int n = bytes.at(0);
    const size_t at = 3 + 3 * size_t(n) + 4 + 4 * size_t(n) * 9;
    ASSERT_GT(bytes.size(), at + 256);
    for (int i = 0; i < 128; ++i) {
      const int v = (bytes[at + 2 * i] << 8) | bytes[at + 2 * i + 1];
      EXPECT_EQ(v, i < 64 ? want[0].intra[i] : want[0].nonintra[i - 64]) << what << " " << i;
    }
    // The reciprocals the last GOP coded with.
    for (int i = 0; i < 64; ++i) {
      EXPECT_EQ(quantrecip.intra[i], 65535 / want.back().intra[i]) << what << " " << i;
      EXPECT_EQ(quantrecip.nonintra[i], 65535 / want.back().nonintra[i]) << what << " " << i;
    }
    TearDown();
    SetUp();
  }
}

namespace {

// A dark picture with detail: luma 16..47 in a pattern that moves a little per frame (mean
// luma about 31, well under 64).
void darkpicture(int f, uint8_t* y, uint8_t* u, uint8_t* v) {
  const int w = settings.width, h = settings.displayheight;
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) y[r * w + c] = uint8_t(16 + (((c + f) * 7) ^ (r * 5)) % 32);
  std::fill(u, u + w * h / 4, 120);
  std::fill(v, v + w * h / 4, 136);
}

// The mean luma sample of the first frames of the dark clip, truncated.
int darkmean(int frames) {
  const int w = settings.width, h = settings.displayheight;
  std::vector<uint8_t> y(size_t(w) * h), u(size_t(w) * h / 4), v(size_t(w) * h / 4);
  int64_t sum = 0;
  for (int f = 0; f < frames; ++f) {
    darkpicture(f, y.data(), u.data(), v.data());
    for (uint8_t s : y) sum += s;
  }
  return int(sum / (int64_t(frames) * w * h));
}

double lumapsnr(const std::vector<uint8_t>& yuv, int frames) {
  const int w = settings.width, h = settings.displayheight;
  const size_t fsize = size_t(w) * h * 3 / 2;
  std::vector<uint8_t> y(size_t(w) * h), u(size_t(w) * h / 4), v(size_t(w) * h / 4);
  double se = 0;
  for (int f = 0; f < frames; ++f) {
    darkpicture(f, y.data(), u.data(), v.data());
    for (size_t i = 0; i < y.size(); ++i) {
      const double d = double(yuv[f * fsize + i]) - y[i];
      se += d * d;
    }
  }
  const double mse = se / (double(frames) * w * h);
  return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

}  // namespace

// A dark clip at gain 4 codes with the halved matrices and their reciprocals: a finer picture
// for more bits than without the gain. Quantising with the reciprocals of the unscaled pair
// while the decoder scales back with the halved one would halve every coefficient instead.
TEST_F(matrixrun, darkclipcodesfinerwiththegain) {
  double psnr[2] = {0, 0};
  int64_t bits[2] = {0, 0};
  for (int lumgain : {0, 4}) {
    runsetup r;
    r.width = 176;
    r.height = 144;
    r.frames = 6;
    r.goplength = 6;
    r.cq = 8.0f;
    prepare(r);
    if (lumgain) adapt(lumgain);
    encode(darkpicture);
    unitclose(unitstream);
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    const std::vector<uint8_t> yuv = decodeyuv(m2v);
    ASSERT_EQ(yuv.size(), size_t(6) * 176 * 144 * 3 / 2);
    const int k = lumgain ? 1 : 0;
    psnr[k] = lumapsnr(yuv, 6);
    bits[k] = totalbits;
    if (lumgain) {
      EXPECT_EQ(gopmeanluma, darkmean(6));
    }
    TearDown();
    SetUp();
  }
  std::printf("dark clip at quantiser 8: %.2f dB in %lld bits, with gain 4 %.2f dB in %lld bits\n",
              psnr[0], (long long)bits[0], psnr[1], (long long)bits[1]);
  EXPECT_GT(psnr[0], 30.0);
  EXPECT_GT(psnr[1], psnr[0] + 2.0);
  EXPECT_GT(bits[1], bits[0]);
}
