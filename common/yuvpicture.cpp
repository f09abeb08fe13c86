#include "common/yuvpicture.h"

#include <algorithm>
#include <cstring>

namespace {
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}
uint8_t clamp255(int32_t v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

// count rows of a plane from row from on take the fill byte.
void fillrows(uint8_t* plane, size_t pitch, int from, int count, uint8_t fill) {
  if (count > 0) std::memset(plane + size_t(from) * pitch, fill, size_t(count) * pitch);
}
// by > 0: rows by..lines-1 go to 0..lines-by-1; by < 0: rows 0..lines+by-1 go down by -by.
void moverows(uint8_t* plane, size_t pitch, int lines, int by) {
  const int n = by > 0 ? by : -by;
  if (n == 0 || n >= lines) return;
  const size_t bytes = size_t(lines - n) * pitch;
  if (by > 0) std::memmove(plane, plane + size_t(n) * pitch, bytes);
  else std::memmove(plane + size_t(n) * pitch, plane, bytes);
}
}  // namespace

void maskpicture(uint8_t* y, uint8_t* u, uint8_t* v, int width, int height, int top, int bottom,
                 int shift, const uint8_t fill[3]) {
  const size_t w = size_t(width), cw = size_t(width / 2);
  const int h = height, ch = height / 2;
  shift = std::clamp(shift, -h, h);
  top = std::clamp(top, 0, h);
  bottom = std::clamp(bottom, 0, h);
  if (shift != 0) {
    const int n = shift > 0 ? shift : -shift;
    const int cn = std::min(n / 2, ch);
    moverows(y, w, h, shift);
    moverows(u, cw, ch, shift > 0 ? cn : -cn);
    moverows(v, cw, ch, shift > 0 ? cn : -cn);
    const int yfrom = shift > 0 ? h - n : 0, cfrom = shift > 0 ? ch - cn : 0;
    fillrows(y, w, yfrom, n, fill[0]);
    fillrows(u, cw, cfrom, cn, fill[1]);
    fillrows(v, cw, cfrom, cn, fill[2]);
  }
  if (top > 0) {
    fillrows(y, w, 0, top, fill[0]);
    fillrows(u, cw, 0, std::min(top / 2, ch), fill[1]);
    fillrows(v, cw, 0, std::min(top / 2, ch), fill[2]);
  }
  if (bottom > 0) {
    const int cb = std::min(bottom / 2, ch);
    fillrows(y, w, h - bottom, bottom, fill[0]);
    fillrows(u, cw, ch - cb, cb, fill[1]);
    fillrows(v, cw, ch - cb, cb, fill[2]);
  }
}

void bmpfromyuv(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height,
                uint8_t* dest) {
  const size_t imagesize = size_t{3} * size_t(width) * size_t(height);
  std::memset(dest, 0, bmpheadersize);
  dest[0] = 'B';
  dest[1] = 'M';
  put32(dest + 2, static_cast<uint32_t>(imagesize + bmpheadersize));  // file size
  put32(dest + 10, bmpheadersize);                                     // pixel data offset
  put32(dest + 14, 40);                                                // information header
  put32(dest + 18, static_cast<uint32_t>(width));
  put32(dest + 22, static_cast<uint32_t>(height));  // positive: rows bottom-up
  put16(dest + 26, 1);                               // planes
  put16(dest + 28, 24);                              // bits per pixel
  put32(dest + 34, static_cast<uint32_t>(imagesize));
  put32(dest + 38, 2835);  // 72 dpi in pixels per metre
  put32(dest + 42, 2835);

  // At least one chroma row and column: a picture one sample high or wide still has one.
  const int cw = std::max(width / 2, 1), ch = std::max(height / 2, 1);
  for (int j = 0; j < height; ++j) {
    const uint8_t* yrow = y + size_t(j) * width;
    const size_t crow = size_t(std::min(j / 2, ch - 1)) * cw;
    const uint8_t* urow = u + crow;
    const uint8_t* vrow = v + crow;
    uint8_t* out = dest + bmpheadersize + size_t{3} * width * (height - 1 - j);
    for (int k = 0; k < width; ++k) {
      const int c = std::min(k / 2, cw - 1);
      int32_t luma = 76284 * (yrow[k] - 16);
      int32_t cb = urow[c] - 128, cr = vrow[c] - 128;
      // >> 16 on a negative value rounds towards minus infinity (arithmetic shift).
      out[0] = clamp255((luma + 132252 * cb) >> 16);
      out[1] = clamp255((luma - 25625 * cb - 53281 * cr) >> 16);
      out[2] = clamp255((luma + 104595 * cr) >> 16);
      out += 3;
    }
  }
}
