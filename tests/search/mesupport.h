// Test support for the motion search and estimation: picture geometry in the settings, the
// slots cleared, and planes of 8-bit samples at 16-byte aligned addresses.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "encoder/motion/search.h"

// Sets the picture size and everything derived from it; passno 1, the given picture type,
// profile 2, bppclass 3, and clears every slot's macroblocks and picture fields.
void setpicture(int width, int height, int pictype = 2);

// A contiguous plane, pitch = width, 16-byte aligned.
struct testplane {
  int width = 0, height = 0;
  std::unique_ptr<uint8_t[]> storage;
  uint8_t* data = nullptr;
  testplane(int w, int h);
  uint8_t& at(int x, int y) { return data[y * width + x]; }
  uint8_t at(int x, int y) const { return data[y * width + x]; }
};

// A smooth texture with features at every scale (no flat areas, no repeats within a picture):
// value at (x, y), any integers, 0..255.
uint8_t smoothtexture(int x, int y);

// A replaceable cost landscape for the search: while an instance lives, mecost returns
// f(px, py) and records every position asked for.
class costlandscape {
 public:
  explicit costlandscape(std::function<int32_t(int, int)> f);
  ~costlandscape();
  struct pos {
    int x, y;
    bool operator==(const pos& o) const { return x == o.x && y == o.y; }
  };
  const std::vector<pos>& asked() const;
  void clear();
};
