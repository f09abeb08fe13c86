// The block and macroblock variable-length coding of the picture coders, and the exact bit
// counters that price a macroblock without writing it.
//
// Blocks arrive as 64 quantised levels in raster order; the writers send them in zig-zag order,
// or alternate order when settings.altscan is set. Levels must lie in -2047..2047 (the
// quantiser's range); a DC difference outside -2047..2047 or an escaped level outside it is
// clamped so that no undefined code is ever written. Every writer goes to the slot's
// streambits at its streamcursor; putmv2 to its statbits at its statcursor.
//
// Each writer also comes in a form that writes into a lane (a row of a picture coded apart,
// picslot.h) and takes the picture's own fields (intravlc, f_codes, macroblock records) from
// its slot; the slot forms write into the slot itself.
#pragma once

#include <cstdint>

struct bitlane;
struct picslot;

// Intra block b (1..4 luma, 5 Cb, 6 Cr): DC difference against the component's predictor
// (Table B.12/B.13 size, then the size bits, negative values as ones' complement), then the AC
// levels with Table B.14 (or B.15 when the slot's intravlc is 1) and the end of block.
// The predictor becomes the block's DC level.
void putintrablk(int s, const int16_t levels[64], int b);
// Non-intra block, Table B.14; a first coefficient of +-1 at scan position 1 is sent as 1s.
void putinterblk(int s, const int16_t levels[64]);

// Exact bits of the writers above (the same table choice, escapes of 24 bits, end of block).
int bitsintrablk(int s, const int16_t levels[64], int b);  // also moves the DC predictor
int bitsintraac(int s, const int16_t levels[64]);  // 4 + AC bits + end of block; no state change
int bitsinterblk(int s, const int16_t levels[64]);
int bitsinterblk2(int s, const int16_t levels[64]);  // the same count (second entry)

// macroblock_address_increment n >= 1: escapes of 33, then the Table B.1 code. Checks the
// slot's room for a macroblock first (slotroom).
void putmbainc(int s, int n);

// The motion vectors of macroblock m (1-based): forward pair when its forward direction flag is
// set, then backward pair when its backward flag is set, against pmv with the output f_codes;
// when settings.writestats, the same for statmv against statpmv with the statistics f_codes.
void putmvs(int s, int m);
// One vector component difference (half pixels) with f_code 1..9. A difference the f_code cannot
// represent even after one wrap is a coding error ("*** INTERNAL ERROR ***  | routine putmv1 -
// invalid motion vector"); the nearest representable difference is written instead.
void putmv1(int s, int fcode, int v);
// The same into the statistics bits ("... routine putmv2 ...").
void putmv2(int s, int fcode, int v);

// The lane forms.
void putintrablk(bitlane& ln, const picslot& sl, const int16_t levels[64], int b);
void putinterblk(bitlane& ln, const int16_t levels[64]);
int bitsintrablk(bitlane& ln, const picslot& sl, const int16_t levels[64], int b);
int bitsinterblk(bitlane& ln, const int16_t levels[64]);
void putmbainc(bitlane& ln, int n);
void putmvs(bitlane& ln, const picslot& sl, int m);
