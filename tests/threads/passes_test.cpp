// Whole passes in-process with 1, 2, 3 and 8 coding threads: the stream of a pass stopped in
// the middle, the statistics stream between two passes, a second pass whose pictures and GOPs
// are coded again (forced, and by the VBV check and the maximum-bitrate retry, also in the
// constant-quantiser loop under a maximum), a coding error met in a row of a picture, frames
// read ahead with pictures the source cannot deliver, and a pass suspended while its frame
// reader runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "encoder/coding/codingerror.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "encoder/control/startup.h"
#include "encoder/control/units.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/pass2.h"
#include "encoder/passes/passhooks.h"
#include "encoder/passes/vbvcheck.h"
#include "platform/pool.h"
#include "platform/thread.h"
#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {

constexpr int counts[] = {1, 2, 3, 8};

std::thread::id hookthread;  // where the coding error hook was called
void hook(const char*) { hookthread = std::this_thread::get_id(); }

// The natural picture with a hard cut at frame 17 (an inverted, shifted scene).
picturefn cutpicture() {
  return [](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    naturalpicture()(f < 17 ? f : f + 500, y, u, v);
    if (f >= 17)
      for (int i = 0; i < settings.lumasize; ++i) y[i] = uint8_t(255 - y[i]);
  };
}

class threadpasses : public coderun {
 protected:
  std::string dbs;

  void TearDown() override {
    std::fill(std::begin(vbvtable), std::end(vbvtable), 0);
    passprobe = nullptr;
    passafter = nullptr;
    gopretryprobe = nullptr;
    ringsourceahead = false;
    endreadahead();
    streambitslimit = 16 * 1048576;
    setpoolthreads(0);
    coderun::TearDown();
  }

  // A two-pass run's settings (the first pass's statistics into KJ01.dbs of the folder).
  void preparetwopass(const runsetup& r, int bframes, int kbitrate) {
    prepare(r);
    dbs = preparestats(bframes, kbitrate, 15000);
  }

  // Both passes; the statistics file as the first pass left it, and the stream.
  void twopasses(const picturefn& pic, std::string& stats, std::string& stream) {
    usesource(pic);
    pass1thread(&statusblock);
    ASSERT_EQ(nextstep.load(), steppass2);
    nextstep = 0;
    std::fflush(unitfile(unitstats));
    stats = readfile(dbs);
    pass2thread(&statusblock);
    usesource(nullptr);
    unitclose(unitstream);
    stream = readfile(m2v);
  }
};

}  // namespace

// A one-pass run stopped before picture 11 and a two-pass run stopped in its second pass
// before picture 14: the same whole GOPs, the same bytes, at every count.
TEST_F(threadpasses, stoppedpassesendonthesamebytes) {
  const runsetup r{.width = 176, .height = 144, .frames = 30, .goplength = 6, .noscd = false};
  std::string one1, two1;
  for (int t : counts) {
    setpoolthreads(t);
    prepare(r);
    settings.bframes = 2;
    passprobe = [](int, int k) {
      if (k == 11) keeprunning = false;
    };
    encode(cutpicture());
    unitclose(unitstream);
    EXPECT_EQ(gopsdone, 1) << t;
    const std::string one = readfile(m2v);
    TearDown();
    SetUp();

    setpoolthreads(t);
    preparetwopass(r, 2, 2000);
    usesource(cutpicture());
    pass1thread(&statusblock);
    ASSERT_EQ(nextstep.load(), steppass2);
    nextstep = 0;
    passprobe = [](int pass, int k) {
      if (pass == 2 && k == 14) keeprunning = false;
    };
    pass2thread(&statusblock);
    unitclose(unitstream);
    const std::string two = readfile(m2v);
    TearDown();
    SetUp();
    ASSERT_FALSE(one.empty());
    ASSERT_FALSE(two.empty());
    if (t == 1) {
      one1 = one;
      two1 = two;
      continue;
    }
    EXPECT_TRUE(one == one1) << t << " threads, one pass";
    EXPECT_TRUE(two == two1) << t << " threads, two passes";
  }
}

