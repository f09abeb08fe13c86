#include "tests/frontend/clips.h"

#include <algorithm>

#include "frontend/window/front.h"

yuvframe::yuvframe(int width, int height)
    : w(width), h(height), y((size_t)width * height), u((size_t)(width / 2) * (height / 2)), v(u.size()) {}

yuvframe sceneframe(int w, int h, int f, const std::vector<int>& cuts) {
  const int scene = (int)(std::upper_bound(cuts.begin(), cuts.end(), f) - cuts.begin());
  const int base = 40 + (scene % 3) * 60, cb = 100 + (scene % 2) * 50, cr = 150 - (scene % 4) * 20;
  yuvframe fr(w, h);
  for (int r = 0; r < h; r++)
    for (int x = 0; x < w; x++) fr.y[(size_t)r * w + x] = (uint8_t)(base + ((x * 3 + r * 5 + 2 * f) & 31));
  std::fill(fr.u.begin(), fr.u.end(), (uint8_t)cb);
  std::fill(fr.v.begin(), fr.v.end(), (uint8_t)cr);
  return fr;
}

std::string y4m(const std::vector<yuvframe>& frames) {
  std::string s = "YUV4MPEG2 W" + std::to_string(frames.at(0).w) + " H" + std::to_string(frames.at(0).h) +
                  " F25:1 Ip A1:1 C420jpeg\n";
  for (const yuvframe& f : frames) {
    s += "FRAME\n";
    s.append(f.y.begin(), f.y.end());
    s.append(f.u.begin(), f.u.end());
    s.append(f.v.begin(), f.v.end());
  }
  return s;
}

yuvframe maskedmodel(const yuvframe& f, int top, int bottom, int shift) {
  yuvframe m = f;
  for (int p = 0; p < 3; p++) {
    const std::vector<uint8_t>& from = p == 0 ? f.y : p == 1 ? f.u : f.v;
    std::vector<uint8_t>& to = p == 0 ? m.y : p == 1 ? m.u : m.v;
    const int div = p ? 2 : 1, pw = f.w / div, ph = f.h / div;
    const int s = shift / div, t = std::max(top, 0) / div, b = std::max(bottom, 0) / div;
    const uint8_t fill = p ? 128 : 16;
    for (int r = 0; r < ph; r++)
      for (int x = 0; x < pw; x++) {
        const int src = r + s;
        uint8_t want = src >= 0 && src < ph ? from[(size_t)src * pw + x] : fill;
        if (r < t || r >= ph - b) want = fill;
        to[(size_t)r * pw + x] = want;
      }
  }
  return m;
}

void rgbmodel(int y, int cb, int cr, uint8_t rgb[3]) {
  auto channel = [](int64_t v) {
    int64_t floored = v >= 0 ? v / 65536 : -((-v + 65535) / 65536);
    return (uint8_t)std::clamp<int64_t>(floored, 0, 255);
  };
  const int64_t l = 76284 * (int64_t)(y - 16);
  rgb[0] = channel(l + 104595 * (int64_t)(cr - 128));
  rgb[1] = channel(l - 25625 * (int64_t)(cb - 128) - 53281 * (int64_t)(cr - 128));
  rgb[2] = channel(l + 132252 * (int64_t)(cb - 128));
}

std::vector<uint8_t> boxmodel(const yuvframe& f, int aspect, int w, int h) {
  std::vector<uint8_t> box((size_t)3 * w * h, 0);
  const previewrect r = previewplace(aspect, w, h);
  for (int py = 0; py < r.h; py++)
    for (int px = 0; px < r.w; px++) {
      const int sy = (int)((int64_t)py * f.h / r.h), sx = (int)((int64_t)px * f.w / r.w);
      const size_t c = (size_t)(sy / 2) * (f.w / 2) + sx / 2;
      rgbmodel(f.y[(size_t)sy * f.w + sx], f.u[c], f.v[c], &box[(size_t)3 * ((size_t)(r.y + py) * w + r.x + px)]);
    }
  return box;
}
