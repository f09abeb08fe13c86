// The program folder holds the encoder and it starts and ends.
#include <gtest/gtest.h>

#include "tests/support/blackbox.h"

TEST(programfolder, encoderruns) {
  progfolder pf;
  ASSERT_TRUE(pf.exists("ostrel"));
  runresult r = pf.ostrel({});
  EXPECT_EQ(r.status, 0) << r.err;
}
