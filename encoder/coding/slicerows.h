// The macroblock rows of one picture coded side by side.
//
// Every macroblock row is one slice: a slice starts on a byte boundary, resets the DC and
// vector predictors and carries its own quantiser, and nothing a row codes depends on another
// row of the same picture (the decisions of motion estimation are all made before). So rows
// coded apart, each into a lane of its own, and joined in row order give the bits that coding
// them one after another into the slot gives; the statistics bits, which run on without
// alignment, are joined bit by bit.
#pragma once

#include <cstdint>
#include <functional>

#include "encoder/coding/picslot.h"

// Codes row `row` (1-based) into ln: the slice header, then the row's macroblocks. Returns the
// row's counted block bits (counting mode; 0 in output mode).
using rowcoder = std::function<int64_t(bitlane& ln, int row)>;

// Codes rows 1..settings.mbrows of slot s, whose picture header (and statistics header) is
// written. With one coding thread the rows go straight into the slot, in row order. With
// several, each row goes into a lane of its own on the coding threads, and the lanes are
// joined into the slot in row order; a coding error met in a row is raised at the join, on
// the calling thread, in row order, so the run keeps the error one thread meets first; a slot
// that cannot hold the joined bits raises the no-memory error as slotroom does. Returns the
// picture's counted block bits.
int64_t coderows(int s, const rowcoder& code);

// The starting capacities of a row lane's buffers (they grow as a slot's do).
constexpr int32_t lanestreambytes = 32768;
constexpr int32_t lanestatbytes = 4096;
