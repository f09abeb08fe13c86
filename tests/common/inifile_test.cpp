// KJ.ini's rules as both programs read it: the key of a line, value columns, keywords at their
// start positions, and paths.
#include <gtest/gtest.h>

#include <cstring>

#include "common/inifile.h"

namespace {
std::string keyof(const std::string& upper) {
  int k = inifilekey(upper);
  return k < 0 ? "" : inifilekeys[k];
}
std::string at(int column, const std::string& word) { return std::string((size_t)column - 1, ' ') + word; }
}  // namespace

TEST(inifile, thekeyofaline) {
  EXPECT_EQ(keyof("*CQ_PFACTOR 1.5"), "*CQ_PFACTOR");
  EXPECT_EQ(keyof("*CQ_MAXBITRATE 4"), "*CQ_MAXBITRATE");
  EXPECT_EQ(keyof("*CQ=4"), "*CQ");
  EXPECT_EQ(keyof("*CQ_SOMETHING 4"), "*CQ");
  EXPECT_EQ(keyof("*INTERLACED"), "*INTERLACED");
  EXPECT_EQ(keyof("*INTERMATRIX"), "*INTERMATRIX");
  EXPECT_EQ(keyof("*SILENT"), "");
  EXPECT_EQ(keyof(" *BITRATE 5000"), "");
  EXPECT_EQ(keyof("; *BITRATE"), "");
  EXPECT_EQ(inivaluecolumn("*BITRATE"), 10);
  EXPECT_EQ(inivaluecolumn("*CHAPTER"), 9);
  EXPECT_EQ(inivaluecolumn("*AUTOGOP"), 10);
}

// Each keyword key finds its words from its column up to its last start position, the list
// order deciding at each position.
TEST(inifile, keywordsattheirstartpositions) {
  const struct {
    const inikeyword& k;
    std::string line;
    int value;
  } rows[] = {
      {inimatrix, "*MATRIX MPEGSTD", 16},     {inimatrix, "*MATRIX KJLOW", 12},
      {inimatrix, "*MATRIX MPEG STANDARD", 1}, {inimatrix, "*MATRIX TGN", 4},
      {inimatrix, at(8 + 64, "KJ"), 2},       {inimatrix, at(8 + 65, "KJ"), -1},
      {iniaspect, "*ASPECT 2.21:1", 4},       {iniaspect, "*ASPECT 1:1", 1},
      {iniaspect, at(9 + 70, "1:1"), -1},     {iniaspect, at(9 + 69, "1:1"), -1},  // past column 79
      {inicpu, "*CPU SSSE3", 4},              {inicpu, "*CPU SSE4", 5},
      {inicpu, "*CPU P4", -1},                {iniprofile, "*PROFILE GOOD", 2},
      {iniprofile, at(10 + 65, "FAST"), 1},   {iniprofile, at(10 + 66, "FAST"), -1},
      {iniscan, "*SCANMETHOD ALTERNATE", 2},  {iniscan, "*SCANMETHOD ZIGZAG", 1},
  };
  for (const auto& r : rows) EXPECT_EQ(iniwordvalue(r.line, r.k), r.value) << r.line;
}

TEST(inifile, pathsuptofivehundredcharacters) {
  std::string p;
  EXPECT_TRUE(inipath("*INFILE   My Clip.AVS   ", 7, p));
  EXPECT_EQ(p, "My Clip.AVS");
  EXPECT_TRUE(inipath("*INFILE" + std::string(200, ' ') + "x.avs", 7, p));
  EXPECT_EQ(p, "x.avs");
  EXPECT_TRUE(inipath("*INFILE", 7, p));
  EXPECT_EQ(p, "");
  EXPECT_TRUE(inipath("*INFILE " + std::string(500, 'a') + "   ", 7, p));
  EXPECT_EQ(p.size(), 500u);
  EXPECT_FALSE(inipath("*INFILE " + std::string(501, 'a'), 7, p));
}
