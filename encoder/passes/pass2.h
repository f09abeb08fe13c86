// The second pass of a two-pass run: the thread that step 12 starts (pass2thread, declared with
// the other thread entries in control.h) runs the intermediate pass, then pass2loop, which codes
// the whole range again and writes the stream, then the pass-2 log block; it ends with step 99.
//
// The second pass repeats the first pass's decisions instead of making them again: from the
// statistics stream, read strictly forward, it takes per GOP its length, closed flag, picture
// order and types, pulldown flags, change class, the row words of every picture and (with
// matrix adaptation) both matrices, and per picture every macroblock's mode and vectors. It
// decides anew only each picture's quantiser: the GOP's from the rate feedback, the picture
// type's ratio, the VBV check's multiplier, and a re-code of a picture too large for the level.
//
// A record that does not fit the run (a GOP longer than the GOP length in use or than the
// frames left, another length than the first pass's GOP of that number, more GOPs than the first
// pass made, an open first GOP) ends the run like a record that cannot be read. A pass stopped
// from outside or by an error keeps the GOPs it accepted as a whole stream, ended with the
// sequence end code, and says so in the log.
#pragma once

#include <cstdint>

extern int64_t spentbits;   // picture bits of the GOPs accepted so far in the pass
extern int64_t runbits;     // header and picture bits of the stream through the current try
extern float picbytelimit;  // the largest picture, bytes, before it is coded again

// The picture size limit of level 1..3 (Main, High-1440, High): 70 % of the level's VBV buffer
// (1,835,008, 7,340,032 and 9,781,248 bits) in bytes; the same whatever "*VBVSIZE" gives.
float picbytelimitof(int level);

// The GOP loop: true when it coded the whole range and wrote the stream's end; false as soon
// as the pass was stopped or a fatal error was raised (a failed read of the statistics stream
// included).
bool pass2loop();
