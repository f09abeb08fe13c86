#include "encoder/passes/sceneanalysis.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/fmtfield.h"
#include "encoder/control/control.h"
#include "encoder/control/report.h"
#include "encoder/control/units.h"

scenerec scenestate;
int32_t gopclass[maxgops];

namespace {

// Run lengths 1..72 to GOP lengths, rows by B count 0..2, entry 0 unused.
// The split table covers runs 1..36; the limit table runs 1..72 and differs from the split
// table below 37 only for one B picture at runs 31..34.
constexpr int8_t splittable[3][37] = {
    {0, 1, 2, 3, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12,
     13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18},
    {0, 1, 2, 3, 2, 4, 4, 4, 4, 6, 6, 6, 6, 8, 8, 8, 8, 10, 10, 10, 10, 12, 12, 12, 12,
     14, 14, 14, 14, 14, 14, 18, 18, 18, 18, 18, 18},
    {0, 1, 2, 3, 3, 3, 3, 3, 3, 6, 6, 6, 6, 9, 9, 9, 9, 9, 9, 12, 12, 12, 12, 12, 12,
     15, 15, 15, 15, 15, 15, 18, 18, 18, 18, 18, 18},
};
constexpr int8_t limittable[3][73] = {
    {0, 1, 2, 3, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12,
     13, 13, 14, 14, 15, 15, 16, 16, 17, 17, 18, 18,
     19, 19, 20, 20, 21, 21, 22, 22, 23, 23, 24, 24, 25, 25, 26, 26, 27, 27, 28, 28, 29, 29, 30, 30,
     31, 31, 32, 32, 33, 33, 34, 34, 35, 35, 36, 36},
    {0, 1, 2, 3, 2, 4, 4, 4, 4, 6, 6, 6, 6, 8, 8, 8, 8, 10, 10, 10, 10, 12, 12, 12, 12,
     14, 14, 14, 14, 14, 14, 16, 16, 16, 16, 18, 18,
     18, 18, 20, 20, 20, 20, 22, 22, 22, 22, 24, 24, 24, 24, 26, 26, 26, 26, 28, 28, 28, 28, 30, 30,
     30, 30, 32, 32, 32, 32, 34, 34, 34, 34, 36, 36},
    {0, 1, 2, 3, 3, 3, 3, 3, 3, 6, 6, 6, 6, 9, 9, 9, 9, 9, 9, 12, 12, 12, 12, 12, 12,
     15, 15, 15, 15, 15, 15, 18, 18, 18, 18, 18, 18,
     21, 21, 21, 21, 21, 21, 24, 24, 24, 24, 24, 24, 27, 27, 27, 27, 27, 27, 30, 30, 30, 30, 30, 30,
     33, 33, 33, 33, 33, 33, 36, 36, 36, 36, 36, 36},
};

// The pair rule by previous length 9, 8, 7, 6: the shortest new length it applies to and the
// shortened length for B = 0, B = 1 closed / open, B = 2 closed / open.
struct pairrow {
  int previous, from, b0, b1closed, b1open, b2closed, b2open;
};
constexpr pairrow pairrules[] = {
    {9, 15, 14, 13, 14, 13, 12},
    {8, 16, 15, 15, 14, 13, 15},
    {7, 17, 16, 15, 16, 16, 15},
    {6, 18, 17, 17, 16, 16, 15},
};

int wrap(int slot, int ringsize) {
  while (slot > ringsize) slot -= ringsize;
  return slot;
}

bool chapterat(int frame) {
  return frame >= 0 && frame < maxframes && chapterflags[frame] == 1;
}

// Normalised differences of a slot's frame to the frame before it: luma per sample, chroma per
// four samples (truncating divisions).
struct diffs {
  int32_t y, u, v;
};
diffs normalised(const sceneslot& q) {
  int64_t lumasize = std::max(settings.lumasize, 1);
  int64_t chromasize = std::max(settings.chromasize, 1);
  return {static_cast<int32_t>(q.lumasad / lumasize),
          static_cast<int32_t>(4 * static_cast<int64_t>(q.usad) / chromasize),
          static_cast<int32_t>(4 * static_cast<int64_t>(q.vsad) / chromasize)};
}

// Shifts a history by one place (floor 1); before and after give its two relative changes
// around the middle entry, in single precision: |h2 - h1| / h1 and |h2 - h3| / h3.
void shift(int32_t* h, int32_t d) {
  h[0] = std::max(h[1], 1);
  h[1] = std::max(h[2], 1);
  h[2] = std::max(d, 1);
}
float before(const int32_t* h) {
  return static_cast<float>(std::abs(h[1] - h[0])) / static_cast<float>(h[0]);
}
float after(const int32_t* h) {
  return static_cast<float>(std::abs(h[1] - h[2])) / static_cast<float>(h[2]);
}

// The metric of the frame whose change out of it is d: the histories move on by d and the
// change into the frame is weighed against the changes on either side of it.
//
// At the start of a pass the changes before the first frames do not exist. Each missing one is
// taken as the mirror of its partner across the frame, so the first frames are judged like
// every later one: frame 0 has no change into it (its histories start full of its change out,
// metric 0), and for frame 1 the change into frame 0 is taken equal to the change out of
// frame 1. A moving clip then starts without a false cut, and a jump into frame 1 scores as
// it would further on.
int32_t judge(scenerec& s, const diffs& d) {
  int32_t* hist[3] = {s.yhist, s.uhist, s.vhist};
  const int32_t dd[3] = {d.y, d.u, d.v};
  float sum = 0.0f;
  for (int c = 0; c < 3; ++c) {
    int32_t* h = hist[c];
    if (s.judged == 0) std::fill(h, h + 3, std::max(dd[c], 1));
    shift(h, dd[c]);
    if (s.judged == 1) h[0] = h[2];
    sum += before(h);  // added one by one: the rounding of a metric at x.5 depends on it
    sum += after(h);
  }
  s.judged = std::min(s.judged + 1, 2);
  return static_cast<int32_t>(std::lround(sum));
}

// The scene-change list line of frame f when its metric starts a new scene; false when the
// line could not be written (the first failure only: later lines are not tried).
bool listscene(scenerec& s, const sceneslot& q, int f, const scdsink& sink) {
  if (!settings.scdfile || q.scenemetric < cutthreshold || s.scdfailed) return true;
  if (sink(scdline(f))) return true;
  s.scdfailed = true;
  return false;
}

// The last frame of the run has no successor: the change out of it is taken as the mirror of
// the change into the frame before it, so it is judged like the others and only a jump into
// it scores. Its class comes from the change into it (the class sum of the last GOP may read
// it; a value left from the frame the slot held before must not move that GOP's class). A
// one-frame run has no change at all: metric 0.
bool finishlast(scenerec& s, const scdsink& sink) {
  sceneslot& last = s.slots[s.analysisslot];
  diffs d = normalised(last);
  if (settings.noscd) last.scenemetric = 0;
  else last.scenemetric = judge(s, {s.yhist[1], s.uhist[1], s.vhist[1]});
  if (chapterat(s.analysisframe)) last.scenemetric = chaptermetric;
  bool written = listscene(s, last, s.analysisframe, sink);
  last.changeclass = std::min(d.y + d.u + d.v, 32);
  s.framestoanalyse = 0;
  s.readyframes += 1;
  return written;
}

}  // namespace

