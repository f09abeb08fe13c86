#include "dialogs/dialogs.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <optional>

#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "platform/msgbox.h"
#include "platform/queue.h"
#include "platform/statusout.h"

namespace {

std::mutex reslock;
std::vector<const dlgtemplate*> resources;
std::vector<dlgiconres> icons;

std::atomic<dlgbackend*> backend{nullptr};
std::atomic<bool> directevents{false};

std::mutex sinklock;
std::function<void(const std::string&)> headlesssink;
std::function<std::string(dialogrecord&)> progressline;

// The keyboard focus: one control of all dialogs, or none.
std::mutex focuslock;
dialogrecord* focusdlg = nullptr;
int focusid = 0;

// The headless file chooser's script: a path chosen, or nothing for a cancel.
std::mutex chooserlock;
std::deque<std::optional<std::string>> chooseranswers;
dlgfilerequest lastrequest;

// The average character width of the fixed-pitch font, pixels: the backends draw lists in that
// font at a size whose characters are this wide.
constexpr int fixedcharwidth = 7;

std::string trimright(const std::string& s) {
  size_t n = s.find_last_not_of(' ');
  return n == std::string::npos ? std::string() : s.substr(0, n + 1);
}

std::string padto(const std::string& s, int length) {
  if (length < 0) length = 0;
  std::string r = s.substr(0, std::min<size_t>(s.size(), (size_t)length));
  r.resize((size_t)length, ' ');
  return r;
}

// The headless backend: the status control's changes while the dialog is visible go to a
// test's sink as they are, or to the status output on stdout (platform/statusout.h), where a
// progress line replaces the one before it and a message keeps its own line.
struct headlessbackend : dlgbackend {
  void changed(dialogrecord& dlg, const dlgcontrol& row) override {
    if (!dlg.tmpl || !dlg.tmpl->statusid || !dlgvisible(dlg)) return;
    const bool status = row.id == dlg.tmpl->statusid;
    std::function<void(const std::string&)> sink;
    std::function<std::string(dialogrecord&)> progress;
    {
      std::lock_guard<std::mutex> g(sinklock);
      sink = headlesssink;
      progress = progressline;
    }
    if (sink || !progress || statusmode() == statusevery) {
      if (!status) return;
      if (sink) sink(row.text);
      else statusmessage(row.text);
      return;
    }
    // Any change may be part of the progress (the percentage, the frame rate).
    std::string line = progress(dlg);
    if (!line.empty()) statusprogress(line);
    else if (status) statusmessage(row.text);
  }
  void closed(dialogrecord& dlg) override { statusbreak(); }
};
headlessbackend headless;

dlgbackend& currentbackend() {
  dlgbackend* b = backend;
  return b ? *b : headless;
}

int defaultevent(int kind) {
  switch (kind) {
    case ctlpush: case ctlcheck: case ctlradio: return evclick;
    case ctllist: case ctlcombo: case ctltab: return evselchange;
    default: return evchange;
  }
}

bool isslider(int kind) {
  return kind == ctlupdown || kind == ctlprogress || kind == ctltrack || kind == ctlscroll;
}

int clamprange(const dlgcontrol& c, int v) {
  int lo = std::min(c.minimum, c.maximum), hi = std::max(c.minimum, c.maximum);
  return std::clamp(v, lo, hi);
}

void tick(dialogrecord& dlg, dlgcontrol& c, bool state) {
  c.ticked = state;
  if (state && c.kind == ctlradio && c.group)
    for (auto& o : dlg.rows)
      if (&o != &c && o.kind == ctlradio && o.group == c.group) o.ticked = false;
}

// Changes one row under the table lock and tells the backend afterwards, in order. change
// returns false when nothing was changed (unknown id).
template <class F>
void changerow(dialogrecord& dlg, int id, F change) {
  std::lock_guard<std::recursive_mutex> n(dlg.notifylock);
  dlgcontrol snapshot;
  std::vector<dlgcontrol> group;
  {
    std::lock_guard<std::mutex> g(dlg.lock);
    auto it = dlg.index.find(id);
    if (it == dlg.index.end()) return;
    dlgcontrol& c = dlg.rows[(size_t)it->second];
    if (!change(c)) return;
    snapshot = c;
    snapshot.callbacks.clear();
    if (c.kind == ctlradio && c.group)
      for (auto& o : dlg.rows)
        if (&o != &c && o.kind == ctlradio && o.group == c.group) group.push_back(o);
  }
  if (!dlg.created) return;
  dlgbackend& b = currentbackend();
  b.changed(dlg, snapshot);
  for (auto& o : group) {
    o.callbacks.clear();
    b.changed(dlg, o);
  }
}

template <class R, class F>
R readrow(dialogrecord& dlg, int id, R none, F read) {
  std::lock_guard<std::mutex> g(dlg.lock);
  auto it = dlg.index.find(id);
  if (it == dlg.index.end()) return none;
  return read(dlg.rows[(size_t)it->second]);
}

void runcallback(dialogrecord& dlg, int id, int event) {
  if (event == -1) event = evclick;
  dlgcallback cb = nullptr;
  {
    std::lock_guard<std::mutex> g(dlg.lock);
    if (id == dlg.id && !dlg.index.count(id)) {
      auto it = dlg.dialogcallbacks.find(event);
      if (it != dlg.dialogcallbacks.end()) cb = it->second;
    } else if (auto r = dlg.index.find(id); r != dlg.index.end()) {
      auto& c = dlg.rows[(size_t)r->second];
      auto it = c.callbacks.find(event);
      if (it != c.callbacks.end()) cb = it->second;
    }
  }
  if (!cb) return;
  try {
    cb(dlg, id, event);
  } catch (const std::exception& e) {
    msgbox("dialog " + std::to_string(dlg.id) + ": the handler of control " + std::to_string(id) +
               " (event " + std::to_string(event) + ") failed: " + e.what(),
           "KJ message", mbok + mbiconwarning);
  } catch (...) {
    msgbox("dialog " + std::to_string(dlg.id) + ": the handler of control " + std::to_string(id) +
               " (event " + std::to_string(event) + ") failed",
           "KJ message", mbok + mbiconwarning);
  }
}

}  // namespace

