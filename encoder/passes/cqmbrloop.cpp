#include "encoder/passes/cqmbrloop.h"

#include <algorithm>
#include <string>

#include "common/texttime.h"
#include "encoder/coding/goppattern.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/quantrecip.h"
#include "encoder/coding/streamwriter.h"
#include "encoder/control/control.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/matrixstep.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/pass2.h"
#include "encoder/passes/passhooks.h"
#include "encoder/passes/progress.h"
#include "encoder/passes/vbvcheck.h"
#include "platform/clock.h"

bool cqmbrloop() {
  settingsrec& st = settings;
  ringcountersrec& rc = ringcounters;
  resetpasscounters();
  runbits = 0;
  int nb = st.bframes;
  showpassstart();
  double t0 = workseconds(), last = t0;
  initpass();
  vbvstart();
  int firstofgop = st.firstframe;
  int ringoffset = 0;
  int n = 0;

  do {
    fetchpass1(n, nb);
    if (mustend() || !startgop()) return false;
    std::fill(std::begin(picqfactors), std::end(picqfactors), 1.0f);
    retrycount = 0;
    vbvrestart = 0;
    const int gopfirst = firstofgop;
    matrixstep(firstofgop, n, st.gopclass);
    firstofgop += n;
    float qi = std::clamp(st.cqmbrvalue, 1.0f, 31.0f);
    float qp = std::clamp(st.cqmbrvalue * st.cqpfactor, 1.0f, 31.0f);
    float qb = std::clamp(st.cqmbrvalue * st.cqbfactor, 1.0f, 31.0f);

    gopclock(n, t0, last);

    goppattern(nb, n, rc.closedflag, goporder, goptypes, goptrefs);
    if (st.pulldown) pulldownflags(n);
    seqfields.closed_gop = rc.closedflag ? 1 : 0;
    if (matricesadapt()) rebuildrecip();
    // A GOP whose leading B pictures predict from the previous GOP's newest reference picture
    // keeps a copy of it: a rejected try may have overwritten its slot.
    framesaved = n > 1 && goptypes[goporder[2]] == 3;
    if (framesaved) saveframe();

    int lastring = 0;
    int tries = 1;
    for (;; ++tries) {
      lastgoptry = tries >= maxgoptries;
      bool restart = false;
      for (int i = 1; i <= n && !restart; ++i) {
        if (!picturegate(1)) return false;
        const auto [type, ring, slot] = positionof(i, ringoffset);
        if (i == 1) starttry();
        picturejob(type, ring, slot);
        const float base = type == 1 ? qi : type == 2 ? qp : qb;
        countpicture(type, ring);
        float q = std::min(base * picqfactors[slot], 31.0f);
        picq[i] = q;
        codepicture(type, q);
        if (passafter) passafter(1, st.gopframe, picjob);
        if (!checkcoding()) return false;
        if (showwindow)
          putstatus(" pass 1, picture " + std::to_string(st.gopframe) + " of " +
                    std::to_string(st.framecount));
        previewcount += 1;
        gopbytes += picslots[slot].picbytes;
        gopbits += picslots[slot].picbits;
        runbits += picslots[slot].picbits;
        lastring = ring;
        if (checkpicture1(type, slot, gopsnapshot, i, n, qi, qp, qb)) restart = true;
        else showvbvbar();
      }
      if (restart) continue;
      gopbitrate = int32_t(double(gopbits) * st.framerate / n);
      maxrateretry1(qi, qp, qb, gopsnapshot);
      if (retrycount == 0) break;
    }
    lastgoptry = false;
    gopaccepted(gopfirst, n, tries);

    totalbits = runbits;
    streambitcount = totalbits;
    rc.nextcode += n;
    rc.framesleft -= n;
    ringoffset += n;
    if (ringoffset > st.ringsize) ringoffset -= st.ringsize;
    // (no GOP statistics are kept; the count lets a stopped pass end the stream it wrote)
    gopsdone += 1;
    writestream(n, goporder, goptrefs, false);
    if (mustend()) return false;
    gopfinished(n, nb, qi, qp, qb, lastring, true);
    if (!st.closedgops) rc.closedflag = 0;
  } while (rc.framesleft > 0);

  writestream(n, goporder, goptrefs, true);
  showpassend(passclock.passtime);
  return true;
}
