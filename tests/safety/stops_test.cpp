// Runs that end early from outside: a user stop (SIGINT), the terminal closing (SIGHUP) and a
// reader of standard output that goes away (SIGPIPE, "ostrel ... | head") end the run like the
// close box: whole GOPs kept, the stream ended, scratch files removed, the log says the user
// stopped the run. Frames the source cannot deliver make a run that is no success.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/safety/safety.h"

namespace fs = std::filesystem;

namespace {

using args = std::vector<std::string>;

// Long enough that a stop always comes before the end: a headless run into a pipe prints its
// progress once a second only, and "| head" stops it at the next line it prints.
const int longlength = 100000;
const std::string longclip =
    "TestPattern(length=" + std::to_string(longlength) + ", width=176, height=144, fps=25)\n";

// A whole stream made by an earlier run at the output path "out.m2v"; its bytes.
std::string earlierstream(const progfolder& pf) {
  pf.write("earlier.avs", "BlankClip(length=5, width=64, height=64)\n");
  runresult r = pf.ostrel({"-i", "earlier.avs", "-o", "out.m2v", "-cq", "4"});
  EXPECT_EQ(r.status, 0) << described(r);
  return pf.read("out.m2v");
}

// The stream of a stopped one-pass run: it decodes, holds fewer frames than the clip, every
// picture in it is whole and it ends on the sequence end code.
void expectwholestream(const std::string& m2v, const std::string& name) {
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << name << ": " << why;
  const size_t frames = probetypes(m2v).size();
  EXPECT_GT(frames, 0u) << name;
  EXPECT_LT(frames, (size_t)longlength) << name;
  const std::string s = readfile(m2v);
  EXPECT_EQ(occurrences(s, std::string("\0\0\1\0", 4)), (int)frames) << name;
  EXPECT_EQ(s.substr(s.size() - 4), std::string("\0\0\1\xB7", 4)) << name;
}

enum stopway { bysigint, bysighup, bysigquit, bypipe };

struct stopcase {
  const char* name;
  stopway way;
  const char* logtext;  // the line the log ends with
};

const stopcase stopcases[] = {
    {"SIGINT", bysigint, " *** encoding stopped by the user\n"},
    {"SIGHUP", bysighup, " *** encoding stopped by the user (the terminal was closed)\n"},
    {"SIGQUIT", bysigquit, " *** encoding stopped by the user (a quit signal)\n"},
    {"| head", bypipe, " *** encoding stopped by the user (standard output was closed)\n"},
};

// Stops the run the case's way once the test may stop it (waitfor true).
void stop(liverun& run, stopway way, const std::function<bool()>& waitfor) {
  if (way == bypipe) {
    // Read as "| head" would, until the run is far enough, then go away.
    std::string line;
    ASSERT_TRUE(waituntil([&] {
      run.readline(line, 10);
      return waitfor();
    }));
    run.closeout();
    return;
  }
  ASSERT_TRUE(waituntil(waitfor));
  run.signal(way == bysighup ? SIGHUP : way == bysigquit ? SIGQUIT : SIGINT);
}

// A one-pass run stopped after a few GOPs each way: exit status 3, the stream decodes with
// the whole GOPs coded before the stop, the log records the stop (today SIGPIPE kills the run
// with an empty stream, SIGHUP cuts the stream mid-write, SIGQUIT kills the run). The new
// stream grows under its temporary name and takes the output's place at the end.
TEST(stops, onepassrunkeepswholegops) {
  for (const stopcase& c : stopcases) {
    progfolder pf;
    pf.write("clip.avs", longclip);
    liverun run(pf, {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-log", "run.log"}, c.way == bypipe);
    stop(run, c.way, [&] { return filesize(pf.path("out.m2v.partial")) > 20000; });
    EXPECT_EQ(run.wait(), 3) << c.name << "\n" << run.err();
    EXPECT_NE(run.err().find("encoding stopped by the user"), std::string::npos) << c.name << run.err();
    expectwholestream(pf.path("out.m2v"), c.name);
    EXPECT_FALSE(pf.exists("out.m2v.partial")) << c.name;
    const std::string log = pf.read("run.log");
    ASSERT_GE(log.size(), std::string(c.logtext).size()) << c.name;
    EXPECT_EQ(log.substr(log.size() - std::string(c.logtext).size()), c.logtext) << c.name << "\n" << log;
    EXPECT_FALSE(scratchleft(pf)) << c.name;
  }
}

// A two-pass run stopped in its first pass (which writes the statistics file, no stream yet):
// the scratch file goes and the log records the stop, each way (today SIGPIPE and SIGHUP
// leave the scratch file behind), and an earlier stream at the output path is kept byte for
// byte (today it is left empty), with no temporary file beside it; so is the earlier
// scene-change list (once emptied at the start).
TEST(stops, twopassrunremovesitsscratchfile) {
  for (const stopcase& c : stopcases) {
    progfolder pf;
    pf.write("clip.avs", longclip);
    pf.write("KJ.ini", "*SCDFILE\n");
    const std::string earlier = earlierstream(pf);
    pf.write("out_scd.txt", "      25\n");
    liverun run(pf, {"-i", "clip.avs", "-o", "out.m2v", "-b", "3000", "-maxbitrate", "6000", "-log", "run.log"},
                c.way == bypipe);
    stop(run, c.way, [&] { return filesize(pf.path("KJ01.dbs")) > 0; });
    EXPECT_EQ(run.wait(), 3) << c.name << "\n" << run.err();
    EXPECT_FALSE(scratchleft(pf)) << c.name;
    EXPECT_NE(pf.read("run.log").find(c.logtext), std::string::npos) << c.name;
    EXPECT_EQ(pf.read("out.m2v"), earlier) << c.name;
    EXPECT_FALSE(pf.exists("out.m2v.partial")) << c.name;
    EXPECT_EQ(pf.read("out_scd.txt"), "      25\n") << c.name;
    EXPECT_FALSE(pf.exists("out_scd.txt.partial")) << c.name;
  }
}

// A stop between the passes (pass 1 is done, the second pass has not written a GOP yet) leaves
// the earlier stream as it was too. The run is held the moment its log shows the end of the
// first pass and stopped there; should the second pass have accepted a GOP by the time the
// stop is taken (the log says which), the case is tried again.
TEST(stops, stopbetweenthepasseskeepstheearlierstream) {
  bool between = false;
  for (int attempt = 0; attempt < 5 && !between; ++attempt) {
    progfolder pf;
    // Pass 2 of a larger picture takes a while for its first GOP.
    pf.write("clip.avs", "TestPattern(length=60, width=720, height=576, fps=25)\n");
    const std::string earlier = earlierstream(pf);
    liverun run(pf, {"-i", "clip.avs", "-o", "out.m2v", "-b", "5000", "-maxbitrate", "8000", "-log", "run.log"});
    ASSERT_TRUE(waituntil([&] {
      return pf.read("run.log").find("pass1 encoding time:") != std::string::npos;
    })) << run.err();
    run.pause();
    run.signal(SIGTERM);
    run.resume();
    EXPECT_EQ(run.wait(), 3) << run.err();
    const std::string log = pf.read("run.log");
    if (log.find("pass 2 stopped: the stream holds") != std::string::npos) continue;
    between = true;
    EXPECT_EQ(pf.read("out.m2v"), earlier) << log;
    EXPECT_FALSE(pf.exists("out.m2v.partial"));
    EXPECT_FALSE(scratchleft(pf));
  }
  EXPECT_TRUE(between) << "no stop came between the passes";
}

// SIGUSR1 and SIGUSR2 mean nothing to the encoder: the run goes on and ends well (today they
// kill it).
TEST(stops, usersignalsareignored) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=2000, width=176, height=144, fps=25)\n");
  liverun run(pf, {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"});
  ASSERT_TRUE(waituntil([&] { return filesize(pf.path("out.m2v.partial")) > 0 || pf.exists("out.m2v"); }));
  run.signal(SIGUSR1);
  run.signal(SIGUSR2);
  EXPECT_EQ(run.wait(), 0) << run.err();
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), 2000u);
}

// A standard output that cannot be written (a full disk, a terminal gone) is no reason to
// stop: the run ends well.
TEST(stops, afailedwritetostandardoutputisignored) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=20, width=64, height=64, fps=25)\n");
  runresult r = runcommand({"/bin/sh", "-c", "./ostrel -i clip.avs -o out.m2v -cq 4 > /dev/full"}, pf.dir(),
                           {"OSTREL_TIMESCALE=0", "OSTREL_HEADLESS=1"});
  EXPECT_EQ(r.status, 0) << described(r);
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), 20u);
}

