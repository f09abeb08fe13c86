// The kind of source, the decoder library of a D2V project and the checks of the environment.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/cpuprobe.h"
#include "common/fileversion.h"
#include "common/fmtfield.h"
#include "common/listread.h"
#include "common/texttime.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "frontend/window/planes.h"
#include "platform/clock.h"
#include "platform/queue.h"

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
bool isfile(const std::string& path) {
  std::error_code ec;
  return !path.empty() && fs::is_regular_file(path, ec);
}
std::string staged() { return progdir + "DGDecode.dll"; }
std::string stagemark() { return progdir + "DGDecode.dll.staged"; }
std::string keptlibrary() { return progdir + "DGDecode.dll.kept"; }

// The decoder library of each D2V format version, in decoderdir.
struct versionlibrary {
  int version;
  const char* name;
};
constexpr versionlibrary d2vlibraries[] = {{6, "DGDecode06.dll"},  {10, "DGDecode10.dll"}, {11, "DGDecode11.dll"},
                                           {12, "DGDecode12.dll"}, {13, "DGDecode13.dll"}, {15, "DGDecode15.dll"},
                                           {16, "DGDecode16.dll"}};

// A project line: a name may be as long as the system takes a path.
constexpr size_t d2vlinelength = 4096;

// A name a project lists, found as our decoder library finds it: as written, else beside the
// project (a relative name), each also with backslashes as '/'.
bool d2vfileexists(const std::string& name, const fs::path& projectdir) {
  std::string slashed = name;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  for (const std::string& t : {name, slashed}) {
    fs::path p(t);
    if (p.is_relative() && isfile((projectdir / p).string())) return true;
    if (isfile(t)) return true;
  }
  return false;
}

// The project's files are not found: the project is refused as a whole.
void filesnotfound() {
  d2vversionok = false;
  d2vfilesfound = false;
  d2vinput = false;
}

// Reads the version, the library and the listed files of the D2V project inputpath.
void readd2v() {
  const std::string project = asencoder(inputpath);
  std::FILE* f = isfile(project) ? std::fopen(project.c_str(), "r") : nullptr;
  if (!f) {
    filesnotfound();
    return;
  }
  std::string line;
  bool cut = false;
  // Line 1 ends in the two-digit format version; a line that ends in no number names none.
  d2vversion = 0;
  if (readline(f, line, d2vlinelength, &cut) > 0) {
    line = trimright(line);
    lowercase(line);
    int v = 0;
    if (line.size() >= 2 && readints(line.substr(line.size() - 2), &v, 1) == listok) d2vversion = v;
  }
  const char* library = d2vlibrary(d2vversion);
  if (!library) {
    d2vversionok = false;
    d2vinput = false;
    std::fclose(f);
    return;
  }
  d2vlibpath = decoderdir + library;
  // Line 2: how many files; then one file a line.
  int count = 0;
  if (readline(f, line, d2vlinelength) <= 0 || readints(line, &count, 1) != listok || count < 1) {
    filesnotfound();
    std::fclose(f);
    return;
  }
  const fs::path projectdir = fs::path(project).parent_path();
  for (int i = 0; i < count; i++) {
    if (readline(f, line, d2vlinelength, &cut) <= 0 || cut) {
      filesnotfound();
      break;
    }
    // Version 6: a field, a blank, then the name; later versions: the whole line.
    if (d2vversion == 6) {
      size_t blank = line.find(' ');
      line = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    }
    std::string name = trimright(adjustleft(line));
    if (name.empty() || !d2vfileexists(name, projectdir)) {
      filesnotfound();
      break;
    }
  }
  std::fclose(f);
}

std::string versiontext(const int numbers[4]) {
  std::string t;
  for (int i = 0; i < 4; i++) t += (i ? "." : "") + trimright(adjustleft(fmtint(numbers[i], 8)));
  return t;
}
}  // namespace

const char* d2vlibrary(int version) {
  for (const versionlibrary& l : d2vlibraries)
    if (l.version == version) return l.name;
  return nullptr;
}

std::string d2vmismatch() {
  std::string list;
  const size_t n = std::size(d2vlibraries);
  for (size_t i = 0; i < n; i++)
    list += (i == 0 ? "" : i + 1 == n ? " or " : ", ") + std::to_string(d2vlibraries[i].version);
  return ", D2V project must be file format version " + list;
}

