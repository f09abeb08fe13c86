// The preview: colours and layout of the BMP image, and where it lands in the window.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "encoder/control/control.h"
#include "encoder/control/preview.h"

// Counts heap allocations, so a test can show that a call makes none. (GCC cannot see that
// the replaced new and delete match.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
static std::atomic<long> allocations{0};
void* operator new(std::size_t n) {
  ++allocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct rgb {
  int r, g, b;
  bool operator==(const rgb&) const = default;
};
std::ostream& operator<<(std::ostream& o, const rgb& c) {
  return o << "(" << c.r << "," << c.g << "," << c.b << ")";
}

// A 4:2:0 picture with its own planes.
struct picture {
  int width, height;
  std::vector<uint8_t> y, u, v;
  picture(int w, int h, int yv, int uv, int vv)
      : width(w), height(h), y(size_t(w) * h, uint8_t(yv)), u(size_t(w / 2) * ((h + 1) / 2), uint8_t(uv)),
        v(u.size(), uint8_t(vv)) {}
  // Paints the luma rectangle [x0, x1) x [y0, y1) (even bounds) with one colour.
  void paint(int x0, int y0, int x1, int y1, int yv, int uv, int vv) {
    for (int r = y0; r < y1; ++r)
      for (int c = x0; c < x1; ++c) {
        y[size_t(r) * width + c] = uint8_t(yv);
        u[size_t(r / 2) * (width / 2) + c / 2] = uint8_t(uv);
        v[size_t(r / 2) * (width / 2) + c / 2] = uint8_t(vv);
      }
  }
  bool tobmp(uint8_t* dest = previewimage) const {
    return yuvtobmp(y.data(), u.data(), v.data(), width, height, dest);
  }
};

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
int le16(const uint8_t* p) { return p[0] | p[1] << 8; }

// Pixel (row from the top, column) of the image in previewimage.
rgb bmppixel(int row, int col) {
  int w = int(le32(previewimage + 18)), h = int(le32(previewimage + 22));
  const uint8_t* p = previewimage + 54 + 3 * (size_t(w) * (h - 1 - row) + col);
  return {p[2], p[1], p[0]};
}

// Colours of the test pictures (BT.601 video range).
constexpr int red[3] = {81, 90, 240}, blue[3] = {41, 240, 110}, green[3] = {145, 54, 34},
              white[3] = {235, 128, 128};

TEST(yuvtobmp, knowncolours) {
  struct ccase {
    int y, u, v;
    rgb want;
  } cases[] = {
      {235, 128, 128, {254, 254, 254}},
      {16, 128, 128, {0, 0, 0}},
      {81, 90, 240, {254, 0, 0}},
      {0, 128, 128, {0, 0, 0}},        // below black: clamped
      {255, 128, 128, {255, 255, 255}},  // above white: clamped
      {126, 128, 128, {128, 128, 128}},
  };
  for (const ccase& c : cases) {
    picture p(16, 2, c.y, c.u, c.v);
    ASSERT_TRUE(p.tobmp());
    EXPECT_EQ(bmppixel(1, 15), c.want) << "Y " << c.y << " U " << c.u << " V " << c.v;
    EXPECT_EQ(previewimage[54], c.want.b) << "blue byte first";
    EXPECT_EQ(previewimage[56], c.want.r) << "red byte last";
  }
  // Saturated blue and green: the strong channel is where it belongs (no U/V swap).
  picture pb(16, 2, blue[0], blue[1], blue[2]);
  ASSERT_TRUE(pb.tobmp());
  rgb b = bmppixel(0, 0);
  EXPECT_GE(b.b, 240);
  EXPECT_LE(b.r, 10);
  EXPECT_LE(b.g, 10);
  picture pg(16, 2, green[0], green[1], green[2]);
  ASSERT_TRUE(pg.tobmp());
  rgb g = bmppixel(0, 0);
  EXPECT_GE(g.g, 240);
  EXPECT_LE(g.r, 10);
  EXPECT_LE(g.b, 10);
}

TEST(yuvtobmp, headersandrowsbottomup) {
  picture p(48, 32, 16, 128, 128);
  p.paint(0, 0, 48, 2, white[0], white[1], white[2]);  // top two rows white
  std::vector<uint8_t> buf(54 + 3 * 48 * 32 + 16, 0xa5);
  ASSERT_TRUE(yuvtobmp(p.y.data(), p.u.data(), p.v.data(), 48, 32, buf.data(), 54 + 3 * 48 * 32));
  const uint8_t* h = buf.data();
  EXPECT_EQ(h[0], 'B');
  EXPECT_EQ(h[1], 'M');
  EXPECT_EQ(le32(h + 2), 3u * 48 * 32 + 54);
  EXPECT_EQ(le32(h + 6), 0u);
  EXPECT_EQ(le32(h + 10), 54u);
  EXPECT_EQ(le32(h + 14), 40u);
  EXPECT_EQ(le32(h + 18), 48u);
  EXPECT_EQ(le32(h + 22), 32u);
  EXPECT_EQ(le16(h + 26), 1);
  EXPECT_EQ(le16(h + 28), 24);
  EXPECT_EQ(le32(h + 30), 0u);
  EXPECT_EQ(le32(h + 34), 3u * 48 * 32);
  EXPECT_EQ(le32(h + 38), 2835u);
  EXPECT_EQ(le32(h + 42), 2835u);
  EXPECT_EQ(le32(h + 46), 0u);
  EXPECT_EQ(le32(h + 50), 0u);
  // The top source rows are the last rows of the pixel data.
  size_t last = 54 + 3 * 48 * 31;
  EXPECT_EQ(buf[last], 254);
  EXPECT_EQ(buf[54 + 3 * 48 * 30], 254);
  EXPECT_EQ(buf[54 + 3 * 48 * 29], 0);
  EXPECT_EQ(buf[54], 0);
  for (size_t i = 54 + 3 * 48 * 32; i < buf.size(); ++i) EXPECT_EQ(buf[i], 0xa5) << "past the image";
}

// Each chroma sample serves its own 2 x 2 luma block, and neither neighbour.
TEST(yuvtobmp, chromasiting) {
  picture p(32, 8, 126, 128, 128);
  p.paint(6, 2, 8, 4, 126, 90, 240);  // chroma sample (1, 3) reddish, luma unchanged
  ASSERT_TRUE(p.tobmp());
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 32; ++c) {
      bool inside = r >= 2 && r < 4 && c >= 6 && c < 8;
      rgb px = bmppixel(r, c);
      if (inside)
        EXPECT_GT(px.r, 200) << r << "," << c;
      else
        EXPECT_EQ(px, (rgb{128, 128, 128})) << r << "," << c;
    }
}

