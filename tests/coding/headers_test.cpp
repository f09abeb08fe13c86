// The stream headers: start-up values, exact bytes for a few typical settings, the time code,
// the level and bitrate rules, and ffprobe's reading of a headers-only stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "encoder/coding/bitio.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/scantables.h"
#include "encoder/control/settings.h"
#include "tests/support/blackbox.h"

namespace {

// MPEG-2 default intra matrix and a flat non-intra matrix of 16, raster order.
const int16_t defaultintra[64] = {
     8, 16, 19, 22, 26, 27, 29, 34,
    16, 16, 22, 24, 27, 29, 34, 37,
    19, 22, 26, 27, 29, 34, 34, 38,
    22, 22, 26, 27, 29, 34, 37, 40,
    22, 26, 27, 29, 32, 35, 40, 48,
    26, 27, 29, 32, 35, 40, 48, 58,
    26, 27, 29, 34, 38, 46, 56, 69,
    27, 29, 35, 38, 46, 56, 69, 83};

struct fieldlist {  // the standard's syntax, field by field, to hold the writers against
  std::vector<std::pair<uint32_t, int>> f;
  void add(uint32_t v, int n) { f.push_back({v, n}); }
  void align() {
    int bits = 0;
    for (auto& x : f) bits += x.second;
    if (bits % 8) add(0, 8 - bits % 8);
  }
  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> b(4096, 0);
    bitcursor c;
    for (auto& x : f) putbits(x.first, x.second, b.data(), c);
    alignbits(b.data(), c);
    b.resize(c.bytepos);
    return b;
  }
};

std::string hex(const std::vector<uint8_t>& b, size_t n = 1u << 30) {
  std::string s;
  char t[4];
  for (size_t i = 0; i < b.size() && i < n; ++i) {
    std::snprintf(t, sizeof t, "%02X", b[i]);
    s += (i ? " " : "") + std::string(t);
  }
  return s;
}

class headers : public ::testing::Test {
 protected:
  void SetUp() override {
    settings = settingsrec{};
    settings.width = 720;
    settings.height = 576;
    settings.displayheight = 576;
    settings.aspect = 2;
    settings.frameratecode = 3;
    settings.framerate = 25.0;
    settings.level = 1;
    settings.gopnumber = 1;
    for (int i = 0; i < 64; ++i) {
      quantmatrices.intra[i] = defaultintra[i];
      quantmatrices.nonintra[i] = 16;
    }
    loadintramatrix = 0;
    loadnonintramatrix = 1;
  }
  std::vector<uint8_t> gopheaders() {
    headercursor = {};
    putseqheaders(headerbuf, headercursor);
    return std::vector<uint8_t>(headerbuf, headerbuf + headercursor.bytepos);
  }
  std::vector<uint8_t> picture(int type, int s) {
    std::vector<uint8_t> b(64 + bitspare, 0xEE);
    bitcursor c;
    putpicthdr(type, s, b.data(), c);
    putpictext(s, b.data(), c);
    alignbits(b.data(), c);
    b.resize(c.bytepos);
    return b;
  }
  // The expected sequence header, extension, user data and GOP header of the current settings.
  fieldlist expectedgop(int hsize, int vsize, int aspect, int frc, int brv, int vbv,
                        int loadi, int loadn, int plid, int progseq, bool userdata,
                        uint32_t timecodeword, int closed) {
    fieldlist e;
    e.add(0x1B3, 32); e.add(hsize, 12); e.add(vsize, 12); e.add(aspect, 4); e.add(frc, 4);
    e.add(brv, 18); e.add(1, 1); e.add(vbv, 10); e.add(0, 1);
    e.add(loadi, 1);
    if (loadi) for (int k = 0; k < 64; ++k) e.add(quantmatrices.intra[zigzagscan[k] - 1], 8);
    e.add(loadn, 1);
    if (loadn) for (int k = 0; k < 64; ++k) e.add(quantmatrices.nonintra[zigzagscan[k] - 1], 8);
    e.align();
    e.add(0x1B5, 32); e.add(1, 4); e.add(plid, 8); e.add(progseq, 1); e.add(1, 2);
    e.add(0, 2); e.add(0, 2); e.add(0, 12); e.add(1, 1); e.add(0, 8); e.add(0, 1);
    e.add(0, 2); e.add(0, 5);
    e.align();
    if (userdata) {
      e.add(0x1B2, 32);
      for (int k = 0; k < 32; ++k) e.add(seqfields.user_data[k], 8);
    }
    e.add(0x1B8, 32); e.add(timecodeword, 25); e.add(closed, 1); e.add(0, 1);
    e.align();
    return e;
  }
};

