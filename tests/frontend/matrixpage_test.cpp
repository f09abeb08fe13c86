// The Matrix page through the layer's driver: the sixteen built-in pairs by name (the page's own
// numbering, the encoder's values and names), the custom pair and its grid cells with their
// normalisation, the switch between the two, names typed into the combo box, the adaptive box.
#include <gtest/gtest.h>

#include "common/fmtfield.h"
#include "common/matrices.h"
#include "common/texttime.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/pagetable.h"

namespace {
class matrixpage : public pagetable {
 protected:
  dialogrecord& page() { return dlg(pagematrix); }
  // The 128 cells' texts and enabled states against a pair; the DC cell always "8" and disabled.
  void expectcells(const int* intra, const int* nonintra, bool editable) {
    for (int i = 0; i < 64; i++) {
      EXPECT_EQ(text(pagematrix, 1201 + i), std::to_string(intra[i])) << "intra " << i;
      EXPECT_EQ(text(pagematrix, 1301 + i), std::to_string(nonintra[i])) << "non-intra " << i;
      EXPECT_EQ(dlggetflag(page(), 1201 + i, ixenabled), editable && i > 0) << "intra " << i;
      EXPECT_EQ(dlggetflag(page(), 1301 + i, ixenabled), editable) << "non-intra " << i;
    }
    EXPECT_EQ(text(pagematrix, 1201), "8");
  }
  void expectcells(const matrixpairrec& m, bool editable) { expectcells(m.intra, m.nonintra, editable); }
  void expectcells(const builtinpair& b) {
    int intra[64], nonintra[64];
    std::copy(std::begin(b.intra), std::end(b.intra), intra);
    std::copy(std::begin(b.nonintra), std::end(b.nonintra), nonintra);
    expectcells(intra, nonintra, false);
  }
  // The line the KJ.ini writer writes for the matrix.
  std::string matrixline() {
    std::vector<std::string> lines;
    std::string why;
    EXPECT_TRUE(inilines(lines, why)) << why;
    for (const std::string& l : lines)
      if (l.rfind("*MATRIX", 0) == 0 || l.rfind("*CUSTOMMATRIX", 0) == 0) return trimright(l);
    return "";
  }
};

// The combo box's items, the page's number of each and the encoder's name of the same pair.
const struct {
  const char* item;
  int index;
  const char* encodername;
} names[] = {{"MPEG", 1, "MPEG"},           {"TGN", 2, "TGN"},          {"NOTCH", 3, "NOTCH"},
             {"TOLV1", 5, "TOLV1"},         {"KJ", 4, "KJ"},            {"KJLOW", 12, "KJLOW"},
             {"MIRDO1CD", 6, "MIRDO1CD"},   {"HVSGOOD", 7, "HVSGOOD"},  {"HVSBETTER", 8, "HVSBETTER"},
             {"HVSBEST", 9, "HVSBEST"},     {"ZELMAT6", 10, "ZELMAT6"}, {"ZELMAT7", 11, "ZELMAT7"},
             {"KIV1", 13, "KIV1"},          {"KIV2", 14, "KIV2"},       {"KIV3", 15, "KIV3"},
             {"MPEG STANDARD", 16, "MPEGSTD"}};

const builtinpair& encoderpair(const char* name) {
  for (int k = 1; k <= builtinmatrices; k++)
    if (std::string(matrixname(k)) == name) return *builtinmatrix(k);
  ADD_FAILURE() << "no encoder pair " << name;
  return *builtinmatrix(1);
}
}  // namespace

// Each item picked from the combo box: its number, the encoder's pair of that name in the 128
// read-only cells, and the name the KJ.ini writer gives the encoder.
TEST_F(matrixpage, eachbuiltinpairshowsitsvalues) {
  begin(source::none);
  ASSERT_EQ(dlggetint(page(), 1054, ixcount), 16);
  for (int item = 1; item <= 16; item++) {
    const auto& n = names[item - 1];
    SCOPED_TRACE(n.item);
    userselect(page(), 1054, item);
    EXPECT_EQ(text(pagematrix, 1054), n.item);
    EXPECT_EQ(guisettings.matrixindex, n.index);
    expectcells(encoderpair(n.encodername));
    std::string lower = n.encodername;
    lowercase(lower);
    EXPECT_EQ(matrixline(), fmtlabel("*MATRIX", 18) + lower);
    EXPECT_EQ(status(), " (before)");
  }
}

// Names typed into the combo box's edit field: exact names (trailing blanks do not count) choose
// their pair at once; any other text, the wrong case too, chooses MPEG. Choosing "built in
// matrix" reads the text the same way.
TEST_F(matrixpage, namestypedintothecombobox) {
  const struct {
    const char* typed;
    int index;
  } rows[] = {{"TGN", 2}, {"KIV2   ", 14}, {"mpeg", 1}, {"Kj", 1}, {" KJ", 1}, {"xyz", 1}, {"", 1}, {"HVSBEST", 9}};
  begin(source::none);
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string("\"") + r.typed + "\"");
    guisettings.matrixindex = 7;
    usertype(page(), 1054, r.typed);
    EXPECT_EQ(guisettings.matrixindex, r.index);
    expectcells(*guimatrix(r.index));
    userclick(page(), 1011);
    dlgputtext(page(), 1054, r.typed);
    userclick(page(), 1010);
    EXPECT_EQ(guisettings.matrixindex, r.index);
    expectcells(*guimatrix(r.index));
  }
}