// Two passes at each speed profile: the statistics stream between them and the stream.
TEST_F(threadpasses, statisticsstreamandsecondpassateveryprofile) {
  const runsetup r{.width = 176, .height = 144, .frames = 30, .goplength = 12, .noscd = false};
  for (int profile : {1, 2, 4}) {
    std::string stats1, stream1;
    for (int t : counts) {
      setpoolthreads(t);
      preparetwopass(r, 2, 1500);
      settings.profile = profile;
      std::string stats, stream;
      twopasses(cutpicture(), stats, stream);
      EXPECT_EQ(nextstep.load(), stepdone);
      TearDown();
      SetUp();
      ASSERT_GT(stats.size(), 100u);
      if (t == 1) {
        stats1 = stats;
        stream1 = stream;
        continue;
      }
      EXPECT_TRUE(stats == stats1) << "profile " << profile << ", " << t << " threads: statistics";
      EXPECT_TRUE(stream == stream1) << "profile " << profile << ", " << t << " threads: stream";
    }
  }
}

// A statistics stream cut short after its second record, and one that is noise from its fourth
// record on:
// with several threads the second pass reads the coming GOPs' records ahead of its coding, yet
// it ends where one thread ends, with the same error in the log, the same step and the same
// whole GOPs in the stream.
TEST_F(threadpasses, adamagedstatisticsstreamendsthesecondpasswhereonethreaddoes) {
  const runsetup r{
      .width = 352, .height = 288, .frames = 60, .goplength = 12, .noscd = false, .logfile = true};
  for (const char* damage : {"cut", "noise"}) {
    std::string stream1, said1;
    for (int t : {1, 3, 8}) {
      SCOPED_TRACE(std::string(damage) + ", " + std::to_string(t) + " threads");
      setpoolthreads(t);
      preparetwopass(r, 2, 1500);
      usesource(cutpicture());
      pass1thread(&statusblock);
      ASSERT_EQ(nextstep.load(), steppass2);
      nextstep = 0;
      unitclose(unitstats);
      std::string stats = readfile(dbs);
      ASSERT_GE(stats.size(), 5u * 8192);
      if (std::string(damage) == "cut") {
        stats.resize(2 * 8192 + 100);
      } else {
        std::mt19937 rng(5);
        for (size_t i = 3 * 8192; i < stats.size(); ++i) stats[i] = char(rng());
      }
      writefile(dbs, stats);
      ASSERT_TRUE(unitopen(unitstats, dbs, unitupdate));
      pass2thread(&statusblock);
      usesource(nullptr);
      EXPECT_TRUE(errorflag.load());
      EXPECT_EQ(nextstep.load(), steperror);
      unitclose(unitstream);
      unitclose(unitlog);
      const std::string stream = readfile(m2v);
      std::string why;
      const bool clean = stream.empty() || decodesclean(m2v, &why);
      std::string said;  // the log's warnings and errors, in order
      const std::string log = readfile(dir + "/out.log");
      for (size_t at = 0, end; at < log.size(); at = end + 1) {
        end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        const std::string line = log.substr(at, end - at);
        if (line.find("WARNING") != std::string::npos || line.find("ERROR") != std::string::npos)
          said += line + "\n";
      }
      TearDown();
      SetUp();
      EXPECT_NE(said.find(" *** ERROR, can't read from dbs file, aborting..."), std::string::npos)
          << said;
      if (t == 1) {
        stream1 = stream;
        said1 = said;
        ASSERT_FALSE(stream.empty());  // whole GOPs came before the damage
        EXPECT_TRUE(clean) << why;
        continue;
      }
      EXPECT_TRUE(stream == stream1) << stream.size() << " bytes against " << stream1.size();
      EXPECT_EQ(said, said1);
    }
  }
}

// A second pass that codes pictures again (too large for a lowered limit, up to twice each)
// and GOPs again (each GOP rejected twice, its first try at raised quantisers): the same
// stream at every count.
TEST_F(threadpasses, recodedpicturesandgops) {
  const runsetup r{.width = 176, .height = 144, .frames = 12, .goplength = 6};
  std::string stream1;
  for (int t : counts) {
    setpoolthreads(t);
    preparetwopass(r, 2, 6000);
    int picturecodings = 0, rejects = 0;
    std::map<int, int> tries;
    passprobe = [](int pass, int) {
      if (pass == 2) picbytelimit = 2500.0f;
    };
    passafter = [&](int pass, int, const pictargs& a) {
      if (pass != 2) return;
      ++picturecodings;
      if (retrycount == 0) picqfactors[std::min(a.curslot + 1, maxgoplength)] = 1.7f;
    };
    gopretryprobe = [&](int gop, bool last) {
      if (last || ++tries[gop] > 2) return;
      ++rejects;
      rollbackgop(gopsnapshot);
      retrycount += 1;
    };
    std::string stats, stream;
    twopasses(noisepicture(), stats, stream);
    EXPECT_EQ(nextstep.load(), stepdone);
    EXPECT_EQ(rejects, 4) << t;
    EXPECT_GT(picturecodings, 3 * 12) << t << ": no picture was coded again for its size";
    TearDown();
    SetUp();
    if (t == 1) {
      stream1 = stream;
      continue;
    }
    EXPECT_TRUE(stream == stream1) << t << " threads";
  }
}

