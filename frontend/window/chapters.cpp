// The chapter and zone tables of the two preview pages and their lists.
#include <algorithm>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/window/front.h"

chaptertablerec chaptertable;
zonetablerec zonetable;
previewstaterec previewstate;

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
