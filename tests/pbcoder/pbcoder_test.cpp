// The P and B picture coders through the pass loops: streams that decode cleanly and
// match the encoder's own reconstruction (open GOPs of two and three pictures included), the
// skip rules of both picture types, forced-intra pictures, interlaced macroblock fields, and
// streams independent of the processor level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "encoder/coding/headers.h"
#include "encoder/coding/ipicture.h"
#include "encoder/coding/pbpicture.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/quantmap.h"
#include "encoder/coding/scantables.h"
#include "encoder/coding/statstream.h"
#include "encoder/coding/transform.h"
#include "encoder/coding/vlctables.h"
#include "encoder/control/control.h"
#include "encoder/control/framestore.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "encoder/passes/passhooks.h"
#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {

// One picture as the encoder reconstructed it (Y, U, V back to back, width x height).
using picture = std::vector<uint8_t>;

struct codedpicture {
  int type = 0;
  int frame = 0;  // display number in the clip
  std::vector<mbrecord> mbs;
  int32_t mecostflag = 0;
};

// The reconstruction of a B picture, which the coder does not keep: every macroblock again
// through the block kernels with reconstruction into a block, as its decision says. Must run
// before the next picture overwrites the prediction and residual planes.
picture reconstructb(const pictargs& a) {
  const settingsrec& st = settings;
  const picslot& sl = picslots[a.curslot];
  picture out(size_t(st.lumasize + 2 * st.chromasize));
  uint8_t* planes[3] = {out.data(), out.data() + st.lumasize,
                        out.data() + st.lumasize + st.chromasize};
  alignas(16) int16_t levels[64];
  alignas(16) uint8_t block[64];
  int m = 1;
  for (int y = 0; y < st.height; y += 16)
    for (int x = 0; x < st.width; x += 16, ++m) {
      const mbrecord& mb = sl.mbs[m];
      const int code = rowquant[3][y / 16 + 1];
      const int q = nonlinearqscale[code];
      for (int b = 0; b < 6; ++b) {
        const int c = b < 4 ? 0 : b - 3;
        const int bx = c ? x / 2 : x + 8 * (b & 1), by = c ? y / 2 : y + 8 * (b >> 1);
        const int stride = c ? st.chromawidth : st.width;
        const uint8_t* src = c == 0 ? a.cury : c == 1 ? a.curu : a.curv;
        if (mb.blockclass == 1) {
          intrablock_c(src, bx, by, stride, levels, quantmatrices.intra, quantrecip.intra, q,
                       st.dcprec, block, 1);
        } else {
          const int16_t* res = c == 0 ? a.resy : c == 1 ? a.resu : a.resv;
          const uint8_t* pred = c == 0 ? a.predy : c == 1 ? a.predu : a.predv;
          uint8_t cbp = 0;
          interblock_c(res, pred, bx, by, stride, levels, quantmatrices.nonintra,
                       quantrecip.nonintra, q, 0, &cbp, block, 1);
        }
        for (int r = 0; r < 8; ++r) std::memcpy(planes[c] + (by + r) * stride + bx, block + 8 * r, 8);
      }
    }
  return out;
}

picture slotpicture(int slot) {
  const settingsrec& st = settings;
  picture out(size_t(st.lumasize + 2 * st.chromasize));
  std::memcpy(out.data(), reconplane(slot, 0), size_t(st.lumasize));
  std::memcpy(out.data() + st.lumasize, reconplane(slot, 1), size_t(st.chromasize));
  std::memcpy(out.data() + st.lumasize + st.chromasize, reconplane(slot, 2), size_t(st.chromasize));
  return out;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double se = 0;
  for (size_t i = 0; i < n; ++i) {
    double d = double(a[i]) - b[i];
    se += d * d;
  }
  return se == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * double(n) / se);
}

// Picture quantiser of the tests' runs, GOP set-up on top of the fixture's.
struct gopsetup {
  const char* what;
  int goplength, bframes, profile, frames;
  bool interlaced;
  bool closed = false;
};