// Held under a maximum bitrate: noise at quantiser 2 in the constant-quantiser loop under
// 1,500 kbit/s, and a second pass planned at 1,200 kbit/s under the same maximum. The VBV check
// and the maximum-bitrate retry code GOPs again (more codings than pictures): the same stream at
// every count.
TEST_F(threadpasses, gopscodedagainunderamaximumbitrate) {
  const runsetup r{.width = 176, .height = 144, .frames = 24, .goplength = 12};
  auto limits = [] {
    settingsrec& st = settings;
    st.maxbitrate = 1500 * 1000;
    st.profile = 2;
    initheaders();  // bit_rate_value of the maximum
    const int sizes[4] = {0, 1835008, 7340032, 9781248};
    for (int l = 1; l <= 3; ++l) vbvtable[l] = int(std::lround(float(sizes[l]) * 0.95f));
  };
  std::string cq1, two1;
  for (int t : counts) {
    setpoolthreads(t);
    prepare(r);
    settings.cqmode = false;
    settings.cqmbrmode = true;
    settings.cqmbrvalue = 2.0f;
    settings.bframes = 2;
    limits();
    int codings = 0;
    passprobe = [&](int, int) { ++codings; };
    encode(noisepicture());
    EXPECT_EQ(nextstep.load(), stepdone) << t;
    EXPECT_GT(codings, 24) << t << ": no GOP was coded again";
    unitclose(unitstream);
    const std::string cq = readfile(m2v);
    TearDown();
    SetUp();

    setpoolthreads(t);
    preparetwopass(r, 2, 1200);
    limits();
    codings = 0;
    std::string stats, two;
    passprobe = [&](int pass, int) { codings += pass == 2; };
    twopasses(noisepicture(), stats, two);
    EXPECT_EQ(nextstep.load(), stepdone) << t;
    EXPECT_GT(codings, 24) << t << ": no GOP of the second pass was coded again";
    TearDown();
    SetUp();
    if (t == 1) {
      cq1 = cq;
      two1 = two;
      continue;
    }
    EXPECT_TRUE(cq == cq1) << t << " threads, constant quantiser under the maximum";
    EXPECT_TRUE(two == two1) << t << " threads, second pass under the maximum";
  }
}

// A picture too large for the bit buffers (held at their starting size), met in the rows that
// the coding threads code: the run ends in the same picture with the same error and step as
// with one thread (raised on the pass thread), and the stream holds the same GOPs.
TEST_F(threadpasses, acodingerrorinarowendstherunasonethreaddoes) {
  const runsetup r{.width = 1920, .height = 1080, .frames = 4, .goplength = 2, .cq = 1.0f};
  const picturefn flat = flatpicture(100, 128, 128), noise = noisepicture();
  std::string stream1, text1;
  int gops1 = -1, pictures1 = -1;
  for (int t : counts) {
    setpoolthreads(t);
    prepare(r);
    streambitslimit = streambitsbytes;  // 2 MB: a picture of noise at quantiser 1 needs more
    int pictures = 0;
    passprobe = [&](int, int k) { pictures = k; };
    hookthread = {};
    setcodingerrorhook(hook);
    testing::internal::CaptureStderr();
    encode([&](int f, uint8_t* y, uint8_t* u, uint8_t* v) { (f < 2 ? flat : noise)(f, y, u, v); });
    testing::internal::GetCapturedStderr();
    setcodingerrorhook(nullptr);
    EXPECT_EQ(hookthread, std::this_thread::get_id()) << t << ": the error reached the hook "
                                                         "elsewhere than on the pass thread";
    unitclose(unitstream);
    EXPECT_EQ(nextstep.load(), steperror) << t;
    EXPECT_TRUE(errorflag.load()) << t;
    const std::string text = codingerrortext();
    const std::string stream = readfile(m2v);
    const int gops = gopsdone;
    TearDown();
    SetUp();
    if (t == 1) {
      stream1 = stream;
      text1 = text;
      gops1 = gops;
      pictures1 = pictures;
      EXPECT_EQ(text, " *** ERROR, not enough memory for the bits of a picture, aborting...");
      EXPECT_EQ(pictures, 3);
      EXPECT_EQ(gops, 1);
      continue;
    }
    EXPECT_EQ(text, text1) << t;
    EXPECT_EQ(gops, gops1) << t;
    EXPECT_EQ(pictures, pictures1) << t;
    EXPECT_TRUE(stream == stream1) << t;
  }
}

