#include "tests/motion/harness.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "common/cpuprobe.h"

namespace {
char contextbuf[512] = "";

void onfault(int sig) {
  const char head[] = "\n*** kernel touched a guard page: ";
  (void)!write(2, head, sizeof head - 1);
  (void)!write(2, contextbuf, strlen(contextbuf));
  (void)!write(2, "\n", 1);
  signal(sig, SIG_DFL);
  raise(sig);
}

struct faultinstall {
  faultinstall() {
    signal(SIGSEGV, onfault);
    signal(SIGBUS, onfault);
  }
} faultinstaller;

size_t pagesize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

uint8_t* mapnone(size_t size) {
  void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::runtime_error("mmap failed");
  return static_cast<uint8_t*>(p);
}
void openpages(uint8_t* p, size_t size) {
  if (mprotect(p, size, PROT_READ | PROT_WRITE) != 0) throw std::runtime_error("mprotect failed");
}
}  // namespace

uint32_t testseed() {
  static const uint32_t seed = [] {
    uint32_t s;
    if (const char* e = std::getenv("OSTREL_SEED"))
      s = static_cast<uint32_t>(std::strtoul(e, nullptr, 0));
    else
      s = std::random_device{}();
    std::fprintf(stderr, "kernel tests: seed %u (set OSTREL_SEED=%u to repeat)\n", s, s);
    return s;
  }();
  return seed;
}

int hostlevel() {
  static const int level = [] {
    cpuidwords w;
    cpuinfo(&w);
    return cpulevelof(w);
  }();
  return level;
}

void setcontext(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(contextbuf, sizeof contextbuf, fmt, ap);
  va_end(ap);
}
const char* context() { return contextbuf; }

guardplane::guardplane(int width, int height, bool rightflush)
    : width_(width), height_(height) {
  const size_t ps = pagesize();
  if (static_cast<size_t>(width) > ps) throw std::runtime_error("plane wider than a page");
  stride_ = static_cast<int>(2 * ps);
  // Pages: two guards, then per row one data page and one guard page.
  size_ = (2 * static_cast<size_t>(height) + 3) * ps;
  base_ = mapnone(size_);
  for (int r = 0; r < height; ++r) openpages(base_ + (2 * static_cast<size_t>(r) + 2) * ps, ps);
  origin_ = base_ + 2 * ps + (rightflush ? ps - static_cast<size_t>(width) : 0);
}
guardplane::~guardplane() { munmap(base_, size_); }

guardbuffer::guardbuffer(size_t n) {
  const size_t ps = pagesize();
  const size_t pages = (n + ps - 1) / ps;
  size_ = (pages + 2) * ps;
  base_ = mapnone(size_);
  if (pages) openpages(base_ + ps, pages * ps);
  data_ = base_ + ps + pages * ps - n;
}
guardbuffer::~guardbuffer() { munmap(base_, size_); }

canarybuf::canarybuf(size_t n, size_t align) : storage_(n + 64 + 64 + align), n_(n) {
  const uintptr_t start = reinterpret_cast<uintptr_t>(storage_.data()) + 64;
  front_ = 64 + (align - start % align) % align;
  for (size_t i = 0; i < storage_.size(); ++i) storage_[i] = static_cast<uint8_t>(0xA5 ^ i);
}
bool canarybuf::intact() const {
  for (size_t i = 0; i < front_; ++i)
    if (storage_[i] != static_cast<uint8_t>(0xA5 ^ i)) return false;
  for (size_t i = front_ + n_; i < storage_.size(); ++i)
    if (storage_[i] != static_cast<uint8_t>(0xA5 ^ i)) return false;
  return true;
}

void fillpixels(std::mt19937& rng, uint8_t* p, size_t n, int mode) {
  std::uniform_int_distribution<int> byte(0, 255), bit(0, 1), small(0, 3);
  for (size_t i = 0; i < n; ++i) {
    switch (mode % 4) {
      case 0: p[i] = static_cast<uint8_t>(byte(rng)); break;
      case 1: p[i] = bit(rng) ? 255 : 0; break;
      case 2: p[i] = static_cast<uint8_t>(small(rng)); break;
      default: p[i] = static_cast<uint8_t>(252 + small(rng)); break;
    }
  }
}

void fillplane(std::mt19937& rng, guardplane& pl, int mode) {
  for (int y = 0; y < pl.height(); ++y) fillpixels(rng, &pl.at(0, y), pl.width(), mode);
}

