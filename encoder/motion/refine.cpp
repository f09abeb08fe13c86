// Half-pel refinement: the nine half-pel costs around the full-pel vector, the choice among
// them, and for B macroblocks the interpolated cost and the direction; the f_code of a range.
#include <algorithm>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/kernels.h"
#include "encoder/motion/search.h"

const int16_t hpeldelta[10][2] = {{0, 0}, {-1, -1}, {0, -1}, {1, -1}, {-1, 0},
                                  {1, 0}, {-1, 1},  {0, 1},  {1, 1},  {0, 0}};

thread_local int32_t gridfwd[9];
thread_local int32_t gridbwd[9];

namespace {
// Candidate blocks of the grid-with-blocks kernel, one store per direction and coding thread:
// block 0 the centre, block k (1-8) the candidate of grid entry k - 1.
alignas(16) thread_local uint8_t blocksfwd[9 * 256];
alignas(16) thread_local uint8_t blocksbwd[9 * 256];

inline const uint8_t* blockof(const uint8_t* store, int k) {
  return store + 256 * (k == 9 ? 0 : k);
}

// The nine costs at full-pel position (px, py) of ref; with blocks, an interior position also
// stores its nine candidate blocks. The source macroblock is in block.
void measure(const uint8_t* ref, int pitch, int px, int py, const uint8_t* block, int32_t* grid,
             uint8_t* blocks) {
  const unsigned sides = refineborders(px, py);
  if (sides == 0 && blocks != nullptr)
    gridpredfor(settings.simdlevel)(ref, px - 1, py - 1, pitch, block, grid, blocks);
  else
    gridmember(settings.simdlevel, sides)(ref, px - 1, py - 1, pitch, block, grid);
}

inline void setmv(int16_t* v, int vx, int vy) {
  v[0] = static_cast<int16_t>(vx);
  v[1] = static_cast<int16_t>(vy);
}
inline void addmv(int16_t* v, int k) {
  v[0] = static_cast<int16_t>(v[0] + hpeldelta[k][0]);
  v[1] = static_cast<int16_t>(v[1] + hpeldelta[k][1]);
}

// Second pass: the statistics vector, kept inside the picture, is the output vector; in
// profile 4 the full-pel vector is half of it (toward zero) and refinement restarts from
// twice that, so the refined vector stays inside the picture. True when refinement follows.
bool fromstats(mbrecord& mb, int dir, int x, int y) {
  int16_t* s = mb.statmv + dir;
  fitvector(s, x, y);
  setmv(mb.halfmv + dir, s[0], s[1]);
  if (settings.profile != 4) return false;
  setmv(mb.fullmv + dir, s[0] / 2, s[1] / 2);
  setmv(mb.halfmv + dir, 2 * mb.fullmv[dir], 2 * mb.fullmv[dir + 1]);
  return true;
}
}  // namespace

unsigned refineborders(int px, int py) {
  return gridsides(px, py, settings.searchxmax, settings.searchymax);
}

int gridchoice(const int32_t* grid, int32_t& cost) {
  int k = 9;
  cost = grid[8];
  for (int e = 0; e < 8; ++e)
    if (grid[e] < cost) {
      cost = grid[e];
      k = e + 1;
    }
  return k;
}

float interpfactor(int bppclass) {
  switch (bppclass) {
    case 1: return 1.04f;
    case 2: return 1.01f;
    default: return 1.0f;
  }
}

void fitvector(int16_t* v, int x, int y) {
  v[0] = static_cast<int16_t>(std::clamp<int>(v[0], -2 * x, 2 * (settings.searchxmax - x)));
  v[1] = static_cast<int16_t>(std::clamp<int>(v[1], -2 * y, 2 * (settings.searchymax - y)));
}

bdir bdirection(int32_t sf, int32_t sb, int32_t interp, int bppclass) {
  const auto j = static_cast<int32_t>(static_cast<float>(interp) * interpfactor(bppclass));
  const int32_t m = sf <= std::min(sb, j) ? sf : std::min(j, sb);
  if (m == sb) return dirbackward;
  if (m == sf) return dirforward;
  return dirinterp;
}

