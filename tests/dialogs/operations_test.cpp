// The dialog layer's operations for the front end's pages: list boxes, the editable combo box,
// picture boxes, the keyboard focus, hiding and showing a window, radio groups by style and the
// file chooser's scripted answers.
#include <gtest/gtest.h>

#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "platform/queue.h"

namespace {
const dlgitem items[] = {
    {ctllist, 10, "", 4, 4, 60, 40},
    {ctlcombo, 11, "MPEG\nTGN\nMPEG STANDARD", 70, 4, 60, 60, styleeditable},
    {ctlpicture, 12, "", 4, 50, 80, 40, stylesunken},
    {ctledit, 13, "", 100, 50, 20, 12},
    {ctledit, 14, "", 100, 66, 20, 12},
    {ctlradio, 15, "a", 4, 100, 20, 10},
    {ctlradio, 16, "b", 30, 100, 20, 10},
    {ctlradio, 17, "c", 56, 100, 20, 10, stylegroup},
    {ctlradio, 18, "d", 82, 100, 20, 10},
    {ctlstatic, 19, "", 4, 120, 100, 8},
    {ctlpush, 20, "go", 110, 120, 20, 14},
};
const dlgtemplate tmpl = {950, "operations", 0, 0, 140, 140, stylecaption, 19, items, (int)std::size(items)};
const dlgitem otheritems[] = {{ctledit, 13, "", 4, 4, 20, 12}};
const dlgtemplate other = {951, "", 0, 0, 40, 20, 0, 0, otheritems, 1};
const dlgtemplate* const list[] = {&tmpl, &other};

struct seen {
  int dialog, id, event;
  bool operator==(const seen&) const = default;
};
std::vector<seen>* events = nullptr;
void record(dialogrecord& d, int id, int event) { events->push_back({d.id, id, event}); }

struct ops : ::testing::Test {
  dialogrecord* d = nullptr;
  dialogrecord* p = nullptr;
  std::vector<seen> log;
  std::vector<std::string> printed;
  void SetUp() override {
    events = &log;
    dlgsetresources(list, 2);
    ASSERT_TRUE(dlgload(950, d));
    ASSERT_TRUE(dlgload(951, p));
    dlgsetheadlessout([this](const std::string& s) { printed.push_back(s); });
    dlgdirectevents(true);
    clearqueue();
    userfileanswersclear();
  }
  void TearDown() override {
    dlgclose(p);
    dlgclose(d);
    dlgdirectevents(false);
    dlgsetheadlessout(nullptr);
    events = nullptr;
  }
};
}  // namespace

TEST_F(ops, listboxesclearaddandselectwithoutevents) {
  dlgonevent(*d, 10, record);
  EXPECT_EQ(dlglistadd(*d, 10, "      10   "), 1);
  EXPECT_EQ(dlglistadd(*d, 10, "      30"), 2);
  EXPECT_EQ(dlglistadd(*d, 10, "      50"), 3);
  EXPECT_EQ(dlggettext(*d, 10, 8, 1), "      10");  // leading blanks kept, trailing dropped
  dlgputint(*d, 10, 2, ixstate);
  EXPECT_EQ(dlggetint(*d, 10, ixstate), 2);
  EXPECT_TRUE(log.empty());
  userselect(*d, 10, 3);
  EXPECT_EQ(dlggetint(*d, 10, ixstate), 3);
  EXPECT_EQ(log, (std::vector<seen>{{950, 10, evselchange}}));
  // Rebuilt whole with redrawing off: the table holds the lines all along.
  dlgsetredraw(*d, 10, false);
  dlglistclear(*d, 10);
  EXPECT_EQ(dlggetint(*d, 10, ixcount), 0);
  EXPECT_EQ(dlggetint(*d, 10, ixstate), 0);
  dlglistadd(*d, 10, "a");
  dlgsetredraw(*d, 10, true);
  EXPECT_EQ(dlggetint(*d, 10, ixcount), 1);
  dlglistextent(*d, 10, 903);
  EXPECT_EQ(dlgfixedfont(*d, 10), 7);
  // Only lists and combo boxes take lines.
  EXPECT_EQ(dlglistadd(*d, 13, "x"), 0);
  EXPECT_EQ(dlggetint(*d, 13, ixcount), 0);
  EXPECT_EQ(log.size(), 1u);
}

