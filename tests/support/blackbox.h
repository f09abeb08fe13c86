// Helpers for tests that run the programs from outside.
//
// A progfolder is a temporary program folder of its own: the programs and our libraries are
// copied into it, so tests running in parallel never share KJ.ini or scratch files.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// This build runs with AddressSanitizer (its heavy cases may skip themselves there).
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitizerbuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitizerbuild = true;
#else
constexpr bool sanitizerbuild = false;
#endif
#else
constexpr bool sanitizerbuild = false;
#endif

struct runresult {
  int status = -1;       // exit status, or 128 + signal
  std::string out, err;  // everything the program printed
};

// Runs a command (argv[0] searched in PATH unless it holds a '/') in folder dir with extra
// environment entries "NAME=value"; stdin is /dev/null. timeoutsecs kills it (status 124+128).
// stdout is a pipe, or with terminal a pseudo-terminal of 80 columns that passes the bytes as
// they are written (no carriage return added before a line feed); stderr is always a pipe.
runresult runcommand(const std::vector<std::string>& argv, const std::string& dir = "",
                     const std::vector<std::string>& env = {}, int timeoutsecs = 300,
                     bool terminal = false);

class progfolder {
 public:
  progfolder();
  ~progfolder();
  progfolder(const progfolder&) = delete;
  progfolder& operator=(const progfolder&) = delete;

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;
  bool exists(const std::string& name) const;
  std::string read(const std::string& name) const;

  // Runs the encoder from this folder (working folder too), headless, with the time scale 0.
  runresult ostrel(const std::vector<std::string>& args,
                   const std::vector<std::string>& env = {}) const;
  // Starts the encoder like ostrel() without waiting for it (a test signals and reaps it by
  // the pid): stdout into the folder's file outname, stderr and stdin /dev/null.
  pid_t startostrel(const std::vector<std::string>& args, const std::string& outname,
                    const std::vector<std::string>& env = {}) const;
  // Any program of the folder.
  runresult program(const std::string& name, const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}) const;

 private:
  std::string dir_;
};

// Sends SIGINT to a program started with startostrel and waits for it: its exit status, or
// 128 + the signal that ended it.
int interrupt(pid_t pid);

std::string readfile(const std::string& path);
void writefile(const std::string& path, const std::string& data);

// Text for a failed expectation about a run: its status, stdout and stderr.
std::string described(const runresult& r);
// A statistics scratch file (".dbs") is left in the folder.
bool scratchleft(const progfolder& pf);

// Decodes a stream with ffmpeg, failing on every error; true when it exited 0 and printed
// nothing. why receives ffmpeg's output otherwise.
bool decodesclean(const std::string& m2v, std::string* why = nullptr);

// The picture types of a stream in display order, as ffprobe shows them ("I", "P", "B").
std::vector<std::string> probetypes(const std::string& m2v);
