// The window icons of both programs: their pixels from the resources, the front end's main
// window carrying icon 116 (headless in the table, in a window as the X window's icon).
#include <gtest/gtest.h>

#include "dialogs/dialogs.h"
#include "dialogs/layer.h"
#include "frontend/window/front.h"
#include "resources/encoder.h"
#include "resources/frontend.h"
#include "tests/frontend/fixture.h"
#include "tests/support/blackbox.h"
#include "tests/support/display.h"

// 32 x 32 pixels: transparent at the sides, the film's black and its white holes opaque, the
// picture in colour; an icon the resources do not hold gives nothing.
TEST(icons, thepixelsofbothprogramsicons) {
  const struct {
    const dlgiconres* list;
    int count, id;
    uint8_t middle[3];  // the picture's middle
  } rows[] = {{encodericons, encodericoncount, 103, {60, 110, 200}}, {fronticons, fronticoncount, 116, {255, 255, 255}}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.id);
    dlgseticons(r.list, r.count);
    int size = 0;
    std::vector<uint8_t> rgba;
    ASSERT_TRUE(dlgiconpixels(r.id, size, rgba));
    ASSERT_EQ(size, 32);
    ASSERT_EQ(rgba.size(), 32u * 32 * 4);
    auto px = [&](int x, int y) { return &rgba[(size_t)4 * (y * 32 + x)]; };
    EXPECT_EQ(px(0, 0)[3], 0);
    EXPECT_EQ(px(31, 16)[3], 0);
    EXPECT_EQ(px(2, 0)[0], 24);
    EXPECT_EQ(px(2, 0)[3], 255);
    EXPECT_EQ(px(3, 2)[0], 255);  // a hole
    EXPECT_TRUE(std::equal(r.middle, r.middle + 3, px(15, 11))) << (int)px(15, 11)[0];
    EXPECT_FALSE(dlgiconpixels(r.id == 103 ? 116 : 103, size, rgba));
  }
}

using fronticon = frontfixture;
TEST_F(fronticon, themainwindowcarriesicon116) {
  start("");
  EXPECT_EQ(dlggeticon(dlg(dlgmain)), 116);
  EXPECT_EQ(dlggeticon(dlg(pagemain)), 0);
}

// In a window the X window of the main dialog has the icon, 32 x 32 pixels.
TEST_F(fronticon, displaythewindowshowsitsicon) {
  DISPLAYTEST();
  if (!haveprogram("xprop") || !haveprogram("xdotool")) GTEST_SKIP() << "no xprop or xdotool";
  start("");
  std::string xid = windownamed("^  Ostrelfront 0\\.21$");
  ASSERT_FALSE(xid.empty());
  pumpfor(100);
  runresult r = runcommand({"xprop", "-id", xid, "_NET_WM_ICON"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("32 x 32"), std::string::npos) << r.out.substr(0, 300);
}
