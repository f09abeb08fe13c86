#include "encoder/passes/vbvcheck.h"

#include <algorithm>

#include "encoder/passes/framering.h"
#include "encoder/passes/pass1.h"

gopsnapshotrec gopsnapshot;
float picqfactors[maxgoplength + 1];
int32_t vbvrestart = 0;
int32_t retrycount = 0;
int32_t vbvchain = 0;
bool framesaved = false;
bool lastgoptry = false;

void rollbackgop(const gopsnapshotrec& snap) {
  icount = snap.icount;
  pcount = snap.pcount;
  bcount = snap.bcount;
  newref = snap.newref;
  previewcount = snap.previewcount;
  settings.gopframe = snap.gopframe;
  gopbpics = gopbytes = gopbits = 0;
  if (framesaved) restoreframe();
}

void vbvcheck2(int, int, const gopsnapshotrec&, int) { vbvrestart = 0; }

void maxrateretry2(float&, float&, float&, const gopsnapshotrec&) { retrycount = 0; }
