// The statistics stream between the passes: GOP units through the writer and back through the
// double-buffer reader, the record layout, the refill point, the vector decoding, and the
// failure paths of writes, reads and damaged records.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "encoder/coding/bitio.h"
#include "encoder/coding/codingerror.h"
#include "encoder/coding/goppattern.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/statstream.h"
#include "encoder/coding/vlc.h"
#include "encoder/coding/vlctables.h"
#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "platform/clock.h"
#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {

unsigned testseed() {
  const char* s = std::getenv("OSTREL_SEED");
  return s ? unsigned(std::strtoul(s, nullptr, 10)) : 20261210u;
}

// What the first pass decided for one picture, as the reader must give it back.
struct mbexpect {
  uint8_t mbtype;
  int8_t blockclass, intraflag, skipflag;
  int8_t dir[3];
  int16_t statmv[4];
};
struct picexpect {
  int slot = 0, type = 0;
  int32_t mecostflag = 0;
  int32_t fcodes[8] = {};
  std::vector<mbexpect> mbs;  // 1..mbcount at index m - 1
};
struct gopexpect {
  gopstatrecord rec;
  std::vector<picexpect> pics;  // coding order
};

class statstream : public ::testing::Test {
 protected:
  std::string dbs, log;
  std::mt19937 rng{testseed()};

  void SetUp() override {
    setclockscale(0);
    std::printf("seed %u (OSTREL_SEED)\n", testseed());
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    dbs = testing::TempDir() + "/stats-" + std::to_string(getpid()) + "-" + name + ".dbs";
    log = dbs + ".log";
    fs::remove(dbs);
    fs::remove(log);
    ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
    ASSERT_TRUE(unitopen(unitlog, log, unitappend));
    settings.logfileon = true;
    settings.writestats = true;
    settings.pulldown = false;
    settings.adaptivematrix = false;
    settings.lumgain = 0;
    picturesize(176, 128);
    resetcontrol();
    showwindow = true;
    clearcodingerror();
    dbswriterstart();
  }
  void TearDown() override {
    unitclose(unitstats);
    unitclose(unitlog);
    fs::remove(dbs);
    fs::remove(log);
    resetcontrol();
    settings.writestats = false;
    settings.logfileon = false;
    EXPECT_FALSE(codingfailed()) << codingerrortext();
  }
  static void resetcontrol() {
    errorflag = false;
    abortlatched = false;
    nextstep = 0;
    runstate = 0;
  }
  static void picturesize(int w, int h) {
    settings.width = w;
    settings.height = h;
    settings.mbcols = w / 16;
    settings.mbrows = h / 16;
    settings.mbcount = settings.mbcols * settings.mbrows;
    settings.searchxmax = w - 16;
    settings.searchymax = h - 16;
  }
  int rnd(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }

  // The half-pel vector range that keeps the block at pos inside size, within the f_code's.
  static bool inside(int pos, int v, int size) {
    int lo = pos + (v >> 1);
    return lo >= 0 && lo + 16 + (v & 1) <= size;
  }
  int16_t vector(int pos, int size, int fcode) {
    int f = 1 << (fcode - 1);
    int lo = std::max(-16 * f, -2 * pos), hi = std::min(16 * f - 1, 2 * (size - 16 - pos));
    int pick = rnd(0, 9);
    int v = pick == 0 ? lo : pick == 1 ? hi : pick == 2 ? 0 : rnd(lo, hi);
    return int16_t(v);
  }

