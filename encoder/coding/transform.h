// Transform and quantisation kernels of one 8x8 block.
//
// One call of a block kernel runs the forward transform in 16-bit fixed point, quantises the
// 64 coefficients into levels and, on request, dequantises them, runs the inverse transform
// and writes the reconstructed samples. intrablock reads picture samples, interblock a
// motion-compensated residual and its prediction; the non-intra kernel also sets or clears
// its block's bit of the macroblock's coded_block_pattern byte.
//
// Every form of a kernel gives the same levels, pattern bits and samples, bit for bit:
//   *_c      the plain C++ reference
//   *_mmx    8-byte registers (with the integer SSE instructions pmulhuw, pminsw, pshufw);
//            ends with emms
//   *_sse2   16-byte registers
//   *_ssse3  as _sse2, absolute values and signs through pabsw and psignw
// intrablock / interblock are the 16-byte forms; they pick _ssse3 or _sse2 by dctlevel.
// intrablockmmx / interblockmmx are the 8-byte forms. The picture coders choose between the
// two by simdlevel (1 the 8-byte forms, 2 and above the 16-byte forms).
//
// Every form works through dctscratch, of which each coding thread has its own.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Arguments shared by the block kernels ------------------------------------------------
//
// Blocks of coefficients and levels: 64 int16 in raster order, index 8*row + column (row =
// vertical frequency). weights: the quantiser matrix in raster order, values 1..255. recip:
// recip[i] = floor(K / weights[i]) in 16 bits, K = 65536 at start-up (65535 for a weight of 1)
// or 65535 after the matrices were rescaled. q: the quantiser_scale value (not its code),
// 1..112 in use. dcprec: intra_dc_precision code 0..3 (8..11 bits).
//
// mode: 0 or less levels only, the destination is not touched; 1 reconstruct into the 64
// contiguous bytes at dest (row after row); 2 or more reconstruct into the plane at
// dest + x + y*stride (row k at dest + x + (y + k)*stride).
//
// Alignment of the 16-byte forms: levels, weights, recip and the mode-1 destination start on
// 16-byte boundaries; the non-intra form also loads each residual row as one aligned 16-byte
// load, so the residual plane starts on a 16-byte boundary, its row length in bytes is a
// multiple of 16 and x is a multiple of 8. Source, prediction and plane destinations need no
// alignment. The 8-byte forms need none at all (the reference: the natural one of int16).
//
// The caller keeps the whole 8x8 block inside every plane.

// intrablock: the intra block at (x, y) of src (bytes, rows stride bytes apart).
// Writes levels (DC level centred: the MPEG-2 DC value minus 2^(7+dcprec)) and, by mode, the
// reconstructed samples 0..255.
using intrakernel = void (*)(const uint8_t* src, int32_t x, int32_t y, int32_t stride,
                             int16_t* levels, const int16_t* weights, const uint16_t* recip,
                             int32_t q, int32_t dcprec, uint8_t* dest, int32_t mode);

// interblock: the residual block at (x, y) of resid (int16, rows stride elements apart,
// values -255..255) over the prediction block at (x, y) of pred (bytes, rows stride bytes
// apart). Writes levels, sets bit bitno (0..5) of *pattern when a level is non-zero and clears
// it otherwise (the other bits stay; the byte is written whatever the mode) and, by mode,
// writes the reconstruction (prediction + residual, 0..255; the prediction unchanged when all
// levels are zero). The plane destination has the prediction's stride.
using interkernel = void (*)(const int16_t* resid, const uint8_t* pred, int32_t x, int32_t y,
                             int32_t stride, int16_t* levels, const int16_t* weights,
                             const uint16_t* recip, int32_t q, int32_t bitno, uint8_t* pattern,
                             uint8_t* dest, int32_t mode);

// idctblock: the inverse transform alone, in place on 64 int16 (16-byte aligned for the
// 16-byte form): dequantised coefficients -2048..2047 in, reconstructed residual out (no
// mismatch control, no clipping); the row pass goes through the second dctscratch block.
using idctkernel = void (*)(int16_t* block);

void intrablock(const uint8_t* src, int32_t x, int32_t y, int32_t stride, int16_t* levels,
                const int16_t* weights, const uint16_t* recip, int32_t q, int32_t dcprec,
                uint8_t* dest, int32_t mode);
void intrablockmmx(const uint8_t* src, int32_t x, int32_t y, int32_t stride, int16_t* levels,
                   const int16_t* weights, const uint16_t* recip, int32_t q, int32_t dcprec,
                   uint8_t* dest, int32_t mode);
void interblock(const int16_t* resid, const uint8_t* pred, int32_t x, int32_t y, int32_t stride,
                int16_t* levels, const int16_t* weights, const uint16_t* recip, int32_t q,
                int32_t bitno, uint8_t* pattern, uint8_t* dest, int32_t mode);
void interblockmmx(const int16_t* resid, const uint8_t* pred, int32_t x, int32_t y,
                   int32_t stride, int16_t* levels, const int16_t* weights,
                   const uint16_t* recip, int32_t q, int32_t bitno, uint8_t* pattern,
                   uint8_t* dest, int32_t mode);

