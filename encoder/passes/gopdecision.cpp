#include "encoder/passes/gopdecision.h"

#include "encoder/passes/sceneanalysis.h"

void initgopdecision() { sceneinit(scenestate); }

void gopframemeasured(int p, uint32_t lumasad, uint32_t usad, uint32_t vsad) {
  scenemeasured(scenestate, p, int32_t(lumasad), int32_t(usad), int32_t(vsad));
}

void decidegop(int framesleft, int gopindex, int32_t& closedflag, int& n, int& nb) {
  if (!sceneanalyse(scenestate)) scdwritefailed();
  scenestate.closedflag = closedflag ? 1 : 0;
  gopdecide(scenestate, framesleft, gopindex, n, nb);
  closedflag = scenestate.closedflag;
}