  // The statistics bits a picture coder writes for one picture (its header, and per macroblock
  // the flags, the macroblock_type code and the vectors through putmvs), with random decisions
  // that keep the coders' rules: slices at every row, no skip at a row start, a skipped P
  // macroblock without vector, a skipped B one predicted like the one before it.
  picexpect codepicture(int s, int type) {
    picexpect e;
    e.slot = s;
    e.type = type;
    EXPECT_TRUE(startslotpicture(s));
    picslot& sl = picslots[s];
    sl.pictype = type;
    e.mecostflag = type == 1 ? 0 : (rnd(0, 3) == 0 ? -1 : 0);
    sl.mecostflag = e.mecostflag;
    for (int i = 0; i < 8; ++i) sl.fcodes[i] = rnd(1, 9);
    if (type == 2)
      for (int i : {2, 3, 6, 7}) sl.fcodes[i] = 15;
    if (rnd(0, 3) == 0)
      for (int i = 4; i < 8; ++i) sl.fcodes[i] = type == 2 && (i == 6 || i == 7) ? 15 : 1;
    std::copy(std::begin(sl.fcodes), std::end(sl.fcodes), e.fcodes);
    uint8_t* buf = sl.statbits.data();
    putbits(0x00000101, 32, buf, sl.statcursor);       // marker
    putbits(uint32_t(rng()), 32, buf, sl.statcursor);  // luma sum
    putbits(uint32_t(type), 4, buf, sl.statcursor);
    putbits(uint32_t(sl.mecostflag) & 15, 4, buf, sl.statcursor);
    if (type == 2) {
      for (int i : {0, 1, 4, 5}) putbits(uint32_t(sl.fcodes[i]), 4, buf, sl.statcursor);
    } else if (type == 3) {
      for (int i = 0; i < 8; ++i) putbits(uint32_t(sl.fcodes[i]), 4, buf, sl.statcursor);
    }
    if (type != 1) {
      int x = 0, y = 0;
      for (int m = 1; m <= settings.mbcount; ++m) {
        if (!slotroom(s)) {
          ADD_FAILURE() << "no room in slot " << s;
          return e;
        }
        buf = sl.statbits.data();
        if (x == 0) slotslicestart(s);
        mbrecord& mb = sl.mbs[m];
        mb = mbrecord{};
        randommb(sl, m, x, y, type == 3);
        bool skip = mb.skipflag != 0;
        putbits(skip ? 1 : 0, 1, buf, sl.statcursor);                 // skipflag
        putbits(mb.mbdirflags[0] ? 1 : 0, 1, buf, sl.statcursor);      // forward
        if (type == 3) putbits(mb.mbdirflags[1] ? 1 : 0, 1, buf, sl.statcursor);  // backward
        putbits(uint32_t(mb.blockclass), 2, buf, sl.statcursor);       // blockclass
        putbits(mb.intraflag ? 1 : 0, 1, buf, sl.statcursor);         // intraflag
        if (!skip) {
          vlccode c = type == 3 ? tableb4[mb.mbtype] : tableb3[mb.mbtype];
          EXPECT_NE(c.length, 0) << int(mb.mbtype);
          putbits(c.code, c.length, buf, sl.statcursor);  // macroblock_type
          if (mb.mbtype & (mbforward | mbbackward)) putmvs(s, m);
          bool reset = (mb.mbtype & mbintra) || (type == 2 && !(mb.mbtype & mbforward));
          if (reset) std::fill(std::begin(sl.statpmv), std::end(sl.statpmv), 0);
          if (reset) std::fill(std::begin(sl.pmv), std::end(sl.pmv), 0);
        } else if (type == 2) {
          std::fill(std::begin(sl.statpmv), std::end(sl.statpmv), 0);
          std::fill(std::begin(sl.pmv), std::end(sl.pmv), 0);
        }
        mbexpect me{mb.mbtype, mb.blockclass, mb.intraflag, mb.skipflag,
                    {mb.mbdirflags[0], mb.mbdirflags[1], mb.mbdirflags[2]},
                    {mb.statmv[0], mb.statmv[1], mb.statmv[2], mb.statmv[3]}};
        if (skip && type == 3)
          me.mbtype = uint8_t((mb.mbdirflags[0] ? mbforward : 0) | (mb.mbdirflags[1] ? mbbackward : 0));
        e.mbs.push_back(me);
        x += 16;
        if (x == settings.width) {
          x = 0;
          y += 16;
        }
      }
    }
    alignbits(sl.statbits.data(), sl.statcursor);
    return e;
  }
  void randommb(picslot& sl, int m, int x, int y, bool bpic) {
    mbrecord& mb = sl.mbs[m];
    mb.intraflag = rnd(0, 1) ? -1 : 0;
    const mbrecord& prev = sl.mbs[m - 1];
    auto vec = [&](int d) {
      mb.statmv[2 * d] = vector(x, settings.width, sl.fcodes[4 + 2 * d]);
      mb.statmv[2 * d + 1] = vector(y, settings.height, sl.fcodes[5 + 2 * d]);
    };
    int kind = rnd(0, 9);
    if (!bpic) {
      if (kind == 0 || sl.mecostflag) {  // intra
        mb.mbtype = mbintra;
        mb.blockclass = 1;
      } else if (kind == 1) {  // no MC, coded
        mb.mbtype = mbpattern;
        mb.blockclass = 2;
      } else if (kind <= 3 && x != 0) {  // skipped
        mb.skipflag = -1;
        mb.blockclass = 3;
      } else {  // MC, coded or not
        mb.mbdirflags[0] = -1;
        vec(0);
        mb.blockclass = kind <= 6 ? 2 : 3;
        mb.mbtype = uint8_t(mbforward | (mb.blockclass == 2 ? mbpattern : 0));
      }
      return;
    }
    bool prevok = x != 0 && !(prev.mbtype & mbintra) && (prev.mbdirflags[0] || prev.mbdirflags[1]);
    for (int d = 0; d < 2 && prevok; ++d)
      prevok = inside(x, prev.statmv[2 * d], settings.width) && inside(y, prev.statmv[2 * d + 1], settings.height);
    if (kind == 0 || sl.mecostflag) {
      mb.mbtype = mbintra;
      mb.blockclass = 1;
    } else if (kind <= 3 && prevok) {
      mb.skipflag = -1;
      mb.blockclass = 3;
      for (int i = 0; i < 3; ++i) mb.mbdirflags[i] = prev.mbdirflags[i];
      std::copy(std::begin(prev.statmv), std::end(prev.statmv), std::begin(mb.statmv));
    } else {
      int dirs = rnd(1, 3);  // 1 forward, 2 backward, 3 interpolated
      mb.mbdirflags[0] = (dirs & 1) ? -1 : 0;
      mb.mbdirflags[1] = (dirs & 2) ? -1 : 0;
      mb.mbdirflags[2] = dirs == 3 ? -1 : 0;
      if (dirs & 1) vec(0);
      if (dirs & 2) vec(1);
      mb.blockclass = kind <= 6 ? 2 : 3;
      mb.mbtype = uint8_t(((dirs & 1) ? mbforward : 0) | ((dirs & 2) ? mbbackward : 0) |
                          (mb.blockclass == 2 ? mbpattern : 0));
    }
  }

  // One GOP as the first pass leaves it: the pattern, the GOP record, the pictures, writedbs.
  gopexpect codegop(int n, int b, int closed, int gopclass) {
    gopexpect g;
    goppattern(b, n, closed, goporder, goptypes, goptrefs);
    if (settings.pulldown) pulldownflags(n);
    if (settings.adaptivematrix || settings.lumgain > 0)
      for (int i = 0; i < 64; ++i) {
        quantmatrices.intra[i] = int16_t(i == 0 ? 8 : rnd(8, 255));
        quantmatrices.nonintra[i] = int16_t(rnd(8, 255));
      }
    fillgopstats(g.rec, n, b, closed, gopclass);
    for (int k = 1; k <= n; ++k)
      for (int r = 0; r < settings.mbrows; ++r)
        g.rec.rowactivity[k][r] = rnd(0, 3) == 0 ? 0x7FFFFFFF - rnd(0, 9) : rnd(0, 7800000);
    putgopstats(g.rec);
    for (int k = 1; k <= n; ++k) {
      int j = goporder[k];
      g.pics.push_back(codepicture(goptrefs[j] + 1, goptypes[j]));
    }
    EXPECT_TRUE(writedbs(n, goporder, goptrefs, false));
    return g;
  }

