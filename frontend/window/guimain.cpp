// The front end's main routine: the main dialog with its tab control and six pages, the
// registrations of every page's callbacks, the start-up chain, the message loop and the end.
#include <algorithm>
#include <array>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "dialogs/dialogs.h"
#include "dialogs/layer.h"
#include "dialogs/window.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "frontend/window/guimain.h"
#include "platform/queue.h"
#include "platform/system.h"
#include "resources/frontend.h"
#include "videosource/bridge.h"

namespace {
std::array<dialogrecord*, 7> dialogs{};  // 101..107

const char* const tabcaptions[6] = {"Main", "Settings 1", "Settings 2", "Matrix", "Preview/Chapters",
                                    "Preview/Zones"};

// One row of the registrations: the callback on a page's controls for an event.
struct registration {
  int page;
  std::vector<int> ids;
  dlgcallback callback;
  int event;
};

std::vector<int> span(int first, int last) {
  std::vector<int> v;
  for (int id = first; id <= last; id++) v.push_back(id);
  return v;
}
std::vector<int> join(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> v;
  for (auto& p : parts) v.insert(v.end(), p.begin(), p.end());
  return v;
}

// The callbacks of the pages; ids that name labels or no control of a page never fire.
std::vector<registration> registrations() {
  const std::vector<int> grids = join({span(1201, 1264), span(1301, 1364)});
  return {
      {pagemain, {1008, 1009, 1010, 1012, 1013, 1029, 1030}, filebutton, evdefault},
      {pagemain,
       join({{1011, 1033, 1040, 1041, 1044}, span(1046, 1049), span(1077, 1085), span(1090, 1094), {1098, 1099},
             span(1111, 1113)}),
       mainclick, evdefault},
      {pagemain, {1018, 1086, 1087, 1088, 1089}, mainedit, evlosefocus},
      {pagemain, {1018, 1086, 1087, 1088, 1089}, mainfocus, evgainfocus},
      {pagesettings1,
       {1019, 1020, 1023, 1024, 1037, 1038, 1045, 1055, 1057, 1092, 1093, 1102, 1107, 1109, 1110, 1544},
       set1click, evdefault},
      {pagesettings2,
       join({{1010, 1011, 1012, 1017, 1018, 1019, 1021, 1022}, span(1031, 1035), {1039}, span(1050, 1053),
             {1056, 2021, 2022, 2023}}),
       set2click, evdefault},
      // The constant quantiser is normalised when it loses the focus.
      {pagesettings1, {1056}, set1click, evgainfocus},
      {pagesettings1, {1056}, set1click, evlosefocus},
      {pagesettings2, {1036, 1044, 1045, 1056}, set2edit, evlosefocus},
      {pagesettings2, {1036, 1044, 1045, 1056}, set2focus, evgainfocus},
      {pagematrix, {1010, 1011, 1025, 1054}, matrixclick, evdefault},
      {pagematrix, {1054}, matrixclick, evchange},  // a name typed into the combo box
      {pagematrix, {1102, 1103, 1104}, filebutton, evdefault},
      {pagematrix, grids, gridedit, evlosefocus},
      {pagematrix, grids, gridfocus, evgainfocus},
      {pagechapters, {2008, 2009}, filebutton, evdefault},
      {pagechapters, join({span(1011, 1016), {1029, 1030, 1036, 1037, 1038, 1061, 1094, 1097, 2010}}), chapterpage,
       evdefault},
      {pagezones, join({span(1011, 1017), {1061}, span(1114, 1117)}), zonepage, evdefault},
  };
}

// The start values of the model and the window state, before anything else runs.
void startvalues() {
  guisettings = guisettingsrec{};
  inputpath.clear();
  outputpath.clear();
  logpath.clear();
  userinipath.clear();
  matrixpath.clear();
  chapterpath.clear();
  inputexists = movieinfovalid = outputset = avsloaded = d2vloaded = false;
  scanrunning = false;
  std::fill(std::begin(iniseen), std::end(iniseen), false);
  guisettings.startframe = guisettings.endframe = -1;
  d2vversion = 0;
  avsinput = d2vinput = false;
  guisettings.matrixindex = 1;
  chaptertable.count = 0;
  std::fill(std::begin(chaptertable.frames), std::end(chaptertable.frames), 0);
  zonetable.count = 0;
  previewstate = previewstaterec{};
  inicarried.clear();
  custommatrix = initialcustommatrix();
}

// The pages that show the source: their navigation controls follow whether one is open.
const int chaptercontrols[] = {1015, 1011, 1012, 1016, 1014, 1013, 1037, 1038, 1029,
                               1030, 2010, 1036, 1097, 2008, 2009, 1061, 1094};
const int zonecontrols[] = {1017, 1114, 1115, 1116, 1015, 1011, 1012, 1016, 1014, 1013, 1036, 1061};

void showframelists(int pageid) {
  dialogrecord& p = dlgof(pageid);
  bool source = movieinfovalid && guisettings.sourceframes > 0;
  if (pageid == pagechapters) {
    for (int id : chaptercontrols) dlgputflag(p, id, source, ixenabled);
  } else {
    for (int id : zonecontrols) dlgputflag(p, id, source, ixenabled);
  }
  if (!source) return;
  dlgputtext(p, 1036, adjustleft(fmtint(previewstate.previewframe, 8)));
  // The zone list shows each zone's factor beside its frame, as the page's own buttons list it.
  if (pageid == pagechapters) {
    if (chaptertable.count == 0) clearchapters();
    else showchapterlist();
  } else {
    if (zonetable.count == 0) clearzones();
    else showzonelist();
  }
}
}  // namespace

