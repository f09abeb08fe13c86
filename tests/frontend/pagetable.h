// Tables of user input on the pages and what it must leave: controls, model words, the status
// line. Each row runs on a front end of its own, started on a small generated source.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/frontend/fixture.h"

// One thing the user does on a page control.
struct act {
  enum kind { click, type, enter, spin, focus, leave, pick };
  kind how;
  int page, id;
  std::string text;  // typed (type, enter); the steps (spin); the item (pick)
};
// The usual ways: a click; a number entered (the edit gains the focus, the text is typed, the
// edit loses the focus); typing alone (edits that act on every change); a spin or slide.
act clickon(int page, int id);
act enteron(int page, int id, const std::string& text);
act typeon(int page, int id, const std::string& text);
act spinon(int page, int id, int steps);
act pickon(int page, int id, int item);

// One property afterwards: text, ticked, enabled, position of a control, or a model word.
struct want {
  enum kind { text, ticked, enabled, position, word };
  kind what;
  int page, id;  // for a word: unused
  std::string value;  // for a word: "name=value"
};
want textof(int page, int id, const std::string& value);
want tickof(int page, int id, bool on);
want enabledof(int page, int id, bool on);
want positionof(int page, int id, int value);
// Model words: avg, max, file, start, end, span, aspect, top, bottom, shift, hours, minutes,
// seconds, frames, wait, bias, gain, cq (3 decimals), pfactor, bfactor (2 decimals), gop,
// bframes, matrix.
want wordof(const std::string& name, const std::string& value);

// The sources a row can run on (generated test pictures of 32 x 16).
enum class source { none, pal, thousand, onesecond, film };

struct pagerow {
  const char* name;
  source on;
  std::vector<act> acts;
  std::vector<want> wants;
  std::string status;  // the status line afterwards (its line breaks as blanks); " (before)" unchanged
  std::function<void()> before = nullptr;  // after the start, before the acts
};

class pagetable : public frontfixture {
 protected:
  // Starts a front end on the source, puts " (before)" into the status line, runs the acts.
  void begin(source on);
  void perform(const act& a);
  // Every row from a fresh front end; failures name the row and the property.
  void run(const std::vector<pagerow>& rows);
  std::string status();
};
