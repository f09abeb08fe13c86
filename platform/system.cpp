#include "platform/system.h"

#include <signal.h>
#include <spawn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <sstream>

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

// The thread that waits for the signals (its kernel thread id), 0 until it runs.
std::atomic<pid_t> signaltid{0};

// SIGPIPE arises in the thread whose write failed; it goes on to the signal thread, which
// has it blocked and waits for it. Only async-signal-safe calls here.
void relaypipe(int) {
  const int saved = errno;
  const pid_t tid = signaltid.load();
  if (tid != 0) syscall(SYS_tgkill, getpid(), tid, SIGPIPE);
  errno = saved;
}
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
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGQUIT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // Signals that would kill the run outright without a word: the user signals mean nothing
    // here, and a file grown past the size limit (ulimit -f) is a failed write like a full disk.
    for (int sig : {SIGUSR1, SIGUSR2, SIGXFSZ}) signal(sig, SIG_IGN);
    struct sigaction sa {};
    sa.sa_handler = relaypipe;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGPIPE, &sa, nullptr);
    std::thread([set]() mutable {
      // This thread takes SIGPIPE only by waiting for it.
      sigaddset(&set, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &set, nullptr);
      signaltid = static_cast<pid_t>(syscall(SYS_gettid));
      for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        postclose(sig == SIGHUP    ? closehangup
                  : sig == SIGPIPE ? closepipe
                  : sig == SIGQUIT ? closequit
                                   : closeasked);
      }
    }).detach();
  });
}

bool fileidof(const std::string& path, fileid& id) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  id.dev = st.st_dev;
  id.ino = st.st_ino;
  return true;
}

std::vector<fileid> mappedfiles() {
  // /proc/self/maps: "start-end perms offset major:minor inode path", device numbers in hex.
  std::vector<fileid> ids;
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    std::istringstream in(line);
    std::string range, perms, offset, dev;
    unsigned long long inode = 0;
    if (!(in >> range >> perms >> offset >> dev >> inode) || inode == 0) continue;
    const size_t colon = dev.find(':');
    if (colon == std::string::npos) continue;
    const unsigned major = static_cast<unsigned>(std::strtoul(dev.c_str(), nullptr, 16));
    const unsigned minor = static_cast<unsigned>(std::strtoul(dev.c_str() + colon + 1, nullptr, 16));
    fileid id{static_cast<uint64_t>(makedev(major, minor)), inode};
    bool known = false;
    for (const fileid& k : ids) known = known || k == id;
    if (!known) ids.push_back(id);
  }
  return ids;
}

bool isregularfile(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
