// The set-up scripts from outside, on a copy of the tree: scripts/demo.sh and scripts/test.sh
// in either order, any number of times, and the normal build's tests are always there when
// test.sh runs them. cmake configures for real; the rest stands in (stub commands first in
// PATH): "cmake --build" only notes its folder and leaves a stand-in encoder in bin/, ctest
// notes its arguments and counts the tests the folder's configuration registers (ctest -N),
// apt-get never runs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/blackbox.h"

namespace fs = std::filesystem;

namespace {

void script(const std::string& path, const std::string& text) {
  writefile(path, "#!/bin/sh\n" + text);
  chmod(path.c_str(), 0755);
}

struct treecopy {
  std::string dir, stubs, log;
  treecopy() {
    std::string t = (fs::temp_directory_path() / "ostrel-scripts-XXXXXX").string();
    if (!mkdtemp(t.data())) throw std::runtime_error("mkdtemp failed");
    dir = t + "/tree";
    stubs = t + "/stubs";
    log = t + "/log";
    fs::create_directories(dir);
    fs::create_directories(stubs);
    // The sources as a fresh clone has them: no build folder, no repository.
    for (const auto& e : fs::directory_iterator(OSTREL_SOURCEDIR)) {
      std::string name = e.path().filename().string();
      if (name.rfind("build", 0) == 0 || name == ".git") continue;
      fs::copy(e.path(), fs::path(dir) / name, fs::copy_options::recursive);
    }
    script(stubs + "/cmake",
           "if [ \"$1\" = --build ]; then\n"
           "  echo \"build $2\" >>\"$STUBLOG\"\n"
           "  mkdir -p \"$2/bin\" && printf '#!/bin/sh\\necho \"ostrel $*\" >>\"$STUBLOG\"\\n' >\"$2/bin/ostrel\"\n"
           "  chmod +x \"$2/bin/ostrel\"\n"
           "  exit 0\n"
           "fi\n"
           "exec '" CMAKE_COMMAND "' \"$@\"\n");
    script(stubs + "/ctest",
           "dir=; prev=\n"
           "for a; do [ \"$prev\" = --test-dir ] && dir=$a; prev=$a; done\n"
           "n=$('" CTEST_COMMAND "' --test-dir \"$dir\" -N | sed -n 's/^Total Tests: //p')\n"
           "echo \"ctest $dir ${n:-0} $*\" >>\"$STUBLOG\"\n");
    script(stubs + "/apt-get", "echo \"apt-get $*\" >>\"$STUBLOG\"\nexit 1\n");
  }
  ~treecopy() {
    if (std::getenv("OSTREL_KEEP_TEST_FOLDERS")) return;
    std::error_code ec;
    fs::remove_all(fs::path(dir).parent_path(), ec);
  }
  // Runs one script; the lines its stand-ins noted.
  std::vector<std::string> run(const std::string& name, runresult& r) {
    fs::remove(log);
    const char* path = std::getenv("PATH");
    // The caller's own skip variables (the README's quick run sets them) must not leave a
    // build out here: every run of test.sh is to make all three.
    r = runcommand({"bash", "scripts/" + name}, dir,
                   {"PATH=" + stubs + ":" + (path ? path : "/usr/bin:/bin"), "STUBLOG=" + log,
                    "OSTREL_SKIP_SANITIZE=0", "OSTREL_SKIP_TSAN=0"},
                   240);
    std::vector<std::string> v;
    std::istringstream s(readfile(log));
    for (std::string l; std::getline(s, l);) v.push_back(l);
    return v;
  }
};

}  // namespace

TEST(setupscripts, demoandtestineitherorderalwaysruneverytest) {
  treecopy tree;
  // What test.sh must do each time: the three builds, and ctest on each folder sees its tests
  // and fails when it finds none.
  auto testedall = [](const std::vector<std::string>& noted, const runresult& r) {
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    std::vector<std::string> folders;
    for (const std::string& l : noted) {
      std::istringstream s(l);
      std::string what, folder;
      int tests = 0;
      s >> what >> folder >> tests;
      if (what == "build") folders.push_back(folder);
      if (what != "ctest") continue;
      EXPECT_GT(tests, 0) << l;
      EXPECT_NE(l.find("--no-tests=error"), std::string::npos) << l;
      folders.push_back("ran " + folder);
    }
    EXPECT_EQ(folders, (std::vector<std::string>{"build", "ran build", "build-asan", "ran build-asan",
                                                 "build-tsan", "ran build-tsan"}));
  };
  auto demoran = [](const std::vector<std::string>& noted, const runresult& r) {
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(noted, (std::vector<std::string>{"build build", "ostrel -i demo.avs -o demo.m2v -cq 4 -log demo.log"}));
  };
  runresult r;
  for (const char* order : {"demo", "test", "test", "demo", "demo", "test"}) {
    SCOPED_TRACE(order);
    std::vector<std::string> noted = tree.run(std::string(order) + ".sh", r);
    if (std::string(order) == "demo") demoran(noted, r);
    else testedall(noted, r);
  }
}
