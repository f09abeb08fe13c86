// The chapter and zone tables of the two preview pages, their lists, and the pages' navigation
// and buttons.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

chaptertablerec chaptertable;
zonetablerec zonetable;
previewstaterec previewstate;

namespace {
// Drops table entries past the last frame of the open source from the end of a table (the
// table is ascending, so they are its last entries); nothing without a source. Returns how many.
template <typename drop>
int trimtable(int& count, const int* frames, drop dropone) {
  int n = guisettings.sourceframes;
  if (n <= 0) return 0;
  int removed = 0;
  while (count > 0 && frames[count] >= n) {
    dropone(count);
    count--;
    removed++;
  }
  return removed;
}

// Moves the zones p+1..count (frame and factor) one place down over zone p.
void zoneremoveat(int p) {
  zonetablerec& z = zonetable;
  for (int i = p; i < z.count; i++) {
    z.frames[i] = z.frames[i + 1];
    z.factors[i] = z.factors[i + 1];
  }
  z.frames[z.count] = 0;
  z.count--;
}

// Puts the zones 1..count in ascending frame order, each factor with its frame.
void zoneorder() {
  zonetablerec& z = zonetable;
  std::vector<int> order((size_t)z.count);
  std::iota(order.begin(), order.end(), 1);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return z.frames[a] < z.frames[b]; });
  std::vector<int> frames;
  std::vector<float> factors;
  for (int i : order) {
    frames.push_back(z.frames[i]);
    factors.push_back(z.factors[i]);
  }
  for (int i = 1; i <= z.count; i++) {
    z.frames[i] = frames[(size_t)i - 1];
    z.factors[i] = factors[(size_t)i - 1];
  }
}
}  // namespace

void heapsortint(int count, int* values) {
  if (count <= 1) return;
  int* v = values;  // v[1..count]
  auto siftdown = [v](int root, int last) {
    for (int child; (child = 2 * root) <= last; root = child) {
      if (child < last && v[child + 1] > v[child]) child++;
      if (v[root] >= v[child]) return;
      std::swap(v[root], v[child]);
    }
  };
  for (int root = count / 2; root >= 1; root--) siftdown(root, count);
  for (int last = count; last > 1; last--) {
    std::swap(v[1], v[last]);
    siftdown(1, last - 1);
  }
}

bool chapterset(int frame, int& removed, bool sortonly) {
  chaptertablerec& c = chaptertable;
  if (sortonly) {
    heapsortint(c.count, c.frames);
    return true;
  }
  removed = 0;
  if (frame >= 0) {
    for (int i = 1; i <= c.count; i++)
      if (c.frames[i] == frame) return true;
    if (c.count >= maxchapters) return false;
    c.frames[++c.count] = frame;
    heapsortint(c.count, c.frames);
  } else {
    int p = -frame;
    if (p > c.count) return false;
    for (int i = p; i < c.count; i++) c.frames[i] = c.frames[i + 1];
    c.frames[c.count--] = 0;
  }
  removed = trimtable(c.count, c.frames, [&](int i) { c.frames[i] = 0; });
  return true;
}

bool zoneset(int frame, int& removed, bool sortonly) {
  zonetablerec& z = zonetable;
  if (sortonly) {
    zoneorder();
    return true;
  }
  removed = 0;
  if (frame >= 0) {
    float factor = std::clamp(z.factors[z.count + 1], minzonefactor, maxzonefactor);
    for (int i = 1; i <= z.count; i++)
      if (z.frames[i] == frame) {
        z.factors[i] = factor;
        return true;
      }
    if (z.count >= maxzones) return false;
    z.count++;
    z.frames[z.count] = frame;
    z.factors[z.count] = factor;
    zoneorder();
  } else {
    int p = -frame;
    if (p > z.count) return false;
    zoneremoveat(p);
  }
  removed = trimtable(z.count, z.frames, [&](int i) { z.frames[i] = 0; });
  return true;
}

float zonefactor(float value) {
  // The clamp comes last; this one only keeps the rounding defined (NaN and huge values).
  if (!(value >= 0.0f)) value = 0.0f;
  value = std::min(value, 10.0f);
  float tenths = (float)std::lround(value * 10.0f);
  return std::clamp(tenths / 10.0f, minzonefactor, maxzonefactor);
}

int setchapters(const std::vector<int>& frames) {
  std::vector<bool> marked((size_t)lastencoderframe + 1);
  for (int f : frames)
    if (f >= 0) marked[(size_t)std::min(f, lastencoderframe)] = true;
  clearchapters();
  chaptertablerec& c = chaptertable;
  for (int f = 0; f <= lastencoderframe; f++)
    if (marked[(size_t)f]) c.frames[++c.count] = f;
  return (int)frames.size() - c.count;
}

