#include "platform/process.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>
#include <mutex>

extern char** environ;

namespace {
std::mutex launcherlock;
launcher forced;

int spawnandwait(const std::string& path, const std::string& folder, std::string& why) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  const char* args[] = {path.c_str(), nullptr};
  pid_t pid;
  int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, const_cast<char**>(args), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    why = path + ": " + std::strerror(rc);
    return -1;
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

int runprogram(const std::string& path, const std::string& folder, std::string& why) {
  launcher l;
  {
    std::lock_guard<std::mutex> g(launcherlock);
    l = forced;
  }
  return l ? l(path, folder, why) : spawnandwait(path, folder, why);
}

void setlauncher(launcher l) {
  std::lock_guard<std::mutex> g(launcherlock);
  forced = std::move(l);
}
