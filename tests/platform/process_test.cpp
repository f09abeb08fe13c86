// Starting a program and waiting for it; the creation date of a file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "platform/system.h"

namespace fs = std::filesystem;

namespace {
struct tempdir {
  fs::path dir;
  tempdir() {
    char t[] = "/tmp/ostrelprocXXXXXX";
    dir = mkdtemp(t);
  }
  ~tempdir() { fs::remove_all(dir); }
};

void script(const fs::path& p, const std::string& body) {
  std::ofstream(p) << "#!/bin/sh\n" << body;
  fs::permissions(p, fs::perms::owner_all);
}
}  // namespace

// The program runs in the folder given, without arguments, and its end is waited for; its exit
// status (or the signal that ended it) comes back, -1 with a reason when it cannot start.
TEST(process, runsinthefoldergivenandgivesbackitsstatus) {
  tempdir t;
  script(t.dir / "enc", "pwd > here.txt\necho $# >> here.txt\nsleep 0.2\nexit 3\n");
  script(t.dir / "killed", "kill -TERM $$\n");
  std::string why;
  EXPECT_EQ(runprogram((t.dir / "enc").string(), t.dir.string(), why), 3);
  std::ifstream in(t.dir / "here.txt");
  std::string folder, args;
  std::getline(in, folder);
  std::getline(in, args);
  EXPECT_EQ(fs::path(folder), t.dir);
  EXPECT_EQ(args, "0");
  EXPECT_EQ(runprogram((t.dir / "killed").string(), "", why), 128 + 15);
  EXPECT_EQ(runprogram((t.dir / "missing").string(), t.dir.string(), why), -1);
  EXPECT_NE(why.find("missing"), std::string::npos) << why;
  why.clear();
  EXPECT_EQ(runprogram((t.dir / "enc").string(), (t.dir / "nofolder").string(), why), -1);
  EXPECT_FALSE(why.empty());
}

// With a line sink the program's standard error comes through a pipe, line by line and in
// order, while the program runs: much more than a pipe holds (the program never blocks), a line
// longer than 64 KiB cut there, a last line without its line end.
TEST(process, standarderrorcomesthroughapipelinebyline) {
  tempdir t;
  script(t.dir / "enc",
         "i=0; while [ $i -lt 3000 ]; do echo \"ostrel: line $i of a program that says much\" >&2; i=$((i+1)); done\n"
         "head -c 70000 /dev/zero | tr '\\0' x >&2; echo >&2\n"
         "printf 'last' >&2\n"
         "exit 1\n");
  std::vector<std::string> said;
  std::string why;
  EXPECT_EQ(runprogram((t.dir / "enc").string(), t.dir.string(), why, [&](const std::string& l) { said.push_back(l); }),
            1);
  ASSERT_EQ(said.size(), 3002u);
  EXPECT_EQ(said[0], "ostrel: line 0 of a program that says much");
  EXPECT_EQ(said[2999], "ostrel: line 2999 of a program that says much");
  EXPECT_EQ(said[3000], std::string(65536, 'x'));
  EXPECT_EQ(said[3001], "last");
  // A program that cannot start says nothing and gives -1.
  said.clear();
  EXPECT_EQ(runprogram((t.dir / "missing").string(), "", why, [&](const std::string& l) { said.push_back(l); }), -1);
  EXPECT_TRUE(said.empty());
}

TEST(process, astandinlaunchertakestheplaceoftherealone) {
  std::string seen;
  setlauncher([&](const std::string& path, const std::string& folder, std::string& why, const errorlines& lines) {
    seen = path + " in " + folder;
    if (lines) lines("said");
    return 7;
  });
  std::string why;
  EXPECT_EQ(runprogram("/nowhere/ostrel", "/nowhere/", why), 7);
  EXPECT_EQ(seen, "/nowhere/ostrel in /nowhere/");
  std::vector<std::string> said;
  EXPECT_EQ(runprogram("/nowhere/ostrel", "", why, [&](const std::string& l) { said.push_back(l); }), 7);
  EXPECT_EQ(said, std::vector<std::string>{"said"});
  setlauncher(nullptr);
  EXPECT_EQ(runprogram("/nowhere/ostrel", "", why), -1);
}

TEST(process, filedateisthelocaldateofafile) {
  tempdir t;
  std::ofstream(t.dir / "f") << "x";
  int y = 0, m = 0, d = 0;
  ASSERT_TRUE(filedate((t.dir / "f").string(), y, m, d));
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  // Written a moment ago: today (or yesterday, just after midnight).
  EXPECT_EQ(y * 10000 + m * 100 + d <= (local.tm_year + 1900) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday, true);
  EXPECT_GE(y, local.tm_year + 1900 - 1);
  EXPECT_FALSE(filedate((t.dir / "none").string(), y, m, d));
}
