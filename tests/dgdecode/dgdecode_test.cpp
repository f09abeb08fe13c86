// DGDecode.dll from outside: loaded from the program folder like the programs load it, fed
// with D2V projects written here for MPEG video that ffmpeg makes at test time, and checked
// frame by frame against ffmpeg's own decode of the same files.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {

using openfn = const int32_t* (*)(const char*);
using framefn = const uint8_t* (*)(int);
using closefn = void (*)();

struct decoderlib {
  void* handle = nullptr;
  openfn open = nullptr;
  framefn frame = nullptr;
  closefn close = nullptr;
};

decoderlib loadlib(const std::string& path) {
  decoderlib l;
  l.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!l.handle) return l;
  l.open = reinterpret_cast<openfn>(dlsym(l.handle, "openMPEG2Source"));
  l.frame = reinterpret_cast<framefn>(dlsym(l.handle, "getFrame"));
  l.close = reinterpret_cast<closefn>(dlsym(l.handle, "closeVideo"));
  return l;
}

const decoderlib& lib() {
  static decoderlib l = loadlib(std::string(OSTREL_PROGDIR) + "/DGDecode.dll");
  return l;
}

// Test material, made once per test process in a folder of its own.
class material {
 public:
  static material& get() {
    static material m;
    return m;
  }
  ~material() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  // A clip made by ffmpeg with the given arguments (cached by name); it must decode cleanly.
  std::string clip(const std::string& name, const std::vector<std::string>& args) {
    std::string p = path(name);
    if (made_.count(name)) return p;
    std::vector<std::string> argv{"ffmpeg", "-nostdin", "-v", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(p);
    runresult r = runcommand(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string why;
    EXPECT_TRUE(decodesclean(p, &why)) << name << ": " << why;
    made_[name] = true;
    return p;
  }

  // ffmpeg's own decode of a file as raw frames.
  std::string reference(const std::string& file, const std::string& pixfmt = "yuv420p") {
    std::string key = file + "|" + pixfmt;
    auto it = refs_.find(key);
    if (it != refs_.end()) return it->second;
    std::string out = path("ref" + std::to_string(refs_.size()) + ".yuv");
    runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", file, "-fps_mode",
                              "passthrough", "-f", "rawvideo", "-pix_fmt", pixfmt, out});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string data = readfile(out);
    fs::remove(out);
    refs_[key] = data;
    return data;
  }

  std::string project(const std::string& name, const std::string& text) {
    std::string p = path(name);
    writefile(p, text);
    return p;
  }

 private:
  material() {
    std::string base = (fs::temp_directory_path() / "dgdecodeXXXXXX").string();
    std::vector<char> t(base.begin(), base.end());
    t.push_back(0);
    dir_ = mkdtemp(t.data()) ? t.data() : "";
  }
  std::string dir_;
  std::map<std::string, bool> made_;
  std::map<std::string, std::string> refs_;
};

constexpr int clipw = 352, cliph = 288;

std::vector<std::string> mpeg2args(const std::string& src, int frames, const std::string& mux) {
  std::vector<std::string> a{"-f", "lavfi", "-i", src, "-frames:v", std::to_string(frames),
                             "-c:v", "mpeg2video", "-g", "12", "-bf", "2", "-b:v", "2M"};
  if (!mux.empty()) a.insert(a.end(), {"-f", mux});
  return a;
}

std::string pattern(const std::string& name = "testsrc2") {
  return name + "=size=" + std::to_string(clipw) + "x" + std::to_string(cliph) + ":rate=25";
}

// The common clips: an MPEG-2 program stream, the same as an elementary stream, an MPEG-1
// program stream, and a second shorter clip of another pattern.
std::string mpeg2ps() { return material::get().clip("a.mpg", mpeg2args(pattern(), 250, "vob")); }
std::string mpeg2es() { return material::get().clip("a.m2v", mpeg2args(pattern(), 250, "")); }
std::string mpeg1ps() {
  return material::get().clip(
      "a1.mpg", {"-f", "lavfi", "-i", pattern(), "-frames:v", "250", "-c:v", "mpeg1video", "-g",
                 "12", "-bf", "2", "-b:v", "2M", "-f", "mpeg"});
}
std::string mpeg2ts() { return material::get().clip("a.ts", mpeg2args(pattern(), 250, "mpegts")); }
std::string ntscclip() {
  return material::get().clip(
      "ntsc.m2v", {"-f", "lavfi", "-i", "testsrc2=size=352x240:rate=30000/1001", "-frames:v",
                   "30", "-c:v", "mpeg2video", "-g", "12", "-bf", "2"});
}
std::string otherps() {
  return material::get().clip("b.mpg", mpeg2args(pattern("testsrc"), 60, "vob"));
}

