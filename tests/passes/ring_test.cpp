// The frame ring: the read-ahead counters and what the fill reads, the per-frame figures, a
// frame the source fails to deliver, a stopped run, the second pass's fill, the mask and shift
// against a model of whole rows, and the spare picture of the re-coding loops.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "encoder/control/control.h"
#include "encoder/control/framestore.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/pass1.h"
#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {

// A frame whose every sample tells the frame, plane and position (seeded noise on top).
void tagged(int frame, uint8_t* y, uint8_t* u, uint8_t* v) {
  const int w = settings.width, h = settings.displayheight;
  uint32_t seed = 977u * uint32_t(frame) + 1u;
  for (int i = 0; i < w * h; ++i) {
    seed = seed * 1664525u + 1013904223u;
    y[i] = uint8_t(frame * 7 + (i % w) + (seed >> 28));
  }
  for (int i = 0; i < w * h / 4; ++i) {
    u[i] = uint8_t(frame * 3 + i % 11);
    v[i] = uint8_t(200 - frame * 5 - i % 13);
  }
}

class ring : public coderun {
 protected:
  std::vector<int> asked;  // frames the source was asked for
  void SetUp() override {
    coderun::SetUp();
    ringsource = [this](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
      asked.push_back(f);
      tagged(f, y, u, v);
      return 0;
    };
  }
  void TearDown() override {
    ringsource = nullptr;
    coderun::TearDown();
  }
  // A run of `frames` frames at 64x48 with GOPs of `gop` (ring 2 x gop + 3).
  void small(int frames, int gop, int width = 64, int height = 48) {
    runsetup r;
    r.width = width;
    r.height = height;
    r.frames = frames;
    r.goplength = gop;
    r.logfile = true;
    prepare(r);
    firstfetch = true;
    initpass();
  }
};

uint32_t sadof(const uint8_t* a, const uint8_t* b, int n) {
  uint32_t s = 0;
  for (int i = 0; i < n; ++i) s += uint32_t(std::abs(int(a[i]) - int(b[i])));
  return s;
}

}  // namespace

// initpass: the table of starting values (range 3..32 of the source).
TEST_F(ring, initpassstartsthecounters) {
  small(40, 5);
  settings.firstframe = 3;
  settings.lastframe = 32;
  settings.framecount = 30;
  ringcounters.closedflag = 0;
  initpass();
  const ringcountersrec& rc = ringcounters;
  EXPECT_EQ(rc.lastframe, 32);
  EXPECT_EQ(rc.nextframe, 3);
  EXPECT_EQ(rc.producer, 1);
  EXPECT_EQ(rc.consumer, 13);
  EXPECT_EQ(rc.framesleft, 30);
  EXPECT_EQ(rc.nextcode, 3);
  EXPECT_EQ(rc.closedflag, 1);
}

// The first fill reads ringsize - 1 frames, never the consumer's entry; a refill goes round
// the end of the ring up to the entry before the consumer; a short clip stops at its end.
TEST_F(ring, fillreadsuptotheconsumer) {
  small(40, 5);  // ring of 13
  EXPECT_EQ(fillpass1(), 12);
  EXPECT_EQ(ringcounters.producer, 13);
  EXPECT_EQ(ringcounters.nextframe, 12);
  for (int k = 1; k <= 12; ++k) EXPECT_EQ(framering[k].framenumber, k - 1) << k;
  EXPECT_EQ(fillpass1(), 0);  // nothing released yet
  ringcounters.consumer = 5;
  EXPECT_EQ(fillpass1(), 5);  // entries 13, 1, 2, 3, 4
  EXPECT_EQ(ringcounters.producer, 5);
  EXPECT_EQ(framering[13].framenumber, 12);
  EXPECT_EQ(framering[4].framenumber, 16);
  EXPECT_EQ(asked.size(), 17u);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(asked[i], i);

  asked.clear();
  small(4, 5);
  EXPECT_EQ(fillpass1(), 4);
  ringcounters.consumer = 3;
  EXPECT_EQ(fillpass1(), 0);
  EXPECT_EQ(asked.size(), 4u);
}

