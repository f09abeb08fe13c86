// Motion search of one macroblock: the starting candidates, the full-pel diamond search, the
// half-pel refinement with the B direction choice, and the f_code of a vector range.
//
// Positions are absolute pixel coordinates of a 16x16 block's top-left pixel in the reference
// picture; a position (px, py) lies inside the picture when 0 <= px <= searchxmax and
// 0 <= py <= searchymax. Vectors are displacements from the macroblock's own position.
// The lists and tables below are scratch of the coding thread that searches (one set per
// thread).
#pragma once

#include <cstdint>

#include "encoder/motion/pictargs.h"

// ---- candidates ----

// One candidate list. Entries: 0 the zero vector, 1 left, 2 top-left, 3 top, 4 top-right
// neighbour, 5 the co-located vector of the reference (P) or the scaled one (B), 6 the previous
// B picture's vector (B only), 7 the rounded mean of the valid entries 1, 3 and 4.
struct mvcands {
  int32_t x[8];
  int32_t y[8];
  int32_t valid[8];  // 1 searchable, 0 not (the search tests for exactly 1)
};
extern thread_local mvcands pcands;  // the P list
extern thread_local mvcands fcands;  // the forward B list
extern thread_local mvcands bcands;  // the backward B list

// Fills list for P macroblock i (1-based, raster order) at (x, y) of slot curslot, whose
// forward reference is fwdslot: neighbours' forward fullmv of curslot, fwdslot's co-located
// forward fullmv when fwdslot holds a P picture.
void mepred1(int curslot, int fwdslot, int i, int x, int y, mvcands& list);
// Fills the forward and backward lists of B macroblock i at (x, y). Entry 5 scales the
// backward reference's co-located forward vector by the temporal distances (slot numbers are
// display positions); it is left out when both references are the same slot.
void mepred2(int fwdslot, int bwdslot, int curslot, int i, int x, int y, mvcands& f, mvcands& b);

// ---- full-pel search ----

// The cost of one position: the SAD of the reference plane's 16x16 area at (px, py) against
// the source block. A seam: tests put a cost landscape here. Callers never pass a position
// outside the picture.
using mecostfunc = int32_t (*)(const uint8_t* ref, int px, int py, int pitch, const uint8_t* block);
int32_t mecostsad(const uint8_t* ref, int px, int py, int pitch, const uint8_t* block);
extern mecostfunc mecost;  // mecostsad unless a test replaced it

constexpr int32_t nocost = 999999;  // a candidate never evaluated, an interpolation not possible

// Thresholds T0, T1, T7 of the callers: the candidate tried first exits below 328, the one
// tried second below 272, and 256 ends the candidate stage (at or below) and the walk (below).
constexpr int32_t pthresh0 = 328, pthresh1 = 272, pthresh7 = 256;
constexpr int32_t bthresh0 = 272, bthresh1 = 328, bthresh7 = 256;
// How far the walk may go from the macroblock's own position before it stops.
constexpr int searchreachx = 252, searchreachy = 62;

// Candidate stage, then the walk: mesearch1 a small diamond of four points (speed profile 1),
// mesearch2 a large diamond of eight points and one final small step (profiles 2-4).
// ref: the reference luma plane (pitch), block: the source macroblock (256 bytes, aligned),
// i: the macroblock index (unused). The order of entries 0 and 1 follows settings.curpictype
// (2 P: entry 0 first; 3 B: entry 1 first). Returns the best cost and stores its position.
int32_t mesearch1(const uint8_t* ref, int pitch, const uint8_t* block, int i, const mvcands& c,
                  int& bx, int& by, int32_t t0, int32_t t1, int32_t t7);
int32_t mesearch2(const uint8_t* ref, int pitch, const uint8_t* block, int i, const mvcands& c,
                  int& bx, int& by, int32_t t0, int32_t t1, int32_t t7);
// The candidate table of the last search (nocost where not evaluated).
extern thread_local int32_t candcost[8];

// ---- half-pel refinement and f_code ----

// Grid index k: 1..8 the grid entry k - 1 (0 up-left ... 7 down-right), 9 the centre; the
// change of the half-pel vector for each k (entry 0 unused).
extern const int16_t hpeldelta[10][2];
// The sides of the half-pel window that lie outside the picture at full-pel position (px, py)
// (gridsides of kernels.h with searchxmax, searchymax); 0 for an interior position.
unsigned refineborders(int px, int py);
// The best of a grid: the centre unless an entry is strictly smaller (lowest entry on ties).
// Returns k, stores its cost.
int gridchoice(const int32_t* grid, int32_t& cost);
// The factor on the interpolated cost by bits-per-pixel class 1..6.
float interpfactor(int bppclass);
// The B direction from the forward, backward and interpolated costs: 0 forward, 1 backward,
// 2 interpolated. Equal costs give backward over forward, and both over the interpolation,
// which wins only when its cost times interpfactor (truncated) is strictly the lowest.
enum bdir : int { dirforward = 0, dirbackward = 1, dirinterp = 2 };
bdir bdirection(int32_t sf, int32_t sb, int32_t interp, int bppclass);

// Refines the forward vector of P macroblock i at (x, y) of args.curslot (every pass; in the
// second pass only in profile 4, else it takes the statistics vector as it is).
void mehalfpel1(const pictargs& args, int x, int y, int i);
// Refines both vectors of B macroblock i and sets its three direction flags.
void mehalfpel2(const pictargs& args, int x, int y, int i);
// The grids of the last refinement: P and forward B, backward B (nine costs each).
extern thread_local int32_t gridfwd[9];
extern thread_local int32_t gridbwd[9];

// Keeps a half-pel vector of the macroblock at (x, y) where its luma prediction (with the
// extra row and column of half positions) reads inside the picture: -2x <= vx <= 2(xmax - x),
// likewise vertically. Guards against vectors read back from a damaged statistics file.
void fitvector(int16_t* v, int x, int y);

// The smallest f_code 1..9 whose range (8 << (f - 1)) holds m (the largest absolute vector
// component in half pixels, m >= 0), or 0 when m exceeds 2048.
int fcodeforrange(int m);
