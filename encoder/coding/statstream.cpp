#include "encoder/coding/statstream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "common/fmtfield.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/quantrecip.h"
#include "encoder/coding/vlctables.h"
#include "encoder/control/control.h"
#include "encoder/control/report.h"
#include "encoder/control/units.h"
#include "platform/pool.h"

const char dbswritelog[] = " *** ERROR, can't write to dbs file, aborting...";
const char dbswriteline[] = " can't write to dbs file, aborting...";
const char dbsreadlog[] = " *** ERROR, can't read from dbs file, aborting...";
const char dbsreadline[] = " can't read from dbs file, aborting...";

dbswriterstate dbswriter;
dbsreaderstate dbsreader;
uint8_t gopstatbuf[gopstatbytes + bitspare];
bitcursor gopstatcursor;

namespace {

constexpr int32_t halfbits = 8 * dbsrecordbytes;  // 65,536 bits in one record

// Why the scratch file failed, kept where the failure happens (the read-ahead thread may meet
// it before the pass reports it): the system's reason, or what was wrong with the records.
std::string failreason;

void notefailure(const char* what = nullptr) {
  const int e = errno;
  failreason = what ? what : e != 0 ? std::strerror(e) : "the file ends early";
}

// The fixed text in the log and the status line; on stderr with the file and the reason.
void reportfailure(const char* logtext, const char* linetext) {
  const std::string path = trimright(settings.dbspath);
  const std::string where = "(" + (path.empty() ? "" : "\"" + path + "\": ") +
                            (failreason.empty() ? std::string("failed") : failreason) + ")";
  if (settings.logfileon) logline(logtext);
  errorout(std::string("ERROR,") + linetext + " " + where);
  errorline(linetext);
  abortrun();
}

// ---- writer ----

bool writerecord(long recno) {
  errno = 0;
  if (!unitwriterecord(unitstats, recno, dbswriter.record, dbsrecordbytes)) return false;
  // A full disk shows only when the bytes leave the file's buffer.
  std::FILE* f = unitfile(unitstats);
  return f && std::fflush(f) == 0;
}

void writefailed() {
  notefailure();
  dbswriter.failed = true;
  reportfailure(dbswritelog, dbswriteline);
}

// Appends size bytes; every record that fills up goes to the file.
bool append(const uint8_t* data, int32_t size) {
  while (size > 0) {
    int32_t c = std::min(dbsrecordbytes - dbswriter.fill, size);
    std::memcpy(dbswriter.record + dbswriter.fill, data, size_t(c));
    dbswriter.fill += c;
    data += c;
    size -= c;
    if (dbswriter.fill == dbsrecordbytes) {
      if (!writerecord(dbswriter.recno)) {
        writefailed();
        return false;
      }
      dbswriter.fill = 0;
      dbswriter.recno += 1;
    }
  }
  return true;
}

// ---- reader ----

thread_local bool deferreports = false;  // this thread reads ahead: failures are reported later

bool readfailed(const char* what = nullptr) {
  if (!dbsreader.failed) {
    notefailure(what);
    dbsreader.failed = true;
    if (!deferreports) reportfailure(dbsreadlog, dbsreadline);
  }
  return false;
}

// Bits that do not parse as the first pass writes them cannot be read either: the same error.
bool damaged() { return readfailed("its records are not as the first pass wrote them"); }

// After a read that may have passed the first record: the second record moves down and the
// next one is read behind it.
inline void refill() {
  if (dbsreader.consumed <= halfbits) return;
  std::memcpy(dbsreader.buffer, dbsreader.buffer + dbsrecordbytes, dbsrecordbytes);
  errno = 0;
  if (!unitreadrecord(unitstats, dbsreader.recno, dbsreader.buffer + dbsrecordbytes, dbsrecordbytes)) {
    readfailed();
    return;
  }
  dbsreader.recno += 1;
  dbsreader.consumed -= halfbits;
  dbsreader.cursor.bytepos -= dbsrecordbytes;
}

// The n bits (1..32) at the read position, from one 8-byte big-endian load: the cursor never
// stands more than a few bytes past the first record (refill moves the records down first), so
// the load stays inside the buffer.
inline uint32_t peekbits(int n) {
  uint64_t w;
  std::memcpy(&w, dbsreader.buffer + dbsreader.cursor.bytepos, sizeof w);
  w = __builtin_bswap64(w) << dbsreader.cursor.usedbits;
  return uint32_t(w >> (64 - n));
}

// Moves the read position on by n bits (0..32).
inline void passbits(int n) {
  const int a = n + dbsreader.cursor.usedbits;
  dbsreader.cursor.bytepos += a >> 3;
  dbsreader.cursor.usedbits = a & 7;
  dbsreader.consumed += n;
  refill();
}

// The next n bits (1..32) without consuming them; 0 after a failure.
uint32_t dbsshowbits(int n) {
  if (dbsreader.failed || n < 1) return 0;
  return peekbits(std::min(n, 32));
}

void dbsalign() { dbsskipbits((8 - dbsreader.cursor.usedbits) & 7); }

// Decoding tables built from the code tables, by the next 6 (macroblock_type) or 10 (the
// motion_code bits after its leading 0, sign included) bits of the stream.
struct decodeentry {
  int8_t value;    // the flags or the signed motion_code
  uint8_t length;  // bits to consume; 0: no code starts with these bits
};
struct decodetables {
  decodeentry ptype[64], btype[64], mvcode[1024];
  decodetables() : ptype{}, btype{}, mvcode{} {
    auto fill = [](decodeentry* t, int bits, uint32_t code, int length, int value) {
      int spare = bits - length;
      for (uint32_t low = 0; low < (1u << spare); ++low)
        t[(code << spare) | low] = {int8_t(value), uint8_t(length)};
    };
    for (int flags = 0; flags < 32; ++flags) {
      if (tableb3[flags].length) fill(ptype, 6, tableb3[flags].code, tableb3[flags].length, flags);
      if (tableb4[flags].length) fill(btype, 6, tableb4[flags].code, tableb4[flags].length, flags);
    }
    // Magnitude m: the code's bits after its leading 0, then the sign (1 negative).
    for (int m = 1; m <= 16; ++m) {
      int l = tableb10[m].length;  // 2..10, leading 0 included
      uint32_t rest = tableb10[m].code & bitmasks[l - 1];
      fill(mvcode, 10, rest << 1, l, m);
      fill(mvcode, 10, (rest << 1) | 1, l, -m);
    }
  }
};
const decodetables& tables() {
  static const decodetables t;
  return t;
}

// macroblock_type flags of a P (or B) picture, or -1 for bits that are no code.
int readmbtype(bool bpicture) {
  const decodeentry& e = (bpicture ? tables().btype : tables().ptype)[dbsshowbits(6)];
  if (e.length == 0) return -1;
  dbsskipbits(e.length);
  return e.value;
}

// The 16x16 block at pos moved by the half-pel vector v (with the extra sample a half position
// reads) lies inside 0..size-1.
bool inside(int pos, int v, int size) {
  int lo = pos + (v >> 1);  // arithmetic shift: the full-pel part, rounded down
  return lo >= 0 && lo + 16 + (v & 1) <= size;
}

bool inrange(uint32_t v, uint32_t lo, uint32_t hi) { return v >= lo && v <= hi; }

// True when the n values a[1..n] are lo..lo+n-1 in some order.
bool permutation(const goparray& a, int n, int lo) {
  bool seen[goparraysize] = {};
  for (int k = 1; k <= n; ++k) {
    int v = a[k] - lo;
    if (v < 0 || v >= n || seen[v]) return false;
    seen[v] = true;
  }
  return true;
}

bool matricesinrecord() { return settings.adaptivematrix || settings.lumgain > 0; }

}  // namespace

