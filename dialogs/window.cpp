#include "dialogs/window.h"

#include <algorithm>
#include <cmath>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "platform/msgbox.h"
#include "platform/queue.h"

#if OSTREL_WINDOW

#include <X11/Xlib.h>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Check_Button.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Group.H>
#include <FL/Fl_Hold_Browser.H>
#include <FL/Fl_Image.H>
#include <FL/Fl_File_Chooser.H>
#include <FL/Fl_File_Input.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Input_Choice.H>
#include <FL/Fl_Menu_Item.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Round_Button.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/Fl_Slider.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

namespace {

// ---- dialog units and looks ----

// Dialog units to pixels with the layer's fixed base units.
int unitx(int u) { return dlgpixelsx(u); }
int unity(int u) { return dlgpixelsy(u); }

constexpr Fl_Fontsize fontsize = 11;  // the dialog font's cell is 13 pixels high
// The fixed-pitch font of lists: its characters are 7 pixels wide at this size (the figure
// dlgfixedfont reports).
constexpr Fl_Fontsize fixedsize = 12;
// The font of grid cells: three digits are 15 pixels wide at this size (18 at 10, 21 at 11),
// inside a cell of 20 or 21 pixels between its frame lines.
constexpr Fl_Fontsize cellsize = 8;
const Fl_Labeltype plainlabel = FL_FREE_LABELTYPE;
const Fl_Color barcolor = fl_rgb_color(0, 0, 128);

// Labels draw their text as it is: no '@' symbols, no '&' underlines.
void plaindraw(const Fl_Label* o, int x, int y, int w, int h, Fl_Align a) {
  fl_font(o->font, o->size);
  fl_color((Fl_Color)o->color);
  fl_draw(o->value, x, y, w, h, a, o->image, 0);
}
void plainmeasure(const Fl_Label* o, int& w, int& h) {
  fl_font(o->font, o->size);
  fl_measure(o->value, w, h, 0);
}

std::string trimright(const std::string& s) {
  size_t n = s.find_last_not_of(' ');
  return n == std::string::npos ? std::string() : s.substr(0, n + 1);
}

// ---- the record of one dialog's window ----

struct dialogwin;

struct picturebox : Fl_Widget {
  dialogwin* win;
  picturebox(dialogwin* w, int x, int y, int wd, int h) : Fl_Widget(x, y, wd, h), win(w) {}
  void draw() override;
};

struct tabheader;

// A dialog's top-level window; drawall draws it whole into the current drawable (an
// offscreen for snapshots).
struct dialogwindow : Fl_Double_Window {
  dialogwindow(int x, int y, int w, int h) : Fl_Double_Window(x, y, w, h) {}
  void drawall() {
    damage(FL_DAMAGE_ALL);
    draw();
  }
};

struct dialogwin {
  dialogrecord* dlg = nullptr;
  dialogwindow* window = nullptr;  // top-level dialogs
  Fl_Group* page = nullptr;            // page dialogs: their group inside the parent window
  dialogwin* parent = nullptr;         // page dialogs
  int parenttab = 0;                   // the parent's tab control holding this page
  int ox = 0, oy = 0;                  // origin of the dialog's controls in the window
  int clientw = 0, clienth = 0;
  std::map<int, Fl_Widget*> widgets;   // controls with an id
  std::vector<Fl_Widget*> all;         // every control, labels too
  std::vector<dialogwin*> pages;       // page dialogs placed in this dialog's tab controls

  // Changes waiting for the window thread.
  std::mutex lock;
  std::set<int> dirty;
  bool wakepending = false;
  bool dead = false;  // the dialog closed; freed by the pending wake

