// Motion-compensated prediction of whole P and B pictures: every macroblock's prediction into
// the prediction planes, then the residual planes in one sweep per row of macroblocks. Rows
// touch only their own lines, so they run side by side on the coding threads.
#include <cassert>
#include <cstddef>
#include <cstring>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/kernels.h"
#include "encoder/motion/motionest.h"
#include "platform/pool.h"

namespace {

using predplane = void (*)(const uint8_t*, int, int, int, uint8_t*, int, int);
using predblock = void (*)(const uint8_t*, int, int, int, uint8_t*);
// Kernels by half flags: index hx + 2 hy.
constexpr predplane luma[4] = {copy16, predx16, predy16, predxy16};
constexpr predplane chroma[4] = {copy8, predx8, predy8, predxy8};
constexpr predblock lumablk[4] = {copy16blk, predx16blk, predy16blk, predxy16blk};
constexpr predblock chromablk[4] = {copy8blk, predx8blk, predy8blk, predxy8blk};

struct refplanes {
  const uint8_t *y, *u, *v;
};

// Where one vector reads: the luma block at (lx, ly) with half flags lh, the chroma blocks at
// (cx, cy) with half flags ch. Shifts are arithmetic (toward minus infinity); the chroma
// vector is half the luma vector, truncated toward zero.
struct mcread {
  int lx, ly, lh, cx, cy, ch;
};
mcread readof(const int16_t* v, int x, int y) {
  const int vx = v[0], vy = v[1];
  const int cvx = vx / 2, cvy = vy / 2;
  return {x + (vx >> 1),      y + (vy >> 1),      (vx & 1) + 2 * (vy & 1),
          x / 2 + (cvx >> 1), y / 2 + (cvy >> 1), (cvx & 1) + 2 * (cvy & 1)};
}

// One vector's prediction straight into the prediction planes at (x, y).
void predictmb(const pictargs& a, const refplanes& r, const int16_t* v, int x, int y) {
  const mcread m = readof(v, x, y);
  luma[m.lh](r.y, m.lx, m.ly, a.ypitch, a.predy, x, y);
  chroma[m.ch](r.u, m.cx, m.cy, a.cpitch, a.predu, x / 2, y / 2);
  chroma[m.ch](r.v, m.cx, m.cy, a.cpitch, a.predv, x / 2, y / 2);
}

// One vector's prediction into scratch blocks: 256 bytes of luma, then 64 U and 64 V at cu.
void predictblocks(const pictargs& a, const refplanes& r, const int16_t* v, int x, int y,
                   uint8_t* ly, uint8_t* cu, uint8_t* cv) {
  const mcread m = readof(v, x, y);
  lumablk[m.lh](r.y, m.lx, m.ly, a.ypitch, ly);
  chromablk[m.ch](r.u, m.cx, m.cy, a.cpitch, cu);
  chromablk[m.ch](r.v, m.cx, m.cy, a.cpitch, cv);
}

void zeromb(const pictargs& a, int x, int y) {
  for (int r = 0; r < 16; ++r)
    std::memset(a.predy + (y + r) * static_cast<ptrdiff_t>(a.ypitch) + x, 0, 16);
  for (int r = 0; r < 8; ++r) {
    const ptrdiff_t at = (y / 2 + r) * static_cast<ptrdiff_t>(a.cpitch) + x / 2;
    std::memset(a.predu + at, 0, 8);
    std::memset(a.predv + at, 0, 8);
  }
}

// Residual of lines r0..r1-1 of one plane w samples wide, rows packed in res. With the pitch
// equal to the width the lines are one sweep; otherwise line by line, the last w mod 16 samples
// of a line in plain code.
void residual(const uint8_t* src, const uint8_t* pred, int pitch, int16_t* res, int w, int r0,
              int r1) {
  if (pitch == w) {
    const ptrdiff_t at = r0 * static_cast<ptrdiff_t>(w);
    diffblock(src + at, pred + at, res + at, w * (r1 - r0));
    return;
  }
  const int body = w & ~15;
  for (int r = r0; r < r1; ++r) {
    const uint8_t* s = src + r * static_cast<ptrdiff_t>(pitch);
    const uint8_t* p = pred + r * static_cast<ptrdiff_t>(pitch);
    int16_t* e = res + r * static_cast<ptrdiff_t>(w);
    if (body > 0) diffblock(s, p, e, body);
    for (int c = body; c < w; ++c) e[c] = static_cast<int16_t>(s[c] - p[c]);
  }
}

}  // namespace

void predictrowresidual(const pictargs& a, int k) {
  residual(a.cury, a.predy, a.ypitch, a.resy, settings.width, 16 * k, 16 * k + 16);
  residual(a.curu, a.predu, a.cpitch, a.resu, settings.chromawidth, 8 * k, 8 * k + 8);
  residual(a.curv, a.predv, a.cpitch, a.resv, settings.chromawidth, 8 * k, 8 * k + 8);
}

void predictpmb(const pictargs& a, int i, int x, int y) {
  const refplanes fwd{a.fwdy, a.fwdu, a.fwdv};
  predictmb(a, fwd, picslots[a.curslot].mbs[i].halfmv, x, y);
}

void predictbmb(const pictargs& a, int i, int x, int y) {
  const refplanes fwd{a.fwdy, a.fwdu, a.fwdv};
  const refplanes bwd{a.bwdy, a.bwdu, a.bwdv};
  uint8_t* fy = a.predscratch;
  uint8_t* by = fy + 256;
  uint8_t* fu = by + 256;
  uint8_t* fv = fu + 64;
  uint8_t* bu = fv + 64;
  uint8_t* bv = bu + 64;
  const mbrecord& mb = picslots[a.curslot].mbs[i];
  if (mb.mbdirflags[2]) {
    predictblocks(a, fwd, mb.halfmv, x, y, fy, fu, fv);
    predictblocks(a, bwd, mb.halfmv + 2, x, y, by, bu, bv);
    avg16(fy, by, a.ypitch, a.predy, x, y);
    avg8(fu, bu, a.cpitch, a.predu, x / 2, y / 2);
    avg8(fv, bv, a.cpitch, a.predv, x / 2, y / 2);
  } else if (mb.mbdirflags[0]) {
    predictmb(a, fwd, mb.halfmv, x, y);
  } else if (mb.mbdirflags[1]) {
    predictmb(a, bwd, mb.halfmv + 2, x, y);
  } else {
    // Only a macroblock coded intra has no direction.
    assert((mb.blockclass == 1 || mb.intraflag != 0) &&
           "a B macroblock without a direction must be intra");
    zeromb(a, x, y);
  }
}

namespace {

// Predicts every macroblock row on the coding threads, mb(a, i, x, y) for each macroblock of
// the row, then forms the row's residual.
template <typename F>
void eachrow(const pictargs& args, F&& mb) {
  poolrun(settings.mbrows, [&](int k) {
    const pictargs a = threadargs(args);
    const int y = 16 * k;
    int i = k * settings.mbcols + 1;
    for (int x = 0; x < settings.width; x += 16, ++i) mb(a, i, x, y);
    predictrowresidual(a, k);
  });
}

}  // namespace

void predictpic(const pictargs& args) {
  eachrow(args, predictpmb);
}

void predictbpic(const pictargs& args) {
  assert(args.fwdslot != args.bwdslot && "a B picture needs two different references");
  eachrow(args, predictbmb);
}