dialogrecord* frontdialog(int id) {
  if (id < dlgmain || id > pagezones) return nullptr;
  return dialogs[(size_t)(id - dlgmain)];
}

dialogrecord& dlgof(int id) { return *frontdialog(id); }

void mainevent(dialogrecord& dlg, int id, int event) {
  if (event == evinit) {
    for (int p = pagemain; p <= pagezones; p++) dlgshow(dlgof(p), 0, &dlg, tabcontrol);
    dlgputint(dlg, tabcontrol, 1, ixstate);
  } else if (event == evdestroy) {
    stopscan();
    postquit(0);
  }
}

void tabchange(dialogrecord& dlg, int id, int event) {
  if (scanrunning) {
    dlgputint(dlg, tabcontrol, 5, ixstate);
    showinfo(" can't change tab while scene change detection scan is running", false);
    return;
  }
  int n = dlggetint(dlg, tabcontrol, ixstate);
  int pageid = dlggetint(dlg, tabcontrol, n);
  if (pageid < pagemain || pageid > pagezones) return;
  // No page holds a control with the page's own id: the focus goes to no control, and the edit
  // that had it is told first (its number is normalised before it is read below).
  dlgsetfocus(dlgof(pageid), pageid);
  switch (pageid) {
    case pagemain:
      clearinfo();
      break;
    case pagesettings1:
    case pagesettings2:
      showini();
      clearinfo();
      break;
    case pagematrix: {
      clearinfo();
      int gain = 0;
      readints(dlggettext(dlgof(pagesettings2), 1056, 12), &gain, 1);
      dialogrecord& p = dlgof(pagematrix);
      if (gain > 0) {
        dlgputflag(p, 1025, false, ixenabled);
        dlgputflag(p, 1025, false);
        showinfo(" luminance gain active, adaptive matrix disabled", false);
      } else {
        dlgputflag(p, 1025, true, ixenabled);
      }
      break;
    }
    case pagechapters:
    case pagezones:
      showframelists(pageid);
      clearinfo();
      break;
    default:
      break;
  }
}

bool guistart(int showmode, const std::string& folder) {
  dlgsetresources(frontresources, frontresourcecount);
  dlgseticons(fronticons, fronticoncount);
  windowstart();
  dialogrecord*& main = dialogs[0];
  if (!dlgload(dlgmain, main)) return false;
  dlgonevent(*main, tabcontrol, tabchange);
  for (int p = pagemain; p <= pagezones; p++)
    if (!dlgload(p, dialogs[(size_t)(p - dlgmain)])) return false;
  dlgputint(*main, tabcontrol, 6, ixcount);
  for (int n = 1; n <= 6; n++) {
    dlgputtext(*main, tabcontrol, tabcaptions[n - 1], n);
    dlgputint(*main, tabcontrol, dlgmain + n, n);
  }
  dlgonevent(*main, dlgmain, mainevent, evinit);
  dlgonevent(*main, dlgmain, mainevent, evdestroy);
  startvalues();
  for (int id : {1012, 1013, 1011}) {
    dlgonevent(*main, id, mainbutton);
    dlgputflag(*main, id, true, ixenabled);
  }
  for (const registration& r : registrations())
    for (int id : r.ids) dlgonevent(dlgof(r.page), id, r.callback, r.event);
  showmatrix();
  dlgshow(*main, showmode);
  dlgseticon(*main, 116);
  initpaths(folder);
  loadsettings(1);
  cpucheck();
  return true;
}

int guiloop() {
  message m;
  while (getmsg(m)) {
    if (m.kind == msgclose) {
      // The close box, Escape, SIGINT or SIGTERM: a running scan stops first.
      stopscan();
      postquit(0);
    }
    dlgpump(m);
  }
  return m.code;
}

void guiend() {
  for (dialogrecord*& d : dialogs) dlgclose(d);
  if (avsloaded) avsclose();
  if (d2vloaded) d2vfree();
  avsloaded = d2vloaded = false;
}

int guimain() {
  closeonsignals();
  if (!guistart(1)) return 1;
  int code = guiloop();
  guiend();
  return code;
}
