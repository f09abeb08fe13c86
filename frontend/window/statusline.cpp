// The status line of the main dialog and the start-up paths.
#include <filesystem>
#include <mutex>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "platform/system.h"

std::string statustext;
std::string progdir, decoderdir, matrixdir, inifilepath, encoderpath, avsdllpath, avsdlldate;
bool inifileexisted = false;
bool avsdatematch = false;

namespace {
// The scan thread reports in the status line too: one writer at a time.
std::mutex statuslock;
constexpr size_t breakcolumn = 101;  // a line breaks at its first blank from this column on

std::string cut(std::string s, size_t n) {
  if (s.size() > n) s.resize(n);
  return s;
}
}  // namespace

void showinfo(const std::string& text, bool append) {
  std::lock_guard<std::mutex> g(statuslock);
  std::string t = trimright(text);
  std::string s = append ? trimright(statustext) + t : t;
  s = cut(s, statuslength);
  // Line breaks anew over the whole text: the old ones become blanks first.
  for (char& c : s)
    if (c == '\n') c = ' ';
  size_t column = 1;
  for (char& c : s) {
    if (c == ' ' && column >= breakcolumn) {
      c = '\n';
      column = 1;
      continue;
    }
    column++;
  }
  statustext = s;
  if (dialogrecord* d = frontdialog(dlgmain)) dlgputtext(*d, statuscontrol, statustext);
}

void clearinfo() {
  std::lock_guard<std::mutex> g(statuslock);
  if (dialogrecord* d = frontdialog(dlgmain)) dlgputtext(*d, statuscontrol, "");
}

std::string shortpath(const std::string& path) {
  std::string p = trimright(path);
  if (p.size() <= 40) return p;
  return p.substr(0, 5) + "..." + p.substr(p.size() - 32);
}

std::string pathdir(const std::string& path) {
  size_t k = path.rfind('/');
  return k == std::string::npos ? std::string() : path.substr(0, k + 1);
}

std::string asencoder(const std::string& path) {
  if (path.empty() || path.front() == '/') return path;
  return progdir + path;
}

void initpaths(const std::string& folder) {
  progdir = cut(folder.empty() ? pathdir(programpath()) : folder, pathlength);
  decoderdir = cut(progdir + "DGDecode/", pathlength);
  matrixdir = cut(progdir + "matrix/", pathlength);
  inifilepath = cut(progdir + "KJ.ini", pathlength);
  std::error_code ec;
  inifileexisted = std::filesystem::is_regular_file(inifilepath, ec);
  encoderpath = cut(progdir + "ostrel", pathlength);
  removestageddecoder();
  // Our frame server lives in the program folder, where the bridge loads it from first.
  avsdllpath = cut(progdir + "avisynth.dll", pathlength);
  avsdlldate.clear();
  avsdatematch = false;
  avsdllstamp();
}

bool avsdllstamp() {
  int year, month, day;
  if (!filedate(avsdllpath, year, month, day)) return false;
  avsdlldate = fmtint(day, 2) + "-" + fmtint(month, 2) + "-" + fmtint(year, 4);
  avsdatematch = year == 2005 && month == 10 && day == 28;
  return true;
}
