// The front end's dialog templates: every control the pages' routines address, with its kind
// and caption; the layout rules (inside the page, inside its group box, no overlaps); the radio
// groups; the Matrix page's grids where the resource puts them.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "resources/frontend.h"

namespace {
const dlgtemplate& tmpl(int id) {
  for (int i = 0; i < frontresourcecount; i++)
    if (frontresources[i]->id == id) return *frontresources[i];
  throw std::runtime_error("no template " + std::to_string(id));
}
const dlgitem* item(const dlgtemplate& t, int id) {
  for (int i = 0; i < t.count; i++)
    if (t.items[i].id == id) return &t.items[i];
  return nullptr;
}
bool gridcell(int id) { return (id >= 1201 && id <= 1264) || (id >= 1301 && id <= 1364); }

struct control {
  int page, id, kind;
  const char* caption;  // null: not checked
};
// Every control the pages' routines address, as their texts name them.
const control controls[] = {
    {101, 1006, ctltab, ""}, {101, 1011, ctlpush, "about KJ"}, {101, 1012, ctlpush, "encode"},
    {101, 1013, ctlpush, "exit"}, {101, 1076, ctlstatic, ""},
    {102, 1008, ctlpush, "input file name (*.d2v, *.avs)"}, {102, 1029, ctlpush, "output file name (not set)"},
    {102, 1030, ctlpush, "log file name (not set)"}, {102, 1009, ctlpush, "load ini file"},
    {102, 1010, ctlpush, "save ini file"}, {102, 1012, ctlpush, "load KJ.ini"}, {102, 1013, ctlpush, "save KJ.ini"},
    {102, 1011, ctlpush, "reset GUI to default"}, {102, 1091, ctlpush, "make DVD compliant"},
    {102, 1092, ctlpush, "Ostrel info"}, {102, 1093, ctlpush, "Avisynth info"}, {102, 1094, ctlpush, "DGDecode info"},
    {102, 1111, ctlpush, "all frames"}, {102, 1085, ctlradio, "average bitrate"}, {102, 1033, ctlradio, "file length"},
    {102, 1086, ctledit, nullptr}, {102, 1087, ctledit, nullptr}, {102, 1018, ctledit, nullptr},
    {102, 1088, ctledit, nullptr}, {102, 1089, ctledit, nullptr}, {102, 1040, ctlcheck, "scene change"},
    {102, 1077, ctlcheck, "autogop"}, {102, 1113, ctledit, nullptr}, {102, 1112, ctlupdown, nullptr},
    {102, 1090, ctlcheck, "closed gops"}, {102, 1041, ctlcheck, "interlaced"}, {102, 1044, ctlcheck, "3:2 pulldown"},
    {102, 1078, ctlradio, "Fast"}, {102, 1079, ctlradio, "Normal"}, {102, 1080, ctlradio, "Best"},
    {102, 1081, ctlradio, "1:1"}, {102, 1082, ctlradio, "4:3"}, {102, 1083, ctlradio, "16:9"},
    {102, 1084, ctlradio, "2.21:1"}, {102, 1046, ctlradio, "8"}, {102, 1047, ctlradio, "9"},
    {102, 1048, ctlradio, "10"}, {102, 1049, ctlradio, "11"}, {102, 1099, ctlstatic, "-"},
    {102, 1101, ctlstatic, "-"}, {102, 1098, ctlstatic, "-"}, {102, 1102, ctlstatic, "-"}, {102, 1103, ctlstatic, "-"},
    {102, 1106, ctlstatic, "-"}, {102, 1104, ctlstatic, "-"}, {102, 1105, ctlstatic, "-"},
    {103, 1092, ctlradio, "TFF"}, {103, 1093, ctlradio, "BFF"}, {103, 1019, ctlradio, "zigzag"},
    {103, 1020, ctlradio, "alternate"}, {103, 1055, ctlcheck, "constant Quantization"},
    {103, 1057, ctlcheck, "check VBV/max bitrate"}, {103, 1056, ctledit, nullptr}, {103, 1038, ctledit, nullptr},
    {103, 1037, ctledit, nullptr}, {103, 1109, ctlupdown, nullptr}, {103, 1110, ctlupdown, nullptr},
    {103, 1045, ctledit, nullptr}, {103, 1544, ctledit, nullptr}, {103, 1023, ctlupdown, nullptr},
    {103, 1024, ctlupdown, nullptr}, {103, 1107, ctllist, nullptr},
    {104, 1050, ctlradio, "auto"}, {104, 1051, ctlradio, "MMX"}, {104, 1052, ctlradio, "SSE2"},
    {104, 1053, ctlradio, "SSE3"}, {104, 1010, ctlradio, "SSSE3"}, {104, 1011, ctlradio, "SSE4"},
    {104, 1012, ctltrack, nullptr}, {104, 1056, ctledit, nullptr}, {104, 1017, ctledit, nullptr},
    {104, 1018, ctlcheck, "last I-frame"}, {104, 1021, ctlcheck, "VBV check"},
    {104, 1022, ctlcheck, "write seq endcode"}, {104, 1031, ctledit, nullptr}, {104, 1032, ctledit, nullptr},
    {104, 1033, ctledit, nullptr}, {104, 1034, ctledit, nullptr}, {104, 1035, ctledit, nullptr},
    {104, 1036, ctledit, nullptr}, {104, 1044, ctledit, nullptr}, {104, 1045, ctledit, nullptr},
    {104, 1039, ctlcheck, "shutdown"}, {104, 2021, ctlcheck, "preview"},
    {104, 2022, ctlcheck, "silent (no encoder GUI)"}, {104, 2023, ctlcheck, "write scd file"},
    {104, 1107, ctllist, nullptr},
    {105, 1010, ctlradio, "built in matrix"}, {105, 1011, ctlradio, "custom matrix"}, {105, 1054, ctlcombo, nullptr},
    {105, 1025, ctlcheck, "adaptive matrix"}, {105, 1102, ctlpush, "load custom matrix"},
    {105, 1104, ctlpush, "save custom matrix (mtx)"}, {105, 1103, ctlpush, "save custom matrix (cqm)"},
    {106, 1036, ctledit, nullptr}, {106, 1094, ctllist, nullptr}, {106, 1029, ctlpush, "add"},
    {106, 1030, ctlpush, "remove"}, {106, 1097, ctlpush, "clear list"},
    {106, 1037, ctlpush, "set current as start frame"}, {106, 1038, ctlpush, "set current as end frame"},
    {106, 2010, ctlpush, "create SCD chapter list"}, {106, 2008, ctlpush, "import chapter list from file"},
    {106, 2009, ctlpush, "export chapter list to file"}, {106, 1061, ctltrack, nullptr},
    {106, previewbox, ctlpicture, nullptr},
    {107, 1036, ctledit, nullptr}, {107, 1017, ctledit, nullptr}, {107, 1117, ctllist, nullptr},
    {107, 1114, ctlpush, "set zone"}, {107, 1115, ctlpush, "remove zone"}, {107, 1116, ctlpush, "clear zone list"},
    {107, 1061, ctltrack, nullptr}, {107, previewbox, ctlpicture, nullptr},
};
}  // namespace

