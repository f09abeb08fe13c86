// The step machine run in this process: winmain with a stand-in start-up (below) and the
// passes' placeholder pictures, a user acting through the dialog layer's driver, the headless
// status lines collected.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "encoder/control/silent.h"
#include "encoder/control/startup.h"
#include "encoder/control/switches.h"
#include "encoder/control/units.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/queue.h"
#include "platform/system.h"
#include "platform/thread.h"
#include "tests/support/blackbox.h"
#include "tests/support/waitfor.h"

extern std::function<void(int pass, int picture)> passprobe;
extern std::atomic<int> passpictures;

namespace fs = std::filesystem;

namespace {
// The start-up of these tests opens no settings file and no source: it stores the code a case
// asks for, so that the step machine, the reporter and the passes (without a frame store, five
// placeholder pictures each) run end to end.
struct standinstart {
  int code = 0;          // the start-up code
  std::string message;   // the message that goes with codes 3 and 265
  int passes = 0;        // 1 or 2 passes; 0: the settings' passmode
  bool script = false;   // the source is a frame-server script (re-opened before passes)
  int failedreopen = 0;  // the pass (1 or 2) whose re-open fails
  bool shutdown = false; // the settings ask for the shutdown after the run
};
standinstart startcase;

void standininit(statusrec& status) {
  status.code = startcase.code;
  status.message = startcase.message;
  settings.passmode = (startcase.passes ? startcase.passes : settings.passmode) == 1 ? 1 : 2;
  settings.avsinput = startcase.script;
  shutdownflag = startcase.shutdown;
  if (!showwindow) settings.waitsecs = 0;  // a hidden window does not wait
  if (status.code == 0) postwake();
}
bool standinreopen(int pass, std::string& why) {
  if (startcase.failedreopen != pass) return true;
  why = "pass " + std::to_string(pass) + ": the stand-in's open failed";
  return false;
}
void standinclose() {}

std::string caption(int id) {
  std::string s = dlggettext(*maindialog, id, 512);
  return s.substr(0, s.find_last_not_of(' ') + 1);
}

std::vector<std::string> countdown(int from, const char* text) {
  std::vector<std::string> v;
  for (int n = from; n >= 1; n--) {
    std::string num = std::to_string(n);
    if (num.size() < 2) num = " " + num;
    v.push_back(" (" + num + ") " + text);
  }
  return v;
}

std::vector<std::string> passlines(int pass) {
  std::vector<std::string> v;
  for (int k = 1; k <= 5; k++)
    v.push_back(" pass " + std::to_string(pass) + ", picture " + std::to_string(k) + " of 5");
  return v;
}

std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> v;
  for (auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

const char* finished = "encoding finished...";
const char* terminated = "encoding terminated on error...";

struct stepmachine : ::testing::Test {
  std::mutex m;
  std::vector<std::string> lines;
  std::function<void(const std::string&)> online;  // runs on the writing thread
  std::atomic<int> boxes{0};
  std::string lastbox;
  int answer = idyes;
  std::string dir;

  void SetUp() override {
    unsetenv("OSTREL_SHUTDOWN_CMD");
    startcase = standinstart{};
    startuphook = standininit;
    reopenhook = standinreopen;
    closehook = standinclose;
    setclockscale(0);
    settings = settingsrec{};
    shutdownflag = false;
    passpictures = 0;
    dir = testing::TempDir() + "/steps-" + std::to_string(getpid());
    fs::create_directories(dir);
    dlgsetheadlessout([this](const std::string& s) {
      {
        std::lock_guard<std::mutex> g(m);
        lines.push_back(s);
      }
      if (online) online(s);
    });
    setmsgboxhook([this](const std::string& t, const std::string& c, int f) {
      lastbox = c + ": " + t;
      boxes++;
      return answer;
    });
  }
  void TearDown() override {
    passprobe = nullptr;
    startuphook = initencoder;
    reopenhook = reopenscript;
    closehook = closeencoder;
    dlgsetheadlessout(nullptr);
    setmsgboxhook(nullptr);
    setshutdowncommand("");
    fs::remove_all(dir);
  }
  int run(std::vector<std::string> args = {}) {
    args.insert(args.begin(), "ostrel");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return winmain((int)args.size(), argv.data());
  }
  std::vector<std::string> got() {
    std::lock_guard<std::mutex> g(m);
    return lines;
  }
  // Opens the run's files as a start-up would; the scratch file is settings.dbspath.
  void openrunfiles() {
    ASSERT_TRUE(unitopen(unitstream, dir + "/out.m2v", unitnew));
    ASSERT_TRUE(unitopen(unitlog, dir + "/out.log", unitappend));
    settings.dbspath = dir + "/KJ01.dbs";
    ASSERT_TRUE(unitopen(unitstats, settings.dbspath, unitnew));
  }
};
}  // namespace

TEST_F(stepmachine, twopassrungoesthroughbothpassesandcountsdown) {
  std::vector<int> order;
  passprobe = [&](int pass, int k) { order.push_back(pass); };
  EXPECT_EQ(run(), exitok);
  EXPECT_EQ(got(), join({passlines(1), passlines(2), countdown(5, finished)}));
  EXPECT_EQ(order, std::vector<int>({1, 1, 1, 1, 1, 2, 2, 2, 2, 2}));
  EXPECT_EQ(boxes.load(), 0);
  EXPECT_FALSE(workerset());
}

TEST_F(stepmachine, onepassrunendsafterpass1) {
  startcase.passes = 1;
  settings.waitsecs = 2;
  EXPECT_EQ(run(), exitok);
  EXPECT_EQ(got(), join({passlines(1), countdown(2, finished)}));
  EXPECT_TRUE(settings.streamout);
}

TEST_F(stepmachine, waittimeisclampedto0to99) {
  settings.waitsecs = 150;
  EXPECT_EQ(run(), exitok);
  auto l = got();
  std::vector<std::string> tail(l.begin() + 10, l.end());
  EXPECT_EQ(tail, countdown(99, finished));
  for (int w : {0, -7}) {
    lines.clear();
    settings.waitsecs = w;
    EXPECT_EQ(run(), exitok);
    EXPECT_EQ(got(), join({passlines(1), passlines(2)})) << w;
  }
}

TEST_F(stepmachine, startuperrorcountsdownandendsnonzero) {
  startcase.code = 259;
  testing::internal::CaptureStderr();
  EXPECT_EQ(run(), exitstartup);
  std::string err = testing::internal::GetCapturedStderr();
  std::vector<std::string> want;
  for (int d = 9; d >= 1; d--) want.push_back(" (" + std::to_string(d) + ") ERROR, can't find input file");
  EXPECT_EQ(got(), want);
  EXPECT_EQ(err, "ostrel: ERROR, can't find input file\n");
  EXPECT_EQ(passpictures.load(), 0);
}

TEST_F(stepmachine, suspendholdstheworkerandasecondclickresumes) {
  std::atomic<bool> checked{false};
  passprobe = [&](int pass, int k) {
    if (pass == 1 && k == 2) {
      userclick(*maindialog, 30002);
      ASSERT_TRUE(waitfor([] { return workersuspended(); }));
    }
    if (pass == 1 && k == 3) {
      ASSERT_TRUE(waitfor([&] { return checked.load(); }));  // the window stays meanwhile
    }
  };
  std::thread user([&] {
    ASSERT_TRUE(waitfor([] { return workerparked(); }));
    int held = passpictures;
    EXPECT_EQ(caption(30002), "resume");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(passpictures.load(), held);  // no progress while suspended
    EXPECT_TRUE(workerparked());
    userclick(*maindialog, 30002);
    ASSERT_TRUE(waitfor([] { return !workersuspended(); }));
    EXPECT_EQ(caption(30002), "suspend");
    checked = true;
  });
  EXPECT_EQ(run(), exitok);
  user.join();
  EXPECT_TRUE(checked);
  EXPECT_EQ(got(), join({passlines(1), passlines(2), countdown(5, finished)}));
}

// Exit during the work: the question, then a stop; the files stay open until the worker has
// stopped, then they are closed and the scratch file deleted.
TEST_F(stepmachine, exitduringworkstopsthe_workerbeforethefilesclose) {
  bool openwhilestopping = false;
  passprobe = [&](int pass, int k) {
    if (k == 1) openrunfiles();
    if (k == 3) {
      userclick(*maindialog, 30001);
      ASSERT_TRUE(waitfor([] { return !keeprunning; }));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      openwhilestopping = unitisopen(unitstream) && unitisopen(unitstats) && fs::exists(settings.dbspath);
    }
  };
  EXPECT_EQ(run(), exitstopped);
  EXPECT_TRUE(openwhilestopping);
  EXPECT_EQ(boxes.load(), 1);
  EXPECT_EQ(lastbox, "KJ message: encoding in progress, quit anyway ?");
  EXPECT_FALSE(unitisopen(unitstream));
  EXPECT_FALSE(unitisopen(unitlog));
  EXPECT_FALSE(unitisopen(unitstats));
  EXPECT_FALSE(fs::exists(settings.dbspath));
  EXPECT_TRUE(fs::exists(dir + "/out.m2v"));  // the partial stream stays
  auto l = got();
  auto p1 = passlines(1);
  EXPECT_EQ(l, std::vector<std::string>(p1.begin(), p1.begin() + 2));
}

TEST_F(stepmachine, exitansweredno_goeson) {
  answer = idno;
  passprobe = [&](int pass, int k) {
    if (pass == 1 && k == 3) {
      userclick(*maindialog, 30001);
      ASSERT_TRUE(waitfor([&] { return boxes.load() == 1; }));
    }
  };
  EXPECT_EQ(run(), exitok);
  EXPECT_EQ(got(), join({passlines(1), passlines(2), countdown(5, finished)}));
}

TEST_F(stepmachine, closerequestwhileencodingasks) {
  for (int a : {idno, idyes}) {
    lines.clear();
    boxes = 0;
    answer = a;
    passprobe = [&](int pass, int k) {
      if (pass == 2 && k == 1) {
        userclose(*maindialog);
        ASSERT_TRUE(waitfor([&] { return boxes.load() == 1; }));
        if (a == idyes) {
          ASSERT_TRUE(waitfor([] { return !keeprunning; }));
        }
      }
    };
    int status = run();
    EXPECT_EQ(boxes.load(), 1);
    if (a == idno) {
      EXPECT_EQ(status, exitok);
      EXPECT_EQ(got(), join({passlines(1), passlines(2), countdown(5, finished)}));
    } else {
      EXPECT_EQ(status, exitstopped);
      EXPECT_EQ(got(), passlines(1));
    }
  }
}

TEST_F(stepmachine, sigintisacloserequest) {
  answer = idno;
  passprobe = [&](int pass, int k) {
    if (pass == 1 && k == 2) {
      kill(getpid(), SIGINT);
      ASSERT_TRUE(waitfor([&] { return boxes.load() == 1; }));
    }
  };
  EXPECT_EQ(run(), exitok);
  EXPECT_EQ(boxes.load(), 1);
}

// SIGTERM during the last GOP, the question answered yes: the run is stopped, never taken for
// one that ended well (today it could exit 0 after "quit anyway ?").
TEST_F(stepmachine, sigtermduringthelastgopisastop) {
  passprobe = [&](int pass, int k) {
    if (pass == 1 && k == 5) {
      kill(getpid(), SIGTERM);
      ASSERT_TRUE(waitfor([&] { return boxes.load() == 1; }));
    }
  };
  startcase.passes = 1;
  EXPECT_EQ(run(), exitstopped);
  EXPECT_EQ(boxes.load(), 1);
}

TEST_F(stepmachine, closerequestduringthecountdownquitsatonce) {
  online = [&](const std::string& s) {
    if (s == " ( 3) encoding finished...") {
      postclose();
      ASSERT_TRUE(waitfor([] { return workerstopping(); }));
    }
  };
  EXPECT_EQ(run(), exitok);
  EXPECT_EQ(boxes.load(), 0);
  auto l = got();
  std::vector<std::string> tail(l.begin() + 10, l.end());
  auto c5 = countdown(5, finished);
  EXPECT_EQ(tail, std::vector<std::string>(c5.begin(), c5.begin() + 3));
}

TEST_F(stepmachine, closerequestduringanerrorquitsatonce) {
  startcase.code = 520;
  online = [&](const std::string& s) {
    if (s == " (7) ERROR, can't find chapter file") {
      postclose();
      ASSERT_TRUE(waitfor([] { return workerstopping(); }));
    }
  };
  testing::internal::CaptureStderr();
  EXPECT_EQ(run(), exitstartup);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(boxes.load(), 0);
  EXPECT_EQ(got().size(), 3u);
}

TEST_F(stepmachine, closerequestasthefinishthreadends) {
  online = [&](const std::string& s) {
    if (s == " ( 1) encoding finished...") postclose();
  };
  EXPECT_EQ(run(), exitok);
  EXPECT_EQ(boxes.load(), 0);
}

// After an error asked for step 98, the dying worker's later steps are ignored; the clean-up
// runs once.
TEST_F(stepmachine, errorstepwinsoverlatersteps) {
  passprobe = [&](int pass, int k) {
    if (k == 1) openrunfiles();
    if (pass == 1 && k == 2) {
      abortrun();
      poststep(stepdone);
      poststep(steppass2);
      EXPECT_EQ(nextstep.load() == steperror || nextstep.load() == 0, true);
    }
  };
  online = [&](const std::string& s) {
    // A scratch file made after the clean-up stays: the clean-up does not run a second time.
    if (s == " ( 3) encoding terminated on error...") writefile(settings.dbspath, "late");
  };
  EXPECT_EQ(run(), exitrunerror);
  auto l = got();
  ASSERT_GE(l.size(), 5u);
  std::vector<std::string> tail(l.end() - 5, l.end());
  EXPECT_EQ(tail, countdown(5, terminated));
  for (auto& s : l) EXPECT_EQ(s.find(" pass 2"), std::string::npos) << s;
  EXPECT_FALSE(unitisopen(unitstream));
  EXPECT_EQ(readfile(settings.dbspath), "late");
}

TEST_F(stepmachine, failedreopenbeforeapassendsasanerror) {
  startcase.script = true;
  for (int pass : {1, 2}) {
    lines.clear();
    passpictures = 0;
    startcase.failedreopen = pass;
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), exitrunerror);
    std::string err = testing::internal::GetCapturedStderr();
    std::string text = "Avisynth message: invoke environment error - pass " + std::to_string(pass);
    // The reason (the frame server's message) first, then the error's countdown.
    const std::string why = "pass " + std::to_string(pass) + ": the stand-in's open failed";
    std::vector<std::string> stamp{"ERROR, " + why};
    for (int d = 9; d >= 1; d--) stamp.push_back(" (" + std::to_string(d) + ") ERROR, " + text);
    if (pass == 1)
      EXPECT_EQ(got(), join({stamp, countdown(5, terminated)}));
    else
      EXPECT_EQ(got(), join({passlines(1), stamp, countdown(5, terminated)}));
    EXPECT_EQ(err, "ostrel: " + text + "\nostrel: " + why + "\n");
    EXPECT_EQ(passpictures.load(), pass == 1 ? 0 : 5);
  }
}

