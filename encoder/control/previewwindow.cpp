#include "encoder/control/previewwindow.h"

#include <algorithm>
#include <cstring>

#include "dialogs/window.h"
#include "encoder/control/control.h"
#include "encoder/control/preview.h"

namespace {
// The geometry moved into the picture area's own pixels (its top-left corner at 0, 0).
previewgeometry inarea(const previewgeometry& g, const previewrect& area) {
  previewgeometry r = g;
  r.picture.x -= area.x, r.picture.y -= area.y;
  r.clip.x -= area.x, r.clip.y -= area.y;
  return r;
}

bool windowsize(int& w, int& h) { return maindialog && windowclientsize(*maindialog, w, h); }

previewrect area;  // the preview box in client pixels, fixed for the window's size
}  // namespace

void previewonwindow(dialogrecord& dlg) {
  int cw = 0, ch = 0;
  if (!windowclientsize(dlg, cw, ch)) return;
  area = previewlayout(1, 1, cw, ch).clip;
  windowpicturearea(dlg, area.x, area.y, area.w, area.h);
  previewwindow.clientsize = windowsize;
  previewwindow.draw = [](const uint8_t* bmp, const previewgeometry& g) {
    if (!maindialog) return;
    previewgeometry local = inarea(g, area);
    // The stretch runs on the calling thread into the area's own pixels: bmp is done with
    // when this returns.
    windowpaint(*maindialog, [&](uint8_t* rgb, int w, int h, int pitch) {
      stretchpreview(bmp, local, rgb, w, h, pitch);
    });
  };
  previewwindow.fillblack = [](const previewrect& box) {
    if (!maindialog) return;
    windowpaint(*maindialog, [&](uint8_t* rgb, int w, int h, int pitch) {
      int x0 = std::max(0, box.x - area.x), y0 = std::max(0, box.y - area.y);
      int x1 = std::min(w, box.x + box.w - area.x), y1 = std::min(h, box.y + box.h - area.y);
      for (int y = y0; y < y1; y++)
        if (x1 > x0) std::memset(rgb + (size_t)y * pitch + 3 * x0, 0, (size_t)3 * (x1 - x0));
    });
  };
}
