// Starting another program and waiting for it: our stand-in for CreateProcessA and
// WaitForSingleObject (the front end starts the encoder this way).
#pragma once

#include <functional>
#include <string>

// Starts the program file path with no arguments, in the folder given (empty: the caller's
// current folder), with the caller's environment, and waits for it to end, however long it
// takes. The result is its exit status (0..255; 128 + the signal that ended it), or -1 when it
// could not be started; why then says why.
int runprogram(const std::string& path, const std::string& folder, std::string& why);

// Replaces the launcher behind runprogram (tests; an empty function restores the real one).
using launcher = std::function<int(const std::string& path, const std::string& folder, std::string& why)>;
void setlauncher(launcher l);
