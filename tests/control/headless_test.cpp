// The encoder without a window. In this process: the progress line it makes of dialog 101.
// From outside: what reaches stdout through a pipe and through a terminal on a long run
// (progress held to a few lines, every message kept, the last progress at 100%), every change
// with OSTREL_STATUSLINES=all, and runs that end without the countdowns' sleeps at the real
// time scale.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/layer.h"
#include "encoder/control/control.h"
#include "platform/clock.h"
#include "resources/encoder.h"
#include "tests/support/blackbox.h"

namespace {

using args = std::vector<std::string>;

std::vector<std::string> linesof(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream s(text);
  for (std::string l; std::getline(s, l);) v.push_back(l);
  return v;
}

bool isprogress(const std::string& l) { return l.rfind(" pass 1, picture ", 0) == 0; }

std::string show(const runresult& r) {
  return "status " + std::to_string(r.status) + "\nstdout:\n" + r.out + "stderr:\n" + r.err;
}

// 2,000 frames of a moving picture: long enough to print thousands of progress changes.
const char* longclip = "TestPattern(length=2000, width=176, height=144, fps=25)\n";
const char* warning = " WARNING, *VBVSIZE 5 out of range, 16384 bits used";
const char* writeerror = "ERROR,  can't write to output file, aborting...";

struct timedrun {
  runresult r;
  double seconds = 0;
};

// Runs the encoder of pf headless at the tests' time scale; stdout a pipe or a terminal. With
// limitkb the files it writes may not grow past that size (the stream's write then fails).
timedrun encode(const progfolder& pf, bool terminal, int limitkb = 0, const args& env = {}) {
  args argv = {pf.path("ostrel"), "-i", "clip.avs", "-o", "out.m2v", "-cq", "4"};
  if (limitkb > 0)
    argv.insert(argv.begin(), {"bash", "-c",
                               "ulimit -f " + std::to_string(limitkb) + "; trap '' XFSZ; exec \"$@\"",
                               "limit"});
  args e = {"OSTREL_TIMESCALE=0", "OSTREL_HEADLESS=1"};
  e.insert(e.end(), env.begin(), env.end());
  auto t0 = std::chrono::steady_clock::now();
  timedrun t;
  t.r = runcommand(argv, pf.dir(), e, 300, terminal);
  t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  return t;
}

// The progress drawings of a terminal's output: each text after a carriage return of the one
// line that holds them (trailing blanks, which wipe a longer text before, dropped).
std::vector<std::string> drawings(const std::vector<std::string>& lines) {
  std::vector<std::string> v;
  for (const std::string& l : lines) {
    if (l.find('\r') == std::string::npos) continue;
    std::istringstream s(l);
    for (std::string d; std::getline(s, d, '\r');) {
      if (d.empty()) continue;
      d.erase(d.find_last_not_of(' ') + 1);
      v.push_back(d);
    }
  }
  return v;
}

struct form {
  const char* name;
  bool terminal;
};
const form forms[] = {{"pipe", false}, {"terminal", true}};

}  // namespace

// The status line's " pass P, picture n of N" with its percentage, and the window's frame rate
// and time left once the pass has shown its own; every other status text is a message.
TEST(headlessprogressline, thestatuslineandthewindowsfiguresofthispass) {
  dlgsetresources(encoderresources, encoderresourcecount);
  dialogrecord* d = nullptr;
  ASSERT_TRUE(dlgload(101, d));
  struct step {
    const char *status, *fps, *left, *line;
  };
  const step steps[] = {
      {" pass 1, picture 40 of 250", "-", "-", " pass 1, picture 40 of 250, 16%"},
      {" pass 1, picture 250 of 250", "310", "0:00:00",
       " pass 1, picture 250 of 250, 100%, 310 fps, 0:00:00 left"},
      // Pass 2 begins with pass 1's figures in the window: they are left out until they change.
      {" pass 2, picture 1 of 250", "310", "0:00:00", " pass 2, picture 1 of 250, 0%"},
      {" pass 2, picture 30 of 250", "295", "0:00:04",
       " pass 2, picture 30 of 250, 12%, 295 fps, 0:00:04 left"},
      {" pass 2, Avisynth error in frame  5", "295", "0:00:04", ""},
      {" ( 5) encoding finished...", "295", "0:00:04", ""},
      {"ERROR,  can't write to output file, aborting...", "295", "0:00:04", ""},
      {" pass 1, picture 3 of 0", "-", "-", ""},
      {" pass 1, picture 3 of 9 more", "-", "-", ""},
  };
  for (const step& s : steps) {
    dlgputtext(*d, 1053, s.status);
    dlgputtext(*d, 1027, s.fps);
    dlgputtext(*d, 1019, s.left);
    EXPECT_EQ(headlessprogress(*d), s.line) << s.status;
  }
  dlgclose(d);
}