// A project file in the layout of the given version: version 6 puts a field before the name,
// 10 and above give the whole line to it.
std::string projecttext(int version, const std::vector<std::string>& files,
                        const std::string& framerate = "25000 (25/1)",
                        const std::string& size = "352x288") {
  char head[64];
  std::snprintf(head, sizeof head, "D2VProjectFile%02d\n", version);
  std::string t = head;
  t += std::to_string(files.size()) + "\n";
  for (const std::string& f : files) t += (version < 10 ? "1 " : "") + f + "\n";
  t += "\nStream_Type=1\nMPEG_Type=2\n";
  if (!size.empty()) t += "Picture_Size=" + size + "\n";
  t += "Field_Operation=0\n";
  if (!framerate.empty()) t += "Frame_Rate=" + framerate + "\n";
  t += "Location=0,0,0,0\n\n7 0 0 0 0 0 0 d2 f2 e2 f2 e2 f2\n\nFINISHED  100.00% VIDEO\n";
  return t;
}

size_t framesize(int w, int h) { return static_cast<size_t>(w) * h * 3 / 2; }

// Compares frame n of the library with frame m of a raw 4:2:0 reference; names the plane
// and position of the first difference.
::testing::AssertionResult sameframe(const uint8_t* got, const std::string& ref, int m, int w,
                                     int h, int n) {
  size_t fs = framesize(w, h);
  if (!got) return ::testing::AssertionFailure() << "frame " << n << ": null block";
  if ((static_cast<size_t>(m) + 1) * fs > ref.size())
    return ::testing::AssertionFailure() << "reference has no frame " << m;
  const uint8_t* r = reinterpret_cast<const uint8_t*>(ref.data()) + static_cast<size_t>(m) * fs;
  if (std::memcmp(got, r, fs) == 0) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (got[i] == r[i]) i++;
  size_t luma = static_cast<size_t>(w) * h;
  const char* plane = i < luma ? "Y" : i < luma * 5 / 4 ? "U" : "V";
  size_t off = i < luma ? i : (i - luma) % (luma / 4);
  int pw = i < luma ? w : w / 2;
  return ::testing::AssertionFailure()
         << "frame " << n << " (reference " << m << "): plane " << plane << " differs first at x "
         << off % pw << " y " << off / pw << ": " << int(got[i]) << " against " << int(r[i]);
}

class DGDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(lib().handle) << dlerror();
    ASSERT_TRUE(lib().open && lib().frame && lib().close);
  }
  void TearDown() override { lib().close(); }
};

struct streamcase {
  const char* name;
  std::string (*clip)();
  int version;
};

void PrintTo(const streamcase& c, std::ostream* os) { *os << c.name; }

class DGDecodeStreams : public DGDecodeTest, public ::testing::WithParamInterface<streamcase> {};

