// The chapter list file: the form written, round trips, what an import takes (both forms,
// free format, CRLF) and makes of it (sorted, repeats, negative frames and frames past the
// source dropped and counted), what it refuses (the table then stays as it was), and the two
// buttons of the Preview/Chapters page with scripted chooser answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"

namespace {
using chapterfiles = frontfixture;

std::vector<int> table() { return {chaptertable.frames + 1, chaptertable.frames + 1 + chaptertable.count}; }
void settable(const std::vector<int>& frames) {
  clearchapters();
  for (int f : frames) chaptertable.frames[++chaptertable.count] = f;
}
// A source of frames frames as the open leaves the model (the routines only read these).
void source(int frames) {
  movieinfovalid = frames > 0;
  guisettings.sourceframes = frames;
}
}  // namespace

// "*CHAPTER", 10 blanks and the count, then a frame a line; an empty table writes nothing and
// leaves a file of that name as it was.
TEST_F(chapterfiles, theformwritten) {
  start("");
  settable({250, 1000});
  chapterpath = dir + "c.txt";
  showinfo(" (before)", false);
  ASSERT_TRUE(writechapters());
  EXPECT_EQ(readfile(dir + "c.txt"), "*CHAPTER          2\n250\n1000\n");
  EXPECT_EQ(statustext, " (before)");
  settable({});
  writefile(dir + "c.txt", "kept");
  ASSERT_TRUE(writechapters());
  EXPECT_EQ(readfile(dir + "c.txt"), "kept");
  settable({});
  chapterpath = dir + "new.txt";
  writechapters();
  EXPECT_FALSE(std::filesystem::exists(dir + "new.txt"));
  // A file that cannot be written says why.
  settable({5});
  chapterpath = dir + "no/such/c.txt";
  EXPECT_FALSE(writechapters());
  EXPECT_EQ(statustext, " error writing chapterfile, No such file or directory");
}

// A table exported and imported is the same table (with a source and without one).
TEST_F(chapterfiles, exportedandimportedgivesthesametable) {
  start("");
  std::mt19937 rng(32);
  std::vector<int> frames;
  for (int f = 0; f < 639999; f += 1 + (int)(rng() % 2000)) frames.push_back(f);
  frames.push_back(639999);
  chapterpath = dir + "all.txt";
  for (int sourceframes : {0, 640000}) {
    source(sourceframes);
    settable(frames);
    ASSERT_TRUE(writechapters());
    settable({1, 2, 3});
    readchapters();
    EXPECT_EQ(table(), frames);
    EXPECT_EQ(statustext, " " + std::to_string(frames.size()) + " chapters successfully read");
  }
}

// What an import reads, keeps and says, on a table that held 5 frames before (a failed import
// keeps them; a good one clears every position above its count).
TEST_F(chapterfiles, whatanimportreadsandkeeps) {
  start("");
  const std::vector<int> before{7, 8, 9, 10, 11};
  const char* const failed = " error reading chapterfile";
  const struct {
    const char* name;
    std::string content;
    int sourceframes;  // 0: no source
    std::vector<int> frames;
    std::string status;
  } rows[] = {
      {"header in any case", "*ChApTeR 2\n250\n1000\n", 0, {250, 1000}, " 2 chapters successfully read"},
      {"header count with frames on one line", "*CHAPTER 2\n250 1000\n", 0, {250, 1000},
       " 2 chapters successfully read"},
      {"header, free format over lines", "*chapter\t3 \r\n  30, 10\r\n\r\n20\r\n", 0, {10, 20, 30},
       " 3 chapters successfully read"},
      {"header count 0", "*CHAPTER 0\n5\n", 0, {}, " 0 chapters successfully read"},
      {"header count below 0", "*CHAPTER -2\n", 0, {}, " 0 chapters successfully read"},
      {"plain list: the first number of a line", "250 1000\n300\n", 0, {250, 300}, " 2 chapters successfully read"},
      {"plain list with blank lines", "5\n\n   \n6\n\n7", 0, {5, 6, 7}, " 3 chapters successfully read"},
      {"header after a UTF-8 byte-order mark", "\xEF\xBB\xBF*CHAPTER 2\r\n250\r\n1000\r\n", 0, {250, 1000},
       " 2 chapters successfully read"},
      {"plain list after a UTF-8 byte-order mark", "\xEF\xBB\xBF" "5\n6\n", 0, {5, 6}, " 2 chapters successfully read"},
      {"sorted, repeats, negatives and frames past the source dropped", "900\n-5\n100\n100\n40\n1000\n1500\n", 1000,
       {40, 100, 900}, " 7 chapters successfully read, WARNING, 3 chapters removed, out of range, 1 repeated chapters removed"},
      {"past the encoder's last frame without a source", "*CHAPTER 2\n639999\n640000\n", 0, {639999},
       " 2 chapters successfully read, WARNING, 1 chapters removed, out of range"},
      {"header with fewer frames than its count", "*CHAPTER 5\n1\n2\n3\n4\n", 0, before, failed},
      {"header without a count", "*CHAPTER\n1\n", 0, before, failed},
      {"header count that is no number", "*CHAPTER two\n1\n2\n", 0, before, failed},
      {"a leading blank makes a plain list that fails on its first line", " *chapter 2\n1\n2\n", 0, before, failed},
      {"plain list with a word", "1\n2\nthree\n", 0, before, failed},
      {"plain list with a decimal", "1\n2.5\n", 0, before, failed},
      {"empty file", "", 0, before, failed},
      {"first line without a number", "\n1\n2\n", 0, before, failed},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    source(r.sourceframes);
    settable(before);
    writefile(dir + "c.txt", r.content);
    chapterpath = dir + "c.txt";
    readchapters();
    EXPECT_EQ(table(), r.frames);
    EXPECT_EQ(statustext, r.status);
    EXPECT_TRUE(std::all_of(chaptertable.frames + chaptertable.count + 1, chaptertable.frames + maxchapters + 1,
                            [](int f) { return f == 0; }));
  }
  // A file that is not there, or a folder: the table stays.
  for (const char* name : {"missing.txt", ""}) {
    settable(before);
    chapterpath = dir + name;
    readchapters();
    EXPECT_EQ(table(), before);
    EXPECT_EQ(statustext, " error reading chapterfile, no such file") << name;
  }
}

