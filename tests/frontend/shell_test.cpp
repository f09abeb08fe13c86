// The front end's shell driven through the layer's driver: the start-up chain and its status
// line, the tab control and its pages, the refusals during a scan and the scan's cooperative
// stop.
#include <atomic>
#include <chrono>
#include <thread>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "frontend/window/guimain.h"
#include "platform/queue.h"
#include "tests/frontend/fixture.h"

namespace {
using front = frontfixture;

// A stand-in for the scan thread: counts frames until it is asked to stop.
struct fakescan {
  std::atomic<int> frames{0};
  std::atomic<bool> ended{false};
  void start() {
    startscan([this] {
      while (!scanstopping()) {
        frames++;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ended = true;
    });
    while (frames == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
};

bool hasquit(int& code) {
  for (message m; peekmsg(m);)
    if (m.kind == msgquit) {
      code = m.code;
      return true;
    }
  return false;
}

const int chaptercontrols[] = {1015, 1011, 1012, 1016, 1014, 1013, 1037, 1038, 1029,
                               1030, 2010, 1036, 1097, 2008, 2009, 1061, 1094};
const int zonecontrols[] = {1017, 1114, 1115, 1116, 1015, 1011, 1012, 1016, 1014, 1013, 1036, 1061};
}  // namespace

// The status line after start-up, for a KJ.ini naming a script that opens, one naming a file
// that is not there, one naming a script with an error, and none at all. Every text the chain
// shows is printed headless in order; the last one stays.
TEST_F(front, startuplinereadsasthechainleavesit) {
  struct row {
    const char* kjini;  // %s: the script's path
    const char* script;
    const char* line;
  };
  const row rows[] = {
      // 176x144 at 25 frames a second is no DVD size: the DVD check warns.
      {"*INFILE %s\n", smallclip,
       " KJ.ini successfully processed, Avisynth.dll loaded, Avisynth successfully initialized, WARNING, "
       "resolution/frame\nrate mismatch"},
      {"*INFILE %s.missing\n*OUTFILE out.m2v\n", smallclip, " KJ.ini successfully processed, WARNING, input file not found"},
      {"*INFILE %s\n", "TestPattern(length=)\n",
       " error loading Avisynth script, Script error: expected a value but found \")\" (clip.avs, line 1)"},
      {"*INFILE %s\n", "BlankClip(pixel_type=\"RGB32\")\n", " no YV12 color space, add ConvertToYV12() to script"},
      {"", smallclip, " KJ.ini not found, using default GUI settings"},
  };
  for (const row& r : rows) {
    if (&r != rows) again();
    std::string clip = script("clip.avs", r.script);
    std::string ini = r.kjini;
    if (size_t k = ini.find("%s"); k != std::string::npos) ini.replace(k, 2, clip);
    start(ini);
    EXPECT_EQ(statustext, r.line) << ini;
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(printed.back(), r.line);
  }
}

TEST_F(front, avalidscriptgivesthemodelitssource) {
  std::string clip = script("clip.avs", smallclip);
  start("*INFILE           " + clip + "\r\n*LOGFILE  run.log\n");
  EXPECT_TRUE(movieinfovalid);
  EXPECT_TRUE(avsinput);
  EXPECT_TRUE(iniseen[keyinfile]);
  EXPECT_TRUE(iniseen[keylogfile]);
  EXPECT_FALSE(iniseen[keyoutfile]);
  EXPECT_EQ(inputpath, clip);
  EXPECT_EQ(logpath, "run.log");
  EXPECT_EQ(guisettings.sourceframes, 30);
  EXPECT_FLOAT_EQ(guisettings.sourcefps, 25.0f);
  EXPECT_EQ(guisettings.startframe, 0);
  EXPECT_EQ(guisettings.endframe, 29);
  EXPECT_EQ(guisettings.framespan, 30);  // frames to encode, as the encoder counts them
  EXPECT_EQ(previewstate.width, 176);
  EXPECT_EQ(previewstate.height, 144);
  EXPECT_EQ(progdir, dir);
  EXPECT_EQ(inifilepath, dir + "KJ.ini");
  EXPECT_EQ(decoderdir, dir + "DGDecode/");
  EXPECT_EQ(matrixdir, dir + "matrix/");
  EXPECT_EQ(encoderpath, dir + "ostrel");
}

TEST_F(front, thetabcontrolholdsthesixpages) {
  start("");
  dialogrecord& m = dlg(dlgmain);
  const char* captions[] = {"Main", "Settings 1", "Settings 2", "Matrix", "Preview/Chapters", "Preview/Zones"};
  EXPECT_EQ(dlggetint(m, tabcontrol, ixcount), 6);
  for (int n = 1; n <= 6; n++) {
    EXPECT_EQ(trimright(dlggettext(m, tabcontrol, 40, n)), captions[n - 1]);
    EXPECT_EQ(dlggetint(m, tabcontrol, n), 101 + n);
  }
  EXPECT_EQ(dlggetint(m, tabcontrol, ixstate), 1);
  EXPECT_TRUE(dlgvisible(m));
  for (int id : {1011, 1012, 1013}) EXPECT_NE(text(dlgmain, id), "");
  // Each tab is chosen by the user; the Main page clears the status line.
  for (int n : {2, 3, 4, 5, 6, 1}) {
    userselect(m, tabcontrol, n);
    EXPECT_EQ(dlggetint(m, tabcontrol, ixstate), n);
  }
  EXPECT_EQ(text(dlgmain, statuscontrol), "");
}

TEST_F(front, previewpagesnavigationneedsasource) {
  for (bool source : {false, true}) {
    if (source) again();
    start(source ? "*INFILE " + script("clip.avs", smallclip) + "\n" : "");
    dialogrecord& m = dlg(dlgmain);
    userselect(m, tabcontrol, 5);
    for (int id : chaptercontrols) EXPECT_EQ(dlggetflag(dlg(pagechapters), id, ixenabled), source) << id;
    userselect(m, tabcontrol, 6);
    for (int id : zonecontrols) EXPECT_EQ(dlggetflag(dlg(pagezones), id, ixenabled), source) << id;
    if (source) {
      EXPECT_EQ(text(pagechapters, 1036), "0");
      EXPECT_EQ(text(pagezones, 1036), "0");
    }
  }
}

TEST_F(front, chapterandzonelistsarerebuiltwhentheirpageischosen) {
  start("*INFILE " + script("clip.avs", smallclip) + "\n");
  chaptertable.count = 3;
  chaptertable.frames[1] = 10, chaptertable.frames[2] = 30, chaptertable.frames[3] = 1500;
  zonetable.count = 1;
  zonetable.frames[1] = 7;
  dlglistadd(dlg(pagezones), 1117, "stale");
  userselect(dlg(dlgmain), tabcontrol, 5);
  dialogrecord& c = dlg(pagechapters);
  ASSERT_EQ(dlggetint(c, 1094, ixcount), 3);
  EXPECT_EQ(dlggettext(c, 1094, 8, 1), "      10");
  EXPECT_EQ(dlggettext(c, 1094, 8, 3), "    1500");
  userselect(dlg(dlgmain), tabcontrol, 6);
  ASSERT_EQ(dlggetint(dlg(pagezones), 1117, ixcount), 1);
  EXPECT_EQ(dlggettext(dlg(pagezones), 1117, 8, 1), "       7");
  // An empty table empties its list.
  chaptertable.count = 0;
  userselect(dlg(dlgmain), tabcontrol, 5);
  EXPECT_EQ(dlggetint(c, 1094, ixcount), 0);
}

// The Matrix page: a luminance gain above 0 switches the adaptive matrix off; 0 lets the user
// have it, keeping its tick. The gain edit's lose-focus callback runs before the gain is read.
TEST_F(front, matrixpagefollowstheluminancegain) {
  start("");
  dialogrecord& m = dlg(dlgmain);
  dialogrecord& s2 = dlg(pagesettings2);
  dialogrecord& mx = dlg(pagematrix);
  for (const char* gain : {"1", "4"}) {
    dlgputflag(mx, 1025, true);
    dlgputtext(s2, 1056, gain);
    userselect(m, tabcontrol, 4);
    EXPECT_FALSE(dlggetflag(mx, 1025, ixenabled)) << gain;
    EXPECT_FALSE(dlggetflag(mx, 1025)) << gain;
    EXPECT_EQ(statustext, " luminance gain active, adaptive matrix disabled");
  }
  dlgputtext(s2, 1056, "0");
  dlgputflag(mx, 1025, true);
  userselect(m, tabcontrol, 4);
  EXPECT_TRUE(dlggetflag(mx, 1025, ixenabled));
  EXPECT_TRUE(dlggetflag(mx, 1025));
  EXPECT_EQ(text(dlgmain, statuscontrol), "");

  static dialogrecord* page;
  page = &s2;
  dlgonevent(s2, 1056, [](dialogrecord&, int, int) { dlgputtext(*page, 1056, "3"); }, evlosefocus);
  userselect(m, tabcontrol, 3);
  userfocus(s2, 1056, true);
  userselect(m, tabcontrol, 4);
  EXPECT_FALSE(dlgfocus(s2, 1056));
  EXPECT_EQ(text(pagesettings2, 1056), "3");
  EXPECT_FALSE(dlggetflag(mx, 1025, ixenabled));
}

TEST_F(front, atabchangeduringascanisrefused) {
  start("*INFILE " + script("clip.avs", smallclip) + "\n");
  dialogrecord& m = dlg(dlgmain);
  userselect(m, tabcontrol, 5);
  fakescan scan;
  scan.start();
  for (int n : {1, 4, 6}) {
    userselect(m, tabcontrol, n);
    EXPECT_EQ(dlggetint(m, tabcontrol, ixstate), 5);
    EXPECT_EQ(statustext, " can't change tab while scene change detection scan is running");
  }
  stopscan();
  EXPECT_TRUE(scan.ended);
  userselect(m, tabcontrol, 1);
  EXPECT_EQ(dlggetint(m, tabcontrol, ixstate), 1);
}

// Every way out during a scan asks the scan to stop and waits for its thread: the exit button,
// the close request through the loop and the main dialog's destruction. The program ends with
// code 0.
TEST_F(front, leavingduringascanstopsthescancooperatively) {
  for (int way = 0; way < 3; way++) {
    if (way > 0) again();
    start("");
    fakescan scan;
    scan.start();
    int code = -1;
    switch (way) {
      case 0:
        userclick(dlg(dlgmain), 1013);
        EXPECT_TRUE(hasquit(code));
        break;
      case 1:
        postclose();
        code = guiloop();
        break;
      case 2:
        guiend();
        started = false;
        EXPECT_TRUE(hasquit(code));
        break;
    }
    EXPECT_TRUE(scan.ended) << way;
    EXPECT_FALSE(scanrunning);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(statustext, " aborting scene change detection scan...");
  }
}

TEST_F(front, theexitbuttonwithoutascanquitsatonce) {
  start("");
  userclick(dlg(dlgmain), 1013);
  int code = -1;
  EXPECT_TRUE(hasquit(code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(statustext, " KJ.ini not found, using default GUI settings");
}

// The defaults of the pages as the start-up leaves them, without a source and with one: the
// ticks of every group, the texts, the ranges and the enabling.
TEST_F(front, startupleavesthepagesattheirdefaults) {
  for (bool source : {false, true}) {
    if (source) again();
    start(source ? "*INFILE " + script("clip.avs", smallclip) + "\n" : "");
    struct tickrow {
      int page, id;
      bool ticked;
    };
    const tickrow ticks[] = {{102, 1085, true},  {102, 1033, false}, {102, 1079, true},  {102, 1083, true},
                             {102, 1047, true},  {102, 1040, true},  {102, 1077, true},  {102, 1090, false},
                             {102, 1041, false}, {102, 1044, false}, {103, 1093, true},  {103, 1019, true},
                             {103, 1055, false}, {103, 1057, false}, {104, 1022, true},  {104, 1021, true},
                             {104, 2023, false}, {104, 1018, false}, {104, 2021, false}, {104, 2022, false},
                             {104, 1039, false}, {104, 1050, true},  {105, 1025, false}, {105, 1010, true}};
    for (const tickrow& t : ticks) EXPECT_EQ(dlggetflag(dlg(t.page), t.id), t.ticked) << t.page << ":" << t.id;
    struct textrow {
      int page, id;
      const char* text;
    };
    const textrow texts[] = {{102, 1087, "4000"}, {102, 1018, "8000"}, {102, 1113, "15"},  {103, 1056, "5.000"},
                             {103, 1038, "1.00"}, {103, 1037, "1.00"}, {103, 1045, "15"},  {103, 1544, "2"},
                             {104, 1035, "0"},    {104, 1017, "5"},    {104, 1031, "0"},   {104, 1034, "0"},
                             {104, 1036, "0"},    {104, 1045, "0"},    {104, 1056, "0"},   {105, 1054, "MPEG"},
                             {107, 1017, "1.0"}};
    for (const textrow& t : texts) EXPECT_EQ(text(t.page, t.id), t.text) << t.page << ":" << t.id;
    struct rangerow {
      int page, id, lo, hi, pos;
    };
    const rangerow ranges[] = {{102, 1112, 12, 18, 15}, {103, 1109, 1, 32, 9},  {103, 1110, 1, 32, 9},
                               {103, 1023, 1, 36, 15},  {103, 1024, 0, 2, 2},   {104, 1012, 0, 4, 0},
                               {106, 1061, 0, 1000, 0}, {107, 1061, 0, 1000, 0}};
    for (const rangerow& r : ranges) {
      dialogrecord& p = dlg(r.page);
      EXPECT_EQ(dlggetint(p, r.id, ixmin), r.lo) << r.page << ":" << r.id;
      EXPECT_EQ(dlggetint(p, r.id, ixmax), r.hi) << r.page << ":" << r.id;
      EXPECT_EQ(dlggetint(p, r.id), r.pos) << r.page << ":" << r.id;
    }
    struct enablerow {
      int page, id;
      bool enabled;
    };
    const enablerow enabled[] = {{101, 1012, false}, {102, 1008, true},  {102, 1086, false}, {103, 1092, false},
                                 {103, 1093, false}, {103, 1056, false}, {103, 1109, false}, {103, 1045, false},
                                 {104, 1011, false}, {104, 2021, true},  {105, 1054, true},  {105, 1102, false},
                                 {105, 1201, false}, {105, 1202, false}, {105, 1364, false}};
    for (const enablerow& e : enabled)
      EXPECT_EQ(dlggetflag(dlg(e.page), e.id, ixenabled), e.enabled) << e.page << ":" << e.id;
    // The defaults are put before KJ.ini is read, when no source is open and no input named;
    // the file labels then enable the bitrate controls for a source and the output and log
    // buttons for an input.
    for (int id : {1085, 1033, 1087, 1018, 1029, 1030}) EXPECT_EQ(dlggetflag(dlg(pagemain), id, ixenabled), source) << id;
    EXPECT_EQ(text(pagemain, 1029), "output file name (not set)");
    EXPECT_EQ(text(pagemain, 1030), "log file name (not set)");
  }
}
