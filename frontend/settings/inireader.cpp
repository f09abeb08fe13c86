// The settings model and the reader of KJ.ini.
#include <algorithm>
#include <cstring>
#include <cstdio>
#include <filesystem>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "common/texttime.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

guisettingsrec guisettings;
bool iniseen[inikeycount];
std::string inputpath, outputpath, logpath, userinipath, chapterpath, matrixpath;
bool inputexists = false, movieinfovalid = false, outputset = false, d2vloaded = false;

namespace {
constexpr size_t linelength = 512;  // a settings line; longer ones are cut

bool fileexists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

// A path value: the line as read from the column after the key and one more character
// (500 characters), leading blanks skipped when the name starts within the first 99
// characters; false (nothing set) otherwise.
bool pathvalue(const std::string& line, size_t keylength, std::string& path) {
  std::string v = line.size() > keylength + 1 ? line.substr(keylength + 1, 500) : std::string();
  size_t first = v.find_first_not_of(' ');
  if (first == std::string::npos || first >= 99) return false;
  path = trimright(v.substr(first));
  return true;
}

// The D2V outcome of the input check: 0 fine, 1 no decoder library for its version, 2 its
// video files are missing; -1 no name, or no such file (the outcome stays as it was).
int inputcheck(const std::string& line, size_t keylength) {
  if (!pathvalue(line, keylength, inputpath)) return -1;
  inputexists = fileexists(inputpath);
  if (!inputexists) return -1;
  pickdecoder();
  if (!d2vfilesfound || !d2vversionok) {
    inputpath.clear();
    iniseen[keyinfile] = false;
    movieinfovalid = false;
    if (dialogrecord* d = frontdialog(pagemain)) dlgputtext(*d, 1008, "input file name (*.d2v, *.avs)");
    return d2vfilesfound ? 1 : 2;
  }
  iniseen[keyinfile] = true;
  return 0;
}

// The keys of a settings file, by the code of their iniseen word. Keys are compared with the
// start of the upper-cased line; what follows the key and one more character is the value.
struct inikey {
  int code;
  const char* key;
};
const inikey keys[] = {
    {keyinfile, "*INFILE"},
    {keyoutfile, "*OUTFILE"},
    {keylogfile, "*LOGFILE"},
};
}  // namespace

void loadini(int mode) {
  inputpath.clear();
  outputpath.clear();
  logpath.clear();
  inputexists = false;
  std::fill(std::begin(iniseen), std::end(iniseen), false);
  d2vloaded = false;
  setdefaults();
  clearchapters();
  int d2vstatus = 0;
  if (mode == 1 && !fileexists(inifilepath)) {
    showinfo(" KJ.ini not found, using default GUI settings", false);
    return;
  }
  std::FILE* f = std::fopen((mode == 1 ? inifilepath : userinipath).c_str(), "r");
  if (!f) {
    std::fill(std::begin(iniseen), std::end(iniseen), false);
    showinfo(" error openening ini file", false);
    return;
  }
  for (;;) {
    std::string line;
    int r = readline(f, line, linelength);
    if (r == 0) break;
    if (r < 0) {
      std::fclose(f);
      std::fill(std::begin(iniseen), std::end(iniseen), false);
      showinfo(" error processing ini file:", false);
      return;
    }
    std::string upper = line;
    uppercase(upper);
    for (const inikey& k : keys) {
      size_t n = std::strlen(k.key);
      if (upper.compare(0, n, k.key) != 0) continue;
      switch (k.code) {
        case keyinfile:
          if (int s = inputcheck(line, n); s >= 0) d2vstatus = s;
          break;
        case keyoutfile:
          if (pathvalue(line, n, outputpath)) iniseen[keyoutfile] = true;
          break;
        case keylogfile:
          if (pathvalue(line, n, logpath)) iniseen[keylogfile] = true;
          break;
      }
      break;
    }
  }
  std::fclose(f);
  showinfo(mode == 1 ? " KJ.ini successfully processed" : " USER ini file successfully processed", false);
  if (d2vstatus == 2) showinfo(", ERROR, invalid D2V project, can't find the VOB/MPEG files", true);
  if (d2vstatus == 1)
    showinfo(", ERROR, invalid D2V project, DGIndex/DGDecode mismatch, D2V project must be file format version 6, 10, 11 or 12",
             true);
  if (d2vstatus != 0) {
    movieinfo();
    filelength();
  }
  if (!inputexists) showinfo(", WARNING, input file not found", true);
}