// More frames than the table holds: the first 640,000 are kept and the status line says so.
TEST_F(chapterfiles, morechaptersthanthetableholds) {
  start("");
  source(0);
  std::string frames;
  for (int f = 0; f < 640005; f++) frames += std::to_string(f % 640000) + "\n";
  for (const std::string& head : {std::string("*CHAPTER 640005\n"), std::string()}) {
    writefile(dir + "many.txt", head + frames);
    chapterpath = dir + "many.txt";
    readchapters();
    EXPECT_EQ(chaptertable.count, maxchapters);
    EXPECT_EQ(chaptertable.frames[maxchapters], maxchapters - 1);
    EXPECT_EQ(statustext, " 640000 chapters successfully read, more than 640000 chapters detected, chapters > 640000 skipped");
  }
}

// The page's buttons on a source of 30 frames: the import refills the list, the export writes
// the table (".txt" put on a name typed without one); both choosers start in the folder of
// the settings file chosen last; a cancel changes nothing.
TEST_F(chapterfiles, thebuttonsofthechapterpage) {
  start("*INFILE " + script("clip.avs", smallclip) + "\n");
  ASSERT_TRUE(movieinfovalid);
  userselect(dlg(dlgmain), tabcontrol, 5);
  ASSERT_TRUE(dlggetflag(dlg(pagechapters), 2008, ixenabled));
  userinipath = dir + "inis/user.ini";
  writefile(dir + "in.txt", "*CHAPTER 4\n20\n5\n29\n30\n");
  userchoosefile(dir + "in.txt");
  userclick(dlg(pagechapters), 2008);
  EXPECT_EQ(table(), (std::vector<int>{5, 20, 29}));
  EXPECT_EQ(statustext, " 4 chapters successfully read, WARNING, 1 chapters removed, out of range");
  ASSERT_EQ(dlggetint(dlg(pagechapters), 1094, ixcount), 3);
  EXPECT_EQ(dlggettext(dlg(pagechapters), 1094, 8, 3), "      29");
  dlgfilerequest q = dlglastfilerequest();
  EXPECT_FALSE(q.save);
  EXPECT_EQ(q.title, "import chapter file");
  EXPECT_EQ(q.description, "txt file     (*.txt)");
  EXPECT_EQ(q.patterns, "*.txt");
  EXPECT_EQ(q.defext, "txt");
  EXPECT_EQ(q.folder, dir + "inis/");

  userchoosefile(dir + "out");
  userclick(dlg(pagechapters), 2009);
  EXPECT_EQ(readfile(dir + "out.txt"), "*CHAPTER          3\n5\n20\n29\n");
  q = dlglastfilerequest();
  EXPECT_TRUE(q.save);
  EXPECT_EQ(q.title, "export chapter file");
  EXPECT_EQ(q.folder, dir + "inis/");

  usercancelfile();
  userclick(dlg(pagechapters), 2008);
  EXPECT_EQ(table(), (std::vector<int>{5, 20, 29}));
  EXPECT_EQ(chapterpath, "");
  usercancelfile();
  userclick(dlg(pagechapters), 2009);
  EXPECT_EQ(readfile(dir + "out.txt"), "*CHAPTER          3\n5\n20\n29\n");
  // While the scan runs the table is the scan's: the buttons do nothing.
  scanrunning = true;
  userchoosefile(dir + "in.txt");
  filebutton(dlg(pagechapters), 2008, evclick);
  scanrunning = false;
  userfileanswersclear();
  EXPECT_EQ(table(), (std::vector<int>{5, 20, 29}));
}