namespace {
std::string banner(int p, int left) {
  std::string n = std::to_string(left);
  while (n.size() < 3) n = " " + n;
  return std::string((size_t)p - 1, ' ') + " ---------> shutdown in " + n + " s <---------";
}
}  // namespace

TEST_F(stepmachine, shutdownbannermovestoandfroandthenpowersoff) {
  settings.waitsecs = 0;
  startcase.shutdown = true;
  std::string mark = dir + "/poweredoff";
  setshutdowncommand("touch '" + mark + "'");
  EXPECT_EQ(run(), exitok);
  auto l = got();
  std::vector<std::string> tail(l.begin() + 10, l.end());
  ASSERT_EQ(tail.size(), 300u);
  for (int i = 0; i < 300; i++) {
    int c = i % 20;
    int p = c <= 10 ? 1 + 10 * c : 1 + 10 * (20 - c);  // 1, 11, ... 101, 91, ... 11, 1, 11 ...
    EXPECT_EQ(tail[(size_t)i], banner(p, 300 - i)) << i;
  }
  EXPECT_TRUE(fs::exists(mark));
}

TEST_F(stepmachine, untickingshutdownstopsthecountdown) {
  settings.waitsecs = 1;
  std::string mark = dir + "/poweredoff";
  setshutdowncommand("touch '" + mark + "'");
  passprobe = [&](int pass, int k) {
    if (pass == 1 && k == 1) {
      dlgputflag(*maindialog, 1073, true);  // as the start-up ticks it for *SHUTDOWN
      shutdownflag = true;
    }
  };
  online = [&](const std::string& s) {
    if (s == banner(51, 295)) {
      userclick(*maindialog, 1073);
      ASSERT_TRUE(waitfor([] { return !shutdownflag; }));
    }
  };
  EXPECT_EQ(run(), exitok);
  auto l = got();
  std::vector<std::string> tail(l.begin() + 11, l.end());
  ASSERT_EQ(tail.size(), 6u);
  EXPECT_EQ(tail.back(), banner(51, 295));
  EXPECT_FALSE(fs::exists(mark));
}

