// The defaults of every page control, and the DVD-compliance fixer.
#include <gtest/gtest.h>

#include <cmath>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/layer.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"
#include "tests/frontend/pagestates.h"

namespace {
using defaults = frontfixture;

// Every control of the pages away from any default: texts, ticks, enabling, positions.
void scramble() {
  for (int page = dlgmain; page <= pagezones; page++) {
    dialogrecord& d = dlgof(page);
    for (dlgcontrol& c : d.rows) {
      if (c.id <= 0) continue;
      switch (c.kind) {
        case ctledit:
        case ctlcombo:
        case ctlpush:
          dlgputtext(d, c.id, "zz");
          break;
        case ctlcheck:
        case ctlradio:
          dlgputflag(d, c.id, !dlggetflag(d, c.id));
          break;
        case ctltrack:
        case ctlupdown:
          dlgputint(d, c.id, 77, ixmax);
          dlgputint(d, c.id, 7);
          break;
        default:
          break;
      }
      dlgputflag(d, c.id, !dlggetflag(d, c.id, ixenabled), ixenabled);
    }
  }
  guisettings.guiaspect = 1;
  guisettings.matrixindex = 7;
}

// The table of the defaults, for a source open or not and a settings file that named an input
// or not.
std::vector<want> table(bool source, bool input, bool output) {
  std::vector<want> t = {{101, 1012, 'e', is(source && output)}, {102, 1008, 'e', "1"}};
  if (!input) {
    t.insert(t.end(), {{102, 1008, 'x', "input file name (*.d2v, *.avs)"},
                       {102, 1029, 'e', "0"},
                       {102, 1029, 'x', "output file name (not set)"},
                       {102, 1030, 'e', "0"},
                       {102, 1030, 'x', "log file name (not set)"}});
  } else {
    t.insert(t.end(), {{102, 1008, 'x', "zz"}, {102, 1029, 'e', "1"}, {102, 1029, 'x', "zz"}, {102, 1030, 'e', "1"},
                       {102, 1030, 'x', "zz"}});
  }
  for (int id : {1009, 1010, 1012, 1013, 1078, 1079, 1080, 1081, 1082, 1083, 1084, 1046, 1047, 1048, 1049, 1041,
                 1011, 1091})
    t.push_back({102, id, 'e', "1"});
  for (int id : {1085, 1033, 1087, 1018}) t.push_back({102, id, 'e', is(source)});
  t.insert(t.end(), {{102, 1086, 'e', "0"},     {102, 1085, 't', "1"},     {102, 1033, 't', "0"},
                     {102, 1087, 'x', "4000"},  {102, 1018, 'x', "8000"},  {102, 1078, 't', "0"},
                     {102, 1079, 't', "1"},     {102, 1080, 't', "0"},     {102, 1083, 't', "1"},
                     {102, 1081, 't', "0"},     {102, 1082, 't', "0"},     {102, 1084, 't', "0"},
                     {102, 1047, 't', "1"},     {102, 1046, 't', "0"},     {102, 1048, 't', "0"},
                     {102, 1049, 't', "0"},     {102, 1040, 't', "1"},     {102, 1077, 't', "1"},
                     {102, 1113, 'x', "15"},    {102, 1112, 'r', "12 18 15"}, {102, 1090, 't', "0"},
                     {102, 1041, 't', "0"},     {102, 1044, 't', "0"},
                     {103, 1092, 'e', "0"},     {103, 1093, 'e', "0"},     {103, 1093, 't', "1"},
                     {103, 1092, 't', "0"},     {103, 1019, 'e', "1"},     {103, 1020, 'e', "1"},
                     {103, 1019, 't', "1"},     {103, 1020, 't', "0"},     {103, 1055, 't', "0"},
                     {103, 1056, 'x', "5.000"}, {103, 1056, 'e', "0"},     {103, 1057, 't', "0"},
                     {103, 1057, 'e', "0"},     {103, 1038, 'x', "1.00"},  {103, 1038, 'e', "0"},
                     {103, 1109, 'e', "0"},     {103, 1109, 'r', "1 32 9"}, {103, 1037, 'x', "1.00"},
                     {103, 1037, 'e', "0"},     {103, 1110, 'e', "0"},     {103, 1110, 'r', "1 32 9"},
                     {103, 1045, 'x', "15"},    {103, 1544, 'x', "2"},     {103, 1045, 'e', "0"},
                     {103, 1544, 'e', "0"},     {103, 1023, 'e', "0"},     {103, 1024, 'e', "0"},
                     {103, 1023, 'r', "1 36 15"}, {103, 1024, 'r', "0 2 2"},
                     {104, 1035, 'x', "0"},     {104, 1017, 'x', "5"},     {104, 1022, 't', "1"},
                     {104, 2023, 't', "0"},     {104, 1018, 't', "0"},     {104, 1021, 't', "1"},
                     {104, 2021, 't', "0"},     {104, 2021, 'e', "1"},     {104, 2022, 't', "0"},
                     {104, 1039, 't', "0"},     {104, 1050, 't', "1"},     {104, 1031, 'x', "0"},
                     {104, 1032, 'x', "0"},     {104, 1033, 'x', "0"},     {104, 1034, 'x', "0"},
                     {104, 1011, 'e', "0"},     {104, 1036, 'x', "0"},     {104, 1044, 'x', "0"},
                     {104, 1045, 'x', "0"},     {104, 1012, 'r', "0 4 0"}, {104, 1056, 'x', "0"},
                     {105, 1025, 't', "0"},     {105, 1010, 'e', "1"},     {105, 1010, 't', "1"},
                     {105, 1011, 't', "0"},     {105, 1054, 'e', "1"},     {105, 1054, 'x', "MPEG"},
                     {105, 1102, 'e', "0"},     {105, 1104, 'e', "0"},     {105, 1103, 'e', "0"},
                     {106, 1061, 'r', "0 1000 0"}, {107, 1061, 'r', "0 1000 0"}, {107, 1017, 'x', "1.0"}});
  for (int id = 1201; id <= 1264; id++) t.push_back({105, id, 'e', "0"});
  for (int id = 1301; id <= 1364; id++) t.push_back({105, id, 'e', "0"});
  return t;
}
}  // namespace

