// The first-pass GOP loop over whole clips: the stream of every picture size the start-up
// takes decodes to exactly the clip's frames, the GOP structure and the quantisers in the
// stream, the counters and per-GOP records, masking and shifting in the decoded pictures, a
// frame the source fails to deliver, the preview at GOP ends, and how the pass ends: step 99
// or 12, a stop from outside, a fatal error whose step 98 stands.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <atomic>
#include <sstream>
#include <thread>

#include "encoder/coding/codingerror.h"
#include "encoder/coding/statstream.h"
#include "encoder/coding/streamwriter.h"
#include "encoder/control/control.h"
#include "encoder/control/framestore.h"
#include "encoder/control/preview.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/passhooks.h"
#include "platform/thread.h"
#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {


class loop : public coderun {
 protected:
  void TearDown() override {
    ringsource = nullptr;
    passprobe = nullptr;
    previewwindow = previewbackend{};
    previewon = false;
    std::fill(std::begin(zonefactors), std::end(zonefactors), 1.0f);
    coderun::TearDown();
  }
  // The run's stream, GOPs without B pictures: decodes cleanly to the GOPs' frames, each GOP
  // an I picture and then P pictures in display (and coding) order; it ends with the end code
  // and its bits are the loop's count.
  void expectwhole(const std::vector<int>& gops, const std::string& what) {
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << what << ": " << why;
    std::vector<std::string> want;
    std::vector<std::pair<int, int>> headers;
    for (int n : gops)
      for (int tr = 0; tr < n; ++tr) {
        want.push_back(tr == 0 ? "I" : "P");
        headers.push_back({tr, tr == 0 ? 1 : 2});
      }
    EXPECT_EQ(probetypes(m2v), want) << what;
    std::vector<uint8_t> s = readbytes(m2v);
    EXPECT_EQ(pictureheaders(s), headers) << what;
    ASSERT_GE(s.size(), 4u);
    EXPECT_EQ(s[s.size() - 1], 0xB7) << what;
    EXPECT_EQ(int64_t(s.size()) * 8, totalbits + 32) << what;
    EXPECT_EQ(int64_t(s.size()) * 8, streambitcount) << what;
  }
};

}  // namespace

// Every picture size the start-up takes: the stream decodes to exactly the clip's frames, in
// GOPs of the GOP length with only the first closed; the counters and per-GOP records agree.
TEST_F(loop, wholeclipsofeverysize) {
  struct c {
    int width, height, frameratecode;
    bool pulldown;
    int frames, gop;
    std::vector<int> gops;
  } cases[] = {
      {720, 576, 3, false, 17, 6, {6, 6, 5}},
      {720, 480, 1, true, 12, 5, {5, 4, 3}},
      {1920, 1080, 4, false, 4, 2, {2, 2}},
  };
  for (const c& t : cases) {
    const std::string what = std::to_string(t.width) + "x" + std::to_string(t.height);
    runsetup r;
    r.width = t.width;
    r.height = t.height;
    r.frameratecode = t.frameratecode;
    r.pulldown = t.pulldown;
    r.frames = t.frames;
    r.goplength = t.gop;
    encodeclip(r, naturalpicture());
    EXPECT_EQ(nextstep.load(), stepdone) << what;
    expectwhole(t.gops, what);
    std::vector<uint8_t> s = readbytes(m2v);
    std::vector<int> closed(t.gops.size(), 0);
    closed[0] = 1;
    EXPECT_EQ(gopclosedflags(s), closed) << what;
    EXPECT_EQ(gopcount, int(t.gops.size())) << what;
    EXPECT_EQ(gopsdone, gopcount) << what;
    EXPECT_EQ(icount, gopcount) << what;
    EXPECT_EQ(pcount, t.frames - gopcount) << what;
    EXPECT_EQ(bcount, 0) << what;
    EXPECT_EQ(settings.gopframe, t.frames) << what;
    EXPECT_DOUBLE_EQ(qsum, 4.0 * t.frames) << what;
    EXPECT_EQ(ringcounters.framesleft, 0) << what;
    int64_t bits = 0;
    for (size_t g = 0; g < t.gops.size(); ++g) {
      EXPECT_EQ(gopstats.frames[g + 1], t.gops[g]) << what;
      EXPECT_GT(gopstats.bits[g + 1], 0) << what;
      EXPECT_EQ(gopstats.bits[g + 1] % 8, 0) << what;
      bits += gopstats.bits[g + 1];
    }
    EXPECT_LE(bits, totalbits) << what;
    EXPECT_GT(gopratemin, 0) << what;
    EXPECT_LE(gopratemin, gopratemax) << what;
    EXPECT_EQ(gopratesum, bits) << what;
    TearDown();
    SetUp();
  }
}

