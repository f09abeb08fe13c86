// The dialog layer's operations for the front end in a real window: the picture box, list
// boxes with redrawing held back, the editable combo box, the keyboard focus, hiding and
// showing the window, and FLTK's file chooser.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <sstream>
#include <thread>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "dialogs/window.h"
#include "platform/queue.h"
#include "tests/support/blackbox.h"
#include "tests/support/display.h"

namespace {
const dlgitem items[] = {
    {ctlpicture, 10, "", 4, 4, 80, 60, stylesunken},
    {ctllist, 11, "", 90, 4, 70, 40, stylefixedfont},
    {ctlcombo, 12, "MPEG\nTGN\nKJLOW", 90, 50, 70, 60, styleeditable},
    {ctledit, 13, "", 4, 70, 40, 12},
    {ctledit, 14, "", 50, 70, 30, 12},
    {ctlpush, 15, "go", 4, 86, 30, 14},
};
const dlgtemplate tmpl = {960, "ostrel layer operations", 10, 10, 170, 110, stylecaption | stylesysmenu, 0, items,
                          (int)std::size(items)};
const dlgtemplate* const list[] = {&tmpl};

struct opswindow {
  dialogrecord* d = nullptr;
  std::string xid;
  opswindow() {
    dlgsetresources(list, 1);
    EXPECT_TRUE(dlgload(960, d));
    dlgshow(*d, 1);
    pumpfor(200);
    if (haveprogram("xdotool")) xid = windownamed("^ostrel layer operations$");
    drain();
  }
  ~opswindow() {
    dlgclose(d);
    clearqueue();
  }
  std::string click(int id, int dx, int dy) const {
    int x, y, w, h;
    dlgcontrolrect(*d, id, x, y, w, h);
    return "xdotool mousemove --window " + xid + " " + std::to_string(x + dx) + " " + std::to_string(y + dy) +
           " click 1 && sleep 0.2";
  }
};
}  // namespace

// Before its first picture a sunken picture box is black; a picture painted from another
// thread shows stretched to the box.
TEST(display, apictureboxshowsitspicturestretched) {
  DISPLAYTEST();
  opswindow o;
  int x, y, w, h;
  ASSERT_TRUE(dlgcontrolrect(*o.d, 10, x, y, w, h));
  image im = snap(*o.d);
  EXPECT_TRUE(colour(im, x + w / 2, y + h / 2, 0, 0, 0));
  // 4 x 2 pixels: the left half red, the right half white.
  std::vector<uint8_t> rgb;
  for (int j = 0; j < 2; j++)
    for (int i = 0; i < 4; i++) rgb.insert(rgb.end(), {255, (uint8_t)(i < 2 ? 0 : 255), (uint8_t)(i < 2 ? 0 : 255)});
  std::thread t([&] { dlgpaint(*o.d, 10, rgb.data(), 4, 2); });
  t.join();
  pumpfor(200);
  im = snap(*o.d);
  EXPECT_TRUE(colour(im, x + w / 4, y + h / 2, 255, 0, 0));
  EXPECT_TRUE(colour(im, x + 3 * w / 4, y + h / 2, 255, 255, 255));
  EXPECT_TRUE(colour(im, x + w / 4, y + 4, 255, 0, 0));
  EXPECT_TRUE(colour(im, x - 2, y + h / 2, bgr, bgg, bgb));
}

// While redrawing is off the window keeps the list as it was; turned on, it shows the table.
TEST(display, alistrebuiltwithredrawingoffshowsitatonce) {
  DISPLAYTEST();
  opswindow o;
  dialogrecord& d = *o.d;
  for (const char* l : {"      10", "      30"}) dlglistadd(d, 11, l);
  dlgputint(d, 11, 2, ixstate);
  ASSERT_TRUE(pumpuntil([&] { return windowtext(d, 11) == "      30"; }));
  dlgsetredraw(d, 11, false);
  dlglistclear(d, 11);
  for (const char* l : {"       5", "      50", "     500"}) dlglistadd(d, 11, l);
  dlgputint(d, 11, 3, ixstate);
  pumpfor(200);
  EXPECT_EQ(windowtext(d, 11), "      30");
  dlgsetredraw(d, 11, true);
  ASSERT_TRUE(pumpuntil([&] { return windowtext(d, 11) == "     500"; }));
  // The fixed-pitch font: every character as wide as the layer says.
  EXPECT_EQ(windowtextwidth("1234567890", true), 10 * dlgfixedfont(d, 11));
}

