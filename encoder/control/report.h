// Start-up error codes, their texts, and the two ways an error is shown in the status line.
#pragma once

#include <string>

struct statusrec;

// The fixed text of a start-up code, or null for 0 and for a code outside the table.
const char* starttext(int code);

// The reporter thread (first worker): code 0 goes on to step 11; any other code shows its
// message (and writes it to stderr as one line), then asks the loop to quit.
void reportinit(statusrec* status);

// Shows " (d) ERROR, " and the message in the status line nine times, d = 9 down to 1, one
// second apart in a window and at once without one (statuspause); only when the window is
// visible. Sets runstate 2 first. The message is cut at length characters when length >= 0.
void errorstamp(const std::string& message, int length = -1);
// Shows "ERROR, " and the message once, for two seconds in a window (only when the window is
// visible); sets runstate 2 first. The stream and statistics writers use it for their fatal
// errors.
void errorline(const std::string& message, int length = -1);

// A text on one line: every line break (CR, LF, CR LF) becomes one blank, trailing blanks go.
std::string oneline(const std::string& text);
// Writes "ostrel: " and the text as one line to stderr (seen under "*SILENT" and by scripts),
// after ending a progress line that the headless output may have drawn on the terminal.
void errorout(const std::string& text);
