// Our D2V decoder library through the bridge: MPEG-2 program and elementary streams listed in
// D2V projects decode to ffmpeg's own pictures, with random access; broken projects and files
// give the bridge's codes.
#include <unistd.h>

#include "tests/videosource/vstest.h"

namespace {

const int W = 176, H = 144;
const size_t FS = W * H * 3 / 2;

// Makes a 210-frame MPEG-2 stream with ffmpeg (args choose the container) and its reference
// decode as packed 4:2:0 frames; gives the decode.
std::string makestream(const std::string& file, const std::vector<std::string>& args) {
  std::vector<std::string> a{"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                             "testsrc2=size=176x144:rate=30000/1001", "-frames:v", "210", "-c:v", "mpeg2video",
                             "-g", "15", "-bf", "2", "-b:v", "2M"};
  a.insert(a.end(), args.begin(), args.end());
  a.push_back(file);
  runresult r = runcommand(a);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string raw = file + ".yuv";
  r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-i", file, "-fps_mode", "passthrough", "-f", "rawvideo",
                  "-pix_fmt", "yuv420p", raw});
  EXPECT_EQ(r.status, 0) << r.err;
  return readfile(raw);
}

// A project as an indexing tool writes it (the index lines are not read by the decoder).
std::string d2vproject(int version, const std::vector<std::string>& files) {
  char first[32];
  std::snprintf(first, sizeof first, "DGIndexProjectFile%02d", version);
  std::string s = std::string(first) + "\n" + std::to_string(files.size()) + "\n";
  for (const auto& f : files) s += (version == 6 ? "1 " : "") + f + "\n";
  s += "\nStream_Type=1\nMPEG_Type=2\niDCT_Algorithm=6 (IEEE-1180 Reference)\nYUVRGB_Scale=1\n"
       "Luminance_Filter=0,0\nClipping=0,0,0,0\nAspect_Ratio=4:3\nPicture_Size=176x144\nField_Operation=0\n"
       "Frame_Rate=29970 (30000/1001)\nLocation=0,0,0,0\n\n"
       "7 0 0 0 0 0 0 b2 a2 a2 b2 a2 a2 b2 a2 a2 b2 a2 a2 b2 a2 a2\n\nFINISHED  100.00% VIDEO\n";
  return s;
}

struct d2vopened {
  int code = -1, width = -1, height = -1, frames = -1, fpsnum = -1, fpsden = -1;
};

d2vopened openproject(const std::string& path) {
  d2vopened o;
  o.code = d2vopen(path.c_str(), o.width, o.height, o.frames, o.fpsnum, o.fpsden);
  return o;
}

std::string fetch(int n) {
  planes p(W, H);
  d2vgetframe(n, p.y.data(), p.u.data(), p.v.data());
  std::string s(p.y.begin(), p.y.end());
  s.append(p.u.begin(), p.u.end());
  s.append(p.v.begin(), p.v.end());
  return s;
}

class dgdecode : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(d2vfree(), 0); }
  tempfolder dir;
};

}  // namespace

TEST_F(dgdecode, framesEqualFfmpegsDecode) {
  std::string ps = dir.path("title.vob"), es = dir.path("clip.m2v");
  std::string wantps = makestream(ps, {"-f", "vob"});
  std::string wantes = makestream(es, {});
  std::string closed = dir.path("closed.m2v");
  std::string wantclosed = makestream(closed, {"-flags", "+cgop", "-sc_threshold", "1000000000"});
  ASSERT_EQ(wantps.size(), 210 * FS);
  ASSERT_EQ(wantes.size(), 210 * FS);
  // The program stream split in two files, as a DVD title is: decoded as one video.
  std::string whole = readfile(ps);
  std::string part1 = dir.write("VTS_01_1.VOB", whole.substr(0, whole.size() / 3 + 1001));
  std::string part2 = dir.write("VTS_01_2.VOB", whole.substr(whole.size() / 3 + 1001));
  struct c {
    std::string name;
    std::string project;
    const std::string* want;
  } cases[] = {
      {"program stream, version 16", d2vproject(16, {ps}), &wantps},
      {"elementary stream, version 11", d2vproject(11, {es}), &wantes},
      {"closed GOPs", d2vproject(16, {closed}), &wantclosed},
      {"two files, version 6", d2vproject(6, {part1, part2}), &wantps},
      {"names relative to the project", d2vproject(16, {"VTS_01_1.VOB", "VTS_01_2.VOB"}), &wantps},
  };
  ASSERT_EQ(d2vload("DGDecode.dll"), 0);  // beside this test program
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    d2vopened o = openproject(dir.write("p.d2v", k.project));
    ASSERT_EQ(o.code, 0);
    EXPECT_EQ(o.width, W);
    EXPECT_EQ(o.height, H);
    EXPECT_EQ(o.frames, 210);
    EXPECT_EQ(o.fpsnum, 30000);
    EXPECT_EQ(o.fpsden, 1001);
    for (int n : {200, 3, 201, 0, 1, 209, 150, 45, 44, 46, 30, 29, 209, 208})
      EXPECT_TRUE(fetch(n) == k.want->substr(n * FS, FS)) << "frame " << n;
  }
}

