#include "encoder/passes/vbvcheck.h"

#include <algorithm>
#include <string>

#include "encoder/coding/goppattern.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/control/control.h"
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
};

chainstate chain1, chain2;  // vbvcheck1 (-cq_maxbitrate), vbvcheck2 (second pass)
bool gopvbvover = false;    // the try in progress stands over the VBV buffer
bool goprateover = false;   // the GOP was accepted above the maximum bitrate

// The 32 bits of a sequence end code may follow any picture: the model keeps room for them.
constexpr int64_t endcodebits = 32;
// Overflows in a row beyond which nothing is gained: the floor 1.2 + n / 20 of an I
// picture's factor passes 31 (and 99, the cap under "-cq_maxbitrate") well before.
constexpr int maxskippedoverflows = 2000;

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
    raise(e0, f.fa, 1.0f);
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
  if (sum <= size && fits) {
    leavebuffer(c, type, slot, i);
    vbvrestart = 0;
    return;
  }
  int n = vbvrestart;
  bool effective = false;
  if (!lastgoptry) {
    if (sum > size) {
      const float r = float(sum) * vbvprofilefactor(st.profile) / float(size);
      effective = raisechain(c, type, factorsof(r, n), cap99);
      // An I picture that overflows at the GOP's first position is coded again and again
      // with the same multiplier until the floor of its factor, which grows with every
      // overflow in a row, passes that multiplier. Those codings would all come out alike:
      // go straight to the overflow count at which it rises.
      while (!effective && i == 1 && c.link[0].q < 31.0f && n < maxskippedoverflows) {
        n += 1;
        effective = raisechain(c, type, factorsof(r, n), cap99);
      }
    }
    if (!fits && !effective) effective = raisedrained(c, i, n, cap99);
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

void maxrateretry(float& qi, float& qp, float& qb, const gopsnapshotrec& snap, float f0) {
  const int32_t maxrate = settings.maxbitrate;
  const bool over = maxrate > 0 && gopbitrate > maxrate;
  goprateover = false;
  if ((qi > 30.5f && qp > 30.5f && qb > 30.5f) || !over || lastgoptry) {
    goprateover = over;
    retrycount = 0;
    return;
  }
  const float f = f0 * float(gopbitrate) / float(maxrate);
  qi = std::min(qi * f, 31.0f);
  qp = std::min(qp * f, 31.0f);
  qb = std::min(qb * f, 31.0f);
  rollbackgop(snap);
  retrycount += 1;
}

std::string kbits(int64_t bitrate) { return std::to_string(bitrate / 1000) + " Kb/s"; }

}  // namespace

void vbvstart() {
  const double full = double(declaredbuffer());
  for (chainstate* c : {&chain1, &chain2}) {
    *c = chainstate{};
    c->model.level = full;
    c->startmodel = c->model;
  }
  vbvchain = 0;
  vbvrestart = retrycount = 0;
  gopsoverlimit = 0;
  gopvbvover = goprateover = false;
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

void maxrateretry2(float& qi, float& qp, float& qb, const gopsnapshotrec& snap) {
  maxrateretry(qi, qp, qb, snap, retryfactor2(settings.profile, retrycount));
}

void maxrateretry1(float& qi, float& qp, float& qb, const gopsnapshotrec& snap) {
  maxrateretry(qi, qp, qb, snap, retryfactor1(settings.profile, retrycount));
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
  if (showwindow) putstatus(text);
}
