// Helpers for tests in a real window under a virtual display (xvfb-run).
//
// Tests named "display*" need an X server: run from CTest (no display), each one starts its own
// binary again under xvfb-run with OSTREL_WINDOW_INNER=1 and passes when that inner run
// passes; they skip when xvfb-run is missing (DISPLAYTEST does all this). Pixel checks look at
// small known areas only, never at whole images (fonts differ).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "dialogs/window.h"
#include "platform/queue.h"

struct dialogrecord;

// This is the inner run under the virtual display.
bool inner();
bool haveprogram(const std::string& name);
// A command run under xvfb-run with an 800 x 600 screen of its own.
std::vector<std::string> xvfb(const std::vector<std::string>& command);
// The environment entry that tells the sanitizer build about the font library's caches.
std::string lsanoptions();
// Outside: runs the current test again under a virtual display and checks it passed (true:
// done). Inside: false (run the body).
bool runoutside();

#define DISPLAYTEST()                                                        \
  do {                                                                       \
    if (!inner() && !haveprogram("xvfb-run")) GTEST_SKIP() << "no xvfb-run"; \
    if (runoutside()) return;                                                \
    ASSERT_TRUE(windowstart()) << "no display under xvfb-run";               \
  } while (0)

// Pumps the toolkit until done() or the time is up; or for a time.
bool pumpuntil(const std::function<bool()>& done, double secs = 10);
void pumpfor(int ms);
// Runs a shell command (xdotool) on a thread while the window thread keeps pumping.
int withinput(const std::string& cmd);
// The X window whose name matches the pattern (xdotool's), searched while the window thread
// pumps (a window maps only then); "" when none shows within 20 seconds.
std::string windownamed(const std::string& pattern);
// The messages the user's input put into the main loop's queue.
std::vector<message> drain();
bool hasevent(const std::vector<message>& v, int id, int event);
bool hasclose(const std::vector<message>& v);

struct image {
  std::vector<uint8_t> rgb;
  int w = 0, h = 0;
  const uint8_t* at(int x, int y) const { return rgb.data() + 3 * ((size_t)y * w + x); }
  int luma(int x, int y) const {
    const uint8_t* p = at(x, y);
    return (p[0] * 299 + p[1] * 587 + p[2] * 114) / 1000;
  }
  // Pixels of the rectangle darker than the level.
  int dark(int x, int y, int rw, int rh, int level = 100) const {
    int n = 0;
    for (int j = y; j < y + rh; j++)
      for (int i = x; i < x + rw; i++) n += luma(i, j) < level;
    return n;
  }
  bool is(int x, int y, int r, int g, int b, int tol = 4) const {
    const uint8_t* p = at(x, y);
    return std::abs(p[0] - r) <= tol && std::abs(p[1] - g) <= tol && std::abs(p[2] - b) <= tol;
  }
};
::testing::AssertionResult colour(const image& im, int x, int y, int r, int g, int b, int tol = 4);
constexpr int bgr = 212, bgg = 208, bgb = 200;  // the dialog background
// The dialog drawn offscreen.
image snap(dialogrecord& d);
// A binary PPM as the window dump writes it.
bool readppm(const std::string& path, image& im);
