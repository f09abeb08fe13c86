// Fixed-width number fields of the log, the status texts and the edit fields: integers
// right-aligned in w columns (In) and reals with d decimals right-aligned in w columns (Fw.d).
//
// A value too wide for its field is written in full (the field grows), never as asterisks, so
// no number in a log or a window is ever lost.
#pragma once

#include <cstdint>
#include <string>

// v right-aligned in w columns (w <= 0: no padding).
std::string fmtint(int64_t v, int w);

// v with d decimals (0..15), right-aligned in w columns. Rounds to nearest, halves away from
// zero on the exact binary value (2.0625 with 3 decimals gives 2.063). A NaN is "NaN", an
// infinity "Infinity" or "-Infinity", each right-aligned.
std::string fmtfixed(double v, int w, int d);

// text left-aligned in w columns, padded with blanks; a longer text is kept in full.
std::string fmtlabel(const std::string& text, int w);

// Leading blanks moved to the end: the same length, the text left-aligned.
std::string adjustleft(const std::string& text);

// text without its trailing blanks.
std::string trimright(const std::string& text);