  // Every field of the record and of the slots the reader filled, against the first pass's.
  void checkgop(const gopexpect& want, const gopstatrecord& got, const std::string& where) {
    const gopstatrecord& w = want.rec;
    ASSERT_EQ(got.n, w.n) << where;
    EXPECT_EQ(got.b, w.b) << where;
    EXPECT_EQ(got.closed, w.closed) << where;
    for (int k = 1; k <= w.n; ++k) {
      EXPECT_EQ(got.order[k], w.order[k]) << where << " k " << k;
      EXPECT_EQ(got.types[k], w.types[k]) << where << " k " << k;
      EXPECT_EQ(got.trefs[k], w.trefs[k]) << where << " k " << k;
      for (int r = 0; r < settings.mbrows; ++r)
        ASSERT_EQ(got.rowactivity[k][r], w.rowactivity[k][r]) << where << " k " << k << " row " << r;
    }
    if (settings.pulldown) {
      for (int t = 0; t < w.n; ++t) EXPECT_EQ(got.pulldownflags[t], w.pulldownflags[t]) << where;
      EXPECT_EQ(got.fieldcount, w.fieldcount) << where;
    }
    EXPECT_EQ(got.gopclass, w.gopclass) << where;
    if (settings.adaptivematrix || settings.lumgain > 0)
      for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(got.intra[i], w.intra[i]) << where << " intra " << i;
        EXPECT_EQ(got.nonintra[i], w.nonintra[i]) << where << " non-intra " << i;
      }
    for (const picexpect& p : want.pics) {
      const picslot& sl = picslots[p.slot];
      std::string at = where + " slot " + std::to_string(p.slot);
      ASSERT_EQ(sl.pictype, p.type) << at;
      if (p.type == 1) continue;
      EXPECT_EQ(sl.mecostflag, p.mecostflag) << at;
      for (int i = 0; i < 8; ++i) EXPECT_EQ(sl.fcodes[i], p.fcodes[i]) << at << " f_code " << i;
      for (int m = 1; m <= settings.mbcount; ++m) {
        const mbrecord& mb = sl.mbs[m];
        const mbexpect& e = p.mbs[size_t(m - 1)];
        std::string mat = at + " macroblock " + std::to_string(m);
        ASSERT_EQ(mb.mbtype, e.mbtype) << mat;
        ASSERT_EQ(mb.blockclass, e.blockclass) << mat;
        ASSERT_EQ(mb.intraflag, e.intraflag) << mat;
        ASSERT_EQ(mb.skipflag, e.skipflag) << mat;
        for (int i = 0; i < 3; ++i) ASSERT_EQ(mb.mbdirflags[i], e.dir[i]) << mat << " direction " << i;
        for (int i = 0; i < 4; ++i) ASSERT_EQ(mb.statmv[i], e.statmv[i]) << mat << " vector " << i;
      }
    }
  }

  // Garbage in every slot's macroblock records, so the reader must fill each field itself.
  static void scribbleslots() {
    for (int s = 1; s <= maxslots; ++s) {
      picslot& sl = picslots[s];
      for (int m = 0; m <= settings.mbcount; ++m) {
        mbrecord& mb = sl.mbs[m];
        mb.mbtype = 0x5A;
        mb.blockclass = mb.intraflag = mb.skipflag = 7;
        for (auto& d : mb.mbdirflags) d = 7;
        for (auto& v : mb.statmv) v = 12345;
      }
      sl.pictype = 9;
      sl.mecostflag = 5;
      for (auto& f : sl.fcodes) f = 0;
    }
  }

  // A file of these bytes, padded to at least two records, as the reader's input.
  void loadbytes(const std::vector<uint8_t>& bytes, size_t records = 0) {
    std::vector<uint8_t> data = bytes;
    size_t n = std::max<size_t>({records, 2, (data.size() + dbsrecordbytes - 1) / dbsrecordbytes});
    data.resize(n * dbsrecordbytes, 0);
    for (size_t r = 0; r < n; ++r)
      ASSERT_TRUE(unitwriterecord(unitstats, long(r + 1), data.data() + r * dbsrecordbytes, dbsrecordbytes));
    std::fflush(unitfile(unitstats));
  }

  std::string logtext() {
    std::fflush(unitfile(unitlog));
    return readfile(log);
  }
  // The run is being aborted with exactly this failure, reported once.
  void expectfailure(const char* logline, const char* statustext, const std::string& where) {
    EXPECT_TRUE(errorflag.load()) << where;
    EXPECT_EQ(nextstep.load(), int(steperror)) << where;
    EXPECT_EQ(logtext(), std::string(logline) + "\n") << where;
    std::string status = getstatusline();
    status.erase(status.find_last_not_of(' ') + 1);
    EXPECT_EQ(status, std::string("ERROR, ") + statustext) << where;
  }
};

struct roundtripcase {
  const char* name;
  int width, height;
  bool pulldown, adaptive;
  int lumgain;
  std::vector<std::array<int, 3>> gops;  // n, b, closed
};

// GOPs of every shape through the writer and back: every array, flag, class, matrix, row word,
// macroblock decision and vector comes back, across many record boundaries.
TEST_F(statstream, roundtripgivesbackeverything) {
  SCOPED_TRACE("seed " + std::to_string(testseed()));
  const std::vector<roundtripcase> cases = {
      {"PAL, plain", 720, 576, false, false, 0, {{15, 2, 1}, {15, 2, 0}, {12, 2, 0}, {1, 2, 0}}},
      {"NTSC film, pulldown, adaptive matrix", 720, 480, true, true, 0, {{15, 2, 1}, {13, 1, 0}, {7, 0, 0}}},
      {"CIF, luminance gain, pulldown, long GOPs", 352, 288, true, false, 2, {{36, 2, 1}, {36, 1, 0}, {31, 1, 1}}},
      {"one macroblock", 16, 16, false, true, 0, {{36, 0, 1}, {5, 2, 0}, {4, 1, 0}}},
      {"one row", 240, 16, false, false, 0, {{6, 2, 0}, {3, 2, 1}}},
      {"largest picture", 1920, 1152, false, false, 1, {{4, 2, 0}}},
  };
  for (const roundtripcase& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
    dbswriterstart();
    picturesize(c.width, c.height);
    settings.pulldown = c.pulldown;
    settings.adaptivematrix = c.adaptive;
    settings.lumgain = c.lumgain;
    pulldownphase = fieldtotal = fieldcount = 0;
    std::vector<gopexpect> gops;
    for (size_t i = 0; i < c.gops.size(); ++i)
      gops.push_back(codegop(c.gops[i][0], c.gops[i][1], c.gops[i][2], rnd(1, 32)));
    ASSERT_TRUE(writedbs(0, goporder, goptrefs, true));
    std::fflush(unitfile(unitstats));
    // The last record is there twice.
    uintmax_t size = fs::file_size(dbs);
    ASSERT_EQ(size % dbsrecordbytes, 0u);
    ASSERT_GE(size, 2u * dbsrecordbytes);
    std::string file = readfile(dbs);
    EXPECT_EQ(file.substr(size - 2 * dbsrecordbytes, dbsrecordbytes), file.substr(size - dbsrecordbytes));

    scribbleslots();
    ASSERT_TRUE(dbsreadstart());
    for (size_t i = 0; i < gops.size(); ++i) {
      gopstatrecord got;
      ASSERT_TRUE(readgopunit(got)) << "GOP " << i + 1 << ": " << logtext();
      checkgop(gops[i], got, std::string(c.name) + " GOP " + std::to_string(i + 1));
      usegopstats(got);
      for (int k = 0; k < goparraysize; ++k) {
        bool used = k >= 1 && k <= got.n;
        EXPECT_EQ(goporder[k], used ? got.order[k] : 0);
        EXPECT_EQ(goptypes[k], used ? got.types[k] : 0);
        EXPECT_EQ(goptrefs[k], used ? got.trefs[k] : 0);
      }
      if (c.pulldown) {
        EXPECT_EQ(fieldcount, got.fieldcount);
        EXPECT_TRUE(std::equal(std::begin(got.pulldownflags), std::end(got.pulldownflags), pulldownflagarray));
      }
      if (c.adaptive || c.lumgain)
        for (int k = 0; k < 64; ++k) {
          EXPECT_EQ(quantmatrices.intra[k], got.intra[k]);
          EXPECT_EQ(quantrecip.nonintra[k], 65535 / got.nonintra[k]);
        }
    }
    EXPECT_FALSE(dbsfailed());
    EXPECT_FALSE(errorflag.load());
    EXPECT_EQ(logtext(), "");
  }
  settings.pulldown = settings.adaptivematrix = false;
  settings.lumgain = 0;
}

