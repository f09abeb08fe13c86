// The first-pass thread and its GOP loop: the one pass of a constant-quantiser run (writes the
// stream) and the first pass of a two-pass run (writes the statistics stream, codes every
// picture at quantiser 4). One GOP per iteration: the frame fetch, the matrix step, the picture
// order, the pictures in coding order through the coder of their type, the writers, the
// per-GOP figures.
//
// The thread stops at its next check, at least once per frame read and per picture: it waits
// at the pause gate, and when keeprunning is false or a fatal error was raised it returns
// without asking for another step (a stopped one-pass run first writes out the GOPs coded so
// far, so the stream ends on a whole GOP).
#pragma once

#include <cstdint>

#include "encoder/motion/pictargs.h"
#include "encoder/control/settings.h"

// Pass counters, reset by the GOP loop at its start; the intermediate and second passes and
// the display read them afterwards.
extern int32_t gopcount;     // current GOP, from 1; at the end the number of GOPs
extern int32_t gopsdone;     // GOPs finished
extern int32_t icount, pcount, bcount;  // pictures coded in the pass by type
extern int32_t gopbits;      // bits of the current GOP's pictures
extern int32_t gopbytes;     // bytes of the current GOP's pictures
extern int32_t gopbpics;     // B pictures of the current GOP
extern int32_t previewcount; // pictures coded since the preview was drawn
extern int64_t totalbits;    // header and picture bits so far
extern double qsum;          // sum of the quantisers of all coded pictures
// The preset of the smallest GOP bitrate: above every bitrate a GOP can have (a preset of
// 16,777,215 bit/s would stay the "minimum" of a run whose GOPs all code above 16.8 Mbit/s).
constexpr int32_t gopratenone = INT32_MAX;
extern int32_t gopratemin;   // smallest GOP bitrate so far, bit/s (preset gopratenone)
extern int32_t gopratemax;   // largest, preset 0
extern int64_t gopratesum;   // sum of gopbits over the GOPs
extern int32_t gopbitrate;   // bitrate of the current GOP, bit/s (stream-writing passes)
extern int32_t oldref, newref;  // picture slots of the two most recent reference pictures
extern float picq[maxgoplength + 1];  // quantiser of each picture by coding position 1..n

// Per-GOP results by GOP number 1..gopcount. A GOP holds at least one frame, so one entry per
// frame of the largest clip is room for every run.
constexpr int maxgopcount = maxframes;
struct gopstatsrec {
  uint8_t frames[maxgopcount + 1];  // frames of the GOP, 1..36
  int32_t bits[maxgopcount + 1];    // 8 x the GOP's picture bytes
  float zone[maxgopcount + 1];      // mean zone factor over the GOP's frames
};
extern gopstatsrec gopstats;

// The argument record of the coder calls (one per loop), and how it is filled for a picture:
// the slot numbers as given (0: no such reference), the source planes of ring entry curframe,
// the reconstructed planes of fwdslot and bwdslot (none for slot 0), the prediction planes,
// the first residual triple, pitches width and chromawidth, mescratch = scratch block 0 and
// predscratch = scratch blocks 1..3 (768 contiguous bytes). Needs the frame store.
extern pictargs picjob;
pictargs picjobfor(int curframe, int curslot, int fwdslot, int bwdslot);

// The loop's timing values after each GOP, for the display: seconds since the loop started
// (workseconds: time at work, suspension left out), frames a second of the last GOP (nint, 0
// when no time passed) and the seconds left (nint; 0 before the first GOP is done).
struct passclockrec {
  double passtime = 0.0;
  int currentfps = 0;
  int timeleft = 0;
};
extern passclockrec passclock;

// The GOP loop of the first (or only) pass: true when it coded the whole range and made the
// writers' final calls; false as soon as the pass was stopped or a fatal error was raised.
bool pass1loop();

// ---- shared by the GOP loops ----

// The pass counters above (and the stream's bit count) at the start of a first-pass loop.
void resetpasscounters();
// The next GOP: gopbytes, gopbits and gopbpics 0, gopcount (and settings.gopnumber) one up;
// false, the run ended through step 98, past maxgopcount GOPs (which cannot happen).
bool startgop();

// Ring entry of display position d (0-based) of the GOP whose frames follow ring position
// offset, wrapping from ringsize to 1.
int ringslotof(int offset, int d);
// The pass must end now: stopped from outside, or a fatal error raised (its step stands).
bool mustend();
// Before each picture: the pause gate, passprobe (pass, picture number), the gate again; false
// when the pass must end.
bool picturegate(int pass);
// The picture at coding position i (1..n) of the GOP whose frames follow ring position
// ringoffset: its type (1 I, 2 P, 3 B), its ring entry and its slot (display position + 1).
// Sets curpictype and the temporal reference its picture header carries.
struct codingposition {
  int type, ring, slot;
};
codingposition positionof(int i, int ringoffset);
// The end of a GOP of n frames (nb its B-picture count, qi, qp, qb its quantisers, lastring
// the ring entry of its last coded picture): when rated, its bitrate goes into the minimum,
// maximum and sum; the progress texts; the preview once 30 pictures have been coded since it
// was last drawn; the pictures' quantisers into qsum.
void gopfinished(int n, int nb, float qi, float qp, float qb, int lastring, bool rated);
// The loop's timing values after a GOP of n frames (passclock): seconds at work (workseconds,
// platform/clock.h) since t0, the frame rate since the reading last (which takes the new
// reading), the seconds left.
void gopclock(int n, double t0, double& last);
// After each coder call: false, once the coding error has been reported (log line, error line)
// and the run ended through step 98, when the coder raised one.
bool checkcoding();
// Codes the picture of picjob as type (1 I, 2 P, 3 B) at quantiser q.
void codepicture(int type, float& q);
// The older reference of a GOP whose I or P picture goes into slot: newref, or the spare slot
// (slotcount) when newref is that very slot. Slots are display positions, so the I picture of
// an open GOP of two or three pictures lands in the slot of the previous GOP's last reference,
// which the GOP's leading B pictures still predict from: before it is overwritten, that
// picture (reconstruction and macroblock records) moves into the spare slot, which no GOP
// position uses.
int keepolderreference(int slot);
// picjob for the picture of type 1..3 at ring entry ring going into slot: a B picture predicts
// from oldref and newref; an I or P picture (a P from newref) becomes newref, the one before it
// kept as oldref (keepolderreference).
void picturejob(int type, int ring, int slot);
// The picture of type 1..3 at ring entry ring counted in the pass (icount, pcount or bcount;
// a B picture in gopbpics); an I or P picture's entry becomes the ring's consumer.
void countpicture(int type, int ring);
