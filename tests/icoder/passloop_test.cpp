// The pass loops over whole clips: GOP order and picture types as ffprobe and the headers show
// them, chapters, pulldown flags across GOPs, the end code and the bit count, the pass protocol
// (steps, stop) and a failed write in the middle of a run.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>

#include "encoder/coding/streamwriter.h"
#include "encoder/control/control.h"
#include "encoder/control/framestore.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "encoder/passes/framering.h"
#include "encoder/passes/pass1.h"
#include "encoder/passes/passhooks.h"
#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"
#include "videosource/bridge.h"

namespace {

struct probeframe {
  std::string type;
  int tff = 0, repeat = 0;
};

std::vector<probeframe> probeframes(const std::string& m2v) {
  runresult r = runcommand({"ffprobe", "-v", "error", "-show_frames", m2v});
  std::vector<probeframe> v;
  std::istringstream in(r.out);
  for (std::string line; std::getline(in, line);) {
    if (line == "[FRAME]") v.emplace_back();
    else if (v.empty()) continue;
    else if (line.rfind("pict_type=", 0) == 0) v.back().type = line.substr(10);
    else if (line.rfind("top_field_first=", 0) == 0) v.back().tff = std::stoi(line.substr(16));
    else if (line.rfind("repeat_pict=", 0) == 0) v.back().repeat = std::stoi(line.substr(12));
  }
  return v;
}

void expectendsandcounts(const std::string& m2v) {
  std::vector<uint8_t> s = readbytes(m2v);
  ASSERT_GE(s.size(), 4u);
  EXPECT_EQ(s[s.size() - 4], 0x00);
  EXPECT_EQ(s[s.size() - 3], 0x00);
  EXPECT_EQ(s[s.size() - 2], 0x01);
  EXPECT_EQ(s[s.size() - 1], 0xB7);
  EXPECT_EQ(int64_t(s.size()) * 8, streambitcount);
}

}  // namespace

using passloop = coderun;

// GOPs of the GOP length in use as the fixed-GOP decision shares out the frames (a 12-frame
// clip in GOPs of 5 is 5, 4, 3); a chapter frame starts a closed GOP; with closed GOPs set
// every GOP is closed. Without B pictures each GOP is an I picture and then P pictures, in
// display order.
TEST_F(passloop, gopsandpicturetypes) {
  struct c {
    const char* what;
    bool closedgops;
    int chapter;  // -1 none
    std::vector<int> gops;
    std::vector<int> closed;
  } cases[] = {
      {"plain", false, -1, {5, 4, 3}, {1, 0, 0}},
      {"closed", true, -1, {5, 4, 3}, {1, 1, 1}},
      {"chapter", false, 7, {4, 3, 5}, {1, 0, 1}},
  };
  for (const c& t : cases) {
    runsetup r;
    r.width = 352;
    r.height = 288;
    r.frames = 12;
    r.goplength = 5;
    r.closedgops = t.closedgops;
    prepare(r);
    if (t.chapter >= 0) chapterflags[t.chapter] = 1;
    encode(naturalpicture());
    if (t.chapter >= 0) chapterflags[t.chapter] = 0;
    unitclose(unitstream);
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << t.what << ": " << why;
    EXPECT_EQ(nextstep.load(), stepdone) << t.what;
    std::vector<probeframe> pf = probeframes(m2v);
    ASSERT_EQ(pf.size(), 12u) << t.what;
    std::vector<uint8_t> s = readbytes(m2v);
    std::vector<std::pair<int, int>> want;
    std::vector<std::string> types;
    for (int n : t.gops)
      for (int tr = 0; tr < n; ++tr) {
        want.push_back({tr, tr == 0 ? 1 : 2});
        types.push_back(tr == 0 ? "I" : "P");
      }
    for (size_t k = 0; k < pf.size(); ++k) EXPECT_EQ(pf[k].type, types[k]) << t.what << " " << k;
    EXPECT_EQ(pictureheaders(s), want) << t.what;
    EXPECT_EQ(gopclosedflags(s), t.closed) << t.what;
    // A sequence header before every GOP, the user data only in the first.
    std::vector<size_t> seqat, userat, gopat;
    for (const streamitem& it : startcodes(s)) {
      if (it.code == 0xB3) seqat.push_back(it.offset);
      if (it.code == 0xB2) userat.push_back(it.offset);
      if (it.code == 0xB8) gopat.push_back(it.offset);
    }
    ASSERT_EQ(seqat.size(), t.gops.size()) << t.what;
    ASSERT_EQ(userat.size(), 1u) << t.what;
    EXPECT_LT(userat[0], gopat[0]);
    EXPECT_EQ(seqat[0], 0u);
    EXPECT_EQ(settings.gopnumber, int(t.gops.size()));
    EXPECT_EQ(settings.gopframe, 12);
    expectendsandcounts(m2v);
    TearDown();
    SetUp();
  }
}

