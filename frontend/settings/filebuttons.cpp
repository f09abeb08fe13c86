// The buttons that choose, load or save a file: the input, output and log files and the
// settings files of the Main page, the matrix files of the Matrix page and the chapter files
// of the Preview/Chapters page.
//
// Each button with a chooser starts it with an empty name in the folder of the file it set
// last; a cancel changes nothing but that name (the input, output and log names come back).
#include <algorithm>
#include <cmath>
#include <vector>

#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "platform/system.h"
#include "resources/frontend.h"

namespace {
const char* const noinputcaption = "input file name (*.d2v, *.avs)";

// Where a chooser starts: the folder of a file name, the matrix folder, or none (the
// chooser's own).
enum startin { folderof, matrixfolder, nofolder };

struct chooserrec {
  int id;
  bool save;
  const char* title;
  const char* description;  // the blanks inside are part of it
  const char* patterns;
  const char* defext;  // put on a name typed without an extension; none for an input
  startin start;
  std::string* path;
};

// The buttons with a chooser, by control id (1008..1030 Main, 11xx Matrix, 2008/2009
// Preview/Chapters).
const std::vector<chooserrec>& choosers() {
  static const std::vector<chooserrec> table = {
      {1008, false, "select input file", "input files  (*.d2v, *.avs)", "*.d2v;*.avs", "", folderof, &inputpath},
      {1029, false, "select output file", "output files (*.m2v)", "*.m2v", "m2v", folderof, &outputpath},
      {1030, false, "select log file", "log files    (*.log)", "*.log", "log", folderof, &logpath},
      {1009, false, "select ini file", "ini file     (*.ini)", "*.ini", "ini", folderof, &userinipath},
      {1010, true, "save ini file", "ini file     (*.ini)", "*.ini", "ini", folderof, &userinipath},
      {1102, false, "import matrix file", "matrix file  (*.mtx, *.cqm)", "*.mtx;*.cqm", "mtx", matrixfolder,
       &matrixpath},
      {1104, true, "export matrix file as mtx", "matrix file  (*.mtx)", "*.mtx", "mtx", nofolder, &matrixpath},
      {1103, true, "export matrix file as cqm", "matrix file  (*.cqm)", "*.cqm", "cqm", nofolder, &matrixpath},
      {2008, false, "import chapter file", "txt file     (*.txt)", "*.txt", "txt", folderof, &chapterpath},
      {2009, true, "export chapter file", "txt file     (*.txt)", "*.txt", "txt", folderof, &chapterpath},
  };
  return table;
}

// The chapter file choosers start where the settings files are.
const std::string& startfile(const chooserrec& c) {
  return c.path == &chapterpath ? userinipath : *c.path;
}

// Shows the button's chooser, which starts with an empty name; the name chosen goes into the
// button's path. A cancel leaves the path empty, or as it was for the input, output and log.
bool choose(const chooserrec& c) {
  dlgfilerequest r;
  r.save = c.save;
  r.title = c.title;
  r.description = c.description;
  r.patterns = c.patterns;
  r.defext = c.defext;
  if (c.start == folderof) r.folder = pathdir(asencoder(startfile(c)));
  if (c.start == matrixfolder) r.folder = matrixdir;
  const std::string before = *c.path;
  c.path->clear();
  std::string chosen;
  if (dlgchoosefile(r, chosen)) {
    *c.path = chosen;
    return true;
  }
  if (c.path == &inputpath || c.path == &outputpath || c.path == &logpath) *c.path = before;
  return false;
}

// The preview pages that show a picture show the new source's first frame, or black without one.
void freshpreview() {
  for (int page : {pagechapters, pagezones}) {
    dialogrecord& p = dlgof(page);
    std::vector<uint8_t> rgb;
    int w = 0, h = 0;
    if (!dlgpicture(p, previewbox, rgb, w, h)) continue;
    if (movieinfovalid) {
      showframe(p);
    } else {
      std::fill(rgb.begin(), rgb.end(), 0);
      dlgpaint(p, previewbox, rgb.data(), w, h);
    }
  }
}

// An input that is not there, cannot be used or did not open leaves none: no name, no mark
// (so no "*INFILE" is written), no source, no chapters or zones.
void noinput(const std::string& status) {
  inputpath.clear();
  iniseen[keyinfile] = false;
  movieinfovalid = false;
  guisettings.sourceframes = 0;
  dlgputtext(dlgof(pagemain), 1008, noinputcaption);
  if (!status.empty()) showinfo(status, false);
  clearchapters();
  clearzones();
}

// The longest automatic GOP a DVD takes at the new source's rate: 12 at 23.976 frames a
// second (pulldown), 15 at 25; other rates leave it.
void autogopforrate() {
  const float fps = guisettings.sourcefps;
  int longest = 0;
  if (std::fabs(fps - 23.976f) < 0.01f) longest = 12;
  if (std::fabs(fps - 25.0f) < 0.01f) longest = 15;
  if (longest == 0) return;
  dlgputtext(dlgof(pagemain), 1113, std::to_string(longest));
  dlgputint(dlgof(pagemain), 1112, longest);
}

void saidok(bool ok, const char* text) {
  if (ok) showinfo(text, false);
}
}  // namespace

