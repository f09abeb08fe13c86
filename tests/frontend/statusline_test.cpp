// The status line's rule, the path labels and the staged decoder library.
#include <gtest/gtest.h>

#include <filesystem>

#include "dialogs/dialogs.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"

namespace {
std::string repeat(const std::string& s, size_t n) {
  std::string r;
  while (r.size() < n) r += s;
  return r.substr(0, n);
}
// The lines of the status text.
std::vector<std::string> lines(const std::string& t) {
  std::vector<std::string> v;
  size_t a = 0;
  for (;;) {
    size_t b = t.find('\n', a);
    v.push_back(t.substr(a, b == std::string::npos ? std::string::npos : b - a));
    if (b == std::string::npos) return v;
    a = b + 1;
  }
}
}  // namespace

// Replace and append; 200 characters in all; a line breaks at its first blank in column 101
// or later, so every line but the last holds at least 100 characters; a text without blanks
// is not broken.
TEST(statusline, replaceappendcutandbreak) {
  const std::string words = repeat("abcd ", 250);  // 250 characters, a blank every fifth
  const std::string solid = repeat("x", 250);
  struct step {
    std::string text;
    bool append;
    std::vector<std::string> want;
  };
  const std::vector<std::vector<step>> cases = {
      // 250 characters with blanks: the first 200, broken at column 105 (the first blank from
      // column 101 on).
      {{words, false, {repeat("abcd ", 104), repeat("abcd ", 95)}}},
      // Without blanks: cut, never broken.
      {{solid, false, {repeat("x", 200)}}},
      // An append goes right behind the last non-blank character.
      {{" encoding finished   ", false, {" encoding finished"}}, {", WARNING", true, {" encoding finished, WARNING"}}},
      // Replacing after a long text leaves exactly the new one.
      {{words, false, {repeat("abcd ", 104), repeat("abcd ", 95)}}, {" encoding finished", false, {" encoding finished"}}},
      // Appends after a replace: the line breaks anew over the whole text.
      {{" " + repeat("y", 98), false, {" " + repeat("y", 98)}},
       {", more text", true, {" " + repeat("y", 98) + ",", "more text"}},
       {", WARNING, input file not found", true, {" " + repeat("y", 98) + ",", "more text, WARNING, input file not found"}}},
      // A long append is cut at 200 characters in all.
      {{" KJ.ini successfully processed", false, {" KJ.ini successfully processed"}},
       {", " + solid, true, {" KJ.ini successfully processed, " + repeat("x", 168)}}},
  };
  for (const auto& c : cases) {
    for (const step& s : c) {
      showinfo(s.text, s.append);
      EXPECT_EQ(lines(statustext), s.want) << s.text.substr(0, 40);
      size_t n = statustext.size();
      EXPECT_LE(n, 200u);
    }
  }
}

TEST_F(frontfixture, clearinfoemptiesthelinebutanappendbringsitback) {
  start("");
  showinfo(" chapter list cleared", false);
  EXPECT_EQ(text(dlgmain, statuscontrol), " chapter list cleared");
  clearinfo();
  EXPECT_EQ(text(dlgmain, statuscontrol), "");
  showinfo(", use pulldown for DVD compliancy", true);
  EXPECT_EQ(text(dlgmain, statuscontrol), " chapter list cleared, use pulldown for DVD compliancy");
  ASSERT_GE(printed.size(), 3u);
  EXPECT_EQ(printed[printed.size() - 2], "");
}

TEST(paths, shortpathandpathdir) {
  const std::string p40 = "/home/dvd/movies/holiday/part1/clip1.avs";
  ASSERT_EQ(p40.size(), 40u);
  const std::string p41 = "/home/dvd/movies/holiday/part12/clip1.avs";
  EXPECT_EQ(shortpath(p40), p40);
  EXPECT_EQ(shortpath(p40 + "   "), p40);
  EXPECT_EQ(shortpath(p41), "/home..." + p41.substr(9));
  EXPECT_EQ(shortpath(p41).size(), 40u);
  EXPECT_EQ(pathdir("/home/dvd/Movies/clip.AVS"), "/home/dvd/Movies/");
  EXPECT_EQ(pathdir("clip.avs"), "");
  EXPECT_EQ(pathdir("/clip.avs"), "/");
}

// A staged decoder library is removed, and the one that was there before comes back; a
// library the front end did not stage is never removed.
TEST_F(frontfixture, onlyastagedlibraryisremoved) {
  namespace fs = std::filesystem;
  writefile(dir + "DGDecode.dll", "built");
  fs::create_directories(dir + "DGDecode");
  writefile(dir + "DGDecode/DGDecode16.dll", "version 16");
  initpaths(dir);
  EXPECT_EQ(readfile(dir + "DGDecode.dll"), "built");
  ASSERT_TRUE(stagedecoder(decoderdir + "DGDecode16.dll"));
  EXPECT_EQ(readfile(dir + "DGDecode.dll"), "version 16");
  ASSERT_TRUE(stagedecoder(decoderdir + "DGDecode16.dll"));  // staged twice, kept once
  // A start after an encode that left its library staged.
  initpaths(dir);
  EXPECT_EQ(readfile(dir + "DGDecode.dll"), "built");
  EXPECT_FALSE(fs::exists(dir + "DGDecode.dll.staged"));
  EXPECT_FALSE(fs::exists(dir + "DGDecode.dll.kept"));
  removestageddecoder();
  EXPECT_EQ(readfile(dir + "DGDecode.dll"), "built");
  // Without a library of its own the folder is left without one.
  fs::remove(dir + "DGDecode.dll");
  ASSERT_TRUE(stagedecoder(decoderdir + "DGDecode16.dll"));
  removestageddecoder();
  EXPECT_FALSE(fs::exists(dir + "DGDecode.dll"));
  EXPECT_FALSE(stagedecoder(decoderdir + "DGDecode99.dll"));
  EXPECT_FALSE(fs::exists(dir + "DGDecode.dll"));
  EXPECT_FALSE(fs::exists(dir + "DGDecode.dll.staged"));
}
