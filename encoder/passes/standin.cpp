#include "encoder/passes/standin.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "encoder/coding/codingerror.h"
#include "encoder/coding/goppattern.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/ipicture.h"
#include "encoder/coding/pbpicture.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/streamwriter.h"
#include "encoder/passes/pass1.h"
#include "encoder/control/control.h"
#include "encoder/control/framestore.h"
#include "encoder/control/preview.h"
#include "encoder/control/report.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "encoder/motion/kernels.h"
#include "platform/clock.h"
#include "platform/thread.h"
#include "videosource/bridge.h"

std::function<void(int pass, int picture)> standinprobe;
std::function<void(int pass, int picture, const pictargs& args)> standinafter;
std::atomic<int> standinpictures{0};
std::function<void(int frame, uint8_t* y, uint8_t* u, uint8_t* v)> standinsource;

namespace {

constexpr int placeholderlength = 5;  // pictures of a pass without a frame store
constexpr int previewevery = 30;      // pictures between two preview drawings

}  // namespace

bool standinplaceholder(int pass) {
  for (int k = 1; k <= placeholderlength; k++) {
    workergate();
    if (!keeprunning) return false;
    if (standinprobe) standinprobe(pass, k);
    workergate();
    if (!keeprunning) return false;
    standinpictures++;
    if (showwindow)
      putstatus(" pass " + std::to_string(pass) + ", picture " + std::to_string(k) + " of " +
                std::to_string(placeholderlength));
    clocksleep(10);
  }
  return true;
}

namespace {

// Ring entry of display position t of a GOP whose frames start after ring position base.
int ringentryof(int base, int t) { return (base + t) % settings.ringsize + 1; }

// A coding error ends the run like a failed write.
bool checkcoding() {
  if (!codingfailed()) return true;
  std::string text = codingerrortext();
  if (settings.logfileon) logline(text);
  errorout(text);
  errorline(text);
  abortrun();
  return false;
}

// The two most recent reference pictures (I or P) by slot; 0 before the first.
struct standinrefs {
  int older = 0, newest = 0;
};

// Copies the reconstruction and the macroblock records of slot from into slot to.
void copyslotaside(int from, int to) {
  const settingsrec& st = settings;
  for (int c = 0; c < 3; ++c)
    std::memcpy(reconplane(to, c), reconplane(from, c), size_t(c == 0 ? st.lumasize : st.chromasize));
  picslots[to].pictype = picslots[from].pictype;
  std::copy(picslots[from].mbs, picslots[from].mbs + st.mbcount + 1, picslots[to].mbs);
}

// One picture by its type. A reference picture becomes the newest reference and the newest
// becomes the older one, which the B pictures coded next still predict from. Slots are display
// positions, so in open GOPs of two or three pictures the new I picture lands in the slot of
// the previous GOP's last reference: that reconstruction moves aside into the spare slot (one
// past the GOP's slots) before it would be overwritten.
void codestandinpicture(int type, int curframe, int slot, int spare, standinrefs& refs,
                        pictargs& args, float& q) {
  if (type == 3) {
    args = standinargs(curframe, slot, refs.older, refs.newest);
    codebpicture(args, q);
    return;
  }
  int previous = refs.newest;
  if (previous == slot && previous != 0) {
    copyslotaside(previous, spare);
    previous = spare;
  }
  args = standinargs(curframe, slot, previous, 0);
  refs.older = previous;
  refs.newest = slot;
  if (type == 2) codepbpicture(args, q);
  else codeipicture(args, q);
}

bool codepass(int pass) {
  settingsrec& st = settings;
  const int g = standingoplength();
  const int total = st.framecount;
  streambitcount = 0;
  st.gopframe = 0;
  st.gopnumber = 0;
  pulldownphase = 0;
  fieldtotal = 0;
  int coded = 0;     // frames coded in this pass
  int ringbase = 0;  // ring position before the current GOP's first frame
  standinrefs refs;  // the two most recent reference pictures
  int previewcount = 0;
  pictargs args;

  while (coded < total) {
    // The GOP: g frames, ended early before a chapter frame (which starts a closed GOP).
    const int first = st.firstframe + coded;
    int n = std::min(g, total - coded);
    for (int t = 1; t < n; ++t)
      if (first + t < maxframes && chapterflags[first + t] == 1) {
        n = t;
        break;
      }
    const bool chapter = first < maxframes && chapterflags[first] == 1;
    seqfields.closed_gop = st.closedgops || coded == 0 || chapter ? 1 : 0;

    for (int t = 0; t < n; ++t) {
      workergate();
      if (!keeprunning) return false;
      standinfetch(pass, first + t, ringentryof(ringbase, t));
    }

    goppattern(std::clamp(st.bframes, 0, 2), n, seqfields.closed_gop, goporder, goptypes,
               goptrefs);
    if (st.pulldown) pulldownflags(n);
    st.gopnumber += 1;
    st.gopframe = coded;
    headercursor = {};
    putseqheaders(headerbuf, headercursor);
    streambitcount += 8 * int64_t(headercursor.bytepos);

    for (int k = 1; k <= n; ++k) {
      workergate();
      if (!keeprunning) return false;
      const int tr = goptrefs[goporder[k]];
      const int slot = tr + 1;
      standinpictures++;
      if (standinprobe) standinprobe(pass, coded + k);
      workergate();
      if (!keeprunning) return false;
      pichdrfields[slot].temporal_reference = tr;
      st.curpictype = goptypes[goporder[k]];
      float q = st.cqvalue;
      codestandinpicture(st.curpictype, ringentryof(ringbase, tr), slot, g + 1, refs, args, q);
      streambitcount += picslots[slot].picbits;
      if (standinafter) standinafter(pass, coded + k, args);
      if (!checkcoding()) return false;
      if (showwindow)
        putstatus(" pass " + std::to_string(pass) + ", picture " + std::to_string(coded + k) +
                  " of " + std::to_string(total));
      if (previewon && ++previewcount >= previewevery) {
        if (yuvtobmp(ringplane(args.curframe, 0), ringplane(args.curframe, 1),
                     ringplane(args.curframe, 2), st.width, st.height, previewimage))
          drawpreview();
        previewcount = 0;
      }
    }
    if (st.streamout) writestream(n, goporder, goptrefs, false);
    if (!st.closedgops) seqfields.closed_gop = 0;
    coded += n;
    ringbase = (ringbase + n) % st.ringsize;
  }
  if (st.streamout) writestream(0, goporder, goptrefs, true);
  return !streamfailed();
}

bool runpass(int pass) {
  if (!framesallocated || settings.framecount <= 0) return standinplaceholder(pass);
  return codepass(pass);
}

}  // namespace

