// The chapter and zone tables: the sort, the adds and removes with their trims, the factors,
// and the lists as a settings file gives them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "common/matrices.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

namespace {
struct zone {
  int frame;
  float factor;
  bool operator==(const zone&) const = default;
};

std::vector<int> chapters() {
  return std::vector<int>(chaptertable.frames + 1, chaptertable.frames + 1 + chaptertable.count);
}
std::vector<zone> zones() {
  std::vector<zone> v;
  for (int i = 1; i <= zonetable.count; i++) v.push_back({zonetable.frames[i], zonetable.factors[i]});
  return v;
}
void setchaptertable(const std::vector<int>& frames) {
  clearchapters();
  for (int f : frames) chaptertable.frames[++chaptertable.count] = f;
}
void setzonetable(const std::vector<zone>& v) {
  clearzones();
  for (const zone& z : v) {
    zonetable.count++;
    zonetable.frames[zonetable.count] = z.frame;
    zonetable.factors[zonetable.count] = z.factor;
  }
}
// A zone added as the page adds one: the factor into the staging slot first.
bool addzone(int frame, float factor, int& removed) {
  zonetable.factors[zonetable.count + 1] = factor;
  return zoneset(frame, removed);
}
// Nothing beyond the count may be left behind.
void expectcleartail() {
  for (int i = chaptertable.count + 1; i <= std::min(chaptertable.count + 8, maxchapters); i++)
    EXPECT_EQ(chaptertable.frames[i], 0) << i;
  for (int i = zonetable.count + 1; i <= std::min(zonetable.count + 8, maxzones); i++)
    EXPECT_EQ(zonetable.frames[i], 0) << i;
}

class tables : public ::testing::Test {
 protected:
  void SetUp() override {
    guisettings = guisettingsrec{};
    clearchapters();
    clearzones();
  }
};
}  // namespace

TEST_F(tables, heapsortmatchesasortedcopy) {
  const unsigned seed = 20240528;
  std::mt19937 rng(seed);
  for (int count : {0, 1, 2, 3, 7, 64, 1000}) {
    std::vector<int> v((size_t)count + 1, -99);  // position 0 is not part of the table
    std::uniform_int_distribution<int> d(-50, 50);
    for (int i = 1; i <= count; i++) v[(size_t)i] = d(rng);
    std::vector<int> want = v;
    std::sort(want.begin() + 1, want.end());
    heapsortint(count, v.data());
    EXPECT_EQ(v, want) << "count " << count << ", seed " << seed;
  }
}

TEST_F(tables, chaptersaddsortedonceandremovebyposition) {
  int removed = -1;
  for (int f : {50, 10, 30}) EXPECT_TRUE(chapterset(f, removed));
  EXPECT_EQ(chapters(), (std::vector<int>{10, 30, 50}));
  EXPECT_EQ(removed, 0);
  EXPECT_TRUE(chapterset(30, removed));  // there already: unchanged
  EXPECT_EQ(chapters(), (std::vector<int>{10, 30, 50}));
  EXPECT_TRUE(chapterset(-2, removed));
  EXPECT_EQ(chapters(), (std::vector<int>{10, 50}));
  EXPECT_FALSE(chapterset(-3, removed));  // no third chapter
  EXPECT_EQ(chapters(), (std::vector<int>{10, 50}));
  expectcleartail();
  // Sort only: the order of a table filled from elsewhere, nothing trimmed or dropped.
  setchaptertable({300, 5, 120});
  guisettings.sourceframes = 100;
  EXPECT_TRUE(chapterset(0, removed, true));
  EXPECT_EQ(chapters(), (std::vector<int>{5, 120, 300}));
}

// A source of 100 frames has frames 0..99: the chapters from frame 100 on are dropped by the
// next add or remove, and counted. Without a source nothing is trimmed.
TEST_F(tables, chaptersbeyondthesourcearetrimmed) {
  int removed = -1;
  guisettings.sourceframes = 100;
  setchaptertable({40, 99, 100, 150, 300});
  EXPECT_TRUE(chapterset(20, removed));
  EXPECT_EQ(chapters(), (std::vector<int>{20, 40, 99}));
  EXPECT_EQ(removed, 3);
  setchaptertable({40, 99, 100, 150, 300});
  EXPECT_TRUE(chapterset(-1, removed));
  EXPECT_EQ(chapters(), (std::vector<int>{99}));
  EXPECT_EQ(removed, 3);
  expectcleartail();
  guisettings.sourceframes = 0;
  setchaptertable({40, 150});
  EXPECT_TRUE(chapterset(300, removed));
  EXPECT_EQ(chapters(), (std::vector<int>{40, 150, 300}));
  EXPECT_EQ(removed, 0);
}

