// Waiting in tests for what another thread does: pred is asked every 200 microseconds until it
// holds (true) or ms milliseconds have passed (false).
#pragma once

#include <chrono>
#include <thread>

template <class F>
bool waitfor(F pred, int ms = 20000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}
