#include "encoder/passes/passhooks.h"

#include <string>

#include "encoder/control/control.h"
#include "platform/clock.h"
#include "platform/thread.h"

std::function<void(int pass, int picture)> passprobe;
std::function<void(int pass, int picture, const pictargs& args)> passafter;
std::function<void(int gop, bool lasttry)> gopretryprobe;
std::atomic<int> passpictures{0};

namespace {
constexpr int placeholderlength = 5;  // pictures of a pass without a frame store
}

bool placeholderpass(int pass) {
  for (int k = 1; k <= placeholderlength; k++) {
    workergate();
    if (!keeprunning) return false;
    if (passprobe) passprobe(pass, k);
    workergate();
    if (!keeprunning) return false;
    passpictures++;
    if (showwindow)
      putstatus(" pass " + std::to_string(pass) + ", picture " + std::to_string(k) + " of " +
                std::to_string(placeholderlength));
    clocksleep(10);
  }
  return true;
}
