// The start-up sequence from outside: the encoder (its exit status, stderr and the status
// lines it prints headless) and the start-up probe (what the start-up derived) run in a
// temporary program folder on scripts of our frame server.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "encoder/control/report.h"
#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {

using args = std::vector<std::string>;
using probed = std::map<std::string, std::string>;

// A two-pass run with every required input.
const args twopass = {"-i", "a.avs", "-o", "out.m2v", "-b", "5000", "-maxbitrate", "8000"};

args operator+(args a, const args& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string clip(const std::string& inside = "") {
  return "BlankClip(length=10, width=720, height=576, fps=25" + (inside.empty() ? "" : ", " + inside) + ")";
}

// The encoder's start-up failed with code: exit status 1, the code's text on stderr and counted
// down in the status line from 9.
::testing::AssertionResult failedwith(const runresult& r, int code, const std::string& extra = "") {
  const char* text = starttext(code);
  if (!text) return ::testing::AssertionFailure() << "no text for " << code;
  std::string want = std::string(text) + extra;
  auto fail = [&](const char* what) {
    return ::testing::AssertionFailure() << what << " for code " << code << "\nstatus " << r.status
                                         << "\nstdout:\n" << r.out << "stderr:\n" << r.err;
  };
  if (r.status != 1) return fail("exit status is not 1");
  if (r.err.find("ostrel: ERROR, " + want + "\n") == std::string::npos) return fail("no stderr line");
  if (r.out.find(" (9) ERROR, " + want + "\n") == std::string::npos ||
      r.out.find(" (1) ERROR, " + want + "\n") == std::string::npos)
    return fail("no countdown");
  return ::testing::AssertionSuccess();
}

// A log up to the title box that the first pass writes: what the start-up put there (the
// separator of an appended log, then the start-up's warnings). The box must be there.
const std::string titletop = " +------------------------------------------+\n";
std::string beforetitle(const std::string& log) {
  size_t n = log.find(titletop);
  return n == std::string::npos ? "no title box in the log:\n" + log : log.substr(0, n);
}

::testing::AssertionResult ranwell(const runresult& r) {
  if (r.status == 0 && r.out.find("encoding finished") != std::string::npos)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "status " << r.status << "\nstdout:\n" << r.out << "stderr:\n" << r.err;
}

// Holds an exclusive lock on a file of the program folder, as a running encoder holds its
// scratch file.
class heldfile {
 public:
  explicit heldfile(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    locked_ = fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~heldfile() {
    if (fd_ >= 0) close(fd_);
  }
  bool locked() const { return locked_; }

 private:
  int fd_ = -1;
  bool locked_ = false;
};

class startup : public ::testing::Test {
 protected:
  void script(const std::string& text, const std::string& name = "a.avs") { pf.write(name, text + "\n"); }
  runresult run(const args& a, const args& env = {}) { return pf.ostrel(a, env); }
  // Runs the start-up probe (from the program folder unless cwd is given) and takes its lines.
  probed probe(const args& a, const args& env = {}, const std::string& cwd = "") {
    if (!pf.exists("startprobe")) fs::copy_file(STARTPROBE, pf.path("startprobe"));
    args argv = args{pf.path("startprobe")} + a;
    runresult r = runcommand(argv, cwd.empty() ? pf.dir() : cwd,
                             args{"OSTREL_TIMESCALE=0", "OSTREL_HEADLESS=1"} + env);
    probed m;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
      size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "warning" && m.count(key)) m[key] += "\n" + value;
      else m[key] = value;
    }
    m["status"] = std::to_string(r.status);
    m["stderr"] = r.err;
    return m;
  }
  // The advisory of the program folder's KJ.ini read beside switches, its settings in effect.
  std::string folderini(const std::string& inuse) const {
    return " WARNING, settings file \"" + pf.path("KJ.ini") +
           "\" (the program folder's; the front end writes it at every encode) was read with the switches; in "
           "effect from it: " + inuse + " (-ini names another settings file)";
  }
  progfolder pf;
};

// ---- the source picture ----

TEST_F(startup, picturesizecodes) {
  struct sizecase {
    int width, height, code;
  };
  const sizecase cases[] = {
      {1920, 1090, 33}, {1936, 1088, 34}, {720, 1160, 35},
      {712, 576, 32},                    // not a multiple of 16
      {1928, 1090, 34},                  // all of 32, 33, 34 fire: the last decides
      {1936, 1160, 35},                  // 35 stops at once
      {720, 0, 33}, {8, 16, 32}, {8, 8, 33}, {16, 8, 33},  // less than one macroblock
  };
  for (const sizecase& c : cases) {
    script("BlankClip(length=10, width=" + std::to_string(c.width) + ", height=" + std::to_string(c.height) + ")");
    EXPECT_TRUE(failedwith(run(twopass), c.code)) << c.width << "x" << c.height;
  }
}

