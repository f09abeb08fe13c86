// Whole pictures coded through the header writers, the picture slot and the VLC layer, decoded
// by ffmpeg. The test holds a small model decoder (dequantisation as ISO/IEC 13818-2 7.4, a
// double-precision inverse DCT, half-pel prediction) against ffmpeg's pictures, decoded with
// its floating-point inverse DCT: any wrong code, scan, matrix or DC rule shows up as a decode
// error or as pictures far apart; the two inverse transforms differ by at most 1.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "encoder/coding/bitio.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/scantables.h"
#include "encoder/coding/vlc.h"
#include "encoder/coding/vlctables.h"
#include "encoder/control/settings.h"
#include "tests/support/blackbox.h"

namespace {

unsigned testseed() {
  const char* s = std::getenv("OSTREL_SEED");
  return s ? unsigned(std::strtoul(s, nullptr, 10)) : 20261210u;
}

struct plane {
  int w = 0, h = 0;
  std::vector<int> px;
  int& at(int x, int y) { return px[size_t(y) * w + x]; }
  int at(int x, int y) const { return px[size_t(y) * w + x]; }
};
struct frame {
  plane p[3];
  void init(int w, int h) {
    p[0] = {w, h, std::vector<int>(size_t(w) * h)};
    p[1] = p[2] = {w / 2, h / 2, std::vector<int>(size_t(w) * h / 4)};
  }
};

void idct(const int coef[64], double out[64]) {
  static double c[8][8];
  static bool ready = false;
  if (!ready) {
    for (int x = 0; x < 8; ++x)
      for (int u = 0; u < 8; ++u)
        c[x][u] = (u == 0 ? std::sqrt(0.5) : 1.0) * std::cos((2 * x + 1) * u * M_PI / 16) / 2;
    ready = true;
  }
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v)
        for (int u = 0; u < 8; ++u) s += c[y][v] * c[x][u] * coef[v * 8 + u];
      out[y * 8 + x] = s;
    }
}

// Dequantised coefficients of a block (ISO/IEC 13818-2 7.4.2 - 7.4.4), raster order.
void dequant(const int16_t lv[64], bool intra, int dcprec, int qscale, const int16_t w[64],
             int f[64]) {
  int sum = 0;
  for (int i = 0; i < 64; ++i) {
    int q = lv[i], v;
    if (intra && i == 0) {
      v = (q + (128 << dcprec)) * (8 >> dcprec);
    } else if (intra) {
      v = (2 * q * w[i] * qscale) / 32;
    } else {
      v = ((2 * q + (q > 0) - (q < 0)) * w[i] * qscale) / 32;
    }
    v = std::clamp(v, -2048, 2047);
    f[i] = v;
    sum += v;
  }
  if ((sum & 1) == 0) f[63] ^= 1;
}

// Block b (1..6) of macroblock (mx, my): plane and top-left sample.
void blockplace(int b, int mx, int my, int& pl, int& x, int& y) {
  if (b <= 4) {
    pl = 0;
    x = mx * 16 + ((b - 1) & 1) * 8;
    y = my * 16 + ((b - 1) >> 1) * 8;
  } else {
    pl = b - 4;
    x = mx * 8;
    y = my * 8;
  }
}

// Half-pel prediction of a w x h area at (x, y) moved by (mvx, mvy) half samples.
int predict(const plane& r, int x, int y, int mvx, int mvy) {
  int ix = x + (mvx >> 1), iy = y + (mvy >> 1);
  int hx = mvx & 1, hy = mvy & 1;
  int a = r.at(ix, iy);
  if (!hx && !hy) return a;
  if (hx && !hy) return (a + r.at(ix + 1, iy) + 1) >> 1;
  if (!hx && hy) return (a + r.at(ix, iy + 1) + 1) >> 1;
  return (a + r.at(ix + 1, iy) + r.at(ix, iy + 1) + r.at(ix + 1, iy + 1) + 2) >> 2;
}

class codedstream : public ::testing::Test {
 protected:
  std::mt19937 rng{testseed()};
  std::vector<uint8_t> out;
  std::string dir;
  int w = 352, h = 288;

