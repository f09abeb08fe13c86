// The intermediate pass of a two-pass run: the bit allocation between the passes.
//
// The second-pass thread runs intermpass once before its GOP loop. From the first pass's record
// of each GOP (gopstats: length, bits, mean zone factor) it makes a bit budget per GOP whose
// average bitrate over the run meets settings.bitrate as closely as the integer arithmetic
// allows: every budget starts at the GOP's first-pass size times its zone factor and all are
// scaled together, no GOP gets more than the peak rate allows, and the darkest GOPs keep their
// weighted first-pass size. Then each GOP's starting quantiser from the ratio of its budget to
// its first-pass size, a log block and the bitrate reached in the status line.
//
// Bitrates are in bit/s, sizes in bits. Per-GOP arrays are numbered from 1 by GOP (1..gopcount);
// a GOP holds at least one frame, so maxgopcount entries are room for every run. Budgets and
// rates are 64-bit: a budget cannot overflow however far it is scaled.
#pragma once

#include <cstdint>
#include <string>

#include "encoder/passes/pass1.h"

// The allocation's bitrates: the average it aims at (settings.bitrate), the peak no GOP may
// exceed, and the floor at or below which a GOP's budget is not scaled down.
extern int32_t ratetarget, ratepeak, ratefloor;

struct gopplanrec {
  int64_t pass1rate[maxgopcount + 1];   // the GOP's first-pass bitrate
  int64_t target[maxgopcount + 1];      // its bit budget for the second pass
  int64_t targetrate[maxgopcount + 1];  // the bitrate of that budget
  int8_t fixed[maxgopcount + 1];        // -1: out of the scaling (capped or darkest), else 0
  int32_t luma[maxgopcount + 1];        // the GOP's mean luma sample value
};
extern gopplanrec gopplan;

// The plan the second pass steers by: planned cumulative bits through GOP k (entry 0 is 0;
// the rate feedback lowers later entries when it re-anchors the plan), their sum as planned
// here, and the base quantiser of each GOP (1..31).
extern int64_t cumplan[maxgopcount + 1];
extern int64_t plantotal;
extern float gopqbase[maxgopcount + 1];

// The lower and upper bitrate bounds of an average under a maximum, narrowed by pct percent
// (0..100) towards the average: max becomes min(max, 2.4 x avg) less pct % of its distance to
// avg, low the 1.12 rule's bound (at least avg / 2.4) raised by pct % of its distance. Single
// precision. An average at or above the maximum leaves nothing to narrow: the maximum stays
// (never raised) and the bound is the average; a zero or negative maximum is never divided by.
void ratebounds(int32_t avg, int32_t& max, int32_t& low, int32_t pct);

// The quantiser of a GOP whose budget is x times its first-pass size (at quantiser 4): the
// curve through about 4.05 at 1, clamped to 1..31. Single precision but for the middle piece
// (0.2 <= x <= 1.5), which runs in extended precision.
float bpptoq(float x);

// For GOPs 1..gopcount: rate[i] = nearest(framerate / length x size[i]); returns the average
// bitrate nearest(sum of sizes / (sum of lengths / framerate)). 64-bit sums, extended precision.
int64_t alloctotal(const int64_t* sizes, int64_t* rates);
// Each GOP's mean luma (gopplan.luma) from framelumasum; the GOPs of the smallest mean, when it
// is below 17, are fixed.
void allocstep();
// Every budget above the limit rate's share of its GOP gets that share and is fixed.
void allocclamp(int64_t* sizes, int32_t limit, int8_t* fixed);

// The whole pass: window texts, the log block, the plan, the status text. Returns false only
// when the run was stopped or ended on an error while it ran (no plan then).
bool intermpass();

// The status text of the allocation's end: " bitrate set to" and the kbit/s reached, or the
// WARNING text when they differ from the target (with its bias ending above 50 %).
std::string planstatus(int64_t reached, int32_t target, int32_t bias);
