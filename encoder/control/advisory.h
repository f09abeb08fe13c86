// Advisories of the start-up: what the settings file and the switches asked for that the
// encoder did not take as given (a number out of its range, a word it does not know, a word of
// the command line that is no switch) and settings that came from a file the user may not have
// meant. The rules stay (clamp, default, ignore); each case is said once, naming the word, where
// it came from and what is used instead. The start-up shows them (status line, stderr, log).
#pragma once

#include <string>
#include <vector>

struct advisory {
  std::string text;  // " WARNING, ..."
  int overriddenby;  // a settings-file value's switch (a switch slot): given, the value is not used
};
extern std::vector<advisory> advisories;

// Where a value came from, for the texts: "on the command line" or "in "<settings file>"".
std::string fromcommandline();
std::string fromsettingsfile();

// v brought into lo..hi; when it was outside, an advisory "<word> <v> <from> is out of range
// lo..hi<unit>, <used> used". overriddenby as above (-1: a switch, or nothing overrides it).
int clampnoted(int v, int lo, int hi, const std::string& word, const std::string& from,
               int overriddenby = -1, const char* unit = "");
float clampnoted(float v, float lo, float hi, const std::string& word, const std::string& from,
                 int overriddenby = -1);

// A keyword that is none of the known ones: "<word> "<text>" <from> is none of <known>;
// <used> used".
void unknownword(const std::string& word, const std::string& text, const std::string& from,
                 const char* known, const std::string& used, int overriddenby = -1);

// The name of an aspect code 1..4: "1:1", "4:3", "16:9", "2.21:1".
const char* aspectname(int aspect);

// The settings of the program folder's settings file that took effect although switches were
// given (the front end writes that file at every encode): "" when none did, or when the file
// was named by "-ini" or no switch was given. Called after the switches were converted.
std::string settingsfileineffect();
