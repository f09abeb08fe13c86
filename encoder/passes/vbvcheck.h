// The checks that may send a GOP back to be coded again: the VBV check after every picture and
// the maximum-bitrate retry after every complete try of a GOP, with the retry state they share
// with the GOP loops. vbvcheck2 and maxrateretry2 serve the second pass of a two-pass run,
// vbvcheck1 and maxrateretry1 the one pass at a constant quantiser under a maximum bitrate
// (cqmbrloop); each pair has its own reference chain and its own retry factors.
//
// The loop's side of the protocol, per GOP:
//   at the pass start:  vbvstart()
//   at the GOP start:   vbvrestart = retrycount = 0, every picqfactors entry 1.0, framesaved
//                       decided (saveframe when the second coded picture is a B picture)
//   coding position 1:  starttry(): the GOP's headers, and gopsnapshot while retrycount is 0
//   after each picture: checkpicture(type, slot, gopsnapshot, i, n, qI, qP, qB), picq[i]
//                       holding its quantiser; true: the GOP has been rolled back, code it
//                       again from position 1
//   after the last:     gopbitrate set, then maxrateretry(qI, qP, qB, gopsnapshot);
//                       retrycount > 0: rolled back, the quantisers raised, code again
//   once accepted:      gopaccepted(first frame, n, codings)
// The multipliers a check raised stay for every later try of the GOP, so no try repeats one
// before it.
//
// The VBV check keeps the bits of the reference chain (the older and the newer reference
// picture and the newest B picture since them) and compares their sum with vbvtable[level]
// (95 % of the level's buffer, or of "*VBVSIZE"); a chain above it counts as an overflow only
// where the declared buffer too (below) holds less, right after the picture, than the bound
// leaves free (the level's buffer less vbvtable[level]). On an overflow it raises the quantiser
// multipliers of the chain's pictures by factors that grow with the excess and with the
// overflows in a row, and sends the GOP back. Beside the chain it runs the buffer model of the
// stream itself: the buffer the sequence header declares (vbv_buffer_size_value x 16,384 bits),
// filled at the declared bit_rate (bit_rate_value x 400) while not full, full when the first
// picture is decoded, each picture with the headers in front of it leaving at its decoding time
// (two field periods apart, three where the picture shown meanwhile repeats a field). A
// picture that is not wholly in that buffer at its decoding time counts as an overflow of the
// chain (the chain can be within its bound while the buffer, drained by the pictures before,
// cannot deliver the next one), so a stream the checks accept never underflows the buffer it
// declares.
// At Main Level (the DVD's) the start of the stream is also checked against a second buffer,
// filled as a DVD multiplexer fills it: mplex -f 8 with its default run-in decodes the first
// picture before the buffer is full (97,187 bytes carried at 25 frames a second, 121,487 at
// 29.97), then carries the video faster than a DVD's maximum while the buffer has room. A
// picture that buffer cannot deliver is coded again coarser on its own (its references stay),
// and comes closer to the fill once it fits; the multiplier keeps its quantiser when the checks
// raise the GOP's quantisers. Once that buffer holds as much as the one above, the start is
// over.
//
// Beside the VBV check, the picture check abandons a try as soon as its pictures hold more bits
// than the GOP may spend at the maximum bitrate (n x maxbitrate / frame rate), or as soon as
// the buffer cannot carry a picture of a try whose bits so far point to a GOP above the
// maximum: the GOP would end above it anyway, so its three quantisers are raised at once with
// the retry's factor f0, by the square root of the excess, at most twofold. Under
// "-cq_maxbitrate" a GOP that then fits below 70 % of the maximum is coded once more between the
// two tries (aimed at 85 %), and coded as it fitted when that probe comes out too large.
//
// Re-coding always ends: a check sends a GOP back only when a multiplier or a quantiser
// actually rises for a picture still below quantiser 31 (or for the one probe), so a GOP stands over a limit only
// when nothing coarser is left for it (for the maximum: every picture of the GOP at 31). A GOP
// is coded at most maxgoptries times, a guard that real content does not reach (during its last
// try lastgoptry is set, and the checks then follow the pictures but never reject). A GOP
// accepted over the VBV buffer or the maximum bitrate gets a " WARNING, " line in the log, the
// status line and on stderr and is counted in gopsoverlimit (the run's exit status tells it).
// Every rollback, by any check, puts the chain and the buffer model back to the GOP's start.
// A maximum bitrate of 0 or less, or a VBV size of 0, leaves the check that needs it inert.
// Only the pass worker thread uses this.
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
extern int32_t gopsoverlimit;  // GOPs of the pass accepted over the VBV buffer or the maximum
// The bitrate (bit/s) the bits of the last try the picture check abandoned pointed to: what
// that try would have reached had it been coded to its end.
extern int64_t abandonedrate;
// The last try of the GOP being coded that ran to its end (the second pass sets it): its GOP
// number, I quantiser, bits and the exponent k of bits ~ q^-k measured so far. A picture check
// of a later try of that GOP projects from it rather than from its own first pictures alone.
struct wholetryrec {
  int gop = 0;
  float qi = 0.0f;
  int64_t bits = 0;
  float exponent = 2.0f;
};
extern wholetryrec wholetry;
// Every picture of the second pass's try just coded stood at its type's quantiser (multiplier
// 1), but for those coded coarser for the multiplexer's start-up buffer: a one-time bound of the
// stream's first pictures, not a sign that the GOP's quantisers are too fine.
bool cleantry2();

