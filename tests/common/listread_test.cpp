// The list-directed reader: what is a number, how values run across lines, what a read
// drops, and how file lines are taken (CR, tabs, overlong lines).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "common/listread.h"

namespace {

struct intcase {
  const char* text;
  bool ok;
  int value;
};

TEST(listread, integers) {
  const intcase cases[] = {
      {"5000", true, 5000},      {"  5000  ", true, 5000},   {"-12", true, -12},
      {"+7", true, 7},           {"5000,", true, 5000},      {",5000", true, 5000},
      {"12 99", true, 12},       {"\t42", true, 42},         {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483647 - 1},                {"2147483648", false, 0},
      {"99999999999999999999", false, 0},                    {"5.0", false, 0},
      {"5.", false, 0},          {"1e3", false, 0},          {"abc", false, 0},
      {"12abc", false, 0},       {"-", false, 0},            {"+", false, 0},
      {"0x10", false, 0},        {"5;", false, 0}};
  for (const auto& c : cases) {
    int v = -777;
    listresult r = readints(c.text, &v, 1);
    EXPECT_EQ(r == listok, c.ok) << "text '" << c.text << "'";
    if (c.ok) {
      EXPECT_EQ(v, c.value) << "text '" << c.text << "'";
    }
  }
}

TEST(listread, missingvaluesareend) {
  int v[2] = {0, 0};
  EXPECT_EQ(readints("", v, 1), listend);
  EXPECT_EQ(readints("   ,  , ", v, 1), listend);
  EXPECT_EQ(readints("17", v, 2), listend);
  EXPECT_EQ(v[0], 17);  // read before the end stays
}

struct realcase {
  const char* text;
  bool ok;
  float value;
};

TEST(listread, reals) {
  const realcase cases[] = {
      {"3.5", true, 3.5f},   {"3", true, 3.0f},     {".5", true, 0.5f},   {"4.", true, 4.0f},
      {"-2.25", true, -2.25f}, {"1e1", true, 10.0f}, {"1.5E-1", true, 0.15f},
      {"2d2", true, 200.0f}, {"2.5D+1", true, 25.0f}, {"3.5,", true, 3.5f},
      {".", false, 0},       {"e5", false, 0},      {"1e", false, 0},     {"1e+", false, 0},
      {"1e99", false, 0},    {"inf", false, 0},     {"nan", false, 0},    {"3.5x", false, 0},
      {"1.2.3", false, 0},   {"--1", false, 0}};
  for (const auto& c : cases) {
    float v = -777;
    listresult r = readreals(c.text, &v, 1);
    EXPECT_EQ(r == listok, c.ok) << "text '" << c.text << "'";
    if (c.ok) {
      EXPECT_FLOAT_EQ(v, c.value) << "text '" << c.text << "'";
    }
  }
}

// Lines of a list: a read runs across line ends and empty lines and drops the rest of its
// last line; the next read starts on a fresh line.
TEST(listread, readsspanlinesanddroptherest) {
  std::vector<std::string> lines = {"1 2", "", "3, 4 5 6", "7", "8 9"};
  size_t next = 0;
  listreader rd([&](std::string& l) {
    if (next == lines.size()) return 0;
    l = lines[next++];
    return 1;
  });
  int v = 0;
  rd.beginread();
  for (int want : {1, 2, 3, 4}) {
    ASSERT_EQ(rd.getint(v), listok);
    EXPECT_EQ(v, want);
  }
  rd.beginread();  // 5 and 6 are dropped
  ASSERT_EQ(rd.getint(v), listok);
  EXPECT_EQ(v, 7);
  rd.beginread();
  ASSERT_EQ(rd.getint(v), listok);
  EXPECT_EQ(v, 8);
  rd.beginread();
  EXPECT_EQ(rd.getint(v), listend);
}

std::FILE* filewith(const std::string& s) {
  std::FILE* f = std::tmpfile();
  std::fwrite(s.data(), 1, s.size(), f);
  std::rewind(f);
  return f;
}

TEST(listread, filelines) {
  std::string longline(600, 'a');
  longline[511] = 'z';
  std::FILE* f = filewith("ab\r\nc\td\r\n" + longline + "\r\nlast\rx\nend");
  std::string l;
  ASSERT_EQ(readline(f, l, 512), 1);
  EXPECT_EQ(l, "ab");
  ASSERT_EQ(readline(f, l, 512), 1);
  EXPECT_EQ(l, "c d");
  ASSERT_EQ(readline(f, l, 512), 1);  // cut, and the rest is no line of its own
  EXPECT_EQ(l.size(), 512u);
  EXPECT_EQ(l.back(), 'z');
  ASSERT_EQ(readline(f, l, 512), 1);
  EXPECT_EQ(l, "last\rx");  // only a trailing CR belongs to the line end
  ASSERT_EQ(readline(f, l, 512), 1);
  EXPECT_EQ(l, "end");  // last line without a line end
  EXPECT_EQ(readline(f, l, 512), 0);
  std::fclose(f);
}

TEST(listread, crrightatthecut) {
  std::FILE* f = filewith(std::string(512, 'b') + "\r\nnext\n");
  std::string l;
  ASSERT_EQ(readline(f, l, 512), 1);
  EXPECT_EQ(l, std::string(512, 'b'));
  ASSERT_EQ(readline(f, l, 512), 1);
  EXPECT_EQ(l, "next");
  std::fclose(f);
}

// The reader tells whether a line lost anything but blanks to its cut (a trailing CR and tabs
// count as blanks), so that its callers refuse what they cannot read whole.
TEST(listread, cuttellswhatwaslost) {
  struct cutcase {
    std::string line;
    bool lost;
  };
  const cutcase cases[] = {
      {std::string(8, 'a'), false},
      {std::string(8, 'a') + "\r", false},
      {std::string(8, 'a') + "    \t  \r", false},
      {std::string(8, 'a') + "\r\r", true},
      {std::string(8, 'a') + "b", true},
      {std::string(8, 'a') + "     b", true},
      {std::string(8, 'a') + "\rb", true},
      {std::string(7, 'a') + "\r", false},
  };
  for (const cutcase& c : cases) {
    std::FILE* f = filewith(c.line + "\nnext\n");
    std::string l;
    bool cut = !c.lost;
    ASSERT_EQ(readline(f, l, 8, &cut), 1);
    EXPECT_EQ(cut, c.lost) << c.line;
    EXPECT_EQ(l, c.line.substr(0, std::min<size_t>(8, c.line.find('\r')))) << c.line;
    ASSERT_EQ(readline(f, l, 8, &cut), 1);
    EXPECT_EQ(l, "next");
    EXPECT_FALSE(cut);
    std::fclose(f);
  }
}

// A list read to the end of a file, as the chapter file is taken: one read that goes on over
// every line (blanks, commas, tabs, CRLF) until the lines run out.
TEST(listread, wholefileasonelist) {
  std::FILE* f = filewith("10, 20\r\n\r\n30\t40 ,\r\n50");
  listreader rd(filesource(f, SIZE_MAX));
  rd.beginread();
  std::vector<int> got;
  int v = 0;
  listresult r;
  while ((r = rd.getint(v)) == listok) got.push_back(v);
  EXPECT_EQ(r, listend);
  EXPECT_EQ(got, (std::vector<int>{10, 20, 30, 40, 50}));
  std::fclose(f);

  f = filewith("10\n20 x 30\n");
  listreader bad(filesource(f, SIZE_MAX));
  bad.beginread();
  ASSERT_EQ(bad.getint(v), listok);
  ASSERT_EQ(bad.getint(v), listok);
  EXPECT_EQ(bad.getint(v), listbad);  // the chapter reader's 518
  std::fclose(f);
}

}  // namespace
