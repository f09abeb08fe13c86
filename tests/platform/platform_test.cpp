// The platform layer: queue, worker gate and stop, clock, message box, power-off, signals.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/queue.h"
#include "platform/system.h"
#include "platform/thread.h"
#include "tests/support/waitfor.h"


TEST(queue, postsfrommanythreadskeepeachthreadsorderandquitends) {
  clearqueue();
  constexpr int threads = 4, each = 500;
  std::vector<std::thread> ts;
  for (int t = 0; t < threads; t++)
    ts.emplace_back([t] {
      for (int i = 0; i < each; i++) {
        message m{msgevent};
        m.id = t;
        m.event = i;
        postmsg(m);
      }
    });
  for (auto& t : ts) t.join();
  postquit(7);
  std::vector<int> next(threads, 0);
  message m;
  int n = 0;
  while (getmsg(m)) {
    ASSERT_EQ(m.kind, msgevent);
    EXPECT_EQ(m.event, next[(size_t)m.id]++) << "thread " << m.id;
    n++;
  }
  EXPECT_EQ(n, threads * each);
  EXPECT_EQ(m.kind, msgquit);
  EXPECT_EQ(m.code, 7);
  EXPECT_FALSE(peekmsg(m));
}

TEST(queue, pumpruns_whilewaiting_andwakecomesafterpost) {
  clearqueue();
  static std::atomic<int> pumps{0}, wakes{0};
  setqueuepump([](int ms) { pumps++; std::this_thread::sleep_for(std::chrono::milliseconds(1)); },
               [] { wakes++; });
  std::thread poster([] {
    waitfor([] { return pumps.load() >= 3; });
    postclose();
  });
  message m;
  EXPECT_TRUE(getmsg(m));
  EXPECT_EQ(m.kind, msgclose);
  poster.join();
  EXPECT_GE(pumps.load(), 3);
  EXPECT_GE(wakes.load(), 1);
  setqueuepump(nullptr, nullptr);
  postwake();
  EXPECT_TRUE(getmsg(m));
  EXPECT_EQ(m.kind, msgwake);
}

// A suspended worker makes no progress; resume lets it on; a stop opens the gate and joins.
TEST(worker, gateholdsasuspendedworkeruntilresumeorstop) {
  std::atomic<int> progress{0};
  std::atomic<bool> go{true};
  startworker([&] {
    while (go && !workerstopping()) {
      workergate();
      progress++;
      std::this_thread::yield();
    }
  });
  ASSERT_TRUE(waitfor([&] { return progress > 10; }));
  suspendworker();
  ASSERT_TRUE(waitfor([] { return workerparked(); }));
  int held = progress;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(progress.load(), held);
  resumeworker();
  ASSERT_TRUE(waitfor([&] { return progress > held + 10; }));
  suspendworker();
  ASSERT_TRUE(waitfor([] { return workerparked(); }));
  stopworker();  // must not hang on the closed gate
  EXPECT_FALSE(workerset());
  EXPECT_FALSE(workerparked());
}

