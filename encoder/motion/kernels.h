// Pixel kernels of the motion estimation and prediction.
//
// Every kernel has a plain C++ reference (suffix _c, always built, the yardstick of the tests)
// and the instruction-set paths that it needs: _mmx (MMX registers with PAVGB and PSADBW; ends
// with EMMS), _sse2 (16-byte registers, ordinary unaligned reference loads), _sse2a (the same
// with aligned reference loads), _sse3 (the same with LDDQU). All paths of one kernel give the
// same result bit for bit. The name without suffix reads kernellevel and picks the path by the
// rules of cpu.h; level 0 (before start-up set it) runs the reference.
//
// Planes: 8-bit samples row after row; pixel (x, y) of a plane is at plane + x + y * stride.
// Blocks: a 16x16 block is 256 contiguous bytes (rows of 16), an 8x8 block 64 (rows of 8).
// "aligned" below means on a 16-byte boundary and is needed by the SSE paths only.
// Kernels check nothing: the caller keeps every area inside its plane and meets the alignment.
#pragma once

#include <cstdint>

#include "encoder/motion/cpu.h"

#define OSTREL_KERNEL_C_MMX(ret, name, args) \
  ret name##_c args;                          \
  ret name##_mmx args;
#define OSTREL_KERNEL_TWO(ret, name, args) \
  OSTREL_KERNEL_C_MMX(ret, name, args)     \
  ret name##_sse2 args;
#define OSTREL_KERNEL_THREE(ret, name, args) \
  OSTREL_KERNEL_TWO(ret, name, args)         \
  ret name##_sse3 args;
#define OSTREL_KERNEL_ALIGNED(ret, name, args) \
  OSTREL_KERNEL_THREE(ret, name, args)         \
  ret name##_sse2a args;

// ---- block statistics and SADs ----

// blockstats: for the 16x16 areas of planes a and b at (x, y): *sum = sum of a's 256 pixels
// (<= 65,280), *sad = sum of |a - b|, *activity = sum of a's squares - (sum >> 4)^2 (exact,
// never negative). Both areas aligned (plane start, x and stride multiples of 16) on the SSE2
// path. blockstats is the SSE2 path, blockstatsmmx the MMX twin; the caller picks by simdlevel.
#define OSTREL_ARGS_BLOCKSTATS                                                         \
  (const uint8_t* a, const uint8_t* b, int x, int y, int stride, uint32_t* sum, uint32_t* sad, \
   uint32_t* activity)
void blockstats_c OSTREL_ARGS_BLOCKSTATS;
void blockstats OSTREL_ARGS_BLOCKSTATS;
void blockstatsmmx OSTREL_ARGS_BLOCKSTATS;

// sadframes: SAD of the first (count >> 8) * 256 bytes of a and b; the last count mod 256
// bytes are left out, and a count below 256 gives 0 and reads nothing. Both buffers aligned.
#define OSTREL_ARGS_SADFRAMES (const uint8_t* a, const uint8_t* b, int count)
OSTREL_KERNEL_TWO(uint32_t, sadframes, OSTREL_ARGS_SADFRAMES)
uint32_t sadframes OSTREL_ARGS_SADFRAMES;

// sad16: *result = SAD of the plane's 16x16 area at (x, y) against block (aligned); the plane
// area may lie at any address.
#define OSTREL_ARGS_SAD16 \
  (const uint8_t* plane, int x, int y, int stride, const uint8_t* block, uint32_t* result)
OSTREL_KERNEL_THREE(void, sad16, OSTREL_ARGS_SAD16)
void sad16 OSTREL_ARGS_SAD16;

// sad8: *result = SAD of the plane's 8x8 area at (x, y) against an 8x8 block; no alignment.
OSTREL_KERNEL_C_MMX(void, sad8, OSTREL_ARGS_SAD16)
void sad8 OSTREL_ARGS_SAD16;

// put8: stores the 8x8 block into the plane at (x, y); writes those 64 bytes only.
#define OSTREL_ARGS_PUT8 (uint8_t* plane, int x, int y, int stride, const uint8_t* block)
OSTREL_KERNEL_C_MMX(void, put8, OSTREL_ARGS_PUT8)
void put8 OSTREL_ARGS_PUT8;

