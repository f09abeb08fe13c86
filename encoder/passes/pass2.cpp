#include "encoder/passes/pass2.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "common/texttime.h"
#include "dialogs/dialogs.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/statstream.h"
#include "encoder/coding/streamwriter.h"
#include "encoder/control/control.h"
#include "encoder/control/framestore.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/intermpass.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/passhooks.h"
#include "encoder/passes/progress.h"
#include "encoder/passes/ratefeedback.h"
#include "encoder/passes/vbvcheck.h"
#include "common/fmtfield.h"
#include "platform/clock.h"
#include "platform/pool.h"
#include "platform/thread.h"

int64_t spentbits = 0;
int64_t runbits = 0;
float picbytelimit = 0.0f;

namespace {

constexpr int picturerecodes = 2;  // codings of a picture over the size limit after its first

enum : int {
  idbar = 1008,
  idpass = 1013,
  idgroup = 1018,
  idpass2time = 1023,
  idshowbuffer = 1075,
};

gopstatrecord record;  // the GOP being coded, as the first pass recorded it
int gopswritten = 0;   // GOPs accepted and handed to the stream writer

// Accepted GOPs that stood at an end of what the rate control can do: every quantiser at 31
// and still above their part of what was left to spend, qi at 1 and still below it, pictures
// the buffer check made coarser and below it by more than 2 %, or at the margin under the
// maximum bitrate (97 %) or above it.
struct ratelimitcounts {
  int coarsest = 0, finest = 0, buffer = 0, atmax = 0;
};
ratelimitcounts ratelimits;

void countratelimits(float qi, float qp, float qb, bool clean) {
  const settingsrec& st = settings;
  const double part = goppart(gopcount);
  if (qi >= 31.0f && qp >= 31.0f && qb >= 31.0f && gopbits > part) ratelimits.coarsest += 1;
  if (qi <= 1.0f && gopbits < part) ratelimits.finest += 1;
  if (!clean && gopbits < 0.98 * part) ratelimits.buffer += 1;
  if (st.maxbitrate > 0 && double(gopbitrate) >= 0.97 * double(st.maxbitrate)) ratelimits.atmax += 1;
}

// A pass that ended more than 2 % off the average asked for says so in the log, with the GOPs
// that stood at an end of the scale or at the maximum (those that made the average out of
// reach, where there are any).
void lograteoff() {
  const settingsrec& st = settings;
  if (!st.logfileon || st.framecount <= 0 || st.bitrate <= 0) return;
  const double rate = double(totalbits) * st.framerate / st.framecount;
  const double off = 100.0 * (rate / double(st.bitrate) - 1.0);
  if (std::fabs(off) <= 2.0) return;
  loglines({" *** INFO, average bitrate " + std::to_string(std::llround(rate / 1000.0)) + " kb/s, " +
            trimright(adjustleft(fmtfixed(off, 8, 2))) + " % off the specified bitrate; GOPs at " +
            "quantiser 31 over their part: " + std::to_string(ratelimits.coarsest) +
            ", at quantiser 1 under it: " + std::to_string(ratelimits.finest) +
            ", held under it by the buffer: " + std::to_string(ratelimits.buffer) +
            ", at the maximum bitrate: " + std::to_string(ratelimits.atmax)});
}

bool windowon() { return showwindow && maindialog != nullptr; }

void showpass2start() {
  if (!windowon()) return;
  dlgputtext(*maindialog, idpass, "pass 2");
  dlgputtext(*maindialog, idgroup, " encoding statistics pass 2");
  if (!settings.novbv) dlgputflag(*maindialog, idshowbuffer, true, ixenabled);
  dlgputint(*maindialog, idbar, 0);
}

// The record of GOP g of the pass against the run reading it (see pass2.h).
bool fitsrun(const gopstatrecord& r, int g) {
  const settingsrec& st = settings;
  if (g > gopsdone || g > maxgopcount || r.n != gopstats.frames[g]) return false;
  if (r.n > st.slotcount - 1 || r.n > ringcounters.framesleft) return false;
  return g > 1 || r.closed == 1;
}

// The record's row words into the ring entries of its pictures, where the coders' quantiser map
// reads them.
void putrowwords(const gopstatrecord& r, int ringoffset) {
  const int rows = std::min({settings.mbrows, maxmbrows, maxrowactivity});
  for (int i = 1; i <= r.n; ++i) {
    ringentry& e = framering[ringslotof(ringoffset, r.trefs[r.order[i]])];
    std::fill(std::begin(e.rowactivity), std::end(e.rowactivity), 0u);
    for (int row = 0; row < rows; ++row) e.rowactivity[row] = uint32_t(r.rowactivity[i][row]);
  }
}

// With several coding threads the statistics of the next GOP are read on a thread of their own
// while the pass codes the GOP before (one thread reads them when the GOP starts). GOP units go
// through a ring of two; the reader stops at its first failure, which the pass reports when it
// takes that unit, where one thread would have met it.
class statsreader {
 public:
  statsreader() : thread_([this] { run(); }) {}
  ~statsreader() { stop(); }

