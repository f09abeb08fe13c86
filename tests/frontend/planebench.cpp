// Cycles per call of every path of the front end's plane kernels on a 720 x 576 picture's
// planes. Not a test: run it by hand (build/tests/frontend/planebench [calls]) on an idle
// machine.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "frontend/window/planes.h"
#include "tests/motion/harness.h"

namespace {
int calls = 200;
constexpr int luma = 720 * 576, chroma = luma / 4;
alignas(16) uint8_t a[luma], b[luma], d[luma];
int32_t sink;
}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) calls = std::max(10, std::atoi(argv[1]));
  std::mt19937 rng(1);
  fillpixels(rng, a, sizeof a, 0);
  fillpixels(rng, b, sizeof b, 0);
  struct {
    const char* name;
    int need;
    int32_t (*sad)(const uint8_t*, const uint8_t*, int);
    void (*copy256)(const uint8_t*, uint8_t*, int);
    void (*copy16)(const uint8_t*, uint8_t*, int);
  } paths[] = {{"c", 0, planesad_c, copyblocks_c, copyblocks_c},
               {"mmx", 1, planesad_mmx, copyblocks256_mmx, copyblocks16_mmx},
               {"sse2", 2, planesad_sse2, copyblocks256_sse2, copyblocks16_sse2}};
  std::printf("%-6s %16s %16s %16s %16s\n", "path", "planesad luma", "planesad chroma", "copy256 luma",
              "copy16 chroma");
  for (const auto& p : paths) {
    if (!hostruns(p.need)) continue;
    double s1 = cyclespercall(calls, [&](int) { sink += p.sad(a, b, luma); });
    double s2 = cyclespercall(calls, [&](int) { sink += p.sad(a, b, chroma); });
    double c1 = cyclespercall(calls, [&](int) { p.copy256(a, d, luma); });
    double c2 = cyclespercall(calls, [&](int) { p.copy16(a, d, chroma); });
    std::printf("%-6s %16.0f %16.0f %16.0f %16.0f\n", p.name, s1, s2, c1, c2);
  }
  return sink == 12345 ? 1 : 0;
}
