// First-pass analysis: the scene metric of every fetched frame, the scene-change list and the
// decision of each GOP's length, B-picture count, closed flag and change class.
//
// The frame fetch of the first (or only) pass drives it, once per pass and per frame:
//
//   initpass:              sceneinit(scenestate)
//   per frame of the fill: scenemeasured(scenestate, slot, luma SAD, U SAD, V SAD)
//   after the fill:        if (!sceneanalyse(scenestate)) scdwritefailed();
//                          gopdecide(scenestate, frames left, gopcount, n, nb)
//   after each GOP:        unless closedgops, scenestate.closedflag = 0 (the GOP loop)
//
// The fill hands over only the three differences of each new frame to the frame before it; the
// analysis keeps its own per-slot copy, so it never depends on the ring's layout. Slots are
// numbered 1..ringsize like the frame ring's and wrap the same way.
//
// Reads settings: ringsize, firstframe, lastframe, lumasize, chromasize, noscd, scdfile,
// autogop, autogopmax, goplength, bframes, closedgops; and chapterflags by source frame.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "encoder/control/settings.h"

constexpr int maxringsize = 2 * maxgoplength + 3;  // 75 slots
constexpr int maxgops = 128000;                    // per-GOP arrays of the first pass
constexpr int cutthreshold = 18;                   // a metric from here on starts a new scene
constexpr int chaptermetric = 10000;               // the metric of a chapter frame

// One ring slot as the analysis sees it.
struct sceneslot {
  int32_t lumasad = 0;      // luma SAD of the slot's frame to the previous frame (fill)
  int32_t usad = 0;         // U and V SADs, whole planes, likewise (fill)
  int32_t vsad = 0;
  int32_t scenemetric = 0;  // relative change into the frame: >= 18 a cut, 10000 a chapter
  int32_t changeclass = 0;  // 0..32: how much the frame differs from the next one
};

// The ring-wide analysis state, reset by sceneinit at the start of every pass.
struct scenerec {
  sceneslot slots[maxringsize + 1];  // 1..ringsize; slot 0 unused
  int ringsize = 1;
  int analysisslot = 1;      // next slot to analyse
  int readnotanalysed = 0;   // frames handed over by the fill and not yet analysed
  int analysisframe = 0;     // source frame number at analysisslot
  int framestoanalyse = 0;   // count-down of frames of the run not yet analysed
  int readyframes = 0;       // frames from gopstartslot on that carry their metric and class
  int gopstartslot = 1;      // first slot of the next GOP to decide
  int prevgoplength = 0;     // length of the GOP decided last (pair rule)
  int32_t yhist[3] = {0, 0, 0};  // last three normalised luma, U and V differences
  int32_t uhist[3] = {0, 0, 0};
  int32_t vhist[3] = {0, 0, 0};
  int judged = 0;            // frames the histories have judged in this pass (counts to 2)
  int closedflag = 1;        // closed_gop of the next GOP: 1 closed, 0 open
  bool scdfailed = false;    // a list line could not be written; no more are tried
};

extern scenerec scenestate;  // the one the first-pass fetch uses

// The change class of each GOP by the GOP count at its decision (0 for the first GOP of a
// pass), 1..32. Read by the matrix step and the bit allocation.
extern int32_t gopclass[maxgops];

// Receives one scene-change list line (text and line end); false when it could not be
// written. The default writes the scene-change list unit and flushes it.
using scdsink = std::function<bool(const std::string& line)>;
bool scdunitline(const std::string& line);

// The list line of source frame f: f right-aligned in 8 columns, then the line end.
std::string scdline(int frame);

// Resets the state for a pass (the slots' values are left; nothing reads them before they
// are set again).
void sceneinit(scenerec& s);

// The fill measured the frame it put into slot (the producer slot, 1..ringsize): its SADs to
// the previous frame (0 for the first frame of a run, which is compared with itself).
void scenemeasured(scenerec& s, int slot, int32_t lumasad, int32_t usad, int32_t vsad);

// Analyses every handed-over frame that has a successor, and the last frame of the run once
// it has been handed over (the change out of it taken equal to the change into the frame
// before it). Writes a list line per new scene when settings.scdfile is set.
// False when a line could not be written (the first failure only; later lines are not
// tried): the caller ends the run with scdwritefailed.
bool sceneanalyse(scenerec& s, const scdsink& sink = scdunitline);

// The fatal error of the list file: " can't write to scd file, aborting..." in the status
// line and the log, then the abort step (98).
void scdwritefailed();

// Decides the next GOP from the slots at gopstartslot: n (1..L) and nb (0..2) out; sets
// closedflag when the GOP must be closed, gopclass[gopindex] and settings.gopclass; advances
// gopstartslot. framesleft = frames not yet coded; frames without analysis values are never
// read (the window is cut to readyframes).
void gopdecide(scenerec& s, int framesleft, int gopindex, int& n, int& nb);

// The split table: the GOP length of a run of 1..36 frames without a cut, by B count.
void gopclassvalue(int run, int& length, int bcount);
// The limit table: the GOP length of a run of 1..72 frames, at most settings.goplength.
void gopclasslimit(int run, int& length, int bcount);
// The pair rule: a long GOP after a short one is shortened; previous := the new length.
void gopclassadjust(int& length, int closed, int bcount, int& previous);
