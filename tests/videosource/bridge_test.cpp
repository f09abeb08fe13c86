// The bridge's result codes, each from a real case, its decoder side with a test-only decoder
// library, and two threads fetching at once.
#include <dlfcn.h>

#include <cstring>
#include <sstream>
#include <thread>

#include "platform/dynload.h"
#include "tests/videosource/fakes.h"
#include "tests/videosource/vstest.h"

namespace {

uint32_t hash(const std::vector<uint8_t>& p) {
  uint32_t h = 2166136261u;
  for (uint8_t b : p) h = (h ^ b) * 16777619u;
  return h;
}

// The probe's printed lines, run from a program folder holding only the probe and the given
// libraries under their program-folder names.
std::vector<std::string> probe(const tempfolder& folder, const std::vector<std::string>& ops) {
  folder.copy(BRIDGEPROBE, "bridgeprobe");
  std::vector<std::string> argv{folder.path("bridgeprobe")};
  argv.insert(argv.end(), ops.begin(), ops.end());
  runresult r = runcommand(argv, folder.dir(), {}, 60);
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines;
  std::istringstream in(r.out);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::string fakeframehashes(int n, int w, int h) {
  std::vector<uint8_t> y((size_t)w * h), u((size_t)w * h / 4), v((size_t)w * h / 4);
  for (size_t i = 0; i < y.size(); i++) y[i] = fakeluma(n, (int)i);
  for (size_t i = 0; i < u.size(); i++) {
    u[i] = fakecb(n, (int)i);
    v[i] = fakecr(n, (int)i);
  }
  char b[64];
  std::snprintf(b, sizeof b, "%08x %08x %08x", hash(y), hash(u), hash(v));
  return b;
}

std::string untouchedhashes(int w, int h) {
  std::vector<uint8_t> y((size_t)w * h, 0x55), c((size_t)w * h / 4, 0x55);
  char b[64];
  std::snprintf(b, sizeof b, "%08x %08x %08x", hash(y), hash(c), hash(c));
  return b;
}

int failingrelease(void*) { return -1; }

}  // namespace

TEST(bridgecodes, nothingInTheProgramFolder) {
  tempfolder f;
  f.write("p.d2v", "FAKE 64 32 25 1 10 0\n");
  auto out = probe(f, {"avsopen", "x.avs", "avsload", "avsopen", "x.avs", "avsgetframe", "0", "avsclose",
                       "d2vfree", "d2vload", "DGDecode.dll", "d2vopen", "p.d2v", "d2vgetframe", "0", "d2vfree"});
  std::vector<std::string> want{"avsopen 1 -1 -1 -1 -1 -1",  // before avsload
                                "avsload 1",
                                "avsopen 1 -1 -1 -1 -1 -1",
                                "avsgetframe 6 " + untouchedhashes(64, 64),
                                "avsclose 0",
                                "d2vfree 0",  // nothing loaded
                                "d2vload 128",
                                "d2vopen 128 -1 -1 -1 -1 -1 -1",
                                "d2vgetframe " + untouchedhashes(64, 64),
                                "d2vfree 0"};
  EXPECT_EQ(out, want);
}

TEST(bridgecodes, frameServerWithoutEnvironment) {
  // Without the export, and with an export that gives no environment: 2, and avsopen passes
  // its first test but answers 2 instead of calling through a missing environment.
  for (const char* lib : {FAKEAVS_NOENTRY, FAKEAVS_NULLENV}) {
    SCOPED_TRACE(lib);
    tempfolder f;
    f.copy(lib, "avisynth.dll");
    f.write("x.avs", "BlankClip()\n");
    auto out = probe(f, {"avsload", "avsopen", "x.avs", "avsgetframe", "0", "avsload", "avsclose"});
    std::vector<std::string> want{"avsload 2", "avsopen 2 -1 -1 -1 -1 -1", "avsgetframe 6 " + untouchedhashes(64, 64),
                                  "avsload 2", "avsclose 0"};
    EXPECT_EQ(out, want);
  }
}

TEST(bridgecodes, frameServerFromTheProgramFolder) {
  // Our frame server found by its bare name beside the program, not in the working folder.
  tempfolder f, work;
  f.copy(std::string(OSTREL_PROGDIR) + "/avisynth.dll", "avisynth.dll");
  std::string s = f.write("x.avs", "BlankClip(length=5, width=32, height=16, color_yuv=$102030)\n");
  f.copy(BRIDGEPROBE, "bridgeprobe");
  runresult r = runcommand({f.path("bridgeprobe"), "avsload", "avsopen", s, "avsclose"}, work.dir(), {}, 60);
  EXPECT_EQ(r.out, "avsload 0\navsopen 0 32 16 5 25 1\navsclose 0\n") << r.err;
}

TEST(bridgecodes, decoderLibraryByItsBareName) {
  tempfolder f;
  f.copy(FAKEDGDECODE, "DGDecode.dll");
  f.write("good.d2v", "FAKE 48 32 30000 1001 20 77\n");
  f.write("null.d2v", "not a project\n");
  f.write("zero.d2v", "FAKE 48 32 25 1 0 5\n");
  auto out = probe(f, {"d2vload", "DGDecode.dll", "d2vopen", "null.d2v", "d2vopen", "zero.d2v", "d2vgetframe", "1",
                       "d2vopen", "good.d2v", "d2vgetframe", "3", "d2vgetframe", "666", "d2vfree", "d2vfree",
                       "d2vopen", "good.d2v"});
  std::vector<std::string> want{
      "d2vload 0",
      "d2vopen 131 -1 -1 -1 -1 -1 -1",  // openMPEG2Source gave null
      "d2vopen 132 48 32 0 25 1 5",     // frame count 0: the outputs already hold the record
      "d2vgetframe " + untouchedhashes(64, 64),  // the project was forgotten
      "d2vopen 0 48 32 20 30000 1001 77",
      "d2vgetframe " + fakeframehashes(3, 48, 32),
      "d2vgetframe " + untouchedhashes(48, 32),  // the decoder gave no frame
      "d2vfree 0",
      "d2vfree 0",                        // a second free does not free again
      "d2vopen 128 -1 -1 -1 -1 -1 -1"};   // no library after the free
  EXPECT_EQ(out, want);
}

TEST(bridgecodes, decoderLibraryWithoutAnExport) {
  tempfolder f;
  f.copy(FAKEDGDECODE_NOCLOSE, "DGDecode.dll");
  f.write("good.d2v", "FAKE 48 32 25 1 20 0\n");
  auto out = probe(f, {"d2vload", "DGDecode.dll", "d2vopen", "good.d2v", "d2vopen", "good.d2v", "d2vfree"});
  std::vector<std::string> want{"d2vload 0", "d2vopen 130 -1 -1 -1 -1 -1 -1", "d2vopen 130 -1 -1 -1 -1 -1 -1",
                                "d2vfree 0"};
  EXPECT_EQ(out, want);
}

TEST(bridgecodes, zeroFieldsOfTheVideoRecord) {
  tempfolder f;
  ASSERT_EQ(d2vload(FAKEDGDECODE), 0);
  const char* cases[] = {"FAKE 0 32 25 1 9 0", "FAKE 48 0 25 1 9 0", "FAKE 48 32 0 1 9 0", "FAKE 48 32 25 0 9 0",
                         "FAKE 48 32 25 1 0 0"};
  for (const char* c : cases) {
    int w, h, n, a, b;
    EXPECT_EQ(d2vopen(f.write("z.d2v", c).c_str(), w, h, n, a, b), 132) << c;
  }
  EXPECT_EQ(d2vfree(), 0);
}

TEST(bridgecodes, releaseFailures) {
  // A library that cannot be freed: 7 and 129, and it stays usable and can be freed later.
  ASSERT_EQ(avsload(), 0);
  ASSERT_EQ(d2vload(FAKEDGDECODE), 0);
  dynreleaser = failingrelease;
  EXPECT_EQ(avsclose(), 7);
  EXPECT_EQ(d2vfree(), 129);
  dynreleaser = dlclose;
  tempfolder f;
  int w, h, n, a, b;
  EXPECT_EQ(d2vopen(f.write("p.d2v", "FAKE 16 16 25 1 3 0").c_str(), w, h, n, a, b), 0);
  EXPECT_EQ(d2vfree(), 0);
  EXPECT_EQ(avsclose(), 0);
  EXPECT_EQ(avsload(), 0);
  EXPECT_EQ(avsclose(), 0);
}

TEST(bridgecodes, closedFrameServerAnswersOne) {
  ASSERT_EQ(avsload(), 0);
  EXPECT_EQ(avsclose(), 0);
  EXPECT_EQ(avsclose(), 0);  // nothing left to free
  tempfolder f;
  EXPECT_EQ(openscript(f.write("x.avs", "BlankClip()")).code, 1);
}

TEST(dynload, programFolderThenNormalSearch) {
  void* m = dynload("libm.so.6");  // not in the program folder: the normal search finds it
  ASSERT_NE(m, nullptr);
  EXPECT_NE(dynentry(m, "cos"), nullptr);
  EXPECT_EQ(dynentry(m, "no_such_export"), nullptr);
  EXPECT_TRUE(dynfree(m));
  EXPECT_FALSE(dynfree(m));  // released already: refused, not passed to the system
  EXPECT_FALSE(dynfree(nullptr));
  EXPECT_EQ(dynload("no-such-library.dll"), nullptr);
  EXPECT_EQ(dynload(""), nullptr);
  void* a = dynload("avisynth.dll");  // beside this test program
  ASSERT_NE(a, nullptr);
  EXPECT_NE(dynentry(a, "CreateScriptEnvironment"), nullptr);
  EXPECT_TRUE(dynfree(a));
}

// The front end fetches from its window thread and its scan thread at once; each must get
// exactly the frames it asked for, from a frame-server clip and from a D2V project.
TEST(bridgethreads, twoThreadsFetchFrames) {
  tempfolder f;
  ASSERT_EQ(avsload(), 0);
  opened o = openscript(f.write("p.avs", "TestPattern(length=40, width=96, height=64)"));
  ASSERT_EQ(o.code, 0) << o.msg;
  std::vector<planes> want;
  for (int n = 0; n < 40; n++) {
    want.emplace_back(96, 64);
    ASSERT_EQ(want.back().get(n), 0);
  }
  ASSERT_EQ(d2vload(FAKEDGDECODE), 0);
  int w, h, n, a, b;
  ASSERT_EQ(d2vopen(f.write("p.d2v", "FAKE 32 16 25 1 50 0").c_str(), w, h, n, a, b), 0);

  std::atomic<int> bad{0};
  auto worker = [&](int seed) {
    planes p(96, 64);
    std::vector<uint8_t> y(512), u(128), v(128);
    for (int i = 0; i < 300; i++) {
      int k = (i * 7 + seed * 13) % 40;
      if (p.get(k) != 0 || !(p == want[k])) bad++;
      d2vgetframe(k, y.data(), u.data(), v.data());
      for (int j = 0; j < 512; j++)
        if (y[j] != fakeluma(k, j)) bad++;
      for (int j = 0; j < 128; j++)
        if (u[j] != fakecb(k, j) || v[j] != fakecr(k, j)) bad++;
    }
  };
  std::thread t1(worker, 1), t2(worker, 2);
  t1.join();
  t2.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(d2vfree(), 0);
  EXPECT_EQ(avsclose(), 0);
}
