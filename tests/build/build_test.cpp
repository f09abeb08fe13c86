// The program folder holds the encoder and it starts and ends.
#include <gtest/gtest.h>

#include "tests/support/blackbox.h"

TEST(programfolder, encoderruns) {
  progfolder pf;
  ASSERT_TRUE(pf.exists("ostrel"));
  pf.write("clip.avs", "BlankClip(length=10, width=720, height=576, fps=25)\n");
  runresult r = pf.ostrel({"-i", "clip.avs", "-o", "clip.m2v", "-b", "5000", "-maxbitrate", "8000"});
  EXPECT_EQ(r.status, 0) << r.err;
}
