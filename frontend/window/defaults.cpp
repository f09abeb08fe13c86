// The defaults of every page control, and the DVD-compliance fixer.
#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

namespace {
void enable(dialogrecord& d, std::initializer_list<int> ids, bool on) {
  for (int id : ids) dlgputflag(d, id, on, ixenabled);
}
void tick(dialogrecord& d, int id, bool on) { dlgputflag(d, id, on); }
void range(dialogrecord& d, int id, int lo, int hi, int pos) {
  dlgputint(d, id, lo, ixmin);
  dlgputint(d, id, hi, ixmax);
  dlgputint(d, id, pos);
}
}  // namespace

void setdefaults() {
  dialogrecord& main = dlgof(dlgmain);
  dialogrecord& p102 = dlgof(pagemain);
  dialogrecord& p103 = dlgof(pagesettings1);
  dialogrecord& p104 = dlgof(pagesettings2);
  dialogrecord& p105 = dlgof(pagematrix);
  dialogrecord& p106 = dlgof(pagechapters);
  dialogrecord& p107 = dlgof(pagezones);

  dlgputflag(main, 1012, movieinfovalid && outputset, ixenabled);

  // Main: files, the settings buttons, the bitrate, profile, aspect, dc precision and GOP.
  dlgputflag(p102, 1008, true, ixenabled);
  if (!iniseen[keyinfile]) {
    dlgputtext(p102, 1008, "input file name (*.d2v, *.avs)");
    dlgputflag(p102, 1029, false, ixenabled);
    dlgputtext(p102, 1029, "output file name (not set)");
    dlgputflag(p102, 1030, false, ixenabled);
    dlgputtext(p102, 1030, "log file name (not set)");
  } else {
    enable(p102, {1029, 1030}, true);
  }
  enable(p102, {1009, 1010, 1012, 1013}, true);
  enable(p102, {1085, 1033, 1087, 1018}, movieinfovalid);
  dlgputflag(p102, 1086, false, ixenabled);
  tick(p102, 1085, true);
  tick(p102, 1033, false);
  dlgputtext(p102, 1087, "4000");
  dlgputtext(p102, 1018, "8000");
  enable(p102, {1078, 1079, 1080}, true);
  tick(p102, 1079, true);
  enable(p102, {1081, 1082, 1083, 1084}, true);
  tick(p102, 1083, true);
  enable(p102, {1046, 1047, 1048, 1049}, true);
  tick(p102, 1047, true);
  tick(p102, 1040, true);
  // Autogop on: its longest GOP can be set (the fixed GOP of Settings 1 cannot, below).
  tick(p102, 1077, true);
  enable(p102, {1113, 1112}, true);
  dlgputtext(p102, 1113, "15");
  range(p102, 1112, 12, 18, 15);
  tick(p102, 1090, false);
  dlgputflag(p102, 1041, true, ixenabled);
  tick(p102, 1041, false);
  tick(p102, 1044, false);
  enable(p102, {1011, 1091}, true);

  // Settings 1: field order, scan, constant quantiser, factors, GOP.
  enable(p103, {1092, 1093}, false);
  tick(p103, 1093, true);
  enable(p103, {1019, 1020}, true);
  tick(p103, 1019, true);
  tick(p103, 1055, false);
  dlgputtext(p103, 1056, "5.000");
  dlgputflag(p103, 1056, false, ixenabled);
  tick(p103, 1057, false);
  dlgputflag(p103, 1057, false, ixenabled);
  dlgputtext(p103, 1038, "1.00");
  dlgputflag(p103, 1038, false, ixenabled);
  dlgputflag(p103, 1109, false, ixenabled);
  range(p103, 1109, 1, 32, 9);
  dlgputtext(p103, 1037, "1.00");
  dlgputflag(p103, 1037, false, ixenabled);
  dlgputflag(p103, 1110, false, ixenabled);
  range(p103, 1110, 1, 32, 9);
  dlgputtext(p103, 1045, "15");
  dlgputtext(p103, 1544, "2");
  enable(p103, {1045, 1544, 1023, 1024}, false);
  range(p103, 1023, 1, 36, 15);
  range(p103, 1024, 0, 2, 2);

  // Settings 2.
  dlgputtext(p104, 1035, "0");
  dlgputtext(p104, 1017, "5");
  tick(p104, 1022, true);
  tick(p104, 2023, false);
  tick(p104, 1018, false);
  tick(p104, 1021, true);
  tick(p104, 2021, false);
  dlgputflag(p104, 2021, true, ixenabled);
  tick(p104, 2022, false);
  tick(p104, 1039, false);
  tick(p104, 1050, true);
  for (int id : {1031, 1032, 1033, 1034}) dlgputtext(p104, id, "0");
  dlgputflag(p104, 1011, false, ixenabled);
  for (int id : {1036, 1044, 1045}) dlgputtext(p104, id, "0");
  dlgputint(p104, 1012, 4, ixmax);
  dlgputint(p104, 1012, 0);
  dlgputtext(p104, 1056, "0");

  // Matrix.
  tick(p105, 1025, false);
  dlgputflag(p105, 1010, true, ixenabled);
  tick(p105, 1010, true);
  dlgputflag(p105, 1054, true, ixenabled);
  dlgputtext(p105, 1054, "MPEG");
  enable(p105, {1102, 1104, 1103}, false);

  // The preview sliders; the zone value.
  for (dialogrecord* p : {&p106, &p107}) {
    dlgputint(*p, 1061, previewstate.sliderrange, ixmax);
    dlgputint(*p, 1061, 0);
  }
  dlgputtext(p107, 1017, "1.0");

  guisettings.guiaspect = 3;
  guisettings.matrixindex = 1;
  showmatrix();
  enablegrid(false);
  filelength();
  movieinfo();
  pagewords();
}

