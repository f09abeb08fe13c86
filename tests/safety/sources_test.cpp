// Our frame server from outside, fed what a hostile user would: scripts nested without end or
// without an end at all, FIFOs and devices as sources, a stop while it indexes, a link planted
// where it keeps an index; and libraries that exist but do not load.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/safety/safety.h"

namespace fs = std::filesystem;

namespace {

using args = std::vector<std::string>;

runresult runfor(const progfolder& pf, const args& a, int secs,
                 const std::vector<std::string>& env = {}) {
  std::vector<std::string> argv{pf.path("ostrel")};
  argv.insert(argv.end(), a.begin(), a.end());
  std::vector<std::string> e{"OSTREL_TIMESCALE=0", "OSTREL_HEADLESS=1"};
  e.insert(e.end(), env.begin(), env.end());
  return runcommand(argv, pf.dir(), e, secs);
}

struct badscript {
  const char* name;
  std::function<void(const progfolder&)> make;  // writes bad.avs and what it needs
  const char* message;                           // in the frame server's message
};

// Scripts that would crash the encoder or never end are refused with the frame server's
// message (code 3), quickly, also under the sanitizers: 50,000 nested calls (a stack
// overflow today), Import of /dev/zero (reads until memory runs out today), a script far
// larger than any script, sources that are FIFOs (which block until someone writes today) or
// devices.
TEST(scripts, hostilescriptsendwithanerror) {
  const badscript cases[] = {
      {"50,000 nested calls",
       [](const progfolder& pf) {
         std::string s;
         for (int i = 0; i < 50000; i++) s += "BlankClip(";
         s += "1";
         for (int i = 0; i < 50000; i++) s += ")";
         pf.write("bad.avs", s + "\n");
       },
       "calls nested more than 100 deep (bad.avs, line 1)"},
      {"Import of /dev/zero", [](const progfolder& pf) { pf.write("bad.avs", "Import(\"/dev/zero\")\n"); },
       "Import: \"/dev/zero\" is a device, not a script file"},
      {"a script of 2 MB",
       [](const progfolder& pf) {
         pf.write("big.avs", "BlankClip()" + std::string(2 << 20, ' ') + "\n");
         pf.write("bad.avs", "Import(\"big.avs\")\n");
       },
       "is larger than 1 MB"},
      {"a FIFO as the video",
       [](const progfolder& pf) {
         ASSERT_EQ(mkfifo(pf.path("clip.y4m").c_str(), 0644), 0);
         pf.write("bad.avs", "Y4MSource(\"clip.y4m\")\n");
       },
       "clip.y4m\" is a FIFO, not a video file (bad.avs, line 1)"},
      {"a FIFO for FFVideoSource",
       [](const progfolder& pf) {
         ASSERT_EQ(mkfifo(pf.path("clip.mkv").c_str(), 0644), 0);
         pf.write("bad.avs", "FFVideoSource(\"clip.mkv\")\n");
       },
       "clip.mkv\" is a FIFO, not a video file (bad.avs, line 1)"},
      {"a FIFO imported",
       [](const progfolder& pf) {
         ASSERT_EQ(mkfifo(pf.path("inner.avs").c_str(), 0644), 0);
         pf.write("bad.avs", "Import(\"inner.avs\")\n");
       },
       "inner.avs\" is a FIFO, not a script file"},
  };
  for (const badscript& c : cases) {
    progfolder pf;
    c.make(pf);
    const auto t0 = std::chrono::steady_clock::now();
    runresult r = runfor(pf, {"-i", "bad.avs", "-o", "out.m2v", "-cq", "4"}, 120);
    const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(r.status, 1) << c.name << "\n" << described(r);
    EXPECT_NE(r.err.find("ostrel: ERROR, can't process AVS file, wait for Avisynth error message: "),
              std::string::npos) << c.name << "\n" << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << "\n" << r.err;
    EXPECT_LT(secs, 30.0) << c.name;
    EXPECT_FALSE(pf.exists("out.m2v")) << c.name;
  }
  // The script given as the input may be a FIFO too.
  progfolder pf;
  ASSERT_EQ(mkfifo(pf.path("in.avs").c_str(), 0644), 0);
  runresult r = runfor(pf, {"-i", "in.avs", "-o", "out.m2v", "-cq", "4"}, 60);
  EXPECT_EQ(r.status, 1) << described(r);
  EXPECT_NE(r.err.find("in.avs\" is a FIFO, not a script file"), std::string::npos) << r.err;
}

// A stop while the frame server indexes a long video at start-up ends the start-up at once:
// exit status 3, the frame server says why, no output and no index are left (today the stop
// waits for the whole indexing and the run then starts anyway).
TEST(scripts, astopduringstartupishonoured) {
  progfolder pf;
  runresult made = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                               "color=c=black:size=16x16:rate=25", "-frames:v", "20000", "-c:v",
                               "mpeg2video", "-g", "1000", "-bf", "0", pf.path("piece.m2v")});
  ASSERT_EQ(made.status, 0) << made.err;
  // About 24 MB of elementary stream: indexing it takes well over a second.
  const std::string piece = pf.read("piece.m2v");
  std::string all;
  while (all.size() < (24u << 20)) all += piece;
  pf.write("long.m2v", all);
  pf.write("long.avs", "FFVideoSource(\"long.m2v\")\n");
  liverun run(pf, {"-i", "long.avs", "-o", "out.m2v", "-cq", "4"});
  ASSERT_TRUE(waituntil([&] { return hasopen(run.pid(), pf.path("long.m2v")); })) << run.err();
  const auto t0 = std::chrono::steady_clock::now();
  run.signal(SIGINT);
  EXPECT_EQ(run.wait(), 3) << run.err();
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(secs, 5.0);
  EXPECT_NE(run.err().find("\"long.m2v\" not indexed: the run was stopped"), std::string::npos) << run.err();
  EXPECT_FALSE(pf.exists("out.m2v"));
  EXPECT_FALSE(pf.exists("long.m2v.ffindex"));
}

