// The window backend of the dialog layer: draws the control tables of the dialogs in real
// windows (FLTK 1.3 on X11) and turns the user's input into the layer's events.
//
// The control table stays the one source of truth. Any thread may change it; the backend is
// told of each change, marks the row and wakes the window thread once (at most one pending
// wake per dialog), and the window thread then copies the marked rows from the table into
// the widgets. Widgets are touched on the window thread only (the thread that called
// windowstart). Dialog units become pixels with fixed base units: 6 x 13 pixels per 4 x 8
// dialog units. The windows cannot be resized or maximised; the close box and Escape post the
// close request (IDCANCEL) of the main loop.
//
// Test hook: with OSTREL_WINDOW_DUMP=prefix in the environment, closing a dialog writes its
// control table to prefix.txt and an offscreen drawing of it to prefix.ppm.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct dialogrecord;

// Opens the display and installs the backend (dlgsetbackend), the main loop's pump and wake
// (setqueuepump) and the modal message box (setmsgboxhook), on the calling thread, which
// becomes the window thread. False, and nothing installed, when the layer must stay headless:
// OSTREL_HEADLESS=1, DISPLAY unset, the X server unreachable, or no window toolkit built in.
// Calling it again after a success does nothing and returns true.
bool windowstart();
// The backend is installed.
bool windowactive();

// The client size in pixels that a dialog's window has (or will have once shown), from its
// template; false while the backend is not installed. Any thread.
bool windowclientsize(dialogrecord& dlg, int& width, int& height);

// The dialog's picture area: a rectangle of its client area (pixels) that the program paints
// itself (the encoder's preview box). Until the first paint it shows the dialog background.
// Any thread, before or after the dialog is shown.
void windowpicturearea(dialogrecord& dlg, int x, int y, int width, int height);
// Paints into the picture area: paint runs on the calling thread with the area's pixels
// (rows of pitch bytes, 3 bytes a pixel, red, green, blue; width x height as declared) held
// for it alone; the window thread shows the result after one coalesced wake. Nothing happens
// without a picture area.
void windowpaint(dialogrecord& dlg,
                 const std::function<void(uint8_t* rgb, int width, int height, int pitch)>& paint);

// For tests, on the window thread: handles the toolkit's events for at most ms milliseconds
// (the same pump the main loop runs), and draws the dialog offscreen into rgb (red, green,
// blue, rows of 3 x width bytes); false when the dialog has no window.
void windowpump(int ms);
bool windowsnapshot(dialogrecord& dlg, std::vector<uint8_t>& rgb, int& width, int& height);
// The wakes the backend has asked of the window thread for table changes (all dialogs), and
// the rows it has applied to widgets, since the start.
long windowwakes();
long windowapplied();
// The text a widget shows now (push button caption, static text, edit text...), read on the
// window thread; empty for an unknown control.
std::string windowtext(dialogrecord& dlg, int id);
// The control's widget is visible now (its page shown, the window shown or not).
bool windowshows(dialogrecord& dlg, int id);
// The width in pixels of a text in the dialog font (fixed false) or the lists' fixed-pitch font;
// 0 while the backend is not installed. Window thread.
int windowtextwidth(const std::string& text, bool fixed);
// The middle of tab n of a tab control (window pixels), for a click; false without the window
// or such a tab.
bool windowtabspot(dialogrecord& dlg, int id, int tab, int& x, int& y);
// The dialog's top-level window is shown now.
bool windowshown(dialogrecord& dlg);