// Every control of the defaults' table, from pages scrambled away from them, with and without
// a valid source and an input named by the last settings file.
TEST_F(defaults, thewholecontroltable) {
  start("");
  for (bool source : {false, true})
    for (bool input : {false, true})
      for (bool output : {false, true}) {
        scramble();
        // The trackbars and spins keep their minimum 0 where the defaults set none.
        dlgputint(dlgof(pagesettings2), 1012, 0, ixmin);
        for (int p : {pagechapters, pagezones}) dlgputint(dlgof(p), 1061, 0, ixmin);
        movieinfovalid = source;
        iniseen[keyinfile] = input;
        outputset = output;
        setdefaults();
        for (const want& w : table(source, input, output))
          EXPECT_EQ(property(w), w.value) << w.page << ":" << w.id << " " << w.what << ", source " << source
                                          << ", input " << input << ", output " << output;
        EXPECT_EQ(guisettings.guiaspect, 3);
        EXPECT_EQ(guisettings.matrixindex, 1);
      }
}

namespace {
// A source as the preview opens it: its picture and rate.
void source(int width, int height, float fps) {
  movieinfovalid = true;
  previewstate.width = width, previewstate.height = height;
  guisettings.sourcefps = fps;
  src23976 = std::fabs(fps - 23.976f) < 0.01f;
}
std::string pagetext(int page, int id) { return trimright(dlggettext(dlgof(page), id, 40)); }
bool ticked(int page, int id) { return dlggetflag(dlgof(page), id); }
bool enabled(int page, int id) { return dlggetflag(dlgof(page), id, ixenabled); }
}  // namespace

