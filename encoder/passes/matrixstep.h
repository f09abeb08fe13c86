// The per-GOP matrix step of the GOP loops that decide GOPs (the first or only pass): the
// quantiser matrices follow the picture content GOP by GOP.
//
//   settings.lumgain 1..4     both matrices scaled down for dark GOPs by a gain table
//   settings.adaptivematrix   both matrices handed to the user's plug-in (EXTMATRIX of
//                             matrix.dll, settings.extmatrixentry)
//
// The start-up turns the adaptive matrix off when a luminance gain is set. Every GOP starts
// from basematrices, so nothing accumulates from GOP to GOP. The result stands in
// quantmatrices: the coders quantise with it, the GOP's sequence header carries it (both
// matrices are loaded while adaptation is on) and the GOP record of the statistics stream
// hands it to the second pass, which replays it without running this step.
//
// Per GOP, in the loop: after the frame fetch matrixstep(first frame, n, class); after the
// picture order rebuildrecip() (quantrecip.h) when matricesadapt(). Only the pass worker
// thread runs this.
#pragma once

#include <cstdint>

#include "encoder/control/settings.h"

// The gain factors by luminance gain 1..4 (row 0..3) and mean luma 0..64: single-precision
// values of two-decimal factors, from 0.85, 0.75, 0.65 and 0.50 for the darkest GOPs up to
// 1.00 (from a mean luma of 52, 62, 63 and 64 on).
extern const float lumgaintables[4][65];

// The mean luma sample of the current GOP, as the last matrix step computed it.
extern int32_t gopmeanluma;

// The matrices change per GOP: settings.adaptivematrix or settings.lumgain > 0.
bool matricesadapt();

// The mean luma sample of the n source frames from first on: the sum of their framelumasum
// entries (summed in 64 bits: 36 frames of 1920x1152 pass 2^32) divided by
// n x mbcount x 256, truncated. Frames outside the per-frame table count 0; 0 when n or
// mbcount is not above 0.
int32_t meanluma(int first, int n);

// Scales quantmatrices in place by the factor of settings.lumgain (1..4; any other level
// changes nothing) at the mean luma (0..64; above 64 as 64, below 0 as 0): every entry of the
// intra, then the non-intra matrix m = nint(m x f) in single precision, halves away from
// zero; then the bounds of boundmatrices.
void scalematrix(int32_t& meanluma);

// Every entry of both matrices of m into 8..255 (signed compare), then the intra DC entry 8.
void boundmatrices(matrixpair& m);

// The matrix step of one GOP: its first source frame, its frame count n and its change class
// (1..32, the class the GOP's decision gave it). Nothing happens unless matricesadapt().
// With the adaptive matrix: quantmatrices = basematrices, gopmeanluma, the plug-in called
// with copies of the class and the mean luma (what it writes there is ignored) and both
// matrices, then boundmatrices. With a luminance gain: quantmatrices = basematrices,
// gopmeanluma, scalematrix.
void matrixstep(int first, int n, int32_t gopclass);