TEST_F(tables, afulltablerefusesanewframe) {
  std::vector<int> all(maxchapters);
  for (int i = 0; i < maxchapters; i++) all[(size_t)i] = 2 * i;
  setchaptertable(all);
  int removed = -1;
  EXPECT_FALSE(chapterset(3, removed));
  EXPECT_EQ(chaptertable.count, maxchapters);
  EXPECT_EQ(chaptertable.frames[2], 2);
  EXPECT_TRUE(chapterset(4, removed));  // there already
  EXPECT_TRUE(chapterset(-1, removed));
  EXPECT_TRUE(chapterset(3, removed));
  EXPECT_EQ(chaptertable.count, maxchapters);
  EXPECT_EQ(chaptertable.frames[1], 2);
  EXPECT_EQ(chaptertable.frames[2], 3);

  std::vector<zone> z;
  for (int i = 0; i < maxzones; i++) z.push_back({10 * i, 1.0f});
  setzonetable(z);
  EXPECT_FALSE(addzone(5, 1.5f, removed));
  EXPECT_EQ(zonetable.count, maxzones);
  EXPECT_TRUE(addzone(10, 1.5f, removed));  // a new factor for a zone there already
  EXPECT_EQ(zonetable.factors[2], 1.5f);
  EXPECT_FALSE(zonefromlist(10 * maxzones, 1.0f));
  EXPECT_EQ(zonetable.count, maxzones);
  EXPECT_TRUE(zonefromlist(25, 0.5f));  // replaces every zone from frame 25 on
  EXPECT_EQ(zones(), (std::vector<zone>{{0, 1.0f}, {10, 1.5f}, {20, 1.0f}, {25, 0.5f}}));
  expectcleartail();
}

TEST_F(tables, zonesaddreplaceremoveandtrim) {
  int removed = -1;
  EXPECT_TRUE(addzone(30, 2.0f, removed));
  EXPECT_TRUE(addzone(10, 0.5f, removed));
  EXPECT_TRUE(addzone(20, 1.5f, removed));
  EXPECT_EQ(zones(), (std::vector<zone>{{10, 0.5f}, {20, 1.5f}, {30, 2.0f}}));
  EXPECT_TRUE(addzone(20, 1.2f, removed));  // the same frame: a new factor
  EXPECT_EQ(zones(), (std::vector<zone>{{10, 0.5f}, {20, 1.2f}, {30, 2.0f}}));
  EXPECT_TRUE(zoneset(-2, removed));
  EXPECT_EQ(zones(), (std::vector<zone>{{10, 0.5f}, {30, 2.0f}}));
  EXPECT_FALSE(zoneset(-3, removed));
  // The factors the encoder applies: 0.5..2.0, whatever the staging slot held.
  EXPECT_TRUE(addzone(40, 5.0f, removed));
  EXPECT_TRUE(addzone(50, 0.2f, removed));
  EXPECT_EQ(zones(), (std::vector<zone>{{10, 0.5f}, {30, 2.0f}, {40, 2.0f}, {50, 0.5f}}));
  guisettings.sourceframes = 40;
  EXPECT_TRUE(addzone(0, 1.0f, removed));
  EXPECT_EQ(zones(), (std::vector<zone>{{0, 1.0f}, {10, 0.5f}, {30, 2.0f}}));
  EXPECT_EQ(removed, 2);
  expectcleartail();
  // Sort only keeps each factor with its frame.
  setzonetable({{300, 1.5f}, {5, 0.6f}, {120, 1.9f}});
  EXPECT_TRUE(zoneset(0, removed, true));
  EXPECT_EQ(zones(), (std::vector<zone>{{5, 0.6f}, {120, 1.9f}, {300, 1.5f}}));
}

