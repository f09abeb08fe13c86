// The KJ.ini writer: byte-exact files for the default pages and a table of page states that
// writes every key, the values the encoder would refuse, and writes that fail.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"
#include "tests/frontend/pagestates.h"
#include "tests/support/blackbox.h"

namespace {
using writer = frontfixture;
}  // namespace

// The pages as the start-up leaves them for a KJ.ini that names a script and an output: the
// source's bitrate controls enabled, the defaults and the source's frames written. (Without a
// source the maximum bitrate's edit is disabled and its line is not written: the first state of
// the table of states.)
TEST_F(writer, defaultpageswithinputandoutput) {
  std::string clip = script("clip.avs", smallclip);
  start("*INFILE " + clip + "\n*OUTFILE " + dir + "Out File.M2V\n");
  ASSERT_TRUE(dlggetflag(dlg(pagemain), 1018, ixenabled));
  saveini(1);
  EXPECT_TRUE(settingsvalid);
  EXPECT_EQ(statustext, " file successfully written");
  EXPECT_EQ(readfile(dir + "KJ.ini"), kv("*INFILE", clip) + "\n" + kv("*OUTFILE", dir + "Out File.M2V") + "\n" +
                                          kv("*BITRATE", "4000") + "\n" + kv("*MAXBITRATE", "8000") + "\n" +
                                          kv("*FRAMES", "0 29") + "\n" + kv("*AUTOGOP", "15  ") + "\n" +
                                          kv("*MATRIX", "mpeg") + "\n");
}

// The maximum bitrate is written exactly while its edit is enabled, as the user's clicks leave
// it: not without a source, with one in two-pass mode, not at a constant quantiser, again with
// "check VBV/max bitrate", not when that is unticked; "save KJ.ini" writes what the edit says.
TEST_F(writer, themaximumiswrittenonlywhileitseditisenabled) {
  auto maximum = [this] {
    userclick(dlg(pagemain), 1013);
    EXPECT_EQ(statustext, " file successfully written");
    const std::vector<std::string> lines = filelines(dir + "KJ.ini");
    const bool written =
        std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("*MAXBITRATE", 0) == 0; });
    EXPECT_EQ(written, dlggetflag(dlg(pagemain), 1018, ixenabled));
    return written;
  };
  start("*OUTFILE out.m2v\n");
  ASSERT_FALSE(movieinfovalid);
  EXPECT_FALSE(maximum());
  again();
  start(kv("*INFILE", script("clip.avs", smallclip)) + "\n");
  ASSERT_TRUE(movieinfovalid) << statustext;
  EXPECT_TRUE(maximum());
  userclick(dlg(pagesettings1), 1055);  // constant quantiser
  EXPECT_FALSE(maximum());
  userclick(dlg(pagesettings1), 1057);  // check VBV/max bitrate
  EXPECT_TRUE(maximum());
  userclick(dlg(pagesettings1), 1057);
  EXPECT_FALSE(maximum());
  userclick(dlg(pagesettings1), 1055);  // two passes again
  EXPECT_TRUE(maximum());
}

// Every key the writer knows, each line's key, column and value form; mode 1 and mode 2 write
// the same file.
TEST_F(writer, everykeyofthetableofstates) {
  for (const pagestate& s : pagestates()) {
    if (&s != &pagestates()[0]) again();
    start("");
    s.set();
    saveini(1);
    EXPECT_TRUE(settingsvalid) << s.name;
    EXPECT_EQ(statustext, " file successfully written") << s.name;
    EXPECT_EQ(filelines(dir + "KJ.ini"), s.lines) << s.name;
    userinipath = dir + "user.ini";
    saveini(2);
    EXPECT_EQ(readfile(dir + "user.ini"), readfile(dir + "KJ.ini")) << s.name;
  }
}

