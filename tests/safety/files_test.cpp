// The files of a run from outside: the output, the log and the scene-change list are never a
// file the run reads or loads, two runs never write one output, and the scene-change list lies
// beside the output.
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

// A small video file made by ffmpeg (MPEG-2 video in the container its name asks for).
void makevideo(const progfolder& pf, const std::string& name, int frames = 10) {
  runresult r = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i",
                            "testsrc=size=176x144:rate=25", "-frames:v", std::to_string(frames),
                            "-c:v", "mpeg2video", "-y", pf.path(name)});
  ASSERT_EQ(r.status, 0) << r.err;
}

std::string d2vproject(const std::string& file) {
  return "DGIndexProjectFile16\n1\n" + file + "\n\nStream_Type=0\nFrame_Rate=25000 (25/1)\n";
}

struct refusal {
  const char* name;
  std::function<void(const progfolder&)> make;  // the files of the case
  args run;
  int code;                 // the start-up code
  const char* text;         // its text on stderr
  const char* reason;       // in the line naming the file and the reason
};

// A run may write no file it reads or loads: the source script or project, every media file
// they name (a .y4m, a file FFVideoSource opens, each file a D2V project lists, an imported
// script), the settings file, the chapter file, the programs and libraries of the program
// folder. Each is refused at start-up with its code, and every file of the folder stays as it
// was, byte for byte (today's faults: the video emptied with exit 2, the listed file
// overwritten with exit 0, the log appended to the source, the library emptied with SIGBUS).
TEST(files, nothingtherunreadsisoverwritten) {
  auto y4m = [](const progfolder& pf) {
    pf.write("clip.y4m", y4mclip(64, 64, 12));
    pf.write("clip.avs", "Y4MSource(\"clip.y4m\")\n");
  };
  const refusal cases[] = {
      {"output onto the .y4m", y4m, {"-i", "clip.avs", "-o", "clip.y4m", "-cq", "4"}, 262,
       "can't open m2v file", "output \"clip.y4m\" is a file that \"clip.avs\" reads"},
      {"output onto a link to the .y4m",
       [&](const progfolder& pf) {
         y4m(pf);
         fs::create_symlink("clip.y4m", pf.path("clip.m2v"));
       },
       {"-i", "clip.avs", "-o", "clip.m2v", "-cq", "4"}, 262, "can't open m2v file",
       "output \"clip.m2v\" is a file that \"clip.avs\" reads"},
      {"output onto another name of the .y4m (hard link)",
       [&](const progfolder& pf) {
         y4m(pf);
         fs::create_directory(pf.path("out"));
         fs::create_hard_link(pf.path("clip.y4m"), pf.path("out/holiday.m2v"));
       },
       {"-i", "clip.avs", "-o", "out/holiday.m2v", "-cq", "4"}, 262, "can't open m2v file",
       "is a file that \"clip.avs\" reads"},
      {"log onto the .y4m", y4m, {"-i", "clip.avs", "-o", "out.m2v", "-cq", "4", "-log", "clip.y4m"},
       263, "can't open log file", "log \"clip.y4m\" is a file that \"clip.avs\" reads"},
      {"output onto the video FFVideoSource opens",
       [](const progfolder& pf) {
         makevideo(pf, "holiday.mkv");
         pf.write("holiday.avs", "FFVideoSource(\"holiday.mkv\")\n");
       },
       {"-i", "holiday.avs", "-o", "holiday.mkv", "-cq", "4"}, 262, "can't open m2v file",
       "output \"holiday.mkv\" is a file that \"holiday.avs\" reads"},
      {"output onto a file the D2V project lists",
       [](const progfolder& pf) {
         makevideo(pf, "title.m2v", 30);
         pf.write("movie.d2v", d2vproject("title.m2v"));
       },
       {"-i", "movie.d2v", "-o", "title.m2v", "-cq", "4"}, 262, "can't open m2v file",
       "output \"title.m2v\" is a video file that \"movie.d2v\" lists"},
      {"output onto an imported script",
       [](const progfolder& pf) {
         pf.write("inner.avs", "BlankClip(length=5, width=64, height=64)\n");
         pf.write("outer.avs", "Import(\"inner.avs\")\n");
       },
       {"-i", "outer.avs", "-o", "inner.avs", "-cq", "4"}, 262, "can't open m2v file",
       "output \"inner.avs\" is a file that \"outer.avs\" reads"},
      {"output onto the frame server library",
       [](const progfolder& pf) { pf.write("a.avs", "BlankClip(length=5, width=64, height=64)\n"); },
       {"-i", "a.avs", "-o", "avisynth.dll", "-cq", "4"}, 262, "can't open m2v file",
       "output \"avisynth.dll\" is a program or library of the encoder"},
      {"output onto a library of the folder that this run does not load",
       [](const progfolder& pf) { pf.write("a.avs", "BlankClip(length=5, width=64, height=64)\n"); },
       {"-i", "a.avs", "-o", "DGDecode.dll", "-cq", "4"}, 262, "can't open m2v file",
       "output \"DGDecode.dll\" is a program or library of the encoder"},
      {"output onto the program",
       [](const progfolder& pf) { pf.write("a.avs", "BlankClip(length=5, width=64, height=64)\n"); },
       {"-i", "a.avs", "-o", "./ostrel", "-cq", "4"}, 262, "can't open m2v file",
       "is a program or library of the encoder"},
      {"scene-change list onto an imported script",
       [](const progfolder& pf) {
         pf.write("KJ.ini", "*SCDFILE\n");
         pf.write("x_scd.txt", "BlankClip(length=5, width=64, height=64)\n");
         pf.write("a.avs", "Import(\"x_scd.txt\")\n");
       },
       {"-i", "a.avs", "-o", "x.m2v", "-cq", "4"}, 527, "error opening scd file",
       "scene-change list \"x_scd.txt\" is a file that \"a.avs\" reads"},
  };
  for (const refusal& c : cases) {
    progfolder pf;
    c.make(pf);
    const auto before = snapshot(pf.dir());
    runresult r = pf.ostrel(c.run);
    EXPECT_EQ(r.status, 1) << c.name << "\n" << described(r);
    EXPECT_NE(r.err.find(std::string("ostrel: ERROR, ") + c.text + "\n"), std::string::npos)
        << c.name << "\n" << r.err;
    EXPECT_NE(r.err.find(c.reason), std::string::npos) << c.name << "\n" << r.err;
    // Every file is as it was; the only new one may be the index FFVideoSource keeps.
    const auto after = snapshot(pf.dir());
    for (const auto& [name, content] : before) {
      auto it = after.find(name);
      EXPECT_TRUE(it != after.end() && it->second == content) << c.name << ": " << name << " changed";
    }
    for (const auto& [name, content] : after)
      EXPECT_TRUE(before.count(name) || fs::path(name).extension() == ".ffindex")
          << c.name << ": " << name << " was made";
  }
}