TEST_F(tables, atypedzonevaluegoestothenearesttenthinrange) {
  const struct {
    float typed, factor;
  } rows[] = {{7.0f, 2.0f},  {0.04f, 0.5f}, {1.25f, 1.3f}, {1.24f, 1.2f}, {0.55f, 0.6f},
              {1.0f, 1.0f},  {1.96f, 2.0f}, {2.04f, 2.0f}, {0.46f, 0.5f}, {-3.0f, 0.5f},
              {1e30f, 2.0f}, {NAN, 0.5f}};
  for (const auto& r : rows) EXPECT_EQ(zonefactor(r.typed), r.factor) << r.typed;
}

// Chapter frames of a settings file: sorted, negatives and repeats dropped, and a frame past
// the encoder's table taken as its last frame, as the encoder marks it.
TEST_F(tables, chaptersfromalistareasthencoderreadsthem) {
  EXPECT_EQ(setchapters({300, -5, 10, 10, 700000, 0, 639999}), 3);
  EXPECT_EQ(chapters(), (std::vector<int>{0, 10, 300, 639999}));
  setchaptertable({1, 2, 3, 4, 5});
  EXPECT_EQ(setchapters({}), 0);
  EXPECT_EQ(chaptertable.count, 0);
  expectcleartail();
}

// Zones of a settings file in file order: each sets the factor from its frame to the end, so
// a later zone replaces the zones at or after its frame.
TEST_F(tables, zonesfromalistareasthencoderappliesthem) {
  const struct {
    std::vector<zone> file, table;
  } rows[] = {
      {{{100, 1.5f}, {50, 0.8f}}, {{50, 0.8f}}},
      {{{10, 0.5f}, {20, 1.5f}, {30, 1.8f}}, {{10, 0.5f}, {20, 1.5f}, {30, 1.8f}}},
      {{{10, 0.5f}, {20, 1.5f}, {20, 3.0f}}, {{10, 0.5f}, {20, 2.0f}}},
      {{{-5, 1.0f}, {700000, 3.0f}}, {{0, 1.0f}, {639999, 2.0f}}},
      {{{10, 0.5f}, {30, 1.5f}, {20, 0.1f}, {40, 1.1f}}, {{10, 0.5f}, {20, 0.5f}, {40, 1.1f}}},
  };
  for (const auto& r : rows) {
    clearzones();
    for (const zone& z : r.file) EXPECT_TRUE(zonefromlist(z.frame, z.factor));
    EXPECT_EQ(zones(), r.table);
    expectcleartail();
  }
}

// The Matrix page's sixteen pairs are the encoder's pairs of the same names (KJLOW too, where
// the two programs' tables once differed); the page numbers them its own way.
TEST(matrixtables, thepagespairsaretheencoders) {
  const char* const names[] = {"MPEG",    "TGN",     "NOTCH",   "KJ",    "TOLV1", "MIRDO1CD",
                               "HVSGOOD", "HVSBETTER", "HVSBEST", "ZELMAT6", "ZELMAT7", "KJLOW",
                               "KIV1",    "KIV2",    "KIV3",    "MPEG STANDARD"};
  for (int i = 1; i <= 16; i++) {
    EXPECT_STREQ(guimatrixname(i), names[i - 1]);
    std::string encodername = matrixname(encodermatrix(i));
    EXPECT_EQ(encodername, i == 16 ? "MPEGSTD" : names[i - 1]) << i;
    EXPECT_EQ(guimatrix(i), builtinmatrix(encodermatrix(i))) << i;
    EXPECT_EQ(guimatrixindex(encodermatrix(i)), i);
  }
  EXPECT_EQ(guimatrix(12)->nonintra[3], 17);  // the encoder's KJLOW: 16 16 16 17 18 19 20 24
  EXPECT_EQ(guimatrix(0), nullptr);
  EXPECT_EQ(guimatrix(custommatrixindex), nullptr);
  EXPECT_STREQ(guimatrixname(99), "");
  EXPECT_EQ(guimatrixindex(0), 1);

  matrixpairrec start = initialcustommatrix();
  for (int i = 0; i < 64; i++) {
    EXPECT_EQ(start.intra[i], builtinmatrix(1)->intra[i]);
    EXPECT_EQ(start.nonintra[i], 16);
  }
  custommatrix = start;
  custommatrix.intra[0] = 99, custommatrix.intra[5] = 0, custommatrix.nonintra[7] = 256;
  clampcustommatrix();
  EXPECT_EQ(custommatrix.intra[0], 8);
  EXPECT_EQ(custommatrix.intra[5], 1);
  EXPECT_EQ(custommatrix.nonintra[7], 255);
  custommatrix = start;
}