TEST_F(stepmachine, afailedshutdownisreported) {
  settings.waitsecs = 0;
  startcase.shutdown = true;
  setshutdowncommand("exit 5");
  testing::internal::CaptureStderr();
  EXPECT_EQ(run(), exitshutdown);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("can't shut down"), std::string::npos) << err;
  EXPECT_EQ(got().back().substr(0, 23), "ERROR, can't shut down:");
}

TEST_F(stepmachine, zoomeditandspin) {
  bool done = false;
  passprobe = [&](int pass, int k) {
    if (pass != 1 || k != 1) return;
    dialogrecord& d = *maindialog;
    EXPECT_EQ(caption(1009), "1");
    EXPECT_EQ(dlggetint(d, 1010), 1);
    struct c { const char* typed; int zoom; };
    const c cases[] = {{"abc", 1}, {"9", 5}, {"abc", 5}, {" 3", 3}, {"0", 1}, {"", 1}, {"4, 2", 4}, {"2.5", 4}};
    for (auto [typed, zoom] : cases) {
      zoomchanged = false;
      usertype(d, 1009, typed);
      ASSERT_TRUE(waitfor([] { return zoomchanged.load(); })) << typed;
      EXPECT_EQ(previewzoom.load(), zoom) << typed;
      EXPECT_EQ(caption(1009), std::to_string(zoom)) << typed;
      EXPECT_EQ(dlggetint(d, 1010), zoom) << typed;
    }
    zoomchanged = false;
    userspin(d, 1010, -2);
    ASSERT_TRUE(waitfor([] { return zoomchanged.load(); }));
    EXPECT_EQ(previewzoom.load(), 2);
    EXPECT_EQ(caption(1009), "2");
    userclick(d, 1007);
    ASSERT_TRUE(waitfor([] { return previewon.load(); }));
    userclick(d, 1006);
    ASSERT_TRUE(waitfor([] { return !previewon.load(); }));
    userclick(d, 1075);
    ASSERT_TRUE(waitfor([] { return showbuffer.load(); }));
    userclick(d, 30003);
    ASSERT_TRUE(waitfor([&] { return boxes.load() == 1; }));
    EXPECT_EQ(lastbox.substr(0, 12), "Ostrel 021: ");
    done = true;
  };
  EXPECT_EQ(run(), exitok);
  EXPECT_TRUE(done);
}

