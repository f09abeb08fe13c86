#include "platform/queue.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace {
// The queue lives until the process ends and is never destroyed: the signal thread may post
// while static objects are being torn down at exit.
struct queuestate {
  std::mutex lock;
  std::condition_variable cond;
  std::deque<message> items;
};
queuestate& q = *new queuestate;
std::mutex& qlock = q.lock;
std::condition_variable& qcond = q.cond;
std::deque<message>& qitems = q.items;
std::atomic<int> qcloses{0};  // close requests in the queue
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
void postclose(int reason) {
  message m{msgclose};
  m.code = reason;
  qcloses.fetch_add(1);
  postmsg(m);
}

const std::atomic<int>& closepending() { return qcloses; }

namespace {
// The front message leaves the queue (the caller holds the lock).
message takefront() {
  message m = qitems.front();
  qitems.pop_front();
  if (m.kind == msgclose) qcloses.fetch_sub(1);
  return m;
}
}  // namespace
void postquit(int code) {
  message m{msgquit};
  m.code = code;
  postmsg(m);
}

bool peekmsg(message& m) {
  std::lock_guard<std::mutex> g(qlock);
  if (qitems.empty()) return false;
  m = takefront();
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
    m = takefront();
    break;
  }
  return m.kind != msgquit;
}

void clearqueue() {
  std::lock_guard<std::mutex> g(qlock);
  qitems.clear();
  qcloses = 0;
}

void setqueuepump(void (*pump)(int), void (*wake)()) {
  qwake = wake;
  qpump = pump;
  qcond.notify_all();
}
