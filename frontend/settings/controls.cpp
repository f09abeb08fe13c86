// Settings to the page controls, and the file labels.
//
// After a settings file was read, setcontrols shows every key it named on the pages (keys not
// named keep the defaults), in a fixed order so that a later key wins over an earlier one for
// the same control; setfilelabels then labels the file buttons, decides whether the encode
// button may be used, enables the controls of the bitrate mode and refills the chapter and
// zone lists and the movie information.
#include <algorithm>
#include <cmath>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

namespace {
void tick(int page, int id, bool on = true) { dlgputflag(dlgof(page), id, on); }
bool ticked(int page, int id) { return dlggetflag(dlgof(page), id); }
void enable(int page, std::initializer_list<int> ids, bool on) {
  for (int id : ids) dlgputflag(dlgof(page), id, on, ixenabled);
}
void settext(int page, int id, const std::string& text) { dlgputtext(dlgof(page), id, text); }
// Numbers as the edits show them: in their field, moved left.
std::string leftint(int v, int width) { return adjustleft(fmtint(v, width)); }
std::string leftreal(float v) { return adjustleft(fmtfixed(v, 6, 3)); }

// A factor into 0.5..4.0 and onto the nearest entry of the table (on a tie the lower one); the
// result is the entry's spin position. Compared in ten-thousandths, so a factor typed halfway
// between two entries ("0.55") is a tie whatever its binary value.
int snapfactor(float& factor) {
  const long v = std::lround(std::clamp(factor, 0.5f, 4.0f) * 10000.0);
  int best = 0;
  long bestdistance = -1;
  for (int i = 0; i < 32; i++) {
    const long distance = std::labs(v - std::lround(factortable[i] * 10000.0));
    if (bestdistance < 0 || distance < bestdistance) best = i, bestdistance = distance;
  }
  factor = factortable[best];
  return best + 1;
}

void showfactor(float& factor, int edit, int spin) {
  const int position = snapfactor(factor);
  settext(pagesettings1, edit, leftreal(factor));
  dlgputint(dlgof(pagesettings1), spin, position);
}

// The constant quantiser on, with its controls; the bitrate controls of the Main page off.
void cqcontrols(float q) {
  tick(pagesettings1, 1055);
  enable(pagesettings1, {1056}, true);
  settext(pagesettings1, 1056, leftreal(q));
  enable(pagesettings1, {1057, 1038, 1109, 1037, 1110}, true);
  enable(pagemain, {1085, 1033, 1086, 1087}, false);
}

void filecaption(int id, const char* prefix, const std::string& path) {
  settext(pagemain, id, prefix + shortpath(path));
}
}  // namespace

