#include "tests/support/display.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/support/blackbox.h"

bool inner() {
  const char* e = std::getenv("OSTREL_WINDOW_INNER");
  return e && std::strcmp(e, "1") == 0;
}

bool haveprogram(const std::string& name) {
  return runcommand({"sh", "-c", "command -v " + name}, "", {}, 20).status == 0;
}

namespace {
// A free X server number for xvfb-run to start its search at (tests run in parallel).
std::string servernum() { return std::to_string(200 + getpid() % 700); }
}  // namespace

std::vector<std::string> xvfb(const std::vector<std::string>& command) {
  std::vector<std::string> v{"xvfb-run", "-a", "-n", servernum(), "-s", "-screen 0 800x600x24"};
  v.insert(v.end(), command.begin(), command.end());
  return v;
}

// The font library's caches live until the process ends; the sanitizer build is told so.
std::string lsanoptions() {
  const char* e = std::getenv("LSAN_OPTIONS");
  std::string o = e && *e ? std::string(e) + ":" : std::string();
  return "LSAN_OPTIONS=" + o + "suppressions=" OSTREL_LSANSUPP;
}

// Outside: runs this very test again under a virtual display. Inside: false (run the body).
bool runoutside() {
  if (inner()) return false;
  if (!haveprogram("xvfb-run")) return true;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string filter = std::string(info->test_suite_name()) + "." + info->name();
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) {
    ADD_FAILURE() << "no path of the test program";
    return true;
  }
  self[n] = 0;
  runresult r = runcommand(xvfb({self, "--gtest_filter=" + filter}), "",
                           {"OSTREL_WINDOW_INNER=1", "OSTREL_HEADLESS=0", lsanoptions()}, 240);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("[  PASSED  ] 1 test"), std::string::npos) << r.out << r.err;
  return true;
}

// Pumps the toolkit until done() or the time is up.
bool pumpuntil(const std::function<bool()>& done, double secs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(secs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    windowpump(20);
  }
  return true;
}
void pumpfor(int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) windowpump(10);
}

// Runs a shell command (xdotool) on a thread while the window thread keeps pumping.
int withinput(const std::string& cmd) {
  std::atomic<bool> done{false};
  int status = -1;
  std::thread t([&] {
    status = std::system(cmd.c_str());
    done = true;
  });
  pumpuntil([&] { return done.load(); }, 30);
  t.join();
  pumpfor(100);
  return status;
}

std::string windownamed(const std::string& pattern) {
  std::atomic<bool> done{false};
  runresult r;
  std::thread t([&] {
    r = runcommand({"xdotool", "search", "--sync", "--name", pattern}, "", {}, 20);
    done = true;
  });
  pumpuntil([&] { return done.load(); }, 30);
  t.join();
  std::istringstream s(r.out);
  std::string id;
  s >> id;
  return id;
}

// The messages the user's input put into the main loop's queue.
std::vector<message> drain() {
  std::vector<message> v;
  for (message m; peekmsg(m);) v.push_back(m);
  return v;
}
bool hasevent(const std::vector<message>& v, int id, int event) {
  for (auto& m : v)
    if (m.kind == msgevent && m.id == id && m.event == event) return true;
  return false;
}
bool hasclose(const std::vector<message>& v) {
  for (auto& m : v)
    if (m.kind == msgclose) return true;
  return false;
}

::testing::AssertionResult colour(const image& im, int x, int y, int r, int g, int b, int tol) {
  if (im.is(x, y, r, g, b, tol)) return ::testing::AssertionSuccess();
  const uint8_t* p = im.at(x, y);
  return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is (" << (int)p[0] << ", "
                                       << (int)p[1] << ", " << (int)p[2] << "), wanted (" << r << ", "
                                       << g << ", " << b << ")";
}

image snap(dialogrecord& d) {
  image im;
  EXPECT_TRUE(windowsnapshot(d, im.rgb, im.w, im.h));
  return im;
}

bool readppm(const std::string& path, image& im) {
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxval;
  if (!(f >> magic >> im.w >> im.h >> maxval) || magic != "P6" || maxval != 255) return false;
  f.get();
  im.rgb.resize((size_t)3 * im.w * im.h);
  return (bool)f.read(reinterpret_cast<char*>(im.rgb.data()), (std::streamsize)im.rgb.size());
}
