// The frame fetch's way in to the scene analysis and GOP decision (sceneanalysis.h), kept in a
// file of its own so the analysis' state and the frame store's layout need not meet in one
// translation unit.
//
//   initpass:               initgopdecision()
//   per frame of the fill:  gopframemeasured(entry, luma SAD, U SAD, V SAD)
//   after the fill:         decidegop(frames left, GOP index, closed flag, n, nb)
#pragma once

#include <cstdint>

// Start of a pass.
void initgopdecision();
// The fill measured ring entry p: its SADs to the frame before (0 for a run's first frame).
void gopframemeasured(int p, uint32_t lumasad, uint32_t usad, uint32_t vsad);
// Analyses the frames read so far (a failed scene-change list line ends the run through step
// 98), then decides the next GOP: n (1..L) and nb (0..2) out, closedflag set (never cleared)
// when the GOP must be closed, the GOP's class under gopindex (the GOP count before the GOP
// loop advances it).
void decidegop(int framesleft, int gopindex, int32_t& closedflag, int& n, int& nb);