void pickdecoder() {
  d2vversionok = true;
  d2vfilesfound = true;
  // The kind comes from the name's ending in any case; the user's path keeps its own case.
  std::string name = trimright(inputpath);
  lowercase(name);
  avsinput = endswith(name, ".avs");
  d2vinput = endswith(name, ".d2v");
  d2vversion = 0;
  d2vlibpath.clear();
  if (d2vinput) readd2v();
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

void cpucheck() {
  cpuidwords words;
  cpucheck(*cpuinfo(&words));
}

void cpucheck(const cpuidwords& words) {
  const int level = cpulevelof(words);
  guisettings.cpulevel = level;
  // The plane kernels' mode word: only MMX takes their 8-byte paths; SSSE3 leaves it at 0,
  // which takes the 16-byte ones as SSE2 and SSE3 do.
  if (level >= 1 && level <= 3) setcpumode(level);
  if (level == 0) {
    showinfo(" no MMX detected, aborting...", false);
    clocksleep(5000);
    postquit(0);
  }
}

void dvdcheck() {
  const bool pulldown = dlggetflag(dlgof(pagemain), 1044);
  // Single precision, within 0.01 of the DVD rates.
  const float r = guisettings.sourcefps;
  auto near = [r](float rate) { return std::fabs(r - rate) < 0.01f; };
  const bool is23976 = near(23.976f), is25 = near(25.0f), is2997 = near(29.97f);
  src23976 = is23976;
  if (!is23976 && !is25 && !is2997) showinfo(", WARNING, frame rate NOT DVD compliant", true);
  if (is23976 && !pulldown) showinfo(", use pulldown for DVD compliancy", true);
  const int w = previewstate.width, h = previewstate.height;
  if (w > 720 || h > 576) return;
  const bool ntscsize = ((w == 720 || w == 704 || w == 352) && h == 480) || (w == 352 && h == 240);
  const bool palsize = ((w == 720 || w == 704 || w == 352) && h == 576) || (w == 352 && h == 288);
  const bool fits = (ntscsize && (is23976 || is2997)) || (palsize && is25);
  if (!fits) showinfo(", WARNING, resolution/frame rate mismatch", true);
}

int fileversion(const std::string& path, int numbers[4]) {
  for (int i = 0; i < 4; i++) numbers[i] = 0;
  if (!isfile(path)) return ENOENT;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return errno ? errno : EIO;
  // The mark may lie anywhere in the file: read it whole, in pieces that overlap by the mark's
  // longest length so a mark across two pieces is found too.
  const std::string key = fileversionkey;
  constexpr size_t piece = 1 << 20, overlap = 64;
  std::string window;
  std::vector<char> buf(piece);
  int result = -1;
  for (size_t n; result != 0 && (n = std::fread(buf.data(), 1, piece, f)) > 0;) {
    window.append(buf.data(), n);
    for (size_t at = window.find(key); at != std::string::npos; at = window.find(key, at + 1)) {
      // "a.b.c.d" right behind the key, each 0..65535; anything else is no version.
      const char* p = window.c_str() + at + key.size();
      int v[4];
      bool ok = true;
      for (int i = 0; i < 4 && ok; i++) {
        char* end = nullptr;
        if (*p < '0' || *p > '9') ok = false;
        long x = ok ? std::strtol(p, &end, 10) : 0;
        ok = ok && x <= 65535 && (i == 3 ? *end == '\0' : *end == '.');
        if (ok) v[i] = (int)x, p = end + 1;
      }
      if (ok) {
        std::copy(v, v + 4, numbers);
        result = 0;
        break;
      }
    }
    if (window.size() > overlap) window.erase(0, window.size() - overlap);
  }
  std::fclose(f);
  return result;
}

void findavisynth(bool& found) {
  found = isfile(avsdllpath);
  if (!found) {
    showinfo(" Avisynth installation NOT found", false);
    return;
  }
  std::string folder = pathdir(avsdllpath);
  if (folder.size() > 1) folder.pop_back();  // the folder without its final '/'
  showinfo(" Avisynth installation found: " + folder, false);
  avsdllstamp();
}

void encoderinfo() {
  if (!isfile(encoderpath)) {
    showinfo(" KJ encoder: " + encoderpath + " NOT found", false);
    return;
  }
  showinfo(" Ostrel found: " + encoderpath, false);
  int numbers[4];
  if (fileversion(encoderpath, numbers) != 0) showinfo(", no file version information available", true);
  else showinfo(", file version: " + versiontext(numbers), true);
}

void avsinfo() {
  bool found = false;
  findavisynth(found);
  if (!found) return;
  if (!isfile(avsdllpath)) {
    showinfo(" Avisynth.dll NOT found in " + avsdllpath, false);
    return;
  }
  int numbers[4];
  if (fileversion(avsdllpath, numbers) != 0) showinfo(", no file version information available", true);
  else showinfo(", file version: " + versiontext(numbers) + ", creation date: " + avsdlldate, true);
}

void decoderinfo() {
  // The versions in columns: "6" in column 3, then each further one's two digits 4 columns on.
  std::string columns(120, ' ');
  size_t column = 3;
  bool any = false;
  for (const versionlibrary& l : d2vlibraries) {
    if (!isfile(decoderdir + l.name)) continue;
    any = true;
    if (l.version == 6) {
      columns[2] = '6';
      column = 6;
      continue;
    }
    columns.replace(column - 1, 2, std::to_string(l.version));
    column += 4;
  }
  if (!any) showinfo(" DGDecode NOT found", false);
  else showinfo(" DGDecode decoder found, valid project versions: " + trimright(columns), false);
}
