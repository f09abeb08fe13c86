// The "current KJ.ini" lists of Settings 1 and Settings 2 against what saveini writes: every
// page state of the writer's table, the carried lines, long paths cut at 127 characters with
// the scrollable width, a refused value, and the model words the edits fall back to.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"
#include "tests/frontend/pagestates.h"
#include "tests/support/blackbox.h"

namespace {
class inipreview : public frontfixture {
 protected:
  const dlgcontrol& list(int page) {
    dialogrecord& d = dlg(page);
    return d.rows[(size_t)d.index.at(1107)];
  }
  // The entries of a page's list as the table holds them.
  std::vector<std::string> entries(int page) { return list(page).items; }
  // Both lists, which always hold the same entries.
  std::vector<std::string> shown() {
    std::vector<std::string> one = entries(pagesettings1);
    EXPECT_EQ(entries(pagesettings2), one);
    return one;
  }
  // The lines saveini writes for the pages as they stand, each as the list shows a line: cut
  // at 127 characters, without trailing blanks.
  std::vector<std::string> file() {
    saveini(1);
    std::vector<std::string> v = filelines(dir + "KJ.ini");
    for (std::string& l : v) l = trimright(l.substr(0, 127));
    return v;
  }
};
constexpr int charwidth = 7;  // the fixed-pitch font's average character width, in pixels
}  // namespace

// For every page state of the writer's table the lists show exactly the file's lines, in the
// file's order ("*MASK_SHIFT" too, after "*BIAS"), the automatic GOP without its trailing
// blanks; nothing is written and the status line is left alone.
TEST_F(inipreview, thelistsshowthelinessaveiniwrites) {
  for (const pagestate& s : pagestates()) {
    if (&s != &pagestates()[0]) again();
    start("");
    s.set();
    showinfo(" (before)", false);
    showini();
    SCOPED_TRACE(s.name);
    EXPECT_EQ(statustext, " (before)");
    EXPECT_FALSE(std::filesystem::exists(dir + "KJ.ini"));
    EXPECT_EQ(shown(), file());
  }
}

// As a user sets them on Settings 2 (a source open, the tab chosen, each edit typed into and
// left): the lists follow every change and show what "save KJ.ini" then writes, line for line
// and in its order, the mask right after the bias and before the time code, as the writer has
// it; there is one order, the writer's.
TEST_F(inipreview, thelistsfollowtheuserinthewritersorder) {
  start(kv("*INFILE", script("clip.avs", smallclip)) + "\n" + kv("*OUTFILE", "out.m2v") + "\n");
  ASSERT_TRUE(movieinfovalid) << statustext;
  userselect(dlg(dlgmain), tabcontrol, 3);
  dialogrecord& p = dlg(pagesettings2);
  const struct {
    int id;
    const char* text;
    const char* line;  // the entry that shows at once
  } typed[] = {{1035, "20", "*BIAS"}, {1036, "8", "*MASK_SHIFT       8 0 0"},
               {1044, "8", "*MASK_SHIFT       8 8 0"}, {1031, "1", "*TIMECODE         1  0  0  0"}};
  for (const auto& t : typed) {
    userfocus(p, t.id, true);
    usertype(p, t.id, t.text);
    userfocus(p, t.id, false);
    const std::vector<std::string> now = shown();
    EXPECT_NE(std::find_if(now.begin(), now.end(), [&](const std::string& e) { return e.rfind(t.line, 0) == 0; }),
              now.end())
        << t.line;
  }
  const std::vector<std::string> lines = shown();
  userclick(dlg(pagemain), 1013);
  ASSERT_TRUE(settingsvalid) << statustext;
  std::vector<std::string> written = filelines(dir + "KJ.ini");
  for (std::string& l : written) l = trimright(l);
  EXPECT_EQ(lines, written);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[1], kv("*OUTFILE", "out.m2v"));
  EXPECT_EQ(lines[2], kv("*BITRATE", "4000"));
  EXPECT_EQ(lines[3], kv("*MAXBITRATE", "8000"));
  EXPECT_EQ(lines[5], "*AUTOGOP          15");  // the file's field of 4 shows no trailing blanks
  const std::vector<std::string> tail(lines.end() - 4, lines.end());
  EXPECT_EQ(tail, (std::vector<std::string>{kv("*BIAS", "20"), kv("*MASK_SHIFT", "8 8 0"), kv("*TIMECODE", "1  0  0  0"),
                                             kv("*MATRIX", "mpeg")}));
}

