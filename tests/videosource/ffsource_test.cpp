// FFVideoSource: video files in containers give the pictures ffmpeg itself decodes, with random
// access, and files it cannot read give the frame server's error.
#include <cmath>

#include "tests/videosource/vstest.h"

namespace {

// Makes a clip with ffmpeg and its reference decode as packed 4:2:0 frames.
struct material {
  std::string file, raw;
};

material makeclip(const tempfolder& dir, const std::string& name, const std::vector<std::string>& encode) {
  material m{dir.path(name), dir.path(name + ".yuv")};
  std::vector<std::string> a{"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                             "testsrc2=size=176x144:rate=25", "-frames:v", "210"};
  a.insert(a.end(), encode.begin(), encode.end());
  a.push_back(m.file);
  runresult r = runcommand(a);
  EXPECT_EQ(r.status, 0) << r.err;
  r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-i", m.file, "-fps_mode", "passthrough", "-f", "rawvideo",
                  "-pix_fmt", "yuv420p", m.raw});
  EXPECT_EQ(r.status, 0) << r.err;
  return m;
}

}  // namespace

using ffvideosource = withframeserver;

TEST_F(ffvideosource, framesEqualFfmpegsDecode) {
  struct c {
    const char* name;
    std::vector<std::string> encode;
  } cases[] = {
      {"clip.mp4", {"-c:v", "libx264", "-preset", "ultrafast", "-g", "48", "-bf", "2", "-pix_fmt", "yuv420p"}},
      {"clip.mpg", {"-c:v", "mpeg2video", "-g", "15", "-bf", "2", "-b:v", "2M", "-f", "vob"}},
      {"clip.ts", {"-c:v", "mpeg2video", "-g", "15", "-bf", "2", "-b:v", "2M", "-f", "mpegts"}},
      {"clip.m2v", {"-c:v", "mpeg2video", "-g", "12", "-bf", "2", "-b:v", "2M"}},
  };
  const size_t fs = 176 * 144 * 3 / 2;
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    material m = makeclip(dir, k.name, k.encode);
    std::string want = readfile(m.raw);
    ASSERT_EQ(want.size() % fs, 0u);
    opened o = script(std::string("FFVideoSource(\"") + k.name + "\")");
    ASSERT_EQ(o.code, 0) << o.msg;
    EXPECT_EQ(o.width, 176);
    EXPECT_EQ(o.height, 144);
    EXPECT_EQ(o.frames, (int)(want.size() / fs));
    EXPECT_EQ(o.frames, 210);
    EXPECT_EQ(o.fpsnum, 25);
    EXPECT_EQ(o.fpsden, 1);
    EXPECT_TRUE(std::filesystem::exists(m.file + ".ffindex")) << "index not kept beside the file";
    for (int n : {200, 3, 201, 0, 209, 100}) {
      planes p(176, 144);
      ASSERT_EQ(p.get(n), 0);
      std::string got(p.y.begin(), p.y.end());
      got.append(p.u.begin(), p.u.end());
      got.append(p.v.begin(), p.v.end());
      EXPECT_TRUE(got == want.substr(n * fs, fs)) << "frame " << n;
    }
    // The second open takes the kept index.
    opened again = script(std::string("FFVideoSource(\"") + k.name + "\")");
    EXPECT_EQ(again.code, 0) << again.msg;
    EXPECT_EQ(again.frames, 210);
  }
}

TEST_F(ffvideosource, indexInTheCacheFolderWhenItCannotGoBesideTheFile) {
  material m = makeclip(dir, "clip.mp4", {"-c:v", "libx264", "-preset", "ultrafast"});
  std::filesystem::create_directory(m.file + ".ffindex");  // blocks the index beside the file
  tempfolder tmp;
  const char* old = std::getenv("XDG_CACHE_HOME");
  std::string keep = old ? old : "";
  setenv("XDG_CACHE_HOME", tmp.dir().c_str(), 1);
  opened first = script("FFVideoSource(\"clip.mp4\")");
  // The index kept there: one regular file, nothing else left beside it.
  const std::string cache = tmp.dir() + "/ostrel";
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(cache)) names.push_back(e.path().string());
  ASSERT_EQ(names.size(), 1u);
  const std::string cached = names[0];
  EXPECT_EQ(std::filesystem::path(cached).extension(), ".ffindex");
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(cached)));
  // A link planted under the index's name is neither read nor written through: the index is
  // made again and replaces the link, the file it pointed at stays as it was.
  std::string victim = dir.write("victim.txt", "not an index");
  std::filesystem::remove(cached);
  std::filesystem::create_symlink(victim, cached);
  opened second = script("FFVideoSource(\"clip.mp4\")");
  if (old)
    setenv("XDG_CACHE_HOME", keep.c_str(), 1);
  else
    unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(first.code, 0) << first.msg;
  EXPECT_EQ(second.code, 0) << second.msg;
  EXPECT_EQ(second.frames, 210);
  EXPECT_EQ(readfile(victim), "not an index");
  EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(cached)));
  EXPECT_TRUE(std::filesystem::is_directory(m.file + ".ffindex")) << "the blocking folder was removed";
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(cache)) files += !e.path().empty();
  EXPECT_EQ(files, 1);
}