class pbcoder : public coderun {
 protected:
  std::map<int, picture> recon;          // by display frame number
  std::vector<codedpicture> pictures;    // in coding order
  std::set<int> refframes;               // display numbers of the I and P pictures so far
  std::vector<int> wrongrefs;            // B pictures predicted from the wrong pictures
  int gopfirst = 0;

  void watch(bool keeprecon) {
    recon.clear();
    pictures.clear();
    refframes.clear();
    wrongrefs.clear();
    passafter = [this, keeprecon](int, int, const pictargs& a) {
      const settingsrec& st = settings;
      const picslot& sl = picslots[a.curslot];
      codedpicture p;
      p.type = sl.pictype;
      // The display number: the ring entry's distance from the clip's first ring entry.
      p.frame = framenumber(a);
      p.mbs.assign(sl.mbs + 1, sl.mbs + 1 + st.mbcount);
      p.mecostflag = sl.mecostflag;
      if (p.type == 3 && keeprecon) {
        // The references of a B picture: the nearest reference pictures before and after it in
        // display order, as the encoder reconstructed them when they were coded.
        auto after = refframes.upper_bound(p.frame);
        bool ok = after != refframes.end() && after != refframes.begin();
        if (ok) {
          auto before = std::prev(after);
          ok = std::memcmp(a.fwdy, recon[*before].data(), size_t(st.lumasize)) == 0 &&
               std::memcmp(a.bwdy, recon[*after].data(), size_t(st.lumasize)) == 0;
        }
        if (!ok) wrongrefs.push_back(p.frame);
      }
      if (p.type != 3) refframes.insert(p.frame);
      pictures.push_back(std::move(p));
      if (keeprecon) recon[pictures.back().frame] = sl.pictype == 3 ? reconstructb(a) : slotpicture(a.curslot);
    };
  }

  // Frames are fetched in display order into consecutive ring entries; the source frame's
  // number is kept in its first luma sample's neighbourhood by the generator below.
  int framenumber(const pictargs& a) { return lastframe[a.curframe]; }
  std::map<int, int> lastframe;  // ring entry -> frame number

  picturefn tagged(picturefn inner) {
    return [this, inner](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
      inner(f, y, u, v);
      for (int e = 1; e <= settings.ringsize; ++e)
        if (ringplane(e, 0) == y) lastframe[e] = f;
    };
  }

  void run(const gopsetup& g, const picturefn& pic, float cq = 4.0f, int width = 352,
           int height = 288) {
    runsetup r;
    r.width = width;
    r.height = height;
    r.frames = g.frames;
    r.goplength = g.goplength;
    r.interlaced = g.interlaced;
    r.closedgops = g.closed;
    r.cq = cq;
    prepare(r);
    settings.bframes = g.bframes;
    settings.profile = g.profile;
    settings.bppclass = 3;
    encode(tagged(pic));
    unitclose(unitstream);
  }

  void TearDown() override {
    passafter = nullptr;
    coderun::TearDown();
  }
};

// A smooth gradient with texture moving two pixels a frame to the right and one down.
picturefn panning() {
  return [](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    const int w = settings.width, h = settings.displayheight;
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        double t = 40.0 * std::sin((c - 2 * f) * 0.11) * std::cos((r - f) * 0.07) +
                   25.0 * std::sin((c - 2 * f) * 0.031 + (r - f) * 0.023);
        y[r * w + c] = uint8_t(std::clamp(int(std::lround(120 + t + 0.2 * r)), 0, 255));
      }
    for (int r = 0; r < h / 2; ++r)
      for (int c = 0; c < w / 2; ++c) {
        u[r * (w / 2) + c] = uint8_t(110 + ((c - f) / 9) % 20);
        v[r * (w / 2) + c] = uint8_t(140 - ((r + c - f) / 7) % 25);
      }
  };
}

