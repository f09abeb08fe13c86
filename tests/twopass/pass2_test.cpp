// The second pass on clips set up by hand: the first pass's GOPs replayed picture for picture,
// pulldown flags that run on without a phase jump, the re-code of pictures too large for the
// level, the bound on GOP re-codes (a GOP coded 100 times gives the stream of one coding),
// statistics files damaged between the passes, and a pass stopped from outside.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "encoder/coding/picslot.h"
#include "encoder/coding/statstream.h"
#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "encoder/passes/intermpass.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/pass2.h"
#include "encoder/passes/passhooks.h"
#include "encoder/passes/vbvcheck.h"
#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {

const std::string endcode("\0\0\1\xB7", 4);

class secondpass : public coderun {
 protected:
  std::string dbs, logpath;

  void TearDown() override {
    passprobe = nullptr;
    passafter = nullptr;
    gopretryprobe = nullptr;
    coderun::TearDown();
  }

  // A two-pass run at the given bitrates in kbit/s, with the scratch file and the log open.
  void preparetwopass(runsetup r, int bframes, int kbitrate = 3000, int kmaxbitrate = 8000) {
    r.logfile = true;
    prepare(r);
    dbs = preparestats(bframes, kbitrate, kmaxbitrate);
    logpath = dir + "/out.log";
  }
  void runfirstpass(const picturefn& pic) {
    usesource(pic);
    pass1thread(&statusblock);
    ASSERT_EQ(nextstep.load(), steppass2);
    nextstep = 0;
  }
  std::string logtext() {
    unitclose(unitlog);
    return readfile(logpath);
  }
};

// Two passes over a clip with a cut: step 99; the stream decodes to every frame; its pictures
// (temporal references and types in coding order) and closed flags are those of the same clip
// coded in one pass; the log holds the pass-2 block and the statistics after it.
TEST_F(secondpass, replaysthefirstpassgops) {
  runsetup r{.width = 352, .height = 288, .frames = 40, .goplength = 12, .noscd = false};
  auto clip = [](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    naturalpicture()(f < 17 ? f : f + 500, y, u, v);
    if (f >= 17)
      for (int i = 0; i < settings.lumasize; ++i) y[i] = uint8_t(255 - y[i]);
  };
  preparetwopass(r, 2);
  runfirstpass(clip);
  const int firstgops = gopsdone;
  pass2thread(&statusblock);
  usesource(nullptr);
  EXPECT_EQ(nextstep.load(), stepdone);
  EXPECT_FALSE(errorflag.load());
  EXPECT_EQ(gopcount, firstgops);
  EXPECT_EQ(icount + pcount + bcount, 40);
  EXPECT_EQ(settings.gopframe, 40);
  unitclose(unitstream);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  const std::vector<uint8_t> two = readbytes(m2v);
  const std::string log = logtext();

  const std::string onepass = dir + "/one.m2v";
  r.logfile = false;
  prepare(r, onepass);
  settings.bframes = 2;
  encode(clip);
  unitclose(unitstream);
  const std::vector<uint8_t> one = readbytes(onepass);
  EXPECT_EQ(pictureheaders(two), pictureheaders(one));
  EXPECT_EQ(gopclosedflags(two), gopclosedflags(one));
  EXPECT_GT(gopclosedflags(two).size(), 2u);
  const std::vector<int> closed = gopclosedflags(two);
  EXPECT_GE(std::count(closed.begin(), closed.end(), 1), 2);
  EXPECT_GE(std::count(closed.begin(), closed.end(), 0), 1);

  const size_t inter = log.find("| encoding - intermediate pass |");
  const size_t box = log.find("| encoding - pass 2 |");
  const size_t time = log.find("\npass 2 encoding time:           ");
  const size_t stats = log.find("| encoding stats |");
  ASSERT_NE(inter, std::string::npos) << log;
  ASSERT_NE(box, std::string::npos) << log;
  EXPECT_LT(inter, box);
  EXPECT_LT(box, time);
  EXPECT_LT(time, stats);
  const std::string gops = std::to_string(firstgops);
  EXPECT_NE(log.find("nr. of gops:                " + std::string(12 - gops.size(), ' ') + gops),
            std::string::npos);
  EXPECT_NE(log.find("nr. of frames:                        40\n"), std::string::npos);
}

