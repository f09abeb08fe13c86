// A test-only D2V decoder library. openMPEG2Source reads a "project" of one line:
//   "FAKE width height fpsnum fpsden frames sixth"  -> that video record
//   anything else, or a missing file                -> null
// getFrame(n) gives a packed frame filled by the formulas of fakes.h (null for fakenoframe).
// Built without closeVideo when FAKE_NO_CLOSE is defined.
#include <cstdio>
#include <vector>

#include "tests/videosource/fakes.h"

namespace {
int32_t record[6];
std::vector<uint8_t> block;
}  // namespace

extern "C" __attribute__((visibility("default"))) const int32_t* openMPEG2Source(const char* project) {
  std::FILE* f = std::fopen(project, "r");
  if (!f) return nullptr;
  int v[6];
  int got = std::fscanf(f, "FAKE %d %d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
  std::fclose(f);
  if (got != 6) return nullptr;
  for (int i = 0; i < 6; i++) record[i] = v[i];
  return record;
}

extern "C" __attribute__((visibility("default"))) const uint8_t* getFrame(int n) {
  if (n == fakenoframe) return nullptr;
  int luma = record[0] * record[1], chroma = luma / 4;
  block.assign((size_t)(luma + 2 * chroma), 0);
  for (int i = 0; i < luma; i++) block[i] = fakeluma(n, i);
  for (int i = 0; i < chroma; i++) {
    block[luma + i] = fakecb(n, i);
    block[luma + chroma + i] = fakecr(n, i);
  }
  return block.data();
}

#ifndef FAKE_NO_CLOSE
extern "C" __attribute__((visibility("default"))) void closeVideo() {}
#endif
