// Cycles per call of every path of every kernel, against the reference. Not a test: run it
// by hand (build/tests/motion/motionbench [calls]) on an idle machine.
#include <x86intrin.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "encoder/motion/kernels.h"
#include "tests/motion/harness.h"

namespace {

int calls = 20000;
constexpr int w = 720, h = 576, stride = 720;
alignas(16) uint8_t plane[w * h + 64], plane2[w * h + 64], dstplane[w * h + 64];
alignas(16) uint8_t src[256], blk[256], blk2[256], blocks[2304];
alignas(16) int16_t err[w * h];
int32_t grid[9];
uint32_t sink;

struct row {
  std::string kernel, path;
  double c;
};
std::vector<row> rows;

template <class F>
void bench(const char* kernel, const char* path, int need, F f) {
  if (!hostruns(need)) return;
  rows.push_back({kernel, path, cyclespercall(calls, f)});
}

// Positions walk over the plane so the loads see every alignment; x + 16 + 1 <= w, y + 17 <= h.
inline int px(int i) { return (i * 37) % (w - 32) + 8; }
inline int py(int i) { return (i * 13) % (h - 32) + 8; }

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) calls = std::max(100, std::atoi(argv[1]));
  std::mt19937 rng(1);
  fillpixels(rng, plane, sizeof plane, 0);
  fillpixels(rng, plane2, sizeof plane2, 0);
  fillpixels(rng, src, 256, 0);
  fillpixels(rng, blk, 256, 0);
  fillpixels(rng, blk2, 256, 0);

#define SAD16(path, need, fn) \
  bench("sad16", path, need, [](int i) { fn(plane, px(i), py(i), stride, src, &sink); })
  SAD16("c", 0, sad16_c);
  SAD16("mmx", 1, sad16_mmx);
  SAD16("sse2", 2, sad16_sse2);
  SAD16("sse3", 3, sad16_sse3);
  bench("sad8", "c", 0, [](int i) { sad8_c(plane, px(i), py(i), stride, src, &sink); });
  bench("sad8", "mmx", 1, [](int i) { sad8_mmx(plane, px(i), py(i), stride, src, &sink); });
  bench("sadavg16", "c", 0, [](int) { sink += sadavg16_c(blk, blk2, src); });
  bench("sadavg16", "mmx", 1, [](int) { sink += sadavg16_mmx(blk, blk2, src); });
  bench("sadavg16", "sse2", 2, [](int) { sink += sadavg16_sse2(blk, blk2, src); });
  bench("blockstats", "c", 0, [](int i) {
    uint32_t a, b, c;
    blockstats_c(plane, plane2, (px(i) & ~15), py(i), stride, &a, &b, &c);
    sink += a + b + c;
  });
  bench("blockstats", "mmx", 1, [](int i) {
    uint32_t a, b, c;
    blockstatsmmx(plane, plane2, (px(i) & ~15), py(i), stride, &a, &b, &c);
    sink += a + b + c;
  });
  bench("blockstats", "sse2", 2, [](int i) {
    uint32_t a, b, c;
    blockstats(plane, plane2, (px(i) & ~15), py(i), stride, &a, &b, &c);
    sink += a + b + c;
  });
  {
    const int saved = calls;
    calls = std::max(10, calls / 200);
    bench("sadframes 103680", "c", 0, [](int) { sink += sadframes_c(plane, plane2, 103680); });
    bench("sadframes 103680", "mmx", 1, [](int) { sink += sadframes_mmx(plane, plane2, 103680); });
    bench("sadframes 103680", "sse2", 2, [](int) { sink += sadframes_sse2(plane, plane2, 103680); });
    bench("diffblock 414720", "c", 0, [](int) { diffblock_c(plane, plane2, err, 414720); });
    bench("diffblock 414720", "mmx", 1, [](int) { diffblock_mmx(plane, plane2, err, 414720); });
    bench("diffblock 414720", "sse2", 2, [](int) { diffblock_sse2(plane, plane2, err, 414720); });
    calls = saved;
  }