TEST(worker, stopendsalongsleepoftheworkeratonce) {
  setclockscale(1.0);
  auto t0 = std::chrono::steady_clock::now();
  startworker([] { clocksleep(60000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  stopworker();
  setclockscale(-1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

TEST(worker, gateoutsidetheworkerneverblocksandjoinwaits) {
  suspendworker();  // no worker: nothing to suspend
  workergate();
  std::atomic<bool> done{false};
  startworker([&] { done = true; }, priolowest);
  joinworker();
  EXPECT_TRUE(done);
  EXPECT_FALSE(workerset());
  EXPECT_FALSE(onworker());
}

TEST(clock, scalezerodoesnotwaitandthetimesareplausible) {
  setclockscale(0);
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 300; i++) clocksleep(1000);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
  setclockscale(-1);
  double t = timeofday();
  EXPECT_GE(t, 0.0);
  EXPECT_LT(t, 86400.0);
  double c0 = processcpu();
  volatile double x = 0;
  for (int i = 0; i < 20000000; i++) x = x + i * 0.5;
  EXPECT_GT(processcpu(), c0);
}

TEST(msgbox, headlessanswersandprintsoneline) {
  setmsgboxanswer(0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(msgbox("encoding in progress,\nquit anyway ?", "KJ message", mbyesno + mbiconwarning), idyes);
  EXPECT_EQ(msgbox("about", "Ostrel 021", mbiconinformation), idok);
  setmsgboxanswer(idno);
  EXPECT_EQ(msgbox("q", "KJ message", mbyesno), idno);
  setmsgboxanswer(0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "KJ message: encoding in progress, quit anyway ?\nOstrel 021: about\nKJ message: q\n");
  int seen = 0;
  setmsgboxhook([&](const std::string& t, const std::string& c, int f) {
    seen++;
    EXPECT_EQ(c, "KJ message");
    return idno;
  });
  EXPECT_EQ(msgbox("x", "KJ message", mbyesno), idno);
  setmsgboxhook(nullptr);
  EXPECT_EQ(seen, 1);
}

TEST(system, poweroffrunsthecommandandreportsafailure) {
  std::string dir = testing::TempDir();
  std::string mark = dir + "/ostrel-poweroff-" + std::to_string(getpid());
  std::filesystem::remove(mark);
  setshutdowncommand("touch '" + mark + "'");
  std::string why;
  EXPECT_TRUE(poweroff(why)) << why;
  EXPECT_TRUE(std::filesystem::exists(mark));
  std::filesystem::remove(mark);
  setshutdowncommand("exit 3");
  EXPECT_FALSE(poweroff(why));
  EXPECT_NE(why.find("exit 3"), std::string::npos) << why;
  EXPECT_NE(why.find("status 3"), std::string::npos) << why;
  setshutdowncommand("");
}

TEST(system, programfolderisthefolderofthisprogram) {
  std::string p = programpath(), d = programdir();
  ASSERT_FALSE(d.empty());
  EXPECT_EQ(d.back(), '/');
  EXPECT_EQ(p.compare(0, d.size(), d), 0);
  EXPECT_TRUE(std::filesystem::exists(p));
}

TEST(system, sigtermandsigintbecomeclose_requests) {
  closeonsignals();
  clearqueue();
  for (int sig : {SIGTERM, SIGINT}) {
    kill(getpid(), sig);
    message m;
    ASSERT_TRUE(getmsg(m));
    EXPECT_EQ(m.kind, msgclose) << sig;
    EXPECT_EQ(m.code, closeasked) << sig;
  }
}

// The terminal closing and a pipe whose reader went away are close requests that nobody can
// answer; the failed write itself returns an error instead of ending the process. A close
// request is pending until the loop takes it.
TEST(system, sighupandsigpipebecomeclose_requestswithoutaquestion) {
  closeonsignals();
  clearqueue();
  EXPECT_EQ(closepending().load(), 0);
  kill(getpid(), SIGHUP);
  ASSERT_TRUE(waitfor([] { return closepending().load() == 1; }));
  message m;
  ASSERT_TRUE(getmsg(m));
  EXPECT_EQ(m.kind, msgclose);
  EXPECT_EQ(m.code, closehangup);
  EXPECT_EQ(closepending().load(), 0);
  // A write into a pipe without a reader, from a thread of its own as the status output does.
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  close(p[0]);
  ssize_t wrote = 0;
  int error = 0;
  std::thread([&] {
    wrote = write(p[1], "x\n", 2);
    error = errno;
  }).join();
  close(p[1]);
  EXPECT_EQ(wrote, -1);
  EXPECT_EQ(error, EPIPE);
  ASSERT_TRUE(getmsg(m));
  EXPECT_EQ(m.kind, msgclose);
  EXPECT_EQ(m.code, closepipe);
}

// Files compare by device and inode: another name of a file is that file; the program itself
// is among the files this process has mapped.
TEST(system, filesareknownbydeviceandinode) {
  const std::string dir = testing::TempDir() + "/ostrel-ids-" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string a = dir + "/a", link = dir + "/link", hard = dir + "/hard";
  { std::FILE* f = std::fopen(a.c_str(), "w"); std::fclose(f); }
  std::filesystem::create_symlink(a, link);
  std::filesystem::create_hard_link(a, hard);
  fileid ia, il, ih, ip;
  ASSERT_TRUE(fileidof(a, ia));
  ASSERT_TRUE(fileidof(link, il));
  ASSERT_TRUE(fileidof(hard, ih));
  EXPECT_TRUE(ia == il);
  EXPECT_TRUE(ia == ih);
  EXPECT_FALSE(fileidof(dir + "/none", ip));
  EXPECT_TRUE(isregularfile(link));
  EXPECT_FALSE(isregularfile(dir));
  EXPECT_FALSE(isregularfile("/dev/null"));
  ASSERT_TRUE(fileidof(programpath(), ip));
  bool mapped = false;
  for (const fileid& id : mappedfiles()) mapped = mapped || id == ip;
  EXPECT_TRUE(mapped);
  std::filesystem::remove_all(dir);
}
