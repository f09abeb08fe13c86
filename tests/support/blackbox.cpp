#include "tests/support/blackbox.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;
namespace fs = std::filesystem;

namespace {
// A pseudo-terminal as a pipe pair: [0] the side the test reads, [1] the program's stdout.
void openterminal(int fds[2]) {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    throw std::runtime_error("no pseudo-terminal");
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (slave < 0) throw std::runtime_error("can't open the pseudo-terminal");
  termios t{};
  tcgetattr(slave, &t);
  t.c_oflag &= ~(tcflag_t)OPOST;
  tcsetattr(slave, TCSANOW, &t);
  winsize ws{};
  ws.ws_col = 80;
  ws.ws_row = 24;
  ioctl(slave, TIOCSWINSZ, &ws);
  fds[0] = master;
  fds[1] = slave;
}
}  // namespace

runresult runcommand(const std::vector<std::string>& argv, const std::string& dir,
                     const std::vector<std::string>& env, int timeoutsecs, bool terminal) {
  runresult r;
  int outpipe[2], errpipe[2];
  if (terminal) openterminal(outpipe);
  else if (pipe2(outpipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(errpipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDONLY);
    dup2(devnull, 0);
    dup2(outpipe[1], 1);
    dup2(errpipe[1], 2);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(127);
    for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(outpipe[1]);
  close(errpipe[1]);
  pollfd fds[2] = {{outpipe[0], POLLIN, 0}, {errpipe[0], POLLIN, 0}};
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutsecs);
  int open_fds = 2;
  bool killed = false;
  char buf[65536];
  while (open_fds > 0) {
    int left = (int)std::chrono::duration_cast<std::chrono::milliseconds>(
                   deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    int n = poll(fds, 2, left);
    if (n < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; i++) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        (i == 0 ? r.out : r.err).append(buf, (size_t)got);
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
        open_fds--;
      }
    }
  }
  for (auto& f : fds)
    if (f.fd >= 0) close(f.fd);
  int status = 0;
  waitpid(pid, &status, 0);
  if (killed)
    r.status = 124 + 128;
  else if (WIFEXITED(status))
    r.status = WEXITSTATUS(status);
  else if (WIFSIGNALED(status))
    r.status = 128 + WTERMSIG(status);
  return r;
}

progfolder::progfolder() {
  std::string tmpl = (fs::temp_directory_path() / "ostrel-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  // The programs and our libraries; never a KJ.ini or scratch file of the build folder.
  for (const auto& e : fs::directory_iterator(OSTREL_PROGDIR)) {
    if (!e.is_regular_file()) continue;
    std::string name = e.path().filename().string();
    bool program = name == "ostrel" || name == "ostrelfront";
    bool library = name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0;
    if (program || library)
      fs::copy_file(e.path(), fs::path(dir_) / name, fs::copy_options::overwrite_existing);
  }
}

progfolder::~progfolder() {
  if (std::getenv("OSTREL_KEEP_TEST_FOLDERS")) return;
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

void progfolder::write(const std::string& name, const std::string& text) const {
  writefile(path(name), text);
}

bool progfolder::exists(const std::string& name) const { return fs::exists(path(name)); }

std::string progfolder::read(const std::string& name) const { return readfile(path(name)); }

runresult progfolder::program(const std::string& name, const std::vector<std::string>& args,
                              const std::vector<std::string>& env) const {
  std::vector<std::string> argv{path(name)};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> e{"OSTREL_TIMESCALE=0", "OSTREL_HEADLESS=1"};
  e.insert(e.end(), env.begin(), env.end());
  return runcommand(argv, dir_, e);
}

runresult progfolder::ostrel(const std::vector<std::string>& args,
                             const std::vector<std::string>& env) const {
  return program("ostrel", args, env);
}

pid_t progfolder::startostrel(const std::vector<std::string>& args, const std::string& outname,
                              const std::vector<std::string>& env) const {
  const std::string prog = path("ostrel"), out = path(outname);
  std::vector<std::string> e{"OSTREL_TIMESCALE=0", "OSTREL_HEADLESS=1"};
  e.insert(e.end(), env.begin(), env.end());
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    int devnull = open("/dev/null", O_RDWR);
    int outfd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (devnull < 0 || outfd < 0 || chdir(dir_.c_str()) != 0) _exit(127);
    dup2(devnull, 0);
    dup2(outfd, 1);
    dup2(devnull, 2);
    for (const auto& v : e) putenv(const_cast<char*>(v.c_str()));
    std::vector<char*> argv{const_cast<char*>(prog.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int interrupt(pid_t pid) {
  kill(pid, SIGINT);
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string readfile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void writefile(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << data;
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string described(const runresult& r) {
  return "status " + std::to_string(r.status) + "\nstdout:\n" + r.out + "stderr:\n" + r.err;
}

bool scratchleft(const progfolder& pf) {
  for (const auto& e : std::filesystem::directory_iterator(pf.dir()))
    if (e.path().extension() == ".dbs") return true;
  return false;
}

bool decodesclean(const std::string& m2v, std::string* why) {
  runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-xerror", "-err_detect",
                            "explode", "-i", m2v, "-f", "null", "-"});
  bool ok = r.status == 0 && r.err.empty() && r.out.empty();
  if (!ok && why) *why = "status " + std::to_string(r.status) + ": " + r.err + r.out;
  return ok;
}

std::vector<std::string> probetypes(const std::string& m2v) {
  runresult r = runcommand({"ffprobe", "-v", "error", "-show_frames", m2v});
  std::vector<std::string> v;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);)
    if (line.rfind("pict_type=", 0) == 0) v.push_back(line.substr(10));
  return v;
}
