// The decoder choice on D2V projects the tests write, the processor check on made-up feature
// words, the DVD-compliance warnings, the version our files carry and the information texts of
// the frame server and the decoder libraries.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>

#include "common/cpuprobe.h"
#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "frontend/window/planes.h"
#include "platform/queue.h"
#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {
using environment = frontfixture;

const std::string progfiles = OSTREL_PROGDIR "/";
}  // namespace

// The kind of the input and, for a D2V project, its version, its library and its listed files.
TEST_F(environment, thedecoderchoiceonprojects) {
  start("");
  fs::create_directories(dir + "sub");
  for (const char* f : {"VTS_01_1.VOB", "VTS_01_2.VOB", "sub/v.m2v", "two words.m2v"}) writefile(dir + f, "video");
  struct row {
    const char* name;     // the input, in the program folder
    const char* project;  // its text (%d: the folder); none for a script
    int version;
    bool ok, found, d2v, avs;
    const char* library;  // in decoderdir, "" for none
  };
  const row rows[] = {
      // A script named in upper case: its path keeps its case.
      {"Clip.AVS", nullptr, 0, true, true, false, true, ""},
      {"clip.avs.txt", nullptr, 0, true, true, false, false, ""},
      {"v11.d2v", "DGIndexProjectFile11\n2\n%dVTS_01_1.VOB\n%dVTS_01_2.VOB\n\nStream_Type=1\n", 11, true, true, true,
       false, "DGDecode11.dll"},
      {"v14.d2v", "DGIndexProjectFile14\n1\n%dVTS_01_1.VOB\n", 14, false, true, false, false, ""},
      // Version 6: a field, a blank, then the name (blanks in it kept).
      {"v6.d2v", "DGIndexProjectFile06\n2\n1 VTS_01_1.VOB\n2   two words.m2v\n", 6, true, true, true, false,
       "DGDecode06.dll"},
      // Version 6 read as a later version would look for "1 VTS_01_1.VOB".
      {"v6whole.d2v", "DGIndexProjectFile06\n1\nVTS_01_1.VOB\n", 6, false, false, false, false, "DGDecode06.dll"},
      // Names as our decoder library finds them: beside the project, backslashes as '/'.
      {"sub/rel.d2v", "DGIndexProjectFile16\r\n1\r\nv.m2v\r\n", 16, true, true, true, false, "DGDecode16.dll"},
      {"slash.d2v", "DGIndexProjectFile16\n1\nsub\\v.m2v\n", 16, true, true, true, false, "DGDecode16.dll"},
      {"UPPER.D2V", "DGIndexProjectFile16\n1\n%dVTS_01_2.VOB\n", 16, true, true, true, false, "DGDecode16.dll"},
      {"missing.d2v", "DGIndexProjectFile16\n2\n%dVTS_01_1.VOB\n%dVTS_09_1.VOB\n", 16, false, false, false, false,
       "DGDecode16.dll"},
      // No number at the end of the first line: an unsupported version, not the end of the program.
      {"noversion.d2v", "DGIndexProjectFile\n1\n%dVTS_01_1.VOB\n", 0, false, true, false, false, ""},
      {"empty.d2v", "", 0, false, true, false, false, ""},
      // A count that is no number, zero, or more than the lines that follow.
      {"count.d2v", "DGIndexProjectFile16\ntwo\n%dVTS_01_1.VOB\n", 16, false, false, false, false, "DGDecode16.dll"},
      {"zero.d2v", "DGIndexProjectFile16\n0\n", 16, false, false, false, false, "DGDecode16.dll"},
      {"short.d2v", "DGIndexProjectFile16\n3\n%dVTS_01_1.VOB\n%dVTS_01_2.VOB\n", 16, false, false, false, false,
       "DGDecode16.dll"},
  };
  for (const row& r : rows) {
    std::string path = dir + r.name;
    if (r.project) {
      std::string p = r.project;
      for (size_t k; (k = p.find("%d")) != std::string::npos;) p.replace(k, 2, dir);
      writefile(path, p);
    } else {
      writefile(path, smallclip);
    }
    inputpath = path;
    pickdecoder();
    SCOPED_TRACE(r.name);
    EXPECT_EQ(inputpath, path);
    EXPECT_EQ(d2vversion, r.version);
    EXPECT_EQ(d2vversionok, r.ok);
    EXPECT_EQ(d2vfilesfound, r.found);
    EXPECT_EQ(d2vinput, r.d2v);
    EXPECT_EQ(avsinput, r.avs);
    if (*r.library) {
      EXPECT_EQ(d2vlibpath, decoderdir + r.library);
    } else {
      EXPECT_EQ(d2vlibpath, "");
    }
  }
}

