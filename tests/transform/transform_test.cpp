// The block kernels: every form the host runs equals the plain C++ reference bit for bit
// (levels, pattern byte, reconstruction, nothing written outside them), the fixed values of
// flat blocks, and the dequantisation and inverse transform against an independent
// implementation of the MPEG-2 rules. Seeds are printed; OSTREL_SEED=n repeats a run.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "encoder/coding/transform.h"
#include "tests/transform/kernelpaths.h"

namespace {

constexpr uint8_t canary = 0xA5;
constexpr int16_t levelcanary = 0x5A5A;
constexpr int guard = 32;  // bytes of canary before and after every output

uint32_t testseed() {
  static uint32_t seed = [] {
    const char* s = std::getenv("OSTREL_SEED");
    uint32_t v = s ? uint32_t(std::strtoul(s, nullptr, 10)) : std::random_device{}();
    std::printf("transform kernels: seed %u (OSTREL_SEED=%u repeats this run)\n", v, v);
    return v;
  }();
  return seed;
}

// The caller's matrix state: weights and their reciprocals, 16-byte aligned.
struct matrix {
  alignas(16) int16_t w[64];
  alignas(16) uint16_t r[64];
  void set(int i, int weight, bool startup) {
    w[i] = int16_t(weight);
    // At start-up floor(65536 / w) (65535 for a weight of 1); after a rescale 65535 / w.
    r[i] = uint16_t(startup ? (weight == 1 ? 65535 : 65536 / weight) : 65535 / weight);
  }
  void flat(int weight, bool startup) {
    for (int i = 0; i < 64; i++) set(i, weight, startup);
  }
};

// Planes and outputs of one call, with canaries around every output.
struct callbuffers {
  int32_t stride = 0, rows = 0;
  std::vector<uint8_t> src;        // intra source / prediction plane
  std::vector<int16_t> resid;      // residual plane (16-byte aligned rows)
  std::vector<uint8_t> plane;      // mode-2 destination, guard bytes on both ends
  alignas(16) uint8_t block[guard + 64 + guard];
  alignas(16) int16_t levels[guard + 64 + guard];
  uint8_t pattern = 0;

