#include "encoder/passes/vbvcheck.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "encoder/coding/goppattern.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/control/control.h"
#include "encoder/control/report.h"
#include "encoder/control/startup.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/pass2.h"
#include "encoder/passes/progress.h"

gopsnapshotrec gopsnapshot;
float picqfactors[maxgoplength + 1];
int32_t vbvrestart = 0;
int32_t retrycount = 0;
int32_t vbvchain = 0;
bool framesaved = false;
bool lastgoptry = false;
int32_t gopsoverlimit = 0;
int64_t abandonedrate = 0;
wholetryrec wholetry;

namespace {

// One picture of the reference chain: its bits, type (0 empty, 1 I, 2 P, 3 B), picture slot
// and the quantiser it was coded at.
struct chainlink {
  int64_t bits = 0;
  int type = 0;
  int slot = 0;
  float q = 0.0f;
};

// The buffer the stream declares, as its decoder fills and empties it.
struct buffermodel {
  double level = 0.0;       // bits in the buffer just before the next picture's decoding time
  bool anchorseen = false;  // an I or P picture has been decoded
  bool anchorrff = false;   // the newest one repeats its first field (shown 3 fields long)
  // The same buffer as a DVD multiplexer fills it at the stream's start (see startfill), bits,
  // while it holds less than the model above; once it has caught up, the model above alone
  // binds (starting false).
  double startlevel = 0.0;
  bool starting = false;
};

// The state of one VBV check for the whole pass, with its copy from the GOP's start.
struct chainstate {
  chainlink link[3];  // 0 the older reference (or the I picture), 1 the newer, 2 the newest B
  bool fromi = false;  // an I picture started the chain (false after a P picture)
  buffermodel model;
  chainlink startlink[3];
  bool startfromi = false;
  buffermodel startmodel;
  // The try in progress: the data bits of each coding position (the GOP's headers with its
  // first picture) and the first position coded since the buffer was last full.
  int64_t posbits[maxgoplength + 1] = {};
  int drainfrom = 1;
  // Each position of the GOP in the start-up buffer's tries (kept for the GOP numbered `gop`):
  // the multiplier and the data bits of its last try that did not fit (how its bits fall with
  // its quantiser), the largest multiplier that did not fit, the smallest that did (0: none
  // yet), and the codings spent closing in between the two.
  struct starttry {
    int32_t gop = 0;
    float pq = 0.0f;
    int64_t bits = 0;
    float fail = 0.0f, fit = 0.0f;
    int refines = 0;
    // The quantiser the raised multiplier stands for (its type's quantiser of the GOP times
    // the multiplier; 0 until holdstart has seen it): when the checks raise the GOP's
    // quantisers, the multiplier comes down so that the picture keeps that quantiser.
    float q = 0.0f;
  } starttries[maxgoplength + 1];
};

chainstate chain1, chain2;  // vbvcheck1 (-cq_maxbitrate), vbvcheck2 (second pass)
bool gopvbvover = false;    // the try in progress stands over the VBV buffer
bool goprateover = false;   // the GOP was accepted above the maximum bitrate
// The try in progress is over the GOP's budget with every picture at quantiser 31 (set by the
// picture check; the retry after the try then accepts it).
bool budgetatcoarsest = false;
// The last VBV check sent the GOP back only because the multiplexer's start-up buffer could not
// carry its picture (the buffer model and the chain were within their bounds).
bool startonly = false;

// The 32 bits of a sequence end code may follow any picture: the model keeps room for them.
constexpr int64_t endcodebits = 32;

int profileindex(int profile) { return std::clamp(profile, 1, 4) - 1; }

chainstate& runningchain() { return settings.passno == 2 ? chain2 : chain1; }

// The declared buffer in bits, the declared bit rate in bit/s and the frame rate of the
// sequence header as numerator / denominator.
int64_t declaredbuffer() {
  return int64_t(seqfields.vbv_buffer_size_value + (seqfields.vbv_buffer_size_extension << 10)) *
         16384;
}
int64_t declaredrate() {
  return int64_t(seqfields.bit_rate_value + (int64_t(seqfields.bit_rate_extension) << 18)) * 400;
}
void codedframerate(int64_t& num, int64_t& den) {
  static const int64_t nums[9] = {25, 24000, 24, 25, 30000, 30, 50, 60000, 60};
  static const int64_t dens[9] = {1, 1001, 1, 1, 1001, 1, 1, 1001, 1};
  const int c = std::clamp(int(seqfields.frame_rate_code), 0, 8);
  num = nums[c];
  den = dens[c];
}

// The bits that enter the buffer in `fields` field periods at the declared rate.
double bitsinfields(int fields) {
  int64_t num = 0, den = 0;
  codedframerate(num, den);
  return double(declaredrate() * fields * den) / double(2 * num);
}

// The stream's start as a DVD multiplexer makes it: mplex -f 8 with its default run-in does
// not fill the buffer before the first decoding time. It decodes the first picture 2 frame
// periods after the start at 23.976 to 25 frames a second and 3 at 29.97 and above, and by then
// has carried 97,187 bytes of video at 25 (101,237 at 24, 121,487 at 29.97 and above, the
// sequence and GOP headers included, whatever the audio); a larger first picture arrives "too
// late". 512 bytes of that are kept back for the packet headers. Afterwards it carries
// video at about 9.5 to 9.8 Mbit/s (the audio, 128 to 384 kbit/s, and the navigation packs take
// the rest of its 10.08) while the buffer has room: muxvideorate, below those. A stream of Main
// Level (the DVD's) checks its start against that fill; higher levels, which no DVD takes, start
// from a full buffer only.
constexpr double muxvideorate = 9400000.0;  // bit/s
constexpr int64_t muxheaderbytes = 512;

double startfill() {
  int64_t num = 0, den = 0;
  codedframerate(num, den);
  const int64_t runin = num <= 24 * den ? 101237 : num <= 25 * den ? 97187 : 121487;  // bytes
  return std::min(double(declaredbuffer()), 8.0 * double(runin - muxheaderbytes));
}

// The multiplexer's start-up buffer after a picture of `bits` left it, until the next decoding
// time `fields` field periods later; it stops binding once it holds as much as the model.
void leavestart(buffermodel& m, int64_t bits, int fields) {
  if (!m.starting) return;
  int64_t num = 0, den = 0;
  codedframerate(num, den);
  const double refilled = std::max(m.startlevel - double(bits), 0.0) +
                          muxvideorate * fields * double(den) / double(2 * num);
  m.startlevel = std::min(refilled, double(declaredbuffer()));
  m.starting = m.startlevel < m.level;
}

bool repeatsfield(int slot) {
  return settings.pulldown && slot >= 1 && slot <= maxgoplength &&
         (pulldownflagarray[slot - 1] & 2) != 0;
}

int slotofposition(int k) { return goptrefs[goporder[k]] + 1; }

// The picture just coded (type, slot) leaves the buffer model at its decoding time with its
// data bits (the GOP's headers with its first picture; a picture the buffer could not wholly
// deliver empties it), and the buffer fills until the next decoding time.
void leavebuffer(chainstate& c, int type, int slot, int i) {
  buffermodel& m = c.model;
  const double size = double(declaredbuffer());
  // Until the next decoding time the decoder shows this B picture, or the reference picture
  // decoded before this I or P picture (this one, when it is the stream's first).
  bool shownrff = repeatsfield(slot);
  if (type != 3) {
    if (m.anchorseen) std::swap(shownrff, m.anchorrff);
    else m.anchorrff = shownrff;
    m.anchorseen = true;
  }
  const double refilled =
      std::max(m.level - double(c.posbits[i]), 0.0) + bitsinfields(shownrff ? 3 : 2);
  m.level = std::min(refilled, size);
  if (refilled >= size) c.drainfrom = i + 1;
  leavestart(m, c.posbits[i], shownrff ? 3 : 2);
}

// The factors of an overflow of the chain: fa .. fd of the chain's ratio r and the overflows n
// in a row.
struct overflowfactors {
  float fa, fb, fc, fd;
};
overflowfactors factorsof(float r, int n) {
  const float k = float(n);
  return {std::max(1.2f + k / 20.0f, r), std::max(1.15f + k / 30.0f, (1.0f + r) / 2.0f),
          std::max(1.12f + k / 40.0f, (2.0f + r) / 3.0f), std::max(1.08f + k / 40.0f, (3.0f + r) / 4.0f)};
}

// Raises the multipliers of the chain's pictures for an overflow of the picture of `type`
// just coded. True when one of them rose for a picture coded below quantiser 31.
bool raisechain(const chainstate& c, int type, const overflowfactors& f, bool cap99) {
  const chainlink& e0 = c.link[0];
  const chainlink& e1 = c.link[1];
  const chainlink& e2 = c.link[2];
  float before[maxgoplength + 1];
  std::copy(std::begin(picqfactors), std::end(picqfactors), before);
  auto raise = [](const chainlink& e, float floor, float times) {
    if (e.slot < 1 || e.slot > maxgoplength) return;
    float& pq = picqfactors[e.slot];
    pq = std::max(pq, floor) * times;
  };
  const int t0 = e0.type, t1 = e1.type;
  if (type == 1) {
    // The floor alone leaves a multiplier already above it where it was, and the I picture
    // would come out alike try after try (its floor growing by 0.05 an overflow): above the
    // floor the multiplier grows by the factor.
    const bool above = e0.slot >= 1 && e0.slot <= maxgoplength && picqfactors[e0.slot] >= f.fa;
    raise(e0, f.fa, above ? f.fa : 1.0f);
  } else if (type == 2 && t0 == 1 && t1 == 2) {
    raise(e0, f.fa, f.fd);
    raise(e1, f.fb, f.fd);
  } else if (type == 2 && t0 == 2 && t1 == 2) {
    raise(e0, f.fb, f.fd);
    raise(e1, f.fb, f.fd);
  } else if (type == 3 && t0 == 1 && t1 == 2) {
    raise(e0, f.fa, f.fd);
    if (!framesaved) raise(e1, f.fb, f.fd);  // else element 1 belongs to the previous GOP
    raise(e2, f.fb, f.fc);
  } else if (type == 3 && t0 == 2 && t1 == 2) {
    raise(e0, f.fb, f.fd);
    raise(e1, f.fb, f.fd);
    raise(e2, f.fb, f.fc);
  }
  if (cap99)
    for (float& pq : picqfactors) pq = std::min(pq, 99.0f);
  // Only the pictures of the chain can have risen (a slot of the previous GOP's picture is
  // never raised).
  for (const chainlink* e : {&e0, &e1, &e2})
    if (e->slot >= 1 && e->slot <= maxgoplength && picqfactors[e->slot] > before[e->slot] &&
        e->q < 31.0f)
      return true;
  return false;
}

// Raises the multipliers of the GOP's pictures that drained the buffer (coded since it was
// last full, through position i) when picture i did not fit: by the share of their bits the
// missing bits make, at least the chain's smallest factor. True when one of them rose for a
// picture coded below quantiser 31.
bool raisedrained(const chainstate& c, int i, int n, bool cap99) {
  int64_t drained = 0;
  for (int k = c.drainfrom; k <= i; ++k) drained += c.posbits[k];
  const double missing = double(c.posbits[i] + endcodebits) - c.model.level;
  const float share =
      double(drained) > missing ? float(double(drained) / (double(drained) - missing)) : 2.0f;
  const float f = std::max(1.08f + float(n) / 40.0f, share);
  bool effective = false;
  for (int k = std::max(c.drainfrom, 1); k <= i; ++k) {
    const int s = slotofposition(k);
    if (s < 1 || s > maxgoplength) continue;
    float& pq = picqfactors[s];
    const float was = pq;
    pq = pq * f;
    if (cap99) pq = std::min(pq, 99.0f);
    effective = effective || (pq > was && picq[k] < 31.0f);
  }
  return effective;
}

// The position's picture was raised for the start-up buffer in the GOP in progress.
bool startheld(const chainstate::starttry& t) { return t.gop == gopcount && t.fail > 0.0f; }

// The record of position i for the GOP in progress (a fresh one at its first use in a GOP).
chainstate::starttry& startrecord(chainstate& c, int i) {
  chainstate::starttry& t = c.starttries[i];
  if (t.gop != gopcount) t = {gopcount};
  return t;
}

int typeofposition(int k);

// Raises the multiplier of picture i alone when the multiplexer's start-up buffer cannot carry
// it: by the ratio of its bits to those the buffer holds, at least a small floor that grows
// with the overflows in a row. The pictures before it are its references (at the start, the
// stream's first I picture): coarser references only make it larger, and the P pictures after
// a coarse I picture win back its detail. True when it rose below quantiser 31.
bool raisestart(chainstate& c, int i, int n, bool cap99) {
  const int s = slotofposition(i);
  if (s < 1 || s > maxgoplength) return false;
  const double need = double(c.posbits[i] + endcodebits), held = c.model.startlevel;
  float& pq = picqfactors[s];
  const float was = pq;
  // Bits fall as the quantiser to some power: about 1 for an I picture, up to 3 for the P
  // picture after a coarse one, which codes the detail the I picture left out. Taken from the
  // picture's try before, when it had another multiplier in this GOP; aimed 1 % below the fill.
  chainstate::starttry& last = startrecord(c, i);
  double power = typeofposition(i) == 1 ? 1.0 : 1.5;
  if (last.pq > 0.0f && last.pq < pq && last.bits > c.posbits[i])
    power = std::clamp(std::log(double(last.bits) / double(c.posbits[i])) /
                           std::log(double(pq) / double(last.pq)),
                       0.5, 4.0);
  last.pq = pq;
  last.bits = c.posbits[i];
  last.fail = std::max(last.fail, pq);
  const double ratio = held > 0.0 ? need * 1.01 / held : 16.0;
  const float f = float(std::min(std::pow(ratio, 1.0 / power), 4.0));
  pq = pq * std::max(1.01f + float(n) / 40.0f, f);
  if (last.fit > was) pq = std::min(pq, last.fit);
  last.q = 0.0f;
  if (cap99) pq = std::min(pq, 99.0f);
  return pq > was && picq[i] < 31.0f;
}

// A picture raised for the start-up buffer that then fits it but leaves more than startslack of
// it unused: its multiplier goes down halfway (geometrically) towards the largest that did not
// fit, at most startrefinements times for a position of the GOP. The start-up buffer holds
// only a few pictures' worth, and each picture coded coarser than it could be is detail the
// pictures after it must code again. True when it went down (the GOP is coded again).
constexpr double startslack = 0.03;
constexpr int startrefinements = 4;

bool refinestart(chainstate& c, int i) {
  const int s = slotofposition(i);
  if (!c.model.starting || s < 1 || s > maxgoplength) return false;
  chainstate::starttry& t = startrecord(c, i);
  float& pq = picqfactors[s];
  if (t.fail <= 0.0f || pq <= t.fail) return false;
  t.fit = t.fit > 0.0f ? std::min(t.fit, pq) : pq;
  if (t.refines >= startrefinements ||
      double(c.posbits[i] + endcodebits) >= (1.0 - startslack) * c.model.startlevel)
    return false;
  const float lower = std::sqrt(t.fail * pq);
  if (!(lower > t.fail * 1.005f && lower < pq)) return false;
  pq = lower;
  t.refines += 1;
  t.q = 0.0f;
  return true;
}

// The pictures of the GOP raised for the start-up buffer keep their quantiser when the GOP's
// quantisers qi, qp, qb change: a multiplier fitted to quantiser 2 would put the picture at 31
// once the checks had raised the GOP's quantisers to 8.
void holdstart(chainstate& c, float qi, float qp, float qb) {
  for (int k = 1; k <= maxgoplength; ++k) {
    chainstate::starttry& t = c.starttries[k];
    if (!startheld(t)) continue;
    const int s = slotofposition(k);
    if (s < 1 || s > maxgoplength) continue;
    const int type = typeofposition(k);
    const float base = type == 1 ? qi : type == 2 ? qp : qb;
    if (!(base > 0.0f)) continue;
    if (t.q <= 0.0f) t.q = base * picqfactors[s];
    else picqfactors[s] = std::max(t.q / base, 1.0f);
  }
}

void vbvcheck(chainstate& c, bool cap99, int type, int slot, const gopsnapshotrec& snap, int i) {
  const settingsrec& st = settings;
  if (st.novbv || i < 1 || i > maxgoplength) return;
  const int32_t size = st.level >= 1 && st.level <= 3 ? vbvtable[st.level] : 0;
  if (size <= 0) {
    vbvrestart = 0;
    return;
  }
  if (i == 1) {
    std::copy(std::begin(c.link), std::end(c.link), std::begin(c.startlink));
    c.startfromi = c.fromi;
    c.startmodel = c.model;
    gopvbvover = false;
  }
  const int64_t bits = slot >= 1 && slot <= maxslots ? picslots[slot].picbits : 0;
  const chainlink pic{bits, type, slot, picq[i]};
  int64_t sum = 0;
  if (type == 1) {
    c.link[0] = pic;
    if (!framesaved) c.link[1] = {};
    c.link[2] = {};
    c.fromi = true;
    sum = c.link[0].bits + c.link[1].bits;
  } else if (type == 2) {
    if (!c.fromi) c.link[0] = c.link[1];
    c.link[1] = pic;
    c.link[2] = {};
    c.fromi = false;
    sum = c.link[0].bits + c.link[1].bits;
  } else {
    c.link[2] = pic;
    sum = c.link[0].bits + c.link[1].bits + c.link[2].bits;
  }
  vbvchain = int32_t(std::min<int64_t>(sum, INT32_MAX));
  // The buffer model: the picture with the headers in front of it must be wholly in the buffer
  // at its decoding time.
  if (i == 1) c.drainfrom = 1;
  c.posbits[i] = bits + (i == 1 ? 8 * int64_t(headercursor.bytepos) : 0);
  const bool fits = double(c.posbits[i] + endcodebits) <= c.model.level;
  const bool startfits =
      !c.model.starting || double(c.posbits[i] + endcodebits) <= c.model.startlevel;
  // The chain's bound stands for the buffer as if nothing had entered it since the chain's
  // first picture left. A chain above it counts only where the declared buffer, right after
  // this picture, also keeps less than the bound leaves free (5 % without "*VBVSIZE"): where
  // the buffer holds more, the stream is within its limits, and coding the pictures coarser
  // would only make it differ from the constant quantiser's for nothing.
  const bool chainover =
      sum > size && c.model.level - double(c.posbits[i] + endcodebits) <
                        double(declaredbuffer() - int64_t(size));
  if (!chainover && fits && startfits && !lastgoptry && refinestart(c, i)) {
    rollbackgop(snap);
    startonly = true;
    vbvrestart += 1;
    return;
  }
  if (!chainover && fits && startfits) {
    leavebuffer(c, type, slot, i);
    vbvrestart = 0;
    return;
  }
  int n = vbvrestart;
  bool effective = false;
  startonly = !chainover && fits;
  if (!lastgoptry) {
    if (chainover) {
      const float r = float(sum) * vbvprofilefactor(st.profile) / float(size);
      effective = raisechain(c, type, factorsof(r, n), cap99);
    }
    if (!fits && !effective) effective = raisedrained(c, i, n, cap99);
    if (!startfits) effective = raisestart(c, i, n, cap99) || effective;
  }
  if (!effective) {
    // Nothing coarser is left for these pictures (or this is the GOP's last try): the GOP
    // goes on over the limit.
    gopvbvover = true;
    leavebuffer(c, type, slot, i);
    vbvrestart = 0;
    return;
  }
  rollbackgop(snap);
  vbvrestart = n + 1;
}

// Under "-cq_maxbitrate" the search of a GOP's quantisers between a try that was too large and
// one that fits far below the maximum (see probefloor). The quantisers are the GOP's three.
struct quantisers {
  float qi = 0.0f, qp = 0.0f, qb = 0.0f;
};
struct probestate {
  bool failed = false;  // a try of the GOP was too large, at `toolarge`
  quantisers toolarge;
  int64_t toolargerate = 0;  // the rate it reached or pointed to, bit/s
  bool probing = false;  // the try in progress lies between `toolarge` and `fitted`
  quantisers fitted;     // the try that fitted before the probe
  bool done = false;     // the GOP has had its probe
};
probestate probe;

// A GOP that fits below probefloor of the maximum after a try that was too large is tried once
// more between the two, aimed at probeaim of the maximum on the line through the two tries'
// rates over their quantisers (logarithms of both): the raises overshoot where bits fall
// steeply with the quantiser (grain: a fifth of the bits from quantiser 16 to 23). A probe
// that comes out too large goes back to the try that fitted.
constexpr float probefloor = 0.7f;
constexpr double probeaim = 0.85;

// Where the probe lies between the too large try (0) and the one that fitted (1).
double probeposition(int64_t fittedrate) {
  const double hi = double(probe.toolargerate), lo = double(fittedrate);
  const double aim = probeaim * double(settings.maxbitrate);
  if (!(hi > aim && aim > lo && lo > 0.0)) return 0.5;
  return std::clamp(std::log(hi / aim) / std::log(hi / lo), 0.2, 0.9);
}

// A try too large (abandoned or over the maximum) at qi, qp, qb, its bits pointing to `rate`:
// the probe's lower end, or, when it was the probe, the quantisers go back to the try that
// fitted. True in that case.
bool toolargetry(float& qi, float& qp, float& qb, int64_t rate) {
  if (probe.probing) {
    qi = probe.fitted.qi;
    qp = probe.fitted.qp;
    qb = probe.fitted.qb;
    probe.probing = false;
    probe.done = true;
    return true;
  }
  probe.failed = true;
  probe.toolarge = {qi, qp, qb};
  probe.toolargerate = rate;
  return false;
}

void maxrateretry(float& qi, float& qp, float& qb, const gopsnapshotrec& snap, float f0,
                  bool search) {
  const int32_t maxrate = settings.maxbitrate;
  const bool over = maxrate > 0 && gopbitrate > maxrate;
  goprateover = false;
  if ((qi >= 31.0f && qp >= 31.0f && qb >= 31.0f) || budgetatcoarsest || !over || lastgoptry) {
    goprateover = over;
    if (search && !over && !lastgoptry && probe.failed && !probe.probing && !probe.done &&
        float(gopbitrate) < probefloor * float(maxrate)) {
      probe.probing = true;
      probe.fitted = {qi, qp, qb};
      const double t = probeposition(gopbitrate);
      auto between = [t](float large, float fitted) {
        return float(std::exp((1.0 - t) * std::log(large) + t * std::log(fitted)));
      };
      qi = between(probe.toolarge.qi, qi);
      qp = between(probe.toolarge.qp, qp);
      qb = between(probe.toolarge.qb, qb);
      rollbackgop(snap);
      retrycount += 1;
      return;
    }
    probe.probing = false;
    retrycount = 0;
    return;
  }
  if (search && toolargetry(qi, qp, qb, gopbitrate)) {
    rollbackgop(snap);
    retrycount += 1;
    return;
  }
  const float f = f0 * float(gopbitrate) / float(maxrate);
  qi = std::min(qi * f, 31.0f);
  qp = std::min(qp * f, 31.0f);
  qb = std::min(qb * f, 31.0f);
  rollbackgop(snap);
  retrycount += 1;
}

// The bitrate of n pictures of the GOP that hold `bits`, as the loops reckon gopbitrate.
int64_t rateof(int64_t bits, int n) { return int64_t(double(bits) * settings.framerate / n); }

int typeofposition(int k) { return goptypes[goporder[k]]; }

// Every picture of the GOP of n pictures stands at quantiser 31 with the try's quantisers:
// those coded through position i as coded, the later ones as they would be.
bool gopatcoarsest(float qi, float qp, float qb, int i, int n) {
  for (int k = 1; k <= n && k <= maxgoplength; ++k) {
    const int t = typeofposition(k);
    const int s = slotofposition(k);
    const float base = t == 1 ? qi : t == 2 ? qp : qb;
    const float pq = picqfactors[std::clamp(s, 1, maxgoplength)];
    const float q = k <= i ? picq[k] : std::min(base * pq, 31.0f);
    if (q < 31.0f) return false;
  }
  return true;
}

// The bits the try would spend on all n pictures: those coded through position i, and each
// later picture at the mean of this try's pictures of its type (nothing for a type not coded
// yet, so a picture seen early does not stand for the whole GOP).
int64_t projectedbits(int i, int n) {
  int64_t sum[4] = {}, count[4] = {};
  for (int k = 1; k <= i; ++k) {
    const int t = std::clamp(typeofposition(k), 0, 3);
    const int s = slotofposition(k);
    sum[t] += s >= 1 && s <= maxslots ? picslots[s].picbits : 0;
    count[t] += 1;
  }
  int64_t total = sum[1] + sum[2] + sum[3];
  for (int k = i + 1; k <= n; ++k) {
    const int t = std::clamp(typeofposition(k), 0, 3);
    if (count[t] > 0) total += sum[t] / count[t];
  }
  return total;
}

// The most an abandoned try raises the quantisers by: the bits of fine grain fall slowly at
// small quantisers and steeply at large ones (heavy noise: 130 Mbit/s at 2, 36 at 9, 2.8 at
// 23), so no one figure of the excess tells how far to go; tries that fail are cheap, a try
// that lands far below the maximum is not.
constexpr float maxabandonstep = 2.0f;

// The VBV check of the picture at position i of n, then the GOP's budget: a try whose
// pictures before the last already hold more bits than the GOP may spend (n x the maximum
// bitrate / the frame rate) is abandoned at once (at the last picture the retry after the
// whole try takes it); so is a try whose picture the buffer cannot carry while its bits so far
// point to a GOP above the maximum. Its three quantisers rise by f0 x the square root of the
// excess those bits point to, at most maxabandonstep: the whole excess, as the retry takes it,
// overshoots far from so rough a figure (heavy noise at quantiser 2, 16 times over the
// maximum, would go straight to 31 and 1.4 of the 8 Mbit/s allowed); the cheap tries that
// follow close the rest. That raise stands for any the VBV check just made (those multipliers
// go back), as it makes every later picture coarser too. True when the try was abandoned
// (rolled back).
bool checkpicture(chainstate& c, bool cap99, int type, int slot, const gopsnapshotrec& snap,
                  int i, int n, float& qi, float& qp, float& qb, float f0) {
  if (i == 1) budgetatcoarsest = false;
  if (i == 1 && retrycount == 0) probe = {};
  const int32_t maxrate = settings.maxbitrate;
  const int32_t gopbits0 = gopbits;  // (a rollback clears gopbits)
  const bool overbudget = maxrate > 0 && n > 0 && rateof(gopbits0, n) > maxrate;
  float kept[maxgoplength + 1];
  std::copy(std::begin(picqfactors), std::end(picqfactors), kept);
  int64_t projected = maxrate > 0 && n > 0 ? rateof(projectedbits(i, n), n) : 0;
  // After a whole try of this GOP, its bits at its quantiser tell the GOP's cost better than
  // the first pictures of this one: after a cut, the pictures right after a coarse I picture
  // re-code the detail it lost and cost many times what the later ones do.
  if (wholetry.gop == gopcount && wholetry.bits > 0 && wholetry.qi > 0.0f && qi > 0.0f && n > 0) {
    // (at least a square: a finer try is reckoned no cheaper than its bits are likely to be)
    const double k = std::max(double(wholetry.exponent), 2.0);
    const double whole = double(wholetry.bits) * std::pow(double(wholetry.qi) / double(qi), k);
    projected = std::min(projected, rateof(std::max(int64_t(whole), int64_t(gopbits0)), n));
  }
  const bool coarsest = (overbudget || projected > maxrate) && gopatcoarsest(qi, qp, qb, i, n);
  vbvcheck(c, cap99, type, slot, snap, i);
  holdstart(c, qi, qp, qb);
  if (lastgoptry) return vbvrestart > 0;
  if (overbudget && coarsest) budgetatcoarsest = true;
  // A picture the buffer cannot carry in a try bound for more than the maximum: the buffer
  // drains because the whole GOP runs too rich, and raising the pictures that drained it would
  // only move the failure to the next picture, one try per picture.
  // (Not at the stream's start, where the first pictures only wait for the multiplexer's fill:
  // a picture that re-codes the detail of a coarse I picture points to a GOP far too rich.)
  const bool richfail = vbvrestart > 0 && projected > maxrate && !startonly;
  if (coarsest || !((overbudget && i < n) || richfail)) return vbvrestart > 0;
  if (vbvrestart > 0) {
    std::copy(std::begin(kept), std::end(kept), std::begin(picqfactors));
    vbvrestart = 0;
  } else {
    rollbackgop(snap);
  }
  retrycount += 1;
  const int64_t pointed = std::max(projected, rateof(gopbits0, n));
  abandonedrate = pointed;
  if (cap99 && toolargetry(qi, qp, qb, pointed)) return true;  // (the probe: "-cq_maxbitrate")
  const double excess = double(pointed) / double(maxrate);
  const float f = std::min(f0 * float(std::sqrt(excess)), maxabandonstep);
  qi = std::min(qi * f, 31.0f);
  qp = std::min(qp * f, 31.0f);
  qb = std::min(qb * f, 31.0f);
  return true;
}

std::string kbits(int64_t bitrate) { return std::to_string(bitrate / 1000) + " Kb/s"; }

}  // namespace