// The smallest GOP: one I picture without pulldown and matrices is a GOP record of
// 3 + 3 + 4 + 4 x mbrows bytes and a 9-byte picture record; the final call writes the one
// record twice.
TEST_F(statstream, oneipicturegop) {
  picturesize(720, 576);
  goppattern(2, 1, 1, goporder, goptypes, goptrefs);
  gopstatrecord g;
  fillgopstats(g, 1, 2, 1, 17);
  for (int r = 0; r < settings.mbrows; ++r) g.rowactivity[1][r] = 1000 + r;
  putgopstats(g);
  EXPECT_EQ(gopstatcursor.bytepos, 3 + 3 + 4 + 4 * settings.mbrows);
  EXPECT_EQ(gopstatcursor.usedbits, 0);
  picexpect p = codepicture(1, 1);
  EXPECT_EQ(picslots[1].statcursor.bytepos, 9);
  ASSERT_TRUE(writedbs(1, goporder, goptrefs, false));
  EXPECT_EQ(dbswriter.fill, 10 + 4 * settings.mbrows + 9);
  EXPECT_EQ(dbswriter.recno, 1);
  ASSERT_TRUE(writedbs(0, goporder, goptrefs, true));
  std::fflush(unitfile(unitstats));
  std::string file = readfile(dbs);
  ASSERT_EQ(file.size(), 2u * dbsrecordbytes);
  EXPECT_EQ(file.substr(0, dbsrecordbytes), file.substr(dbsrecordbytes));
  const uint8_t head[] = {1, 2, 1, 1, 1, 0, 0, 0, 0, 17, 0, 0, 0x03, 0xE8};
  EXPECT_EQ(file.substr(0, sizeof head), std::string(head, head + sizeof head));
  size_t pic = 10 + 4 * size_t(settings.mbrows);
  EXPECT_EQ(file.substr(pic, 4), std::string("\0\0\1\1", 4));  // the marker
  EXPECT_EQ(uint8_t(file[pic + 8]), 0x10);                      // type 1, cost flag 0

  ASSERT_TRUE(dbsreadstart());
  gopstatrecord got;
  ASSERT_TRUE(readgopunit(got));
  EXPECT_EQ(got.gopclass, 17);
  EXPECT_EQ(got.rowactivity[1][35], 1035);
  EXPECT_EQ(picslots[1].pictype, 1);
  EXPECT_EQ(dbsreader.cursor.bytepos, int32_t(pic + 9));
}

// GOP bytes that fill whole records exactly leave a fill count of 0: the final call then writes
// the (unchanged) buffer once more as the last two records.
TEST_F(statstream, exactrecordsandthefinalcopies) {
  picturesize(16, 16);
  goppattern(0, 1, 1, goporder, goptypes, goptrefs);
  gopstatrecord g;
  fillgopstats(g, 1, 0, 1, 1);
  putgopstats(g);
  ASSERT_EQ(gopstatcursor.bytepos, 14);  // 3 + 3 + 4 + 4 x 1 row
  codepicture(1, 1);                     // 9 bytes
  // 356 GOPs of 23 bytes fill 8188 bytes; 4 more bytes complete the record.
  for (int i = 0; i < 356; ++i) ASSERT_TRUE(writedbs(1, goporder, goptrefs, false));
  EXPECT_EQ(dbswriter.fill, 8188);
  gopstatcursor.bytepos = 4;
  picslots[1].statcursor.bytepos = 0;
  ASSERT_TRUE(writedbs(1, goporder, goptrefs, false));
  EXPECT_EQ(dbswriter.fill, 0);
  EXPECT_EQ(dbswriter.recno, 2);
  ASSERT_TRUE(writedbs(0, goporder, goptrefs, true));
  std::fflush(unitfile(unitstats));
  std::string file = readfile(dbs);
  ASSERT_EQ(file.size(), 3u * dbsrecordbytes);
  EXPECT_EQ(file.substr(dbsrecordbytes, dbsrecordbytes), file.substr(0, dbsrecordbytes));
  EXPECT_EQ(file.substr(2 * dbsrecordbytes), file.substr(0, dbsrecordbytes));
}

// The reader holds two records and reads the next one only when the bits read pass 65,536,
// not when they reach it; fields that straddle the boundary come back whole.
TEST_F(statstream, refillsonlypastthefirstrecord) {
  SCOPED_TRACE("seed " + std::to_string(testseed()));
  std::vector<uint8_t> bytes(6 * dbsrecordbytes);
  for (auto& b : bytes) b = uint8_t(rng());
  loadbytes(bytes);
  auto model = [&](int64_t bit, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i, ++bit) v = (v << 1) | ((bytes[size_t(bit >> 3)] >> (7 - (bit & 7))) & 1);
    return uint32_t(v);
  };
  auto expectstate = [&](int64_t total, const std::string& where) {
    int64_t refills = total == 0 ? 0 : (total - 1) / 65536;
    EXPECT_EQ(dbsreader.recno, 3 + refills) << where;
    EXPECT_EQ(dbsreader.consumed, total - 65536 * refills) << where;
    EXPECT_EQ(int64_t(dbsreader.cursor.bytepos) * 8 + dbsreader.cursor.usedbits, dbsreader.consumed) << where;
  };
  ASSERT_TRUE(dbsreadstart());
  // Exactly one record in 32-bit words: no refill yet; one more bit: record 3 comes in.
  int64_t total = 0;
  for (int i = 0; i < 2048; ++i, total += 32) ASSERT_EQ(dbsgetbits(32), model(total, 32));
  expectstate(total, "at 65,536");
  EXPECT_EQ(dbsreader.recno, 3);
  ASSERT_EQ(dbsgetbits(1), model(total, 1));
  ++total;
  expectstate(total, "at 65,537");
  EXPECT_EQ(dbsreader.recno, 4);
  // Fields of every width, skips of every length, up to the end of record 5.
  while (total < 5 * 65536 - 64) {
    int n = rnd(1, 32);
    if (rnd(0, 4) == 0) {
      dbsskipbits(n);
    } else {
      ASSERT_EQ(dbsgetbits(n), model(total, n)) << "bit " << total << " width " << n;
    }
    total += n;
    expectstate(total, "bit " + std::to_string(total));
  }
  EXPECT_FALSE(dbsfailed());
}