TEST_F(stepmachine, silentsettingsfileshowsnothing) {
  std::string ini = dir + "/quiet.ini";
  writefile(ini, "*BITRATE 5000\r\n*silent\r\n");
  for (int code : {0, 262}) {
    lines.clear();
    settings = settingsrec{};
    startcase.code = code;
    testing::internal::CaptureStderr();
    int status = run({"-ini", ini});
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, code == 0 ? exitok : exitstartup);
    EXPECT_TRUE(got().empty()) << code;
    EXPECT_FALSE(showwindow.load());
    EXPECT_EQ(settings.waitsecs, 0);
    if (code != 0) {
      EXPECT_EQ(err, "ostrel: ERROR, can't open m2v file\n");
    }
  }
}

TEST(silentprobe, firstsevencharactersofalineinanycase) {
  std::string ini = testing::TempDir() + "/probe-" + std::to_string(getpid()) + ".ini";
  const std::pair<const char*, bool> cases[] = {
      {"*SILENT\n", false},          {"*bitrate 5\n*Silent\n", false}, {"*SILENTLY\n", false},
      {" *SILENT\n", true},          {"*SILEN\n", true},                {"", true},
      {"*WAIT 5\r\n*SILENT\r\n", false}};
  for (auto [text, shown] : cases) {
    writefile(ini, text);
    settings = settingsrec{};
    const char* argv[] = {"ostrel", "-INI", ini.c_str(), nullptr};
    getargs(3, argv);
    EXPECT_EQ(switchvalue(slotini), ini);
    EXPECT_TRUE(settings.inifilegiven);
    EXPECT_EQ(settings.argcount, 3);
    EXPECT_EQ(inisilent(), shown) << "[" << text << "]";
  }
  fs::remove(ini);
  EXPECT_TRUE(inisilent());  // a missing file: the window is shown
  const char* none[] = {"ostrel", nullptr};
  getargs(1, none);
  settings = settingsrec{};
}
