// Page states for the KJ.ini writer's tests: each changes the pages from their defaults the
// way a user's choices leave them, and gives the lines the writer must write for it.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct pagestate {
  const char* name;
  std::function<void()> set;       // from the defaults (a front end started without KJ.ini)
  std::vector<std::string> lines;  // the file it gives, every line exactly
};

// A key line as the writer forms it: the key in 18 columns, the value from column 19.
std::string kv(const std::string& key, const std::string& value);
// The control states the tests use.
void tick(int page, int id, bool on = true);
void enable(int page, int id, bool on);
void settext(int page, int id, const std::string& text);
// The bitrate edits of the Main page as an open source leaves them (a front end without one has
// them disabled, and the writer writes no maximum then): the maximum enabled unless a constant
// quantiser runs without the VBV check.
void sourceopen();
// The table of states: together they write every key the writer knows, each line's key,
// column and value form.
std::vector<pagestate> pagestates();
// Reads the file the writer wrote, as lines.
std::vector<std::string> filelines(const std::string& path);

// One property of one control as a test wants it.
struct want {
  int page, id;
  char what;  // 't' ticked, 'e' enabled, 'x' text, 'r' range minimum, maximum and position
  std::string value;
};
std::string is(bool b);
// The property as the pages hold it, in the form of want's value.
std::string property(const want& w);
