#include "platform/helper.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
// How the helper ended, once it has (reaped).
std::string endedhow(helperproc& h) {
  int status = 0;
  pid_t r;
  for (int i = 0; i < 40; ++i) {  // the pipe closes a moment before the process is gone
    r = ::waitpid(h.pid, &status, WNOHANG);
    if (r != 0) break;
    ::usleep(25000);
  }
  if (r != h.pid) return "it no longer answers";
  h.pid = -1;
  if (WIFSIGNALED(status)) {
    const int sig = WTERMSIG(status);
    return "it crashed (signal " + std::to_string(sig) + ", " + strsignal(sig) + ")";
  }
  return "it ended with exit status " + std::to_string(WEXITSTATUS(status));
}
}  // namespace

bool fdwriteall(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    // A helper that is gone must not raise SIGPIPE here: that signal means "standard output
    // was closed" to the program.
    ssize_t w = ::send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == ENOTSOCK) w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

bool fdreadall(int fd, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    const ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

bool helperstart(helperproc& h, int (*serve)(int in, int out)) {
  // One stream socket pair carries both ways: sends to it never raise SIGPIPE.
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
  const int readside = ::fcntl(sv[0], F_DUPFD_CLOEXEC, 0);
  if (readside < 0) {
    ::close(sv[0]);
    ::close(sv[1]);
    return false;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    for (int fd : {sv[0], sv[1], readside}) ::close(fd);
    return false;
  }
  if (pid == 0) {
    // The helper: killed with the program, deaf to the terminal's signals.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    ::setpgid(0, 0);
    ::signal(SIGPIPE, SIG_IGN);
    // A crash ends the helper by its signal, which the program reports (no handler of a
    // sanitizer turns it into an exit status).
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(sig, SIG_DFL);
    const int null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) {
      ::dup2(null, 0);
      ::close(null);
    }
    ::close(sv[0]);
    ::close(readside);
    ::_exit(serve(sv[1], sv[1]));
  }
  ::close(sv[1]);
  h.pid = pid;
  h.tohelper = sv[0];
  h.fromhelper = readside;
  return true;
}

int helperanswer(helperproc& h, void* data, size_t n, const std::function<bool()>& stop, int timeoutms,
                 std::string& why) {
  why.clear();
  char* p = static_cast<char*>(data);
  const auto start = std::chrono::steady_clock::now();
  while (n > 0) {
    if (stop && stop()) return helperstopped;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start).count();
    if (spent >= timeoutms) {
      why = "it did not answer within " + std::to_string(timeoutms / 1000) + " seconds";
      return helpertimeout;
    }
    pollfd pfd{h.fromhelper, POLLIN, 0};
    const int r = ::poll(&pfd, 1, 50);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) continue;
    const ssize_t got = r > 0 ? ::read(h.fromhelper, p, n) : -1;
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      why = endedhow(h);
      return helperended;
    }
    p += got;
    n -= size_t(got);
  }
  return helperok;
}

void helperend(helperproc& h, bool kill) {
  for (int* fd : {&h.tohelper, &h.fromhelper}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (h.pid <= 0) return;
  if (!kill) {
    for (int i = 0; i < 80 && ::waitpid(h.pid, nullptr, WNOHANG) == 0; ++i) ::usleep(25000);
    if (::waitpid(h.pid, nullptr, WNOHANG) != 0) {
      h.pid = -1;
      return;
    }
  }
  ::kill(h.pid, SIGKILL);
  while (::waitpid(h.pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  h.pid = -1;
}
