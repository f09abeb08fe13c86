// Helpers of the tests that treat the encoder as a hostile user would: runs watched while they
// go (signals, a reader of standard output that goes away, files changed under the run),
// generated clips, and snapshots of a folder's files.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

// The encoder running in its program folder (also its working folder), headless with the time
// scale 0. Its standard output is a pipe the test reads (or /dev/null), stderr is collected.
class liverun {
 public:
  liverun(const progfolder& pf, const std::vector<std::string>& args, bool readout = false,
          const std::vector<std::string>& env = {});
  ~liverun();  // a run still going is killed
  liverun(const liverun&) = delete;
  liverun& operator=(const liverun&) = delete;

  pid_t pid() const { return pid_; }
  // The next line of standard output (without its line end); false at its end or after ms.
  bool readline(std::string& line, int ms = 60000);
  // The test stops reading: the read end of the pipe is closed.
  void closeout();
  void signal(int sig);
  // Stops the run (SIGSTOP) and returns once it has stopped; resume lets it go on.
  void pause();
  void resume();
  // The exit status (128 + the signal when one ended it; -1 when it did not end in time).
  int wait(int secs = 300);
  // Everything the run wrote to stderr (complete once wait returned).
  std::string err();

 private:
  pid_t pid_ = -1;
  int out_ = -1, errfd_ = -1;
  std::string pending_, err_;
  int status_ = -1;
};

// Polls pred every millisecond; false when it is still false after ms.
bool waituntil(const std::function<bool()>& pred, int ms = 60000);
// The size of a file, -1 when there is none.
long long filesize(const std::string& path);
// The run has the file open (one of its descriptors leads to it).
bool hasopen(pid_t pid, const std::string& path);
// How far the run has read the file: the largest offset of its descriptors that lead to it
// (-1 when none does).
long long fileoffset(pid_t pid, const std::string& path);

// A YUV4MPEG2 clip of a moving picture with detail, 25 frames a second; y4mframe gives where
// frame k begins (its "FRAME" line).
std::string y4mclip(int width, int height, int frames);
long long y4mframe(int width, int height, int k);

// Every regular file below dir (names relative to it) with its content; links and folders are
// named with a mark instead.
std::map<std::string, std::string> snapshot(const std::string& dir);

// The count in a line such as "ostrel: ERROR, 12 frames of clip.avs could not ..." ("" when
// there is no such line): the number in front of " frame" after prefix.
int countafter(const std::string& text, const std::string& prefix);

// How often piece occurs in text.
int occurrences(const std::string& text, const std::string& piece);

