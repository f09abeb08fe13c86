// Shared helpers of the settings tests: a fresh settings state, a settings file in a temp
// folder, the recorded window texts.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "encoder/control/settings.h"

extern std::vector<std::pair<int, std::string>> recordedputs;

// The last text put into control id, or "<none>".
std::string lastput(int id);

// Resets settings to its start values (detected processor level 4, window shown), clears the
// recorded puts and the switch texts.
void freshsettings(int detectedlevel = 4);

// The per-process temp folder (removed at exit).
std::string tempdir();
// A file in that folder; returns its path.
std::string writefile(const std::string& name, const std::string& content);

struct iniresult {
  int code;
  std::string text;
};
// Writes content as the settings file, runs readini and (on 0) checkini.
iniresult runini(const std::string& content);

// getargs on the words (the program name is added), then parseargs.
int runargs(const std::vector<std::string>& words);
