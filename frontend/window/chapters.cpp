// The chapter and zone tables of the two preview pages and their lists.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "common/fmtfield.h"
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

// The navigation, list and table buttons of the Preview/Chapters and Preview/Zones pages:
// with the preview of the source.
void chapterpage(dialogrecord& dlg, int id, int event) {}
void zonepage(dialogrecord& dlg, int id, int event) {}