  void SetUp() override {
    char d[] = "/tmp/ostrelstreamXXXXXX";
    ASSERT_NE(mkdtemp(d), nullptr);
    dir = d;
    settings = settingsrec{};
    settings.width = w;
    settings.height = settings.displayheight = h;
    settings.aspect = 2;
    settings.frameratecode = 3;
    settings.framerate = 25.0;
    settings.level = 1;
    settings.gopnumber = 1;
    settings.streamout = true;
  }
  void TearDown() override {
    if (!HasFailure()) std::system(("rm -rf " + dir).c_str());
  }
  int rnd(int lo, int hi) { return lo + int(rng() % unsigned(hi - lo + 1)); }

  void append(const uint8_t* p, int n) { out.insert(out.end(), p, p + n); }
  void gopheaders(int closed) {
    seqfields.closed_gop = closed;
    headercursor = {};
    putseqheaders(headerbuf, headercursor);
    append(headerbuf, headercursor.bytepos);
  }
  // Random quantised levels: mostly small, some needing escapes; at least one non-zero AC
  // level when `nonempty`. Levels stay below the dequantiser's saturation at quantiser_scale
  // qs with matrix wm (which ffmpeg does not apply).
  void randomlevels(int16_t lv[64], bool nonempty, int qs, const int16_t wm[64]) {
    std::fill(lv, lv + 64, 0);
    if (!everypair.empty()) {  // the table's pairs one after another, in AC scan positions
      int pos = 1;
      while (!everypair.empty() && pos + everypair.back().first < 64) {
        auto [run, level] = everypair.back();
        everypair.pop_back();
        pos += run;
        lv[zigzagscan[pos] - 1] = int16_t((pos & 1) ? level : -level);
        ++pos;
      }
      return;
    }
    int n = rnd(nonempty ? 1 : 0, 12);
    for (int k = 0; k < n; ++k) {
      int pos = zigzagscan[rnd(1, 63)] - 1;
      int r = rnd(0, 99);
      int m = r < 70 ? rnd(1, 5) : r < 95 ? rnd(6, 45) : rnd(46, 400);
      m = std::max(1, std::min(m, 2047 * 16 / (wm[pos] * qs) - 1));
      lv[pos] = int16_t(rnd(0, 1) ? m : -m);
    }
  }
  void slicestart(int s, int row, int qcode) {
    picslot& sl = picslots[s];
    slotroom(s);
    alignbits(sl.streambits.data(), sl.streamcursor);
    putbits(0x100 + row + 1, 32, sl.streambits.data(), sl.streamcursor);  // slice_start_code
    putbits(qcode, 5, sl.streambits.data(), sl.streamcursor);            // quantiser_scale_code
    putbits(0, 1, sl.streambits.data(), sl.streamcursor);                // extra_bit_slice
    slotslicestart(s);
  }
  void endpicture(int s) {
    picslot& sl = picslots[s];
    alignbits(sl.streambits.data(), sl.streamcursor);
    append(sl.streambits.data(), sl.streamcursor.bytepos);
  }
  void startpicture(int s, int type, int tref) {
    ASSERT_TRUE(startslotpicture(s));
    picslot& sl = picslots[s];
    sl.pictype = type;
    pichdrfields[s].temporal_reference = tref;
    pichdrfields[s].picture_coding_type = type;
    for (int k = 0; k < 2; ++k)
      for (int c = 0; c < 2; ++c) picextfields[s].f_code[k][c] = sl.fcodes[2 * k + c];
    putpicthdr(type, s, sl.streambits.data(), sl.streamcursor);
    putpictext(s, sl.streambits.data(), sl.streamcursor);
  }
  // Writes the intra blocks of a macroblock and puts the model's pixels into rec.
  void intramb(int s, int mx, int my, int qs, frame& rec) {
    for (int b = 1; b <= 6; ++b) {
      int16_t lv[64];
      randomlevels(lv, false, qs, quantmatrices.intra);
      int dcr = 64 << settings.dcprec;
      lv[0] = int16_t(rnd(-dcr, dcr - 1));
      putintrablk(s, lv, b);
      int f[64];
      double px[64];
      dequant(lv, true, settings.dcprec, qs, quantmatrices.intra, f);
      idct(f, px);
      int pl, x, y;
      blockplace(b, mx, my, pl, x, y);
      for (int i = 0; i < 64; ++i)
        rec.p[pl].at(x + i % 8, y + i / 8) = std::clamp(int(std::lround(px[i])), 0, 255);
    }
  }
  // Codes an I picture of random intra macroblocks into slot s; the model's picture in rec.
  // Every (run, level) pair with a code of its own, plus the first escaped ones; the first
  // macroblock row of an I picture sends them all (at quantiser_scale_code 1).
  std::vector<std::pair<int, int>> everypair;
  void queueeverypair() {
    everypair.clear();
    for (int run = 0; run <= 33; ++run)
      for (int level = 1; level <= 42; ++level)
        if ((run <= maxtablerun && level <= maxtablelevel && tableb14[run][level].length) ||
            (level == 1 && run > maxtablerun) || (run == 0 && level > 40) ||
            (run == 1 && level == 19) || (run == 2 && level == 6))
          everypair.push_back({run, level});
  }
  void ipicture(int s, int tref, frame& rec) {
    rec.init(w, h);
    picslots[s].intravlc = picextfields[s].intra_vlc_format;
    startpicture(s, 1, tref);
    queueeverypair();
    for (int my = 0; my < h / 16; ++my) {
      int qcode = my == 0 ? 1 : rnd(1, 31);
      slicestart(s, my, qcode);
      for (int mx = 0; mx < w / 16; ++mx) {
        putmbainc(s, 1);
        picslot& sl = picslots[s];
        putbits(tableb2[mbintra].code, tableb2[mbintra].length, sl.streambits.data(),
                sl.streamcursor);  // macroblock_type
        intramb(s, mx, my, nonlinearqscale[qcode], rec);
      }
    }
    endpicture(s);
  }
  // Codes a P picture of random macroblocks against ref (ffmpeg's picture of the reference).
  void ppicture(int s, int tref, const frame& ref, frame& rec) {
    rec.init(w, h);
    picslot& sl = picslots[s];
    sl.fcodes[0] = sl.fcodes[1] = 3;  // vectors within -64..63 half samples
    startpicture(s, 2, tref);
    for (int my = 0; my < h / 16; ++my) {
      int qcode = rnd(1, 31);
      int qs = nonlinearqscale[qcode];
      slicestart(s, my, qcode);
      int pending = 0;  // skipped macroblocks before the next coded one
      for (int mx = 0; mx < w / 16; ++mx) {
        int kind = rnd(0, 9);  // 0-3 MC coded, 4-5 no MC coded, 6 MC not coded, 7 intra, 8-9 skip
        bool edge = mx == 0 || mx == w / 16 - 1;
        if (kind >= 8 && edge) kind = 0;
        mbrecord& mb = sl.mbs[my * (w / 16) + mx + 1];
        mb = mbrecord{};
        int mvx = 0, mvy = 0;
        if (kind <= 3 || kind == 6) {
          do {
            mvx = rnd(-40, 40);
            mvy = rnd(-40, 40);
          } while (mx * 16 + (mvx >> 1) < 0 || mx * 16 + (mvx >> 1) + 16 + (mvx & 1) > w ||
                   my * 16 + (mvy >> 1) < 0 || my * 16 + (mvy >> 1) + 16 + (mvy & 1) > h);
          if (mvx == 0 && mvy == 0) mvx = 2;
        }
        if (kind >= 8) {  // skipped: zero vector, no residual, predictors reset
          ++pending;
          sl.pmv[0] = sl.pmv[1] = 0;
          std::fill(std::begin(sl.dcpred), std::end(sl.dcpred), 0);
          for (int pl = 0; pl < 3; ++pl) {
            int bs = pl ? 8 : 16;
            for (int y = 0; y < bs; ++y)
              for (int x = 0; x < bs; ++x)
                rec.p[pl].at(mx * bs + x, my * bs + y) = ref.p[pl].at(mx * bs + x, my * bs + y);
          }
          continue;
        }
        putmbainc(s, pending + 1);
        pending = 0;
        uint8_t type = kind <= 3 ? mbforward | mbpattern : kind <= 5 ? mbpattern
                     : kind == 6 ? mbforward : mbintra;
        putbits(tableb3[type].code, tableb3[type].length, sl.streambits.data(),
                sl.streamcursor);  // macroblock_type
        if (type == mbintra) {
          sl.pmv[0] = sl.pmv[1] = 0;
          intramb(s, mx, my, qs, rec);
          continue;
        }
        std::fill(std::begin(sl.dcpred), std::end(sl.dcpred), 0);
        if (type & mbforward) {
          mb.halfmv[0] = int16_t(mvx);
          mb.halfmv[1] = int16_t(mvy);
          mb.mbdirflags[0] = -1;
          putmvs(s, my * (w / 16) + mx + 1);
        } else {
          sl.pmv[0] = sl.pmv[1] = 0;
        }
        int cbp = (type & mbpattern) ? rnd(1, 63) : 0;
        if (type & mbpattern)
          putbits(tableb9[cbp].code, tableb9[cbp].length, sl.streambits.data(),
                  sl.streamcursor);  // coded_block_pattern_420
        // Prediction, then the residual of each coded block.
        for (int pl = 0; pl < 3; ++pl) {
          int bs = pl ? 8 : 16;
          int vx = pl ? mvx / 2 : mvx, vy = pl ? mvy / 2 : mvy;
          for (int y = 0; y < bs; ++y)
            for (int x = 0; x < bs; ++x)
              rec.p[pl].at(mx * bs + x, my * bs + y) =
                  predict(ref.p[pl], mx * bs + x, my * bs + y, vx, vy);
        }
        for (int b = 1; b <= 6; ++b) {
          if (!(cbp & (32 >> (b - 1)))) continue;
          int16_t lv[64];
          randomlevels(lv, true, qs, quantmatrices.nonintra);
          if (rnd(0, 3) == 0) lv[0] = int16_t(rnd(-3, 3));  // first-coefficient rule
          putinterblk(s, lv);
          int f[64];
          double px[64];
          dequant(lv, false, 0, qs, quantmatrices.nonintra, f);
          idct(f, px);
          int pl, x, y;
          blockplace(b, mx, my, pl, x, y);
          for (int i = 0; i < 64; ++i) {
            int& v = rec.p[pl].at(x + i % 8, y + i / 8);
            v = std::clamp(v + std::clamp(int(std::lround(px[i])), -256, 255), 0, 255);
          }
        }
      }
    }
    endpicture(s);
  }
  // A B picture of random macroblocks (decoded by ffmpeg, not modelled).
  void bpicture(int s, int tref) {
    picslot& sl = picslots[s];
    for (int k = 0; k < 4; ++k) sl.fcodes[k] = 3;
    startpicture(s, 3, tref);
    for (int my = 0; my < h / 16; ++my) {
      int qcode = rnd(1, 31);
      slicestart(s, my, qcode);
      for (int mx = 0; mx < w / 16; ++mx) {
        const uint8_t types[] = {mbforward | mbbackward, mbforward | mbbackward | mbpattern,
                                 mbbackward, mbbackward | mbpattern, mbforward,
                                 mbforward | mbpattern, mbintra};
        uint8_t type = types[rnd(0, 6)];
        putmbainc(s, 1);
        putbits(tableb4[type].code, tableb4[type].length, sl.streambits.data(),
                sl.streamcursor);  // macroblock_type
        if (type == mbintra) {
          std::fill(std::begin(sl.pmv), std::end(sl.pmv), 0);
          frame scratch;
          scratch.init(w, h);
          intramb(s, mx, my, nonlinearqscale[qcode], scratch);
          continue;
        }
        std::fill(std::begin(sl.dcpred), std::end(sl.dcpred), 0);
        mbrecord& mb = sl.mbs[my * (w / 16) + mx + 1];
        mb = mbrecord{};
        for (int d = 0; d < 2; ++d) {
          if (!(type & (d ? mbbackward : mbforward))) continue;
          mb.mbdirflags[d] = -1;
          int mvx, mvy;
          do {
            mvx = rnd(-60, 60);
            mvy = rnd(-60, 60);
          } while (mx * 16 + (mvx >> 1) < 0 || mx * 16 + (mvx >> 1) + 16 + (mvx & 1) > w ||
                   my * 16 + (mvy >> 1) < 0 || my * 16 + (mvy >> 1) + 16 + (mvy & 1) > h);
          mb.halfmv[2 * d] = int16_t(mvx);
          mb.halfmv[2 * d + 1] = int16_t(mvy);
        }
        putmvs(s, my * (w / 16) + mx + 1);
        if (type & mbpattern) {
          int cbp = rnd(1, 63);
          putbits(tableb9[cbp].code, tableb9[cbp].length, sl.streambits.data(),
                  sl.streamcursor);  // coded_block_pattern_420
          for (int b = 1; b <= 6; ++b) {
            if (!(cbp & (32 >> (b - 1)))) continue;
            int16_t lv[64];
            randomlevels(lv, true, nonlinearqscale[qcode], quantmatrices.nonintra);
            putinterblk(s, lv);
          }
        }
      }
    }
    endpicture(s);
  }
  std::string finish(const std::string& name) {
    for (uint8_t x : {0x00, 0x00, 0x01, 0xB7}) out.push_back(x);  // sequence_end_code
    std::string path = dir + "/" + name;
    writefile(path, std::string(out.begin(), out.end()));
    return path;
  }
  std::vector<frame> decode(const std::string& path) {
    std::string yuv = path + ".yuv";
    runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-idct", "faani", "-i", path, "-f", "rawvideo",
                              "-pix_fmt", "yuv420p", "-y", yuv});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string data = readfile(yuv);
    std::vector<frame> frames;
    size_t fs = size_t(w) * h * 3 / 2;
    for (size_t off = 0; off + fs <= data.size(); off += fs) {
      frame f;
      f.init(w, h);
      size_t k = off;
      for (int pl = 0; pl < 3; ++pl)
        for (auto& v : f.p[pl].px) v = uint8_t(data[k++]);
      frames.push_back(std::move(f));
    }
    return frames;
  }
  // The largest sample difference; the first sample off by more than 1 goes into `where`.
  std::string where;
  int maxdiff(const frame& a, const frame& b) {
    int m = 0;
    where.clear();
    for (int pl = 0; pl < 3; ++pl)
      for (size_t i = 0; i < a.p[pl].px.size(); ++i) {
        int d = std::abs(a.p[pl].px[i] - b.p[pl].px[i]);
        if (d > 1 && where.empty())
          where = "plane " + std::to_string(pl) + " x " + std::to_string(i % a.p[pl].w) +
                  " y " + std::to_string(i / a.p[pl].w) + ": decoded " +
                  std::to_string(a.p[pl].px[i]) + ", model " + std::to_string(b.p[pl].px[i]);
        m = std::max(m, d);
      }
    return m;
  }
};

