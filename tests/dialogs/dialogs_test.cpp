// The dialog layer: the template of dialog 101, puts and gets, the test driver, events, the
// headless status lines and puts from many threads.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "platform/msgbox.h"
#include "platform/queue.h"
#include "platform/statusout.h"
#include "resources/encoder.h"

namespace {
struct eventlog {
  std::vector<std::pair<int, int>> seen;  // (id, event)
};
eventlog* current = nullptr;
void record(dialogrecord&, int id, int event) { current->seen.push_back({id, event}); }

struct layer : ::testing::Test {
  dialogrecord* dlg = nullptr;
  eventlog log;
  std::vector<std::string> lines;
  void SetUp() override {
    current = &log;
    dlgsetresources(encoderresources, encoderresourcecount);
    ASSERT_TRUE(dlgload(101, dlg));
    dlgsetheadlessout([this](const std::string& s) { lines.push_back(s); });
    dlgdirectevents(true);
    clearqueue();
  }
  void TearDown() override {
    dlgclose(dlg);
    dlgsetheadlessout(nullptr);
    dlgdirectevents(false);
    current = nullptr;
  }
};
}  // namespace

TEST(template101, captionsizegroupboxesandthecontrolsthewindowuses) {
  const dlgtemplate& t = encoderdialog101;
  EXPECT_STREQ(t.caption, "  Ostrel 0.21");
  EXPECT_EQ(t.x, 40);
  EXPECT_EQ(t.y, 40);
  EXPECT_EQ(t.w, 377);
  EXPECT_EQ(t.h, 276);
  EXPECT_EQ(t.style, stylecaption | stylesysmenu | styleminimize);
  EXPECT_EQ(t.statusid, 1053);
  struct box { const char* text; int id, x, y, w, h; };
  const box boxes[] = {{"files", -1, 7, 101, 366, 37},      {"encoder settings", -1, 197, 2, 176, 82},
                       {"", 1018, 7, 141, 219, 114},         {"preview", -1, 230, 239, 57, 34},
                       {"frames", -1, 12, 152, 66, 57},      {"CPU time", -1, 81, 152, 66, 71},
                       {"bitrate", -1, 151, 152, 70, 57},    {"VB Verifier", -1, 151, 213, 70, 36},
                       {"arguments passed", -1, 7, 2, 184, 82}, {"fps", -1, 12, 213, 66, 36},
                       {"GOP", -1, 81, 226, 66, 23}};
  std::vector<const dlgitem*> groups;
  std::set<int> ids;
  for (int i = 0; i < t.count; i++) {
    const dlgitem& it = t.items[i];
    if (it.kind == ctlgroup) groups.push_back(&it);
    if (it.id != -1) {
      EXPECT_TRUE(ids.insert(it.id).second) << "id twice: " << it.id;
    }
    EXPECT_LE(it.x + it.w, t.w) << it.id << " " << it.text;
    EXPECT_LE(it.y + it.h, t.h) << it.id << " " << it.text;
  }
  ASSERT_EQ(groups.size(), std::size(boxes));
  for (size_t i = 0; i < groups.size(); i++) {
    EXPECT_STREQ(groups[i]->text, boxes[i].text);
    EXPECT_EQ(groups[i]->id, boxes[i].id);
    EXPECT_EQ(groups[i]->x, boxes[i].x);
    EXPECT_EQ(groups[i]->y, boxes[i].y);
    EXPECT_EQ(groups[i]->w, boxes[i].w);
    EXPECT_EQ(groups[i]->h, boxes[i].h);
  }
  struct ctl { int id, kind; const char* text; };
  const ctl ctls[] = {{30002, ctlpush, "suspend"}, {30001, ctlpush, "exit"}, {30003, ctlpush, "about  KJ"},
                      {1073, ctlcheck, "shutdown"}, {1075, ctlcheck, "show buffer"}, {1006, ctlradio, "off"},
                      {1007, ctlradio, "on"},       {1009, ctledit, ""},        {1010, ctlupdown, "Spin1"},
                      {1053, ctlstatic, ""},        {1008, ctlprogress, "Progress1"}, {1074, ctlprogress, ""},
                      {1011, ctlstatic, ""},        {1012, ctlstatic, ""}};
  std::map<int, const dlgitem*> byid;
  for (int i = 0; i < t.count; i++) byid[t.items[i].id] = &t.items[i];
  for (const auto& c : ctls) {
    ASSERT_TRUE(byid.count(c.id)) << c.id;
    EXPECT_EQ(byid[c.id]->kind, c.kind) << c.id;
    EXPECT_STREQ(byid[c.id]->text, c.text) << c.id;
  }
  // Every value static of the settings, the marks and the statistics.
  for (int id = 1011; id <= 1080; id++) {
    if (id == 1018 || id == 1022 || (id >= 1024 && id <= 1026) || id == 1051 || id == 1054) continue;
    EXPECT_TRUE(byid.count(id)) << id;
  }
}

