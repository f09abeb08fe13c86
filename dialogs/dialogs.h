// The dialog layer of both programs.
//
// Every control of a dialog lives in the layer's own table (kind, text, value, range, state,
// enabled, items, callbacks per event); the rest of the system reaches a control only by its
// dialog and control id and a property by an index code. Puts and gets are safe from any
// thread; programmatic puts raise no events. Events (from a window backend or the test driver,
// dialogs/driver.h) travel through the main loop's queue and run the callbacks on the window
// thread (dlgdispatch). Without a display the layer runs headless: while a dialog is shown,
// the changes of its status control (1053 for the encoder) are printed trimmed on stdout,
// progress as one line that replaces itself and every other text as a line of its own
// (dlgsetheadlessprogress). A window backend plugs in through dialogs/layer.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct message;

// Event codes.
enum : int {
  evinit = 0,          // dialog created (control id = dialog id)
  evdestroy = -15,     // dialog destroyed
  evsize = -24,        // dialog size changed
  evclick = -4,        // push button, check box, radio button (default; -1 accepted too)
  evchange = -6,       // edit, combo box, scroll bar, trackbar, up-down (default)
  evupdate = -7,       // text updated on screen: edit, combo box
  evgainfocus = -18,   // edit, combo box
  evlosefocus = -19,   // edit, combo box
  evselchange = -10,   // list box, combo box, tab control (default)
  evdblclick = -14,    // list box, combo box
  evtab2 = -20,        // second tab-control event (not used)
  evdefault = 1,       // registration without an event: the control's default event
};

// Index codes of properties.
enum : int {
  ixdefault = -1,  // value of slider/up-down/progress bar, text of a text control, tick state
  ixenabled = -3,
  ixstate = -5,    // ticked; for a tab control the current page; for a list the selection
  ixmax = -8,
  ixmin = -16,
  ixpos = -9,
  ixcount = -13,   // number of items
  // n >= 1: item n (list and combo box items; tab captions, and with dlgputint the page bound)
};

struct dialogrecord;  // the layer's record of one dialog (dialogs/layer.h)
using dlgcallback = void (*)(dialogrecord& dlg, int id, int event);

// Builds the control table from the dialog template with that resource id; false when the
// template does not exist. The record lives until dlgclose.
bool dlgload(int resourceid, dialogrecord*& dlg);
// Creates the dialog, shown with showmode (0 = hidden); parent: the dialog holding the tab
// control parentid when this dialog is one of its pages. Runs the dialog's evinit callback.
void dlgshow(dialogrecord& dlg, int showmode = 1, dialogrecord* parent = nullptr, int parentid = 0);
// Registers cb for (id, event); id = the dialog's own id registers a dialog-level callback.
void dlgonevent(dialogrecord& dlg, int id, dlgcallback cb, int event = evdefault);
void dlgputint(dialogrecord& dlg, int id, int value, int index = ixdefault);
void dlgputflag(dialogrecord& dlg, int id, bool value, int index = ixdefault);
// Sets a text; trailing blanks are dropped.
void dlgputtext(dialogrecord& dlg, int id, const std::string& text, int index = ixdefault);
int dlggetint(dialogrecord& dlg, int id, int index = ixdefault);
bool dlggetflag(dialogrecord& dlg, int id, int index = ixdefault);
// The text, blank-padded to length characters (a longer text is cut).
std::string dlggettext(dialogrecord& dlg, int id, int length = 512, int index = ixdefault);
// Kept for the front end's font message; the headless layer has nothing to send it to.
void dlgsendmsg(dialogrecord& dlg, int id, int message, long wparam, long lparam);

// The window of a dialog shown (created) already: hidden with showmode 0, else shown again
// (restored from an icon too), on the window thread. No event; a hidden dialog prints no
// status lines.
void dlgshowwindow(dialogrecord& dlg, int showmode);

// List boxes. Items are lines of text (1-based); the selection is ixstate (0: none). Clear
// empties the list and its selection; add appends a line and returns its number. While redraw
// is off the window keeps showing the list as it was and catches up when it is turned on
// (a list rebuilt whole does not flicker); the table always holds the lines. The extent is the
// width in pixels the user can scroll across.
void dlglistclear(dialogrecord& dlg, int id);
int dlglistadd(dialogrecord& dlg, int id, const std::string& text);
void dlgsetredraw(dialogrecord& dlg, int id, bool on);
void dlglistextent(dialogrecord& dlg, int id, int pixels);
// Gives the control the fixed-pitch font; returns that font's average character width in
// pixels (the same figure headless and in a window).
int dlgfixedfont(dialogrecord& dlg, int id);

// Picture boxes. A picture of width x height pixels (rows of 3 x width bytes: red, green,
// blue) is shown stretched to the box, replacing the one before; any thread. dlgpicture
// gives the picture last painted (false before the first).
void dlgpaint(dialogrecord& dlg, int id, const uint8_t* rgb, int width, int height);
bool dlgpicture(dialogrecord& dlg, int id, std::vector<uint8_t>& rgb, int& width, int& height);
// A control's rectangle in pixels within its dialog (false for an unknown id).
bool dlgcontrolrect(dialogrecord& dlg, int id, int& x, int& y, int& width, int& height);

// The keyboard focus, one for all dialogs: dlgsetfocus moves it to an edit or combo box of
// the dialog, or to no control at all for any other id (so the program takes it from every
// control). As the system does, the control that had the focus gets its evlosefocus and the new
// one its evgainfocus at once, on the calling thread (the window thread), before the call
// returns. dlgfocus tells whether the control holds the focus.
void dlgsetfocus(dialogrecord& dlg, int id);
bool dlgfocus(dialogrecord& dlg, int id);

// The open and save file choosers. title, the filter (a description and its patterns, "*.d2v;*.avs"),
// the starting folder (empty: the current one) and the default extension (without its dot:
// added to a chosen name that has no extension; empty: none). True with the full path when a
// file was chosen, false when the user cancelled. Headless the answers come from a script
// (userchoosefile, usercancelfile in dialogs/driver.h), a cancel when it is empty; in a window
// the toolkit's file chooser asks the user (modal, on the window thread).
struct dlgfilerequest {
  bool save = false;
  std::string title;
  std::string description, patterns;
  std::string folder;
  std::string defext;
};
bool dlgchoosefile(const dlgfilerequest& request, std::string& path);
// The window's icon: icon iconid of the program's resources (dialogs/layer.h), shown in its
// title bar and the task bar; headless it is only kept. dlggeticon gives it (0 none).
void dlgseticon(dialogrecord& dlg, int iconid);
int dlggeticon(dialogrecord& dlg);
// Runs the dialog's evdestroy callback, tells the backend and frees the record (dlg := null).
void dlgclose(dialogrecord*& dlg);

// Runs the callbacks of a control-event message taken from the queue (on the window thread);
// true when m was a control event. dlgpump is the same for the front end's loop.
bool dlgdispatch(const message& m);
bool dlgpump(const message& m);

// A control id that the dialog lacks: puts do nothing, gets give 0, false or blanks.
