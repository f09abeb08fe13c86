#include "tests/settings/settingsfixture.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "encoder/control/control.h"
#include "encoder/control/inireader.h"
#include "encoder/control/switches.h"

std::string lastput(int id) {
  for (auto it = recordedputs.rbegin(); it != recordedputs.rend(); ++it)
    if (it->first == id) return it->second;
  return "<none>";
}

void freshsettings(int detectedlevel) {
  settings = settingsrec{};
  settings.simdlevel = detectedlevel;
  showwindow = true;
  shutdownflag = false;
  recordedputs.clear();
  for (auto& t : switchtexts) t.clear();
  // The window record is opaque here; the stand-in put never looks at it.
  static int fakewindow;
  maindialog = reinterpret_cast<dialogrecord*>(&fakewindow);
}

namespace {

// One temp folder per test process (CTest runs tests in parallel), removed at exit.
struct tempfolder {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("ostrel-settings-" + std::to_string(getpid()));
  ~tempfolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace

std::string tempdir() {
  static tempfolder folder;
  std::filesystem::create_directories(folder.path);
  return folder.path.string();
}

std::string writefile(const std::string& name, const std::string& content) {
  std::filesystem::path dir = tempdir();
  auto path = dir / name;
  std::ofstream(path, std::ios::binary) << content;
  return path.string();
}

iniresult runini(const std::string& content) {
  settings.inifile = writefile("KJ.ini", content);
  iniresult r;
  r.code = readini(r.text);
  if (r.code == 0) checkini();
  return r;
}

int runargs(const std::vector<std::string>& words) {
  std::vector<const char*> argv{"ostrel"};
  for (const auto& w : words) argv.push_back(w.c_str());
  getargs(static_cast<int>(argv.size()), argv.data());
  return parseargs();
}
