// The scene-change scan: on generated clips with cuts at known frames it lists exactly those
// frames (also with a mask and shift set, which the preview applies to a copy only), runs on a
// thread of its own whose writes to the page go through the layer's table, can be stopped
// mid-way with the chapters found so far, and the tabs stay refused while it runs.
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "dialogs/driver.h"
#include "dialogs/layer.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "resources/frontend.h"
#include "tests/frontend/clips.h"
#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"

namespace {

using namespace std::chrono_literals;

// The page's slider as a window backend sees it move: which threads moved it, and a hold: at
// the position given the scan waits until it is asked to stop (so a test can act mid-way).
struct sliderwatch : dlgbackend {
  std::mutex lock;
  std::set<std::thread::id> threads;
  std::vector<int> positions;
  int last = 0;  // the position seen last (changes of the enabled state alone do not count)
  int holdat = -1;
  std::atomic<bool> held{false};
  void changed(dialogrecord& dlg, const dlgcontrol& row) override {
    if (&dlg != frontdialog(pagechapters) || row.id != 1061) return;
    {
      std::lock_guard<std::mutex> g(lock);
      if (row.value == last) return;
      last = row.value;
      threads.insert(std::this_thread::get_id());
      positions.push_back(row.value);
    }
    if (holdat < 0 || row.value < holdat || held) return;
    held = true;
    for (auto until = std::chrono::steady_clock::now() + 20s; !scanstopping() && std::chrono::steady_clock::now() < until;)
      std::this_thread::sleep_for(1ms);
  }
};

// The controls a scan disables.
const int locked[] = {2008, 2009, 1097, 1029, 1030, 1037, 1038, 1015, 1011, 1012, 1016, 1014, 1013, 1036, 1061};

class scan : public frontfixture {
 protected:
  void SetUp() override {
    frontfixture::SetUp();
    dlgsetbackend(&watch);
  }
  void TearDown() override {
    stopscan();
    dlgsetbackend(nullptr);
    frontfixture::TearDown();
  }
  // A clip of scenes, 64 x 48 (chroma planes of 768 bytes, not a multiple of a block), opened
  // and its Preview/Chapters page chosen.
  std::vector<yuvframe> open(int n, const std::vector<int>& cuts) {
    std::vector<yuvframe> frames;
    for (int f = 0; f < n; f++) frames.push_back(sceneframe(64, 48, f, cuts));
    writefile(dir + "scenes.y4m", y4m(frames));
    start("*INFILE " + script("clip.avs", "Y4MSource(\"scenes.y4m\")\n") + "\n");
    EXPECT_EQ(guisettings.sourceframes, n);
    userselect(dlg(dlgmain), tabcontrol, 5);
    std::lock_guard<std::mutex> g(watch.lock);
    watch.threads.clear();  // the start-up put the sliders' ranges
    watch.positions.clear();
    watch.last = dlggetint(dlg(pagechapters), 1061);
    return frames;
  }
  void waitscan() {
    for (auto until = std::chrono::steady_clock::now() + 60s; scanrunning && std::chrono::steady_clock::now() < until;)
      std::this_thread::sleep_for(1ms);
    ASSERT_FALSE(scanrunning);
  }
  std::vector<int> chapters() {
    return std::vector<int>(chaptertable.frames + 1, chaptertable.frames + 1 + chaptertable.count);
  }
  std::vector<std::string> listed() {
    std::vector<std::string> v;
    for (int i = 1; i <= dlggetint(dlg(pagechapters), 1094, ixcount); i++)
      v.push_back(dlggettext(dlg(pagechapters), 1094, 8, i));
    return v;
  }
  void expectidle() {
    EXPECT_EQ(text(pagechapters, 2010), "create SCD chapter list");
    for (int id : locked) EXPECT_TRUE(dlggetflag(dlg(pagechapters), id, ixenabled)) << id;
    EXPECT_FALSE(scanrunning);
  }
  sliderwatch watch;
};

std::vector<std::string> lines(const std::vector<int>& frames) {
  std::vector<std::string> v;
  for (int f : frames) v.push_back(fmtint(f, 8));
  return v;
}

}  // namespace

