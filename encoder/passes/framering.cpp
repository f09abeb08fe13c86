#include "encoder/passes/framering.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "common/yuvpicture.h"
#include "encoder/control/control.h"
#include "encoder/control/units.h"
#include "encoder/motion/kernels.h"
#include "encoder/passes/gopdecision.h"
#include "encoder/passes/pass1.h"
#include "platform/pool.h"
#include "platform/thread.h"
#include "videosource/bridge.h"

ringcountersrec ringcounters;
bool firstfetch = true;
mbfigures ringmbfigures[maxringsize + 1][maxmbcount];
int32_t framelumasum[maxframes];
framesourcefn ringsource;
bool ringsourceahead = false;
std::atomic<int> substitutedframes{0};

namespace {

int nextentry(int k) { return k >= settings.ringsize ? 1 : k + 1; }

int fillring(int pass);
void framedelivered(int pass, int frame, int p, int q, int result);

// The frame source's error for one frame: an 80-character status text " pass N, Avisynth
// error in frame", two blanks and the number in columns 35 to 42; the same line in the log.
void reportsourceerror(int pass, int frame) {
  char number[16];
  std::snprintf(number, sizeof number, "%8d", frame);
  const char* server = settings.d2vinput ? "DGDecode" : "Avisynth";
  std::string text = " pass " + std::to_string(pass) + ", " + server + " error in frame  " + number;
  text.resize(80, ' ');
  if (showwindow) putstatus(text);
  if (settings.logfileon) logline(text);
}

// Copies one frame's three planes from entry q to entry p.
void copyentry(int p, int q) {
  const settingsrec& st = settings;
  std::memcpy(ringplane(p, 0), ringplane(q, 0), std::size_t(st.lumasize));
  std::memcpy(ringplane(p, 1), ringplane(q, 1), std::size_t(st.chromasize));
  std::memcpy(ringplane(p, 2), ringplane(q, 2), std::size_t(st.chromasize));
}

// One frame from the source: 0, or non-zero when it was not delivered.
int sourceframe(int frame, uint8_t* y, uint8_t* u, uint8_t* v) {
  const settingsrec& st = settings;
  if (ringsource) return ringsource(frame, y, u, v);
  if (st.d2vinput) return d2vgetframe(frame, y, u, v);
  if (st.avsinput) return avsgetframe(frame, st.lumapitch, st.chromapitch, y, u, v);
  return 0;
}

}  // namespace

void initpass() {
  const settingsrec& st = settings;
  ringcountersrec& rc = ringcounters;
  rc = ringcountersrec{};
  rc.lastframe = st.lastframe;
  rc.nextframe = st.firstframe;
  rc.producer = 1;
  rc.consumer = st.ringsize;
  rc.framesleft = st.lastframe - st.firstframe + 1;
  rc.nextcode = st.firstframe;
  rc.closedflag = 1;
  substitutedframes = 0;
  initgopdecision();
  endreadahead();  // a new pass reads from its own first frame
}

namespace {
// What follows the source's answer (result 0: delivered) for frame `frame` in entry p: a frame
// not delivered is reported and the entry takes a copy of entry q (fill bytes when q = p); a
// delivered one is masked.
void framedelivered(int pass, int frame, int p, int q, int result) {
  const settingsrec& st = settings;
  uint8_t* y = ringplane(p, 0);
  uint8_t* u = ringplane(p, 1);
  uint8_t* v = ringplane(p, 2);
  if (result != 0) {
    reportsourceerror(pass, frame);
    substitutedframes.fetch_add(1);
    // Coded as a repeat of the frame before, never as what the entry held from long ago.
    if (q != p) {
      copyentry(p, q);
    } else {
      std::memset(y, st.fillbytes[0], std::size_t(st.lumasize));
      std::memset(u, st.fillbytes[1], std::size_t(st.chromasize));
      std::memset(v, st.fillbytes[2], std::size_t(st.chromasize));
    }
    return;  // the copy is masked already
  }
  if (st.maskon) shiftframe(y, u, v);
}
}  // namespace

