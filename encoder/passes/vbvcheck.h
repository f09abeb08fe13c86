// The checks that may send a GOP of the second pass back to be coded again: the VBV check after
// every picture and the maximum-bitrate retry after every complete try of a GOP, with the retry
// state they share with the GOP loop.
//
// The loop's side of the protocol, per GOP:
//   at the GOP start:   vbvrestart = retrycount = 0, every picqfactors entry 1.0, framesaved
//                       decided (saveframe when the second coded picture is a B picture)
//   coding position 1:  gopsnapshot taken while retrycount is 0
//   after each picture: vbvcheck2(type, slot, gopsnapshot, i); vbvrestart > 0: the GOP has been
//                       rolled back, code it again from position 1
//   after the last:     maxrateretry2(qI, qP, qB, gopsnapshot); retrycount > 0: rolled back,
//                       the quantisers raised, every picqfactors entry back to 1.0, code again
// A GOP is coded at most maxgoptries times: during its last try lastgoptry is set, and the
// checks then still follow the pictures but neither roll the GOP back nor ask for a re-code.
//
// The checks themselves are not built yet: they never reject, so every GOP is accepted after its
// first try. Only the pass worker thread uses this.
#pragma once

#include <cstdint>

#include "encoder/control/settings.h"

// The pass counters a rejected try goes back to, taken at coding position 1 of the first try.
struct gopsnapshotrec {
  int32_t icount = 0, pcount = 0, bcount = 0;  // pictures coded in the pass by type
  int32_t newref = 0;                          // newest reference picture slot
  int32_t previewcount = 0;                    // pictures since the preview was drawn
  int32_t gopframe = 0;                        // pictures coded in the pass
};

constexpr int maxgoptries = 100;  // codings of one GOP, the first one included

extern gopsnapshotrec gopsnapshot;
// The quantiser multiplier of each picture by slot 1..36 (temporal reference + 1); the VBV check
// raises the multipliers of the pictures of an overflowing chain.
extern float picqfactors[maxgoplength + 1];
extern int32_t vbvrestart;  // consecutive VBV overflows; above 0: restart the GOP
extern int32_t retrycount;  // maximum-bitrate retries of the GOP; above 0: code it again
extern int32_t vbvchain;    // bits of the reference chain at the last VBV check
extern bool framesaved;     // the newest reference picture was saved for a rollback
extern bool lastgoptry;     // the try in progress is the GOP's last: no rejects

// A rejected try: the counters of the snapshot back, gopbpics, gopbytes and gopbits 0, and,
// when framesaved, the saved reference picture restored.
void rollbackgop(const gopsnapshotrec& snap);

// After each picture of the second pass (type 1 I, 2 P, 3 B; its picture slot; coding position
// i from 1), once the loop has added its bits to the GOP's totals.
void vbvcheck2(int type, int slot, const gopsnapshotrec& snap, int i);
// After each complete try of a GOP of the second pass, once gopbitrate is set; may raise the
// three quantisers in place.
void maxrateretry2(float& qi, float& qp, float& qb, const gopsnapshotrec& snap);