// A .y4m cut short while the run reads it: every frame past the cut is coded as the frame
// before it and counted; the run ends with exit status 5, a stderr line with the count, and
// the same in the log, one line per frame before it. Today it exits 0 and says nothing. The
// run is held while the file is cut a little ahead of where it reads, so the count is exact.
TEST(damaged, y4mtruncatedduringtherun) {
  progfolder pf;
  const int frames = 300;
  pf.write("clip.y4m", y4mclip(176, 144, frames));
  pf.write("clip.avs", "Y4MSource(\"clip.y4m\")\n");
  liverun run(pf, {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-log", "run.log"});
  ASSERT_TRUE(waituntil([&] { return filesize(pf.path("out.m2v.partial")) > 0; })) << run.err();
  run.pause();
  const long long at = fileoffset(run.pid(), pf.path("clip.y4m"));
  int cut = 0;
  while (cut < frames && y4mframe(176, 144, cut) <= at) cut++;
  cut += 2;  // past what the reader may hold already
  ASSERT_LT(cut, frames - 10) << "the run read too far before the test could hold it";
  ASSERT_EQ(truncate(pf.path("clip.y4m").c_str(), y4mframe(176, 144, cut)), 0);
  run.resume();
  EXPECT_EQ(run.wait(), 5) << run.err();
  const std::string err = run.err(), log = pf.read("run.log");
  const std::string line = std::to_string(frames - cut) + " frames of clip.avs could not be read from the "
                           "source; each was coded as the frame before it";
  EXPECT_NE(err.find("ostrel: ERROR, " + line + "\n"), std::string::npos) << err;
  EXPECT_NE(log.find(" *** ERROR, " + line + "\n"), std::string::npos) << log;
  EXPECT_EQ(occurrences(log, "pass 1, Avisynth error in frame"), frames - cut) << log;
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), (size_t)frames);
}

