#include "tests/frontend/fixture.h"

#include <stdlib.h>

#include <filesystem>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "frontend/window/guimain.h"
#include "platform/queue.h"
#include "tests/support/blackbox.h"

void frontfixture::SetUp() {
  char t[] = "/tmp/ostrelfrontXXXXXX";
  ASSERT_NE(mkdtemp(t), nullptr);
  dir = std::string(t) + "/";
  dlgsetheadlessout([this](const std::string& s) { printed.push_back(s); });
  dlgdirectevents(true);
  clearqueue();
  userfileanswersclear();  // (a file answer scripted by an earlier test never carries over)
  statustext.clear();
}

void frontfixture::TearDown() {
  stopscan();
  if (started) guiend();
  started = false;
  dlgdirectevents(false);
  dlgsetheadlessout(nullptr);
  clearqueue();
  userfileanswersclear();
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void frontfixture::again() {
  TearDown();
  started = false;
  printed.clear();
  SetUp();
}

void frontfixture::start(const std::string& kjini) {
  if (!kjini.empty()) writefile(dir + "KJ.ini", kjini);
  ASSERT_TRUE(guistart(1, dir));
  started = true;
}

std::string frontfixture::script(const std::string& name, const std::string& text) {
  writefile(dir + name, text);
  return dir + name;
}

void frontfixture::namefiles() {
  inputpath = script("My Clip.avs", smallclip);
  outputpath = dir + "Out Put.M2V";
  logpath = dir + "Run.log";
  iniseen[keyinfile] = iniseen[keyoutfile] = iniseen[keylogfile] = true;
}

dialogrecord& frontfixture::dlg(int id) { return dlgof(id); }

std::string frontfixture::text(int dialog, int id) { return trimright(dlggettext(dlgof(dialog), id)); }