TEST_F(ops, theeditablecomboboxtakesitslistfromthetemplate) {
  dlgonevent(*d, 11, record);
  dlgonevent(*d, 11, record, evchange);
  EXPECT_EQ(dlggetint(*d, 11, ixcount), 3);
  EXPECT_EQ(dlggettext(*d, 11, 13, 3), "MPEG STANDARD");
  EXPECT_EQ(dlggettext(*d, 11, 4), "    ");
  dlgputtext(*d, 11, "MPEG");
  EXPECT_EQ(dlggettext(*d, 11, 4), "MPEG");
  userselect(*d, 11, 2);
  EXPECT_EQ(dlggettext(*d, 11, 20), "TGN" + std::string(17, ' '));
  usertype(*d, 11, "mpeg");
  EXPECT_EQ(dlggettext(*d, 11, 4), "mpeg");
  EXPECT_EQ(log, (std::vector<seen>{{950, 11, evselchange}, {950, 11, evchange}}));
}

TEST_F(ops, apictureboxkeepsthelastpicture) {
  std::vector<uint8_t> rgb, back;
  int w = 0, h = 0;
  EXPECT_FALSE(dlgpicture(*d, 12, back, w, h));
  for (int i = 0; i < 4 * 2; i++) rgb.insert(rgb.end(), {(uint8_t)i, 7, 200});
  dlgpaint(*d, 12, rgb.data(), 4, 2);
  ASSERT_TRUE(dlgpicture(*d, 12, back, w, h));
  EXPECT_EQ(w, 4);
  EXPECT_EQ(h, 2);
  EXPECT_EQ(back, rgb);
  dlgpaint(*d, 13, rgb.data(), 4, 2);  // not a picture box
  EXPECT_FALSE(dlgpicture(*d, 13, back, w, h));
  int x, y, pw, ph;
  ASSERT_TRUE(dlgcontrolrect(*d, 12, x, y, pw, ph));
  EXPECT_EQ(x, 6);    // 4 units, 6 x 13 pixels per 4 x 8 units
  EXPECT_EQ(y, 81);   // 50 units
  EXPECT_EQ(pw, 120); // 80 units
  EXPECT_EQ(ph, 65);  // 40 units
  EXPECT_FALSE(dlgcontrolrect(*d, 4711, x, y, pw, ph));
}

// The user moves the focus with events through the loop; the program moves it at once, and
// the edit that had it hears of it first.
TEST_F(ops, focusisoneforalldialogsandmovesonce) {
  for (dialogrecord* r : {d, p}) {
    dlgonevent(*r, 13, record, evgainfocus);
    dlgonevent(*r, 13, record, evlosefocus);
  }
  dlgonevent(*d, 14, record, evgainfocus);
  dlgonevent(*d, 14, record, evlosefocus);
  userfocus(*d, 13, true);
  userfocus(*d, 13, true);   // has it already
  userfocus(*d, 14, false);  // never had it
  userfocus(*p, 13, true);   // another dialog's edit takes it
  EXPECT_TRUE(dlgfocus(*p, 13));
  EXPECT_FALSE(dlgfocus(*d, 13));
  std::vector<seen> want = {{950, 13, evgainfocus}, {950, 13, evlosefocus}, {951, 13, evgainfocus}};
  EXPECT_EQ(log, want);

  // The program takes the focus from every control: the lose-focus callback runs before the
  // call returns, even while events go through the queue.
  log.clear();
  dlgdirectevents(false);
  dlgsetfocus(*d, 4711);
  EXPECT_EQ(log, (std::vector<seen>{{951, 13, evlosefocus}}));
  dlgsetfocus(*d, 4711);  // nothing has it: nothing runs
  dlgsetfocus(*d, 14);
  dlgsetfocus(*d, 20);    // a push button takes no focus: the edit loses it
  want = {{951, 13, evlosefocus}, {950, 14, evgainfocus}, {950, 14, evlosefocus}};
  EXPECT_EQ(log, want);
  message m;
  EXPECT_FALSE(peekmsg(m));
  // A disabled edit takes no focus; a closed dialog leaves none behind.
  dlgputflag(*d, 14, false, ixenabled);
  dlgsetfocus(*d, 14);
  EXPECT_FALSE(dlgfocus(*d, 14));
  dlgsetfocus(*p, 13);
  dlgclose(p);
  dlgsetfocus(*d, 4711);
  EXPECT_EQ(log.back(), (seen{951, 13, evgainfocus}));
}