// Noise that changes completely from frame to frame: no prediction helps.
picturefn noise() {
  return [](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    const int w = settings.width, h = settings.displayheight;
    uint32_t seed = 99991u * uint32_t(f + 1);
    auto next = [&seed] {
      seed = seed * 1664525u + 1013904223u;
      return uint8_t(seed >> 24);
    };
    for (int i = 0; i < w * h; ++i) y[i] = next();
    for (int i = 0; i < w * h / 4; ++i) u[i] = next(), v[i] = next();
  };
}

}  // namespace

// Every stream decodes cleanly and every picture, P and B included, decodes within 45 dB of the
// encoder's reconstruction, in every profile, progressive and interlaced, with open GOPs of two
// and three pictures whose leading B pictures predict from the previous GOP's last reference.
TEST_F(pbcoder, decodesasreconstructed) {
  const gopsetup cases[] = {
      {"gop 12 2, profile 2", 12, 2, 2, 15, false},
      {"gop 12 2, profile 1", 12, 2, 1, 15, false},
      {"gop 12 2, profile 4", 12, 2, 4, 15, false},
      {"gop 6 1, profile 3, interlaced", 6, 1, 3, 13, true},
      {"gop 3 2 (open)", 3, 2, 2, 10, false},
      {"gop 3 2 (open), profile 4", 3, 2, 4, 10, false},
      {"gop 2 1 (open)", 2, 1, 2, 9, false},
      {"gop 2 1 (open), profile 1, interlaced", 2, 1, 1, 9, true},
      {"gop 4 2 closed", 4, 2, 2, 9, false, true},
      {"gop 15 0: 14 P pictures in a row", 15, 0, 4, 15, false},
  };
  for (const gopsetup& g : cases) {
    SCOPED_TRACE(g.what);
    watch(true);
    run(g, panning());
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
    const size_t fsize = size_t(settings.lumasize + 2 * settings.chromasize);
    ASSERT_EQ(yuv.size(), size_t(g.frames) * fsize) << why;
    ASSERT_EQ(recon.size(), size_t(g.frames));
    int types[4] = {};
    for (const codedpicture& p : pictures) types[p.type]++;
    EXPECT_GT(types[2] + types[3], 0);
    if (g.bframes) {
      EXPECT_GT(types[3], 0);
    }
    EXPECT_TRUE(wrongrefs.empty()) << "B picture " << (wrongrefs.empty() ? -1 : wrongrefs[0]);
    double lowest = 99.0;
    for (const codedpicture& p : pictures) {
      const double db = psnr(recon[p.frame].data(), yuv.data() + p.frame * fsize, fsize);
      EXPECT_GE(db, 45.0) << "frame " << p.frame << " type " << p.type;
      lowest = std::min(lowest, db);
      // And near the source (luma).
      picture src(fsize);
      panning()(p.frame, src.data(), src.data() + settings.lumasize,
                src.data() + settings.lumasize + settings.chromasize);
      EXPECT_GT(psnr(src.data(), yuv.data() + p.frame * fsize, size_t(settings.lumasize)), 38.0)
          << "frame " << p.frame << " type " << p.type;
    }
    std::printf("%s: %d I, %d P, %d B, %zu bytes, lowest %.1f dB\n", g.what, types[1], types[2],
                types[3], readbytes(m2v).size(), lowest);
    TearDown();
    SetUp();
  }
}