int fcodeforrange(int m) {
  for (int f = 1; f <= 9; ++f)
    if (m <= (8 << (f - 1))) return f;
  return 0;
}

void mehalfpel1(const pictargs& args, int x, int y, int i) {
  mbrecord& mb = picslots[args.curslot].mbs[i];
  if (settings.passno == 1) {
    setmv(mb.halfmv, 2 * mb.fullmv[0], 2 * mb.fullmv[1]);
    setmv(mb.statmv, mb.halfmv[0], mb.halfmv[1]);
  } else if (!fromstats(mb, 0, x, y)) {
    return;
  }
  const int px = x + mb.fullmv[0], py = y + mb.fullmv[1];
  copy16blk(args.cury, x, y, args.ypitch, args.mescratch);
  measure(args.fwdy, args.ypitch, px, py, args.mescratch, gridfwd, nullptr);
  int32_t cost;
  addmv(mb.halfmv, gridchoice(gridfwd, cost));
  if (settings.passno == 1 && settings.profile < 4) setmv(mb.statmv, mb.halfmv[0], mb.halfmv[1]);
}

void mehalfpel2(const pictargs& args, int x, int y, int i) {
  mbrecord& mb = picslots[args.curslot].mbs[i];
  const bool first = settings.passno == 1;
  if (first) {
    for (int d : {0, 2}) {
      setmv(mb.halfmv + d, 2 * mb.fullmv[d], 2 * mb.fullmv[d + 1]);
      setmv(mb.statmv + d, mb.halfmv[d], mb.halfmv[d + 1]);
    }
  } else {
    const bool fw = fromstats(mb, 0, x, y);
    const bool bw = fromstats(mb, 2, x, y);
    if (!fw || !bw) return;
  }
  const int pfx = x + mb.fullmv[0], pfy = y + mb.fullmv[1];
  const int pbx = x + mb.fullmv[2], pby = y + mb.fullmv[3];
  const bool withblocks = settings.profile >= 2;
  copy16blk(args.cury, x, y, args.ypitch, args.mescratch);
  measure(args.fwdy, args.ypitch, pfx, pfy, args.mescratch, gridfwd,
          withblocks ? blocksfwd : nullptr);
  measure(args.bwdy, args.ypitch, pbx, pby, args.mescratch, gridbwd,
          withblocks ? blocksbwd : nullptr);
  int32_t sf, sb;
  int kf = gridchoice(gridfwd, sf);
  int kb = gridchoice(gridbwd, sb);
  const bool bothinterior = refineborders(pfx, pfy) == 0 && refineborders(pbx, pby) == 0;
  int32_t interp = nocost;
  if (bothinterior && withblocks)
    interp = static_cast<int32_t>(
        sadavg16(blockof(blocksfwd, kf), blockof(blocksbwd, kb), args.mescratch));
  if (!first && settings.profile == 4 && bothinterior) {
    // Every pair of candidates, forward outer and backward inner, centre first.
    int32_t pbest = 0;
    int pf = 0, pb = 0;
    bool any = false;
    for (int a : {9, 1, 2, 3, 4, 5, 6, 7, 8})
      for (int b : {9, 1, 2, 3, 4, 5, 6, 7, 8}) {
        const auto c = static_cast<int32_t>(
            sadavg16(blockof(blocksfwd, a), blockof(blocksbwd, b), args.mescratch));
        if (!any || c < pbest) {
          pbest = c;
          pf = a;
          pb = b;
          any = true;
        }
      }
    if (pbest < sf && pbest < sb && pbest < interp) {
      kf = pf;
      kb = pb;
      interp = pbest;
    }
  }
  addmv(mb.halfmv, kf);
  addmv(mb.halfmv + 2, kb);
  if (first && settings.profile < 4)
    for (int d : {0, 2}) setmv(mb.statmv + d, mb.halfmv[d], mb.halfmv[d + 1]);

  // Forward, backward, interpolated flags by direction.
  static constexpr int8_t dirflags[3][3] = {{-1, 0, 0}, {0, -1, 0}, {-1, -1, -1}};
  const bdir d = bdirection(sf, sb, interp, settings.bppclass);
  std::copy(dirflags[d], dirflags[d] + 3, mb.mbdirflags);
}
