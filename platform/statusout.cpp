#include "platform/statusout.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

constexpr double pipeevery = 1.0;      // seconds between two progress lines in a log
constexpr double terminalevery = 0.1;  // seconds between two redraws on a terminal

std::mutex outlock;
int forcedmode = statusauto;
std::function<void(const std::string&)> writer;
std::function<double()> clocknow;
int forcedcolumns = 0;

// What is on the screen or in the log.
bool inplace = false;    // a terminal line without its newline yet
size_t drawn = 0;        // characters of that line
std::string shown;       // the progress line printed last (empty after a message)
std::string pending;     // the newest progress line held back
bool printedany = false; // a progress line was printed since the last message
double lastprint = 0.0;

int automode() {
  static const int m = [] {
    const char* e = std::getenv("OSTREL_STATUSLINES");
    if (e && std::strcmp(e, "all") == 0) return (int)statusevery;
    return isatty(STDOUT_FILENO) ? (int)statusterminal : (int)statuspipe;
  }();
  return m;
}

int mode() { return forcedmode != statusauto ? forcedmode : automode(); }

double now() {
  if (clocknow) return clocknow();
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void emit(const std::string& bytes) {
  if (writer) {
    writer(bytes);
    return;
  }
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  std::fflush(stdout);
}

int columns() {
  if (forcedcolumns > 0) return forcedcolumns;
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 0;
}

// The text up to its first comma: " pass 1" of " pass 1, picture 5 of 250, ...".
std::string head(const std::string& line) { return line.substr(0, line.find(',')); }

void print(const std::string& line) {
  if (mode() == statusterminal) {
    // The last column stays free: a line as wide as the terminal would wrap.
    std::string l = line;
    if (int c = columns(); c > 1 && l.size() >= (size_t)c) l.resize((size_t)c - 1);
    std::string bytes = "\r" + l;
    if (inplace && drawn > l.size()) bytes.append(drawn - l.size(), ' ');
    emit(bytes);
    inplace = true;
    drawn = l.size();
  } else {
    emit(line + "\n");
  }
  shown = line;
  pending.clear();
  printedany = true;
  lastprint = now();
}

// Prints what was held back and ends an in-place line; the next progress line starts afresh.
void endprogress() {
  if (!pending.empty()) print(pending);
  if (inplace) emit("\n");
  inplace = false;
  shown.clear();
  printedany = false;
}

}  // namespace

int statusmode() {
  std::lock_guard<std::mutex> g(outlock);
  return mode();
}

void statusprogress(const std::string& line) {
  std::lock_guard<std::mutex> g(outlock);
  const int m = mode();
  if (m == statusevery) {
    emit(line + "\n");
    return;
  }
  if (printedany && head(line) != head(pending.empty() ? shown : pending)) endprogress();
  if (line == shown) {
    pending.clear();
    return;
  }
  const double every = m == statusterminal ? terminalevery : pipeevery;
  if (!printedany || now() - lastprint >= every) print(line);
  else pending = line;
}

void statusmessage(const std::string& text) {
  std::lock_guard<std::mutex> g(outlock);
  endprogress();
  emit(text + "\n");
}

void statusbreak() {
  std::lock_guard<std::mutex> g(outlock);
  if (printedany) endprogress();
}

void setstatusout(int m, std::function<void(const std::string&)> write, std::function<double()> clock,
                  int cols) {
  std::lock_guard<std::mutex> g(outlock);
  forcedmode = m;
  writer = std::move(write);
  clocknow = std::move(clock);
  forcedcolumns = cols;
  inplace = false;
  shown.clear();
  pending.clear();
  printedany = false;
  lastprint = 0.0;
}