// A flat clip coded I P P P: every P macroblock is skipped except the first and the last of
// each row, which go as motion compensated without blocks with a zero vector; the P pictures
// decode equal to the I picture. At 720 wide the run of 43 skipped macroblocks needs the
// address escape.
TEST_F(pbcoder, flatclipskipsallbuttheedges) {
  for (int profile : {1, 2, 4, 0}) {
    SCOPED_TRACE(profile);
    watch(false);
    if (profile) run({"flat", 4, 0, profile, 4, false}, flatpicture(90, 120, 140));
    else run({"flat", 4, 0, 2, 4, false}, flatpicture(90, 120, 140), 4.0f, 720, 576);
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    ASSERT_EQ(pictures.size(), 4u);
    const int cols = settings.mbcols;
    for (size_t k = 1; k < 4; ++k) {
      ASSERT_EQ(pictures[k].type, 2);
      for (int i = 0; i < settings.mbcount; ++i) {
        const mbrecord& mb = pictures[k].mbs[i];
        const bool edge = i % cols == 0 || i % cols == cols - 1;
        if (edge) {
          EXPECT_EQ(mb.skipflag, 0) << i;
          EXPECT_EQ(mb.mbtype, mbforward) << i;
          EXPECT_EQ(mb.halfmv[0], 0);
          EXPECT_EQ(mb.halfmv[1], 0);
          EXPECT_EQ(mb.cbp, 0);
        } else {
          EXPECT_EQ(mb.skipflag, -1) << i;
          EXPECT_EQ(mb.cbp, 0) << i;
        }
      }
    }
    std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
    const size_t fsize = size_t(settings.lumasize + 2 * settings.chromasize);
    ASSERT_EQ(yuv.size(), 4 * fsize) << why;
    for (int f = 1; f < 4; ++f)
      EXPECT_EQ(std::memcmp(yuv.data(), yuv.data() + f * fsize, fsize), 0) << "frame " << f;
    TearDown();
    SetUp();
  }
}

// Pictures that motion estimation flags as better coded intra: every P and B macroblock of them
// is intra, none skipped, in every profile (each B profile has its own residual coder).
TEST_F(pbcoder, forcedintrapicturesareallintra) {
  for (int profile : {1, 2, 3, 4}) {
    SCOPED_TRACE(profile);
    watch(false);
    run({"noise", 6, 2, profile, 6, false}, noise(), 8.0f);
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    int checked = 0;
    for (const codedpicture& p : pictures) {
      if (p.type == 1) continue;
      EXPECT_EQ(p.mecostflag, -1) << "frame " << p.frame;
      for (const mbrecord& mb : p.mbs) {
        EXPECT_EQ(mb.mbtype, mbintra);
        EXPECT_EQ(mb.blockclass, 1);
        EXPECT_EQ(mb.skipflag, 0);
        EXPECT_EQ(mb.cbp, 63);
      }
      ++checked;
    }
    EXPECT_EQ(checked, 5);
    TearDown();
    SetUp();
  }
}

// B skips: only non-intra macroblocks without coefficients, never the first or the last of a
// row, only after a non-intra macroblock with the same directions and, for each direction used,
// the same vector. Every coded non-intra B macroblock has a direction. P skips have no vector.
TEST_F(pbcoder, skiprules) {
  for (int profile : {1, 2, 4}) {
    SCOPED_TRACE(profile);
    watch(false);
    run({"pan", 6, 2, profile, 7, false}, panning(), 10.0f);
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    const int cols = settings.mbcols;
    int bskips = 0, pskips = 0;
    for (const codedpicture& p : pictures) {
      if (p.type == 1) continue;
      for (int i = 0; i < settings.mbcount; ++i) {
        const mbrecord& mb = p.mbs[i];
        if (p.type == 3 && mb.blockclass != 1) {
          EXPECT_TRUE(mb.mbdirflags[0] || mb.mbdirflags[1]) << i;
        }
        if (!mb.skipflag) continue;
        EXPECT_NE(i % cols, 0);
        EXPECT_NE(i % cols, cols - 1);
        EXPECT_EQ(mb.cbp, 0);
        EXPECT_NE(mb.blockclass, 1);
        if (p.type == 2) {
          ++pskips;
          EXPECT_EQ(mb.halfmv[0], 0);
          EXPECT_EQ(mb.halfmv[1], 0);
          continue;
        }
        ++bskips;
        const mbrecord& prev = p.mbs[i - 1];
        EXPECT_NE(prev.mbtype & mbintra, mbintra) << i;
        EXPECT_NE(prev.blockclass, 1);
        for (int d = 0; d < 3; ++d) EXPECT_EQ(mb.mbdirflags[d] != 0, prev.mbdirflags[d] != 0) << i;
        if (mb.mbdirflags[0]) {
          EXPECT_EQ(mb.halfmv[0], prev.halfmv[0]);
          EXPECT_EQ(mb.halfmv[1], prev.halfmv[1]);
        }
        if (mb.mbdirflags[1]) {
          EXPECT_EQ(mb.halfmv[2], prev.halfmv[2]);
          EXPECT_EQ(mb.halfmv[3], prev.halfmv[3]);
        }
      }
    }
    std::printf("profile %d: %d P skips, %d B skips\n", profile, pskips, bskips);
    EXPECT_GT(bskips, 0);
    TearDown();
    SetUp();
  }
}

