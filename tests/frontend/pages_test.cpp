// The Preview/Chapters and Preview/Zones pages through the layer's driver: the navigation with
// its steps, ends and slider rules, the chapter and zone buttons with their exact list lines
// and status texts, the trims against the source's length, the frame range buttons, and the
// refusals (no source, a full table, a zone value that is no number).
#include <vector>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"

namespace {

class pages : public frontfixture {
 protected:
  // A source of n frames (a small test picture, so every navigation fetches a real frame).
  void open(int n) {
    start("*INFILE " + script("clip.avs", "TestPattern(length=" + std::to_string(n) + ", width=32, height=16)\n") +
          "\n");
    ASSERT_TRUE(movieinfovalid);
    ASSERT_EQ(guisettings.sourceframes, n);
    userselect(dlg(dlgmain), tabcontrol, 5);
  }
  // Goes to a frame as the user does: through the current-frame edit of page 106, with the
  // slider on page 107 (whose edit takes no typing; with 2001 frames a position is two frames).
  void go(int frame, int page = pagechapters) {
    if (page == pagechapters) {
      usertype(dlg(page), 1036, std::to_string(frame));
      return;
    }
    ASSERT_EQ(frame % 2, 0);
    dlgputint(dlg(page), 1061, frame == 0 ? 1 : frame / 2 - 1);
    userspin(dlg(page), 1061, frame == 0 ? -1 : 1);
    ASSERT_EQ(previewstate.previewframe, frame);
  }
  std::vector<std::string> lines(int page, int id) {
    std::vector<std::string> v;
    for (int i = 1; i <= dlggetint(dlg(page), id, ixcount); i++) v.push_back(trimright(dlggettext(dlg(page), id, 40, i)));
    return v;
  }
  // Adds a zone at a frame with a typed value.
  void addzone(int frame, const std::string& value) {
    go(frame, pagezones);
    usertype(dlg(pagezones), 1017, value);
    userclick(dlg(pagezones), 1114);
  }
};

}  // namespace

// Every way to move on both pages with 2001 frames: the buttons (1, 10, 100 frames, stopped at
// the ends), the current-frame edit of page 106 (unreadable texts keep the frame; page 107's
// takes no typing), the slider (position 500 is frame 1000). The page's edit shows the frame;
// both sliders its position, except that a moved slider puts its own position on the other.
TEST_F(pages, navigationstepsendsandsliders) {
  open(2001);
  enum kind { click, type, slide };
  const struct {
    int start;
    kind how;
    int id;
    const char* text;  // typed
    int position;      // the slider moved to
    int frame, slider;
  } rows[] = {
      {40, click, 1013, "", 0, 0, 0},          {1951, click, 1012, "", 0, 2000, 1000},
      {1000, click, 1012, "", 0, 1100, 550},   {1000, click, 1013, "", 0, 900, 450},
      {100, click, 1011, "", 0, 110, 55},      {5, click, 1014, "", 0, 0, 0},
      {1995, click, 1011, "", 0, 2000, 1000},  {100, click, 1015, "", 0, 101, 50},
      {2000, click, 1015, "", 0, 2000, 1000},  {0, click, 1016, "", 0, 0, 0},
      {7, type, 1036, "1000", 0, 1000, 500},   {7, type, 1036, "abc", 0, 7, 3},
      {7, type, 1036, "", 0, 7, 3},            {7, type, 1036, "99999", 0, 2000, 1000},
      {7, type, 1036, "-3", 0, 0, 0},          {7, slide, 1061, "", 500, 1000, 500},
      {7, slide, 1061, "", 1000, 2000, 1000},  {7, slide, 1061, "", 1, 2, 1},
      {700, slide, 1061, "", 0, 0, 0},         {7, slide, 1061, "", 333, 666, 333},
  };
  for (int page : {pagechapters, pagezones}) {
    dialogrecord& p = dlg(page);
    dialogrecord& other = dlg(page == pagechapters ? pagezones : pagechapters);
    for (const auto& r : rows) {
      if (r.how == type && page == pagezones) continue;
      SCOPED_TRACE("page " + std::to_string(page) + ", from " + std::to_string(r.start) + ", control " +
                   std::to_string(r.id) + " " + r.text + " " + std::to_string(r.position));
      previewstate.previewframe = r.start;
      showinfo(" something", false);
      if (r.how == click) userclick(p, r.id);
      if (r.how == type) usertype(p, r.id, r.text);
      if (r.how == slide) {
        dlgputint(p, 1061, r.position == 0 ? 1 : r.position - 1);
        userspin(p, 1061, r.position == 0 ? -1 : 1);
      }
      EXPECT_EQ(previewstate.previewframe, r.frame);
      EXPECT_EQ(text(page, 1036), std::to_string(r.frame));
      EXPECT_EQ(dlggetint(p, 1061), r.slider);
      EXPECT_EQ(dlggetint(other, 1061), r.slider);
      EXPECT_EQ(text(dlgmain, statuscontrol), "");
    }
  }
}

