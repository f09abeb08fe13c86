// The plain C++ references of the pixel kernels: the function every path must give.
#include <cstddef>
#include <cstdlib>

#include "encoder/motion/kernels.h"

namespace {

inline const uint8_t* at(const uint8_t* plane, int x, int y, int stride) {
  return plane + (static_cast<ptrdiff_t>(y) * stride + x);
}
inline uint8_t* at(uint8_t* plane, int x, int y, int stride) {
  return plane + (static_cast<ptrdiff_t>(y) * stride + x);
}
inline int avg2(int a, int b) { return (a + b + 1) >> 1; }

uint32_t sadarea(const uint8_t* p, int stride, const uint8_t* block, int n) {
  uint32_t s = 0;
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c)
      s += static_cast<uint32_t>(std::abs(p[static_cast<ptrdiff_t>(r) * stride + c] - block[n * r + c]));
  return s;
}

// The four predictions over an n x n area with a destination stride.
enum predkind { kindxy, kindx, kindy, kindcopy };
void predict(predkind kind, int n, const uint8_t* s, int stride, uint8_t* d, int dstride) {
  for (int r = 0; r < n; ++r) {
    const uint8_t* a = s + static_cast<ptrdiff_t>(r) * stride;
    for (int c = 0; c < n; ++c) {
      int v = 0;
      switch (kind) {
        case kindxy: {
          const uint8_t* b = a + stride;
          v = (a[c] + a[c + 1] + b[c] + b[c + 1] + 2) >> 2;
          break;
        }
        case kindx: v = avg2(a[c], a[c + 1]); break;
        case kindy: v = avg2(a[c], a[c + stride]); break;
        case kindcopy: v = a[c]; break;
      }
      d[static_cast<ptrdiff_t>(r) * dstride + c] = static_cast<uint8_t>(v);
    }
  }
}

}  // namespace

void blockstats_c(const uint8_t* a, const uint8_t* b, int x, int y, int stride, uint32_t* sum,
                  uint32_t* sad, uint32_t* activity) {
  const uint8_t* pa = at(a, x, y, stride);
  const uint8_t* pb = at(b, x, y, stride);
  uint32_t s = 0, d = 0, sq = 0;
  for (int r = 0; r < 16; ++r)
    for (int c = 0; c < 16; ++c) {
      const ptrdiff_t o = static_cast<ptrdiff_t>(r) * stride + c;
      s += pa[o];
      sq += static_cast<uint32_t>(pa[o]) * pa[o];
      d += static_cast<uint32_t>(std::abs(pa[o] - pb[o]));
    }
  *sum = s;
  *sad = d;
  *activity = sq - (s >> 4) * (s >> 4);
}

uint32_t sadframes_c(const uint8_t* a, const uint8_t* b, int count) {
  const ptrdiff_t n = static_cast<ptrdiff_t>(count >> 8) * 256;
  uint32_t s = 0;
  for (ptrdiff_t i = 0; i < n; ++i) s += static_cast<uint32_t>(std::abs(a[i] - b[i]));
  return s;
}

void sad16_c(const uint8_t* plane, int x, int y, int stride, const uint8_t* block,
             uint32_t* result) {
  *result = sadarea(at(plane, x, y, stride), stride, block, 16);
}

void sad8_c(const uint8_t* plane, int x, int y, int stride, const uint8_t* block,
            uint32_t* result) {
  *result = sadarea(at(plane, x, y, stride), stride, block, 8);
}

void put8_c(uint8_t* plane, int x, int y, int stride, const uint8_t* block) {
  uint8_t* d = at(plane, x, y, stride);
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 8; ++c) d[static_cast<ptrdiff_t>(r) * stride + c] = block[8 * r + c];
}

uint32_t sadavg16_c(const uint8_t* p, const uint8_t* q, const uint8_t* s) {
  uint32_t t = 0;
  for (int i = 0; i < 256; ++i) t += static_cast<uint32_t>(std::abs(avg2(p[i], q[i]) - s[i]));
  return t;
}

#define OSTREL_PRED_C(name, kind, n)                                                        \
  void name##_c(const uint8_t* ref, int x, int y, int stride, uint8_t* dst, int dx, int dy) { \
    predict(kind, n, at(ref, x, y, stride), stride, at(dst, dx, dy, stride), stride);       \
  }                                                                                         \
  void name##blk_c(const uint8_t* ref, int x, int y, int stride, uint8_t* block) {          \
    predict(kind, n, at(ref, x, y, stride), stride, block, n);                              \
  }