TEST_F(dgdecode, versionedLibrariesForTheFrontEnd) {
  std::string es = dir.path("clip.m2v");
  std::string want = makestream(es, {});
  for (const char* v : {"06", "10", "11", "12", "13", "15", "16"}) {
    SCOPED_TRACE(v);
    ASSERT_EQ(d2vload((std::string(OSTREL_PROGDIR) + "/DGDecode/DGDecode" + v + ".dll").c_str()), 0);
    d2vopened o = openproject(dir.write("p.d2v", d2vproject(std::atoi(v), {es})));
    ASSERT_EQ(o.code, 0);
    EXPECT_TRUE(fetch(7) == want.substr(7 * FS, FS));
    ASSERT_EQ(d2vfree(), 0);
  }
}

TEST_F(dgdecode, projectsAndFilesItCannotRead) {
  std::string es = dir.path("clip.m2v");
  makestream(es, {});
  std::string h264 = dir.path("clip.mp4");
  runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=176x144:rate=25",
                            "-frames:v", "10", "-c:v", "libx264", "-preset", "ultrafast", h264});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string junk = dir.write("junk.vob", std::string(100000, '\x47'));
  std::string good = d2vproject(16, {es});
  struct c {
    const char* name;
    std::string project;  // empty: no project file at all
  } cases[] = {
      {"no project file", ""},
      {"first line without a version", "DGIndexProjectFile\n1\n" + es + "\n\n"},
      {"no file count", "DGIndexProjectFile16\n"},
      {"listed file missing", d2vproject(16, {dir.path("gone.vob")})},
      {"fewer file lines than counted", "DGIndexProjectFile16\n2\n" + es + "\n"},
      {"not a video stream", d2vproject(16, {junk})},
      {"not MPEG video", d2vproject(16, {h264})},
      {"version 6 name without its leading field", "DGIndexProjectFile06\n1\n" + es + "\n\n"},
  };
  ASSERT_EQ(d2vload("DGDecode.dll"), 0);
  for (const auto& k : cases) {
    std::string p = dir.path("bad.d2v");
    unlink(p.c_str());
    if (!k.project.empty()) dir.write("bad.d2v", k.project);
    EXPECT_EQ(openproject(p).code, 131) << k.name;
  }
  EXPECT_EQ(openproject(dir.write("good.d2v", good)).code, 0);
}

TEST_F(dgdecode, frameItCannotDecodeIsNoCrash) {
  std::string es = dir.path("clip.m2v");
  std::string want = makestream(es, {});
  ASSERT_EQ(d2vload("DGDecode.dll"), 0);
  ASSERT_EQ(openproject(dir.write("p.d2v", d2vproject(16, {es}))).code, 0);
  EXPECT_TRUE(fetch(5) == want.substr(5 * FS, FS));
  // The stream loses its second half after the open: a frame that cannot be decoded is
  // reported as not delivered (code 6) and leaves the caller's planes as they were (never
  // garbage, never a crash); earlier ones still decode.
  std::string data = readfile(es);
  ASSERT_EQ(truncate(es.c_str(), (off_t)data.size() / 2), 0);
  planes p(W, H), untouched(W, H);
  EXPECT_EQ(d2vgetframe(205, p.y.data(), p.u.data(), p.v.data()), 6);
  EXPECT_TRUE(p == untouched) << "a frame that cannot be decoded must leave the planes alone";
  EXPECT_TRUE(fetch(2) == want.substr(2 * FS, FS));
  EXPECT_EQ(d2vgetframe(2, p.y.data(), p.u.data(), p.v.data()), 0);
}

TEST_F(dgdecode, damagedStreamDecodesWhatItCan) {
  // Garbage over a stretch in the middle: the open still counts what decodes, and every frame
  // request answers without a crash (damaged pictures as the decoder conceals them).
  std::string ps = dir.path("title.vob");
  makestream(ps, {"-f", "vob"});
  std::string data = readfile(ps);
  for (size_t i = data.size() / 2; i < data.size() / 2 + 30000; i++) data[i] = (char)(i * 2654435761u >> 13);
  writefile(ps, data);
  ASSERT_EQ(d2vload("DGDecode.dll"), 0);
  d2vopened o = openproject(dir.write("p.d2v", d2vproject(16, {ps})));
  ASSERT_EQ(o.code, 0);
  EXPECT_GT(o.frames, 100);
  EXPECT_LE(o.frames, 210);
  for (int n : {o.frames - 1, 0, o.frames / 2, o.frames + 10}) fetch(n);
}