// Clip lengths at the edges: one frame, a 10-frame clip shorter than one GOP, a clip of whole
// GOPs (no empty GOP after the last), closed GOPs, and a chapter frame that starts a closed
// GOP early.
TEST_F(loop, cliplengthsandclosedgops) {
  struct c {
    const char* what;
    int frames, gop;
    bool closedgops;
    int chapter;
    std::vector<int> gops, closed;
  } cases[] = {
      {"one frame", 1, 15, false, -1, {1}, {1}},
      {"ten frames", 10, 15, false, -1, {10}, {1}},
      {"whole GOPs", 12, 6, false, -1, {6, 6}, {1, 0}},
      {"closed GOPs", 12, 5, true, -1, {5, 4, 3}, {1, 1, 1}},
      {"chapter", 14, 6, false, 8, {4, 4, 6}, {1, 0, 1}},
  };
  for (const c& t : cases) {
    runsetup r;
    r.width = 352;
    r.height = 288;
    r.frames = t.frames;
    r.goplength = t.gop;
    r.closedgops = t.closedgops;
    prepare(r);
    if (t.chapter >= 0) chapterflags[t.chapter] = 1;
    encode(naturalpicture());
    if (t.chapter >= 0) chapterflags[t.chapter] = 0;
    unitclose(unitstream);
    expectwhole(t.gops, t.what);
    std::vector<uint8_t> s = readbytes(m2v);
    EXPECT_EQ(gopclosedflags(s), t.closed) << t.what;
    ASSERT_EQ(gopcount, int(t.gops.size())) << t.what;
    for (size_t g = 0; g < t.gops.size(); ++g) EXPECT_EQ(gopstats.frames[g + 1], t.gops[g]);
    TearDown();
    SetUp();
  }
}

// A hard cut with the scene analysis on: the GOP before it ends on the frame before the cut,
// the GOP at the cut is closed, the cut is listed, and every GOP has its class.
TEST_F(loop, scenecutstartsaclosedgop) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 20;
  r.goplength = 12;
  r.noscd = false;
  prepare(r);
  settings.scdfile = true;
  ASSERT_TRUE(unitopen(unitscd, dir + "/out_scd.txt", unitnew));
  encode([](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    const int w = 176, h = 144;
    for (int row = 0; row < h; ++row)
      for (int c = 0; c < w; ++c)
        y[row * w + c] = uint8_t(f < 10 ? 40 + (c + f) % 64 + row / 4 : 220 - (row * 3 + c) % 90);
    std::memset(u, f < 10 ? 110 : 150, w * h / 4);
    std::memset(v, f < 10 ? 140 : 100, w * h / 4);
  });
  unitclose(unitstream);
  unitclose(unitscd);
  expectwhole({10, 10}, "cut");
  EXPECT_EQ(gopclosedflags(readbytes(m2v)), (std::vector<int>{1, 1}));
  ASSERT_EQ(gopcount, 2);
  EXPECT_EQ(gopstats.frames[1], 10);
  EXPECT_EQ(gopstats.frames[2], 10);
  EXPECT_EQ(readfile(dir + "/out_scd.txt"), "      10\n");
  EXPECT_GE(settings.gopclass, 1);
}

