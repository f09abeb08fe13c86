#include "platform/thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {
std::mutex wlock;            // guards the thread object and the gate
std::condition_variable wgate;
std::thread wthread;
std::atomic<std::thread::id> wid{};
std::atomic<bool> wsuspended{false};
std::atomic<bool> wstopping{false};
std::atomic<bool> wparked{false};

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
  if (!onworker()) return;
  std::unique_lock<std::mutex> g(wlock);
  if (!wsuspended || wstopping) return;
  wparked = true;
  wgate.wait(g, [] { return !wsuspended || wstopping; });
  wparked = false;
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
bool workerstopping() { return wstopping; }
bool onworker() { return wid.load() == std::this_thread::get_id() && wid.load() != std::thread::id{}; }