TEST_F(headers, pal43) {
  initheaders();
  auto got = gopheaders();
  EXPECT_EQ(hex(got, 12), "00 00 01 B3 2D 02 40 23 13 88 23 81");
  EXPECT_EQ(got, expectedgop(720, 576, 2, 3, 20000, 112, 0, 1, 0x48, 1, true,
                             (1 << 12), 0).bytes());
  // The picture header and coding extension of an I picture in slot 3.
  pichdrfields[3].temporal_reference = 2;
  pichdrfields[3].picture_coding_type = 1;
  fieldlist p;
  p.add(0x100, 32); p.add(2, 10); p.add(1, 3); p.add(0xFFFF, 16); p.add(0, 1); p.align();
  p.add(0x1B5, 32); p.add(8, 4);
  for (int k = 0; k < 4; ++k) p.add(15, 4);
  p.add(1, 2); p.add(3, 2);
  // tff, frame_pred_frame_dct, concealment, q_scale_type, intra_vlc, alternate_scan, rff,
  // chroma_420_type, progressive_frame, composite_display_flag
  for (int bit : {0, 1, 0, 1, 0, 0, 0, 1, 1, 0}) p.add(bit, 1);
  EXPECT_EQ(picture(1, 3), p.bytes());
  // A second GOP carries no user data.
  settings.gopnumber = 2;
  settings.gopframe = 15;
  seqfields.closed_gop = 1;
  EXPECT_EQ(gopheaders(), expectedgop(720, 576, 2, 3, 20000, 112, 0, 1, 0x48, 1, false,
                                      (1 << 12) | 15, 1).bytes());
}

TEST_F(headers, ntscpulldown) {
  settings.height = settings.displayheight = 480;
  settings.frameratecode = 1;
  settings.framerate = 24000.0 / 1001.0;
  settings.pulldown = true;
  settings.tff = true;
  settings.maxbitrate = 9800000;
  initheaders();
  EXPECT_EQ(seqfields.frame_rate_code, 4);
  EXPECT_EQ(seqfields.bit_rate_value, 24500);
  EXPECT_EQ(gopheaders(), expectedgop(720, 480, 2, 4, 24500, 112, 0, 1, 0x48, 0, true,
                                      (1u << 24) | (1 << 12), 0).bytes());
  // The four pictures of the pulldown cycle: flags 3, 0, 2, 1 by temporal_reference.
  int flags[4] = {3, 0, 2, 1};
  for (int t = 0; t < 4; ++t) pulldownflagarray[t] = flags[t];
  for (int t = 0; t < 4; ++t) {
    for (int s = 1; s <= headerslots; ++s) pichdrfields[s].temporal_reference = t;
    pichdrfields[t + 1].picture_coding_type = t == 0 ? 1 : 3;
    picextfields[t + 1].f_code[0][0] = picextfields[t + 1].f_code[0][1] = t == 0 ? 15 : 2;
    picextfields[t + 1].f_code[1][0] = picextfields[t + 1].f_code[1][1] = t == 0 ? 15 : 3;
    auto got = picture(t == 0 ? 1 : 3, t + 1);
    fieldlist p;
    p.add(0x100, 32); p.add(t, 10); p.add(t == 0 ? 1 : 3, 3); p.add(0xFFFF, 16);
    if (t != 0) { p.add(0, 1); p.add(7, 3); p.add(0, 1); p.add(7, 3); }
    p.add(0, 1); p.align();
    p.add(0x1B5, 32); p.add(8, 4);
    int fc[4] = {t == 0 ? 15 : 2, t == 0 ? 15 : 2, t == 0 ? 15 : 3, t == 0 ? 15 : 3};
    for (int k = 0; k < 4; ++k) p.add(fc[k], 4);
    p.add(1, 2); p.add(3, 2);
    for (int bit : {flags[t] & 1, 1, 0, 1, 0, 0, flags[t] >> 1, 1, 1, 0}) p.add(bit, 1);
    EXPECT_EQ(got, p.bytes()) << "picture " << t;
  }
}