  // The next GOP unit, or nullptr when reading it failed (not reported yet).
  const gopunitrec* take() {
    std::unique_lock<std::mutex> g(lock_);
    change_.wait(g, [&] { return produced_ > consumed_; });
    const int k = consumed_ % 2;
    return read_[k] ? &units_[k] : nullptr;
  }
  // The unit taken is in the slots and GOP arrays: its place is free.
  void release() {
    {
      std::lock_guard<std::mutex> g(lock_);
      consumed_ += 1;
    }
    change_.notify_all();
  }
  // Ends the reader (after the unit it is reading); the pass thread then owns the stream again.
  void stop() {
    {
      std::lock_guard<std::mutex> g(lock_);
      stopping_ = true;
    }
    change_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  void run() {
    dbsdeferreports(true);
    for (;;) {
      int k;
      {
        std::unique_lock<std::mutex> g(lock_);
        change_.wait(g, [&] { return stopping_ || produced_ - consumed_ < 2; });
        if (stopping_) return;
        k = produced_ % 2;
      }
      const bool ok = readgopunit(units_[k]);
      {
        std::lock_guard<std::mutex> g(lock_);
        read_[k] = ok;
        produced_ += 1;
      }
      change_.notify_all();
      if (!ok) return;
    }
  }

  gopunitrec units_[2];
  bool read_[2] = {};
  int produced_ = 0, consumed_ = 0;
  bool stopping_ = false;
  std::mutex lock_;
  std::condition_variable change_;
  std::thread thread_;  // (last: it starts once the rest is made)
};

std::unique_ptr<statsreader> statsahead;  // the pass's reader, with several coding threads

// The next GOP of the statistics stream into the GOP arrays, the pulldown state, the matrices,
// the closed flag, the class and the ring entries' row words; its pictures' decisions into their
// slots. False when the stream failed or the record does not fit the run (reported).
bool readgop(int ringoffset) {
  if (statsahead) {
    const gopunitrec* u = statsahead->take();
    if (!u) {
      statsahead->stop();
      return dbsreportfailure();
    }
    record = u->gop;
    usegopunit(*u);
    statsahead->release();
  } else if (!readgopunit(record)) {
    return false;
  }
  if (!fitsrun(record, gopcount + 1)) {
    if (statsahead) statsahead->stop();
    return dbsreject();
  }
  usegopstats(record);
  putrowwords(record, ringoffset);
  ringcounters.closedflag = record.closed;
  seqfields.closed_gop = record.closed;
  settings.gopclass = record.gopclass;
  return true;
}

// What a stopped pass leaves: the stream of the GOPs accepted before the stop, ended like a
// whole stream (nothing when the writer has failed or no GOP was accepted), and a log line.
void closestoppedpass() {
  const settingsrec& st = settings;
  if (!framesallocated || st.passmode != 2 || streamfailed()) return;
  if (gopswritten > 0) writestream(0, goporder, goptrefs, true);
  if (!st.logfileon) return;
  const int coded = st.framecount - ringcounters.framesleft;
  loglines({gopswritten > 0
                ? " WARNING, pass 2 stopped: the stream holds the first " + std::to_string(coded) +
                      " of " + std::to_string(st.framecount) + " frames, in whole GOPs"
                : " WARNING, pass 2 stopped before its first GOP: the stream is empty"});
}

int64_t nint(double v) { return std::llround(v); }

// The picture check abandoned a try coded at tryq (qi, qp, qb) and raised them to qi, qp, qb:
// that try was too rich, and the raise follows the measured relation where it is steeper than
// the check's square root (abandonstep).
void abandonedtry(const float (&tryq)[3], float& qi, float& qp, float& qb, float& richq) {
  richq = std::max(richq, tryq[0]);
  const float raised = std::max({qi / tryq[0], qp / tryq[1], qb / tryq[2]});
  const float f = abandonstep(raised, abandonedrate);
  qi = std::min(tryq[0] * f, 31.0f);
  qp = std::min(tryq[1] * f, 31.0f);
  qb = std::min(tryq[2] * f, 31.0f);
}

}  // namespace

float picbytelimitof(int level) {
  static const float limits[3] = {160563.2f, 642252.8f, 855859.2f};
  return limits[std::clamp(level, 1, 3) - 1];
}

bool pass2loop() {
  settingsrec& st = settings;
  ringcountersrec& rc = ringcounters;
  st.gopframe = 0;
  st.gopnumber = 0;
  gopcount = newref = oldref = 0;
  gopratemin = gopratenone;
  gopratemax = 0;
  gopratesum = 0;
  spentbits = totalbits = runbits = 0;
  streambitcount = 0;
  qsum = 0.0;
  icount = pcount = bcount = previewcount = 0;
  gopswritten = 0;
  ratelimits = {};
  picbytelimit = picbytelimitof(st.level);
  showpass2start();
  double t0 = workseconds(), last = t0;
  initpass();
  vbvstart();
  if (!dbsreadstart()) return false;
  struct endreader {
    ~endreader() { statsahead.reset(); }
  } ender;
  if (poolthreads() > 1) statsahead = std::make_unique<statsreader>();
  int ringoffset = 0;
  int n = 0;

  do {
    fetchpass2();
    if (mustend()) return false;
    retrycount = 0;
    vbvrestart = 0;
    if (!readgop(ringoffset)) return false;
    n = record.n;
    framesaved = n > 1 && goptypes[goporder[2]] == 3;
    if (framesaved) saveframe();
    gopcount += 1;
    st.gopnumber = gopcount;
    gopbpics = gopbytes = gopbits = 0;
    std::fill(std::begin(picqfactors), std::end(picqfactors), 1.0f);
    float qi = 0.0f, qp = 0.0f, qb = 0.0f;
    typeqratios(qi, qp, qb, adjustrate());

    gopclock(n, t0, last);

    int lastring = 0;
    int tries = 1;
    int raterecodes = 0;  // tries of this GOP sent back for missing its share of the plan
    float richq = 0.0f;   // the coarsest qi of a try of this GOP that was too rich, or 0
    bool clean = true;    // the last whole try's pictures were all coded at qi, qp, qb
    for (;; ++tries) {
      lastgoptry = tries >= maxgoptries;
      bool restart = false;
      const float tryq[3] = {qi, qp, qb};
      for (int i = 1; i <= n && !restart; ++i) {
        if (!picturegate(2)) return false;
        const auto [type, ring, slot] = positionof(i, ringoffset);
        if (i == 1) starttry();
        picturejob(type, ring, slot);
        const float base = type == 1 ? qi : type == 2 ? qp : qb;
        // A picture too large for the level is coded again at a quantiser raised in
        // proportion to its excess, at most twice; the last coding stands.
        float q = std::min(base * picqfactors[slot], 31.0f);
        for (int coding = 0;; ++coding) {
          picq[i] = q;
          codepicture(type, q);
          if (!checkcoding()) return false;
          if (passafter) passafter(2, st.gopframe, picjob);
          const float bytes = float(picslots[slot].picbytes);
          if (coding == picturerecodes || !(bytes > picbytelimit)) break;
          st.gopframe -= 1;
          q = std::min(bytes * q / picbytelimit, 31.0f);
        }
        countpicture(type, ring);
        previewcount += 1;
        gopbytes += picslots[slot].picbytes;
        gopbits += picslots[slot].picbits;
        runbits += picslots[slot].picbits;
        lastring = ring;
        if (showwindow)
          putstatus(" pass 2, picture " + std::to_string(st.gopframe) + " of " +
                    std::to_string(st.framecount));
        if (checkpicture2(type, slot, gopsnapshot, i, n, qi, qp, qb)) restart = true;
        else showvbvbar();
      }
      if (restart) {
        if (qi != tryq[0] || qp != tryq[1] || qb != tryq[2]) abandonedtry(tryq, qi, qp, qb, richq);
        continue;
      }
      gopbitrate = int32_t(double(gopbits) * st.framerate / n);
      if (st.maxbitrate > 0 && gopbitrate > st.maxbitrate) richq = std::max(richq, qi);
      // A try far off its share of the plan is coded again from the measured relation before
      // the maximum is checked (a try far over the plan is mostly over the maximum too). Only
      // a try whose pictures were all coded at qi, qp, qb shows how their bits follow them.
      // (The pictures the start-up buffer held coarser count as clean: at the stream's start
      // the rest of the GOP wins back their detail.)
      clean = cleantry2();
      const float s = ratemeasure(gopcount, gopbits, qi, raterecodes, !lastgoptry, clean, richq);
      wholetry = {gopcount, qi, gopbits, feedback.exponent};  // (the next try's picture checks)
      if (s != 1.0f) {
        raterecodes += 1;
        for (float* q : {&qi, &qp, &qb}) *q = std::clamp(*q * s, 1.0f, 31.0f);
        rollbackgop(gopsnapshot);
        std::fill(std::begin(picqfactors), std::end(picqfactors), 1.0f);
        continue;
      }
      maxrateretry2(qi, qp, qb, gopsnapshot);
      if (gopretryprobe) gopretryprobe(gopcount, lastgoptry);
      if (retrycount > 0 && !lastgoptry) continue;
      break;
    }
    lastgoptry = false;
    gopaccepted(rc.nextcode, n, tries);
    countratelimits(qi, qp, qb, clean);

    spentbits += gopbits;
    totalbits = runbits;
    streambitcount = totalbits;
    ringoffset += n;
    if (ringoffset > st.ringsize) ringoffset -= st.ringsize;
    rc.nextcode += n;
    rc.framesleft -= n;
    if (st.streamout) writestream(n, goporder, goptrefs, false);
    gopswritten += 1;
    if (mustend()) return false;
    gopfinished(n, record.b, qi, qp, qb, lastring, true);
  } while (rc.framesleft > 0);

  if (st.streamout) writestream(n, goporder, goptrefs, true);
  if (windowon())
    dlgputtext(*maindialog, idpass2time, trimright(hmstext(nint(passclock.passtime))));
  return true;
}

void pass2thread(statusrec*) {
  settingsrec& st = settings;
  if (!framesallocated || st.framecount <= 0) {
    if (placeholderpass(2)) poststep(stepdone);
    return;
  }
  gopswritten = 0;
  if (!intermpass()) {
    closestoppedpass();
    return;
  }
  if (st.logfileon) loglines(boxlines("---------------------", "| encoding - pass 2 |"));
  const double start = workseconds();
  st.passno = 2;
  st.writestats = false;
  st.streamout = st.passmode == 2;
  startstream();  // (the first pass of two wrote no stream: this changes nothing there)
  if (!pass2loop()) {
    closestoppedpass();
    return;
  }
  lograteoff();
  const double seconds = workseconds() - start;
  const double cpu = cputime() - cpustart;
  const double wall = elapsed(clockstart);
  showtotaltime(cpu);
  if (st.logfileon) {
    const int64_t secs = nint(seconds);
    loglines({"pass 2 encoding time:           " + hmstext(secs) + "  (" +
                  std::to_string(secs) + " s)",
              "fps:                            " +
                  fmtfixed(seconds > 0.0 ? st.framecount / seconds : 0.0, 8, 1)});
    logencodingstats(passfiguresnow(0, 0, 0.0f, 0.0f, 0.0f), cpu, wall);
  }
  poststep(stepdone);
}
