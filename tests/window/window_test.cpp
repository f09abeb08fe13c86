// The window backend of the dialog layer in a real window.
//
// Tests named "display*" need an X server: run from CTest (no display), each one starts its own
// binary again under xvfb-run with OSTREL_WINDOW_INNER=1 and passes when that inner run
// passes; they skip when xvfb-run is missing. The encoder test drives the program through
// real input (xdotool) and checks the control table and the offscreen drawing it dumps at
// exit. Pixel checks look at small known areas only, never at whole images (fonts differ).
#include <gtest/gtest.h>
#include <unistd.h>

#include <X11/Xlib.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "dialogs/window.h"
#include "encoder/control/control.h"
#include "encoder/control/preview.h"
#include "encoder/control/previewwindow.h"
#include "platform/clock.h"
#include "platform/msgbox.h"
#include "platform/queue.h"
#include "resources/encoder.h"
#include "tests/support/blackbox.h"
#include "tests/support/display.h"

namespace {

// Dialog units to pixels as the window is built: 6 x 13 pixels per 4 x 8 units, rounded.
int ux(int u) { return (u * 6 + 2) / 4; }
int uy(int u) { return (u * 13 + 4) / 8; }

// A dialog with every kind of control the programs use, and two tab pages.
#define L(t, x, y, w, h) {ctlstatic, -1, t, x, y, w, h}
const dlgitem kinds[] = {
    {ctlgroup, -1, "group", 5, 5, 140, 90},
    {ctlpush, 9101, "push", 10, 15, 40, 14},
    {ctlcheck, 9102, "check", 10, 32, 50, 10},
    {ctlradio, 9103, "one", 10, 45, 40, 10},
    {ctlradio, 9104, "two", 10, 56, 40, 10},
    {ctledit, 9105, "", 60, 15, 30, 12},
    {ctlupdown, 9106, "", 90, 15, 10, 12},
    {ctlradio, 9107, "three", 60, 45, 40, 10},
    {ctlradio, 9108, "four", 60, 56, 40, 10},
    {ctlstatic, 9109, "static text", 10, 72, 120, 8},
    L("label", 105, 32, 30, 8),
    {ctlprogress, 9110, "", 150, 10, 100, 10},
    {ctllist, 9111, "", 150, 25, 60, 40},
    {ctlcombo, 9112, "", 215, 25, 60, 60},
    {ctltrack, 9113, "", 150, 70, 100, 14},
    {ctlscroll, 9114, "", 255, 70, 40, 10},
    {ctltab, 9115, "", 5, 100, 290, 95},
};
const dlgitem page1[] = {{ctlstatic, 9201, "page one", 10, 10, 60, 8}, {ctlcheck, 9202, "on one", 10, 25, 50, 10}};
const dlgitem page2[] = {{ctlstatic, 9201, "page two", 10, 10, 60, 8}, {ctlcheck, 9202, "on two", 10, 25, 50, 10}};
#undef L
const dlgtemplate kindsdialog = {9001, "ostrel window test", 10, 10, 300, 200,
                                 stylecaption | stylesysmenu, 0, kinds, (int)std::size(kinds)};
const dlgtemplate page1dialog = {9002, "", 0, 0, 280, 70, 0, 0, page1, 2};
const dlgtemplate page2dialog = {9003, "", 0, 0, 280, 70, 0, 0, page2, 2};
const dlgtemplate* const testresources[] = {&kindsdialog, &page1dialog, &page2dialog,
                                            &encoderdialog101};

// The window's pixel rectangle of a control of the test dialog (window coordinates).
struct rect {
  int x, y, w, h;
};
rect pixels(const dlgitem& it) {
  return {ux(it.x), uy(it.y), ux(it.x + it.w) - ux(it.x), uy(it.y + it.h) - uy(it.y)};
}
const dlgitem& item(const dlgtemplate& t, int id) {
  for (int i = 0; i < t.count; i++)
    if (t.items[i].id == id) return t.items[i];
  throw std::runtime_error("no control " + std::to_string(id));
}

// The shown test dialog with its pages, values put into the table before and after showing.
struct kindswindow {
  dialogrecord* d = nullptr;
  dialogrecord* p1 = nullptr;
  dialogrecord* p2 = nullptr;
  std::string xid;  // the X window, for xdotool
  kindswindow() {
    dlgsetresources(testresources, (int)std::size(testresources));
    EXPECT_TRUE(dlgload(9001, d));
    EXPECT_TRUE(dlgload(9002, p1));
    EXPECT_TRUE(dlgload(9003, p2));
    dlgputflag(*d, 9103, true);
    dlgputflag(*d, 9107, true);
    dlgputint(*d, 9106, 0, ixmin);
    dlgputint(*d, 9106, 10, ixmax);
    dlgputint(*d, 9106, 3);
    dlgputtext(*d, 9111, "alpha", 1);
    dlgputtext(*d, 9111, "beta", 2);
    dlgputtext(*d, 9111, "gamma", 3);
    dlgputtext(*d, 9112, "x-ray", 1);
    dlgputtext(*d, 9112, "yankee", 2);
    dlgputint(*d, 9112, 2, ixstate);
    dlgputint(*d, 9113, 0, ixmin);
    dlgputint(*d, 9113, 10, ixmax);
    dlgputint(*d, 9113, 7);
    dlgputtext(*d, 9115, "first", 1);
    dlgputtext(*d, 9115, "second", 2);
    dlgputint(*d, 9115, 9002, 1);
    dlgputint(*d, 9115, 9003, 2);
    dlgputint(*d, 9115, 1, ixstate);
    dlgshow(*d, 1);
    dlgshow(*p1, 1, d, 9115);
    dlgshow(*p2, 1, d, 9115);
    pumpfor(200);
    if (haveprogram("xdotool")) xid = windownamed("^ostrel window test$");
  }
  ~kindswindow() {
    dlgclose(p1);
    dlgclose(p2);
    dlgclose(d);
    clearqueue();
  }
  // xdotool: a click at the centre of a control of the main dialog (or at dx, dy in it).
  std::string click(int id, int dx = -1, int dy = -1) const {
    rect r = pixels(item(kindsdialog, id));
    int x = r.x + (dx < 0 ? r.w / 2 : dx), y = r.y + (dy < 0 ? r.h / 2 : dy);
    return "xdotool mousemove --window " + xid + " " + std::to_string(x) + " " + std::to_string(y) +
           " click 1 && sleep 0.2";
  }
};

}  // namespace

