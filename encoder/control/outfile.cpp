#include "encoder/control/outfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "encoder/control/units.h"

namespace {
constexpr char partialsuffix[] = ".partial";

// One file written this way, by its unit.
struct heldoutput {
  std::string target;     // the file the new one is moved to (a link's file)
  std::string temporary;  // the file written, when it is not the target itself
  int heldfd = -1;        // our lock on an existing target
};
std::map<int, heldoutput> outputs;

namespace fs = std::filesystem;

std::string inquotes(const std::string& p) { return "\"" + p + "\""; }

// The file a name stands for, as one absolute name: links followed, also a link to a file that
// does not exist yet, so that every name of one output gives one temporary name.
std::string resolved(const std::string& name) {
  std::error_code ec;
  fs::path p = name;
  for (int i = 0; i < 40 && fs::is_symlink(fs::symlink_status(p, ec)); ++i) {
    const fs::path to = fs::read_symlink(p, ec);
    if (ec) break;
    p = to.is_absolute() ? to : p.parent_path() / to;
  }
  const fs::path full = fs::weakly_canonical(fs::absolute(p, ec), ec);
  return ec || full.empty() ? name : full.string();
}

void releaseheld(heldoutput& o) {
  if (o.heldfd >= 0) ::close(o.heldfd);
  o.heldfd = -1;
}

// The unit's file and the name still lead to one file (another encoder may have moved its own
// temporary file away between our open and our lock).
bool stillnamed(int unit, const std::string& path) {
  std::FILE* f = unitfile(unit);
  struct stat held, named;
  return f && ::fstat(fileno(f), &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
         held.st_ino == named.st_ino && held.st_dev == named.st_dev;
}
}  // namespace

int outputopen(const std::string& out, std::string& why, int unit, const char* name) {
  why.clear();
  heldoutput& o = outputs[unit];
  o.target = resolved(out);
  o.temporary.clear();
  releaseheld(o);
  const std::string named = std::string(name) + " " + inquotes(out);
  struct stat st;
  const bool existed = ::stat(out.c_str(), &st) == 0;
  const auto inplace = [&] {
    const int r = unitopenlocked(unit, out);
    if (r == 2) why = named + " is being written by another encoder";
    else if (r != 0) why = named + ": " + std::strerror(errno);
    return r;
  };
  // A device or a FIFO is written as it is; nothing can be moved onto it.
  if (existed && !S_ISREG(st.st_mode)) return inplace();
  if (existed) {
    // A write-protected output stays protected: the new stream would replace it by a move.
    if (::access(out.c_str(), W_OK) != 0) {
      why = named + ": " + std::strerror(errno);
      return 1;
    }
    o.heldfd = ::open(o.target.c_str(), O_RDONLY | O_CLOEXEC);
    if (o.heldfd >= 0 && ::flock(o.heldfd, LOCK_EX | LOCK_NB) != 0) {
      releaseheld(o);
      why = named + " is being written by another encoder";
      return 2;
    }
  }
  const std::string part = partialname(out);
  for (int tries = 0; tries < 16; ++tries) {
    const int r = unitopenlocked(unit, part);
    if (r == 2) {
      releaseheld(o);
      why = named + " is being written by another encoder";
      return 2;
    }
    if (r != 0) {
      const int e = errno;
      if (existed) {
        // The folder takes no new file (or a folder holds the name): the output is written
        // where it is, as it always was.
        releaseheld(o);
        const int k = inplace();
        if (k == 0)
          why = " WARNING, can't create " + inquotes(part) + " (" + std::strerror(e) + "): the " + named +
                " is written in place";
        return k;
      }
      why = named + ": can't create " + inquotes(part) + ": " + std::strerror(e);
      return 1;
    }
    if (!stillnamed(unit, part)) continue;
    // A leftover of a killed run is ours now: emptied. The new stream keeps an existing
    // output's permissions.
    std::FILE* f = unitfile(unit);
    if (::ftruncate(fileno(f), 0) != 0) {
      why = named + ": can't empty " + inquotes(part) + ": " + std::strerror(errno);
      unitclose(unit);
      releaseheld(o);
      return 1;
    }
    if (existed) ::fchmod(fileno(f), st.st_mode & 07777);
    o.temporary = part;
    return 0;
  }
  unitclose(unit);
  releaseheld(o);
  why = named + " is being written by another encoder";
  return 2;
}

const std::string& outputtemporary(int unit) { return outputs[unit].temporary; }

std::string partialname(const std::string& out) { return resolved(out) + partialsuffix; }

bool outputsettle(bool keep, std::string& why, int unit) {
  why.clear();
  bool ok = true;
  heldoutput& o = outputs[unit];
  const std::string& temporary = o.temporary;
  if (temporary.empty()) {
    unitclose(unit);
  } else {
    // On the disk before it replaces the earlier stream.
    if (std::FILE* f = unitfile(unit); f && keep) {
      if (std::fflush(f) != 0 || ::fsync(fileno(f)) != 0) {
        why = "can't write " + inquotes(temporary) + ": " + std::strerror(errno);
        ok = false;
      }
    }
    if (!unitclose(unit) && ok && keep) {
      why = "can't write " + inquotes(temporary) + ": " + std::strerror(errno);
      ok = false;
    }
    if (keep && ok && std::rename(temporary.c_str(), o.target.c_str()) != 0) {
      why = "can't move " + inquotes(temporary) + " to " + inquotes(o.target) + ": " + std::strerror(errno) +
            "; the new " + (unit == unitstream ? "stream" : "file") + " is " + inquotes(temporary);
      ok = false;
    }
    if (!keep) ::unlink(temporary.c_str());
    o.temporary.clear();
  }
  releaseheld(o);
  return ok;
}
