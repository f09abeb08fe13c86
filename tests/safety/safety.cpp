#include "tests/safety/safety.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

liverun::liverun(const progfolder& pf, const std::vector<std::string>& args, bool readout,
                 const std::vector<std::string>& env) {
  int outpipe[2] = {-1, -1};
  if (readout && pipe2(outpipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const std::string errname = pf.path("stderr-" + std::to_string(getpid()) + ".txt");
  errfd_ = open(errname.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  unlink(errname.c_str());  // never part of the folder's files
  if (errfd_ < 0) throw std::runtime_error("no stderr file");
  std::vector<std::string> all{"OSTREL_TIMESCALE=0", "OSTREL_HEADLESS=1"};
  all.insert(all.end(), env.begin(), env.end());
  const std::string prog = pf.path("ostrel");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(readout ? outpipe[1] : devnull, 1);
    dup2(errfd_, 2);
    // The signals as a shell leaves them for a program it starts.
    ::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (chdir(pf.dir().c_str()) != 0) _exit(120);
    for (const auto& e : all) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> argv{const_cast<char*>(prog.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(prog.c_str(), argv.data());
    _exit(121);
  }
  if (readout) {
    close(outpipe[1]);
    out_ = outpipe[0];
  }
}

liverun::~liverun() {
  if (status_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  closeout();
  if (errfd_ >= 0) close(errfd_);
}

bool liverun::readline(std::string& line, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    size_t nl = pending_.find('\n');
    if (nl != std::string::npos) {
      line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      return true;
    }
    if (out_ < 0) return false;
    int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
    if (left <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, left) <= 0) continue;
    char buf[4096];
    ssize_t n = read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    pending_.append(buf, (size_t)n);
  }
}

void liverun::closeout() {
  if (out_ >= 0) close(out_);
  out_ = -1;
}

void liverun::signal(int sig) {
  if (pid_ > 0 && status_ < 0) kill(pid_, sig);
}

void liverun::pause() {
  if (pid_ <= 0 || status_ >= 0) return;
  kill(pid_, SIGSTOP);
  int st = 0;
  waitpid(pid_, &st, WUNTRACED);
}

void liverun::resume() { signal(SIGCONT); }

int liverun::wait(int secs) {
  if (status_ >= 0) return status_;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(secs);
  int st = 0;
  for (;;) {
    // Keep the pipe drained: a run blocked on a full pipe never ends.
    if (out_ >= 0) {
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 0) > 0) {
        char buf[4096];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n > 0) pending_.append(buf, (size_t)n);
      }
    }
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) break;
    if (std::chrono::steady_clock::now() > end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  status_ = WIFEXITED(st) ? WEXITSTATUS(st) : WIFSIGNALED(st) ? 128 + WTERMSIG(st) : -1;
  return status_;
}

std::string liverun::err() {
  std::string s;
  char buf[65536];
  for (off_t at = 0;;) {
    ssize_t n = pread(errfd_, buf, sizeof buf, at);
    if (n <= 0) break;
    s.append(buf, (size_t)n);
    at += n;
  }
  return s;
}

bool waituntil(const std::function<bool()>& pred, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

long long filesize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

namespace {
// The descriptor numbers of the run that lead to path.
std::vector<std::string> descriptorsof(pid_t pid, const std::string& path) {
  std::vector<std::string> fds;
  struct stat want;
  if (stat(path.c_str(), &want) != 0) return fds;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    struct stat st;
    if (stat(e.path().c_str(), &st) == 0 && st.st_dev == want.st_dev && st.st_ino == want.st_ino)
      fds.push_back(e.path().filename().string());
  }
  return fds;
}
}  // namespace

bool hasopen(pid_t pid, const std::string& path) { return !descriptorsof(pid, path).empty(); }

long long fileoffset(pid_t pid, const std::string& path) {
  long long most = -1;
  for (const std::string& fd : descriptorsof(pid, path)) {
    std::string info = readfile("/proc/" + std::to_string(pid) + "/fdinfo/" + fd);
    size_t at = info.find("pos:");
    if (at != std::string::npos) most = std::max(most, std::atoll(info.c_str() + at + 4));
  }
  return most;
}

std::string y4mclip(int width, int height, int frames) {
  std::string s = "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) +
                  " F25:1 Ip A1:1 C420jpeg\n";
  for (int k = 0; k < frames; k++) {
    s += "FRAME\n";
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width; x++) s += (char)(16 + ((x + 3 * k) ^ (y + k)) % 200);
    for (int y = 0; y < height; y++)
      for (int x = 0; x < width / 2; x++) s += (char)(128 + ((x + y + k) & 31) - 16);
  }
  return s;
}

long long y4mframe(int width, int height, int k) {
  const std::string head = "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) +
                           " F25:1 Ip A1:1 C420jpeg\n";
  return (long long)head.size() + (long long)k * (6 + (long long)width * height * 3 / 2);
}

std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    std::string name = fs::relative(e.path(), dir).string();
    if (e.is_symlink())
      files[name] = "<link to " + fs::read_symlink(e.path()).string() + ">";
    else if (e.is_regular_file())
      files[name] = readfile(e.path().string());
    else
      files[name] = "<not a file>";
  }
  return files;
}

int countafter(const std::string& text, const std::string& prefix) {
  size_t at = text.find(prefix);
  if (at == std::string::npos) return -1;
  return std::atoi(text.c_str() + at + prefix.size());
}

int occurrences(const std::string& text, const std::string& piece) {
  int n = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) n++;
  return n;
}

