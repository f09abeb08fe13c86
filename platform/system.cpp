#include "platform/system.h"

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/queue.h"

extern char** environ;

namespace {
std::mutex cmdlock;
std::string forcedcommand;
}  // namespace

std::string programpath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  return std::string(buf, (size_t)n);
}

std::string programdir() {
  std::string p = programpath();
  size_t k = p.rfind('/');
  return k == std::string::npos ? std::string() : p.substr(0, k + 1);
}

bool filedate(const std::string& path, int& year, int& month, int& day) {
  struct statx sx {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) != 0) return false;
  time_t t = (sx.stx_mask & STATX_BTIME) ? (time_t)sx.stx_btime.tv_sec : (time_t)sx.stx_mtime.tv_sec;
  struct tm local {};
  if (!localtime_r(&t, &local)) return false;
  year = local.tm_year + 1900;
  month = local.tm_mon + 1;
  day = local.tm_mday;
  return true;
}

void setshutdowncommand(const std::string& command) {
  std::lock_guard<std::mutex> g(cmdlock);
  forcedcommand = command;
}

bool poweroff(std::string& why) {
  std::string cmd;
  if (const char* e = std::getenv("OSTREL_SHUTDOWN_CMD"); e && *e) cmd = e;
  {
    std::lock_guard<std::mutex> g(cmdlock);
    if (!forcedcommand.empty()) cmd = forcedcommand;
  }
  if (cmd.empty()) cmd = "systemctl poweroff";
  const char* args[] = {"/bin/sh", "-c", cmd.c_str(), nullptr};
  pid_t pid;
  int rc = posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(args), environ);
  if (rc != 0) {
    why = "can't run \"" + cmd + "\": " + std::strerror(rc);
    return false;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  why = "\"" + cmd + "\" failed with status " +
        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  return false;
}

void closeonsignals() {
  static std::once_flag once;
  std::call_once(once, [] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set] {
      for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) == 0) postclose();
      }
    }).detach();
  });
}
