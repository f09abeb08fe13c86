// The custom matrix pair in ".mtx" and ".cqm" files: the byte layouts, round trips of every
// value 1..255 in both formats, what the reader takes and refuses, failed writes, and the
// Matrix page's three buttons with scripted chooser answers.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/fmtfield.h"
#include "common/matrices.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"

namespace {
class matrixfiles : public frontfixture {
 protected:
  void SetUp() override {
    frontfixture::SetUp();
    start("");
  }
  // The custom pair chosen on the page, as the user does: its buttons are enabled then.
  void custom() { userclick(dlg(pagematrix), 1011); }
};

// A pair whose 128 entries run through the values from first on, 1..255 and round again.
matrixpairrec pairfrom(int first) {
  matrixpairrec m{};
  for (int i = 0; i < 64; i++) {
    m.intra[i] = 1 + (first - 1 + i) % 255;
    m.nonintra[i] = 1 + (first - 1 + 64 + i) % 255;
  }
  return m;
}

bool same(const matrixpairrec& a, const matrixpairrec& b) {
  return std::equal(a.intra, a.intra + 64, b.intra) && std::equal(a.nonintra, a.nonintra + 64, b.nonintra);
}

std::string cell(int v) { return fmtint(v, 4); }

// The 17 lines of a pair as the ".mtx" layout gives them.
std::string mtxof(const matrixpairrec& m) {
  std::string t;
  for (int r = 0; r < 8; r++) {
    for (int c = 0; c < 8; c++) t += cell(m.intra[8 * r + c]);
    t += "\n";
  }
  t += "\n";
  for (int r = 0; r < 8; r++) {
    for (int c = 0; c < 8; c++) t += cell(m.nonintra[8 * r + c]);
    t += "\n";
  }
  return t;
}

std::string cqmof(const matrixpairrec& m) {
  std::string b;
  for (int v : m.intra) b.push_back((char)v);
  for (int v : m.nonintra) b.push_back((char)v);
  return b;
}
}  // namespace

// The initial custom pair written both ways: 17 lines of eight 4-column numbers with an empty
// ninth line (the first line "   8  16  19  22  26  27  29  34"), and 128 bytes, intra first.
TEST_F(matrixfiles, thebytelayoutsofbothformats) {
  matrixpath = dir + "pair.mtx";
  ASSERT_TRUE(writemtx());
  const std::string mtx = readfile(dir + "pair.mtx");
  EXPECT_EQ(mtx, mtxof(initialcustommatrix()));
  EXPECT_EQ(mtx.substr(0, mtx.find('\n')), "   8  16  19  22  26  27  29  34");
  size_t lines = 0;
  for (char c : mtx) lines += c == '\n';
  EXPECT_EQ(lines, 17u);
  matrixpath = dir + "pair.cqm";
  ASSERT_TRUE(writecqm());
  const std::string cqm = readfile(dir + "pair.cqm");
  ASSERT_EQ(cqm.size(), 128u);
  const builtinpair* mpeg = builtinmatrix(1);
  for (int i = 0; i < 64; i++) {
    EXPECT_EQ((uint8_t)cqm[(size_t)i], mpeg->intra[i]) << i;
    EXPECT_EQ((uint8_t)cqm[(size_t)(64 + i)], 16) << i;
  }
  // A write over a longer file leaves exactly the record.
  writefile(dir + "long.cqm", std::string(300, 'x'));
  matrixpath = dir + "long.cqm";
  ASSERT_TRUE(writecqm());
  EXPECT_EQ(readfile(dir + "long.cqm"), cqm);
}

// Every value 1..255 at every position of a pair, written and read back in both formats.
TEST_F(matrixfiles, roundtripsofeveryvalueinbothformats) {
  for (const char* name : {"t.mtx", "t.cqm"}) {
    for (int first = 1; first <= 255; first += 2) {
      const matrixpairrec m = pairfrom(first);
      custommatrix = m;
      matrixpath = dir + name;
      ASSERT_TRUE(std::string(name) == "t.mtx" ? writemtx() : writecqm());
      EXPECT_EQ(readfile(dir + name), std::string(name) == "t.mtx" ? mtxof(m) : cqmof(m)) << name << " " << first;
      custommatrix = initialcustommatrix();
      bool ok = false;
      readmatrix(ok);
      ASSERT_TRUE(ok) << name << " " << first;
      EXPECT_TRUE(same(custommatrix, m)) << name << " " << first;
    }
  }
}