// Every frame in order, then random access (200, 3, 201 and a seeded random walk), against
// ffmpeg's decode.
TEST_P(DGDecodeStreams, FramesEqualFfmpegInOrderAndAtRandom) {
  const streamcase& c = GetParam();
  std::string clip = c.clip();
  std::string ref = material::get().reference(clip);
  std::string proj = material::get().project(std::string(c.name) + ".d2v",
                                             projecttext(c.version, {clip}));
  const int32_t* rec = lib().open(proj.c_str());
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec[0], clipw);
  EXPECT_EQ(rec[1], cliph);
  EXPECT_EQ(rec[2], 25);
  EXPECT_EQ(rec[3], 1);
  ASSERT_EQ(rec[4], 250);
  ASSERT_EQ(static_cast<size_t>(rec[4]) * framesize(clipw, cliph), ref.size());
  for (int n = 0; n < rec[4]; n++) ASSERT_TRUE(sameframe(lib().frame(n), ref, n, clipw, cliph, n));
  for (int n : {200, 3, 201, 249, 0, 249, 248})
    ASSERT_TRUE(sameframe(lib().frame(n), ref, n, clipw, cliph, n));
  unsigned seed = std::random_device{}();
  std::mt19937 rng(seed);
  for (int k = 0; k < 40; k++) {
    int n = static_cast<int>(rng() % 250);
    ASSERT_TRUE(sameframe(lib().frame(n), ref, n, clipw, cliph, n)) << "seed " << seed;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DGDecodeStreams,
    ::testing::Values(streamcase{"mpeg2_program_v16", mpeg2ps, 16},
                      streamcase{"mpeg2_elementary_v6", mpeg2es, 6},
                      streamcase{"mpeg1_program_v10", mpeg1ps, 10},
                      streamcase{"mpeg2_transport_v13", mpeg2ts, 13}),
    [](const ::testing::TestParamInfo<streamcase>& i) { return std::string(i.param.name); });

// The files of a project play as one video: two clips one after the other (program
// streams, elementary streams), and one program stream cut into three files at odd bytes as
// DVD titles are cut into VOB files, named relative to the project.
TEST_F(DGDecodeTest, FilesPlayAsOneVideo) {
  material& m = material::get();
  std::string otheres = m.clip("b.m2v", mpeg2args(pattern("testsrc"), 60, ""));
  std::string whole = readfile(mpeg2ps());
  size_t cut1 = whole.size() / 3 + 1001, cut2 = whole.size() * 2 / 3 + 77;
  writefile(m.path("VTS_01_1.VOB"), whole.substr(0, cut1));
  writefile(m.path("VTS_01_2.VOB"), whole.substr(cut1, cut2 - cut1));
  writefile(m.path("VTS_01_3.VOB"), whole.substr(cut2));
  std::string twops = m.reference(mpeg2ps()) + m.reference(otherps());
  std::string twoes = m.reference(mpeg2es()) + m.reference(otheres);
  std::string one = m.reference(mpeg2ps());
  struct joincase {
    const char* what;
    int version;
    std::vector<std::string> files;
    const std::string* ref;
    std::vector<int> frames;  // visited first, then every frame around the joins
  } cases[] = {
      {"two program streams", 16, {mpeg2ps(), otherps()}, &twops, {249, 250, 251, 309, 10, 300, 248, 250, 0}},
      {"two elementary streams", 6, {mpeg2es(), otheres}, &twoes, {250, 249, 309, 251, 0}},
      {"one title in three VOB files", 16, {"VTS_01_1.VOB", "VTS_01_2.VOB", "VTS_01_3.VOB"}, &one,
       {200, 3, 201, 83, 84, 166, 167, 249}},
      {"three VOB files, version 6", 6, {m.path("VTS_01_1.VOB"), m.path("VTS_01_2.VOB"), m.path("VTS_01_3.VOB")},
       &one, {0, 249, 100}},
  };
  for (const joincase& c : cases) {
    SCOPED_TRACE(c.what);
    int count = static_cast<int>(c.ref->size() / framesize(clipw, cliph));
    const int32_t* rec = lib().open(m.project("join.d2v", projecttext(c.version, c.files)).c_str());
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec[4], count);
    for (int n : c.frames) ASSERT_TRUE(sameframe(lib().frame(n), *c.ref, n, clipw, cliph, n));
    for (int n = 0; n < count; n++) ASSERT_TRUE(sameframe(lib().frame(n), *c.ref, n, clipw, cliph, n));
  }
}

