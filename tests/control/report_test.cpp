// Start-up codes, their texts, and how the reporter shows them.
#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "dialogs/dialogs.h"
#include "dialogs/layer.h"
#include "encoder/control/control.h"
#include "encoder/control/report.h"
#include "platform/clock.h"
#include "platform/queue.h"
#include "resources/encoder.h"

TEST(messages, everycodehasitsexacttext) {
  const std::pair<int, const char*> table[] = {
      {1, "can't find Avisynth.dll"},
      {2, "can't load Avisynth CreateScriptEnvironment"},
      {3, "can't process AVS file, wait for Avisynth error message"},
      {4, "can't load movie"},
      {5, "wrong color space, add ConvertToYV12() to script"},
      {32, "width not a multiple of 16"},
      {33, "height not a multiple of 16"},
      {34, "width > 1920"},
      {35, "height > 1152"},
      {128, "can't find MPEG2 decoder"},
      {129, "can't free DGDecode.dll"},
      {130, "can't import routines from DGDecode.dll"},
      {131, "can't open d2v file"},
      {132, "can't load movie"},
      {133, "can't free Avisynth.dll"},
      {256, "input not complete, required input: input file, output file, maxbitrate"},
      {257, "input not complete, required input: input file, output file"},
      {258, "input not complete, required input: input file, output file, bitrate, maxbitrate"},
      {259, "can't find input file"},
      {260, "no avs or d2v input"},
      {261, "invalid MPEG2 framerate"},
      {262, "can't open m2v file"},
      {263, "can't open log file"},
      {264, "no MMX detected, aborting..."},
      {265, "can't process ini file"},
      {266, "can't open ini file"},
      {267, "no frames to encode"},
      {268, "can't open dbs file"},
      {269, "can't allocate memory"},
      {512, "can't process parameter -b"},
      {513, "can't process parameter -maxbitrate"},
      {514, "can't process parameter -bias"},
      {515, "can't process parameter -dc_prec"},
      {516, "can't process parameter -frames, can't read start frame"},
      {517, "can't process parameter -frames, can't read end frame"},
      {518, "error processing chapter file"},
      {519, "error opening chapter file"},
      {520, "can't find chapter file"},
      {521, "can't process parameter -gop, can't read length"},
      {522, "can't process parameter -gop, can't read # B-frames"},
      {523, "can't process parameter -cq, can't read CQ value"},
      {524, "can't process parameter -cq_maxbitrate, can't read CQ value"},
      {525, "can't process parameter -cq_pfactor, can't read value"},
      {526, "can't process parameter -cq_bfactor, can't read value"},
      {527, "error opening scd file"},
      {600, "adaptive matrix flagged but can't find matrix.dll"},
      {601, "adaptive matrix flagged, matrix.dll found but can't load EXTMATRIX"},
  };
  int listed = 0;
  for (auto [code, text] : table) {
    ASSERT_NE(starttext(code), nullptr) << code;
    EXPECT_STREQ(starttext(code), text) << code;
    listed++;
  }
  // Nothing else has a text.
  int found = 0;
  for (int code = -10; code < 1000; code++) found += starttext(code) != nullptr;
  EXPECT_EQ(found, listed);
  EXPECT_EQ(starttext(0), nullptr);
}

TEST(messages, onelinejoinslinebreaks) {
  EXPECT_EQ(oneline("a\r\nb\nc\rd\r\n"), "a b c d");
  EXPECT_EQ(oneline("plain  "), "plain");
}

