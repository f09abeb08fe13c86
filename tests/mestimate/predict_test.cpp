// Motion-compensated prediction against our own per-pixel implementation of the prediction
// rules of ISO/IEC 13818-2 (7.6): luma and chroma, half-pel rounding, bidirectional averages;
// reads checked by guard pages at every vector whose luma read fits the picture. Then the
// whole motion estimation and prediction at every processor level.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/cpu.h"
#include "encoder/motion/motionest.h"
#include "encoder/motion/search.h"
#include "tests/mestimate/picplanes.h"
#include "tests/search/mesupport.h"

namespace {

// Floor of v / 2 and its half flag, as the standard forms int_vec and half_flag.
int floorhalf(int v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

// The prediction of sample (sx, sy) of plane p (0 Y, 1 U, 2 V) from the half-pel luma vector
// (vx, vy): chroma vectors are the luma vector divided by 2, truncated toward zero (4:2:0);
// "//" rounds halves away from zero, so (a + b) // 2 = (a + b + 1) / 2 for samples.
int isosample(yuvpic& ref, int p, int sx, int sy, int vx, int vy) {
  if (p) {
    vx /= 2;
    vy /= 2;
  }
  const int hx = vx & 1, hy = vy & 1;
  const int x = sx + floorhalf(vx), y = sy + floorhalf(vy);
  auto R = [&](int a, int b) {
    EXPECT_TRUE(a >= 0 && a < ref.pw(p) && b >= 0 && b < ref.ph(p)) << "model reads outside";
    return int(ref.at(p, a, b));
  };
  if (!hx && !hy) return R(x, y);
  if (hx && !hy) return (R(x, y) + R(x + 1, y) + 1) / 2;
  if (!hx && hy) return (R(x, y) + R(x, y + 1) + 1) / 2;
  return (R(x, y) + R(x + 1, y) + R(x, y + 1) + R(x + 1, y + 1) + 2) / 4;
}

// Vectors whose luma read (with the extra column and row of half positions) fits the
// picture, drawn so that the extremes come often.
int16_t drawcomponent(std::mt19937& rng, int at, int max) {
  const int lo = -2 * at, hi = 2 * (max - at);
  std::uniform_int_distribution<int> pick(0, 7), any(lo, hi);
  const int r = pick(rng);
  const int v = r == 0   ? lo
                : r == 1 ? lo + 1
                : r == 2 ? hi
                : r == 3 ? hi - 1
                : r == 4 ? 0
                         : any(rng);
  return static_cast<int16_t>(std::clamp(v, lo, hi));
}

void randomfill(std::mt19937& rng, yuvpic& pic) {
  std::uniform_int_distribution<int> b(0, 255);
  pic.fill([&](int, int, int) { return b(rng); });
}

// Compares the prediction and residual planes with the model; model(i, p, sx, sy) gives the
// sample of macroblock i.
template <class F>
void checkplanes(yuvpic& src, yuvpic& pred, residualplanes& res, F model, const char* what) {
  int16_t* resp[3] = {res.y, res.u, res.v};
  for (int p = 0; p < 3; ++p)
    for (int y = 0; y < src.ph(p); ++y)
      for (int x = 0; x < src.pw(p); ++x) {
        const int ps = p ? 8 : 16;
        const int i = 1 + x / ps + (y / ps) * settings.mbcols;
        const int want = model(i, p, x, y);
        ASSERT_EQ(pred.at(p, x, y), want) << what << " plane " << p << " at " << x << "," << y
                                          << " mb " << i << " seed " << testseed();
        ASSERT_EQ(resp[p][y * src.pw(p) + x], src.at(p, x, y) - want)
            << what << " residual plane " << p << " at " << x << "," << y;
      }
}

const struct layout {
  const char* name;
  int kind;
} layouts[] = {{"packed", 0}, {"rows flush left", 1}, {"rows flush right", 2}};

TEST(predict, pmatchesthestandardsrules) {
  std::mt19937 rng(testseed() ^ 0x4146u);
  for (const layout& l : layouts)
    for (auto [w, h] : {std::pair{64, 48}, {48, 32}, {16, 16}, {112, 16}}) {
      SCOPED_TRACE(testing::Message() << l.name << " " << w << "x" << h);
      setpicture(w, h, 2);
      yuvpic src(w, h, l.kind), ref(w, h, l.kind), pred(w, h, l.kind);
      residualplanes res(w, h);
      scratchblocks s;
      randomfill(rng, src);
      randomfill(rng, ref);
      for (int round = 0; round < 6; ++round) {
        for (int i = 1; i <= settings.mbcount; ++i) {
          const int x = 16 * ((i - 1) % settings.mbcols), y = 16 * ((i - 1) / settings.mbcols);
          picslots[2].mbs[i].halfmv[0] = drawcomponent(rng, x, settings.searchxmax);
          picslots[2].mbs[i].halfmv[1] = drawcomponent(rng, y, settings.searchymax);
        }
        predictpic(argsfor(2, 1, 0, src, &ref, nullptr, pred, res, s));
        checkplanes(
            src, pred, res,
            [&](int i, int p, int x, int y) {
              const int16_t* v = picslots[2].mbs[i].halfmv;
              return isosample(ref, p, x, y, v[0], v[1]);
            },
            "P");
      }
    }
}

TEST(predict, examplevectors) {
  // (-3, 5): luma from (x - 2, y + 2) with both halves; chroma (-1, 2) from (x/2 - 1,
  // y/2 + 1), horizontal half only. (1, 1): luma both halves at (x, y); chroma a copy.
  setpicture(64, 48, 2);
  yuvpic src(64, 48, 0), ref(64, 48, 0), pred(64, 48, 0);
  residualplanes res(64, 48);
  scratchblocks s;
  ref.fill([](int p, int x, int y) { return (x * 7 + y * 13 + p * 50) & 255; });
  const int i = 1 + 1 + 1 * settings.mbcols;  // at (16, 16)
  auto R = [&](int p, int x, int y) { return int(ref.at(p, x, y)); };
  for (auto [vx, vy] : {std::pair{-3, 5}, {1, 1}}) {
    picslots[2].mbs[i].halfmv[0] = static_cast<int16_t>(vx);
    picslots[2].mbs[i].halfmv[1] = static_cast<int16_t>(vy);
    predictpic(argsfor(2, 1, 0, src, &ref, nullptr, pred, res, s));
    if (vx == -3) {
      EXPECT_EQ(pred.at(0, 16, 16),
                (R(0, 14, 18) + R(0, 15, 18) + R(0, 14, 19) + R(0, 15, 19) + 2) >> 2);
      EXPECT_EQ(pred.at(1, 8, 8), (R(1, 7, 9) + R(1, 8, 9) + 1) >> 1);
    } else {
      EXPECT_EQ(pred.at(0, 16, 16),
                (R(0, 16, 16) + R(0, 17, 16) + R(0, 16, 17) + R(0, 17, 17) + 2) >> 2);
      EXPECT_EQ(pred.at(2, 8, 8), R(2, 8, 8));
    }
  }
}

TEST(predict, bmatchesthestandardsrules) {
  std::mt19937 rng(testseed() ^ 0x4246u);
  for (const layout& l : layouts)
    for (auto [w, h] : {std::pair{64, 48}, {16, 16}, {48, 32}}) {
      SCOPED_TRACE(testing::Message() << l.name << " " << w << "x" << h);
      setpicture(w, h, 3);
      yuvpic src(w, h, l.kind), fwd(w, h, l.kind), bwd(w, h, l.kind), pred(w, h, l.kind);
      residualplanes res(w, h);
      scratchblocks s;
      randomfill(rng, src);
      randomfill(rng, fwd);
      randomfill(rng, bwd);
      std::uniform_int_distribution<int> dir(0, 3);
      for (int round = 0; round < 6; ++round) {
        // Stale prediction data that a macroblock without a direction must not keep.
        randomfill(rng, pred);
        for (int i = 1; i <= settings.mbcount; ++i) {
          const int x = 16 * ((i - 1) % settings.mbcols), y = 16 * ((i - 1) / settings.mbcols);
          mbrecord& mb = picslots[2].mbs[i];
          for (int d : {0, 2}) {
            mb.halfmv[d] = drawcomponent(rng, x, settings.searchxmax);
            mb.halfmv[d + 1] = drawcomponent(rng, y, settings.searchymax);
          }
          const int k = dir(rng);  // 0 forward, 1 backward, 2 interpolated, 3 none (intra)
          mb.mbdirflags[0] = k == 0 || k == 2 ? -1 : 0;
          mb.mbdirflags[1] = k == 1 || k == 2 ? -1 : 0;
          mb.mbdirflags[2] = k == 2 ? -1 : 0;
          mb.blockclass = k == 3 ? 1 : 2;
        }
        predictbpic(argsfor(2, 1, 3, src, &fwd, &bwd, pred, res, s));
        checkplanes(
            src, pred, res,
            [&](int i, int p, int x, int y) {
              const mbrecord& mb = picslots[2].mbs[i];
              const int f = isosample(fwd, p, x, y, mb.halfmv[0], mb.halfmv[1]);
              const int b = isosample(bwd, p, x, y, mb.halfmv[2], mb.halfmv[3]);
              if (mb.mbdirflags[2]) return (f + b + 1) / 2;
              if (mb.mbdirflags[0]) return f;
              if (mb.mbdirflags[1]) return b;
              return 0;
            },
            "B");
      }
    }
}

TEST(predict, debugchecksofbpictures) {
  setpicture(32, 16, 3);
  yuvpic src(32, 16, 0), ref(32, 16, 0), pred(32, 16, 0);
  residualplanes res(32, 16);
  scratchblocks s;
  picslots[1].pictype = 1;
  // The same slot as both references.
  EXPECT_DEBUG_DEATH(bmotionest(argsfor(2, 1, 1, src, &ref, &ref, pred, res, s)),
                     "two different references");
  // A macroblock without a direction that is not intra.
  for (int i = 1; i <= 2; ++i) {
    picslots[2].mbs[i] = mbrecord{};
    picslots[2].mbs[i].mbdirflags[0] = -1;
  }
  picslots[2].mbs[2].mbdirflags[0] = 0;
  picslots[2].mbs[2].blockclass = 2;
  EXPECT_DEBUG_DEATH(predictbpic(argsfor(2, 1, 3, src, &ref, &ref, pred, res, s)),
                     "without a direction");
}

// Everything motion estimation and prediction leave behind for one picture.
struct snapshot {
  std::vector<mbrecord> mbs;
  int32_t fcodes[8];
  int32_t mecostflag;
  std::vector<uint8_t> pred;
  std::vector<int16_t> res;
};
bool operator==(const mbrecord& a, const mbrecord& b) {
  return std::equal(a.fullmv, a.fullmv + 4, b.fullmv) &&
         std::equal(a.halfmv, a.halfmv + 4, b.halfmv) &&
         std::equal(a.statmv, a.statmv + 4, b.statmv) &&
         std::equal(a.mbdirflags, a.mbdirflags + 3, b.mbdirflags);
}

int clampbyte(int v) { return std::clamp(v, 0, 255); }

// A sequence I B B P at one level: profile, both passes. Slot 1 the I picture, slot 4 the P
// picture (its source doubles as its reconstruction), slots 2 and 3 the B pictures.
std::vector<snapshot> runsequence(int level, int profile, uint32_t seed) {
  setcpumode(level);
  settings.simdlevel = level;
  const int w = 96, h = 64;
  std::vector<snapshot> out;
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> noise(-6, 6);
  yuvpic i1(w, h, 0), p4(w, h, 0), b2(w, h, 0), b3(w, h, 0), pred(w, h, 0);
  residualplanes res(w, h);
  scratchblocks s;
  // Moving texture with noise: picture n shows the texture moved by n * (2, -1) plus drift.
  auto frame = [&](yuvpic& pic, int n) {
    pic.fill([&](int p, int x, int y) {
      const int base =
          p ? 128 + ((x * 3 + y * 5 + n) % 9) : smoothtexture(x + 2 * n + (n == 3), y - n);
      return clampbyte(base + noise(rng));
    });
  };
  frame(i1, 0);
  frame(b2, 1);
  frame(b3, 2);
  frame(p4, 3);
  for (int pass : {1, 2}) {
    setpicture(w, h, 2);
    settings.simdlevel = level;
    if (pass == 2) {
      // The second pass starts from the first pass's records as the statistics stream
      // keeps them (the statistics vectors and the B directions).
      const int slots[3] = {4, 2, 3};
      for (int n = 0; n < 3; ++n)
        for (int i = 1; i <= settings.mbcount; ++i) {
          mbrecord& mb = picslots[slots[n]].mbs[i];
          mb = mbrecord{};
          std::copy(out[n].mbs[i].statmv, out[n].mbs[i].statmv + 4, mb.statmv);
          std::copy(out[n].mbs[i].mbdirflags, out[n].mbs[i].mbdirflags + 3, mb.mbdirflags);
        }
      out.clear();
    }
    settings.passno = pass;
    settings.profile = profile;
    settings.bppclass = 1 + profile % 3;
    picslots[1].pictype = 1;
    auto keep = [&](int slot) {
      snapshot sn;
      sn.mbs.assign(picslots[slot].mbs + 1, picslots[slot].mbs + 1 + settings.mbcount);
      sn.mbs.insert(sn.mbs.begin(), mbrecord{});
      std::copy(picslots[slot].fcodes, picslots[slot].fcodes + 8, sn.fcodes);
      sn.mecostflag = picslots[slot].mecostflag;
      for (int p = 0; p < 3; ++p)
        for (int y = 0; y < pred.ph(p); ++y)
          for (int x = 0; x < pred.pw(p); ++x) sn.pred.push_back(pred.at(p, x, y));
      sn.res.assign(res.y, res.y + w * h);
      sn.res.insert(sn.res.end(), res.u, res.u + w * h / 4);
      sn.res.insert(sn.res.end(), res.v, res.v + w * h / 4);
      out.push_back(std::move(sn));
    };
    // Coding order: P (slot 4), then the B pictures in display order; out follows it.
    settings.curpictype = 2;
    picslots[4].pictype = 2;
    picslots[4].mecostflag = 0;
    const pictargs pa = argsfor(4, 1, 0, p4, &i1, nullptr, pred, res, s);
    picmotionest(pa);
    predictpic(pa);
    keep(4);
    settings.curpictype = 3;
    for (int slot : {2, 3}) {
      picslots[slot].pictype = 3;
      picslots[slot].mecostflag = 0;
      const pictargs ba = argsfor(slot, 1, 4, slot == 2 ? b2 : b3, &i1, &p4, pred, res, s);
      bmotionest(ba);
      predictbpic(ba);
      keep(slot);
    }
  }
  setcpumode(0);
  return out;
}

TEST(predict, everylevelgivesthesamevectorsandpredictions) {
  const uint32_t seed = testseed();
  for (int profile : {1, 2, 3, 4}) {
    const std::vector<snapshot> ref = runsequence(0, profile, seed);
    for (int level = 1; level <= 4; ++level) {
      if (!hostruns(std::min(level, 3))) continue;
      SCOPED_TRACE(testing::Message()
                   << "profile " << profile << " level " << level << " seed " << seed);
      const std::vector<snapshot> got = runsequence(level, profile, seed);
      ASSERT_EQ(got.size(), ref.size());
      for (size_t n = 0; n < ref.size(); ++n) {
        SCOPED_TRACE(testing::Message() << "picture " << n);
        for (size_t i = 1; i < ref[n].mbs.size(); ++i)
          ASSERT_TRUE(got[n].mbs[i] == ref[n].mbs[i]) << "macroblock " << i;
        EXPECT_TRUE(std::equal(got[n].fcodes, got[n].fcodes + 8, ref[n].fcodes));
        EXPECT_EQ(got[n].mecostflag, ref[n].mecostflag);
        EXPECT_TRUE(got[n].pred == ref[n].pred);
        EXPECT_TRUE(got[n].res == ref[n].res);
      }
    }
  }
}

}  // namespace