// The figures of each frame: the first is compared with itself, later ones with the entry
// before (also across the end of the ring); the row words and the luma sum against sums
// computed here; framelumasum by frame number.
TEST_F(ring, figuresofeachframe) {
  small(20, 2);  // ring of 7
  fillpass1();
  EXPECT_EQ(framering[1].lumasad, 0u);
  EXPECT_EQ(framering[1].usad, 0u);
  EXPECT_EQ(framering[1].vsad, 0u);
  ringcounters.consumer = 3;
  fillpass1();  // entries 7, 1, 2
  const settingsrec& st = settings;
  struct c {
    int p, q;
  } pairs[] = {{2, 1}, {6, 5}, {7, 6}, {1, 7}, {2, 1}};
  for (const c& t : pairs) {
    const ringentry& e = framering[t.p];
    EXPECT_EQ(e.lumasad, sadof(ringplane(t.p, 0), ringplane(t.q, 0), st.lumasize)) << t.p;
    EXPECT_EQ(e.usad, sadof(ringplane(t.p, 1), ringplane(t.q, 1), st.chromasize)) << t.p;
    EXPECT_EQ(e.vsad, sadof(ringplane(t.p, 2), ringplane(t.q, 2), st.chromasize)) << t.p;
  }
  for (int p = 1; p <= 7; ++p) {
    const uint8_t* y = ringplane(p, 0);
    uint32_t total = 0;
    for (int row = 0; row < st.mbrows; ++row) {
      uint32_t want = 0;
      for (int mb = 0; mb < st.mbcols; ++mb) {
        uint32_t s = 0, q = 0;
        for (int k = 0; k < 256; ++k) {
          uint32_t v = y[(16 * row + k / 16) * st.width + 16 * mb + k % 16];
          s += v;
          q += v * v;
        }
        total += s;
        want += (q - (s / 16) * (s / 16)) / 256;
        const mbfigures& f = ringmbfigures[p][row * st.mbcols + mb];
        EXPECT_EQ(f.lumasum, s);
        EXPECT_EQ(f.activity, q - (s / 16) * (s / 16));
      }
      EXPECT_EQ(framering[p].rowactivity[row], want) << p << " row " << row;
    }
    EXPECT_EQ(framering[p].lumasum, total) << p;
    EXPECT_EQ(framelumasum[framering[p].framenumber], int32_t(total)) << p;
  }
}

// A frame the source cannot deliver: the message in the status line (80 columns, the number
// in columns 35 to 42) and the log, and the entry holds a copy of the frame before; a first
// frame that fails is the fill colour.
TEST_F(ring, failedframeisacopyoftheonebefore) {
  small(6, 2);
  showwindow = true;
  ringsource = [](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    if (f == 0 || f == 3) return 6;
    tagged(f, y, u, v);
    return 0;
  };
  std::memset(ringplane(4, 0), 99, size_t(settings.lumasize));  // an old frame in entry 4
  fillpass1();
  const settingsrec& st = settings;
  EXPECT_EQ(std::memcmp(ringplane(4, 0), ringplane(3, 0), size_t(st.lumasize)), 0);
  EXPECT_EQ(std::memcmp(ringplane(4, 1), ringplane(3, 1), size_t(st.chromasize)), 0);
  EXPECT_EQ(std::memcmp(ringplane(4, 2), ringplane(3, 2), size_t(st.chromasize)), 0);
  EXPECT_EQ(framering[4].lumasad, 0u);
  for (int i = 0; i < st.lumasize; ++i) ASSERT_EQ(ringplane(1, 0)[i], 16) << i;
  for (int i = 0; i < st.chromasize; ++i) ASSERT_EQ(ringplane(1, 1)[i], 128) << i;
  std::string line = getstatusline().substr(0, 80);
  EXPECT_EQ(line, std::string(" pass 1, Avisynth error in frame         3") + std::string(38, ' '));
  unitclose(unitlog);
  EXPECT_EQ(readfile(dir + "/out.log"),
            " pass 1, Avisynth error in frame         0\n"
            " pass 1, Avisynth error in frame         3\n");
}

