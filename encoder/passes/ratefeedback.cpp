#include "encoder/passes/ratefeedback.h"

#include <algorithm>
#include <cmath>

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

// The measured relation's limits: the exponent k of bits ~ q^-k, the factor on the plan's
// quantisers, and the misses (natural log of bits against the GOP's part) that code a GOP again.
constexpr float exponentlow = 1.0f, exponenthigh = 8.0f;
constexpr float modellow = 1.0f / 16.0f, modelhigh = 16.0f;
constexpr float firstmiss = 0.02f;  // about 2 %, the first GOP's; below it no GOP is coded again
constexpr float richmiss = 0.05f;   // about 5 %, a GOP's after a try of it was too rich
constexpr float cutmiss = 0.2f;     // about 22 %, any GOP's (content the relation does not know)
constexpr int firstrecodes = 3, laterrecodes = 2;  // (a GOP beyond cutmiss has firstrecodes)
// Two tries whose quantisers differ by less (about 2 %) measure no exponent.
constexpr float exponentspan = 0.02f;
constexpr float modelweight = 0.5f;  // weight of the newest GOP in modelfactor
constexpr float tableexponent = 2.0f;  // the exponent the deviation table's factors suit
// The least exponent a first correction assumes before two codings of the GOP measured one:
// steeper than most content, so the step falls short rather than overshoots.
constexpr float probeexponent = 3.0f;
constexpr float peakmargin = 0.97f;  // of the maximum, where the relation aims a GOP at most
constexpr float maxstep = 1.1f;  // the largest step of one coding, about 3 times the quantiser
constexpr float minstep = 0.002f;  // a smaller one (0.2 %) is not worth a coding
constexpr float minabandonstep = 1.02f;  // the least raise of an abandoned try's quantisers
// The most the rest of the run is asked to spend against its plan: a quarter to four times.
constexpr double leftlow = 0.25, lefthigh = 4.0;

// What is left to spend against what the rest of the plan holds, before GOP g (spentbits
// holds GOPs 1..g-1), within leftlow..lefthigh; 1 when the plan holds nothing more.
double leftratio(int g) {
  const int last = std::min(gopsdone, maxgopcount);
  const double rest = double(cumplan[last] - cumplan[g - 1]);
  const double left = double(cumplan[last] - spentbits);
  return rest > 0.0 ? std::clamp(left / rest, leftlow, lefthigh) : 1.0;
}

// The bits of GOP g at a little under the maximum bitrate.
float peakbits(int g) {
  const float fr = settings.framerate > 0 ? float(settings.framerate) : 25.0f;
  return peakmargin * float(settings.maxbitrate) * float(std::max<int>(gopstats.frames[g], 1)) / fr;
}

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
  const int64_t d = (spentbits - cumplan[g - 1]) / std::max<int64_t>(settings.mbcount, 1);
  deviationfactor(d, left, f.ratefactor, f.ratelevel);
  // The deviation table's factors are steps of at most a fifth, smoothed over the last GOPs:
  // a pass whose bits follow the quantiser otherwise than the plan's curve takes many GOPs to
  // settle, and a short clip ends before. The quantiser comes instead from what is left to
  // spend against what the rest of the plan holds, through the measured relation, so every
  // GOP takes its part of the deviation at once (the table still sets ratelevel and the
  // histories).
  const float planq = f.modelfactor * gopqbase[g];
  float q = planq * std::pow(float(leftratio(g)), -1.0f / std::max(f.exponent, tableexponent));
  // There, however far under the plan, asking a GOP for more than the maximum only sends it to
  // the maximum-bitrate retry, whose step then throws it far under: the quantiser stays where
  // the relation puts the maximum.
  const int64_t share = cumplan[g] - cumplan[g - 1];
  const float peak = peakbits(g);
  if (f.exponent > tableexponent && share > 0 && peak > 0.0f)
    q = std::max(q, planq * std::pow(float(share) / peak, 1.0f / f.exponent));

  putfactor(f.shortfactors, f.shortindex, w, f.ratefactor);
  f.shortmean = std::clamp(sumof(f.shortfactors, w) / float(w), 0.5f, 2.0f);
  putfactor(f.midfactors, f.midindex, midlength, f.ratefactor);
  f.midmean = std::clamp(sumof(f.midfactors, midlength) / float(midlength), 0.88f, 1.12f);
  putfactor(f.longfactors, f.longindex, longlength, f.ratefactor);
  f.longmean = std::max(sumof(f.longfactors, longlength) / float(longlength), 0.88f);

  if (f.longmean < 0.88001f && f.shortmean < 0.8001f) reanchor(g, std::min(gopsdone, maxgopcount));
  return q;
}

double goppart(int g) {
  g = std::clamp(g, 1, maxgopcount);
  const int64_t share = cumplan[g] - cumplan[g - 1];
  return std::min(double(share) * leftratio(g), double(peakbits(g)));
}