// Without a window the pauses that keep a text up for the user return at once, whatever the
// time scale (tests/window/window_test.cpp has the window's wait).
TEST(headlessprogressline, statuspausedoesnotwaitwithoutawindow) {
  setclockscale(1.0);
  auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < 10; i++) statuspause(60000);
  setclockscale(-1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
}

// A run that ends well: the warning and the end countdown are all there, the progress is a
// handful of lines (at most one a second in a log, ten redraws a second on a terminal) and
// its last one says 100%.
TEST(headlessoutput, alongrunprintsfewprogresslinesandeverymessage) {
  for (const form& f : forms) {
    SCOPED_TRACE(f.name);
    progfolder pf;
    pf.write("clip.avs", longclip);
    pf.write("KJ.ini", "*VBVSIZE 5\n");
    timedrun t = encode(pf, f.terminal);
    const runresult& r = t.r;
    ASSERT_EQ(r.status, 0) << show(r);
    // The program folder's settings file read beside the switches is said first.
    const std::string infile = " WARNING, settings file \"" + pf.path("KJ.ini") +
                               "\" (the program folder's; the front end writes it at every encode) was read "
                               "with the switches; in effect from it: *VBVSIZE 5 (-ini names another settings file)";
    EXPECT_EQ(r.err, "ostrel: " + infile.substr(1) + "\n" + std::string("ostrel: ") + (warning + 1) + "\n");
    std::vector<std::string> l = linesof(r.out);
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l[0], infile);
    l.erase(l.begin());
    const std::vector<std::string> ending = {
        " ( 5) encoding finished...", " ( 4) encoding finished...", " ( 3) encoding finished...",
        " ( 2) encoding finished...", " ( 1) encoding finished..."};
    ASSERT_GE(l.size(), 7u) << r.out;
    EXPECT_EQ(l[0], warning);
    EXPECT_EQ(l[1], " input using arguments and ini file");
    EXPECT_EQ(std::vector<std::string>(l.end() - 5, l.end()), ending) << r.out;
    std::vector<std::string> progress(l.begin() + 2, l.end() - 5);
    if (f.terminal) {
      // One line of the terminal, drawn over and over, ended once.
      ASSERT_EQ(progress.size(), 1u) << r.out;
      progress = drawings(progress);
      EXPECT_LE(progress.size(), 10 * t.seconds + 3) << r.out;
    } else {
      EXPECT_LE(progress.size(), t.seconds + 3) << r.out;
    }
    ASSERT_FALSE(progress.empty()) << r.out;
    for (const std::string& p : progress) EXPECT_TRUE(isprogress(p)) << p;
    EXPECT_EQ(progress.front(), " pass 1, picture 1 of 2000, 0%");
    EXPECT_EQ(progress.back().rfind(" pass 1, picture 2000 of 2000, 100%, ", 0), 0u) << progress.back();
    EXPECT_NE(progress.back().find(" fps, "), std::string::npos) << progress.back();
    EXPECT_EQ(progress.back().substr(progress.back().size() - 5), " left") << progress.back();
    EXPECT_LE(progress.back().size(), 79u);
    std::string why;
    EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  }
}

