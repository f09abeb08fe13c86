// Two passes from outside on the kinds of picture that miss a fixed curve of bits against
// quantiser: heavy grain, a fractal zoom, a pan over a detailed still, a moving scene under a
// hand-held camera and a clip of cuts, 250 frames of 352x288 each, both profiles, fixed and
// automatic GOPs. The averages and the maximum are those of 2000 to 7000 kbit/s under
// "-maxbitrate 8000" at 720x576 scaled to the quarter of the pixels (the same bits per pixel,
// the same nearness of the average to the maximum). Every stream decodes cleanly and never
// underflows the buffer it declares; it lands within 2 % of "-b" (the clip of cuts too, whose
// scenes each follow another curve), and a run more than 2 % off says so in its log; on
// stationary content the first GOP is coded like the rest (mean luma PSNR of the first 15
// frames within 1 dB of the others').
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"
#include "tests/vbv/streamcheck.h"

namespace {

constexpr int frames = 250;
constexpr double framerate = 25.0;

struct clipkind {
  const char* name;
  bool stationary;  // the same kind of picture from start to end
  std::vector<const char*> inputs;  // lavfi sources, 352x288 at 25 frames/s
  const char* graph;                // the filter graph over them
  const char* still = nullptr;      // or a still made first from the one lavfi source
};

const clipkind clipkinds[] = {
    {"grain", true,
     {"smptehdbars=s=352x288:r=25", "testsrc2=s=117x96:r=25", "rgbtestsrc=s=88x72:r=25"},
     "[0][1]overlay=x='mod(t*40,352)':y=57[a];[a][2]overlay=x=176:y='mod(t*25,288)',"
     "noise=alls=60:allf=t+u"},
    {"fractal", false, {"mandelbrot=s=352x288:r=25"}, "[0]null"},
    {"pan", true,
     {"mandelbrot=s=234x192:start_scale=0.02:start_x=-0.743643887037151:"
      "start_y=0.13182590420533:end_scale=0.01,tile=3x3,noise=alls=25:allf=u"},
     "[0]crop=352:288:x='t*35':y='t*14'", "still"},
    {"camera", true, {"testsrc2=s=528x432:r=25"},
     "[0]crop=352:288:x='88+44*sin(t*0.9)+6*sin(t*7)':y='72+29*sin(t*0.6)+5*sin(t*9)',"
     "noise=alls=8:allf=t"},
    {"cuts", false,
     {"mandelbrot=s=352x288:r=25", "testsrc2=s=352x288:r=25", "cellauto=s=352x288:r=25:rule=110:seed=1",
      "smptebars=s=352x288:r=25", "life=s=88x72:r=25:mold=10:ratio=0.1:seed=1"},
     "[0]trim=end_frame=50,setpts=PTS-STARTPTS,format=yuv420p[a];"
     "[1]trim=end_frame=50,setpts=PTS-STARTPTS,format=yuv420p[b];"
     "[2]trim=end_frame=50,setpts=PTS-STARTPTS,format=yuv420p[c];"
     "[3]trim=end_frame=50,setpts=PTS-STARTPTS,noise=alls=20:allf=t,format=yuv420p[d];"
     "[4]trim=end_frame=50,setpts=PTS-STARTPTS,scale=352:288:flags=neighbor,format=yuv420p[e];"
     "[a][b][c][d][e]concat=n=5:v=1"},
};

// The clip as name.y4m with ffmpeg, and the script name.avs that reads it.
void makeclip(const progfolder& pf, const clipkind& k) {
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
  if (k.still) {  // a detailed still (made once) that the graph pans over
    const std::string png = pf.path(std::string(k.name) + ".png");
    const runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                    k.inputs[0], "-frames:v", "1", png});
    ASSERT_EQ(r.status, 0) << r.err;
    argv.insert(argv.end(), {"-loop", "1", "-r", "25", "-i", png});
  } else {
    for (const char* in : k.inputs) argv.insert(argv.end(), {"-f", "lavfi", "-i", in});
  }
  argv.insert(argv.end(), {"-filter_complex", k.graph, "-r", "25", "-frames:v", std::to_string(frames),
                           "-pix_fmt", "yuv420p", "-f", "yuv4mpegpipe",
                           pf.path(std::string(k.name) + ".y4m")});
  const runresult r = runcommand(argv);
  ASSERT_EQ(r.status, 0) << r.err;
  pf.write(std::string(k.name) + ".avs", std::string("Y4MSource(\"") + k.name + ".y4m\")\n");
}

