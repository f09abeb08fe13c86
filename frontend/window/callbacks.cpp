// The callbacks of the Main, Settings 1 and Settings 2 pages: with the page callbacks.
#include "frontend/window/front.h"

void mainclick(dialogrecord& dlg, int id, int event) {}
void mainedit(dialogrecord& dlg, int id, int event) {}
void mainfocus(dialogrecord& dlg, int id, int event) {}
void set1click(dialogrecord& dlg, int id, int event) {}
void set2click(dialogrecord& dlg, int id, int event) {}
void set2edit(dialogrecord& dlg, int id, int event) {}
void set2focus(dialogrecord& dlg, int id, int event) {}