TEST_F(startup, hdsourcecodedas1088lines) {
  script("BlankClip(length=10, width=1920, height=1080, fps=25)");
  probed p = probe(twopass);
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["width"], "1920");
  EXPECT_EQ(p["height"], "1088");
  EXPECT_EQ(p["displayheight"], "1080");
  EXPECT_EQ(p["mbrows"], "68");
  EXPECT_EQ(p["mbcount"], "8160");
  EXPECT_EQ(p["level"], "3");
  EXPECT_EQ(p["lumasize"], std::to_string(1920 * 1088));
  EXPECT_EQ(p["chromasize"], std::to_string(1920 * 1088 / 4));
  EXPECT_EQ(p["searchxmax"], "1904");
  EXPECT_EQ(p["searchymax"], "1072");
  // The re-open before a pass gives 1080 lines again; the coded picture stays at 1088.
  p = probe(twopass, {"OSTREL_PROBE_REWRITE=BlankClip(length=10, width=1920, height=1080, fps=25)"});
  EXPECT_EQ(p["reopen"], "1");
  EXPECT_EQ(p["height"], "1088");
  EXPECT_TRUE(ranwell(run(twopass)));
}

// The level follows the sample rate too: 720x576 at 50 frames a second is High-1440, at 25 Main.
TEST_F(startup, levelfollowsthesamplerate) {
  for (const auto& [fps, level] : {std::pair{"50", "2"}, std::pair{"25", "1"}}) {
    script(std::string("BlankClip(length=10, width=720, height=576, fps=") + fps + ")");
    probed p = probe({"-i", "a.avs", "-o", "out.m2v", "-cq", "4"});
    ASSERT_EQ(p["code"], "0") << p["stderr"];
    EXPECT_EQ(p["level"], level) << fps;
  }
}

TEST_F(startup, levelandbitsperpixel) {
  struct levelcase {
    int width, height, kbits, level, bpp;
  };
  const levelcase cases[] = {
      {720, 576, 1049, 1, 1}, {720, 576, 1050, 1, 2}, {720, 576, 1539, 1, 3}, {720, 576, 2050, 1, 4},
      {720, 576, 3500, 1, 4}, {720, 576, 3501, 1, 5}, {720, 576, 5000, 1, 5}, {720, 576, 5001, 1, 6},
      {704, 480, 5000, 1, 6}, {1440, 1088, 5000, 2, 2}, {1280, 720, 5000, 2, 4}, {736, 576, 5000, 2, 5},
      {720, 592, 5000, 2, 5}, {720, 1152, 5000, 2, 4}, {1456, 576, 5000, 3, 4},
  };
  for (const levelcase& c : cases) {
    script("BlankClip(length=10, width=" + std::to_string(c.width) + ", height=" + std::to_string(c.height) + ")");
    probed p = probe({"-i", "a.avs", "-o", "out.m2v", "-b", std::to_string(c.kbits), "-maxbitrate", "8000"});
    ASSERT_EQ(p["code"], "0") << p["stderr"];
    EXPECT_EQ(p["level"], std::to_string(c.level)) << c.width << "x" << c.height;
    EXPECT_EQ(p["bppclass"], std::to_string(c.bpp)) << c.width << "x" << c.height << " at " << c.kbits;
  }
}

// ---- frame rate ----

TEST_F(startup, frameratecodes) {
  struct ratecase {
    const char* fps;
    int code;
    bool pulldown;  // asked for with -pulldown; kept only at 23.976
    int autogopmax;
  };
  const ratecase cases[] = {
      {"fps=24000, fps_denominator=1001", 1, true, 12}, {"fps=23.98", 1, true, 12},
      {"fps=24", 2, false, 15},                        {"fps=25", 3, false, 15},
      {"fps=30000, fps_denominator=1001", 4, false, 15}, {"fps=29.97", 4, false, 15},
      {"fps=30", 5, false, 15},                        {"fps=50", 6, false, 15},
      {"fps=60000, fps_denominator=1001", 7, false, 15}, {"fps=60", 8, false, 15},
  };
  for (const ratecase& c : cases) {
    script("BlankClip(length=10, width=720, height=480, " + std::string(c.fps) + ")");
    probed p = probe(twopass + args{"-pulldown"});
    ASSERT_EQ(p["code"], "0") << c.fps << p["stderr"];
    EXPECT_EQ(p["frameratecode"], std::to_string(c.code)) << c.fps;
    EXPECT_EQ(p["pulldown"], c.pulldown ? "1" : "0") << c.fps;
    EXPECT_EQ(p["autogopmax"], std::to_string(c.autogopmax)) << c.fps;
    EXPECT_EQ(p["ringsize"], std::to_string(2 * c.autogopmax + 3)) << c.fps;
    EXPECT_EQ(p["slotcount"], std::to_string(c.autogopmax + 1)) << c.fps;
  }
  // A given *AUTOGOP keeps its value at 23.976 too.
  pf.write("KJ.ini", "*AUTOGOP 16\n");
  script("BlankClip(length=10, width=720, height=480, fps=24000, fps_denominator=1001)");
  EXPECT_EQ(probe(twopass)["autogopmax"], "16");
}

TEST_F(startup, invalidframerates) {
  for (const char* fps : {"fps=24.5", "fps=15", "fps=100"}) {
    script(clip().replace(clip().find("fps=25"), 6, fps));
    EXPECT_TRUE(failedwith(run(twopass), 261)) << fps;
  }
}

