// Seams of the pass threads for tests, and the pass of a run without a frame store.
//
// The hooks are called on the pass thread; unset (the default) they cost nothing. Tests set
// them before a pass starts and clear them after it ended.
#pragma once

#include <atomic>
#include <functional>

#include "encoder/motion/pictargs.h"

// Before each picture is coded: the pass (1 or 2) and the picture's number in the pass (from 1;
// a picture coded again after a rejected try or a re-code has the same number).
extern std::function<void(int pass, int picture)> passprobe;
// After each coding of a picture: the pass, the picture's number and its argument record (tests
// read the slot and the planes there). A picture the second pass codes again for its size is
// reported after each of its codings.
extern std::function<void(int pass, int picture, const pictargs& args)> passafter;
// After the checks of each try of a second-pass GOP, with the GOP's number and whether the try
// was its last; a test may ask for another try here (roll the GOP back, raise retrycount)
// unless it was the last.
extern std::function<void(int gop, bool lasttry)> gopretryprobe;

// Pictures the placeholder pass has gone through in this process.
extern std::atomic<int> passpictures;

// Without a frame store (a start-up that opened no source) a pass only walks through five
// placeholder pictures with the passes' protocol: the pause gate and keeprunning once per
// picture, passprobe and a status text. False when it was stopped.
bool placeholderpass(int pass);
