// The encode button: with a stand-in launcher, the order of its steps (the decoder library
// staged, KJ.ini written, the encoder started in the program folder while the window is hidden,
// the library removed after it ended) and each refusal with its text; and once for real, the
// encoder of a program folder started on a generated clip.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "frontend/window/guimain.h"
#include "platform/msgbox.h"
#include "platform/process.h"
#include "tests/frontend/echo.h"
#include "tests/frontend/fixture.h"
#include "tests/frontend/pagestates.h"
#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {
// The status line as one line: its breaks (a blank from column 101 on) are blanks again.
std::string flatstatus() {
  std::string s = statustext;
  for (char& c : s)
    if (c == '\n') c = ' ';
  return s;
}

// What happens to KJ.ini and DGDecode.dll in a folder, in order, as the kernel reports it.
class folderwatch {
 public:
  explicit folderwatch(const std::string& dir) : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    inotify_add_watch(fd_, dir.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE);
  }
  ~folderwatch() { close(fd_); }
  // The events so far, as "KJ.ini written", "DGDecode.dll set aside" ...
  void take(std::vector<std::string>& into) {
    alignas(inotify_event) char buf[8192];
    for (ssize_t n; (n = read(fd_, buf, sizeof buf)) > 0;) {
      for (char* p = buf; p < buf + n;) {
        auto* e = reinterpret_cast<inotify_event*>(p);
        p += sizeof(inotify_event) + e->len;
        std::string name = e->len ? e->name : "";
        if (name != "KJ.ini" && name != "DGDecode.dll") continue;
        const char* what = e->mask & IN_CLOSE_WRITE ? "written"
                           : e->mask & IN_MOVED_TO  ? (name == "KJ.ini" ? "written" : "back")
                           : e->mask & IN_MOVED_FROM ? "set aside"
                                                     : "removed";
        into.push_back(name + " " + what);
      }
    }
  }

 private:
  int fd_;
};

// The program folder of a front end whose input is a version 16 D2V project: the encoder (a
// stand-in file), the library built beside the programs, and the versioned one in DGDecode/.
class encode : public frontfixture {
 protected:
  void SetUp() override {
    frontfixture::SetUp();
    events.clear();
    started.clear();
    status = 0;
    says.clear();
    run = nullptr;
    start("");
    writefile(dir + "ostrel", "the encoder");
    writefile(dir + "DGDecode.dll", "built library");
    fs::create_directories(dir + "DGDecode");
    writefile(dir + "DGDecode/DGDecode16.dll", "library 16");
    writefile(dir + "v.m2v", "video");
    writefile(dir + "p.d2v", "DGIndexProjectFile16\n1\n" + dir + "v.m2v\n");
    choose(dir + "p.d2v");
    outputpath = dir + "out.m2v";
    iniseen[keyoutfile] = outputset = true;
    setlauncher([this](const std::string& path, const std::string& folder, std::string& why, const errorlines& lines) {
      return launch(path, folder, why, lines);
    });
    watch = std::make_unique<folderwatch>(dir);
  }
  void TearDown() override {
    watch.reset();
    setlauncher(nullptr);
    setmsgboxhook(nullptr);
    frontfixture::TearDown();
  }
  // An input as the file button leaves it; the encode button enabled.
  void choose(const std::string& input) {
    inputpath = input;
    pickdecoder();
    iniseen[keyinfile] = movieinfovalid = true;
    dlgputflag(dlg(dlgmain), 1012, true, ixenabled);
  }
  // The stand-in encoder: what it finds when it starts, what it says on standard error, and its
  // exit status.
  int launch(const std::string& path, const std::string& folder, std::string& why, const errorlines& lines) {
    watch->take(events);
    events.push_back("start");
    started.push_back(path + " in " + folder);
    hidden = !dlgvisible(dlg(dlgmain));
    stagedatstart = fs::exists(dir + "DGDecode.dll") ? readfile(dir + "DGDecode.dll") : "";
    iniatstart = fs::exists(dir + "KJ.ini") ? readfile(dir + "KJ.ini") : "";
    if (run) run();
    for (const std::string& l : says) lines(l);
    events.push_back("end");
    if (status < 0) why = "no such program";
    return status;
  }
  void press() {
    userclick(dlg(dlgmain), 1012);
    watch->take(events);
  }
  // Only the library built beside the programs is left, as before the press.
  void expectunstaged() {
    EXPECT_EQ(readfile(dir + "DGDecode.dll"), "built library");
    EXPECT_FALSE(fs::exists(dir + "DGDecode.dll.staged"));
    EXPECT_FALSE(fs::exists(dir + "DGDecode.dll.kept"));
  }
  std::unique_ptr<folderwatch> watch;
  std::vector<std::string> events, started;
  bool hidden = false;
  std::string stagedatstart, iniatstart;
  int status = 0;
  std::vector<std::string> says;  // the stand-in's lines on standard error
  std::function<void()> run;      // what else the stand-in does (writes a log)
};
}  // namespace