TEST_F(layer, checkboxgreyedkeepsitstickandignorestheuser) {
  dlgshow(*dlg, 1);
  dlgonevent(*dlg, 1073, record);
  dlgputflag(*dlg, 1073, true);
  dlgputflag(*dlg, 1073, false, ixenabled);
  EXPECT_TRUE(dlggetflag(*dlg, 1073));
  EXPECT_FALSE(dlggetflag(*dlg, 1073, ixenabled));
  userclick(*dlg, 1073);
  EXPECT_TRUE(dlggetflag(*dlg, 1073));
  EXPECT_TRUE(log.seen.empty());
  dlgputflag(*dlg, 1073, true, ixenabled);
  userclick(*dlg, 1073);
  EXPECT_FALSE(dlggetflag(*dlg, 1073));
  ASSERT_EQ(log.seen.size(), 1u);
  EXPECT_EQ(log.seen[0], std::make_pair(1073, (int)evclick));
}

TEST_F(layer, updownrangethenpositionwithinit) {
  dlgputint(*dlg, 1010, 1, ixmin);
  dlgputint(*dlg, 1010, 5, ixmax);
  EXPECT_EQ(dlggetint(*dlg, 1010, ixmin), 1);
  EXPECT_EQ(dlggetint(*dlg, 1010, ixmax), 5);
  const std::pair<int, int> cases[] = {{3, 3}, {9, 5}, {-4, 1}, {5, 5}, {1, 1}};
  for (auto [put, got] : cases) {
    dlgputint(*dlg, 1010, put);
    EXPECT_EQ(dlggetint(*dlg, 1010), got) << put;
    EXPECT_EQ(dlggetint(*dlg, 1010, ixpos), got) << put;
  }
  dlgonevent(*dlg, 1010, record);
  dlgputint(*dlg, 1010, 4);
  userspin(*dlg, 1010, +3);
  EXPECT_EQ(dlggetint(*dlg, 1010), 5);
  userspin(*dlg, 1010, -2);
  EXPECT_EQ(dlggetint(*dlg, 1010), 3);
  ASSERT_EQ(log.seen.size(), 2u);
  EXPECT_EQ(log.seen[1], std::make_pair(1010, (int)evchange));
}

TEST_F(layer, textsarepaddedandtrimmed) {
  EXPECT_EQ(dlggettext(*dlg, 1009), std::string(512, ' '));
  dlgputtext(*dlg, 1009, "12   ");
  EXPECT_EQ(dlggettext(*dlg, 1009, 4), "12  ");
  EXPECT_EQ(dlggettext(*dlg, 1009, 1), "1");
  EXPECT_EQ(dlggetint(*dlg, 1009), 12);
  dlgputint(*dlg, 1053, 42);
  EXPECT_EQ(dlggettext(*dlg, 1053, 3), "42 ");
  EXPECT_EQ(dlggettext(*dlg, 30002, 8), "suspend ");
}

TEST_F(layer, programmaticputsraisenoeventsthedriverdoes) {
  for (int id : {30002, 1073, 1006, 1007, 1009, 1010}) dlgonevent(*dlg, id, record);
  dlgonevent(*dlg, 1009, record, evgainfocus);
  dlgonevent(*dlg, 1009, record, evlosefocus);
  dlgonevent(*dlg, 1009, record, evupdate);
  dlgonevent(*dlg, 30001, record, -1);  // -1 is taken as a click
  dlgputtext(*dlg, 1009, "3");
  dlgputint(*dlg, 1010, 2);
  dlgputflag(*dlg, 1073, true);
  dlgputflag(*dlg, 1007, true);
  dlgputtext(*dlg, 30002, "resume");
  EXPECT_TRUE(log.seen.empty());
  userfocus(*dlg, 1009, true);
  usertype(*dlg, 1009, "abc");
  userfocus(*dlg, 1009, false);
  userclick(*dlg, 30002);
  userclick(*dlg, 30001);
  userselect(*dlg, 1009, 2);  // an edit has no selection: ignored
  const std::vector<std::pair<int, int>> want = {
      {1009, evgainfocus}, {1009, evupdate}, {1009, evchange}, {1009, evlosefocus},
      {30002, evclick},    {30001, evclick}};
  EXPECT_EQ(log.seen, want);
  EXPECT_EQ(dlggettext(*dlg, 1009, 3), "abc");
}

