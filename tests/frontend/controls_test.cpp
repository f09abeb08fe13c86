// Settings to the page controls and the file labels: the round trip of the writer's table of
// states through the reader and setcontrols, each key's controls with the rows that override
// one another, the encode button's enabling, the bitrate mode and the chapter and zone lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"
#include "tests/frontend/pagestates.h"
#include "tests/support/blackbox.h"

namespace {
using controls = frontfixture;

// The file as the pages give it back: setcontrols shows a constant quantiser with 3 decimals
// and a factor as "1.000", of which the writer takes the field of 4; a luminance gain switches
// the adaptive matrix off, as the encoder does when a file names both.
std::vector<std::string> normalised(std::vector<std::string> lines) {
  const std::map<std::string, std::string> forms = {{kv("*CQ", "3.5"), kv("*CQ", "3.500")},
                                                    {kv("*CQ_PFACTOR", "1.0 "), kv("*CQ_PFACTOR", "1.00")}};
  for (std::string& l : lines)
    if (auto n = forms.find(l); n != forms.end()) l = n->second;
  if (std::any_of(lines.begin(), lines.end(), [](const std::string& l) { return l.rfind("*LUMGAIN", 0) == 0; }))
    std::erase(lines, "*ADAPTIVEMATRIX");
  return lines;
}

// Loads KJ.ini into the pages the way the start-up does it: the reader, then setcontrols, then
// (with source) the bitrate edits as the source's open leaves them; then writes it again.
std::vector<std::string> loadandsave(const std::string& dir, bool source) {
  loadini(1);
  setcontrols();
  if (source) sourceopen();
  saveini(1);
  return filelines(dir + "KJ.ini");
}
}  // namespace

// For each state of the writer's table: load, setcontrols and save give the file back, line for
// line (the normalised forms above aside), and a second round changes nothing more.
TEST_F(controls, loadsetcontrolssavegivesthefileback) {
  for (const pagestate& s : pagestates()) {
    if (&s != &pagestates()[0]) again();
    start("");
    s.set();
    namefiles();
    // The state's pages as a source leaves them or without one (a constant quantiser without
    // the VBV check has both bitrate edits disabled either way).
    const bool source = dlggetflag(dlg(pagemain), 1087, ixenabled) || dlggetflag(dlg(pagemain), 1018, ixenabled);
    saveini(1);
    ASSERT_TRUE(settingsvalid) << s.name;
    std::vector<std::string> want = normalised(filelines(dir + "KJ.ini"));
    std::vector<std::string> second = loadandsave(dir, source);
    EXPECT_EQ(statustext, " file successfully written") << s.name;
    EXPECT_EQ(second, want) << s.name;
    EXPECT_EQ(loadandsave(dir, source), second) << s.name;
  }
}

namespace {
std::string spin(int lo, int hi, int position) {
  return std::to_string(lo) + " " + std::to_string(hi) + " " + std::to_string(position);
}
// The custom pair of a settings file: 8 then 2..64 as intra, 16..79 as non-intra.
std::string custompair() {
  std::string s = "*CUSTOMMATRIX\n";
  for (int half = 0; half < 2; half++)
    for (int r = 0; r < 8; r++) {
      for (int c = 0; c < 8; c++) s += std::to_string(half ? 16 + 8 * r + c : (r + c == 0 ? 8 : 1 + 8 * r + c)) + " ";
      s += "\n";
    }
  return s;
}
}  // namespace

