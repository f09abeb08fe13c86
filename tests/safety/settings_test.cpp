// The settings file, the switches and the chapter file from outside: values longer than their
// reader's record are refused with the key or line named, never cut; "-ini" must name a file;
// a byte-order mark is no part of the first key; "*ZONE" tables of any size read quickly.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/safety/safety.h"

namespace {

const char* clip = "BlankClip(length=5, width=64, height=64, fps=25)\n";

// A path of exactly n characters inside the program folder (its folders are made), naming a
// file "...d.m2v" there.
std::string pathof(const progfolder& pf, size_t n) {
  std::string p = pf.dir();
  while (p.size() + 1 + 100 + 1 + 10 < n) {
    p += "/" + std::string(100, 'f');
    std::filesystem::create_directory(p);
  }
  return p + "/" + std::string(n - p.size() - 5, 'd') + ".m2v";
}

// "*OUTFILE" longer than its 500 characters: refused at start-up with the key named, and the
// stream that the cut name would have overwritten stays as it was (today the cut path
// overwrote another existing stream). The same for "*INFILE" and "*LOGFILE"; 500 characters
// still work.
TEST(longvalues, settingspathsarerefusednevercut) {
  progfolder pf;
  pf.write("a.avs", clip);
  const std::string cutname = pathof(pf, 500);
  writefile(cutname, "an earlier stream of the user's");
  const std::string longer = cutname + "x";  // 501 characters; cut at 500 it is cutname
  for (const char* key : {"*OUTFILE", "*INFILE", "*LOGFILE"}) {
    std::string ini = "*CQ 4\n*INFILE a.avs\n*OUTFILE out.m2v\n";
    ini += std::string(key) + " " + longer + "\n";
    pf.write("KJ.ini", ini);
    runresult r = pf.ostrel({});
    EXPECT_EQ(r.status, 1) << key << "\n" << described(r);
    EXPECT_NE(r.err.find(std::string("ostrel: ERROR, can't process ini file: ") + key + "\n"),
              std::string::npos) << r.err;
    EXPECT_NE(r.err.find(std::string("ostrel: ") + key + ": the path is longer than 500 characters"),
              std::string::npos) << r.err;
    EXPECT_EQ(readfile(cutname), "an earlier stream of the user's") << key;
  }
  const std::string fits = pathof(pf, 500);
  pf.write("KJ.ini", "*CQ 4\n*INFILE a.avs\n*OUTFILE " + fits + "\n");
  runresult r = pf.ostrel({});
  EXPECT_EQ(r.status, 0) << described(r);
  EXPECT_EQ(probetypes(fits).size(), 5u);
}

// A chapter file whose first line of frame numbers goes on past 128 characters is refused
// with the line named (today "250" at column 127 became chapter 25).
TEST(longvalues, chapterlinepast128charactersisrefused) {
  progfolder pf;
  pf.write("a.avs", clip);
  pf.write("chapters.txt", "3" + std::string(125, ' ') + "250\n");
  runresult r = pf.ostrel({"-i", "a.avs", "-o", "out.m2v", "-cq", "4", "-chapter", "chapters.txt"});
  EXPECT_EQ(r.status, 1) << described(r);
  EXPECT_NE(r.err.find("ostrel: ERROR, error processing chapter file\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("chapter file \"chapters.txt\": line 1 is longer than 128 characters"),
            std::string::npos) << r.err;
  EXPECT_FALSE(pf.exists("out.m2v"));
}

// "-ini" naming a file that is not there is an error, not a run on the presets; one naming a
// FIFO is refused at once (today the start-up waits for a writer).
TEST(inifile, namedsettingsfilemustbeafile) {
  progfolder pf;
  pf.write("a.avs", clip);
  runresult r = pf.ostrel({"-ini", "missing.ini", "-i", "a.avs", "-o", "out.m2v", "-cq", "4"});
  EXPECT_EQ(r.status, 1) << described(r);
  EXPECT_NE(r.err.find("ostrel: ERROR, can't open ini file\n"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("settings file \"missing.ini\" does not exist"), std::string::npos) << r.err;
  EXPECT_FALSE(pf.exists("out.m2v"));

  ASSERT_EQ(mkfifo(pf.path("fifo.ini").c_str(), 0644), 0);
  r = runcommand({pf.path("ostrel"), "-ini", "fifo.ini", "-i", "a.avs", "-o", "out.m2v", "-cq", "4"},
                 pf.dir(), {"OSTREL_TIMESCALE=0", "OSTREL_HEADLESS=1"}, 60);
  EXPECT_EQ(r.status, 1) << described(r);
  EXPECT_NE(r.err.find("settings file \"fifo.ini\" is not a regular file"), std::string::npos) << r.err;
}

// A settings file saved with a UTF-8 byte-order mark reads as one without it: its first key
// counts (today "*SILENT" or the first key is lost).
TEST(inifile, byteordermarkisskipped) {
  progfolder pf;
  pf.write("a.avs", clip);
  pf.write("KJ.ini", "\xEF\xBB\xBF*OUTFILE out.m2v\r\n*INFILE a.avs\r\n*CQ 4\r\n");
  runresult r = pf.ostrel({});
  EXPECT_EQ(r.status, 0) << described(r);
  EXPECT_EQ(probetypes(pf.path("out.m2v")).size(), 5u);
  // "*SILENT" as the first line hides the window: nothing on stdout.
  pf.write("KJ.ini", "\xEF\xBB\xBF*SILENT\n*OUTFILE out.m2v\n*INFILE a.avs\n*CQ 4\n");
  r = pf.ostrel({});
  EXPECT_EQ(r.status, 0) << described(r);
  EXPECT_EQ(r.out, "");
}

// A chapter file saved with a UTF-8 byte-order mark reads as one without it, keyed or a plain
// list (today it is refused as "error processing chapter file" without a reason): the chapter
// frame starts a GOP.
TEST(inifile, chapterfilewithbyteordermark) {
  for (const char* text : {"\xEF\xBB\xBF*CHAPTER 1\r\n7\r\n", "\xEF\xBB\xBF" "7\n"}) {
    SCOPED_TRACE(text + 3);
    progfolder pf;
    pf.write("a.avs", "TestPattern(length=30, width=64, height=64, fps=25)\n");
    pf.write("chapters.txt", text);
    runresult r = pf.ostrel({"-i", "a.avs", "-o", "out.m2v", "-cq", "4", "-chapter", "chapters.txt"});
    EXPECT_EQ(r.status, 0) << described(r);
    const std::vector<std::string> types = probetypes(pf.path("out.m2v"));
    ASSERT_EQ(types.size(), 30u);
    EXPECT_EQ(types[7], "I");
  }
}

// 100,000 zones read in a moment (today zones x 640,000 frame slots: 36 seconds).
TEST(inifile, manyzonesreadquickly) {
  progfolder pf;
  pf.write("a.avs", clip);
  std::string ini = "*CQ 4\n*INFILE a.avs\n*OUTFILE out.m2v\n*ZONE 100000\n";
  for (int i = 0; i < 100000; i++) ini += std::to_string(i * 6) + " 1." + std::to_string(i % 10) + "\n";
  pf.write("KJ.ini", ini);
  const auto t0 = std::chrono::steady_clock::now();
  runresult r = pf.ostrel({});
  const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r.status, 0) << described(r);
  EXPECT_LT(secs, 10.0);
}

}  // namespace