  void alloc(int32_t s, int32_t r) {
    stride = s;
    rows = r;
    src.assign(size_t(s) * r, 0);
    resid.assign(size_t(s) * r + 8, 0);
    plane.assign(size_t(s) * r + 2 * guard, canary);
    std::memset(block, canary, sizeof block);
    for (auto& l : levels) l = levelcanary;
  }
  // The residual plane as the 16-byte forms need it: aligned start.
  int16_t* residbase() {
    auto a = reinterpret_cast<uintptr_t>(resid.data());
    return resid.data() + ((16 - a % 16) % 16) / 2;
  }
  uint8_t* dest(int32_t mode) { return mode == 1 ? block + guard : plane.data() + guard; }
  int16_t* levelout() { return levels + guard; }
};

struct callargs {
  int32_t x = 0, y = 0, q = 1, dcprec = 0, bitno = 0, mode = 0;
  bool intra = true;
};

void run(intrakernel ik, interkernel ek, callbuffers& b, const matrix& m, const callargs& a) {
  if (a.intra)
    ik(b.src.data(), a.x, a.y, b.stride, b.levelout(), m.w, m.r, a.q, a.dcprec, b.dest(a.mode),
       a.mode);
  else
    ek(b.residbase(), b.src.data(), a.x, a.y, b.stride, b.levelout(), m.w, m.r, a.q, a.bitno,
       &b.pattern, b.dest(a.mode), a.mode);
}

std::string describe(const callargs& a) {
  char t[160];
  std::snprintf(t, sizeof t, "%s x=%d y=%d q=%d dcprec=%d bit=%d mode=%d seed=%u",
                a.intra ? "intra" : "inter", a.x, a.y, a.q, a.dcprec, a.bitno, a.mode,
                testseed());
  return t;
}

// Runs the reference and every form on copies of b; all outputs and canaries must agree.
void checkforms(const callbuffers& b, const matrix& m, const callargs& a, const char* what) {
  callbuffers ref = b;
  run(intrablock_c, interblock_c, ref, m, a);
  // The reference itself writes nothing outside its outputs.
  for (int i = 0; i < guard; i++) {
    ASSERT_EQ(ref.levels[i], levelcanary);
    ASSERT_EQ(ref.levels[guard + 64 + i], levelcanary);
    ASSERT_EQ(ref.block[i], canary);
    ASSERT_EQ(ref.block[guard + 64 + i], canary);
    ASSERT_EQ(ref.plane[i], canary);
    ASSERT_EQ(ref.plane[ref.plane.size() - 1 - i], canary);
  }
  for (const auto& f : hostforms()) {
    callbuffers t = b;
    if (f.level) setdctmode(f.level);
    run(f.intra, f.inter, t, m, a);
    setdctmode(0);
    for (int i = 0; i < guard + 64 + guard; i++)
      ASSERT_EQ(t.levels[i], ref.levels[i])
          << f.name << " level " << i - guard << ", " << what << ", " << describe(a);
    ASSERT_EQ(t.pattern, ref.pattern) << f.name << " pattern, " << what << ", " << describe(a);
    ASSERT_EQ(0, std::memcmp(t.block, ref.block, sizeof t.block))
        << f.name << " block, " << what << ", " << describe(a);
    for (size_t i = 0; i < t.plane.size(); i++)
      ASSERT_EQ(t.plane[i], ref.plane[i])
          << f.name << " plane byte " << long(i) - guard << ", " << what << ", " << describe(a);
  }
}

// ---- Random blocks ------------------------------------------------------------------------

TEST(transformkernels, randomblocksmatchreference) {
  std::mt19937 rng(testseed());
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  matrix m;
  callbuffers b;
  for (int iter = 0; iter < 6000; iter++) {
    int32_t stride = 8 * uni(1, 10);
    b.alloc(stride, uni(8, 24));
    callargs a;
    a.intra = iter % 2 == 0;
    a.x = a.intra ? uni(0, stride - 8) : 8 * uni(0, stride / 8 - 1);
    a.y = uni(0, b.rows - 8);
    a.q = uni(1, 112);
    a.dcprec = uni(0, 3);
    a.bitno = uni(0, 5);
    a.mode = uni(-1, 3);
    b.pattern = uint8_t(uni(0, 255));
    bool startup = uni(0, 1);
    // Matrices: random, flat, or the fine end (weights near 1) that gives large levels.
    int kind = uni(0, 2);
    for (int i = 0; i < 64; i++)
      m.set(i, kind == 0 ? uni(1, 255) : kind == 1 ? 16 : uni(1, 4), startup);
    // Samples: uniform noise, or a smooth ramp with a little noise.
    int amp = uni(0, 1) ? 255 : uni(1, 40);
    for (auto& s : b.src) s = uint8_t(uni(0, 255));
    int16_t* r = b.residbase();
    for (int32_t yy = 0; yy < b.rows; yy++)
      for (int32_t xx = 0; xx < stride; xx++) r[yy * stride + xx] = int16_t(uni(-amp, amp));
    checkforms(b, m, a, "random");
    if (HasFatalFailure()) return;
  }
}

// ---- Extreme blocks at every weight and quantiser ---------------------------------------

enum pattern { flat0, flat255, checker, antichecker };

void fillintra(callbuffers& b, const callargs& a, pattern p) {
  for (int k = 0; k < 8; k++)
    for (int c = 0; c < 8; c++) {
      uint8_t v = p == flat0 ? 0 : p == flat255 ? 255 : ((k + c + (p == antichecker)) & 1) * 255;
      b.src[size_t(a.y + k) * b.stride + a.x + c] = v;
    }
}

void fillinter(callbuffers& b, const callargs& a, pattern p, uint8_t pred) {
  int16_t* r = b.residbase();
  for (int k = 0; k < 8; k++)
    for (int c = 0; c < 8; c++) {
      int16_t v = p == flat0 ? -255 : p == flat255 ? 255 : ((k + c + (p == antichecker)) & 1) ? 255 : -255;
      r[(a.y + k) * b.stride + a.x + c] = v;
      b.src[size_t(a.y + k) * b.stride + a.x + c] = pred;
    }
}

TEST(transformkernels, extremeblocksateveryweightandquantiser) {
  matrix m;
  callbuffers b;
  b.alloc(24, 16);
  for (int weight = 1; weight <= 255; weight++) {
    for (int q = 1; q <= 112; q++) {
      bool startup = (weight + q) % 2;
      m.flat(weight, startup);
      callargs a;
      a.x = 8;
      a.y = 4;
      a.q = q;
      a.dcprec = (weight + q) % 4;
      a.bitno = q % 6;
      for (pattern p : {flat0, flat255, checker, antichecker}) {
        a.intra = true;
        a.mode = 2;
        fillintra(b, a, p);
        checkforms(b, m, a, "extreme intra");
        a.intra = false;
        a.mode = 1 + q % 2;
        fillinter(b, a, p, uint8_t(p == flat0 ? 255 : p == flat255 ? 0 : 128));
        checkforms(b, m, a, "extreme residual");
        if (HasFatalFailure()) return;
      }
    }
  }
}

// Intra blocks at every DC precision and mode, every flat value.
TEST(transformkernels, flatintrablocksateveryprecision) {
  matrix m;
  m.flat(16, true);
  callbuffers b;
  b.alloc(16, 8);
  for (int v = 0; v <= 255; v++)
    for (int p = 0; p <= 3; p++)
      for (int mode = 0; mode <= 2; mode++) {
        callargs a;
        a.q = 1 + (v % 31);
        a.dcprec = p;
        a.mode = mode;
        std::memset(b.src.data(), v, b.src.size());
        checkforms(b, m, a, "flat intra");
        if (HasFatalFailure()) return;
      }
}

// ---- Fixed values --------------------------------------------------------------------------

struct flatcase {
  int value, dcprec, dclevel;
};

TEST(transformkernels, flatintravalues) {
  const flatcase cases[] = {
      {255, 0, 127}, {255, 1, 254}, {255, 2, 508}, {255, 3, 1016},
      {0, 0, -128},  {0, 1, -256},  {0, 2, -512},  {0, 3, -1024},
      {1, 0, -127},  {1, 1, -254},  {1, 2, -508},  {1, 3, -1016},
      {128, 0, 0},   {128, 3, 0},
  };
  matrix m;
  m.flat(16, true);
  for (const auto& f : hostforms())
    for (const auto& c : cases) {
      callbuffers b;
      b.alloc(16, 8);
      std::memset(b.src.data(), c.value, b.src.size());
      callargs a;
      a.q = 4;
      a.dcprec = c.dcprec;
      a.mode = 1;
      if (f.level) setdctmode(f.level);
      run(f.intra, f.inter, b, m, a);
      setdctmode(0);
      EXPECT_EQ(b.levelout()[0], c.dclevel) << f.name << " value " << c.value;
      for (int i = 1; i < 64; i++) EXPECT_EQ(b.levelout()[i], 0) << f.name << " AC " << i;
      for (int i = 0; i < 64; i++)
        ASSERT_EQ(b.dest(1)[i], c.value) << f.name << " value " << c.value << " p " << c.dcprec;
      EXPECT_EQ(dctscratch[0][0], 8 * (c.value - 128)) << "F[0][0] of a flat block";
    }
}

struct residcase {
  int residual, pred, dclevel, out;
};

TEST(transformkernels, flatresidualvalues) {
  const residcase cases[] = {{255, 0, 1020, 255}, {1, 77, 4, 78}, {0, 200, 0, 200}};
  matrix m;
  m.flat(16, true);  // reciprocal 4096
  for (const auto& f : hostforms())
    for (const auto& c : cases)
      for (int mode = 0; mode <= 2; mode++) {
        callbuffers b;
        b.alloc(16, 16);
        callargs a;
        a.intra = false;
        a.x = 8;
        a.y = 8;
        a.q = 2;
        a.bitno = 5;
        a.mode = mode;
        b.pattern = c.residual ? 0x00 : 0xFF;
        for (auto& s : b.src) s = uint8_t(c.pred);
        int16_t* r = b.residbase();
        for (int i = 0; i < 16 * 16; i++) r[i] = int16_t(c.residual);
        if (f.level) setdctmode(f.level);
        run(f.intra, f.inter, b, m, a);
        setdctmode(0);
        EXPECT_EQ(b.levelout()[0], c.dclevel) << f.name;
        for (int i = 1; i < 64; i++) EXPECT_EQ(b.levelout()[i], 0) << f.name;
        EXPECT_EQ(b.pattern, c.residual ? 0x20 : 0xDF) << f.name;
        for (int k = 0; k < 8; k++)
          for (int cc = 0; cc < 8; cc++) {
            uint8_t got = mode == 1 ? b.dest(1)[8 * k + cc]
                                    : b.plane[guard + (8 + k) * 16 + 8 + cc];
            EXPECT_EQ(got, mode == 0 ? canary : c.out) << f.name << " mode " << mode;
          }
        if (mode == 0) {  // the destination is not touched at all
          for (uint8_t v : b.plane) ASSERT_EQ(v, canary);
        }
      }
}

TEST(transformkernels, levelsclipat2047) {
  // Weight 1 at quantiser 1 gives about 16 x |F|, far above 2047 for any real block.
  matrix m;
  m.flat(1, true);
  for (const auto& f : hostforms()) {
    callbuffers b;
    b.alloc(8, 8);
    std::memset(b.src.data(), 255, b.src.size());
    callargs a;
    a.mode = 0;
    a.dcprec = 3;
    for (int i = 0; i < 64; i++) b.src[i] = uint8_t((i % 8) < 4 ? 0 : 255);  // vertical edge
    if (f.level) setdctmode(f.level);
    run(f.intra, f.inter, b, m, a);
    setdctmode(0);
    EXPECT_EQ(b.levelout()[1], -2047) << f.name << " a strong first horizontal term clips";
    for (int i = 1; i < 64; i++) EXPECT_LE(std::abs(b.levelout()[i]), 2047) << f.name;
  }
}

// ---- Dequantisation and reconstruction against the MPEG-2 rules ----------------------------

// The reconstruction a decoder makes from the levels the kernel wrote: ISO/IEC 13818-2 7.4
// dequantisation (intra DC times 2^(3-p); AC truncated towards zero), saturation to
// lowest..2047, mismatch control, then the inverse transform (the reference's), the output
// clipping of the kernels. Returns the 64 output samples.
std::vector<uint8_t> decoderview(const int16_t* lev, const matrix& m, const callargs& a,
                                 const uint8_t* pred, int32_t stride, int lowest) {
  alignas(16) int16_t v[64];
  bool any = false;
  for (int i = 0; i < 64; i++) any |= lev[i] != 0;
  std::vector<uint8_t> out(64);
  if (!a.intra && !any) {
    for (int i = 0; i < 64; i++) out[i] = pred[(a.y + i / 8) * stride + a.x + i % 8];
    return out;
  }
  long sum = 0;
  for (int i = 0; i < 64; i++) {
    long l = lev[i], wq = long(m.w[i]) * a.q, val;
    if (a.intra && i == 0)
      val = l * (8 >> a.dcprec);
    else if (a.intra)
      val = l * wq * 2 / 32;
    else
      val = l == 0 ? 0 : (2 * l + (l > 0 ? 1 : -1)) * wq / 32;
    if (!(a.intra && i == 0)) val = val < lowest ? lowest : val > 2047 ? 2047 : val;
    v[i] = int16_t(val);
    sum += val;
  }
  if (sum % 2 == 0) v[63] = int16_t(v[63] & 1 ? v[63] - 1 : v[63] + 1);
  idctblock_c(v);
  for (int i = 0; i < 64; i++) {
    int s = a.intra ? (v[i] < -128 ? -128 : v[i] > 127 ? 127 : v[i]) + 128
                    : pred[(a.y + i / 8) * stride + a.x + i % 8] + v[i];
    out[i] = uint8_t(s < 0 ? 0 : s > 255 ? 255 : s);
  }
  return out;
}

// A square wave of frequency (u, v) at full amplitude plus noise in both the samples and the
// residual: a large coefficient where the dequantiser saturates.
void squarewave(callbuffers& b, int u, int v, int noise) {
  std::mt19937 rng(u * 8 + v + 64 * noise);
  for (int k = 0; k < 8; k++)
    for (int c = 0; c < 8; c++) {
      double w = std::cos((2 * c + 1) * u * M_PI / 16) * std::cos((2 * k + 1) * v * M_PI / 16);
      if (noise / 2 % 2) w = -w;  // a negative coefficient
      int n = noise ? int(rng() % (2 * noise + 1)) - noise : 0;
      int r = (w >= 0 ? 255 : -255) + n;
      b.residbase()[8 * k + c] = int16_t(r < -255 ? -255 : r > 255 ? 255 : r);
      // Intra: the wave in samples. Residual: over mid-grey, where the weaker basis columns
      // stay clear of the output clipping.
      int s = (w >= 0 ? 255 : 0) + n;
      b.src[8 * k + c] = uint8_t(noise % 2 ? 128 : s < 0 ? 0 : s > 255 ? 255 : s);
    }
}

TEST(transformkernels, reconstructionfollowsthedecoderrules) {
  std::mt19937 rng(testseed() + 1);
  auto uni = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  int saturated = 0;  // blocks where -2048 and -2047 reconstruct differently
  for (int iter = 0; iter < 4000; iter++) {
    matrix m;
    callbuffers b;
    b.alloc(8, 8);
    callargs a;
    a.intra = iter % 2;
    a.q = iter % 3 ? uni(1, 112) : uni(56, 112);
    a.dcprec = uni(0, 3);
    a.mode = 1;
    for (int i = 0; i < 64; i++) m.set(i, iter % 3 ? uni(1, 255) : uni(200, 255), uni(0, 1));
    int amp = uni(0, 1) ? 255 : uni(8, 60);
    for (auto& s : b.src) s = uint8_t(uni(0, 255));
    for (int i = 0; i < 64; i++) b.residbase()[i] = int16_t(uni(-amp, amp));
    if (iter % 4 < 2) squarewave(b, uni(0, 7), uni(0, 7), uni(0, 20));
    for (const auto& f : hostforms()) {
      callbuffers t = b;
      if (f.level) setdctmode(f.level);
      run(f.intra, f.inter, t, m, a);
      setdctmode(0);
      auto want = decoderview(t.levelout(), m, a, b.src.data(), 8, -2048);
      for (int i = 0; i < 64; i++)
        ASSERT_EQ(t.dest(1)[i], want[i]) << f.name << " sample " << i << ", " << describe(a);
      if (f.name == "sse2" && want != decoderview(t.levelout(), m, a, b.src.data(), 8, -2047))
        saturated++;
    }
  }
  // The draw must reach the lower limit often enough for the -2048 rule to show.
  EXPECT_GT(saturated, 0) << "no block tells -2048 from -2047";
}

}  // namespace
