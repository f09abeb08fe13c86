// The movie information group and the file length of the Main page.
#include <gtest/gtest.h>

#include <cmath>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "tests/frontend/fixture.h"
#include "tests/frontend/pagestates.h"

namespace {
using movie = frontfixture;

// The group's fields in the order movieinfo fills them.
const int fields[] = {1088, 1089, 1099, 1101, 1098, 1102, 1103, 1106, 1104, 1105};

std::vector<std::string> shown() {
  std::vector<std::string> v;
  for (int id : fields) v.push_back(trimright(dlggettext(dlgof(pagemain), id)));
  return v;
}

// A source as an open leaves the model.
void source(int width, int height, int frames, float fps, int start, int end) {
  guisettingsrec& g = guisettings;
  movieinfovalid = true;
  previewstate.width = width, previewstate.height = height;
  g.sourceframes = frames, g.sourcefps = fps, g.sourceseconds = (float)frames / fps;
  g.startframe = start, g.endframe = end, g.framespan = end - start + 1;
}
}  // namespace

// A 720x576 source at 25 frames a second opened by the start-up chain: every field of the group,
// and the file length of 1,000 frames at the default 4000 and at 5000 kbit/s.
TEST_F(movie, a720x576sourceat25framesasecond) {
  start("*INFILE " + script("clip.avs", "TestPattern(length=1000, width=720, height=576, fps=25)\n") + "\n");
  // A DVD size at a DVD rate: no warning.
  EXPECT_EQ(statustext, " KJ.ini successfully processed, Avisynth.dll loaded, Avisynth successfully initialized");
  EXPECT_EQ(shown(), (std::vector<std::string>{"0", "999", "720x576", "25.0000", "1000", "40.00", " 0:00:40",
                                                     "1000", "40.00", " 0:00:40"}));
  EXPECT_TRUE(dlggetflag(dlg(pagemain), 1111, ixenabled));
  // 4000 kbit/s x 40 s / 1.024 = 156,250 kbits, 19,531 kbytes.
  EXPECT_EQ(text(pagemain, 1086), "19531");
  dlgputtext(dlg(pagemain), 1087, "5000");
  filelength();
  EXPECT_EQ(text(pagemain, 1086), "24414");
  EXPECT_EQ(guisettings.avgkbits, 5000);
  EXPECT_EQ(guisettings.filekbytes, 24414);
}

// The file length in single precision: 1,000 frames at 25 frames a second and 5000 kbit/s give
// q = 195,312.484375 (195,312.5 in double precision, which also gives 24,414 after the division
// by 8); 190 frames at 4000 kbit/s tell the two apart: q = 29,687.498 in single precision gives
// 3,710, where double precision's 29,687.5 would give 3,711.
TEST_F(movie, thefilelengthinsingleprecision) {
  start("");
  EXPECT_EQ(std::llround(5000.0f * (1000.0f / 25.0f) / 1.024f), 195312);
  struct row {
    int frames;
    float fps;
    const char* average;
    int modelaverage;  // what the model holds before the read
    const char* length;
    int average_after;
  };
  const row rows[] = {
      {1000, 25.0f, "5000", 0, "24414", 5000},
      {90000, 25.0f, "6000", 0, "2636718", 6000},
      {190, 25.0f, "4000", 0, "3710", 4000},
      {1000, 30000.0f / 1001.0f, " 8000 ", 0, "32584", 8000},
      // A text without a number keeps the model's average.
      {1000, 25.0f, "fast", 2000, "9765", 2000},
      // A rate of 1 frame a second or less gives no estimate.
      {1000, 1.0f, "5000", 0, "0", 5000},
      {1000, 0.5f, "5000", 0, "0", 5000},
  };
  for (const row& r : rows) {
    source(720, 576, r.frames, r.fps, 0, r.frames - 1);
    guisettings.avgkbits = r.modelaverage;
    dlgputtext(dlg(pagemain), 1087, r.average);
    filelength();
    EXPECT_EQ(text(pagemain, 1086), r.length) << r.frames << " frames at " << r.fps << ", " << r.average;
    EXPECT_EQ(guisettings.avgkbits, r.average_after);
  }
  // Without a source the field is empty.
  movieinfovalid = false;
  filelength();
  EXPECT_EQ(text(pagemain, 1086), "");
}

// The size text, the rate, the rounding of whole seconds, a range of one frame, and no source.
TEST_F(movie, thegroupsfields) {
  start("");
  struct row {
    int width, height, frames;
    float fps;
    int start, end;
    std::vector<std::string> fields;
  };
  const row rows[] = {
      {1280, 720, 100, 50.0f, 0, 99,
       {"0", "99", "1280x720 HD res", "50.0000", "100", "2.00", " 0:00:02", "100", "2.00", " 0:00:02"}},
      {704, 480, 1798, 30000.0f / 1001.0f, 10, 1497,
       {"10", "1497", "704x480", "29.9700", "1798", "59.99", " 0:01:00", "1488", "49.65", " 0:00:50"}},
      {720, 577, 90000, 25.0f, 5, 5,
       {"5", "5", "720x577 HD res", "25.0000", "90000", "3600.00", " 1:00:00", "1", "0.04", " 0:00:00"}},
  };
  for (const row& r : rows) {
    source(r.width, r.height, r.frames, r.fps, r.start, r.end);
    movieinfo();
    EXPECT_EQ(shown(), r.fields) << r.width << "x" << r.height;
  }
  // Half a second rounds away from zero.
  source(352, 288, 1000, 25.0f, 0, 999);
  guisettings.sourceseconds = 59.5f;
  guisettings.framespan = 62;  // 2.48 s
  movieinfo();
  EXPECT_EQ(text(pagemain, 1103), " 0:01:00");
  EXPECT_EQ(text(pagemain, 1105), " 0:00:02");

  movieinfovalid = false;
  movieinfo();
  EXPECT_EQ(shown(), std::vector<std::string>(10, "-"));
  EXPECT_FALSE(dlggetflag(dlg(pagemain), 1111, ixenabled));
  EXPECT_EQ(guisettings.startframe, -1);
  EXPECT_EQ(guisettings.endframe, -1);
  EXPECT_EQ(guisettings.framespan, 0);
}