  // The picture area.
  std::mutex piclock;
  bool hasarea = false, painted = false;
  int px = 0, py = 0, pw = 0, ph = 0;
  std::vector<uint8_t> pixels;
  picturebox* picture = nullptr;
  bool picdirty = false;  // under lock: the area needs a redraw
};

std::mutex winslock;
std::map<dialogrecord*, dialogwin*> wins;  // dialogs with a window (or a picture area)
std::atomic<bool> active{false};
std::thread::id windowthread;
std::atomic<bool> queuewake{false};
std::atomic<long> wakes{0}, applied{0};

dialogwin* winof(dialogrecord& dlg, bool create) {
  std::lock_guard<std::mutex> g(winslock);
  auto it = wins.find(&dlg);
  if (it != wins.end()) return it->second;
  if (!create) return nullptr;
  auto* w = new dialogwin;
  w->dlg = &dlg;
  wins[&dlg] = w;
  return w;
}

void applyrows(dialogwin* w);

// Runs on the window thread after a wake: the changed rows go into the widgets.
void awakeapply(void* p) {
  auto* w = static_cast<dialogwin*>(p);
  bool dead;
  {
    std::lock_guard<std::mutex> g(w->lock);
    w->wakepending = false;
    dead = w->dead;
  }
  if (dead) {
    delete w;
    return;
  }
  applyrows(w);
}

// Marks a change and wakes the window thread unless a wake is already pending.
void notechange(dialogwin* w, int id, bool picture) {
  bool wake = false;
  {
    std::lock_guard<std::mutex> g(w->lock);
    if (w->dead) return;
    if (picture) w->picdirty = true;
    else w->dirty.insert(id);
    if (!w->wakepending) w->wakepending = wake = true;
  }
  if (!wake) return;
  wakes++;
  if (Fl::awake(awakeapply, w) != 0) {
    // The toolkit's wake ring is full: the pump's sweep applies the change instead.
    std::lock_guard<std::mutex> g(w->lock);
    w->wakepending = false;
  }
}

// ---- widgets ----

// Every widget knows its dialog and control id.
struct ctlinfo {
  dialogwin* win;
  int id;
  int kind;
};
ctlinfo* infoof(Fl_Widget* wd) { return static_cast<ctlinfo*>(wd->user_data()); }

void setlook(Fl_Widget* wd) {
  wd->labeltype(plainlabel);
  wd->labelsize(fontsize);
  wd->labelfont(FL_HELVETICA);
}

// A static text: left-aligned (or centred, or right-aligned by its style), clipped, drawn
// exactly as written, one line per line feed; a sunken one has a frame and a margin.
struct statictext : Fl_Widget {
  std::string text;
  int style = 0;
  statictext(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}
  void draw() override {
    int m = 0;
    if (style & stylesunken) {
      draw_box(FL_THIN_DOWN_BOX, color());
      m = 3;
    } else {
      fl_color(color());
      fl_rectf(x(), y(), w(), h());
    }
    fl_push_clip(x() + m, y() + m, w() - 2 * m, h() - 2 * m);
    if (style & stylefixedfont) fl_font(FL_COURIER, fixedsize);
    else fl_font(FL_HELVETICA, fontsize);
    fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
    int ty = y() + m + fl_height() - fl_descent();
    for (size_t a = 0; a <= text.size(); ty += fl_height()) {
      size_t b = text.find('\n', a);
      if (b == std::string::npos) b = text.size();
      std::string line = text.substr(a, b - a);
      int tw = (int)fl_width(line.c_str());
      int tx = x() + m;
      if (style & stylecentre) tx = x() + (w() - tw) / 2;
      else if (style & styleright) tx = x() + w() - m - tw;
      fl_draw(line.c_str(), tx, ty);
      a = b + 1;
    }
    fl_pop_clip();
  }
};

// A group box: an etched frame from the middle of its caption down, the caption cut into it.
struct groupbox : Fl_Widget {
  std::string text;
  groupbox(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}
  void draw() override {
    fl_font(FL_HELVETICA, fontsize);
    int top = y() + fl_height() / 2;
    int right = x() + w() - 1, bottom = y() + h() - 1;
    fl_color(FL_DARK3);
    fl_rect(x(), top, w() - 1, bottom - top);
    fl_color(FL_LIGHT3);
    fl_line(x() + 1, top + 1, right - 1, top + 1);
    fl_line(x() + 1, top + 1, x() + 1, bottom - 1);
    fl_line(x(), bottom, right, bottom);
    fl_line(right, top, right, bottom);
    if (text.empty()) return;
    int tw = (int)fl_width(text.c_str()) + 4;
    fl_color(color());
    fl_rectf(x() + 6, y(), std::min(tw, w() - 8), fl_height());
    fl_push_clip(x() + 8, y(), w() - 10, fl_height());
    fl_color(FL_FOREGROUND_COLOR);
    fl_draw(text.c_str(), x() + 8, y() + fl_height() - fl_descent());
    fl_pop_clip();
  }
};

// A progress bar: a sunken box filled from the left by the position within the range.
struct progressbar : Fl_Widget {
  int minimum = 0, maximum = 100, value = 0;
  progressbar(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}
  void draw() override {
    draw_box(FL_THIN_DOWN_BOX, color());
    int ix = x() + 2, iy = y() + 2, iw = w() - 4, ih = h() - 4;
    if (iw <= 0 || ih <= 0 || maximum == minimum) return;
    long long span = (long long)maximum - minimum;
    long long done = (long long)value - minimum;
    if (done < 0) done = 0;
    if (span > 0 && done > span) done = span;
    int fill = span > 0 ? (int)(done * iw / span) : 0;
    fl_color(barcolor);
    if (fill > 0) fl_rectf(ix, iy, fill, ih);
  }
};

// A check box and a radio button report clicks; the table decides the tick (a radio
// button's neighbours are unticked by the layer, then shown by the next apply). Both draw
// their own background, mark and caption, the caption clipped to the control.
void drawcaption(Fl_Widget* w, int textx) {
  fl_push_clip(w->x(), w->y(), w->w(), w->h());
  fl_font(FL_HELVETICA, fontsize);
  fl_color(w->active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
  const char* t = w->label() ? w->label() : "";
  fl_draw(t, textx, w->y() + (w->h() - fl_height()) / 2 + fl_height() - fl_descent());
  fl_pop_clip();
}
constexpr int marksize = 13;  // the check square and the radio circle, pixels

struct checkbutton : Fl_Check_Button {
  checkbutton(int x, int y, int w, int h) : Fl_Check_Button(x, y, w, h) {}
  void draw() override {
    fl_color(color());
    fl_rectf(x(), y(), w(), h());
    int my = y() + (h() - marksize) / 2;
    draw_box(FL_DOWN_BOX, x(), my, marksize, marksize, active_r() ? FL_WHITE : color());
    if (value()) {
      fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
      for (int d = 0; d < 3; d++) {
        fl_line(x() + 3, my + 5 + d, x() + 5, my + 7 + d);
        fl_line(x() + 5, my + 7 + d, x() + 9, my + 3 + d);
      }
    }
    drawcaption(this, x() + marksize + 4);
  }
};
struct radiobutton : Fl_Round_Button {
  radiobutton(int x, int y, int w, int h) : Fl_Round_Button(x, y, w, h) { type(FL_TOGGLE_BUTTON); }
  void draw() override {
    fl_color(color());
    fl_rectf(x(), y(), w(), h());
    int my = y() + (h() - marksize) / 2;
    fl_color(active_r() ? FL_WHITE : color());
    fl_pie(x(), my, marksize, marksize, 0, 360);
    fl_color(FL_DARK3);
    fl_arc(x(), my, marksize, marksize, 0, 360);
    if (value()) {
      fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
      fl_pie(x() + 4, my + 4, marksize - 8, marksize - 8, 0, 360);
    }
    drawcaption(this, x() + marksize + 4);
  }
};

// An edit control; the arrow keys in the buddy of an up-down control spin it.
// An edit with the digits style takes no other characters, typed or pasted. A centred edit
// shows its text in the middle of the box (the toolkit's input draws from the left): its text
// goes into a strip as wide as the text, in the middle, where the mouse is read too.
struct editbox : Fl_Input {
  int updown = 0;  // the up-down control whose buddy this edit is (0: none)
  bool digits = false;
  bool centred = false;
  editbox(int x, int y, int w, int h) : Fl_Input(x, y, w, h) {}
  // The toolkit's input draws its text one pixel in from the area it is given and needs one
  // more behind the text for the cursor; two more keep it from scrolling.
  static constexpr int textlead = 1, texttail = 3;
  // The area the text is drawn and read in: the inside of the box, or for a centred edit the
  // strip in its middle (the whole inside when the text is wider).
  void textarea(int& X, int& Y, int& W, int& H) {
    const Fl_Boxtype b = box();
    X = x() + Fl::box_dx(b), Y = y() + Fl::box_dy(b), W = w() - Fl::box_dw(b), H = h() - Fl::box_dh(b);
    if (!centred) return;
    fl_font(textfont(), textsize());
    const int tw = (int)std::ceil(fl_width(value(), size()));
    const int lead = (W - tw) / 2 - textlead;
    if (lead < 0 || tw + textlead + texttail > W - lead) return;
    X += lead;
    W -= lead;
  }
  void draw() override {
    if (!centred) {
      Fl_Input::draw();
      return;
    }
    // The strip moves as the text changes: the box and the whole text are drawn each time.
    clear_damage(FL_DAMAGE_ALL);
    draw_box(box(), color());
    int X, Y, W, H;
    textarea(X, Y, W, H);
    drawtext(X, Y, W, H);
  }
  static bool alldigits(const char* t, int n) {
    for (int i = 0; i < n; i++)
      if (t[i] < '0' || t[i] > '9') return false;
    return true;
  }
  int handle(int e) override {
    ctlinfo* c = infoof(this);
    if (e == FL_KEYBOARD && updown && (Fl::event_key() == FL_Up || Fl::event_key() == FL_Down)) {
      userspin(*c->win->dlg, updown, Fl::event_key() == FL_Up ? 1 : -1);
      return 1;
    }
    if (digits && (e == FL_KEYBOARD || e == FL_PASTE) && Fl::event_length() > 0 &&
        !(Fl::event_state() & (FL_CTRL | FL_ALT | FL_META)) &&
        (unsigned char)Fl::event_text()[0] >= ' ' && !alldigits(Fl::event_text(), Fl::event_length()))
      return 1;
    // The mouse in a centred edit: read where the text is drawn.
    if (centred && (e == FL_PUSH || e == FL_DRAG || e == FL_RELEASE)) {
      if (e == FL_PUSH && Fl::focus() != this) {
        Fl::focus(this);
        handle(FL_FOCUS);
      }
      int X, Y, W, H;
      textarea(X, Y, W, H);
      return handletext(e, X, Y, W, H);
    }
    int r = Fl_Input::handle(e);
    if (e == FL_FOCUS) userfocus(*c->win->dlg, c->id, true);
    if (e == FL_UNFOCUS) userfocus(*c->win->dlg, c->id, false);
    return r;
  }
};

// An up-down control: the upper half spins up, the lower half down; held, it repeats.
struct updownbox : Fl_Widget {
  int pressed = 0;  // +1 upper half held, -1 lower, 0 none
  updownbox(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}
  static void repeat(void* p) {
    auto* u = static_cast<updownbox*>(p);
    if (!u->pressed) return;
    u->spin();
    Fl::repeat_timeout(0.1, repeat, p);
  }
  void spin() {
    ctlinfo* c = infoof(this);
    userspin(*c->win->dlg, c->id, pressed);
  }
  int handle(int e) override {
    switch (e) {
      case FL_PUSH:
        if (!active_r()) return 0;
        pressed = Fl::event_y() < y() + h() / 2 ? 1 : -1;
        spin();
        Fl::add_timeout(0.4, repeat, this);
        redraw();
        return 1;
      case FL_DRAG:
        return 1;
      case FL_RELEASE:
        pressed = 0;
        Fl::remove_timeout(repeat, this);
        redraw();
        return 1;
      default:
        return Fl_Widget::handle(e);
    }
  }
  void draw() override {
    int half = h() / 2;
    draw_box(pressed == 1 ? FL_DOWN_BOX : FL_UP_BOX, x(), y(), w(), half, color());
    draw_box(pressed == -1 ? FL_DOWN_BOX : FL_UP_BOX, x(), y() + half, w(), h() - half, color());
    fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
    int cx = x() + w() / 2, a = std::max(1, std::min(w() / 4, half / 3));
    int uy = y() + half / 2, dy = y() + half + (h() - half) / 2;
    fl_polygon(cx - a, uy + a / 2 + 1, cx + a, uy + a / 2 + 1, cx, uy - a / 2);
    fl_polygon(cx - a, dy - a / 2, cx + a, dy - a / 2, cx, dy + a / 2 + 1);
  }
};

// A list box: double clicks report their own event.
struct listbox : Fl_Hold_Browser {
  std::vector<std::string> items;
  listbox(int x, int y, int w, int h) : Fl_Hold_Browser(x, y, w, h) {
    format_char('\x01');
    column_char('\x02');
  }
};

// The items of a combo box as a menu of plain labels.
struct comboitems {
  std::vector<std::string> items;
  std::vector<Fl_Menu_Item> menuitems;
  void set(Fl_Menu_* m, const std::vector<std::string>& v) {
    items = v;
    menuitems.assign(items.size() + 1, Fl_Menu_Item{});
    std::memset(menuitems.data(), 0, sizeof(Fl_Menu_Item) * menuitems.size());
    for (size_t i = 0; i < items.size(); i++) {
      menuitems[i].text = items[i].c_str();
      menuitems[i].labeltype_ = plainlabel;
      menuitems[i].labelsize_ = fontsize;
      menuitems[i].labelfont_ = FL_HELVETICA;
    }
    m->menu(menuitems.data());
  }
};

// A drop-down list (a combo box without an edit field picks from its list).
struct combobox : Fl_Choice {
  comboitems list;
  combobox(int x, int y, int w, int h) : Fl_Choice(x, y, w, h) {}
};

// A combo box with an edit field: the user types a text or picks one from the list.
struct editcombo : Fl_Input_Choice {
  comboitems list;
  editcombo(int x, int y, int w, int h) : Fl_Input_Choice(x, y, w, h) {}
};

// A picture box: the last picture painted, stretched to the box (nearest pixel); before the
// first, black in a sunken box, else the dialog background.
struct picturectl : Fl_Widget {
  std::shared_ptr<const std::vector<uint8_t>> picture;
  int pw = 0, ph = 0;
  int style = 0;
  std::vector<uint8_t> scaled;
  picturectl(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}
  void draw() override {
    int m = 0;
    if (style & stylesunken) {
      draw_box(FL_THIN_DOWN_BOX, color());
      m = 2;
    }
    int iw = w() - 2 * m, ih = h() - 2 * m;
    if (iw <= 0 || ih <= 0) return;
    if (!picture || pw <= 0 || ph <= 0) {
      fl_color((style & stylesunken) ? FL_BLACK : color());
      fl_rectf(x() + m, y() + m, iw, ih);
      return;
    }
    scaled.resize((size_t)3 * iw * ih);
    for (int j = 0; j < ih; j++) {
      const uint8_t* src = picture->data() + (size_t)3 * pw * ((long long)j * ph / ih);
      uint8_t* dst = scaled.data() + (size_t)3 * iw * j;
      for (int i = 0; i < iw; i++) std::memcpy(dst + 3 * i, src + 3 * ((long long)i * pw / iw), 3);
    }
    fl_draw_image(scaled.data(), x() + m, y() + m, iw, ih, 3, 3 * iw);
  }
};

// The tabs of a tab control; the pages are dialogs of their own placed in its display area.
struct tabheader : Fl_Widget {
  std::vector<std::string> captions;
  int current = 0;  // 1-based, 0 none
  int rowh() const { return fontsize + 10; }
  tabheader(int x, int y, int w, int h) : Fl_Widget(x, y, w, h) {}
  int tabat(int ex) const {
    fl_font(FL_HELVETICA, fontsize);
    int tx = x() + 2;
    for (size_t i = 0; i < captions.size(); i++) {
      int tw = (int)fl_width(captions[i].c_str()) + 12;
      if (ex >= tx && ex < tx + tw) return (int)i + 1;
      tx += tw;
    }
    return 0;
  }
  int handle(int e) override {
    if (e == FL_PUSH && active_r() && Fl::event_y() < y() + rowh()) {
      int t = tabat(Fl::event_x());
      ctlinfo* c = infoof(this);
      if (t) userselect(*c->win->dlg, c->id, t);
      return 1;
    }
    return Fl_Widget::handle(e);
  }
  void draw() override {
    fl_color(color());
    fl_rectf(x(), y(), w(), rowh());
    draw_box(FL_UP_BOX, x(), y() + rowh() - 2, w(), h() - rowh() + 2, color());
    fl_font(FL_HELVETICA, fontsize);
    int tx = x() + 2;
    for (size_t i = 0; i < captions.size(); i++) {
      int tw = (int)fl_width(captions[i].c_str()) + 12;
      bool sel = (int)i + 1 == current;
      int ty = sel ? y() : y() + 2;
      draw_box(FL_UP_BOX, tx, ty, tw, rowh() - (ty - y()) + (sel ? 1 : -1), color());
      fl_color(active_r() ? FL_FOREGROUND_COLOR : fl_inactive(FL_FOREGROUND_COLOR));
      fl_draw(captions[i].c_str(), tx + 6, ty + 3 + fl_height() - fl_descent());
      tx += tw;
    }
  }
};

void picturebox::draw() {
  std::lock_guard<std::mutex> g(win->piclock);
  if (!win->painted || (int)win->pixels.size() < 3 * w() * h()) {
    fl_color(color());
    fl_rectf(x(), y(), w(), h());
    return;
  }
  fl_draw_image(win->pixels.data(), x(), y(), w(), h(), 3, 3 * w());
}

// The text a widget shows now.
std::string textof(Fl_Widget* wd) {
  if (auto* s = dynamic_cast<statictext*>(wd)) return s->text;
  if (auto* g = dynamic_cast<groupbox*>(wd)) return g->text;
  if (auto* e = dynamic_cast<Fl_Input*>(wd)) return e->value();
  if (auto* b = dynamic_cast<combobox*>(wd)) return b->text() ? b->text() : "";
  if (auto* b = dynamic_cast<editcombo*>(wd)) return b->value() ? b->value() : "";
  if (auto* l = dynamic_cast<listbox*>(wd)) return l->value() ? l->text(l->value()) : "";
  if (auto* t = dynamic_cast<tabheader*>(wd))
    return t->current >= 1 && (size_t)t->current <= t->captions.size() ? t->captions[(size_t)t->current - 1] : "";
  if (dynamic_cast<Fl_Button*>(wd)) return wd->label() ? wd->label() : "";
  return {};
}

void oncallback(Fl_Widget* wd, void*) {
  ctlinfo* c = infoof(wd);
  if (!c) return;
  dialogrecord& dlg = *c->win->dlg;
  switch (c->kind) {
    case ctlpush:
    case ctlcheck:
      userclick(dlg, c->id);
      break;
    case ctlradio:
      static_cast<Fl_Button*>(wd)->value(1);
      userclick(dlg, c->id);
      break;
    case ctledit:
      usertype(dlg, c->id, static_cast<Fl_Input*>(wd)->value());
      break;
    case ctllist: {
      auto* l = static_cast<listbox*>(wd);
      if (Fl::event_clicks() && Fl::event() == FL_PUSH) {
        dlguserevent(dlg, c->id, evdblclick);
        break;
      }
      userselect(dlg, c->id, l->value());
      break;
    }
    case ctlcombo:
      if (auto* e = dynamic_cast<editcombo*>(wd)) {
        // A pick from the list selects; anything else is typing in the edit field.
        if (e->menubutton()->changed()) {
          e->menubutton()->clear_changed();
          userselect(dlg, c->id, e->menubutton()->value() + 1);
        } else {
          usertype(dlg, c->id, e->value());
        }
        break;
      }
      userselect(dlg, c->id, static_cast<Fl_Choice*>(wd)->value() + 1);
      break;
    case ctltrack:
    case ctlscroll: {
      int now = (int)static_cast<Fl_Slider*>(wd)->value();
      int before = dlggetint(dlg, c->id, ixpos);
      if (now != before) userspin(dlg, c->id, now - before);
      break;
    }
    default:
      break;
  }
}

// Builds the widget of one template row at its pixel rectangle (window coordinates).
Fl_Widget* makewidget(dialogwin* w, const dlgcontrol& c, int x, int y, int wd, int h) {
  Fl_Widget* r = nullptr;
  switch (c.kind) {
    case ctlpush: r = new Fl_Button(x, y, wd, h); break;
    case ctlcheck: r = new checkbutton(x, y, wd, h); break;
    case ctlradio: r = new radiobutton(x, y, wd, h); break;
    case ctledit: {
      auto* e = new editbox(x, y, wd, h);
      e->textsize(fontsize);
      e->textfont(FL_HELVETICA);
      e->when(FL_WHEN_CHANGED);
      e->digits = (c.style & styledigits) != 0;
      e->centred = (c.style & stylecentre) != 0;
      if (c.style & stylecell) {
        e->box(FL_THIN_DOWN_BOX);
        e->textsize(cellsize);
      }
      if (c.style & stylereadonly) {
        // A value the program shows: no caret over its text when it has the focus.
        e->readonly(1);
        e->color(FL_BACKGROUND_COLOR);
        e->cursor_color(FL_BACKGROUND_COLOR);
      }
      r = e;
      break;
    }
    case ctlstatic: {
      auto* t = new statictext(x, y, wd, h);
      t->style = c.style;
      r = t;
      break;
    }
    case ctlpicture: {
      auto* p = new picturectl(x, y, wd, h);
      p->style = c.style;
      r = p;
      break;
    }
    case ctlgroup: r = new groupbox(x, y, wd, h); break;
    case ctlprogress: r = new progressbar(x, y, wd, h); break;
    case ctlupdown: r = new updownbox(x, y, wd, h); break;
    case ctllist: {
      auto* l = new listbox(x, y, wd, h);
      l->textsize(fontsize);
      if (c.style & stylefixedfont) l->textfont(FL_COURIER), l->textsize(fixedsize);
      l->when(FL_WHEN_CHANGED | FL_WHEN_NOT_CHANGED);
      r = l;
      break;
    }
    case ctlcombo: {
      // The template's height includes the dropped-down list; the box shows one line.
      if (c.style & styleeditable) {
        auto* b = new editcombo(x, y, wd, std::min(h, fontsize + 10));
        b->textsize(fontsize);
        b->input()->textfont(FL_HELVETICA);
        b->when(FL_WHEN_CHANGED);
        r = b;
        break;
      }
      auto* b = new combobox(x, y, wd, std::min(h, fontsize + 10));
      b->textsize(fontsize);
      r = b;
      break;
    }
    case ctltrack: {
      auto* s = new Fl_Slider(x, y, wd, h);
      s->type(wd >= h ? FL_HOR_NICE_SLIDER : FL_VERT_NICE_SLIDER);
      s->step(1);
      r = s;
      break;
    }
    case ctlscroll: {
      auto* s = new Fl_Scrollbar(x, y, wd, h);
      s->type(wd >= h ? FL_HORIZONTAL : FL_VERTICAL);
      s->step(1);
      r = s;
      break;
    }
    case ctltab: r = new tabheader(x, y, wd, h); break;
    default: r = new statictext(x, y, wd, h); break;
  }
  setlook(r);
  r->user_data(new ctlinfo{w, c.id, c.kind});
  r->callback(oncallback);
  return r;
}

// The display area of a tab control: below the tabs, inside the frame (window coordinates).
void tabarea(Fl_Widget* t, int& x, int& y, int& w, int& h) {
  auto* th = static_cast<tabheader*>(t);
  x = t->x() + 2;
  y = t->y() + th->rowh() + 1;
  w = t->w() - 4;
  h = t->h() - th->rowh() - 3;
}

// Page visibility: a page dialog shows while its parent's tab control is on its page.
void showpages(dialogwin* w, int tabid) {
  dlgcontrol tab;
  {
    std::lock_guard<std::mutex> g(w->dlg->lock);
    auto it = w->dlg->index.find(tabid);
    if (it == w->dlg->index.end()) return;
    tab = w->dlg->rows[(size_t)it->second];
  }
  int current = tab.selection > 0 ? tab.selection : 1;
  auto pg = tab.pages.find(current);
  int pageid = pg == tab.pages.end() ? 0 : pg->second;
  // The page bound to the current tab shows, whatever show mode it was created with.
  for (dialogwin* p : w->pages) {
    if (p->parenttab != tabid || !p->page) continue;
    bool on = p->dlg->id == pageid;
    if (on) p->page->show();
    else p->page->hide();
  }
  if (w->window) w->window->redraw();
}

// Copies one row of the table into its widget (window thread).
void applyrow(dialogwin* w, int id) {
  auto it = w->widgets.find(id);
  if (it == w->widgets.end()) return;
  dlgcontrol c;
  {
    std::lock_guard<std::mutex> g(w->dlg->lock);
    auto r = w->dlg->index.find(id);
    if (r == w->dlg->index.end()) return;
    const dlgcontrol& row = w->dlg->rows[(size_t)r->second];
    c.kind = row.kind;
    c.text = row.text;
    c.value = row.value;
    c.minimum = row.minimum;
    c.maximum = row.maximum;
    c.ticked = row.ticked;
    c.enabled = row.enabled;
    c.selection = row.selection;
    c.items = row.items;
    c.pages = row.pages;
    c.style = row.style;
    c.redraw = row.redraw;
    c.picture = row.picture;
    c.picturew = row.picturew;
    c.pictureh = row.pictureh;
  }
  applied++;
  Fl_Widget* wd = it->second;
  if (c.enabled) wd->activate();
  else wd->deactivate();
  switch (c.kind) {
    case ctlpush:
      if (!wd->label() || c.text != wd->label()) wd->copy_label(c.text.c_str());
      break;
    case ctlcheck:
    case ctlradio:
      if (!wd->label() || c.text != wd->label()) wd->copy_label(c.text.c_str());
      static_cast<Fl_Button*>(wd)->value(c.ticked ? 1 : 0);
      break;
    case ctledit: {
      auto* e = static_cast<Fl_Input*>(wd);
      if (trimright(e->value()) != c.text) e->value(c.text.c_str());
      break;
    }
    case ctlstatic: {
      auto* s = static_cast<statictext*>(wd);
      if (s->text != c.text) s->text = c.text;
      break;
    }
    case ctlgroup:
      static_cast<groupbox*>(wd)->text = c.text;
      if (wd->parent()) wd->parent()->redraw();
      break;
    case ctlprogress: {
      auto* p = static_cast<progressbar*>(wd);
      p->minimum = c.minimum, p->maximum = c.maximum, p->value = c.value;
      break;
    }
    case ctlupdown:
      break;
    case ctllist: {
      auto* l = static_cast<listbox*>(wd);
      if (c.style & stylefixedfont) l->textfont(FL_COURIER), l->textsize(fixedsize);
      if (!c.redraw) return;  // shown as it was until redrawing is on again
      if (l->items != c.items) {
        l->items = c.items;
        l->clear();
        for (auto& s : l->items) l->add(s.c_str());
      }
      if (c.selection >= 1 && c.selection <= l->size()) l->value(c.selection);
      else l->deselect();
      break;
    }
    case ctlcombo: {
      if (auto* e = dynamic_cast<editcombo*>(wd)) {
        if (e->list.items != c.items) e->list.set(e->menubutton(), c.items);
        if (trimright(e->value() ? e->value() : "") != c.text) e->value(c.text.c_str());
        break;
      }
      auto* b = static_cast<combobox*>(wd);
      if (b->list.items != c.items) b->list.set(b, c.items);
      if (c.selection >= 1 && (size_t)c.selection <= c.items.size()) b->value(c.selection - 1);
      else b->value(-1);
      break;
    }
    case ctlpicture: {
      auto* p = static_cast<picturectl*>(wd);
      p->picture = c.picture;
      p->pw = c.picturew;
      p->ph = c.pictureh;
      break;
    }
    case ctltrack:
    case ctlscroll: {
      auto* s = static_cast<Fl_Slider*>(wd);
      s->bounds(c.minimum, c.maximum);
      s->value(c.value);
      break;
    }
    case ctltab: {
      auto* t = static_cast<tabheader*>(wd);
      t->captions = c.items;
      t->current = c.selection > 0 ? c.selection : 1;
      showpages(w, id);
      break;
    }
    default:
      break;
  }
  wd->redraw();
}

void applyrows(dialogwin* w) {
  std::set<int> ids;
  bool pic;
  {
    std::lock_guard<std::mutex> g(w->lock);
    ids.swap(w->dirty);
    pic = w->picdirty;
    w->picdirty = false;
  }
  for (int id : ids) applyrow(w, id);
  if (pic && w->picture) w->picture->redraw();
}

// ---- the backend ----

void makepicture(dialogwin* w) {
  if (w->picture || !w->hasarea) return;
  Fl_Group* into = w->window ? static_cast<Fl_Group*>(w->window) : w->page;
  if (!into) return;
  into->begin();
  w->picture = new picturebox(w, w->ox + w->px, w->oy + w->py, w->pw, w->ph);
  into->end();
  Fl_Group::current(nullptr);  // new windows are top-level
}

void onwindowclose(Fl_Widget* wd, void* p) {
  // The close box, or Escape: the close request of the main loop; the window stays.
  auto* w = static_cast<dialogwin*>(p);
  userclose(*w->dlg);
}

void writedump(dialogwin* w, const std::string& prefix);

// The first widget of a kind in a chooser's window: its file-name field, its OK button.
template <class W>
W* findwidget(Fl_Group* g) {
  for (int i = 0; i < g->children(); i++) {
    Fl_Widget* w = g->child(i);
    if (auto* f = dynamic_cast<W*>(w)) return f;
    if (Fl_Group* sub = w->as_group())
      if (W* f = findwidget<W>(sub)) return f;
  }
  return nullptr;
}

// Typing into the chooser's field: OK may be pressed once there is a name.
void chooserfield(Fl_Widget* w, void* ok) {
  auto* field = static_cast<Fl_File_Input*>(w);
  auto* button = static_cast<Fl_Widget*>(ok);
  if (field->value() && *field->value()) button->activate();
  else button->deactivate();
}

// The toolkit's file chooser, modal: the filter "description (*.{d2v,avs})" from the
// request's patterns "*.d2v;*.avs", the starting folder, the title; the user picks a file or
// types a name, new or not (whether the file exists is the caller's question), into a name
// field that starts empty. The chooser's completion of typed names is switched off: in FLTK
// 1.3.8 it puts the folder in front of every character typed. A relative name is taken in the
// folder the chooser shows.
bool filechooser(const dlgfilerequest& r, std::string& path) {
  std::string exts;
  bool plain = true;
  for (size_t a = 0; a <= r.patterns.size();) {
    size_t b = r.patterns.find(';', a);
    if (b == std::string::npos) b = r.patterns.size();
    std::string one = r.patterns.substr(a, b - a);
    if (one.rfind("*.", 0) == 0) {
      exts += (exts.empty() ? "" : ",") + one.substr(2);
    } else if (!one.empty()) {
      plain = false;
    }
    a = b + 1;
  }
  std::string filter;
  if (!exts.empty() && plain) {
    std::string desc = r.description;
    if (size_t p = desc.find('('); p != std::string::npos) desc = trimright(desc.substr(0, p));
    filter = desc + " (" + (exts.find(',') == std::string::npos ? "*." + exts : "*.{" + exts + "}") + ")";
  }
  Fl_Group::current(nullptr);
  // The chooser's widgets take the keyboard focus as usual (the dialogs' own do not show it).
  int focusbefore = Fl::visible_focus();
  Fl::visible_focus(1);
  Fl_File_Chooser fc(r.folder.empty() ? "." : r.folder.c_str(), filter.empty() ? "*" : filter.c_str(),
                     Fl_File_Chooser::CREATE, r.title.c_str());
  fc.preview(0);
  fc.show();
  if (Fl_Window* win = fc.newButton->window()) {
    Fl_File_Input* field = findwidget<Fl_File_Input>(win);
    Fl_Return_Button* ok = findwidget<Fl_Return_Button>(win);
    if (field && ok) {
      // Every chooser starts with an empty name (the toolkit puts the folder's path there).
      field->value("");
      field->callback(chooserfield, ok);
      field->when(FL_WHEN_CHANGED);
      field->take_focus();
      chooserfield(field, ok);
    }
  }
  while (fc.shown()) Fl::wait();
  Fl::visible_focus(focusbefore);
  if (fc.count() < 1 || !fc.value(1) || !*fc.value(1)) return false;
  path = fc.value(1);
  if (path[0] != '/') {
    std::string folder = fc.directory() ? fc.directory() : "";
    if (folder.empty()) folder = ".";
    path = folder + (folder.back() == '/' ? "" : "/") + path;
  }
  return true;
}

// The dialog's icon on its top-level window (the toolkit keeps a copy of the image).
void applyicon(dialogwin* w) {
  int size = 0;
  std::vector<uint8_t> rgba;
  if (!w || !w->window || !dlgiconpixels(w->dlg->icon, size, rgba)) return;
  Fl_RGB_Image image(rgba.data(), size, size, 4);
  w->window->icon(&image);
}

struct fltkbackend : dlgbackend {
  void shown(dialogrecord& dlg) override {
    dialogwin* w = winof(dlg, true);
    if (w->window || w->page) {
      // Shown again: only the visibility changes.
      if (w->window) {
        if (dlg.showmode) w->window->show();
        else w->window->hide();
      }
      if (w->parent) showpages(w->parent, w->parenttab);
      return;
    }
    const dlgtemplate* t = dlg.tmpl;
    w->clientw = unitx(t ? t->w : 0);
    w->clienth = unity(t ? t->h : 0);
    dialogwin* pw = dlg.parent ? winof(*dlg.parent, false) : nullptr;
    Fl_Widget* tab = nullptr;
    if (pw) {
      auto it = pw->widgets.find(dlg.parentid);
      if (it != pw->widgets.end()) tab = it->second;
    }
    Fl_Group* into;
    if (pw && tab && (pw->window || pw->page)) {
      int ax, ay, aw, ah;
      tabarea(tab, ax, ay, aw, ah);
      Fl_Group* host = pw->window ? static_cast<Fl_Group*>(pw->window) : pw->page;
      host->begin();
      w->page = new Fl_Group(ax, ay, aw, ah);
      w->page->box(FL_NO_BOX);
      w->ox = ax, w->oy = ay;
      w->parent = pw;
      w->parenttab = dlg.parentid;
      pw->pages.push_back(w);
      into = w->page;
    } else {
      int x = unitx(t ? t->x : 0), y = unity(t ? t->y : 0);
      w->window = new dialogwindow(x, y, w->clientw, w->clienth);
      w->window->copy_label(t && t->caption ? t->caption : "");
      w->window->size_range(w->clientw, w->clienth, w->clientw, w->clienth);
      w->window->callback(onwindowclose, w);
      w->window->xclass("ostrel");
      into = w->window;
    }
    std::vector<dlgcontrol> rows;
    {
      std::lock_guard<std::mutex> g(dlg.lock);
      rows = dlg.rows;
    }
    int lastedit = 0;
    for (auto& c : rows) {
      int x = w->ox + unitx(c.x), y = w->oy + unity(c.y);
      int wd = unitx(c.x + c.w) - unitx(c.x), h = unity(c.y + c.h) - unity(c.y);
      // Grid cells overlap their neighbours by one unit in the template, for one frame line
      // between them: each is one pixel larger than its pitch, so a neighbour covers only that
      // line and the text is centred in what shows.
      if (c.style & stylecell) {
        wd = unitx(c.x + c.w - 1) - unitx(c.x) + 1;
        h = unity(c.y + c.h - 1) - unity(c.y) + 1;
      }
      Fl_Widget* widget = makewidget(w, c, x, y, wd, h);
      if (c.kind == ctlstatic || c.kind == ctlgroup) {
        if (c.kind == ctlstatic) static_cast<statictext*>(widget)->text = c.text;
        else static_cast<groupbox*>(widget)->text = c.text;
      } else if (c.kind == ctlpush || c.kind == ctlcheck || c.kind == ctlradio) {
        widget->copy_label(c.text.c_str());
      }
      // An up-down control takes the edit just before it as its buddy.
      if (c.kind == ctlupdown && lastedit) {
        if (auto e = w->widgets.find(lastedit); e != w->widgets.end())
          static_cast<editbox*>(e->second)->updown = c.id;
      }
      if (c.kind == ctledit) lastedit = c.id;
      else if (c.kind != ctlstatic) lastedit = 0;
      if (c.id != -1) w->widgets[c.id] = widget;
      w->all.push_back(widget);
    }
    into->end();
    Fl_Group::current(nullptr);  // new windows are top-level
    makepicture(w);
    for (auto& c : rows)
      if (c.id != -1) applyrow(w, c.id);
    applyicon(w);
    if (w->window && dlg.showmode) w->window->show();
    if (w->parent) showpages(w->parent, w->parenttab);
  }

  void changed(dialogrecord& dlg, const dlgcontrol& row) override {
    if (row.id == -1) return;
    if (dialogwin* w = winof(dlg, false)) notechange(w, row.id, false);
  }

  void visibility(dialogrecord& dlg) override {
    dialogwin* w = winof(dlg, false);
    if (!w || !w->window || std::this_thread::get_id() != windowthread) return;
    if (dlg.showmode) w->window->show();
    else w->window->hide();
    Fl::flush();
  }

  void focus(dialogrecord* dlg, int id) override {
    if (std::this_thread::get_id() != windowthread) return;
    Fl_Widget* to = nullptr;
    if (dlg)
      if (dialogwin* w = winof(*dlg, false))
        if (auto it = w->widgets.find(id); it != w->widgets.end()) to = it->second;
    if (auto* e = dynamic_cast<editcombo*>(to)) to = e->input();
    // The layer has moved the focus already: the widgets' focus events change nothing more.
    if (to) to->take_focus();
    else Fl::focus(nullptr);
  }

  void icon(dialogrecord& dlg) override {
    if (std::this_thread::get_id() == windowthread) applyicon(winof(dlg, false));
  }

  bool choosefile(const dlgfilerequest& r, std::string& path) override {
    if (std::this_thread::get_id() != windowthread) return false;
    return filechooser(r, path);
  }

  void closed(dialogrecord& dlg) override {
    dialogwin* w;
    {
      std::lock_guard<std::mutex> g(winslock);
      auto it = wins.find(&dlg);
      if (it == wins.end()) return;
      w = it->second;
      wins.erase(it);
    }
    if (const char* d = std::getenv("OSTREL_WINDOW_DUMP"); d && *d && w->window) writedump(w, d);
    for (Fl_Widget* wd : w->all) {
      delete infoof(wd);
      wd->user_data(nullptr);
      if (auto* u = dynamic_cast<updownbox*>(wd)) Fl::remove_timeout(updownbox::repeat, u);
    }
    if (w->parent) {
      auto& v = w->parent->pages;
      v.erase(std::remove(v.begin(), v.end(), w), v.end());
    }
    // Pages still open lose their widgets with this window: forget them now.
    for (dialogwin* p : w->pages) {
      for (Fl_Widget* wd : p->all) {
        delete infoof(wd);
        wd->user_data(nullptr);
        if (auto* u = dynamic_cast<updownbox*>(wd)) Fl::remove_timeout(updownbox::repeat, u);
      }
      p->parent = nullptr;
      p->page = nullptr;
      p->picture = nullptr;
      p->widgets.clear();
      p->all.clear();
    }
    if (w->window) {
      w->window->hide();
      delete w->window;  // its widgets with it
    } else if (w->page) {
      if (w->page->parent()) w->page->parent()->remove(w->page);
      delete w->page;
    }
    w->window = nullptr;
    w->page = nullptr;
    w->picture = nullptr;
    w->widgets.clear();
    w->all.clear();
    Fl::flush();
    bool pending;
    {
      std::lock_guard<std::mutex> g(w->lock);
      w->dead = true;
      pending = w->wakepending;
    }
    if (!pending) delete w;
  }
};
fltkbackend backend;

// Applies what a failed wake left behind.
void sweep() {
  std::vector<dialogwin*> v;
  {
    std::lock_guard<std::mutex> g(winslock);
    for (auto& [d, w] : wins) v.push_back(w);
  }
  for (dialogwin* w : v) {
    bool stalled;
    {
      std::lock_guard<std::mutex> g(w->lock);
      stalled = !w->wakepending && (!w->dirty.empty() || w->picdirty);
    }
    if (stalled) applyrows(w);
  }
}

void pump(int ms) {
  queuewake = false;
  Fl::wait(ms / 1000.0);
  sweep();
}

void wake() {
  if (!queuewake.exchange(true)) Fl::awake((void*)nullptr);
}

// ---- the message box ----

struct boxstate {
  int answer = 0;
  Fl_Window* win = nullptr;
};
struct boxchoice {
  boxstate* state;
  int answer;
};

void boxbutton(Fl_Widget* b, void* p) {
  auto* c = static_cast<boxchoice*>(p);
  c->state->answer = c->answer;
  c->state->win->hide();
}

void boxclose(Fl_Widget* w, void* p) {
  // A yes/no box has no cancel: its close box and Escape do nothing; an OK box closes as OK.
  auto* s = static_cast<boxstate*>(p);
  if (s->answer == -1) return;
  s->answer = idok;
  w->hide();
}

// The modal box on the window thread: the text beside a warning or information mark, the
// buttons below it (Yes and No, or OK), the first button the default.
int modalbox(const std::string& text, const std::string& caption, int flags) {
  bool yesno = (flags & 0xF) == mbyesno;
  fl_font(FL_HELVETICA, fontsize);
  int tw = 0, th = 0;
  fl_measure(text.c_str(), tw, th, 0);
  const int mark = 32, pad = 12, bw = 75, bh = 23, gap = 6;
  int nbuttons = yesno ? 2 : 1;
  int textx = (flags & 0xF0) ? pad + mark + pad : pad;
  int w = std::max(textx + tw + pad, nbuttons * bw + (nbuttons - 1) * gap + 2 * pad);
  int texth = std::max(th, (flags & 0xF0) ? mark : 0);
  int h = pad + texth + pad + bh + pad;
  boxstate state;
  state.answer = yesno ? -1 : 0;
  Fl_Group::current(nullptr);
  Fl_Window win(w, h);
  win.copy_label(caption.c_str());
  state.win = &win;
  win.set_modal();
  win.callback(boxclose, &state);
  if (flags & 0xF0) {
    auto* m = new Fl_Box(pad, pad, mark, mark);
    m->box(FL_OVAL_BOX);
    bool warn = (flags & 0xF0) == mbiconwarning;
    m->color(warn ? fl_rgb_color(240, 200, 0) : fl_rgb_color(0, 90, 200));
    m->labelcolor(warn ? FL_BLACK : FL_WHITE);
    m->labelfont(FL_HELVETICA_BOLD);
    m->labelsize(20);
    m->labeltype(plainlabel);
    m->label(warn ? "!" : "i");
  }
  auto* t = new Fl_Box(textx, pad + (texth - th) / 2, tw, th);
  t->labeltype(plainlabel);
  t->labelsize(fontsize);
  t->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_TOP);
  t->copy_label(text.c_str());
  int bx = (w - (nbuttons * bw + (nbuttons - 1) * gap)) / 2, by = h - pad - bh;
  boxchoice choices[2] = {{&state, yesno ? idyes : idok}, {&state, idno}};
  Fl_Button* first = new Fl_Return_Button(bx, by, bw, bh);
  first->copy_label(yesno ? "Yes" : "OK");
  first->labelsize(fontsize);
  first->callback(boxbutton, &choices[0]);
  if (yesno) {
    first->shortcut('y');
    auto* no = new Fl_Button(bx + bw + gap, by, bw, bh);
    no->copy_label("No");
    no->labelsize(fontsize);
    no->shortcut('n');
    no->callback(boxbutton, &choices[1]);
  }
  win.end();
  Fl_Group::current(nullptr);
  win.hotspot(&win);
  win.show();
  while (win.shown()) Fl::wait();
  return state.answer > 0 ? state.answer : (yesno ? idno : idok);
}

int boxhook(const std::string& text, const std::string& caption, int flags) {
  if (std::this_thread::get_id() == windowthread) return modalbox(text, caption, flags);
  // Off the window thread the box cannot wait for the user: it is answered as headless.
  std::string line = caption + ": ";
  for (char c : text) line += (c == '\r' || c == '\n') ? ' ' : c;
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
  return (flags & 0xF) == mbyesno ? idyes : idok;
}

// ---- snapshots and the test dump ----

bool snapshot(dialogwin* w, std::vector<uint8_t>& rgb, int& width, int& height) {
  if (!w || !w->window) return false;
  dialogwindow* win = w->window;
  width = win->w();
  height = win->h();
  rgb.assign((size_t)3 * width * height, 0);
  Fl::flush();
  Fl_Offscreen off = fl_create_offscreen(width, height);
  fl_begin_offscreen(off);
  win->drawall();
  fl_read_image(rgb.data(), 0, 0, width, height);
  fl_end_offscreen();
  fl_delete_offscreen(off);
  win->redraw();
  return true;
}

void writetable(std::FILE* f, dialogwin* w) {
  {
    std::lock_guard<std::mutex> g(w->dlg->lock);
    for (auto& c : w->dlg->rows) {
      if (c.id == -1) continue;
      std::fprintf(f, "%d kind=%d enabled=%d ticked=%d value=%d min=%d max=%d sel=%d text=%s\n", c.id,
                   c.kind, c.enabled ? 1 : 0, c.ticked ? 1 : 0, c.value, c.minimum, c.maximum,
                   c.selection, c.text.c_str());
    }
  }
  for (auto& [id, wd] : w->widgets)
    std::fprintf(f, "widget %d active=%d visible=%d shows=%s\n", id, wd->active() ? 1 : 0,
                 wd->visible_r() ? 1 : 0, textof(wd).c_str());
}

void writeppm(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height) {
  if (FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    std::fwrite(rgb.data(), 1, rgb.size(), f);
    std::fclose(f);
  }
}

// prefix.txt: the control tables of the window's dialog and of its pages ("dialog N" before
// each page's); prefix.ppm: the window as shown; prefix-N.ppm: the window with page N shown.
void writedump(dialogwin* w, const std::string& prefix) {
  if (FILE* f = std::fopen((prefix + ".txt").c_str(), "w")) {
    writetable(f, w);
    for (dialogwin* p : w->pages) {
      std::fprintf(f, "dialog %d\n", p->dlg->id);
      writetable(f, p);
    }
    std::fclose(f);
  }
  std::vector<uint8_t> rgb;
  int width, height;
  if (!snapshot(w, rgb, width, height)) return;
  writeppm(prefix + ".ppm", rgb, width, height);
  for (dialogwin* p : w->pages) {
    if (!p->page) continue;
    for (dialogwin* o : w->pages)
      if (o->parenttab == p->parenttab && o->page) o->page->hide();
    p->page->show();
    if (snapshot(w, rgb, width, height)) writeppm(prefix + "-" + std::to_string(p->dlg->id) + ".ppm", rgb, width, height);
  }
  std::set<int> tabs;
  for (dialogwin* p : w->pages) tabs.insert(p->parenttab);
  for (int t : tabs) showpages(w, t);
}

}  // namespace

