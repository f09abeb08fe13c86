#include "encoder/passes/gopdecision.h"

#include <algorithm>

#include "encoder/passes/framering.h"

void initgopdecision() {}

void gopframemeasured(int) {}

void decidegop(int& n, int& nb) {
  const settingsrec& st = settings;
  ringcountersrec& rc = ringcounters;
  const int s0 = rc.gopstartslot;
  auto slotat = [&](int t) { return (s0 - 1 + t) % st.ringsize + 1; };
  auto chapter = [&](int t) {
    const int f = framering[slotat(t)].framenumber;
    return f >= 0 && f < maxframes && chapterflags[f] == 1;
  };
  n = std::max(1, std::min(goplengthinuse(), rc.framesleft));
  for (int t = 1; t < n; ++t)
    if (chapter(t)) {
      n = t;
      break;
    }
  if (chapter(0) || st.closedgops) rc.closedflag = 1;
  nb = 0;
  rc.prevgoplength = n;
  rc.gopstartslot = slotat(n);
}