void readframe(int pass, int frame, int p, int q) {
  // A stopped run requests no more frames; the loop ends at its next check.
  if (!keeprunning) return;
  framedelivered(pass, frame, p, q,
                 sourceframe(frame, ringplane(p, 0), ringplane(p, 1), ringplane(p, 2)));
}

void measureframe(int p, int q) {
  const settingsrec& st = settings;
  const uint8_t* a = ringplane(p, 0);
  const uint8_t* b = ringplane(q, 0);
  auto kernel = st.simdlevel >= 2 ? blockstats : st.simdlevel == 1 ? blockstatsmmx : blockstats_c;
  ringentry& e = framering[p];
  std::fill(std::begin(e.rowactivity), std::end(e.rowactivity), 0u);
  uint32_t lumasum = 0, lumasad = 0;
  int mb = 0;
  const int rows = std::min(st.mbrows, maxrowactivity);
  for (int r = 0; r < rows; ++r) {
    uint32_t rowword = 0;
    for (int c = 0; c < st.mbcols; ++c, ++mb) {
      mbfigures& f = ringmbfigures[p][mb];
      kernel(a, b, 16 * c, 16 * r, st.width, &f.lumasum, &f.sad, &f.activity);
      rowword += f.activity / 256;
      lumasum += f.lumasum;
      lumasad += f.sad;
    }
    e.rowactivity[r] = rowword;
  }
  e.lumasum = lumasum;
  e.lumasad = lumasad;
  e.usad = sadframes(ringplane(p, 1), ringplane(q, 1), st.chromasize);
  e.vsad = sadframes(ringplane(p, 2), ringplane(q, 2), st.chromasize);
}

void fetchpass1(int& n, int& nb) {
  fillpass1();
  decidegop(ringcounters.framesleft, gopcount, ringcounters.closedflag, n, nb);
}

int fillpass1() { return fillring(1); }

void fetchpass2() { fillring(2); }

void shiftframe(uint8_t* y, uint8_t* u, uint8_t* v) {
  const settingsrec& st = settings;
  maskpicture(y, u, v, st.width, st.height, st.maskshift[0], st.maskshift[1], st.maskshift[2],
              st.fillbytes);
}

namespace {
// (In pieces on the coding threads: a whole picture is a copy of up to 3 MB that would
// otherwise hold up every one of them at each GOP start.)
void copypicture(int to, int from) {
  const settingsrec& st = settings;
  if (to < 1 || from < 1 || to > st.slotcount || from > st.slotcount || to == from) return;
  constexpr int pieces = 8;  // of each plane
  poolrun(3 * pieces, [&](int k) {
    const int c = k / pieces, p = k % pieces;
    const std::size_t size = std::size_t(c == 0 ? st.lumasize : st.chromasize);
    const std::size_t a = size * std::size_t(p) / pieces, b = size * std::size_t(p + 1) / pieces;
    std::memcpy(reconplane(to, c) + a, reconplane(from, c) + a, b - a);
  });
}
}  // namespace

void saveframe() { copypicture(settings.slotcount, newref); }
void restoreframe() { copypicture(newref, settings.slotcount); }