// The vector decoding is the exact inverse of putmv2 for every f_code, predictor and vector,
// including the wrap: -16f after a predictor of 16f - 1 is sent as +1.
TEST_F(statstream, vectorsdecodeasputmv2codesthem) {
  SCOPED_TRACE("seed " + std::to_string(testseed()));
  ASSERT_TRUE(startslotpicture(1));
  picslot& sl = picslots[1];
  struct pair {
    int fcode, pred, v;
  };
  std::vector<pair> pairs;
  for (int fcode = 1; fcode <= 9; ++fcode) {
    int f = 1 << (fcode - 1);
    int lo = -16 * f, hi = 16 * f - 1;
    for (int pred : {lo, hi, 0, -1, 1, rnd(lo, hi)})
      for (int v : {lo, hi, 0, pred, lo + 1, hi - 1, rnd(lo, hi), rnd(lo, hi)}) pairs.push_back({fcode, pred, v});
  }
  for (const pair& p : pairs) {
    ASSERT_TRUE(slotroom(1));
    putmv2(1, p.fcode, p.v - p.pred);
  }
  // The edge case: f_code 3, predictor 63, vector -64 is sent as motion_code +1, residual 0.
  {
    int32_t pred = 63;
    EXPECT_EQ(mvdecode(0, 1, 2, pred), -64);
    EXPECT_EQ(pred, -64);
  }
  alignbits(sl.statbits.data(), sl.statcursor);
  loadbytes(std::vector<uint8_t>(sl.statbits.data(), sl.statbits.data() + sl.statcursor.bytepos));
  ASSERT_TRUE(dbsreadstart());
  for (const pair& p : pairs) {
    int code = readmvcode();
    ASSERT_NE(code, mvcodeinvalid);
    int rsize = p.fcode - 1;
    int residual = rsize > 0 && code != 0 ? int(dbsgetbits(rsize)) : 0;
    int32_t pred = p.pred;
    ASSERT_EQ(mvdecode(residual, code, rsize, pred), p.v) << "f_code " << p.fcode << " predictor " << p.pred;
    ASSERT_EQ(pred, p.v);
  }
  // readmvpair: a forward then a backward pair against running predictors.
  sl.statcursor = {};
  std::memset(sl.statbits.data(), 0, 64);
  int32_t statpmv[4] = {};
  const int16_t vecs[3][4] = {{-64, 63, 5, -7}, {-64, -64, 63, 63}, {0, 1, -1, 0}};
  for (auto& vv : vecs)
    for (int i = 0; i < 4; ++i) {
      putmv2(1, 3, vv[i] - statpmv[i]);
      statpmv[i] = vv[i];
    }
  alignbits(sl.statbits.data(), sl.statcursor);
  ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
  loadbytes(std::vector<uint8_t>(sl.statbits.data(), sl.statbits.data() + sl.statcursor.bytepos));
  ASSERT_TRUE(dbsreadstart());
  int32_t pred[4] = {};
  for (auto& vv : vecs) {
    ASSERT_TRUE(readmvpair(2, 2, 0, pred));
    ASSERT_TRUE(readmvpair(2, 2, 1, pred));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(pred[i], vv[i]);
  }
}

// ---- failures ----

// A record that cannot be written ends the run once, with the log line and the error line;
// the final call has the same failure path; nothing is written after a failure.
TEST_F(statstream, writefailures) {
  goppattern(0, 1, 1, goporder, goptypes, goptrefs);
  gopstatrecord g;
  fillgopstats(g, 1, 0, 1, 1);
  putgopstats(g);
  codepicture(1, 1);
  struct failcase {
    const char* name;
    bool devfull;  // else the unit is closed
    bool final;
  };
  for (const failcase& c : {failcase{"closed unit, per GOP", false, false},
                            failcase{"closed unit, final call", false, true},
                            failcase{"full disk, per GOP", true, false},
                            failcase{"full disk, final call", true, true}}) {
    SCOPED_TRACE(c.name);
    if (c.devfull && !fs::exists("/dev/full")) continue;
    resetcontrol();
    ASSERT_TRUE(unitopen(unitlog, log, unitnew));
    dbswriterstart();
    unitclose(unitstats);
    if (c.devfull) {
      ASSERT_TRUE(unitopen(unitstats, "/dev/full", unitnew));
    }
    if (c.final) {
      ASSERT_TRUE(writedbs(1, goporder, goptrefs, false));  // fills less than a record
      EXPECT_FALSE(writedbs(0, goporder, goptrefs, true));
    } else {
      bool ok = true;
      for (int i = 0; i < 400 && ok; ++i) ok = writedbs(1, goporder, goptrefs, false);
      EXPECT_FALSE(ok);
      EXPECT_EQ(dbswriter.recno, 1);
    }
    EXPECT_FALSE(writedbs(1, goporder, goptrefs, false));
    EXPECT_FALSE(writedbs(0, goporder, goptrefs, true));
    expectfailure(dbswritelog, dbswriteline, c.name);
    unitclose(unitstats);
  }
  ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
}

// A file cut short ends the second pass with the read error, whether it is cut at a record
// boundary, inside a record, or before the reader's first two records.
TEST_F(statstream, truncatedfiles) {
  picturesize(352, 288);
  for (int i = 0; i < 3; ++i) codegop(12, 2, i == 0, 5);
  ASSERT_TRUE(writedbs(0, goporder, goptrefs, true));
  unitclose(unitstats);
  std::string whole = readfile(dbs);
  size_t records = whole.size() / dbsrecordbytes;
  ASSERT_GE(records, 5u);
  struct cut {
    const char* name;
    size_t bytes;
  };
  for (const cut& c : {cut{"one record", dbsrecordbytes}, cut{"inside record 2", dbsrecordbytes + 100},
                       cut{"three records", 3 * dbsrecordbytes},
                       cut{"inside the next-to-last record", (records - 2) * dbsrecordbytes + 4000},
                       cut{"empty", 0}}) {
    SCOPED_TRACE(c.name);
    resetcontrol();
    ASSERT_TRUE(unitopen(unitlog, log, unitnew));
    writefile(dbs, whole.substr(0, c.bytes));
    ASSERT_TRUE(unitopen(unitstats, dbs, unitupdate));
    bool ok = dbsreadstart();
    int gops = 0;
    gopstatrecord got;
    while (ok && gops < 3 && (ok = readgopunit(got))) ++gops;
    EXPECT_FALSE(ok);
    EXPECT_LT(gops, 3);
    EXPECT_TRUE(dbsfailed());
    EXPECT_EQ(dbsgetbits(32), 0u);
    EXPECT_FALSE(readgopunit(got));
    EXPECT_FALSE(readpicstats(1));
    expectfailure(dbsreadlog, dbsreadline, c.name);
    unitclose(unitstats);
  }
}

