// Motion-compensated prediction of whole P and B pictures: every macroblock's prediction into
// the prediction planes, then the residual planes in one sweep per plane.
#include <cassert>
#include <cstddef>
#include <cstring>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/kernels.h"
#include "encoder/motion/motionest.h"

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

// Residual of one plane, w x h samples, rows packed in res. With the pitch equal to the width
// the plane is one sweep; otherwise row by row, the last w mod 16 samples of a row in plain code.
void residual(const uint8_t* src, const uint8_t* pred, int pitch, int16_t* res, int w, int h) {
  if (pitch == w) {
    diffblock(src, pred, res, w * h);
    return;
  }
  const int body = w & ~15;
  for (int r = 0; r < h; ++r) {
    const uint8_t* s = src + r * static_cast<ptrdiff_t>(pitch);
    const uint8_t* p = pred + r * static_cast<ptrdiff_t>(pitch);
    int16_t* e = res + r * static_cast<ptrdiff_t>(w);
    if (body > 0) diffblock(s, p, e, body);
    for (int c = body; c < w; ++c) e[c] = static_cast<int16_t>(s[c] - p[c]);
  }
}

void residuals(const pictargs& a) {
  residual(a.cury, a.predy, a.ypitch, a.resy, settings.width, settings.height);
  residual(a.curu, a.predu, a.cpitch, a.resu, settings.chromawidth, settings.chromaheight);
  residual(a.curv, a.predv, a.cpitch, a.resv, settings.chromawidth, settings.chromaheight);
}

template <typename F>
void eachmb(F&& f) {
  int x = 0, y = 0;
  for (int i = 1; i <= settings.mbcount; ++i) {
    f(i, x, y);
    x += 16;
    if (x >= settings.width) {
      x = 0;
      y += 16;
    }
  }
}

}  // namespace

void predictpic(const pictargs& args) {
  const picslot& slot = picslots[args.curslot];
  const refplanes fwd{args.fwdy, args.fwdu, args.fwdv};
  eachmb([&](int i, int x, int y) { predictmb(args, fwd, slot.mbs[i].halfmv, x, y); });
  residuals(args);
}

void predictbpic(const pictargs& args) {
  assert(args.fwdslot != args.bwdslot && "a B picture needs two different references");
  const picslot& slot = picslots[args.curslot];
  const refplanes fwd{args.fwdy, args.fwdu, args.fwdv};
  const refplanes bwd{args.bwdy, args.bwdu, args.bwdv};
  uint8_t* fy = args.predscratch;
  uint8_t* by = fy + 256;
  uint8_t* fu = by + 256;
  uint8_t* fv = fu + 64;
  uint8_t* bu = fv + 64;
  uint8_t* bv = bu + 64;
  eachmb([&](int i, int x, int y) {
    const mbrecord& mb = slot.mbs[i];
    if (mb.mbdirflags[2]) {
      predictblocks(args, fwd, mb.halfmv, x, y, fy, fu, fv);
      predictblocks(args, bwd, mb.halfmv + 2, x, y, by, bu, bv);
      avg16(fy, by, args.ypitch, args.predy, x, y);
      avg8(fu, bu, args.cpitch, args.predu, x / 2, y / 2);
      avg8(fv, bv, args.cpitch, args.predv, x / 2, y / 2);
    } else if (mb.mbdirflags[0]) {
      predictmb(args, fwd, mb.halfmv, x, y);
    } else if (mb.mbdirflags[1]) {
      predictmb(args, bwd, mb.halfmv + 2, x, y);
    } else {
      // Only a macroblock coded intra has no direction.
      assert((mb.blockclass == 1 || mb.intraflag != 0) &&
             "a B macroblock without a direction must be intra");
      zeromb(args, x, y);
    }
  });
  residuals(args);
}