// What the settings reader makes of the decoder choice: the input goes, with the message.
TEST_F(environment, thereadersmessagesofthedecoderchoice) {
  writefile(dir + "v.m2v", "video");
  writefile(dir + "bad.d2v", "DGIndexProjectFile\n1\n" + dir + "v.m2v\n");
  start("*INFILE " + dir + "bad.d2v\n");
  EXPECT_EQ(statustext,
            " KJ.ini successfully processed, ERROR, invalid D2V project, DGIndex/DGDecode mismatch, D2V project must\n"
            "be file format version 6, 10, 11, 12, 13, 15 or 16");
  EXPECT_EQ(inputpath, "");
  EXPECT_FALSE(iniseen[keyinfile]);
  again();
  writefile(dir + "v.m2v", "video");
  writefile(dir + "lost.d2v", "DGIndexProjectFile16\n1\n" + dir + "gone.m2v\n");
  start("*INFILE " + dir + "lost.d2v\n");
  EXPECT_EQ(statustext, " KJ.ini successfully processed, ERROR, invalid D2V project, can't find the VOB/MPEG files");
  EXPECT_EQ(inputpath, "");
}

// The processor's level from its feature words: each later bit overrides the earlier ones; the
// plane kernels' mode word for MMX, SSE2 and SSE3, left alone for SSSE3; no MMX quits.
TEST_F(environment, theprocessorcheckonfeaturewords) {
  start("");
  const uint32_t mmx = cpuidmmx, sse2 = cpuidsse2, sse3 = cpuidsse3, ssse3 = cpuidssse3;
  struct row {
    uint32_t ecx, edx;
    int level, mode;
  };
  const row rows[] = {
      {0, mmx, 1, 1},
      {0, mmx | sse2, 2, 2},
      {sse3, mmx | sse2, 3, 3},
      {sse3 | ssse3, mmx | sse2, 4, 0},
      // SSSE3 without SSE3 counts as what the other bits give.
      {ssse3, mmx | sse2, 2, 2},
      {sse3, 0, 3, 3},
  };
  for (const row& r : rows) {
    setcpumode(0);
    statustext = " before";
    cpucheck(featurewords(r.ecx, r.edx));
    EXPECT_EQ(guisettings.cpulevel, r.level) << r.ecx << " " << r.edx;
    EXPECT_EQ(cpumode(), r.mode) << r.ecx << " " << r.edx;
    EXPECT_EQ(statustext, " before");
    message m;
    EXPECT_FALSE(peekmsg(m));
  }
  cpucheck(featurewords(ssse3, 0));
  EXPECT_EQ(guisettings.cpulevel, 0);
  EXPECT_EQ(statustext, " no MMX detected, aborting...");
  bool quit = false;
  for (message m; peekmsg(m);) quit = quit || (m.kind == msgquit && m.code == 0);
  EXPECT_TRUE(quit);
  // This processor: SSE2 at least.
  cpucheck();
  EXPECT_GE(guisettings.cpulevel, 2);
  setcpumode(0);
}

// The DVD-compliance warnings by rate, size and pulldown.
TEST_F(environment, thedvdwarnings) {
  start("");
  const std::string mismatch = ", WARNING, resolution/frame rate mismatch";
  struct row {
    float fps;
    int width, height;
    bool pulldown;
    std::string warnings;
    bool film;
  };
  const float ntsc = 30000.0f / 1001.0f, film = 24000.0f / 1001.0f;
  const row rows[] = {
      {25.0f, 720, 480, false, mismatch, false},
      {25.0f, 720, 576, false, "", false},
      {25.0f, 704, 576, false, "", false},
      {25.0f, 352, 288, false, "", false},
      {25.0f, 352, 240, false, mismatch, false},
      {ntsc, 720, 480, false, "", false},
      {ntsc, 352, 240, false, "", false},
      {ntsc, 720, 576, false, mismatch, false},
      {film, 352, 240, false, ", use pulldown for DVD compliancy", true},
      {film, 352, 240, true, "", true},
      {film, 720, 576, true, mismatch, true},
      {ntsc, 1920, 1080, false, "", false},
      {30.0f, 720, 576, false, ", WARNING, frame rate NOT DVD compliant" + mismatch, false},
      {30.0f, 1280, 720, false, ", WARNING, frame rate NOT DVD compliant", false},
      {24.0f, 720, 480, false, ", WARNING, frame rate NOT DVD compliant" + mismatch, false},
      {25.009f, 720, 576, false, "", false},
      {25.011f, 720, 576, false, ", WARNING, frame rate NOT DVD compliant" + mismatch, false},
  };
  for (const row& r : rows) {
    guisettings.sourcefps = r.fps;
    previewstate.width = r.width, previewstate.height = r.height;
    dlgputflag(dlg(pagemain), 1044, r.pulldown);
    src23976 = !r.film;
    statustext = " opened";
    dvdcheck();
    EXPECT_EQ(statustext, " opened" + r.warnings) << r.fps << " " << r.width << "x" << r.height;
    EXPECT_EQ(src23976, r.film) << r.fps;
  }
}

