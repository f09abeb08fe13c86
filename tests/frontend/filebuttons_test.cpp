// The file buttons of the Main page with scripted chooser answers: the choosers' requests, the
// output and log names, every outcome of an input choice, the settings files; and a relative
// KJ.ini path, opened by the front end as the encoder opens it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "frontend/window/guimain.h"
#include "tests/frontend/fixture.h"
#include "tests/frontend/pagestates.h"
#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {
class filebuttons : public frontfixture {
 protected:
  // Starts on a KJ.ini that names a 25 frames/s clip and an output, with two chapters and a zone.
  void startonclip() {
    start(kv("*INFILE", script("first.avs", smallclip)) + "\n" + kv("*OUTFILE", dir + "first.m2v") +
          "\n*CHAPTER 2\n5\n10\n*ZONE 1\n3 1.5\n");
    ASSERT_TRUE(movieinfovalid);
    ASSERT_EQ(chaptertable.count, 2);
    ASSERT_EQ(zonetable.count, 1);
  }
  void click(int page, int id) { userclick(dlg(page), id); }
  // The KJ.ini lines saveini writes for the pages now.
  std::vector<std::string> written() {
    saveini(1);
    return filelines(dir + "KJ.ini");
  }
  bool writes(const std::string& key) {
    for (const std::string& l : written())
      if (l.compare(0, key.size() + 1, key + " ") == 0) return true;
    return false;
  }
};

// A small clip at a frame rate: 12 frames of 32 x 16.
std::string clipat(const char* fps) {
  return std::string("TestPattern(length=12, width=32, height=16, ") + fps + ")\n";
}
}  // namespace

// Every chooser's request: open or save, title, filter, default extension (".m2v" for an
// output, ".log" for a log, none for an input), the folder it starts in; a cancel leaves the
// input, output and log names as they were and every other name empty.
TEST_F(filebuttons, thechoosersrequests) {
  start("");
  const struct {
    int page, id;
    bool save;
    const char* title;
    const char* description;
    const char* patterns;
    const char* defext;
    std::string folder;
    std::string* path;
    bool kept;
  } rows[] = {
      {pagemain, 1008, false, "select input file", "input files  (*.d2v, *.avs)", "*.d2v;*.avs", "", dir + "in/",
       &inputpath, true},
      {pagemain, 1029, false, "select output file", "output files (*.m2v)", "*.m2v", "m2v", dir + "out/",
       &outputpath, true},
      {pagemain, 1030, false, "select log file", "log files    (*.log)", "*.log", "log", dir + "log/", &logpath, true},
      {pagemain, 1009, false, "select ini file", "ini file     (*.ini)", "*.ini", "ini", dir + "ini/", &userinipath,
       false},
      {pagemain, 1010, true, "save ini file", "ini file     (*.ini)", "*.ini", "ini", dir + "ini/", &userinipath, false},
      {pagematrix, 1102, false, "import matrix file", "matrix file  (*.mtx, *.cqm)", "*.mtx;*.cqm", "mtx", dir + "matrix/",
       &matrixpath, false},
      {pagematrix, 1104, true, "export matrix file as mtx", "matrix file  (*.mtx)", "*.mtx", "mtx", "", &matrixpath,
       false},
      {pagematrix, 1103, true, "export matrix file as cqm", "matrix file  (*.cqm)", "*.cqm", "cqm", "", &matrixpath,
       false},
      {pagechapters, 2008, false, "import chapter file", "txt file     (*.txt)", "*.txt", "txt", dir + "ini/",
       &chapterpath, false},
      {pagechapters, 2009, true, "export chapter file", "txt file     (*.txt)", "*.txt", "txt", dir + "ini/",
       &chapterpath, false},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.title);
    inputpath = dir + "in/a.avs";
    outputpath = dir + "out/a.m2v";
    logpath = dir + "log/a.log";
    userinipath = dir + "ini/a.ini";
    matrixpath = dir + "m/a.mtx";
    chapterpath = dir + "c/a.txt";
    const std::string before = *r.path;
    usercancelfile();
    filebutton(dlg(r.page), r.id, evclick);
    const dlgfilerequest q = dlglastfilerequest();
    EXPECT_EQ(q.save, r.save);
    EXPECT_EQ(q.title, r.title);
    EXPECT_EQ(q.description, r.description);
    EXPECT_EQ(q.patterns, r.patterns);
    EXPECT_EQ(q.defext, r.defext);
    EXPECT_EQ(q.folder, r.folder);
    EXPECT_EQ(*r.path, r.kept ? before : "");
  }
  // Relative names of KJ.ini are files of the program folder: their choosers start there.
  inputpath = "sub/a.avs";
  usercancelfile();
  filebutton(dlg(pagemain), 1008, evclick);
  EXPECT_EQ(dlglastfilerequest().folder, dir + "sub/");
}