// The same clip forced to each processor level gives the same stream, byte for byte.
TEST_F(pbcoder, streamsdonotdependontheprocessorlevel) {
  for (int profile : {1, 2, 4}) {
    SCOPED_TRACE(profile);
    std::vector<uint8_t> first;
    for (int level = 1; level <= hostlevel(); ++level) {
      runsetup r;
      r.width = 352;
      r.height = 288;
      r.frames = 8;
      r.goplength = 4;
      r.simdlevel = level;
      r.interlaced = profile == 2;
      prepare(r);
      settings.bframes = 2;
      settings.profile = profile;
      settings.bppclass = 2;
      encode(panning());
      unitclose(unitstream);
      std::vector<uint8_t> s = readbytes(m2v);
      ASSERT_FALSE(s.empty());
      if (level == 1) first = s;
      else EXPECT_TRUE(s == first) << "level " << level;
      TearDown();
      SetUp();
    }
  }
}

namespace {

// Bits of a stream from a byte offset, most significant first.
struct bitreader {
  const std::vector<uint8_t>& s;
  size_t bit;
  uint32_t get(int n) {
    uint32_t v = 0;
    for (int k = 0; k < n; ++k, ++bit) v = (v << 1) | ((s[bit / 8] >> (7 - bit % 8)) & 1);
    return v;
  }
  bool code(const vlccode& c) { return get(c.length) == c.code; }
};

// The reader at the first macroblock of the first slice of picture p (0-based, stream order).
bitreader firstmacroblock(const std::vector<uint8_t>& s, int p) {
  int picture = -1;
  for (const streamitem& it : startcodes(s)) {
    if (it.code == 0x00) ++picture;
    else if (picture == p && it.code == 0x01) return {s, (it.offset + 4) * 8 + 6};  // q, extra bit
  }
  return {s, s.size() * 8};
}

}  // namespace