bool standinreusedecisions = false;

pictargs standinargs(int curframe, int curslot, int fwdslot, int bwdslot) {
  return picjobfor(curframe, curslot, fwdslot, bwdslot);
}

int standingoplength() {
  int g = settings.autogop ? settings.autogopmax : settings.goplength;
  g = std::clamp(g, 1, maxgoplength);
  if (settings.slotcount >= 2) g = std::min(g, settings.slotcount - 1);
  return g;
}

void standinanalyse(int entry) {
  const settingsrec& st = settings;
  const uint8_t* y = ringplane(entry, 0);
  auto kernel = st.simdlevel >= 2 ? blockstats : st.simdlevel == 1 ? blockstatsmmx : blockstats_c;
  ringentry& e = framering[entry];
  e.lumasum = 0;
  std::fill(std::begin(e.rowactivity), std::end(e.rowactivity), 0u);
  const int rows = std::min(st.mbrows, maxrowactivity);
  for (int r = 0; r < rows; ++r) {
    uint32_t rowsum = 0;
    for (int c = 0; c < st.mbcols; ++c) {
      uint32_t sum = 0, sad = 0, act = 0;
      kernel(y, y, 16 * c, 16 * r, st.width, &sum, &sad, &act);
      e.lumasum += sum;
      rowsum += act >> 8;
    }
    e.rowactivity[r] = rowsum;
  }
}

void standinfetch(int pass, int frame, int entry) {
  const settingsrec& st = settings;
  uint8_t* y = ringplane(entry, 0);
  uint8_t* u = ringplane(entry, 1);
  uint8_t* v = ringplane(entry, 2);
  if (standinsource) {
    standinsource(frame, y, u, v);
  } else if (st.avsinput) {
    if (avsgetframe(frame, st.width, st.width / 2, y, u, v) == 6) {
      std::string text = " pass " + std::to_string(pass) + ", Avisynth error in frame " +
                         std::to_string(frame);
      if (showwindow) putstatus(text);
      if (st.logfileon) logline(text);
    }
  } else if (st.d2vinput) {
    d2vgetframe(frame, y, u, v);
  }
  standinanalyse(entry);
}

void pass2thread(statusrec*) {
  // Until the second pass reads the statistics back, it codes the clip afresh: its coders
  // search and decide as in a one-pass run instead of taking decisions it never read.
  settings.passno = standinreusedecisions ? 2 : 1;
  settings.streamout = true;
  settings.writestats = false;
  const bool ended = runpass(2);
  settings.passno = 2;
  if (ended) poststep(stepdone);
}
