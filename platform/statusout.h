// The status line without a window: how status texts reach stdout.
//
// A text is either a progress line (pass, picture n of N, percent, frames per second, time
// left), which replaces the progress line before it, or a message (start-up lines, warnings,
// errors, the end countdown), which is never dropped and always gets a line of its own.
//  - stdout is a terminal: the progress line rewrites itself in place (carriage return, then
//    blanks over what a longer line before it left), at most ten times a second, cut to the
//    terminal's width. It is ended with a newline before a message, before the progress of
//    the next pass (a line whose head, the text up to its first comma, differs) and at the end.
//  - stdout is a pipe or a file: a progress line at most once a second. The newest one held
//    back is printed before the next message, before the next pass and at the end, so the last
//    progress a run reached is always in the log.
//  - OSTREL_STATUSLINES=all in the environment: every status change as one line, as it comes
//    (the dialog layer then prints the status texts themselves; tests that count lines).
// Every function is safe from any thread; write errors are ignored.
#pragma once

#include <functional>
#include <string>

enum statusmodes : int {
  statusauto = -1,     // from the environment and stdout (the default)
  statusterminal = 0,  // rewritten in place
  statuspipe = 1,      // a line at most once a second
  statusevery = 2,     // every change, one line each
};

// The mode in force (never statusauto).
int statusmode();
void statusprogress(const std::string& line);
void statusmessage(const std::string& text);
// Ends the progress output so far: a held-back progress line is printed, an in-place line
// gets its newline. Called at the end and before anything else writes to the terminal
// (stderr).
void statusbreak();

// For tests: forces the mode (statusauto goes back to the environment and stdout), where the
// bytes go (empty: stdout), the clock in seconds (empty: a steady clock) and the terminal
// width (0: asked of the terminal). Clears what was held back or shown.
void setstatusout(int mode, std::function<void(const std::string&)> write = {},
                  std::function<double()> now = {}, int columns = 0);