// The quantisers of -cq 4 with the P factor 1.5 and the B factor 2: every slice of the I, P
// and B pictures at 4, 6 and 8, and the quantiser sum over the pictures.
TEST_F(loop, quantisersinthestream) {
  runsetup r;
  r.width = 352;
  r.height = 288;
  r.frames = 12;
  r.goplength = 12;
  prepare(r);
  settings.bframes = 2;
  settings.cqpfactor = 1.5f;
  settings.cqbfactor = 2.0f;
  encode(naturalpicture());
  unitclose(unitstream);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  EXPECT_EQ(probetypes(m2v).size(), 12u);
  std::vector<uint8_t> s = readbytes(m2v);
  std::vector<std::pair<int, int>> headers = pictureheaders(s);
  ASSERT_EQ(headers.size(), 12u);
  int seen[4] = {};
  for (int p = 0; p < 12; ++p) {
    const int type = headers[p].second;
    ASSERT_GE(type, 1);
    ASSERT_LE(type, 3);
    seen[type]++;
    std::vector<int> q = slicequants(s, p);
    ASSERT_EQ(q.size(), 18u) << p;
    for (int v : q) EXPECT_EQ(v, 2 + 2 * type) << "picture " << p << " type " << type;
  }
  EXPECT_EQ(seen[1], 1);
  EXPECT_GT(seen[2], 0);
  EXPECT_GT(seen[3], 0);
  EXPECT_EQ(icount, seen[1]);
  EXPECT_EQ(pcount, seen[2]);
  EXPECT_EQ(bcount, seen[3]);
  EXPECT_DOUBLE_EQ(qsum, 4.0 * seen[1] + 6.0 * seen[2] + 8.0 * seen[3]);
}

// The mean zone factor of each GOP over its frames.
TEST_F(loop, zonefactorpergop) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 10;
  r.goplength = 4;
  prepare(r);
  std::fill(std::begin(zonefactors), std::end(zonefactors), 1.0f);
  for (int f = 0; f < 6; ++f) zonefactors[f] = 2.0f;
  zonefactors[9] = 0.5f;
  encode(naturalpicture());
  ASSERT_EQ(gopcount, 3);
  ASSERT_EQ(gopstats.frames[2], 3);  // GOPs of 4, 3 and 3 frames
  EXPECT_FLOAT_EQ(gopstats.zone[1], 2.0f);
  EXPECT_FLOAT_EQ(gopstats.zone[2], 5.0f / 3.0f);
  EXPECT_FLOAT_EQ(gopstats.zone[3], 2.5f / 3.0f);
}

// Masked and shifted source frames as the decoder shows them: rows of known grey, the picture
// moved up by 16 lines, 32 lines masked at the top and 48 at the bottom, chroma likewise in
// half the lines.
TEST_F(loop, maskandshiftinthedecodedpictures) {
  runsetup r;
  r.width = 352;
  r.height = 288;
  r.frames = 3;
  r.goplength = 3;
  r.cq = 1.0f;
  prepare(r);
  settings.maskon = true;
  settings.maskshift[0] = 32;
  settings.maskshift[1] = 48;
  settings.maskshift[2] = 16;
  auto rowgrey = [](int row) { return 40 + (row / 8) * 5; };  // bands of 8 lines
  encode([&](int, uint8_t* y, uint8_t* u, uint8_t* v) {
    for (int row = 0; row < 288; ++row) std::memset(y + row * 352, rowgrey(row), 352);
    for (int row = 0; row < 144; ++row) {
      std::memset(u + row * 176, 60 + row, 176);
      std::memset(v + row * 176, 90, 176);
    }
  });
  unitclose(unitstream);
  std::string why;
  std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
  const size_t fsize = 352 * 288 * 3 / 2;
  ASSERT_EQ(yuv.size(), 3 * fsize) << why;
  for (int f = 0; f < 3; ++f) {
    const uint8_t* y = yuv.data() + f * fsize;
    const uint8_t* u = y + 352 * 288;
    for (int row = 0; row < 288; ++row) {
      int want = row < 32 || row >= 240 ? 16 : rowgrey(row + 16);
      for (int x = 0; x < 352; x += 37)
        ASSERT_NEAR(y[row * 352 + x], want, 2) << "frame " << f << " row " << row;
    }
    for (int row = 0; row < 144; ++row) {
      int want = row < 16 || row >= 120 ? 128 : 60 + row + 8;
      ASSERT_NEAR(u[row * 176 + 5], want, 2) << "frame " << f << " chroma row " << row;
    }
  }
}

