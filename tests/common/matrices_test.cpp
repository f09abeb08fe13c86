// The built-in matrix pairs: the lookup, the facts that tie pairs together, and the load
// flags of the sequence header.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/matrices.h"

namespace {

// ISO/IEC 13818-2 default intra matrix, raster order.
const int defaultintra[64] = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
    19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
    22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
    26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

bool same(const uint8_t* a, const int* b) { return std::equal(a, a + 64, b); }
bool same(const uint8_t* a, const uint8_t* b) { return std::equal(a, a + 64, b); }
bool flat16(const uint8_t* a) { return std::all_of(a, a + 64, [](uint8_t v) { return v == 16; }); }

TEST(matrices, matrix1) {
  const builtinpair* p = builtinmatrix(1);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(same(p->intra, defaultintra));
  const int head[8] = {16, 17, 18, 19, 20, 21, 22, 23};
  const int tail[8] = {23, 24, 25, 27, 28, 30, 31, 33};
  EXPECT_TRUE(std::equal(p->nonintra, p->nonintra + 8, head));
  EXPECT_TRUE(std::equal(p->nonintra + 56, p->nonintra + 64, tail));
}

TEST(matrices, matrix16isthestandardpair) {
  const builtinpair* p = builtinmatrix(16);
  ASSERT_NE(p, nullptr);
  EXPECT_TRUE(same(p->intra, defaultintra));
  EXPECT_TRUE(flat16(p->nonintra));
}

TEST(matrices, matrix7row7column3) {
  EXPECT_EQ(builtinmatrix(7)->intra[7 * 8 + 3], 26);
  EXPECT_EQ(builtinmatrix(8)->intra[7 * 8 + 3], 36);
  // Otherwise 7, 8 and 9 share their intra matrix.
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(builtinmatrix(8)->intra[i], builtinmatrix(9)->intra[i]) << i;
    if (i != 59) {
      EXPECT_EQ(builtinmatrix(7)->intra[i], builtinmatrix(8)->intra[i]) << i;
    }
  }
}

TEST(matrices, tablefacts) {
  for (int n = 1; n <= 16; ++n) {
    const builtinpair* p = builtinmatrix(n);
    ASSERT_NE(p, nullptr) << n;
    EXPECT_EQ(p->intra[0], 8) << n;
    EXPECT_TRUE(std::none_of(p->intra, p->intra + 64, [](uint8_t v) { return v == 0; })) << n;
    EXPECT_TRUE(std::none_of(p->nonintra, p->nonintra + 64, [](uint8_t v) { return v == 0; }))
        << n;
  }
  EXPECT_TRUE(same(builtinmatrix(6)->intra, defaultintra));
  EXPECT_TRUE(same(builtinmatrix(13)->intra, builtinmatrix(14)->intra));
  EXPECT_TRUE(same(builtinmatrix(14)->intra, builtinmatrix(15)->intra));
  EXPECT_TRUE(same(builtinmatrix(3)->nonintra, builtinmatrix(6)->nonintra));
  EXPECT_TRUE(flat16(builtinmatrix(15)->nonintra));
  // Spot values from other rows and pairs.
  EXPECT_EQ(builtinmatrix(2)->intra[63], 87);
  EXPECT_EQ(builtinmatrix(5)->nonintra[63], 124);
  EXPECT_EQ(builtinmatrix(13)->nonintra[63], 11);
  EXPECT_EQ(builtinmatrix(12)->intra[62], 96);
  EXPECT_EQ(builtinmatrix(0), nullptr);
  EXPECT_EQ(builtinmatrix(17), nullptr);
}

TEST(matrices, names) {
  EXPECT_STREQ(matrixname(0), "CUSTOM");
  EXPECT_STREQ(matrixname(1), "MPEG");
  EXPECT_STREQ(matrixname(8), "HVSBETTER");
  EXPECT_STREQ(matrixname(16), "MPEGSTD");
  EXPECT_STREQ(matrixname(17), "");
}

TEST(matrices, loadflags) {
  struct {
    int n;
    bool adapted;
    int intra, nonintra;
  } cases[] = {{16, false, 0, 0}, {1, false, 0, 1}, {0, false, 1, 1}, {2, false, 1, 1},
               {15, false, 1, 1}, {16, true, 1, 1}, {1, true, 1, 1}};
  for (const auto& c : cases) {
    int a = -1, b = -1;
    matrixloadflags(c.n, c.adapted, a, b);
    EXPECT_EQ(a, c.intra) << c.n << " " << c.adapted;
    EXPECT_EQ(b, c.nonintra) << c.n << " " << c.adapted;
  }
}

}  // namespace