// Each key into its controls, at the edges of its values, and the rows that override one
// another: the keys are applied in a fixed order, so a later one wins for the same control.
TEST_F(controls, eachkeyintoitscontrols) {
  struct row {
    std::string ini;
    std::vector<want> wants;
    std::function<void()> model = [] {};
  };
  const guisettingsrec& g = guisettings;
  const std::string longout = "/a/folder/with/a/name/far/longer/than/forty/characters/out.m2v";
  const std::vector<row> rows = {
      // Factors onto the page's table: nearest entry, a tie to the lower one, clamped to 0.5..4.
      {"*CQ_PFACTOR 1.22\n*CQ_BFACTOR 5\n",
       {{103, 1038, 'x', "1.200"}, {103, 1109, 'r', spin(1, 32, 13)}, {103, 1037, 'x', "4.000"},
        {103, 1110, 'r', spin(1, 32, 32)}},
       [&] {
         EXPECT_EQ(g.guipfactor, 1.2f);
         EXPECT_EQ(g.guibfactor, 4.0f);
       }},
      {"*CQ_PFACTOR 0.1\n*CQ_BFACTOR 0.55\n",
       {{103, 1038, 'x', "0.500"}, {103, 1109, 'r', spin(1, 32, 1)}, {103, 1037, 'x', "0.500"},
        {103, 1110, 'r', spin(1, 32, 1)}}},
      {"*CQ_PFACTOR 1.025\n*CQ_BFACTOR 3.9001\n",
       {{103, 1038, 'x', "1.000"}, {103, 1109, 'r', spin(1, 32, 9)}, {103, 1037, 'x', "4.000"},
        {103, 1110, 'r', spin(1, 32, 32)}}},
      // The reader keeps the average at or under the maximum; the fields show both.
      {"*MAXBITRATE 3000\n*BITRATE 5000\n", {{102, 1087, 'x', "3000"}, {102, 1018, 'x', "3000"}}},
      {"*GOP 40,3\n",
       {{102, 1077, 't', "0"},
        {103, 1045, 'x', "36"},
        {103, 1023, 'r', spin(1, 36, 36)},
        {103, 1544, 'x', "2"},
        {103, 1024, 'r', spin(0, 2, 2)},
        {103, 1045, 'e', "1"},
        {103, 1023, 'e', "1"},
        {103, 1544, 'e', "1"},
        {103, 1024, 'e', "1"}},
       [&] {
         EXPECT_EQ(g.guigoplength, 36);
         EXPECT_EQ(g.guibframes, 2);
       }},
      // 12 bits read as the encoder reads them: 11.
      {"*DC_PREC 12\n", {{102, 1049, 't', "1"}, {102, 1047, 't', "0"}}},
      {"*DC_PREC 8\n", {{102, 1046, 't', "1"}, {102, 1047, 't', "0"}}},
      {"*INTERLACED\n*BFF\n",
       {{102, 1041, 't', "1"}, {103, 1020, 't', "1"}, {103, 1093, 't', "1"}, {103, 1092, 'e', "1"},
        {103, 1093, 'e', "1"}}},
      {"*INTERLACED\n*SCANMETHOD ZIGZAG\n", {{103, 1019, 't', "1"}, {103, 1092, 't', "1"}}},
      {"*INTERLACED\n*PULLDOWN\n",
       {{102, 1044, 't', "1"}, {102, 1041, 't', "0"}, {102, 1041, 'e', "0"}, {103, 1092, 'e', "0"},
        {103, 1093, 't', "1"}, {103, 1093, 'e', "0"}, {103, 1019, 't', "1"}}},
      // A scan method named with pulldown stays: the encoder applies it.
      {"*PULLDOWN\n*SCANMETHOD ALT\n", {{102, 1044, 't', "1"}, {103, 1020, 't', "1"}}},
      {"*PREVIEW\n*SILENT\n", {{104, 2022, 't', "1"}, {104, 2021, 't', "0"}, {104, 2021, 'e', "0"}}},
      {"*PREVIEW\n", {{104, 2021, 't', "1"}, {104, 2021, 'e', "1"}}},
      {"*ADAPTIVEMATRIX\n*LUMGAIN 3\n",
       {{105, 1025, 't', "0"}, {105, 1025, 'e', "0"}, {104, 1056, 'x', "3"}, {104, 1012, 'r', spin(0, 4, 3)}}},
      {"*ADAPTIVEMATRIX\n", {{105, 1025, 't', "1"}}},
      {"*CQ 4\n",
       {{103, 1055, 't', "1"}, {103, 1056, 'x', "4.000"}, {103, 1056, 'e', "1"}, {103, 1057, 't', "0"},
        {103, 1057, 'e', "1"}, {103, 1038, 'e', "1"}, {103, 1109, 'e', "1"}, {103, 1037, 'e', "1"},
        {103, 1110, 'e', "1"}}},
      {"*CQ 4\n*CQ_MAXBITRATE 6.5\n*MAXBITRATE 7000\n",
       {{103, 1055, 't', "1"}, {103, 1056, 'x', "6.500"}, {103, 1057, 't', "1"}, {103, 1057, 'e', "1"},
        {102, 1018, 'x', "7000"}}},
      {"*MATRIX KJLOW\n",
       {{105, 1010, 't', "1"}, {105, 1054, 'e', "1"}, {105, 1054, 'x', "KJLOW"}, {105, 1102, 'e', "0"},
        {105, 1104, 'e', "0"}, {105, 1103, 'e', "0"}, {105, 1202, 'e', "0"}},
       [&] { EXPECT_EQ(g.matrixindex, 12); }},
      {"*MATRIX TGN\n" + custompair(),
       {{105, 1011, 't', "1"}, {105, 1010, 't', "0"}, {105, 1054, 'e', "0"}, {105, 1102, 'e', "1"},
        {105, 1104, 'e', "1"}, {105, 1103, 'e', "1"}, {105, 1201, 'e', "0"}, {105, 1202, 'e', "1"},
        {105, 1364, 'e', "1"}},
       [&] { EXPECT_EQ(g.matrixindex, custommatrixindex); }},
      {"*CPU SSSE3\n", {{104, 1010, 't', "1"}, {104, 1050, 't', "0"}}},
      {"*CPU MMX\n", {{104, 1051, 't', "1"}, {104, 1050, 't', "0"}}},
      {"*TIMECODE 1,2,3,4\n*MASK_SHIFT 8,6,-4\n*WAIT 12\n*BIAS 30\n*AUTOGOP 17\n",
       {{104, 1031, 'x', "1"},
        {104, 1032, 'x', "2"},
        {104, 1033, 'x', "3"},
        {104, 1034, 'x', "4"},
        {104, 1036, 'x', "8"},
        {104, 1044, 'x', "6"},
        {104, 1045, 'x', "-4"},
        {104, 1017, 'x', "12"},
        {104, 1035, 'x', "30"},
        {102, 1113, 'x', "17"},
        {102, 1112, 'r', spin(12, 18, 17)},
        {102, 1113, 'e', "1"},
        {102, 1112, 'e', "1"}}},
      {"*FRAMES 100,199\n*BITRATE 5000\n",
       {{102, 1088, 'x', "100"}, {102, 1089, 'x', "199"}, {102, 1087, 'x', "5000"}},
       [&] { EXPECT_EQ(g.framespan, 100); }},
      {"*PROFILE FAST\n*ASPECT 2.21:1\n*CLOSEDGOPS\n*NOVBV\n*NOSCD\n*NOSEQ_ENDCODE\n*SHUTDOWN\n*LASTIFRAME\n*SCDFILE\n",
       {{102, 1078, 't', "1"},
        {102, 1079, 't', "0"},
        {102, 1084, 't', "1"},
        {102, 1090, 't', "1"},
        {104, 1021, 't', "0"},
        {102, 1040, 't', "0"},
        {104, 1022, 't', "0"},
        {104, 1039, 't', "1"},
        {104, 1018, 't', "1"},
        {104, 2023, 't', "1"}}},
      {"*PROFILE BEST\n*ASPECT 4:3\n", {{102, 1080, 't', "1"}, {102, 1082, 't', "1"}, {102, 1083, 't', "0"}}},
      // The file buttons' captions, a long path shortened; the bitrate controls and the encode
      // button wait for setfilelabels.
      {"*INFILE %clip\n*OUTFILE " + longout + "\n*LOGFILE run.log\n",
       {{102, 1008, 'x', "input: %clip"},
        {102, 1029, 'x', "output: /a/fo...er/than/forty/characters/out.m2v"},
        {102, 1029, 'e', "1"},
        {102, 1030, 'x', "log: run.log"},
        {102, 1030, 'e', "1"},
        {101, 1012, 'e', "0"},
        {102, 1085, 'e', "0"},
        {102, 1033, 'e', "0"},
        {102, 1086, 'e', "0"},
        {102, 1087, 'e', "0"},
        {102, 1018, 'e', "0"}},
       [] { EXPECT_TRUE(outputset); }},
  };
  for (const row& r : rows) {
    if (&r != &rows[0]) again();
    start("");
    const std::string clip = script("c.avs", smallclip);
    auto withclip = [&clip](std::string s) {
      for (size_t k; (k = s.find("%clip")) != std::string::npos;) s.replace(k, 5, clip);
      return s;
    };
    writefile(dir + "KJ.ini", withclip(r.ini));
    loadini(1);
    setcontrols();
    SCOPED_TRACE(r.ini);
    ASSERT_EQ(statustext.rfind(" KJ.ini successfully processed", 0), 0u) << statustext;
    for (const want& w : r.wants)
      EXPECT_EQ(property(w), withclip(w.value)) << w.page << ":" << w.id << " " << w.what;
    r.model();
  }
}

