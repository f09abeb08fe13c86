// The settings round trip: for the writer's table of page states, the file the front end
// writes gives the same settings read back by the front end's own reader, and read by the
// real encoder (its settings echo in the log, from outside).
#include <gtest/gtest.h>

#include <map>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "common/matrices.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/echo.h"
#include "tests/frontend/fixture.h"
#include "tests/frontend/pagestates.h"
#include "tests/support/blackbox.h"

namespace {
using roundtrip = frontfixture;

// What the model holds after a read: the value of each key marked.
settingsview modelview() {
  const guisettingsrec& g = guisettings;
  settingsview v;
  for (int code = 1; code < inikeycount; code++) {
    if (!iniseen[code]) continue;
    std::string& s = v[code];
    switch (code) {
      case keyinfile: s = inputpath; break;
      case keyoutfile: s = outputpath; break;
      case keylogfile: s = logpath; break;
      case keybitrate: s = std::to_string(g.avgkbits); break;
      case keymaxbitrate: s = std::to_string(g.maxkbits); break;
      case keyframes: s = ints({g.startframe, g.endframe}); break;
      case keyprofile: s = std::to_string(g.guiprofile); break;
      case keyaspect: s = std::to_string(g.guiaspect); break;
      case keyautogop: s = std::to_string(g.guiautogop); break;
      case keygop: s = ints({g.guigoplength, g.guibframes}); break;
      case keycq: s = f3(g.guicq); break;
      case keycqmaxbitrate: s = f3(g.guicqmbr); break;
      case keycqpfactor: s = f3(g.guipfactor); break;
      case keycqbfactor: s = f3(g.guibfactor); break;
      case keydcprec: s = std::to_string(g.guidcprec); break;
      case keyscanmethod: s = std::to_string(g.guiscan); break;
      case keybias: s = std::to_string(g.guibias); break;
      case keymaskshift: s = ints({g.guimask[0], g.guimask[1], g.guimask[2]}); break;
      case keytimecode: s = ints({g.guitimecode[0], g.guitimecode[1], g.guitimecode[2], g.guitimecode[3]}); break;
      case keymatrix: s = std::to_string(g.matrixindex); break;
      case keycustommatrix: s = customview(); break;
      case keylumgain: s = std::to_string(g.guilumgain); break;
      case keycpu: s = std::to_string(g.guicpu); break;
      case keywait: s = std::to_string(g.guiwait); break;
      case keychapter:
      case keyzone: s = tables(); break;
      default: break;
    }
  }
  return v;
}
}  // namespace

// Each state of the table: the pages' settings, written and read back, are the model's.
TEST_F(roundtrip, throughthefrontendsreader) {
  for (const pagestate& s : pagestates()) {
    if (&s != &pagestates()[0]) again();
    start("");
    s.set();
    namefiles();
    settingsview pages = pagesview();
    matrixpairrec custom = custommatrix;
    saveini(1);
    ASSERT_TRUE(settingsvalid) << s.name;
    // The tables and the custom pair are read back, not kept: start them afresh.
    clearchapters();
    clearzones();
    custommatrix = initialcustommatrix();
    guisettings.matrixindex = 1;
    loadini(1);
    EXPECT_EQ(statustext, " KJ.ini successfully processed") << s.name;
    EXPECT_EQ(modelview(), pages) << s.name;
    if (iniseen[keycustommatrix]) {
      for (int i = 0; i < 64; i++) EXPECT_EQ(custommatrix.nonintra[i], custom.nonintra[i]) << i;
    }
  }
}

// Each state of the table through the real encoder: the KJ.ini the front end writes starts a
// run whose settings echo shows the pages' settings, and whose stream decodes cleanly.
TEST_F(roundtrip, throughtheencodersecho) {
  for (const pagestate& s : pagestates()) {
    if (&s != &pagestates()[0]) again();
    start("");
    s.set();
    sourceopen();  // an encode needs a source
    progfolder pf;
    pf.write("clip.avs", filmclip);
    inputpath = pf.path("clip.avs"), outputpath = pf.path("out.m2v"), logpath = pf.path("out.log");
    iniseen[keyinfile] = iniseen[keyoutfile] = iniseen[keylogfile] = true;
    settingsview pages = pagesview();
    std::vector<std::string> want = echofor(pages);
    saveini(1);
    ASSERT_TRUE(settingsvalid) << s.name;
    pf.write("KJ.ini", readfile(dir + "KJ.ini"));
    runresult r = pf.ostrel({}, {"OSTREL_SHUTDOWN_CMD=true"});
    ASSERT_EQ(r.status, 0) << s.name << "\n" << r.err;
    EXPECT_EQ(echoof(pf.read("out.log"), echocpu(pages)), want) << s.name;
    std::string why;
    EXPECT_TRUE(decodesclean(pf.path("out.m2v"), &why)) << s.name << ": " << why;
  }
}
