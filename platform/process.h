// Starting another program and waiting for it: our stand-in for CreateProcessA and
// WaitForSingleObject (the front end starts the encoder this way).
#pragma once

#include <functional>
#include <string>

// Receives the lines a program writes on its standard error, each without its line end, in
// order, on the thread that waits for the program.
using errorlines = std::function<void(const std::string& line)>;

// Starts the program file path with no arguments, in the folder given (empty: the caller's
// current folder), with the caller's environment, and waits for it to end, however long it
// takes. The result is its exit status (0..255; 128 + the signal that ended it), or -1 when it
// could not be started; why then says why. With lines given, the program's standard error is a
// pipe read while it runs and every line goes to lines (a line longer than 64 KiB is cut
// there); without, the program shares the caller's standard error.
int runprogram(const std::string& path, const std::string& folder, std::string& why, const errorlines& lines = {});

// Replaces the launcher behind runprogram (tests; an empty function restores the real one).
using launcher =
    std::function<int(const std::string& path, const std::string& folder, std::string& why, const errorlines& lines)>;
void setlauncher(launcher l);