// The encode button after the start-up chain: a source that opened and an output, nothing less.
TEST_F(controls, theencodebuttonwantsasourceandanoutput) {
  struct row {
    const char* ini;  // %clip: a script that opens; %bad: one that does not
    bool enabled;
  };
  const row rows[] = {
      {"*INFILE %clip\n*OUTFILE out.m2v\n", true},
      {"*INFILE %clip\n", false},
      {"*OUTFILE out.m2v\n", false},
      {"*INFILE %bad\n*OUTFILE out.m2v\n", false},
  };
  for (const row& r : rows) {
    if (&r != rows) again();
    std::string ini = r.ini;
    for (const char* name : {"%clip", "%bad"})
      if (size_t k = ini.find(name); k != std::string::npos)
        ini.replace(k, std::strlen(name),
                    name[1] == 'c' ? script("clip.avs", smallclip) : script("bad.avs", "TestPattern(length=)\n"));
    start(ini);
    EXPECT_EQ(dlggetflag(dlg(dlgmain), 1012, ixenabled), r.enabled) << ini;
    // An input enables the output and log buttons; their captions stay until a name is set.
    const bool input = ini.find("*INFILE") != std::string::npos;
    EXPECT_EQ(dlggetflag(dlg(pagemain), 1029, ixenabled), input || ini.find("*OUTFILE") != std::string::npos);
    EXPECT_EQ(dlggetflag(dlg(pagemain), 1030, ixenabled), input);
    EXPECT_EQ(text(pagemain, 1030), "log file name (not set)");
  }
}