namespace {
struct reporter : ::testing::Test {
  std::mutex m;
  std::vector<std::string> lines;
  void SetUp() override {
    setclockscale(0);
    clearqueue();
    dlgsetresources(encoderresources, encoderresourcecount);
    ASSERT_TRUE(dlgload(101, maindialog));
    dlgshow(*maindialog, 1);
    dlgsetheadlessout([this](const std::string& s) {
      std::lock_guard<std::mutex> g(m);
      lines.push_back(s);
    });
    showwindow = true;
    runstate = 0;
    nextstep = 0;
    keeprunning = true;
    abortlatched = false;
  }
  void TearDown() override {
    dlgsetheadlessout(nullptr);
    dlgclose(maindialog);
  }
  std::vector<std::string> stamp(const std::string& text) {
    std::vector<std::string> v;
    for (int d = 9; d >= 1; d--) v.push_back(" (" + std::to_string(d) + ") ERROR, " + text);
    return v;
  }
  // Runs the reporter for a code; gives the stderr text.
  std::string report(int code, const std::string& message = "") {
    statusrec s{code, message, ""};
    testing::internal::CaptureStderr();
    reportinit(&s);
    return testing::internal::GetCapturedStderr();
  }
  bool wokenup() {
    message msg;
    bool woke = false;
    while (peekmsg(msg)) woke |= msg.kind == msgwake;
    return woke;
  }
};
}  // namespace

TEST_F(reporter, successgoesontopass1) {
  EXPECT_EQ(report(0), "");
  EXPECT_EQ(nextstep.load(), steppass1);
  EXPECT_EQ(runstate.load(), 0);
  EXPECT_TRUE(wokenup());
  EXPECT_TRUE(lines.empty());
}

TEST_F(reporter, atablecodecountsdownninetimesthenquits) {
  for (int code : {259, 1, 264, 601}) {
    lines.clear();
    runstate = 0;
    std::string err = report(code);
    EXPECT_EQ(lines, stamp(starttext(code))) << code;
    EXPECT_EQ(err, std::string("ostrel: ERROR, ") + starttext(code) + "\n");
    EXPECT_EQ(nextstep.load(), 0);
    EXPECT_EQ(runstate.load(), 1);
    EXPECT_TRUE(wokenup());
  }
}

TEST_F(reporter, settingsfilecontextfollowsthetext) {
  std::string err = report(265, ": *CUSTOMMATRIX");
  EXPECT_EQ(lines, stamp("can't process ini file: *CUSTOMMATRIX"));
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), " (9) ERROR, can't process ini file: *CUSTOMMATRIX");
  EXPECT_EQ(err, "ostrel: ERROR, can't process ini file: *CUSTOMMATRIX\n");
}

TEST_F(reporter, frameserverfirstthefixedlinethenitsownmessageononeline) {
  std::string err = report(3, "Script error: no function named \"Foo\"\r\n(a.avs, line 3)");
  std::vector<std::string> want = {"ERROR, can't process AVS file, wait for Avisynth error message"};
  for (auto& l : stamp("Script error: no function named \"Foo\" (a.avs, line 3)")) want.push_back(l);
  EXPECT_EQ(lines, want);
  EXPECT_EQ(err,
            "ostrel: ERROR, can't process AVS file, wait for Avisynth error message: Script error: no "
            "function named \"Foo\" (a.avs, line 3)\n");
  EXPECT_EQ(runstate.load(), 1);
}

TEST_F(reporter, unknowncodequitswithouttext) {
  std::string err = report(77);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(runstate.load(), 1);
  EXPECT_EQ(nextstep.load(), 0);
  EXPECT_EQ(err, "ostrel: ERROR, start-up failed with code 77\n");
}

TEST_F(reporter, hiddenwindowshowsnothingbutstderrstillhasthe_line) {
  showwindow = false;
  std::string err = report(262);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(err, "ostrel: ERROR, can't open m2v file\n");
  EXPECT_EQ(runstate.load(), 1);
}

TEST_F(reporter, errorlineandstampsetrunstatefirstandcut) {
  errorline("can't write to output file", 11);
  EXPECT_EQ(runstate.load(), 2);
  errorstamp("abcdef", 3);
  std::vector<std::string> want = {"ERROR, can't write"};
  for (auto& l : stamp("abc")) want.push_back(l);
  EXPECT_EQ(lines, want);
  EXPECT_EQ(getstatusline().size(), 512u);
}
