// The bit writer and reader: exact bytes, every width at every bit offset, the window's spare
// bytes and the integer helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "encoder/coding/bitio.h"

namespace {

unsigned testseed() {
  const char* s = std::getenv("OSTREL_SEED");
  return s ? unsigned(std::strtoul(s, nullptr, 10)) : 20261210u;
}

TEST(bitio, threebitsthenalign) {
  uint8_t buf[8] = {};
  bitcursor c;
  putbits(1, 1, buf, c);
  putbits(0, 1, buf, c);
  putbits(1, 1, buf, c);
  EXPECT_EQ(buf[0], 0xA0);
  EXPECT_EQ(c.usedbits, 3);
  alignbits(buf, c);
  EXPECT_EQ(c.bytepos, 1);
  EXPECT_EQ(c.usedbits, 0);
  EXPECT_EQ(buf[0], 0xA0);
}

TEST(bitio, windowedges) {
  // n + usedbits = 32 ends exactly at the window's end.
  uint8_t buf[16];
  std::fill(std::begin(buf), std::end(buf), 0xEE);
  bitcursor c;
  putbits(0x5, 3, buf, c);
  putbits(0x1FFFFFFF, 29, buf, c);
  EXPECT_EQ(c.bytepos, 4);
  EXPECT_EQ(c.usedbits, 0);
  EXPECT_EQ(buf[0], 0xBF);
  EXPECT_EQ(buf[3], 0xFF);
  // n = 0 writes nothing, moves nothing, but zeroes the window ahead.
  putbits(0xFFFFFFFF, 0, buf, c);
  EXPECT_EQ(c.bytepos, 4);
  EXPECT_EQ(buf[4], 0);
  EXPECT_EQ(buf[7], 0);
  EXPECT_EQ(buf[8], 0xEE);  // never beyond the 3 spare bytes
  // A 32-bit field at an odd offset (33 bits of window) is written whole, not dropped.
  bitcursor d;
  uint8_t b2[12] = {};
  putbits(1, 1, b2, d);
  putbits(0x12345678, 32, b2, d);
  EXPECT_EQ(d.bytepos, 4);
  EXPECT_EQ(d.usedbits, 1);
  bitcursor r;
  EXPECT_EQ(getbits(1, b2, r), 1u);
  EXPECT_EQ(getbits(32, b2, r), 0x12345678u);
}

TEST(bitio, get32alignedisbigendianword) {
  const uint8_t buf[8] = {0xDE, 0xAD, 0xBE, 0xEF, 0, 0, 0, 0};
  bitcursor c;
  EXPECT_EQ(getbits(32, buf, c), 0xDEADBEEFu);
  EXPECT_EQ(c.bytepos, 4);
  EXPECT_EQ(showbits(4, buf, 4, 0), 0xEu);
}

// Random fields of every width 0..32 starting at every bit offset 0..7 read back as written;
// the rest of the last byte is zero and nothing past the window's 3 spare bytes is touched.
TEST(bitio, randomroundtrip) {
  unsigned seed = testseed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int offset = 0; offset < 8; ++offset) {
    for (int round = 0; round < 50; ++round) {
      std::vector<std::pair<uint32_t, int>> fields;
      int total = offset;
      fields.push_back({uint32_t(rng()), offset});
      for (int k = 0; k < 200; ++k) {
        int n = int(rng() % 33);
        fields.push_back({uint32_t(rng()), n});
        total += n;
      }
      int bytes = (total + 7) / 8;
      std::vector<uint8_t> buf(bytes + bitspare + 8, 0xA5);
      bitcursor w;
      for (auto [v, n] : fields) putbits(v, n, buf.data(), w);
      ASSERT_EQ(bitposition(w), total);
      if (total % 8) {
        ASSERT_EQ(buf[bytes - 1] & (0xFF >> (total % 8)), 0);  // the unused bits of the last byte
      }
      // The window reaches at most 3 bytes past the cursor's byte.
      for (int i = w.bytepos + 1 + bitspare; i < int(buf.size()); ++i) ASSERT_EQ(buf[i], 0xA5);
      bitcursor r;
      for (auto [v, n] : fields) {
        if (n == 0) continue;
        uint32_t want = v & bitmasks[n];
        ASSERT_EQ(showbits(n, buf.data(), r.usedbits, r.bytepos), want);
        ASSERT_EQ(getbits(n, buf.data(), r), want) << "width " << n << " at bit " << bitposition(r);
      }
      ASSERT_EQ(bitposition(r), total);
    }
  }
}

TEST(bitio, skipandalign) {
  bitcursor c;
  c.usedbits = 5;
  skipbits(27, c);  // a = 32
  EXPECT_EQ(c.bytepos, 4);
  EXPECT_EQ(c.usedbits, 0);
  skipbits(9, c);
  EXPECT_EQ(c.bytepos, 5);
  EXPECT_EQ(c.usedbits, 1);
  uint8_t buf[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  bitcursor a;
  a.usedbits = 3;
  alignbits(buf, a);
  EXPECT_EQ(buf[0], 0xE0);
  EXPECT_EQ(buf[1], 0);
  EXPECT_EQ(buf[3], 0);
  EXPECT_EQ(buf[4], 0xFF);
  EXPECT_EQ(a.bytepos, 1);
  bitcursor b;
  alignbits(buf, b);  // already aligned: nothing changes
  EXPECT_EQ(b.bytepos, 0);
  EXPECT_EQ(buf[0], 0xE0);
}

TEST(bitio, helpers) {
  struct { int32_t v; int len; } cases[] = {{0, 0}, {1, 1}, {-1, 1}, {2, 2}, {-3, 2}, {255, 8},
                                            {2047, 11}, {-2047, 11}, {2048, 12}};
  for (auto c : cases) EXPECT_EQ(bitlength(c.v), c.len) << c.v;
  EXPECT_EQ(bitmasks[0], 0u);
  EXPECT_EQ(bitmasks[32], 0xFFFFFFFFu);
  EXPECT_EQ(shiftr(0x80000000u, 31), 1u);
  EXPECT_EQ(shiftl(3, 30), int32_t(0xC0000000u));
  EXPECT_EQ(pow2(0), 1);
  EXPECT_EQ(pow2(10), 1024);
}

}  // namespace
