#include "encoder/control/control.h"

#include <mutex>

#include "dialogs/dialogs.h"
#include "platform/queue.h"

std::atomic<int> nextstep{0};
std::atomic<int> runstate{0};
std::atomic<bool> errorflag{false};
std::atomic<bool> showwindow{true};
std::atomic<bool> keeprunning{true};
std::atomic<bool> shutdownflag{false};
std::atomic<bool> showbuffer{false};
std::atomic<bool> previewon{false};
std::atomic<int> previewzoom{1};
std::atomic<bool> zoomchanged{false};
std::atomic<bool> abortlatched{false};
std::atomic<int> exitstatus{0};
statusrec statusblock;
std::string statusline(statuslinelength, ' ');
dialogrecord* maindialog = nullptr;

namespace {
std::mutex statuslock;
}

void poststep(int step) {
  if (step == steperror) {
    abortlatched = true;
    nextstep = steperror;
  } else if (step == steppass1 || step == steppass2 || step == stepdone) {
    // A dying worker after an error, or one being stopped, must not start the next step.
    if (abortlatched || !keeprunning) return;
    int expected = nextstep.load();
    do {
      if (expected == steperror) return;
    } while (!nextstep.compare_exchange_weak(expected, step));
  } else {
    nextstep = step;
  }
  postwake();
}

void abortrun() {
  errorflag = true;
  poststep(steperror);
}

void quitrun() {
  runstate = 1;
  postwake();
}

void putstatus(const std::string& text, bool always) {
  std::string shown;
  {
    std::lock_guard<std::mutex> g(statuslock);
    statusline.assign(text, 0, std::min<size_t>(text.size(), statuslinelength));
    statusline.resize(statuslinelength, ' ');
    shown = statusline;
  }
  if ((always || showwindow) && maindialog) dlgputtext(*maindialog, 1053, shown);
}

std::string getstatusline() {
  std::lock_guard<std::mutex> g(statuslock);
  return statusline;
}
