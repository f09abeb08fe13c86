// The preview of the encoder's window: the source frame being coded as a 24-bit bottom-up
// BMP image in memory, stretched into the preview box of the dialog.
//
// The pass loops call yuvtobmp on a frame of the frame ring and then drawpreview; the preview
// radio buttons and a zoom change call clearpreview. Where and how the box appears is a pure
// function of the zoom, the aspect ratio and the window's client size (previewlayout), so a
// window backend only has to put pixels on the screen; headless, nothing is drawn and the
// image stays readable in previewimage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "common/yuvpicture.h"
#include "encoder/control/settings.h"

// The largest coded picture, 3 bytes a pixel, and the headers: 6,635,574 bytes.
constexpr size_t previewcapacity = size_t{3} * maxwidth * maxheight + bmpheadersize;

// The complete BMP file image of the last preview frame (only the running pass writes it).
extern uint8_t previewimage[previewcapacity];

// Writes the BMP image of a 4:2:0 picture into dest (bmpfromyuv): the headers, then the rows
// bottom-up, each pixel as blue, green, red (BT.601, 16.16 fixed point, video range to full range).
// y: height rows of width bytes; u (Cb), v (Cr): rows of width / 2 bytes, one sample for
// each 2 x 2 block of luma samples (rows (height + 1) / 2). width is a multiple of 4, so rows
// need no padding. Integer arithmetic only, no allocation. Returns false and writes nothing
// when width or height is not positive, width is not a multiple of 4, or the image would
// not fit in destsize bytes.
bool yuvtobmp(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height,
              uint8_t* dest, size_t destsize = previewcapacity);

// A rectangle in client pixels of the window: left, top, width, height.
struct previewrect {
  int x = 0, y = 0, w = 0, h = 0;
  bool operator==(const previewrect&) const = default;
};

// Where a preview goes in a client area of clientwidth x clientheight pixels. The dialog's
// client area counts as 564 x 449 units; the preview box is (348, 237) - (558, 387) units.
struct previewgeometry {
  previewrect picture;  // the whole stretched image (may reach beyond the box)
  previewrect clip;     // the preview box; nothing is drawn outside it
};

// The layout of drawpreview for previewzoom 1..5 (210, 300, 400, 500, 600 units wide,
// centred on the box's vertical centre 312) and aspect 1..4 (height per width 1.0, 0.75,
// 0.5625, 0.45249). A zoom or aspect outside its range gives an empty picture.
previewgeometry previewlayout(int zoom, int aspect, int clientwidth, int clientheight);

// The box that clearpreview blackens.
previewrect previewbox(int clientwidth, int clientheight);

// Stretches the BMP image bmp (as yuvtobmp writes it) to geom.picture, nearest sample, and
// writes only the canvas pixels inside geom.clip and inside the canvas: canvas rows of pitch
// bytes, 3 bytes a pixel in red, green, blue order. No allocation. Returns false and writes
// nothing when bmp is not such an image.
bool stretchpreview(const uint8_t* bmp, const previewgeometry& geom, uint8_t* canvas,
                    int canvaswidth, int canvasheight, int pitch);

// The window side of the preview, installed by the window backend; empty headless. Called
// from the pass thread as well as the window thread: the backend hands the work to the
// window thread, and draw is done with bmp (or has copied it) when it returns, since the
// running pass writes the next preview frame into the same buffer.
struct previewbackend {
  std::function<bool(int& width, int& height)> clientsize;  // false: no window to draw in
  std::function<void(const uint8_t* bmp, const previewgeometry& geom)> draw;
  std::function<void(const previewrect& box)> fillblack;
};
extern previewbackend previewwindow;

// Draws previewimage into the preview box at previewzoom and the settings' aspect; when
// zoomchanged is set, clears the box first and resets the flag.
void drawpreview();
// Fills the preview box with black.
void clearpreview();