OSTREL_PRED_C(predxy16, kindxy, 16)
OSTREL_PRED_C(predx16, kindx, 16)
OSTREL_PRED_C(predy16, kindy, 16)
OSTREL_PRED_C(copy16, kindcopy, 16)
OSTREL_PRED_C(predxy8, kindxy, 8)
OSTREL_PRED_C(predx8, kindx, 8)
OSTREL_PRED_C(predy8, kindy, 8)
OSTREL_PRED_C(copy8, kindcopy, 8)

namespace {
void average(int n, const uint8_t* p, const uint8_t* q, uint8_t* d, int stride) {
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c)
      d[static_cast<ptrdiff_t>(r) * stride + c] =
          static_cast<uint8_t>(avg2(p[n * r + c], q[n * r + c]));
}
}  // namespace

void avg16_c(const uint8_t* p, const uint8_t* q, int stride, uint8_t* dst, int dx, int dy) {
  average(16, p, q, at(dst, dx, dy, stride), stride);
}
void avg8_c(const uint8_t* p, const uint8_t* q, int stride, uint8_t* dst, int dx, int dy) {
  average(8, p, q, at(dst, dx, dy, stride), stride);
}

void diffblock_c(const uint8_t* source, const uint8_t* prediction, int16_t* err, int count) {
  const int n = (count >> 4) * 16;
  for (int i = 0; i < n; ++i) err[i] = static_cast<int16_t>(source[i] - prediction[i]);
}

// ---- half-pel grids ----

unsigned gridsides(int x, int y, int xmax, int ymax) {
  unsigned s = 0;
  if (y <= 0) s |= sidetop;
  if (y >= ymax) s |= sidebottom;
  if (x <= 0) s |= sideleft;
  if (x >= xmax) s |= sideright;
  return s;
}

namespace {

// The candidate entries and the window sides each needs: (dx, dy) in half pixels.
struct gridcand {
  int dx, dy;
};
constexpr gridcand gridcands[9] = {{-1, -1}, {0, -1}, {1, -1}, {-1, 0}, {1, 0},
                                   {-1, 1},  {0, 1},  {1, 1},  {0, 0}};

bool candavailable(unsigned sides, int k) {
  const gridcand g = gridcands[k];
  if (g.dy < 0 && (sides & sidetop)) return false;
  if (g.dy > 0 && (sides & sidebottom)) return false;
  if (g.dx < 0 && (sides & sideleft)) return false;
  if (g.dx > 0 && (sides & sideright)) return false;
  return true;
}

// Candidate k's value at block pixel (i, j); reads only the pixels its formula names.
int candvalue(const uint8_t* plane, int xm1, int ym1, int stride, int k, int i, int j) {
  auto w = [&](int r, int c) {
    return static_cast<int>(plane[static_cast<ptrdiff_t>(ym1 + r) * stride + (xm1 + c)]);
  };
  auto h = [&](int r, int c) { return avg2(w(r, c), w(r, c + 1)); };
  // Horizontal value of window row r for the candidate's horizontal offset.
  const gridcand g = gridcands[k];
  auto row = [&](int r) { return g.dx < 0 ? h(r, j) : g.dx > 0 ? h(r, j + 1) : w(r, j + 1); };
  if (g.dy == 0) return row(i + 1);
  return g.dy < 0 ? avg2(row(i), row(i + 1)) : avg2(row(i + 1), row(i + 2));
}

}  // namespace

void hpelsad_c(unsigned sides, const uint8_t* plane, int xm1, int ym1, int stride,
               const uint8_t* source, int32_t* gridsad) {
  for (int k = 0; k < 9; ++k) {
    if (!candavailable(sides, k)) {
      gridsad[k] = invalidsad;
      continue;
    }
    int32_t s = 0;
    for (int i = 0; i < 16; ++i)
      for (int j = 0; j < 16; ++j)
        s += std::abs(candvalue(plane, xm1, ym1, stride, k, i, j) - source[16 * i + j]);
    gridsad[k] = s;
  }
}

void hpelsadpred_c(const uint8_t* plane, int xm1, int ym1, int stride, const uint8_t* source,
                   int32_t* gridsad, uint8_t* blocks) {
  hpelsad_c(0, plane, xm1, ym1, stride, source, gridsad);
  for (int k = 0; k < 9; ++k) {
    uint8_t* b = blocks + 256 * (k == 8 ? 0 : k + 1);
    for (int i = 0; i < 16; ++i)
      for (int j = 0; j < 16; ++j)
        b[16 * i + j] = static_cast<uint8_t>(candvalue(plane, xm1, ym1, stride, k, i, j));
  }
}