TEST_F(ffvideosource, filesItCannotRead) {
  opened o = script("FFVideoSource(\"none.mkv\")");
  EXPECT_EQ(o.code, 3);
  EXPECT_EQ(o.msg, "FFVideoSource: \"" + dir.path("none.mkv") + "\" can't be opened: No such file or directory (t.avs, line 1)");
  dir.write("junk.mkv", std::string(5000, 'j'));
  o = script("FFVideoSource(\"junk.mkv\")");
  EXPECT_EQ(o.code, 3);
  EXPECT_EQ(o.msg.rfind("FFVideoSource: \"" + dir.path("junk.mkv") + "\" can't be", 0), 0u) << o.msg;
  EXPECT_NE(o.msg.find("(t.avs, line 1)"), std::string::npos) << o.msg;
  // An MP4 cut short loses its index atom at the end: it cannot be read.
  material m = makeclip(dir, "cut.mp4", {"-c:v", "libx264", "-preset", "ultrafast"});
  std::string data = readfile(m.file);
  dir.write("cut.mp4", data.substr(0, data.size() / 2));
  o = script("FFVideoSource(\"cut.mp4\")");
  EXPECT_EQ(o.code, 3);
  EXPECT_EQ(o.msg.rfind("FFVideoSource: \"" + dir.path("cut.mp4") + "\" can't be", 0), 0u) << o.msg;
}

// FFMS2 and the decoding libraries under it come in with the first FFVideoSource, not with the
// frame server: a script of other sources starts without paying for loading them. (Each test
// runs in a process of its own.)
TEST_F(ffvideosource, librariesLoadWithTheFirstFFVideoSource) {
  auto loaded = [] { return readfile("/proc/self/maps").find("libffms2") != std::string::npos; };
  std::string y4m = "YUV4MPEG2 W16 H16 F25:1 Ip A1:1 C420jpeg\n";
  for (int f = 0; f < 2; ++f) y4m += "FRAME\n" + std::string(16 * 16 * 3 / 2, char(16 + 100 * f));
  dir.write("clip.y4m", y4m);
  opened o = script("Y4MSource(\"clip.y4m\")");
  ASSERT_EQ(o.code, 0) << o.msg;
  EXPECT_EQ(o.frames, 2);
  EXPECT_FALSE(loaded()) << "FFMS2 loaded for a script without FFVideoSource";
  material m = makeclip(dir, "clip.m2v", {"-c:v", "mpeg2video", "-g", "12", "-b:v", "2M"});
  opened ff = script("FFVideoSource(\"clip.m2v\")");
  ASSERT_EQ(ff.code, 0) << ff.msg;
  EXPECT_EQ(ff.frames, 210);
  EXPECT_TRUE(loaded());
}

// FFMS2's named arguments: a new picture size through FFMS2's scaler and a constant frame rate
// by repeating and dropping the file's frames. Every frame of the made files is flat at its
// own level (10 + 2 x its number), so a delivered frame tells which file frame it is.
namespace {
std::string flatclip(const tempfolder& dir, const std::string& name, const std::string& size,
                     const std::string& rate, const std::string& seconds) {
  runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                            "nullsrc=s=" + size + ":r=" + rate + ":d=" + seconds +
                                ",format=yuv420p,geq=lum=10+2*N:cb=128:cr=128",
                            "-c:v", "libx264", "-preset", "ultrafast", "-qp", "0", dir.path(name)});
  EXPECT_EQ(r.status, 0) << r.err;
  return name;
}
// The file frame a delivered frame shows, from the middle of its picture.
int fileframe(int n, int w, int h) {
  planes p(w, h);
  if (p.get(n) != 0) return -1;
  int level = p.y[(size_t)(h / 2) * w + w / 2];
  return (level - 10 + 1) / 2;
}
}  // namespace

