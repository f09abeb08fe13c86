#include "encoder/passes/pass1.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "encoder/coding/codingerror.h"
#include "encoder/coding/goppattern.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/ipicture.h"
#include "encoder/coding/pbpicture.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/quantrecip.h"
#include "encoder/coding/statstream.h"
#include "encoder/coding/streamwriter.h"
#include "encoder/control/control.h"
#include "encoder/control/echo.h"
#include "encoder/control/framestore.h"
#include "encoder/control/preview.h"
#include "encoder/control/report.h"
#include "common/texttime.h"
#include "encoder/control/units.h"
#include "encoder/passes/cqmbrloop.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/matrixstep.h"
#include "encoder/passes/progress.h"
#include "encoder/passes/passhooks.h"
#include "platform/clock.h"
#include "platform/thread.h"

int32_t gopcount = 0, gopsdone = 0;
int32_t icount = 0, pcount = 0, bcount = 0;
int32_t gopbits = 0, gopbytes = 0, gopbpics = 0, previewcount = 0;
int64_t totalbits = 0;
double qsum = 0.0;
int32_t gopratemin = gopratenone, gopratemax = 0;
int64_t gopratesum = 0;
int32_t gopbitrate = 0;
int32_t oldref = 0, newref = 0;
float picq[maxgoplength + 1];
gopstatsrec gopstats;
pictargs picjob;
passclockrec passclock;

namespace {

constexpr int previewevery = 30;  // pictures between two preview drawings (at GOP ends)

// The statistics stream of the first of two passes: the GOP record (the row words of each
// picture in coding order from its ring entry) ahead of the pictures' own records.
gopstatrecord goprecord;

void statsgoprecord(int n, int nb, int ringoffset) {
  fillgopstats(goprecord, n, nb, ringcounters.closedflag ? 1 : 0, settings.gopclass);
  const int rows = std::min({settings.mbrows, maxmbrows, maxrowactivity});
  for (int i = 1; i <= n; ++i) {
    const ringentry& e = framering[ringslotof(ringoffset, goptrefs[goporder[i]])];
    for (int r = 0; r < rows; ++r) goprecord.rowactivity[i][r] = int32_t(e.rowactivity[r]);
  }
  putgopstats(goprecord);
}

// A one-pass run stopped or ended on an error keeps the whole GOPs it coded: the writer's last
// record goes out with the end code (nothing at all when no GOP was done, so no bare end code;
// nothing either after a failed write, which has cut the stream itself).
void closestoppedstream() {
  if (framesallocated && settings.streamout && gopsdone > 0 && !streamfailed())
    writestream(0, goporder, goptrefs, true);
}

}  // namespace

int ringslotof(int offset, int d) {
  int s = offset + d + 1;
  return s > settings.ringsize ? s - settings.ringsize : s;
}

bool mustend() { return !keeprunning || errorflag || abortlatched; }

bool picturegate(int pass) {
  workergate();
  if (mustend()) return false;
  if (passprobe) passprobe(pass, settings.gopframe + 1);
  workergate();
  return !mustend();
}

codingposition positionof(int i, int ringoffset) {
  const int k = goporder[i];
  const int d = goptrefs[k];
  settings.curpictype = goptypes[k];
  pichdrfields[d + 1].temporal_reference = d;
  return {goptypes[k], ringslotof(ringoffset, d), d + 1};
}

void gopclock(int n, double t0, double& last) {
  const settingsrec& st = settings;
  const ringcountersrec& rc = ringcounters;
  const double now = workseconds();
  passclock.passtime = now - t0;
  passclock.currentfps = now - last > 0 ? int(std::lround(n / (now - last))) : 0;
  last = now;
  passclock.timeleft =
      st.framecount != rc.framesleft
          ? int(std::lround((st.framecount - st.gopframe) * passclock.passtime /
                            (st.framecount - rc.framesleft)))
          : 0;
}

// A coding error ends the run like a failed write: log line, error line, step 98.
bool checkcoding() {
  if (!codingfailed()) return true;
  std::string text = codingerrortext();
  if (settings.logfileon) logline(text);
  errorout(text);
  errorline(text);
  abortrun();
  return false;
}

void codepicture(int type, float& q) {
  switch (type) {
    case 2:
      codepbpicture(picjob, q);
      break;
    case 3:
      codebpicture(picjob, q);
      break;
    default:
      codeipicture(picjob, q);
      break;
  }
}