// Frames read ahead on the worker's frame reader, with frames 0, 5 and 23 not delivered: the
// stream, the reports in the log, the count of replaced frames and the frames asked for are
// those of one thread reading frame by frame; no frame is asked for twice.
TEST_F(threadpasses, framesreadaheadgivewhatonethreadreads) {
  const runsetup r{.width = 176, .height = 144, .frames = 40, .goplength = 6, .noscd = false,
                   .logfile = true};
  std::string stream1, log1;
  int substituted1 = -1;
  for (int t : counts) {
    setpoolthreads(t);
    prepare(r);
    settings.bframes = 1;
    std::mutex m;
    std::vector<int> asked;
    const picturefn pic = cutpicture();
    ringsource = [&](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
      {
        std::lock_guard<std::mutex> g(m);
        asked.push_back(f);
      }
      if (f == 0 || f == 5 || f == 23) return 6;
      pic(f, y, u, v);
      return 0;
    };
    ringsourceahead = true;
    startworker([] { pass1thread(&statusblock); });
    joinworker();  // the worker's end ends its reader
    ringsource = nullptr;
    EXPECT_EQ(nextstep.load(), stepdone) << t;
    unitclose(unitstream);
    unitclose(unitlog);
    const std::string stream = readfile(m2v);
    const std::string log = readfile(dir + "/out.log");
    const int substituted = substitutedframes.load();
    std::vector<int> want(40);
    for (int f = 0; f < 40; ++f) want[size_t(f)] = f;
    EXPECT_EQ(asked, want) << t;
    TearDown();
    SetUp();
    if (t == 1) {
      stream1 = stream;
      log1 = log;
      substituted1 = substituted;
      EXPECT_EQ(substituted, 3);
      continue;
    }
    EXPECT_TRUE(stream == stream1) << t;
    EXPECT_EQ(substituted, substituted1) << t;
    const auto reports = [](const std::string& l) {
      std::vector<std::string> v;
      for (size_t at = l.find(" pass 1, "); at != std::string::npos; at = l.find(" pass 1, ", at + 1))
        v.push_back(l.substr(at, l.find('\n', at) - at));
      return v;
    };
    EXPECT_EQ(reports(log), reports(log1)) << t;
    EXPECT_EQ(reports(log).size(), 3u);
  }
}

// Suspended before picture 9 (at the picture gate), or while the frame reader reads frame 20
// (the fill may be waiting for it): with several threads the worker parks at its gate, its
// frame reader asks for no frame while it is suspended, the pass's time leaves the pause out,
// and after the resume the stream is the one a run without the pause writes.
TEST_F(threadpasses, asuspendedpassholdsitsreader) {
  const runsetup r{.width = 176, .height = 144, .frames = 60, .goplength = 6};
  std::string plain;
  for (int pause : {0, 1, 2}) {
    setpoolthreads(4);
    prepare(r);
    settings.bframes = 2;
    std::atomic<int> asked{0};
    std::atomic<bool> reached{false};
    const picturefn pic = naturalpicture();
    ringsource = [&](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
      asked++;
      if (pause == 2 && f == 20) {
        reached = true;
        suspendworker();
      }
      pic(f, y, u, v);
      return 0;
    };
    ringsourceahead = true;
    if (pause == 1)
      passprobe = [&](int, int k) {
        if (k == 9) {
          reached = true;
          suspendworker();
        }
      };
    const auto w0 = std::chrono::steady_clock::now();
    startworker([] { pass1thread(&statusblock); });
    if (pause) {
      const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!(reached && workerparked()) && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      EXPECT_TRUE(workerparked()) << pause;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader reaches its gate
      const int held = asked;
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
      EXPECT_EQ(asked.load(), held) << pause;
      EXPECT_LT(held, 60) << pause;
      resumeworker();
    }
    joinworker();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    ringsource = nullptr;
    EXPECT_EQ(nextstep.load(), stepdone);
    EXPECT_EQ(asked.load(), 60);
    if (pause) {
      EXPECT_LT(passclock.passtime, wall - 0.29) << pause;
    }
    unitclose(unitstream);
    const std::string stream = readfile(m2v);
    TearDown();
    SetUp();
    if (!pause) plain = stream;
    else EXPECT_TRUE(stream == plain) << pause;
  }
}