TEST_F(layer, radiobuttonsofagroupexcludeeachother) {
  dlgputflag(*dlg, 1006, true);
  userclick(*dlg, 1007);
  EXPECT_TRUE(dlggetflag(*dlg, 1007));
  EXPECT_FALSE(dlggetflag(*dlg, 1006));
  dlgputflag(*dlg, 1006, true);
  EXPECT_FALSE(dlggetflag(*dlg, 1007));
  EXPECT_EQ(dlggetint(*dlg, 1006), 1);
}

TEST_F(layer, queuedeventsrunwhentheloopdispatches) {
  dlgdirectevents(false);
  dlgonevent(*dlg, 30002, record);
  userclick(*dlg, 30002);
  userclose(*dlg);
  EXPECT_TRUE(log.seen.empty());
  message m;
  ASSERT_TRUE(peekmsg(m));
  EXPECT_EQ(m.kind, msgevent);
  EXPECT_TRUE(dlgdispatch(m));
  ASSERT_EQ(log.seen.size(), 1u);
  ASSERT_TRUE(peekmsg(m));
  EXPECT_EQ(m.kind, msgclose);
  EXPECT_FALSE(dlgdispatch(m));
}

TEST_F(layer, dialogcallbacksforcreateanddestroy) {
  dlgonevent(*dlg, 101, record);
  dlgonevent(*dlg, 101, record, evdestroy);
  dlgshow(*dlg, 0);
  dlgclose(dlg);
  EXPECT_EQ(dlg, nullptr);
  const std::vector<std::pair<int, int>> want = {{101, evinit}, {101, evdestroy}};
  EXPECT_EQ(log.seen, want);
}

TEST_F(layer, headlessprintsstatuschangesonlywhileshown) {
  dlgputtext(*dlg, 1053, " before the window exists");
  dlgshow(*dlg, 1);
  dlgputtext(*dlg, 1053, " ( 5) encoding finished...      ");
  dlgputtext(*dlg, 1012, "out.m2v");  // not the status control
  dlgputtext(*dlg, 1053, "");
  const std::vector<std::string> want = {" ( 5) encoding finished...", ""};
  EXPECT_EQ(lines, want);
  dialogrecord* hidden = nullptr;
  ASSERT_TRUE(dlgload(101, hidden));
  dlgshow(*hidden, 0);
  dlgputtext(*hidden, 1053, "never printed");
  dlgclose(hidden);
  EXPECT_EQ(lines, want);
}

// Without a test's sink the status control reaches the status output: the program's rule
// tells progress from messages, and a change of any control the rule reads redraws the
// progress (only when the line it gives changed).
TEST_F(layer, headlessoutputtellsprogressfrommessages) {
  std::string bytes;
  double t = 0;
  setstatusout(statuspipe, [&](const std::string& b) { bytes += b; }, [&] { return t += 10; });
  dlgsetheadlessout(nullptr);
  auto text = [](dialogrecord& d, int id) {
    std::string s = dlggettext(d, id, 64);
    return s.substr(0, s.find_last_not_of(' ') + 1);
  };
  dlgsetheadlessprogress([&](dialogrecord& d) {
    std::string s = text(d, 1053);
    return s.rfind(" pass ", 0) == 0 ? s + ", " + text(d, 1065) : std::string();
  });
  dlgshow(*dlg, 1);
  dlgputtext(*dlg, 1053, " input using arguments");
  dlgputtext(*dlg, 1065, "10%");
  dlgputtext(*dlg, 1053, " pass 1, picture 1");
  dlgputtext(*dlg, 1065, "50%");
  dlgputtext(*dlg, 1012, "out.m2v");
  dlgputtext(*dlg, 1053, " ( 5) encoding finished...");
  dlgputtext(*dlg, 1065, "100%");
  dlgsetheadlessprogress(nullptr);
  setstatusout(statusauto);
  EXPECT_EQ(bytes, " input using arguments\n pass 1, picture 1, 10%\n pass 1, picture 1, 50%\n"
                   " ( 5) encoding finished...\n");
}