// The paths, each callable on its own (tests and the benchmark run them one by one).
void intrablock_c(const uint8_t*, int32_t, int32_t, int32_t, int16_t*, const int16_t*,
                  const uint16_t*, int32_t, int32_t, uint8_t*, int32_t);
void intrablock_mmx(const uint8_t*, int32_t, int32_t, int32_t, int16_t*, const int16_t*,
                    const uint16_t*, int32_t, int32_t, uint8_t*, int32_t);
void intrablock_sse2(const uint8_t*, int32_t, int32_t, int32_t, int16_t*, const int16_t*,
                     const uint16_t*, int32_t, int32_t, uint8_t*, int32_t);
void intrablock_ssse3(const uint8_t*, int32_t, int32_t, int32_t, int16_t*, const int16_t*,
                      const uint16_t*, int32_t, int32_t, uint8_t*, int32_t);
void interblock_c(const int16_t*, const uint8_t*, int32_t, int32_t, int32_t, int16_t*,
                  const int16_t*, const uint16_t*, int32_t, int32_t, uint8_t*, uint8_t*, int32_t);
void interblock_mmx(const int16_t*, const uint8_t*, int32_t, int32_t, int32_t, int16_t*,
                    const int16_t*, const uint16_t*, int32_t, int32_t, uint8_t*, uint8_t*,
                    int32_t);
void interblock_sse2(const int16_t*, const uint8_t*, int32_t, int32_t, int32_t, int16_t*,
                     const int16_t*, const uint16_t*, int32_t, int32_t, uint8_t*, uint8_t*,
                     int32_t);
void interblock_ssse3(const int16_t*, const uint8_t*, int32_t, int32_t, int32_t, int16_t*,
                      const int16_t*, const uint16_t*, int32_t, int32_t, uint8_t*, uint8_t*,
                      int32_t);
void idctblock_c(int16_t* block);
void idctblock_mmx(int16_t* block);
void idctblock_sse2(int16_t* block);

// ---- Kernel state ---------------------------------------------------------------------------

// The transform kernels' level word (1 MMX, 2 SSE2, 3 SSE3, 4 SSSE3); 0 until setdctmode.
// Independent of the motion kernels' level word.
extern int32_t dctlevel;

// Scratch of every call: block 0 holds the centred input, then the coefficients; block 1 the
// forward intermediate, then the dequantised coefficients, then the reconstructed residual.
// Nothing survives from one call to the next. One per coding thread.
extern thread_local int16_t dctscratch[2][64];

// Stores level into dctlevel; called once at start-up before any pass thread starts.
void setdctmode(int32_t level);

// The path of the 16-byte kernels for a level word: 4 (pabsw/psignw) for level 4 and above,
// 2 (compare, xor, subtract) below.
constexpr int32_t dctpath(int32_t level) { return level >= 4 ? 4 : 2; }

// ---- Constants ------------------------------------------------------------------------------

// Column passes: tangents and cos(pi/4) in 16-bit fixed point.
constexpr int16_t dctT1 = 13036;   // round(tan(pi/16) * 2^16)
constexpr int16_t dctT2 = 27146;   // round(tan(2pi/16) * 2^16)
constexpr int16_t dctT3 = -21746;  // round((tan(3pi/16) - 1) * 2^16)
constexpr int16_t dctC4 = 23170;   // round(cos(pi/4) * 2^15)

constexpr int16_t dctbias = 128;       // sample centring of intra blocks
constexpr int16_t dctlevellimit = 2047;  // largest level magnitude
constexpr int16_t dctdequantmax = 2047;  // dequantised values stay in -2048..2047
constexpr int16_t dctdequantmin = -2048;

