#include "tests/icoder/fixture.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "encoder/coding/codingerror.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/transform.h"
#include "encoder/control/control.h"
#include "encoder/control/framestore.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "encoder/motion/cpu.h"
#include "encoder/passes/framering.h"
#include "platform/clock.h"
#include "platform/queue.h"
#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {

// MPEG-2 default intra matrix, raster order (the stream then carries no matrix).
const int16_t defaultintra[64] = {
     8, 16, 19, 22, 26, 27, 29, 34,
    16, 16, 22, 24, 27, 29, 34, 37,
    19, 22, 26, 27, 29, 34, 34, 38,
    22, 22, 26, 27, 29, 34, 37, 40,
    22, 26, 27, 29, 32, 35, 40, 48,
    26, 27, 29, 32, 35, 40, 48, 58,
    26, 27, 29, 34, 38, 46, 56, 69,
    27, 29, 35, 38, 46, 56, 69, 83};

double rateofcode(int code) {
  switch (code) {
    case 1: return 24000.0 / 1001.0;
    case 2: return 24.0;
    case 3: return 25.0;
    case 4: return 30000.0 / 1001.0;
    case 5: return 30.0;
    case 6: return 50.0;
    default: return 25.0;
  }
}

uint16_t recipof(int w) { return w == 1 ? 65535 : uint16_t(65536 / w); }

}  // namespace

picturefn flatpicture(uint8_t yv, uint8_t uv, uint8_t vv) {
  return [=](int, uint8_t* y, uint8_t* u, uint8_t* v) {
    const int w = settings.width, h = settings.displayheight;
    std::fill(y, y + w * h, yv);
    std::fill(u, u + w * h / 4, uv);
    std::fill(v, v + w * h / 4, vv);
  };
}

picturefn naturalpicture() {
  return [](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    const int w = settings.width, h = settings.displayheight;
    uint32_t seed = 12345u + uint32_t(f) * 7919u;
    auto noise = [&seed] {
      seed = seed * 1664525u + 1013904223u;
      return int((seed >> 24) % 7) - 3;
    };
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c) {
        double g = 30.0 + 170.0 * (c + 3 * f) / w + 20.0 * r / h;
        double t = 18.0 * std::sin((c + 2 * f) * 0.21) * std::cos(r * 0.17);
        int val = int(std::lround(g + t)) + noise();
        y[r * w + c] = uint8_t(std::clamp(val, 0, 255));
      }
    for (int r = 0; r < h / 2; ++r)
      for (int c = 0; c < w / 2; ++c) {
        u[r * (w / 2) + c] = uint8_t(std::clamp(90 + 60 * c / (w / 2) + noise(), 0, 255));
        v[r * (w / 2) + c] = uint8_t(std::clamp(170 - 50 * r / (h / 2) + noise(), 0, 255));
      }
  };
}

picturefn noisepicture(uint32_t seed) {
  return [seed](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    std::mt19937 rng(seed + uint32_t(f));
    const int w = settings.width, h = settings.displayheight;
    for (int i = 0; i < w * h; ++i) y[i] = uint8_t(rng());
    for (int i = 0; i < w * h / 4; ++i) {
      u[i] = uint8_t(rng());
      v[i] = uint8_t(rng());
    }
  };
}

int hostlevel() {
  cpuidwords w;
  cpuinfo(&w);
  return cpulevelof(w);
}

void coderun::SetUp() {
  setclockscale(0);
  dir = testing::TempDir() + "/icoder-" + std::to_string(getpid()) + "-" +
        testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::create_directories(dir);
  m2v = dir + "/out.m2v";
}

void usesource(const picturefn& pic) {
  if (!pic) {
    ringsource = nullptr;
    return;
  }
  ringsource = [pic](int f, uint8_t* y, uint8_t* u, uint8_t* v) {
    pic(f, y, u, v);
    return 0;
  };
}

void coderun::TearDown() {
  usesource(nullptr);
  closerununits();
  freeframes();
  clearqueue();
  clearcodingerror();
  keeprunning = true;
  errorflag = false;
  abortlatched = false;
  nextstep = 0;
  runstate = 0;
  showwindow = true;
  std::error_code ec;
  fs::remove_all(dir, ec);
}

