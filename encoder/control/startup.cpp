// Stand-in start-up until the real sequence exists: it stores the code that the environment
// asks for, so that the step machine, the reporter and the passes can run end to end.
//   OSTREL_STANDIN_CODE     the start-up code (default 0)
//   OSTREL_STANDIN_MESSAGE  the message that goes with codes 3 and 265
//   OSTREL_STANDIN_PASSES   1 or 2 passes (default: the settings' passmode)
//   OSTREL_STANDIN_SCRIPT   1: the source is a frame-server script (re-opened before passes)
//   OSTREL_STANDIN_REOPEN   the pass (1 or 2) whose re-open fails
#include "encoder/control/startup.h"

#include <cstdlib>
#include <string>

#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "platform/queue.h"

namespace {
int envint(const char* name, int preset) {
  const char* e = std::getenv(name);
  return e && *e ? std::atoi(e) : preset;
}
}  // namespace

void initencoder(statusrec& status) {
  status.code = envint("OSTREL_STANDIN_CODE", 0);
  if (const char* m = std::getenv("OSTREL_STANDIN_MESSAGE")) status.message = m;
  settings.passmode = envint("OSTREL_STANDIN_PASSES", settings.passmode) == 1 ? 1 : 2;
  settings.avsinput = envint("OSTREL_STANDIN_SCRIPT", 0) == 1;
  if (!showwindow) settings.waitsecs = 0;  // a hidden window does not wait
  if (status.code == 0) postwake();
}

bool reopenscript(int pass) { return envint("OSTREL_STANDIN_REOPEN", 0) != pass; }

void closeencoder() {}