// ---- the encoder's dialog 101: the layout ----

// Every control lies wholly inside the innermost group box that holds its top-left corner,
// no two controls (other than group boxes) overlap, and the preview box is free of controls.
TEST(layout101, controlssitinsidetheirgroupboxesandoverlapnothing) {
  const dlgtemplate& t = encoderdialog101;
  std::vector<const dlgitem*> groups, others;
  for (int i = 0; i < t.count; i++) (t.items[i].kind == ctlgroup ? groups : others).push_back(&t.items[i]);
  auto inside = [](const dlgitem& a, int x, int y) {
    return x >= a.x && y >= a.y && x < a.x + a.w && y < a.y + a.h;
  };
  for (const dlgitem* c : others) {
    const dlgitem* best = nullptr;
    for (const dlgitem* g : groups)
      if (inside(*g, c->x, c->y) && (!best || g->w * g->h < best->w * best->h)) best = g;
    if (!best) continue;
    EXPECT_LE(c->x + c->w, best->x + best->w) << c->id << " \"" << c->text << "\" leaves \"" << best->text << "\"";
    EXPECT_LE(c->y + c->h, best->y + best->h) << c->id << " \"" << c->text << "\" leaves \"" << best->text << "\"";
    // Below the group box's caption line.
    EXPECT_GE(c->y, best->y + 8) << c->id << " \"" << c->text << "\"";
  }
  for (size_t i = 0; i < others.size(); i++)
    for (size_t j = i + 1; j < others.size(); j++) {
      const dlgitem &a = *others[i], &b = *others[j];
      bool overlap = a.x < b.x + b.w && b.x < a.x + a.w && a.y < b.y + b.h && b.y < a.y + a.h;
      EXPECT_FALSE(overlap) << a.id << " \"" << a.text << "\" and " << b.id << " \"" << b.text << "\"";
    }
  // The preview box (client pixels 348..558 x 237..387 of 564 x 449) in dialog units.
  for (const dlgitem* c : others) {
    int x0 = ux(c->x), y0 = uy(c->y), x1 = ux(c->x + c->w), y1 = uy(c->y + c->h);
    EXPECT_FALSE(x0 < 560 && x1 > 348 && y0 < 388 && y1 > 237) << c->id << " \"" << c->text << "\"";
  }
}