TEST_F(startup, durationgopsandtimecode) {
  script("BlankClip(length=250, width=720, height=576, fps=25)");
  pf.write("KJ.ini", "*TIMECODE 1 2 3 4\n");
  probed p = probe(twopass + args{"-gop", "12", "2"});
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["duration"], "10.000000");
  EXPECT_EQ(p["slotcount"], "13");
  EXPECT_EQ(p["ringsize"], "27");
  EXPECT_EQ(p["tcstart"], std::to_string(((1 * 60 + 2) * 60 + 3) * 25 + 4));
  // The kernels run at the level found, or the lower one that *CPU asks for.
  EXPECT_EQ(p["kernellevel"], p["simdlevel"]);
  EXPECT_EQ(p["dctlevel"], p["simdlevel"]);
  EXPECT_GE(std::stoi(p["simdlevel"]), 2);
  pf.write("KJ.ini", "*CPU MMX\n");
  p = probe(twopass);
  EXPECT_EQ(p["simdlevel"], "1");
  EXPECT_EQ(p["kernellevel"], "1");
  EXPECT_EQ(p["dctlevel"], "1");
}

// ---- frame range and short clips ----

TEST_F(startup, framerangeandshortclips) {
  struct rangecase {
    args extra;
    std::string ini;
    int first, last, count, passmode;
    float cq;
    int cqmode;
  };
  const std::vector<rangecase> cases = {
      {{}, "", 0, 299, 300, 2, 4.0f, 0},
      {{"-frames", "500", "600"}, "", 299, 299, 1, 1, 4.0f, 0},
      {{"-frames", "300", "400"}, "", 299, 299, 1, 1, 4.0f, 0},
      {{"-frames", "250", "400"}, "", 250, 299, 50, 2, 4.0f, 0},
      {{"-frames", "-50", "5"}, "", 0, 5, 6, 2, 4.0f, 0},
      {{"-frames", "10", "11"}, "", 10, 11, 2, 1, 5.0f, 0},
      {{"-frames", "10", "12"}, "", 10, 12, 3, 1, 5.0f, 0},
      {{"-frames", "10", "13"}, "", 10, 13, 4, 2, 4.0f, 0},
      // A "-cq" value alone gives way to the short clip's; the settings file's stays.
      {{"-frames", "10", "11", "-cq", "3"}, "", 10, 11, 2, 1, 5.0f, 1},
      {{"-frames", "10", "10", "-cq", "3"}, "", 10, 10, 1, 1, 4.0f, 1},
      {{"-frames", "10", "11"}, "*CQ 3.5\n", 10, 11, 2, 1, 3.5f, 1},
      {{"-frames", "10", "11", "-cq", "3"}, "*CQ 3.5\n", 10, 11, 2, 1, 3.5f, 1},
      {{"-frames", "10", "50", "-cq", "3"}, "*CQ 3.5\n", 10, 50, 41, 1, 3.0f, 1},
  };
  script("BlankClip(length=300, width=720, height=576, fps=25)");
  for (const rangecase& c : cases) {
    pf.write("KJ.ini", c.ini);
    probed p = probe(twopass + c.extra);
    std::string what = c.ini;
    for (const auto& a : c.extra) what += " " + a;
    ASSERT_EQ(p["code"], "0") << what << p["stderr"];
    EXPECT_EQ(p["firstframe"], std::to_string(c.first)) << what;
    EXPECT_EQ(p["lastframe"], std::to_string(c.last)) << what;
    EXPECT_EQ(p["framecount"], std::to_string(c.count)) << what;
    EXPECT_EQ(p["passmode"], std::to_string(c.passmode)) << what;
    EXPECT_FLOAT_EQ(std::stof(p["cqvalue"]), c.cq) << what;
    EXPECT_EQ(p["cqmode"], std::to_string(c.cqmode)) << what;
  }
  // *CQ_MAXBITRATE of the file turns a short clip into the mode with maximum bitrate.
  pf.write("KJ.ini", "*CQ_MAXBITRATE 6\n");
  probed p = probe(twopass + args{"-frames", "3", "4"});
  EXPECT_EQ(p["cqmbrmode"], "1");
  EXPECT_FLOAT_EQ(std::stof(p["cqmbrvalue"]), 6.0f);
  EXPECT_FLOAT_EQ(std::stof(p["cqvalue"]), 5.0f);
}

TEST_F(startup, noframestoencode) {
  script("BlankClip(length=300, width=720, height=576, fps=25)");
  EXPECT_TRUE(failedwith(run(twopass + args{"-frames", "5", "3"}), 267));
  EXPECT_TRUE(failedwith(run(twopass + args{"-frames", "-5", "-3"}), 267));
  script("BlankClip(length=0, width=720, height=576, fps=25)");
  EXPECT_TRUE(failedwith(run(twopass), 267));
}

TEST_F(startup, cliplongerthantheframetables) {
  script("BlankClip(length=700000, width=720, height=576, fps=25)");
  probed p = probe(twopass);
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["clipframes"], "700000");
  EXPECT_EQ(p["lastframe"], "639999");
  EXPECT_EQ(p["framecount"], "640000");
  EXPECT_EQ(p["warning"], " WARNING, the clip has 700000 frames, frames from 640000 on are not encoded");
  // No warning when the range stays inside the tables.
  p = probe(twopass + args{"-frames", "0", "1000"});
  EXPECT_EQ(p.count("warning"), 0u);
  EXPECT_EQ(p["framecount"], "1001");
}

// ---- chapter file ----