void coderun::prepare(const runsetup& r, const std::string& stream) {
  settings = settingsrec{};
  settingsrec& st = settings;
  st.width = r.width;
  st.height = r.height;
  st.displayheight = r.height;
  if (st.height == 1080) st.height = 1088;
  st.dcprec = r.dcprec;
  st.interlaced = r.interlaced;
  st.pulldown = r.pulldown;
  st.closedgops = r.closedgops;
  st.noscd = r.noscd;
  st.seqendcode = r.seqendcode;
  st.frameratecode = r.frameratecode;
  st.framerate = rateofcode(r.frameratecode);
  st.aspect = 2;
  st.goplength = r.goplength;
  st.autogop = false;
  st.bframes = 0;
  st.passmode = 1;
  st.cqmode = true;
  st.cqvalue = r.cq;
  st.firstframe = 0;
  st.lastframe = r.frames - 1;
  st.clipframes = r.frames;
  st.framecount = r.frames;
  st.simdlevel = r.simdlevel ? r.simdlevel : hostlevel();
  st.logfileon = r.logfile;
  st.chromawidth = st.width / 2;
  st.chromaheight = st.height / 2;
  st.mbcols = st.width / 16;
  st.mbrows = st.height / 16;
  st.lumasize = st.width * st.height;
  st.chromasize = st.lumasize / 4;
  st.mbcount = st.lumasize / 256;
  st.searchxmax = st.width - 16;
  st.searchymax = st.height - 16;
  st.lumapitch = st.width;
  st.chromapitch = st.width / 2;
  st.level = st.width > 1440 ? 3 : st.width <= 720 && st.height <= 576 ? 1 : 2;
  padcodedheight();
  st.slotcount = r.goplength + 1;
  st.ringsize = 2 * r.goplength + 3;
  setdctmode(st.simdlevel);
  setcpumode(st.simdlevel);
  for (int i = 0; i < 64; ++i) {
    quantmatrices.intra[i] = defaultintra[i];
    quantmatrices.nonintra[i] = 16;
    quantrecip.intra[i] = recipof(defaultintra[i]);
    quantrecip.nonintra[i] = recipof(16);
  }
  basematrices = quantmatrices;
  loadintramatrix = loadnonintramatrix = 0;
  initheaders();
  ASSERT_EQ(allocframes(), 0);
  ASSERT_TRUE(unitopen(unitstream, stream.empty() ? m2v : stream, unitnew));
  if (r.logfile) {
    ASSERT_TRUE(unitopen(unitlog, dir + "/out.log", unitnew));
  }
  clearcodingerror();
  keeprunning = true;
  errorflag = false;
  abortlatched = false;
  nextstep = 0;
  runstate = 0;
  showwindow = false;
}

std::string coderun::preparestats(int bframes, int kbitrate, int kmaxbitrate) {
  settingsrec& st = settings;
  st.passmode = 2;
  st.cqmode = false;
  st.cqvalue = 4.0f;
  st.bframes = bframes;
  st.bitrate = kbitrate * 1000;
  st.maxbitrate = kmaxbitrate * 1000;
  st.bppclass = 3;
  st.vbvsize = 1743258;
  st.duration = st.framecount / st.framerate;
  std::fill(std::begin(zonefactors), std::end(zonefactors), 1.0f);  // the settings' preset
  const std::string dbs = dir + "/KJ01.dbs";
  EXPECT_TRUE(unitopen(unitstats, dbs, unitnew));
  return dbs;
}

void coderun::encode(const picturefn& pic) {
  usesource(pic);
  pass1thread(&statusblock);
  usesource(nullptr);
}

void coderun::encodeclip(const runsetup& r, const picturefn& pic) {
  prepare(r);
  encode(pic);
  unitclose(unitstream);
}

std::vector<uint8_t> readbytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::vector<uint8_t> decodeyuv(const std::string& m2v, std::string* why) {
  std::string out = m2v + ".yuv";
  runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", m2v, "-f", "rawvideo",
                            "-pix_fmt", "yuv420p", out});
  if (r.status != 0) {
    if (why) *why = r.err;
    return {};
  }
  return readbytes(out);
}

std::vector<streamitem> startcodes(const std::vector<uint8_t>& s) {
  std::vector<streamitem> v;
  for (size_t i = 0; i + 3 < s.size(); ++i)
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      v.push_back({s[i + 3], i});
      i += 3;
    }
  return v;
}

std::vector<int> slicequants(const std::vector<uint8_t>& s, int p) {
  std::vector<int> q;
  int picture = -1;
  for (const streamitem& it : startcodes(s)) {
    if (it.code == 0x00) ++picture;
    else if (picture == p && it.code >= 0x01 && it.code <= 0xAF && it.offset + 4 < s.size()) {
      if (int(q.size()) < it.code) q.resize(it.code, 0);
      q[it.code - 1] = s[it.offset + 4] >> 3;
    }
  }
  return q;
}

std::vector<std::pair<int, int>> pictureheaders(const std::vector<uint8_t>& s) {
  std::vector<std::pair<int, int>> v;
  for (const streamitem& it : startcodes(s))
    if (it.code == 0x00 && it.offset + 6 < s.size()) {
      uint32_t w = (uint32_t(s[it.offset + 4]) << 8) | s[it.offset + 5];
      v.push_back({int(w >> 6), int((w >> 3) & 7)});
    }
  return v;
}

std::vector<int> gopclosedflags(const std::vector<uint8_t>& s) {
  std::vector<int> v;
  for (const streamitem& it : startcodes(s))
    if (it.code == 0xB8 && it.offset + 8 < s.size()) {
      // time_code 25 bits, then closed_gop: bit 25 of the 32 bits after the start code.
      uint32_t w = (uint32_t(s[it.offset + 4]) << 24) | (uint32_t(s[it.offset + 5]) << 16) |
                   (uint32_t(s[it.offset + 6]) << 8) | s[it.offset + 7];
      v.push_back(int((w >> 6) & 1));
    }
  return v;
}