void vbvstart() {
  const double full = double(declaredbuffer());
  const double start = startfill();
  for (chainstate* c : {&chain1, &chain2}) {
    *c = chainstate{};
    c->model.level = full;
    c->model.startlevel = start;
    c->model.starting = settings.level == 1 && start < full;
    c->startmodel = c->model;
  }
  vbvchain = 0;
  vbvrestart = retrycount = 0;
  gopsoverlimit = 0;
  gopvbvover = goprateover = budgetatcoarsest = startonly = false;
  probe = {};
  wholetry = {};
  lastgoptry = false;
}

void starttry() {
  headercursor = {};
  runbits = totalbits;
  putseqheaders(headerbuf, headercursor);
  runbits += 8 * int64_t(headercursor.bytepos);
  if (retrycount == 0)
    gopsnapshot = {icount, pcount, bcount, newref, previewcount, settings.gopframe};
}

void rollbackgop(const gopsnapshotrec& snap) {
  icount = snap.icount;
  pcount = snap.pcount;
  bcount = snap.bcount;
  newref = snap.newref;
  previewcount = snap.previewcount;
  settings.gopframe = snap.gopframe;
  gopbpics = gopbytes = gopbits = 0;
  chainstate& c = runningchain();
  std::copy(std::begin(c.startlink), std::end(c.startlink), std::begin(c.link));
  c.fromi = c.startfromi;
  c.model = c.startmodel;
  if (framesaved) restoreframe();
}

