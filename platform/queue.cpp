#include "platform/queue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {
std::mutex qlock;
std::condition_variable qcond;
std::deque<message> qitems;
std::atomic<void (*)(int)> qpump{nullptr};
std::atomic<void (*)()> qwake{nullptr};
}  // namespace

void postmsg(const message& m) {
  {
    std::lock_guard<std::mutex> g(qlock);
    qitems.push_back(m);
  }
  qcond.notify_all();
  if (auto w = qwake.load()) w();
}

void postwake() { postmsg(message{msgwake}); }
void postclose() { postmsg(message{msgclose}); }
void postquit(int code) {
  message m{msgquit};
  m.code = code;
  postmsg(m);
}

bool peekmsg(message& m) {
  std::lock_guard<std::mutex> g(qlock);
  if (qitems.empty()) return false;
  m = qitems.front();
  qitems.pop_front();
  return true;
}

bool getmsg(message& m) {
  for (;;) {
    if (auto p = qpump.load()) {
      if (peekmsg(m)) break;
      p(20);
      continue;
    }
    std::unique_lock<std::mutex> g(qlock);
    qcond.wait(g, [] { return !qitems.empty() || qpump.load() != nullptr; });
    if (qitems.empty()) continue;
    m = qitems.front();
    qitems.pop_front();
    break;
  }
  return m.kind != msgquit;
}

void clearqueue() {
  std::lock_guard<std::mutex> g(qlock);
  qitems.clear();
}

void setqueuepump(void (*pump)(int), void (*wake)()) {
  qwake = wake;
  qpump = pump;
  qcond.notify_all();
}