// ---- writer ----

void dbswriterstart() {
  std::memset(dbswriter.record, 0, sizeof dbswriter.record);
  dbswriter.fill = 0;
  dbswriter.recno = 1;
  dbswriter.failed = false;
  failreason.clear();
}

bool writedbs(int n, const goparray& order, const goparray& trefs, bool final) {
  if (dbswriter.failed) return false;
  if (final) {
    // The last record twice (bytes past the fill count are left over from earlier records).
    if (!writerecord(dbswriter.recno) || !writerecord(dbswriter.recno + 1)) {
      writefailed();
      return false;
    }
    return true;
  }
  if (!append(gopstatbuf, gopstatcursor.bytepos)) return false;
  n = std::clamp(n, 0, maxgoplength);
  for (int k = 1; k <= n; ++k) {
    int s = trefs[order[k]] + 1;
    if (s < 1 || s > maxslots) continue;
    const picslot& sl = picslots[s];
    if (!sl.statbits.data()) continue;  // never coded: nothing to copy
    if (!append(sl.statbits.data(), std::min(sl.statcursor.bytepos, sl.statbits.capacity)))
      return false;
  }
  return true;
}

// ---- GOP record ----

void fillgopstats(gopstatrecord& g, int n, int b, int closed, int gopclass) {
  g.n = n;
  g.b = b;
  g.closed = closed;
  std::copy(std::begin(goporder), std::end(goporder), std::begin(g.order));
  std::copy(std::begin(goptypes), std::end(goptypes), std::begin(g.types));
  std::copy(std::begin(goptrefs), std::end(goptrefs), std::begin(g.trefs));
  std::copy(std::begin(pulldownflagarray), std::end(pulldownflagarray), std::begin(g.pulldownflags));
  g.fieldcount = fieldcount;
  g.gopclass = gopclass;
  std::copy(std::begin(quantmatrices.intra), std::end(quantmatrices.intra), std::begin(g.intra));
  std::copy(std::begin(quantmatrices.nonintra), std::end(quantmatrices.nonintra), std::begin(g.nonintra));
}

