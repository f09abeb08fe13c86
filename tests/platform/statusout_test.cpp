// The status output without a window: progress held to a line a second in a log and redrawn
// in place on a terminal, messages never dropped, every change with the "all" switch. The
// bytes and the clock are the test's own.
#include <gtest/gtest.h>

#include <string>

#include "platform/statusout.h"

namespace {
struct statusout : ::testing::Test {
  std::string bytes;
  double t = 100.0;  // seconds; steps exact in binary
  void use(int mode, int columns = 80) {
    setstatusout(mode, [this](const std::string& b) { bytes += b; }, [this] { return t; }, columns);
  }
  void TearDown() override { setstatusout(statusauto); }
};
}  // namespace

TEST_F(statusout, alogholdsprogresstoalineasecondandkeepsthenewestforthenextmessage) {
  use(statuspipe);
  statusprogress(" pass 1, picture 1 of 9, 11%");   // the first at once
  t += 0.4;
  statusprogress(" pass 1, picture 2 of 9, 22%");   // held back
  t += 0.4;
  statusprogress(" pass 1, picture 3 of 9, 33%");   // replaces it
  EXPECT_EQ(bytes, " pass 1, picture 1 of 9, 11%\n");
  t += 0.3;                                         // a second since the last line
  statusprogress(" pass 1, picture 4 of 9, 44%");
  statusprogress(" pass 1, picture 4 of 9, 44%");   // no change, no line
  t += 0.1;
  statusprogress(" pass 1, picture 5 of 9, 56%");
  statusmessage(" pass 1, Avisynth error in frame  5");  // the held one first
  statusprogress(" pass 1, picture 6 of 9, 67%");   // after a message at once
  t += 0.2;
  statusprogress(" pass 1, picture 9 of 9, 100%");
  statusprogress(" pass 2, picture 1 of 9, 11%");   // a new pass: the last of pass 1 first
  t += 0.1;
  statusprogress(" pass 2, picture 9 of 9, 100%");
  statusbreak();                                    // the end
  statusbreak();
  EXPECT_EQ(bytes,
            " pass 1, picture 1 of 9, 11%\n"
            " pass 1, picture 4 of 9, 44%\n"
            " pass 1, picture 5 of 9, 56%\n"
            " pass 1, Avisynth error in frame  5\n"
            " pass 1, picture 6 of 9, 67%\n"
            " pass 1, picture 9 of 9, 100%\n"
            " pass 2, picture 1 of 9, 11%\n"
            " pass 2, picture 9 of 9, 100%\n");
}

TEST_F(statusout, aterminalredrawsoneline) {
  use(statusterminal, 30);
  statusmessage(" input using arguments");
  statusprogress(" pass 1, picture 1 of 250, 0%");
  t += 0.0625;
  statusprogress(" pass 1, picture 2 of 250, 1%");  // held: a tenth of a second between draws
  t += 0.0625;
  statusprogress(" pass 1, picture 99 of 250, 40%, 310 fps");  // cut to 29 columns
  t += 0.125;
  statusprogress(" pass 1, picture 250 of 250");  // blanks over the longer text before
  statusprogress(" pass 2, picture 1 of 250");    // the next pass on a line of its own
  t += 0.0625;
  statusprogress(" pass 2, picture 7 of 250");    // held, drawn before the message
  statusmessage(" ( 5) encoding finished...");
  statusbreak();
  EXPECT_EQ(bytes,
            " input using arguments\n"
            "\r pass 1, picture 1 of 250, 0%"
            "\r pass 1, picture 99 of 250, 4"
            "\r pass 1, picture 250 of 250  \n"
            "\r pass 2, picture 1 of 250"
            "\r pass 2, picture 7 of 250\n"
            " ( 5) encoding finished...\n");
}

TEST_F(statusout, everychangewiththeswitch) {
  use(statusevery);
  EXPECT_EQ(statusmode(), statusevery);
  statusprogress(" pass 1, picture 1 of 2");
  statusprogress(" pass 1, picture 1 of 2");
  statusprogress(" pass 1, picture 2 of 2");
  statusmessage(" ( 1) encoding finished...");
  statusbreak();
  EXPECT_EQ(bytes, " pass 1, picture 1 of 2\n pass 1, picture 1 of 2\n pass 1, picture 2 of 2\n"
                   " ( 1) encoding finished...\n");
}
