// The GOP decision of the first (or only) pass, as the frame fetch drives it: reset at the
// start of a pass, told of each frame the fill measured, asked for the next GOP after the fill.
//
// Fixed GOPs for now: the GOP length in use (goplengthinuse) and no B pictures, a GOP ended
// early before a chapter frame, which starts a closed GOP; every GOP closed with closedgops.
// The scene analysis with its automatic GOPs takes this place when it is wired in.
#pragma once

// Start of a pass (initpass calls it).
void initgopdecision();
// The fill measured ring entry p (its frame number and figures are set).
void gopframemeasured(int p);
// The next GOP from ringcounters.gopstartslot on: n (1..L, at most the frames left) and nb
// out; sets ringcounters.closedflag when the GOP must be closed (never clears it); advances
// the GOP start slot.
void decidegop(int& n, int& nb);
