#include "encoder/passes/ratefeedback.h"

#include <algorithm>

#include "common/fmtfield.h"
#include "encoder/control/control.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/intermpass.h"
#include "encoder/passes/pass2.h"
#include "encoder/passes/progress.h"

feedbackrec feedback;

namespace {

constexpr int midlength = 40;    // factors in the middle history
constexpr int longlength = 200;  // in the long one

// One row of the deviation table: thresholds in bits per macroblock by column (3000 or more
// frames left, 1500..2999, fewer), then the factor and level over the plan and under it.
struct deviationrow {
  int32_t threshold[3];
  float overfactor;
  int32_t overlevel;
  float underfactor;
  int32_t underlevel;
};
constexpr deviationrow deviationtable[12] = {
    {{1024, 896, 768}, 1.2f, 11, 0.8f, -11},
    {{896, 768, 640}, 1.15f, 10, 0.85f, -10},
    {{768, 640, 512}, 1.14f, 9, 0.88f, -9},
    {{640, 512, 384}, 1.12f, 8, 0.9f, -8},
    {{512, 384, 256}, 1.1f, 7, 0.92f, -7},
    {{384, 256, 192}, 1.08f, 6, 0.93f, -6},
    {{256, 192, 128}, 1.06f, 5, 0.94f, -5},
    {{192, 128, 96}, 1.05f, 4, 0.95f, -4},
    {{128, 96, 48}, 1.04f, 3, 0.96f, -3},
    {{64, 48, 32}, 1.03f, 2, 0.97f, -2},
    {{32, 24, 20}, 1.02f, 1, 0.98f, -1},
    {{16, 16, 12}, 1.01f, 0, 0.99f, 0},
};

// The P and B quantiser ratios by bits-per-pixel class 1..6 and change class 1..32 (the I ratio
// is 1.0 throughout).
constexpr float pratios[6][32] = {
    {  // bppclass 1
     0.8f, 0.75f, 0.78f, 0.8f, 0.81f, 0.82f, 0.83f, 0.84f,
     0.85f, 0.86f, 0.87f, 0.88f, 0.89f, 0.9f, 0.92f, 0.94f,
     0.96f, 0.98f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
    },
    {  // bppclass 2
     0.82f, 0.76f, 0.78f, 0.79f, 0.8f, 0.81f, 0.82f, 0.84f,
     0.85f, 0.85f, 0.86f, 0.86f, 0.86f, 0.86f, 0.87f, 0.87f,
     0.87f, 0.88f, 0.88f, 0.89f, 0.9f, 0.9f, 0.91f, 0.92f,
     0.92f, 0.93f, 0.93f, 0.94f, 0.94f, 0.95f, 0.95f, 0.95f,
    },
    {  // bppclass 3
     0.9f, 0.85f, 0.86f, 0.87f, 0.88f, 0.89f, 0.9f, 0.91f,
     0.92f, 0.93f, 0.94f, 0.95f, 0.96f, 0.97f, 0.98f, 0.99f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
    },
    {  // bppclass 4
     1.05f, 1.02f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
    },
    {  // bppclass 5
     1.05f, 1.02f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
    },
    {  // bppclass 6
     1.05f, 1.02f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
     1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f,
    },
};
constexpr float bratios[6][32] = {
    {  // bppclass 1
     1.2f, 1.15f, 1.08f, 1.07f, 1.06f, 1.04f, 1.02f, 0.98f,
     0.96f, 0.95f, 0.95f, 0.94f, 0.94f, 0.94f, 0.93f, 0.93f,
     0.93f, 0.93f, 0.92f, 0.92f, 0.92f, 0.91f, 0.91f, 0.91f,
     0.91f, 0.9f, 0.9f, 0.9f, 0.9f, 0.9f, 0.9f, 0.9f,
    },
    {  // bppclass 2
     1.4f, 1.25f, 1.2f, 1.18f, 1.15f, 1.12f, 1.1f, 1.09f,
     1.08f, 1.07f, 1.06f, 1.05f, 1.04f, 1.03f, 1.02f, 1.01f,
     1.0f, 1.0f, 1.0f, 0.99f, 0.99f, 0.99f, 0.98f, 0.98f,
     0.98f, 0.97f, 0.97f, 0.97f, 0.97f, 0.96f, 0.96f, 0.96f,
    },
    {  // bppclass 3
     1.7f, 1.6f, 1.5f, 1.4f, 1.35f, 1.3f, 1.29f, 1.28f,
     1.27f, 1.26f, 1.25f, 1.24f, 1.23f, 1.22f, 1.21f, 1.2f,
     1.19f, 1.18f, 1.17f, 1.16f, 1.15f, 1.14f, 1.13f, 1.12f,
     1.11f, 1.1f, 1.1f, 1.1f, 1.1f, 1.1f, 1.1f, 1.1f,
    },
    {  // bppclass 4
     1.75f, 1.6f, 1.55f, 1.5f, 1.45f, 1.4f, 1.39f, 1.38f,
     1.37f, 1.36f, 1.35f, 1.34f, 1.33f, 1.32f, 1.31f, 1.3f,
     1.29f, 1.28f, 1.27f, 1.26f, 1.25f, 1.24f, 1.23f, 1.22f,
     1.2f, 1.2f, 1.2f, 1.2f, 1.2f, 1.2f, 1.2f, 1.2f,
    },
    {  // bppclass 5
     1.8f, 1.65f, 1.6f, 1.5f, 1.45f, 1.4f, 1.39f, 1.38f,
     1.37f, 1.36f, 1.35f, 1.34f, 1.33f, 1.32f, 1.31f, 1.3f,
     1.29f, 1.28f, 1.27f, 1.26f, 1.25f, 1.24f, 1.23f, 1.22f,
     1.21f, 1.2f, 1.2f, 1.2f, 1.2f, 1.2f, 1.2f, 1.2f,
    },
    {  // bppclass 6
     1.85f, 1.7f, 1.65f, 1.55f, 1.48f, 1.4f, 1.39f, 1.38f,
     1.37f, 1.36f, 1.35f, 1.34f, 1.33f, 1.32f, 1.31f, 1.3f,
     1.29f, 1.28f, 1.27f, 1.26f, 1.25f, 1.24f, 1.23f, 1.22f,
     1.21f, 1.2f, 1.2f, 1.2f, 1.2f, 1.2f, 1.2f, 1.2f,
    },
};

// How far the B ratio comes down towards 1 while the pass is under the plan, by level -1..-11.
constexpr float beasing[12] = {0.0f,  0.03f, 0.05f, 0.08f, 0.1f, 0.15f,
                               0.2f,  0.25f, 0.3f,  0.35f, 0.4f, 0.45f};

// Sum of entries 1..n, in order, single precision.
float sumof(const float* v, int n) {
  float s = 0.0f;
  for (int i = 1; i <= n; ++i) s += v[i];
  return s;
}

// The factor into a history of length n at its index, which then moves on (back to 1 after n).
void putfactor(float* v, int& index, int n, float factor) {
  v[index] = factor;
  index = index + 1 > n ? 1 : index + 1;
}

// The spending has stayed far under the plan: the rest of the plan comes down to what was
// spent, the middle and long histories start again, and the change of the planned total is
// shown and logged.
void reanchor(int g, int total) {
  feedbackrec& f = feedback;
  const int64_t diff = cumplan[g] - spentbits;
  for (int k = g + 1; k <= total; ++k) cumplan[k] -= diff;
  const int64_t planned = cumplan[total];
  // A plan of no bits has no change to show: 0 then.
  const float p = planned > 0 ? 100.0f * float(planned - plantotal) / float(planned) : 0.0f;
  std::fill(std::begin(f.midfactors), std::end(f.midfactors), 1.0f);
  std::fill(std::begin(f.longfactors), std::end(f.longfactors), 1.0f);
  f.midindex = f.longindex = 1;
  if (showwindow) putstatus(anchortext(p, false));
  if (settings.logfileon) loglines({anchortext(p, true)});
}

}  // namespace