// The fixer on a table of pages: what it changes, what it leaves, the warning it gives.
TEST_F(defaults, makedvdfixeswhatadvdcannottake) {
  struct row {
    const char* name;
    std::function<void()> set;
    std::function<void()> check;
    const char* status = "";
  };
  const row rows[] = {
      {"GOP 18 becomes 15, B 3 becomes 2, average 9500 becomes 9000, a maximum of 9000 stays",
       [] {
         settext(103, 1045, "18"), settext(103, 1544, "3");
         settext(102, 1087, "9500"), settext(102, 1018, "9000");
       },
       [] {
         EXPECT_EQ(pagetext(103, 1045), "15");
         EXPECT_EQ(dlggetint(dlgof(103), 1023), 15);
         EXPECT_EQ(pagetext(103, 1544), "2");
         EXPECT_EQ(dlggetint(dlgof(103), 1024), 2);
         EXPECT_EQ(pagetext(102, 1087), "9000");
         EXPECT_EQ(pagetext(102, 1018), "9000");
       }},
      {"GOP 0 becomes 1; a maximum above 9800 comes down, and the average never stays above it",
       [] {
         settext(103, 1045, "0"), settext(102, 1087, "8500"), settext(102, 1018, "8000");
       },
       [] {
         EXPECT_EQ(pagetext(103, 1045), "1");
         EXPECT_EQ(pagetext(102, 1087), "8000");
         EXPECT_EQ(pagetext(102, 1018), "8000");
       }},
      {"maximum 12000 becomes 9800; average 7000 stays",
       [] { settext(102, 1087, "7000"), settext(102, 1018, "12000"); },
       [] {
         EXPECT_EQ(pagetext(102, 1087), "7000");
         EXPECT_EQ(pagetext(102, 1018), "9800");
       }},
      {"time code: 25 hours and 75 minutes become 23 and 59; a negative second 0",
       [] {
         settext(104, 1031, "25"), settext(104, 1032, "75"), settext(104, 1033, "-4"), settext(104, 1034, "12");
       },
       [] {
         EXPECT_EQ(pagetext(104, 1031), "23");
         EXPECT_EQ(pagetext(104, 1032), "59");
         EXPECT_EQ(pagetext(104, 1033), "0");
         EXPECT_EQ(pagetext(104, 1034), "12");
       }},
      {"aspect 1:1 becomes 4:3, dc precision 11 becomes 10, the VBV check on",
       [] { tick(102, 1081), tick(102, 1049), tick(104, 1021, false); },
       [] {
         EXPECT_TRUE(ticked(102, 1082));
         EXPECT_EQ(guisettings.guiaspect, 2);
         EXPECT_TRUE(ticked(102, 1048));
         EXPECT_TRUE(ticked(104, 1021));
       }},
      {"aspect 2.21:1 becomes 16:9; a constant quantiser goes under the maximum bitrate",
       [] { tick(102, 1084), tick(103, 1055), enable(102, 1018, false); },
       [] {
         EXPECT_TRUE(ticked(102, 1083));
         EXPECT_EQ(guisettings.guiaspect, 3);
         EXPECT_TRUE(enabled(102, 1018));
         EXPECT_TRUE(ticked(103, 1057));
       }},
      {"a 23.976 source: progressive with pulldown, and the longest automatic GOP 12",
       [] {
         source(720, 480, 23.976f);
         tick(102, 1041), tick(103, 1092), enable(103, 1092, true), tick(103, 1020);
       },
       [] {
         EXPECT_FALSE(ticked(102, 1041));
         EXPECT_FALSE(enabled(102, 1041));
         EXPECT_TRUE(ticked(103, 1093));
         EXPECT_FALSE(enabled(103, 1092));
         EXPECT_FALSE(enabled(103, 1093));
         EXPECT_TRUE(ticked(103, 1019));
         EXPECT_TRUE(ticked(102, 1044));
         EXPECT_EQ(pagetext(102, 1113), "12");
         EXPECT_EQ(dlggetint(dlgof(102), 1112), 12);
       }},
      {"a 25 frames/s source with pulldown: none, interlaced unticked but enabled; GOP 15",
       [] {
         source(720, 576, 25.0f);
         tick(102, 1044), tick(102, 1041, false), enable(102, 1041, false), settext(102, 1113, "18");
       },
       [] {
         EXPECT_FALSE(ticked(102, 1044));
         EXPECT_FALSE(ticked(102, 1041));
         EXPECT_TRUE(enabled(102, 1041));
         EXPECT_TRUE(ticked(103, 1093));
         EXPECT_TRUE(ticked(103, 1019));
         EXPECT_EQ(pagetext(102, 1113), "15");
       }},
      {"a 29.97 source keeps interlacing and its longest automatic GOP",
       [] {
         source(720, 480, 29.97f);
         tick(102, 1041), tick(103, 1092), enable(103, 1092, true), tick(103, 1020), settext(102, 1113, "18");
       },
       [] {
         EXPECT_TRUE(ticked(102, 1041));
         EXPECT_TRUE(ticked(103, 1092));
         EXPECT_TRUE(ticked(103, 1020));
         EXPECT_FALSE(ticked(102, 1044));
         EXPECT_EQ(pagetext(102, 1113), "18");
       }},
      {"a 1920 x 1080 source: the resolution warning", [] { source(1920, 1080, 25.0f); }, [] {},
       ", WARNING, resolution NOT DVD-compliant"},
      {"a 720 x 577 source: the resolution warning", [] { source(720, 577, 25.0f); }, [] {},
       ", WARNING, resolution NOT DVD-compliant"},
      {"no source: a stale 23.976 mark changes nothing",
       [] {
         src23976 = true;
         tick(102, 1041);
       },
       [] {
         EXPECT_TRUE(ticked(102, 1041));
         EXPECT_FALSE(ticked(102, 1044));
       }},
  };
  for (const row& r : rows) {
    if (&r != rows) again();
    start("");
    src23976 = false;
    r.set();
    makedvd();
    SCOPED_TRACE(r.name);
    r.check();
    EXPECT_EQ(statustext, std::string(" KJ.ini not found, using default GUI settings") + r.status);
  }
}
