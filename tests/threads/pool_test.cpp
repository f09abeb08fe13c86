// The coding threads' pool and the worker's helpers: every part of a job runs once, on no more
// threads than the count, side by side when there are several; jobs back to back never mix;
// parts that wait for an earlier part's progress never hang; jobs started inside a part run in
// order on that thread; the count comes from the environment or the system. A helper of the
// worker stops at the pause gate with it and is ended when the worker's function returns; the
// time at work leaves the pause out.
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/pool.h"
#include "platform/thread.h"
#include "tests/support/waitfor.h"

namespace {

constexpr int counts[] = {1, 2, 3, 8};

class pool : public ::testing::Test {
 protected:
  void TearDown() override { setpoolthreads(0); }
};

}  // namespace

// Each part once; one thread runs them in order on the caller; several never use more threads
// than the count; jobs of 0 and 1 parts and of far more parts than threads.
TEST_F(pool, everypartrunsonceonnomorethreadsthanthecount) {
  for (int t : counts) {
    setpoolthreads(t);
    EXPECT_EQ(poolthreads(), t);
    for (int parts : {0, 1, 5, 72, 1000}) {
      std::vector<std::atomic<int>> runs(size_t(parts) + 1);
      std::mutex m;
      std::set<std::thread::id> who;
      std::vector<int> order;
      poolrun(parts, [&](int k) {
        runs[size_t(k)]++;
        std::lock_guard<std::mutex> g(m);
        who.insert(std::this_thread::get_id());
        order.push_back(k);
      });
      for (int k = 0; k < parts; ++k) ASSERT_EQ(runs[size_t(k)].load(), 1) << t << " " << k;
      EXPECT_LE(int(who.size()), t) << parts;
      if (t == 1 && parts > 0) {
        EXPECT_EQ(who, std::set<std::thread::id>{std::this_thread::get_id()});
        for (int k = 0; k < parts; ++k) EXPECT_EQ(order[size_t(k)], k);
      }
    }
  }
}

// Many small jobs back to back, of changing counts of parts (a job of more parts right after
// one of fewer): a thread late from one job never runs a part of the next, and every part of
// every job runs exactly once, inside its job.
TEST_F(pool, jobsbacktobacknevermix) {
  for (int t : {2, 3, 8}) {
    setpoolthreads(t);
    std::atomic<int> current{0};
    std::atomic<long> strays{0};
    for (int job = 1; job <= 20000; ++job) {
      current = job;
      const int parts = 1 + job % 7;
      std::atomic<int> runs{0};
      poolrun(parts, [&, job](int) {
        if (current.load() != job) strays++;
        runs++;
      });
      ASSERT_EQ(runs.load(), parts) << t << " threads, job " << job;
    }
    EXPECT_EQ(strays.load(), 0) << t;
  }
}

// With several threads the parts do run side by side: two parts that each wait for the other
// to have started finish (in order alone they could not).
TEST_F(pool, partsrunsidebyside) {
  for (int t : {2, 3, 8}) {
    setpoolthreads(t);
    std::atomic<int> started{0};
    std::atomic<bool> ok{true};
    poolrun(2, [&](int) {
      started++;
      if (!waitfor([&] { return started.load() == 2; }, 5000)) ok = false;
    });
    EXPECT_TRUE(ok) << t << " threads never ran both parts at once";
  }
}

