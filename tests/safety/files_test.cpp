// The files of a run from outside: the output, the log and the scene-change list are never a
// file the run reads or loads, two runs never write one output, and the scene-change list lies
// beside the output.
#include <signal.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
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
  ASSERT_TRUE(waituntil([&] { return filesize(pf.path("out.m2v.partial")) > 0; })) << first.err();
  fs::create_symlink("../out.m2v", pf.path("sub/alias.m2v"));
  for (const char* name : {"out.m2v", "sub/alias.m2v"}) {
    runresult second = pf.ostrel({"-i", "short.avs", "-o", name, "-cq", "4"});
    EXPECT_EQ(second.status, 1) << name << "\n" << described(second);
    EXPECT_NE(second.err.find("ostrel: ERROR, can't open m2v file\n"), std::string::npos) << second.err;
    EXPECT_NE(second.err.find("is being written by another encoder"), std::string::npos) << second.err;
  }
  EXPECT_GT(filesize(pf.path("out.m2v.partial")), 0) << "the second run emptied the first one's stream";
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

// Two runs given one log: the second stops at start-up with "can't open log file" and why, and
// adds nothing to the log the first one writes (today both exit 0 and their lines mix).
TEST(files, asecondrunonthesamelogrefuses) {
  progfolder pf;
  pf.write("long.avs", "TestPattern(length=30000, width=176, height=144, fps=25)\n");
  pf.write("short.avs", "BlankClip(length=5, width=64, height=64)\n");
  liverun first(pf, {"-i", "long.avs", "-o", "first.m2v", "-cq", "4", "-log", "run.log"});
  ASSERT_TRUE(waituntil([&] { return filesize(pf.path("first.m2v.partial")) > 0; })) << first.err();
  const std::string before = pf.read("run.log");
  runresult second = pf.ostrel({"-i", "short.avs", "-o", "second.m2v", "-cq", "4", "-log", "run.log"});
  EXPECT_EQ(second.status, 1) << described(second);
  EXPECT_EQ(second.err, "ostrel: ERROR, can't open log file\n"
                        "ostrel: log \"run.log\" is being written by another encoder\n");
  EXPECT_FALSE(pf.exists("second.m2v"));
  EXPECT_EQ(pf.read("run.log").substr(0, before.size()), before);
  EXPECT_EQ(pf.read("run.log").find("short.avs"), std::string::npos);
  first.signal(SIGINT);
  EXPECT_EQ(first.wait(), 3) << first.err();
}

