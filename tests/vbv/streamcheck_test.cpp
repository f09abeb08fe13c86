// The tests' own reading of a stream, on streams built here byte by byte: the buffer model
// (the fill between decoding times, two or three field periods, the picture that is not
// wholly in the buffer) and the sizes of the GOPs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "tests/vbv/streamcheck.h"

namespace {

// Bits into bytes, most significant first.
struct bitwriter {
  std::vector<uint8_t>& out;
  int used = 8;  // bits used in the last byte
  void put(uint32_t value, int n) {
    for (int k = n - 1; k >= 0; --k) {
      if (used == 8) {
        out.push_back(0);
        used = 0;
      }
      out.back() |= uint8_t(((value >> k) & 1) << (7 - used));
      ++used;
    }
  }
  void startcode(uint8_t code) {
    used = 8;
    for (uint8_t b : {uint8_t(0), uint8_t(0), uint8_t(1), code}) out.push_back(b);
  }
};

struct streambuilder {
  std::vector<uint8_t> s;
  int framecode;
  int ratevalue;  // bit_rate_value, units of 400 bit/s

  // Sequence header and extension, a GOP header: the headers in front of a GOP's I picture.
  void gopheaders() {
    bitwriter w{s};
    w.startcode(0xB3);
    w.put(720, 12);
    w.put(576, 12);
    w.put(2, 4);
    w.put(uint32_t(framecode), 4);
    w.put(uint32_t(ratevalue), 18);
    w.put(1, 1);
    w.put(112, 10);  // 1,835,008 bits
    w.put(0, 3);
    w.startcode(0xB5);
    w.put(1, 4);
    w.put(0x48, 8);
    w.put(0, 1);  // not progressive: a repeated field is one field more
    w.put(1, 2);
    w.put(0, 4 + 12);
    w.put(1, 1);
    w.put(0, 8 + 1 + 7);
    w.startcode(0xB8);
    w.put(0, 32);
  }
  // A picture whose data, headers in front of it included, is exactly `bytes` long.
  void picture(int type, size_t bytes, bool rff = false, bool headers = false) {
    const size_t start = s.size();
    if (headers) gopheaders();
    bitwriter w{s};
    w.startcode(0x00);
    w.put(0, 10);
    w.put(uint32_t(type), 3);
    w.put(0xFFFF, 16);
    w.put(0, 5);
    w.startcode(0xB5);
    w.put(8, 4);
    w.put(0xFFFF, 16);
    w.put(0, 2);
    w.put(3, 2);  // frame picture
    w.put(1, 1);  // top field first
    w.put(0, 6);
    w.put(rff ? 1 : 0, 1);
    w.put(0, 7);
    w.startcode(0x01);  // a slice, then filler that holds no start code
    s.resize(start + bytes, 0xFF);
  }
  void end() {
    bitwriter w{s};
    w.startcode(0xB7);
  }
};

// 25 frames a second at 8,000 kbit/s: 320,000 bits enter between two decoding times. Full at
// the first, the buffer gives an I picture of 1,200,000 bits and then holds 955,008 bits when
// the next picture must leave: one of 150,000 bytes (with the end code) underflows, one of
// 119,376 bytes fits with none left.
TEST(buffermodel, fillanddrainat25framesasecond) {
  for (size_t second : {150000u, 119376u}) {
    SCOPED_TRACE(second);
    streambuilder b{{}, 3, 20000};
    b.picture(1, 150000, false, true);
    b.picture(2, second - 4);
    b.end();
    const buffercheck r = buffermodel(b.s);
    EXPECT_EQ(r.fault, "");
    EXPECT_EQ(r.pictures, 2);
    EXPECT_EQ(r.buffer, 1835008);
    EXPECT_EQ(r.rate, 8000000);
    EXPECT_EQ(r.notffff, 0);
    EXPECT_DOUBLE_EQ(r.lowest, 955008.0 - 8.0 * double(second));
    EXPECT_EQ(r.underflows, second == 150000u ? 1 : 0);
    EXPECT_EQ(r.firstunderflow, second == 150000u ? 1 : -1);
  }
  EXPECT_NE(buffermodel({}).fault, "");
}

// 29.97 frames a second: two field periods bring 266,933.3 bits, three (after a picture that
// repeats its first field) 400,400. I of 1,000,000 bits, a B picture of 800,000 that repeats
// a field, a B picture of 700,000: it fits with 2,341.3 bits to spare, and underflows when the
// first B picture is shown two fields only.
TEST(buffermodel, repeatedfieldslengthentheinterval) {
  const double two = 8000000.0 * 2.0 * 1001.0 / 60000.0;
  const double three = 8000000.0 * 3.0 * 1001.0 / 60000.0;
  for (bool rff : {true, false}) {
    SCOPED_TRACE(rff);
    streambuilder b{{}, 4, 20000};
    b.picture(1, 125000, false, true);
    b.picture(3, 100000, rff);
    b.picture(3, 87500 - 4);
    b.end();
    const buffercheck r = buffermodel(b.s);
    const double last = 1835008.0 - 1000000.0 + two - 800000.0 + (rff ? three : two) - 700000.0;
    EXPECT_NEAR(r.lowest, last, 1e-6);
    EXPECT_EQ(r.underflows, rff ? 0 : 1);
  }
  // Between I and P pictures the decoder shows the reference picture decoded before: P1's
  // repeated field lengthens the interval after P2, not the one after P1, so the buffer holds
  // 568,874.7 bits after P2 left (702,341.3 were the field added after P1).
  streambuilder b{{}, 4, 20000};
  b.picture(1, 125000, false, true);
  b.picture(2, 50000, true);
  b.picture(2, 50000);
  b.picture(2, 50000 - 4);
  b.end();
  EXPECT_NEAR(buffermodel(b.s).lowest, 1835008.0 - 1800000.0 + 2.0 * two, 1e-6);
}

// GOP sizes count the picture data only: the headers of the sequence and the GOP are not in
// them, the end code is not.
TEST(buffermodel, gopsizes) {
  streambuilder b{{}, 3, 20000};
  b.picture(1, 1000, false, true);
  b.picture(2, 500);
  b.picture(1, 2000, false, true);
  b.end();
  const std::vector<gopsize> g = gopsizes(b.s);
  ASSERT_EQ(g.size(), 2u);
  EXPECT_EQ(g[0].pictures, 2);
  EXPECT_EQ(g[1].pictures, 1);
  const int64_t headers = 4 + 8 + 4 + 6 + 4 + 4;  // sequence header, extension, GOP header
  EXPECT_EQ(g[0].picturebytes, 1000 - headers + 500);
  EXPECT_EQ(g[1].picturebytes, 2000 - headers);
  EXPECT_EQ(goprate(g[0], 25.0), int64_t(8.0 * double(1500 - headers) * 25.0 / 2.0));
}

}  // namespace