bool zonefromlist(int frame, float factor) {
  zonetablerec& z = zonetable;
  frame = std::clamp(frame, 0, lastencoderframe);
  int keep = z.count;
  while (keep > 0 && z.frames[keep] >= frame) keep--;
  if (keep >= maxzones) return false;
  for (int i = keep + 1; i <= z.count; i++) z.frames[i] = 0;
  z.count = keep + 1;
  z.frames[z.count] = frame;
  z.factors[z.count] = std::clamp(factor, minzonefactor, maxzonefactor);
  return true;
}

void fillframelist(dialogrecord& dlg, int id, const int* frames, int count) {
  dlgsetredraw(dlg, id, false);
  dlglistclear(dlg, id);
  for (int i = 1; i <= count; i++) dlglistadd(dlg, id, fmtint(frames[i], 8));
  dlgsetredraw(dlg, id, true);
}

void clearchapters() {
  chaptertable.count = 0;
  std::fill(std::begin(chaptertable.frames), std::end(chaptertable.frames), 0);
  if (dialogrecord* d = frontdialog(pagechapters)) dlglistclear(*d, 1094);
}

void clearzones() {
  zonetable.count = 0;
  std::fill(std::begin(zonetable.frames), std::end(zonetable.frames), 0);  // the factors stay
  if (dialogrecord* d = frontdialog(pagezones)) dlglistclear(*d, 1117);
}


void showchapterlist() {
  if (dialogrecord* d = frontdialog(pagechapters)) fillframelist(*d, 1094, chaptertable.frames, chaptertable.count);
}

std::string zoneline(int frame, float factor) {
  return trimright(fmtint(frame, 8) + " | " + fmtfixed(factor, 3, 1));
}

void showzonelist() {
  dialogrecord* d = frontdialog(pagezones);
  if (!d) return;
  dlgsetredraw(*d, 1117, false);
  dlglistclear(*d, 1117);
  for (int i = 1; i <= zonetable.count; i++) dlglistadd(*d, 1117, zoneline(zonetable.frames[i], zonetable.factors[i]));
  dlgsetredraw(*d, 1117, true);
}

int sliderposition(int frame) {
  const int n = guisettings.sourceframes;
  if (n <= 0) return 0;
  return (int)std::lround((float)previewstate.sliderrange * (float)frame / (float)n);
}

int sliderframe(int position) {
  const int n = guisettings.sourceframes;
  if (n <= 0) return 0;
  return std::max(0, (int)std::lround((float)(n - 1) * ((float)position / (float)previewstate.sliderrange)));
}

