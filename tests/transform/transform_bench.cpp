// Cycles per call of every path of the block kernels and the inverse transform, by the time
// stamp counter (reference cycles). Run by hand: bench_transform [calls]
#include <x86intrin.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "tests/transform/kernelpaths.h"

namespace {

template <class F>
double cyclespercall(F call, int calls) {
  double best = 1e30;
  for (int rep = 0; rep < 5; rep++) {
    uint64_t t0 = __rdtsc();
    for (int i = 0; i < calls; i++) call(i);
    uint64_t t1 = __rdtsc();
    best = std::min(best, double(t1 - t0) / calls);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int calls = argc > 1 ? std::atoi(argv[1]) : 20000;
  constexpr int stride = 64, rows = 64;
  std::mt19937 rng(12345);
  std::vector<uint8_t> src(stride * rows), plane(stride * rows);
  alignas(16) static int16_t resid[stride * rows];
  for (auto& s : src) s = uint8_t(rng() % 256);
  for (auto& r : resid) r = int16_t(int(rng() % 61) - 30);
  alignas(16) int16_t weights[64], levels[64];
  alignas(16) uint16_t recip[64];
  alignas(16) uint8_t block[64];
  for (int i = 0; i < 64; i++) {
    weights[i] = int16_t(16 + i / 2);
    recip[i] = uint16_t(65536 / weights[i]);
  }
  uint8_t pattern = 0;
  struct path {
    const char* name;
    int32_t level;
    intrakernel intra;
    interkernel inter;
  };
  std::vector<path> paths{{"c", 0, intrablock_c, interblock_c}};
  auto forms = hostforms();  // owns the names
  for (const auto& f : forms)
    if (f.level == 0) paths.push_back({f.name.c_str(), 0, f.intra, f.inter});

  std::printf("cycles per call (time stamp counter), %d calls, best of 5\n", calls);
  std::printf("%-8s %10s %10s %10s %10s %10s\n", "path", "intra m0", "intra m2", "inter m0",
              "inter m1", "idct");
  for (const auto& p : paths) {
    auto pos = [](int i) { return std::pair<int, int>(8 * (i % 7), 8 * ((i / 7) % 7)); };
    double im0 = cyclespercall([&](int i) {
      auto [x, y] = pos(i);
      p.intra(src.data(), x, y, stride, levels, weights, recip, 8, 0, plane.data(), 0);
    }, calls);
    double im2 = cyclespercall([&](int i) {
      auto [x, y] = pos(i);
      p.intra(src.data(), x, y, stride, levels, weights, recip, 8, 0, plane.data(), 2);
    }, calls);
    double nm0 = cyclespercall([&](int i) {
      auto [x, y] = pos(i);
      p.inter(resid, src.data(), x, y, stride, levels, weights, recip, 4, i % 6, &pattern,
              block, 0);
    }, calls);
    double nm1 = cyclespercall([&](int i) {
      auto [x, y] = pos(i);
      p.inter(resid, src.data(), x, y, stride, levels, weights, recip, 4, i % 6, &pattern,
              block, 1);
    }, calls);
    idctkernel idct = std::string(p.name) == "c" ? idctblock_c
                      : std::string(p.name) == "mmx" ? idctblock_mmx
                                                     : idctblock_sse2;
    alignas(16) int16_t coef[64];
    double id = cyclespercall([&](int i) {
      for (int k = 0; k < 64; k++) coef[k] = int16_t((k * 37 + i) % 64 - 32);
      idct(coef);
    }, calls);
    std::printf("%-8s %10.0f %10.0f %10.0f %10.0f %10.0f\n", p.name, im0, im2, nm0, nm1, id);
  }
  return 0;
}