// A D2V project: the library of its version staged, KJ.ini written, the encoder started in the
// program folder with the window hidden, waited for, the window back and the library gone.
TEST_F(encode, stagewritestartwaitremoveinthisorder) {
  press();
  EXPECT_EQ(events, (std::vector<std::string>{"DGDecode.dll set aside", "DGDecode.dll written", "KJ.ini written",
                                              "start", "end", "DGDecode.dll removed", "DGDecode.dll back"}));
  EXPECT_EQ(started, (std::vector<std::string>{dir + "ostrel in " + dir}));
  EXPECT_TRUE(hidden);
  EXPECT_EQ(stagedatstart, "library 16");
  EXPECT_EQ(iniatstart.rfind(kv("*INFILE", dir + "p.d2v") + "\n" + kv("*OUTFILE", dir + "out.m2v") + "\n", 0), 0u)
      << iniatstart;
  EXPECT_TRUE(dlgvisible(dlg(dlgmain)));
  EXPECT_EQ(statustext, " encoding finished");
  expectunstaged();
  // KJ.ini stays as written.
  EXPECT_EQ(readfile(dir + "KJ.ini"), iniatstart);
}

// A script: nothing staged, the library beside the programs untouched.
TEST_F(encode, ascriptstagesnothing) {
  choose(script("clip.avs", smallclip));
  press();
  EXPECT_EQ(events, (std::vector<std::string>{"KJ.ini written", "start", "end"}));
  EXPECT_EQ(stagedatstart, "built library");
  EXPECT_EQ(statustext, " encoding finished");
}

