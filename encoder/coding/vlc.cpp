#include "encoder/coding/vlc.h"

#include <algorithm>
#include <cstdlib>

#include "encoder/coding/bitio.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/scantables.h"
#include "encoder/coding/vlctables.h"
#include "encoder/control/settings.h"

namespace {

constexpr int escapebits = 24;  // 6 escape + 6 run + 12 level

const uint8_t* scanorder() { return settings.altscan ? altscantab : zigzagscan; }

// Levels in scan order.
void toscan(const int16_t levels[64], int16_t out[64]) {
  const uint8_t* scan = scanorder();
  for (int k = 0; k < 64; ++k) out[k] = levels[scan[k] - 1];
}

// The code of (run, |level|) in table t, or length 0 when it must be escaped.
inline vlccode accode(const vlccode (&t)[32][41], int run, int m) {
  if (run > maxtablerun || m > maxtablelevel) return {0, 0};
  return t[run][m];
}

inline int clamplevel(int v) { return std::clamp(v, -2047, 2047); }

// AC coefficients of scan positions first..63: writes them when out is given, returns the bits.
// interfirst: the first coefficient of a non-intra block, when it is +-1 at position 0, is sent
// as the two bits 1s.
int putac(const int16_t scanned[64], int first, const vlccode (&t)[32][41], bool interfirst,
          uint8_t* buf, bitcursor* cur) {
  int bits = 0;
  int run = 0;
  for (int k = first; k < 64; ++k) {
    int v = scanned[k];
    if (v == 0) {
      ++run;
      continue;
    }
    int m = std::abs(v);
    uint32_t sign = v < 0 ? 1 : 0;
    if (interfirst && k == 0 && m == 1) {
      bits += 2;
      if (buf) putbits((b14firstcoef.code << 1) | sign, 2, buf, *cur);
    } else if (vlccode c = accode(t, run, m); c.length != 0) {
      bits += c.length + 1;
      if (buf) putbits((uint32_t(c.code) << 1) | sign, c.length + 1, buf, *cur);
    } else {
      bits += escapebits;
      if (buf) {
        putbits(dctescape.code, dctescape.length, buf, *cur);           // escape
        putbits(uint32_t(run), 6, buf, *cur);                          // run
        putbits(uint32_t(clamplevel(v)) & 0xFFF, 12, buf, *cur);       // signed_level
      }
    }
    run = 0;
  }
  return bits;
}

inline const vlccode (&intratable(const picslot& sl))[32][41] {
  return sl.intravlc == 1 ? tableb15 : tableb14;
}
inline vlccode intraeob(const picslot& sl) {
  return sl.intravlc == 1 ? b15endofblock : b14endofblock;
}

// DC difference of block b against the lane's predictor, which then takes the block's DC level.
int dcdiff(bitlane& ln, const int16_t levels[64], int b) {
  int comp = b <= 4 ? 0 : b - 4;
  int d = levels[0] - ln.dcpred[comp];
  ln.dcpred[comp] = levels[0];
  return std::clamp(d, -2047, 2047);
}

int intrablock(bitlane& ln, const picslot& sl, const int16_t levels[64], int b, bool write) {
  int d = dcdiff(ln, levels, b);
  int size = bitlength(d);
  vlccode dc = b <= 4 ? tableb12[size] : tableb13[size];
  int16_t scanned[64];
  toscan(levels, scanned);
  vlccode eob = intraeob(sl);
  uint8_t* buf = write ? ln.streambits.data() : nullptr;
  bitcursor* cur = &ln.streamcursor;
  if (write) {
    putbits(dc.code, dc.length, buf, *cur);  // dct_dc_size
    if (size != 0) putbits(uint32_t(d < 0 ? d + pow2(size) - 1 : d), size, buf, *cur);  // dct_dc_differential
  }
  int bits = dc.length + size + putac(scanned, 1, intratable(sl), false, buf, cur);
  if (write) putbits(eob.code, eob.length, buf, *cur);  // end_of_block
  return bits + eob.length;
}

int interblock(bitlane& ln, const int16_t levels[64], bool write) {
  int16_t scanned[64];
  toscan(levels, scanned);
  uint8_t* buf = write ? ln.streambits.data() : nullptr;
  int bits = putac(scanned, 0, tableb14, true, buf, &ln.streamcursor);
  if (write) putbits(b14endofblock.code, b14endofblock.length, buf, ln.streamcursor);  // end_of_block
  return bits + b14endofblock.length;
}

// One motion vector component difference: motion_code (Table B.10), its sign and the residual.
void putmv(bitlane& ln, uint8_t* buf, bitcursor& cur, int fcode, int v, const char* errtext) {
  if (fcode < 1 || fcode > 9) {
    laneerror(ln, errtext);
    fcode = std::clamp(fcode, 1, 9);
  }
  int rsize = fcode - 1;
  int f = 1 << rsize;
  int lo = -16 * f, hi = 16 * f - 1;
  if (v > hi) v -= 32 * f;
  else if (v < lo) v += 32 * f;
  if (v < lo || v > hi) {
    laneerror(ln, errtext);
    v = std::clamp(v, lo, hi);
  }
  int t = f - 1 + std::abs(v);
  int code = t >> rsize;  // 0..16
  int residual = t & (f - 1);
  if (v == 0) code = 0;
  const vlccode& c = tableb10[code];
  putbits(c.code, c.length, buf, cur);                   // motion_code
  if (code != 0) putbits(v < 0 ? 1 : 0, 1, buf, cur);    // its sign
  if (rsize != 0 && code != 0) putbits(uint32_t(residual), rsize, buf, cur);  // motion_residual
}

const char putmv1text[] = "*** INTERNAL ERROR ***  | routine putmv1 - invalid motion vector";
const char putmv2text[] = "*** INTERNAL ERROR ***  | routine putmv2 - invalid motion vector";

}  // namespace