void putgopstats(const gopstatrecord& g) {
  uint8_t* buf = gopstatbuf;
  bitcursor& cur = gopstatcursor;
  cur = {};
  int n = std::clamp(g.n, 0, maxgoplength);
  int rows = std::clamp(settings.mbrows, 0, maxmbrows);
  putbits(uint32_t(g.n), 8, buf, cur);       // n
  putbits(uint32_t(g.b), 8, buf, cur);       // b
  putbits(uint32_t(g.closed), 8, buf, cur);  // closed_gop
  for (int k = 1; k <= n; ++k) putbits(uint32_t(g.order[k]), 8, buf, cur);  // goporder
  for (int k = 1; k <= n; ++k) putbits(uint32_t(g.types[k]), 8, buf, cur);  // goptypes
  for (int k = 1; k <= n; ++k) putbits(uint32_t(g.trefs[k]), 8, buf, cur);  // goptrefs
  if (settings.pulldown) {
    for (int t = 0; t < n; ++t) putbits(uint32_t(g.pulldownflags[t]), 8, buf, cur);  // flags
    putbits(uint32_t(g.fieldcount), 32, buf, cur);  // fieldcount
  }
  putbits(uint32_t(g.gopclass), 32, buf, cur);  // class
  for (int k = 1; k <= n; ++k)
    for (int r = 0; r < rows; ++r) putbits(uint32_t(g.rowactivity[k][r]), 32, buf, cur);  // row activity
  if (matricesinrecord()) {
    for (int i = 0; i < 64; ++i) putbits(uint16_t(g.intra[i]), 16, buf, cur);     // intra matrix
    for (int i = 0; i < 64; ++i) putbits(uint16_t(g.nonintra[i]), 16, buf, cur);  // non-intra
  }
}

