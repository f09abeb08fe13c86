// The frame ring and its read-ahead: every pass reads the source frames ahead of the coder into
// the ring entries of the frame store (framering, framestore.h); the first (or only) pass also
// measures each frame as it arrives.
//
// Ring entries are numbered 1..ringsize (2 x L + 3, L the GOP length in use). The producer
// fills entries up to, never onto, the consumer entry (the ring entry of the last I or P
// picture handed to a coder), so the first fill of a pass reads ringsize - 1 frames and later
// fills refill what the coder has released. The GOP loops find display position d (0-based)
// of the current GOP in entry offset + d + 1, wrapping from ringsize to 1.
//
// The pass worker thread runs this; the counters and tables are plain static data. With more
// than one coding thread a frame reader of the pass asks the source for the frames ahead of
// the fill, while the GOP before is coded, and the fill masks and measures its frames on the
// coding threads; what the ring holds, and everything the fill reports, is what one thread
// gives.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "encoder/control/framestore.h"
#include "encoder/control/settings.h"

// The read-ahead counters, reset by initpass at the start of every pass. The scene analysis
// keeps its positions, histories, GOP start slot and previous GOP length in its own state
// (sceneanalysis.h), which initpass resets with these.
struct ringcountersrec {
  int32_t lastframe = 0;        // last source frame to read
  int32_t nextframe = 0;        // next source frame to read
  int32_t producer = 1;         // next entry to fill
  int32_t consumer = 1;         // entry of the last frame handed to the coder; never filled
  int32_t framesleft = 0;       // frames not yet coded (the GOP loops count it down)
  int32_t nextcode = 0;         // first source frame of the next GOP (the GOP loops advance it)
  int32_t closedflag = 1;       // closed_gop of the next GOP: 1 closed, 0 open
};
extern ringcountersrec ringcounters;

// Frames of the current pass that the source could not deliver, each coded as the frame
// before it; initpass resets it. Written by the pass worker, read after it ended.
extern std::atomic<int> substitutedframes;

// The very first frame a run measures is compared with itself. Set once per run (the
// first-pass thread sets it at its start); cleared by the first frame fetchpass1 reads.
extern bool firstfetch;

// Per macroblock of each ring entry, raster order: the figures the entry's sums come from.
struct mbfigures {
  uint32_t activity = 0;  // sum of squares - (sum / 16)^2
  uint32_t lumasum = 0;   // sum of the 256 luma samples
  uint32_t sad = 0;       // SAD against the co-located block of the frame before
};
extern mbfigures ringmbfigures[maxringsize + 1][maxmbcount];

// The luma sum of every measured frame, by source frame number.
extern int32_t framelumasum[maxframes];

// When set, frames come from here instead of the video source bridge: source frame number,
// the Y, U and V planes of the ring entry (pitches width and chromawidth). The result is the
// bridge's: 0, or non-zero when the frame could not be delivered (then nothing was written).
using framesourcefn = std::function<int(int frame, uint8_t* y, uint8_t* u, uint8_t* v)>;
extern framesourcefn ringsource;
// Tests: frames from ringsource are read ahead too (by default the seam is asked on the pass
// thread, frame by frame, as the fill needs them).
extern bool ringsourceahead;

// Ends the frame reader of the pass (nothing without one): asked to stop and joined. The pass
// ends its reader when the worker ends and at the next initpass; code that runs a pass outside
// a worker ends it before what the reader reads from goes away.
void endreadahead();

// Resets ringcounters for a pass (last frame, next frame and next frame to code from the
// settings' range, producer 1, consumer ringsize, frames left framecount, closed) and the
// scene analysis, and ends the frame reader of the pass before. firstfetch is left alone.
void initpass();

// First (or only) pass: fills the ring and measures the new frames, then runs the scene
// analysis and decides the next GOP: n (1..L) and nb (0..2) out; ringcounters.closedflag set
// when the GOP must be closed; the GOP's class in settings.gopclass and gopclass[gopcount].
void fetchpass1(int& n, int& nb);
// Second pass: fills the ring only (no frame numbers, no figures).
void fetchpass2();

// The fill loop of fetchpass1 on its own (what fetchpass1 does before its GOP decision);
// returns the frames read.
int fillpass1();

// Measures ring entry p against entry q (q = p for a frame compared with itself): per
// macroblock sum, SAD and activity into ringmbfigures[p], then the entry's row words, luma
// sum and SAD, and the U and V SADs.
void measureframe(int p, int q);

// Shifts and masks one entry's planes in place by settings.maskshift (top lines, bottom
// lines, vertical shift; positive moves the picture up) with settings.fillbytes. Every count
// is clamped to its plane, chroma moves and fills whole chroma rows (half the luma count,
// truncated).
void shiftframe(uint8_t* y, uint8_t* u, uint8_t* v);

// The reconstructed picture of slot newref to the spare slot slotcount, and back.
void saveframe();
void restoreframe();

// The source frame of entry p: through ringsource or the bridge, then the mask. A frame the
// source fails to deliver is reported (" pass N, Avisynth error in frame" and the number, or
// " pass N, DGDecode error in frame" for a D2V project, in the status line and the log),
// counted in substitutedframes, and the entry takes a copy of entry q, the frame before it
// (fill bytes when there is none, q = p).
void readframe(int pass, int frame, int p, int q);