void dlgsetresources(const dlgtemplate* const* list, int count) {
  std::lock_guard<std::mutex> g(reslock);
  resources.assign(list, list + count);
}

const dlgtemplate* dlgfindtemplate(int id) {
  std::lock_guard<std::mutex> g(reslock);
  for (auto* t : resources)
    if (t->id == id) return t;
  return nullptr;
}

void dlgseticons(const dlgiconres* list, int count) {
  std::lock_guard<std::mutex> g(reslock);
  icons.assign(list, list + count);
}

bool dlgiconpixels(int id, int& size, std::vector<uint8_t>& rgba) {
  static const struct {
    char name;
    uint8_t rgba[4];
  } palette[] = {{'.', {0, 0, 0, 0}},         {'#', {24, 24, 24, 255}},   {'w', {255, 255, 255, 255}},
                 {'s', {160, 160, 160, 255}}, {'b', {60, 110, 200, 255}}, {'g', {60, 160, 70, 255}},
                 {'y', {240, 200, 40, 255}},  {'r', {200, 50, 40, 255}}};
  std::lock_guard<std::mutex> g(reslock);
  for (const dlgiconres& icon : icons) {
    if (icon.id != id) continue;
    size = icon.size;
    rgba.assign((size_t)4 * size * size, 0);
    for (int r = 0; r < size; r++)
      for (int c = 0; c < size; c++)
        for (const auto& p : palette)
          if (icon.rows[r][c] == p.name) std::copy(p.rgba, p.rgba + 4, &rgba[(size_t)4 * (r * size + c)]);
    return true;
  }
  return false;
}

void dlgseticon(dialogrecord& dlg, int iconid) {
  dlg.icon = iconid;
  if (dlg.created) currentbackend().icon(dlg);
}

int dlggeticon(dialogrecord& dlg) { return dlg.icon; }

void dlgsetbackend(dlgbackend* b) { backend = b; }

void dlgsetheadlessout(std::function<void(const std::string&)> sink) {
  std::lock_guard<std::mutex> g(sinklock);
  headlesssink = std::move(sink);
}

void dlgsetheadlessprogress(std::function<std::string(dialogrecord&)> progress) {
  std::lock_guard<std::mutex> g(sinklock);
  progressline = std::move(progress);
}

bool dlgheadless() {
  const char* h = std::getenv("OSTREL_HEADLESS");
  if (h && std::strcmp(h, "1") == 0) return true;
  const char* d = std::getenv("DISPLAY");
  return !d || !*d;
}

