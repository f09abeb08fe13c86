// The code tables, the block and macroblock writers, their bit counters, the motion vector
// coding with its error, and the picture slot's bit buffer room.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "encoder/coding/bitio.h"
#include "encoder/coding/codingerror.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/scantables.h"
#include "encoder/coding/vlc.h"
#include "encoder/coding/vlctables.h"

namespace {

unsigned testseed() {
  const char* s = std::getenv("OSTREL_SEED");
  return s ? unsigned(std::strtoul(s, nullptr, 10)) : 20261210u;
}

std::string bitstring(vlccode c) {
  std::string s;
  for (int i = c.length - 1; i >= 0; --i) s += ((c.code >> i) & 1) ? '1' : '0';
  return s;
}

// True when no code of the set is a prefix of another (and none is empty or duplicated).
bool prefixfree(const std::vector<vlccode>& codes, std::string* why) {
  for (size_t i = 0; i < codes.size(); ++i)
    for (size_t j = 0; j < codes.size(); ++j) {
      if (i == j) continue;
      std::string a = bitstring(codes[i]), b = bitstring(codes[j]);
      if (b.compare(0, a.size(), a) == 0) {
        *why = a + " is a prefix of " + b;
        return false;
      }
    }
  return true;
}

template <size_t N>
std::vector<vlccode> defined(const vlccode (&t)[N]) {
  std::vector<vlccode> v;
  for (auto c : t)
    if (c.length) v.push_back(c);
  return v;
}

std::vector<vlccode> acset(const vlccode (&t)[32][41], vlccode eob) {
  std::vector<vlccode> v{eob, dctescape};
  for (auto& row : t)
    for (auto c : row)
      if (c.length) v.push_back(c);
  return v;
}

double kraft(const std::vector<vlccode>& v) {
  double s = 0;
  for (auto c : v) s += 1.0 / double(1u << c.length);
  return s;
}

TEST(vlctables, prefixfreeandcomplete) {
  struct tablecase {
    const char* name;
    std::vector<vlccode> codes;
    size_t symbols;
    double kraftsum;  // 1 for a full code tree; less where the standard leaves codes unused
  };
  auto b1 = defined(tableb1);
  b1.push_back(macroblockescape);
  std::vector<tablecase> cases = {
      {"B.1", b1, 34, kraft(b1)},
      {"B.2", defined(tableb2), 2, 0.75},
      {"B.3", defined(tableb3), 7, 1.0 - 1.0 / 64},
      {"B.4", defined(tableb4), 11, 1.0 - 1.0 / 64},
      {"B.9", defined(tableb9), 63, 1.0 - 2.0 / 512},
      {"B.10", defined(tableb10), 17, 0},
      {"B.12", defined(tableb12), 12, 1.0},
      {"B.13", defined(tableb13), 12, 1.0},
      {"B.14", acset(tableb14, b14endofblock), 113, 0},
      {"B.15", acset(tableb15, b15endofblock), 113, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string why;
    EXPECT_TRUE(prefixfree(c.codes, &why)) << why;
    EXPECT_EQ(c.codes.size(), c.symbols);
    EXPECT_LE(kraft(c.codes), 1.0);
    if (c.kraftsum > 0) {
      EXPECT_DOUBLE_EQ(kraft(c.codes), c.kraftsum);
    }
  }
  // Table B.1 with its escape leaves unused exactly the words under 0000 0000, under
  // 0000 0010, and 0000 0001 001 to 0000 0001 111.
  EXPECT_DOUBLE_EQ(kraft(b1), 1.0 - 2.0 / 256 - 7.0 / 2048);
  // Motion codes with their sign bit leave unused only the words under 0000 000 and 0000 0010.
  double mv = 1.0 / 2;
  for (int m = 1; m <= 16; ++m) mv += 2.0 / double(1u << (tableb10[m].length + 1));
  EXPECT_DOUBLE_EQ(mv, 1.0 - 1.0 / 128 - 1.0 / 256);
}

TEST(vlctables, entriesofthestandard) {
  // A row of every table, as ISO/IEC 13818-2 prints it.
  struct { const char* name; vlccode c; const char* want; } rows[] = {
      {"B.1 1", tableb1[1], "1"},
      {"B.1 33", tableb1[33], "00000011000"},
      {"B.1 escape", macroblockescape, "00000001000"},
      {"B.2 intra", tableb2[mbintra], "1"},
      {"B.2 intra quant", tableb2[mbintra | mbquant], "01"},
      {"B.3 MC coded", tableb3[mbforward | mbpattern], "1"},
      {"B.3 intra quant", tableb3[mbintra | mbquant], "000001"},
      {"B.4 interp coded", tableb4[mbforward | mbbackward | mbpattern], "11"},
      {"B.4 bwd coded quant", tableb4[mbbackward | mbpattern | mbquant], "000010"},
      {"B.9 60", tableb9[60], "111"},
      {"B.9 39", tableb9[39], "000000010"},
      {"B.10 0", tableb10[0], "1"},
      {"B.10 16", tableb10[16], "0000001100"},
      {"B.12 0", tableb12[0], "100"},
      {"B.12 11", tableb12[11], "111111111"},
      {"B.13 0", tableb13[0], "00"},
      {"B.13 11", tableb13[11], "1111111111"},
      {"B.14 0/1", tableb14[0][1], "11"},
      {"B.14 0/40", tableb14[0][40], "000000000010000"},
      {"B.14 1/18", tableb14[1][18], "0000000000010000"},
      {"B.14 31/1", tableb14[31][1], "0000000000011011"},
      {"B.14 eob", b14endofblock, "10"},
      {"B.15 0/1", tableb15[0][1], "10"},
      {"B.15 0/15", tableb15[0][15], "11111111"},
      {"B.15 5/2", tableb15[5][2], "000000100"},
      {"B.15 eob", b15endofblock, "0110"},
      {"escape", dctescape, "000001"},
  };
  for (auto& r : rows) EXPECT_EQ(bitstring(r.c), r.want) << r.name;
  // Symbols the standard does not define have no code.
  EXPECT_EQ(tableb9[0].length, 0);
  EXPECT_EQ(tableb14[1][19].length, 0);
  EXPECT_EQ(tableb14[2][6].length, 0);
  EXPECT_EQ(tableb14[17][2].length, 0);
  EXPECT_EQ(tableb3[mbbackward].length, 0);
}

// ---- writers ----

class vlcslot : public ::testing::Test {
 protected:
  static constexpr int s = 1;
  void SetUp() override {
    clearcodingerror();
    settings.altscan = false;
    settings.writestats = false;
    ASSERT_TRUE(startslotpicture(s));
    picslot& sl = picslots[s];
    sl.intravlc = 0;
    std::fill(std::begin(sl.dcpred), std::end(sl.dcpred), 0);
    std::fill(std::begin(sl.pmv), std::end(sl.pmv), 0);
  }
  void TearDown() override { clearcodingerror(); }
  // The bits written so far as '0'/'1'.
  std::string written() const {
    const picslot& sl = picslots[s];
    bitcursor r;
    std::string out;
    int64_t n = bitposition(sl.streamcursor);
    for (int64_t i = 0; i < n; ++i) out += getbits(1, sl.streambits.data(), r) ? '1' : '0';
    return out;
  }
  static void setscan(int16_t lv[64], int scanpos, int v) {  // scan position 1..64
    lv[zigzagscan[scanpos - 1] - 1] = int16_t(v);
  }
};

TEST_F(vlcslot, intradc) {
  struct { int b, dc; std::string want; } rows[] = {
      {1, 0, "100" "10"},
      {5, 0, "00" "10"},
      {1, -1, "00" "0" "10"},
      {1, 1, "00" "1" "10"},
      {6, -5, "110" "010" "10"},
      {2, 255, "1111110" "11111111" "10"},
      {3, -2047, std::string("111111111") + "00000000000" + "10"},
  };
  for (auto& r : rows) {
    SetUp();
    int16_t lv[64] = {};
    lv[0] = int16_t(r.dc);
    int count = bitsintrablk(s, lv, r.b);
    picslots[s].dcpred[0] = picslots[s].dcpred[1] = picslots[s].dcpred[2] = 0;
    putintrablk(s, lv, r.b);
    EXPECT_EQ(written(), r.want) << "block " << r.b << " dc " << r.dc;
    EXPECT_EQ(count, int(r.want.size()));
    int comp = r.b <= 4 ? 0 : r.b - 4;
    EXPECT_EQ(picslots[s].dcpred[comp], r.dc);
  }
}

TEST_F(vlcslot, firstcoefficientrule) {
  int16_t lv[64] = {};
  setscan(lv, 1, 1);
  putinterblk(s, lv);
  EXPECT_EQ(written(), "10" "10");
  EXPECT_EQ(bitsinterblk(s, lv), 4);
  SetUp();
  setscan(lv, 1, -1);
  putinterblk(s, lv);
  EXPECT_EQ(written(), "11" "10");
  // Not at scan position 1, or not of magnitude 1: the table code.
  SetUp();
  int16_t l2[64] = {};
  setscan(l2, 2, 1);
  putinterblk(s, l2);
  EXPECT_EQ(written(), "011" "0" "10");  // run 1 level 1, sign, end of block
  SetUp();
  int16_t l3[64] = {};
  setscan(l3, 1, 2);
  setscan(l3, 2, 1);
  putinterblk(s, l3);
  EXPECT_EQ(written(), "0100" "0" "11" "0" "10");  // the second +1 uses its table code 11
  // In an intra block the first AC coefficient uses the table: DC 100, 11 s, end of block.
  SetUp();
  int16_t l4[64] = {};
  setscan(l4, 2, 1);
  putintrablk(s, l4, 1);
  EXPECT_EQ(written(), "100" "11" "0" "10");
}

TEST_F(vlcslot, escapes) {
  struct { int run, level; bool escaped; } cases[] = {
      {0, 40, false}, {0, 41, true}, {1, 18, false}, {1, 19, true}, {2, 5, false},
      {2, 6, true},   {31, 1, false}, {32, 1, true}, {40, -3, true}, {0, -41, true},
      {0, 2047, true}, {5, -2047, true}};
  for (auto c : cases) {
    SetUp();
    int16_t lv[64] = {};
    setscan(lv, 1 + c.run, c.level);  // non-intra: run c.run from scan position 1
    putinterblk(s, lv);
    std::string w = written();
    int expect = c.escaped ? 24 + 2 : tableb14[c.run][std::abs(c.level)].length + 1 + 2;
    EXPECT_EQ(int(w.size()), expect) << "run " << c.run << " level " << c.level;
    EXPECT_EQ(bitsinterblk(s, lv), expect);
    if (c.escaped) {
      std::string want = "000001";
      for (int i = 5; i >= 0; --i) want += ((c.run >> i) & 1) ? '1' : '0';
      for (int i = 11; i >= 0; --i) want += ((unsigned(c.level) >> i) & 1) ? '1' : '0';
      EXPECT_EQ(w, want + "10") << "run " << c.run << " level " << c.level;
    }
  }
  // Intra blocks escape the same pairs (table B.14 and B.15 alike).
  for (int vlc = 0; vlc < 2; ++vlc) {
    SetUp();
    picslots[s].intravlc = vlc;
    int16_t lv[64] = {};
    setscan(lv, 2, 41);
    EXPECT_EQ(bitsintrablk(s, lv, 1), 3 + 24 + (vlc ? 4 : 2));
    EXPECT_EQ(bitsintraac(s, lv), 4 + 24 + (vlc ? 4 : 2));
  }
}

TEST_F(vlcslot, addressincrement) {
  struct { int n; std::string want; } cases[] = {
      {1, "1"},
      {33, "00000011000"},
      {34, "00000001000" "1"},
      {67, "00000001000" "00000001000" "1"},
      {40, "00000001000" "0001" "0"},
  };
  for (auto& c : cases) {
    SetUp();
    putmbainc(s, c.n);
    EXPECT_EQ(written(), c.want) << c.n;
  }
}

// Every writer against its counter on many random blocks of every kind: the counter equals the
// written bits, and the writer and counter move the DC predictors alike.
TEST_F(vlcslot, countersmatchwriters) {
  unsigned seed = testseed();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int round = 0; round < 6000; ++round) {
    SetUp();
    settings.altscan = (round & 1) != 0;
    picslots[s].intravlc = (round >> 1) & 1;
    int16_t lv[64] = {};
    int density = int(rng() % 64) + 1;
    int maxlevel = (round % 5 == 0) ? 2047 : (round % 5 == 1) ? 60 : 4;
    for (int i = 0; i < 64; ++i)
      if (int(rng() % 64) < density) lv[i] = int16_t(int(rng() % (2 * maxlevel + 1)) - maxlevel);
    if (round % 7 == 0) {  // long runs
      std::fill(std::begin(lv), std::end(lv), 0);
      lv[zigzagscan[rng() % 64] - 1] = int16_t(int(rng() % 81) - 40);
      lv[63] = 1;
    }
    int b = int(rng() % 6) + 1;
    picslot& sl = picslots[s];
    int pred0 = int(rng() % 511) - 255;
    sl.dcpred[0] = sl.dcpred[1] = sl.dcpred[2] = pred0;
    int counted = bitsintrablk(s, lv, b);
    int after[3] = {sl.dcpred[0], sl.dcpred[1], sl.dcpred[2]};
    sl.dcpred[0] = sl.dcpred[1] = sl.dcpred[2] = pred0;
    int64_t before = bitposition(sl.streamcursor);
    putintrablk(s, lv, b);
    ASSERT_EQ(bitposition(sl.streamcursor) - before, counted) << "intra round " << round;
    for (int k = 0; k < 3; ++k) ASSERT_EQ(sl.dcpred[k], after[k]);
    // bitsintraac: the same AC and end of block with a fixed 4 bits for the DC.
    sl.dcpred[0] = sl.dcpred[1] = sl.dcpred[2] = pred0;
    int dcsize = bitlength(std::clamp(lv[0] - pred0, -2047, 2047));
    int dclen = (b <= 4 ? tableb12 : tableb13)[dcsize].length;
    ASSERT_EQ(bitsintraac(s, lv), counted - dclen - dcsize + 4);
    ASSERT_EQ(sl.dcpred[0], pred0);
    before = bitposition(sl.streamcursor);
    int ic = bitsinterblk(s, lv);
    ASSERT_EQ(bitsinterblk2(s, lv), ic);
    putinterblk(s, lv);
    ASSERT_EQ(bitposition(sl.streamcursor) - before, ic) << "inter round " << round;
  }
}

TEST_F(vlcslot, motionvectors) {
  struct { int fcode, v; std::string want; } cases[] = {
      {1, 0, "1"},
      {1, 1, "01" "0"},
      {1, -1, "01" "1"},
      {1, 15, "0000001101" "0"},
      {1, -16, "0000001100" "1"},
      {1, 16, "0000001100" "1"},        // wraps to -16
      {1, -17, "0000001101" "0"},       // wraps to 15
      {2, 5, "0001" "0" "0"},           // motion_code 3, residual 0
      {2, -6, "0001" "1" "1"},          // motion_code -3, residual 1
      {3, 0, "1"},                      // no residual for motion_code 0
      {3, 63, "0000001100" "0" "10"},   // 16, residual 2
  };
  for (auto& c : cases) {
    SetUp();
    putmv1(s, c.fcode, c.v);
    EXPECT_EQ(written(), c.want) << "f_code " << c.fcode << " v " << c.v;
    EXPECT_FALSE(codingfailed());
  }
}

std::string hooktext;
void testhook(const char* text) { hooktext = text; }

TEST_F(vlcslot, impossiblevectorendstherun) {
  hooktext.clear();
  setcodingerrorhook(testhook);
  putmv1(s, 1, 50);  // 18 after one wrap: outside -16..15
  EXPECT_TRUE(codingfailed());
  EXPECT_EQ(hooktext, "*** INTERNAL ERROR ***  | routine putmv1 - invalid motion vector");
  EXPECT_EQ(written(), "0000001101" "0");  // the nearest valid difference, 15: a defined code
  clearcodingerror();
  hooktext.clear();
  picslot& sl = picslots[s];
  putmv2(s, 2, -200);
  EXPECT_EQ(hooktext, "*** INTERNAL ERROR ***  | routine putmv2 - invalid motion vector");
  EXPECT_EQ(bitposition(sl.statcursor), 10 + 1 + 1);  // motion_code 16, sign, residual
  setcodingerrorhook(nullptr);
}

TEST_F(vlcslot, putmvsusesflagsandpredictors) {
  picslot& sl = picslots[s];
  settings.writestats = true;
  for (int k = 0; k < 8; ++k) sl.fcodes[k] = 2;
  mbrecord& mb = sl.mbs[7];
  mb = mbrecord{};
  mb.mbdirflags[0] = -1;
  mb.mbdirflags[1] = -1;
  mb.halfmv[0] = 5; mb.halfmv[1] = -6; mb.halfmv[2] = 0; mb.halfmv[3] = 1;
  mb.statmv[0] = 4; mb.statmv[1] = 4; mb.statmv[2] = 4; mb.statmv[3] = 4;
  putmvs(s, 7);
  EXPECT_EQ(written(), std::string("0001" "0" "0") + "0001" "1" "1" + "1" + "01" "0" "0");
  EXPECT_EQ(sl.pmv[0], 5);
  EXPECT_EQ(sl.pmv[1], -6);
  EXPECT_EQ(sl.pmv[3], 1);
  EXPECT_EQ(sl.statpmv[2], 4);
  EXPECT_GT(bitposition(sl.statcursor), 0);
  // Forward only: the backward predictors stay.
  SetUp();
  settings.writestats = false;
  sl.pmv[2] = 9;
  mb.mbdirflags[1] = 0;
  putmvs(s, 7);
  EXPECT_EQ(sl.pmv[2], 9);
  EXPECT_EQ(bitposition(sl.statcursor), 0);
  settings.writestats = false;
}

// A 1920x1088 picture of noise at the finest quantiser needs far more than the starting 2 MB:
// the buffer grows before each macroblock and every bit arrives.
TEST_F(vlcslot, largepicturegrows) {
  std::mt19937 rng(testseed());
  picslot& sl = picslots[s];
  int64_t counted = 0;
  int16_t lv[64];
  for (int m = 0; m < 8160; ++m) {
    ASSERT_TRUE(slotroom(s));
    putmbainc(s, 1);
    counted += 1;
    for (int b = 1; b <= 6; ++b) {
      for (auto& v : lv) v = int16_t(int(rng() % 4001) - 2000);
      int dc[3] = {sl.dcpred[0], sl.dcpred[1], sl.dcpred[2]};
      counted += bitsintrablk(s, lv, b);
      std::copy(std::begin(dc), std::end(dc), sl.dcpred);
      putintrablk(s, lv, b);
    }
  }
  EXPECT_EQ(bitposition(sl.streamcursor), counted);
  EXPECT_GT(sl.streamcursor.bytepos, 2 * 2097152);
  EXPECT_GE(sl.streambits.capacity, sl.streamcursor.bytepos + mbstreamworst);
  EXPECT_FALSE(codingfailed());
  // A reused slot starts at byte 0 with both cursors clear.
  ASSERT_TRUE(startslotpicture(s));
  EXPECT_EQ(sl.streamcursor.bytepos, 0);
  EXPECT_EQ(sl.statcursor.bytepos, 0);
}

TEST_F(vlcslot, nomoreroomisacodingerror) {
  picslot& sl = picslots[s];
  int32_t keep = streambitslimit;
  streambitslimit = sl.streambits.capacity;  // cannot grow any more
  hooktext.clear();
  setcodingerrorhook(testhook);
  sl.streamcursor.bytepos = sl.streambits.capacity - 100;
  EXPECT_FALSE(slotroom(s));
  EXPECT_TRUE(codingfailed());
  EXPECT_EQ(hooktext, " *** ERROR, not enough memory for the bits of a picture, aborting...");
  EXPECT_EQ(sl.streamcursor.bytepos, 0);  // later writes stay inside the buffer
  setcodingerrorhook(nullptr);
  streambitslimit = keep;
}

}  // namespace
