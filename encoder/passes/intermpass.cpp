#include "encoder/passes/intermpass.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/fmtfield.h"
#include "common/texttime.h"
#include "platform/clock.h"
#include "dialogs/dialogs.h"
#include "encoder/control/control.h"
#include "encoder/control/report.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/progress.h"

int32_t ratetarget = 0, ratepeak = 0, ratefloor = 0;
gopplanrec gopplan;
int64_t cumplan[maxgopcount + 1];
int64_t plantotal = 0;
float gopqbase[maxgopcount + 1];

namespace {

constexpr int stageiterations = 10000;     // iterations of each multiplicative stage
constexpr int unitrecomputes = 100000;     // averages the unit stage may recompute (then one more)
constexpr int unitsteps = 999;             // strides of the unit stage
constexpr int32_t darkluma = 17;           // a mean luma below this is dark

enum : int { idbar = 1008, idpass = 1013, idgroup = 1018 };

bool windowon() { return showwindow && maindialog != nullptr; }

void showbar(int percent) {
  if (windowon()) dlgputint(*maindialog, idbar, percent);
}

// nearest(v) in single precision.
int64_t nearestf(float v) { return std::llround(v); }

// One multiplicative stage. While the average t is above the target, every GOP that is not
// fixed and whose rate is above the floor is scaled by down; while below, every GOP that is not
// fixed (in the peak stage only those still under the peak by the factor) by up. The first
// comparison uses t as given, every later one the average of the budgets. Ends after
// stageiterations iterations, or at once when an iteration changed no budget (the next ones
// could not either). Returns the average; false in ok when the run was stopped meanwhile.
int64_t scalestage(int64_t t, float down, float up, bool peakstage, bool& ok) {
  gopplanrec& p = gopplan;
  const int g = gopcount;
  if (t == ratetarget) return t;
  const bool lower = t > ratetarget;
  const float f = lower ? down : up;
  for (int it = 0; it < stageiterations; ++it) {
    if (mustend()) {
      ok = false;
      return t;
    }
    bool changed = false;
    for (int i = 1; i <= g; ++i) {
      if (p.fixed[i]) continue;
      if (lower && !(p.targetrate[i] > ratefloor)) continue;
      if (!lower && peakstage && !(float(p.targetrate[i]) * up < float(ratepeak))) continue;
      const int64_t v = nearestf(float(p.target[i]) * f);
      if (v != p.target[i]) {
        p.target[i] = v;
        changed = true;
      }
    }
    if (!changed) break;
    t = alloctotal(p.target, p.targetrate);
    if (lower ? !(t > ratetarget) : !(t < ratetarget)) break;
  }
  return t;
}

// The unit stage: for strides u = 1, 2, ... one bit more (or less) for GOPs 1, 1 + u, 1 + 2u,
// ... that are not fixed, until the average meets the target. The average is kept from the sum
// of the budgets, which changes by the bits added, and the rates are recomputed once at the end:
// the same figures as recomputing all of them each time. A budget never goes below 0.
int64_t unitstage(int64_t t, bool& ok) {
  gopplanrec& p = gopplan;
  const int g = gopcount;
  if (t == ratetarget) return t;
  int64_t sum = 0, frames = 0;
  for (int i = 1; i <= g; ++i) {
    sum += p.target[i];
    frames += gopstats.frames[i];
  }
  const long double seconds = (long double)(frames) / (long double)(settings.framerate);
  auto average = [&] { return seconds > 0 ? std::llround((long double)(sum) / seconds) : 0; };
  int recomputes = 0;
  for (int u = 1; u <= unitsteps && t != ratetarget && recomputes <= unitrecomputes; ++u) {
    const bool raise = t < ratetarget;
    while (recomputes <= unitrecomputes && (raise ? t < ratetarget : t > ratetarget)) {
      if (mustend()) {
        ok = false;
        return t;
      }
      int64_t added = 0;
      for (int i = 1; i <= g; i += u) {
        if (p.fixed[i] || (!raise && p.target[i] <= 0)) continue;
        p.target[i] += raise ? 1 : -1;
        added += raise ? 1 : -1;
      }
      if (added == 0) {  // no budget can change: nothing further could
        recomputes = unitrecomputes + 1;
        break;
      }
      sum += added;
      t = average();
      ++recomputes;
    }
  }
  alloctotal(p.target, p.targetrate);
  return t;
}

std::string i8(int64_t v) { return fmtint(v, 8); }

}  // namespace

void ratebounds(int32_t avg, int32_t& max, int32_t& low, int32_t pct) {
  const int32_t peak = int32_t(std::min<int64_t>(max, nearestf(2.4f * float(avg))));
  // An average at or above the peak leaves no range: the peak is never raised past the maximum.
  const int32_t d = std::max(peak - avg, 0);
  int32_t l = avg;
  if (d > 0) {  // then peak > avg >= 1: no division by a zero or negative peak
    const float ratio = std::pow(float(avg) / float(peak), 1.12f);
    l = avg - int32_t(std::trunc(ratio * float(d)));
  }
  if (float(avg) / 2.4f > float(l)) l = int32_t(nearestf(float(avg) / 2.4f));
  const float p = float(pct) / 100.0f;
  low = l + int32_t(std::trunc(float(avg - l) * p));
  max = peak - int32_t(std::trunc(p * float(d)));
}

float bpptoq(float x) {
  float q;
  if (x < 0.2f) {
    q = 35.9f - 98.0f * x;
  } else if (x > 1.5f) {
    q = 3.1428f - 0.4286f * x;
  } else {
    const long double x1 = x, x2 = x1 * x1, x3 = x2 * x1, x4 = x3 * x1, x5 = x4 * x1;
    q = float(-0.2516187188L + 2.121815104L / x1 + 4.253637305L / x2 - 2.625477794L / x3 +
              0.5941993184L / x4 - 0.04601826627L / x5);
  }
  if (!(q >= 1.0f)) q = 1.0f;  // a NaN ratio gives the finest quantiser's neighbour, 1
  return std::min(q, 31.0f);
}