bool dlgvisible(dialogrecord& dlg) { return dlg.created && dlg.showmode != 0; }

int dlgpixelsx(int u) { return (u * 6 + (u >= 0 ? 2 : -2)) / 4; }
int dlgpixelsy(int u) { return (u * 13 + (u >= 0 ? 4 : -4)) / 8; }

bool dlgload(int resourceid, dialogrecord*& dlg) {
  const dlgtemplate* t = dlgfindtemplate(resourceid);
  if (!t) return false;
  auto* d = new dialogrecord;
  d->id = resourceid;
  d->tmpl = t;
  int group = 0;
  bool inradios = false;
  for (int i = 0; i < t->count; i++) {
    const dlgitem& it = t->items[i];
    dlgcontrol c;
    c.kind = it.kind;
    c.id = it.id;
    c.x = it.x, c.y = it.y, c.w = it.w, c.h = it.h;
    c.text = trimright(it.text ? it.text : "");
    c.style = it.style;
    if (c.kind == ctlupdown) c.minimum = 100, c.maximum = 0;  // the common control's preset
    if (c.kind == ctlcombo) {
      // The combo box's list comes with the resource, one item a line.
      std::string all = it.text ? it.text : "";
      for (size_t a = 0; !all.empty() && a <= all.size();) {
        size_t b = all.find('\n', a);
        if (b == std::string::npos) b = all.size();
        c.items.push_back(trimright(all.substr(a, b - a)));
        a = b + 1;
      }
      c.text.clear();
    }
    if (c.kind == ctlradio) {
      if (!inradios || (it.style & stylegroup)) group++;
      c.group = group;
      inradios = true;
    } else if (c.kind != ctlstatic || c.id != -1) {
      inradios = false;
    }
    if (c.id != -1) d->index[c.id] = (int)d->rows.size();
    d->rows.push_back(std::move(c));
  }
  dlg = d;
  return true;
}

void dlgshow(dialogrecord& dlg, int showmode, dialogrecord* parent, int parentid) {
  {
    std::lock_guard<std::recursive_mutex> n(dlg.notifylock);
    dlg.showmode = showmode;
    dlg.parent = parent;
    dlg.parentid = parentid;
    dlg.created = true;
    currentbackend().shown(dlg);
  }
  runcallback(dlg, dlg.id, evinit);
}

void dlgonevent(dialogrecord& dlg, int id, dlgcallback cb, int event) {
  std::lock_guard<std::mutex> g(dlg.lock);
  if (event == -1) event = evclick;
  if (id == dlg.id && !dlg.index.count(id)) {
    dlg.dialogcallbacks[event == evdefault ? evinit : event] = cb;
    return;
  }
  auto it = dlg.index.find(id);
  if (it == dlg.index.end()) return;
  auto& c = dlg.rows[(size_t)it->second];
  c.callbacks[event == evdefault ? defaultevent(c.kind) : event] = cb;
}

void dlgputint(dialogrecord& dlg, int id, int value, int index) {
  changerow(dlg, id, [&](dlgcontrol& c) {
    switch (index) {
      case ixdefault: case ixpos:
        if (isslider(c.kind)) c.value = clamprange(c, value);
        else if (c.kind == ctlcheck || c.kind == ctlradio) tick(dlg, c, value != 0);
        else if (c.kind == ctllist || c.kind == ctlcombo || c.kind == ctltab) c.selection = value;
        else c.text = std::to_string(value);
        return true;
      case ixenabled: c.enabled = value != 0; return true;
      case ixstate:
        if (c.kind == ctlcheck || c.kind == ctlradio) tick(dlg, c, value != 0);
        else c.selection = value;
        return true;
      case ixmin: c.minimum = value; return true;
      case ixmax: c.maximum = value; return true;
      case ixcount: c.items.resize((size_t)std::max(0, value)); return true;
      default:
        if (index < 1) return false;
        if (c.kind == ctltab) c.pages[index] = value;
        else {
          if (c.items.size() < (size_t)index) c.items.resize((size_t)index);
          c.items[(size_t)index - 1] = std::to_string(value);
        }
        return true;
    }
  });
}

void dlgputflag(dialogrecord& dlg, int id, bool value, int index) {
  changerow(dlg, id, [&](dlgcontrol& c) {
    if (index == ixenabled) c.enabled = value;
    else if (index == ixdefault || index == ixstate) tick(dlg, c, value);
    else return false;
    return true;
  });
}