TEST(fronttemplates, everycontroltheroutinesaddresswithitskindandcaption) {
  for (const control& c : controls) {
    const dlgitem* it = item(tmpl(c.page), c.id);
    ASSERT_NE(it, nullptr) << c.page << ":" << c.id;
    EXPECT_EQ(it->kind, c.kind) << c.page << ":" << c.id;
    if (c.caption) {
      EXPECT_STREQ(it->text, c.caption) << c.page << ":" << c.id;
    }
  }
  // The navigation buttons of both preview pages.
  const std::map<int, const char*> nav = {{1015, ">"}, {1016, "<"}, {1011, ">>"}, {1014, "<<"}, {1012, ">>>"}, {1013, "<<<"}};
  for (int page : {106, 107})
    for (auto [id, caption] : nav) {
      const dlgitem* it = item(tmpl(page), id);
      ASSERT_NE(it, nullptr) << page << ":" << id;
      EXPECT_STREQ(it->text, caption);
    }
  // The current-frame edits are read-only, centred and take digits.
  for (int page : {106, 107})
    EXPECT_EQ(item(tmpl(page), 1036)->style, stylecentre | stylereadonly | styledigits);
  const dlgtemplate& m = tmpl(101);
  EXPECT_STREQ(m.caption, "  Ostrelfront 0.21");
  EXPECT_EQ(m.statusid, 1076);
}

