// The small routines of the start-up, in process: frame-rate codes, paths, the chapter-file
// reader and the choice of the scratch file.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "encoder/control/settings.h"
#include "encoder/control/startup.h"
#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {

struct ratecase {
  int num, den, code;
};

TEST(fpstocode, ratesandcodes) {
  const ratecase cases[] = {
      {24000, 1001, 1}, {2398, 100, 1}, {23976, 1000, 1}, {24, 1, 2},    {25, 1, 3},
      {30000, 1001, 4}, {2997, 100, 4}, {30, 1, 5},       {50, 1, 6},    {60000, 1001, 7},
      {60, 1, 8},       {49, 2, 0},     {15, 1, 0},       {2399, 100, 0}, {25, 0, 0},
      {25009, 1000, 3}, {25011, 1000, 0},
  };
  for (const ratecase& c : cases) {
    int code = -1;
    double r = fpstocode(c.num, c.den, code);
    EXPECT_EQ(code, c.code) << c.num << "/" << c.den;
    if (c.den != 0) {
      EXPECT_DOUBLE_EQ(r, double(c.num) / c.den);
    }
  }
}

TEST(paths, foldersandscenelist) {
  struct pathcase {
    const char *in, *out, *inputdir, *outputdir, *scd;
  };
  const pathcase cases[] = {
      {"/Videos/Holiday.AVS", "/Out/Film.M2V", "/Videos/", "/Out/", "/Out/Film_scd.txt"},
      {"clip.avs", "a.m2v", "", "", "a_scd.txt"},
      // The list always lies beside the output: the name less its extension, or the whole
      // name when it has none (a dot in a folder or at a name's start is no extension).
      {"clip.avs", "b.m2", "", "", "b_scd.txt"},
      {"clip.avs", "film.mpeg", "", "", "film_scd.txt"},
      {"clip.avs", "outdir/abc", "", "outdir/", "outdir/abc_scd.txt"},
      {"clip.avs", "out.dir/abc", "", "out.dir/", "out.dir/abc_scd.txt"},
      {"clip.avs", "/v/.m2v", "", "/v/", "/v/.m2v_scd.txt"},
      {"x/clip.avs", "x/y/z.m2v   ", "x/", "x/y/", "x/y/z_scd.txt"},
  };
  for (const pathcase& c : cases) {
    settings.inpath = c.in;
    settings.outpath = c.out;
    makepaths();
    EXPECT_EQ(settings.inputdir, c.inputdir) << c.in;
    EXPECT_EQ(settings.outputdir, c.outputdir) << c.out;
    EXPECT_EQ(settings.scdname, c.scd) << c.out;
  }
}

TEST(paths, inputtypekeepscase) {
  struct typecase {
    const char* in;
    bool avs, d2v;
  };
  const typecase cases[] = {{"/A/Clip.AVS", true, false}, {"movie.D2v  ", false, true},
                            {"clip.avi", false, false},  {"avs", false, false},
                            {".avs", true, false},       {"Clip.avs.txt", false, false}};
  for (const typecase& c : cases) {
    settings.inpath = c.in;
    inputtype();
    EXPECT_EQ(settings.avsinput, c.avs) << c.in;
    EXPECT_EQ(settings.d2vinput, c.d2v) << c.in;
    EXPECT_EQ(settings.inpath, c.in);  // the name itself keeps its case
  }
}

// Reads text as a chapter file; returns the code and the marked frames.
int chapters(const std::string& text, std::vector<int>& marked, int& negatives) {
  std::fill(std::begin(chapterflags), std::end(chapterflags), uint8_t{0});
  std::FILE* f = std::tmpfile();
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  int code = readchapters(f, negatives);
  std::fclose(f);
  marked.clear();
  for (int i = 0; i < maxframes; i++)
    if (chapterflags[i]) marked.push_back(i);
  return code;
}

TEST(chapterfile, bothformsandtheirvariants) {
  struct chaptercase {
    const char* text;
    int code;
    std::vector<int> marked;
    int negatives;
  };
  const std::vector<chaptercase> cases = {
      {"*chapter 3\n10\n20\n30\n", 0, {10, 20, 30}, 0},
      {"10\n20\n30\n", 0, {10, 20, 30}, 0},
      {"  *CHAPTERS\r\n10\r\n20\r\n30", 0, {10, 20, 30}, 0},  // case, blanks, CRLF, no last line end
      {"10, 20\t30\n\n40 50\n", 0, {10, 20, 30, 40, 50}, 0},
      {"*chapter 3\n", 0, {}, 0},
      {"", 0, {}, 0},
      {"5\n700000\n639999\n", 0, {5, 639999}, 0},
      {"-1\n7\n-20\n", 0, {7}, 2},
      {"10\n2x\n30\n", 518, {10}, 0},
      {"10\n20.5\n", 518, {10}, 0},
      {"*chapter\n99999999999\n", 518, {}, 0},
      {"chapter 3\n10\n", 518, {}, 0},  // no asterisk: the first line is data, and no number
  };
  for (const chaptercase& c : cases) {
    std::vector<int> marked;
    int negatives = -1;
    EXPECT_EQ(chapters(c.text, marked, negatives), c.code) << c.text;
    EXPECT_EQ(marked, c.marked) << c.text;
    EXPECT_EQ(negatives, c.negatives) << c.text;
  }
}