bool windowstart() {
  if (active) return true;
  if (dlgheadless()) return false;
  // Asked first ourselves: the toolkit ends the process when it cannot open the display.
  Display* d = XOpenDisplay(nullptr);
  if (!d) return false;
  fl_open_display(d);
  windowthread = std::this_thread::get_id();
  Fl::lock();  // makes Fl::awake work from other threads; Fl::wait releases it
  Fl::set_labeltype(plainlabel, plaindraw, plainmeasure);
  Fl::set_font(FL_HELVETICA, " Liberation Sans");
  Fl::set_font(FL_HELVETICA_BOLD, "BLiberation Sans");
  Fl::set_font(FL_COURIER, " Liberation Mono");
  Fl::background(212, 208, 200);
  Fl::scheme("none");
  FL_NORMAL_SIZE = fontsize;
  Fl::visible_focus(0);
  dlgsetbackend(&backend);
  setmsgboxhook(boxhook);
  setqueuepump(pump, wake);
  active = true;
  return true;
}

bool windowactive() { return active; }

bool windowclientsize(dialogrecord& dlg, int& width, int& height) {
  if (!active || !dlg.tmpl) return false;
  width = unitx(dlg.tmpl->w);
  height = unity(dlg.tmpl->h);
  return true;
}

void windowpicturearea(dialogrecord& dlg, int x, int y, int width, int height) {
  if (!active || width <= 0 || height <= 0) return;
  dialogwin* w = winof(dlg, true);
  {
    std::lock_guard<std::mutex> g(w->piclock);
    w->hasarea = true;
    w->painted = false;
    w->px = x, w->py = y, w->pw = width, w->ph = height;
    w->pixels.assign((size_t)3 * width * height, 0);
  }
  if (std::this_thread::get_id() == windowthread && !w->picture) makepicture(w);
}