// Each refusal: its status line, no encoder started, the staged library gone again.
TEST_F(encode, refusals) {
  struct row {
    const char* name;
    std::function<void()> set;
    std::string line;
    bool kjini;  // KJ.ini was written (and stays)
  };
  std::atomic<bool> scanning{false};
  const row rows[] = {
      {"a scan runs",
       [&] {
         startscan([&] {
           scanning = true;
           while (!scanstopping()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
         });
         while (!scanning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
       },
       " can't start encode while scene change detection scan is running", false},
      {"the output exists, the answer is no",
       [this] {
         writefile(dir + "out.m2v", "hours of work");
         setmsgboxhook([](const std::string&, const std::string&, int) { return (int)idno; });
       },
       " please rename outputfile", false},
      {"the settings cannot be written", [] { settext(pagemain, 1087, ""); },
       " KJ.ini write aborted, invalid average bitrate, not a number, can't start encode...", false},
      {"the encoder is missing", [this] { fs::remove(dir + "ostrel"); }, " encoder %dirostrel NOT found",
       true},
  };
  for (const row& r : rows) {
    if (&r != rows) {
      TearDown();
      SetUp();
    }
    r.set();
    press();
    SCOPED_TRACE(r.name);
    std::string line = r.line;
    if (size_t k = line.find("%dir"); k != std::string::npos) line.replace(k, 4, dir);
    EXPECT_EQ(statustext, line);
    EXPECT_TRUE(started.empty());
    EXPECT_EQ(fs::exists(dir + "KJ.ini"), r.kjini);
    expectunstaged();
    EXPECT_TRUE(dlgvisible(dlg(dlgmain)));
    stopscan();
  }
}

// The output exists: the question, and on yes the encode goes on. A relative name is the file in
// the program folder, where the encoder writes it.
TEST_F(encode, anexistingoutputisaskedfor) {
  std::vector<std::string> asked;
  setmsgboxhook([&](const std::string& text, const std::string& caption, int flags) {
    asked.push_back(text + " | " + caption + " | " + std::to_string(flags));
    return (int)idyes;
  });
  outputpath = "rel.m2v";
  writefile(dir + "rel.m2v", "an earlier stream");
  press();
  EXPECT_EQ(asked, (std::vector<std::string>{"m2v output file already exists, OVERWRITE ? | KJ message | " +
                                             std::to_string(mbyesno + mbiconwarning + mbsetforeground)}));
  EXPECT_EQ(started.size(), 1u);
  EXPECT_EQ(statustext, " encoding finished");
}

// The encoder cannot be started, or ends on an error: the status line says so, the library goes.
TEST_F(encode, afailedstartandafailedrun) {
  status = -1;
  press();
  EXPECT_EQ(statustext, " failed to start encoding, can't create process");
  EXPECT_TRUE(dlgvisible(dlg(dlgmain)));
  expectunstaged();
  status = 3;
  press();
  EXPECT_EQ(statustext, " encoding finished, ERROR, the encoder ended with exit status 3");
  expectunstaged();
}

// A run that failed: the status line gives the encoder's own reason, its lines on standard error
// that are no warning, and points to the log only when this run wrote it; a run that ended well
// says only that it finished, whatever it said on the way. Every line the encoder wrote goes on
// to the front end's standard error as it was.
TEST_F(encode, afailedrunsayswhyandpointsonlytoalogitwrote) {
  struct row {
    const char* name;
    int status;
    std::vector<std::string> says;
    int log;  // 0 no log named, 1 an earlier log left as it was, 2 the run writes the log
    std::string line;
  };
  const std::string head = " encoding finished, ERROR, the encoder ended with exit status ";
  const std::string longpath = "/" + std::string(150, 'p') + "/out.m2v";
  const row rows[] = {
      {"a start-up error after a warning, an earlier log", 1,
       {"ostrel: WARNING, bias clamped to 100", "ostrel: ERROR, adaptive matrix flagged but can't find matrix.dll"}, 1,
       head + "1: adaptive matrix flagged but can't find matrix.dll"},
      {"an error with the line that names its file", 1,
       {"ostrel: ERROR, can't open m2v file", "ostrel: /x/out.m2v: Permission denied"}, 0,
       head + "1: can't open m2v file, /x/out.m2v: Permission denied"},
      {"lines of others are passed on, not shown", 1,
       {"[ffms2] a library's own line", "ostrel: ERROR, can't load movie"}, 0, head + "1: can't load movie"},
      {"a run error that the run's log tells", 2, {"ostrel: ERROR, can't write to output file, aborting..."}, 2,
       head + "2: can't write to output file, aborting..., see its log"},
      {"a stop without an error line", 3, {"ostrel: encoding stopped by the user"}, 2,
       head + "3: encoding stopped by the user, see its log"},
      {"a long reason is cut, the log still named", 1, {"ostrel: ERROR, can't open m2v file", "ostrel: " + longpath}, 2,
       ""},  // (checked below)
      {"nothing said, no log", 137, {}, 1, head + "137"},
      {"a good run with warnings", 0, {"ostrel: WARNING, something"}, 2, " encoding finished"},
  };
  for (const row& r : rows) {
    if (&r != rows) {
      TearDown();
      SetUp();
    }
    SCOPED_TRACE(r.name);
    status = r.status;
    says = r.says;
    if (r.log) {
      logpath = "run.log";
      iniseen[keylogfile] = true;
      writefile(dir + "run.log", "an earlier run's report\n");
    }
    if (r.log == 2) run = [this] { writefile(dir + "run.log", "this run's report, longer than the last\n"); };
    testing::internal::CaptureStderr();
    press();
    const std::string passed = testing::internal::GetCapturedStderr();
    std::string all;
    for (const std::string& l : r.says) all += l + "\n";
    EXPECT_EQ(passed, all);
    if (!r.line.empty()) {
      EXPECT_EQ(flatstatus(), r.line);
    } else {
      const std::string flat = flatstatus();
      EXPECT_EQ(flat.size(), statuslength);
      EXPECT_EQ(flat.rfind(head + "1: can't open m2v file, /ppp", 0), 0u) << flat;
      EXPECT_EQ(flat.substr(flat.size() - 13), ", see its log");
    }
    if (r.log == 1) {
      EXPECT_EQ(readfile(dir + "run.log"), "an earlier run's report\n");
    }
  }
}

// For real: the front end started on a program folder with a generated clip writes KJ.ini and
// starts the folder's encoder there (the test runs in another folder, and the output and log are
// named relative to the program folder); the stream decodes and the settings echo in the log
// is the pages' settings.
struct realencode : frontfixture {
  // The small clip in the program folder, a GOP of 6 with 2 B pictures, the output and the log
  // named relative to it; the front end started there.
  void startonsmallclip(const progfolder& pf) {
    pf.write("clip.avs", smallclip);
    pf.write("KJ.ini", kv("*INFILE", "clip.avs") + "\n" + kv("*OUTFILE", "out.m2v") + "\n" +
                           kv("*LOGFILE", "out.log") + "\n" + kv("*GOP", "6 2") + "\n");
    ASSERT_TRUE(guistart(1, pf.dir() + "/"));
    started = true;
    ASSERT_TRUE(movieinfovalid) << statustext;
  }
};
TEST_F(realencode, theencoderofthefolderencodesthepagessettings) {
  progfolder pf;
  ASSERT_NE(fs::current_path(), fs::path(pf.dir()));
  pf.write("clip.avs", filmclip);
  pf.write("KJ.ini", kv("*INFILE", pf.path("clip.avs")) + "\n" + kv("*OUTFILE", "out.m2v") + "\n" +
                         kv("*LOGFILE", "out.log") + "\n" + kv("*GOP", "6 2") + "\n");
  ASSERT_TRUE(guistart(1, pf.dir() + "/"));
  started = true;
  ASSERT_TRUE(movieinfovalid) << statustext;
  ASSERT_TRUE(dlggetflag(dlg(dlgmain), 1012, ixenabled));
  const std::vector<std::string> want = echofor(pagesview());
  const bool cpu = echocpu(pagesview());
  userclick(dlg(dlgmain), 1012);
  EXPECT_EQ(statustext, " encoding finished");
  ASSERT_TRUE(pf.exists("out.m2v"));
  EXPECT_EQ(echoof(pf.read("out.log"), cpu), want);
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), (size_t)clipframes);
}