void vbvcheck2(int type, int slot, const gopsnapshotrec& snap, int i) {
  vbvcheck(chain2, false, type, slot, snap, i);
}

void vbvcheck1(int type, int slot, const gopsnapshotrec& snap, int i) {
  vbvcheck(chain1, true, type, slot, snap, i);
}

bool checkpicture2(int type, int slot, const gopsnapshotrec& snap, int i, int n, float& qi,
                   float& qp, float& qb) {
  const bool again = checkpicture(chain2, false, type, slot, snap, i, n, qi, qp, qb,
                                  retryfactor2(settings.profile, retrycount));
  holdstart(chain2, qi, qp, qb);
  return again;
}

bool checkpicture1(int type, int slot, const gopsnapshotrec& snap, int i, int n, float& qi,
                   float& qp, float& qb) {
  const bool again = checkpicture(chain1, true, type, slot, snap, i, n, qi, qp, qb,
                                  retryfactor1(settings.profile, retrycount));
  holdstart(chain1, qi, qp, qb);
  return again;
}

bool cleantry2() {
  bool held[maxgoplength + 1] = {};
  for (int k = 1; k <= maxgoplength; ++k) {
    const int s = slotofposition(k);
    if (startheld(chain2.starttries[k]) && s >= 1 && s <= maxgoplength) held[s] = true;
  }
  for (int s = 1; s <= maxgoplength; ++s)
    if (picqfactors[s] != 1.0f && !held[s]) return false;
  return true;
}

