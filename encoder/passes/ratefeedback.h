// The rate feedback of the second pass: before each GOP, the GOP's base quantiser and from it
// the I, P and B quantisers.
//
// adjustrate compares the bits spent so far with the plan (cumplan), turns the deviation in
// bits per macroblock into a factor and a signed level by a table whose thresholds narrow as
// the end of the clip nears, smooths the factors over a short, a middle and a long history, and
// gives the GOP's base quantiser. When the pass has stayed far under the plan for long, it
// re-anchors the rest of the plan to the bits actually spent and reports the change of the
// planned average. typeqratios scales the base quantiser by ratios chosen by the bits-per-pixel
// class and the GOP's change class, easing the B ratio while the pass is under the plan.
//
// The plan's quantisers come from a fixed curve of bits against quantiser that grain and fine
// detail do not follow (their bits fall far faster above quantiser 4 than the curve says). So
// the pass also measures that relation as it codes: after every complete try of a GOP,
// ratemeasure compares its bits with the GOP's share of the plan, learns how many bits a change
// of quantiser moves (the exponent k of bits ~ q^-k, from two codings of one GOP) and a factor
// on the plan's quantisers (modelfactor), and asks for the GOP to be coded again when it missed
// by far: the first GOP, and any GOP more than 22 % off (new content after a cut), until it
// lands within 2 % (at most 3 times more); other GOPs up to twice when the GOPs after them could
// not take their miss up, when their part is the margin under the maximum, or when they ran over
// the maximum. adjustrate multiplies its quantiser by modelfactor, so the deviation table only
// steers the small errors left; where bits move by a high power of the quantiser it softens the
// table's factors to suit, and it never asks a GOP for more than about the maximum.
//
// Single precision throughout; the deviation in 64-bit integers. Only the second-pass thread
// calls these: adjustrate once per GOP before its first try, ratemeasure after each try.
#pragma once

#include <cstdint>
#include <string>

// The feedback's state from GOP to GOP of the pass (set up by the call for GOP 1).
struct feedbackrec {
  float ratefactor = 1.0f;  // the factor of the current GOP's deviation
  int32_t ratelevel = 0;    // its signed level, -11..11
  float shortfactors[13] = {};  // entries 1..w: the last w factors (w from the frames left)
  int shortindex = 1;
  float midfactors[81] = {};  // entries 1..40: the last 40 factors (41..80 only ever reset)
  int midindex = 1;
  float longfactors[201] = {};  // entries 1..200: the last 200 factors
  int longindex = 1;
  float shortmean = 1.0f;  // mean of the short history, 0.5..2.0
  float midmean = 1.0f;    // of the middle one, 0.88..1.12
  float longmean = 1.0f;   // of the long one, at least 0.88
  // The measured relation: the factor on the plan's base quantiser that meets the plan
  // (1/16..16), the exponent k of bits ~ q^-k (1..8; 2 until measured), and the last clean try
  // measured (its GOP, natural logs of its I quantiser and bits) for the next estimate of k.
  float modelfactor = 1.0f;
  float exponent = 2.0f;
  int lastgop = 0;
  float lastlogq = 0.0f, lastlogbits = 0.0f;
};
extern feedbackrec feedback;

// The threshold column of the deviation table by the frames left: 0 from 3000 on, 1 from 1500
// to 2999, 2 below 1500.
int deviationcolumn(int framesleft);
// The short history's window by the frames left: 10 from 1000 on, 8 from 800, 6 from 500, else 5.
int shortwindow(int framesleft);
// The factor and level of a deviation of d bits per macroblock: the first row (largest
// threshold first) whose threshold d exceeds (over the plan) or -d exceeds (under it); 1.0 and 0
// when none does.
void deviationfactor(int64_t d, int framesleft, float& factor, int32_t& level);

// The base quantiser of GOP gopcount (called once per GOP, after gopcount has advanced and
// before the GOP's first picture); sets ratelevel and moves the histories on.
float adjustrate();
// After a complete try of GOP g whose I quantiser was qi (the base quantiser within 1..31) and
// which spent bits, recodes tries of that GOP made before it: the model learns from the try,
// and the result is the factor for the GOP's three quantisers when it must be coded again (its
// bits missed the plan's share by more than the tolerance and the quantisers can still move that
// way), else 1.0 (the try stands). mayrecode false (the maximum-bitrate retry has raised the
// quantisers, or this is the GOP's last try) leaves the try standing; clean false (the VBV check
// made some of its pictures coarser than qi says) lets it teach only that qi was too fine.
// richq above 0 is the coarsest I quantiser of a try of this GOP that was too rich (abandoned by
// the picture check or over the maximum): a finer coding goes at most half way to it.
float ratemeasure(int g, int64_t bits, float qi, int recodes, bool mayrecode, bool clean,
                  float richq = 0.0f);
// The part of what is left to spend that GOP g is asked for (spentbits holding GOPs 1..g-1): its
// share of the plan times what is left against what the rest of the plan holds (a quarter to
// four times), never more than 97 % of the maximum bitrate over its frames.
double goppart(int g);
// The picture check abandoned a try whose bits pointed to `rate` bit/s and raised its quantisers
// by `raised`, from the square root of the excess. Where bits were measured to fall far more
// steeply with the quantiser, that raise overshoots (the next try lands far under its share):
// the factor the measured exponent gives towards the margin under the maximum, at least 2 %
// (or `raised` when smaller) and at most `raised`.
float abandonstep(float raised, int64_t rate);

// The I, P and B quantisers of the GOP from its base quantiser q, by settings.bppclass,
// settings.gopclass and ratelevel, each within 1..31.
void typeqratios(float& qi, float& qp, float& qb, float q);

// The re-anchoring's text: the change p of the planned total in percent, two decimals, after
// " adjusting average bitrate:" (status line) or " *** INFO, adjusting average bitrate:"
// (log), two blanks, the number, two blanks and "%".
std::string anchortext(float p, bool log);