// The stream's write fails part of the way (the file may not grow past 5 MB): the error line
// and the countdown of the error all come, after a progress that stopped short of 100%.
TEST(headlessoutput, anerrorpartofthewayisnevertakenforprogress) {
  for (const form& f : forms) {
    SCOPED_TRACE(f.name);
    progfolder pf;
    pf.write("clip.avs", longclip);
    timedrun t = encode(pf, f.terminal, 5000);
    const runresult& r = t.r;
    ASSERT_EQ(r.status, 2) << show(r);
    EXPECT_EQ(r.err, "ostrel: ERROR, can't write to output file, aborting... (\"out.m2v\": File too large)\n");
    // The stream is cut at its last whole GOP, with its end code.
    std::string why;
    EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
    const std::vector<std::string> l = linesof(r.out);
    ASSERT_GE(l.size(), 8u) << r.out;
    EXPECT_EQ(l[0], " input using arguments");
    const std::vector<std::string> ending = {writeerror,
                                             " ( 5) encoding terminated on error...",
                                             " ( 4) encoding terminated on error...",
                                             " ( 3) encoding terminated on error...",
                                             " ( 2) encoding terminated on error...",
                                             " ( 1) encoding terminated on error..."};
    EXPECT_EQ(std::vector<std::string>(l.end() - 6, l.end()), ending) << r.out;
    std::vector<std::string> progress(l.begin() + 1, l.end() - 6);
    if (f.terminal) progress = drawings(progress);
    ASSERT_FALSE(progress.empty()) << r.out;
    EXPECT_LE(progress.size(), (f.terminal ? 10 : 1) * t.seconds + 3) << r.out;
    for (const std::string& p : progress) EXPECT_TRUE(isprogress(p)) << p;
    EXPECT_EQ(progress.back().find(" of 2000, 100%"), std::string::npos) << progress.back();
  }
}

// OSTREL_STATUSLINES=all: every change of the status line as one line, as it comes.
TEST(headlessoutput, statuslinesallprintseverychange) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=30, width=64, height=64, fps=25)\n");
  runresult r = encode(pf, false, 0, {"OSTREL_STATUSLINES=all"}).r;
  ASSERT_EQ(r.status, 0) << show(r);
  std::vector<std::string> want = {" input using arguments"};
  for (int k = 1; k <= 30; k++) want.push_back(" pass 1, picture " + std::to_string(k) + " of 30");
  for (int d = 5; d >= 1; d--) want.push_back(" ( " + std::to_string(d) + ") encoding finished...");
  EXPECT_EQ(linesof(r.out), want);
}

// At the real time scale a headless run does not sit through the warning's two seconds and the
// end countdown's five, nor a start-up error through its nine; the lines are all printed.
TEST(headlessoutput, countdownsdonotsleepwithoutawindow) {
  progfolder pf;
  pf.write("clip.avs", "BlankClip(length=10, width=64, height=64, fps=25)\n");
  pf.write("KJ.ini", "*VBVSIZE 5\n");
  timedrun t = encode(pf, false, 0, {"OSTREL_TIMESCALE=1"});
  ASSERT_EQ(t.r.status, 0) << show(t.r);
  EXPECT_LT(t.seconds, 3.0);
  EXPECT_NE(t.r.out.find(std::string(warning) + "\n"), std::string::npos) << t.r.out;
  EXPECT_NE(t.r.out.find(" ( 1) encoding finished...\n"), std::string::npos) << t.r.out;

  auto t0 = std::chrono::steady_clock::now();
  runresult r = pf.ostrel({"-i", "missing.avs", "-o", "out.m2v", "-cq", "4"}, {"OSTREL_TIMESCALE=1"});
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r.status, 1) << show(r);
  EXPECT_LT(seconds, 3.0);
  EXPECT_NE(r.out.find(" (9) ERROR, can't find input file\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" (1) ERROR, can't find input file\n"), std::string::npos) << r.out;
}