// The writer keeps in the model what the encoder reads of the numbers it writes.
TEST_F(writer, numberswrittenaretheonesthemodelkeeps) {
  start("");
  sourceopen();
  settext(pagemain, 1088, "100 200");
  settext(pagemain, 1089, "123456789");
  tick(pagemain, 1077, false);
  settext(pagesettings1, 1045, "40");
  settext(pagesettings1, 1544, "3");
  settext(pagesettings2, 1035, "-5");
  settext(pagesettings2, 1036, "10");
  settext(pagesettings2, 1044, "4");
  settext(pagesettings2, 1045, "-1152");
  settext(pagesettings2, 1031, "-1");
  settext(pagesettings2, 1032, "75");
  settext(pagesettings2, 1017, "150");
  saveini(1);
  ASSERT_TRUE(settingsvalid);
  std::vector<std::string> lines = filelines(dir + "KJ.ini");
  // "100 200" and the end's first 8 digits: the encoder reads 100 and 200.
  EXPECT_EQ(lines[2], kv("*FRAMES", "100 200 12345678"));
  EXPECT_EQ(guisettings.startframe, 100);
  EXPECT_EQ(guisettings.endframe, 200);
  EXPECT_EQ(lines[3], kv("*GOP", "40 3"));
  EXPECT_EQ(guisettings.guigoplength, 40);
  EXPECT_EQ(guisettings.guibframes, 3);
  EXPECT_EQ(guisettings.guibias, 0);
  EXPECT_EQ(lines[4], kv("*MASK_SHIFT", "10 4 -1152"));
  EXPECT_EQ(guisettings.guimask[2], -1152);
  EXPECT_EQ(lines[5], kv("*TIMECODE", "0 59  0  0"));
  EXPECT_EQ(guisettings.guitimecode[1], 59);
  EXPECT_EQ(guisettings.guiwait, 99);
  // An empty or unreadable frame text leaves the frames out, nothing else.
  settext(pagemain, 1089, "");
  saveini(1);
  EXPECT_TRUE(settingsvalid);
  EXPECT_EQ(filelines(dir + "KJ.ini")[2], kv("*GOP", "40 3"));
}

// A value the encoder would refuse is never written: the file stays as it was, the status line
// says why and the encode does not start.
TEST_F(writer, valuestheencoderwouldrefusearenotwritten) {
  struct row {
    std::function<void()> set;
    const char* status;
  };
  const row rows[] = {
      {[] { tick(pagesettings1, 1055), settext(pagesettings1, 1056, "abc"); },
       " KJ.ini write aborted, invalid CQ value, not a number"},
      {[] { tick(pagesettings1, 1055), settext(pagesettings1, 1056, ""); },
       " KJ.ini write aborted, invalid CQ value, not a number"},
      {[] { settext(pagemain, 1087, ""); }, " KJ.ini write aborted, invalid average bitrate, not a number"},
      {[] { settext(pagemain, 1087, "4000.5"); }, " KJ.ini write aborted, invalid average bitrate, not a number"},
      {[] { sourceopen(), settext(pagemain, 1018, "lots"); },
       " KJ.ini write aborted, invalid maximum bitrate, not a number"},
      {[] { tick(pagesettings1, 1055), settext(pagesettings1, 1056, "4"), settext(pagesettings1, 1038, "0.755"); },
       " KJ.ini write aborted, invalid P-factor, more than 4 characters"},
      {[] { tick(pagesettings1, 1055), settext(pagesettings1, 1056, "4"), settext(pagesettings1, 1037, "x"); },
       " KJ.ini write aborted, invalid B-factor, not a number"},
      {[] { tick(pagemain, 1077, false), settext(pagesettings1, 1544, ""); },
       " KJ.ini write aborted, invalid GOP length or B frames, not a number"},
      {[] { settext(pagemain, 1113, ""); }, " KJ.ini write aborted, invalid autogop maximum, not a number"},
      {[] { settext(pagesettings2, 1035, "?"); }, " KJ.ini write aborted, invalid VBR bias, not a number"},
      {[] { settext(pagesettings2, 1045, "up"); }, " KJ.ini write aborted, invalid mask or shift lines, not a number"},
      {[] { settext(pagesettings2, 1032, ""); }, " KJ.ini write aborted, invalid time code, not a number"},
      {[] { settext(pagesettings2, 1017, "x"); }, " KJ.ini write aborted, invalid wait time, not a number"},
      {[] { tick(pagematrix, 1011), custommatrix.nonintra[5] = 1000; },
       " KJ.ini write aborted, invalid custom matrix, a value too wide for its field"},
      {[] { iniseen[keyoutfile] = true, outputpath = "/tmp/" + std::string(500, 'x') + ".m2v"; },
       " KJ.ini write aborted, invalid output file name, it can't be written to KJ.ini"},
      {[] { iniseen[keylogfile] = true, logpath = "/tmp/two\nlines.log"; },
       " KJ.ini write aborted, invalid log file name, it can't be written to KJ.ini"},
  };
  for (const row& r : rows) {
    if (&r != rows) again();
    start("");
    writefile(dir + "KJ.ini", "*BITRATE 5000\n");
    r.set();
    saveini(1);
    EXPECT_FALSE(settingsvalid) << r.status;
    EXPECT_EQ(statustext, r.status);
    EXPECT_EQ(readfile(dir + "KJ.ini"), "*BITRATE 5000\n") << r.status;
    std::vector<std::string> lines;
    std::string why;
    EXPECT_FALSE(inilines(lines, why));
    EXPECT_EQ(" KJ.ini write aborted, " + why, r.status);
    // The next write that finds the pages writable is valid again.
    again();
    start("");
    saveini(1);
    EXPECT_TRUE(settingsvalid);
  }
}