// sadavg16: sum over the 256 pixels of |((p + q + 1) >> 1) - s|, the cost of the bidirectional
// prediction avg16 makes. All three blocks aligned.
#define OSTREL_ARGS_SADAVG16 (const uint8_t* p, const uint8_t* q, const uint8_t* s)
OSTREL_KERNEL_TWO(uint32_t, sadavg16, OSTREL_ARGS_SADAVG16)
uint32_t sadavg16 OSTREL_ARGS_SADAVG16;

// ---- prediction, copy, average, residual ----
// R(c, r) = ref pixel (x + c, y + r). Values: xy (R(c,r) + R(c+1,r) + R(c,r+1) + R(c+1,r+1)
// + 2) >> 2, reading 17x17 (9x9); x (R(c,r) + R(c+1,r) + 1) >> 1, reading 16 rows of 17
// (8 of 9); y (R(c,r) + R(c,r+1) + 1) >> 1, reading 17 rows of 16 (9 of 8); copy R(c,r).
// The plane forms write the destination plane (same stride) at (dx, dy), the blk forms a
// block; each writes its 256 (64) bytes only. 16x16: the destination (plane position or block)
// aligned, the reference anywhere. 8x8: no alignment; MMX path only.
#define OSTREL_ARGS_PRED \
  (const uint8_t* ref, int x, int y, int stride, uint8_t* dst, int dx, int dy)