// One vector component with f_code 4 (f = 8), as putmv2 writes it without the wrap.
void putvec4(uint8_t* buf, bitcursor& cur, int v) {
  if (v == 0) {
    putbits(1, 1, buf, cur);  // motion_code 0
    return;
  }
  int t = 7 + std::abs(v);
  putbits(tableb10[t >> 3].code, tableb10[t >> 3].length, buf, cur);  // motion_code
  putbits(v < 0 ? 1 : 0, 1, buf, cur);                                // its sign
  putbits(uint32_t(t & 7), 3, buf, cur);                              // motion_residual
}
void putptype(uint8_t* buf, bitcursor& cur, int flags) {
  putbits(tableb3[flags].code, tableb3[flags].length, buf, cur);
}
void putbtype(uint8_t* buf, bitcursor& cur, int flags) {
  putbits(tableb4[flags].code, tableb4[flags].length, buf, cur);
}

// Bits that do not parse as the first pass writes them end the second pass with the read
// error: every count, code and flag the reader checks, each by a hand-made record in the
// second GOP of a file (the first GOP is good). Pictures are 64 x 48 (4 x 3 macroblocks).
TEST_F(statstream, damagedrecords) {
  picturesize(64, 48);
  using bitsfn = void (*)(uint8_t*, bitcursor&);
  struct damage {
    const char* name;
    int n = 2, b = 0, closed = 1;               // the GOP record's n, b, closed_gop
    void (*record)(gopstatrecord&) = nullptr;   // then changed by this
    int pictype = 2;                            // the picture after the I picture
    bitsfn macroblocks = nullptr;               // its macroblock bits (null: a coded picture)
    uint32_t marker = 0x101;
    int typefield = -1;                         // -1: the picture's own type
    int costfield = 0;
    int fcode = 4;
    bool header() const { return marker != 0x101 || typefield >= 0 || costfield || fcode != 4; }
  };
  std::vector<damage> cases;
  auto add = [&](damage d) { cases.push_back(d); };
  auto rec = [&](const char* name, void (*f)(gopstatrecord&)) {
    damage d;
    d.name = name;
    d.record = f;
    add(d);
  };
  auto mbs = [&](const char* name, int type, bitsfn f) {
    damage d;
    d.name = name;
    d.pictype = type;
    d.macroblocks = f;
    if (type == 3) d.record = [](gopstatrecord& g) { g.types[2] = 3; };
    add(d);
  };
  {
    damage d;
    d.name = "GOP of 0 pictures", d.n = 0, add(d);
    d.name = "GOP of 37 pictures", d.n = 37, add(d);
    d.n = 2;
    d.name = "3 B pictures between references", d.b = 3, add(d);
    d.b = 0;
    d.name = "closed_gop 2", d.closed = 2, add(d);
    d.closed = 1;
    d.name = "marker", d.marker = 0x100, add(d);
    d.marker = 0x101;
    d.name = "picture type 0", d.typefield = 0, add(d);
    d.name = "picture type 4", d.typefield = 4, add(d);
    d.typefield = -1;
    d.name = "cost flag 7", d.costfield = 7, add(d);
    d.costfield = 0;
    d.name = "f_code 0", d.fcode = 0, add(d);
    d.name = "f_code 10", d.fcode = 10, add(d);
    d.fcode = 4;
    d.name = "a B picture where the GOP has a P picture", d.pictype = 3, add(d);
  }
  rec("coding order not a permutation", [](gopstatrecord& g) { g.order[2] = 1; });
  rec("temporal reference out of the GOP", [](gopstatrecord& g) { g.trefs[2] = 2; });
  rec("picture type 4 in the GOP record", [](gopstatrecord& g) { g.types[2] = 4; });
  {
    damage d;
    d.name = "a P picture coded first";  // and the pictures as the record has them
    d.record = [](gopstatrecord& g) { std::swap(g.types[1], g.types[2]); };
    d.pictype = 1;
    add(d);
  }
  rec("two I pictures", [](gopstatrecord& g) { g.types[2] = 1; });
  rec("display order other than the pattern's", [](gopstatrecord& g) {
    std::swap(g.trefs[1], g.trefs[2]);  // the I picture shown second
  });
  rec("class 0", [](gopstatrecord& g) { g.gopclass = 0; });
  rec("class 33", [](gopstatrecord& g) { g.gopclass = 33; });
  rec("row word with the sign bit", [](gopstatrecord& g) { g.rowactivity[2][1] = -5; });
  // P macroblocks: skip, forward, blockclass (2), intraflag, then type and vectors.
  mbs("macroblock_type 000000", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b00010, 5, buf, cur);
    putbits(0, 6, buf, cur);
  });
  mbs("motion_code that is no code", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b01110, 5, buf, cur);
    putptype(buf, cur, mbforward);
    putbits(0b00000000010, 11, buf, cur);  // 0, then 0000 0000 10: no Table B.10 code
  });
  mbs("vector left of the picture", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b01110, 5, buf, cur);
    putptype(buf, cur, mbforward);
    putvec4(buf, cur, -1);  // half a pixel left of column 0
    putvec4(buf, cur, 0);
  });
  mbs("vector below the picture", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b01110, 5, buf, cur);
    putptype(buf, cur, mbforward);
    putvec4(buf, cur, 0);
    putvec4(buf, cur, 65);  // rows 32..48 of 48 (64 is the last that fits)
  });
  mbs("skipped first macroblock of a row", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b10110, 5, buf, cur);
  });
  mbs("skipped P macroblock with a vector", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b00010, 5, buf, cur);
    putptype(buf, cur, mbintra);
    putbits(0b11110, 5, buf, cur);
    putvec4(buf, cur, 0);
    putvec4(buf, cur, 0);
  });
  mbs("forward flag without forward motion", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b01100, 5, buf, cur);
    putptype(buf, cur, mbpattern);
  });
  mbs("forward motion without the forward flag", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b00110, 5, buf, cur);
    putptype(buf, cur, mbforward);
  });
  mbs("intra type with a non-intra block class", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b00100, 5, buf, cur);
    putptype(buf, cur, mbintra);
  });
  mbs("block class 0", 2, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b00000, 5, buf, cur);
    putptype(buf, cur, mbpattern);
  });
  // B macroblocks: skip, forward, backward, blockclass (2), intraflag.
  mbs("skipped B macroblock without a direction", 3, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b010110, 6, buf, cur);
    putbtype(buf, cur, mbforward);
    putvec4(buf, cur, 0);
    putvec4(buf, cur, 0);
    putbits(0b100110, 6, buf, cur);
  });
  mbs("skipped B macroblock after an intra one", 3, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b000010, 6, buf, cur);
    putbtype(buf, cur, mbintra);
    putbits(0b110110, 6, buf, cur);
  });
  mbs("skipped B macroblock with other directions than the one before", 3,
      [](uint8_t* buf, bitcursor& cur) {
        putbits(0b010110, 6, buf, cur);
        putbtype(buf, cur, mbforward);
        putvec4(buf, cur, 0);
        putvec4(buf, cur, 0);
        putbits(0b101110, 6, buf, cur);
      });
  mbs("backward flag without backward motion", 3, [](uint8_t* buf, bitcursor& cur) {
    putbits(0b011110, 6, buf, cur);
    putbtype(buf, cur, mbforward);
  });
  mbs("skipped B macroblock taking a vector outside the picture", 3,
      [](uint8_t* buf, bitcursor& cur) {
        putbits(0b010110, 6, buf, cur);
        putbtype(buf, cur, mbforward);
        putvec4(buf, cur, 96);  // column 48 of a 64-wide picture: the last position
        putvec4(buf, cur, 0);
        putbits(0b110110, 6, buf, cur);  // the same vector one macroblock further right
      });

  for (const damage& c : cases) {
    SCOPED_TRACE(c.name);
    resetcontrol();
    ASSERT_TRUE(unitopen(unitlog, log, unitnew));
    ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
    dbswriterstart();
    codegop(3, 1, 1, 9);
    int n = std::clamp(c.n, 1, maxgoplength), b = std::clamp(c.b, 0, 2);
    goppattern(b, n, 1, goporder, goptypes, goptrefs);
    gopstatrecord g;
    fillgopstats(g, c.n, c.b, c.closed, 3);
    if (c.record) c.record(g);
    putgopstats(g);
    for (int k = 1; k <= n; ++k) {
      int s = goptrefs[goporder[k]] + 1;
      int type = k == 2 ? c.pictype : std::clamp(g.types[goporder[k]], 1, 3);
      if (k != 2 || (!c.macroblocks && !c.header())) {
        codepicture(s, type);
        continue;
      }
      ASSERT_TRUE(startslotpicture(s));
      picslot& sl = picslots[s];
      uint8_t* buf = sl.statbits.data();
      putbits(c.marker, 32, buf, sl.statcursor);  // marker
      putbits(0, 32, buf, sl.statcursor);         // luma sum
      putbits(uint32_t(c.typefield >= 0 ? c.typefield : type), 4, buf, sl.statcursor);
      putbits(uint32_t(c.costfield), 4, buf, sl.statcursor);
      for (int i = 0; i < (type == 3 ? 8 : 4); ++i) putbits(uint32_t(c.fcode), 4, buf, sl.statcursor);
      if (c.macroblocks) c.macroblocks(buf, sl.statcursor);
      // Intra macroblocks for the rest of the picture (and beyond, unread).
      for (int m = 0; m < 12; ++m) {
        putbits(0b00010, type == 3 ? 6 : 5, buf, sl.statcursor);
        (type == 3 ? putbtype : putptype)(buf, sl.statcursor, mbintra);
      }
      alignbits(buf, sl.statcursor);
    }
    ASSERT_TRUE(writedbs(n, goporder, goptrefs, false));
    ASSERT_TRUE(writedbs(0, goporder, goptrefs, true));
    ASSERT_TRUE(dbsreadstart());
    gopstatrecord got;
    ASSERT_TRUE(readgopunit(got)) << logtext();  // the good GOP
    EXPECT_FALSE(readgopunit(got));
    EXPECT_TRUE(dbsfailed());
    EXPECT_EQ(dbsgetbits(8), 0u);
    EXPECT_FALSE(readgopunit(got));  // it stays failed, reported once
    expectfailure(dbsreadlog, dbsreadline, c.name);
  }
  // A control case through the same path parses: the checks above fail for their own reason.
  {
    resetcontrol();
    ASSERT_TRUE(unitopen(unitlog, log, unitnew));
    ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
    dbswriterstart();
    goppattern(0, 2, 1, goporder, goptypes, goptrefs);
    gopstatrecord g;
    fillgopstats(g, 2, 0, 1, 3);
    putgopstats(g);
    codepicture(1, 1);
    ASSERT_TRUE(startslotpicture(2));
    picslot& sl = picslots[2];
    uint8_t* buf = sl.statbits.data();
    putbits(0x101, 32, buf, sl.statcursor);
    putbits(0, 32, buf, sl.statcursor);
    putbits(0x20, 8, buf, sl.statcursor);  // P, cost flag 0
    for (int i = 0; i < 4; ++i) putbits(4, 4, buf, sl.statcursor);
    for (int row = 0; row < 3; ++row) {
      putbits(0b01110, 5, buf, sl.statcursor);  // MC, not coded: vector (64 or 96, 0)
      putptype(buf, sl.statcursor, mbforward);
      putvec4(buf, sl.statcursor, row == 0 ? 96 : 64);
      putvec4(buf, sl.statcursor, 0);
      putbits(0b00010, 5, buf, sl.statcursor);  // intra
      putptype(buf, sl.statcursor, mbintra);
      putbits(0b10110, 5, buf, sl.statcursor);  // skipped
      putbits(0b01110, 5, buf, sl.statcursor);  // MC, not coded, half a pixel up in row 2
      putptype(buf, sl.statcursor, mbforward);
      putvec4(buf, sl.statcursor, 0);
      putvec4(buf, sl.statcursor, row == 0 ? 0 : -1);
    }
    alignbits(buf, sl.statcursor);
    ASSERT_TRUE(writedbs(2, goporder, goptrefs, false));
    ASSERT_TRUE(writedbs(0, goporder, goptrefs, true));
    ASSERT_TRUE(dbsreadstart());
    gopstatrecord got;
    ASSERT_TRUE(readgopunit(got)) << logtext();
    EXPECT_EQ(sl.mbs[1].statmv[0], 96);
    EXPECT_EQ(sl.mbs[5].statmv[0], 64);
    EXPECT_EQ(sl.mbs[8].statmv[1], -1);
    EXPECT_EQ(sl.mbs[3].mbtype, 0);
    EXPECT_EQ(sl.mbs[3].skipflag, -1);
    EXPECT_EQ(sl.fcodes[4], 4);
    EXPECT_EQ(sl.fcodes[6], 15);
    EXPECT_FALSE(errorflag.load());
  }
}

