// The BMP image of a picture whose width or height is odd: the last luma column and row take
// the last chroma sample, and nothing is read beyond the planes (exactly sized here, so the
// sanitizer build sees any overread). Even sizes and the mask are tested with the encoder's
// preview and frame ring.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "common/yuvpicture.h"

TEST(bmpfromyuv, oddsizestakethelastchromasample) {
  const struct {
    int w, h;
  } sizes[] = {{5, 3}, {3, 5}, {1, 1}, {2, 1}, {1, 2}, {7, 7}};
  for (const auto& s : sizes) {
    const int cw = std::max(s.w / 2, 1), ch = std::max(s.h / 2, 1);
    std::vector<uint8_t> y(size_t(s.w) * s.h), u(size_t(cw) * ch), v(size_t(cw) * ch);
    for (size_t i = 0; i < y.size(); i++) y[i] = uint8_t(40 + 9 * i);
    for (size_t i = 0; i < u.size(); i++) {
      u[i] = uint8_t(90 + 17 * i);
      v[i] = uint8_t(200 - 13 * i);
    }
    std::vector<uint8_t> out(bmpheadersize + size_t(3) * s.w * s.h);
    bmpfromyuv(y.data(), u.data(), v.data(), s.w, s.h, out.data());
    for (int r = 0; r < s.h; r++)
      for (int x = 0; x < s.w; x++) {
        const int c = std::min(r / 2, ch - 1) * cw + std::min(x / 2, cw - 1);
        // The same pixel as a picture of that one chroma sample gives.
        uint8_t one[bmpheadersize + 3];
        uint8_t yy = y[size_t(r) * s.w + x];
        bmpfromyuv(&yy, &u[c], &v[c], 1, 1, one);
        const uint8_t* got = &out[bmpheadersize + size_t(3) * (size_t(s.h - 1 - r) * s.w + x)];
        for (int k = 0; k < 3; k++) ASSERT_EQ(got[k], one[bmpheadersize + k]) << s.w << "x" << s.h << " " << x << "," << r;
      }
  }
}
