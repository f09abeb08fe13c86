// The files of a run, addressed by fixed unit numbers.
//
// One small registry shared by the start-up (which opens them), the stream and statistics
// writers and the passes (which write them) and the step machine (which closes them after the
// worker has stopped). Closing a unit that is not open does nothing. Safe from any thread; a
// unit is written by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

enum units : int {
  unitstream = 21,    // the output stream (.m2v), 8192-byte records
  unitstats = 23,     // the statistics scratch file (settings.dbspath), 8192-byte records
  unitlog = 24,       // the log, text
  unitsettings = 26,  // the settings file, text, read
  unitchapter = 28,   // the chapter file, text, read
  unitscd = 29,       // the scene-change list, text
  unitsilent = 30,    // the silent probe of the settings file
};

enum unitmodes : int {
  unitread = 1,      // an existing file, read only
  unitnew = 2,       // created, or an existing one emptied; read and write
  unitappend = 3,    // text appended at the end (created when missing)
  unitupdate = 4,    // an existing file, read and write, from the start
};

// Opens path as the unit (a unit still open is closed first); false when it cannot be opened.
bool unitopen(int unit, const std::string& path, int mode);

// Opens path for writing as the unit without emptying it (created when missing) and, when it
// is a regular file, takes an exclusive lock on it that lasts until the unit is closed: two
// encoders never write one file. 0; 1 it cannot be opened or created; 2 another process holds
// the lock (nothing was changed). With append, every write goes to the end of the file (a
// text file such as the log).
int unitopenlocked(int unit, const std::string& path, bool append = false);
// Empties a unit opened by unitopenlocked (a regular file) and goes to its start; false on error.
bool unitempty(int unit);
bool unitisopen(int unit);
// The unit's file while it is open, else null. Use it only on the thread that writes the unit.
std::FILE* unitfile(int unit);
// Writes bytes at the current position; false on a write error or when the unit is not open.
bool unitwrite(int unit, const void* data, std::size_t size);
// Writes record recno (1-based) of recsize bytes (direct access); false on error.
bool unitwriterecord(int unit, long recno, const void* data, std::size_t recsize);
// Reads record recno (1-based); false when it is not there whole.
bool unitreadrecord(int unit, long recno, void* data, std::size_t recsize);
// Closes the unit; a unit that is not open: nothing. False when the close reported an error.
bool unitclose(int unit);
// Closes units 21, 23, 24 and 29, the files of a run.
void closerununits();

// Writes one line into the log (unit 24) when it is open: the text without trailing blanks
// and a line end. False on a write error or when the log is not open.
bool logline(const std::string& text);

// Deletes the statistics scratch file named by settings.dbspath (nothing when the name is
// empty or the file is gone).
void deletescratch();