// With matrix adaptation the record carries both matrices, each entry 1..255: 255 reads back,
// 0 and 256 end the second pass with the read error.
TEST_F(statstream, matrixentriesoutofrange) {
  settings.adaptivematrix = true;
  std::fill(std::begin(quantmatrices.intra), std::end(quantmatrices.intra), int16_t(16));
  std::fill(std::begin(quantmatrices.nonintra), std::end(quantmatrices.nonintra), int16_t(16));
  for (int entry : {255, 0, 256}) {
    SCOPED_TRACE(entry);
    resetcontrol();
    ASSERT_TRUE(unitopen(unitlog, log, unitnew));
    ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
    dbswriterstart();
    goppattern(0, 1, 1, goporder, goptypes, goptrefs);
    gopstatrecord g;
    fillgopstats(g, 1, 0, 1, 3);
    g.nonintra[63] = int16_t(entry);
    putgopstats(g);
    codepicture(1, 1);
    ASSERT_TRUE(writedbs(1, goporder, goptrefs, false));
    ASSERT_TRUE(writedbs(0, goporder, goptrefs, true));
    ASSERT_TRUE(dbsreadstart());
    gopstatrecord got;
    if (entry == 255) {
      ASSERT_TRUE(readgopunit(got)) << logtext();
      EXPECT_EQ(got.nonintra[63], 255);
    } else {
      EXPECT_FALSE(readgopunit(got));
      expectfailure(dbsreadlog, dbsreadline, std::to_string(entry));
    }
  }
  settings.adaptivematrix = false;
}