// The lines kept from the settings file come first, and the custom pair gives 18 entries
// (its key, eight rows, an empty entry, eight rows); a settings tab chosen fills the lists.
TEST_F(inipreview, carriedlinesandthecustompair) {
  std::string pair;
  for (int i = 0; i < 128; i++) pair += std::string(i < 64 ? "9" : "20") + (i % 8 == 7 ? "\n" : " ");
  start("*VBVSIZE 1000000\n*MASK_VALUE 16 128 128\n*CUSTOMMATRIX\n" + pair);
  userselect(dlg(dlgmain), tabcontrol, 2);
  const std::vector<std::string> lines = shown();
  ASSERT_GE(lines.size(), 20u);
  EXPECT_EQ(lines[0], "*VBVSIZE 1000000");
  EXPECT_EQ(lines[1], "*MASK_VALUE 16 128 128");
  EXPECT_EQ(lines, file());
  size_t at = 0;
  while (at < lines.size() && lines[at] != "*CUSTOMMATRIX") at++;
  ASSERT_LE(at + 18, lines.size());
  EXPECT_EQ(lines[at + 9], "");
  EXPECT_EQ(lines[at + 10], "  20  20  20  20  20  20  20  20");
  EXPECT_TRUE(list(pagesettings1).style & stylefixedfont);
  EXPECT_TRUE(list(pagesettings2).style & stylefixedfont);
}

// A path of 300 characters gives an entry of 127 ("*INFILE" in its 18 columns and the path's
// first 109 characters) and a scrollable width of 129 characters; without file lines it is 0.
TEST_F(inipreview, longlinesandthescrollablewidth) {
  start("");
  showini();
  EXPECT_EQ(list(pagesettings1).extent, 0);
  EXPECT_EQ(list(pagesettings2).extent, 0);
  inputpath = "/" + std::string(299, 'i');
  outputpath = "/out.m2v";
  iniseen[keyinfile] = iniseen[keyoutfile] = true;
  showini();
  const std::vector<std::string> lines = shown();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], kv("*INFILE", inputpath.substr(0, 109)));
  EXPECT_EQ(lines[0].size(), 127u);
  EXPECT_EQ(lines[1], kv("*OUTFILE", "/out.m2v"));
  EXPECT_EQ(list(pagesettings1).extent, 129 * charwidth);
  EXPECT_EQ(list(pagesettings2).extent, 129 * charwidth);
  iniseen[keyinfile] = false;
  showini();
  EXPECT_EQ(list(pagesettings1).extent, (26 + 2) * charwidth);
}

// A quantiser that is no number: the lists end before it (with the GOP entry), the status line
// says so and settingsvalid is false until the writer runs again; the preview never sets it
// true.
TEST_F(inipreview, arefusedvalue) {
  start("");
  settingsvalid = false;
  showini();
  EXPECT_FALSE(settingsvalid);
  settingsvalid = true;
  userclick(dlg(pagesettings1), 1055);
  dlgputtext(dlg(pagesettings1), 1056, "abc");
  showini();
  EXPECT_FALSE(settingsvalid);
  EXPECT_EQ(statustext, " show KJ.ini aborted, invalid CQ value, not a number");
  const std::vector<std::string> lines = shown();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "*AUTOGOP          15");
  EXPECT_EQ(list(pagesettings1).redraw, true);
  saveini(1);
  EXPECT_FALSE(settingsvalid);
  dlgputtext(dlg(pagesettings1), 1056, "4");
  saveini(1);
  EXPECT_TRUE(settingsvalid);
}

// The time code, wait and bias edits give back the value before when a typed text is no
// number: after a reset, "make DVD compliant" or a refused preview that value is the page's,
// never an older one.
TEST_F(inipreview, theeditsfallbacktothepagesvalues) {
  start("");
  dialogrecord& p = dlg(pagesettings2);
  usertype(p, 1017, "20");
  usertype(p, 1035, "50");
  usertype(p, 1031, "7");
  userclick(dlg(pagemain), 1011);  // reset: wait 5, bias 0, time code 0
  for (int id : {1017, 1035, 1031}) usertype(p, id, "x");
  EXPECT_EQ(trimright(dlggettext(p, 1017)), "5");
  EXPECT_EQ(trimright(dlggettext(p, 1035)), "0");
  EXPECT_EQ(trimright(dlggettext(p, 1031)), "0");
  usertype(p, 1032, "-5");
  userclick(dlg(pagemain), 1091);  // make DVD compliant: the minute becomes 0
  usertype(p, 1032, "x");
  EXPECT_EQ(trimright(dlggettext(p, 1032)), "0");
  // The preview refused the quantiser before the time code and wait lines; the words follow
  // the edits all the same.
  userclick(dlg(pagesettings1), 1055);
  dlgputtext(dlg(pagesettings1), 1056, "abc");
  usertype(p, 1033, "12");
  usertype(p, 1017, "30");
  ASSERT_FALSE(settingsvalid);
  dlgputtext(p, 1033, "40");
  dlgputtext(p, 1017, "60");
  showini();
  usertype(p, 1033, "x");
  usertype(p, 1017, "x");
  EXPECT_EQ(trimright(dlggettext(p, 1033)), "40");
  EXPECT_EQ(trimright(dlggettext(p, 1017)), "60");
}