TEST_F(headers, hd1088customatrix) {
  settings.width = 1920;
  settings.height = 1088;
  settings.displayheight = 1080;
  settings.aspect = 3;
  settings.frameratecode = 4;
  settings.framerate = 30000.0 / 1001.0;
  settings.level = 3;
  settings.interlaced = true;
  settings.altscan = true;
  settings.maxbitrate = 40000000;
  for (int i = 0; i < 64; ++i) {
    quantmatrices.intra[i] = int16_t(8 + (i * 7) % 100);
    quantmatrices.nonintra[i] = int16_t(16 + (i * 13) % 200);
  }
  loadintramatrix = loadnonintramatrix = 1;
  initheaders();
  auto got = gopheaders();
  EXPECT_EQ(hex(got, 8), "00 00 01 B3 78 04 38 34");  // 1920 x 1080, 16:9, 29.97
  EXPECT_EQ(got, expectedgop(1920, 1080, 3, 4, 100000, 597, 1, 1, 0x44, 0, true, 1 << 12,
                             0).bytes());
  EXPECT_EQ(picextfields[1].frame_pred_frame_dct, 0);
  EXPECT_EQ(picextfields[1].progressive_frame, 0);
  EXPECT_EQ(picextfields[1].chroma_420_type, 0);
  EXPECT_EQ(picextfields[1].alternate_scan, 1);
}

TEST_F(headers, bitratelevelandfieldrules) {
  struct { int level, maxrate, value; } rates[] = {
      {1, 8000000, 20000}, {1, 8000001, 20001}, {1, 0, 37500}, {1, -5, 37500},
      {1, 100000000, 37500}, {2, 100000000, 150000}, {3, 120000000, 200000},
      {3, 80000000, 200000}, {1, 399, 1}};
  for (auto r : rates) {
    SetUp();
    settings.level = r.level;
    settings.maxbitrate = r.maxrate;
    settings.bitrate = 50000000;
    initheaders();
    EXPECT_EQ(seqfields.bit_rate_value, r.value) << r.level << " " << r.maxrate;
    EXPECT_EQ(settings.bitrate, 50000000);  // the plan warns when it cannot reach it
  }
  struct { int w, h; double rate; int level; } levels[] = {
      {720, 576, 25.0, 1}, {720, 480, 30000.0 / 1001.0, 1}, {352, 288, 25.0, 1},
      {720, 576, 50.0, 2}, {720, 480, 60000.0 / 1001.0, 2}, {704, 576, 30.0, 2},
      {1440, 1088, 25.0, 2}, {1440, 1088, 50.0, 3}, {1280, 720, 50.0, 2},
      {1920, 1088, 25.0, 3}, {720, 1152, 25.0, 2}};
  for (auto l : levels)
    EXPECT_EQ(levelfor(l.w, l.h, l.rate), l.level) << l.w << "x" << l.h << "@" << l.rate;
  // A level left unset is derived from the size and the declared rate.
  SetUp();
  settings.level = 0;
  settings.framerate = 50.0;
  settings.frameratecode = 6;
  initheaders();
  EXPECT_EQ(settings.level, 2);
  EXPECT_EQ(seqfields.profile_and_level_indication, 0x46);
  // "-tff" without "-interlaced": a progressive sequence keeps top_field_first 0.
  SetUp();
  settings.tff = true;
  initheaders();
  EXPECT_EQ(seqfields.progressive_sequence, 1);
  EXPECT_EQ(picextfields[5].top_field_first, 0);
  settings.interlaced = true;
  initheaders();
  EXPECT_EQ(picextfields[5].top_field_first, 1);
  // 11-bit DC precision is written as asked.
  SetUp();
  settings.dcprec = 3;
  initheaders();
  EXPECT_EQ(picextfields[1].intra_dc_precision, 3);
}