// The index that cannot go beside the video goes into the user's cache folder, and a link
// planted there under the index's name is replaced, never written through (today the index
// goes to the temporary folder and a link there lets it overwrite any file of the user).
TEST(scripts, anindexnevergoesthroughalink) {
  progfolder pf;
  runresult made = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                               "testsrc=size=64x64:rate=25", "-frames:v", "10", "-c:v", "mpeg2video",
                               pf.path("clip.mkv")});
  ASSERT_EQ(made.status, 0) << made.err;
  fs::create_directory(pf.path("clip.mkv.ffindex"));  // the index cannot go beside the video
  pf.write("clip.avs", "FFVideoSource(\"clip.mkv\")\n");
  const std::string cache = pf.path("cache");
  const std::vector<std::string> env{"XDG_CACHE_HOME=" + cache};
  runresult r = runfor(pf, {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"}, 120, env);
  ASSERT_EQ(r.status, 0) << described(r);
  std::vector<std::string> kept;
  for (const auto& e : fs::directory_iterator(cache + "/ostrel")) kept.push_back(e.path().string());
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ((fs::status(cache + "/ostrel").permissions() & fs::perms::all), fs::perms::owner_all);
  const std::string index = kept[0];
  pf.write("victim.txt", "a file of the user's");
  fs::remove(index);
  fs::create_symlink(pf.path("victim.txt"), index);
  r = runfor(pf, {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"}, 120, env);
  ASSERT_EQ(r.status, 0) << described(r);
  EXPECT_EQ(pf.read("victim.txt"), "a file of the user's");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(index)));
  int files = 0;
  for (const auto& e : fs::directory_iterator(cache + "/ostrel")) files += !e.path().empty();
  EXPECT_EQ(files, 1);
}

// A library that is there but does not load is reported with the loader's reason after the
// code's text, not only as missing.
TEST(libraries, abrokenlibraryisnomissingone) {
  struct libcase {
    const char* library;
    const char* input;
    const char* text;
  };
  for (const libcase& c : {libcase{"avisynth.dll", "a.avs", "can't find Avisynth.dll"},
                           libcase{"DGDecode.dll", "a.d2v", "can't find MPEG2 decoder"}}) {
    progfolder pf;
    pf.write(c.library, "this is not a library\n" + std::string(4096, '#'));
    pf.write("a.avs", "BlankClip(length=5, width=64, height=64)\n");
    pf.write("a.d2v", "DGIndexProjectFile16\n1\nnone.m2v\n\n");
    runresult r = pf.ostrel({"-i", c.input, "-o", "out.m2v", "-cq", "4"});
    EXPECT_EQ(r.status, 1) << described(r);
    EXPECT_NE(r.err.find(std::string("ostrel: ERROR, ") + c.text + "\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::string("ostrel: ") + c.library + " is there but does not load: "),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find("invalid ELF header"), std::string::npos) << "the loader's own reason: " << r.err;
  }
}

// Sources that cannot be coded say why, naming what is wrong (today: "height not a multiple of
// 16" for a height of 0, "can't load movie" for a width of 0, a function "TestP" for a name
// with an "ä" in it, "C420jpeg is not 8-bit 4:2:0" for a header with CR LF line ends, "file line
// 2 holds no file name" for a D2V project that counts more files than it lists).
TEST(scripts, unclearsourcessaywhy) {
  struct messagecase {
    const char* name;
    std::function<void(const progfolder&)> make;  // writes in.avs or in.d2v
    const char* input;
    const char* stderrline;  // a whole line of stderr
  };
  const messagecase cases[] = {
      {"TestPattern(height=0)", [](const progfolder& pf) { pf.write("in.avs", "TestPattern(length=10, height=0)\n"); },
       "in.avs",
       "ostrel: ERROR, can't process AVS file, wait for Avisynth error message: TestPattern: a width or height "
       "of 0 gives no picture (in.avs, line 1)"},
      {"TestPattern(width=0)", [](const progfolder& pf) { pf.write("in.avs", "TestPattern(length=10, width=0)\n"); },
       "in.avs",
       "ostrel: ERROR, can't process AVS file, wait for Avisynth error message: TestPattern: a width or height "
       "of 0 gives no picture (in.avs, line 1)"},
      {"a picture narrower than a macroblock",
       [](const progfolder& pf) { pf.write("in.avs", "BlankClip(length=5, width=8, height=64)\n"); }, "in.avs",
       "ostrel: \"in.avs\" gives a picture of 8x64; the encoder needs at least 16x16"},
      {"a name with a non-ASCII letter",
       [](const progfolder& pf) { pf.write("in.avs", "TestP\xC3\xA4ttern(length=10)\n"); }, "in.avs",
       "ostrel: ERROR, can't process AVS file, wait for Avisynth error message: Script error: the name "
       "\"TestP\xC3\xA4ttern\" holds \"\xC3\xA4\", which is no ASCII letter; names are made of the letters A-Z, "
       "digits and _ (in.avs, line 1)"},
      {"a .y4m header with CR LF",
       [](const progfolder& pf) {
         std::string y = y4mclip(64, 64, 3);
         y.insert(y.find('\n'), "\r");
         pf.write("c.y4m", y);
         pf.write("in.avs", "Y4MSource(\"c.y4m\")\n");
       },
       "in.avs",
       "ostrel: ERROR, can't process AVS file, wait for Avisynth error message: Y4MSource: \"c.y4m\" has a "
       "header line that ends in CR LF (a Windows line end, the file was converted as text?); YUV4MPEG2 lines "
       "end in a line feed alone (in.avs, line 1)"},
      {"a D2V count larger than its list",
       [](const progfolder& pf) {
         runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                                   "testsrc=size=176x144:rate=25", "-frames:v", "10", "-c:v", "mpeg2video",
                                   pf.path("a.m2v")});
         ASSERT_EQ(r.status, 0) << r.err;
         pf.write("in.d2v", "DGIndexProjectFile16\n3\na.m2v\n\nFrame_Rate=25000 (25/1)\n");
       },
       "in.d2v", "DGDecode.dll: in.d2v: the file count is 3 but the project lists 1 file"},
  };
  for (const messagecase& c : cases) {
    SCOPED_TRACE(c.name);
    progfolder pf;
    c.make(pf);
    runresult r = pf.ostrel({"-i", c.input, "-o", "out.m2v", "-cq", "4"});
    EXPECT_EQ(r.status, 1) << described(r);
    EXPECT_NE(("\n" + r.err).find("\n" + std::string(c.stderrline) + "\n"), std::string::npos) << r.err;
    EXPECT_FALSE(pf.exists("out.m2v"));
  }
}

}  // namespace
