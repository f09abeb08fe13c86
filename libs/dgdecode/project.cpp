// The D2V project file.
//
// Layout, one item a line (CRLF line ends and tabs accepted, a tab counts as a blank):
//   line 1     any text ending in the two-digit format version ("...16")
//   line 2     the number of video files
//   next lines one video file each; version 6 (and below 10): the name follows the first
//              blank of the line; version 10 and above: the whole line is the name
//   a blank line, then the settings "Key=Value" (Picture_Size=720x576,
//   Frame_Rate=25000 (25/1) ...), a blank line, the index lines and the final line.
// Only the version, the files, Picture_Size, Field_Operation and Frame_Rate are used here: the index lines
// are rebuilt from the video itself, so a project only has to name its files correctly.
#include "dgdecode.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

std::string cleanline(std::string s) {
  if (!s.empty() && s.back() == '\r') s.pop_back();
  for (char& c : s)
    if (c == '\t') c = ' ';
  return s;
}

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

bool isnumber(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

// A listed name as it is found on disk: as written when it exists, else beside the project
// (names relative to the project's folder), else with backslashes as folder separators.
std::string findfile(const std::string& name, const fs::path& projectdir) {
  std::vector<std::string> tries{name};
  std::string slashed = name;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  if (slashed != name) tries.push_back(slashed);
  for (const std::string& t : tries) {
    std::error_code ec;
    fs::path p(t);
    if (p.is_relative()) {
      fs::path beside = projectdir / p;
      if (fs::is_regular_file(beside, ec)) return beside.string();
    }
    if (fs::is_regular_file(p, ec)) return p.string();
  }
  return "";
}

}  // namespace

bool readproject(const std::string& path, d2vproject& proj, std::string& why) {
  proj = d2vproject{};
  // A FIFO would block until something writes into it.
  std::error_code ec;
  if (fs::exists(path, ec) && !fs::is_regular_file(path, ec)) {
    why = "project " + path + " is not a regular file";
    return false;
  }
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    why = "can't open project " + path;
    return false;
  }
  std::string line;
  if (!std::getline(f, line)) {
    why = "empty project " + path;
    return false;
  }
  std::string first = trim(cleanline(line));
  if (first.size() < 2 || !isnumber(first.substr(first.size() - 2))) {
    why = "first line does not end in a format version";
    return false;
  }
  proj.version = std::atoi(first.substr(first.size() - 2).c_str());

  if (!std::getline(f, line)) {
    why = "no file count";
    return false;
  }
  std::string count = trim(cleanline(line));
  // More than a few thousand files is no project but a damaged count.
  if (!isnumber(count) || count.size() > 5 || std::atoi(count.c_str()) < 1) {
    why = "file count unreadable: \"" + count + "\"";
    return false;
  }
  int nfiles = std::atoi(count.c_str());

  fs::path projectdir = fs::path(path).parent_path();
  for (int i = 0; i < nfiles; i++) {
    if (!std::getline(f, line)) {
      why = "the file count is " + count + " but the project lists " + std::to_string(i) +
            (i == 1 ? " file" : " files");
      return false;
    }
    std::string l = cleanline(line);
    std::string name;
    if (proj.version < 10) {
      size_t blank = l.find(' ');
      if (blank != std::string::npos) name = trim(l.substr(blank + 1));
    } else {
      name = trim(l);
    }
    if (name.empty() && trim(l).empty()) {
      // The blank line after the list: the count promises more files than are listed.
      why = "the file count is " + count + " but the project lists " + std::to_string(i) +
            (i == 1 ? " file" : " files");
      return false;
    }
    if (name.empty()) {
      why = "file line " + std::to_string(i + 1) + " holds no file name";
      return false;
    }
    std::string found = findfile(name, projectdir);
    if (found.empty()) {
      why = "can't find video file " + name;
      return false;
    }
    proj.files.push_back(found);
  }

  // The settings: the Key=Value lines after the file list, up to the index lines.
  bool insettings = false;
  while (std::getline(f, line)) {
    std::string l = trim(cleanline(line));
    if (l.empty()) {
      if (insettings) break;
      continue;
    }
    size_t eq = l.find('=');
    if (eq == std::string::npos) break;  // an index line: the settings are over
    insettings = true;
    std::string key = trim(l.substr(0, eq)), value = trim(l.substr(eq + 1));
    if (key == "Picture_Size") proj.picturesize = value;
    if (key == "Frame_Rate") proj.framerate = value;
    if (key == "Field_Operation") proj.fieldoperation = value;
  }
  return true;
}

bool parseframerate(const std::string& text, int& num, int& den) {
  std::string t = trim(text);
  size_t open = t.find('(');
  if (open != std::string::npos) {
    // "25000 (25/1)": the exact rate in the brackets.
    long long n = 0, d = 0;
    if (std::sscanf(t.c_str() + open, "(%lld/%lld)", &n, &d) == 2 && n > 0 && d > 0 &&
        n <= 1000000 && d <= 1000000) {
      num = static_cast<int>(n);
      den = static_cast<int>(d);
      return true;
    }
    t = trim(t.substr(0, open));
  }
  if (!isnumber(t) || t.size() > 9) return false;
  long long milli = std::atoll(t.c_str());
  if (milli <= 0) return false;
  // The 1000/1001 rates are written rounded to the thousandth.
  if (milli == 23976) { num = 24000; den = 1001; return true; }
  if (milli == 29970) { num = 30000; den = 1001; return true; }
  if (milli == 59940) { num = 60000; den = 1001; return true; }
  long long n = milli, d = 1000;
  for (long long a = n, b = d; b != 0;) {
    long long r = a % b;
    a = b;
    b = r;
    if (b == 0) {
      n /= a;
      d /= a;
    }
  }
  num = static_cast<int>(n);
  den = static_cast<int>(d);
  return true;
}

bool parsepicturesize(const std::string& text, int& width, int& height) {
  int w = 0, h = 0;
  char x = 0;
  if (std::sscanf(text.c_str(), "%d%c%d", &w, &x, &h) != 3 || (x != 'x' && x != 'X') || w <= 0 ||
      h <= 0)
    return false;
  width = w;
  height = h;
  return true;
}