int deviationcolumn(int framesleft) { return framesleft >= 3000 ? 0 : framesleft >= 1500 ? 1 : 2; }

int shortwindow(int framesleft) {
  return framesleft >= 1000 ? 10 : framesleft >= 800 ? 8 : framesleft >= 500 ? 6 : 5;
}

void deviationfactor(int64_t d, int framesleft, float& factor, int32_t& level) {
  const int c = deviationcolumn(framesleft);
  for (const deviationrow& row : deviationtable) {
    if (d > row.threshold[c]) {
      factor = row.overfactor;
      level = row.overlevel;
      return;
    }
    if (d < -int64_t(row.threshold[c])) {
      factor = row.underfactor;
      level = row.underlevel;
      return;
    }
  }
  factor = 1.0f;
  level = 0;
}

float adjustrate() {
  feedbackrec& f = feedback;
  const int g = std::clamp(gopcount, 1, maxgopcount);
  if (g == 1) {
    f = feedbackrec{};
    std::fill(std::begin(f.shortfactors), std::end(f.shortfactors), 1.0f);
    std::fill(std::begin(f.midfactors), std::end(f.midfactors), 1.0f);
    std::fill(std::begin(f.longfactors), std::end(f.longfactors), 1.0f);
    return gopqbase[1];
  }
  if (g == 2) {
    std::fill(std::begin(f.shortfactors), std::end(f.shortfactors), f.shortmean);
    std::fill(std::begin(f.midfactors), std::end(f.midfactors), f.midmean);
  }
  const int left = ringcounters.framesleft;
  const int w = shortwindow(left);
  const float t = f.midmean * gopqbase[g];
  const int64_t d = (spentbits - cumplan[g - 1]) / std::max<int64_t>(settings.mbcount, 1);
  deviationfactor(d, left, f.ratefactor, f.ratelevel);
  const float q = t * f.ratefactor * f.shortmean;

  putfactor(f.shortfactors, f.shortindex, w, f.ratefactor);
  f.shortmean = std::clamp(sumof(f.shortfactors, w) / float(w), 0.5f, 2.0f);
  putfactor(f.midfactors, f.midindex, midlength, f.ratefactor);
  f.midmean = std::clamp(sumof(f.midfactors, midlength) / float(midlength), 0.88f, 1.12f);
  putfactor(f.longfactors, f.longindex, longlength, f.ratefactor);
  f.longmean = std::max(sumof(f.longfactors, longlength) / float(longlength), 0.88f);

  if (f.longmean < 0.88001f && f.shortmean < 0.8001f) reanchor(g, std::min(gopsdone, maxgopcount));
  return q;
}

void typeqratios(float& qi, float& qp, float& qb, float q) {
  const int b = std::clamp(settings.bppclass, 1, 6) - 1;
  const int c = std::clamp(settings.gopclass, 1, 32) - 1;
  const float ri = 1.0f, rp = pratios[b][c];
  float rb = bratios[b][c];
  const int32_t level = feedback.ratelevel;
  if (level < 0 && level >= -11 && rb > 1.0f) {
    const float a = beasing[-level];
    rb = (rb + a) / (1.0f + a);
  }
  auto bound = [](float v) { return std::min(std::max(v, 1.0f), 31.0f); };
  qi = bound(ri * q);
  qp = bound(rp * q);
  qb = bound(rb * q);
}

std::string anchortext(float p, bool log) {
  // The number right-adjusted in 8 columns, then with the two blanks and the sign left-adjusted
  // in their 11 columns.
  const char* label =
      log ? " *** INFO, adjusting average bitrate:  " : " adjusting average bitrate:  ";
  return label + trimright(adjustleft(fmtfixed(p, 8, 2) + "  %"));
}
