// Motion estimation of whole P and B pictures: a full-pel phase in the first pass (search of
// every macroblock, the forced-intra decision) and a half-pel phase with the f_codes in every
// pass. Macroblocks go in raster order: index 1..mbcount, x by 16 along a row.
#include "encoder/motion/motionest.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>

#include "encoder/coding/picslot.h"
#include "encoder/control/settings.h"
#include "encoder/motion/kernels.h"
#include "encoder/motion/search.h"

namespace {

using searchfunc = int32_t (*)(const uint8_t*, int, const uint8_t*, int, const mvcands&, int&, int&,
                               int32_t, int32_t, int32_t);
inline searchfunc searchvariant() { return settings.profile == 1 ? mesearch1 : mesearch2; }

// Calls f(i, x, y) for every macroblock in raster order.
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

// The full-pel vector of a best position, kept within the search's reach.
inline void storefull(int16_t* v, int bx, int by, int x, int y) {
  v[0] = static_cast<int16_t>(std::clamp(bx - x, -searchreachx, searchreachx));
  v[1] = static_cast<int16_t>(std::clamp(by - y, -searchreachy, searchreachy));
}

// Forced intra when the mean best cost per luma sample, truncated, exceeds 35.
inline int32_t costflag(int64_t sum) { return sum / settings.lumasize > 35 ? -1 : 0; }

inline void raise(int& m, int v) { m = std::max(m, std::abs(v)); }

}  // namespace

void picmotionest(const pictargs& args) {
  picslot& slot = picslots[args.curslot];
  if (slot.mecostflag & 1) return;
  if (settings.passno == 1) {
    const searchfunc search = searchvariant();
    int64_t sum = 0;
    eachmb([&](int i, int x, int y) {
      copy16blk(args.cury, x, y, args.ypitch, args.mescratch);
      mepred1(args.curslot, args.fwdslot, i, x, y, pcands);
      int bx = x, by = y;
      sum += search(args.fwdy, args.ypitch, args.mescratch, i, pcands, bx, by, pthresh0, pthresh1,
                    pthresh7);
      storefull(slot.mbs[i].fullmv, bx, by, x, y);
    });
    slot.mecostflag = costflag(sum);
  }
  int mh = 0, mv = 0, sh = 0, sv = 0;
  eachmb([&](int i, int x, int y) {
    mehalfpel1(args, x, y, i);
    mbrecord& mb = slot.mbs[i];
    mb.mbdirflags[0] = (mb.halfmv[0] != 0 || mb.halfmv[1] != 0) ? -1 : 0;
    raise(mh, mb.halfmv[0]);
    raise(mv, mb.halfmv[1]);
    raise(sh, mb.statmv[0]);
    raise(sv, mb.statmv[1]);
  });
  slot.fcodes[0] = fcodeforrange(mh);
  slot.fcodes[1] = fcodeforrange(mv);
  slot.fcodes[2] = slot.fcodes[3] = 15;
  slot.fcodes[4] = fcodeforrange(sh);
  slot.fcodes[5] = fcodeforrange(sv);
  slot.fcodes[6] = slot.fcodes[7] = 15;
}

void bmotionest(const pictargs& args) {
  assert(args.fwdslot != args.bwdslot && "a B picture needs two different references");
  picslot& slot = picslots[args.curslot];
  if (slot.mecostflag & 1) return;
  if (settings.passno == 1) {
    for (int i = 1; i <= settings.mbcount; ++i) {
      mbrecord& mb = slot.mbs[i];
      std::fill(mb.fullmv, mb.fullmv + 4, int16_t{0});
      std::fill(mb.mbdirflags, mb.mbdirflags + 3, int8_t{0});
    }
    const searchfunc search = searchvariant();
    int64_t sum = 0;
    eachmb([&](int i, int x, int y) {
      copy16blk(args.cury, x, y, args.ypitch, args.mescratch);
      mepred2(args.fwdslot, args.bwdslot, args.curslot, i, x, y, fcands, bcands);
      int fx = x, fy = y, bx = x, by = y;
      const int32_t sf = search(args.fwdy, args.ypitch, args.mescratch, i, fcands, fx, fy, bthresh0,
                                bthresh1, bthresh7);
      storefull(slot.mbs[i].fullmv, fx, fy, x, y);
      const int32_t sb = search(args.bwdy, args.ypitch, args.mescratch, i, bcands, bx, by, bthresh0,
                                bthresh1, bthresh7);
      storefull(slot.mbs[i].fullmv + 2, bx, by, x, y);
      sum += std::min(sf, sb);
    });
    slot.mecostflag = costflag(sum);
  }
  int m[8] = {};
  eachmb([&](int i, int x, int y) {
    mehalfpel2(args, x, y, i);
    const mbrecord& mb = slot.mbs[i];
    for (int n = 0; n < 4; ++n) {
      raise(m[n], mb.halfmv[n]);
      raise(m[n + 4], mb.statmv[n]);
    }
  });
  for (int n = 0; n < 8; ++n) slot.fcodes[n] = fcodeforrange(m[n]);
}
