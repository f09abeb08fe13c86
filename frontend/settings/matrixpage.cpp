// The Matrix page: the grids of the chosen pair and the page's callbacks.
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

// The chosen pair into the grids: with the Matrix page's issue.
void showmatrix() {}

// The intra DC cell is 8 in every pair and never editable; the other cells are editable only
// for the custom pair.
void enablegrid(bool enabled) {
  dialogrecord* p = frontdialog(pagematrix);
  if (!p) return;
  dlgputflag(*p, 1201, false, ixenabled);
  for (int id = 1202; id <= 1264; id++) dlgputflag(*p, id, enabled, ixenabled);
  for (int id = 1301; id <= 1364; id++) dlgputflag(*p, id, enabled, ixenabled);
}

void matrixclick(dialogrecord& dlg, int id, int event) {}
void gridedit(dialogrecord& dlg, int id, int event) {}
void gridfocus(dialogrecord& dlg, int id, int event) {}