// A wavefront: part k publishes its steps one by one and waits before each step until part
// k - 1 is one step ahead (the rows of a picture wait so for their neighbours above). Parts are
// handed out in increasing order, so the earliest unfinished part always runs: no count of
// threads hangs, and every step sees the step it waited for.
TEST_F(pool, wavefrontsofpartsnevershang) {
  constexpr int parts = 40, steps = 30;
  for (int t : counts) {
    setpoolthreads(t);
    std::vector<partprogress> done(parts);
    for (partprogress& p : done) progressreset(p);
    std::vector<std::atomic<int>> seen(parts * steps);
    std::atomic<bool> stale{false};
    poolrun(parts, [&](int k) {
      for (int s = 0; s < steps; ++s) {
        const int need = std::min(s + 2, steps);
        if (k > 0) {
          if (s % 2) progresswait(done[size_t(k - 1)], need);
          else
            while (!progressreached(done[size_t(k - 1)], need)) std::this_thread::yield();
          if (seen[size_t((k - 1) * steps + need - 1)].load() != 1) stale = true;
        }
        seen[size_t(k * steps + s)] = 1;
        progressset(done[size_t(k)], s + 1);
      }
    });
    EXPECT_FALSE(stale) << t;
    for (auto& v : seen) ASSERT_EQ(v.load(), 1);
  }
}

// A job started from inside a part runs its parts in order on that part's thread.
TEST_F(pool, ajobinsideapartrunsinorderonitsthread) {
  setpoolthreads(8);
  std::atomic<bool> ok{true};
  poolrun(16, [&](int) {
    const auto me = std::this_thread::get_id();
    int next = 0;
    poolrun(5, [&](int j) {
      if (std::this_thread::get_id() != me || j != next++) ok = false;
    });
    if (next != 5) ok = false;
  });
  EXPECT_TRUE(ok);
}

// The count: forced, else the environment's, else the processors this process may run on.
TEST_F(pool, thecountcomesfromtheenvironmentortheprocessors) {
  cpu_set_t set;
  CPU_ZERO(&set);
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_EQ(systemthreads(), std::clamp(CPU_COUNT(&set), 1, maxpoolthreads));
  setpoolthreads(5);
  EXPECT_EQ(poolthreads(), 5);
  setpoolthreads(1000);
  EXPECT_EQ(poolthreads(), maxpoolthreads);
  setpoolthreads(0);
  const char* e = std::getenv("OSTREL_THREADS");
  if (!e) {
    EXPECT_EQ(poolthreads(), systemthreads());
  }
  EXPECT_FALSE(poolworker());
}

// A helper of the worker (the frame reader) is held by the pause gate as the worker is, the
// worker alone counts as parked, and the worker's end runs what it asked for (here: ending its
// helper) before joinworker returns.
TEST(workerhelper, pausesandendswiththeworker) {
  std::atomic<int> helped{0};
  std::atomic<bool> helperstop{false};
  std::thread helper;
  std::atomic<bool> ended{false};
  std::atomic<bool> go{true};
  startworker([&] {
    helper = std::thread([&] {
      helpworker();
      while (!helperstop) {
        workergate();
        helped++;
        std::this_thread::yield();
      }
    });
    atworkerend([&] {
      helperstop = true;
      helper.join();
      ended = true;
    });
    while (go && !workerstopping()) workergate();
  });
  ASSERT_TRUE(waitfor([&] { return helped > 10; }));
  suspendworker();
  ASSERT_TRUE(waitfor([] { return workerparked(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the helper reaches its gate
  const int held = helped;
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(helped.load(), held);
  resumeworker();
  ASSERT_TRUE(waitfor([&] { return helped > held + 10; }));
  go = false;
  joinworker();
  EXPECT_TRUE(ended);
  EXPECT_TRUE(helperstop);
}

// The time at work runs with the wall clock and leaves out what the worker spent suspended.
TEST(workerhelper, timeatworkleavesthepauseout) {
  std::atomic<bool> paused{false};
  double worked = 0.0, wall = 0.0;
  const double parked0 = parkedseconds();
  startworker([&] {
    const auto w0 = std::chrono::steady_clock::now();
    const double t0 = workseconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    paused = true;
    workergate();  // suspended here for a while
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    worked = workseconds() - t0;
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
  });
  suspendworker();
  ASSERT_TRUE(waitfor([&] { return paused.load() && workerparked(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  resumeworker();
  joinworker();
  const double parked = parkedseconds() - parked0;
  EXPECT_GE(parked, 0.29);
  EXPECT_GE(worked, 0.099);
  EXPECT_NEAR(worked, wall - parked, 0.005);
}