// A stream that starts inside a title, as a cut VOB does: an elementary stream cut at a later
// sequence header (an open GOP whose first B pictures lack their reference: not shown), and a
// program stream cut at a pack in the middle of a GOP (pictures before the first sequence
// header: not shown). Frames as ffmpeg shows them, in order and at random.
TEST_F(DGDecodeTest, StreamsCutInsideATitle) {
  material& m = material::get();
  std::string es = readfile(mpeg2es()), ps = readfile(mpeg2ps());
  size_t seq = es.find(std::string("\0\0\1\xb3", 4), 100);
  seq = es.find(std::string("\0\0\1\xb3", 4), seq + 4);
  ASSERT_NE(seq, std::string::npos);
  writefile(m.path("cutopen.m2v"), es.substr(seq));
  writefile(m.path("cutpack.mpg"), ps.substr(2048 * 75));
  for (const char* name : {"cutopen.m2v", "cutpack.mpg"}) {
    SCOPED_TRACE(name);
    std::string ref = m.reference(m.path(name));
    int count = static_cast<int>(ref.size() / framesize(clipw, cliph));
    ASSERT_GT(count, 200);
    const int32_t* rec = lib().open(m.project("cut.d2v", projecttext(16, {m.path(name)})).c_str());
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec[4], count);
    for (int n = 0; n < count; n++) ASSERT_TRUE(sameframe(lib().frame(n), ref, n, clipw, cliph, n));
    for (int n : {count - 1, 0, 1, 2, 13, 12, 11, 10, count / 2})
      ASSERT_TRUE(sameframe(lib().frame(n), ref, n, clipw, cliph, n));
  }
}

// Soft 3:2 pulldown (film coded at 23.976 frames a second with repeat_first_field flags):
// with Field_Operation 0, or none, the frames are shown as their fields say, 10 fields for
// every 4 coded frames, each shown frame weaving a top and a bottom field; with 1 (and 2)
// the coded frames come as they are.
TEST_F(DGDecodeTest, PulldownFlagsWeaveFields) {
  material& m = material::get();
  const int w = 352, h = 480, coded = 48;
  std::string film = m.path("film.m2v");
  runresult r = runcommand(
      {"sh", "-c",
       "ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=352x480:rate=24000/1001 -frames:v 48 "
       "-pix_fmt yuv420p -f yuv4mpegpipe - | mpeg2enc -v 0 -f 3 -b 3000 -a 2 -p -o " + film});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string why;
  ASSERT_TRUE(decodesclean(film, &why)) << why;
  std::string raw = m.path("film.yuv");
  r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-y", "-i", film, "-fps_mode", "passthrough",
                  "-f", "rawvideo", "-pix_fmt", "yuv420p", raw});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string ref = readfile(raw);
  size_t fs = framesize(w, h);
  ASSERT_EQ(ref.size(), coded * fs);
  // The shown order of the fields from the coded frames' flags.
  r = runcommand({"ffprobe", "-v", "error", "-show_entries", "frame=top_field_first,repeat_pict",
                  film});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::pair<int, bool>> fields;  // coded frame, top field
  {
    std::vector<int> tff, rff;
    size_t at = 0;
    while ((at = r.out.find("top_field_first=", at)) != std::string::npos)
      tff.push_back(std::atoi(r.out.c_str() + (at += 16)));
    at = 0;
    while ((at = r.out.find("repeat_pict=", at)) != std::string::npos)
      rff.push_back(std::atoi(r.out.c_str() + (at += 12)));
    ASSERT_EQ(tff.size(), static_cast<size_t>(coded));
    ASSERT_EQ(rff.size(), static_cast<size_t>(coded));
    for (int n = 0; n < coded; n++) {
      fields.push_back({n, tff[n] != 0});
      fields.push_back({n, tff[n] == 0});
      if (rff[n]) fields.push_back({n, tff[n] != 0});
    }
  }
  ASSERT_EQ(fields.size(), 120u);
  std::string shown;
  for (size_t k = 0; k + 1 < fields.size(); k += 2) {
    int top = fields[k].second ? fields[k].first : fields[k + 1].first;
    int bottom = fields[k].second ? fields[k + 1].first : fields[k].first;
    ASSERT_NE(fields[k].second, fields[k + 1].second);
    const char* t = ref.data() + top * fs;
    const char* b = ref.data() + bottom * fs;
    size_t off = 0;
    for (int plane = 0; plane < 3; plane++) {
      int pw = plane ? w / 2 : w, ph = plane ? h / 2 : h;
      for (int y = 0; y < ph; y++, off += pw) shown.append((y & 1 ? b : t) + off, pw);
    }
  }
  for (const char* op : {"0", ""}) {
    SCOPED_TRACE(std::string("Field_Operation=") + op);
    std::string text = projecttext(16, {film}, "29970 (30000/1001)", "352x480");
    if (!*op) text.erase(text.find("Field_Operation=0\n"), 18);
    const int32_t* rec = lib().open(m.project("film.d2v", text).c_str());
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec[4], 60);
    EXPECT_EQ(rec[2], 30000);
    EXPECT_EQ(rec[3], 1001);
    for (int n = 0; n < 60; n++) ASSERT_TRUE(sameframe(lib().frame(n), shown, n, w, h, n));
    for (int n : {45, 2, 46, 59, 1, 0, 31}) ASSERT_TRUE(sameframe(lib().frame(n), shown, n, w, h, n));
  }
  for (const char* op : {"1", "2"}) {
    SCOPED_TRACE(std::string("Field_Operation=") + op);
    std::string text = projecttext(16, {film}, "23976 (24000/1001)", "352x480");
    text.replace(text.find("Field_Operation=0"), 17, std::string("Field_Operation=") + op);
    const int32_t* rec = lib().open(m.project("film.d2v", text).c_str());
    ASSERT_TRUE(rec);
    ASSERT_EQ(rec[4], coded);
    EXPECT_EQ(rec[2], 24000);
    for (int n : {0, 47, 20, 3, 21}) ASSERT_TRUE(sameframe(lib().frame(n), ref, n, w, h, n));
  }
}

