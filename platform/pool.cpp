#include "platform/pool.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

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

inline void cpurelax() { __builtin_ia32_pause(); }

// Waiting: a thread first spins (jobs of one picture follow each other within microseconds and
// a sleeping thread takes far longer to wake), then yields its processor for a while (on a busy
// machine a coding thread that lost its processor gets it back sooner), then sleeps.
constexpr auto spintime = std::chrono::microseconds(50);
constexpr auto yieldtime = std::chrono::microseconds(1000);

// Repeats until ready() or the waiting time is over; true when ready.
template <typename F>
bool waitbriefly(F&& ready) {
  const auto start = std::chrono::steady_clock::now();
  for (int n = 1;; ++n) {
    if (ready()) return true;
    if (n % 64 != 0) {  // (the clock is read every 64 looks)
      cpurelax();
      continue;
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    if (waited >= yieldtime) return false;
    if (waited >= spintime) std::this_thread::yield();
  }
}

// The pool. A job is published under a new generation; its parts are claimed through one
// ticket word holding the generation (bits 32..63), the job's count of parts (16..31) and the
// next part (0..15), so a claim is checked against its own job's count, and a thread that comes
// late to a job can never claim a part of the next one. The job's caller waits only for its
// parts, never for threads that took none.
constexpr int maxjobparts = 0xFFFF;

inline uint64_t ticketof(uint64_t gen, int parts, int next) {
  return gen << 32 | uint64_t(parts) << 16 | uint64_t(next);
}
inline uint64_t genof(uint64_t t) { return t >> 32; }
inline int partsof(uint64_t t) { return int(t >> 16 & 0xFFFF); }
inline int nextof(uint64_t t) { return int(t & 0xFFFF); }

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

  void run(const std::function<void(int)>& part, int parts, int helpers) {
    while (int(threads_.size()) < helpers) {
      const int h = int(threads_.size());
      threads_.emplace_back([this, h] { serve(h); });
    }
    part_.store(&part, std::memory_order_relaxed);
    helpers_.store(helpers, std::memory_order_relaxed);
    finished_.store(0);
    const uint64_t gen = ++generation_;
    // Sequentially consistent with the sleepers' count: a thread about to sleep either counts
    // itself before this store, and is woken, or sees the new job in its last look.
    ticket_.store(ticketof(gen, parts, 0));
    if (sleepers_.load() > 0) {
      std::lock_guard<std::mutex> g(lock_);
      wake_.notify_all();
    }
    takeparts(gen);
    // The parts the others claimed.
    if (waitbriefly([&] { return finished_.load(std::memory_order_acquire) >= parts; })) return;
    for (int f; (f = finished_.load(std::memory_order_acquire)) < parts;) finished_.wait(f);
  }

  std::mutex runlock;  // one job at a time

 private:
  // Claims and runs parts of job gen until none is left (or the job is another one by now).
  void takeparts(uint64_t gen) {
    uint64_t t = ticket_.load(std::memory_order_acquire);
    for (;;) {
      if (genof(t) != gen) return;
      const int k = nextof(t), parts = partsof(t);
      if (k >= parts) return;
      if (!ticket_.compare_exchange_weak(t, t + 1, std::memory_order_acq_rel)) continue;
      // The claimed part keeps the job (and its function) alive until it is finished, so the
      // function is still this job's.
      (*part_.load(std::memory_order_relaxed))(k);
      if (finished_.fetch_add(1, std::memory_order_acq_rel) + 1 == parts) finished_.notify_all();
      t = ticket_.load(std::memory_order_acquire);
    }
  }

  // Pool thread h: joins every job that has room for it.
  void serve(int h);

  // The current job: written by its caller before the ticket names it.
  std::atomic<const std::function<void(int)>*> part_{nullptr};
  std::atomic<int> helpers_{0};  // pool threads 0..helpers-1 may join it
  std::atomic<uint64_t> ticket_{0};
  std::atomic<int> finished_{0};
  uint64_t generation_ = 0;  // the caller's count of jobs

  std::mutex lock_;  // guards sleeping and stopping
  std::condition_variable wake_;
  std::atomic<int> sleepers_{0};
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

thread_local bool inpart = false;     // this thread runs a part of a job
thread_local bool poolthread = false;  // this thread is one of the pool's

void threadpool::serve(int h) {
  poolthread = true;
  inpart = true;
  uint64_t seen = 0;  // the last generation looked at
  for (;;) {
    uint64_t gen = seen;
    waitbriefly([&] { return (gen = genof(ticket_.load(std::memory_order_acquire))) != seen; });
    if (gen == seen) {
      std::unique_lock<std::mutex> g(lock_);
      sleepers_.fetch_add(1);
      wake_.wait(g, [&] { return stopping_ || genof(ticket_.load()) != seen; });
      sleepers_.fetch_sub(1);
      if (stopping_) return;
      continue;
    }
    seen = gen;
    // (As above, a count of the next job only makes this thread skip or look in vain.)
    if (h < helpers_.load(std::memory_order_relaxed)) takeparts(gen);
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
  inpart = true;
  // Jobs of more parts go in turns, each of parts in increasing order.
  for (int base = 0; base < parts; base += maxjobparts) {
    const int n = std::min(parts - base, maxjobparts);
    if (base == 0) {
      p.run(part, n, threads - 1);
    } else {
      const std::function<void(int)> shifted = [&](int k) { part(base + k); };
      p.run(shifted, n, threads - 1);
    }
  }
  inpart = false;
}

void progressreset(partprogress& p) { p.count.store(0); }

void progressset(partprogress& p, int32_t v) { p.count.store(v, std::memory_order_release); }

int32_t progresscount(const partprogress& p) { return p.count.load(std::memory_order_acquire); }

bool progressreached(const partprogress& p, int32_t v) {
  return p.count.load(std::memory_order_acquire) >= v;
}

void progresswait(partprogress& p, int32_t v) {
  // Most waits are a few macroblocks long; a longer one (the part before lost its processor)
  // yields the processor, and past that naps briefly between looks.
  while (!waitbriefly([&] { return p.count.load(std::memory_order_acquire) >= v; }))
    std::this_thread::sleep_for(std::chrono::microseconds(50));
}
