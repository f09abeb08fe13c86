#include "encoder/passes/framering.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/yuvpicture.h"
#include "encoder/control/control.h"
#include "encoder/control/units.h"
#include "encoder/motion/kernels.h"
#include "encoder/passes/gopdecision.h"
#include "encoder/passes/pass1.h"
#include "platform/thread.h"
#include "videosource/bridge.h"

ringcountersrec ringcounters;
bool firstfetch = true;
mbfigures ringmbfigures[maxringsize + 1][maxmbcount];
int32_t framelumasum[maxframes];
framesourcefn ringsource;
std::atomic<int> substitutedframes{0};

namespace {

int nextentry(int k) { return k >= settings.ringsize ? 1 : k + 1; }

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
}

void readframe(int pass, int frame, int p, int q) {
  const settingsrec& st = settings;
  uint8_t* y = ringplane(p, 0);
  uint8_t* u = ringplane(p, 1);
  uint8_t* v = ringplane(p, 2);
  // A stopped run requests no more frames; the loop ends at its next check.
  if (!keeprunning) return;
  if (sourceframe(frame, y, u, v) != 0) {
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

int fillpass1() {
  ringcountersrec& rc = ringcounters;
  int read = 0;
  while (rc.nextframe <= rc.lastframe && rc.producer != rc.consumer) {
    workergate();
    const int p = rc.producer;
    int q = p == 1 ? settings.ringsize : p - 1;
    if (firstfetch) {
      q = p;
      firstfetch = false;
    }
    readframe(1, rc.nextframe, p, q);
    framering[p].framenumber = rc.nextframe;
    measureframe(p, q);
    if (rc.nextframe >= 0 && rc.nextframe < maxframes)
      framelumasum[rc.nextframe] = int32_t(framering[p].lumasum);
    gopframemeasured(p, framering[p].lumasad, framering[p].usad, framering[p].vsad);
    rc.nextframe += 1;
    rc.producer = nextentry(p);
    ++read;
  }
  return read;
}

void fetchpass1(int& n, int& nb) {
  fillpass1();
  decidegop(ringcounters.framesleft, gopcount, ringcounters.closedflag, n, nb);
}

void fetchpass2() {
  ringcountersrec& rc = ringcounters;
  while (rc.nextframe <= rc.lastframe && rc.producer != rc.consumer) {
    workergate();
    const int p = rc.producer;
    const int q = p == 1 ? settings.ringsize : p - 1;
    readframe(2, rc.nextframe, p, q);
    rc.nextframe += 1;
    rc.producer = nextentry(p);
  }
}

void shiftframe(uint8_t* y, uint8_t* u, uint8_t* v) {
  const settingsrec& st = settings;
  maskpicture(y, u, v, st.width, st.height, st.maskshift[0], st.maskshift[1], st.maskshift[2],
              st.fillbytes);
}

namespace {
void copypicture(int to, int from) {
  const settingsrec& st = settings;
  if (to < 1 || from < 1 || to > st.slotcount || from > st.slotcount || to == from) return;
  std::memcpy(reconplane(to, 0), reconplane(from, 0), std::size_t(st.lumasize));
  std::memcpy(reconplane(to, 1), reconplane(from, 1), std::size_t(st.chromasize));
  std::memcpy(reconplane(to, 2), reconplane(from, 2), std::size_t(st.chromasize));
}
}  // namespace

void saveframe() { copypicture(settings.slotcount, newref); }
void restoreframe() { copypicture(newref, settings.slotcount); }