// A second pass that fills the disk (a small tmpfs holds the output): the run ends on the error
// with the file and the reason on stderr, and the stream it leaves at the output path is cut at
// its last whole GOP with the end code, so it decodes strictly (today it ends inside a picture
// and has no end code). Mounting needs root; without it the case is skipped.
TEST(files, afulldiskinthesecondpasskeepswholegops) {
  progfolder pf;
  const std::string disk = pf.path("disk");
  fs::create_directory(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=2m") != 0)
    GTEST_SKIP() << "can't mount a tmpfs here: " << std::strerror(errno);
  struct unmount {
    std::string at;
    ~unmount() { umount2(at.c_str(), MNT_DETACH); }
  } guard{disk};
  pf.write("clip.avs", "TestPattern(length=250, width=176, height=144, fps=25)\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "disk/out.m2v", "-b", "6000", "-maxbitrate", "8000", "-log", "run.log"});
  EXPECT_EQ(r.status, 2) << described(r);
  EXPECT_NE(r.err.find("ostrel: ERROR, can't write to output file, aborting... (\"disk/out.m2v\": No space left on "
                       "device)\n"), std::string::npos) << r.err;
  const std::string m2v = pf.path("disk/out.m2v");
  std::string why;
  ASSERT_TRUE(decodesclean(m2v, &why)) << why;
  const std::string s = readfile(m2v);
  ASSERT_GE(s.size(), 4u);
  EXPECT_EQ(s.substr(s.size() - 4), std::string("\0\0\1\xB7", 4));
  const size_t frames = probetypes(m2v).size();
  EXPECT_GT(frames, 0u);
  EXPECT_LT(frames, 250u);
  EXPECT_NE(pf.read("run.log").find(" *** the stream ends after its last whole GOP: " + std::to_string(frames) +
                                    " of 250 frames\n"), std::string::npos) << pf.read("run.log");
  EXPECT_FALSE(fs::exists(m2v + ".partial"));
  EXPECT_FALSE(scratchleft(pf));
}

// When the program folder cannot hold the scratch file, a two-pass run still makes its stream:
// the scratch file goes to the output's folder, else to the system's temporary folder, and
// stderr and the log say where (today every two-pass run of an installed copy fails with
// "can't open dbs file" and no reason). The eight names are taken by folders of that name, or
// the program folder is mounted read-only (needs root; skipped without). With no place at all
// the start-up fails with every folder and its reason named.
TEST(files, scratchfilefindsaplace) {
  struct placecase {
    const char* name;
    bool readonly;        // the program folder read-only, else its scratch names taken
    bool outputtaken;     // the output folder's names are taken too
    const char* where;    // the scratch file's folder below the program folder
  };
  const placecase cases[] = {
      {"names taken", false, false, "out/"},
      {"names taken here and beside the output", false, true, "tmp/"},
      {"read-only program folder", true, false, "out/"},
  };
  for (const placecase& c : cases) {
    SCOPED_TRACE(c.name);
    progfolder pf;
    pf.write("clip.avs", "TestPattern(length=30, width=176, height=144, fps=25)\n");
    for (const char* d : {"out", "tmp"}) fs::create_directory(pf.path(d));
    auto takenames = [&](const std::string& dir) {
      for (int k = 1; k <= 8; k++) fs::create_directory(dir + "KJ0" + std::to_string(k) + ".dbs");
    };
    struct unmount {
      std::string at;
      ~unmount() {
        if (!at.empty()) umount2(at.c_str(), MNT_DETACH);
      }
    } guard;
    // Output and temporary folder outside the program folder for the read-only case.
    progfolder other;
    const std::string outdir = c.readonly ? other.path("out/") : pf.path("out/");
    const std::string tmpdir = c.readonly ? other.path("tmp/") : pf.path("tmp/");
    fs::create_directories(outdir);
    fs::create_directories(tmpdir);
    if (c.readonly) {
      if (mount(pf.dir().c_str(), pf.dir().c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "can't bind-mount here: " << std::strerror(errno);
      guard.at = pf.dir();
      if (mount(nullptr, pf.dir().c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        GTEST_SKIP() << "can't mount read-only here: " << std::strerror(errno);
    } else {
      takenames(pf.dir() + "/");
    }
    if (c.outputtaken) takenames(outdir);
    const std::string log = tmpdir + "../run.log";
    runresult r = pf.ostrel({"-i", pf.path("clip.avs"), "-o", outdir + "film.m2v", "-b", "3000", "-maxbitrate",
                             "6000", "-log", log},
                            {"TMPDIR=" + tmpdir});
    ASSERT_EQ(r.status, 0) << described(r);
    std::string why;
    EXPECT_TRUE(decodesclean(outdir + "film.m2v", &why)) << why;
    const std::string place = (std::string(c.where) == "out/" ? outdir : tmpdir) + "KJ01.dbs";
    const std::string info = "*** INFO, the scratch file is \"" + place + "\" (\"" + pf.dir() + "/\": ";
    EXPECT_NE(r.err.find("ostrel: " + info), std::string::npos) << r.err;
    EXPECT_NE(readfile(log).find(" " + info), std::string::npos) << readfile(log);
    EXPECT_FALSE(fs::exists(place));
  }
  // Nowhere to go: every folder and why.
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=30, width=176, height=144, fps=25)\n");
  for (int k = 1; k <= 8; k++) fs::create_directory(pf.path("KJ0" + std::to_string(k) + ".dbs"));
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "film.m2v", "-b", "3000", "-maxbitrate", "6000"},
                          {"TMPDIR=" + pf.path("missing")});
  EXPECT_EQ(r.status, 1) << described(r);
  EXPECT_EQ(r.err, "ostrel: ERROR, can't open dbs file\n"
                   "ostrel: no folder can hold the scratch file: \"" + pf.dir() + "/\": all eight names are in use; \"" + pf.path("missing") + "/\": No such file or directory\n");
  EXPECT_FALSE(pf.exists("film.m2v"));
}

// Scratch files that a killed run left behind (nobody holds them) go with the next run, whatever
// it is; one that another run holds stays.
TEST(files, leftoverscratchfilesareremoved) {
  progfolder pf;
  pf.write("clip.avs", "BlankClip(length=5, width=64, height=64)\n");
  pf.write("KJ03.dbs", "left by a killed run");
  pf.write("KJ05.dbs", "left by a killed run");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "out.m2v", "-cq", "4"});
  EXPECT_EQ(r.status, 0) << described(r);
  EXPECT_FALSE(scratchleft(pf));
}

}  // namespace
