// Picture-level motion estimation and motion-compensated prediction of P and B pictures. Each
// runs the rows of its picture on the coding threads (platform/pool.h) and returns when the
// whole picture is done; the results are those of one thread going through the macroblocks in
// raster order.
//
// Calling order in the P and B picture coders, every pass: reset the slot (picture type,
// mecostflag 0, bit cursors), then picmotionest (P) or bmotionest (B), then predictpic (P) or
// predictbpic (B), then the macroblock coding. settings.passno, curpictype (2 P, 3 B),
// profile, bppclass, simdlevel and the picture sizes must be set; args as pictargs.h says.
#pragma once

#include "encoder/motion/pictargs.h"

// Forward vectors of every macroblock of P picture args.curslot against args.fwdslot. First
// pass: full-pel search, the forced-intra flag mecostflag (-1 when the summed best cost over
// lumasize exceeds 35), then half-pel refinement; second pass: refinement of the vectors the
// statistics stream gave (profile 4 only). Sets halfmv, statmv, the forward direction flag
// (vector not zero) and the eight f_codes (backward ones 15). Returns at once when bit 0 of
// the slot's mecostflag is set on entry.
void picmotionest(const pictargs& args);
// The same for B picture args.curslot between args.fwdslot (earlier) and args.bwdslot (later):
// forward and backward vectors, the three direction flags and all eight f_codes.
void bmotionest(const pictargs& args);

// The argument record as a coding thread uses it: the same, except that the pool's own threads
// get scratch blocks (mescratch, predscratch) of their own.
pictargs threadargs(const pictargs& args);

// Motion estimation and prediction of a P (B) picture in one go over its rows, as the picture
// coders call them: the same as picmotionest (bmotionest) followed by the prediction planes of
// predictpic (predictbpic), each macroblock predicted once it is refined. The residual planes
// are left to the coder, which forms each row's (predictrowresidual) right before it codes the
// row, on the same thread.
void picmotionpredict(const pictargs& args);
void bmotionpredict(const pictargs& args);

// The prediction of one macroblock i at (x, y) from its vectors (P: the forward one; B: by its
// direction flags) into the prediction planes, and the residual of macroblock row k (0-based:
// 16 luma lines, 8 of each chroma plane) from them.
void predictpmb(const pictargs& args, int i, int x, int y);
void predictbmb(const pictargs& args, int i, int x, int y);
void predictrowresidual(const pictargs& args, int k);

// The prediction planes from the forward half-pel vectors, then the residual planes.
void predictpic(const pictargs& args);
// The same for a B picture by each macroblock's direction flags: interpolated (average of
// both), forward or backward. A macroblock without a direction (coded intra) is predicted
// as 0, so its area never carries stale data.
void predictbpic(const pictargs& args);
