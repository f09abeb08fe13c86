// The slice quantiser map: one quantiser_scale_code per macroblock row from the real-valued
// picture quantiser of the rate control.
//
// Every row is one slice and carries its quantiser in the slice header; macroblocks never
// change it. Every row gets the integer part q of the quantiser, and the most active of the
// rows that carry detail get q + 1, as many as make the mean over the detailed rows as close
// to the real value as whole rows allow.
#pragma once

#include <cstdint>

constexpr int maxquantrows = 80;  // room for the row activities of a frame (72 rows used at most)

// The quantiser of each macroblock row, one array per picture_coding_type (rowquant[1] I,
// rowquant[2] P, rowquant[3] B), entries 1..mbrows, each 1..31; entry 0 unused.
extern int32_t rowquant[4][maxquantrows + 1];

// Ranks the rows 1..n (0..80) by activity: fills order[1..n] with 1..n and sorts it so that
// act[order[1] - 1] <= act[order[2] - 1] <= ... (row r's activity is act[r - 1]); act is not
// changed. Quicksort with median-of-three partitions, an explicit stack of pending ranges and
// straight insertion for short ranges; the stack is process-wide scratch (pass worker only).
void aqrank(const uint32_t* act, int n, int32_t* order);

// Fills result[1..n] for a picture quantiser qf (nominally 1.0..31.0; anything outside, an
// infinity or a NaN included, is clamped first: NaN counts as 31.0). rowact holds actcount
// row activities (row r at rowact[r - 1]; 0 marks a row without detail); rows past actcount
// count as 0. n is mbrows, 0..80 (larger is taken as 80). Uses the ranking scratch: pass worker
// only, not re-entrant.
void mbquantmap(float qf, int n, int32_t* result, const uint32_t* rowact, int actcount);