void dlgputtext(dialogrecord& dlg, int id, const std::string& text, int index) {
  std::string t = trimright(text);
  changerow(dlg, id, [&](dlgcontrol& c) {
    if (index == ixdefault) {
      c.text = t;
      return true;
    }
    if (index < 1) return false;
    if (c.items.size() < (size_t)index) c.items.resize((size_t)index);
    c.items[(size_t)index - 1] = t;
    return true;
  });
}

int dlggetint(dialogrecord& dlg, int id, int index) {
  return readrow(dlg, id, 0, [&](const dlgcontrol& c) -> int {
    switch (index) {
      case ixdefault: case ixpos:
        if (isslider(c.kind)) return c.value;
        if (c.kind == ctlcheck || c.kind == ctlradio) return c.ticked ? 1 : 0;
        if (c.kind == ctllist || c.kind == ctlcombo || c.kind == ctltab) return c.selection;
        return std::atoi(c.text.c_str());
      case ixenabled: return c.enabled ? 1 : 0;
      case ixstate:
        if (c.kind == ctlcheck || c.kind == ctlradio) return c.ticked ? 1 : 0;
        return c.selection;
      case ixmin: return c.minimum;
      case ixmax: return c.maximum;
      case ixcount: return (int)c.items.size();
      default:
        if (index >= 1 && c.kind == ctltab) {
          auto it = c.pages.find(index);
          return it == c.pages.end() ? 0 : it->second;
        }
        if (index >= 1 && (size_t)index <= c.items.size())
          return std::atoi(c.items[(size_t)index - 1].c_str());
        return 0;
    }
  });
}

bool dlggetflag(dialogrecord& dlg, int id, int index) {
  return readrow(dlg, id, false, [&](const dlgcontrol& c) {
    if (index == ixenabled) return c.enabled;
    return c.ticked;
  });
}

std::string dlggettext(dialogrecord& dlg, int id, int length, int index) {
  std::string t = readrow(dlg, id, std::string(), [&](const dlgcontrol& c) {
    if (index == ixdefault) return c.text;
    if (index >= 1 && (size_t)index <= c.items.size()) return c.items[(size_t)index - 1];
    return std::string();
  });
  return padto(t, length);
}

void dlgsendmsg(dialogrecord& dlg, int id, int message, long wparam, long lparam) {}

void dlgshowwindow(dialogrecord& dlg, int showmode) {
  std::lock_guard<std::recursive_mutex> n(dlg.notifylock);
  dlg.showmode = showmode;
  if (dlg.created) currentbackend().visibility(dlg);
}

void dlglistclear(dialogrecord& dlg, int id) {
  changerow(dlg, id, [](dlgcontrol& c) {
    if (c.kind != ctllist && c.kind != ctlcombo) return false;
    c.items.clear();
    c.selection = 0;
    return true;
  });
}

int dlglistadd(dialogrecord& dlg, int id, const std::string& text) {
  int n = 0;
  changerow(dlg, id, [&](dlgcontrol& c) {
    if (c.kind != ctllist && c.kind != ctlcombo) return false;
    c.items.push_back(trimright(text));
    n = (int)c.items.size();
    return true;
  });
  return n;
}

void dlgsetredraw(dialogrecord& dlg, int id, bool on) {
  changerow(dlg, id, [&](dlgcontrol& c) {
    c.redraw = on;
    return true;
  });
}

void dlglistextent(dialogrecord& dlg, int id, int pixels) {
  changerow(dlg, id, [&](dlgcontrol& c) {
    c.extent = std::max(0, pixels);
    return true;
  });
}

int dlgfixedfont(dialogrecord& dlg, int id) {
  changerow(dlg, id, [&](dlgcontrol& c) {
    c.style |= stylefixedfont;
    return true;
  });
  return fixedcharwidth;
}

void dlgpaint(dialogrecord& dlg, int id, const uint8_t* rgb, int width, int height) {
  if (!rgb || width <= 0 || height <= 0) return;
  auto pixels = std::make_shared<const std::vector<uint8_t>>(rgb, rgb + (size_t)3 * width * height);
  changerow(dlg, id, [&](dlgcontrol& c) {
    if (c.kind != ctlpicture) return false;
    c.picture = pixels;
    c.picturew = width;
    c.pictureh = height;
    return true;
  });
}

