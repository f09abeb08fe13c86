// Starting candidates of the full-pel search, from vectors already known: the neighbours of
// the same picture, the co-located macroblock of a reference and the previous B picture.
#include <cmath>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/search.h"

thread_local mvcands pcands;
thread_local mvcands fcands;
thread_local mvcands bcands;

namespace {

// Nearest integer, halves away from zero, of a single-precision value.
inline int32_t roundhalfaway(float v) { return static_cast<int32_t>(std::lround(v)); }

inline void put(mvcands& c, int k, int x, int y, const int16_t* mv) {
  c.x[k] = x + mv[0];
  c.y[k] = y + mv[1];
  c.valid[k] = 1;
}

// Entries 1-4 from the neighbours' vectors (offset 0 forward, 2 backward in fullmv).
void neighbours(const picslot& cur, int i, int x, int y, int dir, mvcands& c) {
  const int cols = settings.mbcols;
  if (x > 0) {
    put(c, 1, x, y, cur.mbs[i - 1].fullmv + dir);
    if (y > 0) {
      put(c, 2, x, y, cur.mbs[i - cols - 1].fullmv + dir);
      put(c, 3, x, y, cur.mbs[i - cols].fullmv + dir);
    }
  } else if (y > 0) {
    put(c, 3, x, y, cur.mbs[i - cols].fullmv + dir);
  }
  if (x < settings.searchxmax && y > 0) put(c, 4, x, y, cur.mbs[i - cols + 1].fullmv + dir);
}

// Entries 0..last that point outside the picture are not searched.
void bounds(mvcands& c, int last) {
  for (int k = 0; k <= last; ++k)
    if (c.x[k] < 0 || c.x[k] > settings.searchxmax || c.y[k] < 0 || c.y[k] > settings.searchymax)
      c.valid[k] = 0;
}

// Entry 7: the mean of the valid entries 1, 3 and 4, rounded in single precision.
void mean(mvcands& c) {
  int n = 0, sx = 0, sy = 0;
  for (int k : {1, 3, 4})
    if (c.valid[k] == 1) {
      ++n;
      sx += c.x[k];
      sy += c.y[k];
    }
  if (n > 0) {
    c.x[7] = roundhalfaway(static_cast<float>(sx) / static_cast<float>(n));
    c.y[7] = roundhalfaway(static_cast<float>(sy) / static_cast<float>(n));
    c.valid[7] = 1;
  } else {
    c.x[7] = 0;
    c.y[7] = 0;
    c.valid[7] = 0;
  }
}

void start(mvcands& c, int x, int y) {
  for (int k = 0; k < 8; ++k) {
    c.x[k] = 0;
    c.y[k] = 0;
    c.valid[k] = 0;
  }
  c.x[0] = x;
  c.y[0] = y;
  c.valid[0] = 1;
}

}  // namespace

void mepred1(int curslot, int fwdslot, int i, int x, int y, mvcands& list) {
  start(list, x, y);
  neighbours(picslots[curslot], i, x, y, 0, list);
  const picslot& ref = picslots[fwdslot];
  if (ref.pictype == 2) put(list, 5, x, y, ref.mbs[i].fullmv);
  bounds(list, 5);
  mean(list);
}

void mepred2(int fwdslot, int bwdslot, int curslot, int i, int x, int y, mvcands& f, mvcands& b) {
  start(f, x, y);
  start(b, x, y);
  const picslot& cur = picslots[curslot];
  neighbours(cur, i, x, y, 0, f);
  neighbours(cur, i, x, y, 2, b);
  const int d = bwdslot - fwdslot;   // distance between the references, in pictures
  const int df = curslot - fwdslot;  // from the forward reference to this picture
  const int db = bwdslot - curslot;  // from this picture to the backward reference
  const picslot& bwd = picslots[bwdslot];
  // With both references in one slot there is no distance to scale by.
  if (bwd.pictype == 2 && d != 0) {
    const float rf = static_cast<float>(df) / static_cast<float>(d);
    const float rb = static_cast<float>(db) / static_cast<float>(d);
    const float vx = bwd.mbs[i].fullmv[0], vy = bwd.mbs[i].fullmv[1];
    f.x[5] = x + roundhalfaway(vx * rf);
    f.y[5] = y + roundhalfaway(vy * rf);
    f.valid[5] = 1;
    b.x[5] = x - roundhalfaway(vx * rb);
    b.y[5] = y - roundhalfaway(vy * rb);
    b.valid[5] = 1;
  }
  // The last of two (or three) B pictures between the references starts from the previous
  // one's vectors, coded just before it.
  if ((d == 3 && df == 2) || (d == 4 && df == 3)) {
    const mbrecord& prev = picslots[curslot - 1].mbs[i];
    put(f, 6, x, y, prev.fullmv);
    put(b, 6, x, y, prev.fullmv + 2);
  }
  bounds(f, 6);
  bounds(b, 6);
  mean(f);
  mean(b);
}