void putintrablk(bitlane& ln, const picslot& sl, const int16_t levels[64], int b) {
  intrablock(ln, sl, levels, b, true);
}
void putinterblk(bitlane& ln, const int16_t levels[64]) { interblock(ln, levels, true); }
int bitsintrablk(bitlane& ln, const picslot& sl, const int16_t levels[64], int b) {
  return intrablock(ln, sl, levels, b, false);
}

void putintrablk(int s, const int16_t levels[64], int b) {
  putintrablk(picslots[s], picslots[s], levels, b);
}
void putinterblk(int s, const int16_t levels[64]) { putinterblk(picslots[s], levels); }
int bitsintrablk(int s, const int16_t levels[64], int b) {
  return bitsintrablk(picslots[s], picslots[s], levels, b);
}
int bitsinterblk(bitlane& ln, const int16_t levels[64]) { return interblock(ln, levels, false); }
int bitsinterblk(int s, const int16_t levels[64]) { return interblock(picslots[s], levels, false); }
int bitsinterblk2(int s, const int16_t levels[64]) { return interblock(picslots[s], levels, false); }

int bitsintraac(int s, const int16_t levels[64]) {
  const picslot& sl = picslots[s];
  int16_t scanned[64];
  toscan(levels, scanned);
  return 4 + putac(scanned, 1, intratable(sl), false, nullptr, nullptr) + intraeob(sl).length;
}

void putmbainc(bitlane& ln, int n) {
  laneroom(ln);
  uint8_t* buf = ln.streambits.data();
  if (n < 1) n = 1;
  while (n > 33) {
    putbits(macroblockescape.code, macroblockescape.length, buf, ln.streamcursor);  // macroblock_escape
    n -= 33;
  }
  putbits(tableb1[n].code, tableb1[n].length, buf, ln.streamcursor);  // macroblock_address_increment
}

void putmbainc(int s, int n) { putmbainc(picslots[s], n); }

void putmv1(int s, int fcode, int v) {
  picslot& sl = picslots[s];
  putmv(sl, sl.streambits.data(), sl.streamcursor, fcode, v, putmv1text);
}

void putmv2(int s, int fcode, int v) {
  picslot& sl = picslots[s];
  putmv(sl, sl.statbits.data(), sl.statcursor, fcode, v, putmv2text);
}

void putmvs(bitlane& ln, const picslot& sl, int m) {
  const mbrecord& mb = sl.mbs[m];
  // Direction d (0 forward, 1 backward): components 2d (horizontal) and 2d + 1 (vertical).
  for (int d = 0; d < 2; ++d) {
    if (!mb.mbdirflags[d]) continue;
    for (int c = 2 * d; c < 2 * d + 2; ++c)
      putmv(ln, ln.streambits.data(), ln.streamcursor, sl.fcodes[c], mb.halfmv[c] - ln.pmv[c],
            putmv1text);
    ln.pmv[2 * d] = mb.halfmv[2 * d];
    ln.pmv[2 * d + 1] = mb.halfmv[2 * d + 1];
  }
  if (!settings.writestats) return;
  for (int d = 0; d < 2; ++d) {
    if (!mb.mbdirflags[d]) continue;
    for (int c = 2 * d; c < 2 * d + 2; ++c)
      putmv(ln, ln.statbits.data(), ln.statcursor, sl.fcodes[4 + c],
            mb.statmv[c] - ln.statpmv[c], putmv2text);
    ln.statpmv[2 * d] = mb.statmv[2 * d];
    ln.statpmv[2 * d + 1] = mb.statmv[2 * d + 1];
  }
}

void putmvs(int s, int m) { putmvs(picslots[s], picslots[s], m); }