// For real: a value typed and not yet confirmed when a button is clicked is read back first, as
// the click takes the focus from the edit. A maximum typed, then the file-length mode clicked; a
// length typed (500 kbytes over 30 frames at 25 frames/s: 3413 kbit/s), then "encode" clicked:
// KJ.ini and the encoder's log have the average the typed length gives and the typed maximum,
// not the ones shown before.
TEST_F(realencode, avaluestilltypedwhenabuttonisclickedisreadfirst) {
  progfolder pf;
  ASSERT_NO_FATAL_FAILURE(startonsmallclip(pf));
  dialogrecord& p = dlg(pagemain);
  userfocus(p, 1018, true);
  usertype(p, 1018, "6000");
  userclick(p, 1033);
  userfocus(p, 1086, true);
  usertype(p, 1086, "500");
  userclick(dlg(dlgmain), 1012);
  ASSERT_EQ(statustext, " encoding finished");
  EXPECT_EQ(text(pagemain, 1087), "3413");
  const std::string ini = pf.read("KJ.ini"), log = pf.read("out.log");
  EXPECT_NE(ini.find("\n*BITRATE          3413\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("\n*MAXBITRATE       6000\n"), std::string::npos) << ini;
  EXPECT_NE(log.find("\nbitrate Kb/s:             3413\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\nmax. bitrate Kb/s:        6000\n"), std::string::npos) << log;
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
}

// For real: the encoder of the folder stops at start-up (the adaptive matrix without a
// matrix.dll), with its window and silent. The status line gives the encoder's own reason and
// does not point to the log, which the run did not write: the earlier run's log is left as it
// was. No stream is written.
TEST_F(realencode, anencoderthatstopsatstartupsayswhyinthestatusline) {
  for (bool silent : {false, true}) {
    SCOPED_TRACE(silent ? "silent" : "with its window");
    progfolder pf;
    std::filesystem::remove(pf.path("matrix.dll"));
    pf.write("clip.avs", smallclip);
    pf.write("KJ.ini", kv("*INFILE", "clip.avs") + "\n" + kv("*OUTFILE", "out.m2v") + "\n" +
                           kv("*LOGFILE", "out.log") + "\n" + "*ADAPTIVEMATRIX\n" + (silent ? "*SILENT\n" : ""));
    pf.write("out.log", "an earlier run's report\n");
    ASSERT_TRUE(guistart(1, pf.dir() + "/"));
    started = true;
    ASSERT_TRUE(movieinfovalid) << statustext;
    ASSERT_TRUE(dlggetflag(dlg(pagematrix), 1025));
    ASSERT_EQ(dlggetflag(dlg(pagesettings2), 2022), silent);
    testing::internal::CaptureStderr();
    userclick(dlg(dlgmain), 1012);
    const std::string passed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(flatstatus(),
              " encoding finished, ERROR, the encoder ended with exit status 1: adaptive matrix flagged but can't find "
              "matrix.dll");
    EXPECT_NE(passed.find("ostrel: ERROR, adaptive matrix flagged but can't find matrix.dll\n"), std::string::npos)
        << passed;
    EXPECT_EQ(pf.read("out.log"), "an earlier run's report\n");
    EXPECT_FALSE(pf.exists("out.m2v"));
    guiend();
    started = false;
  }
}

// The file length with the average held at the maximum (a file length typed in file-length
// mode that the maximum cannot give) is the encoder's own estimate of the stream: the log's
// "est. outfile length", kbytes of 1,024 bytes (5000 kbit/s over 30 frames at 25 frames/s:
// 732 kbytes; kbytes of 1,000 bytes would give 750).
TEST_F(realencode, thecappedfilelengthistheencodersestimate) {
  progfolder pf;
  ASSERT_NO_FATAL_FAILURE(startonsmallclip(pf));
  dialogrecord& p = dlg(pagemain);
  auto enter = [&](int id, const std::string& text) {
    userfocus(p, id, true);
    usertype(p, id, text);
    userfocus(p, id, false);
  };
  enter(1018, "5000");
  userclick(p, 1033);
  enter(1086, "100000");
  EXPECT_EQ(text(pagemain, 1087), "5000");
  EXPECT_EQ(text(pagemain, 1086), "732");
  userclick(dlg(dlgmain), 1012);
  ASSERT_EQ(statustext, " encoding finished");
  const std::string log = pf.read("out.log");
  const size_t at = log.find("est. outfile length:");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_EQ(trimright(log.substr(at, log.find('\n', at) - at)), "est. outfile length:                 732 kB");
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
}