// ---- no display ----

TEST(nodisplay, anunreachableserverorheadlessstaysheadless) {
  if (inner()) GTEST_SKIP();
  setenv("OSTREL_HEADLESS", "1", 1);
  EXPECT_FALSE(windowstart());
  setenv("OSTREL_HEADLESS", "0", 1);
  setenv("DISPLAY", ":4711", 1);  // no server there
  EXPECT_FALSE(dlgheadless());
  EXPECT_FALSE(windowstart());
  EXPECT_FALSE(windowactive());
  unsetenv("DISPLAY");
  EXPECT_FALSE(windowstart());
  setenv("OSTREL_HEADLESS", "1", 1);
}

// ---- the backend in a real window ----

TEST(display, widgetsshowthetableandpixelsofknownareas) {
  DISPLAYTEST();
  kindswindow k;
  dialogrecord& d = *k.d;
  dlgputtext(d, 9109, "hello there");
  dlgputint(d, 9110, 50);
  dlgputflag(d, 9102, true);
  dlgputint(d, 9111, 2, ixstate);
  dlgputtext(d, 9105, "12");
  dlgputtext(d, 9101, "pressed");
  ASSERT_TRUE(pumpuntil([&] { return windowtext(d, 9109) == "hello there"; }));
  EXPECT_EQ(windowtext(d, 9101), "pressed");
  EXPECT_EQ(windowtext(d, 9105), "12");
  EXPECT_EQ(windowtext(d, 9111), "beta");
  EXPECT_EQ(windowtext(d, 9112), "yankee");
  EXPECT_EQ(windowtext(d, 9115), "first");
  EXPECT_EQ(windowtext(*k.p1, 9201), "page one");
  EXPECT_TRUE(windowshows(*k.p1, 9201));
  EXPECT_FALSE(windowshows(*k.p2, 9201));

  image im = snap(d);
  EXPECT_EQ(im.w, ux(300));
  EXPECT_EQ(im.h, uy(200));
  // The progress bar at 50 of 0..100: filled on the left quarter, empty on the right one.
  rect p = pixels(item(kindsdialog, 9110));
  EXPECT_TRUE(colour(im, p.x + p.w / 4, p.y + p.h / 2, 0, 0, 128));
  EXPECT_FALSE(im.is(p.x + 3 * p.w / 4, p.y + p.h / 2, 0, 0, 128));
  // The ticked check box has a mark in its square; the unticked radio button has no dot.
  rect c = pixels(item(kindsdialog, 9102));
  int sq = c.y + (c.h - 13) / 2;
  EXPECT_GT(im.dark(c.x + 2, sq + 2, 9, 9), 8);
  rect r2 = pixels(item(kindsdialog, 9104)), r1 = pixels(item(kindsdialog, 9103));
  EXPECT_EQ(im.dark(r2.x + 4, r2.y + (r2.h - 13) / 2 + 4, 5, 5), 0);
  EXPECT_GT(im.dark(r1.x + 4, r1.y + (r1.h - 13) / 2 + 4, 5, 5), 10);
  // The group box frame: a dark line across the right half at half the caption's height,
  // background inside it.
  rect g = pixels(kinds[0]);
  bool line = false;
  for (int y = g.y; y < g.y + 10; y++) line = line || im.luma(g.x + g.w - 20, y) < 170;
  EXPECT_TRUE(line);
  EXPECT_TRUE(colour(im, g.x + g.w - 20, g.y + g.h - 12, bgr, bgg, bgb));
  // The static's text is drawn inside its box; a cleared static leaves it empty.
  rect s = pixels(item(kindsdialog, 9109));
  EXPECT_GT(im.dark(s.x, s.y, s.w, s.h), 20);
  dlgputtext(d, 9109, "");
  ASSERT_TRUE(pumpuntil([&] { return windowtext(d, 9109).empty(); }));
  EXPECT_EQ(snap(d).dark(s.x, s.y, s.w, s.h), 0);

  // A greyed check box keeps its tick, drawn grey; the tab control switches pages.
  dlgputflag(d, 9102, false, ixenabled);
  dlgputint(d, 9115, 2, ixstate);
  ASSERT_TRUE(pumpuntil([&] { return windowtext(d, 9115) == "second"; }));
  EXPECT_FALSE(windowshows(*k.p1, 9201));
  EXPECT_TRUE(windowshows(*k.p2, 9201));
  image im2 = snap(d);
  EXPECT_EQ(im2.dark(c.x + 2, sq + 2, 9, 9), 0);
  EXPECT_GT(im2.dark(c.x + 2, sq + 2, 9, 9, 190), 8);
}

