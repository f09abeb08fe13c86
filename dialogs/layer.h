// Inside the dialog layer: templates, the control table and the seam for a window backend.
#pragma once

#include <functional>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dialogs/dialogs.h"

enum controlkinds : int {
  ctlpush = 1,
  ctlcheck,
  ctlradio,
  ctledit,
  ctlstatic,
  ctllist,
  ctlcombo,
  ctlscroll,
  ctltrack,
  ctlupdown,
  ctlprogress,
  ctltab,
  ctlgroup,    // group box: a frame with a caption, no value
  ctlpicture,  // a box the program paints (dlgpaint); its value is the picture
};

// Looks of a template item (the resource's control styles), or-ed together.
enum itemstyles : int {
  stylecentre = 1,      // edit or static: text centred
  styleright = 2,       // static: text right-aligned
  stylereadonly = 4,    // edit: the user cannot type into it
  styledigits = 8,      // edit: takes digits only
  stylefixedfont = 16,  // list box or static: the fixed-pitch font (as after dlgfixedfont)
  styleeditable = 32,   // combo box with an edit field (else a drop-down list to pick from)
  stylesunken = 64,     // static or picture box: a sunken frame around it (a picture box is black
                        // until its first picture)
  stylegroup = 128,     // radio button: starts a group of its own, even right after another radio
  stylecell = 256,      // edit: a cell of a grid of numbers, a thin frame and a smaller font, so
                        // three digits fit a cell 16 units wide with room on either side
};

// One control of a template; position and size in dialog units. Labels have id -1. A combo
// box's text is its list: the items separated by '\n'.
struct dlgitem {
  int kind;
  int id;
  const char* text;
  int x, y, w, h;
  int style = 0;  // itemstyles
};

enum dialogstyles : int {
  stylecaption = 1,      // title bar
  stylesysmenu = 2,      // system menu and close box
  styleminimize = 4,     // minimise box
  stylemaximize = 8,
  styleresizable = 16,
};

struct dlgtemplate {
  int id;
  const char* caption;
  int x, y, w, h;       // dialog units
  int style;            // dialogstyles
  int statusid;         // the control whose changes the headless layer prints (0: none)
  const dlgitem* items;
  int count;
};

// The program's resources: each program names its own list before it loads a dialog.
void dlgsetresources(const dlgtemplate* const* list, int count);
const dlgtemplate* dlgfindtemplate(int id);

// An icon of the program's resources: size x size pixels given as rows of characters from the
// top, one a pixel naming its colour: '.' none (transparent), '#' black, 'w' white, 's' grey,
// 'b' blue, 'g' green, 'y' yellow, 'r' red.
struct dlgiconres {
  int id;
  int size;
  const char* const* rows;
};
void dlgseticons(const dlgiconres* list, int count);
// The pixels of icon id as rows of red, green, blue and alpha bytes; false for an unknown icon.
bool dlgiconpixels(int id, int& size, std::vector<uint8_t>& rgba);

// One row of the control table.
struct dlgcontrol {
  int kind = 0;
  int id = -1;
  int x = 0, y = 0, w = 0, h = 0;
  std::string text;                // window text (trailing blanks dropped)
  int value = 0;                   // position of a slider, up-down or progress bar
  int minimum = 0, maximum = 100;  // range
  bool ticked = false;             // check box, radio button
  bool enabled = true;
  int selection = 0;               // list, combo: selected item (1-based, 0 none); tab: page
  std::vector<std::string> items;  // list and combo items, tab captions (item n at n - 1)
  std::map<int, int> pages;        // tab control: page n -> page dialog id
  int group = 0;                   // radio buttons next to each other in the template share one
  int style = 0;                   // itemstyles of the template, fixed font added by dlgfixedfont
  bool redraw = true;              // list box: drawn as it changes (dlgsetredraw)
  int extent = 0;                  // list box: scrollable width in pixels (dlglistextent)
  // Picture box: the last picture painted, stretched to the box (null before the first).
  std::shared_ptr<const std::vector<uint8_t>> picture;
  int picturew = 0, pictureh = 0;
  std::map<int, dlgcallback> callbacks;  // event -> callback
};

struct dialogrecord {
  int id = 0;
  const dlgtemplate* tmpl = nullptr;
  std::vector<dlgcontrol> rows;    // template order
  std::map<int, int> index;        // control id -> row
  std::map<int, dlgcallback> dialogcallbacks;
  bool created = false;            // dlgshow ran
  int showmode = 0;                // 0 hidden
  dialogrecord* parent = nullptr;
  int parentid = 0;
  int icon = 0;                    // the window's icon (dlgseticon), 0 none
  void* backenddata = nullptr;     // the window backend's own
  std::mutex lock;                 // guards rows
  std::recursive_mutex notifylock; // orders the backend's change notes of one dialog
};

// What a window backend is told. shown and closed come on the window thread; changed comes on
// the thread that made the change, after the table was updated, without the table lock but
// with the dialog's notifylock held (so notes of one dialog arrive in order): it gets a copy
// of the row as it now is (it may put into the dialog; that note follows). Events go back into the
// layer as msgevent messages of the queue (dlguserevent in dialogs/driver.h does that).
// visibility comes on the thread of dlgshowwindow after showmode changed; focus on the window
// thread after the layer moved the keyboard focus (dlg null: to no control); choosefile on the
// window thread, modal, true with path when the user chose a file; icon on the thread of
// dlgseticon.
struct dlgbackend {
  virtual ~dlgbackend() = default;
  virtual void shown(dialogrecord& dlg) {}
  virtual void changed(dialogrecord& dlg, const dlgcontrol& row) {}
  virtual void closed(dialogrecord& dlg) {}
  virtual void visibility(dialogrecord& dlg) {}
  virtual void focus(dialogrecord* dlg, int id) {}
  virtual bool choosefile(const dlgfilerequest& request, std::string& path) { return false; }
  virtual void icon(dialogrecord& dlg) {}
};
// Installs a window backend (null: the headless one).
void dlgsetbackend(dlgbackend* backend);
// The dialog is shown and visible.
bool dlgvisible(dialogrecord& dlg);
// Headless output of status lines: stdout (platform/statusout.h) unless a test installs its own
// line sink, which gets every change of the status control as it is (an empty function
// restores stdout). The sink runs on the writing thread.
void dlgsetheadlessout(std::function<void(const std::string&)> sink);
// The program's rule for telling progress from messages on stdout: progress gives the progress
// line the dialog shows now, read from its control table, or an empty text while the status
// control holds a message. It is asked after every change of a visible dialog. Without it
// every status change is a message.
void dlgsetheadlessprogress(std::function<std::string(dialogrecord&)> progress);
// No display (DISPLAY unset) or OSTREL_HEADLESS=1.
bool dlgheadless();
// Dialog units to pixels with the fixed base units of both backends: 6 x 13 pixels per 4 x 8
// units, rounded as the system's MulDiv rounds.
int dlgpixelsx(int units);
int dlgpixelsy(int units);