void loadsettings(int mode) {
  // Nothing of the input before may outlive the file: its kind, its source, its output.
  avsinput = d2vinput = false;
  movieinfovalid = false;
  outputset = false;
  setdefaults();
  loadini(mode);
  setcontrols();
  if (avsinput) openavs(1);
  else if (d2vinput) opend2v(1);
  setfilelabels();
  freshpreview();
}

void inputchosen() {
  bool opened = false;
  inputexists = isregularfile(asencoder(inputpath));
  if (!inputexists) {
    noinput(" input file not found");
  } else {
    pickdecoder();
    const bool script = avsinput, project = d2vinput;  // the opens clear them when they fail
    iniseen[keyinfile] = script || project;
    iniseen[keyframes] = false;  // the new source's frames are all encoded
    d2vloaded = false;           // the decoder library of the new project's version is loaded
    movieinfovalid = false;      // only an open of this input makes it valid
    if (script) {
      showinfo(" AVS file opened", false);
      openavs(1);
    } else if (project) {
      showinfo(" D2V project file opened", false);
      opend2v(1);
    }
    if (!d2vfilesfound) noinput(" ERROR, invalid D2V project, can't find the VOB/MPEG files");
    else if (!d2vversionok) noinput(" ERROR, invalid D2V project, DGIndex/DGDecode mismatch" + d2vmismatch());
    else if (!script && !project) noinput(" ERROR, unknown input file type, the input must be a .avs or .d2v file");
    else if (!movieinfovalid) noinput("");  // the open said why
    else {
      iniseen[keyinfile] = true;
      clearchapters();
      clearzones();
      opened = true;
    }
    for (int id : {1029, 1030}) dlgputflag(dlgof(pagemain), id, true, ixenabled);
  }
  setfilelabels();
  if (opened) autogopforrate();
  freshpreview();
}

void filebutton(dialogrecord& dlg, int id, int event) {
  // The scan writes the chapter table and reads the source while it runs.
  if (scanrunning) return;
  switch (id) {
    case 1012: loadsettings(1); return;
    case 1013: saveini(1); return;
    default: break;
  }
  const chooserrec* c = nullptr;
  for (const chooserrec& r : choosers())
    if (r.id == id) c = &r;
  if (!c) return;
  if (!choose(*c)) {
    // The old input is kept; its labels are shown again.
    if (id == 1008) setfilelabels();
    return;
  }
  bool ok = false;
  switch (id) {
    case 1008: inputchosen(); break;
    case 1029:
      iniseen[keyoutfile] = true;
      outputset = true;
      setfilelabels();
      break;
    case 1030:
      iniseen[keylogfile] = true;
      setfilelabels();
      break;
    case 1009: loadsettings(2); break;
    case 1010: saveini(2); break;
    case 1102:
      readmatrix(ok);
      if (!ok) break;
      guisettings.matrixindex = custommatrixindex;
      showmatrix();
      showinfo(" matrix file successfully read", false);
      break;
    case 1104: saidok(writemtx(), " matrix file successfully written"); break;
    case 1103: saidok(writecqm(), " matrix file successfully written"); break;
    case 2008:
      readchapters();
      showchapterlist();
      break;
    case 2009: writechapters(); break;
    default: break;
  }
}
