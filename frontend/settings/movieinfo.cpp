// The movie information group and the estimated file length of the Main page.
#include <algorithm>
#include <climits>
#include <cmath>

#include "common/fmtfield.h"
#include "common/listread.h"
#include "common/texttime.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"

namespace {
// A number in its field, moved left (dlgputtext drops the trailing blanks).
std::string leftint(int64_t v, int width) { return adjustleft(fmtint(v, width)); }
std::string leftfixed(float v, int width, int decimals) { return adjustleft(fmtfixed(v, width, decimals)); }

// The picture size as "720x576", with " HD res" above the DVD sizes.
std::string sizetext(int width, int height) {
  std::string t = trimright(leftint(width, 6)) + "x" + trimright(leftint(height, 6));
  if (width > 720 || height > 576) t += " HD res";
  return t;
}

// The fields of the group in the order they are filled.
constexpr int infofields[] = {1088, 1089, 1099, 1101, 1098, 1102, 1103, 1106, 1104, 1105};
}  // namespace

void movieinfo() {
  dialogrecord* p = frontdialog(pagemain);
  guisettingsrec& g = guisettings;
  if (!movieinfovalid) {
    g.framespan = 0;
    g.startframe = g.endframe = -1;
    if (!p) return;
    dlgputflag(*p, 1111, false, ixenabled);
    for (int id : infofields) dlgputtext(*p, id, "-");
    return;
  }
  if (!p) return;
  dlgputflag(*p, 1111, true, ixenabled);
  // Seconds in single precision; whole seconds to the nearest, halves away from zero.
  const float encodeseconds = g.sourcefps > 0.0f ? (float)g.framespan / g.sourcefps : 0.0f;
  const std::string texts[] = {
      leftint(g.startframe, 12),
      leftint(g.endframe, 12),
      sizetext(previewstate.width, previewstate.height),
      leftfixed(g.sourcefps, 12, 4),
      leftint(g.sourceframes, 8),
      leftfixed(g.sourceseconds, 12, 2),
      fmttime((int)std::lround(g.sourceseconds)),
      leftint(g.framespan, 12),
      leftfixed(encodeseconds, 12, 2),
      fmttime((int)std::lround(encodeseconds)),
  };
  for (size_t i = 0; i < std::size(infofields); i++) dlgputtext(*p, infofields[i], texts[i]);
}

void filelength() {
  dialogrecord* p = frontdialog(pagemain);
  if (!p) return;
  if (!movieinfovalid) {
    dlgputtext(*p, 1086, "");
    return;
  }
  guisettingsrec& g = guisettings;
  // The average bitrate as the page shows it; a text without a number keeps the model's.
  int avg = 0;
  if (readints(dlggettext(*p, 1087, 40), &avg, 1) == listok) g.avgkbits = avg;
  // kbit/s x seconds is kbits; / 1.024 / 8 gives kbytes of 1,024 bytes. Single precision in
  // this order, the nearest integer (halves away from zero), then the division truncates.
  g.filekbytes = 0;
  if (g.sourcefps > 1.0f) {
    const float seconds = (float)g.framespan / g.sourcefps;
    const float q = (float)g.avgkbits * seconds / 1.024f;
    // At most INT_MAX: an absurd bitrate over a long source must not wrap around.
    g.filekbytes = (int)std::min<long long>(std::llround(q) / 8, INT_MAX);
  }
  dlgputtext(*p, 1086, leftint(g.filekbytes, 12));
}