TEST_F(layer, unknowncontrolsandthemissingtemplate) {
  dlgputtext(*dlg, 4711, "x");
  dlgputint(*dlg, 4711, 3);
  EXPECT_EQ(dlggetint(*dlg, 4711), 0);
  EXPECT_FALSE(dlggetflag(*dlg, 4711));
  EXPECT_EQ(dlggettext(*dlg, 4711, 4), "    ");
  dialogrecord* none = nullptr;
  EXPECT_FALSE(dlgload(999, none));
  EXPECT_EQ(none, nullptr);
}

namespace {
void throws(dialogrecord&, int, int) { throw std::runtime_error("disk full"); }
}  // namespace

TEST_F(layer, afailingcallbackisreportedinamessagebox) {
  std::string shown;
  setmsgboxhook([&](const std::string& t, const std::string&, int) {
    shown = t;
    return idok;
  });
  dlgonevent(*dlg, 30003, throws);
  userclick(*dlg, 30003);
  setmsgboxhook(nullptr);
  EXPECT_NE(shown.find("control 30003"), std::string::npos) << shown;
  EXPECT_NE(shown.find("disk full"), std::string::npos) << shown;
}

TEST(layerlists, itemscountselectionandtabpages) {
  static const dlgitem items[] = {{ctllist, 5, "", 0, 0, 10, 10},
                                  {ctlcombo, 6, "", 0, 0, 10, 10},
                                  {ctltab, 7, "", 0, 0, 10, 10}};
  static const dlgtemplate t = {900, "lists", 0, 0, 20, 20, 0, 0, items, 3};
  static const dlgtemplate* const list[] = {&t};
  dlgsetresources(list, 1);
  dialogrecord* d = nullptr;
  ASSERT_TRUE(dlgload(900, d));
  dlgdirectevents(true);
  dlgputtext(*d, 5, "one", 1);
  dlgputtext(*d, 5, "three", 3);
  EXPECT_EQ(dlggetint(*d, 5, ixcount), 3);
  EXPECT_EQ(dlggettext(*d, 5, 5, 2), "     ");
  EXPECT_EQ(dlggettext(*d, 5, 5, 3), "three");
  dlgputint(*d, 5, 1, ixcount);
  EXPECT_EQ(dlggetint(*d, 5, ixcount), 1);
  dlgputtext(*d, 6, "MPEG", 1);
  dlgputtext(*d, 6, "KJ", 2);
  userselect(*d, 6, 2);
  EXPECT_EQ(dlggetint(*d, 6), 2);
  EXPECT_EQ(dlggettext(*d, 6, 2), "KJ");
  dlgputint(*d, 7, 102, 1);
  dlgputint(*d, 7, 103, 2);
  dlgputtext(*d, 7, "Video", 1);
  EXPECT_EQ(dlggetint(*d, 7, 2), 103);
  EXPECT_EQ(dlggettext(*d, 7, 5, 1), "Video");
  dlgputint(*d, 7, 2, ixstate);
  EXPECT_EQ(dlggetint(*d, 7, ixstate), 2);
  dlgdirectevents(false);
  dlgclose(d);
}

// Workers write texts and positions while the window thread reads and dispatches.
TEST_F(layer, putsfrommanythreadsaresafe) {
  dlgshow(*dlg, 1);
  std::atomic<int> printed{0};
  dlgsetheadlessout([&](const std::string& s) {
    EXPECT_EQ(s.substr(0, 6), " line ");
    printed++;
  });
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; t++)
    ts.emplace_back([this, t] {
      for (int i = 0; i < 2000; i++) {
        dlgputtext(*dlg, 1053, " line " + std::to_string(t) + "-" + std::to_string(i));
        dlgputint(*dlg, 1008, i % 100);
        dlgputtext(*dlg, 1013, std::to_string(i));
      }
    });
  for (int i = 0; i < 4000; i++) {
    std::string s = dlggettext(*dlg, 1053, 20);
    EXPECT_EQ(s.size(), 20u);
    int v = dlggetint(*dlg, 1008);
    EXPECT_TRUE(v >= 0 && v <= 100);
  }
  for (auto& t : ts) t.join();
  EXPECT_EQ(printed.load(), 8000);
}