TEST(yuvtobmp, sizesandlimits) {
  // A 1920x1080 frame-server source previews its own 1080 rows.
  picture big(1920, 1080, 16, 128, 128);
  big.paint(0, 0, 1920, 2, white[0], white[1], white[2]);
  long before = allocations.load();
  ASSERT_TRUE(big.tobmp());
  EXPECT_EQ(allocations.load(), before) << "yuvtobmp allocated";
  EXPECT_EQ(le32(previewimage + 22), 1080u);
  EXPECT_EQ(le32(previewimage + 2), 3u * 1920 * 1080 + 54);
  EXPECT_EQ(bmppixel(0, 1919), (rgb{254, 254, 254}));
  EXPECT_EQ(bmppixel(1079, 0), (rgb{0, 0, 0}));
  // The largest picture fills the buffer exactly; anything larger is refused untouched.
  picture largest(1920, 1152, 16, 128, 128);
  EXPECT_TRUE(largest.tobmp());
  previewimage[0] = 'X';
  picture toolarge(1920, 1154, 16, 128, 128);
  EXPECT_FALSE(toolarge.tobmp());
  EXPECT_EQ(previewimage[0], 'X');
  picture small(16, 16, 16, 128, 128);
  std::vector<uint8_t> buf(54 + 3 * 16 * 16 - 1);
  EXPECT_FALSE(yuvtobmp(small.y.data(), small.u.data(), small.v.data(), 16, 16, buf.data(), buf.size()));
  EXPECT_FALSE(yuvtobmp(small.y.data(), small.u.data(), small.v.data(), 0, 16, previewimage));
  EXPECT_FALSE(yuvtobmp(small.y.data(), small.u.data(), small.v.data(), 16, -2, previewimage));
  EXPECT_FALSE(yuvtobmp(small.y.data(), small.u.data(), small.v.data(), 14, 16, previewimage));
}

