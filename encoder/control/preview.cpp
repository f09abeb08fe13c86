#include "encoder/control/preview.h"

#include <algorithm>
#include <cstring>

#include "encoder/control/control.h"

alignas(16) uint8_t previewimage[previewcapacity];
previewbackend previewwindow;

namespace {

constexpr float dialogunitsx = 564.0f, dialogunitsy = 449.0f;
constexpr int boxleft = 348, boxtop = 237, boxright = 558, boxbottom = 387, boxcentre = 312;

uint32_t get32(const uint8_t* p) {
  return p[0] | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The image's width and height from its headers, or false when it is not a 24-bit bottom-up
// image of at most the preview capacity.
bool bmpsize(const uint8_t* bmp, int& width, int& height) {
  if (bmp[0] != 'B' || bmp[1] != 'M' || get32(bmp + 10) != bmpheadersize) return false;
  uint32_t w = get32(bmp + 18), h = get32(bmp + 22);
  if (w == 0 || h == 0 || w > maxwidth || h > maxheight || bmp[28] != 24) return false;
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  return true;
}

void scales(int clientwidth, int clientheight, float& sx, float& sy) {
  sx = static_cast<float>(clientwidth) / dialogunitsx;
  sy = static_cast<float>(clientheight) / dialogunitsy;
}

int units(int u, float s) { return static_cast<int>(static_cast<float>(u) * s); }

}  // namespace

bool yuvtobmp(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height,
              uint8_t* dest, size_t destsize) {
  if (width <= 0 || height <= 0 || width % 4 != 0) return false;
  size_t imagesize = size_t{3} * static_cast<size_t>(width) * static_cast<size_t>(height);
  if (destsize < bmpheadersize || imagesize > destsize - bmpheadersize) return false;

  bmpfromyuv(y, u, v, width, height, dest);
  return true;
}

previewgeometry previewlayout(int zoom, int aspect, int clientwidth, int clientheight) {
  static constexpr int drawnwidth[6] = {0, 210, 300, 400, 500, 600};
  static constexpr int leftedge[6] = {0, 348, 303, 253, 203, 153};
  static constexpr float aspectfactor[5] = {0.0f, 1.0f, 0.75f, 0.5625f, 0.45249f};
  float sx, sy;
  scales(clientwidth, clientheight, sx, sy);
  previewgeometry g;
  g.clip = {units(boxleft, sx), units(boxtop, sy), 0, 0};
  g.clip.w = units(boxright, sx) - g.clip.x;
  g.clip.h = units(boxbottom, sy) - g.clip.y;
  if (zoom < 1 || zoom > 5) return g;
  float factor = aspect >= 1 && aspect <= 4 ? aspectfactor[aspect] : 0.0f;
  int w = units(drawnwidth[zoom], sx);
  int h = static_cast<int>(factor * static_cast<float>(w));
  if (h == 0) return g;
  g.picture = {units(leftedge[zoom], sx), units(boxcentre, sy) - h / 2, w, h};
  return g;
}

previewrect previewbox(int clientwidth, int clientheight) {
  float sx, sy;
  scales(clientwidth, clientheight, sx, sy);
  return {units(boxleft, sx), units(boxtop, sy), units(boxright - boxleft, sx),
          units(boxbottom - boxtop, sy)};
}

bool stretchpreview(const uint8_t* bmp, const previewgeometry& geom, uint8_t* canvas,
                    int canvaswidth, int canvasheight, int pitch) {
  int width, height;
  if (!bmpsize(bmp, width, height)) return false;
  const previewrect& p = geom.picture;
  if (p.w <= 0 || p.h <= 0) return true;
  int x0 = std::max({geom.clip.x, p.x, 0});
  int y0 = std::max({geom.clip.y, p.y, 0});
  int x1 = std::min({geom.clip.x + geom.clip.w, p.x + p.w, canvaswidth});
  int y1 = std::min({geom.clip.y + geom.clip.h, p.y + p.h, canvasheight});
  const uint8_t* pixels = bmp + bmpheadersize;
  for (int py = y0; py < y1; ++py) {
    int srcrow = static_cast<int>(int64_t{py - p.y} * height / p.h);  // 0 = top row
    const uint8_t* row = pixels + size_t{3} * width * (height - 1 - srcrow);
    uint8_t* out = canvas + static_cast<size_t>(py) * pitch + size_t{3} * x0;
    for (int px = x0; px < x1; ++px) {
      int srccol = static_cast<int>(int64_t{px - p.x} * width / p.w);
      const uint8_t* s = row + size_t{3} * srccol;
      out[0] = s[2];
      out[1] = s[1];
      out[2] = s[0];
      out += 3;
    }
  }
  return true;
}

void drawpreview() {
  if (zoomchanged.exchange(false)) clearpreview();
  int cw = 0, ch = 0;
  if (!previewwindow.clientsize || !previewwindow.draw || !previewwindow.clientsize(cw, ch))
    return;
  previewgeometry g = previewlayout(previewzoom.load(), settings.aspect, cw, ch);
  if (g.picture.w > 0 && g.picture.h > 0) previewwindow.draw(previewimage, g);
}

void clearpreview() {
  int cw = 0, ch = 0;
  if (!previewwindow.clientsize || !previewwindow.fillblack || !previewwindow.clientsize(cw, ch))
    return;
  previewwindow.fillblack(previewbox(cw, ch));
}
