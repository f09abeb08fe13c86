// Motion estimation of whole P and B pictures: a full-pel phase in the first pass (search of
// every macroblock, the forced-intra decision) and a half-pel phase with the f_codes in every
// pass. Macroblocks go in raster order: index 1..mbcount, x by 16 along a row.
//
// The rows of a picture run on the coding threads as a wavefront: the full-pel candidates of a
// macroblock are the vectors of its left, top-left, top and top-right neighbours, so a row
// searches macroblock c only once the row above has searched macroblock c + 1, and every
// macroblock then sees exactly the neighbours a search in raster order gives it. The
// refinement of a macroblock needs only its own full-pel vector and follows its search at
// once; the forced-intra decision and the f_codes are taken from the rows' sums and maxima
// when every row is done.
#include "encoder/motion/motionest.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/kernels.h"
#include "encoder/motion/search.h"
#include "platform/pool.h"

namespace {

using searchfunc = int32_t (*)(const uint8_t*, int, const uint8_t*, int, const mvcands&, int&, int&,
                               int32_t, int32_t, int32_t);
inline searchfunc searchvariant() { return settings.profile == 1 ? mesearch1 : mesearch2; }

// The full-pel vector of a best position, kept within the search's reach.
inline void storefull(int16_t* v, int bx, int by, int x, int y) {
  v[0] = static_cast<int16_t>(std::clamp(bx - x, -searchreachx, searchreachx));
  v[1] = static_cast<int16_t>(std::clamp(by - y, -searchreachy, searchreachy));
}

// Forced intra when the mean best cost per luma sample, truncated, exceeds 35.
inline int32_t costflag(int64_t sum) { return sum / settings.lumasize > 35 ? -1 : 0; }

inline void raise(int& m, int v) { m = std::max(m, std::abs(v)); }

constexpr int maxrows = maxheight / 16;

// What each row hands to the picture: its summed best costs and the largest vector components
// (P: halfmv x, y, statmv x, y; B: halfmv then statmv, four components each).
struct alignas(64) rowresult {  // (rows side by side write their own)
  int64_t cost = 0;
  int most[8] = {};
};
rowresult rowresults[maxrows];
partprogress rowsearched[maxrows];  // macroblocks of each row with their full-pel vector

// Runs row(k, y, first macroblock index) for every macroblock row on the coding threads and
// returns the rows' results combined: costs summed, maxima taken.
template <typename F>
rowresult eachrow(F&& row) {
  const int rows = std::min(settings.mbrows, maxrows);
  for (int k = 0; k < rows; ++k) {
    rowresults[k] = rowresult{};
    progressreset(rowsearched[k]);
  }
  poolrun(rows, [&](int k) { row(k, 16 * k, k * settings.mbcols + 1); });
  rowresult all;
  for (int k = 0; k < rows; ++k) {
    all.cost += rowresults[k].cost;
    for (int n = 0; n < 8; ++n) all.most[n] = std::max(all.most[n], rowresults[k].most[n]);
  }
  return all;
}

constexpr int publishevery = 4;  // macroblocks between two publications of a row's progress

// Runs the macroblocks of row k (first index i0): search(c, x, i) for each, in order, when
// the pass searches, then refine(c, x, i) for each. The search of macroblock c waits until the
// row above has searched up to c + 1 (or to its end); while it waits, the row refines (and
// predicts) what it has searched so far, as that needs nothing from any other macroblock.
template <typename S, typename R>
void rowwave(int k, int i0, bool searching, S&& search, R&& refine) {
  const int cols = settings.mbcols;
  int refined = 0;
  auto refinenext = [&] {
    refine(refined, 16 * refined, i0 + refined);
    ++refined;
  };
  // What the row above was last seen to have searched: looked at again only when that is not
  // enough (each look at a count that the row above keeps writing costs both rows time).
  int above = k > 0 ? 0 : cols;
  if (searching)
    for (int c = 0; c < cols; ++c) {
      const int need = std::min(c + 2, cols);
      while (above < need) {
        if (progressreached(rowsearched[k - 1], need)) {
          above = progresscount(rowsearched[k - 1]);
        } else if (refined < c) {
          refinenext();
        } else {
          progresswait(rowsearched[k - 1], need);
          above = progresscount(rowsearched[k - 1]);
        }
      }
      search(c, 16 * c, i0 + c);
      // Published every few macroblocks (and at the row's end): each look of the row below at a
      // count this row has just written moves its cache line from one processor to the other.
      if ((c + 1) % publishevery == 0 || c + 1 == cols) progressset(rowsearched[k], c + 1);
    }
  while (refined < cols) refinenext();
}

alignas(16) thread_local uint8_t ownscratch[256 + 768];

}  // namespace

pictargs threadargs(const pictargs& args) {
  pictargs a = args;
  if (poolworker()) {
    a.mescratch = ownscratch;
    a.predscratch = ownscratch + 256;
  }
  return a;
}