// Main Profile allows an intra DC precision of 8 to 10 bits: 11 declares the High Profile at the
// same level (profile 1 in bits 6..4), every other precision the Main Profile (4).
TEST_F(headers, dcprecisiondecidestheprofile) {
  for (int level = 1; level <= 3; ++level)
    for (int dcprec = 0; dcprec <= 3; ++dcprec) {
      SetUp();
      settings.level = level;
      settings.dcprec = dcprec;
      initheaders();
      const int levelid = level == 1 ? 8 : level == 2 ? 6 : 4;
      const int profile = dcprec == 3 ? 1 : 4;
      EXPECT_EQ(seqfields.profile_and_level_indication, profile << 4 | levelid)
          << "level " << level << " dc precision " << dcprec + 8;
      // As written: the 4-bit extension id 1, then the 8-bit indication.
      const std::vector<uint8_t> h = gopheaders();
      size_t at = 0;
      while (at + 6 < h.size() && !(h[at] == 0 && h[at + 1] == 0 && h[at + 2] == 1 &&
                                    h[at + 3] == 0xB5))
        ++at;
      ASSERT_LT(at + 6, h.size());
      EXPECT_EQ(h[at + 4], 0x10 | profile);
      EXPECT_EQ(h[at + 5] >> 4, levelid);
    }
}

TEST_F(headers, timecode) {
  struct { bool pulldown; double rate; int fields; int tc[4]; int frame; int want[4]; } cases[] = {
      {true, 0, 3596, {0, 0, 0, 0}, 0, {0, 0, 59, 28}},
      {true, 0, 3600, {0, 0, 0, 0}, 0, {0, 1, 0, 2}},
      {true, 0, 35964, {0, 0, 0, 0}, 0, {0, 10, 0, 0}},
      {true, 0, 2, {1, 0, 0, 0}, 0, {1, 0, 0, 1}},           // the start adds 108,000 pictures
      {true, 0, 0, {23, 59, 59, 29}, 0, {23, 59, 59, 29}},
      {true, 0, 2, {23, 59, 59, 29}, 0, {0, 0, 0, 0}},       // hours wrap
      // A start that is no whole ten minutes counts on in pictures, skipping the labels ;00
      // and ;01 of the next minute.
      {true, 0, 26, {0, 0, 59, 16}, 0, {0, 0, 59, 29}},
      {true, 0, 28, {0, 0, 59, 16}, 0, {0, 1, 0, 2}},
      {true, 0, 30, {0, 0, 59, 16}, 0, {0, 1, 0, 3}},
      {true, 0, 4, {0, 1, 59, 28}, 0, {0, 2, 0, 2}},
      {true, 0, 4, {0, 9, 59, 28}, 0, {0, 10, 0, 0}},        // each tenth minute keeps ;00
      {true, 0, 3596, {0, 3, 0, 2}, 0, {0, 4, 0, 2}},        // a minute is 1798 pictures
      {true, 0, 0, {0, 1, 0, 0}, 0, {0, 1, 0, 2}},           // a skipped start label: ;02
      {false, 25.0, 0, {0, 0, 0, 0}, 90000, {1, 0, 0, 0}},
      {false, 25.0, 0, {0, 0, 0, 0}, 90000 * 24 + 26, {0, 0, 1, 1}},  // hours wrap
      {false, 24000.0 / 1001.0, 0, {0, 0, 0, 0}, 24 * 61 + 5, {0, 1, 1, 5}},  // rounds to 24
      {false, 30000.0 / 1001.0, 0, {0, 0, 0, 0}, 1800, {0, 1, 0, 0}},  // non-drop count
      {false, 25.0, 0, {10, 20, 30, 12}, 0, {10, 20, 30, 12}},
  };
  for (auto& c : cases) {
    SetUp();
    settings.pulldown = c.pulldown;
    settings.framerate = c.pulldown ? 24000.0 / 1001.0 : c.rate;
    settings.frameratecode = c.pulldown ? 1 : 3;
    settings.tchours = c.tc[0];
    settings.tcminutes = c.tc[1];
    settings.tcseconds = c.tc[2];
    settings.tcframes = c.tc[3];
    initheaders();
    fieldcount = c.fields;
    int32_t w = timecode(c.frame + settings.tcstart);
    int32_t want = (c.pulldown ? 1 << 24 : 0) | (c.want[0] << 19) | (c.want[1] << 13) |
                   (1 << 12) | (c.want[2] << 6) | c.want[3];
    EXPECT_EQ(w, want) << "fields " << c.fields << " frame " << c.frame;
    // The GOP header carries the word of gopframe + tcstart.
    settings.gopframe = c.frame;
    gopheaders();
    EXPECT_EQ(seqfields.time_code, want);
  }
}