// Intra pictures at every DC precision, both scans, both intra VLC tables (every entry of each)
// and a custom matrix pair: ffmpeg decodes them cleanly to the model's pictures.
TEST_F(codedstream, intrapictures) {
  SCOPED_TRACE("seed " + std::to_string(testseed()));
  for (int i = 0; i < 64; ++i) {
    quantmatrices.intra[i] = int16_t(i == 0 ? 8 : 8 + (i * 37) % 60);
    quantmatrices.nonintra[i] = int16_t(16 + (i * 11) % 40);
  }
  loadintramatrix = loadnonintramatrix = 1;
  std::vector<frame> model;
  int tref = 0;
  for (int dcprec = 0; dcprec <= 3; ++dcprec) {
    for (int variant = 0; variant < 2; ++variant) {
      settings.dcprec = dcprec;
      settings.altscan = variant == 1;
      initheaders();
      settings.gopnumber = model.empty() ? 1 : 2;
      settings.gopframe = int(model.size());
      gopheaders(1);
      picextfields[1].intra_vlc_format = variant;  // table B.15 in the second variant
      frame rec;
      ipicture(1, 0, rec);
      ASSERT_TRUE(everypair.empty());  // the first row took every pair of the table
      model.push_back(std::move(rec));
      ++tref;
    }
  }
  std::string path = finish("intra.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(path, &why)) << why;
  auto frames = decode(path);
  ASSERT_EQ(frames.size(), model.size());
  for (size_t k = 0; k < model.size(); ++k)
    EXPECT_LE(maxdiff(frames[k], model[k]), 1) << "picture " << k << " dc precision "
        << k / 2 << (k % 2 ? " alternate scan, B.15" : "") << ", " << where;
  // ffprobe sees the 4:3 frames.
  runresult r = runcommand({"ffprobe", "-v", "error", "-show_entries",
                            "stream=display_aspect_ratio,width,height", "-of", "default=nw=1",
                            path});
  EXPECT_NE(r.out.find("display_aspect_ratio=4:3"), std::string::npos) << r.out;
}

// I, P and B pictures with every macroblock type, random vectors, patterns, skips and
// escapes: the stream decodes cleanly, the P picture matches the model.
TEST_F(codedstream, predictedpictures) {
  SCOPED_TRACE("seed " + std::to_string(testseed()));
  for (int i = 0; i < 64; ++i) {
    quantmatrices.intra[i] = int16_t(i == 0 ? 8 : 8 + (i * 5) % 40);
    quantmatrices.nonintra[i] = int16_t(16 + (i * 3) % 30);
  }
  loadintramatrix = loadnonintramatrix = 1;
  initheaders();
  settings.writestats = true;  // the statistics vectors go along (into statbits)
  for (int gop = 0; gop < 2; ++gop) {
    settings.gopnumber = gop + 1;
    settings.gopframe = gop * 3;
    gopheaders(1);
    frame irec, prec;
    ipicture(1, 0, irec);
    // The P picture predicts from a picture ffmpeg decodes; code it after decoding the I alone.
    std::vector<uint8_t> keep = out;
    std::string ipath = dir + "/ionly.m2v";
    std::vector<uint8_t> ionly = out;
    for (uint8_t x : {0x00, 0x00, 0x01, 0xB7}) ionly.push_back(x);
    writefile(ipath, std::string(ionly.begin(), ionly.end()));
    auto iframes = decode(ipath);
    ASSERT_EQ(int(iframes.size()), 3 * gop + 1);
    ASSERT_LE(maxdiff(iframes.back(), irec), 1) << where;
    ppicture(3, 2, iframes.back(), prec);
    bpicture(2, 1);
    std::string path = finish("ipb" + std::to_string(gop) + ".m2v");
    out.resize(out.size() - 4);  // drop the end code again for the next GOP
    std::string why;
    ASSERT_TRUE(decodesclean(path, &why)) << why;
    auto frames = decode(path);
    ASSERT_EQ(int(frames.size()), 3 * (gop + 1));
    EXPECT_LE(maxdiff(frames[3 * gop + 2], prec), 1) << "P picture of GOP " << gop + 1 << ", "
                                                      << where;
    runresult r = runcommand({"ffprobe", "-v", "error", "-show_entries", "frame=pict_type",
                              "-of", "csv=p=0", path});
    std::string types;
    for (char c : r.out)
      if (c == 'I' || c == 'P' || c == 'B') types += c;
    EXPECT_EQ(types, gop == 0 ? "IBP" : "IBPIBP");
  }
}

// Pulldown pictures: ffprobe sees the field order and the repeated fields of the flags.
TEST_F(codedstream, pulldownflags) {
  w = 176;
  h = 128;  // a sequence that is not progressive counts macroblock rows in pairs
  settings.width = w;
  settings.height = settings.displayheight = h;
  settings.frameratecode = 1;
  settings.framerate = 24000.0 / 1001.0;
  settings.pulldown = true;
  // Matrix 16 of the settings: the standard's default pair, not sent.
  const int16_t defaultintra[64] = {
       8, 16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37,
      19, 22, 26, 27, 29, 34, 34, 38, 22, 22, 26, 27, 29, 34, 37, 40,
      22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32, 35, 40, 48, 58,
      26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};
  for (int i = 0; i < 64; ++i) {
    quantmatrices.intra[i] = defaultintra[i];
    quantmatrices.nonintra[i] = 16;
  }
  loadintramatrix = 0;
  loadnonintramatrix = 0;
  initheaders();
  gopheaders(1);
  int flags[4] = {3, 0, 2, 1};
  for (int t = 0; t < 4; ++t) pulldownflagarray[t] = flags[t];
  frame rec;
  for (int t = 0; t < 4; ++t) {
    for (int s = 1; s <= headerslots; ++s) pichdrfields[s].temporal_reference = t;
    ipicture(t + 1, t, rec);
  }
  std::string path = finish("pulldown.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(path, &why)) << why;
  runresult r = runcommand({"ffprobe", "-v", "error", "-show_entries",
                            "frame=top_field_first,repeat_pict", "-of", "default", path});
  EXPECT_EQ(r.status, 0) << r.err;
  // The values of one key, frame after frame.
  auto values = [&](const std::string& key) {
    std::string v;
    for (size_t a = r.out.find(key + "="); a != std::string::npos;
         a = r.out.find(key + "=", a + 1))
      v += r.out[a + key.size() + 1];
    return v;
  };
  EXPECT_EQ(values("top_field_first"), "1001") << r.out;  // bit 0 of the flags 3, 0, 2, 1
  EXPECT_EQ(values("repeat_pict"), "1010") << r.out;      // bit 1
}

}  // namespace