// Worker threads change only the table: one burst of puts costs one wake, and the window
// shows the last value once the window thread runs.
TEST(display, putsfromaworkerarecoalescedandnonelost) {
  DISPLAYTEST();
  kindswindow k;
  dialogrecord& d = *k.d;
  pumpfor(100);
  long wakes = windowwakes();
  const int n = 5000;
  std::thread t([&] {
    for (int i = 1; i <= n; i++) {
      dlgputtext(d, 9109, "line " + std::to_string(i));
      dlgputint(d, 9110, i % 101);
      dlgputint(d, 9113, i % 11);
    }
  });
  t.join();  // the window thread does not run meanwhile
  EXPECT_LE(windowwakes() - wakes, 1);
  ASSERT_TRUE(pumpuntil([&] { return windowtext(d, 9109) == "line 5000"; }));
  EXPECT_EQ(dlggetint(d, 9110), n % 101);
  // Interleaved with the window thread, still nothing lost.
  std::atomic<bool> done{false};
  std::thread t2([&] {
    for (int i = 1; i <= 2000; i++) dlgputtext(d, 9109, "again " + std::to_string(i));
    done = true;
  });
  pumpuntil([&] { return done.load(); });
  t2.join();
  ASSERT_TRUE(pumpuntil([&] { return windowtext(d, 9109) == "again 2000"; }));
}

// In a window a status text stays up for its time (the countdowns wait for the user to read
// them); without one the same pause returns at once (tests/control/headless_test.cpp).
TEST(display, statuspausewaitsinawindow) {
  DISPLAYTEST();
  setclockscale(0.05);
  auto t0 = std::chrono::steady_clock::now();
  statuspause(1000);
  setclockscale(-1);
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(45));
}