// The frame rate comes from Frame_Rate in either of its forms, else from the video.
TEST_F(DGDecodeTest, FrameRateFromProjectOrVideo) {
  std::string pal = mpeg2es();
  std::string ntsc = ntscclip();
  struct ratecase {
    std::string clip;
    int version;
    std::string framerate;
    int num, den;
  } cases[] = {
      {pal, 16, "25000 (25/1)", 25, 1},
      {pal, 16, "29970 (30000/1001)", 30000, 1001},
      {pal, 6, "25000", 25, 1},
      {pal, 6, "23976", 24000, 1001},
      {pal, 6, "50000", 50, 1},
      {pal, 16, "", 25, 1},
      {pal, 16, "fast", 25, 1},
      {ntsc, 16, "", 30000, 1001},
      {ntsc, 12, "29970 (30000/1001)", 30000, 1001},
  };
  for (const ratecase& c : cases) {
    std::string proj = material::get().project("rate.d2v", projecttext(c.version, {c.clip}, c.framerate, ""));
    const int32_t* rec = lib().open(proj.c_str());
    ASSERT_TRUE(rec) << c.framerate;
    EXPECT_EQ(rec[2], c.num) << "Frame_Rate=" << c.framerate << " version " << c.version;
    EXPECT_EQ(rec[3], c.den) << "Frame_Rate=" << c.framerate << " version " << c.version;
  }
}

// MPEG-2 4:2:2 video comes out as 4:2:0: luma as decoded, each chroma sample the rounded
// mean of two rows.
TEST_F(DGDecodeTest, FourTwoTwoBecomesFourTwoZero) {
  std::string clip = material::get().clip(
      "c422.m2v", {"-f", "lavfi", "-i", pattern(), "-frames:v", "30", "-c:v", "mpeg2video",
                   "-pix_fmt", "yuv422p", "-g", "12", "-bf", "2", "-b:v", "4M"});
  std::string ref422 = material::get().reference(clip, "yuv422p");
  std::string proj = material::get().project("c422.d2v", projecttext(16, {clip}));
  const int32_t* rec = lib().open(proj.c_str());
  ASSERT_TRUE(rec);
  ASSERT_EQ(rec[4], 30);
  size_t luma = static_cast<size_t>(clipw) * cliph, f422 = luma * 2;
  ASSERT_EQ(ref422.size(), f422 * 30);
  std::string ref420;
  for (int n = 0; n < 30; n++) {
    const uint8_t* f = reinterpret_cast<const uint8_t*>(ref422.data()) + n * f422;
    ref420.append(reinterpret_cast<const char*>(f), luma);
    for (int plane = 0; plane < 2; plane++) {
      const uint8_t* c = f + luma + plane * (luma / 2);
      for (int y = 0; y < cliph / 2; y++)
        for (int x = 0; x < clipw / 2; x++)
          ref420.push_back(static_cast<char>((c[2 * y * (clipw / 2) + x] + c[(2 * y + 1) * (clipw / 2) + x] + 1) >> 1));
    }
  }
  for (int n : {0, 1, 2, 29, 13, 14, 15})
    ASSERT_TRUE(sameframe(lib().frame(n), ref420, n, clipw, cliph, n));
}