bool readgopstats(gopstatrecord& g) {
  if (dbsreader.failed) return false;
  int rows = settings.mbrows;
  if (rows < 1 || rows > maxmbrows) return damaged();
  uint32_t n = dbsgetbits(8), b = dbsgetbits(8), closed = dbsgetbits(8);
  if (dbsreader.failed) return false;
  if (!inrange(n, 1, maxgoplength) || b > 2 || closed > 1) return damaged();
  g = {};
  g.n = int32_t(n);
  g.b = int32_t(b);
  g.closed = int32_t(closed);
  for (uint32_t k = 1; k <= n; ++k) g.order[k] = int32_t(dbsgetbits(8));
  for (uint32_t k = 1; k <= n; ++k) g.types[k] = int32_t(dbsgetbits(8));
  for (uint32_t k = 1; k <= n; ++k) g.trefs[k] = int32_t(dbsgetbits(8));
  if (dbsreader.failed) return false;
  if (!permutation(g.order, g.n, 1) || !permutation(g.trefs, g.n, 0)) return damaged();
  int ipictures = 0;
  for (uint32_t k = 1; k <= n; ++k) {
    if (!inrange(uint32_t(g.types[k]), 1, 3)) return damaged();
    ipictures += g.types[k] == 1;
  }
  // A GOP is coded from its one I picture on, in the order the pattern of its n, b and
  // closed_gop gives: the references its pictures predict from are then the ones they had.
  if (ipictures != 1 || g.types[g.order[1]] != 1) return damaged();
  goparray order, types, trefs;
  goppattern(g.b, g.n, g.closed, order, types, trefs);
  if (!std::equal(order, order + n + 1, g.order) || !std::equal(types, types + n + 1, g.types) ||
      !std::equal(trefs, trefs + n + 1, g.trefs))
    return damaged();
  if (settings.pulldown) {
    for (uint32_t t = 0; t < n; ++t) {
      uint32_t f = dbsgetbits(8);
      if (f > 3) return damaged();
      g.pulldownflags[t] = int32_t(f);
    }
    uint32_t fc = dbsgetbits(32);
    if (fc > 0x7FFFFFFFu) return damaged();
    g.fieldcount = int32_t(fc);
  }
  uint32_t cls = dbsgetbits(32);
  if (dbsreader.failed) return false;
  if (!inrange(cls, 1, 32)) return damaged();
  g.gopclass = int32_t(cls);
  for (uint32_t k = 1; k <= n; ++k)
    for (int r = 0; r < rows; ++r) {
      uint32_t w = dbsgetbits(32);
      if (w > 0x7FFFFFFFu) return damaged();
      g.rowactivity[k][r] = int32_t(w);
    }
  if (matricesinrecord()) {
    for (int i = 0; i < 128; ++i) {
      uint32_t w = dbsgetbits(16);
      if (!inrange(w, 1, 255)) return damaged();
      (i < 64 ? g.intra[i] : g.nonintra[i - 64]) = int16_t(w);
    }
  }
  return !dbsreader.failed;
}

void usegopstats(const gopstatrecord& g) {
  int n = std::clamp(g.n, 0, maxgoplength);
  for (int k = 0; k < goparraysize; ++k) {
    bool used = k >= 1 && k <= n;
    goporder[k] = used ? g.order[k] : 0;
    goptypes[k] = used ? g.types[k] : 0;
    goptrefs[k] = used ? g.trefs[k] : 0;
  }
  if (settings.pulldown) {
    std::copy(std::begin(g.pulldownflags), std::end(g.pulldownflags), std::begin(pulldownflagarray));
    fieldcount = g.fieldcount;
  }
  if (matricesinrecord()) {
    std::copy(std::begin(g.intra), std::end(g.intra), std::begin(quantmatrices.intra));
    std::copy(std::begin(g.nonintra), std::end(g.nonintra), std::begin(quantmatrices.nonintra));
    rebuildrecip();
  }
}

bool dbsreject() {
  dbsreader.failed = true;
  failreason = "its records do not fit this run";
  return dbsreportfailure();
}

void dbsdeferreports(bool on) { deferreports = on; }

bool dbsreportfailure() {
  reportfailure(dbsreadlog, dbsreadline);
  return false;
}

bool readgopunit(gopstatrecord& g) {
  thread_local gopunitrec u;
  if (!readgopunit(u)) return false;
  usegopunit(u);
  g = u.gop;
  return true;
}

bool readgopunit(gopunitrec& u) {
  if (!readgopstats(u.gop)) return false;
  for (int k = 1; k <= u.gop.n; ++k) {
    picstatrec& p = u.pictures[k];
    if (!readpicrecord(p)) return false;
    if (p.pictype != u.gop.types[u.gop.order[k]]) return damaged();
  }
  return true;
}

void usegopunit(const gopunitrec& u) {
  const int n = std::clamp(u.gop.n, 0, maxgoplength);
  int slots[maxgoplength + 1] = {};
  bool apart = true;  // every picture has a slot of its own
  for (int k = 1; k <= n; ++k) {
    const int s = u.gop.trefs[u.gop.order[k]] + 1;
    slots[k] = s >= 1 && s <= maxslots ? s : 0;
    for (int j = 1; j < k && apart; ++j) apart = slots[j] == 0 || slots[j] != slots[k];
  }
  // Pictures in slots of their own are copied side by side; a unit that names a slot twice
  // (the GOP check refuses it afterwards) is copied in order, the later picture last.
  auto use = [&](int k) {
    if (slots[k] != 0) usepicrecord(slots[k], u.pictures[k]);
  };
  if (apart) {
    poolrun(n, [&](int part) { use(part + 1); });
  } else {
    for (int k = 1; k <= n; ++k) use(k);
  }
}