// The start of a pass that runs the checks: both chains empty, the buffer model full (and, at
// Main Level, the multiplexer's start-up buffer at its run-in), no GOP over a limit yet.
void vbvstart();

// At coding position 1 of every try of a GOP: the sequence and GOP headers into headerbuf
// (from its start), runbits = totalbits and their bits, and, on the GOP's first try (retrycount
// 0; a VBV restart leaves the counters as the snapshot has them), gopsnapshot from the counters.
void starttry();

// A rejected try: the counters of the snapshot back, gopbpics, gopbytes and gopbits 0, the
// chain and buffer model of the running pass at the GOP's start, and, when framesaved, the
// saved reference picture restored.
void rollbackgop(const gopsnapshotrec& snap);

// After each picture (type 1 I, 2 P, 3 B; its picture slot; coding position i from 1), once the
// loop has added its bits to the GOP's totals: vbvcheck2 in the second pass, vbvcheck1 under
// "-cq_maxbitrate" (whose multipliers stop at 99). Inert with "*NOVBV".
void vbvcheck2(int type, int slot, const gopsnapshotrec& snap, int i);
void vbvcheck1(int type, int slot, const gopsnapshotrec& snap, int i);

// After each picture of a GOP of n pictures (once the loop has added its bits to the GOP's
// totals): the VBV check, then the GOP's budget, which raises qi, qp, qb in place when it
// abandons the try (retrycount one up). True when the try was abandoned and rolled back.
bool checkpicture2(int type, int slot, const gopsnapshotrec& snap, int i, int n, float& qi,
                   float& qp, float& qb);
bool checkpicture1(int type, int slot, const gopsnapshotrec& snap, int i, int n, float& qi,
                   float& qp, float& qb);

// After each complete try of a GOP, once gopbitrate is set: when it exceeds the maximum
// bitrate, the three quantisers are raised in place by a factor of the excess and the GOP is
// rolled back (retrycount > 0); not when all three are at 31 or the picture check found every
// picture of the try at 31.
void maxrateretry2(float& qi, float& qp, float& qb, const gopsnapshotrec& snap);
void maxrateretry1(float& qi, float& qp, float& qb, const gopsnapshotrec& snap);

// The factors of the checks by speed profile 1..4 (outside: the nearest): the VBV overflow
// factor, and the retry factor f0 of maxrateretry2 and maxrateretry1 after `made` retries of
// the GOP.
float vbvprofilefactor(int profile);
float retryfactor2(int profile, int made);
float retryfactor1(int profile, int made);

// The GOP of n frames from source frame first, accepted after `codings` tries: the WARNING line
// when it stands over the VBV buffer or the maximum bitrate (counted in gopsoverlimit), or when
// the bound on tries ended its re-coding.
void gopaccepted(int first, int n, int codings);