// ffprobe reads a stream of only these headers (and the sequence end code) as asked; the
// aspect ratio and the matrices take a decoded picture (see the stream test).
TEST_F(headers, ffprobereadsheadersonlystream) {
  struct { int w, h, dh, aspect, frc; double rate; int level; bool pulldown;
           const char* size; const char* fps; } cases[] = {
      {720, 576, 576, 2, 3, 25.0, 1, false, "720x576", "25/1"},
      {720, 480, 480, 3, 1, 24000.0 / 1001.0, 1, true, "720x480", "30000/1001"},
      {1440, 1088, 1080, 3, 3, 25.0, 2, false, "1440x1080", "25/1"},
      {1920, 1088, 1080, 3, 4, 30000.0 / 1001.0, 3, false, "1920x1080", "30000/1001"},
  };
  char dir[] = "/tmp/ostrelhdrXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  for (auto& c : cases) {
    SetUp();
    settings.width = c.w;
    settings.height = c.h;
    settings.displayheight = c.dh;
    settings.aspect = c.aspect;
    settings.frameratecode = c.frc;
    settings.framerate = c.rate;
    settings.level = c.level;
    settings.pulldown = c.pulldown;
    initheaders();
    auto b = gopheaders();
    for (uint8_t x : {0x00, 0x00, 0x01, 0xB7}) b.push_back(x);
    std::string path = std::string(dir) + "/h" + std::to_string(c.w) + ".m2v";
    writefile(path, std::string(b.begin(), b.end()));
    // Without pictures the format probe does not recognise the stream: name the format.
    runresult r = runcommand({"ffprobe", "-v", "error", "-f", "mpegvideo", "-select_streams", "v:0",
                              "-show_entries",
                              "stream=codec_name,profile,level,width,height,r_frame_rate",
                              "-of", "default=nw=1", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("codec_name=mpeg2video"), std::string::npos) << r.out;
    std::string size(c.size);
    EXPECT_NE(r.out.find("width=" + size.substr(0, size.find('x'))), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("height=" + size.substr(size.find('x') + 1)), std::string::npos) << r.out;
    // The level as ffmpeg numbers it: the low 4 bits of profile_and_level_indication.
    EXPECT_NE(r.out.find("level=" + std::to_string(c.level == 1 ? 8 : c.level == 2 ? 6 : 4)),
              std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string("r_frame_rate=") + c.fps), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("profile=Main"), std::string::npos) << r.out;
    if (!HasFailure()) std::remove(path.c_str());
  }
  rmdir(dir);
}

}  // namespace
