// The "current KJ.ini" lists of the Settings 1 and Settings 2 pages: what the next encode will
// write, shown live. Nothing is written.
#include <algorithm>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

namespace {
constexpr int inilist = 1107;
constexpr size_t entrylength = 127;  // characters of a line the lists show
constexpr int pagetextlength = 128;  // characters of a page text that are read

// The lines of the three files, by their key field.
bool fileline(const std::string& line) {
  for (const char* key : {"*INFILE", "*OUTFILE", "*LOGFILE"})
    if (line.compare(0, 18, fmtlabel(key, 18)) == 0) return true;
  return false;
}

bool editint(dialogrecord& page, int id, int& v) { return readints(dlggettext(page, id, 40), &v, 1) == listok; }
}  // namespace

void pagewords() {
  dialogrecord* p = frontdialog(pagesettings2);
  if (!p) return;
  guisettingsrec& g = guisettings;
  int v = 0;
  for (int i = 0; i < 4; i++)
    if (editint(*p, 1031 + i, v)) g.guitimecode[i] = std::clamp(v, 0, i == 0 ? 23 : 59);
  if (editint(*p, 1017, v)) g.guiwait = std::clamp(v, 0, 99);
  if (editint(*p, 1035, v)) g.guibias = std::clamp(v, 0, 100);
}

void showini() {
  dialogrecord* s1 = frontdialog(pagesettings1);
  dialogrecord* s2 = frontdialog(pagesettings2);
  if (!s1 || !s2) return;
  const int charwidth = dlgfixedfont(*s1, inilist);
  dlgfixedfont(*s2, inilist);
  for (dialogrecord* p : {s1, s2}) {
    dlglistclear(*p, inilist);
    dlgsetredraw(*p, inilist, false);
  }
  // The writer's lines in its order (the carried lines of the last settings file first).
  std::vector<std::string> lines;
  std::string why;
  const bool complete = inilines(lines, why, pagetextlength);
  int widest = 0;
  for (size_t i = 0; i < lines.size(); i++) {
    const std::string entry = trimright(lines[i].substr(0, entrylength));
    for (dialogrecord* p : {s1, s2}) dlglistadd(*p, inilist, entry);
    // The lists scroll across the longest file name (with two characters to spare).
    if (i >= inicarried.size() && fileline(lines[i])) widest = std::max(widest, ((int)entry.size() + 2) * charwidth);
  }
  if (!complete) {
    settingsvalid = false;
    showinfo(" show KJ.ini aborted, " + why, false);
  }
  for (dialogrecord* p : {s1, s2}) {
    dlglistextent(*p, inilist, widest);
    dlgsetredraw(*p, inilist, true);
  }
  // The words the writer stores stop at a refused value; the edits need all of theirs.
  pagewords();
}
