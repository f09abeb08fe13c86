// The scene-change scan: the "create SCD chapter list" button and the scan's own thread, which
// stops cooperatively.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "frontend/window/planes.h"
#include "videosource/bridge.h"

std::atomic<bool> scanrunning{false};

namespace {
// Where a scan is: running until it is asked to stop or reaches its end; then either the
// thread ends the scan itself (its last frame compared: it lists the chapters and restores the
// page) or the one who asked to stop does.
enum scanphases : int { scanidle, scanbusy, scanasked, scanending };
std::atomic<int> phase{scanidle};
std::mutex scanlock;  // guards the thread object (the window thread starts and stops it)
std::thread scanner;

// A frame's planes before the one in sourceplanes.
planeset prevplanes;

// A change this sharp, summed over the three planes, is a scene change.
constexpr int threshold = 18;

// The controls of page 106 that a scan disables (its own button stays enabled).
const int scanlocked[] = {2008, 2009, 1097, 1029, 1030, 1037, 1038, 1015, 1011, 1012, 1016, 1014, 1013, 1036, 1061};

void lockpage(bool locked) {
  dialogrecord& p = dlgof(pagechapters);
  for (int id : scanlocked) dlgputflag(p, id, !locked, ixenabled);
}

// The page as it is without a scan: the button's caption, its controls, the list.
void restorepage() {
  dlgputtext(dlgof(pagechapters), 2010, "create SCD chapter list");
  lockpage(false);
}

// The spike history of one plane: its per-sample differences of the last three frame pairs.
struct spike {
  int old = 0, mid = 0, now = 0;
  // The newest difference in; the middle one's rise above both neighbours, relative to each.
  float term(int d) {
    old = std::max(mid, 1);
    mid = std::max(now, 1);
    now = std::max(d, 1);
    return (float)std::abs(mid - old) / (float)old + (float)std::abs(mid - now) / (float)now;
  }
};

void fetch(int n) {
  const previewstaterec& p = previewstate;
  planeset& s = sourceplanes;
  // A frame the source cannot deliver leaves the planes as they were; the scan goes on.
  if (d2vinput) d2vgetframe(n, s.y, s.u, s.v);
  else avsgetframe(n, p.lumapitch, p.chromapitch, s.y, s.u, s.v);
}

// The scan over every frame of the source, on the scan thread. Chapters go straight into the
// table (the page is locked meanwhile); the page's controls go through the layer's table.
void scdthread() {
  dialogrecord& page = dlgof(pagechapters);
  const bool encodeon = dlggetflag(dlgof(dlgmain), 1012, ixenabled);
  const previewstaterec& p = previewstate;
  const int n = guisettings.sourceframes;
  chaptertablerec& c = chaptertable;
  c.count = 0;
  std::fill(std::begin(c.frames), std::end(c.frames), 0);
  spike y, u, v;
  int lastprogress = 0;
  fetch(0);
  for (int f = 1; f < n; f++) {
    if (scanstopping()) return;
    copyblocks256(sourceplanes.y, prevplanes.y, p.lumasize);
    copyblocks16(sourceplanes.u, prevplanes.u, p.chromasize);
    copyblocks16(sourceplanes.v, prevplanes.v, p.chromasize);
    fetch(f);
    const int sady = planesad(sourceplanes.y, prevplanes.y, p.lumasize);
    const int sadu = planesad(sourceplanes.u, prevplanes.u, p.chromasize);
    const int sadv = planesad(sourceplanes.v, prevplanes.v, p.chromasize);
    // The slider and the frame edit move at most sliderrange times in a scan.
    const int progress = (int)std::lround((float)p.sliderrange * (float)f / (float)n);
    if (progress > lastprogress) {
      dlgputint(page, 1061, progress);
      dlgputtext(page, 1036, adjustleft(fmtint(f, 8)));
      lastprogress = progress;
    }
    // Mean differences per sample; the chroma ones count four times (a quarter of the samples).
    const int dy = p.lumasize > 0 ? sady / p.lumasize : 0;
    const int du = p.chromasize > 0 ? 4 * sadu / p.chromasize : 0;
    const int dv = p.chromasize > 0 ? 4 * sadv / p.chromasize : 0;
    const float sum = y.term(dy) + u.term(du) + v.term(dv);
    // The history starts at nothing: until it holds three real differences (frame 3) the
    // first one would stand out against it and put a chapter at frame 1 of every moving clip.
    if (f < 3 || std::lround(sum) < threshold) continue;
    // The middle frame of the three starts the new scene. The frames come in order, so the table
    // stays sorted; a full table takes no more.
    if (c.count < maxchapters) c.frames[++c.count] = f - 1;
    // The preview draws frame f from a masked copy: the next comparison sees it unmasked.
    showpicture(page);
  }
  // The last frame was compared: the scan ends here unless a stop was asked for meanwhile.
  int busy = scanbusy;
  if (!phase.compare_exchange_strong(busy, scanending)) return;
  showchapterlist();
  showinfo(c.count > 0 ? " scene change chapters put into list" : " no scene change found", false);
  restorepage();
  dlgputflag(dlgof(dlgmain), 1012, encodeon, ixenabled);
}

// Asks a running scan to stop and waits for its thread. True when the scan stopped before its
// end (the caller restores the page), false when there was none or it ended by itself.
bool endscan() {
  std::lock_guard<std::mutex> g(scanlock);
  if (!scanner.joinable()) return false;
  int busy = scanbusy;
  const bool stopped = phase.compare_exchange_strong(busy, scanasked);
  scanner.join();
  phase = scanidle;
  scanrunning = false;
  return stopped;
}
}  // namespace

void startscan(std::function<void()> body) {
  std::lock_guard<std::mutex> g(scanlock);
  if (scanner.joinable()) scanner.join();  // a scan that ended by itself
  phase = scanbusy;
  scanrunning = true;
  scanner = std::thread([body = std::move(body)] {
    body();
    scanrunning = false;
  });
}

bool scanstopping() { return phase == scanasked; }

void stopscan() {
  if (scanrunning) showinfo(" aborting scene change detection scan...", false);
  endscan();
}

void scdbutton() {
  dialogrecord& page = dlgof(pagechapters);
  if (trimright(dlggettext(page, 2010, 80)).compare(0, 4, "stop") != 0) {
    clearchapters();
    dlgputtext(page, 2010, "stop scanning");
    lockpage(true);
    startscan(scdthread);
    return;
  }
  if (!endscan()) return;  // the scan had ended by itself and restored the page
  restorepage();
  showchapterlist();
  showinfo(" scanning interrupted, found scene change chapters put into list", false);
}