// Interlaced coding (frame_pred_frame_dct 0): a motion-compensated P macroblock carries
// frame_motion_type 2 and a macroblock with blocks dct_type 0, which progressive coding leaves
// out. A flat P picture over a flat I picture: each row is its first macroblock and its last,
// both motion compensated with the zero vector and no blocks, the ones between skipped.
TEST_F(pbcoder, interlacedmacroblocksfields) {
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced);
    watch(false);
    run({"flat", 2, 0, 2, 2, interlaced}, flatpicture(90, 120, 140));
    EXPECT_EQ(picextfields[2].frame_pred_frame_dct, interlaced ? 0 : 1);
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    std::vector<uint8_t> s = readbytes(m2v);
    bitreader r = firstmacroblock(s, 1);
    for (int increment : {1, settings.mbcols - 1}) {
      EXPECT_TRUE(r.code(tableb1[increment])) << increment;  // macroblock_address_increment
      EXPECT_TRUE(r.code(tableb3[mbforward]));                // macroblock_type: MC, not coded
      if (interlaced) {                // frame_motion_type: frame
        EXPECT_EQ(r.get(2), 2u);
      }
      EXPECT_EQ(r.get(2), 3u);                                // motion_code 0, 0
    }
    while (r.bit % 8) EXPECT_EQ(r.get(1), 0u);
    EXPECT_EQ(r.get(24), 1u);  // the next slice
    TearDown();
    SetUp();
  }
  // The P picture brighter than the I picture: every macroblock is coded with blocks.
  picturefn brighter = [](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    flatpicture(uint8_t(f ? 110 : 90), 120, 140)(f, y, u, v);
  };
  for (bool interlaced : {false, true}) {
    SCOPED_TRACE(interlaced);
    watch(false);
    run({"brighter", 2, 0, 2, 2, interlaced}, brighter);
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    ASSERT_EQ(pictures.size(), 2u);
    const mbrecord& mb = pictures[1].mbs[0];
    ASSERT_NE(mb.cbp, 0);
    std::vector<uint8_t> s = readbytes(m2v);
    bitreader r = firstmacroblock(s, 1);
    EXPECT_TRUE(r.code(tableb1[1]));
    EXPECT_TRUE(r.code(tableb3[mb.mbtype])) << int(mb.mbtype);
    if (interlaced && (mb.mbtype & mbforward)) {  // frame_motion_type
      EXPECT_EQ(r.get(2), 2u);
    }
    if (interlaced) {                             // dct_type: frame
      EXPECT_EQ(r.get(1), 0u);
    }
    if (mb.mbtype & mbforward) {                  // zero vector
      EXPECT_EQ(r.get(2), 3u);
    }
    if (mb.mbtype & mbpattern) {
      EXPECT_TRUE(r.code(tableb9[mb.cbp]));
    }
    // The first block follows: an intra luma DC size or a non-intra coefficient, never a start
    // code; the picture decoding equal to the reconstruction is the test above.
    TearDown();
    SetUp();
  }
}

// The statistics record of every P and B picture reads back through the second pass's reader
// into the same decisions: flags, classes, macroblock types, statistics vectors and f_codes.
TEST_F(pbcoder, statisticsrecordsreadback) {
  for (int profile : {1, 2, 4}) {
    SCOPED_TRACE(profile);
    runsetup r;
    r.width = 352;
    r.height = 288;
    r.frames = 7;
    r.goplength = 7;
    prepare(r);
    settings.passmode = 2;  // the first pass writes the statistics and counts the blocks
    settings.bframes = 2;
    settings.profile = profile;
    settings.bppclass = 3;
    constexpr int scratchslot = maxslots;
    int checked = 0;
    passafter = [&](int, int, const pictargs& a) {
      const picslot& sl = picslots[a.curslot];
      if (sl.pictype == 1) return;
      ASSERT_LT(sl.statcursor.bytepos, dbsrecordbytes);
      std::memset(dbsreader.buffer, 0, sizeof dbsreader.buffer);
      std::memcpy(dbsreader.buffer, sl.statbits.data(), size_t(sl.statcursor.bytepos));
      dbsreader.cursor = {};
      dbsreader.consumed = 0;
      dbsreader.failed = false;
      ASSERT_TRUE(readpicstats(scratchslot));
      EXPECT_EQ(dbsreader.cursor.bytepos, sl.statcursor.bytepos);
      const picslot& back = picslots[scratchslot];
      EXPECT_EQ(back.pictype, sl.pictype);
      EXPECT_EQ(back.mecostflag, sl.mecostflag);
      for (int w : {0, 1, 4, 5}) EXPECT_EQ(back.fcodes[w], sl.fcodes[w]) << w;
      if (sl.pictype == 3) {
        for (int w : {2, 3, 6, 7}) EXPECT_EQ(back.fcodes[w], sl.fcodes[w]) << w;
      }
      for (int m = 1; m <= settings.mbcount; ++m) {
        const mbrecord& w = sl.mbs[m];
        const mbrecord& g = back.mbs[m];
        SCOPED_TRACE(m);
        EXPECT_EQ(g.skipflag, w.skipflag);
        EXPECT_EQ(g.mbdirflags[0] != 0, w.mbdirflags[0] != 0);
        EXPECT_EQ(g.blockclass, w.blockclass);
        EXPECT_EQ(g.intraflag, w.intraflag);
        if (sl.pictype == 3) {
          EXPECT_EQ(g.mbdirflags[1] != 0, w.mbdirflags[1] != 0);
          EXPECT_EQ(g.mbdirflags[2] != 0, w.mbdirflags[2] != 0);
        }
        if (w.skipflag) continue;
        EXPECT_EQ(g.mbtype, w.mbtype);
        for (int d = 0; d < 2; ++d) {
          if (!w.mbdirflags[d]) continue;
          EXPECT_EQ(g.statmv[2 * d], w.statmv[2 * d]);
          EXPECT_EQ(g.statmv[2 * d + 1], w.statmv[2 * d + 1]);
        }
      }
      ++checked;
    };
    usesource(panning());
    pass1thread(&statusblock);
    usesource(nullptr);
    passafter = nullptr;
    EXPECT_TRUE(settings.writestats);
    EXPECT_EQ(checked, 6);
    TearDown();
    SetUp();
  }
}

