// Inside the frame server: the environment's services for the script functions.
#pragma once

#include <string>
#include <vector>

#include "libs/avisynth/frameserver.h"

// The environment as the clips see it.
class fsenvcore : public fsenv {
 public:
  // A frame laid out for the clip's pixel type, with one reference for the caller.
  virtual fsframe* newframe(const videoinfo& vi) = 0;
  // Keeps a text for the environment's lifetime (the messages of AvisynthError, the strings
  // of returned values).
  virtual const char* keep(const std::string& text) = 0;
  // Throws AvisynthError with the text.
  [[noreturn]] void fail(const std::string& text) { throw AvisynthError{keep(text)}; }
  // Notes a file that a script or source reads (fileread lists it, once).
  virtual void noteread(const std::string& path) = 0;
  // A stop was asked for (watchstop): long work gives up with fail.
  virtual bool stopasked() = 0;
};

// What opening path would read, when it is not a regular file (a FIFO would block until
// someone writes into it, a device may never end): "a FIFO", "a folder", "a device", ...;
// "" for a regular file (or a link to one) and for a path that does not exist.
std::string notregular(const std::string& path);

// Where a script call stands, for the messages: "(clip.avs, line 3)".
struct fswhere {
  std::string file;
  int line = 0;
  std::string text() const;
};

// One argument of a script call after binding: given or not.
struct fsarg {
  bool given = false;
  fsvalue value;
};

// The script functions. args holds one entry per parameter of the function, in its order.
fsvalue y4msource(fsenvcore* env, const std::vector<fsarg>& args, const fswhere& at,
                  const std::string& scriptdir);
fsvalue ffvideosource(fsenvcore* env, const std::vector<fsarg>& args, const fswhere& at,
                      const std::string& scriptdir);
fsvalue blankclip(fsenvcore* env, const std::vector<fsarg>& args, const fswhere& at);
fsvalue testpattern(fsenvcore* env, const std::vector<fsarg>& args, const fswhere& at);

// Runs a script file and gives its value (the Import function).
fsvalue importscript(fsenvcore* env, const std::string& path);