int64_t alloctotal(const int64_t* sizes, int64_t* rates) {
  const long double fr = settings.framerate;
  int64_t sum = 0, frames = 0;
  for (int i = 1; i <= gopcount; ++i) {
    const int length = gopstats.frames[i];
    rates[i] = length > 0 ? std::llround(fr / (long double)(length) * (long double)(sizes[i])) : 0;
    sum += sizes[i];
    frames += length;
  }
  if (frames <= 0 || !(fr > 0)) return 0;
  return std::llround((long double)(sum) / ((long double)(frames) / fr));
}

void allocstep() {
  gopplanrec& p = gopplan;
  const settingsrec& st = settings;
  int frame = st.firstframe;
  int32_t darkest = INT32_MAX;
  const float perframe = float(st.mbcount) * 256.0f;
  for (int i = 1; i <= gopcount; ++i) {
    const int length = gopstats.frames[i];
    int64_t sum = 0;
    for (int k = 0; k < length; ++k, ++frame)
      if (frame >= 0 && frame < maxframes) sum += framelumasum[frame];
    const float den = float(length) * perframe;
    p.luma[i] = den > 0.0f ? int32_t(nearestf(float(sum) / den)) : 0;
    darkest = std::min(darkest, p.luma[i]);
  }
  if (darkest < darkluma)
    for (int i = 1; i <= gopcount; ++i)
      if (p.luma[i] == darkest) p.fixed[i] = -1;
}

void allocclamp(int64_t* sizes, int32_t limit, int8_t* fixed) {
  const float fr = float(settings.framerate);
  for (int i = 1; i <= gopcount; ++i) {
    const int length = gopstats.frames[i];
    if (length <= 0 || !(fr > 0.0f)) continue;
    const int64_t cap = nearestf(float(limit) / (fr / float(length)));
    if (sizes[i] > cap) {
      sizes[i] = cap;
      fixed[i] = -1;
    }
  }
}

std::string planstatus(int64_t reached, int32_t target, int32_t bias) {
  const std::string kbits = i8(nearestf(float(reached) / 1000.0f));
  if (reached == target) return " bitrate set to  " + kbits;
  return " WARNING, bitrate set to  " + kbits +
         (bias > 50 ? ", different from specified bitrate, maybe caused by high bias setting"
                    : ", different from specified bitrate");
}

bool intermpass() {
  const settingsrec& st = settings;
  gopplanrec& p = gopplan;
  const int g = gopcount;
  if (windowon()) {
    dlgputtext(*maindialog, idpass, "intermediate");
    dlgputtext(*maindialog, idgroup, " encoding statistics intermediate pass");
  }
  showbar(0);
  const double start = workseconds();
  if (st.logfileon)
    loglines(boxlines("--------------------------------", "| encoding - intermediate pass |"));

  ratetarget = st.bitrate;
  ratepeak = st.maxbitrate;
  std::fill(std::begin(p.fixed), std::end(p.fixed), int8_t(0));
  ratebounds(ratetarget, ratepeak, ratefloor, st.bias);

  // The first pass's average and rates, the GOP sizes passing through the budgets' array.
  for (int i = 1; i <= g; ++i) p.target[i] = gopstats.bits[i];
  int64_t t = alloctotal(p.target, p.pass1rate);
  allocstep();
  for (int i = 1; i <= g; ++i) {
    p.target[i] = int64_t(std::trunc(float(gopstats.bits[i]) * gopstats.zone[i]));
    p.targetrate[i] = p.pass1rate[i];
  }

  bool ok = true;
  t = scalestage(t, 0.99f, 1.01f, false, ok);
  showbar(25);
  if (ok) t = scalestage(t, 0.999f, 1.001f, false, ok);
  showbar(50);
  if (ok) {
    allocclamp(p.target, ratepeak, p.fixed);
    t = alloctotal(p.target, p.targetrate);
    t = scalestage(t, 0.9999f, 1.0001f, true, ok);
  }
  showbar(75);
  if (ok) t = unitstage(t, ok);
  if (!ok) return false;

  cumplan[0] = 0;
  for (int i = 1; i <= g; ++i) cumplan[i] = cumplan[i - 1] + p.target[i];
  plantotal = g > 0 ? cumplan[g] : 0;
  const double fr = st.framerate;
  for (int i = 1; i <= g; ++i) {
    const int length = std::max<int>(gopstats.frames[i], 1);
    const float r1 = float(fr * double(gopstats.bits[i]) / length);
    const float r2 = float(fr * double(p.target[i]) / length);
    // A GOP of no first-pass bits has no ratio: it keeps the first pass's quantiser.
    gopqbase[i] = bpptoq(r1 > 0.0f ? r2 / r1 : 1.0f);
  }

  const double seconds = workseconds() - start;
  if (st.logfileon) {
    loglines({"bitrate set to:                 " + i8(nearestf(float(t) / 1000.0f)) + " kb/s",
              "est. outfile length:            " +
                  i8(nearestf(float(t) * float(st.duration) / 8192.0f)) + " kB",
              "intermediate encoding time:     " + fmtfixed(seconds, 8, 1) + " s"});
  }
  const std::string plan = planstatus(t, ratetarget, st.bias);
  if (showwindow) putstatus(plan);
  // A plan that misses the average is a warning: on stderr too, also under "*SILENT".
  if (plan.rfind(" WARNING, ", 0) == 0) errorout(plan.substr(1));
  showbar(100);
  return true;
}
