// Program folder, power-off and signals.
#pragma once

#include <string>

// The program file's full path (/proc/self/exe) and its folder with the trailing '/'. Case
// and spelling are kept exactly.
std::string programpath();
std::string programdir();

// The local calendar date a file was created (its birth time; the time of its last change
// where the file system keeps no birth time); false when the file does not exist.
bool filedate(const std::string& path, int& year, int& month, int& day);

// Powers the computer off: runs the power-off command with /bin/sh (environment
// OSTREL_SHUTDOWN_CMD, else setshutdowncommand's, else "systemctl poweroff"). True when the
// command ran and exited 0; otherwise why says what went wrong.
bool poweroff(std::string& why);
// Replaces the power-off command (tests; an empty text goes back to the default).
void setshutdowncommand(const std::string& command);

// SIGINT and SIGTERM become the window's close request (a msgclose in the queue). Call once
// on the main thread before any other thread starts: the signals are blocked in every thread
// and one small thread waits for them.
void closeonsignals();