// Output and log names: the mark, the label and the encode button; the extension put on a name
// typed without one; a cancel keeps the name and its label.
TEST_F(filebuttons, outputandlognames) {
  start(kv("*INFILE", script("first.avs", smallclip)) + "\n");
  ASSERT_TRUE(movieinfovalid);
  EXPECT_FALSE(dlggetflag(dlg(dlgmain), 1012, ixenabled));
  userchoosefile(dir + "My Film");
  click(pagemain, 1029);
  EXPECT_EQ(outputpath, dir + "My Film.m2v");
  EXPECT_TRUE(iniseen[keyoutfile]);
  EXPECT_TRUE(outputset);
  EXPECT_EQ(text(pagemain, 1029), "output: " + shortpath(dir + "My Film.m2v"));
  EXPECT_TRUE(dlggetflag(dlg(dlgmain), 1012, ixenabled));
  userchoosefile(dir + "run");
  click(pagemain, 1030);
  EXPECT_EQ(logpath, dir + "run.log");
  EXPECT_TRUE(iniseen[keylogfile]);
  EXPECT_EQ(text(pagemain, 1030), "log: " + shortpath(dir + "run.log"));
  userchoosefile(dir + "film.mpv");
  click(pagemain, 1029);
  EXPECT_EQ(outputpath, dir + "film.mpv");
  for (int id : {1029, 1030}) {
    usercancelfile();
    click(pagemain, id);
  }
  EXPECT_EQ(outputpath, dir + "film.mpv");
  EXPECT_EQ(logpath, dir + "run.log");
  EXPECT_EQ(text(pagemain, 1029), "output: " + shortpath(dir + "film.mpv"));
  const std::vector<std::string> lines = written();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[1], kv("*OUTFILE", dir + "film.mpv"));
  EXPECT_EQ(lines[2], kv("*LOGFILE", dir + "run.log"));
}

