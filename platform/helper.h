// A helper process: a copy of this program made by fork while it has no other thread yet,
// which serves requests over a socket pair ("the pipe"). Code that may crash or hang (a user's plug-in) runs
// there, so the program can stop it, and outlive it, at any moment.
//
// The helper runs in a process group of its own (a Ctrl-C at the terminal goes to the program,
// which decides), its standard input is /dev/null, and it is killed when the program ends in
// any way (it never outlives the thread that forked it: fork on the main thread).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>

struct helperproc {
  pid_t pid = -1;
  int tohelper = -1;    // requests: the program writes
  int fromhelper = -1;  // answers: the program reads
};

// Forks the helper, which calls serve(in, out) with its ends of the pipes and then ends with
// the value serve returns (no exit handlers of the program run there). False when the system
// refused (nothing was started).
bool helperstart(helperproc& h, int (*serve)(int in, int out));

// Writes or reads exactly n bytes on a descriptor, going on after interruptions; false at an
// error or the end of the pipe (a write never raises SIGPIPE). Both sides use them.
bool fdwriteall(int fd, const void* data, size_t n);
bool fdreadall(int fd, void* data, size_t n);

enum helperresults : int {
  helperok = 0,
  helperended = 1,    // the helper is gone (why: its exit status or the signal that ended it)
  helperstopped = 2,  // stop() became true first
  helpertimeout = 3,  // no answer within the time limit
};
// Reads an answer of n bytes, looking at stop() every 50 ms and giving up after timeoutms.
int helperanswer(helperproc& h, void* data, size_t n, const std::function<bool()>& stop, int timeoutms,
                 std::string& why);
// Ends the helper: closes the pipes (a helper waiting for a request then ends by itself), kills
// it at once when kill is true or when it has not ended within 2 seconds, and reaps it.
void helperend(helperproc& h, bool kill);
