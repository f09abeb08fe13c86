// Scene metric, scene-change list and GOP decision: the tables at their edges, the decision on
// hand-set slots, and whole synthetic clips run through a small model of the frame fetch
// (ring fill, per-frame measurement with the block kernels, analysis, one decision per GOP).
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "encoder/motion/kernels.h"
#include "encoder/passes/sceneanalysis.h"

namespace {

// ---------------------------------------------------------------------------------------
// Settings of every case: a 64 x 48 picture, automatic GOPs of at most 15, the list wanted.
void basesettings(int frames, int firstframe = 0) {
  settings = settingsrec{};
  settings.width = 64;
  settings.height = 48;
  settings.lumasize = 64 * 48;
  settings.chromasize = 64 * 48 / 4;
  settings.firstframe = firstframe;
  settings.lastframe = firstframe + frames - 1;
  settings.autogop = true;
  settings.autogopmax = 15;
  settings.goplength = 15;
  settings.bframes = 2;
  settings.scdfile = true;
}
void setring() {
  int l = settings.autogop ? settings.autogopmax : settings.goplength;
  settings.ringsize = 2 * l + 3;
}

struct chapterguard {
  std::vector<int> marked;
  void mark(int f) {
    chapterflags[f] = 1;
    marked.push_back(f);
  }
  ~chapterguard() {
    for (int f : marked) chapterflags[f] = 0;
  }
};

// ---------------------------------------------------------------------------------------
// Synthetic frames.
struct frame {
  std::vector<uint8_t> y, u, v;
};
using framegen = std::function<void(int source, frame& out)>;

uint8_t clampbyte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Calm material: a fixed texture with a little sensor noise; from frame cut on another
// texture and other colours (a hard cut). cut < 0: no cut.
framegen calmclip(int cut, uint32_t seed = 11) {
  return [cut, seed](int source, frame& out) {
    bool second = cut >= 0 && source >= cut;
    std::mt19937 noise(seed * 7919u + static_cast<uint32_t>(source));
    std::uniform_int_distribution<int> jitter(-2, 2);
    out.y.resize(settings.lumasize);
    out.u.assign(settings.chromasize, second ? 90 : 128);
    out.v.assign(settings.chromasize, second ? 170 : 128);
    for (int r = 0; r < settings.height; ++r)
      for (int c = 0; c < settings.width; ++c) {
        int base = second ? 230 - ((c * 5 + r * 3) % 160) : 40 + ((c * 2 + r * 3) % 120);
        out.y[r * settings.width + c] = clampbyte(base + jitter(noise));
      }
  };
}

// Every sample random: the busiest material there is.
framegen noiseclip(uint32_t seed) {
  return [seed](int source, frame& out) {
    std::mt19937 g(seed * 104729u + static_cast<uint32_t>(source));
    out.y.resize(settings.lumasize);
    out.u.resize(settings.chromasize);
    out.v.resize(settings.chromasize);
    for (auto* p : {&out.y, &out.u, &out.v})
      for (auto& b : *p) b = static_cast<uint8_t>(g() >> 24);
  };
}

// The fill's measurement of a frame against the previous one: luma SAD as the sum of the
// macroblock SADs, chroma SADs over the whole planes.
void measure(const frame& cur, const frame& prev, int32_t& lumasad, int32_t& usad,
             int32_t& vsad) {
  uint32_t total = 0;
  for (int y = 0; y < settings.height; y += 16)
    for (int x = 0; x < settings.width; x += 16) {
      uint32_t sum, sad, act;
      blockstats_c(cur.y.data(), prev.y.data(), x, y, settings.width, &sum, &sad, &act);
      total += sad;
    }
  lumasad = static_cast<int32_t>(total);
  usad = static_cast<int32_t>(sadframes_c(cur.u.data(), prev.u.data(), settings.chromasize));
  vsad = static_cast<int32_t>(sadframes_c(cur.v.data(), prev.v.data(), settings.chromasize));
}

// ---------------------------------------------------------------------------------------
// A model of the first-pass fetch and GOP loop around the analysis.
struct gopresult {
  int first, n, nb, closed, cls;
  bool operator==(const gopresult&) const = default;
};
std::ostream& operator<<(std::ostream& o, const gopresult& g) {
  return o << "{first " << g.first << ", n " << g.n << ", nb " << g.nb << ", closed " << g.closed
           << ", class " << g.cls << "}";
}
struct cliprun {
  std::vector<gopresult> gops;
  std::string list;     // the scene-change list as written
  bool writeok = true;  // every sceneanalyse call reported success
};

// poison: a value written into every slot's metric and class after sceneinit, standing for
// what an earlier pass left there; no result may depend on it.
cliprun runclip(const framegen& gen, int32_t poison = 0, scdsink sink = nullptr) {
  cliprun result;
  if (!sink)
    sink = [&result](const std::string& line) {
      result.list += line;
      return true;
    };
  setring();
  const int ring = settings.ringsize;
  scenerec& s = scenestate;
  sceneinit(s);
  for (int k = 1; k <= ring; ++k) s.slots[k].scenemetric = s.slots[k].changeclass = poison;

  std::vector<frame> frames(ring + 1);
  int nextframe = settings.firstframe, producer = 1, consumer = ring, offset = 0;
  int framesleft = settings.lastframe - settings.firstframe + 1;
  int coded = settings.firstframe, gopindex = 0;
  bool firstfetch = true;
  while (framesleft > 0) {
    while (nextframe <= settings.lastframe && producer != consumer) {
      gen(nextframe, frames[producer]);
      int q = producer == 1 ? ring : producer - 1;
      if (firstfetch) q = producer, firstfetch = false;
      int32_t ls, us, vs;
      measure(frames[producer], frames[q], ls, us, vs);
      scenemeasured(s, producer, ls, us, vs);
      nextframe += 1;
      producer = producer % ring + 1;
    }
    if (!sceneanalyse(s, sink)) result.writeok = false;
    EXPECT_EQ(s.gopstartslot, offset % ring + 1) << "GOP start slot out of step with the ring";
    int n = 0, nb = settings.bframes;
    gopdecide(s, framesleft, gopindex, n, nb);
    EXPECT_EQ(gopclass[gopindex], settings.gopclass);
    result.gops.push_back({coded, n, nb, s.closedflag, settings.gopclass});
    if (n < 1 || n > framesleft) {
      ADD_FAILURE() << "GOP length " << n << " with " << framesleft << " frames left";
      break;
    }
    // The GOP's last frame in display order is a reference picture: the consumer slot.
    consumer = (offset + n - 1) % ring + 1;
    offset = (offset + n) % ring;
    framesleft -= n;
    coded += n;
    gopindex += 1;
    if (!settings.closedgops) s.closedflag = 0;
  }
  return result;
}

std::vector<int> lengths(const cliprun& r) {
  std::vector<int> v;
  for (const auto& g : r.gops) v.push_back(g.n);
  return v;
}

// ---------------------------------------------------------------------------------------
// The tables.

TEST(scenetables, splittableends) {
  // run, then the lengths for B = 0, 1, 2
  const int cases[][4] = {{1, 1, 1, 1},     {3, 3, 3, 3},     {4, 2, 2, 3},     {5, 3, 4, 3},
                          {12, 6, 6, 6},    {13, 7, 8, 9},    {24, 12, 12, 12}, {25, 13, 14, 15},
                          {30, 15, 14, 15}, {31, 16, 18, 18}, {36, 18, 18, 18}};
  for (const auto& c : cases)
    for (int b = 0; b <= 2; ++b) {
      int length = -1;
      gopclassvalue(c[0], length, b);
      EXPECT_EQ(length, c[b + 1]) << "run " << c[0] << " B " << b;
    }
}

TEST(scenetables, splittableshape) {
  // No length exceeds its run; from run 4 on the rows never fall; they end at 18.
  for (int b = 0; b <= 2; ++b) {
    int last = 0;
    for (int run = 1; run <= 36; ++run) {
      int length;
      gopclassvalue(run, length, b);
      EXPECT_LE(length, run) << "B " << b << " run " << run;
      if (run > 4) {
        EXPECT_GE(length, last) << "B " << b << " run " << run;
      }
      last = length;
    }
    EXPECT_EQ(last, 18);
  }
}

TEST(scenetables, limittableends) {
  settings = settingsrec{};
  settings.goplength = 36;
  const int cases[][4] = {{1, 1, 1, 1},     {30, 15, 14, 15}, {31, 16, 16, 18}, {34, 17, 16, 18},
                          {35, 18, 18, 18}, {36, 18, 18, 18}, {37, 19, 18, 21}, {38, 19, 18, 21},
                          {39, 20, 20, 21}, {48, 24, 24, 24}, {49, 25, 24, 27}, {60, 30, 30, 30},
                          {61, 31, 30, 33}, {71, 36, 36, 36}, {72, 36, 36, 36}};
  for (const auto& c : cases)
    for (int b = 0; b <= 2; ++b) {
      int length = -1;
      gopclasslimit(c[0], length, b);
      EXPECT_EQ(length, c[b + 1]) << "run " << c[0] << " B " << b;
    }
}

TEST(scenetables, limittableagreeswithsplitandcaps) {
  settings = settingsrec{};
  settings.goplength = 36;
  for (int b = 0; b <= 2; ++b)
    for (int run = 1; run <= 36; ++run) {
      int split, limit;
      gopclassvalue(run, split, b);
      gopclasslimit(run, limit, b);
      if (b == 1 && run >= 31 && run <= 34)
        EXPECT_EQ(limit, 16) << "run " << run;
      else
        EXPECT_EQ(limit, split) << "B " << b << " run " << run;
    }
  // Capped at the fixed GOP length.
  settings.goplength = 12;
  for (int run : {24, 25, 72}) {
    int length;
    gopclasslimit(run, length, 2);
    EXPECT_EQ(length, 12) << "run " << run;
  }
  int length;
  gopclasslimit(20, length, 0);
  EXPECT_EQ(length, 10);
}

TEST(scenetables, pairrule) {
  struct paircase {
    int previous, length, closed, b, expect;
  };
  const paircase cases[] = {
      {9, 15, 0, 0, 14}, {9, 18, 1, 1, 13}, {9, 15, 0, 1, 14}, {9, 15, 1, 2, 13},
      {9, 15, 0, 2, 12}, {9, 14, 0, 0, 14}, {8, 16, 0, 0, 15}, {8, 16, 1, 1, 15},
      {8, 16, 0, 1, 14}, {8, 16, 1, 2, 13}, {8, 16, 0, 2, 15}, {8, 15, 1, 2, 15},
      {7, 17, 0, 0, 16}, {7, 17, 1, 1, 15}, {7, 17, 0, 1, 16}, {7, 18, 1, 2, 16},
      {7, 17, 0, 2, 15}, {7, 16, 0, 0, 16}, {6, 18, 0, 0, 17}, {6, 18, 1, 1, 17},
      {6, 18, 0, 1, 16}, {6, 18, 1, 2, 16}, {6, 18, 0, 2, 15}, {6, 17, 0, 0, 17},
      {10, 18, 0, 0, 18}, {5, 18, 0, 2, 18}, {0, 15, 1, 2, 15}, {15, 15, 0, 2, 15},
  };
  for (const auto& c : cases) {
    int length = c.length, previous = c.previous;
    gopclassadjust(length, c.closed, c.b, previous);
    EXPECT_EQ(length, c.expect) << "P " << c.previous << " N " << c.length << " closed "
                                << c.closed << " B " << c.b;
    EXPECT_EQ(previous, length) << "the new length becomes the previous one";
  }
}

TEST(scenetables, listline) {
  EXPECT_EQ(scdline(37), "      37\n");
  EXPECT_EQ(scdline(0), "       0\n");
  EXPECT_EQ(scdline(639999), "  639999\n");
}

// ---------------------------------------------------------------------------------------
// The metric on hand-made differences: luma only (the chroma histories stay at their floor).

// Hands over frames whose luma change into each (from frame 1 on) is into[k] per sample, and
// analyses them; gives the metric of every analysed frame.
std::vector<int> metrics(const std::vector<int>& into) {
  basesettings(static_cast<int>(into.size()));
  settings.ringsize = static_cast<int>(into.size()) + 3;
  scenerec& s = scenestate;
  sceneinit(s);
  for (size_t k = 0; k < into.size(); ++k)
    scenemeasured(s, static_cast<int>(k) + 1, into[k] * settings.lumasize, 0, 0);
  std::string list;
  sceneanalyse(s, [&](const std::string& line) {
    list += line;
    return true;
  });
  std::vector<int> out;
  for (size_t k = 0; k < into.size(); ++k) out.push_back(s.slots[k + 1].scenemetric);
  return out;
}

TEST(scenemetric, thresholdandrounding) {
  struct thresholdcase {
    int calm, spike, metric;  // calm level, change into frame 4, its metric
  };
  const thresholdcase cases[] = {
      {2, 20, 18},  // 9 + 9: exactly the threshold, a cut
      {2, 19, 17},  // 8.5 + 8.5
      {4, 39, 18},  // 8.75 + 8.75 = 17.5, rounded away from zero
      {4, 38, 17},  // 8.5 + 8.5
      {1, 10, 18},  // 9 + 9 against the floor of 1
      {0, 10, 18},  // no change at all counts as 1
  };
  for (const auto& c : cases) {
    std::vector<int> into = {0, c.calm, c.calm, c.calm, c.spike, c.calm, c.calm, c.calm};
    std::vector<int> m = metrics(into);
    EXPECT_EQ(m[4], c.metric) << "calm " << c.calm << " spike " << c.spike;
    EXPECT_LT(m[3], cutthreshold);
    EXPECT_LT(m[5], cutthreshold);
  }
}

TEST(scenemetric, wholesequence) {
  // The histories start from the first change (frame 0 scores 0), and the last frame is
  // judged as if the change out of it mirrored the change into the frame before it.
  EXPECT_EQ(metrics({0, 2, 2, 2, 20, 2, 2, 2}), (std::vector<int>{0, 0, 0, 1, 18, 1, 0, 0}));
}

TEST(scenemetric, edgesjudgedlikethemiddle) {
  // A jump into frame 1, into a middle frame and into the last frame, between calm changes,
  // scores the same at all three places; a steady change scores 0 everywhere, the two ends
  // included (before, frame 1 met a floor of 1 and the last frame scored its summed change
  // less 3, so every moving clip started and ended with a cut).
  struct edgecase {
    int calm, spike;
  };
  const edgecase cases[] = {{2, 20}, {2, 19}, {4, 39}, {0, 10}, {10, 25}, {25, 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE("calm " + std::to_string(c.calm) + " spike " + std::to_string(c.spike));
    const int middle = metrics({0, c.calm, c.calm, c.calm, c.spike, c.calm, c.calm, c.calm})[4];
    EXPECT_EQ(metrics({0, c.spike, c.calm, c.calm, c.calm, c.calm})[1], middle);
    EXPECT_EQ(metrics({0, c.calm, c.calm, c.calm, c.calm, c.spike})[5], middle);
  }
  for (int level : {0, 1, 7, 40, 255}) {
    SCOPED_TRACE("steady change " + std::to_string(level));
    EXPECT_EQ(metrics({0, level, level, level, level, level}), std::vector<int>(6, 0));
    EXPECT_EQ(metrics({0, level}), std::vector<int>(2, 0));
    EXPECT_EQ(metrics({0, level, level}), std::vector<int>(3, 0));
  }
}

TEST(scenemetric, cutlistedatthresholdonly) {
  for (int spike : {19, 20}) {
    basesettings(8);
    settings.ringsize = 11;
    sceneinit(scenestate);
    const int into[] = {0, 2, 2, 2, spike, 2, 2, 2};
    for (int k = 0; k < 8; ++k) scenemeasured(scenestate, k + 1, into[k] * settings.lumasize, 0, 0);
    std::string list;
    ASSERT_TRUE(sceneanalyse(scenestate, [&](const std::string& line) {
      list += line;
      return true;
    }));
    EXPECT_EQ(list, spike == 20 ? "       4\n" : "") << "spike " << spike;
  }
}

TEST(scenemetric, lastframe) {
  // The last frame has no successor: a jump into it scores as one in the middle (14 + 14) and
  // is listed; its class is the summed change into it.
  basesettings(6);
  settings.ringsize = 9;
  scenerec& s = scenestate;
  sceneinit(s);
  const int into[] = {0, 2, 2, 2, 2, 30};
  for (int k = 0; k < 6; ++k) scenemeasured(s, k + 1, into[k] * settings.lumasize, 0, 0);
  std::string list;
  ASSERT_TRUE(sceneanalyse(s, [&](const std::string& line) {
    list += line;
    return true;
  }));
  EXPECT_EQ(s.slots[6].scenemetric, 28);
  EXPECT_EQ(list, scdline(5));
  EXPECT_EQ(s.slots[6].changeclass, 30);
  EXPECT_EQ(s.framestoanalyse, 0);
  EXPECT_EQ(s.readyframes, 6);
}

TEST(scenemetric, analysiswaitsforasuccessor) {
  basesettings(10);
  settings.ringsize = 13;
  scenerec& s = scenestate;
  sceneinit(s);
  for (int k = 1; k <= 4; ++k) scenemeasured(s, k, 2 * settings.lumasize, 0, 0);
  ASSERT_TRUE(sceneanalyse(s, [](const std::string&) { return true; }));
  EXPECT_EQ(s.readyframes, 3);  // the newest frame waits
  EXPECT_EQ(s.analysisslot, 4);
  EXPECT_EQ(s.analysisframe, 3);
  for (int k = 5; k <= 10; ++k) scenemeasured(s, k, 2 * settings.lumasize, 0, 0);
  ASSERT_TRUE(sceneanalyse(s, [](const std::string&) { return true; }));
  EXPECT_EQ(s.readyframes, 10);  // all, the last one included
}

// ---------------------------------------------------------------------------------------
// The GOP decision on hand-set slots.

struct decision {
  int n, nb, closed, cls;
};
// Slots 1..frames get the classes (the metric 0 unless listed in cuts); the GOP starts at
// slot 1 with the given previous length and closed flag.
decision decide(int frames, int cls, std::vector<int> cuts = {}, int previous = 0,
                int closed = 0, int framesleft = -1) {
  setring();
  scenerec& s = scenestate;
  sceneinit(s);
  for (int k = 1; k <= settings.ringsize; ++k) s.slots[k] = sceneslot{};
  for (int k = 1; k <= frames; ++k) s.slots[k].changeclass = cls;
  for (int c : cuts) s.slots[c + 1].scenemetric = 100;
  s.readyframes = frames;
  s.prevgoplength = previous;
  s.closedflag = closed;
  int n = 0, nb = settings.bframes;
  gopdecide(s, framesleft < 0 ? frames : framesleft, 0, n, nb);
  return {n, nb, s.closedflag, settings.gopclass};
}

TEST(gopdecision, classgivesbcount) {
  // 30 frames without a cut, automatic GOPs of at most 15.
  struct bcase {
    int cls, nb;
  };
  for (const auto& c : {bcase{0, 2}, bcase{1, 2}, bcase{11, 2}, bcase{12, 1}, bcase{31, 1},
                        bcase{32, 0}}) {
    basesettings(30);
    decision d = decide(30, c.cls);
    EXPECT_EQ(d.nb, c.nb) << "class " << c.cls;
    EXPECT_EQ(d.cls, c.cls == 0 ? 1 : c.cls);
  }
}

TEST(gopdecision, automaticlengths) {
  basesettings(30);
  // Class 5 (B = 2), a window of 30 and no cut: the split table gives 15.
  decision d = decide(30, 5);
  EXPECT_EQ(d.n, 15);
  EXPECT_EQ(d.nb, 2);
  // B = 1 and a run of 25..30 (split value 14): 15 when closed, 14 when open.
  for (int run = 25; run <= 30; ++run) {
    EXPECT_EQ(decide(run, 20, {}, 0, 1).n, 15) << "closed, run " << run;
    EXPECT_EQ(decide(run, 20, {}, 0, 0).n, 14) << "open, run " << run;
  }
  // B = 1, run 31 gives 18: odd when closed (19), lowered by 2 to 17, capped at 15.
  settings.autogopmax = 18;
  EXPECT_EQ(decide(36, 20, {}, 0, 1).n, 17);
  EXPECT_EQ(decide(36, 20, {}, 0, 0).n, 18);
  settings.autogopmax = 15;
  // A cut within L frames ends the GOP before it, whatever the table says.
  d = decide(30, 5, {9});
  EXPECT_EQ(d.n, 9);
  EXPECT_EQ(d.cls, 5 * 8 / 9);  // 8 frame classes after the first, over 9 frames
  // A cut at the GOP's first frame closes it; the run goes on past it.
  d = decide(30, 5, {0});
  EXPECT_EQ(d.closed, 1);
  EXPECT_EQ(d.n, 15);
}

TEST(gopdecision, pairruleafterashortgop) {
  basesettings(30);
  // Previous GOP of 9, a run giving 15 with B = 0: cut to 14.
  decision d = decide(30, 32, {}, 9);
  EXPECT_EQ(d.nb, 0);
  EXPECT_EQ(d.n, 14);
  EXPECT_EQ(scenestate.prevgoplength, 14);
}

TEST(gopdecision, fixedlengths) {
  basesettings(40);
  settings.autogop = false;
  settings.goplength = 12;
  settings.bframes = 2;
  // A cut 20 frames away: the limit table at 20 gives 12; a cut 5 frames away gives 5.
  EXPECT_EQ(decide(24, 3, {20}).n, 12);
  decision d = decide(24, 3, {5});
  EXPECT_EQ(d.n, 5);
  EXPECT_EQ(d.nb, 2);
  EXPECT_EQ(d.cls, 3 * 4 / 5);  // class sum over the final length, at least 1
  EXPECT_EQ(decide(24, 0, {5}).cls, 1);
  // Up to 18 the pair rule applies: after 9 frames an open 18-frame GOP with B = 2 gets 12.
  settings.goplength = 18;
  EXPECT_EQ(decide(36, 3, {}, 9).n, 12);
  EXPECT_EQ(scenestate.prevgoplength, 12);
  // Above 18 the pair rule is not applied and the previous length stays.
  settings.goplength = 20;
  decide(40, 3, {}, 9);
  EXPECT_EQ(scenestate.prevgoplength, 9);
}

TEST(gopdecision, oneframeleft) {
  basesettings(1);
  decision d = decide(1, 25);
  EXPECT_EQ(d.n, 1);
  EXPECT_EQ(d.cls, 1);
  EXPECT_EQ(d.nb, 2);
}

TEST(gopdecision, closedgopsandnoscd) {
  basesettings(30);
  settings.closedgops = true;
  EXPECT_EQ(decide(30, 5).closed, 1);
  settings.closedgops = false;
  // With scene detection off a high metric at the start does not close the GOP, a chapter
  // frame does.
  settings.noscd = true;
  EXPECT_EQ(decide(30, 5, {0}).closed, 0);
  setring();
  sceneinit(scenestate);
  scenestate.slots[1].scenemetric = chaptermetric;
  scenestate.readyframes = 30;
  scenestate.closedflag = 0;
  int n, nb;
  gopdecide(scenestate, 30, 0, n, nb);
  EXPECT_EQ(scenestate.closedflag, 1);
}

TEST(gopdecision, neverreadsunanalysedslots) {
  // Only 10 frames carry analysis values; the slots after them hold no cut and high classes
  // that must not be seen (they would give a 15-frame GOP of class 32).
  basesettings(40);
  setring();
  scenerec& s = scenestate;
  sceneinit(s);
  for (int k = 1; k <= settings.ringsize; ++k) s.slots[k] = {0, 0, 0, 0, 32};
  for (int k = 1; k <= 10; ++k) s.slots[k] = {0, 0, 0, 0, 4};
  s.readyframes = 10;
  int n, nb;
  gopdecide(s, 40, 0, n, nb);
  EXPECT_EQ(n, 10);
  EXPECT_EQ(settings.gopclass, 4 * 9 / 10);
  EXPECT_EQ(s.readyframes, 0);
  EXPECT_EQ(s.gopstartslot, 11);
}

// ---------------------------------------------------------------------------------------
// Whole clips.

TEST(sceneclip, calmclipwithahardcut) {
  for (int first : {0, 500}) {  // "-frames" starting at source frame 500
    basesettings(100, first);
    cliprun r = runclip(calmclip(first + 37));
    EXPECT_EQ(r.list, scdline(first + 37)) << "first frame " << first;
    std::vector<gopresult> expect = {
        {first + 0, 15, 2, 1, 0},  {first + 15, 12, 2, 0, 0}, {first + 27, 10, 2, 0, 0},
        {first + 37, 15, 2, 1, 0}, {first + 52, 15, 2, 0, 0}, {first + 67, 15, 2, 0, 0},
        {first + 82, 9, 2, 0, 0},  {first + 91, 9, 2, 0, 0}};
    ASSERT_EQ(r.gops.size(), expect.size());
    for (size_t i = 0; i < expect.size(); ++i) {
      expect[i].cls = r.gops[i].cls;  // calm: a low class, checked below
      EXPECT_EQ(r.gops[i], expect[i]) << "GOP " << i + 1;
      EXPECT_LE(r.gops[i].cls, 11);
    }
    // The cut frame's own metric; its neighbours stay calm.
    EXPECT_EQ(gopclass[0], r.gops[0].cls);
  }
}

TEST(sceneclip, calmcutfixedgops) {
  basesettings(60);
  settings.autogop = false;
  settings.goplength = 12;
  cliprun r = runclip(calmclip(20));
  EXPECT_EQ(r.list, scdline(20));
  EXPECT_EQ(lengths(r), (std::vector<int>{12, 8, 12, 12, 9, 7}));
  EXPECT_EQ(r.gops[2].first, 20);
  EXPECT_EQ(r.gops[2].closed, 1);
  for (const auto& g : r.gops) EXPECT_EQ(g.nb, 2);
}

TEST(sceneclip, noscdgivesnocutsandfixedgops) {
  basesettings(100);
  settings.noscd = true;
  settings.autogop = false;
  settings.goplength = 15;
  cliprun r = runclip(calmclip(37));
  EXPECT_EQ(r.list, "");
  EXPECT_EQ(lengths(r), (std::vector<int>{15, 15, 15, 15, 15, 15, 10}));
  for (size_t i = 0; i < r.gops.size(); ++i) EXPECT_EQ(r.gops[i].closed, i == 0 ? 1 : 0);
  for (int k = 1; k <= settings.ringsize; ++k) EXPECT_EQ(scenestate.slots[k].scenemetric, 0);
}

TEST(sceneclip, chapterframestartsaclosedgop) {
  for (bool noscd : {false, true}) {
    chapterguard chapters;
    basesettings(60);
    settings.noscd = noscd;
    chapters.mark(23);
    cliprun r = runclip(calmclip(-1));
    EXPECT_EQ(r.list, scdline(23)) << "noscd " << noscd;
    EXPECT_EQ(lengths(r), (std::vector<int>{12, 11, 15, 12, 10})) << "noscd " << noscd;
    EXPECT_EQ(r.gops[2].first, 23);
    EXPECT_EQ(r.gops[2].closed, 1);
    EXPECT_EQ(r.gops[1].closed, 0);
  }
}

TEST(sceneclip, chapterunderfixedgops) {
  chapterguard chapters;
  basesettings(50, 1000);
  settings.autogop = false;
  settings.goplength = 15;
  chapters.mark(1030);
  cliprun r = runclip(calmclip(-1));
  EXPECT_EQ(r.list, scdline(1030));
  EXPECT_EQ(lengths(r), (std::vector<int>{15, 15, 12, 8}));
  EXPECT_EQ(r.gops[2].first, 1030);
  EXPECT_EQ(r.gops[2].closed, 1);
}

TEST(sceneclip, noiseclip) {
  // Every frame differs from the next by far more than class 32 needs, and by about as much
  // each time: no frame starts a new scene, the first and the last frame included. Every GOP
  // decided on a window longer than L has class 32 and no B pictures; the last GOP is decided
  // on a shorter window, its class is 11 frame classes over 12 frames (29), so it gets one B
  // picture.
  const uint32_t seed = 20261210;
  std::printf("noise seed %u\n", seed);
  basesettings(100);
  cliprun r = runclip(noiseclip(seed));
  EXPECT_EQ(r.list, "");
  std::vector<gopresult> expect = {{0, 15, 0, 1, 32},  {15, 15, 0, 0, 32}, {30, 15, 0, 0, 32},
                                   {45, 15, 0, 0, 32}, {60, 15, 0, 0, 32}, {75, 13, 0, 0, 32},
                                   {88, 12, 1, 0, 29}};
  EXPECT_EQ(r.gops, expect);
}

TEST(sceneclip, oneframeclip) {
  // Nothing of an earlier pass may show through: the same result whatever the slots held.
  chapterguard chapters;
  for (bool chapter : {false, true}) {
    if (chapter) chapters.mark(7);
    std::vector<cliprun> runs;
    for (int32_t poison : {0, 32, 10000}) {
      basesettings(1, 7);
      runs.push_back(runclip(calmclip(-1), poison));
    }
    for (const auto& r : runs) {
      ASSERT_EQ(r.gops.size(), 1u);
      EXPECT_EQ(r.gops[0], (gopresult{7, 1, 2, 1, 1})) << "chapter " << chapter;
      EXPECT_EQ(r.list, chapter ? scdline(7) : "");  // a chapter frame is listed, as anywhere
    }
    EXPECT_EQ(scenestate.slots[1].scenemetric, chapter ? chaptermetric : 0);
    EXPECT_EQ(scenestate.slots[1].changeclass, 0);
  }
}

TEST(sceneclip, lastgopreadsnoleftovers) {
  // The last GOP's class sum takes the last frame's class: it must come from this run.
  for (int frames : {2, 20, 47}) {
    std::vector<cliprun> runs;
    for (int32_t poison : {0, 32, 10000}) {
      basesettings(frames);
      runs.push_back(runclip(noiseclip(5), poison));
    }
    EXPECT_EQ(runs[0].gops, runs[1].gops) << frames << " frames";
    EXPECT_EQ(runs[0].gops, runs[2].gops) << frames << " frames";
    EXPECT_EQ(runs[0].list, runs[2].list);
  }
}

TEST(sceneclip, wrapsaroundthering) {
  // A long calm clip with cuts goes many times round the ring; every cut is found once, in
  // frame order, and every GOP after a cut starts there closed.
  basesettings(400);
  const std::vector<int> cuts = {37, 38, 90, 200, 213, 399};
  framegen gen = [&cuts](int source, frame& out) {
    int scene = 0;
    for (int c : cuts) scene += source >= c;
    calmclip(-1, 11 + scene * 3)(source, out);
    for (auto& b : out.y) b = static_cast<uint8_t>(scene % 2 ? 255 - b : b);
    for (auto& b : out.u) b = static_cast<uint8_t>(100 + 20 * (scene % 3));
  };
  cliprun r = runclip(gen);
  std::string expect;
  for (int c : cuts) expect += scdline(c);  // the cut into the last frame too
  EXPECT_EQ(r.list, expect);
  int total = 0;
  for (int c : cuts) {
    bool starts = false;
    for (const auto& g : r.gops) starts |= g.first == c;
    EXPECT_TRUE(starts) << "no GOP starts at the cut " << c;
  }
  for (const auto& g : r.gops) {
    bool atcut = false;
    for (int c : cuts) atcut |= g.first == c;
    EXPECT_EQ(g.closed, atcut || g.first == 0 ? 1 : 0) << g;
    total += g.n;
  }
  EXPECT_EQ(total, 400);
}

// ---------------------------------------------------------------------------------------
// The list file.

TEST(scdlist, failedwriteisreportedonce) {
  basesettings(100);
  int calls = 0;
  cliprun r = runclip(calmclip(37), 0, [&](const std::string&) {
    ++calls;
    return false;
  });
  EXPECT_FALSE(r.writeok);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(r.gops.size(), 8u);  // the analysis went on for the GOP decisions
  EXPECT_TRUE(scenestate.scdfailed);
}

TEST(scdlist, nolistwithoutscdfile) {
  basesettings(100);
  settings.scdfile = false;
  int calls = 0;
  cliprun r = runclip(calmclip(37), 0, [&](const std::string&) { return ++calls, true; });
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(r.gops[3].first, 37);
  EXPECT_EQ(r.gops[3].closed, 1);
}

TEST(scdlist, unitlinesareflushedastheyarewritten) {
  std::string path = testing::TempDir() + "scene_scd_test.txt";
  ASSERT_TRUE(unitopen(unitscd, path, unitnew));
  basesettings(100);
  cliprun r = runclip(calmclip(37), 0, scdunitline);
  EXPECT_TRUE(r.writeok);
  // Read while the unit is still open: the line is already in the file.
  std::FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char buf[64] = {};
  size_t got = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  EXPECT_EQ(std::string(buf, got), "      37\n");
  EXPECT_TRUE(unitclose(unitscd));
  std::remove(path.c_str());
}

TEST(scdlist, unitfailures) {
  // Not open, and a device that takes no data (the failure shows at the flush).
  unitclose(unitscd);
  EXPECT_FALSE(scdunitline(scdline(5)));
  ASSERT_TRUE(unitopen(unitscd, "/dev/full", unitappend));
  EXPECT_FALSE(scdunitline(scdline(5)));
  unitclose(unitscd);
}

TEST(scdlist, failureendstherun) {
  nextstep = 0;
  errorflag = false;
  abortlatched = false;
  keeprunning = true;
  std::string logpath = testing::TempDir() + "scene_log_test.txt";
  ASSERT_TRUE(unitopen(unitlog, logpath, unitnew));
  settings = settingsrec{};
  settings.logfileon = true;
  settings.scdname = "film_scd.txt";
  testing::internal::CaptureStderr();
  errno = ENOSPC;
  scdwritefailed();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ostrel: ERROR, can't write to scd file, aborting... (\"film_scd.txt\": No space left on device)\n");
  unitclose(unitlog);
  EXPECT_EQ(nextstep.load(), steperror);
  EXPECT_TRUE(errorflag.load());
  const std::string text = " can't write to scd file, aborting...";
  EXPECT_EQ(getstatusline().substr(0, text.size() + 1), text + " ");
  std::FILE* f = std::fopen(logpath.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char buf[128] = {};
  size_t got = std::fread(buf, 1, sizeof buf - 1, f);
  std::fclose(f);
  std::remove(logpath.c_str());
  EXPECT_EQ(std::string(buf, got), " *** ERROR, can't write to scd file, aborting...\n");
  nextstep = 0;
  errorflag = false;
  abortlatched = false;
}

}  // namespace
