/* The matrix plug-in of the Ostrel encoder: what a user's "matrix.dll" exports.
 *
 * With "*ADAPTIVEMATRIX" in KJ.ini the encoder loads matrix.dll from its program folder at
 * start-up (a Linux shared library under exactly that name) and calls EXTMATRIX once per GOP
 * of the first (or only) pass, before the GOP is coded. A two-pass run replays the matrices
 * of the first pass in its second pass without calling the plug-in again.
 *
 *   gopclass  how much the GOP's frames change, 1 (static) .. 32 (every frame unlike the one
 *             before); read only
 *   meanluma  the GOP's mean luma sample, 0..255 (16 is black); read only
 *   intra     the intra matrix, 64 weights in raster order of the 8x8 block (row 0 left to
 *             right, then row 1 ...), not zigzag
 *   nonintra  the non-intra matrix, the same way
 *
 * Both matrices come in as the pair the user chose (built-in or custom), never as the
 * previous GOP left them, and may be rewritten in place. Afterwards the encoder forces every
 * weight into 8..255 and the intra DC weight (intra[0]) to 8; the GOP's sequence header
 * carries both matrices. Changes to gopclass and meanluma are ignored. The call comes from
 * the encoder's one worker thread; it must not throw.
 *
 * Build (see README): g++ -O2 -shared -fPIC -o matrix.dll mymatrix.cpp
 */
#ifndef OSTREL_EXTMATRIX_H
#define OSTREL_EXTMATRIX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

__attribute__((visibility("default"))) void EXTMATRIX(int32_t* gopclass, int32_t* meanluma,
                                                      int16_t* intra, int16_t* nonintra);

#ifdef __cplusplus
}
#endif

#endif