void windowpaint(dialogrecord& dlg,
                 const std::function<void(uint8_t* rgb, int width, int height, int pitch)>& paint) {
  // Held throughout, so the dialog cannot close under a painting pass thread.
  std::lock_guard<std::mutex> all(winslock);
  auto it = wins.find(&dlg);
  if (it == wins.end()) return;
  dialogwin* w = it->second;
  {
    std::lock_guard<std::mutex> g(w->piclock);
    if (!w->hasarea) return;
    paint(w->pixels.data(), w->pw, w->ph, 3 * w->pw);
    w->painted = true;
  }
  notechange(w, 0, true);
}

void windowpump(int ms) {
  if (active) pump(ms);
}

bool windowsnapshot(dialogrecord& dlg, std::vector<uint8_t>& rgb, int& width, int& height) {
  return snapshot(winof(dlg, false), rgb, width, height);
}

long windowwakes() { return wakes; }
long windowapplied() { return applied; }

std::string windowtext(dialogrecord& dlg, int id) {
  dialogwin* w = winof(dlg, false);
  if (!w) return {};
  auto it = w->widgets.find(id);
  return it == w->widgets.end() ? std::string() : textof(it->second);
}

bool windowshows(dialogrecord& dlg, int id) {
  dialogwin* w = winof(dlg, false);
  if (!w) return false;
  auto it = w->widgets.find(id);
  if (it == w->widgets.end()) return false;
  for (Fl_Widget* p = it->second; p; p = p->parent())
    if (!p->visible() && p->parent()) return false;
  return it->second->visible();
}