// Real input through the X server: each action changes the table as the user would and puts
// the control's event into the main loop's queue; Escape and the close box are the close
// request.
TEST(display, realinputreachesthetableandthequeue) {
  DISPLAYTEST();
  if (!haveprogram("xdotool")) GTEST_SKIP() << "no xdotool";
  kindswindow k;
  dialogrecord& d = *k.d;
  ASSERT_FALSE(k.xid.empty());
  drain();

  EXPECT_EQ(withinput(k.click(9102)), 0);
  EXPECT_TRUE(dlggetflag(d, 9102));
  auto q = drain();
  EXPECT_TRUE(hasevent(q, 9102, evclick));

  EXPECT_EQ(withinput(k.click(9104)), 0);
  EXPECT_TRUE(dlggetflag(d, 9104));
  EXPECT_FALSE(dlggetflag(d, 9103));
  EXPECT_TRUE(dlggetflag(d, 9107));  // the other group keeps its tick
  EXPECT_TRUE(hasevent(drain(), 9104, evclick));

  EXPECT_EQ(withinput(k.click(9101)), 0);
  EXPECT_TRUE(hasevent(drain(), 9101, evclick));

  // The up-down: the upper half counts up, the lower down; the arrow keys in its buddy too.
  rect u = pixels(item(kindsdialog, 9106));
  EXPECT_EQ(withinput(k.click(9106, u.w / 2, 2)), 0);
  EXPECT_EQ(dlggetint(d, 9106), 4);
  EXPECT_EQ(withinput(k.click(9106, u.w / 2, u.h - 3)), 0);
  EXPECT_EQ(withinput(k.click(9106, u.w / 2, u.h - 3)), 0);
  EXPECT_EQ(dlggetint(d, 9106), 2);
  EXPECT_TRUE(hasevent(drain(), 9106, evchange));

  EXPECT_EQ(withinput(k.click(9105) + " && xdotool type --delay 50 42 && xdotool key Up Up Up"), 0);
  EXPECT_EQ(dlggettext(d, 9105, 2), "42");
  EXPECT_EQ(dlggetint(d, 9106), 5);
  q = drain();
  EXPECT_TRUE(hasevent(q, 9105, evchange));
  EXPECT_TRUE(hasevent(q, 9105, evupdate));
  EXPECT_TRUE(hasevent(q, 9105, evgainfocus));

  // The list: the third line (lines of about 14 pixels); the tab control: the second tab,
  // which starts after the first caption ("first", some 40 pixels wide).
  EXPECT_EQ(withinput(k.click(9111, 10, 3 + 2 * 14 + 6)), 0);
  EXPECT_EQ(dlggetint(d, 9111, ixstate), 3);
  EXPECT_TRUE(hasevent(drain(), 9111, evselchange));
  EXPECT_EQ(withinput(k.click(9115, 72, 8)), 0);
  EXPECT_EQ(dlggetint(d, 9115, ixstate), 2);
  EXPECT_TRUE(hasevent(drain(), 9115, evselchange));
  pumpfor(100);
  EXPECT_TRUE(windowshows(*k.p2, 9201));

  // The trackbar: a click at its right end takes the maximum; the drop-down list: open it,
  // one line up, take it.
  rect tr = pixels(item(kindsdialog, 9113));
  EXPECT_EQ(withinput(k.click(9113, tr.w - 3)), 0);
  EXPECT_EQ(dlggetint(d, 9113), 10);
  EXPECT_TRUE(hasevent(drain(), 9113, evchange));
  EXPECT_EQ(withinput(k.click(9112, -1, 8) + " && xdotool key Up && sleep 0.2 && xdotool key Return"), 0);
  EXPECT_EQ(dlggetint(d, 9112, ixstate), 1);
  EXPECT_EQ(windowtext(d, 9112), "x-ray");
  EXPECT_TRUE(hasevent(drain(), 9112, evselchange));

  // A disabled control ignores the user.
  dlgputflag(d, 9102, false, ixenabled);
  pumpfor(100);
  EXPECT_EQ(withinput(k.click(9102)), 0);
  EXPECT_TRUE(dlggetflag(d, 9102));
  EXPECT_FALSE(hasevent(drain(), 9102, evclick));

  // Escape, then the close box (the window manager's delete message).
  EXPECT_EQ(withinput(k.click(9109) + " && xdotool key Escape"), 0);
  EXPECT_TRUE(hasclose(drain()));
  {
    Display* x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr);
    Window w = std::stoul(k.xid);
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = (long)XInternAtom(x, "WM_DELETE_WINDOW", False);
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, w, False, NoEventMask, &e);
    XFlush(x);
    XCloseDisplay(x);
  }
  ASSERT_TRUE(pumpuntil([&] {
    std::vector<message> v = drain();
    return hasclose(v);
  }));
  EXPECT_TRUE(windowshows(d, 9109));  // the window stays until the program closes it
}