void setcontrols() {
  guisettingsrec& g = guisettings;
  auto seen = [](int code) { return iniseen[code]; };

  if (seen(keyinfile)) {
    filecaption(1008, "input: ", inputpath);
    enable(pagemain, {1029}, true);
  }
  if (seen(keyoutfile)) {
    enable(pagemain, {1029}, true);
    filecaption(1029, "output: ", outputpath);
    outputset = true;
  }
  if (seen(keyframes)) {
    settext(pagemain, 1088, leftint(g.startframe, 8));
    settext(pagemain, 1089, leftint(g.endframe, 8));
    // Frames to encode, first and last included, as the encoder counts them.
    g.framespan = g.endframe - g.startframe + 1;
  }
  if (seen(keycq)) {
    cqcontrols(g.guicq);
    enable(pagemain, {1018}, false);
  }
  if (seen(keybitrate)) settext(pagemain, 1087, leftint(g.avgkbits, 6));
  if (seen(keymaxbitrate)) {
    g.maxkbits = std::max(g.maxkbits, g.avgkbits);
    settext(pagemain, 1018, leftint(g.maxkbits, 6));
  }
  if (seen(keyprofile)) {
    if (g.guiprofile == 1) tick(pagemain, 1078);
    if (g.guiprofile == 2 || g.guiprofile == 3) tick(pagemain, 1079);
    if (g.guiprofile == 4) tick(pagemain, 1080);
  }
  if (seen(keyaspect) && g.guiaspect >= 1 && g.guiaspect <= 4) tick(pagemain, 1080 + g.guiaspect);
  if (seen(keycqmaxbitrate)) {
    cqcontrols(g.guicqmbr);
    tick(pagesettings1, 1057);
    enable(pagemain, {1018}, true);
  }
  if (seen(keyinfile)) enable(pagemain, {1030}, true);
  if (seen(keylogfile)) {
    enable(pagemain, {1030}, true);
    filecaption(1030, "log: ", logpath);
  }
  if (seen(keylastiframe)) tick(pagesettings2, 1018);
  if (seen(keypreview)) tick(pagesettings2, 2021);
  if (seen(keysilent)) {
    tick(pagesettings2, 2022);
    tick(pagesettings2, 2021, false);
    enable(pagesettings2, {2021}, false);
  }
  if (seen(keyscdfile)) tick(pagesettings2, 2023);
  if (seen(keycqpfactor)) showfactor(g.guipfactor, 1038, 1109);
  if (seen(keycqbfactor)) showfactor(g.guibfactor, 1037, 1110);
  if (seen(keycpu)) {
    const int cpuradio[] = {1050, 1051, 1052, 1053, 1010};
    if (g.guicpu >= 0 && g.guicpu <= 4) tick(pagesettings2, cpuradio[g.guicpu]);
  }
  if (seen(keygop)) {
    tick(pagemain, 1077, false);
    g.guigoplength = std::clamp(g.guigoplength, 1, 36);
    g.guibframes = std::clamp(g.guibframes, 0, 2);
    enable(pagesettings1, {1045, 1023, 1544, 1024}, true);
    settext(pagesettings1, 1045, leftint(g.guigoplength, 8));
    dlgputint(dlgof(pagesettings1), 1023, g.guigoplength);
    settext(pagesettings1, 1544, leftint(g.guibframes, 8));
    dlgputint(dlgof(pagesettings1), 1024, g.guibframes);
  }
  if (seen(keydcprec) && g.guidcprec >= 8 && g.guidcprec <= 11) tick(pagemain, 1046 + g.guidcprec - 8);
  if (seen(keytimecode))
    for (int i = 0; i < 4; i++) settext(pagesettings2, 1031 + i, leftint(g.guitimecode[i], 6));
  if (seen(keymatrix)) {
    tick(pagematrix, 1010);
    enable(pagematrix, {1054}, true);
    settext(pagematrix, 1054, guimatrixname(g.matrixindex));
    enable(pagematrix, {1102, 1104, 1103}, false);
    showmatrix();
    enablegrid(false);
  }
  // After the built-in matrix: when both were named, the custom pair wins.
  if (seen(keycustommatrix)) {
    tick(pagematrix, 1011);
    enable(pagematrix, {1054}, false);
    enable(pagematrix, {1102, 1104, 1103}, true);
    g.matrixindex = custommatrixindex;
    showmatrix();
    enablegrid(true);
  }
  if (seen(keybias)) settext(pagesettings2, 1035, leftint(g.guibias, 3));
  if (seen(keyclosedgops)) tick(pagemain, 1090);
  if (seen(keynovbv)) tick(pagesettings2, 1021, false);
  if (seen(keynoscd)) tick(pagemain, 1040, false);
  if (seen(keyinterlaced)) {
    tick(pagemain, 1041);
    tick(pagesettings1, 1020);
    tick(pagesettings1, 1092);
    enable(pagesettings1, {1092, 1093}, true);
  }
  if (seen(keyscanmethod)) tick(pagesettings1, g.guiscan == 1 ? 1020 : 1019);
  if (seen(keytff)) tick(pagesettings1, 1092);
  if (seen(keybff)) tick(pagesettings1, 1093);
  if (seen(keyadaptivematrix)) tick(pagematrix, 1025);
  // Pulldown codes progressive frames: it overrides interlacing and the field order. The scan
  // becomes zigzag unless the file names one: the encoder takes a named scan method with
  // pulldown too, and the page can show it.
  if (seen(keypulldown)) {
    tick(pagemain, 1044);
    tick(pagemain, 1041, false);
    enable(pagemain, {1041}, false);
    enable(pagesettings1, {1092}, false);
    tick(pagesettings1, 1093);
    enable(pagesettings1, {1093}, false);
    if (!seen(keyscanmethod)) tick(pagesettings1, 1019);
  }
  if (seen(keymaskshift)) {
    const int maskedits[] = {1036, 1044, 1045};  // top lines, bottom lines, shift lines
    for (int i = 0; i < 3; i++) settext(pagesettings2, maskedits[i], leftint(g.guimask[i], 8));
  }
  if (seen(keywait)) settext(pagesettings2, 1017, leftint(g.guiwait, 3));
  if (seen(keynoseqendcode)) tick(pagesettings2, 1022, false);
  if (seen(keyshutdown)) tick(pagesettings2, 1039);
  if (seen(keyautogop)) {
    settext(pagemain, 1113, leftint(g.guiautogop, 3));
    dlgputint(dlgof(pagemain), 1112, g.guiautogop);
  }
  // The longest automatic GOP can be set while autogop is on; a fixed GOP ("*GOP", which the
  // encoder takes over "*AUTOGOP") turns it off.
  enable(pagemain, {1113, 1112}, ticked(pagemain, 1077));
  // A luminance gain scales the matrices itself: the adaptive matrix is off then.
  if (seen(keylumgain)) {
    settext(pagesettings2, 1056, leftint(g.guilumgain, 3));
    dlgputint(dlgof(pagesettings2), 1012, g.guilumgain);
    tick(pagematrix, 1025, false);
    enable(pagematrix, {1025}, false);
  }
  // The bitrate controls and the encode button wait for setfilelabels, which enables what fits.
  enable(pagemain, {1085, 1033, 1086, 1087, 1018}, false);
  enable(dlgmain, {1012}, false);
}