float ratemeasure(int g, int64_t bits, float qi, int recodes, bool mayrecode, bool clean,
                  float richq) {
  feedbackrec& f = feedback;
  g = std::clamp(g, 1, maxgopcount);
  const int64_t share = cumplan[g] - cumplan[g - 1];
  if (bits <= 0 || share <= 0 || !(qi >= 1.0f) || !(gopqbase[g] > 0.0f)) return 1.0f;
  const float lq = std::log(qi), lb = std::log(float(bits));
  // Two clean codings of one GOP at different quantisers give the exponent of this picture
  // content. Another GOP's content may follow another curve: a step for it never assumes one
  // flatter than probeexponent (a step that falls short is mended by the next coding, one too
  // long may throw the GOP far over the maximum).
  bool own = false;
  if (clean) {
    if (f.lastgop == g && std::fabs(lq - f.lastlogq) > exponentspan) {
      f.exponent = std::clamp((f.lastlogbits - lb) / (lq - f.lastlogq), exponentlow, exponenthigh);
      own = true;
    }
    f.lastgop = g;
    f.lastlogq = lq;
    f.lastlogbits = lb;
  }
  // The model's quantiser for the share, and the miss of these bits against what the model
  // expected at qi (natural logs): the quantiser that meets the share moves by miss / k.
  const float lm = std::log(f.modelfactor * gopqbase[g]);
  const float miss = lb - std::log(float(share)) + f.exponent * (lq - lm);
  const float k = own ? f.exponent : std::max(f.exponent, probeexponent);
  const float step = std::clamp(miss / k, -maxstep, maxstep);
  // A GOP at quantiser 1 that spends less (or at 31 that spends more) says only that its share
  // lies past the end of the scale, and one whose pictures the VBV check made coarser that it
  // spends less only because of that: nothing to learn for the GOPs after it.
  const bool learn = step < 0.0f ? qi > 1.0f && clean : qi < 31.0f;
  // The GOP's part of what is left to spend (its share of the plan times leftratio, never
  // more than the margin under the maximum), and the miss of these bits against it: coded
  // again, the GOP moves from qi by that miss / k.
  const double part = goppart(g);
  const float target = float(part);
  const float partmiss = lb - std::log(target);
  // The part is the margin under the maximum: the rest of the run is already asked for more
  // than its share.
  const bool atpeak = part >= double(peakbits(g));
  // A try over the maximum goes back to the margin under it at least (target is no more).
  const bool over = float(bits) * peakmargin > peakbits(g);
  float recode = std::clamp(partmiss / k, -maxstep, maxstep);
  // At quantiser 31 a GOP cannot spend less, nor at 1 more; one whose pictures the VBV check
  // made coarser spends less only because of that.
  if (!over && (recode < 0.0f ? !(qi > 1.0f && clean) : !(qi < 31.0f))) recode = 0.0f;
  // Finer than a try of this GOP that was too rich (abandoned or over the maximum) it does
  // not go: at most half way (in logs) to it.
  if (recode < 0.0f && richq > 0.0f && lq + recode <= std::log(richq))
    recode = std::min(0.5f * (std::log(richq) - lq), 0.0f);
  // The first GOP is coded until it lands within firstmiss of its part, and so is any GOP
  // that missed it by more than cutmiss: content the relation learnt elsewhere does not
  // follow (after a cut: grain coded at 31 for a fifth of its part, and the GOPs after it,
  // already at 1 or at the maximum, cannot take the rest up). A later GOP that missed by less
  // only when its miss is more than the rest of the plan after it holds (the GOPs after it
  // take up a smaller one, each a part, and keep the quantiser even), when its part is the
  // margin under the maximum (its miss would go to GOPs already asked for more than their
  // share), or when a try of it was too rich and the one that fitted fell more than richmiss
  // short.
  const int last = std::min(gopsdone, maxgopcount);
  const double after = double(cumplan[last] - cumplan[g]);
  const bool unknown = g == 1 || std::fabs(partmiss) > cutmiss;
  const bool far =
      over || (std::fabs(partmiss) > firstmiss &&
               (unknown || atpeak || std::fabs(double(bits) - double(target)) > after ||
                (richq > 0.0f && std::fabs(partmiss) > richmiss)));
  const bool again = mayrecode && far && std::fabs(recode) >= minstep &&
                     (recode < 0.0f ? qi > 1.0f : qi < 31.0f) &&
                     recodes < (unknown ? firstrecodes : laterrecodes);
  // Coded again, the model takes the whole step this GOP measured (the try stands for nothing),
  // so the next estimate starts from it; else the newest GOP's weight.
  if (learn)
    f.modelfactor = std::clamp(f.modelfactor * std::exp((again ? 1.0f : modelweight) * step),
                               modellow, modelhigh);
  return again ? std::exp(recode) : 1.0f;
}

float abandonstep(float raised, int64_t rate) {
  const feedbackrec& f = feedback;
  const float peak = peakmargin * float(settings.maxbitrate);
  if (!(f.exponent > tableexponent) || !(peak > 0.0f) || rate <= 0) return raised;
  const float measured = std::pow(float(rate) / peak, 1.0f / f.exponent);
  return std::clamp(measured, std::min(minabandonstep, raised), raised);
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
