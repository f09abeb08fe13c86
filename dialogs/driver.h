// Acting as the user: the test driver of the dialog layer (and the way a window backend hands
// user input back). Each action changes the control as the user's input would and then raises
// the event the control reports, through the main loop's queue (the callbacks run on the
// window thread when the loop dispatches), or at once on the calling thread while
// dlgdirectevents(true) is set. A disabled control ignores the user.
#pragma once

#include <string>

#include "dialogs/dialogs.h"

// Clicks and selections take the keyboard focus first, as the system does: an edit or combo box
// of any dialog that holds it gets its evlosefocus before the control's own event.
// Push button: evclick. Check box: toggles, evclick. Radio button: ticks it and unticks the
// other radio buttons of its group, evclick.
void userclick(dialogrecord& dlg, int id);
// Edit or combo box: the text becomes text, then evupdate and evchange.
void usertype(dialogrecord& dlg, int id, const std::string& text);
// Edit or combo box: evgainfocus or evlosefocus.
void userfocus(dialogrecord& dlg, int id, bool gain);
// List box, combo box (item n, 1-based) or tab control (page n): evselchange.
void userselect(dialogrecord& dlg, int id, int item);
// Up-down, slider or scroll bar: the position moves by delta steps within the range, evchange.
void userspin(dialogrecord& dlg, int id, int delta);
// The close box or Escape: the close request (IDCANCEL) goes into the queue.
void userclose(dialogrecord& dlg);
// The next answers of the headless file chooser, in order: a path chosen, or a cancel. The
// last request asked is kept for tests (dlglastfilerequest).
void userchoosefile(const std::string& path);
void usercancelfile();
dlgfilerequest dlglastfilerequest();
// Forgets the answers not yet taken.
void userfileanswersclear();
// Raises an event for a control as a window backend reports it.
void dlguserevent(dialogrecord& dlg, int id, int event);
// Events run at once on the calling thread instead of through the queue (unit tests of the
// layer without a loop).
void dlgdirectevents(bool direct);