// 3:2 pulldown: the second pass takes every GOP's field flags from its record, so they run 3, 0,
// 2, 1 on across every GOP boundary as in the first pass (a second pass that made them afresh
// would go on from the phase where the first pass ended).
TEST_F(secondpass, pulldownflagsrunonacrossgops) {
  runsetup r{.width = 352, .height = 240, .frames = 26, .goplength = 6, .frameratecode = 1,
             .pulldown = true};
  preparetwopass(r, 2);
  runfirstpass(naturalpicture());
  pass2thread(&statusblock);
  usesource(nullptr);
  ASSERT_EQ(nextstep.load(), stepdone);
  unitclose(unitstream);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  runresult p = runcommand({"ffprobe", "-v", "error", "-show_frames", m2v});
  std::vector<std::pair<int, int>> flags;  // top_field_first, repeat_pict in display order
  std::istringstream in(p.out);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("top_field_first=", 0) == 0) flags.push_back({std::stoi(line.substr(16)), 0});
    if (line.rfind("repeat_pict=", 0) == 0 && !flags.empty())
      flags.back().second = std::stoi(line.substr(12));
  }
  ASSERT_EQ(flags.size(), 26u);
  const int cycle[4] = {3, 0, 2, 1};
  for (int t = 0; t < 26; ++t) {
    EXPECT_EQ(flags[size_t(t)].first, cycle[t % 4] & 1) << t;
    EXPECT_EQ(flags[size_t(t)].second, cycle[t % 4] >> 1) << t;
  }
}

// Pictures larger than the level allows (noise at a high bitrate): each is coded again at the
// quantiser raised by its excess, Q = min(bytes x Q / limit, 31), at most twice; a picture
// within the limit is never coded again. The counters count every picture once.
TEST_F(secondpass, oversizedpicturesarecodedagain) {
  runsetup r{.width = 720, .height = 576, .frames = 4, .goplength = 4};
  preparetwopass(r, 0, 100000, 200000);
  runfirstpass(noisepicture());
  struct coding {
    float q;
    float bytes;
  };
  std::map<int, std::vector<coding>> codings;  // by picture number, of the GOP's last try
  int lastk = 0;
  passafter = [&](int pass, int k, const pictargs& a) {
    if (pass != 2) return;
    if (k < lastk) codings.clear();  // the GOP is coded again (its share of the plan missed)
    lastk = k;
    codings[k].push_back({picq[k], float(picslots[a.curslot].picbytes)});
  };
  pass2thread(&statusblock);
  usesource(nullptr);
  ASSERT_EQ(nextstep.load(), stepdone);
  EXPECT_EQ(picbytelimit, 160563.2f);
  ASSERT_EQ(codings.size(), 4u);
  int recoded = 0;
  for (auto& [k, c] : codings) {
    SCOPED_TRACE(k);
    ASSERT_LE(c.size(), 3u);
    for (size_t j = 1; j < c.size(); ++j) {
      EXPECT_GT(c[j - 1].bytes, picbytelimit);
      EXPECT_EQ(c[j].q, std::min(c[j - 1].bytes * c[j - 1].q / picbytelimit, 31.0f));
    }
    if (c.size() < 3) {
      EXPECT_LE(c.back().bytes, picbytelimit);
    }
    recoded += c.size() > 1;
  }
  EXPECT_GT(recoded, 0);
  EXPECT_EQ(settings.gopframe, 4);
  EXPECT_EQ(icount + pcount + bcount, 4);
  unitclose(unitstream);
  std::string why;
  EXPECT_TRUE(decodesclean(m2v, &why)) << why;
}

// A GOP the checks keep sending back is coded at most maxgoptries times and then accepted with a
// WARNING that names it. Every try is rolled back (counters, and the reference picture the GOP's
// leading B pictures need), so the stream equals that of a run whose GOPs passed at once.
TEST_F(secondpass, goprecodesarebounded) {
  for (int profile : {1, 2, 4}) {
    SCOPED_TRACE(profile);
    runsetup r{.width = 176, .height = 144, .frames = 8, .goplength = 4};
    preparetwopass(r, 1);
    settings.profile = profile;
    runfirstpass(naturalpicture());
    const std::string dbscopy = readfile(dbs);
    pass2thread(&statusblock);
    ASSERT_EQ(nextstep.load(), stepdone);
    unitclose(unitstream);
    const std::string once = readfile(m2v);

    // Again from the same statistics, every GOP sent back until its last try.
    nextstep = 0;
    ASSERT_TRUE(unitopen(unitstream, m2v, unitnew));
    unitclose(unitstats);
    writefile(dbs, dbscopy);
    ASSERT_TRUE(unitopen(unitstats, dbs, unitupdate));
    std::map<int, std::vector<bool>> tries;
    gopretryprobe = [&](int gop, bool last) {
      tries[gop].push_back(last);
      if (last) return;
      rollbackgop(gopsnapshot);
      retrycount += 1;
    };
    // Codings of each GOP, by its first picture (1 or 5): a try the rate feedback sent back
    // for missing its share of the plan is one too, though it reaches no check's probe.
    std::map<int, int> codings;
    passprobe = [&](int pass, int picture) {
      if (pass == 2 && (picture == 1 || picture == 5)) codings[picture == 1 ? 1 : 2] += 1;
    };
    pass2thread(&statusblock);
    usesource(nullptr);
    gopretryprobe = nullptr;
    passprobe = nullptr;
    ASSERT_EQ(nextstep.load(), stepdone);
    ASSERT_EQ(tries.size(), 2u);
    for (auto& [gop, t] : tries) {
      ASSERT_EQ(codings[gop], maxgoptries) << gop;
      ASSERT_LE(t.size(), size_t(maxgoptries)) << gop;
      EXPECT_EQ(std::count(t.begin(), t.end(), true), 1) << gop;
      EXPECT_TRUE(t.back()) << gop;
    }
    EXPECT_EQ(icount + pcount + bcount, 8);
    EXPECT_EQ(settings.gopframe, 8);
    unitclose(unitstream);
    EXPECT_TRUE(readfile(m2v) == once);
    const std::string log = logtext();
    EXPECT_NE(log.find("\n WARNING, GOP 1 (frames 0 - 3) accepted after 100 codings, the VBV "
                       "buffer or the maximum bitrate may be exceeded\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\n WARNING, GOP 2 (frames 4 - 7) accepted after 100 codings"),
              std::string::npos);
    TearDown();
    SetUp();
  }
}

