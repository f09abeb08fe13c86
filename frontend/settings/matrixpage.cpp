// The Matrix page: the built-in pairs by the page's numbering, the custom pair, the grids of
// the chosen pair and the page's callbacks.
#include <algorithm>

#include "common/fmtfield.h"
#include "common/listread.h"
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

// The grids: intra cell 1201 + i and non-intra cell 1301 + i show entry i (raster order).
constexpr int intracell = 1201, nonintracell = 1301;
constexpr int combolength = 20;  // characters of the combo box's text that count
constexpr int celllength = 3;    // characters of a cell's text that are read

// An entry as a cell shows it: 3 columns, moved left (the layer drops the trailing blanks).
std::string celltext(int value) { return adjustleft(fmtint(value, 3)); }

// matrixindex of the combo box's text: the name it equals exactly (case counts, trailing
// blanks do not); MPEG (1) for any other text, as typing can give.
int lookupname(const std::string& text) {
  const std::string t = trimright(text);
  for (int i = 1; i <= builtinmatrices; i++)
    if (t == comboname[i]) return i;
  return 1;
}

// One cell read: blank counts as 16, the number is brought into 1..255; a text that is no
// number (the cells take digits only, so only a program can put one there) keeps the entry.
void readcell(dialogrecord& p, int id, int& entry) {
  std::string t = dlggettext(p, id, celllength);
  if (trimright(t).empty()) t = "16";
  int v = 0;
  if (readints(t, &v, 1) == listok) entry = std::clamp(v, 1, 255);
}

void showbuttons(dialogrecord& p, bool on) {
  for (int id : {1102, 1104, 1103}) dlgputflag(p, id, on, ixenabled);
}
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

matrixpairrec viewmatrix = initialcustommatrix();

void showmatrix() {
  const int index = guisettings.matrixindex;
  // The custom pair is brought into range first, so the grids show exactly the pair used.
  clampcustommatrix();
  if (const builtinpair* b = guimatrix(index)) {
    std::copy(std::begin(b->intra), std::end(b->intra), viewmatrix.intra);
    std::copy(std::begin(b->nonintra), std::end(b->nonintra), viewmatrix.nonintra);
  } else if (index == custommatrixindex) {
    viewmatrix = custommatrix;
  }
  dialogrecord* p = frontdialog(pagematrix);
  if (!p) return;
  for (int i = 0; i < 64; i++) dlgputtext(*p, intracell + i, celltext(viewmatrix.intra[i]));
  for (int i = 0; i < 64; i++) dlgputtext(*p, nonintracell + i, celltext(viewmatrix.nonintra[i]));
}

// The intra DC cell is 8 in every pair and never editable; the other cells are editable only
// for the custom pair.
void enablegrid(bool enabled) {
  dialogrecord* p = frontdialog(pagematrix);
  if (!p) return;
  dlgputflag(*p, intracell, false, ixenabled);
  for (int i = 1; i < 64; i++) dlgputflag(*p, intracell + i, enabled, ixenabled);
  for (int i = 0; i < 64; i++) dlgputflag(*p, nonintracell + i, enabled, ixenabled);
}

void readgrid() {
  dialogrecord& p = dlgof(pagematrix);
  custommatrix.intra[0] = 8;  // the DC cell is never read
  for (int i = 1; i < 64; i++) readcell(p, intracell + i, custommatrix.intra[i]);
  for (int i = 0; i < 64; i++) readcell(p, nonintracell + i, custommatrix.nonintra[i]);
}

void writegrid() {
  dialogrecord& p = dlgof(pagematrix);
  for (int i = 1; i < 64; i++) dlgputtext(p, intracell + i, celltext(custommatrix.intra[i]));
  for (int i = 0; i < 64; i++) dlgputtext(p, nonintracell + i, celltext(custommatrix.nonintra[i]));
}

void matrixclick(dialogrecord& dlg, int id, int event) {
  switch (id) {
    case 1025:
      // The box's state is the setting; the KJ.ini writer reads it.
      showinfo(dlggetflag(dlg, 1025) ? " adaptive matrix turned on, matrix.dll should be present"
                                     : " adaptive matrix turned off",
               false);
      break;
    case 1011:
      dlgputflag(dlg, 1054, false, ixenabled);
      showbuttons(dlg, true);
      guisettings.matrixindex = custommatrixindex;
      showmatrix();
      enablegrid(true);
      showinfo(" custom matrix activated, load/save your favorite matrix (mtx or cqm format) or create your own "
               "matrix",
               false);
      break;
    case 1010:
      dlgputflag(dlg, 1054, true, ixenabled);
      showbuttons(dlg, false);
      guisettings.matrixindex = lookupname(dlggettext(dlg, 1054, combolength));
      showmatrix();
      enablegrid(false);
      showinfo(" built in matrix activated, just pick one of the matrices in the combo box", false);
      break;
    case 1054:
      // A pick from the list or a name typed into the box's edit field; the combo box is
      // disabled while the custom pair is chosen.
      if (dlggetflag(dlg, 1011)) break;
      guisettings.matrixindex = lookupname(dlggettext(dlg, 1054, combolength));
      showmatrix();
      enablegrid(false);
      break;
    default:
      break;
  }
}

void gridedit(dialogrecord& dlg, int id, int event) {
  const bool cell = (id > intracell && id < intracell + 64) || (id >= nonintracell && id < nonintracell + 64);
  // Only the custom pair is read back: a cell that loses the focus after a built-in pair was
  // chosen must not copy that pair into the custom one.
  if (!cell || guisettings.matrixindex != custommatrixindex) return;
  readgrid();
  writegrid();
  clearinfo();
}

void gridfocus(dialogrecord& dlg, int id, int event) {}