// ---- the fill and its read-ahead ----
//
// A fill takes the frames for the entries from the producer up to the consumer, in frame
// order. Without a frame reader each frame is asked for and finished (masked, or reported and
// replaced) before the next, as always. With one, the frames come from the reader's read-ahead
// pictures: the fill waits for each in order at the pause gate, trades the delivered ones'
// pictures with their entries' and masks them on the coding threads, and finishes the others
// in order; the frames are then measured on the coding threads, each against its entry's
// neighbour, whose picture is final by then; last, in frame order, what depends on the order:
// the frame numbers, framelumasum and the scene analysis. Every entry thus holds what one
// thread reading, masking and measuring frame after frame gives it.
namespace {

// The frame reader: a thread of its own that asks the source for the pass's frames in order,
// ahead of the fill, into the read-ahead pictures of the frame store (depth of them, two GOPs'
// worth and one): frame f into picture f mod depth + 1. A frame taken into the ring trades its
// picture with the ring entry's old one, which the reader then fills with a later frame.
struct readaheadrec {
  std::thread thread;
  std::mutex lock;
  std::condition_variable change;
  bool running = false;  // a reader exists (until endreadahead)
  bool stop = false;
  int depth = 0;
  int lastframe = 0;     // the pass's last frame
  int next = 0;          // the frame the reader asks for next; frames before it are staged
  int taken = 0;         // the first frame the fill has not released
  std::unique_ptr<int[]> results;   // by read-ahead picture: the source's result
  std::unique_ptr<bool[]> asked;    // and whether it was asked at all (not in a stopped run)
  ~readaheadrec() { endreadahead(); }
};
readaheadrec ahead;

planeoffsets& stagedpicture(int frame) { return aheadplanes[frame % ahead.depth + 1]; }

uint8_t* stagedplane(int frame, int comp) {
  const planeoffsets& p = stagedpicture(frame);
  return framebase + (comp == 0 ? p.y : comp == 1 ? p.u : p.v);
}

void readerloop(bool forworker) {
  if (forworker) helpworker();
  std::unique_lock<std::mutex> g(ahead.lock);
  for (;;) {
    ahead.change.wait(g, [] {
      return ahead.stop || (ahead.next <= ahead.lastframe && ahead.next - ahead.taken < ahead.depth);
    });
    if (ahead.stop) return;
    const int f = ahead.next;
    g.unlock();
    workergate();
    // A stopped run asks for nothing more (the fill then keeps the entries as they are).
    const bool ask = keeprunning;
    const int result = ask ? sourceframe(f, stagedplane(f, 0), stagedplane(f, 1), stagedplane(f, 2))
                           : 0;
    g.lock();
    ahead.results[f % ahead.depth] = result;
    ahead.asked[f % ahead.depth] = ask;
    ahead.next = f + 1;
    ahead.change.notify_all();
  }
}

// Frames are read ahead with more than one coding thread into the frame store's read-ahead
// pictures, from the video source bridge (the test seams only when ringsourceahead says so).
bool readaheadwanted() {
  if (poolthreads() <= 1 || aheadcount < 2 || !framesallocated) return false;
  return !ringsource || ringsourceahead;
}

// A reader that delivers frames from `frame` on: the running one when it is there, else a new
// one. False when frames are read by the fill itself.
bool startreadahead(int frame) {
  if (ahead.running) {
    std::lock_guard<std::mutex> g(ahead.lock);
    if (ahead.taken == frame && ahead.lastframe == ringcounters.lastframe) return true;
  }
  endreadahead();
  if (!readaheadwanted()) return false;
  ahead.depth = aheadcount;
  ahead.results.reset(new (std::nothrow) int[ahead.depth]);
  ahead.asked.reset(new (std::nothrow) bool[ahead.depth]);
  if (!ahead.results || !ahead.asked) {  // no room: the fill reads for itself
    ahead.results.reset();
    ahead.asked.reset();
    return false;
  }
  ahead.stop = false;
  ahead.lastframe = ringcounters.lastframe;
  ahead.next = ahead.taken = frame;
  const bool forworker = onworker();
  ahead.thread = std::thread(readerloop, forworker);
  ahead.running = true;
  if (forworker) atworkerend(endreadahead);
  return true;
}

// Frame f from the reader (the fill takes frames in order): whether it was asked for, and the
// source's result.
bool takeahead(int f, int& result) {
  std::unique_lock<std::mutex> g(ahead.lock);
  // A pause that holds the reader before it asked for f holds the fill here too: the worker
  // then waits at its own gate, as a fill reading for itself would.
  while (!ahead.change.wait_for(g, std::chrono::milliseconds(5), [f] { return ahead.next > f; }))
    if (workersuspended()) {
      g.unlock();
      workergate();
      g.lock();
    }
  result = ahead.results[f % ahead.depth];
  return ahead.asked[f % ahead.depth];
}

// The fill is done with the read-ahead pictures of every frame up to f.
void releaseahead(int f) {
  {
    std::lock_guard<std::mutex> g(ahead.lock);
    ahead.taken = f + 1;
  }
  ahead.change.notify_all();
}

// A frame the reader delivered into entry p: the entry and the read-ahead picture trade
// pictures. Below the lines the source delivers (displayheight of them) the entry keeps what it
// held, as when the source writes into the entry: those lines move along.
void takestaged(int f, int p) {
  const settingsrec& st = settings;
  planeoffsets& entry = framering[p].planes;
  std::swap(entry, stagedpicture(f));
  const std::size_t lines = std::size_t(std::clamp(st.displayheight, 0, st.height));
  if (lines == std::size_t(st.height)) return;
  const planeoffsets& old = stagedpicture(f);
  const std::size_t w = std::size_t(st.width), cw = std::size_t(st.chromawidth);
  const std::size_t ly = lines * w, lc = lines / 2 * cw;
  std::memcpy(framebase + entry.y + ly, framebase + old.y + ly, std::size_t(st.lumasize) - ly);
  std::memcpy(framebase + entry.u + lc, framebase + old.u + lc, std::size_t(st.chromasize) - lc);
  std::memcpy(framebase + entry.v + lc, framebase + old.v + lc, std::size_t(st.chromasize) - lc);
}

struct fillframe {
  int frame, p, q;
  bool asked;
  int result;  // the source's: 0 delivered
};

int fillring(int pass) {
  ringcountersrec& rc = ringcounters;
  fillframe frames[maxringsize];
  int n = 0;
  for (int f = rc.nextframe, p = rc.producer; f <= rc.lastframe && p != rc.consumer;
       ++f, p = nextentry(p)) {
    int q = p == 1 ? settings.ringsize : p - 1;
    if (pass == 1 && firstfetch) {  // the run's very first frame is compared with itself
      q = p;
      firstfetch = false;
    }
    frames[n++] = {f, p, q, false, 0};
  }
  if (n == 0) return 0;

  if (!startreadahead(frames[0].frame)) {
    for (int k = 0; k < n; ++k) {
      workergate();
      readframe(pass, frames[k].frame, frames[k].p, frames[k].q);
    }
  } else {
    for (int b = 0; b < n; b += ahead.depth) {
      const int e = std::min(n, b + ahead.depth);
      for (int k = b; k < e; ++k) {
        workergate();
        frames[k].asked = takeahead(frames[k].frame, frames[k].result);
      }
      poolrun(e - b, [&](int k) {
        const fillframe& t = frames[b + k];
        if (!t.asked || t.result != 0) return;
        takestaged(t.frame, t.p);
        framedelivered(pass, t.frame, t.p, t.q, 0);
      });
      for (int k = b; k < e; ++k)
        if (frames[k].asked && frames[k].result != 0)
          framedelivered(pass, frames[k].frame, frames[k].p, frames[k].q, frames[k].result);
      releaseahead(frames[e - 1].frame);
    }
  }

  if (pass == 1) {
    poolrun(n, [&](int k) { measureframe(frames[k].p, frames[k].q); });
    for (int k = 0; k < n; ++k) {
      const fillframe& t = frames[k];
      ringentry& e = framering[t.p];
      e.framenumber = t.frame;
      if (t.frame >= 0 && t.frame < maxframes) framelumasum[t.frame] = int32_t(e.lumasum);
      gopframemeasured(t.p, e.lumasad, e.usad, e.vsad);
    }
  }
  rc.nextframe = frames[n - 1].frame + 1;
  rc.producer = nextentry(frames[n - 1].p);
  // A reader that has read the last frame is done; one that no worker's end would stop (a
  // pass run outside a worker) reads no further than the fill.
  if (rc.nextframe > rc.lastframe || !onworker()) endreadahead();
  return n;
}

}  // namespace

void endreadahead() {
  if (!ahead.running) return;
  {
    std::lock_guard<std::mutex> g(ahead.lock);
    ahead.stop = true;
  }
  ahead.change.notify_all();
  ahead.thread.join();
  ahead.running = false;
  ahead.results.reset();
  ahead.asked.reset();
}
