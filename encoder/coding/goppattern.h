// The picture order of one GOP and the 3:2 pulldown field flags of its pictures.
//
// Once per GOP the first-pass (or only-pass) loop decides the length n (1..36), the number of B
// pictures between references b (0..2) and closed_gop, and asks goppattern for the order; with
// pulldown it then asks pulldownflags for the field flags. The picture coding extension, the
// stream and statistics writers and the pass loops read the results; the second pass takes
// them back from the statistics stream instead of calling these routines.
#pragma once

#include <cstdint>

#include "encoder/control/settings.h"

// The three GOP arrays, 1-based: entries 1..36 are used, entry 0 is always 0.
//   goporder[k], k = 1..n: the index j of the k-th picture to code;
//   goptypes[j]: its picture_coding_type (1 I, 2 P, 3 B);
//   goptrefs[j]: its temporal_reference, the 0-based display position within the GOP.
// The source frame coded k-th is the GOP's first frame + goptrefs[goporder[k]]. Entries past n
// are 0.
constexpr int goparraysize = maxgoplength + 1;
using goparray = int32_t[goparraysize];
extern goparray goporder, goptypes, goptrefs;

// Field flags by temporal_reference 0..35: bit 0 top_field_first, bit 1 repeat_first_field.
extern int32_t pulldownflagarray[maxgoplength];
// Carried from GOP to GOP; the start-up sets both to 0 when pulldown is on.
extern int32_t pulldownphase;  // phase of the last flagged picture, 0..4 (0: none yet)
extern int32_t fieldtotal;     // displayed fields of all GOPs flagged so far
// fieldtotal as it stood before the current GOP; the drop-frame time code of the GOP header
// counts from it.
extern int32_t fieldcount;

// Fills the order of a GOP of n pictures (1..36) with b B pictures between references (0..2).
// closedgop is the closed_gop word the GOP header will carry: 1 lists the arrays in display
// order (goptrefs[j] = j - 1) starting with the I picture; any other value lists them in coding
// order (goporder[k] = k) and the GOP starts in display order with B pictures that precede its
// I picture. All 37 entries of the three arrays are cleared first. An n or b outside its range
// is taken as the nearest value inside it.
void goppattern(int b, int n, int closedgop, goparray& order, goparray& types, goparray& trefs);

// Flags the n pictures of the GOP (0..36) in display order with the 3:2 cycle 3, 0, 2, 1
// (3, 2, 3, 2 fields), continuing the phase of the previous GOP. Clears all 36 flags and sets
// fieldcount := fieldtotal first.
void pulldownflags(int n);