// Projects written on other systems: CRLF line ends, a tab after the version 6 field, and a
// name relative to the project with a backslash between folders.
TEST_F(DGDecodeTest, ProjectsFromOtherSystems) {
  material& m = material::get();
  fs::create_directories(m.path("sub"));
  fs::copy_file(mpeg2es(), m.path("sub/clip.m2v"), fs::copy_options::overwrite_existing);
  auto crlf = [](std::string t) {
    for (size_t at = 0; (at = t.find('\n', at)) != std::string::npos; at += 2) t.replace(at, 1, "\r\n");
    return t;
  };
  std::string v6 = crlf(projecttext(6, {"sub\\clip.m2v"}, "29970"));
  v6.replace(v6.find("1 sub"), 2, "1\t");
  struct systemcase {
    const char* what;
    std::string text;
  } cases[] = {
      {"version 16, CRLF", crlf(projecttext(16, {"sub\\clip.m2v"}, "29970 (30000/1001)"))},
      {"version 6, CRLF and a tab", v6},
  };
  std::string ref = m.reference(mpeg2es());
  for (const systemcase& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t* rec = lib().open(m.project("sys.d2v", c.text).c_str());
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec[2], 30000);
    EXPECT_EQ(rec[3], 1001);
    EXPECT_EQ(rec[4], 250);
    ASSERT_TRUE(sameframe(lib().frame(120), ref, 120, clipw, cliph, 120));
  }
}

// Frame numbers outside the video give its first or last frame; after closeVideo there is
// no frame, and the library opens again.
TEST_F(DGDecodeTest, OutOfRangeCloseAndReopen) {
  std::string clip = mpeg2es();
  std::string ref = material::get().reference(clip);
  std::string proj = material::get().project("range.d2v", projecttext(16, {clip}));
  ASSERT_TRUE(lib().open(proj.c_str()));
  EXPECT_TRUE(sameframe(lib().frame(-7), ref, 0, clipw, cliph, -7));
  EXPECT_TRUE(sameframe(lib().frame(260), ref, 249, clipw, cliph, 260));
  lib().close();
  EXPECT_EQ(lib().frame(5), nullptr);
  lib().close();  // twice is harmless
  const int32_t* rec = lib().open(proj.c_str());
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec[4], 250);
  EXPECT_TRUE(sameframe(lib().frame(5), ref, 5, clipw, cliph, 5));
}

// Projects that cannot be read give null, and then no frames.
TEST_F(DGDecodeTest, UnreadableProjectsGiveNull) {
  material& m = material::get();
  std::string clip = mpeg2es();
  std::string junk = m.path("junk.m2v");
  std::string bytes;
  std::mt19937 rng(7);
  for (int i = 0; i < 200000; i++) bytes.push_back(static_cast<char>(rng()));
  writefile(junk, bytes);
  writefile(m.path("empty.m2v"), "");
  std::string good = projecttext(16, {clip});
  struct badcase {
    const char* what;
    std::string text;  // "" : the project file does not exist
  } cases[] = {
      {"missing project", ""},
      {"empty project", "\n"},
      {"no version", "D2VProjectFile\n1\n" + clip + "\n"},
      {"count unreadable", "D2VProjectFile16\nx\n" + clip + "\n"},
      {"count zero", "D2VProjectFile16\n0\n\n"},
      {"fewer files than counted", "D2VProjectFile16\n2\n" + clip + "\n"},
      {"listed file missing", projecttext(16, {m.path("nothere.m2v")})},
      {"one of two files missing", projecttext(16, {clip, m.path("nothere.m2v")})},
      {"version 6 line without its field", "D2VProjectFile06\n1\n" + clip + "\n\n"},
      {"file of random bytes", projecttext(16, {junk})},
      {"empty video file", projecttext(16, {m.path("empty.m2v")})},
      {"a directory", projecttext(16, {m.dir()})},
      {"files of two picture sizes", projecttext(16, {clip, ntscclip()})},
  };
  for (const badcase& c : cases) {
    std::string proj = m.path("bad.d2v");
    fs::remove(proj);
    if (!c.text.empty()) writefile(proj, c.text);
    ASSERT_TRUE(lib().open(m.project("ok.d2v", good).c_str()));
    EXPECT_EQ(lib().open(proj.c_str()), nullptr) << c.what;
    EXPECT_EQ(lib().frame(0), nullptr) << c.what;
  }
  EXPECT_EQ(lib().open(nullptr), nullptr);
}