#define OSTREL_ARGS_PREDBLK (const uint8_t* ref, int x, int y, int stride, uint8_t* block)
#define OSTREL_PRED16(name)                              \
  OSTREL_KERNEL_ALIGNED(void, name, OSTREL_ARGS_PRED)    \
  void name OSTREL_ARGS_PRED;                            \
  OSTREL_KERNEL_ALIGNED(void, name##blk, OSTREL_ARGS_PREDBLK) \
  void name##blk OSTREL_ARGS_PREDBLK;
#define OSTREL_PRED8(name)                                  \
  OSTREL_KERNEL_C_MMX(void, name, OSTREL_ARGS_PRED)         \
  void name OSTREL_ARGS_PRED;                               \
  OSTREL_KERNEL_C_MMX(void, name##blk, OSTREL_ARGS_PREDBLK) \
  void name##blk OSTREL_ARGS_PREDBLK;
OSTREL_PRED16(predxy16)
OSTREL_PRED16(predx16)
OSTREL_PRED16(predy16)
OSTREL_PRED16(copy16)
OSTREL_PRED8(predxy8)
OSTREL_PRED8(predx8)
OSTREL_PRED8(predy8)
OSTREL_PRED8(copy8)

// avg16: the destination plane's 16x16 area at (dx, dy) = (p + q + 1) >> 1 per pixel of the
// blocks p and q; p, q and the destination aligned. avg8: 8x8 blocks, no alignment, MMX only.
#define OSTREL_ARGS_AVG \
  (const uint8_t* p, const uint8_t* q, int stride, uint8_t* dst, int dx, int dy)
OSTREL_KERNEL_TWO(void, avg16, OSTREL_ARGS_AVG)
void avg16 OSTREL_ARGS_AVG;
OSTREL_KERNEL_C_MMX(void, avg8, OSTREL_ARGS_AVG)
void avg8 OSTREL_ARGS_AVG;

// diffblock: err[i] = source[i] - prediction[i] (-255..255) for the first (count >> 4) * 16
// bytes; count a multiple of 16, at least 16. All three arrays aligned.
#define OSTREL_ARGS_DIFF \
  (const uint8_t* source, const uint8_t* prediction, int16_t* err, int count)
OSTREL_KERNEL_TWO(void, diffblock, OSTREL_ARGS_DIFF)
void diffblock OSTREL_ARGS_DIFF;

// ---- half-pel grids ----
// The nine half-pel SADs of the 16x16 block at full-pel position (x, y) of a reference plane
// against a source block. gridsad entries: 0 up-left, 1 up, 2 up-right, 3 left, 4 right,
// 5 down-left, 6 down, 7 down-right, 8 centre. With W(r, c) = pixel (x - 1 + c, y - 1 + r)
// and h(r, c) = (W(r, c) + W(r, c + 1) + 1) >> 1, block pixel (i, j) of each candidate is:
// centre W(i+1, j+1); left h(i+1, j); right h(i+1, j+1); up and down the rounded average of
// W(i+1, j+1) with the pixel above or below; the diagonals the rounded average of the two
// horizontal averages of the rows involved (up-left avg(h(i, j), h(i+1, j)) and so on).
// An entry whose candidate needs a pixel on an unavailable side is invalidsad; such a side is
// never read, and no address before the plane is formed.
constexpr int32_t invalidsad = 16777215;

// The sides of the 18x18 window that lie outside the picture; a grid member handles any mix.
enum gridside : unsigned { sidetop = 1, sidebottom = 2, sideleft = 4, sideright = 8 };
// Sides unavailable at (x, y) with xmax = width - 16, ymax = height - 16: each side on its own,
// so a picture 16 wide (or high) loses both sides at once.
unsigned gridsides(int x, int y, int xmax, int ymax);

// A grid member: plane = pixel (0, 0) of the reference plane, xm1 = x - 1, ym1 = y - 1, the
// stride, the source block (aligned for SSE2 and SSE3), gridsad (nine entries, all written).
// Reads exactly the window rows and columns of the available sides.
using gridkernel = void (*)(const uint8_t* plane, int xm1, int ym1, int stride,
                            const uint8_t* source, int32_t* gridsad);
#define OSTREL_ARGS_GRID \
  (const uint8_t* plane, int xm1, int ym1, int stride, const uint8_t* source, int32_t* gridsad)

// The reference for any set of unavailable sides.
void hpelsad_c(unsigned sides, const uint8_t* plane, int xm1, int ym1, int stride,
               const uint8_t* source, int32_t* gridsad);
// Every member of a set, indexed by the unavailable sides (0 = interior).
extern const gridkernel hpelsadtable_mmx[16];
extern const gridkernel hpelsadtable_sse2[16];
extern const gridkernel hpelsadtable_sse3[16];
// The member of the set for simdlevel (pathgrid; level 0 the reference) and sides.
gridkernel gridmember(int level, unsigned sides);

// The named members of the three sets (SSE2, SSE3 with suffix 3, MMX with suffix mmx):
// interior, top-left, top, top-right, left, right, bottom-left, bottom, bottom-right.
#define OSTREL_GRIDSET(sfx)                                                           \
  void hpelsad##sfx OSTREL_ARGS_GRID;   void hpelsadtl##sfx OSTREL_ARGS_GRID;           \
  void hpelsadt##sfx OSTREL_ARGS_GRID;  void hpelsadtr##sfx OSTREL_ARGS_GRID;           \
  void hpelsadl##sfx OSTREL_ARGS_GRID;  void hpelsadr##sfx OSTREL_ARGS_GRID;            \
  void hpelsadbl##sfx OSTREL_ARGS_GRID; void hpelsadb##sfx OSTREL_ARGS_GRID;            \
  void hpelsadbr##sfx OSTREL_ARGS_GRID;
OSTREL_GRIDSET()
OSTREL_GRIDSET(3)
OSTREL_GRIDSET(mmx)

// Grid with candidate blocks, interior positions only (the whole 18x18 window inside the
// picture): the nine SADs as an interior member gives them, and blocks (2,304 bytes, aligned
// for SSE2 and SSE3) gets the nine 16x16 candidates: block 0 the centre, block k + 1 the
// candidate of gridsad entry k. hpelsadpred is SSE2, hpelsadpred3 SSE3, hpelsadpredmmx MMX.
#define OSTREL_ARGS_GRIDPRED                                                           \
  (const uint8_t* plane, int xm1, int ym1, int stride, const uint8_t* source, int32_t* gridsad, \
   uint8_t* blocks)
void hpelsadpred_c OSTREL_ARGS_GRIDPRED;
void hpelsadpred OSTREL_ARGS_GRIDPRED;
void hpelsadpred3 OSTREL_ARGS_GRIDPRED;
void hpelsadpredmmx OSTREL_ARGS_GRIDPRED;
// The kernel for simdlevel: 1 MMX, 2 SSE2, 3 and 4 SSE3 (pathgrid; level 0 the reference).
using gridpredkernel = void(*) OSTREL_ARGS_GRIDPRED;
gridpredkernel gridpredfor(int level);