// A frame the source fails to deliver is coded as a repeat of the frame before.
TEST_F(loop, failedframerepeatsthepreviousone) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 6;
  r.goplength = 3;
  r.cq = 1.0f;
  prepare(r);
  picturefn pic = naturalpicture();
  ringsource = [&](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    if (f == 4) return 6;
    pic(f, y, u, v);
    return 0;
  };
  pass1thread(&statusblock);
  unitclose(unitstream);
  EXPECT_EQ(nextstep.load(), stepdone);
  std::string why;
  std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
  const size_t fsize = 176 * 144 * 3 / 2;
  ASSERT_EQ(yuv.size(), 6 * fsize) << why;
  auto diff = [&](int a, int b) {
    double s = 0;
    for (size_t i = 0; i < fsize; ++i) s += std::abs(int(yuv[a * fsize + i]) - int(yuv[b * fsize + i]));
    return s / fsize;
  };
  EXPECT_LT(diff(4, 3), 1.0);  // the same picture, coded again (as a P picture)
  EXPECT_GT(diff(3, 2), 2.0);  // the source moves from frame to frame
  EXPECT_GT(diff(5, 4), 2.0);
}

// The preview at GOP ends, at the first GOP end after 30 or more pictures: GOPs of 12 draw
// after the third and the sixth GOP.
TEST_F(loop, previewatgopends) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 80;
  r.goplength = 12;
  prepare(r);
  std::vector<int> drawnat;
  previewwindow.clientsize = [](int& w, int& h) {
    w = 564;
    h = 449;
    return true;
  };
  previewwindow.draw = [&](const uint8_t*, const previewgeometry&) { drawnat.push_back(gopcount); };
  previewon = true;
  encode(flatpicture(100, 120, 140));
  EXPECT_EQ(drawnat, (std::vector<int>{3, 6}));  // GOPs 12 x 5, 10, 10
  EXPECT_EQ(previewcount, 10);
}

// Two passes: the first writes no stream, codes at the quantiser of the settings, leaves its
// per-GOP records and asks for step 12; the statistics file parses back GOP by GOP with the
// GOP shapes, the row words of each picture's frame and a record for every picture.
TEST_F(loop, firstoftwopasses) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 9;
  r.goplength = 4;
  prepare(r);
  settings.passmode = 2;
  const std::string dbs = dir + "/KJ.dbs";
  ASSERT_TRUE(unitopen(unitstats, dbs, unitnew));
  std::vector<std::vector<uint32_t>> rows;  // row words of each frame as the fetch left them
  picturefn pic = naturalpicture();
  encode([&](int f, uint8_t* y, uint8_t* u, uint8_t* v) { pic(f, y, u, v); });
  for (int f = 0; f < 9; ++f) {
    // Frames 0..8 sit in ring entries 1..9 (one fill of a ring of 11).
    rows.emplace_back(framering[f + 1].rowactivity, framering[f + 1].rowactivity + 9);
  }
  EXPECT_GT(readbytes(dbs).size(), 0u);
  ASSERT_TRUE(dbsreadstart());
  const int lengths[3] = {4, 3, 2};
  int first = 0;
  for (int g = 0; g < 3; ++g) {
    gopstatrecord rec;
    ASSERT_TRUE(readgopunit(rec)) << "GOP " << g + 1;
    EXPECT_EQ(rec.n, lengths[g]);
    EXPECT_EQ(rec.b, 0);
    EXPECT_EQ(rec.closed, g == 0 ? 1 : 0);
    EXPECT_GE(rec.gopclass, 1);
    EXPECT_LE(rec.gopclass, 32);
    for (int k = 1; k <= rec.n; ++k) {
      EXPECT_EQ(rec.types[k], k == 1 ? 1 : 2);
      EXPECT_EQ(rec.trefs[rec.order[k]], k - 1);
      for (int row = 0; row < 9; ++row)
        EXPECT_EQ(uint32_t(rec.rowactivity[k][row]), rows[first + k - 1][row])
            << "GOP " << g + 1 << " picture " << k << " row " << row;
    }
    first += rec.n;
  }
  EXPECT_FALSE(dbsfailed());
  EXPECT_EQ(nextstep.load(), steppass2);
  EXPECT_FALSE(settings.streamout);
  EXPECT_TRUE(settings.writestats);
  EXPECT_TRUE(readbytes(m2v).empty());
  EXPECT_EQ(gopcount, 3);
  EXPECT_EQ(gopstats.frames[3], 2);  // 4, 3, 2
  for (int g = 1; g <= 3; ++g) EXPECT_GT(gopstats.bits[g], 0) << g;
  EXPECT_EQ(gopratesum, 0);  // bitrates only in a pass that writes the stream
  EXPECT_EQ(gopratemax, 0);
  EXPECT_DOUBLE_EQ(qsum, 36.0);
}