bool dlgpicture(dialogrecord& dlg, int id, std::vector<uint8_t>& rgb, int& width, int& height) {
  return readrow(dlg, id, false, [&](const dlgcontrol& c) {
    if (!c.picture) return false;
    rgb = *c.picture;
    width = c.picturew;
    height = c.pictureh;
    return true;
  });
}

bool dlgcontrolrect(dialogrecord& dlg, int id, int& x, int& y, int& width, int& height) {
  return readrow(dlg, id, false, [&](const dlgcontrol& c) {
    x = dlgpixelsx(c.x);
    y = dlgpixelsy(c.y);
    width = dlgpixelsx(c.x + c.w) - x;
    height = dlgpixelsy(c.y + c.h) - y;
    return true;
  });
}

namespace {
bool takesfocus(dialogrecord& dlg, int id) {
  return readrow(dlg, id, false, [](const dlgcontrol& c) {
    return (c.kind == ctledit || c.kind == ctlcombo) && c.enabled;
  });
}

// Moves the focus to (dlg, id), or to none with dlg null. moved is false when it was there
// already; lost is the control that had it (null: none).
struct focusmove {
  bool moved = false;
  dialogrecord* lost = nullptr;
  int lostid = 0;
};
focusmove movefocus(dialogrecord* dlg, int id) {
  std::lock_guard<std::mutex> g(focuslock);
  focusmove m;
  if (focusdlg == dlg && (!dlg || focusid == id)) return m;
  m.moved = true;
  m.lost = focusdlg;
  m.lostid = focusid;
  focusdlg = dlg;
  focusid = dlg ? id : 0;
  return m;
}
}  // namespace

void dlgsetfocus(dialogrecord& dlg, int id) {
  dialogrecord* to = takesfocus(dlg, id) ? &dlg : nullptr;
  focusmove m = movefocus(to, id);
  if (!m.moved) return;
  if (m.lost) runcallback(*m.lost, m.lostid, evlosefocus);
  if (to) runcallback(dlg, id, evgainfocus);
  currentbackend().focus(to, to ? id : 0);
}

bool dlgfocus(dialogrecord& dlg, int id) {
  std::lock_guard<std::mutex> g(focuslock);
  return focusdlg == &dlg && focusid == id;
}

bool dlgchoosefile(const dlgfilerequest& request, std::string& path) {
  std::optional<std::optional<std::string>> scripted;
  {
    std::lock_guard<std::mutex> g(chooserlock);
    lastrequest = request;
    if (!chooseranswers.empty()) {
      scripted = chooseranswers.front();
      chooseranswers.pop_front();
    }
  }
  std::string chosen;
  if (scripted) {
    if (!*scripted) return false;
    chosen = **scripted;
  } else if (!currentbackend().choosefile(request, chosen)) {
    return false;
  }
  if (chosen.empty()) return false;
  // The default extension goes onto a name typed without one.
  size_t slash = chosen.rfind('/');
  std::string name = slash == std::string::npos ? chosen : chosen.substr(slash + 1);
  if (!request.defext.empty() && name.find('.') == std::string::npos) chosen += "." + request.defext;
  path = chosen;
  return true;
}

void dlgclose(dialogrecord*& dlg) {
  if (!dlg) return;
  {
    std::lock_guard<std::mutex> g(focuslock);
    if (focusdlg == dlg) focusdlg = nullptr, focusid = 0;
  }
  if (dlg->created) {
    runcallback(*dlg, dlg->id, evdestroy);
    std::lock_guard<std::recursive_mutex> n(dlg->notifylock);
    currentbackend().closed(*dlg);
  }
  delete dlg;
  dlg = nullptr;
}

bool dlgdispatch(const message& m) {
  if (m.kind != msgevent || !m.target) return false;
  runcallback(*static_cast<dialogrecord*>(m.target), m.id, m.event);
  return true;
}

bool dlgpump(const message& m) { return dlgdispatch(m); }

// ---- the driver ----

void dlgdirectevents(bool direct) { directevents = direct; }

void dlguserevent(dialogrecord& dlg, int id, int event) {
  if (directevents) {
    runcallback(dlg, id, event);
    return;
  }
  message m{msgevent};
  m.dialogid = dlg.id;
  m.id = id;
  m.event = event;
  m.target = &dlg;
  postmsg(m);
}

