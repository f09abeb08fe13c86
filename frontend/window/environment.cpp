// The kind of source, the decoder library of a D2V project and the checks of the environment.
#include <filesystem>

#include "common/texttime.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

bool avsinput = false, d2vinput = false;
int d2vversion = 0;
std::string d2vlibpath;
bool d2vversionok = true, d2vfilesfound = true;
bool src23976 = false;

namespace fs = std::filesystem;

namespace {
bool endswith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}
std::string staged() { return progdir + "DGDecode.dll"; }
std::string stagemark() { return progdir + "DGDecode.dll.staged"; }
std::string keptlibrary() { return progdir + "DGDecode.dll.kept"; }
}  // namespace

void pickdecoder() {
  d2vversionok = true;
  d2vfilesfound = true;
  // The kind comes from the name's ending in any case; the user's path keeps its own case.
  std::string name = inputpath;
  lowercase(name);
  avsinput = endswith(name, ".avs");
  d2vinput = endswith(name, ".d2v");
  d2vversion = 0;
  // A D2V project's format version, its decoder library and its listed files: not read yet
  // (the decoder choice comes with the encode button).
}

bool stagedecoder(const std::string& library) {
  std::error_code ec;
  if (!fs::exists(stagemark(), ec) && fs::exists(staged(), ec)) {
    fs::rename(staged(), keptlibrary(), ec);
    if (ec) return false;
  }
  if (FILE* f = std::fopen(stagemark().c_str(), "w")) std::fclose(f);
  fs::copy_file(library, staged(), fs::copy_options::overwrite_existing, ec);
  if (ec) {
    removestageddecoder();
    return false;
  }
  return true;
}

void removestageddecoder() {
  std::error_code ec;
  if (!fs::exists(stagemark(), ec)) return;
  fs::remove(staged(), ec);
  if (fs::exists(keptlibrary(), ec)) fs::rename(keptlibrary(), staged(), ec);
  fs::remove(stagemark(), ec);
}

// The processor check: x86-64 processors all have MMX and SSE2; the level goes to the model
// with the environment checks.
void cpucheck() {}

// The DVD-compliance warnings for the source's frame rate and picture size: with the
// environment checks.
void dvdcheck() {}
