// Pictures for the motion estimation tests: Y, U, V planes either packed (pitch = width, each
// plane with guard pages before and after it) or with every row flush against guard pages
// (large pitch), and the arguments of one picture built from them.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "encoder/control/settings.h"
#include "encoder/motion/pictargs.h"
#include "tests/motion/harness.h"

struct yuvpic {
  int w = 0, h = 0, pitch = 0, cpitch = 0;
  uint8_t *y = nullptr, *u = nullptr, *v = nullptr;

  // kind 0 packed, 1 rows flush left, 2 rows flush right.
  yuvpic(int width, int height, int kind) : w(width), h(height) {
    if (kind == 0) {
      y = keepbuf(static_cast<size_t>(w) * h);
      u = keepbuf(static_cast<size_t>(w / 2) * (h / 2));
      v = keepbuf(static_cast<size_t>(w / 2) * (h / 2));
      pitch = w;
      cpitch = w / 2;
    } else {
      y = keepplane(w, h, kind == 2);
      u = keepplane(w / 2, h / 2, kind == 2);
      v = keepplane(w / 2, h / 2, kind == 2);
      pitch = planes_[0]->stride();
      cpitch = planes_[1]->stride();
    }
  }
  uint8_t& at(int p, int x, int yy) {
    uint8_t* b = p == 0 ? y : p == 1 ? u : v;
    return b[static_cast<ptrdiff_t>(yy) * (p ? cpitch : pitch) + x];
  }
  int pw(int p) const { return p ? w / 2 : w; }
  int ph(int p) const { return p ? h / 2 : h; }
  template <class F>
  void fill(F f) {  // f(plane, x, y) -> value
    for (int p = 0; p < 3; ++p)
      for (int yy = 0; yy < ph(p); ++yy)
        for (int x = 0; x < pw(p); ++x) at(p, x, yy) = static_cast<uint8_t>(f(p, x, yy));
  }

 private:
  std::vector<std::unique_ptr<guardbuffer>> bufs_;
  std::vector<std::unique_ptr<guardplane>> planes_;
  uint8_t* keepbuf(size_t n) {
    bufs_.push_back(std::make_unique<guardbuffer>(n));
    return bufs_.back()->data();
  }
  uint8_t* keepplane(int pw, int ph, bool right) {
    planes_.push_back(std::make_unique<guardplane>(pw, ph, right));
    return planes_.back()->origin();
  }
};

// Residual planes packed, with a guard page right after each.
struct residualplanes {
  std::unique_ptr<guardbuffer> by, bu, bv;
  int16_t *y, *u, *v;
  residualplanes(int w, int h)
      : by(std::make_unique<guardbuffer>(2u * w * h)),
        bu(std::make_unique<guardbuffer>(2u * (w / 2) * (h / 2))),
        bv(std::make_unique<guardbuffer>(2u * (w / 2) * (h / 2))),
        y(reinterpret_cast<int16_t*>(by->data())),
        u(reinterpret_cast<int16_t*>(bu->data())),
        v(reinterpret_cast<int16_t*>(bv->data())) {}
};

// Scratch blocks of the run: the source macroblock and the six B prediction blocks.
struct scratchblocks {
  alignas(16) uint8_t me[256];
  alignas(16) uint8_t pred[768];
};

// The arguments of one picture.
inline pictargs argsfor(int cur, int fwd, int bwd, yuvpic& src, yuvpic* f, yuvpic* b, yuvpic& pred,
                        residualplanes& res, scratchblocks& s) {
  pictargs a;
  a.curframe = 1;
  a.curslot = cur;
  a.fwdslot = fwd;
  a.bwdslot = bwd;
  a.ypitch = src.pitch;
  a.cpitch = src.cpitch;
  a.cury = src.y;
  a.curu = src.u;
  a.curv = src.v;
  if (f) {
    a.fwdy = f->y;
    a.fwdu = f->u;
    a.fwdv = f->v;
  }
  if (b) {
    a.bwdy = b->y;
    a.bwdu = b->u;
    a.bwdv = b->v;
  }
  a.predy = pred.y;
  a.predu = pred.u;
  a.predv = pred.v;
  a.resy = res.y;
  a.resu = res.u;
  a.resv = res.v;
  a.mescratch = s.me;
  a.predscratch = s.pred;
  return a;
}