TEST(chapterfile, firstlineof128charactersandnomore) {
  // A first line of data is taken as 128 characters: one that goes on beyond them is refused,
  // never cut ("250" at column 127 would become frame 25). Trailing blanks do not count, and
  // the rest of a "*chapter" line is ignored anyway.
  std::vector<int> marked;
  int negatives = 0;
  EXPECT_EQ(chapters(std::string(124, ' ') + "11 2\n33\n", marked, negatives), 0);
  EXPECT_EQ(marked, (std::vector<int>{2, 11, 33}));
  EXPECT_EQ(chapters(std::string(121, ' ') + "11 2   " + std::string(40, ' ') + "\r\n33\n", marked,
                     negatives), 0);
  EXPECT_EQ(marked, (std::vector<int>{2, 11, 33}));
  EXPECT_EQ(chapters("*chapter" + std::string(200, 'x') + "\n5\n", marked, negatives), 0);
  EXPECT_EQ(marked, (std::vector<int>{5}));
  for (const std::string& text : {std::string(124, ' ') + "11 250\n33\n",
                                  "33\n" + std::string((1 << 20) + 1, '1') + "\n"}) {
    std::fill(std::begin(chapterflags), std::end(chapterflags), uint8_t{0});
    std::FILE* f = std::tmpfile();
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    std::string why;
    EXPECT_EQ(readchapters(f, negatives, &why), 518);
    std::fclose(f);
    EXPECT_NE(why.find(text[0] == '3' ? "line 2 is longer" : "line 1 is longer than 128"),
              std::string::npos) << why;
    EXPECT_EQ(chapterflags[25], 0);
  }
}

class scratchfolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string t = (fs::temp_directory_path() / "ostrel-scratch-XXXXXX").string();
    ASSERT_NE(mkdtemp(t.data()), nullptr);
    dir = t + "/";
  }
  void TearDown() override {
    releasescratch();
    for (int fd : held) close(fd);
    fs::remove_all(dir);
  }
  // Creates the file and holds an exclusive lock on it, as a running encoder does.
  void hold(int k) {
    int fd = open((dir + scratchname(k)).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    held.push_back(fd);
  }
  std::string dir;
  std::vector<int> held;
};

TEST_F(scratchfolder, names) {
  EXPECT_EQ(scratchname(1), "KJ01.dbs");
  EXPECT_EQ(scratchname(8), "KJ08.dbs");
}

TEST_F(scratchfolder, firstfreenameislockedforthewholerun) {
  EXPECT_EQ(choosescratch(dir), dir + "KJ01.dbs");
  EXPECT_TRUE(fs::exists(dir + "KJ01.dbs"));
  // Held by us now: another choice passes it over.
  int fd = open((dir + "KJ01.dbs").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0);
  close(fd);
  releasescratch();
  fd = open((dir + "KJ01.dbs").c_str(), O_RDWR | O_CLOEXEC);
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  close(fd);
}

TEST_F(scratchfolder, heldnamesarepassedoverandleftoversremoved) {
  hold(1);
  hold(2);
  writefile(dir + "KJ05.dbs", "left over by a run that crashed");
  EXPECT_EQ(choosescratch(dir), dir + "KJ03.dbs");
  EXPECT_FALSE(fs::exists(dir + "KJ05.dbs"));
  EXPECT_TRUE(fs::exists(dir + "KJ01.dbs"));  // a held file is never touched
  EXPECT_TRUE(fs::exists(dir + "KJ02.dbs"));
}

TEST_F(scratchfolder, alleightheld) {
  for (int k = 1; k <= 8; k++) hold(k);
  EXPECT_EQ(choosescratch(dir), "");
  for (int k = 1; k <= 8; k++) EXPECT_TRUE(fs::exists(dir + scratchname(k)));
}

TEST_F(scratchfolder, unwritablefolder) {
  EXPECT_EQ(choosescratch(dir + "missing/"), "");
}

}  // namespace
