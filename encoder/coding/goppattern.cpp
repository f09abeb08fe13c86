#include "encoder/coding/goppattern.h"

#include <algorithm>

goparray goporder, goptypes, goptrefs;
int32_t pulldownflagarray[maxgoplength];
int32_t pulldownphase = 0;
int32_t fieldtotal = 0;
int32_t fieldcount = 0;

namespace {

constexpr int32_t ipicture = 1, ppicture = 2, bpicture = 3;

// Length of the B run of group i (0-based) of g groups sharing bcount B pictures as evenly as
// possible: the runs differ by at most one, the longer ones first or last.
int runlength(int i, int g, int bcount, bool longerfirst) {
  int base = bcount / g, extra = bcount % g;
  if (longerfirst) return base + (i < extra ? 1 : 0);
  return base + (i >= g - extra ? 1 : 0);
}

}  // namespace

void goppattern(int b, int n, int closedgop, goparray& order, goparray& types, goparray& trefs) {
  b = std::clamp(b, 0, 2);
  n = std::clamp(n, 1, maxgoplength);
  std::fill(order, order + goparraysize, 0);
  std::fill(types, types + goparraysize, 0);
  std::fill(trefs, trefs + goparraysize, 0);

  if (closedgop == 1) {
    // Display order: the I picture, then groups of a B run followed by one P picture, the
    // shorter runs first. Coding order: the I, then per group its P before its B pictures.
    for (int j = 1; j <= n; ++j) trefs[j] = j - 1;
    types[1] = ipicture;
    order[1] = 1;
    int m = n - 1;
    if (m == 0) return;
    int g = (m + b) / (b + 1);
    int pos = 2, k = 2;  // next display index, next coding position
    for (int i = 0; i < g; ++i) {
      int run = runlength(i, g, m - g, false);
      int p = pos + run;
      types[p] = ppicture;
      order[k++] = p;
      for (int j = pos; j < p; ++j) {
        types[j] = bpicture;
        order[k++] = j;
      }
      pos = p + 1;
    }
    return;
  }

  // Open GOP, listed in coding order: groups of a B run followed by one reference (the first
  // the I picture, then P pictures), the longer runs first; each reference is coded before
  // the B pictures of its run. The leading B pictures also predict from the previous GOP.
  for (int k = 1; k <= n; ++k) order[k] = k;
  int g = (n + b) / (b + 1);
  int disp = 0, k = 1;  // next display position, next coding position
  for (int i = 0; i < g; ++i) {
    int run = runlength(i, g, n - g, true);
    types[k] = i == 0 ? ipicture : ppicture;
    trefs[k] = disp + run;
    ++k;
    for (int j = 0; j < run; ++j) {
      types[k] = bpicture;
      trefs[k] = disp + j;
      ++k;
    }
    disp += run + 1;
  }
}

void pulldownflags(int n) {
  // phase 1..4: flags (bit 1 repeat_first_field, bit 0 top_field_first) and fields shown.
  static constexpr int32_t flags[5] = {0, 3, 0, 2, 1};
  static constexpr int32_t fields[5] = {0, 3, 2, 3, 2};
  n = std::clamp(n, 0, maxgoplength);
  std::fill(pulldownflagarray, pulldownflagarray + maxgoplength, 0);
  fieldcount = fieldtotal;
  for (int t = 0; t < n; ++t) {
    pulldownphase = pulldownphase % 4 + 1;
    pulldownflagarray[t] = flags[pulldownphase];
    fieldtotal += fields[pulldownphase];
  }
}