#define PRED16(name)                                                                         \
  bench(#name, "c", 0, [](int i) { name##_c(plane, px(i), py(i), stride, dstplane, 16, 16); });  \
  bench(#name, "mmx", 1, [](int i) { name##_mmx(plane, px(i), py(i), stride, dstplane, 16, 16); }); \
  bench(#name, "sse2", 2, [](int i) { name##_sse2(plane, px(i), py(i), stride, dstplane, 16, 16); }); \
  bench(#name, "sse2a", 2,                                                                   \
        [](int i) { name##_sse2a(plane, px(i) & ~15, py(i), stride, dstplane, 16, 16); });   \
  bench(#name, "sse3", 3, [](int i) { name##_sse3(plane, px(i), py(i), stride, dstplane, 16, 16); });
  PRED16(predxy16)
  PRED16(predx16)
  PRED16(predy16)
  PRED16(copy16)
#define PRED16BLK(name)                                                                      \
  bench(#name, "c", 0, [](int i) { name##_c(plane, px(i), py(i), stride, blk); });            \
  bench(#name, "mmx", 1, [](int i) { name##_mmx(plane, px(i), py(i), stride, blk); });        \
  bench(#name, "sse2", 2, [](int i) { name##_sse2(plane, px(i), py(i), stride, blk); });      \
  bench(#name, "sse2a", 2, [](int i) { name##_sse2a(plane, px(i) & ~15, py(i), stride, blk); }); \
  bench(#name, "sse3", 3, [](int i) { name##_sse3(plane, px(i), py(i), stride, blk); });
  PRED16BLK(predxy16blk)
  PRED16BLK(copy16blk)
#define PRED8(name)                                                                          \
  bench(#name, "c", 0, [](int i) { name##_c(plane, px(i), py(i), stride, dstplane, 8, 8); }); \
  bench(#name, "mmx", 1, [](int i) { name##_mmx(plane, px(i), py(i), stride, dstplane, 8, 8); });
  PRED8(predxy8)
  PRED8(predx8)
  PRED8(predy8)
  PRED8(copy8)
  bench("avg16", "c", 0, [](int) { avg16_c(blk, blk2, stride, dstplane, 16, 16); });
  bench("avg16", "mmx", 1, [](int) { avg16_mmx(blk, blk2, stride, dstplane, 16, 16); });
  bench("avg16", "sse2", 2, [](int) { avg16_sse2(blk, blk2, stride, dstplane, 16, 16); });
  bench("avg8", "c", 0, [](int) { avg8_c(blk, blk2, stride, dstplane, 8, 8); });
  bench("avg8", "mmx", 1, [](int) { avg8_mmx(blk, blk2, stride, dstplane, 8, 8); });
  bench("put8", "c", 0, [](int i) { put8_c(dstplane, px(i), py(i), stride, blk); });
  bench("put8", "mmx", 1, [](int i) { put8_mmx(dstplane, px(i), py(i), stride, blk); });

  // Half-pel grids: the interior member and a corner member, then the grid with blocks.
  bench("hpelsad interior", "c", 0,
        [](int i) { hpelsad_c(0, plane, px(i) - 1, py(i) - 1, stride, src, grid); });
  bench("hpelsad interior", "mmx", 1,
        [](int i) { hpelsadmmx(plane, px(i) - 1, py(i) - 1, stride, src, grid); });
  bench("hpelsad interior", "sse2", 2,
        [](int i) { hpelsad(plane, px(i) - 1, py(i) - 1, stride, src, grid); });
  bench("hpelsad interior", "sse3", 3,
        [](int i) { hpelsad3(plane, px(i) - 1, py(i) - 1, stride, src, grid); });
  bench("hpelsad top-left", "c", 0,
        [](int) { hpelsad_c(sidetop | sideleft, plane, -1, -1, stride, src, grid); });
  bench("hpelsad top-left", "mmx", 1, [](int) { hpelsadtlmmx(plane, -1, -1, stride, src, grid); });
  bench("hpelsad top-left", "sse2", 2, [](int) { hpelsadtl(plane, -1, -1, stride, src, grid); });
  bench("hpelsad top-left", "sse3", 3, [](int) { hpelsadtl3(plane, -1, -1, stride, src, grid); });
  bench("hpelsadpred", "c", 0,
        [](int i) { hpelsadpred_c(plane, px(i) - 1, py(i) - 1, stride, src, grid, blocks); });
  bench("hpelsadpred", "mmx", 1,
        [](int i) { hpelsadpredmmx(plane, px(i) - 1, py(i) - 1, stride, src, grid, blocks); });
  bench("hpelsadpred", "sse2", 2,
        [](int i) { hpelsadpred(plane, px(i) - 1, py(i) - 1, stride, src, grid, blocks); });
  bench("hpelsadpred", "sse3", 3,
        [](int i) { hpelsadpred3(plane, px(i) - 1, py(i) - 1, stride, src, grid, blocks); });

  std::printf("%-20s %-6s %12s %10s\n", "kernel", "path", "cycles/call", "vs c");
  double refc = 1;
  for (const row& r : rows) {
    if (r.path == "c") refc = r.c;
    std::printf("%-20s %-6s %12.1f %9.1fx\n", r.kernel.c_str(), r.path.c_str(), r.c, refc / r.c);
  }
  std::printf("(%d calls per run, median of 5 runs; TSC cycles; sink %u)\n", calls, sink);
  return 0;
}
