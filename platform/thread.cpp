#include "platform/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {
std::mutex wlock;            // guards the thread object and the gate
std::condition_variable wgate;
std::thread wthread;
std::atomic<std::thread::id> wid{};
std::atomic<bool> wsuspended{false};
std::atomic<bool> wstopping{false};
std::atomic<bool> wparked{false};
std::atomic<int64_t> wparkedns{0};  // nanoseconds the workers spent parked
thread_local bool helper = false;
std::vector<std::function<void()>> endfns;  // the current worker's; only the worker touches it

void joinlocked(std::unique_lock<std::mutex>& g) {
  if (!wthread.joinable()) return;
  std::thread t = std::move(wthread);
  g.unlock();
  if (t.get_id() != std::this_thread::get_id()) t.join();
  else t.detach();  // a worker that ends itself cannot join itself
  g.lock();
  wid = std::thread::id{};
}
}  // namespace

void startworker(std::function<void()> fn, int priority) {
  std::unique_lock<std::mutex> g(wlock);
  joinlocked(g);
  wsuspended = false;
  wstopping = false;
  wparked = false;
  wthread = std::thread([fn = std::move(fn), priority] {
    wid = std::this_thread::get_id();
    // Lower priority is best effort: a nice value of this thread only.
    if (priority < 0) setpriority(PRIO_PROCESS, (id_t)syscall(SYS_gettid), 10);
    fn();
    std::vector<std::function<void()>> ends;
    ends.swap(endfns);
    for (auto& e : ends) e();
  });
  wid = wthread.get_id();
}

bool workerset() {
  std::lock_guard<std::mutex> g(wlock);
  return wthread.joinable();
}

void joinworker() {
  std::unique_lock<std::mutex> g(wlock);
  joinlocked(g);
}

void stopworker() {
  std::unique_lock<std::mutex> g(wlock);
  if (!wthread.joinable()) return;
  wstopping = true;
  wsuspended = false;
  wgate.notify_all();
  joinlocked(g);
}

void workergate() {
  const bool worker = onworker();
  if (!worker && !helper) return;
  std::unique_lock<std::mutex> g(wlock);
  if (!wsuspended || wstopping) return;
  if (!worker) {
    wgate.wait(g, [] { return !wsuspended || wstopping; });
    return;
  }
  wparked = true;
  const auto from = std::chrono::steady_clock::now();
  wgate.wait(g, [] { return !wsuspended || wstopping; });
  wparkedns += std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now() - from)
                   .count();
  wparked = false;
}

void helpworker() { helper = true; }

void atworkerend(std::function<void()> fn) {
  if (onworker()) endfns.push_back(std::move(fn));
}

void suspendworker() {
  std::lock_guard<std::mutex> g(wlock);
  if (wthread.joinable()) wsuspended = true;
}

void resumeworker() {
  std::lock_guard<std::mutex> g(wlock);
  wsuspended = false;
  wgate.notify_all();
}

bool workersuspended() { return wsuspended; }
bool workerparked() { return wparked; }
double parkedseconds() { return wparkedns.load() / 1e9; }
bool workerstopping() { return wstopping; }
bool onworker() { return wid.load() == std::this_thread::get_id() && wid.load() != std::thread::id{}; }
