// Stand-in second pass until the second pass exists: every frame of the clip coded again at
// the constant quantiser settings.cqvalue, in GOPs of the GOP length in use with
// settings.bframes B pictures between references (each GOP's order from goppattern; a GOP is
// closed at the start, at a chapter frame or with closed GOPs set), each picture by its type
// with the I, P or B picture coder, written as a playable stream. It keeps the passes'
// protocol: pass words, the pause gate once per frame read and per picture, keeprunning, and
// step 99 at the end; a stopped pass ends without a step. It reads no statistics stream: it
// reuses whatever decisions the slots still hold. The first pass is the real one (pass1.h);
// the hooks below serve both.
//
// Without a frame store (a start-up that opened no source) a pass only walks through five
// placeholder pictures with the same protocol.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "encoder/motion/pictargs.h"

// Called before each picture with the pass and the picture number (from 1), on the pass thread.
// Both passes call it.
extern std::function<void(int pass, int picture)> standinprobe;
// Called after each picture is coded with the pass, the picture number (from 1) and the
// picture's argument record, on the pass thread (tests read the slot and the planes there).
extern std::function<void(int pass, int picture, const pictargs& args)> standinafter;
// Pictures the passes have gone through in this process.
extern std::atomic<int> standinpictures;
// When set, frames come from here instead of the video source bridge: frame number (0-based
// source frame), then the Y, U and V planes of the ring entry (pitches width and chromawidth).
extern std::function<void(int frame, uint8_t* y, uint8_t* u, uint8_t* v)> standinsource;

// Test seam: the stand-in second pass codes with the decisions the slots hold (as a second
// pass that read them back would) instead of searching afresh.
extern bool standinreusedecisions;

// The five placeholder pictures of a pass without a frame store: false when it was stopped.
bool standinplaceholder(int pass);

// The argument record of one picture from the frame store: the slot numbers as given (0: no
// such reference), the source planes of ring entry curframe, the reconstructed planes of
// fwdslot and bwdslot (null for slot 0), the prediction planes, the first residual triple,
// pitches width and chromawidth, mescratch = scratch block 0 and predscratch = scratch blocks
// 1..3 (768 contiguous bytes). Needs the frame store.
pictargs standinargs(int curframe, int curslot, int fwdslot, int bwdslot);

// The GOP length the passes use: settings.autogopmax with automatic GOPs, else
// settings.goplength, within 1..36 and within the slots of the frame store (slotcount - 1).
int standingoplength();

// The frame fetch of one source frame into ring entry `entry`: through the hook or the bridge
// (frame-server error: " pass N, Avisynth error in frame" and the number, shown and logged;
// the entry keeps its old contents), then the frame's luma sum and row activities.
void standinfetch(int pass, int frame, int entry);

// The analysis of a fetched ring entry: lumasum and rowactivity[1..mbrows] (row r at index
// r - 1), each row the sum over its macroblocks of (sum of squares - (sum >> 4)^2) >> 8.
void standinanalyse(int entry);