// A stopped run asks the source for nothing more; the second pass fills without figures.
TEST_F(ring, stoppedrunandsecondpassfill) {
  small(10, 2);
  keeprunning = false;
  EXPECT_EQ(fillpass1(), 6);
  EXPECT_TRUE(asked.empty());
  keeprunning = true;

  small(10, 2);
  settings.maskon = true;
  settings.maskshift[0] = 16;
  for (int k = 1; k <= 7; ++k) framering[k].framenumber = -5;
  fetchpass2();
  EXPECT_EQ(asked, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(ringcounters.producer, 7);
  for (int k = 1; k <= 6; ++k) {
    EXPECT_EQ(framering[k].framenumber, -5);
    EXPECT_EQ(ringplane(k, 0)[16 * 64 - 1], 16);  // masked
    EXPECT_EQ(ringplane(k, 1)[8 * 32 - 1], 128);
  }
  ringcounters.consumer = 2;
  fetchpass2();
  EXPECT_EQ(asked.size(), 8u);  // entries 7 and 1
  EXPECT_EQ(ringcounters.producer, 2);
}

// Mask and shift: every case against a model that moves and fills whole rows, luma by the
// given lines and chroma by half of them (truncated), everything clamped to the plane. The
// whole entry and its neighbours are compared, so a byte written past a plane shows.
TEST_F(ring, maskandshiftinwholerows) {
  small(1, 1, 64, 48);  // chroma 32 x 24
  struct c {
    int top, bottom, shift;
  } cases[] = {{0, 0, 0},   {0, 0, 4},     {0, 0, -4},  {0, 0, 3},   {0, 0, -7},
               {0, 0, 48},  {0, 0, 500},   {0, 0, -500}, {5, 7, 0},  {1000, 0, 0},
               {0, 1000, 0}, {3, 9, -6},   {20, 20, 2},  {-4, -9, 0}, {47, 0, -1}};
  const settingsrec& st = settings;
  const int w = st.width, h = st.height, cw = st.chromawidth, ch = st.chromaheight;
  auto fillentry = [&](int e) {
    for (int p = 0; p < 3; ++p) {
      const int pw = p ? cw : w, ph = p ? ch : h;
      for (int r = 0; r < ph; ++r)
        for (int x = 0; x < pw; ++x) ringplane(e, p)[r * pw + x] = uint8_t(20 + r + 3 * p + (x & 1));
    }
  };
  for (const c& t : cases) {
    for (int e = 1; e <= st.ringsize; ++e) fillentry(e);
    settings.maskshift[0] = t.top;
    settings.maskshift[1] = t.bottom;
    settings.maskshift[2] = t.shift;
    shiftframe(ringplane(2, 0), ringplane(2, 1), ringplane(2, 2));
    for (int p = 0; p < 3; ++p) {
      const int pw = p ? cw : w, ph = p ? ch : h;
      const int div = p ? 2 : 1;
      const int s = t.shift / div;  // truncated toward zero
      const int top = std::max(t.top, 0) / div, bottom = std::max(t.bottom, 0) / div;
      const uint8_t fill = st.fillbytes[p];
      for (int r = 0; r < ph; ++r) {
        const int from = r + s;
        for (int x = 0; x < pw; ++x) {
          int want = from >= 0 && from < ph ? 20 + from + 3 * p + (x & 1) : fill;
          if (r < top || r >= ph - bottom) want = fill;
          ASSERT_EQ(ringplane(2, p)[r * pw + x], want)
              << "top " << t.top << " bottom " << t.bottom << " shift " << t.shift << " plane "
              << p << " row " << r;
        }
      }
      for (int e : {1, 3})
        for (int r = 0; r < ph; ++r)
          ASSERT_EQ(ringplane(e, p)[r * pw], 20 + r + 3 * p) << "entry " << e << " touched";
    }
  }
}

// The spare slot keeps the newest reference picture across a re-coded GOP.
TEST_F(ring, saveandrestorethenewestreference) {
  small(4, 3);  // slots 1..4, the spare is 4
  const settingsrec& st = settings;
  newref = 2;
  for (int p = 0; p < 3; ++p)
    for (int i = 0; i < (p ? st.chromasize : st.lumasize); ++i) reconplane(2, p)[i] = uint8_t(i * 7 + p);
  saveframe();
  for (int p = 0; p < 3; ++p) {
    const int n = p ? st.chromasize : st.lumasize;
    EXPECT_EQ(std::memcmp(reconplane(4, p), reconplane(2, p), size_t(n)), 0) << p;
    std::memset(reconplane(2, p), 1, size_t(n));
  }
  restoreframe();
  for (int p = 0; p < 3; ++p)
    for (int i = 0; i < (p ? st.chromasize : st.lumasize); ++i)
      ASSERT_EQ(reconplane(2, p)[i], uint8_t(i * 7 + p)) << p << " " << i;
  EXPECT_EQ(reconplane(1, 0)[0], 0);  // the other slots untouched
  EXPECT_EQ(reconplane(3, 0)[0], 0);
}