// A run stopped from outside ends at the next picture without a step; the GOPs coded before
// are in the stream, which decodes cleanly up to there; a run stopped in its first GOP leaves
// an empty stream.
TEST_F(loop, stoppedrunkeepswholegops) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 12;
  r.goplength = 3;
  prepare(r);
  int last = 0;
  passprobe = [&](int, int k) {
    last = k;
    if (k == 8) keeprunning = false;
  };
  encode(naturalpicture());
  unitclose(unitstream);
  EXPECT_EQ(last, 8);
  EXPECT_EQ(nextstep.load(), 0);
  EXPECT_EQ(gopsdone, 2);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  EXPECT_EQ(probetypes(m2v).size(), 6u);

  // Stopped in its first GOP: nothing was done, and the stream stays empty.
  TearDown();
  SetUp();
  prepare(r);
  passprobe = [&](int, int k) {
    if (k == 2) keeprunning = false;
  };
  encode(naturalpicture());
  unitclose(unitstream);
  EXPECT_EQ(gopsdone, 0);
  EXPECT_TRUE(readbytes(m2v).empty());
}

// Suspended on the worker thread, the pass stops before its next picture and goes on from
// there when resumed.
TEST_F(loop, suspendedpasswaitsatthenextpicture) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 9;
  r.goplength = 3;
  prepare(r);
  std::atomic<int> last{0};
  passprobe = [&](int, int k) {
    last = k;
    if (k == 4) suspendworker();
  };
  usesource(naturalpicture());
  startworker([] { pass1thread(&statusblock); });
  while (!workerparked()) std::this_thread::yield();
  EXPECT_EQ(last.load(), 4);
  const int32_t coded = icount + pcount + bcount;
  EXPECT_EQ(coded, 3);  // picture 4 waits for the resume
  resumeworker();
  joinworker();
  usesource(nullptr);
  EXPECT_EQ(last.load(), 9);
  EXPECT_EQ(icount + pcount + bcount, 9);
  EXPECT_EQ(nextstep.load(), stepdone);
}

// A fatal coding error in the middle of a GOP: the run ends through step 98, the loop codes
// nothing more and never overwrites that step.
TEST_F(loop, fatalerrorstepstands) {
  runsetup r;
  r.width = 176;
  r.height = 144;
  r.frames = 12;
  r.goplength = 4;
  prepare(r);
  int last = 0;
  passprobe = [&](int, int k) {
    last = k;
    if (k == 6) codingerror("*** INTERNAL ERROR ***  | routine putmv1 - invalid motion vector");
  };
  testing::internal::CaptureStderr();
  encode(naturalpicture());
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(last, 6);
  EXPECT_TRUE(errorflag);
  EXPECT_EQ(nextstep.load(), steperror);
  EXPECT_EQ(gopsdone, 1);
  EXPECT_NE(err.find("invalid motion vector"), std::string::npos);
}