TEST(fronttemplates, thematrixpageasitsresourcegivesit) {
  const dlgtemplate& t = tmpl(105);
  EXPECT_EQ(t.w, 417);
  EXPECT_EQ(t.h, 238);
  struct box {
    const char* caption;
    int x, y, w, h;
  };
  std::map<std::string, box> groups;
  for (int i = 0; i < t.count; i++)
    if (t.items[i].kind == ctlgroup) groups[t.items[i].text] = {t.items[i].text, t.items[i].x, t.items[i].y, t.items[i].w, t.items[i].h};
  const box want[] = {{"intra", 130, 58, 127, 118}, {"non-intra", 269, 58, 127, 118}, {"current matrix", 124, 47, 281, 132}};
  for (const box& b : want) {
    ASSERT_TRUE(groups.count(b.caption)) << b.caption;
    const box& g = groups[b.caption];
    EXPECT_EQ(std::vector<int>({g.x, g.y, g.w, g.h}), std::vector<int>({b.x, b.y, b.w, b.h})) << b.caption;
  }
  for (const char* g : {"matrix", "built in matrix", "custom matrix", "adaptive matrix (advanced)"})
    EXPECT_TRUE(groups.count(g)) << g;
  for (int r = 0; r < 8; r++)
    for (int c = 0; c < 8; c++)
      for (int base : {1201, 1301}) {
        const dlgitem* it = item(t, base + 8 * r + c);
        ASSERT_NE(it, nullptr);
        EXPECT_EQ(it->kind, ctledit);
        EXPECT_EQ(it->x, (base == 1201 ? 133 : 272) + 15 * c);
        EXPECT_EQ(it->y, 68 + 13 * r);
        EXPECT_EQ(it->w, 16);
        EXPECT_EQ(it->h, 14);
        EXPECT_EQ(it->style, stylecentre | styledigits | stylecell);
      }
  std::set<std::string> statics;
  for (int i = 0; i < t.count; i++)
    if (t.items[i].kind == ctlstatic) statics.insert(t.items[i].text);
  for (const char* s : {"Use one of the built in matrices", "or use your own custom matrix.", "Matrices shown below",
                        "will be used for encoding.", "Load/save your own matrices", "Supported formats:",
                        "- simple text file (mtx)", "- binary format (cqm)", "Write your own code to adapt matrices,",
                        "see the manual for more information how", "to create the DLL."})
    EXPECT_TRUE(statics.count(s)) << s;
  // The combo box's list, in the resource's order.
  dlgsetresources(frontresources, frontresourcecount);
  dialogrecord* d = nullptr;
  ASSERT_TRUE(dlgload(105, d));
  const char* names[] = {"MPEG", "TGN", "NOTCH", "TOLV1", "KJ", "KJLOW", "MIRDO1CD", "HVSGOOD",
                         "HVSBETTER", "HVSBEST", "ZELMAT6", "ZELMAT7", "KIV1", "KIV2", "KIV3", "MPEG STANDARD"};
  ASSERT_EQ(dlggetint(*d, 1054, ixcount), 16);
  for (int n = 1; n <= 16; n++) EXPECT_EQ(dlggettext(*d, 1054, 13, n), (names[n - 1] + std::string(13, ' ')).substr(0, 13));
  EXPECT_EQ(item(t, 1054)->style, styleeditable);
  dlgclose(d);
}