void makedvd() {
  dialogrecord& p102 = dlgof(pagemain);
  dialogrecord& p103 = dlgof(pagesettings1);
  dialogrecord& p104 = dlgof(pagesettings2);
  guisettingsrec& g = guisettings;
  auto ticked = [](dialogrecord& d, int id) { return dlggetflag(d, id); };
  // A number edit read, brought into lo..hi and written back; an edit that holds no number is
  // left as it is. The number, or nothing.
  auto clampedit = [](dialogrecord& d, int id, int lo, int hi) -> std::optional<int> {
    int v = 0;
    if (readints(dlggettext(d, id, 40), &v, 1) != listok) return std::nullopt;
    v = std::clamp(v, lo, hi);
    dlgputtext(d, id, adjustleft(fmtint(v, 8)));
    return v;
  };

  // Aspect ratios a DVD takes: 4:3 and 16:9.
  if (ticked(p102, 1081)) {
    tick(p102, 1082, true);
    g.guiaspect = 2;
  }
  if (ticked(p102, 1084)) {
    tick(p102, 1083, true);
    g.guiaspect = 3;
  }
  // DC precision up to 10 bits; the VBV check; a constant quantiser under the maximum bitrate.
  if (ticked(p102, 1049)) tick(p102, 1048, true);
  tick(p104, 1021, true);
  if (ticked(p103, 1055)) {
    dlgputflag(p102, 1018, true, ixenabled);
    tick(p103, 1057, true);
  }
  clampedit(p104, 1031, 0, 23);
  for (int id : {1032, 1033, 1034}) clampedit(p104, id, 0, 59);

  // Field order and pulldown: a 23.976 frames/s source is coded progressive with pulldown
  // flags; any other source without them.
  auto progressive = [&] {
    tick(p103, 1093, true);
    enable(p103, {1092, 1093}, false);
    tick(p103, 1019, true);
  };
  const bool film = movieinfovalid && src23976;
  if (film) {
    tick(p102, 1041, false);
    dlgputflag(p102, 1041, false, ixenabled);
    progressive();
    tick(p102, 1044, true);
  } else if (ticked(p102, 1044)) {
    tick(p102, 1044, false);
    tick(p102, 1041, false);
    dlgputflag(p102, 1041, true, ixenabled);
    progressive();
  }

  // GOP of at most 15 pictures with at most 2 B pictures.
  pagewords();  // the time code edits were clamped

  if (auto gop = clampedit(p103, 1045, 1, 15)) dlgputint(p103, 1023, *gop);
  if (auto bf = clampedit(p103, 1544, 0, 2)) dlgputint(p103, 1024, *bf);

  // Bitrates: an average up to 9000 and a maximum up to 9800 kbit/s, the average never above
  // the maximum.
  auto avg = clampedit(p102, 1087, INT_MIN, 9000);
  auto max = clampedit(p102, 1018, INT_MIN, 9800);
  if (avg && max && *avg > *max) dlgputtext(p102, 1087, adjustleft(fmtint(*max, 8)));
  filelength();

  // What the button cannot change: the picture size. The longest automatic GOP by the rate.
  if (movieinfovalid) {
    if (previewstate.width > 720 || previewstate.height > 576) {
      showinfo(", WARNING", true);
      showinfo(", resolution NOT DVD-compliant", true);
    }
    if (std::fabs(g.sourcefps - 23.976f) < 0.01f) {
      dlgputtext(p102, 1113, "12");
      dlgputint(p102, 1112, 12);
    } else if (std::fabs(g.sourcefps - 25.0f) < 0.01f) {
      dlgputtext(p102, 1113, "15");
      dlgputint(p102, 1112, 15);
    }
  }
}
