// The file units of a run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "encoder/control/settings.h"
#include "encoder/control/units.h"
#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {
std::string tempname(const char* name) {
  return testing::TempDir() + "/units-" + std::to_string(getpid()) + "-" + name;
}
}  // namespace

TEST(units, openwriteclose_andclosingaunitnotopendoesnothing) {
  EXPECT_TRUE(unitclose(unitstream));  // not open: nothing
  EXPECT_FALSE(unitisopen(unitstream));
  EXPECT_FALSE(unitwrite(unitstream, "x", 1));
  EXPECT_FALSE(logline("nothing"));
  std::string out = tempname("out.m2v"), log = tempname("log.txt");
  ASSERT_TRUE(unitopen(unitstream, out, unitnew));
  ASSERT_TRUE(unitopen(unitlog, log, unitappend));
  std::string rec(8192, 'a'), rec2(8192, 'b'), back(8192, 0);
  EXPECT_TRUE(unitwriterecord(unitstream, 2, rec2.data(), 8192));
  EXPECT_TRUE(unitwriterecord(unitstream, 1, rec.data(), 8192));
  EXPECT_TRUE(unitreadrecord(unitstream, 2, back.data(), 8192));
  EXPECT_EQ(back, rec2);
  EXPECT_FALSE(unitreadrecord(unitstream, 3, back.data(), 8192));
  EXPECT_TRUE(logline(" encoding statistics pass 1     "));
  EXPECT_TRUE(logline(""));
  closerununits();
  EXPECT_FALSE(unitisopen(unitstream));
  EXPECT_FALSE(unitisopen(unitlog));
  EXPECT_EQ(fs::file_size(out), 16384u);
  EXPECT_EQ(readfile(log), " encoding statistics pass 1\n\n");
  ASSERT_TRUE(unitopen(unitlog, log, unitappend));
  EXPECT_TRUE(logline("again"));
  EXPECT_TRUE(unitclose(unitlog));
  EXPECT_EQ(readfile(log), " encoding statistics pass 1\n\nagain\n");
  EXPECT_FALSE(unitopen(unitchapter, tempname("missing.txt"), unitread));
  fs::remove(out);
  fs::remove(log);
}

TEST(units, deletescratchremovesthedbsfileonly) {
  std::string dbs = tempname("KJ01.dbs");
  writefile(dbs, "x");
  settings.dbspath = "";
  deletescratch();  // no name: nothing
  EXPECT_TRUE(fs::exists(dbs));
  settings.dbspath = dbs + "   ";  // a blank-padded field
  deletescratch();
  EXPECT_FALSE(fs::exists(dbs));
  deletescratch();  // already gone: nothing
  settings.dbspath = "";
}
