#include "encoder/coding/quantmap.h"

#include <algorithm>
#include <cmath>

int32_t rowquant[4][maxquantrows + 1];

namespace {

// Ranking scratch: the order table of mbquantmap, the activities it ranks, and the stack of
// pending ranges of the sort (two words per range; 2 x log2(80) ranges at most, since the
// larger half is always the one pushed).
int32_t rankorder[maxquantrows + 1];
uint32_t rankact[maxquantrows];
constexpr int stacksize = 32;
int32_t rankstack[stacksize];
constexpr int shortrange = 7;  // ranges up to this length are sorted by straight insertion

}  // namespace

void aqrank(const uint32_t* act, int n, int32_t* order) {
  n = std::clamp(n, 0, maxquantrows);
  for (int i = 1; i <= n; ++i) order[i] = i;
  if (n < 2) return;
  auto a = [act](int32_t row) { return act[row - 1]; };
  int lo = 1, hi = n, top = 0;
  for (;;) {
    if (hi - lo < shortrange) {
      for (int j = lo + 1; j <= hi; ++j) {
        int32_t r = order[j];
        uint32_t v = a(r);
        int i = j - 1;
        for (; i >= lo && a(order[i]) > v; --i) order[i + 1] = order[i];
        order[i + 1] = r;
      }
      if (top == 0) return;
      hi = rankstack[--top];
      lo = rankstack[--top];
      continue;
    }
    // Median of lo, mid, hi moves to lo + 1 and becomes the pivot; lo and hi are sentinels.
    int mid = (lo + hi) / 2;
    std::swap(order[mid], order[lo + 1]);
    if (a(order[lo]) > a(order[hi])) std::swap(order[lo], order[hi]);
    if (a(order[lo + 1]) > a(order[hi])) std::swap(order[lo + 1], order[hi]);
    if (a(order[lo]) > a(order[lo + 1])) std::swap(order[lo], order[lo + 1]);
    int i = lo + 1, j = hi;
    int32_t pivotrow = order[lo + 1];
    uint32_t pivot = a(pivotrow);
    for (;;) {
      do ++i; while (a(order[i]) < pivot);
      do --j; while (a(order[j]) > pivot);
      if (j < i) break;
      std::swap(order[i], order[j]);
    }
    order[lo + 1] = order[j];
    order[j] = pivotrow;
    // Push the larger part, go on with the smaller one.
    if (hi - i + 1 >= j - lo) {
      rankstack[top++] = i;
      rankstack[top++] = hi;
      hi = j - 1;
    } else {
      rankstack[top++] = lo;
      rankstack[top++] = j - 1;
      lo = i;
    }
  }
}

void mbquantmap(float qf, int n, int32_t* result, const uint32_t* rowact, int actcount) {
  n = std::clamp(n, 0, maxquantrows);
  // A NaN fails every comparison; it must not reach the conversion to an integer.
  if (std::isnan(qf)) qf = 31.0f;
  qf = std::clamp(qf, 1.0f, 31.0f);
  int32_t q = static_cast<int32_t>(qf);  // truncation, 1..31

  actcount = std::clamp(actcount, 0, n);
  for (int r = 0; r < n; ++r) rankact[r] = r < actcount ? rowact[r] : 0;
  aqrank(rankact, n, rankorder);

  int m = 0;
  for (int r = 1; r <= n; ++r) {
    result[r] = q;
    if (rankact[r - 1] != 0) ++m;
  }
  // The share of detailed rows that get q + 1, in single precision as the rate control
  // computes it; nearest, halves away from zero. qf = 31 has fraction 0, so q + 1 <= 31.
  float fraction = 1.0f - (static_cast<float>(q + 1) - qf);
  long k = std::lround(fraction * static_cast<float>(m));
  k = std::clamp<long>(k, 0, m);
  for (int i = n - static_cast<int>(k) + 1; i <= n; ++i) result[rankorder[i]] = q + 1;
}