// The second pass codes from the first pass's decisions. A B macroblock that has lost its
// direction there while its class still says non-intra (a damaged decision: its prediction was
// never formed) is coded intra, so every non-intra B macroblock of the stream has a direction
// and the stream stays sound. (The prediction accepts a macroblock without a direction only
// when it is marked intra, so the damage keeps the intra flag.) The statistics stream cannot
// carry such a macroblock, so the damage is done to the slots after the GOP was read back.
TEST_F(pbcoder, bmacroblockwithoutdirectioniscodedintra) {
  for (int profile : {1, 2}) {  // 2: the coder that decides by the restored class
    SCOPED_TRACE(profile);
    runsetup r;
    r.width = 352;
    r.height = 288;
    r.frames = 4;
    r.goplength = 4;
    prepare(r);
    settings.passmode = 2;
    settings.bframes = 2;
    settings.profile = profile;
    settings.bppclass = 3;
    ASSERT_TRUE(unitopen(unitstats, dir + "/KJ.dbs", unitnew));
    usesource(panning());
    pass1thread(&statusblock);
    ASSERT_EQ(nextstep.load(), steppass2);
    nextstep = 0;
    std::vector<std::pair<int, int>> damaged;  // slot, macroblock
    passprobe = [&](int pass, int k) {
      if (pass != 2 || k != 1) return;
      for (int s = 1; s <= 4; ++s) {
        if (picslots[s].pictype != 3) continue;
        for (int m = 3; m <= settings.mbcount; m += 7) {
          mbrecord& mb = picslots[s].mbs[m];
          if (mb.blockclass == 1) continue;
          mb.mbdirflags[0] = mb.mbdirflags[1] = mb.mbdirflags[2] = 0;
          mb.intraflag = -1;
          damaged.push_back({s, m});
        }
      }
    };
    std::map<int, std::vector<mbrecord>> bpictures;
    passafter = [&](int, int, const pictargs& a) {
      const picslot& sl = picslots[a.curslot];
      if (sl.pictype == 3) bpictures[a.curslot].assign(sl.mbs, sl.mbs + 1 + settings.mbcount);
    };
    pass2thread(&statusblock);
    usesource(nullptr);
    passafter = nullptr;
    passprobe = nullptr;
    EXPECT_EQ(nextstep.load(), stepdone);
    ASSERT_FALSE(damaged.empty());
    unitclose(unitstream);
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    ASSERT_EQ(bpictures.size(), 2u);
    for (auto [s, m] : damaged) {
      EXPECT_EQ(bpictures[s][m].blockclass, 1) << s << " " << m;
      EXPECT_EQ(bpictures[s][m].mbtype, mbintra) << s << " " << m;
    }
    for (auto& [s, mbs] : bpictures)
      for (int m = 1; m <= settings.mbcount; ++m) {
        if (mbs[m].blockclass == 1) continue;
        EXPECT_TRUE(mbs[m].mbdirflags[0] || mbs[m].mbdirflags[1]) << s << " " << m;
      }
    TearDown();
    SetUp();
  }
}
