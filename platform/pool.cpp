#include "platform/pool.h"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct poolJob {
  const std::function<void(int)>* part = nullptr;
  int parts = 0;
  int helpers = 0;  // pool threads that may join this job
  std::atomic<int> next{0};
  std::atomic<int> finished{0};
};

std::atomic<int> forcedthreads{0};

int envthreads() {
  static const int n = [] {
    const char* e = std::getenv("OSTREL_THREADS");
    if (!e || !*e) return 0;
    char* end = nullptr;
    long v = std::strtol(e, &end, 10);
    if (!end || *end != 0 || v < 1) return 0;  // not a count: the system's
    return int(std::min<long>(v, maxpoolthreads));
  }();
  return n;
}

// The pool: its threads wait for a job and take parts of it until none are left.
class threadpool {
 public:
  ~threadpool() {
    {
      std::lock_guard<std::mutex> g(lock_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }

  // Runs j with up to j.helpers pool threads beside the caller.
  void run(poolJob& j) {
    std::unique_lock<std::mutex> g(lock_);
    while (int(threads_.size()) < j.helpers) threads_.emplace_back([this] { serve(); });
    current_ = &j;
    joined_ = 0;
    ++generation_;
    g.unlock();
    wake_.notify_all();
    takeparts(j);
    g.lock();
    done_.wait(g, [&] { return j.finished.load() == j.parts && active_ == 0; });
    current_ = nullptr;
  }

  static void takeparts(poolJob& j) {
    for (int k; (k = j.next.fetch_add(1)) < j.parts;) {
      (*j.part)(k);
      j.finished.fetch_add(1);
    }
  }

  std::mutex runlock;  // one job at a time

 private:
  void serve();

  std::mutex lock_;
  std::condition_variable wake_, done_;
  std::vector<std::thread> threads_;
  poolJob* current_ = nullptr;
  uint64_t generation_ = 0;
  int joined_ = 0;  // pool threads that joined the current job
  int active_ = 0;  // pool threads working on it now
  bool stopping_ = false;
};

thread_local bool inpart = false;     // this thread runs a part of a job
thread_local bool poolthread = false;  // this thread is one of the pool's

void threadpool::serve() {
  poolthread = true;
  uint64_t seen = 0;
  std::unique_lock<std::mutex> g(lock_);
  for (;;) {
    wake_.wait(g, [&] { return stopping_ || (current_ != nullptr && generation_ != seen); });
    if (stopping_) return;
    seen = generation_;
    poolJob* j = current_;
    if (joined_ >= j->helpers) continue;
    ++joined_;
    ++active_;
    g.unlock();
    inpart = true;
    takeparts(*j);
    inpart = false;
    g.lock();
    if (--active_ == 0) done_.notify_all();
  }
}

threadpool& pool() {
  static threadpool p;
  return p;
}

}  // namespace

int systemthreads() {
  cpu_set_t set;
  CPU_ZERO(&set);
  int n = 0;
  if (sched_getaffinity(0, sizeof set, &set) == 0) n = CPU_COUNT(&set);
  if (n < 1) n = int(std::thread::hardware_concurrency());
  return std::clamp(n, 1, maxpoolthreads);
}

int poolthreads() {
  if (int f = forcedthreads.load(); f > 0) return f;
  if (int e = envthreads(); e > 0) return e;
  static const int s = systemthreads();
  return s;
}

void setpoolthreads(int n) { forcedthreads = std::clamp(n, 0, maxpoolthreads); }

bool poolworker() { return poolthread; }

void poolrun(int parts, const std::function<void(int)>& part) {
  if (parts <= 0) return;
  const int threads = std::min(poolthreads(), parts);
  auto inorder = [&] {
    for (int k = 0; k < parts; ++k) part(k);
  };
  if (threads <= 1 || inpart) {
    inorder();
    return;
  }
  threadpool& p = pool();
  std::unique_lock<std::mutex> one(p.runlock, std::try_to_lock);
  if (!one.owns_lock()) {
    inorder();
    return;
  }
  poolJob j;
  j.part = &part;
  j.parts = parts;
  j.helpers = threads - 1;
  inpart = true;
  p.run(j);
  inpart = false;
}

void progressreset(partprogress& p) {
  p.count.store(0);
  p.waiting.store(0);
}

void progressset(partprogress& p, int32_t v) {
  p.count.store(v);
  if (p.waiting.load() != 0) p.count.notify_all();
}

bool progressreached(const partprogress& p, int32_t v) {
  return p.count.load(std::memory_order_acquire) >= v;
}

void progresswait(partprogress& p, int32_t v) {
  // Most waits are a few macroblocks long: spin briefly before sleeping.
  for (int spin = 0; spin < 2000; ++spin) {
    if (p.count.load(std::memory_order_acquire) >= v) return;
    __builtin_ia32_pause();
  }
  p.waiting.fetch_add(1);
  for (int32_t c; (c = p.count.load()) < v;) p.count.wait(c);
  p.waiting.fetch_sub(1);
}