// Every page fits the tab control's display area (411 x 238 units) and the main dialog its
// own size; ids are unique; every control lies wholly inside the innermost group box that
// holds its top-left corner and below the box's caption; no two controls overlap but the
// Matrix page's grid cells, whose frames the resource lays one unit over each other.
TEST(fronttemplates, layoutcontrolsinsidetheirboxesandnooverlaps) {
  for (int i = 0; i < frontresourcecount; i++) {
    const dlgtemplate& t = *frontresources[i];
    int width = t.id == 101 ? t.w : 411, height = t.id == 101 ? t.h : 238;
    std::vector<const dlgitem*> groups, others;
    std::set<int> ids;
    for (int k = 0; k < t.count; k++) {
      const dlgitem& it = t.items[k];
      (it.kind == ctlgroup ? groups : others).push_back(&it);
      if (it.id != -1) {
        EXPECT_TRUE(ids.insert(it.id).second) << t.id << ": id twice " << it.id;
      }
      EXPECT_GE(it.x, 0);
      EXPECT_GE(it.y, 0);
      EXPECT_LE(it.x + it.w, width) << t.id << ":" << it.id << " " << it.text;
      // A combo box's height holds its dropped-down list.
      if (it.kind != ctlcombo) {
        EXPECT_LE(it.y + it.h, height) << t.id << ":" << it.id << " " << it.text;
      }
    }
    auto inside = [](const dlgitem& a, int x, int y) { return x >= a.x && y >= a.y && x < a.x + a.w && y < a.y + a.h; };
    auto innermost = [&](const dlgitem& c) {
      const dlgitem* best = nullptr;
      for (const dlgitem* g : groups)
        if (g != &c && inside(*g, c.x, c.y) && (!best || g->w * g->h < best->w * best->h)) best = g;
      return best;
    };
    for (const dlgitem* c : others) {
      const dlgitem* g = innermost(*c);
      if (!g) continue;
      EXPECT_LE(c->x + c->w, g->x + g->w) << t.id << ":" << c->id << " \"" << c->text << "\" leaves \"" << g->text << "\"";
      if (c->kind != ctlcombo) {
        EXPECT_LE(c->y + c->h, g->y + g->h) << t.id << ":" << c->id << " \"" << c->text << "\" leaves \"" << g->text << "\"";
      }
      EXPECT_GE(c->y, g->y + 8) << t.id << ":" << c->id << " \"" << c->text << "\"";
      EXPECT_GE(c->x, g->x + 3) << t.id << ":" << c->id << " \"" << c->text << "\"";
    }
    for (const dlgitem* g : groups) {
      const dlgitem* outer = innermost(*g);
      if (!outer) continue;
      EXPECT_LE(g->x + g->w, outer->x + outer->w) << t.id << " \"" << g->text << "\"";
      EXPECT_LE(g->y + g->h, outer->y + outer->h) << t.id << " \"" << g->text << "\"";
    }
    for (size_t a = 0; a < others.size(); a++)
      for (size_t b = a + 1; b < others.size(); b++) {
        const dlgitem &p = *others[a], &q = *others[b];
        if (gridcell(p.id) && gridcell(q.id)) continue;
        int ph = p.kind == ctlcombo ? 12 : p.h, qh = q.kind == ctlcombo ? 12 : q.h;
        bool overlap = p.x < q.x + q.w && q.x < p.x + p.w && p.y < q.y + qh && q.y < p.y + ph;
        EXPECT_FALSE(overlap) << t.id << ": " << p.id << " \"" << p.text << "\" and " << q.id << " \"" << q.text << "\"";
      }
    // Groups of one level do not overlap either.
    for (size_t a = 0; a < groups.size(); a++)
      for (size_t b = a + 1; b < groups.size(); b++) {
        const dlgitem &p = *groups[a], &q = *groups[b];
        bool overlap = p.x < q.x + q.w && q.x < p.x + p.w && p.y < q.y + q.h && q.y < p.y + p.h;
        bool nested = innermost(p) == &q || innermost(q) == &p;
        EXPECT_TRUE(!overlap || nested) << t.id << ": \"" << p.text << "\" and \"" << q.text << "\"";
      }
  }
}

// Ticking one radio button unticks exactly the others of its group; an up-down follows the
// edit it spins (the window's arrow keys in the edit spin it).
TEST(fronttemplates, radiogroupsandupdownbuddies) {
  const std::vector<std::pair<int, std::vector<int>>> groups = {
      {102, {1085, 1033}},       {102, {1078, 1079, 1080}}, {102, {1046, 1047, 1048, 1049}},
      {102, {1081, 1082, 1083, 1084}}, {103, {1092, 1093}},       {103, {1019, 1020}},
      {104, {1050, 1051, 1052, 1053, 1010, 1011}}, {105, {1010, 1011}}};
  dlgsetresources(frontresources, frontresourcecount);
  for (int page = 102; page <= 105; page++) {
    dialogrecord* d = nullptr;
    ASSERT_TRUE(dlgload(page, d));
    for (auto& [p, members] : groups) {
      if (p != page) continue;
      for (int id : members) dlgputflag(*d, id, false);
    }
    for (auto& [p, members] : groups) {
      if (p != page) continue;
      for (int on : members) {
        for (auto& [p2, others] : groups)
          if (p2 == page && &others != &members) dlgputflag(*d, others.front(), true);
        dlgputflag(*d, on, true);
        for (int id : members) EXPECT_EQ(dlggetflag(*d, id), id == on) << page << ": " << on << " " << id;
        for (auto& [p2, others] : groups)
          if (p2 == page && &others != &members) {
            EXPECT_TRUE(dlggetflag(*d, others.front())) << page << ": " << on;
          }
      }
    }
    dlgclose(d);
  }
  const std::vector<std::tuple<int, int, int>> buddies = {
      {102, 1113, 1112}, {103, 1038, 1109}, {103, 1037, 1110}, {103, 1045, 1023}, {103, 1544, 1024}};
  for (auto [page, edit, updown] : buddies) {
    const dlgtemplate& t = tmpl(page);
    const dlgitem* e = item(t, edit);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ((e + 1)->id, updown) << page << ":" << edit;
    EXPECT_EQ((e + 1)->x, e->x + e->w) << page << ":" << edit;  // right beside it
  }
}