TEST(previewlayout, zoomsandaspects) {
  struct lcase {
    int zoom, aspect, cw, ch;
    previewrect picture;
  } cases[] = {
      {1, 3, 564, 449, {348, 253, 210, 118}},  // 16:9: 118 units high, centred on 312
      {1, 2, 564, 449, {348, 234, 210, 157}},
      {1, 1, 564, 449, {348, 207, 210, 210}},
      {1, 4, 564, 449, {348, 265, 210, 95}},
      {2, 3, 564, 449, {303, 228, 300, 168}},
      {3, 3, 564, 449, {253, 200, 400, 225}},
      {4, 3, 564, 449, {203, 172, 500, 281}},
      {5, 3, 564, 449, {153, 144, 600, 337}},
      {1, 3, 1128, 898, {696, 506, 420, 236}},  // twice the size
      {5, 2, 846, 449, {229, -25, 900, 675}},   // wider window: taller picture, above the client
      {0, 3, 564, 449, {}},
      {6, 3, 564, 449, {}},
      {1, 0, 564, 449, {}},
  };
  for (const lcase& c : cases) {
    previewgeometry g = previewlayout(c.zoom, c.aspect, c.cw, c.ch);
    EXPECT_EQ(g.picture, c.picture) << "zoom " << c.zoom << " aspect " << c.aspect << " client "
                                    << c.cw << "x" << c.ch;
  }
  EXPECT_EQ(previewlayout(5, 3, 564, 449).clip, (previewrect{348, 237, 210, 150}));
  EXPECT_EQ(previewlayout(1, 3, 1128, 898).clip, (previewrect{696, 474, 420, 300}));
  EXPECT_EQ(previewbox(564, 449), (previewrect{348, 237, 210, 150}));
  EXPECT_EQ(previewbox(1128, 898), (previewrect{696, 474, 420, 300}));
}

