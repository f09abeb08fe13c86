#include "platform/clock.h"

#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "platform/thread.h"

namespace {
std::atomic<double> forcedscale{-1.0};

double envscale() {
  static const double s = [] {
    const char* e = std::getenv("OSTREL_TIMESCALE");
    if (!e || !*e) return 1.0;
    char* end = nullptr;
    double v = std::strtod(e, &end);
    return (end && *end == 0 && v >= 0) ? v : 1.0;
  }();
  return s;
}
}  // namespace

void setclockscale(double scale) { forcedscale = scale; }

double clockscale() {
  double f = forcedscale;
  return f >= 0 ? f : envscale();
}

void clocksleep(int ms) {
  bool worker = onworker();
  if (worker) workergate();
  double total = ms * clockscale();
  auto end = std::chrono::steady_clock::now() +
             std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                 std::chrono::duration<double, std::milli>(total));
  while (total > 0) {
    if (worker && workerstopping()) return;
    auto now = std::chrono::steady_clock::now();
    if (now >= end) break;
    std::chrono::steady_clock::duration slice = end - now;
    slice = std::min<std::chrono::steady_clock::duration>(slice, std::chrono::milliseconds(50));
    std::this_thread::sleep_for(slice);
    if (worker) workergate();
  }
}

double timeofday() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  time_t t = tv.tv_sec;
  tm lt{};
  localtime_r(&t, &lt);
  return lt.tm_hour * 3600.0 + lt.tm_min * 60.0 + lt.tm_sec + (tv.tv_usec / 1000) / 1000.0;
}

double workseconds() {
  static const auto origin = std::chrono::steady_clock::now();
  const std::chrono::duration<double> since = std::chrono::steady_clock::now() - origin;
  return since.count() - parkedseconds();
}

double processcpu() {
  timespec ts{};
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts) != 0) return 0.0;
  return ts.tv_sec + ts.tv_nsec / 1e9;
}