// Every macroblock_type of Tables B.3 and B.4 decodes to its flags, the quant ones included,
// with the vectors of its motion bits.
TEST_F(statstream, everymacroblocktypedecodes) {
  picturesize(64, 48);
  const std::vector<int> ptypes = {1, 2, 8, 10, 17, 18, 26}, btypes = {1, 4, 6, 8, 10, 12, 14, 17, 22, 26, 30};
  goppattern(1, 3, 1, goporder, goptypes, goptrefs);  // I P B
  gopstatrecord g;
  fillgopstats(g, 3, 1, 1, 1);
  putgopstats(g);
  codepicture(1, 1);
  for (int s : {3, 2}) {
    bool bpic = s == 2;
    const std::vector<int>& types = bpic ? btypes : ptypes;
    ASSERT_TRUE(startslotpicture(s));
    picslot& sl = picslots[s];
    uint8_t* buf = sl.statbits.data();
    putbits(0x101, 32, buf, sl.statcursor);
    putbits(0, 32, buf, sl.statcursor);
    putbits(bpic ? 3 : 2, 4, buf, sl.statcursor);
    putbits(0, 4, buf, sl.statcursor);
    for (int i = 0; i < (bpic ? 8 : 4); ++i) putbits(4, 4, buf, sl.statcursor);
    for (int m = 0; m < 12; ++m) {
      int t = types[size_t(m) % types.size()];
      putbits(0, 1, buf, sl.statcursor);                              // not skipped
      putbits((t & mbforward) ? 1 : 0, 1, buf, sl.statcursor);        // forward
      if (bpic) putbits((t & mbbackward) ? 1 : 0, 1, buf, sl.statcursor);
      putbits((t & mbintra) ? 1 : (t & mbpattern) ? 2 : 3, 2, buf, sl.statcursor);
      putbits(0, 1, buf, sl.statcursor);
      vlccode c = bpic ? tableb4[t] : tableb3[t];
      ASSERT_NE(c.length, 0) << t;
      putbits(c.code, c.length, buf, sl.statcursor);
      for (int bit : {int(mbforward), int(mbbackward)})
        if (t & bit) {
          putvec4(buf, sl.statcursor, 0);
          putvec4(buf, sl.statcursor, 0);
        }
    }
    alignbits(buf, sl.statcursor);
  }
  ASSERT_TRUE(writedbs(3, goporder, goptrefs, false));
  ASSERT_TRUE(writedbs(0, goporder, goptrefs, true));
  ASSERT_TRUE(dbsreadstart());
  gopstatrecord got;
  ASSERT_TRUE(readgopunit(got)) << logtext();
  for (int s : {3, 2}) {
    const std::vector<int>& types = s == 2 ? btypes : ptypes;
    for (int m = 0; m < 12; ++m) {
      int t = types[size_t(m) % types.size()];
      const mbrecord& mb = picslots[s].mbs[m + 1];
      EXPECT_EQ(mb.mbtype, t) << "slot " << s << " macroblock " << m + 1;
      EXPECT_EQ(mb.mbdirflags[0], (t & mbforward) ? -1 : 0);
      EXPECT_EQ(mb.mbdirflags[1], (t & mbbackward) ? -1 : 0);
    }
  }
}

// Whatever the bits, the reader ends on a reported failure or a parsed GOP, never outside its
// buffer: random files, and a good file with random bits flipped.
TEST_F(statstream, randomdamagenevercrashes) {
  SCOPED_TRACE("seed " + std::to_string(testseed()));
  picturesize(96, 64);
  settings.pulldown = true;
  settings.adaptivematrix = true;
  pulldownphase = fieldtotal = fieldcount = 0;
  for (int i = 0; i < 4; ++i) codegop(i == 3 ? 1 : 9, 2, i == 0, rnd(1, 32));
  ASSERT_TRUE(writedbs(0, goporder, goptrefs, true));
  unitclose(unitstats);
  const std::string good = readfile(dbs);
  int failures = 0;
  for (int trial = 0; trial < 300; ++trial) {
    std::string file = good;
    if (trial < 40) {
      for (char& ch : file) ch = char(rng());
      file.resize(size_t(rnd(2, 6)) * dbsrecordbytes - size_t(rnd(0, 1) * rnd(0, 8191)));
    } else {
      int flips = rnd(1, 4);
      for (int f = 0; f < flips; ++f) {
        size_t bit = size_t(rnd(0, int(good.size() / 2) * 8 - 1));
        file[bit >> 3] = char(file[bit >> 3] ^ (0x80 >> (bit & 7)));
      }
    }
    resetcontrol();
    ASSERT_TRUE(unitopen(unitlog, log, unitnew));
    writefile(dbs, file);
    ASSERT_TRUE(unitopen(unitstats, dbs, unitupdate));
    scribbleslots();
    bool ok = dbsreadstart();
    gopstatrecord got;
    for (int g = 0; g < 4 && ok; ++g) ok = readgopunit(got);
    if (!ok) {
      ++failures;
      EXPECT_TRUE(errorflag.load());
      EXPECT_EQ(nextstep.load(), int(steperror));
      std::string text = logtext();
      EXPECT_EQ(text, std::string(dbsreadlog) + "\n");
    } else {
      EXPECT_FALSE(errorflag.load());
      EXPECT_EQ(logtext(), "");
    }
    unitclose(unitstats);
  }
  EXPECT_GE(failures, 40);  // at least every random file
  settings.pulldown = settings.adaptivematrix = false;
  ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
}

}  // namespace