// The custom pair: chosen, it shows in the cells (editable but for the DC cell) with the file
// buttons; a built-in pair chosen again and the custom one after it shows the custom pair as last
// edited; a cell that loses the focus while a built-in pair is shown copies nothing.
TEST_F(matrixpage, thecustompairandbackagain) {
  begin(source::none);
  const matrixpairrec initial = initialcustommatrix();
  userclick(page(), 1011);
  EXPECT_EQ(guisettings.matrixindex, custommatrixindex);
  expectcells(initial, true);
  EXPECT_EQ(std::vector<int>(viewmatrix.intra, viewmatrix.intra + 64), std::vector<int>(initial.intra, initial.intra + 64));
  EXPECT_FALSE(dlggetflag(page(), 1054, ixenabled));
  for (int id : {1102, 1103, 1104}) EXPECT_TRUE(dlggetflag(page(), id, ixenabled)) << id;
  EXPECT_EQ(status(), " custom matrix activated, load/save your favorite matrix (mtx or cqm format) or create your own "
                      "matrix");
  EXPECT_EQ(matrixline(), "*CUSTOMMATRIX");

  perform(enteron(pagematrix, 1210, "50"));
  perform(enteron(pagematrix, 1364, "99"));
  matrixpairrec edited = initial;
  edited.intra[9] = 50;
  edited.nonintra[63] = 99;
  userclick(page(), 1010);
  EXPECT_EQ(status(), " built in matrix activated, just pick one of the matrices in the combo box");
  EXPECT_EQ(guisettings.matrixindex, 1);
  expectcells(*guimatrix(1));
  EXPECT_TRUE(dlggetflag(page(), 1054, ixenabled));
  for (int id : {1102, 1103, 1104}) EXPECT_FALSE(dlggetflag(page(), id, ixenabled)) << id;
  userselect(page(), 1054, 2);
  expectcells(*guimatrix(2));
  // A late focus change on a cell (the built-in pair shows in the cells now).
  dlguserevent(page(), 1210, evlosefocus);
  userclick(page(), 1011);
  expectcells(edited, true);
  EXPECT_TRUE(std::equal(custommatrix.intra, custommatrix.intra + 64, edited.intra));
  EXPECT_TRUE(std::equal(custommatrix.nonintra, custommatrix.nonintra + 64, edited.nonintra));
}

// What a cell takes when it loses the focus: a blank cell is 16, values within 1..255, only the
// first three characters read. Every cell of the pair is read back and shown again; the intra DC
// cell never changes.
TEST_F(matrixpage, cellnormalisation) {
  const struct {
    int cell;
    const char* typed;
    const char* shown;
  } rows[] = {{1202, "", "16"},   {1202, "0", "1"},     {1202, "999", "255"}, {1202, "1234", "123"},
              {1264, "7", "7"},   {1301, "0", "1"},     {1301, "", "16"},     {1340, "256", "255"},
              {1333, "255", "255"}, {1333, "1", "1"},   {1250, "00042", "1"}};
  begin(source::none);
  userclick(page(), 1011);
  for (const auto& r : rows) {
    SCOPED_TRACE(std::to_string(r.cell) + " \"" + r.typed + "\"");
    matrixpairrec before = custommatrix;
    showinfo(" something", false);
    perform(enteron(pagematrix, r.cell, r.typed));
    EXPECT_EQ(text(pagematrix, r.cell), r.shown);
    // That entry changed, no other.
    int* entry = r.cell < 1301 ? &before.intra[r.cell - 1201] : &before.nonintra[r.cell - 1301];
    *entry = std::stoi(r.shown);
    EXPECT_TRUE(std::equal(custommatrix.intra, custommatrix.intra + 64, before.intra));
    EXPECT_TRUE(std::equal(custommatrix.nonintra, custommatrix.nonintra + 64, before.nonintra));
    EXPECT_EQ(status(), "");
  }
  // The DC cell: disabled, so typing does nothing; a text a program put there is not read.
  usertype(page(), 1201, "99");
  EXPECT_EQ(text(pagematrix, 1201), "8");
  dlgputtext(page(), 1201, "99");
  perform(enteron(pagematrix, 1202, "20"));
  EXPECT_EQ(custommatrix.intra[0], 8);
}

// A custom pair loaded with values outside 1..255 and an intra DC other than 8 is brought into
// range in both halves as soon as it is shown: the cells show the pair the encoder is given.
TEST_F(matrixpage, acustompairoutofrangeisclampedwhenshown) {
  begin(source::none);
  custommatrix.intra[0] = 20;
  custommatrix.intra[5] = 0;
  custommatrix.intra[6] = 300;
  custommatrix.nonintra[0] = -4;
  custommatrix.nonintra[63] = 999;
  userclick(page(), 1011);
  EXPECT_EQ(custommatrix.intra[0], 8);
  EXPECT_EQ(custommatrix.intra[5], 1);
  EXPECT_EQ(custommatrix.intra[6], 255);
  EXPECT_EQ(custommatrix.nonintra[0], 1);
  EXPECT_EQ(custommatrix.nonintra[63], 255);
  expectcells(custommatrix, true);
}

TEST_F(matrixpage, theadaptivematrixbox) {
  run({
      {"on", source::none, {clickon(pagematrix, 1025)}, {tickof(pagematrix, 1025, true)},
       " adaptive matrix turned on, matrix.dll should be present"},
      {"off", source::none, {clickon(pagematrix, 1025), clickon(pagematrix, 1025)}, {tickof(pagematrix, 1025, false)},
       " adaptive matrix turned off"},
  });
}