TEST_F(startup, chapterfilebothforms) {
  script("BlankClip(length=100, width=720, height=576, fps=25)");
  for (const char* text : {"*chapter 3\n10\n20\n30\n", "10\n20\n30\n", "*CHAPTER 3\r\n10\r\n20\r\n30\r\n"}) {
    pf.write("chapters.txt", text);
    probed p = probe(twopass + args{"-chapter", "chapters.txt"});
    ASSERT_EQ(p["code"], "0") << text << p["stderr"];
    EXPECT_EQ(p["chapters"], "10,20,30") << text;
    EXPECT_EQ(p["chaptercount"], "3") << text;
  }
  // Only chapters inside the frame range count; *LASTIFRAME marks the last frame too; the
  // settings file's list adds to the file's.
  pf.write("KJ.ini", "*LASTIFRAME\n*CHAPTER 1\n50\n");
  pf.write("chapters.txt", "10\n20\n30\n200\n");
  probed p = probe(twopass + args{"-chapter", "chapters.txt", "-frames", "15", "80"});
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["chapters"], "10,20,30,50,80,200");
  EXPECT_EQ(p["chaptercount"], "4");
}

TEST_F(startup, chapterfileerrors) {
  script(clip());
  EXPECT_TRUE(failedwith(run(twopass + args{"-chapter", "missing.txt"}), 520));
  fs::create_directory(pf.path("chapters"));
  EXPECT_TRUE(failedwith(run(twopass + args{"-chapter", "chapters"}), 519));
  pf.write("chapters.txt", "10\nten\n");
  EXPECT_TRUE(failedwith(run(twopass + args{"-chapter", "chapters.txt"}), 518));
}

TEST_F(startup, negativechapterframesareskippedwithawarning) {
  script(clip());
  pf.write("chapters.txt", "-4\n5\n");
  const std::string warning = " WARNING, chapter file: 1 negative frame number skipped";
  probed p = probe(twopass + args{"-chapter", "chapters.txt"});
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["chapters"], "5");
  EXPECT_EQ(p["warning"], warning);
  runresult r = run(twopass + args{"-chapter", "chapters.txt", "-log", "run.log"});
  EXPECT_TRUE(ranwell(r));
  EXPECT_NE(r.out.find(warning + "\n"), std::string::npos);
  EXPECT_NE(r.err.find("ostrel: WARNING, chapter file"), std::string::npos);
  EXPECT_EQ(beforetitle(pf.read("run.log")), warning + "\n");
}

// ---- files ----

TEST_F(startup, logseparatorwhenappending) {
  script(clip());
  EXPECT_TRUE(ranwell(run(twopass + args{"-log", "run.log"})));
  EXPECT_EQ(beforetitle(pf.read("run.log")), "");  // a new log gets no separator
  pf.write("run.log", "an earlier run\n");
  EXPECT_TRUE(ranwell(run(twopass + args{"-log", "run.log"})));
  const std::string bar(50, '=');
  EXPECT_EQ(beforetitle(pf.read("run.log")), "an earlier run\n\n\n" + bar + "\n" + bar + "\n");
}

TEST_F(startup, secondscratchnamewhenthefirstisheld) {
  script(clip());
  heldfile other(pf.path("KJ01.dbs"));
  ASSERT_TRUE(other.locked());
  probed p = probe(twopass);
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["dbspath"], pf.path("KJ02.dbs"));
  // A whole run leaves the other encoder's file alone and removes its own.
  EXPECT_TRUE(ranwell(run(twopass)));
  EXPECT_TRUE(pf.exists("KJ01.dbs"));
  EXPECT_FALSE(pf.exists("KJ02.dbs"));
}

TEST_F(startup, scratchfileinprogramfolderonly) {
  script(clip());
  pf.write("KJ01.dbs", "left over by a run that was killed");
  fs::create_directory(pf.path("work"));
  probed p = probe({"-i", pf.path("a.avs"), "-o", "out.m2v", "-b", "5000", "-maxbitrate", "8000"}, {},
                   pf.path("work"));
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["dbspath"], pf.path("KJ01.dbs"));
  EXPECT_FALSE(fs::exists(pf.path("work/KJ01.dbs")));
  // One pass needs no scratch file.
  p = probe(args{"-cq", "4"} + twopass);
  EXPECT_EQ(p["dbspath"], "");
}

TEST_F(startup, alleightscratchnamesheld) {
  script(clip());
  pf.write("run.log", "kept\n");
  std::vector<std::unique_ptr<heldfile>> held;
  for (int k = 1; k <= 8; k++) {
    held.push_back(std::make_unique<heldfile>(pf.path("KJ0" + std::to_string(k) + ".dbs")));
    ASSERT_TRUE(held.back()->locked());
  }
  // The program folder is the output's folder here; with no temporary folder either, the run
  // has no place for its scratch file.
  EXPECT_TRUE(failedwith(run(twopass + args{"-log", "run.log"}, {"TMPDIR=" + pf.path("missing")}), 268));
  for (int k = 1; k <= 8; k++) EXPECT_TRUE(pf.exists("KJ0" + std::to_string(k) + ".dbs"));
  EXPECT_EQ(pf.read("run.log"), "kept\n");
  EXPECT_FALSE(pf.exists("out.m2v"));
  // A one-pass run goes on.
  EXPECT_TRUE(ranwell(run(args{"-cq", "4"} + twopass)));
}