// The version our files carry, read back from the programs and the frame server; files
// without one, missing files, and a mark that lies across two pieces of the read.
TEST(fileversions, ourfilescarrytheirversion) {
  for (const char* f : {"ostrel", "ostrelfront", "avisynth.dll"}) {
    int n[4] = {9, 9, 9, 9};
    EXPECT_EQ(fileversion(progfiles + f, n), 0) << f;
    EXPECT_EQ(std::vector<int>(n, n + 4), (std::vector<int>{0, 21, 0, 0})) << f;
  }
  progfolder pf;
  struct row {
    std::string data;
    int result;
    std::vector<int> numbers;
  };
  const std::string key = "OSTREL-FILE-VERSION ";
  const row rows[] = {
      {"no mark here", -1, {0, 0, 0, 0}},
      {key + "1.2.3", -1, {0, 0, 0, 0}},
      {key + "1.2.3.70000" + std::string(1, '\0'), -1, {0, 0, 0, 0}},
      {key + std::string(1, '\0') + key + "1.2.3.4" + std::string(1, '\0'), 0, {1, 2, 3, 4}},
      {std::string((1 << 20) - 10, 'x') + key + "7.8.9.10" + std::string(1, '\0'), 0, {7, 8, 9, 10}},
  };
  for (const row& r : rows) {
    pf.write("f", r.data);
    int n[4] = {9, 9, 9, 9};
    EXPECT_EQ(fileversion(pf.path("f"), n), r.result) << r.data.substr(0, 40);
    EXPECT_EQ(std::vector<int>(n, n + 4), r.numbers);
  }
  int n[4];
  EXPECT_EQ(fileversion(pf.path("none"), n), ENOENT);
  EXPECT_EQ(fileversion(pf.dir(), n), ENOENT);
}

// The frame server's information: not installed, ours with its version and date, a file of
// that name without a version.
TEST_F(environment, theframeserversinformation) {
  start("");
  avsinfo();
  EXPECT_EQ(statustext, " Avisynth installation NOT found");
  fs::copy_file(progfiles + "avisynth.dll", dir + "avisynth.dll");
  avsdlldate.clear();
  avsinfo();
  ASSERT_EQ(avsdlldate.size(), 10u);
  const std::string found = " Avisynth installation found: " + dir.substr(0, dir.size() - 1);
  EXPECT_EQ(statustext, found + ", file version: 0.21.0.0, creation date: " + avsdlldate);
  writefile(dir + "avisynth.dll", "not ours");
  avsinfo();
  EXPECT_EQ(statustext, found + ", no file version information available");
}

// The decoder libraries found in the DGDecode folder, their versions in columns.
TEST_F(environment, thedecoderlibrariesinformation) {
  start("");
  struct row {
    std::vector<const char*> versions;
    std::string text;
  };
  const std::string lead = " DGDecode decoder found, valid project versions: ";
  const row rows[] = {
      {{}, " DGDecode NOT found"},
      {{"06", "10", "11", "12", "13", "15", "16"}, lead + "  6  10  11  12  13  15  16"},
      {{"10", "16"}, lead + "  10  16"},
      {{"06"}, lead + "  6"},
      {{"06", "13"}, lead + "  6  13"},
  };
  for (const row& r : rows) {
    fs::remove_all(dir + "DGDecode");
    fs::create_directories(dir + "DGDecode");
    for (const char* v : r.versions) writefile(dir + "DGDecode/DGDecode" + v + ".dll", "library");
    // A library of a version without a project format does not count.
    writefile(dir + "DGDecode/DGDecode14.dll", "library");
    decoderinfo();
    EXPECT_EQ(statustext, r.text) << r.versions.size();
  }
}
