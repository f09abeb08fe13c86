// Text and time helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/texttime.h"

TEST(texttime, padcopy) {
  struct c { std::string src; int destlen; std::string want; };
  const c cases[] = {
      {std::string(512, ' '), 512, ""},
      {"DGDecode.dll        ", 512, "DGDecode.dll"},
      {"abc", 3, "ab"},  // no room for the NUL: it takes the last position
      {"a b  ", 8, "a b"},
      {"", 4, ""},
  };
  for (const auto& k : cases) {
    std::string dest(k.destlen, 'x');
    padcopy(k.src.data(), (int)k.src.size(), dest.data(), k.destlen);
    EXPECT_STREQ(dest.c_str(), k.want.c_str()) << "[" << k.src << "]";
    // The rest of the destination is blanks up to the NUL's position, the NUL included.
    size_t n = std::strlen(dest.c_str());
    for (size_t i = n + 1; i < dest.size(); i++) EXPECT_EQ(dest[i], ' ') << i;
  }
}

TEST(texttime, fmttime) {
  const std::pair<int, const char*> cases[] = {
      {0, " 0:00:00"},    {3725, " 1:02:05"}, {59, " 0:00:59"},   {3600, " 1:00:00"},
      {36000, "10:00:00"}, {359999, "99:59:59"}, {360000, "**:00:00"}, {-5, " 0:00:00"}};
  for (auto [s, want] : cases) EXPECT_EQ(fmttime(s), want) << s;
  char b[9] = "xxxxxxxx";
  fmttime(b, 3725);
  EXPECT_STREQ(b, " 1:02:05");
}

TEST(texttime, casechangesonlyasciiletters) {
  std::string s = "AbZ09\\/[`{@\xC4\xE4z";
  lowercase(s);
  EXPECT_EQ(s, "abz09\\/[`{@\xC4\xE4z");
  uppercase(s);
  EXPECT_EQ(s, "ABZ09\\/[`{@\xC4\xE4Z");
  char f[6] = "KJ.In";
  lowercase(f, 3);  // only the first three
  EXPECT_STREQ(f, "kj.In");
}

TEST(texttime, elapsedacrossmidnightstayspositive) {
  EXPECT_FLOAT_EQ(elapsedfrom(0.5, 86399.5f), 1.0f);
  EXPECT_FLOAT_EQ(elapsedfrom(3600.0, 1800.0f), 1800.0f);
  EXPECT_FLOAT_EQ(elapsedfrom(45296.25, 0.0f), 45296.25f);  // 12:34:56.25
  float t = elapsed(0.0f);
  EXPECT_GE(t, 0.0f);
  EXPECT_LT(t, 86400.0f);
  EXPECT_GE(cputime(), 0.0);
}