int windowtextwidth(const std::string& text, bool fixed) {
  if (!active) return 0;
  if (fixed) fl_font(FL_COURIER, fixedsize);
  else fl_font(FL_HELVETICA, fontsize);
  return (int)std::ceil(fl_width(text.c_str()));
}

bool windowtabspot(dialogrecord& dlg, int id, int tab, int& x, int& y) {
  dialogwin* w = winof(dlg, false);
  if (!w) return false;
  auto it = w->widgets.find(id);
  auto* t = it == w->widgets.end() ? nullptr : dynamic_cast<tabheader*>(it->second);
  if (!t || tab < 1 || (size_t)tab > t->captions.size()) return false;
  fl_font(FL_HELVETICA, fontsize);
  int tx = t->x() + 2;
  for (int i = 1; i < tab; i++) tx += (int)fl_width(t->captions[(size_t)i - 1].c_str()) + 12;
  x = tx + ((int)fl_width(t->captions[(size_t)tab - 1].c_str()) + 12) / 2;
  y = t->y() + t->rowh() / 2;
  return true;
}

bool windowshown(dialogrecord& dlg) {
  dialogwin* w = winof(dlg, false);
  return w && w->window && w->window->shown() && w->window->visible();
}

#else  // no window toolkit: always headless

bool windowstart() { return false; }
bool windowactive() { return false; }
bool windowclientsize(dialogrecord&, int&, int&) { return false; }
void windowpicturearea(dialogrecord&, int, int, int, int) {}
void windowpaint(dialogrecord&, const std::function<void(uint8_t*, int, int, int)>&) {}
void windowpump(int) {}
bool windowsnapshot(dialogrecord&, std::vector<uint8_t>&, int&, int&) { return false; }
long windowwakes() { return 0; }
long windowapplied() { return 0; }
std::string windowtext(dialogrecord&, int) { return {}; }
bool windowshows(dialogrecord&, int) { return false; }
int windowtextwidth(const std::string&, bool) { return 0; }
bool windowtabspot(dialogrecord&, int, int, int&, int&) { return false; }
bool windowshown(dialogrecord&) { return false; }

#endif  // OSTREL_WINDOW