void maxrateretry2(float& qi, float& qp, float& qb, const gopsnapshotrec& snap) {
  maxrateretry(qi, qp, qb, snap, retryfactor2(settings.profile, retrycount), false);
  holdstart(chain2, qi, qp, qb);
}

void maxrateretry1(float& qi, float& qp, float& qb, const gopsnapshotrec& snap) {
  maxrateretry(qi, qp, qb, snap, retryfactor1(settings.profile, retrycount), true);
  holdstart(chain1, qi, qp, qb);
}

float vbvprofilefactor(int profile) {
  static const float factors[4] = {1.25f, 1.2f, 1.2f, 1.15f};
  return factors[profileindex(profile)];
}

float retryfactor2(int profile, int made) {
  static const float base[4] = {1.05f, 1.03f, 1.03f, 1.02f};
  return made > 5 ? 1.05f : base[profileindex(profile)];
}

float retryfactor1(int profile, int made) {
  static const float base[4] = {1.2f, 1.15f, 1.15f, 1.1f};
  const float b = base[profileindex(profile)];
  if (made <= 2) return b;
  if (made == 3) return std::max(b, 1.15f);
  if (made == 4) return std::max(b, 1.2f);
  if (made == 5) return 1.25f;
  if (made == 6) return 1.3f;
  return 1.35f;
}

void gopaccepted(int first, int n, int codings) {
  const settingsrec& st = settings;
  const bool vbvover = gopvbvover && !st.novbv;
  std::string text = " WARNING, GOP " + std::to_string(gopcount) + " (frames " +
                     std::to_string(first) + " - " + std::to_string(first + n - 1) + ")";
  if (vbvover || goprateover) {
    gopsoverlimit += 1;
    text += " accepted at " + kbits(gopbitrate) + " after " + std::to_string(codings) +
            (codings == 1 ? " coding" : " codings") + ", over ";
    if (goprateover) text += "the maximum bitrate of " + kbits(st.maxbitrate);
    if (goprateover && vbvover) text += " and ";
    if (vbvover) text += "the VBV buffer";
  } else if (codings >= maxgoptries) {
    text += " accepted after " + std::to_string(maxgoptries) +
            " codings, the VBV buffer or the maximum bitrate may be exceeded";
  } else {
    return;
  }
  if (st.logfileon) loglines({text});
  errorout(text.substr(1));
  if (showwindow) putstatus(text);
}