TEST_F(startup, nothinglostbyafailedstart) {
  // A late failure leaves an existing output as it was.
  pf.write("out.m2v", "precious");
  script("BlankClip(length=10, width=720, height=576, fps=24.5)");
  EXPECT_TRUE(failedwith(run(twopass), 261));
  EXPECT_EQ(pf.read("out.m2v"), "precious");

  // Files this run created go again; existing ones stay as they were.
  script(clip());
  pf.write("KJ.ini", "*SCDFILE\n");
  EXPECT_TRUE(failedwith(run(twopass + args{"-log", "missing/run.log"}), 263));
  EXPECT_EQ(pf.read("out.m2v"), "precious");
  EXPECT_FALSE(pf.exists("out_scd.txt"));
  for (int k = 1; k <= 8; k++) EXPECT_FALSE(pf.exists("KJ0" + std::to_string(k) + ".dbs"));
  pf.write("out_scd.txt", "scene list of an earlier run");
  std::remove(pf.path("out.m2v").c_str());
  EXPECT_TRUE(failedwith(run(twopass + args{"-log", "missing/run.log"}), 263));
  EXPECT_FALSE(pf.exists("out.m2v"));
  EXPECT_EQ(pf.read("out_scd.txt"), "scene list of an earlier run");

  // A run that starts empties the old output and scene list: the output is a new stream from
  // its first byte on, nothing of the old contents left.
  pf.write("out.m2v", "precious");
  EXPECT_TRUE(ranwell(run(twopass + args{"-log", "run.log"})));
  const std::string stream = pf.read("out.m2v");
  EXPECT_EQ(stream.substr(0, 4), std::string("\0\0\1\xB3", 4));  // a sequence header first
  EXPECT_EQ(stream.find("precious"), std::string::npos);
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  EXPECT_EQ(pf.read("out_scd.txt"), "");
}

TEST_F(startup, outputmustbenoneofthefilesread) {
  script(clip());
  const std::string avs = pf.read("a.avs");
  pf.write("KJ.ini", "*WAIT 0\n");
  pf.write("chapters.txt", "5\n");
  const args base = {"-b", "5000", "-maxbitrate", "8000", "-chapter", "chapters.txt"};
  struct samecase {
    args files;
    int code;
  };
  const std::vector<samecase> cases = {
      {{"-i", "a.avs", "-o", "a.avs"}, 262},
      {{"-i", "a.avs", "-o", "./sub/../a.avs"}, 262},
      {{"-i", "a.avs", "-o", pf.path("a.avs")}, 262},
      {{"-i", "a.avs", "-o", "KJ.ini"}, 262},
      {{"-i", "a.avs", "-o", "chapters.txt"}, 262},
      {{"-i", "a.avs", "-o", "out.m2v", "-log", "out.m2v"}, 262},
      {{"-i", "a.avs", "-o", "out.m2v", "-log", "a.avs"}, 263},
      {{"-i", "a.avs", "-o", "out.m2v", "-log", "KJ.ini"}, 263},
  };
  fs::create_directory(pf.path("sub"));
  for (const samecase& c : cases) {
    EXPECT_TRUE(failedwith(run(c.files + base), c.code)) << c.files[3];
    EXPECT_EQ(pf.read("a.avs"), avs);
    EXPECT_EQ(pf.read("KJ.ini"), "*WAIT 0\n");
    EXPECT_EQ(pf.read("chapters.txt"), "5\n");
  }
}

TEST_F(startup, outputandlogthatcannotbeopened) {
  script(clip());
  EXPECT_TRUE(failedwith(run({"-i", "a.avs", "-o", "missing/out.m2v", "-b", "5000", "-maxbitrate", "8000"}), 262));
  fs::create_directory(pf.path("out.m2v"));
  EXPECT_TRUE(failedwith(run(twopass), 262));
  fs::remove(pf.path("out.m2v"));
  fs::create_directory(pf.path("run.log"));
  EXPECT_TRUE(failedwith(run(twopass + args{"-log", "run.log"}), 263));
  EXPECT_FALSE(pf.exists("out.m2v"));
  pf.write("KJ.ini", "*SCDFILE\n");
  fs::create_directory(pf.path("out_scd.txt"));
  EXPECT_TRUE(failedwith(run(twopass), 527));
  // *NOSCD turns the list off.
  pf.write("KJ.ini", "*SCDFILE\n*NOSCD\n");
  EXPECT_TRUE(ranwell(run(twopass)));
}

TEST_F(startup, pathskeeptheircase) {
  fs::create_directory(pf.path("Src"));
  fs::create_directory(pf.path("Out"));
  script(clip(), "Src/Clip.AVS");
  const args a = {"-i", "Src/Clip.AVS", "-o", "Out/Film.M2V", "-b", "5000", "-maxbitrate", "8000"};
  probed p = probe(a);
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["inpath"], "Src/Clip.AVS");
  EXPECT_EQ(p["avsinput"], "1");
  EXPECT_EQ(p["scdname"], "Out/Film_scd.txt");
  EXPECT_TRUE(ranwell(run(a)));
  EXPECT_TRUE(pf.exists("Out/Film.M2V"));
  EXPECT_FALSE(pf.exists("out/film.m2v"));
  // The settings file named by -ini keeps its case too.
  pf.write("My.INI", "*INFILE Src/Clip.AVS\n*OUTFILE Out/Film.M2V\n*BITRATE 5000\n*MAXBITRATE 8000\n");
  p = probe({"-ini", "My.INI"});
  EXPECT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["inifile"], "My.INI");
}

