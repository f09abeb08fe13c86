// Full-pel search of one macroblock: the candidates in their fixed order with early exits,
// then a diamond walk from the best one. The order of evaluation decides the vector, so it
// follows the stated order exactly.
#include "encoder/motion/search.h"

#include <cstdlib>

#include "encoder/control/settings.h"
#include "encoder/motion/kernels.h"

int32_t mecostsad(const uint8_t* ref, int px, int py, int pitch, const uint8_t* block) {
  uint32_t r = 0;
  sad16(ref, px, py, pitch, block, &r);
  return static_cast<int32_t>(r);
}

mecostfunc mecost = mecostsad;
thread_local int32_t candcost[8];

namespace {

struct walkpoint {
  int dx, dy;
};
constexpr walkpoint smalldiamond[4] = {{0, -1}, {-1, 0}, {1, 0}, {0, 1}};
constexpr walkpoint largediamond[8] = {{0, -2}, {-1, -1}, {1, -1}, {-2, 0},
                                       {2, 0},  {-1, 1},  {1, 1},  {0, 2}};

struct searchstate {
  const uint8_t* ref;
  int pitch;
  const uint8_t* block;
  int ox, oy;    // origin: the macroblock's own position (entry 0)
  int bx, by;    // best position so far
  int32_t best;  // its cost
};

inline bool inside(int px, int py) {
  return px >= 0 && px <= settings.searchxmax && py >= 0 && py <= settings.searchymax;
}

// One step of a diamond around the best position at the step's start; a point moves the best
// only when strictly cheaper (improvements within the step count). True when it improved.
template <int n>
bool step(searchstate& s, const walkpoint (&pts)[n]) {
  const int cx = s.bx, cy = s.by;
  bool improved = false;
  for (const walkpoint& p : pts) {
    const int px = cx + p.dx, py = cy + p.dy;
    if (!inside(px, py)) continue;
    const int32_t c = mecost(s.ref, px, py, s.pitch, s.block);
    if (c < s.best) {
      s.best = c;
      s.bx = px;
      s.by = py;
      improved = true;
    }
  }
  return improved;
}

inline bool outofreach(const searchstate& s) {
  return std::abs(s.bx - s.ox) > searchreachx || std::abs(s.by - s.oy) > searchreachy;
}

// Repeats steps until the best is below t7, a step brings nothing, or the walk went too far.
template <int n>
void walk(searchstate& s, const walkpoint (&pts)[n], int32_t t7) {
  for (;;) {
    const bool improved = step(s, pts);
    if (s.best < t7 || !improved || outofreach(s)) return;
  }
}

// The candidate stage. True when it ended the search (an early exit, or a best at or below
// t7); s then holds the result. Otherwise s holds the best candidate to walk from.
bool candidates(searchstate& s, const mvcands& c, int32_t t0, int32_t t1, int32_t t7) {
  for (int32_t& v : candcost) v = nocost;
  auto eval = [&](int k) {
    candcost[k] = mecost(s.ref, c.x[k], c.y[k], s.pitch, s.block);
    return candcost[k];
  };
  auto exitwith = [&](int k) {
    s.bx = c.x[k];
    s.by = c.y[k];
    s.best = candcost[k];
    return true;
  };
  if (settings.curpictype == 2) {
    if (eval(0) < t0) return exitwith(0);
    if (c.valid[1] == 1 && eval(1) < t1) return exitwith(1);
  } else if (settings.curpictype == 3) {
    if (c.valid[1] == 1 && eval(1) < t1) return exitwith(1);
    if (eval(0) < t0) return exitwith(0);
  }
  if (c.valid[7] == 1 && eval(7) < t7) return exitwith(7);
  for (int k = 2; k <= 6; ++k)
    if (c.valid[k] == 1) eval(k);
  int bestk = 0;
  for (int k = 1; k < 8; ++k)
    if (candcost[k] < candcost[bestk]) bestk = k;
  exitwith(bestk);
  return s.best <= t7;
}

searchstate begin(const uint8_t* ref, int pitch, const uint8_t* block, const mvcands& c) {
  searchstate s{};
  s.ref = ref;
  s.pitch = pitch;
  s.block = block;
  s.ox = c.x[0];
  s.oy = c.y[0];
  return s;
}

}  // namespace

int32_t mesearch1(const uint8_t* ref, int pitch, const uint8_t* block, int /*i*/, const mvcands& c,
                  int& bx, int& by, int32_t t0, int32_t t1, int32_t t7) {
  searchstate s = begin(ref, pitch, block, c);
  if (!candidates(s, c, t0, t1, t7)) walk(s, smalldiamond, t7);
  bx = s.bx;
  by = s.by;
  return s.best;
}

int32_t mesearch2(const uint8_t* ref, int pitch, const uint8_t* block, int /*i*/, const mvcands& c,
                  int& bx, int& by, int32_t t0, int32_t t1, int32_t t7) {
  searchstate s = begin(ref, pitch, block, c);
  if (!candidates(s, c, t0, t1, t7)) {
    walk(s, largediamond, t7);
    // One small step whatever ended the large walk, with no reach limit; its points still
    // stay inside the picture.
    step(s, smalldiamond);
  }
  bx = s.bx;
  by = s.by;
  return s.best;
}
