// The scene-change scan's thread: started on its own thread, stopped cooperatively.
#include <mutex>
#include <thread>

#include "frontend/window/front.h"

std::atomic<bool> scanrunning{false};

namespace {
std::mutex scanlock;  // guards the thread object (the window thread starts and stops it)
std::thread scanner;
std::atomic<bool> stopping{false};
}  // namespace

void startscan(std::function<void()> body) {
  std::lock_guard<std::mutex> g(scanlock);
  if (scanner.joinable()) scanner.join();  // a scan that ended by itself
  stopping = false;
  scanrunning = true;
  scanner = std::thread([body = std::move(body)] {
    body();
    scanrunning = false;
  });
}

bool scanstopping() { return stopping; }

void stopscan() {
  std::lock_guard<std::mutex> g(scanlock);
  if (!scanner.joinable()) return;
  if (scanrunning) showinfo(" aborting scene change detection scan...", false);
  stopping = true;
  scanner.join();
  stopping = false;
  scanrunning = false;
}

// The "create SCD chapter list" button: starts a scan, or stops the one running; with the
// preview pages.
void scdbutton() {}