namespace {
// Applies a user's change to an enabled control of one of the kinds; false when ignored.
template <class F>
bool userchange(dialogrecord& dlg, int id, std::initializer_list<int> kinds, F change) {
  bool done = false;
  changerow(dlg, id, [&](dlgcontrol& c) {
    if (!c.enabled || std::find(kinds.begin(), kinds.end(), c.kind) == kinds.end()) return false;
    change(c);
    done = true;
    return true;
  });
  return done;
}

// The control is there, enabled and of one of the kinds: the user can act on it.
bool actionable(dialogrecord& dlg, int id, std::initializer_list<int> kinds) {
  return readrow(dlg, id, false, [&](const dlgcontrol& c) {
    return c.enabled && std::find(kinds.begin(), kinds.end(), c.kind) != kinds.end();
  });
}

// A click on a button, a list or a tab takes the keyboard focus to that control, as the system
// does: the edit or combo box that held it gets its evlosefocus (and so reads back what was
// typed) before the click or the selection is handled.
void takefocusfrom(dialogrecord& dlg, int id) {
  if (dlgfocus(dlg, id)) return;
  focusmove m = movefocus(nullptr, 0);
  if (!m.moved || !m.lost) return;
  dlguserevent(*m.lost, m.lostid, evlosefocus);
  currentbackend().focus(nullptr, 0);
}
}  // namespace

void userclick(dialogrecord& dlg, int id) {
  if (!actionable(dlg, id, {ctlpush, ctlcheck, ctlradio})) return;
  takefocusfrom(dlg, id);
  bool ok = userchange(dlg, id, {ctlpush, ctlcheck, ctlradio}, [&](dlgcontrol& c) {
    if (c.kind == ctlcheck) c.ticked = !c.ticked;
    else if (c.kind == ctlradio) tick(dlg, c, true);
  });
  if (ok) dlguserevent(dlg, id, evclick);
}

void usertype(dialogrecord& dlg, int id, const std::string& text) {
  if (!userchange(dlg, id, {ctledit, ctlcombo}, [&](dlgcontrol& c) { c.text = trimright(text); }))
    return;
  dlguserevent(dlg, id, evupdate);
  dlguserevent(dlg, id, evchange);
}

void userfocus(dialogrecord& dlg, int id, bool gain) {
  if (!actionable(dlg, id, {ctledit, ctlcombo})) return;
  // Only the control that holds the focus can lose it; a control that gains it takes it from
  // the one that had it, which loses it first.
  if (!gain && !dlgfocus(dlg, id)) return;
  focusmove m = movefocus(gain ? &dlg : nullptr, id);
  if (!m.moved) return;
  if (m.lost) dlguserevent(*m.lost, m.lostid, evlosefocus);
  if (gain) dlguserevent(dlg, id, evgainfocus);
}

void userselect(dialogrecord& dlg, int id, int item) {
  if (!actionable(dlg, id, {ctllist, ctlcombo, ctltab})) return;
  takefocusfrom(dlg, id);
  bool ok = userchange(dlg, id, {ctllist, ctlcombo, ctltab}, [&](dlgcontrol& c) {
    c.selection = item;
    if (c.kind == ctlcombo && item >= 1 && (size_t)item <= c.items.size())
      c.text = c.items[(size_t)item - 1];
  });
  if (ok) dlguserevent(dlg, id, evselchange);
}

void userspin(dialogrecord& dlg, int id, int delta) {
  bool ok = userchange(dlg, id, {ctlupdown, ctltrack, ctlscroll}, [&](dlgcontrol& c) {
    // An up-down whose minimum lies above its maximum counts the other way.
    int step = c.minimum <= c.maximum ? delta : -delta;
    c.value = clamprange(c, c.value + step);
  });
  if (ok) dlguserevent(dlg, id, evchange);
}

void userclose(dialogrecord& dlg) { postclose(); }

void userchoosefile(const std::string& path) {
  std::lock_guard<std::mutex> g(chooserlock);
  chooseranswers.push_back(path);
}

void usercancelfile() {
  std::lock_guard<std::mutex> g(chooserlock);
  chooseranswers.push_back(std::nullopt);
}

void userfileanswersclear() {
  std::lock_guard<std::mutex> g(chooserlock);
  chooseranswers.clear();
}

dlgfilerequest dlglastfilerequest() {
  std::lock_guard<std::mutex> g(chooserlock);
  return lastrequest;
}