namespace {

// picmotionest, and with predict the prediction of every macroblock and row as well.
void pmotion(const pictargs& args, bool predict) {
  picslot& slot = picslots[args.curslot];
  if (slot.mecostflag & 1) {
    if (predict) predictpic(args);
    return;
  }
  const bool first = settings.passno == 1;
  const searchfunc search = searchvariant();
  const rowresult r = eachrow([&](int k, int y, int i0) {
    const pictargs a = threadargs(args);
    rowresult& out = rowresults[k];
    auto fullpel = [&](int, int x, int i) {
      copy16blk(a.cury, x, y, a.ypitch, a.mescratch);
      mepred1(a.curslot, a.fwdslot, i, x, y, pcands);
      int bx = x, by = y;
      out.cost += search(a.fwdy, a.ypitch, a.mescratch, i, pcands, bx, by, pthresh0, pthresh1,
                         pthresh7);
      storefull(slot.mbs[i].fullmv, bx, by, x, y);
    };
    auto halfpel = [&](int, int x, int i) {
      mbrecord& mb = slot.mbs[i];
      mehalfpel1(a, x, y, i);
      mb.mbdirflags[0] = (mb.halfmv[0] != 0 || mb.halfmv[1] != 0) ? -1 : 0;
      raise(out.most[0], mb.halfmv[0]);
      raise(out.most[1], mb.halfmv[1]);
      raise(out.most[2], mb.statmv[0]);
      raise(out.most[3], mb.statmv[1]);
      if (predict) predictpmb(a, i, x, y);
    };
    rowwave(k, i0, first, fullpel, halfpel);
  });
  if (first) slot.mecostflag = costflag(r.cost);
  slot.fcodes[0] = fcodeforrange(r.most[0]);
  slot.fcodes[1] = fcodeforrange(r.most[1]);
  slot.fcodes[2] = slot.fcodes[3] = 15;
  slot.fcodes[4] = fcodeforrange(r.most[2]);
  slot.fcodes[5] = fcodeforrange(r.most[3]);
  slot.fcodes[6] = slot.fcodes[7] = 15;
}

void bmotion(const pictargs& args, bool predict) {
  assert(args.fwdslot != args.bwdslot && "a B picture needs two different references");
  picslot& slot = picslots[args.curslot];
  if (slot.mecostflag & 1) {
    if (predict) predictbpic(args);
    return;
  }
  const bool first = settings.passno == 1;
  const searchfunc search = searchvariant();
  const rowresult r = eachrow([&](int k, int y, int i0) {
    const pictargs a = threadargs(args);
    rowresult& out = rowresults[k];
    if (first)  // the row's vectors and directions start from nothing
      for (int c = 0; c < settings.mbcols; ++c) {
        mbrecord& mb = slot.mbs[i0 + c];
        std::fill(mb.fullmv, mb.fullmv + 4, int16_t{0});
        std::fill(mb.mbdirflags, mb.mbdirflags + 3, int8_t{0});
      }
    auto fullpel = [&](int, int x, int i) {
      mbrecord& mb = slot.mbs[i];
      copy16blk(a.cury, x, y, a.ypitch, a.mescratch);
      mepred2(a.fwdslot, a.bwdslot, a.curslot, i, x, y, fcands, bcands);
      int fx = x, fy = y, bx = x, by = y;
      const int32_t sf = search(a.fwdy, a.ypitch, a.mescratch, i, fcands, fx, fy, bthresh0,
                                bthresh1, bthresh7);
      storefull(mb.fullmv, fx, fy, x, y);
      const int32_t sb = search(a.bwdy, a.ypitch, a.mescratch, i, bcands, bx, by, bthresh0,
                                bthresh1, bthresh7);
      storefull(mb.fullmv + 2, bx, by, x, y);
      out.cost += std::min(sf, sb);
    };
    auto halfpel = [&](int, int x, int i) {
      const mbrecord& mb = slot.mbs[i];
      mehalfpel2(a, x, y, i);
      for (int n = 0; n < 4; ++n) {
        raise(out.most[n], mb.halfmv[n]);
        raise(out.most[n + 4], mb.statmv[n]);
      }
      if (predict) predictbmb(a, i, x, y);
    };
    rowwave(k, i0, first, fullpel, halfpel);
  });
  if (first) slot.mecostflag = costflag(r.cost);
  for (int n = 0; n < 8; ++n) slot.fcodes[n] = fcodeforrange(r.most[n]);
}

}  // namespace

void picmotionest(const pictargs& args) { pmotion(args, false); }
void picmotionpredict(const pictargs& args) { pmotion(args, true); }
void bmotionest(const pictargs& args) { bmotion(args, false); }
void bmotionpredict(const pictargs& args) { bmotion(args, true); }