// ---- required inputs and the status line ----

TEST_F(startup, requiredinputs) {
  script(clip());
  struct inputcase {
    args a;
    int code;
  };
  const std::vector<inputcase> cases = {
      {{}, 258},
      {{"-i", "a.avs", "-o", "out.m2v"}, 258},
      {{"-i", "a.avs", "-o", "out.m2v", "-b", "5000"}, 258},
      {{"-i", "a.avs", "-o", "out.m2v", "-maxbitrate", "8000"}, 258},
      {{"-o", "out.m2v", "-b", "5000", "-maxbitrate", "8000"}, 258},
      {{"-cq", "4", "-i", "a.avs"}, 257},
      {{"-cq", "4", "-o", "out.m2v", "-b", "5000", "-maxbitrate", "8000"}, 257},
      {{"-cq_maxbitrate", "4", "-i", "a.avs", "-o", "out.m2v"}, 256},
      {{"-cq_maxbitrate", "4", "-i", "a.avs", "-o", "out.m2v", "-b", "5000"}, 256},
      {{"-cq", "4", "-i", "a.avs", "-o", "out.m2v"}, 0},
      {{"-cq_maxbitrate", "4", "-i", "a.avs", "-o", "out.m2v", "-maxbitrate", "8000"}, 0},
      {twopass, 0},
  };
  for (const inputcase& c : cases) {
    runresult r = run(c.a);
    std::string what;
    for (const auto& w : c.a) what += " " + w;
    if (c.code) EXPECT_TRUE(failedwith(r, c.code)) << what;
    else EXPECT_TRUE(ranwell(r)) << what;
  }
  // The settings file's keys count as given.
  pf.write("KJ.ini", "*INFILE a.avs\n*OUTFILE out.m2v\n*BITRATE 5000\n*MAXBITRATE 8000\n");
  EXPECT_TRUE(ranwell(run({})));
  pf.write("KJ.ini", "*INFILE a.avs\n*OUTFILE out.m2v\n*BITRATE 5000\n");
  EXPECT_TRUE(failedwith(run({}), 258));
}