int keepolderreference(int slot) {
  const settingsrec& st = settings;
  const int spare = st.slotcount;
  if (newref == 0 || newref != slot || spare == slot) return newref;
  for (int c = 0; c < 3; ++c)
    std::memcpy(reconplane(spare, c), reconplane(newref, c),
                std::size_t(c == 0 ? st.lumasize : st.chromasize));
  picslots[spare].pictype = picslots[newref].pictype;
  std::copy(picslots[newref].mbs, picslots[newref].mbs + st.mbcount + 1, picslots[spare].mbs);
  return spare;
}

void picturejob(int type, int ring, int slot) {
  if (type == 3) {
    picjob = picjobfor(ring, slot, oldref, newref);
    return;
  }
  picjob = picjobfor(ring, slot, type == 2 ? newref : 0, 0);
  oldref = keepolderreference(slot);
  newref = slot;
}

void countpicture(int type, int ring) {
  if (type == 3) {
    bcount += 1;
    gopbpics += 1;
  } else {
    (type == 1 ? icount : pcount) += 1;
    ringcounters.consumer = ring;
  }
}

void gopfinished(int n, int nb, float qi, float qp, float qb, int lastring, bool rated) {
  const settingsrec& st = settings;
  if (rated) {
    gopratemin = std::min(gopratemin, gopbitrate);
    gopratemax = std::max(gopratemax, gopbitrate);
    gopratesum += gopbits;
  }
  showgopprogress(passfiguresnow(n, nb, qi, qp, qb));
  if (previewon && previewcount >= previewevery) {
    if (yuvtobmp(ringplane(lastring, 0), ringplane(lastring, 1), ringplane(lastring, 2),
                 st.width, st.height, previewimage))
      drawpreview();
    previewcount = 0;
  }
  for (int i = 1; i <= n; ++i) qsum += picq[i];
}

pictargs picjobfor(int curframe, int curslot, int fwdslot, int bwdslot) {
  const settingsrec& st = settings;
  pictargs a;
  a.curframe = curframe;
  a.curslot = curslot;
  a.fwdslot = fwdslot;
  a.bwdslot = bwdslot;
  a.ypitch = st.width;
  a.cpitch = st.chromawidth;
  a.cury = ringplane(curframe, 0);
  a.curu = ringplane(curframe, 1);
  a.curv = ringplane(curframe, 2);
  if (fwdslot > 0) {
    a.fwdy = reconplane(fwdslot, 0);
    a.fwdu = reconplane(fwdslot, 1);
    a.fwdv = reconplane(fwdslot, 2);
  }
  if (bwdslot > 0) {
    a.bwdy = reconplane(bwdslot, 0);
    a.bwdu = reconplane(bwdslot, 1);
    a.bwdv = reconplane(bwdslot, 2);
  }
  a.predy = predplane(0);
  a.predu = predplane(1);
  a.predv = predplane(2);
  a.resy = residplane(0, 0);
  a.resu = residplane(0, 1);
  a.resv = residplane(0, 2);
  a.mescratch = scratchblock(0);
  a.predscratch = scratchblock(1);  // blocks 1, 2 and 3 follow each other
  return a;
}

void resetpasscounters() {
  settings.gopframe = 0;
  settings.gopnumber = 0;
  gopcount = gopsdone = newref = oldref = 0;
  icount = pcount = bcount = previewcount = 0;
  totalbits = 0;
  qsum = 0.0;
  gopratesum = 0;
  gopratemin = gopratenone;
  gopratemax = 0;
  streambitcount = 0;
}

bool startgop() {
  gopbytes = gopbits = gopbpics = 0;
  gopcount += 1;
  settings.gopnumber = gopcount;
  if (gopcount <= maxgopcount) return true;
  abortrun();  // cannot happen: every GOP holds a frame
  return false;
}