std::string scdline(int frame) {
  char text[32];
  std::snprintf(text, sizeof text, "%8d\n", frame);
  return text;
}

bool scdunitline(const std::string& line) {
  errno = 0;
  std::FILE* f = unitfile(unitscd);
  if (!f) return false;
  return std::fwrite(line.data(), 1, line.size(), f) == line.size() && std::fflush(f) == 0;
}

void scdwritefailed() {
  const int why = errno;
  if (settings.logfileon) logline(" *** ERROR, can't write to scd file, aborting...");
  const std::string path = trimright(settings.scdname);
  errorout("ERROR, can't write to scd file, aborting... (" + (path.empty() ? "" : "\"" + path + "\": ") +
           (why != 0 ? std::strerror(why) : "failed") + ")");
  putstatus(" can't write to scd file, aborting...");
  abortrun();
}

void sceneinit(scenerec& s) {
  s.ringsize = std::clamp(settings.ringsize, 1, maxringsize);
  s.analysisslot = 1;
  s.readnotanalysed = 0;
  s.analysisframe = settings.firstframe;
  s.framestoanalyse = std::max(settings.lastframe - settings.firstframe + 1, 0);
  s.readyframes = 0;
  s.gopstartslot = 1;
  s.prevgoplength = 0;
  std::fill(s.yhist, s.yhist + 3, 0);
  std::fill(s.uhist, s.uhist + 3, 0);
  std::fill(s.vhist, s.vhist + 3, 0);
  s.judged = 0;
  s.closedflag = 1;
  s.scdfailed = false;
}

void scenemeasured(scenerec& s, int slot, int32_t lumasad, int32_t usad, int32_t vsad) {
  if (slot < 1 || slot > s.ringsize) return;
  sceneslot& q = s.slots[slot];
  q.lumasad = lumasad;
  q.usad = usad;
  q.vsad = vsad;
  s.readnotanalysed += 1;
}

