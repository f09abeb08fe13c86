#include "encoder/coding/codingerror.h"

#include <atomic>
#include <mutex>

namespace {
std::atomic<codingerrorhook> hookfn{nullptr};
std::atomic<bool> failed{false};
std::mutex textlock;  // the text is read by the window thread for its message
std::string firsttext;
}  // namespace

void setcodingerrorhook(codingerrorhook hook) { hookfn.store(hook); }

void codingerror(const char* text) {
  if (failed.exchange(true)) return;
  {
    std::lock_guard<std::mutex> g(textlock);
    firsttext = text;
  }
  if (codingerrorhook h = hookfn.load()) h(text);
}

bool codingfailed() { return failed.load(); }

std::string codingerrortext() {
  std::lock_guard<std::mutex> g(textlock);
  return firsttext;
}

void clearcodingerror() {
  std::lock_guard<std::mutex> g(textlock);
  firsttext.clear();
  failed.store(false);
}
