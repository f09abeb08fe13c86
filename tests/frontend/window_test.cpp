// The front end in a real window: every tab chosen with real clicks, the captions fit their
// controls at the window's font, and the program itself driven from outside with a window dump
// of every page.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "dialogs/window.h"
#include "frontend/window/front.h"
#include "frontend/window/guimain.h"
#include "platform/queue.h"
#include "resources/frontend.h"
#include "tests/frontend/clips.h"
#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"
#include "tests/support/display.h"

namespace {
using frontwindow = frontfixture;

// Runs the callbacks of the events the user's input queued, as the main loop would.
void dispatch() {
  for (message m; peekmsg(m);) dlgpump(m);
}

// A control of each page that shows only while its page is shown.
const std::map<int, int> oneofpage = {{102, 1008}, {103, 1055}, {104, 1021},
                                      {105, 1025}, {106, 2010}, {107, 1114}};

}  // namespace

// Each tab chosen by a click at its middle: the tab control moves to it, its page shows and the
// others hide; the tab callback ran (the Preview/Chapters page enabled its navigation).
TEST_F(frontwindow, displayeverytabwithrealclicks) {
  DISPLAYTEST();
  if (!haveprogram("xdotool")) GTEST_SKIP() << "no xdotool";
  start("*INFILE " + script("clip.avs", smallclip) + "\n");
  dialogrecord& m = dlg(dlgmain);
  std::string xid = windownamed("^  Ostrelfront 0\\.21$");
  ASSERT_FALSE(xid.empty());
  for (int n : {2, 3, 4, 5, 6, 1}) {
    int x, y;
    ASSERT_TRUE(windowtabspot(m, tabcontrol, n, x, y));
    ASSERT_EQ(withinput("xdotool mousemove --window " + xid + " " + std::to_string(x) + " " + std::to_string(y) +
                        " click 1 && sleep 0.2"),
              0);
    dispatch();
    pumpfor(100);
    EXPECT_EQ(dlggetint(m, tabcontrol, ixstate), n);
    for (auto [page, id] : oneofpage) EXPECT_EQ(windowshows(dlgof(page), id), page == 101 + n) << n << " " << page;
    if (n == 5) {
      EXPECT_TRUE(dlggetflag(dlgof(pagechapters), 2010, ixenabled));
    }
  }
}

// Nothing is cut off at the window's font: every caption fits its control (the check mark,
// the group box's indent and a push button's margins taken off), the combo box's longest item
// fits its field, the tabs fit their control, the longest file label fits its button and a
// long status text fits the status line between its breaks.
TEST(display, captionsfittheircontrols) {
  DISPLAYTEST();
  ASSERT_GT(windowtextwidth("Preview/Chapters", false), 60);  // measured in the window's font
  for (int i = 0; i < frontresourcecount; i++) {
    const dlgtemplate& t = *frontresources[i];
    for (int k = 0; k < t.count; k++) {
      const dlgitem& it = t.items[k];
      int w = dlgpixelsx(it.x + it.w) - dlgpixelsx(it.x);
      std::string text = it.text ? it.text : "";
      int room = w;
      switch (it.kind) {
        case ctlpush: room = w - 8; break;
        case ctlcheck: case ctlradio: room = w - 17; break;
        case ctlgroup: room = w - 12; break;
        case ctlcombo: {
          room = w - 22;  // the arrow
          std::istringstream s(text);
          std::string longest;
          for (std::string l; std::getline(s, l);)
            if (windowtextwidth(l, false) > windowtextwidth(longest, false)) longest = l;
          text = longest;
          break;
        }
        default: break;
      }
      if (it.kind == ctledit || it.kind == ctllist || it.kind == ctlpicture) continue;
      EXPECT_LE(windowtextwidth(text, it.style & stylefixedfont), room)
          << t.id << ":" << it.id << " \"" << text << "\"";
    }
  }
  const char* tabs[] = {"Main", "Settings 1", "Settings 2", "Matrix", "Preview/Chapters", "Preview/Zones"};
  int all = 0;
  for (const char* c : tabs) all += windowtextwidth(c, false) + 12;
  EXPECT_LE(all + 4, dlgpixelsx(4 + 414) - dlgpixelsx(4));
  // The input button's label with the longest name it shows.
  EXPECT_LE(windowtextwidth("input: " + shortpath("/home/dvdauthor/projects/summer holidays 2019/part one/final cut.avs"),
                            false),
            dlgpixelsx(272) - 8);
  // A long status text, broken as the status line breaks it.
  showinfo(" pulldown turned on, set flags for 23.976 --> 29.97 fps, interlaced is disabled, if your source is "
           "interlaced please de-interlace it first, if input rate is not equal to 23.976, setting is ignored",
           false);
  std::istringstream lines(statustext);
  for (std::string l; std::getline(lines, l);) EXPECT_LE(windowtextwidth(l, false), dlgpixelsx(414) - 6) << l;
}