// A write that cannot be done says so and leaves settingsvalid false; nothing half-written is
// left, and the settings file never takes the place of the encode's own files.
TEST_F(writer, failedwritesarereported) {
  start("");
  userinipath = dir + "no such folder/user.ini";
  saveini(2);
  EXPECT_FALSE(settingsvalid);
  EXPECT_EQ(statustext, " KJ.ini write aborted, can't write " + userinipath + ": No such file or directory");
  std::filesystem::create_directory(dir + "folder.ini");
  userinipath = dir + "folder.ini";
  saveini(2);
  EXPECT_FALSE(settingsvalid);
  EXPECT_EQ(statustext, " KJ.ini write aborted, can't write " + userinipath + ": not a regular file");

  std::string clip = script("clip.avs", smallclip);
  iniseen[keyinfile] = true;
  inputpath = clip;
  userinipath = clip;
  saveini(2);
  EXPECT_FALSE(settingsvalid);
  EXPECT_EQ(statustext, " KJ.ini write aborted, " + clip + " is the input, output or log file");
  EXPECT_EQ(readfile(clip), smallclip);

  // A link is followed: the file it names is written, the link stays.
  writefile(dir + "real.ini", "old\n");
  std::filesystem::create_symlink(dir + "real.ini", dir + "link.ini");
  userinipath = dir + "link.ini";
  saveini(2);
  EXPECT_TRUE(settingsvalid);
  EXPECT_TRUE(std::filesystem::is_symlink(dir + "link.ini"));
  EXPECT_EQ(filelines(dir + "real.ini")[0], kv("*INFILE", clip));
  for (auto& e : std::filesystem::directory_iterator(dir))
    EXPECT_EQ(e.path().string().find(".writing"), std::string::npos) << e.path();
}

// The lines of keys the pages do not show, read from the last settings file, come first and
// unchanged, lists and all; the pages' settings follow them.
TEST_F(writer, linesofkeysthepagesdonotshowarekept) {
  std::string matrix;
  for (int r = 0; r < 8; r++) matrix += "9 9 9 9 9 9 9 9\r\n";
  start("; my settings\r\n*VBVSIZE   1000000\r\n*bitrate 5000\r\n*INTRAMATRIX\r\n" + matrix +
        "*Mask_Value 0, 128, 128\r\n*UNKNOWN 7\r\n");
  saveini(1);
  std::vector<std::string> lines = filelines(dir + "KJ.ini");
  std::vector<std::string> want = {"*VBVSIZE   1000000", "*INTRAMATRIX"};
  for (int r = 0; r < 8; r++) want.push_back("9 9 9 9 9 9 9 9");
  want.push_back("*Mask_Value 0, 128, 128");
  ASSERT_GE(lines.size(), want.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + (long)want.size()), want);
  EXPECT_EQ(lines[want.size()], kv("*BITRATE", "5000"));
  // Another file read replaces them.
  writefile(dir + "KJ.ini", "*WAIT 3\n");
  loadini(1);
  saveini(1);
  EXPECT_EQ(filelines(dir + "KJ.ini")[0], kv("*BITRATE", "4000"));
}