// The rule itself over every state of its four words: a script whose frame server did not load
// is never encoded.
TEST_F(controls, theencodebuttonsrule) {
  start("");
  guisettings.sourcefps = 25.0f;
  for (int bits = 0; bits < 16; bits++) {
    movieinfovalid = bits & 1, outputset = bits & 2, avsinput = bits & 4, avsloaded = bits & 8;
    setfilelabels();
    EXPECT_EQ(dlggetflag(dlg(dlgmain), 1012, ixenabled), movieinfovalid && outputset && !(avsinput && !avsloaded))
        << "valid " << movieinfovalid << ", output " << outputset << ", script " << avsinput << ", loaded "
        << avsloaded;
  }
}

// The bitrate controls by mode: two passes, a constant quantiser with or without the maximum
// bitrate, no source.
TEST_F(controls, thebitratecontrolsfollowthemode) {
  start("");
  guisettings.sourcefps = 25.0f;
  struct row {
    bool source, cq, vbv;
    std::vector<want> wants;
  };
  const row rows[] = {
      {true, false, false,
       {{102, 1085, 'e', "1"}, {102, 1085, 't', "1"}, {102, 1033, 'e', "1"}, {102, 1086, 'e', "0"},
        {102, 1087, 'e', "1"}, {102, 1018, 'e', "1"}, {102, 1088, 'e', "1"}, {102, 1089, 'e', "1"}}},
      {true, true, false,
       {{103, 1056, 'e', "1"}, {103, 1057, 'e', "1"}, {102, 1085, 'e', "0"}, {102, 1033, 'e', "0"},
        {102, 1086, 'e', "0"}, {102, 1087, 'e', "0"}, {102, 1018, 'e', "0"}, {102, 1088, 'e', "1"}}},
      {true, true, true, {{102, 1087, 'e', "0"}, {102, 1018, 'e', "1"}, {102, 1089, 'e', "1"}}},
      {false, false, false,
       {{102, 1085, 'e', "0"}, {102, 1033, 'e', "0"}, {102, 1086, 'e', "0"}, {102, 1087, 'e', "0"},
        {102, 1018, 'e', "0"}, {102, 1088, 'e', "0"}, {102, 1089, 'e', "0"}}},
  };
  for (const row& r : rows) {
    setdefaults();
    tick(pagemain, 1033);  // the file-length radio: two passes go back to the average
    movieinfovalid = r.source;
    tick(pagesettings1, 1055, r.cq);
    tick(pagesettings1, 1057, r.vbv);
    setfilelabels();
    for (const want& w : r.wants)
      EXPECT_EQ(property(w), w.value) << w.page << ":" << w.id << " " << w.what << ", source " << r.source
                                      << ", cq " << r.cq << ", vbv " << r.vbv;
  }
}

// The chapter and zone lists rebuilt from the tables, sorted; empty tables empty them.
TEST_F(controls, thechapterandzonelists) {
  start("");
  auto lines = [this](int page, int id) {
    std::vector<std::string> v;
    for (int i = 1; i <= dlggetint(dlg(page), id, ixcount); i++) v.push_back(trimright(dlggettext(dlg(page), id, 40, i)));
    return v;
  };
  chaptertable.count = 3;
  chaptertable.frames[1] = 300, chaptertable.frames[2] = 10, chaptertable.frames[3] = 20;
  zonetable.count = 2;
  zonetable.frames[1] = 1500, zonetable.factors[1] = 0.5f;
  zonetable.frames[2] = 10, zonetable.factors[2] = 1.5f;
  dlgputint(dlg(pagechapters), 1061, 7);
  setfilelabels();
  EXPECT_EQ(lines(pagechapters, 1094), (std::vector<std::string>{"      10", "      20", "     300"}));
  EXPECT_EQ(dlggetint(dlg(pagechapters), 1094, ixstate), 1);
  EXPECT_EQ(lines(pagezones, 1117), (std::vector<std::string>{"      10 | 1.5", "    1500 | 0.5"}));
  EXPECT_EQ(zonetable.factors[1], 1.5f);
  EXPECT_EQ(dlggetint(dlg(pagechapters), 1061), 0);
  chaptertable.count = 0;
  zonetable.count = 0;
  setfilelabels();
  EXPECT_TRUE(lines(pagechapters, 1094).empty());
  EXPECT_TRUE(lines(pagezones, 1117).empty());
}