bool pass1loop() {
  settingsrec& st = settings;
  resetpasscounters();
  int nb = st.bframes;
  showpassstart();
  double t0 = workseconds(), last = t0;
  initpass();
  const float qI = std::clamp(st.cqvalue, 1.0f, 31.0f);
  const float qP = std::clamp(st.cqvalue * st.cqpfactor, 1.0f, 31.0f);
  const float qB = std::clamp(st.cqvalue * st.cqbfactor, 1.0f, 31.0f);
  float qi = qI, qp = qP, qb = qB;  // the coders may change them by reference
  ringcountersrec& rc = ringcounters;
  int firstofgop = st.firstframe;
  int ringoffset = 0;
  int n = 0;

  do {
    fetchpass1(n, nb);
    if (mustend() || !startgop()) return false;
    // The GOP's matrices, from its own class (the one its record carries) and mean luma.
    matrixstep(firstofgop, n, st.gopclass);
    firstofgop += n;

    gopclock(n, t0, last);

    goppattern(nb, n, rc.closedflag, goporder, goptypes, goptrefs);
    if (st.pulldown) pulldownflags(n);
    seqfields.closed_gop = rc.closedflag ? 1 : 0;
    if (st.writestats) statsgoprecord(n, nb, ringoffset);
    if (matricesadapt()) rebuildrecip();

    float zonesum = 0.0f;
    int lastslot = 0;
    for (int i = 1; i <= n; ++i) {
      if (!picturegate(1)) return false;
      const auto [type, ring, slot] = positionof(i, ringoffset);
      if (i == 1) {
        headercursor = {};
        putseqheaders(headerbuf, headercursor);
        totalbits += 8 * int64_t(headercursor.bytepos);
        if (st.streamout) streambitcount += 8 * int64_t(headercursor.bytepos);
      }
      picturejob(type, ring, slot);
      float* q = type == 1 ? &qi : type == 2 ? &qp : &qb;
      countpicture(type, ring);
      codepicture(type, *q);
      if (passafter) passafter(1, st.gopframe, picjob);
      if (!checkcoding()) return false;
      // The status line tells the picture being coded (a headless run prints every change).
      if (showwindow)
        putstatus(" pass 1, picture " + std::to_string(st.gopframe) + " of " +
                  std::to_string(st.framecount));
      picq[i] = *q;
      previewcount += 1;
      gopbytes += picslots[slot].picbytes;
      gopbits += picslots[slot].picbits;
      totalbits += picslots[slot].picbits;
      if (st.streamout) streambitcount += picslots[slot].picbits;
      const int f = framering[ring].framenumber;
      if (f >= 0 && f < maxframes) zonesum += zonefactors[f];
      lastslot = ring;
    }
    if (st.streamout) gopbitrate = int32_t(double(gopbits) * st.framerate / n);
    rc.nextcode += n;
    rc.framesleft -= n;
    ringoffset += n;
    if (ringoffset > st.ringsize) ringoffset -= st.ringsize;
    gopstats.frames[gopcount] = uint8_t(n);
    gopstats.bits[gopcount] = 8 * gopbytes;
    gopstats.zone[gopcount] = zonesum / float(n);
    gopsdone += 1;
    if (st.streamout) writestream(n, goporder, goptrefs, false);
    if (st.writestats) writedbs(n, goporder, goptrefs, false);
    if (mustend()) return false;
    gopfinished(n, nb, qi, qp, qb, lastslot, st.streamout);
    if (!st.closedgops) rc.closedflag = 0;
  } while (rc.framesleft > 0);

  if (st.streamout) writestream(n, goporder, goptrefs, true);
  if (st.writestats) writedbs(n, goporder, goptrefs, true);
  showpassend(passclock.passtime);
  return true;
}

void pass1thread(statusrec*) {
  settingsrec& st = settings;
  const double start = workseconds();
  st.passno = 1;
  st.streamout = st.passmode == 1;
  st.writestats = st.passmode >= 2;
  for (int s = 1; s <= st.slotcount && s <= maxslots; ++s) {
    picslots[s].picstructure = 3;
    picslots[s].motiontype = 2;
  }
  logopening();
  startstream();
  dbswriterstart();
  firstfetch = true;
  // Until the start-up lays out a frame store, a pass only walks through placeholder pictures.
  bool ended;
  if (!framesallocated || st.framecount <= 0) ended = placeholderpass(1);
  else ended = st.cqmbrmode ? cqmbrloop() : pass1loop();
  if (!ended) {
    closestoppedstream();
    return;
  }
  passclock.passtime = workseconds() - start;
  passreport(passfiguresnow(0, 0, 0.0f, 0.0f, 0.0f), passclock.passtime);
  poststep(st.streamout ? stepdone : steppass2);
}