void setfilelabels() {
  const bool input = iniseen[keyinfile];
  if (input) {
    filecaption(1008, "input: ", inputpath);
    enable(pagemain, {1029}, true);
  }
  if (iniseen[keyoutfile]) {
    enable(pagemain, {1029}, true);
    filecaption(1029, "output: ", outputpath);
  }
  // A script whose frame server did not load cannot be encoded, whatever the model says.
  const bool encodable = movieinfovalid && outputset && !(avsinput && !avsloaded);
  enable(dlgmain, {1012}, encodable);
  if (input) enable(pagemain, {1030}, true);
  if (iniseen[keylogfile]) {
    enable(pagemain, {1030}, true);
    filecaption(1030, "log: ", logpath);
  }

  // The lists whole from the tables, sorted first (an empty table only empties its list).
  int removed = 0;
  if (chaptertable.count > 0) chapterset(0, removed, true);
  if (zonetable.count > 0) zoneset(0, removed, true);
  showchapterlist();
  showzonelist();

  if (movieinfovalid) {
    if (ticked(pagesettings1, 1055)) {
      enable(pagesettings1, {1056, 1057}, true);
      enable(pagemain, {1085, 1033, 1086, 1087}, false);
      enable(pagemain, {1018}, ticked(pagesettings1, 1057));
    } else {
      enable(pagemain, {1085}, true);
      tick(pagemain, 1085);
      enable(pagemain, {1033}, true);
      enable(pagemain, {1086}, false);
      enable(pagemain, {1087, 1018}, true);
    }
    enable(pagemain, {1088, 1089}, true);
  } else {
    enable(pagemain, {1085, 1033, 1086, 1087, 1018, 1088, 1089}, false);
  }

  dlgputint(dlgof(pagechapters), 1061, 0);
  dlgputint(dlgof(pagezones), 1061, 0);
  movieinfo();
  filelength();
  if (chaptertable.count > 0) dlgputint(dlgof(pagechapters), 1094, 1, ixstate);
}