// A picture of four coloured quadrants drawn at every zoom into two window sizes: the box
// shows the right colour at the right place, and nothing outside the box is touched.
TEST(stretchpreview, quadrantsateveryzoom) {
  picture p(64, 36, 16, 128, 128);
  p.paint(0, 0, 32, 18, red[0], red[1], red[2]);
  p.paint(32, 0, 64, 18, blue[0], blue[1], blue[2]);
  p.paint(0, 18, 32, 36, green[0], green[1], green[2]);
  p.paint(32, 18, 64, 36, white[0], white[1], white[2]);
  ASSERT_TRUE(p.tobmp());
  const rgb tl = bmppixel(0, 0), tr = bmppixel(0, 63), bl = bmppixel(35, 0), br = bmppixel(35, 63);
  ASSERT_GT(tl.r, 200);
  ASSERT_GT(tr.b, 200);
  ASSERT_GT(bl.g, 200);
  ASSERT_EQ(br, (rgb{254, 254, 254}));
  for (int scale = 1; scale <= 2; ++scale) {
    int cw = 564 * scale, ch = 449 * scale;
    for (int zoom = 1; zoom <= 5; ++zoom) {
      SCOPED_TRACE("zoom " + std::to_string(zoom) + " scale " + std::to_string(scale));
      std::vector<uint8_t> canvas(size_t(cw) * ch * 3, 7);
      previewgeometry g = previewlayout(zoom, 3, cw, ch);
      ASSERT_TRUE(stretchpreview(previewimage, g, canvas.data(), cw, ch, cw * 3));
      auto at = [&](int x, int y) {
        const uint8_t* q = &canvas[(size_t(y) * cw + x) * 3];
        return rgb{q[0], q[1], q[2]};
      };
      // The picture is centred on the box's centre (453, 312) at every zoom.
      int cx = 453 * scale, cy = 312 * scale, d = 4 * scale;
      EXPECT_EQ(at(cx - d, cy - d), tl);
      EXPECT_EQ(at(cx + d, cy - d), tr);
      EXPECT_EQ(at(cx - d, cy + d), bl);
      EXPECT_EQ(at(cx + d, cy + d), br);
      const previewrect& b = g.clip;
      const rgb untouched{7, 7, 7};
      // Just outside the box, on every side.
      EXPECT_EQ(at(b.x - 1, cy), untouched);
      EXPECT_EQ(at(b.x + b.w, cy), untouched);
      EXPECT_EQ(at(cx, b.y - 1), untouched);
      EXPECT_EQ(at(cx, b.y + b.h), untouched);
      if (zoom == 1) {
        // 16:9 at zoom 1 leaves bands above and below the picture inside the box.
        EXPECT_EQ(at(cx, g.picture.y - 1), untouched);
        EXPECT_EQ(at(cx, g.picture.y + g.picture.h), untouched);
        EXPECT_EQ(at(b.x, g.picture.y), tl);
        EXPECT_EQ(at(b.x + b.w - 1, g.picture.y + g.picture.h - 1), br);
      } else {
        // From zoom 2 the picture covers the whole box: its corners are the quadrants.
        EXPECT_EQ(at(b.x, b.y), tl);
        EXPECT_EQ(at(b.x + b.w - 1, b.y), tr);
        EXPECT_EQ(at(b.x, b.y + b.h - 1), bl);
        EXPECT_EQ(at(b.x + b.w - 1, b.y + b.h - 1), br);
      }
    }
  }
  // A canvas smaller than the box is written only inside it; garbage is refused.
  std::vector<uint8_t> tiny(size_t(400) * 300 * 3, 7);
  EXPECT_TRUE(stretchpreview(previewimage, previewlayout(5, 3, 564, 449), tiny.data(), 400, 300, 1200));
  EXPECT_EQ(tiny[(size_t(299) * 400 + 399) * 3], tl.r);
  std::vector<uint8_t> junk(64, 0);
  EXPECT_FALSE(stretchpreview(junk.data(), previewlayout(1, 3, 564, 449), tiny.data(), 400, 300, 1200));
}

// drawpreview through a window backend: a zoom change clears the box first, once; headless
// it only resets the flag.
TEST(drawpreview, clearsonzoomchangeanddrawsthelayout) {
  std::vector<std::string> calls;
  previewgeometry drawn;
  previewwindow.clientsize = [](int& w, int& h) {
    w = 1128;
    h = 898;
    return true;
  };
  previewwindow.draw = [&](const uint8_t* bmp, const previewgeometry& g) {
    EXPECT_EQ(bmp, previewimage);
    drawn = g;
    calls.push_back("draw");
  };
  previewwindow.fillblack = [&](const previewrect& r) {
    EXPECT_EQ(r, (previewrect{696, 474, 420, 300}));
    calls.push_back("black");
  };
  settings.aspect = 3;
  previewzoom = 2;
  zoomchanged = true;
  drawpreview();
  drawpreview();
  EXPECT_EQ(calls, (std::vector<std::string>{"black", "draw", "draw"}));
  EXPECT_FALSE(zoomchanged);
  EXPECT_EQ(drawn.picture, previewlayout(2, 3, 1128, 898).picture);
  clearpreview();
  EXPECT_EQ(calls.back(), "black");
  previewzoom = 7;  // nothing visible
  calls.clear();
  drawpreview();
  EXPECT_TRUE(calls.empty());

  previewwindow = previewbackend();
  previewzoom = 1;
  zoomchanged = true;
  drawpreview();
  clearpreview();
  EXPECT_FALSE(zoomchanged);
  settings = settingsrec();
}

}  // namespace