// Without a source the navigation and the buttons that need a frame do nothing (no division by
// a frame count of 0, no frame asked of nothing).
TEST_F(pages, withoutasourcenothingmoves) {
  start("");
  for (int page : {pagechapters, pagezones})
    for (int id : {1015, 1016, 1011, 1014, 1012, 1013, 1061, 1036, 1029, 1037, 1038, 2010, 1114, 1094, 1117}) {
      dlgputflag(dlg(page), id, true, ixenabled);
      if (id == 1061) userspin(dlg(page), id, 1);
      else if (id == 1036) usertype(dlg(page), id, "5");
      else if (id == 1094 || id == 1117) userselect(dlg(page), id, 1);
      else userclick(dlg(page), id);
      EXPECT_EQ(previewstate.previewframe, 0) << id;
    }
  EXPECT_EQ(chaptertable.count, 0);
  EXPECT_EQ(zonetable.count, 0);
  EXPECT_FALSE(scanrunning);
  std::vector<uint8_t> rgb;
  int w, h;
  EXPECT_FALSE(dlgpicture(dlg(pagechapters), 1500, rgb, w, h));
}

// The chapter buttons: adds keep the list sorted without repeats, a line chosen goes to its
// frame on both pages, removes take the chosen line, the clear empties; each with its text.
TEST_F(pages, chaptersaddremoveclear) {
  open(100);
  dialogrecord& c = dlg(pagechapters);
  for (int f : {50, 10, 30, 30}) {
    go(f);
    userclick(c, 1029);
    EXPECT_EQ(statustext, " chapter added to list");
  }
  EXPECT_EQ(lines(pagechapters, 1094), (std::vector<std::string>{"      10", "      30", "      50"}));
  EXPECT_EQ(dlggettext(c, 1094, 8, 1), "      10");
  userselect(c, 1094, 3);
  EXPECT_EQ(previewstate.previewframe, 50);
  EXPECT_EQ(text(pagechapters, 1036), "50");
  EXPECT_EQ(text(pagezones, 1036), "50");
  EXPECT_EQ(dlggetint(dlg(pagezones), 1061), 500);
  userselect(c, 1094, 2);
  userclick(c, 1030);
  EXPECT_EQ(statustext, " chapter removed from list");
  EXPECT_EQ(lines(pagechapters, 1094), (std::vector<std::string>{"      10", "      50"}));
  userclick(c, 1030);  // the rebuilt list has no line chosen
  EXPECT_EQ(statustext, " remove chapter pressed but no chapter was selected, ignored");
  EXPECT_EQ(chaptertable.count, 2);
  userclick(c, 1097);
  EXPECT_EQ(statustext, " chapter list cleared");
  EXPECT_EQ(chaptertable.count, 0);
  EXPECT_EQ(dlggetint(c, 1094, ixcount), 0);
}

// Chapters past the source's end: an add or a remove drops them from the table (a settings file
// can bring them); a line chosen that lies past the end goes to the last frame; a full table
// refuses the add and says so.
TEST_F(pages, chapterspasttheendandafulltable) {
  open(100);
  dialogrecord& c = dlg(pagechapters);
  for (int f : {40, 99, 100, 150, 300}) chaptertable.frames[++chaptertable.count] = f;
  userselect(dlg(dlgmain), tabcontrol, 1);
  userselect(dlg(dlgmain), tabcontrol, 5);
  ASSERT_EQ(dlggetint(c, 1094, ixcount), 5);
  userselect(c, 1094, 5);
  EXPECT_EQ(previewstate.previewframe, 99);
  EXPECT_EQ(text(pagechapters, 1036), "99");
  go(20);
  userclick(c, 1029);
  EXPECT_EQ(lines(pagechapters, 1094), (std::vector<std::string>{"      20", "      40", "      99"}));

  // Every even frame up to the table's size: frame 1 has no room.
  clearchapters();
  for (int i = 1; i <= maxchapters; i++) chaptertable.frames[i] = 2 * (i - 1);
  chaptertable.count = maxchapters;
  go(1);
  userclick(c, 1029);
  EXPECT_EQ(statustext, " chapter list full, chapter not added");
  EXPECT_EQ(chaptertable.count, maxchapters);
  EXPECT_EQ(chaptertable.frames[2], 2);
  clearchapters();
}

