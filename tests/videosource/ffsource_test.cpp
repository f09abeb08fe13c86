// FFVideoSource: video files in containers give the pictures ffmpeg itself decodes, with random
// access, and files it cannot read give the frame server's error.
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