// The luma PSNR of every decoded frame against the source, by ffmpeg's psnr filter (display
// order); empty when it failed.
std::vector<double> framepsnr(const progfolder& pf, const std::string& m2v,
                              const std::string& y4m) {
  const std::string stats = pf.path("psnr.txt");
  const runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-i", m2v, "-i", y4m,
                                  "-lavfi",
                                  "[0:v]setpts=N/TB[a];[1:v]setpts=N/TB[b];[a][b]psnr=stats_file=" +
                                      stats,
                                  "-f", "null",
                                  "-"});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<double> v;
  std::ifstream in(stats);
  static const std::regex y(R"(psnr_y:([0-9.]+|inf))");
  std::smatch m;
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, m, y)) v.push_back(m[1] == "inf" ? 99.0 : std::stod(m[1]));
  return v;
}

double mean(const std::vector<double>& v, size_t from, size_t to) {
  double s = 0.0;
  for (size_t i = from; i < to; ++i) s += v[i];
  return to > from ? s / double(to - from) : 0.0;
}

struct rateparam {
  int clip;  // index into clipkinds
  const char* profile;
  bool autogop;
};

std::string paramname(const testing::TestParamInfo<rateparam>& p) {
  return std::string(clipkinds[p.param.clip].name) + "_" + p.param.profile +
         (p.param.autogop ? "_autogop" : "_gop15");
}

class twopassrate : public testing::TestWithParam<rateparam> {};

TEST_P(twopassrate, landsontheaveragefromthefirstgop) {
  if (sanitizerbuild) GTEST_SKIP() << "heavy (four two-pass runs of 250 frames)";
  const rateparam p = GetParam();
  const clipkind& k = clipkinds[p.clip];
  progfolder pf;
  makeclip(pf, k);
  const std::string y4m = pf.path(std::string(k.name) + ".y4m");
  for (int target : {500, 750, 1250, 1750}) {
    SCOPED_TRACE(testing::Message() << k.name << " -b " << target << " -profile " << p.profile
                                    << (p.autogop ? " automatic GOP" : " -gop 15 2"));
    std::vector<std::string> args = {"-i", std::string(k.name) + ".avs", "-o", "out.m2v", "-b",
                                     std::to_string(target), "-maxbitrate", "2000", "-profile",
                                     p.profile, "-log", "out.log"};
    if (!p.autogop) args.insert(args.end(), {"-gop", "15", "2"});
    const runresult r = pf.ostrel(args, {"OSTREL_THREADS=2"});
    ASSERT_EQ(r.status, 0) << described(r);
    const std::string m2v = pf.path("out.m2v");
    std::string why;
    ASSERT_TRUE(decodesclean(m2v, &why)) << why;
    const std::vector<uint8_t> s = readbytes(m2v);
    const double rate = 8.0 * double(s.size()) * framerate / frames;
    const double error = 100.0 * (rate / (1000.0 * target) - 1.0);
    EXPECT_LE(std::fabs(error), 2.0);
    // The log reckons from the coded bits, the file holds more (its last record's fill among
    // them, up to 8192 bytes, over 1 % of 10 s at 500 kbit/s): only a run clearly off is checked.
    const bool saysoff = pf.read("out.log").find(" *** INFO, average bitrate ") != std::string::npos;
    if (error > 4.0 || error < -2.0) {
      EXPECT_TRUE(saysoff);
    }
    const buffercheck b = buffermodel(s);
    EXPECT_EQ(b.fault, "");
    EXPECT_EQ(b.underflows, 0) << "first at picture " << b.firstunderflow;
    const std::vector<double> psnr = framepsnr(pf, m2v, y4m);
    ASSERT_EQ(psnr.size(), size_t(frames));
    const double first = mean(psnr, 0, 15), rest = mean(psnr, 15, psnr.size());
    if (k.stationary) {
      EXPECT_LE(std::fabs(first - rest), 1.0);
    }
    std::printf("%-8s %-6s %-7s -b %4d: rate %+6.2f %%, PSNR-Y %6.2f dB, first GOP %6.2f dB, "
                "rest %6.2f dB\n",
                k.name, p.profile, p.autogop ? "autogop" : "gop15", target, error,
                mean(psnr, 0, psnr.size()), first, rest);
  }
}

std::vector<rateparam> allparams() {
  std::vector<rateparam> v;
  for (int c = 0; c < int(std::size(clipkinds)); ++c)
    for (const char* profile : {"normal", "best"})
      for (bool autogop : {false, true}) v.push_back({c, profile, autogop});
  return v;
}

INSTANTIATE_TEST_SUITE_P(clips, twopassrate, testing::ValuesIn(allparams()), paramname);

}  // namespace