// Row passes: w(j, u, n) = round(32768 cos(j pi/16) c(u) cos((2n+1) u pi/16)),
// c(0) = 1/sqrt(2), c(u) = 1 otherwise; indexed [table][u][n], tables for j = 4, 1, 2, 3.
inline constexpr int16_t dctrowcoef[4][8][8] = {
  {  // j = 4
    { 16384,  16384,  16384,  16384,  16384,  16384,  16384,  16384},
    { 22725,  19266,  12873,   4520,  -4520, -12873, -19266, -22725},
    { 21407,   8867,  -8867, -21407, -21407,  -8867,   8867,  21407},
    { 19266,  -4520, -22725, -12873,  12873,  22725,   4520, -19266},
    { 16384, -16384, -16384,  16384,  16384, -16384, -16384,  16384},
    { 12873, -22725,   4520,  19266, -19266,  -4520,  22725, -12873},
    {  8867, -21407,  21407,  -8867,  -8867,  21407, -21407,   8867},
    {  4520, -12873,  19266, -22725,  22725, -19266,  12873,  -4520},
  },
  {  // j = 1
    { 22725,  22725,  22725,  22725,  22725,  22725,  22725,  22725},
    { 31521,  26722,  17855,   6270,  -6270, -17855, -26722, -31521},
    { 29692,  12299, -12299, -29692, -29692, -12299,  12299,  29692},
    { 26722,  -6270, -31521, -17855,  17855,  31521,   6270, -26722},
    { 22725, -22725, -22725,  22725,  22725, -22725, -22725,  22725},
    { 17855, -31521,   6270,  26722, -26722,  -6270,  31521, -17855},
    { 12299, -29692,  29692, -12299, -12299,  29692, -29692,  12299},
    {  6270, -17855,  26722, -31521,  31521, -26722,  17855,  -6270},
  },
  {  // j = 2
    { 21407,  21407,  21407,  21407,  21407,  21407,  21407,  21407},
    { 29692,  25172,  16819,   5906,  -5906, -16819, -25172, -29692},
    { 27969,  11585, -11585, -27969, -27969, -11585,  11585,  27969},
    { 25172,  -5906, -29692, -16819,  16819,  29692,   5906, -25172},
    { 21407, -21407, -21407,  21407,  21407, -21407, -21407,  21407},
    { 16819, -29692,   5906,  25172, -25172,  -5906,  29692, -16819},
    { 11585, -27969,  27969, -11585, -11585,  27969, -27969,  11585},
    {  5906, -16819,  25172, -29692,  29692, -25172,  16819,  -5906},
  },
  {  // j = 3
    { 19266,  19266,  19266,  19266,  19266,  19266,  19266,  19266},
    { 26722,  22654,  15137,   5315,  -5315, -15137, -22654, -26722},
    { 25172,  10426, -10426, -25172, -25172, -10426,  10426,  25172},
    { 22654,  -5315, -26722, -15137,  15137,  26722,   5315, -22654},
    { 19266, -19266, -19266,  19266,  19266, -19266, -19266,  19266},
    { 15137, -26722,   5315,  22654, -22654,  -5315,  26722, -15137},
    { 10426, -25172,  25172, -10426, -10426,  25172, -25172,  10426},
    {  5315, -15137,  22654, -26722,  26722, -22654,  15137,  -5315},
  },
};

// The table of each row: j = 4, 1, 2, 3, 4, 3, 2, 1 for rows 0..7.
inline constexpr int dctrowtable[8] = {0, 1, 2, 3, 0, 3, 2, 1};

// Forward row rounding R[row][u], added before the final shift by 4.
inline constexpr int16_t dctfwdround[8][8] = {
  {6, 8, 8, 8, 6, 8, 8, 8},
  {10, 8, 8, 8, 8, 8, 8, 8},
  {8, 8, 8, 8, 8, 8, 8, 8},
  {8, 8, 8, 8, 8, 8, 8, 8},
  {6, 8, 8, 8, 6, 8, 8, 8},
  {8, 8, 8, 8, 8, 8, 8, 8},
  {8, 8, 8, 8, 8, 8, 8, 8},
  {8, 8, 8, 8, 8, 8, 8, 8},
};

// Inverse row rounding Q[row] (32-bit), added before the shift by 11.
inline constexpr int32_t dctinvround[8] = {65535, 3612, 2271, 1203, 1023, 102, 398, 469};

// The row coefficients as the multiply-add instructions take them, vectors over the rows
// (the row passes run on the transposed block, one lane per row). Each entry is 8 int16:
// pairs (w_a(r), w_b(r)) for the four rows r = 4h .. 4h+3; the 8-byte forms take the two
// halves of it.
//   dctfwdpairs[u][k][h]: w(j_r, u, 2k), w(j_r, u, 2k+1) (forward: inputs e or o, i = 2k, 2k+1)
//   dctinvpairs[n][g][h]: g = 0 (u 0, 2), 1 (u 4, 6), 2 (u 1, 3), 3 (u 5, 7) at output n
struct dctpairtables {
  alignas(16) int16_t fwd[8][2][2][8];
  alignas(16) int16_t inv[4][4][2][8];
};
constexpr dctpairtables makedctpairs() {
  dctpairtables t{};
  for (int u = 0; u < 8; u++)
    for (int k = 0; k < 2; k++)
      for (int h = 0; h < 2; h++)
        for (int l = 0; l < 4; l++) {
          int r = 4 * h + l;
          const auto& w = dctrowcoef[dctrowtable[r]];
          t.fwd[u][k][h][2 * l] = w[u][2 * k];
          t.fwd[u][k][h][2 * l + 1] = w[u][2 * k + 1];
        }
  constexpr int gu[4][2] = {{0, 2}, {4, 6}, {1, 3}, {5, 7}};
  for (int n = 0; n < 4; n++)
    for (int g = 0; g < 4; g++)
      for (int h = 0; h < 2; h++)
        for (int l = 0; l < 4; l++) {
          int r = 4 * h + l;
          const auto& w = dctrowcoef[dctrowtable[r]];
          t.inv[n][g][h][2 * l] = w[gu[g][0]][n];
          t.inv[n][g][h][2 * l + 1] = w[gu[g][1]][n];
        }
  return t;
}
inline constexpr dctpairtables dctpairs = makedctpairs();