// The user types into the combo box's field (a change) or picks an item (a selection, the
// field then shows it); the program's text shows in the field.
TEST(display, theeditablecomboboxtakestypingandpicks) {
  DISPLAYTEST();
  if (!haveprogram("xdotool")) GTEST_SKIP() << "no xdotool";
  opswindow o;
  dialogrecord& d = *o.d;
  dlgputtext(d, 12, "MPEG");
  ASSERT_TRUE(pumpuntil([&] { return windowtext(d, 12) == "MPEG"; }));
  int x, y, w, h;
  dlgcontrolrect(d, 12, x, y, w, h);
  EXPECT_EQ(withinput(o.click(12, 10, 8) + " && xdotool key End BackSpace BackSpace BackSpace BackSpace && xdotool type kj"),
            0);
  EXPECT_EQ(trimright(dlggettext(d, 12, 20)), "kj");
  auto q = drain();
  EXPECT_TRUE(hasevent(q, 12, evchange));
  EXPECT_FALSE(hasevent(q, 12, evselchange));
  // The arrow button opens the list: the third item.
  EXPECT_EQ(withinput(o.click(12, w - 8, 8) + " && xdotool key Down Down Down Return"), 0);
  pumpfor(200);
  q = drain();
  EXPECT_TRUE(hasevent(q, 12, evselchange));
  EXPECT_EQ(trimright(dlggettext(d, 12, 20)), "KJLOW");
  EXPECT_EQ(windowtext(d, 12), "KJLOW");
}

// The program moves the keyboard focus: the window follows, and the widget's own focus events
// raise nothing more.
TEST(display, theprogrammovesthefocusonce) {
  DISPLAYTEST();
  if (!haveprogram("xdotool")) GTEST_SKIP() << "no xdotool";
  opswindow o;
  dialogrecord& d = *o.d;
  EXPECT_EQ(withinput(o.click(13, 8, 6)), 0);
  auto q = drain();
  EXPECT_TRUE(hasevent(q, 13, evgainfocus));
  EXPECT_TRUE(dlgfocus(d, 13));
  static std::vector<std::pair<int, int>> seen;
  seen.clear();
  for (int id : {13, 14})
    for (int ev : {evgainfocus, evlosefocus})
      dlgonevent(d, id, [](dialogrecord&, int id, int ev) { seen.push_back({id, ev}); }, ev);
  dlgsetfocus(d, 14);
  pumpfor(200);
  dlgsetfocus(d, 15);  // no control takes it
  pumpfor(200);
  EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{13, evlosefocus}, {14, evgainfocus}, {14, evlosefocus}}));
  q = drain();
  EXPECT_FALSE(hasevent(q, 13, evlosefocus));
  EXPECT_FALSE(hasevent(q, 14, evgainfocus));
  EXPECT_FALSE(hasevent(q, 14, evlosefocus));
  // Typing now reaches no edit.
  std::string before = dlggettext(d, 14, 10);
  EXPECT_EQ(withinput("xdotool type 77"), 0);
  EXPECT_EQ(dlggettext(d, 14, 10), before);
}

TEST(display, thewindowhidesandcomesback) {
  DISPLAYTEST();
  opswindow o;
  EXPECT_TRUE(windowshown(*o.d));
  dlgshowwindow(*o.d, 0);
  pumpfor(100);
  EXPECT_FALSE(windowshown(*o.d));
  dlgshowwindow(*o.d, 9);
  pumpfor(100);
  EXPECT_TRUE(windowshown(*o.d));
}

// FLTK's chooser with the request's title, a name typed into it, or a cancel. The name field
// starts empty: a name typed at its start is the whole name.
TEST(display, thefilechooserasksinthewindow) {
  DISPLAYTEST();
  if (!haveprogram("xdotool")) GTEST_SKIP() << "no xdotool";
  char t[] = "/tmp/ostrelchooseXXXXXX";
  ASSERT_NE(mkdtemp(t), nullptr);
  std::string folder = std::string(t) + "/";
  dlgfilerequest r;
  r.title = "select output file";
  r.description = "output files (*.m2v)";
  r.patterns = "*.m2v";
  r.folder = folder;
  r.defext = "m2v";
  struct answer {
    const char* keys;
    bool chosen;
    std::string path;
  };
  const answer cases[] = {{"type --delay 30 movie && xdotool key Return", true, folder + "movie.m2v"},
                          {"key Home && xdotool type --delay 30 film && xdotool key Return", true, folder + "film.m2v"},
                          {"key Escape", false, ""}};
  for (const answer& a : cases) {
    std::string cmd = "w=$(xdotool search --sync --name '^select output file$' | head -1) && xdotool windowfocus --sync $w && sleep 0.3 && xdotool " +
                      std::string(a.keys);
    std::atomic<int> status{-1};
    std::thread th([&] { status = std::system(cmd.c_str()); });
    std::string path;
    bool chosen = dlgchoosefile(r, path);
    th.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(chosen, a.chosen) << a.keys;
    if (a.chosen) {
      EXPECT_EQ(path, a.path);
    }
  }
  std::filesystem::remove_all(folder);
}