// The zone buttons: the lines "frame | value", a value to the nearest tenth within the
// encoder's 0.5..2.0, an add at a zone's frame replaces its value, removes by the chosen line,
// a value that is no number is refused, a chosen line goes to its frame.
TEST_F(pages, zonesaddreplaceremoveclear) {
  open(2001);
  dialogrecord& z = dlg(pagezones);
  userselect(dlg(dlgmain), tabcontrol, 6);
  addzone(1500, "0.5");
  EXPECT_EQ(statustext, " zone added to list");
  EXPECT_EQ(lines(pagezones, 1117), (std::vector<std::string>{"    1500 | 0.5"}));
  userclick(z, 1116);
  EXPECT_EQ(statustext, " zone list cleared");
  EXPECT_EQ(dlggetint(z, 1117, ixcount), 0);

  const struct {
    const char* typed;
    const char* line;
  } values[] = {{"7", "       0 | 2.0"},   {"0.04", "       0 | 0.5"}, {"1.25", "       0 | 1.3"},
                {"1.24", "       0 | 1.2"}, {"1", "       0 | 1.0"},    {"1.95", "       0 | 2.0"}};
  for (const auto& v : values) {
    addzone(0, v.typed);
    EXPECT_EQ(lines(pagezones, 1117), (std::vector<std::string>{v.line})) << v.typed;
  }
  for (const char* bad : {"abc", "", "--"}) {
    addzone(6, bad);
    EXPECT_EQ(statustext, " zone value is not a number, zone not added") << bad;
    EXPECT_EQ(zonetable.count, 1) << bad;
  }

  userclick(z, 1116);
  addzone(30, "2");
  addzone(10, "0.5");
  addzone(20, "1.5");
  EXPECT_EQ(lines(pagezones, 1117), (std::vector<std::string>{"      10 | 0.5", "      20 | 1.5", "      30 | 2.0"}));
  addzone(20, "1.2");
  EXPECT_EQ(lines(pagezones, 1117), (std::vector<std::string>{"      10 | 0.5", "      20 | 1.2", "      30 | 2.0"}));
  userselect(z, 1117, 3);
  EXPECT_EQ(previewstate.previewframe, 30);
  EXPECT_EQ(text(pagechapters, 1036), "30");
  EXPECT_EQ(text(pagezones, 1036), "30");
  userselect(z, 1117, 2);
  userclick(z, 1115);
  EXPECT_EQ(statustext, " zone removed from list");
  EXPECT_EQ(lines(pagezones, 1117), (std::vector<std::string>{"      10 | 0.5", "      30 | 2.0"}));
  userclick(z, 1115);
  EXPECT_EQ(statustext, " remove zone pressed but no zone was selected, ignored");
  // The list keeps its values when the page is chosen again.
  userselect(dlg(dlgmain), tabcontrol, 1);
  userselect(dlg(dlgmain), tabcontrol, 6);
  EXPECT_EQ(lines(pagezones, 1117), (std::vector<std::string>{"      10 | 0.5", "      30 | 2.0"}));
  usertype(z, 1017, "1.1");
  EXPECT_EQ(text(dlgmain, statuscontrol), "");
}

// The frame range buttons: the start or the end from the current frame, the other end moved
// along when it would cross, the Main page's edits, the count of frames to encode.
TEST_F(pages, currentframeasstartorend) {
  open(100);
  dialogrecord& c = dlg(pagechapters);
  const struct {
    int frame, id, start, end;
    const char* line;
  } rows[] = {{20, 1037, 20, 99, " current frame set as start frame"},
              {60, 1038, 20, 60, " current frame set as end frame"},
              {80, 1037, 80, 80, " current frame set as start frame"},
              {10, 1038, 10, 10, " current frame set as end frame"}};
  for (const auto& r : rows) {
    go(r.frame);
    userclick(c, r.id);
    EXPECT_EQ(guisettings.startframe, r.start) << r.frame;
    EXPECT_EQ(guisettings.endframe, r.end) << r.frame;
    EXPECT_EQ(guisettings.framespan, r.end - r.start + 1) << r.frame;
    EXPECT_EQ(text(pagemain, r.id == 1037 ? 1088 : 1089), std::to_string(r.frame));
    EXPECT_EQ(statustext, r.line);
  }
}