// A click or a selection takes the focus first, as the system does: the edit that held it (of
// any dialog) hears of it before the control's own event, so what was typed is read back before
// the click acts on it. A disabled button is not clicked and leaves the focus where it is; the
// combo box that holds the focus keeps it when an item is picked.
TEST_F(ops, aclickorselectiontakesthefocusfromtheedit) {
  for (int id : {10, 11, 13, 20}) {
    dlgonevent(*d, id, record);
    dlgonevent(*d, id, record, evlosefocus);
  }
  dlgonevent(*p, 13, record, evlosefocus);
  dlgonevent(*d, 10, record, evselchange);
  dlgonevent(*d, 11, record, evselchange);
  userfocus(*d, 13, true);
  dlgputflag(*d, 20, false, ixenabled);
  userclick(*d, 20);
  EXPECT_TRUE(dlgfocus(*d, 13));
  dlgputflag(*d, 20, true, ixenabled);
  userclick(*d, 20);
  EXPECT_FALSE(dlgfocus(*d, 13));
  userfocus(*p, 13, true);
  userselect(*d, 10, 1);
  userfocus(*d, 11, true);
  userselect(*d, 11, 2);
  EXPECT_TRUE(dlgfocus(*d, 11));
  const std::vector<seen> want = {{950, 13, evlosefocus}, {950, 20, evclick},
                                  {951, 13, evlosefocus}, {950, 10, evselchange},
                                  {950, 11, evselchange}};
  EXPECT_EQ(log, want);
}

TEST_F(ops, ahiddenwindowprintsnostatusuntilshownagain) {
  dlgshow(*d, 1);
  dlgputtext(*d, 19, " one");
  dlgshowwindow(*d, 0);
  EXPECT_FALSE(dlgvisible(*d));
  dlgputtext(*d, 19, " two");
  dlgshowwindow(*d, 9);
  EXPECT_TRUE(dlgvisible(*d));
  dlgputtext(*d, 19, " three");
  EXPECT_EQ(printed, (std::vector<std::string>{" one", " three"}));
}

TEST_F(ops, radiogroupsfollowthetemplatesgroupstyle) {
  userclick(*d, 16);
  userclick(*d, 17);
  EXPECT_TRUE(dlggetflag(*d, 16));
  EXPECT_TRUE(dlggetflag(*d, 17));
  userclick(*d, 18);
  EXPECT_FALSE(dlggetflag(*d, 17));
  userclick(*d, 15);
  EXPECT_FALSE(dlggetflag(*d, 16));
  EXPECT_TRUE(dlggetflag(*d, 18));
}

// The headless chooser answers from its script, in order, a cancel when it runs out; the
// default extension goes onto a name without one.
TEST_F(ops, thefilechoosertakesscriptedanswers) {
  dlgfilerequest r;
  r.title = "select output file";
  r.description = "output files (*.m2v)";
  r.patterns = "*.m2v";
  r.folder = "/tmp/";
  r.defext = "m2v";
  struct answer {
    const char* given;  // null: cancel
    bool chosen;
    const char* path;
  };
  const answer cases[] = {{"/v/movie", true, "/v/movie.m2v"},
                          {"/v/movie.M2V", true, "/v/movie.M2V"},
                          {"/v.d/movie", true, "/v.d/movie.m2v"},
                          {nullptr, false, ""},
                          {"", false, ""}};
  for (const answer& a : cases) {
    if (a.given) userchoosefile(a.given);
    else usercancelfile();
  }
  for (const answer& a : cases) {
    std::string path = "untouched";
    EXPECT_EQ(dlgchoosefile(r, path), a.chosen) << (a.given ? a.given : "cancel");
    EXPECT_EQ(path, a.chosen ? a.path : "untouched");
  }
  std::string path;
  EXPECT_FALSE(dlgchoosefile(r, path));  // no answer left: cancelled
  r.defext.clear();
  userchoosefile("/v/clip");
  ASSERT_TRUE(dlgchoosefile(r, path));
  EXPECT_EQ(path, "/v/clip");
  dlgfilerequest last = dlglastfilerequest();
  EXPECT_EQ(last.title, "select output file");
  EXPECT_EQ(last.folder, "/tmp/");
}