// The message box is modal on the window thread and answers with the button chosen; off the
// window thread it answers at once as headless.
TEST(display, messageboxesanswerwiththebuttonchosen) {
  DISPLAYTEST();
  if (!haveprogram("xdotool")) GTEST_SKIP() << "no xdotool";
  struct answer {
    int flags;
    const char* keys;
    int want;
  };
  const answer cases[] = {{mbyesno + mbiconwarning + mbsetforeground, "n", idno},
                          {mbyesno + mbiconwarning + mbsetforeground, "Return", idyes},
                          {mbiconinformation + mbsetforeground, "Return", idok},
                          {mbyesno + mbiconwarning, "Escape n", idno}};
  for (const auto& c : cases) {
    std::string cmd = "w=$(xdotool search --sync --name '^KJ message$' | head -1) && xdotool windowfocus --sync $w key " +
                      std::string(c.keys);
    std::atomic<int> status{-1};
    std::thread t([&] { status = std::system(cmd.c_str()); });
    int got = msgbox("encoding in progress, quit anyway ?", "KJ message", c.flags);
    t.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(got, c.want) << c.keys;
  }
  int off = -1;
  std::thread t([&] { off = msgbox("from a worker", "KJ message", mbyesno); });
  t.join();
  EXPECT_EQ(off, idyes);
}

// The preview: the image stretched into the preview box of dialog 101, drawn from a pass
// thread; the box is black after a clear and the dialog around it untouched.
TEST(display, previewisdrawnscaledintothepreviewbox) {
  DISPLAYTEST();
  dlgsetresources(testresources, (int)std::size(testresources));
  ASSERT_TRUE(dlgload(101, maindialog));
  dialogrecord& d = *maindialog;
  previewonwindow(d);
  dlgshow(d, 1);
  pumpfor(200);
  int cw, ch;
  ASSERT_TRUE(windowclientsize(d, cw, ch));
  EXPECT_EQ(cw, ux(377));
  EXPECT_EQ(ch, uy(276));
  previewgeometry g = previewlayout(1, 2, cw, ch);
  const previewrect& box = g.clip;
  int cx = box.x + box.w / 2, cy = box.y + box.h / 2;
  // Before any drawing the box shows the dialog's background.
  image im = snap(d);
  EXPECT_TRUE(colour(im, cx, cy, bgr, bgg, bgb));

  // A 64 x 48 frame: left half saturated red, right half white.
  const int w = 64, h = 48;
  std::vector<uint8_t> y(w * h), u(w * h / 4), v(w * h / 4);
  for (int j = 0; j < h; j++)
    for (int i = 0; i < w; i++) y[j * w + i] = i < w / 2 ? 81 : 235;
  for (int j = 0; j < h / 2; j++)
    for (int i = 0; i < w / 2; i++) {
      u[j * w / 2 + i] = i < w / 4 ? 90 : 128;
      v[j * w / 2 + i] = i < w / 4 ? 240 : 128;
    }
  ASSERT_TRUE(yuvtobmp(y.data(), u.data(), v.data(), w, h, previewimage));
  settings.aspect = 2;
  previewzoom = 1;
  zoomchanged = true;
  std::thread pass([] { drawpreview(); });
  pass.join();
  pumpfor(200);
  im = snap(d);
  EXPECT_TRUE(colour(im, box.x + box.w / 4, cy, 254, 0, 0));
  EXPECT_TRUE(colour(im, box.x + 3 * box.w / 4, cy, 254, 254, 254));
  EXPECT_TRUE(colour(im, box.x - 2, cy, bgr, bgg, bgb));
  EXPECT_TRUE(colour(im, box.x + box.w + 1, cy, bgr, bgg, bgb));
  // 16:9 at zoom 1: 210 x 118 units centred on 312; black above and below the picture.
  settings.aspect = 3;
  zoomchanged = true;
  std::thread pass2([] { drawpreview(); });
  pass2.join();
  pumpfor(200);
  im = snap(d);
  previewgeometry g3 = previewlayout(1, 3, cw, ch);
  EXPECT_TRUE(colour(im, box.x + box.w / 4, g3.picture.y + 2, 254, 0, 0));
  EXPECT_TRUE(colour(im, box.x + box.w / 4, g3.picture.y - 3, 0, 0, 0));
  EXPECT_TRUE(colour(im, box.x + box.w / 4, box.y + 1, 0, 0, 0));
  clearpreview();
  pumpfor(200);
  im = snap(d);
  EXPECT_TRUE(colour(im, cx, cy, 0, 0, 0));
  EXPECT_TRUE(colour(im, box.x, box.y, 0, 0, 0));
  EXPECT_TRUE(colour(im, box.x + box.w - 1, box.y + box.h - 1, 0, 0, 0));
  dlgclose(maindialog);
  previewwindow = previewbackend{};
}

