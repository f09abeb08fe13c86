// The fixed-width number fields: alignment, rounding, and values wider than their field.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "common/fmtfield.h"

namespace {

TEST(fmtint, rightalignedandneverasterisks) {
  EXPECT_EQ(fmtint(5000, 8), "    5000");
  EXPECT_EQ(fmtint(0, 8), "       0");
  EXPECT_EQ(fmtint(-42, 8), "     -42");
  EXPECT_EQ(fmtint(2, 2), " 2");
  EXPECT_EQ(fmtint(12345678, 8), "12345678");
  EXPECT_EQ(fmtint(123456789, 8), "123456789");
  EXPECT_EQ(fmtint(-1234567, 3), "-1234567");
  EXPECT_EQ(fmtint(INT64_MIN, 8), "-9223372036854775808");
  EXPECT_EQ(fmtint(7, 0), "7");
}

TEST(fmtfixed, decimalsalignmentandrounding) {
  struct fcase {
    double v;
    int w, d;
    const char* want;
  } cases[] = {
      {25.0, 8, 3, "  25.000"},
      {3.0, 8, 3, "   3.000"},
      {24000.0 / 1001.0, 8, 3, "  23.976"},
      {30000.0 / 1001.0, 8, 3, "  29.970"},
      {0.5, 8, 3, "   0.500"},
      {-1.25, 8, 3, "  -1.250"},
      {2.0625, 8, 3, "   2.063"},    // exact tie: away from zero
      {-2.0625, 8, 3, "  -2.063"},
      {2.5, 4, 0, "   3"},
      {3.5, 4, 0, "   4"},
      {0.125, 6, 2, "  0.13"},
      {0.0005, 8, 3, "   0.001"},    // just above the tie in binary
      {1.0005, 8, 3, "   1.000"},    // just below the tie in binary
      {12.34, 8, 1, "    12.3"},
      {99999.9999, 8, 3, "100000.000"},  // wider than the field: in full
      {-12345678.5, 8, 1, "-12345678.5"},
      {1e20, 8, 3, "100000000000000000000.000"},
      {7.0, 0, 3, "7.000"},
  };
  for (const fcase& c : cases)
    EXPECT_EQ(fmtfixed(c.v, c.w, c.d), c.want) << c.v << " F" << c.w << "." << c.d;
  EXPECT_EQ(fmtfixed(std::numeric_limits<double>::quiet_NaN(), 8, 3), "     NaN");
  EXPECT_EQ(fmtfixed(HUGE_VAL, 8, 3), "Infinity");
  EXPECT_EQ(fmtfixed(-HUGE_VAL, 8, 3), "-Infinity");
  EXPECT_EQ(fmtfixed(std::numeric_limits<double>::max(), 8, 3).size(), 313u);
}

TEST(fmttext, labelsandadjustments) {
  EXPECT_EQ(fmtlabel("bias:", 22), "bias:                 ");
  EXPECT_EQ(fmtlabel("a label longer than twenty-two", 22), "a label longer than twenty-two");
  EXPECT_EQ(adjustleft("     123"), "123     ");
  EXPECT_EQ(adjustleft("abc"), "abc");
  EXPECT_EQ(adjustleft("   "), "   ");
  EXPECT_EQ(trimright("C:/x y  "), "C:/x y");
  EXPECT_EQ(trimright("   "), "");
  EXPECT_EQ(trimright("  a"), "  a");
}

}  // namespace