TEST_F(startup, inputlineinthestatustext) {
  script(clip());
  auto firstline = [](const runresult& r) { return r.out.substr(0, r.out.find('\n')); };
  runresult r = run(twopass);
  EXPECT_TRUE(ranwell(r));
  EXPECT_EQ(firstline(r), " input using arguments");
  pf.write("KJ.ini", "*INFILE a.avs\n*OUTFILE out.m2v\n*BITRATE 5000\n*MAXBITRATE 8000\n");
  r = run({});
  EXPECT_TRUE(ranwell(r));
  EXPECT_EQ(firstline(r), " input using ini file");
  r = run({"-b", "4000"});
  // The program folder's file beside a switch is said first.
  EXPECT_EQ(firstline(r), folderini("*INFILE a.avs, *OUTFILE out.m2v, *MAXBITRATE 8000"));
  EXPECT_NE(r.out.find("\n input using arguments and ini file\n"), std::string::npos) << r.out;
  fs::rename(pf.path("KJ.ini"), pf.path("other.ini"));
  r = run({"-ini", "other.ini"});
  EXPECT_TRUE(ranwell(r));
  EXPECT_EQ(firstline(r), " input using arguments and ini file");
  // Under *SILENT nothing is shown, and the run still ends by itself.
  pf.write("KJ.ini", "*SILENT\n");
  r = run(twopass);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  // A start-up error under *SILENT reaches stderr only.
  r = run(twopass + args{"-frames", "5", "3"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string("ostrel: ERROR, ") + starttext(267) + "\n");
}

// ---- settings file and switches from outside ----

TEST_F(startup, badsettingsfile) {
  script(clip());
  struct inicase {
    const char* text;
    const char* context;
  };
  const inicase cases[] = {
      {"*FRAMES 10\n", ": *FRAMES"},
      {"*CUSTOMMATRIX\n1 2 3\n", ": *CUSTOMMATRIX"},
      {"*BITRATE 50.5\n", ": *BITRATE"},
      {"*CHAPTER 2\n100\n", ": *CHAPTER"},
  };
  for (const inicase& c : cases) {
    pf.write("KJ.ini", c.text);
    runresult r = run(twopass);
    EXPECT_TRUE(failedwith(r, 265, c.context)) << c.text;
    EXPECT_NE(r.out.find(std::string(" (9) ERROR, can't process ini file") + c.context + "\n"), std::string::npos);
  }
  fs::remove(pf.path("KJ.ini"));
  fs::create_directory(pf.path("KJ.ini"));
  EXPECT_TRUE(failedwith(run(twopass), 266));
}

TEST_F(startup, switcherrors) {
  script(clip());
  pf.write("bad.txt", "10\nten\n");
  fs::create_directory(pf.path("folder"));
  struct switchcase {
    args a;
    int code;
  };
  const std::vector<switchcase> cases = {
      {{"-b", "5k"}, 512},
      {{"-maxbitrate", "8.5"}, 513},
      {{"-bias", "x"}, 514},
      {{"-dc_prec", "nine"}, 515},
      {{"-frames", "x", "5"}, 516},
      {{"-frames", "5", "x"}, 517},
      {{"-chapter", "bad.txt"}, 518},
      {{"-chapter", "folder"}, 519},
      {{"-chapter", "missing.txt"}, 520},
      {{"-gop", "x", "2"}, 521},
      {{"-gop", "12", "x"}, 522},
      {{"-cq", "x"}, 523},
      {{"-cq_maxbitrate", "x"}, 524},
      {{"-cq_pfactor", "x"}, 525},
      {{"-cq_bfactor", "x"}, 526},
  };
  for (const switchcase& c : cases) {
    // The bad switch after the good ones overrides them where it names the same.
    EXPECT_TRUE(failedwith(run(twopass + c.a), c.code)) << c.a[0];
  }
}

// ---- the source and its libraries ----

TEST_F(startup, sourceerrors) {
  EXPECT_TRUE(failedwith(run(twopass), 259));
  pf.write("a.txt", "BlankClip()\n");
  EXPECT_TRUE(failedwith(run({"-i", "a.txt", "-o", "out.m2v", "-b", "5000", "-maxbitrate", "8000"}), 260));
  fs::create_directory(pf.path("folder.avs"));
  EXPECT_TRUE(failedwith(run({"-i", "folder.avs", "-o", "out.m2v", "-b", "5000", "-maxbitrate", "8000"}), 259));
  script(clip("pixel_type=\"RGB32\""));
  EXPECT_TRUE(failedwith(run(twopass), 5));
  script("BlankClip(length=10, width=0, height=576)");
  EXPECT_TRUE(failedwith(run(twopass), 4));
}

TEST_F(startup, scripterrorshowstheframeserversmessage) {
  script("BlankClip(width=");
  probed p = probe(twopass);
  ASSERT_EQ(p["code"], "3");
  const std::string server = p["message"];
  EXPECT_NE(server.find("a.avs, line"), std::string::npos) << server;
  runresult r = run(twopass);
  EXPECT_EQ(r.status, 1);
  const std::string fixed = starttext(3);
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "ERROR, " + fixed);
  EXPECT_NE(r.out.find(" (9) ERROR, " + server + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" (1) ERROR, " + server + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("ostrel: ERROR, " + fixed + ": " + server), std::string::npos) << r.err;
}

TEST_F(startup, frameserverlibrary) {
  script(clip());
  fs::remove(pf.path("avisynth.dll"));
  EXPECT_TRUE(failedwith(run(twopass), 1));
  fs::copy_file(FAKEAVS_NOENTRY, pf.path("avisynth.dll"));
  EXPECT_TRUE(failedwith(run(twopass), 2));
}

TEST_F(startup, d2vsource) {
  pf.write("movie.d2v", "FAKE 720 576 25 1 100 0\n");
  const args a = {"-i", "movie.d2v", "-o", "out.m2v", "-b", "5000", "-maxbitrate", "8000"};
  fs::remove(pf.path("DGDecode.dll"));
  EXPECT_TRUE(failedwith(run(a), 128));
  fs::copy_file(FAKEDGDECODE, pf.path("DGDecode.dll"));
  probed p = probe(a);
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["d2vinput"], "1");
  EXPECT_EQ(p["clipframes"], "100");
  EXPECT_EQ(p["frameratecode"], "3");
  EXPECT_TRUE(ranwell(run(a)));
  pf.write("movie.d2v", "not a project\n");
  EXPECT_TRUE(failedwith(run(a), 131));
  pf.write("movie.d2v", "FAKE 720 576 25 1 0 0\n");
  EXPECT_TRUE(failedwith(run(a), 132));
  pf.write("movie.d2v", "FAKE 720 1090 25 1 100 0\n");
  EXPECT_TRUE(failedwith(run(a), 33));
}

TEST_F(startup, matrixlibrary) {
  script(clip());
  pf.write("KJ.ini", "*ADAPTIVEMATRIX\n");
  EXPECT_TRUE(failedwith(run(twopass), 600));
  fs::copy_file(TESTMATRIX_NOENTRY, pf.path("matrix.dll"));
  EXPECT_TRUE(failedwith(run(twopass), 601));
  fs::remove(pf.path("matrix.dll"));
  fs::copy_file(TESTMATRIX, pf.path("matrix.dll"));
  EXPECT_EQ(probe(twopass)["extmatrix"], "1");
  EXPECT_TRUE(ranwell(run(twopass)));
  // With a luminance gain the adaptive matrix is off: the library is not needed.
  fs::remove(pf.path("matrix.dll"));
  pf.write("KJ.ini", "*ADAPTIVEMATRIX\n*LUMGAIN 2\n");
  probed p = probe(twopass);
  EXPECT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["extmatrix"], "0");
}

// ---- clamps with a warning ----

std::string custommatrix(int first) {
  std::string t = "*CUSTOMMATRIX\n";
  for (int m = 0; m < 2; m++) {
    for (int r = 0; r < 8; r++) {
      for (int c = 0; c < 8; c++) t += std::to_string(m == 0 && r == 0 && c == 0 ? first : 16) + " ";
      t += "\n";
    }
    t += "\n";
  }
  return t;
}

