// The front end run from outside, headless: the status lines of its start-up chain on stdout,
// its end on SIGTERM (the close request) with status 0, and the staged decoder library it
// removes at start-up.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"

namespace {
// Runs ostrelfront of the folder headless until it has printed the line last (or 30 seconds
// passed), then sends SIGTERM and waits for it.
runresult runfront(const progfolder& pf, const std::string& last) {
  runresult r;
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(devnull, 2);
    if (chdir(pf.dir().c_str()) != 0) _exit(127);
    setenv("OSTREL_HEADLESS", "1", 1);
    setenv("OSTREL_TIMESCALE", "0", 1);
    execl(pf.path("ostrelfront").c_str(), "ostrelfront", (char*)nullptr);
    _exit(127);
  }
  close(out[1]);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  bool sent = false;
  char buf[4096];
  for (;;) {
    if (!sent && (r.out.find("\n" + last + "\n") != std::string::npos || r.out.rfind(last + "\n", 0) == 0 ||
                  std::chrono::steady_clock::now() > deadline)) {
      kill(pid, SIGTERM);
      sent = true;
    }
    pollfd p{out[0], POLLIN, 0};
    if (poll(&p, 1, 100) < 0) continue;
    if (!(p.revents & (POLLIN | POLLHUP))) continue;
    ssize_t n = read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    r.out.append(buf, (size_t)n);
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}
}  // namespace

TEST(frontoutside, startuplinesonstdoutandsigtermendswell) {
  progfolder pf;
  pf.write("clip.avs", smallclip);
  pf.write("KJ.ini", "*INFILE           clip.avs\r\n*OUTFILE          clip.m2v\r\n");
  // The clip's 176x144 is no DVD size: the warning ends the chain; the line breaks at its
  // first blank from column 101 on.
  const std::string opened = " KJ.ini successfully processed, Avisynth.dll loaded, Avisynth successfully initialized";
  const std::string last = opened + ", WARNING, resolution/frame\nrate mismatch";
  runresult r = runfront(pf, last);
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, " KJ.ini successfully processed\n"
                   " KJ.ini successfully processed, Avisynth.dll loaded\n" + opened + "\n" + last + "\n");
  // It writes nothing of its own at start-up: KJ.ini stays as it was.
  EXPECT_EQ(pf.read("KJ.ini"), "*INFILE           clip.avs\r\n*OUTFILE          clip.m2v\r\n");
}

// A decoder library an earlier encode left staged goes at start-up, and the library that was
// there before comes back; a library that was never staged stays.
TEST(frontoutside, astagedlibraryleftbehindgoesatstartup) {
  progfolder pf;
  ASSERT_TRUE(pf.exists("DGDecode.dll"));
  std::string built = pf.read("DGDecode.dll");
  runresult r = runfront(pf, " KJ.ini not found, using default GUI settings");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(pf.read("DGDecode.dll"), built);
  std::filesystem::rename(pf.path("DGDecode.dll"), pf.path("DGDecode.dll.kept"));
  pf.write("DGDecode.dll", "staged for a version 16 project");
  pf.write("DGDecode.dll.staged", "");
  r = runfront(pf, " KJ.ini not found, using default GUI settings");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(pf.read("DGDecode.dll"), built);
  EXPECT_FALSE(pf.exists("DGDecode.dll.staged"));
  EXPECT_FALSE(pf.exists("DGDecode.dll.kept"));
}
