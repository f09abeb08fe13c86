// The per-picture argument record: the pass loop fills it for each picture and hands it to the
// picture coder of the picture's type, which passes it on unchanged to motion estimation and
// prediction. Every field is a signed 32-bit word.
#pragma once

#include <cstdint>

struct pictargs {
  int32_t curframe = 0;  // frame-ring entry (1-based) holding the picture's source frame
  int32_t curslot = 0;   // picture slot being coded (display position in the GOP + 1)
  int32_t fwdslot = 0;   // slot of the forward reference (P and B pictures)
  int32_t bwdslot = 0;   // slot of the backward reference (B pictures)
  int32_t spare[5] = {};  // not used by the coders or the motion estimation
  // Frame-store byte offsets of three 256-byte scratch blocks, fixed for the run; the first
  // receives the current source macroblock of the motion search.
  int32_t mescratch[3] = {};
};