// A 23.976 source with pulldown, 464 lines coded as 480: the flags run 3, 0, 2, 1 on across
// GOPs of 6 (ffprobe: repeat_pict 1 where the first field repeats).
TEST_F(passloop, pulldownflagscontinueacrossgops) {
  runsetup r;
  r.width = 720;
  r.height = 464;
  r.frameratecode = 1;
  r.pulldown = true;
  r.frames = 12;
  r.goplength = 6;
  encodeclip(r, naturalpicture());
  EXPECT_EQ(settings.height, 480);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  std::vector<probeframe> pf = probeframes(m2v);
  ASSERT_EQ(pf.size(), 12u);
  const int flags[4] = {3, 0, 2, 1};
  for (int t = 0; t < 12; ++t) {
    EXPECT_EQ(pf[t].tff, flags[t % 4] & 1) << t;
    EXPECT_EQ(pf[t].repeat, flags[t % 4] >> 1) << t;
  }
  std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
  EXPECT_GE(yuv.size(), 12u * 720 * 464 * 3 / 2) << why;  // 464 lines each (plus repeats)
  expectendsandcounts(m2v);
}

// The row figures of the fetch against sums computed here.
TEST_F(passloop, rowactivityandlumasum) {
  runsetup r;
  r.width = 352;
  r.height = 288;
  prepare(r);
  uint32_t seed = 20261210;
  std::printf("seed %u\n", seed);
  uint8_t* y = ringplane(2, 0);
  for (int i = 0; i < settings.lumasize; ++i) {
    seed = seed * 1103515245u + 12345u;
    int row = i / 352 / 16;
    y[i] = row == 3 ? 77 : uint8_t((seed >> 16) % (row * 14 + 1));  // row 4 flat
  }
  measureframe(2, 2);
  uint32_t total = 0;
  for (int row = 0; row < 18; ++row) {
    uint32_t want = 0;
    for (int mb = 0; mb < 22; ++mb) {
      uint32_t s = 0, q = 0;
      for (int k = 0; k < 256; ++k) {
        uint32_t v = y[(16 * row + k / 16) * 352 + 16 * mb + k % 16];
        s += v;
        q += v * v;
      }
      total += s;
      want += (q - (s >> 4) * (s >> 4)) >> 8;
    }
    EXPECT_EQ(framering[2].rowactivity[row], want) << "row " << row + 1;
  }
  EXPECT_EQ(framering[2].rowactivity[3], 0u);
  EXPECT_EQ(framering[2].rowactivity[18], 0u);
  EXPECT_EQ(framering[2].lumasum, total);
}

// Two passes: the first counts and writes nothing, then asks for step 12; the second writes
// the stream and asks for step 99.
TEST_F(passloop, twopassrunwritesthestreaminpass2) {
  runsetup r;
  r.width = 352;
  r.height = 288;
  r.frames = 4;
  r.goplength = 2;
  prepare(r);
  settings.passmode = 2;
  ASSERT_TRUE(unitopen(unitstats, dir + "/KJ.dbs", unitnew));  // the start-up's scratch file
  usesource(naturalpicture());
  pass1thread(&statusblock);
  EXPECT_EQ(nextstep.load(), steppass2);
  EXPECT_FALSE(settings.streamout);
  EXPECT_TRUE(settings.writestats);
  EXPECT_TRUE(readbytes(m2v).empty());
  nextstep = 0;
  pass2thread(&statusblock);
  usesource(nullptr);
  EXPECT_EQ(nextstep.load(), stepdone);
  unitclose(unitstream);
  std::string why;
  EXPECT_TRUE(decodesclean(m2v, &why)) << why;
  EXPECT_EQ(probeframes(m2v).size(), 4u);
  expectendsandcounts(m2v);
}

// A pass that is stopped ends at the next picture without a step and without the tail.
TEST_F(passloop, stoppedpassendswithoutastep) {
  runsetup r;
  r.width = 352;
  r.height = 288;
  r.frames = 10;
  r.goplength = 3;
  prepare(r);
  int seen = 0;
  passprobe = [&](int pass, int k) {
    seen = k;
    if (k == 5) keeprunning = false;
  };
  encode(naturalpicture());
  passprobe = nullptr;
  EXPECT_EQ(seen, 5);
  EXPECT_EQ(nextstep.load(), 0);
  EXPECT_EQ(settings.gopnumber, 2);
}

// A full disk in the middle of a run: the error line, errorflag and step 98; the pass ends at
// once and never asks for step 99, so the run cannot end as if the stream were complete.
TEST_F(passloop, writefailureendstherunwithstep98) {
  runsetup r;
  r.frames = 3;
  r.goplength = 1;
  r.logfile = true;
  prepare(r, "/dev/full");
  showwindow = true;
  int last = 0;  // the pass ends after the failed write of the first GOP
  passprobe = [&](int pass, int k) { last = k; };
  testing::internal::CaptureStderr();
  encode(naturalpicture());
  std::string err = testing::internal::GetCapturedStderr();
  passprobe = nullptr;
  const std::string status = getstatusline();
  EXPECT_EQ(last, 1);
  EXPECT_EQ(err, "ostrel: ERROR, can't write to output file, aborting... (No space left on device)\n");
  EXPECT_TRUE(errorflag);
  EXPECT_EQ(nextstep.load(), steperror);
  EXPECT_TRUE(streamfailed());
  EXPECT_EQ(status.substr(0, status.find_last_not_of(' ') + 1),
            "ERROR,  can't write to output file, aborting...");
  unitclose(unitlog);
  const std::string logged = readfile(dir + "/out.log");
  EXPECT_NE(logged.find(" *** ERROR, can't write to output file, aborting...\n"),
            std::string::npos);
}