// Two runs writing one output: the second refuses at start-up (the first holds a lock on it
// while it writes) and leaves the first one's stream alone, by the same name and by another
// name of the same file. Today both exit 0 over a file that holds neither stream.
TEST(files, asecondrunonthesameoutputrefuses) {
  progfolder pf;
  pf.write("long.avs", "TestPattern(length=30000, width=352, height=288, fps=25)\n");
  pf.write("short.avs", "BlankClip(length=5, width=64, height=64)\n");
  fs::create_directory(pf.path("sub"));
  liverun first(pf, {"-i", "long.avs", "-o", "out.m2v", "-cq", "4"});
  ASSERT_TRUE(waituntil([&] { return filesize(pf.path("out.m2v")) > 0; })) << first.err();
  fs::create_symlink("../out.m2v", pf.path("sub/alias.m2v"));
  for (const char* name : {"out.m2v", "sub/alias.m2v"}) {
    runresult second = pf.ostrel({"-i", "short.avs", "-o", name, "-cq", "4"});
    EXPECT_EQ(second.status, 1) << name << "\n" << described(second);
    EXPECT_NE(second.err.find("ostrel: ERROR, can't open m2v file\n"), std::string::npos) << second.err;
    EXPECT_NE(second.err.find("is being written by another encoder"), std::string::npos) << second.err;
  }
  EXPECT_GT(filesize(pf.path("out.m2v")), 0) << "the second run emptied the first one's stream";
  first.signal(SIGINT);
  EXPECT_EQ(first.wait(), 3) << first.err();
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  // Once the first run has ended, the output is free again.
  runresult third = pf.ostrel({"-i", "short.avs", "-o", "out.m2v", "-cq", "4"});
  EXPECT_EQ(third.status, 0) << described(third);
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), 5u);
}

// The scene-change list is named from the output less its extension, or from the whole name
// when it has none: it always lies beside the output (today "-o outdir/abc" overwrites
// "outdir_scd.txt" in the folder above).
TEST(files, scenelistliesbesidetheoutput) {
  progfolder pf;
  pf.write("KJ.ini", "*SCDFILE\n");
  pf.write("a.avs", "TestPattern(length=30, width=64, height=64, fps=25, cut=12)\n");
  fs::create_directory(pf.path("outdir"));
  pf.write("outdir_scd.txt", "a file of the user's\n");
  pf.write("_scd.txt", "another file of the user's\n");
  struct listcase {
    const char *out, *list;
  };
  for (const listcase& c : {listcase{"outdir/abc", "outdir/abc_scd.txt"},
                            listcase{"outdir/film.m2v", "outdir/film_scd.txt"},
                            listcase{"b.m2", "b_scd.txt"}}) {
    runresult r = pf.ostrel({"-i", "a.avs", "-o", c.out, "-cq", "4"});
    EXPECT_EQ(r.status, 0) << c.out << "\n" << described(r);
    EXPECT_TRUE(pf.exists(c.list)) << c.out;
    EXPECT_NE(pf.read(c.list).find("      12\n"), std::string::npos) << c.out << ": " << pf.read(c.list);
  }
  EXPECT_EQ(pf.read("outdir_scd.txt"), "a file of the user's\n");
  EXPECT_EQ(pf.read("_scd.txt"), "another file of the user's\n");
}

}  // namespace