// ---- reader ----

bool dbsreadstart() {
  std::memset(dbsreader.buffer, 0, sizeof dbsreader.buffer);
  dbsreader.cursor = {};
  dbsreader.consumed = 0;
  dbsreader.recno = 3;
  dbsreader.failed = false;
  failreason.clear();
  errno = 0;
  if (!unitreadrecord(unitstats, 1, dbsreader.buffer, dbsrecordbytes) ||
      !unitreadrecord(unitstats, 2, dbsreader.buffer + dbsrecordbytes, dbsrecordbytes))
    return readfailed();
  return true;
}

bool dbsfailed() { return dbsreader.failed; }

uint32_t dbsgetbits(int n) {
  if (dbsreader.failed || n < 1) return 0;
  n = std::min(n, 32);
  const uint32_t v = peekbits(n);
  passbits(n);
  return v;
}

void dbsskipbits(int n) {
  while (n > 0 && !dbsreader.failed) {
    const int step = std::min(n, 32);
    passbits(step);
    n -= step;
  }
}

int mvdecode(int residual, int code, int rsize, int32_t& pred) {
  int f = 1 << rsize;
  int v = pred;
  if (code > 0) {
    v = pred + (code - 1) * f + residual + 1;
    if (v > 16 * f - 1) v -= 32 * f;
  } else if (code < 0) {
    v = pred - ((-code - 1) * f + residual + 1);
    if (v < -16 * f) v += 32 * f;
  }
  pred = v;
  return v;
}

int readmvcode() {
  if (dbsgetbits(1) == 1) return 0;
  if (dbsreader.failed) return mvcodeinvalid;
  const decodeentry& e = tables().mvcode[dbsshowbits(10)];
  if (e.length == 0) return mvcodeinvalid;
  dbsskipbits(e.length);
  return e.value;
}

bool readmvpair(int rsizeh, int rsizev, int d, int32_t pred[4]) {
  const int rsize[2] = {rsizeh, rsizev};
  for (int c = 0; c < 2; ++c) {
    int code = readmvcode();
    if (dbsreader.failed) return false;
    if (code == mvcodeinvalid) return damaged();
    int residual = rsize[c] > 0 && code != 0 ? int(dbsgetbits(rsize[c])) : 0;
    mvdecode(residual, code, rsize[c], pred[2 * d + c]);
  }
  return !dbsreader.failed;
}

bool readpicstats(int s) {
  if (dbsreader.failed) return false;
  if (s < 1 || s > maxslots) return damaged();
  thread_local picstatrec p;
  if (!readpicrecord(p)) return false;
  usepicrecord(s, p);
  return true;
}

void usepicrecord(int s, const picstatrec& p) {
  picslot& sl = picslots[s];
  sl.pictype = p.pictype;
  sl.mecostflag = p.mecostflag;
  if (p.pictype == 1 || p.mbs.empty()) return;
  std::copy(std::begin(p.fcodes), std::end(p.fcodes), std::begin(sl.fcodes));
  const int count = std::min(settings.mbcount, int(p.mbs.size()) - 1);
  for (int m = 1; m <= count; ++m) {
    const mbstatrec& r = p.mbs[m];
    mbrecord& mb = sl.mbs[m];
    std::copy(std::begin(r.statmv), std::end(r.statmv), std::begin(mb.statmv));
    mb.mbtype = r.mbtype;
    mb.blockclass = r.blockclass;
    mb.intraflag = r.intraflag;
    mb.skipflag = r.skipflag;
    std::copy(std::begin(r.mbdirflags), std::end(r.mbdirflags), std::begin(mb.mbdirflags));
  }
}