TEST_F(ffvideosource, sizeAndFrameRateOfTheScript) {
  flatclip(dir, "hd.mp4", "1280x720", "30", "3");
  flatclip(dir, "film.mkv", "320x240", "24000/1001", "2");
  struct c {
    const char* script;
    int width, height, fpsnum, fpsden, frames;
    double step;  // file frames per delivered frame
  } cases[] = {
      // 3 s at 30 frames a second to a PAL picture: 75 frames at 25, file frame round(1.2 n).
      {"FFVideoSource(\"hd.mp4\", width=720, height=576, fpsnum=25, fpsden=1)", 720, 576, 25, 1, 75, 1.2},
      {"FFVideoSource(\"hd.mp4\", width=720, height=480, resizer=\"lanczos\", fpsnum=30000, fpsden=1001)",
       720, 480, 30000, 1001, 90, 30.0 * 1001 / 30000},
      {"FFVideoSource(\"hd.mp4\", height=576)", 1280, 576, 30, 1, 90, 1.0},
      // 2.002 s of film (48 frames at 23.976): 60 frames at 29.97, file frame round(0.8 n).
      {"FFVideoSource(\"film.mkv\", fpsnum=30000, fpsden=1001)", 320, 240, 30000, 1001, 60, 0.8},
      {"FFVideoSource(\"film.mkv\", width=720, height=576, fpsnum=25, fpsden=1, resizer=\"BILINEAR\")",
       720, 576, 25, 1, 50, 24000.0 / 1001 / 25},
      {"FFVideoSource(\"film.mkv\", fpsnum=-1)", 320, 240, 24000, 1001, 48, 1.0},
  };
  for (const c& k : cases) {
    SCOPED_TRACE(k.script);
    opened o = script(k.script);
    ASSERT_EQ(o.code, 0) << o.msg;
    EXPECT_EQ(o.width, k.width);
    EXPECT_EQ(o.height, k.height);
    EXPECT_EQ(o.fpsnum, k.fpsnum);
    EXPECT_EQ(o.fpsden, k.fpsden);
    EXPECT_EQ(o.frames, k.frames);
    for (int n : {0, 1, 2, 3, 4, 5, 6, 7, 11, 12, 13, 29, 30, k.frames - 2, k.frames - 1}) {
      double want = n * k.step;
      int got = fileframe(n, k.width, k.height);
      // The container's time stamps (milliseconds in Matroska) may tip a frame close to half
      // way; elsewhere the nearest file frame.
      if (std::abs(want - std::floor(want) - 0.5) > 0.05)
        EXPECT_EQ(got, (int)std::lround(want)) << "frame " << n;
      else
        EXPECT_LE(std::abs(got - want), 0.55) << "frame " << n;
    }
  }
}

TEST_F(ffvideosource, wrongArgumentsAreRefused) {
  flatclip(dir, "hd.mp4", "320x240", "30", "1");
  struct c {
    const char* args;
    const char* message;
  } cases[] = {
      {"width=721", "argument \"width\" is 721: an even number of pixels up to 8192 (0 or less keeps the file's)"},
      {"height=9000", "argument \"height\" is 9000: an even number of pixels up to 8192 (0 or less keeps the file's)"},
      {"resizer=\"CUBIC\"",
       "argument \"resizer\" is \"CUBIC\": one of FAST_BILINEAR, BILINEAR, BICUBIC, X, POINT, AREA, BICUBLIN, "
       "GAUSS, SINC, LANCZOS, SPLINE"},
      {"fpsnum=25, fpsden=0", "fpsnum=25, fpsden=0 is no frame rate: fpsden at least 1 and at most 1000 frames a second"},
      {"fpsnum=100000", "fpsnum=100000, fpsden=1 is no frame rate: fpsden at least 1 and at most 1000 frames a second"},
      {"fpsden=1001", "argument \"fpsden\" needs \"fpsnum\" beside it"},
  };
  for (const c& k : cases) {
    SCOPED_TRACE(k.args);
    opened o = script(std::string("FFVideoSource(\"hd.mp4\", ") + k.args + ")");
    EXPECT_EQ(o.code, 3);
    EXPECT_EQ(o.msg, std::string("Script error: FFVideoSource: ") + k.message + " (t.avs, line 1)");
  }
  // The script's own errors: a wrong type, and the arguments by name only.
  opened o = script("FFVideoSource(\"hd.mp4\", width=\"720\")");
  EXPECT_EQ(o.msg, "Script error: FFVideoSource: argument \"width\" must be an integer (t.avs, line 1)");
  o = script("FFVideoSource(\"hd.mp4\", 720)");
  EXPECT_EQ(o.msg, "Script error: FFVideoSource takes at most 1 argument without a name (t.avs, line 1)");
}