TEST_F(startup, custommatrixentryzero) {
  script(clip());
  pf.write("KJ.ini", custommatrix(0));
  const std::string warning = " WARNING, custom matrix: 1 entry outside 1..255, clamped";
  const std::string infile = folderini("*CUSTOMMATRIX");
  probed p = probe(twopass);
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["warning"], infile + "\n" + warning);
  EXPECT_EQ(p["recip0"], std::to_string(65536 / 8));  // an intra matrix's first entry is 8
  EXPECT_EQ(p["recipmin"], std::to_string(65536 / 16));
  runresult r = run(twopass + args{"-log", "run.log"});
  EXPECT_TRUE(ranwell(r));
  EXPECT_NE(r.out.find(warning + "\n"), std::string::npos);
  EXPECT_EQ(beforetitle(pf.read("run.log")), infile + "\n" + warning + "\n");
  // A hidden window: the warnings still reach stderr (a flat clip misses the two-pass average
  // too, said after them).
  pf.write("KJ.ini", "*SILENT\n" + custommatrix(0));
  r = run(twopass);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string said = "ostrel:" + infile + "\nostrel:" + warning + "\n";
  EXPECT_EQ(r.err.substr(0, said.size()), said);
  EXPECT_EQ(r.err.substr(said.size()).rfind("ostrel: WARNING, bitrate set to ", 0), 0u) << r.err;
  // In range: no warning of the matrix.
  pf.write("KJ.ini", custommatrix(8));
  p = probe(twopass);
  EXPECT_EQ(p["warning"], infile);
  EXPECT_EQ(p["recip0"], std::to_string(65536 / 8));
}

TEST_F(startup, vbvsizes) {
  script(clip());
  probed p = probe(twopass);
  ASSERT_EQ(p["code"], "0") << p["stderr"];
  EXPECT_EQ(p["vbvsize"], "1835008");
  EXPECT_EQ(p["vbv1"], "1743258");
  EXPECT_EQ(p["vbv2"], "6973031");
  EXPECT_EQ(p["vbv3"], "9292185");
  pf.write("KJ.ini", "*VBVSIZE 2000000\n");
  p = probe(twopass);
  EXPECT_EQ(p["vbvsize"], "2000000");
  for (const char* k : {"vbv1", "vbv2", "vbv3"}) EXPECT_EQ(p[k], "1900000");
  // Taken, and said: the check then holds more than the buffer the stream declares.
  EXPECT_EQ(p["warning"], folderini("*VBVSIZE 2000000") + "\n WARNING, *VBVSIZE 2000000 in \"" +
                              pf.path("KJ.ini") +
                              "\" is above the 1835008-bit VBV buffer of Main Level that the stream declares: "
                              "the VBV check holds 2000000 bits, more than a decoder of the stream is asked to hold");
  pf.write("KJ.ini", "*VBVSIZE 1835008\n");
  EXPECT_EQ(probe(twopass)["warning"], folderini("*VBVSIZE 1835008"));
  for (const char* v : {"0", "-5"}) {
    pf.write("KJ.ini", std::string("*VBVSIZE ") + v + "\n");
    p = probe(twopass);
    ASSERT_EQ(p["code"], "0") << p["stderr"];
    EXPECT_EQ(p["warning"], folderini(std::string("*VBVSIZE ") + v) + "\n WARNING, *VBVSIZE " + v +
                                " out of range, 16384 bits used");
    EXPECT_EQ(p["vbvsize"], "16384");
    EXPECT_EQ(p["vbv1"], "15565");
  }
}

// ---- the re-open before a pass ----

TEST_F(startup, reopenmustdeliverthesamepicture) {
  // A refused re-open says why: what changed, or the frame server's own message.
  struct reopencase {
    const char* script;
    const char* accepted;
    const char* why;
  };
  const reopencase cases[] = {
      {"BlankClip(length=10, width=720, height=576, fps=25)", "1", ""},
      {"BlankClip(length=20, width=720, height=576, fps=25, color_yuv=$FF8080)", "1", ""},
      {"BlankClip(length=10, width=720, height=480, fps=25)", "0", "pass 1: the script now gives 720x480"},
      {"BlankClip(length=10, width=704, height=576, fps=25)", "0", "pass 1: the script now gives 704x576"},
      {"BlankClip(length=10, width=720, height=576, fps=25, pixel_type=\"I420\")", "0",
       "pass 1: the script now gives 720x576 (pixel type $A0000010)"},
      {"BlankClip(length=5, width=720, height=576, fps=25)", "0",
       "\"a.avs\" now has 5 frames, the run encodes up to frame 9"},
      {"BlankClip(width=", "0", "pass 1: Script error: expected a value but found the end of the script"},
  };
  for (const reopencase& c : cases) {
    script(clip());
    probed p = probe(twopass, {std::string("OSTREL_PROBE_REWRITE=") + c.script});
    ASSERT_EQ(p["code"], "0") << p["stderr"];
    EXPECT_EQ(p["reopen"], c.accepted) << c.script;
    EXPECT_EQ(p["height"], "576");
    EXPECT_NE(p["stderr"].find(c.why), std::string::npos) << c.script << "\n" << p["stderr"];
  }
}

}  // namespace
