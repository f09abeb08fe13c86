// Stand-in pass threads until the encoding passes exist. They keep the passes' protocol: set
// the pass words, pass the pause gate and check keeprunning once per "picture", write a
// status text, and end with the next step (pass 1: 12 in a two-pass run, else 99; pass 2: 99).
// A pass that was stopped ends without a step.
#include <functional>
#include <string>

#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "platform/clock.h"
#include "platform/thread.h"

// Tests watch and steer the stand-ins: called before each picture with the pass and the
// picture number (on the pass thread).
std::function<void(int pass, int picture)> standinprobe;
// Pictures the stand-ins have gone through in this process.
std::atomic<int> standinpictures{0};
constexpr int standinlength = 5;  // pictures per stand-in pass

namespace {
bool runpass(int pass) {
  for (int k = 1; k <= standinlength; k++) {
    workergate();
    if (!keeprunning) return false;
    if (standinprobe) standinprobe(pass, k);
    workergate();
    if (!keeprunning) return false;
    standinpictures++;
    if (showwindow)
      putstatus(" pass " + std::to_string(pass) + ", picture " + std::to_string(k) + " of " +
                std::to_string(standinlength));
    clocksleep(10);
  }
  return true;
}
}  // namespace

void pass1thread(statusrec*) {
  settings.passno = 1;
  settings.streamout = settings.passmode == 1;
  settings.writestats = settings.passmode == 2;
  if (!runpass(1)) return;
  poststep(settings.passmode == 2 ? steppass2 : stepdone);
}

void pass2thread(statusrec*) {
  settings.passno = 2;
  settings.streamout = true;
  settings.writestats = false;
  if (!runpass(2)) return;
  poststep(stepdone);
}