// The clip read through the video source bridge from our frame server: the stream decodes
// cleanly and close to the frames the frame server delivers.
TEST_F(passloop, clipthroughthebridge) {
  std::string script = dir + "/clip.avs";
  writefile(script, "TestPattern(length=8, width=352, height=288, fps=25)\n");
  ASSERT_EQ(avsload(), 0);
  int w = 0, h = 0, frames = 0, num = 0, den = 0;
  char msg[512];
  ASSERT_EQ(avsopen(script.c_str(), w, h, frames, num, den, msg, sizeof msg), 0);
  ASSERT_EQ(w, 352);
  ASSERT_EQ(h, 288);
  ASSERT_EQ(frames, 8);
  runsetup r;
  r.width = w;
  r.height = h;
  r.frames = frames;
  r.goplength = 4;
  prepare(r);
  settings.avsinput = true;
  pass1thread(&statusblock);
  unitclose(unitstream);
  EXPECT_EQ(nextstep.load(), stepdone);
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  std::vector<uint8_t> yuv = decodeyuv(m2v, &why);
  const size_t fsize = 352 * 288 * 3 / 2;
  ASSERT_EQ(yuv.size(), 8 * fsize) << why;
  std::vector<uint8_t> src(fsize);
  for (int f = 0; f < 8; ++f) {
    ASSERT_EQ(avsgetframe(f, 352, 176, src.data(), src.data() + 352 * 288,
                          src.data() + 352 * 288 * 5 / 4), 0);
    double se = 0;
    for (size_t i = 0; i < 352 * 288; ++i) {
      double d = double(src[i]) - yuv[f * fsize + i];
      se += d * d;
    }
    double p = se == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 * 352 * 288 / se);
    EXPECT_GT(p, 30.0) << "frame " << f;
  }
  avsclose();
}

// The argument record of a picture points into the frame store: the source planes of its ring
// entry, the reconstructed planes of its references (none for slot 0), the prediction and
// residual planes, and scratch blocks that overlap none of them.
TEST_F(passloop, pictureargumentsfromtheframestore) {
  runsetup r;
  r.width = 64;
  r.height = 48;
  r.goplength = 6;
  prepare(r);
  const int w = 64, cw = 32;
  for (auto [cur, slot, fwd, bwd] : {std::array<int, 4>{3, 2, 1, 4}, {5, 1, 0, 0}, {1, 4, 1, 0}}) {
    const pictargs a = picjobfor(cur, slot, fwd, bwd);
    SCOPED_TRACE(testing::Message() << cur << " " << slot << " " << fwd << " " << bwd);
    EXPECT_EQ(a.curframe, cur);
    EXPECT_EQ(a.curslot, slot);
    EXPECT_EQ(a.fwdslot, fwd);
    EXPECT_EQ(a.bwdslot, bwd);
    EXPECT_EQ(a.ypitch, w);
    EXPECT_EQ(a.cpitch, cw);
    EXPECT_EQ(a.cury, ringplane(cur, 0));
    EXPECT_EQ(a.curu, ringplane(cur, 1));
    EXPECT_EQ(a.curv, ringplane(cur, 2));
    EXPECT_EQ(a.fwdy, fwd ? reconplane(fwd, 0) : nullptr);
    EXPECT_EQ(a.fwdu, fwd ? reconplane(fwd, 1) : nullptr);
    EXPECT_EQ(a.fwdv, fwd ? reconplane(fwd, 2) : nullptr);
    EXPECT_EQ(a.bwdy, bwd ? reconplane(bwd, 0) : nullptr);
    EXPECT_EQ(a.bwdu, bwd ? reconplane(bwd, 1) : nullptr);
    EXPECT_EQ(a.bwdv, bwd ? reconplane(bwd, 2) : nullptr);
    EXPECT_EQ(a.predy, predplane(0));
    EXPECT_EQ(a.predu, predplane(1));
    EXPECT_EQ(a.predv, predplane(2));
    EXPECT_EQ(a.resy, residplane(0, 0));
    EXPECT_EQ(a.resu, residplane(0, 1));
    EXPECT_EQ(a.resv, residplane(0, 2));
    // The source macroblock block, then the 768 bytes of the B prediction blocks, 16-byte
    // aligned, inside the scratch area after the prediction planes.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.mescratch) % 16, 0u);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(a.predscratch) % 16, 0u);
    EXPECT_GE(a.mescratch, predplane(2) + settings.chromasize);
    EXPECT_GE(a.predscratch, a.mescratch + 256);
    EXPECT_LE(a.predscratch + 768, assemblyarea());
  }
}
