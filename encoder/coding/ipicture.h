// The I picture coder: one source frame of the frame ring coded intra into a picture slot, and
// reconstructed into the slot's planes of the frame store for the pictures that predict from
// it.
//
// The picture is the picture header and coding extension, then one slice per macroblock row
// with the row's quantiser from the slice quantiser map, every macroblock intra. In counting
// mode (settings.streamout clear) the headers are still written but the blocks are only
// counted. With settings.writestats the slot's statistics bits get the picture's 72-bit record.
#pragma once

#include <cstdint>

#include "encoder/motion/pictargs.h"

// The levels of the six blocks of the current macroblock (1..4 luma, 5 Cb, 6 Cr at index b - 1),
// 64 each in raster order: one set per coding thread.
extern thread_local int16_t intralevels[6][64];

// Codes the frame of ring entry args.curframe as an I picture into slot args.curslot at the
// picture quantiser qf (nominally 1.0..31.0; only the slice quantiser map reads it). Adds 1 to
// settings.gopframe first. The pass loop sets the slot's temporal_reference beforehand and
// reads picbits and picbytes afterwards. Needs the frame store, the header records and the
// transform level (start-up). Pass worker only; the rows are coded on the coding threads.
void codeipicture(const pictargs& args, float& qf);

// The six blocks of the macroblock at luma (x, y), chroma (cx, cy) through the intra block
// kernel of settings.simdlevel, at the quantiser_scale of *qcode (a quantiser_scale_code
// 1..31), into intralevels, reconstructing into the slot's planes.
// Ends the coded picture in slot s: byte-aligns its stream bits (output mode) or counts the
// block bits (counting mode) into picbits and picbytes, and aligns its statistics bits.
void closepicture(int s, int64_t blockbits);

struct bitlane;
// The slice header of macroblock row `row` (1-based, slice_start_code 0x100 + row) with the
// row's quantiser quant[row], into lane ln of a picture of type pictype; the lane's DC (and,
// for P and B, vector) predictors go back to 0. The I, P and B coders' slice start.
void putslicehdr(bitlane& ln, int pictype, int row, const int32_t* quant);

void intrablocks6(int curframe, int curslot, int x, int y, int cx, int cy, const int32_t* qcode);