// Every outcome of an input choice, each on a front end whose last input (a 25 frames/s clip
// with chapters and zones) is open and whose longest automatic GOP was set to 18: what it
// leaves in the model, on the input button, in the chapter and zone tables, in the status line
// and in KJ.ini. A new source empties the tables and sets the longest automatic GOP by its
// rate; no input at all is left by a file that is not there, that does not open, whose kind
// is unknown, or a D2V project that cannot be read.
TEST_F(filebuttons, everyoutcomeofaninputchoice) {
  const std::string lib = std::string(OSTREL_PROGDIR) + "/DGDecode/DGDecode16.dll";
  runresult made = runcommand({"ffmpeg", "-nostdin", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=64x64:rate=25",
                               "-frames:v", "6", "-c:v", "mpeg2video", dir + "v.m2v"});
  ASSERT_EQ(made.status, 0) << made.err;
  const std::string video = readfile(dir + "v.m2v");
  const std::string prompt = "input file name (*.d2v, *.avs)";
  const struct {
    const char* name;
    std::string content;  // %d: the program folder
    bool opened;
    std::string status;
    const char* autogop;
  } rows[] = {
      {"pal.avs", clipat("fps=25"), true,
       " AVS file opened, Avisynth successfully initialized, WARNING, resolution/frame rate mismatch", "15"},
      {"film.avs", clipat("fps=24000, fps_denominator=1001"), true,
       " AVS file opened, Avisynth successfully initialized, use pulldown for DVD compliancy, WARNING, resolution/frame\n"
       "rate mismatch",
       "12"},
      {"ntsc.avs", clipat("fps=30000, fps_denominator=1001"), true,
       " AVS file opened, Avisynth successfully initialized, WARNING, resolution/frame rate mismatch", "18"},
      {"p.d2v", "DGIndexProjectFile16\n1\n%dv.m2v\n\nFrame_Rate=25000 (25/1)\n", true,
       " D2V project file opened, DGDecode.dll (project version 16) loaded, DGDecode successfully initialized,\n"
       "WARNING, resolution/frame rate mismatch",
       "15"},
      {"missing.avs", "", false, " input file not found", "18"},
      {"broken.avs", "TestPattern(length=)\n", false, "", "18"},
      {"clip.mkv", clipat("fps=25"), false,
       " ERROR, unknown input file type, the input must be a .avs or .d2v file", "18"},
      {"v14.d2v", "DGIndexProjectFile14\n1\n%dv.m2v\n", false,
       " ERROR, invalid D2V project, DGIndex/DGDecode mismatch, D2V project must be file format version 6, 10,\n"
       "11, 12, 13, 15 or 16",
       "18"},
      {"lost.d2v", "DGIndexProjectFile16\n1\n%dgone.m2v\n", false,
       " ERROR, invalid D2V project, can't find the VOB/MPEG files", "18"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    if (&r != &rows[0]) again();
    startonclip();
    fs::create_directories(dir + "DGDecode");
    fs::copy_file(lib, dir + "DGDecode/DGDecode16.dll");
    writefile(dir + "v.m2v", video);
    std::string content = r.content;
    for (size_t k; (k = content.find("%d")) != std::string::npos;) content.replace(k, 2, dir);
    if (!content.empty()) writefile(dir + r.name, content);
    dlgputtext(dlg(pagemain), 1113, "18");
    dlgputint(dlg(pagemain), 1112, 18);
    userchoosefile(dir + r.name);
    click(pagemain, 1008);
    EXPECT_EQ(movieinfovalid, r.opened);
    EXPECT_EQ(iniseen[keyinfile], r.opened);
    EXPECT_EQ(inputpath, r.opened ? dir + r.name : "");
    EXPECT_EQ(text(pagemain, 1008), r.opened ? "input: " + shortpath(dir + r.name) : prompt);
    EXPECT_EQ(chaptertable.count, 0);
    EXPECT_EQ(zonetable.count, 0);
    EXPECT_EQ(dlggetint(dlg(pagechapters), 1094, ixcount), 0);
    EXPECT_EQ(dlggetint(dlg(pagezones), 1117, ixcount), 0);
    if (!r.status.empty()) {
      EXPECT_EQ(statustext, r.status);
    }
    EXPECT_EQ(text(pagemain, 1113), r.autogop);
    EXPECT_EQ(dlggetint(dlg(pagemain), 1112), std::stoi(r.autogop));
    // The encode button follows: a source and an output.
    EXPECT_EQ(dlggetflag(dlg(dlgmain), 1012, ixenabled), r.opened);
    // No input: no "*INFILE" line at all.
    EXPECT_EQ(writes("*INFILE"), r.opened);
    if (r.opened) {
      EXPECT_EQ(guisettings.startframe, 0);
      EXPECT_EQ(guisettings.endframe, std::string(r.name) == "p.d2v" ? 5 : 11);
    }
  }
}

// A cancelled input choice keeps the input, its source, its chapters and zones and every
// setting (the longest automatic GOP too).
TEST_F(filebuttons, acancelledinputchangesnothing) {
  startonclip();
  const std::string before = inputpath;
  dlgputtext(dlg(pagemain), 1113, "18");
  usercancelfile();
  click(pagemain, 1008);
  EXPECT_EQ(inputpath, before);
  EXPECT_TRUE(movieinfovalid);
  EXPECT_TRUE(iniseen[keyinfile]);
  EXPECT_EQ(chaptertable.count, 2);
  EXPECT_EQ(zonetable.count, 1);
  EXPECT_EQ(text(pagemain, 1113), "18");
  EXPECT_EQ(text(pagemain, 1008), "input: " + shortpath(before));
}

// A preview page that shows a picture shows the new source's first frame: black without one.
TEST_F(filebuttons, thepreviewfollowsthenewinput) {
  startonclip();
  userselect(dlg(dlgmain), tabcontrol, 5);
  click(pagechapters, 1015);  // one frame on: the page shows a picture
  std::vector<uint8_t> first, rgb;
  int w = 0, h = 0;
  ASSERT_TRUE(dlgpicture(dlg(pagechapters), 1500, first, w, h));
  script("grey.avs", "BlankClip(length=5, width=32, height=16, color_yuv=$808080)\n");
  userchoosefile(dir + "grey.avs");
  click(pagemain, 1008);
  ASSERT_TRUE(movieinfovalid);
  ASSERT_TRUE(dlgpicture(dlg(pagechapters), 1500, rgb, w, h));
  EXPECT_NE(rgb, first);
  // Its middle is the clip's grey.
  const size_t middle = (size_t)3 * ((size_t)(h / 2) * w + w / 2);
  EXPECT_GT(rgb[middle], 100);
  EXPECT_EQ(rgb[middle], rgb[middle + 1]);
  EXPECT_EQ(rgb[middle], rgb[middle + 2]);
  userchoosefile(dir + "missing.avs");
  click(pagemain, 1008);
  ASSERT_TRUE(dlgpicture(dlg(pagechapters), 1500, rgb, w, h));
  EXPECT_TRUE(std::all_of(rgb.begin(), rgb.end(), [](uint8_t b) { return b == 0; }));
}

// The settings files: "save ini file" writes what "save KJ.ini" writes (".ini" put on a typed
// name); "load ini file" and "load KJ.ini" put the pages to the file and open its input; a
// file that names no output leaves none (the encode button off); a cancel changes nothing.
TEST_F(filebuttons, settingsfiles) {
  startonclip();
  click(pagemain, 1077);  // autogop off: a "*GOP" line
  userchoosefile(dir + "mine");
  click(pagemain, 1010);
  EXPECT_EQ(statustext, " file successfully written");
  EXPECT_EQ(userinipath, dir + "mine.ini");
  click(pagemain, 1013);
  EXPECT_EQ(readfile(dir + "KJ.ini"), readfile(dir + "mine.ini"));
  EXPECT_NE(readfile(dir + "KJ.ini").find("*GOP"), std::string::npos);

  const std::string second = script("second.avs", clipat("fps=25"));
  writefile(dir + "other.ini", kv("*INFILE", second) + "\n" + kv("*BITRATE", "3000") + "\n");
  userchoosefile(dir + "other.ini");
  click(pagemain, 1009);
  EXPECT_EQ(statustext, " USER ini file successfully processed, Avisynth successfully initialized, WARNING, resolution/frame rate\n"
                        "mismatch");
  EXPECT_EQ(inputpath, second);
  EXPECT_TRUE(movieinfovalid);
  EXPECT_EQ(guisettings.sourceframes, 12);
  EXPECT_EQ(text(pagemain, 1087), "3000");
  EXPECT_TRUE(dlggetflag(dlg(pagemain), 1077));  // the defaults where the file says nothing
  EXPECT_EQ(chaptertable.count, 0);
  EXPECT_FALSE(outputset);
  EXPECT_FALSE(dlggetflag(dlg(dlgmain), 1012, ixenabled));
  EXPECT_EQ(text(pagemain, 1029), "output file name (not set)");

  usercancelfile();
  click(pagemain, 1009);
  EXPECT_EQ(inputpath, second);
  EXPECT_EQ(userinipath, "");
  usercancelfile();
  click(pagemain, 1010);
  EXPECT_FALSE(fs::exists(dir + ".ini"));

  click(pagemain, 1012);
  EXPECT_EQ(statustext, " KJ.ini successfully processed, Avisynth successfully initialized, WARNING, resolution/frame rate mismatch");
  EXPECT_EQ(inputpath, dir + "first.avs");
  EXPECT_FALSE(dlggetflag(dlg(pagemain), 1077));
  EXPECT_TRUE(outputset);
  EXPECT_TRUE(dlggetflag(dlg(dlgmain), 1012, ixenabled));
}

// A relative name in KJ.ini is a file of the program folder, where the encoder runs: the front
// end started from another folder that holds a file of the same name shows the program
// folder's clip, writes the name back as it was, and the encoder encodes that clip.
TEST_F(filebuttons, relativenamesasthencodertakesthem) {
  progfolder pf;
  pf.write("clip.avs", "TestPattern(length=9, width=64, height=64, fps=25)\n");
  pf.write("KJ.ini", kv("*INFILE", "clip.avs") + "\n" + kv("*OUTFILE", "out.m2v") + "\n" +
                         kv("*LOGFILE", "out.log") + "\n");
  // The folder the front end runs in holds another clip of that name, and an output.
  char here[] = "/tmp/ostrelcwdXXXXXX";
  ASSERT_NE(mkdtemp(here), nullptr);
  writefile(std::string(here) + "/clip.avs", "TestPattern(length=20, width=32, height=16, fps=25)\n");
  writefile(std::string(here) + "/out.m2v", "not the encoder's");
  const fs::path before = fs::current_path();
  fs::current_path(here);
  const bool ok = guistart(1, pf.dir() + "/");
  fs::current_path(before);
  ASSERT_TRUE(ok);
  started = true;
  EXPECT_TRUE(movieinfovalid);
  EXPECT_EQ(guisettings.sourceframes, 9);
  EXPECT_EQ(previewstate.width, 64);
  EXPECT_EQ(inputpath, "clip.avs");
  fs::current_path(here);
  userclick(dlg(dlgmain), 1012);
  fs::current_path(before);
  EXPECT_EQ(statustext, " encoding finished");
  EXPECT_EQ(pf.read("KJ.ini").substr(0, 27), kv("*INFILE", "clip.avs") + "\n");
  ASSERT_TRUE(pf.exists("out.m2v"));
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), 9u);
  std::string why;
  EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << why;
  EXPECT_EQ(readfile(std::string(here) + "/out.m2v"), "not the encoder's");
  fs::remove_all(here);
}
