// The output stream writer on made-up GOPs: byte order, record boundaries, the end code, and
// every kind of failed write.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "encoder/coding/goppattern.h"
#include "encoder/coding/headers.h"
#include "encoder/coding/picslot.h"
#include "encoder/coding/streamwriter.h"
#include "encoder/control/control.h"
#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "platform/clock.h"
#include "platform/queue.h"
#include "tests/icoder/fixture.h"
#include "tests/support/blackbox.h"

namespace {

struct streamwriter : ::testing::Test {
  std::string dir, path;
  void SetUp() override {
    setclockscale(0);
    settings = settingsrec{};
    dir = testing::TempDir() + "/sw-" + std::to_string(getpid()) + "-" +
          testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(dir);
    path = dir + "/out.m2v";
    streambitcount = 0;
    startstream();
    keeprunning = true;
    errorflag = false;
    abortlatched = false;
    nextstep = 0;
    showwindow = false;
  }
  void TearDown() override {
    closerununits();
    clearqueue();
    errorflag = false;
    abortlatched = false;
    nextstep = 0;
    runstate = 0;
    showwindow = true;
    std::filesystem::remove_all(dir);
  }
  // Header bytes h bytes long (value 0xEE) and slot s holding len[s] bytes of value s.
  void fill(int h, const std::vector<int>& len) {
    headercursor = {};
    std::memset(headerbuf, 0xEE, size_t(h));
    headercursor.bytepos = h;
    for (size_t s = 1; s < len.size(); ++s) {
      ASSERT_TRUE(startslotpicture(int(s)));
      ASSERT_LE(len[s], picslots[s].streambits.capacity);
      std::memset(picslots[s].streambits.data(), int(s), size_t(len[s]));
      picslots[s].streamcursor = {0, len[s]};
    }
  }
};

}  // namespace

// An open GOP with two B pictures: the header, then the pictures in coding order, each from
// the slot of its display position; exactly four records, so the tail is only the end code.
TEST_F(streamwriter, gopbytesgoinorderandthetailisonlytheendcode) {
  ASSERT_TRUE(unitopen(unitstream, path, unitnew));
  goppattern(2, 15, 0, goporder, goptypes, goptrefs);
  std::vector<int> len(16);
  int total = 100;
  for (int s = 1; s <= 15; ++s) total += len[s] = 1000 + 37 * s;
  len[15] += 4 * 8192 - total;  // the GOP fills four records exactly
  fill(100, len);
  writestream(15, goporder, goptrefs, false);
  EXPECT_EQ(streamrecord.fill, 0);
  EXPECT_EQ(streamrecord.recno, 5);
  writestream(0, goporder, goptrefs, true);
  EXPECT_EQ(streambitcount, 32);
  unitclose(unitstream);
  std::vector<uint8_t> want(100, 0xEE);
  for (int k = 1; k <= 15; ++k) {
    int s = goptrefs[goporder[k]] + 1;
    want.insert(want.end(), size_t(len[s]), uint8_t(s));
  }
  for (uint8_t b : {0x00, 0x00, 0x01, 0xB7}) want.push_back(b);
  std::vector<uint8_t> got = readbytes(path);
  ASSERT_EQ(got.size(), 4u * 8192 + 4);
  EXPECT_TRUE(got == want);
  EXPECT_EQ(got[100], 3);  // the I picture of "B B I ..." is display position 2, slot 3
  EXPECT_FALSE(errorflag);
}

// Several GOPs through partly filled records; without the end code the file ends with the last
// picture's last byte. An empty GOP writes nothing.
TEST_F(streamwriter, gopsacrossrecordswithoutendcode) {
  settings.seqendcode = false;
  ASSERT_TRUE(unitopen(unitstream, path, unitnew));
  goppattern(0, 3, 1, goporder, goptypes, goptrefs);
  std::vector<uint8_t> want;
  for (int g = 0; g < 5; ++g) {
    std::vector<int> len = {0, 3000 + g, 5000, 7 * g + 1};
    fill(60 + g, len);
    want.insert(want.end(), size_t(60 + g), 0xEE);
    for (int s = 1; s <= 3; ++s) want.insert(want.end(), size_t(len[s]), uint8_t(s));
    writestream(3, goporder, goptrefs, false);
  }
  headercursor = {};
  writestream(0, goporder, goptrefs, false);
  writestream(0, goporder, goptrefs, true);
  EXPECT_EQ(streambitcount, 0);
  unitclose(unitstream);
  EXPECT_TRUE(readbytes(path) == want);
}

// A full disk during a GOP, or at the final write (too few bytes for a record before it), or
// a file closed before the end: the log line, the error line, errorflag and step 98; and the
// writer stays failed (nothing more reaches the file, no second report).
TEST_F(streamwriter, everyfailedwriteendstherun) {
  enum { fullgop, fullfinal, closedfinal };
  for (int how : {fullgop, fullfinal, closedfinal}) {
    SetUp();
    settings.logfileon = true;
    showwindow = true;
    ASSERT_TRUE(unitopen(unitlog, dir + "/out.log", unitnew));
    ASSERT_TRUE(unitopen(unitstream, how == closedfinal ? path : "/dev/full", unitnew));
    goppattern(0, 2, 1, goporder, goptypes, goptrefs);
    fill(50, {0, how == fullgop ? 9000 : 100, 100});
    testing::internal::CaptureStderr();
    writestream(2, goporder, goptrefs, false);
    if (how != fullgop) {
      EXPECT_FALSE(errorflag) << how;  // nothing has been written yet
      if (how == closedfinal) unitclose(unitstream);
      writestream(0, goporder, goptrefs, true);
    }
    EXPECT_TRUE(errorflag) << how;
    EXPECT_EQ(nextstep.load(), steperror) << how;
    EXPECT_TRUE(streamfailed());
    // Later calls write nothing, even to a good file.
    ASSERT_TRUE(unitopen(unitstream, path, unitnew));
    fill(50, {0, 9000, 9000});
    writestream(2, goporder, goptrefs, false);
    writestream(0, goporder, goptrefs, true);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, std::string("ostrel: ERROR, can't write to output file, aborting... (") +
                       (how == closedfinal ? "the file was closed" : "No space left on device") + ")\n")
        << how;
    unitclose(unitstream);
    EXPECT_TRUE(readbytes(path).empty()) << how;
    std::string status = getstatusline();
    EXPECT_EQ(status.substr(0, status.find_last_not_of(' ') + 1),
              "ERROR,  can't write to output file, aborting...") << how;
    unitclose(unitlog);
    EXPECT_EQ(readfile(dir + "/out.log"), " *** ERROR, can't write to output file, aborting...\n")
        << how;
    TearDown();
  }
}
