// Program folder, power-off and signals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Signals become the window's close request (a msgclose in the queue): SIGINT and SIGTERM as
// the user's request (closeasked), SIGHUP (the terminal closed) as closehangup and SIGPIPE (a
// write to a pipe nobody reads any more, such as standard output into "| head -1") as
// closepipe, SIGQUIT as closequit; the write itself then fails and is ignored. SIGUSR1, SIGUSR2
// and SIGXFSZ are ignored (a write past the file size limit fails like one to a full disk).
// Call once on the main thread before any other thread starts: SIGINT, SIGTERM, SIGHUP and
// SIGQUIT are blocked in every thread and one small thread waits for them; SIGPIPE is caught
// where it arises and handed to that thread.
void closeonsignals();

// One file, whatever name it goes by: its device and inode.
struct fileid {
  uint64_t dev = 0, ino = 0;
  bool operator==(const fileid& o) const { return dev == o.dev && ino == o.ino; }
};
// The file a path names, links followed; false when there is none.
bool fileidof(const std::string& path, fileid& id);
// Every file mapped into this process: the program itself and each library it has loaded.
std::vector<fileid> mappedfiles();
// Opening the file may block (a FIFO, a device): anything that is not a regular file or a
// link to one. False also when the path does not exist.
bool isregularfile(const std::string& path);