namespace {
// The frames of the open source; 0 without one (the pages then do nothing that needs a frame).
int framecount() { return movieinfovalid ? std::max(guisettings.sourceframes, 0) : 0; }
int clampframe(int frame) { return std::clamp(frame, 0, framecount() - 1); }
std::string frametext(int frame) { return adjustleft(fmtint(frame, 8)); }
dialogrecord& otherpage(dialogrecord& dlg) { return dlgof(&dlg == frontdialog(pagechapters) ? pagezones : pagechapters); }

// The frame an edit shows; false when its text is not a number.
bool editframe(dialogrecord& dlg, int id, int& frame) {
  return readints(dlggettext(dlg, id, 80), &frame, 1) == listok;
}
// The current frame as edit 1036 of the page shows it (the frame shown when it reads no number),
// within the source.
int currentframe(dialogrecord& dlg) {
  int frame = previewstate.previewframe;
  editframe(dlg, 1036, frame);
  return clampframe(frame);
}

void setsliders(int position) {
  for (int page : {pagechapters, pagezones}) dlgputint(dlgof(page), 1061, position);
}

// The navigation of both pages: the buttons, the current-frame edit and the slider. True when
// id is one of them (nothing happens without a source).
bool navigate(dialogrecord& dlg, int id) {
  previewstaterec& p = previewstate;
  int step = 0;
  switch (id) {
    case 1015: step = 1; break;
    case 1016: step = -1; break;
    case 1011: step = p.smallstep; break;
    case 1014: step = -p.smallstep; break;
    case 1012: step = p.largestep; break;
    case 1013: step = -p.largestep; break;
    case 1036:
    case 1061: break;
    default: return false;
  }
  if (framecount() <= 0) return true;
  if (id == 1061) {
    const int position = dlggetint(dlg, 1061);
    dlgputint(otherpage(dlg), 1061, position);
    p.previewframe = clampframe(sliderframe(position));
    dlgputtext(dlg, 1036, frametext(p.previewframe));
    showframe(dlg);
  } else if (id == 1036) {
    int frame = p.previewframe;
    editframe(dlg, 1036, frame);  // an unreadable text keeps the current frame
    p.previewframe = clampframe(frame);
    dlgputtext(dlg, 1036, frametext(p.previewframe));
    showframe(dlg);
    setsliders(sliderposition(p.previewframe));
  } else {
    p.previewframe = clampframe(p.previewframe + step);
    showframe(dlg);
    dlgputtext(dlg, 1036, frametext(p.previewframe));
    setsliders(sliderposition(p.previewframe));
  }
  clearinfo();
  return true;
}

// A line chosen in a page's list: its frame (within the source) is shown on both pages.
void gotoframe(dialogrecord& dlg, int frame) {
  if (framecount() <= 0) return;
  previewstate.previewframe = clampframe(frame);
  showframe(dlg);
  setsliders(sliderposition(previewstate.previewframe));
  for (int page : {pagechapters, pagezones}) dlgputtext(dlgof(page), 1036, frametext(previewstate.previewframe));
  clearinfo();
}

// The remove button of a list: the table's entry of the chosen line goes (set removes position p
// when given -p), the list is rebuilt; what is a "chapter" or a "zone" names it in the messages.
void removechosen(dialogrecord& dlg, int list, int count, bool (*set)(int, int&, bool), void (*show)(),
                  const std::string& what) {
  const int line = dlggetint(dlg, list, ixstate);
  if (line < 1 || line > count) {
    showinfo(" remove " + what + " pressed but no " + what + " was selected, ignored", false);
    return;
  }
  int removed = 0;
  set(-line, removed, false);
  show();
  showinfo(" " + what + " removed from list", false);
}

// The frame range of the Main page from the current frame: its start (start true) or its end.
void setrange(dialogrecord& dlg, bool start) {
  guisettingsrec& g = guisettings;
  const int frame = currentframe(dlg);
  if (start) {
    g.startframe = frame;
    g.endframe = std::max(g.endframe, frame);
  } else {
    g.endframe = frame;
    g.startframe = std::min(g.startframe, frame);
  }
  dlgputtext(dlgof(pagemain), start ? 1088 : 1089, frametext(frame));
  g.framespan = g.endframe - g.startframe + 1;
  movieinfo();
  filelength();
  showinfo(start ? " current frame set as start frame" : " current frame set as end frame", false);
}
}  // namespace

void chapterpage(dialogrecord& dlg, int id, int event) {
  // While a scan runs only its button answers (the page's controls are disabled then).
  if (scanrunning && id != 2010) return;
  if (navigate(dlg, id)) return;
  int removed = 0;
  switch (id) {
    case 1094: {
      const int line = dlggetint(dlg, 1094, ixstate);
      if (line >= 1 && line <= chaptertable.count) gotoframe(dlg, chaptertable.frames[line]);
      break;
    }
    case 1029:
      if (framecount() <= 0) break;
      if (!chapterset(currentframe(dlg), removed)) {
        showinfo(" chapter list full, chapter not added", false);
        break;
      }
      showchapterlist();
      showinfo(" chapter added to list", false);
      break;
    case 1030:
      removechosen(dlg, 1094, chaptertable.count, chapterset, showchapterlist, "chapter");
      break;
    case 1097:
      clearchapters();
      showinfo(" chapter list cleared", false);
      break;
    case 1037:
    case 1038:
      if (framecount() > 0) setrange(dlg, id == 1037);
      break;
    case 2010:
      if (framecount() <= 0 && !scanrunning) break;
      showinfo(" creating a chapter list based on scene changes", false);
      scdbutton();
      break;
    default:
      break;
  }
}

void zonepage(dialogrecord& dlg, int id, int event) {
  if (scanrunning) return;
  if (navigate(dlg, id)) return;
  int removed = 0;
  switch (id) {
    case 1017:
      clearinfo();
      break;
    case 1117: {
      const int line = dlggetint(dlg, 1117, ixstate);
      if (line >= 1 && line <= zonetable.count) gotoframe(dlg, zonetable.frames[line]);
      break;
    }
    case 1114: {
      if (framecount() <= 0) break;
      float value = 0;
      if (readreals(dlggettext(dlg, 1017, 80), &value, 1) != listok) {
        showinfo(" zone value is not a number, zone not added", false);
        break;
      }
      zonetable.factors[zonetable.count + 1] = zonefactor(value);
      if (!zoneset(currentframe(dlg), removed)) {
        showinfo(" zone list full, zone not added", false);
        break;
      }
      showzonelist();
      showinfo(" zone added to list", false);
      break;
    }
    case 1115:
      removechosen(dlg, 1117, zonetable.count, zoneset, showzonelist, "zone");
      break;
    case 1116:
      clearzones();
      showinfo(" zone list cleared", false);
      break;
    default:
      break;
  }
}