// What the reader takes: the format by the name's ending in any case (the path keeps its
// case), numbers in free format, the non-intra numbers from the line after the 64th intra one;
// a short or wrong file changes nothing and says why.
TEST_F(matrixfiles, whatthereadertakesandrefuses) {
  const matrixpairrec m = pairfrom(100);
  std::string sixteen, oneline, commas;
  for (int i = 0; i < 64; i++) {
    sixteen += cell(m.intra[i]) + (i % 8 == 7 ? "\n" : "");
    oneline += cell(m.intra[i]);
    commas += std::to_string(m.intra[i]) + (i % 5 == 4 ? ",\r\n" : ",\t");
  }
  std::string tail;
  for (int i = 0; i < 64; i++) {
    sixteen += cell(m.nonintra[i]) + (i % 8 == 7 ? "\n" : "");
    tail += cell(m.nonintra[i]);
  }
  const struct {
    const char* name;
    std::string content;
    bool ok;
    const char* status;
  } rows[] = {
      {"Pair.MTX", mtxof(m), true, " (before)"},
      {"nogap.mtx", sixteen, true, " (before)"},
      // Values spread over lines with commas and tabs; what follows the 64th value on its line
      // is not read.
      {"commas.mtx", commas + " 999 999\n" + tail + "\n", true, " (before)"},
      {"Pair.CQM", cqmof(m), true, " (before)"},
      {"longer.cqm", cqmof(m) + "more bytes", true, " (before)"},
      {"short.cqm", cqmof(m).substr(0, 127), false, "error reading matrix file"},
      // All 128 on one line: the second read starts on the next line and meets the end.
      {"oneline.mtx", oneline + tail + "\n", false, "error reading matrix file"},
      {"word.mtx", "8 16 x\n", false, "error reading matrix file"},
      {"few.mtx", mtxof(m).substr(0, 200), false, "error reading matrix file"},
      {"pair.txt", mtxof(m), false, "unknown format matrix file"},
      {"missing.mtx", "", false, "error opening matrix file"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    if (std::string(r.name) != "missing.mtx") writefile(dir + r.name, r.content);
    custommatrix = initialcustommatrix();
    showinfo(" (before)", false);
    matrixpath = dir + r.name;
    bool ok = !r.ok;
    readmatrix(ok);
    EXPECT_EQ(ok, r.ok);
    EXPECT_EQ(statustext, r.status);
    EXPECT_EQ(matrixpath, dir + r.name);
    EXPECT_TRUE(same(custommatrix, r.ok ? m : initialcustommatrix()));
  }
  // A byte 0 is read as it is; the page then shows the pair in range (intra DC 8, entries from 1).
  matrixpairrec zero = m;
  zero.intra[0] = zero.nonintra[5] = 0;
  writefile(dir + "zero.cqm", cqmof(zero));
  matrixpath = dir + "zero.cqm";
  bool ok = false;
  readmatrix(ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(custommatrix.nonintra[5], 0);
  custom();
  userchoosefile(dir + "zero.cqm");
  userclick(dlg(pagematrix), 1102);
  EXPECT_EQ(custommatrix.intra[0], 8);
  EXPECT_EQ(custommatrix.nonintra[5], 1);
  EXPECT_EQ(trimright(dlggettext(dlg(pagematrix), 1306)), "1");
}

// The three buttons: the chooser's requests, a pair loaded and shown (the custom pair chosen),
// saved in either format with the extension put on a name typed without one; a cancel, a
// failed load or a failed write changes nothing and says so (no success message).
TEST_F(matrixfiles, thebuttonsofthematrixpage) {
  // A failed load keeps the built-in choice; a good one switches to the custom pair.
  guisettings.matrixindex = 4;
  writefile(dir + "bad.mtx", "1 2 3\n");
  userchoosefile(dir + "bad.mtx");
  filebutton(dlg(pagematrix), 1102, evclick);
  EXPECT_EQ(guisettings.matrixindex, 4);
  EXPECT_EQ(statustext, "error reading matrix file");
  dlgfilerequest q = dlglastfilerequest();
  EXPECT_FALSE(q.save);
  EXPECT_EQ(q.title, "import matrix file");
  EXPECT_EQ(q.description, "matrix file  (*.mtx, *.cqm)");
  EXPECT_EQ(q.patterns, "*.mtx;*.cqm");
  EXPECT_EQ(q.folder, matrixdir);
  EXPECT_EQ(q.defext, "mtx");

  custom();
  const matrixpairrec m = pairfrom(7);
  writefile(dir + "good.mtx", mtxof(m));
  userchoosefile(dir + "good.mtx");
  userclick(dlg(pagematrix), 1102);
  EXPECT_EQ(statustext, " matrix file successfully read");
  EXPECT_EQ(guisettings.matrixindex, custommatrixindex);
  matrixpairrec shown = m;
  shown.intra[0] = 8;
  EXPECT_TRUE(same(custommatrix, shown));
  EXPECT_TRUE(same(viewmatrix, shown));
  EXPECT_EQ(trimright(dlggettext(dlg(pagematrix), 1264)), std::to_string(m.intra[63]));

  const struct {
    int id;
    const char* title;
    const char* description;
    const char* typed;
    const char* written;
    const char* defext;
    std::string content;
  } saves[] = {
      {1104, "export matrix file as mtx", "matrix file  (*.mtx)", "mine", "mine.mtx", "mtx", mtxof(shown)},
      {1103, "export matrix file as cqm", "matrix file  (*.cqm)", "mine", "mine.cqm", "cqm", cqmof(shown)},
  };
  for (const auto& s : saves) {
    SCOPED_TRACE(s.title);
    userchoosefile(dir + s.typed);
    userclick(dlg(pagematrix), s.id);
    EXPECT_EQ(statustext, " matrix file successfully written");
    EXPECT_EQ(readfile(dir + s.written), s.content);
    q = dlglastfilerequest();
    EXPECT_TRUE(q.save);
    EXPECT_EQ(q.title, s.title);
    EXPECT_EQ(q.description, s.description);
    EXPECT_EQ(q.folder, "");
    EXPECT_EQ(q.defext, s.defext);
    // A cancel writes nothing and leaves no name.
    std::filesystem::remove(dir + s.written);
    showinfo(" (before)", false);
    usercancelfile();
    userclick(dlg(pagematrix), s.id);
    EXPECT_EQ(statustext, " (before)");
    EXPECT_FALSE(std::filesystem::exists(dir + s.written));
    EXPECT_EQ(matrixpath, "");
    // A folder that is not there: the write fails and says why.
    userchoosefile(dir + "no/such/folder/m");
    userclick(dlg(pagematrix), s.id);
    EXPECT_EQ(statustext, "error writing matrix file, No such file or directory");
  }
  // A matrix file never takes the place of the input, output or log file.
  namefiles();
  userchoosefile(inputpath);
  userclick(dlg(pagematrix), 1104);
  EXPECT_EQ(statustext, "error writing matrix file, it is the input, output or log file");
  EXPECT_EQ(readfile(inputpath), smallclip);
}
