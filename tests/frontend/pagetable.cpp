#include "tests/frontend/pagetable.h"

#include <gtest/gtest.h>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

act clickon(int page, int id) { return {act::click, page, id, ""}; }
act enteron(int page, int id, const std::string& text) { return {act::enter, page, id, text}; }
act typeon(int page, int id, const std::string& text) { return {act::type, page, id, text}; }
act spinon(int page, int id, int steps) { return {act::spin, page, id, std::to_string(steps)}; }
act pickon(int page, int id, int item) { return {act::pick, page, id, std::to_string(item)}; }

want textof(int page, int id, const std::string& value) { return {want::text, page, id, value}; }
want tickof(int page, int id, bool on) { return {want::ticked, page, id, on ? "1" : "0"}; }
want enabledof(int page, int id, bool on) { return {want::enabled, page, id, on ? "1" : "0"}; }
want positionof(int page, int id, int value) { return {want::position, page, id, std::to_string(value)}; }
want wordof(const std::string& name, const std::string& value) { return {want::word, 0, 0, name + "=" + value}; }

namespace {
std::string modelword(const std::string& name) {
  const guisettingsrec& g = guisettings;
  const struct {
    const char* name;
    int value;
  } ints[] = {{"avg", g.avgkbits},       {"max", g.maxkbits},          {"file", g.filekbytes},
              {"start", g.startframe},   {"end", g.endframe},          {"span", g.framespan},
              {"aspect", g.guiaspect},   {"top", g.guimask[0]},        {"bottom", g.guimask[1]},
              {"shift", g.guimask[2]},   {"hours", g.guitimecode[0]},  {"minutes", g.guitimecode[1]},
              {"seconds", g.guitimecode[2]}, {"frames", g.guitimecode[3]}, {"wait", g.guiwait},
              {"bias", g.guibias},       {"gain", g.guilumgain},       {"gop", g.guigoplength},
              {"bframes", g.guibframes}, {"matrix", g.matrixindex}};
  for (const auto& i : ints)
    if (name == i.name) return std::to_string(i.value);
  if (name == "cq") return trimright(adjustleft(fmtfixed(g.guicq, 8, 3)));
  if (name == "pfactor") return trimright(adjustleft(fmtfixed(g.guipfactor, 8, 2)));
  if (name == "bfactor") return trimright(adjustleft(fmtfixed(g.guibfactor, 8, 2)));
  return "no word " + name;
}

const char* scriptof(source on) {
  switch (on) {
    case source::pal: return "TestPattern(length=90000, width=32, height=16, fps=25)\n";
    case source::thousand: return "TestPattern(length=1000, width=32, height=16, fps=25)\n";
    case source::onesecond: return "TestPattern(length=25, width=32, height=16, fps=25)\n";
    case source::film: return "TestPattern(length=1000, width=32, height=16, fps=24000, fps_denominator=1001)\n";
    default: return nullptr;
  }
}
}  // namespace

void pagetable::begin(source on) {
  const char* s = scriptof(on);
  start(s ? "*INFILE " + script("clip.avs", s) + "\n" : "");
  ASSERT_EQ(movieinfovalid, s != nullptr);
  showinfo(" (before)", false);
}

void pagetable::perform(const act& a) {
  dialogrecord& d = dlg(a.page);
  switch (a.how) {
    case act::click: userclick(d, a.id); break;
    case act::type: usertype(d, a.id, a.text); break;
    case act::enter:
      userfocus(d, a.id, true);
      usertype(d, a.id, a.text);
      userfocus(d, a.id, false);
      break;
    case act::spin: userspin(d, a.id, std::stoi(a.text)); break;
    case act::focus: userfocus(d, a.id, true); break;
    case act::leave: userfocus(d, a.id, false); break;
    case act::pick: userselect(d, a.id, std::stoi(a.text)); break;
  }
}

std::string pagetable::status() {
  std::string s = text(dlgmain, statuscontrol);
  for (char& c : s)
    if (c == '\n') c = ' ';
  return s;
}

void pagetable::run(const std::vector<pagerow>& rows) {
  for (const pagerow& r : rows) {
    SCOPED_TRACE(r.name);
    again();
    begin(r.on);
    if (r.before) r.before();
    for (const act& a : r.acts) perform(a);
    for (const want& w : r.wants) {
      dialogrecord& d = w.what == want::word ? dlg(dlgmain) : dlg(w.page);
      std::string got;
      switch (w.what) {
        case want::text: got = text(w.page, w.id); break;
        case want::ticked: got = dlggetflag(d, w.id) ? "1" : "0"; break;
        case want::enabled: got = dlggetflag(d, w.id, ixenabled) ? "1" : "0"; break;
        case want::position: got = std::to_string(dlggetint(d, w.id)); break;
        case want::word: {
          const size_t eq = w.value.find('=');
          got = w.value.substr(0, eq) + "=" + modelword(w.value.substr(0, eq));
          break;
        }
      }
      const char* kinds[] = {"text", "ticked", "enabled", "position", "word"};
      EXPECT_EQ(got, w.value) << kinds[w.what] << " of " << w.page << ":" << w.id;
    }
    EXPECT_EQ(status(), r.status);
  }
}