// ---- the encoder from outside ----

namespace {
std::map<int, std::string> tableof(const std::string& dump, const char* prefix) {
  std::map<int, std::string> m;
  std::istringstream s(dump);
  for (std::string l; std::getline(s, l);) {
    bool widget = l.rfind("widget ", 0) == 0;
    if (widget != (std::strcmp(prefix, "widget") == 0)) continue;
    std::istringstream f(widget ? l.substr(7) : l);
    int id;
    f >> id;
    m[id] = l;
  }
  return m;
}
std::string centre(int id) {
  rect r = pixels(item(encoderdialog101, id));
  return std::to_string(r.x + r.w / 2) + " " + std::to_string(r.y + r.h / 2);
}
std::string checkpoint(int id) {  // on the check square of a check box or radio button
  rect r = pixels(item(encoderdialog101, id));
  return std::to_string(r.x + 6) + " " + std::to_string(r.y + r.h / 2);
}
}  // namespace

// The encoder's window under a virtual display: suspend and resume flip the caption, the
// preview radio button clears the preview box, the shutdown box ticks, the about box and
// the quit question are answered by keys, and exit with "yes" ends the run (status 3). The
// control table and the offscreen drawing dumped at exit show it.
TEST(encoderwindow, realclicksonsuspendpreviewshutdownaboutandexit) {
  if (inner()) GTEST_SKIP();
  if (!haveprogram("xvfb-run") || !haveprogram("xdotool")) GTEST_SKIP() << "no xvfb-run or xdotool";
  progfolder pf;
  // A clip that takes far longer to code than the clicks take.
  pf.write("long.avs", "TestPattern(length=3000, width=720, height=576, fps=25)\n");
  runresult r = runcommand(
      xvfb({"bash", OSTREL_DRIVE101}), pf.dir(),
      {"OSTRELARGS=-i long.avs -o out.m2v -cq 4", "OSTREL_HEADLESS=0", "OSTREL_TIMESCALE=50", "OSTREL_SHUTDOWN_CMD=false",
       "OSTREL_WINDOW_DUMP=" + pf.path("dump"), "OSTREL=" + pf.path("ostrel"), "OUT=" + pf.path("out.txt"),
       "ERR=" + pf.path("err.txt"), lsanoptions(), "SUSPEND=" + centre(30002), "EXIT=" + centre(30001),
       "ABOUT=" + centre(30003), "ON=" + checkpoint(1007), "SHUTDOWN=" + checkpoint(1073)},
      180);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("status 3"), std::string::npos) << r.out << r.err;
  // In a window nothing goes to stdout.
  EXPECT_EQ(pf.read("out.txt"), "");
  std::string dump = pf.read("dump.txt");
  auto rows = tableof(dump, "row"), widgets = tableof(dump, "widget");
  EXPECT_NE(rows[30002].find("text=resume"), std::string::npos) << rows[30002];
  EXPECT_NE(widgets[30002].find("shows=resume"), std::string::npos) << widgets[30002];
  EXPECT_NE(rows[1073].find("ticked=1"), std::string::npos) << rows[1073];
  EXPECT_NE(rows[1007].find("ticked=1"), std::string::npos) << rows[1007];
  EXPECT_NE(rows[1006].find("ticked=0"), std::string::npos) << rows[1006];
  EXPECT_NE(rows[1075].find("ticked=0"), std::string::npos) << rows[1075];
  // The pass wrote the status line from its own thread; the window shows it.
  EXPECT_NE(rows[1053].find("text= pass "), std::string::npos) << rows[1053];
  EXPECT_NE(widgets[1053].find("shows= pass "), std::string::npos) << widgets[1053];

  image im;
  ASSERT_TRUE(readppm(pf.path("dump.ppm"), im));
  ASSERT_EQ(im.w, ux(377));
  ASSERT_EQ(im.h, uy(276));
  previewrect box = previewlayout(1, 2, im.w, im.h).clip;
  // The box was cleared to black; the pass may since have drawn a 16:9 picture into its
  // middle, but the bars above and below stay black.
  EXPECT_TRUE(colour(im, box.x, box.y, 0, 0, 0));
  EXPECT_TRUE(colour(im, box.x + box.w - 1, box.y + box.h - 1, 0, 0, 0));
  EXPECT_TRUE(colour(im, box.x - 3, box.y + box.h / 2, bgr, bgg, bgb));
  rect sd = pixels(item(encoderdialog101, 1073)), sb = pixels(item(encoderdialog101, 1075));
  EXPECT_GT(im.dark(sd.x + 2, sd.y + (sd.h - 13) / 2 + 2, 9, 9), 8);
  EXPECT_EQ(im.dark(sb.x + 2, sb.y + (sb.h - 13) / 2 + 2, 9, 9), 0);
  rect st = pixels(item(encoderdialog101, 1053));
  EXPECT_GT(im.dark(st.x, st.y, st.w, st.h), 30);
  // The progress bar as the table holds it (the pass sets it after each GOP): filled from its
  // inner left edge by value / 100 of its inner width, empty beyond.
  rect pr = pixels(item(encoderdialog101, 1008));
  const size_t at = rows[1008].find("value=");
  ASSERT_NE(at, std::string::npos) << rows[1008];
  const int barvalue = std::stoi(rows[1008].substr(at + 6));
  EXPECT_GE(barvalue, 0) << rows[1008];
  EXPECT_LT(barvalue, 100) << rows[1008];  // the run was stopped on the way
  const int fill = barvalue * (pr.w - 4) / 100;
  EXPECT_EQ(im.is(pr.x + 5, pr.y + pr.h / 2, 0, 0, 128), fill > 3) << rows[1008];
  EXPECT_FALSE(im.is(pr.x + 2 + fill, pr.y + pr.h / 2, 0, 0, 128)) << rows[1008];
  if (fill > 0) {
    EXPECT_TRUE(im.is(pr.x + 1 + fill, pr.y + pr.h / 2, 0, 0, 128)) << rows[1008];
  }
  // The frame of "files" on its right half, background just inside it.
  rect files = pixels(encoderdialog101.items[0]);
  bool line = false;
  for (int y = files.y; y < files.y + 10; y++) line = line || im.luma(files.x + files.w - 30, y) < 170;
  EXPECT_TRUE(line);
}

// An X server that cannot be reached: the encoder runs headless and ends well.
TEST(encoderwindow, anunreachabledisplayrunsheadless) {
  if (inner()) GTEST_SKIP();
  progfolder pf;
  pf.write("a.avs", "BlankClip(length=5, width=64, height=64, fps=25)\n");
  runresult r = pf.ostrel({"-i", "a.avs", "-o", "out.m2v", "-cq", "4"}, {"OSTREL_HEADLESS=0", "DISPLAY=:4711"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" ( 1) encoding finished..."), std::string::npos) << r.out;
}