// Cuts at frames 6, 20, 21 and 33 of 40 frames: those four chapters and no others, without a
// mask and with one (the preview of a cut masks a copy; the next comparison sees the frame as
// the source gives it). The page shows the last cut's frame (the one after it) masked, the
// progress stands at frame 39, and chapters from before the scan are gone.
TEST_F(scan, listsexactlythecuts) {
  const std::vector<int> cuts = {6, 20, 21, 33};
  std::vector<yuvframe> frames = open(40, cuts);
  const struct {
    int top, bottom, shift;
  } masks[] = {{0, 0, 0}, {16, 8, 3}, {0, 0, -7}};
  for (const auto& m : masks) {
    SCOPED_TRACE("mask " + std::to_string(m.top) + " " + std::to_string(m.bottom) + " " + std::to_string(m.shift));
    guisettings.guiaspect = 2;
    guisettings.guimask[0] = m.top, guisettings.guimask[1] = m.bottom, guisettings.guimask[2] = m.shift;
    chaptertable.frames[++chaptertable.count] = 3;
    const bool encodeon = dlggetflag(dlg(dlgmain), 1012, ixenabled);
    userclick(dlg(pagechapters), 2010);
    waitscan();
    EXPECT_EQ(chapters(), cuts);
    EXPECT_EQ(listed(), lines(cuts));
    EXPECT_EQ(statustext, " scene change chapters put into list");
    expectidle();
    EXPECT_EQ(dlggetflag(dlg(dlgmain), 1012, ixenabled), encodeon);
    EXPECT_EQ(dlggetint(dlg(pagechapters), 1061), 975);
    EXPECT_EQ(text(pagechapters, 1036), "39");
    std::vector<uint8_t> rgb;
    int w, h;
    ASSERT_TRUE(dlgpicture(dlg(pagechapters), previewbox, rgb, w, h));
    EXPECT_TRUE(rgb == boxmodel(maskedmodel(frames[34], m.top, m.bottom, m.shift), 2, w, h));
    // The slider moved only forward, once a position, and never from the test's thread.
    std::lock_guard<std::mutex> g(watch.lock);
    for (size_t i = 1; i < watch.positions.size(); i++) EXPECT_GT(watch.positions[i], watch.positions[i - 1]);
    EXPECT_EQ(watch.positions.size(), 39u);
    EXPECT_EQ(watch.threads.size(), 1u);
    EXPECT_EQ(watch.threads.count(std::this_thread::get_id()), 0u);
    watch.positions.clear();
    watch.threads.clear();
  }
}

// Clips without cuts find nothing: one frame, a moving texture, a still picture, a fast moving
// test picture (its first differences stand out against the history's start of nothing: frame 1
// is no scene change); with a cut only the cut.
TEST_F(scan, nocutsnochaptersnotevenatframe1) {
  for (int n : {1, 30}) {
    if (n != 1) again();
    open(n, {});
    userclick(dlg(pagechapters), 2010);
    waitscan();
    EXPECT_EQ(chaptertable.count, 0) << n;
    EXPECT_EQ(statustext, " no scene change found") << n;
    expectidle();
  }
  const struct {
    const char* clip;
    std::vector<int> chapters;
  } clips[] = {{"BlankClip(length=20, width=64, height=48)", {}},
               {"TestPattern(length=40, width=720, height=144)", {}},
               {"TestPattern(length=40, width=720, height=144, cut=17)", {17}}};
  for (const auto& c : clips) {
    again();
    start("*INFILE " + script("clip.avs", std::string(c.clip) + "\n") + "\n");
    userselect(dlg(dlgmain), tabcontrol, 5);
    userclick(dlg(pagechapters), 2010);
    waitscan();
    EXPECT_EQ(chapters(), c.chapters) << c.clip;
    EXPECT_EQ(statustext, c.chapters.empty() ? " no scene change found" : " scene change chapters put into list");
  }
}

// Mid-way (held at frame 60 of 100, cuts at 20, 50 and 80): the page is locked, tab changes are
// refused, the button stops the scan; the chapters found so far are listed and the page is
// restored. A second scan then runs to the end.
TEST_F(scan, stopsmidwaywiththechaptersfoundsofar) {
  open(100, {20, 50, 80});
  watch.holdat = 600;
  userclick(dlg(pagechapters), 2010);
  for (auto until = std::chrono::steady_clock::now() + 30s; !watch.held && std::chrono::steady_clock::now() < until;)
    std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(watch.held);
  EXPECT_TRUE(scanrunning);
  EXPECT_EQ(text(pagechapters, 2010), "stop scanning");
  for (int id : locked) EXPECT_FALSE(dlggetflag(dlg(pagechapters), id, ixenabled)) << id;
  EXPECT_TRUE(dlggetflag(dlg(pagechapters), 2010, ixenabled));
  for (int tab : {1, 6}) {
    userselect(dlg(dlgmain), tabcontrol, tab);
    EXPECT_EQ(dlggetint(dlg(dlgmain), tabcontrol, ixstate), 5);
    EXPECT_EQ(statustext, " can't change tab while scene change detection scan is running");
  }
  // The button's callback as the window thread runs it (the slider's change is held, so the
  // page's row cannot be touched meanwhile).
  chapterpage(dlg(pagechapters), 2010, evclick);
  EXPECT_EQ(chapters(), (std::vector<int>{20, 50}));
  EXPECT_EQ(listed(), lines({20, 50}));
  EXPECT_EQ(statustext, " scanning interrupted, found scene change chapters put into list");
  expectidle();
  {
    std::lock_guard<std::mutex> g(watch.lock);
    EXPECT_EQ(watch.threads.count(std::this_thread::get_id()), 0u);
  }

  watch.holdat = -1;
  userclick(dlg(pagechapters), 2010);
  waitscan();
  EXPECT_EQ(chapters(), (std::vector<int>{20, 50, 80}));
  userselect(dlg(dlgmain), tabcontrol, 1);
  EXPECT_EQ(dlggetint(dlg(dlgmain), tabcontrol, ixstate), 1);
}