bool readpicrecord(picstatrec& sl) {
  sl.pictype = 0;
  if (dbsreader.failed) return false;
  uint32_t marker = dbsgetbits(32);
  dbsskipbits(32);  // the frame's luma sum: the second pass has its own
  uint32_t type = dbsgetbits(4), cost = dbsgetbits(4);
  if (dbsreader.failed) return false;
  if (marker != 0x00000101u || !inrange(type, 1, 3) || (cost != 0 && cost != 15)) return damaged();
  sl.pictype = int32_t(type);
  sl.mecostflag = cost ? -1 : 0;
  if (type == 1) {
    dbsalign();
    return !dbsreader.failed;
  }
  bool bpic = type == 3;
  if (bpic) {
    for (int i = 0; i < 8; ++i) sl.fcodes[i] = int32_t(dbsgetbits(4));
  } else {
    for (int i : {0, 1, 4, 5}) sl.fcodes[i] = int32_t(dbsgetbits(4));
    for (int i : {2, 3, 6, 7}) sl.fcodes[i] = 15;
  }
  if (dbsreader.failed) return false;
  for (int i = 0; i < (bpic ? 8 : 6); ++i)
    if ((bpic || (i != 2 && i != 3)) && !inrange(uint32_t(sl.fcodes[i]), 1, 9)) return damaged();
  const int rsize[4] = {sl.fcodes[4] - 1, sl.fcodes[5] - 1, sl.fcodes[6] - 1, sl.fcodes[7] - 1};

  int width = settings.width, height = settings.height, count = settings.mbcount;
  if (width < 16 || height < 16 || count < 1 || count > maxmbcount) return damaged();
  if (int(sl.mbs.size()) < count + 1) sl.mbs.resize(size_t(count) + 1);
  int32_t pred[4] = {};
  int x = 0, y = 0;
  for (int m = 1; m <= count; ++m) {
    mbstatrec& mb = sl.mbs[m];
    if (x == 0) std::fill(std::begin(pred), std::end(pred), 0);
    bool skip = dbsgetbits(1) != 0;
    bool fwd = dbsgetbits(1) != 0;
    bool bwd = bpic && dbsgetbits(1) != 0;
    mb.skipflag = skip ? -1 : 0;
    mb.mbdirflags[0] = fwd ? -1 : 0;
    mb.mbdirflags[1] = bwd ? -1 : 0;
    mb.mbdirflags[2] = fwd && bwd ? -1 : 0;
    mb.blockclass = int8_t(dbsgetbits(2));
    mb.intraflag = dbsgetbits(1) ? -1 : 0;
    if (dbsreader.failed) return false;
    // A slice starts every row: its first macroblock is never skipped.
    if (mb.blockclass == 0 || (skip && (x == 0 || mb.blockclass == 1))) return damaged();
    if (skip && bpic) {
      // Predicted like the macroblock before it, vectors included; predictors unchanged.
      const mbstatrec& prev = sl.mbs[m - 1];
      if (!(fwd || bwd) || (prev.mbtype & mbintra) || bool(prev.mbdirflags[0]) != fwd ||
          bool(prev.mbdirflags[1]) != bwd)
        return damaged();
      mb.mbtype = uint8_t((fwd ? mbforward : 0) | (bwd ? mbbackward : 0));
      std::copy(std::begin(prev.statmv), std::end(prev.statmv), std::begin(mb.statmv));
    } else {
      int t = 0;
      if (!skip) {
        t = readmbtype(bpic);
        if (dbsreader.failed) return false;
        if (t < 0) return damaged();
        // The direction flags are the type's motion bits; intra goes with block class 1.
        if (fwd != bool(t & mbforward) || bwd != bool(t & mbbackward) ||
            (mb.blockclass == 1) != bool(t & mbintra))
          return damaged();
      } else if (fwd) {
        return damaged();  // a skipped P macroblock has no vector
      }
      mb.mbtype = uint8_t(t);
      for (int d = 0; d < 2; ++d) {
        bool set = d == 0 ? fwd : bwd;
        if (set && !readmvpair(rsize[2 * d], rsize[2 * d + 1], d, pred)) return false;
        mb.statmv[2 * d] = int16_t(set ? pred[2 * d] : 0);
        mb.statmv[2 * d + 1] = int16_t(set ? pred[2 * d + 1] : 0);
      }
      if ((t & mbintra) || (!bpic && !(t & mbforward))) std::fill(std::begin(pred), std::end(pred), 0);
    }
    for (int d = 0; d < 2; ++d)
      if (!inside(x, mb.statmv[2 * d], width) || !inside(y, mb.statmv[2 * d + 1], height))
        return damaged();
    x += 16;
    if (x >= width) {
      x = 0;
      y += 16;
    }
  }
  dbsalign();
  return !dbsreader.failed;
}
