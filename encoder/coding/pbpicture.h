// The P and B picture coders: one source frame coded with motion compensation into a picture
// slot, after the picture's motion estimation and prediction.
//
// Both follow the frame of the I picture coder (picture header and coding extension, one slice
// per macroblock row with the row's quantiser, counting mode when settings.streamout is clear,
// the statistics record when settings.writestats is set). Per macroblock a residual coder
// decides intra or non-intra coding and leaves the decision in the macroblock record and the
// levels in intralevels; the macroblock loop then builds macroblock_type, skips what MPEG-2
// allows and writes the macroblock.
//
// P pictures are references: their blocks are reconstructed into the slot's planes of the frame
// store. B pictures are not: only the trial blocks of the intra/inter decision are
// reconstructed, into scratch.
#pragma once

#include <cstdint>

#include "encoder/motion/pictargs.h"

// Codes the frame of ring entry args.curframe as a P picture into slot args.curslot, predicted
// from slot args.fwdslot (the newest reference), at the picture quantiser qf. Clears the slot's
// mecostflag, runs picmotionest and predictpic, then codes every macroblock: the first and the
// last of each row are never skipped. Pass worker only (the rows run on the coding threads).
void codepbpicture(const pictargs& args, float& qf);

// Codes args.curframe as a B picture into args.curslot between args.fwdslot (the older
// reference) and args.bwdslot (the newer one), which must differ. Clears mecostflag, runs
// bmotionest and predictbpic; a non-intra macroblock is skipped only after a non-intra one with
// the same directions and vectors. Pass worker only (the rows run on the coding threads).
void codebpicture(const pictargs& args, float& qf);

// Residual coders of one macroblock at luma (x, y), chroma (cx, cy), macroblock m (1-based) at
// the quantiser_scale_code *qcode (1..31). Each sets intraflag, blockclass (1 intra, 2 coded
// blocks, 3 none) and cbp (63 for intra) of the macroblock record and the six levels blocks.
//
// P: codembres1 (profiles 1-3) tries the first luma block both ways and weighs the bits 1:1;
// codembres2 (profile 4) tries all four luma blocks with the weight of the bits-per-pixel class.
// Both reconstruct the coded blocks into the slot's planes.
void codembres1(const pictargs& args, int x, int y, int cx, int cy, int m, const int32_t* qcode);
void codembres2(const pictargs& args, int x, int y, int cx, int cy, int m, const int32_t* qcode);
// B (levels only, nothing reconstructed into a picture):
//   codembresb1 profile 1: intra only when intraflag is set on entry, no trial;
//   codembresb2 profiles 2-3, first or only pass: as codembres1 with the weight 1.0;
//   codembresb3 profiles 2-3, second pass: intra when the restored blockclass is 1, no trial;
//   codembresb4 profile 4: as codembres2 with the weight 1.0.
void codembresb1(const pictargs& args, int x, int y, int cx, int cy, int m, const int32_t* qcode);
void codembresb2(const pictargs& args, int x, int y, int cx, int cy, int m, const int32_t* qcode);
void codembresb3(const pictargs& args, int x, int y, int cx, int cy, int m, const int32_t* qcode);
void codembresb4(const pictargs& args, int x, int y, int cx, int cy, int m, const int32_t* qcode);

// The weight of the non-intra bits against the intra bits in the P decision of profile 4, by
// bits-per-pixel class 1..6 (classes outside are taken as the nearest).
float intrainterfactor(int bppclass);
