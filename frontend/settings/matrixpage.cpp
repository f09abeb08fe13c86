// The Matrix page: the built-in pairs by the page's numbering, the custom pair, the grids of
// the chosen pair and the page's callbacks.
#include <algorithm>

#include "common/matrices.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

namespace {
// The encoder's matrix number by the page's number 1..16: the names are the same, the order
// differs for 2..6.
constexpr int encodernumbers[builtinmatrices + 1] = {0, 1, 4, 3, 2, 6, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
constexpr const char* comboname[builtinmatrices + 1] = {
    "",        "MPEG",    "TGN",     "NOTCH", "KJ",   "TOLV1", "MIRDO1CD", "HVSGOOD",      "HVSBETTER",
    "HVSBEST", "ZELMAT6", "ZELMAT7", "KJLOW", "KIV1", "KIV2",  "KIV3",     "MPEG STANDARD"};
}  // namespace

matrixpairrec initialcustommatrix() {
  matrixpairrec m{};
  const builtinpair* mpeg = builtinmatrix(1);
  for (int i = 0; i < 64; i++) {
    m.intra[i] = mpeg->intra[i];
    m.nonintra[i] = 16;
  }
  return m;
}

matrixpairrec custommatrix = initialcustommatrix();

int encodermatrix(int matrixindex) {
  if (matrixindex < 1 || matrixindex > builtinmatrices) return 0;
  return encodernumbers[matrixindex];
}

int guimatrixindex(int matrixno) {
  for (int i = 1; i <= builtinmatrices; i++)
    if (encodernumbers[i] == matrixno) return i;
  return 1;
}

const builtinpair* guimatrix(int matrixindex) { return builtinmatrix(encodermatrix(matrixindex)); }

const char* guimatrixname(int matrixindex) {
  if (matrixindex < 1 || matrixindex > builtinmatrices) return "";
  return comboname[matrixindex];
}

void clampcustommatrix() {
  for (int i = 0; i < 64; i++) {
    custommatrix.intra[i] = std::clamp(custommatrix.intra[i], 1, 255);
    custommatrix.nonintra[i] = std::clamp(custommatrix.nonintra[i], 1, 255);
  }
  custommatrix.intra[0] = 8;
}

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