// Damaged video never crashes: a cut program stream and an elementary stream with garbage in
// the middle open, every frame gives a block, and frames away from the damage stay right.
TEST_F(DGDecodeTest, DamagedVideoDecodesWithoutCrash) {
  material& m = material::get();
  std::string ps = readfile(mpeg2ps());
  std::string es = readfile(mpeg2es());
  std::string ref = m.reference(mpeg2es());
  std::string cut = m.path("cut.mpg");
  writefile(cut, ps.substr(0, ps.size() * 6 / 10));
  std::string holed = es;
  std::mt19937 rng(11);
  for (size_t i = es.size() / 2; i < es.size() / 2 + 30000; i++) holed[i] = static_cast<char>(rng());
  std::string hole = m.path("hole.m2v");
  writefile(hole, holed);

  std::string cutref = m.reference(cut);
  const int32_t* rec = lib().open(m.project("cut.d2v", projecttext(16, {cut})).c_str());
  ASSERT_TRUE(rec);
  int cutframes = static_cast<int>(cutref.size() / framesize(clipw, cliph));
  EXPECT_NEAR(rec[4], cutframes, 2);
  for (int n = 0; n < rec[4]; n++) ASSERT_NE(lib().frame(n), nullptr);
  for (int n = 0; n + 15 < std::min(rec[4], cutframes); n++)
    ASSERT_TRUE(sameframe(lib().frame(n), cutref, n, clipw, cliph, n));

  rec = lib().open(m.project("hole.d2v", projecttext(16, {hole})).c_str());
  ASSERT_TRUE(rec);
  EXPECT_GT(rec[4], 100);
  for (int n = 0; n < rec[4]; n++) ASSERT_NE(lib().frame(n), nullptr);
  for (int n : {rec[4] - 1, 130, 3, 125, 0})  ASSERT_NE(lib().frame(n), nullptr);
  for (int n = 0; n < 60; n++) ASSERT_TRUE(sameframe(lib().frame(n), ref, n, clipw, cliph, n));

  // 33 MB without a start code inside a picture: the library steps over that unit.
  std::string flood = m.path("flood.m2v");
  writefile(flood, es.substr(0, es.size() / 2) + std::string(33 << 20, '\xff') + es.substr(es.size() / 2));
  rec = lib().open(m.project("flood.d2v", projecttext(16, {flood})).c_str());
  ASSERT_TRUE(rec);
  EXPECT_NEAR(rec[4], 250, 2);
  for (int n : {rec[4] - 1, 0, 130, 125, 120, 3, 200}) ASSERT_NE(lib().frame(n), nullptr);
  for (int n = 0; n < 60; n++) ASSERT_TRUE(sameframe(lib().frame(n), ref, n, clipw, cliph, n));
  for (int n = rec[4] - 40; n < rec[4]; n++) ASSERT_NE(lib().frame(n), nullptr);
  fs::remove(flood);
}

// The front end's decoder folder holds the library under every versioned name it asks for.
TEST_F(DGDecodeTest, VersionedCopiesInDecoderFolder) {
  std::string proj = material::get().project("v.d2v", projecttext(6, {mpeg2es()}));
  for (const char* v : {"06", "10", "11", "12", "13", "15", "16"}) {
    std::string path = std::string(OSTREL_PROGDIR) + "/DGDecode/DGDecode" + v + ".dll";
    ASSERT_TRUE(fs::is_regular_file(path)) << path;
    decoderlib l = loadlib(path);
    ASSERT_TRUE(l.handle) << dlerror();
    ASSERT_TRUE(l.open && l.frame && l.close) << path;
    if (std::string(v) == "06") {
      const int32_t* rec = l.open(proj.c_str());
      ASSERT_TRUE(rec);
      EXPECT_EQ(rec[4], 250);
      EXPECT_NE(l.frame(100), nullptr);
      l.close();
    }
    dlclose(l.handle);
  }
}

}  // namespace
