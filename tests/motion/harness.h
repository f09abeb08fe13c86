// Test support for the pixel kernels: the seed, the host's paths, planes and buffers with
// guard pages, canaries, and the context printed when a kernel faults.
#pragma once

#include <cstddef>
#include <x86intrin.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// The run's seed: OSTREL_SEED from the environment, else a fresh one; printed once.
uint32_t testseed();

// The highest level whose paths the host runs (cpulevelof on the real words).
int hostlevel();
// A path needing level need (0 reference, 1 MMX, 2 SSE2, 3 SSE3) runs on the host.
inline bool hostruns(int need) { return need <= hostlevel(); }

// The kernel, path and position being run, printed if the kernel touches a guard page.
void setcontext(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
const char* context();

// A picture plane whose every row sits flush against guard pages (PROT_NONE): on the left
// (row start at a page start) or on the right (row end at a page end); the rows above the
// first and below the last are guard pages too. Reading any pixel outside the picture faults.
// The stride is two pages; row starts are 16-byte aligned when width is a multiple of 16.
class guardplane {
 public:
  guardplane(int width, int height, bool rightflush);
  ~guardplane();
  guardplane(const guardplane&) = delete;
  guardplane& operator=(const guardplane&) = delete;
  uint8_t* origin() const { return origin_; }  // pixel (0, 0)
  int stride() const { return stride_; }
  int width() const { return width_; }
  int height() const { return height_; }
  uint8_t& at(int x, int y) { return origin_[static_cast<ptrdiff_t>(y) * stride_ + x]; }

 private:
  uint8_t* base_ = nullptr;
  size_t size_ = 0;
  uint8_t* origin_ = nullptr;
  int width_, height_, stride_;
};

// n bytes whose last byte lies just before a guard page (and a guard page before them).
class guardbuffer {
 public:
  explicit guardbuffer(size_t n);
  ~guardbuffer();
  guardbuffer(const guardbuffer&) = delete;
  guardbuffer& operator=(const guardbuffer&) = delete;
  uint8_t* data() const { return data_; }

 private:
  uint8_t* base_ = nullptr;
  size_t size_ = 0;
  uint8_t* data_ = nullptr;
};

// An aligned output buffer with 64 canary bytes on each side.
class canarybuf {
 public:
  explicit canarybuf(size_t n, size_t align = 16);
  uint8_t* data() { return storage_.data() + front_; }
  size_t size() const { return n_; }
  bool intact() const;  // both canaries unchanged

 private:
  std::vector<uint8_t> storage_;
  size_t front_, n_;
};

// Benchmarks: the median over five runs of the processor's cycles per call of f(i), called
// calls times a run (i counting the calls). A template, so the call inlines.
template <class F>
double cyclespercall(int calls, F f) {
  std::vector<double> runs;
  for (int run = 0; run < 5; ++run) {
    const unsigned long long t0 = __rdtsc();
    for (int i = 0; i < calls; ++i) f(i);
    runs.push_back(static_cast<double>(__rdtsc() - t0) / calls);
  }
  std::sort(runs.begin(), runs.end());
  return runs[2];
}

// Random pixel data: uniform, only 0 and 255, or values near one end (rounding cases).
void fillpixels(std::mt19937& rng, uint8_t* p, size_t n, int mode);
void fillplane(std::mt19937& rng, guardplane& pl, int mode);