bool sceneanalyse(scenerec& s, const scdsink& sink) {
  bool written = true;
  // Every frame with a successor that has been read; the newest frame waits for the next fill.
  while (s.readnotanalysed > 1 && s.framestoanalyse > 1) {
    int a = s.analysisslot;
    int next = wrap(a + 1, s.ringsize);
    sceneslot& cur = s.slots[a];
    diffs d = normalised(s.slots[next]);  // the change out of frame a

    cur.scenemetric = settings.noscd ? 0 : judge(s, d);
    int f = s.analysisframe;
    if (chapterat(f)) cur.scenemetric = chaptermetric;
    if (!listscene(s, cur, f, sink)) written = false;

    s.analysisframe = f + 1;
    cur.changeclass = std::min(d.y + d.u + d.v, 32);
    s.readnotanalysed -= 1;
    s.analysisslot = next;
    s.framestoanalyse -= 1;
    s.readyframes += 1;
  }
  // The last frame of the run (also the only frame of a one-frame run) once it is read.
  if (s.framestoanalyse == 1 && s.readnotanalysed >= 1 && !finishlast(s, sink)) written = false;
  return written;
}

void gopclassvalue(int run, int& length, int bcount) {
  length = splittable[std::clamp(bcount, 0, 2)][std::clamp(run, 1, 36)];
}

void gopclasslimit(int run, int& length, int bcount) {
  length = std::min<int>(limittable[std::clamp(bcount, 0, 2)][std::clamp(run, 1, 72)],
                         settings.goplength);
}

void gopclassadjust(int& length, int closed, int bcount, int& previous) {
  for (const pairrow& r : pairrules) {
    if (previous != r.previous || length < r.from) continue;
    if (bcount <= 0)
      length = r.b0;
    else if (bcount == 1)
      length = closed ? r.b1closed : r.b1open;
    else
      length = closed ? r.b2closed : r.b2open;
    break;
  }
  previous = length;
}

void gopdecide(scenerec& s, int framesleft, int gopindex, int& n, int& nb) {
  const bool autogop = settings.autogop;
  const int L = std::max(autogop ? settings.autogopmax : settings.goplength, 1);
  const int ring = s.ringsize;
  const int s0 = s.gopstartslot;
  auto slot = [&](int e) -> const sceneslot& { return s.slots[wrap(s0 + e, ring)]; };

  // The window: frames left, but only those the analysis has finished.
  int m = std::min({2 * L, framesleft, s.readyframes});

  // Run scan: frames up to the next cut, at most the window; the class sum covers the frames
  // after the GOP's first, up to L of them.
  int g = 1, classsum = 0;
  if (m > 1) {
    for (int e = 1;; ++e) {
      if (slot(e).scenemetric >= cutthreshold) {
        g = e;
        break;
      }
      if (e <= L) classsum += slot(e).changeclass;
      if (e + 1 >= m) {
        g = e + 1;
        break;
      }
    }
  }

  // Closed at a cut and at a chapter frame (also without scene detection); never opened here.
  if (m >= 1) {
    int32_t first = slot(0).scenemetric;
    if ((first >= cutthreshold && !settings.noscd) || first == chaptermetric) s.closedflag = 1;
  }
  if (settings.closedgops) s.closedflag = 1;

  int length, bcount, cls;
  if (autogop) {
    cls = std::clamp(classsum / std::min(g, L), 1, 32);
    bcount = cls == 32 ? 0 : cls >= 12 ? 1 : 2;
    if (g <= L) {
      length = g;
    } else {
      gopclassvalue(g, length, bcount);
      if (bcount == 1) {
        // One B picture: an odd length closed (I B P ... P), an even one open.
        if (s.closedflag ? length % 2 == 0 : length % 2 == 1) length += 1;
        while (length > L) length -= 2;
      }
      length = std::max(std::min(length, L), 1);
    }
  } else {
    bcount = std::clamp(settings.bframes, 0, 2);
    if (g <= settings.goplength)
      length = g;
    else
      gopclasslimit(g, length, bcount);
    length = std::max(length, 1);
    cls = std::clamp(classsum / length, 1, 32);
  }
  settings.gopclass = cls;
  if (gopindex >= 0 && gopindex < maxgops) gopclass[gopindex] = cls;

  if (autogop || settings.goplength <= 18)
    gopclassadjust(length, s.closedflag, bcount, s.prevgoplength);

  s.gopstartslot = wrap(s0 + length, ring);
  s.readyframes = std::max(s.readyframes - length, 0);
  n = length;
  nb = bcount;
}
