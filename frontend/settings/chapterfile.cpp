// The chapter list file of the Preview/Chapters page: the chapter table written out and read
// back, in the form of the "*CHAPTER" block of KJ.ini standing by itself or as a plain list.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "common/texttime.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "platform/system.h"

namespace {
constexpr size_t firstlinelength = 80;  // only these characters of the first line count
// A line of frame numbers is read whole up to this length; a longer one is refused, never cut
// (a number cut at the end of a line would be another number).
constexpr size_t chapterlinelength = 1 << 20;

std::string number(int v) { return trimright(adjustleft(fmtint(v, 8))); }

// The frames of an open chapter file in file order, at most maxchapters of them; over tells
// whether the file held more. False when the file is not a chapter list.
bool readframes(std::FILE* f, std::vector<int>& frames, bool& over) {
  over = false;
  std::string first;
  bool cut = false;
  if (readline(f, first, chapterlinelength, &cut) <= 0 || cut) return false;
  dropbom(first);
  first.resize(std::min(first.size(), firstlinelength));
  std::string head = first;
  lowercase(head);
  // The lines after the first; a read error or a line too long fails the read.
  listreader lines([f](std::string& line) {
    bool longer = false;
    int r = readline(f, line, chapterlinelength, &longer);
    return r > 0 && longer ? -1 : r;
  });
  int v = 0;
  if (head.compare(0, 8, "*chapter") == 0) {
    // The count from column 9 on, then that many frames in free format on the next lines.
    int n = 0;
    if (readints(first.substr(8), &n, 1) != listok) return false;
    over = n > maxchapters;
    n = std::min(n, maxchapters);
    lines.beginread();
    for (int i = 0; i < n; i++) {
      if (lines.getint(v) != listok) return false;
      frames.push_back(v);
    }
    return true;
  }
  // A plain list: the first number of every line that holds one, to the end of the file; the
  // first line must hold one.
  if (readints(first, &v, 1) != listok) return false;
  frames.push_back(v);
  for (;;) {
    lines.beginread();
    listresult r = lines.getint(v);
    if (r == listend) return true;
    if (r != listok) return false;
    if ((int)frames.size() == maxchapters) {
      over = true;
      return true;
    }
    frames.push_back(v);
  }
}
}  // namespace

bool writechapters() {
  const chaptertablerec& c = chaptertable;
  if (c.count <= 0) return true;
  std::string text = fmtlabel("*CHAPTER", 18) + number(c.count) + "\n";
  for (int i = 1; i <= c.count; i++) text += number(c.frames[i]) + "\n";
  std::string why;
  if (writewhole(trimright(chapterpath), text, why)) return true;
  showinfo(" error writing chapterfile, " + why, false);
  return false;
}

void readchapters() {
  const std::string path = trimright(chapterpath);
  // Only a regular file: a FIFO or a device would hold the window until it ends.
  std::FILE* f = isregularfile(path) ? std::fopen(path.c_str(), "r") : nullptr;
  if (!f) {
    showinfo(" error reading chapterfile, " + std::string(isregularfile(path) ? std::strerror(errno) : "no such file"),
             false);
    return;
  }
  std::vector<int> frames;
  bool over = false;
  const bool ok = readframes(f, frames, over);
  std::fclose(f);
  if (!ok) {
    // The table stays as it was: a failed import loses nothing.
    showinfo(" error reading chapterfile", false);
    return;
  }
  // The frames a chapter can stand on: from 0 to the last frame of the open source (of any
  // source the encoder takes without one), each once.
  const int last = movieinfovalid && guisettings.sourceframes > 0 ? std::min(guisettings.sourceframes - 1, lastencoderframe)
                                                                  : lastencoderframe;
  std::vector<int> kept;
  int outside = 0;
  for (int v : frames) {
    if (v < 0 || v > last) outside++;
    else kept.push_back(v);
  }
  std::sort(kept.begin(), kept.end());
  const int repeated = (int)(kept.end() - std::unique(kept.begin(), kept.end()));
  kept.resize(kept.size() - (size_t)repeated);
  clearchapters();
  chaptertable.count = (int)kept.size();
  std::copy(kept.begin(), kept.end(), chaptertable.frames + 1);

  showinfo(" " + number((int)frames.size()) + " chapters successfully read", false);
  if (over) showinfo(", more than 640000 chapters detected, chapters > 640000 skipped", true);
  if (outside > 0) showinfo(", WARNING, " + number(outside) + " chapters removed, out of range", true);
  if (repeated > 0) showinfo(", " + number(repeated) + " repeated chapters removed", true);
}
