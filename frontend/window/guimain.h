// guimain in three steps, for tests that drive the front end in-process.
#pragma once

#include <string>

// Builds the window (shown with showmode, 0 hidden) and runs the start-up chain with the
// program folder given (empty: the running program's); false when a dialog template is missing.
bool guistart(int showmode, const std::string& folder = "");
// The message loop; the result is the quit message's code.
int guiloop();
// Closes the dialogs and the outside libraries.
void guiend();
