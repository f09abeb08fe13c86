// The README's "Making a DVD": its commands, taken from the README as they stand, on a short
// generated clip for each of its three discs (PAL, NTSC, NTSC from film with pulldown), with
// chapters every second. What dvdauthor says of the folder it made (its chapters, TV standard,
// aspect and picture size) and lsdvd's view of it, where lsdvd is installed, must be the disc
// the recipe promises; the video stream must decode cleanly and mplex must find no under-run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {

// The code lines of the README after the marker "<!-- dvd-recipe: name -->": up to the next
// marker, or for "steps" to the end of the section. Code lines of the numbered steps are indented
// seven blanks.
std::string recipe(const std::string& name) {
  std::istringstream in(readfile(OSTREL_README));
  std::string line, code;
  bool on = false;
  for (; std::getline(in, line);) {
    if (line.find("<!-- dvd-recipe: ") != std::string::npos) {
      if (on && name != "steps") break;
      on = line.find("<!-- dvd-recipe: " + name + " -->") != std::string::npos;
      continue;
    }
    if (on && line.rfind("## ", 0) == 0) break;
    if (on && line.rfind("       ", 0) == 0) code += line.substr(7) + "\n";
  }
  return code;
}

bool haveprogram(const std::string& name) {
  return runcommand({"sh", "-c", "command -v " + name}).status == 0;
}

struct disc {
  const char* recipe;
  const char* clip;  // the clip the recipe takes, and how ffmpeg makes it
  const char* source;
  const char* standard, *aspect, *resolution;  // as dvdauthor says them
  const char* lsdvdformat, *lsdvdaspect, *lsdvdfps;
};

}  // namespace

TEST(makingadvd, theReadmesCommandsMakeEachDisc) {
  const disc discs[] = {
      {"pal", "holiday.mp4", "testsrc2=s=1280x720:r=30:d=3", "pal", "16:9", "720x576", "PAL", "16/9", "25.00"},
      {"ntsc", "holiday.mp4", "testsrc2=s=1280x720:r=30:d=3", "ntsc", "4:3", "720x480", "NTSC", "4/3", "29.97"},
      {"film", "holiday.mkv", "testsrc2=s=640x360:r=24000/1001:d=3", "ntsc", "16:9", "720x480", "NTSC", "16/9",
       "29.97"},
  };
  const std::string steps = recipe("steps");
  ASSERT_NE(steps.find("EVERY=300\n"), std::string::npos) << steps;
  const bool lsdvd = haveprogram("lsdvd");
  for (const disc& d : discs) {
    // The sanitizer build checks the encoder's part once; the other discs differ in what ffmpeg,
    // mplex and dvdauthor do.
    if (sanitizerbuild && std::string(d.recipe) != "pal") continue;
    SCOPED_TRACE(d.recipe);
    progfolder pf;  // the programs; the work folder is a folder of its own beside them
    const std::string work = pf.path("work");
    fs::create_directory(work);
    runresult made = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", d.source, "-f", "lavfi",
                                 "-i", "sine=f=440:d=3", "-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt",
                                 "yuv420p", "-c:a", "aac", "-shortest", work + "/" + d.clip});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string script = recipe(d.recipe);
    ASSERT_FALSE(script.empty());
    // Chapters every second on the 3-second clip; lsdvd only where it is installed.
    std::string run = steps;
    run.replace(run.find("EVERY=300\n"), 10, "EVERY=1\n");
    if (!lsdvd) run.replace(run.find("lsdvd -x dvd"), 12, "true");
    const std::string all = "set -eu\n" + script + run;
    const char* path = std::getenv("PATH");
    runresult r = runcommand({"bash", "-c", all}, work, {"PATH=" + pf.dir() + ":" + (path ? path : "/usr/bin:/bin")}, 600);
    ASSERT_EQ(r.status, 0) << all << described(r);
    const std::string said = r.out + r.err;
    EXPECT_NE(said.find("MUX STATUS: no under-runs detected."), std::string::npos) << said;
    // Chapters at 0, 1 and 2 seconds (the last at least half a second before the end), on the frames
    // the encoder started closed GOPs at.
    EXPECT_EQ(readfile(work + "/chapters.txt"), std::string(d.recipe) == "pal" ? "25\n50\n"
                                                : std::string(d.recipe) == "ntsc" ? "30\n60\n"
                                                                                   : "24\n48\n");
    for (const char* at : {"CHAPTERS: VTS[1/1] 0.000\n", "CHAPTERS: VTS[1/1] 1.0", "CHAPTERS: VTS[1/1] 2.0"})
      EXPECT_NE(said.find(at), std::string::npos) << at << "\n" << said;
    EXPECT_EQ(said.find("CHAPTERS: VTS[1/1] 3."), std::string::npos) << said;
    EXPECT_NE(said.find(std::string("INFO: TV standard: ") + d.standard + "\n"), std::string::npos) << said;
    EXPECT_NE(said.find(std::string("INFO: Aspect ratio: ") + d.aspect + "\n"), std::string::npos) << said;
    EXPECT_NE(said.find(std::string("INFO: Resolution: ") + d.resolution + "\n"), std::string::npos) << said;
    EXPECT_EQ(said.find("ERR:"), std::string::npos) << said;
    EXPECT_TRUE(fs::exists(work + "/dvd/VIDEO_TS/VIDEO_TS.IFO"));
    EXPECT_TRUE(fs::exists(work + "/dvd/VIDEO_TS/VTS_01_1.VOB"));
    if (lsdvd) {
      EXPECT_NE(said.find("Chapters: 03,"), std::string::npos) << said;
      EXPECT_NE(said.find(std::string("FPS: ") + d.lsdvdfps + ", Format: " + d.lsdvdformat + ", Aspect ratio: " +
                          d.lsdvdaspect),
                std::string::npos)
          << said;
    }
    std::string why;
    EXPECT_TRUE(decodesclean(work + "/holiday.m2v", &why)) << why;
    // The encoder counted the chapter frames it was given.
    EXPECT_NE(readfile(work + "/holiday.log").find("chapter frames:              2\n"), std::string::npos);
  }
}
