#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

extern char** environ;

namespace {
std::mutex launcherlock;
launcher forced;

constexpr size_t longestline = 65536;  // bytes of a standard-error line that are kept

// Reads the pipe to its end (every writer gone), handing on whole lines; a last line without
// its line end is handed on too.
void readlines(int fd, const errorlines& lines) {
  std::string line;
  bool cut = false;  // the rest of an overlong line is dropped
  char buf[4096];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; i++) {
      if (buf[i] == '\n') {
        lines(line);
        line.clear();
        cut = false;
      } else if (!cut) {
        line += buf[i];
        cut = line.size() >= longestline;
      }
    }
  }
  if (!line.empty()) lines(line);
}

int spawnandwait(const std::string& path, const std::string& folder, std::string& why, const errorlines& lines) {
  int pipefd[2] = {-1, -1};
  if (lines && pipe2(pipefd, O_CLOEXEC) != 0) {
    why = path + ": " + std::strerror(errno);
    return -1;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  // The write end becomes the program's standard error (dup2 clears close-on-exec there).
  if (lines) posix_spawn_file_actions_adddup2(&actions, pipefd[1], 2);
  const char* args[] = {path.c_str(), nullptr};
  pid_t pid;
  int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, const_cast<char**>(args), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (lines) close(pipefd[1]);
  if (rc != 0) {
    if (lines) close(pipefd[0]);
    why = path + ": " + std::strerror(rc);
    return -1;
  }
  // The pipe is read to its end before the wait, so a program that writes much on standard
  // error never blocks on a full pipe.
  if (lines) {
    readlines(pipefd[0], lines);
    close(pipefd[0]);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      why = path + ": " + std::strerror(errno);
      return -1;
    }
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + WTERMSIG(status);
}
}  // namespace

int runprogram(const std::string& path, const std::string& folder, std::string& why, const errorlines& lines) {
  launcher l;
  {
    std::lock_guard<std::mutex> g(launcherlock);
    l = forced;
  }
  return l ? l(path, folder, why, lines) : spawnandwait(path, folder, why, lines);
}

void setlauncher(launcher l) {
  std::lock_guard<std::mutex> g(launcherlock);
  forced = std::move(l);
}
