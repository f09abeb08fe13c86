#include "platform/msgbox.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/statusout.h"

namespace {
std::atomic<int> forcedanswer{0};
std::mutex hooklock;
std::function<int(const std::string&, const std::string&, int)> boxhook;

int envanswer() {
  const char* e = std::getenv("OSTREL_MSGBOX_ANSWER");
  if (!e || !*e) return 0;
  if (!strcasecmp(e, "yes")) return idyes;
  if (!strcasecmp(e, "no")) return idno;
  if (!strcasecmp(e, "ok")) return idok;
  return std::atoi(e);
}
}  // namespace

int msgbox(const std::string& text, const std::string& caption, int flags) {
  std::function<int(const std::string&, const std::string&, int)> h;
  {
    std::lock_guard<std::mutex> g(hooklock);
    h = boxhook;
  }
  if (h) return h(text, caption, flags);
  // One line, whatever line breaks the text holds.
  statusbreak();  // stderr may share the terminal with a progress line
  std::string line = caption + ": ";
  for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  int a = forcedanswer ? forcedanswer.load() : envanswer();
  if (a) return a;
  return (flags & 0xF) == mbyesno ? idyes : idok;
}

void setmsgboxanswer(int answer) { forcedanswer = answer; }

void setmsgboxhook(std::function<int(const std::string&, const std::string&, int)> hook) {
  std::lock_guard<std::mutex> g(hooklock);
  boxhook = std::move(hook);
}