// The same for a D2V project whose video file is cut short during the run: the decoder library
// reports the pictures it cannot decode, and the run counts them (today they silently repeat
// the last frame and the run exits 0).
TEST(damaged, d2vvideotruncatedduringtherun) {
  progfolder pf;
  runresult made = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                               "testsrc=size=176x144:rate=25", "-frames:v", "400", "-c:v", "mpeg2video",
                               "-g", "12", "-b:v", "3M", pf.path("title.m2v")});
  ASSERT_EQ(made.status, 0) << made.err;
  pf.write("movie.d2v", "DGIndexProjectFile16\n1\ntitle.m2v\n\nFrame_Rate=25000 (25/1)\n");
  liverun run(pf, {"-i", "movie.d2v", "-o", "out.m2v", "-cq", "4", "-log", "run.log"});
  ASSERT_TRUE(waituntil([&] { return filesize(pf.path("out.m2v.partial")) > 0; })) << run.err();
  run.pause();
  const long long size = filesize(pf.path("title.m2v"));
  const long long at = fileoffset(run.pid(), pf.path("title.m2v"));
  ASSERT_GT(at, 0);
  ASSERT_LT(at, size / 2) << "the run read too far before the test could hold it";
  ASSERT_EQ(truncate(pf.path("title.m2v").c_str(), (at + size) / 2), 0);
  run.resume();
  EXPECT_EQ(run.wait(), 5) << run.err();
  const std::string err = run.err(), log = pf.read("run.log");
  const int counted = countafter(err, "ostrel: ERROR, ");
  EXPECT_GT(counted, 0) << err;
  EXPECT_LT(counted, 400) << err;
  EXPECT_NE(err.find(std::to_string(counted) + " frames of movie.d2v could not be read from the source"),
            std::string::npos) << err;
  EXPECT_EQ(occurrences(log, "pass 1, DGDecode error in frame"), counted) << log;
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), 400u);
}

}  // namespace