// The program itself: its window found by its caption, every tab clicked in turn, the exit
// button; it ends with 0 and its dump at exit shows every page.
TEST(display, theprogramwithrealclicksandadumpofeverypage) {
  DISPLAYTEST();
  if (!haveprogram("xdotool")) GTEST_SKIP() << "no xdotool";
  progfolder pf;
  pf.write("clip.avs", smallclip);
  pf.write("KJ.ini", "*INFILE " + pf.path("clip.avs") + "\n");
  // The tabs' middles and the exit button, as the window lays them out.
  const char* captions[] = {"Main", "Settings 1", "Settings 2", "Matrix", "Preview/Chapters", "Preview/Zones"};
  std::vector<int> middles;
  int x = dlgpixelsx(4) + 2;
  for (const char* c : captions) {
    int w = windowtextwidth(c, false) + 12;
    middles.push_back(x + w / 2);
    x += w;
  }
  int y = dlgpixelsy(4) + 10;
  std::string tabs;
  for (int n : {2, 3, 4, 5, 6}) tabs += std::to_string(middles[(size_t)n - 1]) + "," + std::to_string(y) + " ";
  std::string exitspot = std::to_string(dlgpixelsx(360 + 29)) + " " + std::to_string(dlgpixelsy(261 + 7));
  runresult r = runcommand({"bash", OSTREL_DRIVEFRONT}, pf.dir(),
                           {"OSTRELFRONT=" + pf.path("ostrelfront"), "OUT=" + pf.path("out.txt"),
                            "ERR=" + pf.path("err.txt"), "TABS=" + tabs, "EXIT=" + exitspot,
                            "OSTREL_WINDOW_DUMP=" + pf.path("dump"), lsanoptions()},
                           120);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("window   Ostrelfront 0.21\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("status 0"), std::string::npos) << r.out << pf.read("err.txt");
  EXPECT_EQ(pf.read("out.txt"), "");  // in a window nothing goes to stdout
  std::string dump = pf.read("dump.txt");
  EXPECT_NE(dump.find("1006 kind=12 enabled=1 ticked=0 value=0 min=0 max=100 sel=6"), std::string::npos) << dump;
  for (int page = 102; page <= 107; page++)
    EXPECT_NE(dump.find("dialog " + std::to_string(page) + "\n"), std::string::npos) << page;
  // Each page's picture: the window's size, and the page's area differs from every other page's.
  std::vector<image> pages;
  for (int page = 102; page <= 107; page++) {
    image im;
    ASSERT_TRUE(readppm(pf.path("dump-" + std::to_string(page) + ".ppm"), im)) << page;
    EXPECT_EQ(im.w, dlgpixelsx(422));
    EXPECT_EQ(im.h, dlgpixelsy(303));
    pages.push_back(im);
  }
  for (size_t a = 0; a < pages.size(); a++)
    for (size_t b = a + 1; b < pages.size(); b++) EXPECT_NE(pages[a].rgb, pages[b].rgb) << 102 + a << " " << 102 + b;
  // The Matrix page holds its two grids: cells are white-ish boxes in the window's picture (a
  // point near a cell's right edge, clear of the digits centred in it).
  const image& mx = pages[3];
  int cx = dlgpixelsx(4) + 2 + dlgpixelsx(133 + 15 * 3 + 13), cy = dlgpixelsy(4) + 22 + dlgpixelsy(68 + 13 * 3 + 7);
  EXPECT_GT(mx.luma(cx, cy), 180);
}

// The Preview/Chapters page in a real window: a step to the next frame paints the source's frame
// (one colour all over) into the page's picture box, letterboxed at the 16:9 default aspect.
TEST_F(frontwindow, displaythepreviewpageshowstheframe) {
  DISPLAYTEST();
  std::vector<yuvframe> frames{yuvframe(64, 48), yuvframe(64, 48)};
  for (yuvframe& f : frames) {
    std::fill(f.y.begin(), f.y.end(), 81);
    std::fill(f.u.begin(), f.u.end(), 90);
    std::fill(f.v.begin(), f.v.end(), 240);
  }
  writefile(dir + "red.y4m", y4m(frames));
  start("*INFILE " + script("clip.avs", "Y4MSource(\"red.y4m\")\n") + "\n");
  dialogrecord& m = dlg(dlgmain);
  userselect(m, tabcontrol, 5);
  dispatch();
  userclick(dlg(pagechapters), 1015);
  dispatch();
  pumpfor(300);
  int x, y, w, h;
  ASSERT_TRUE(dlgcontrolrect(dlg(pagechapters), previewbox, x, y, w, h));
  // The page lies in the tab control's display area of the main dialog's window.
  x += dlgpixelsx(4) + 2;
  y += dlgpixelsy(4) + 22;
  image im = snap(m);
  uint8_t rgb[3];
  rgbmodel(81, 90, 240, rgb);
  EXPECT_TRUE(colour(im, x + w / 2, y + h / 2, rgb[0], rgb[1], rgb[2]));
  EXPECT_TRUE(colour(im, x + w / 4, y + h / 2 + 50, rgb[0], rgb[1], rgb[2]));
  EXPECT_TRUE(colour(im, x + w / 2, y + 8, 0, 0, 0));  // above the 16:9 picture
}

namespace {
// The columns of a control's inside that its text covers (pixels darker than the backgrounds of
// an edit, white or grey, in the rows of the inside; a disabled cell's text is grey), in window pixels of the main dialog's picture; right is the last column
// of the inside that shows (a grid cell's right edge lies under its neighbour).
struct inkspan {
  int first = -1, last = -1, left = 0, right = 0;
};
inkspan ink(const image& im, int page, int id, int border, int right = -1) {
  int x, y, w, h;
  EXPECT_TRUE(dlgcontrolrect(dlgof(page), id, x, y, w, h));
  x += dlgpixelsx(4) + 2;  // the page lies in the tab control's display area
  y += dlgpixelsy(4) + 22;
  inkspan s;
  s.left = x + border;
  s.right = right >= 0 ? right + dlgpixelsx(4) + 2 : x + w - 1 - border;
  for (int i = s.left; i <= s.right; i++)
    if (im.dark(i, y + border, 1, h - 2 * border, 170) > 0) {
      if (s.first < 0) s.first = i;
      s.last = i;
    }
  return s;
}
}  // namespace

// The Matrix page's cells and the preview pages' current frame show their numbers centred, and a
// cell's three digits keep clear of its frame on both sides.
TEST_F(frontwindow, displaycellsandthecurrentframearecentred) {
  DISPLAYTEST();
  start("*INFILE " + script("clip.avs", smallclip) + "\n");
  dialogrecord& m = dlg(dlgmain);
  userselect(m, tabcontrol, 4);
  dispatch();
  userclick(dlg(pagematrix), 1011);
  dispatch();
  const struct {
    int id;
    const char* text;
  } cells[] = {{1201, "8"}, {1202, "255"}, {1257, "100"}, {1357, "188"}, {1363, "16"}};
  for (const auto& c : cells) dlgputtext(dlg(pagematrix), c.id, c.text);
  pumpfor(300);
  image im = snap(m);
  for (const auto& c : cells) {
    // What shows of a cell ends where its right neighbour's frame begins.
    int nx, ny, nw, nh;
    ASSERT_TRUE(dlgcontrolrect(dlg(pagematrix), c.id + 1, nx, ny, nw, nh));
    const inkspan s = ink(im, pagematrix, c.id, 1, nx - 1);
    SCOPED_TRACE(std::to_string(c.id) + " " + c.text);
    ASSERT_GE(s.first, 0);
    const int leftroom = s.first - s.left, rightroom = s.right - s.last;
    EXPECT_LE(std::abs(leftroom - rightroom), 1) << leftroom << " " << rightroom;
    EXPECT_GE(std::min(leftroom, rightroom), 2) << leftroom << " " << rightroom;
  }
  userselect(m, tabcontrol, 5);
  dispatch();
  dlgputtext(dlg(pagechapters), 1036, "1234");
  pumpfor(300);
  im = snap(m);
  const inkspan s = ink(im, pagechapters, 1036, 2);
  ASSERT_GE(s.first, 0);
  EXPECT_LE(std::abs((s.first - s.left) - (s.right - s.last)), 1) << s.first - s.left << " " << s.right - s.last;
}
