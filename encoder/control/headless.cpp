// The status line without a window: countdowns that need not wait, and the progress line that
// the headless output prints. A file of its own: tests that stand in for the dialog layer link
// control.cpp without the layer.
#include <cstdio>
#include <mutex>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/window.h"
#include "encoder/control/control.h"
#include "encoder/passes/progress.h"
#include "platform/clock.h"
#include "platform/thread.h"

void statuspause(int ms) {
  if (windowactive()) clocksleep(ms);
  else if (onworker()) workergate();
}

namespace {
// The window's figures after a GOP (1027 current fps, 1019 time left) still hold the previous
// pass's values when a pass begins; they count for this pass once they have changed.
std::mutex figurelock;
int figurepass = 0;
std::string stalefps, staleleft;
bool figuresfresh = false;
}  // namespace

std::string headlessprogress(dialogrecord& dlg) {
  const std::string status = trimright(dlggettext(dlg, 1053));
  int pass = 0, n = 0, total = 0, used = -1;
  if (std::sscanf(status.c_str(), " pass %d, picture %d of %d%n", &pass, &n, &total, &used) != 3 ||
      used != (int)status.size() || total <= 0)
    return "";
  std::string line = status + ", " + std::to_string(progresspercent(total, total - n)) + "%";
  const std::string fps = trimright(dlggettext(dlg, 1027, 64));
  const std::string left = trimright(dlggettext(dlg, 1019, 64));
  std::lock_guard<std::mutex> g(figurelock);
  if (pass != figurepass) {
    figurepass = pass;
    stalefps = fps;
    staleleft = left;
    figuresfresh = false;
  }
  figuresfresh = figuresfresh || fps != stalefps || left != staleleft;
  if (figuresfresh && !fps.empty() && fps != "-") line += ", " + fps + " fps";
  if (figuresfresh && !left.empty() && left != "-") line += ", " + left + " left";
  return line;
}