// A statistics file cut short, overwritten with garbage or left by another run between the
// passes ends the second pass with the read error and step 98, never a crash: the GOPs read
// before the damage stand as a whole stream with its end code, and the log says so.
TEST_F(secondpass, damagedstatisticsfileendstherun) {
  runsetup r{.width = 352, .height = 288, .frames = 48, .goplength = 12};
  // The statistics of the same clip in GOPs of 6: a file of another run.
  r.goplength = 6;
  preparetwopass(r, 2);
  runfirstpass(naturalpicture());
  unitclose(unitstats);
  const std::string foreign = readfile(dbs);
  TearDown();
  SetUp();
  r.goplength = 12;
  preparetwopass(r, 2);
  runfirstpass(naturalpicture());
  unitclose(unitstats);
  const std::string good = readfile(dbs);
  TearDown();
  SetUp();
  const size_t records = good.size() / dbsrecordbytes;
  ASSERT_GE(records, 4u);
  std::string garbage = good;
  std::mt19937 rng(77);
  for (char& c : garbage) c = char(rng());
  struct c {
    const char* name;
    std::string file;
    bool someframes;  // GOPs were read before the damage
  } cases[] = {
      {"empty", "", false},
      {"one record", good.substr(0, dbsrecordbytes), false},
      {"cut in the middle", good.substr(0, (records / 2) * dbsrecordbytes + 100), true},
      {"garbage", garbage, false},
      {"another run's", foreign, false},
  };
  for (const c& t : cases) {
    SCOPED_TRACE(t.name);
    r.goplength = 12;
    preparetwopass(r, 2);
    runfirstpass(naturalpicture());
    unitclose(unitstats);
    writefile(dbs, t.file);
    ASSERT_TRUE(unitopen(unitstats, dbs, unitupdate));
    testing::internal::CaptureStderr();
    pass2thread(&statusblock);
    testing::internal::GetCapturedStderr();
    usesource(nullptr);
    EXPECT_TRUE(errorflag.load());
    EXPECT_EQ(nextstep.load(), steperror);
    unitclose(unitstream);
    const std::string log = logtext();
    EXPECT_NE(log.find("\n *** ERROR, can't read from dbs file, aborting...\n"), std::string::npos)
        << log;
    const std::string s = readfile(m2v);
    if (t.someframes) {
      std::string why;
      EXPECT_TRUE(decodesclean(m2v, &why)) << why;
      const size_t frames = probetypes(m2v).size();
      EXPECT_GT(frames, 0u);
      EXPECT_LT(frames, 48u);
      EXPECT_EQ(frames % 12, 0u);
      ASSERT_GE(s.size(), 4u);
      EXPECT_EQ(s.substr(s.size() - 4), endcode);
      EXPECT_NE(log.find("\n WARNING, pass 2 stopped: the stream holds the first " +
                         std::to_string(frames) + " of 48 frames, in whole GOPs\n"),
                std::string::npos)
          << log;
    } else {
      EXPECT_TRUE(s.empty());
      EXPECT_NE(log.find("\n WARNING, pass 2 stopped before its first GOP: the stream is empty\n"),
                std::string::npos)
          << log;
    }
    TearDown();
    SetUp();
  }
}

// Stopped from outside in its third GOP, the second pass ends without a step and leaves the two
// GOPs it accepted as a whole stream, with its end code.
TEST_F(secondpass, stoppedpasskeepsacceptedgops) {
  runsetup r{.width = 176, .height = 144, .frames = 60, .goplength = 12};
  preparetwopass(r, 2);
  runfirstpass(naturalpicture());
  passprobe = [](int pass, int k) {
    if (pass == 2 && k == 30) keeprunning = false;
  };
  pass2thread(&statusblock);
  usesource(nullptr);
  EXPECT_EQ(nextstep.load(), 0);
  EXPECT_FALSE(errorflag.load());
  unitclose(unitstream);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  EXPECT_EQ(probetypes(m2v).size(), 24u);
  const std::string s = readfile(m2v);
  EXPECT_EQ(s.substr(s.size() - 4), endcode);
  EXPECT_NE(logtext().find("\n WARNING, pass 2 stopped: the stream holds the first 24 of 60 "
                           "frames, in whole GOPs\n"),
            std::string::npos);
}

}  // namespace
