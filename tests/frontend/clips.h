// Generated sources for the preview, page and scan tests, and the models their pictures are
// checked against: the mask as the encoder applies it, the colours of the preview, the picture
// box of a page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One 4:2:0 frame, packed planes.
struct yuvframe {
  int w = 0, h = 0;
  std::vector<uint8_t> y, u, v;
  yuvframe(int width, int height);
};

// A frame of a clip of scenes: within a scene a texture pans 2 samples a frame (a mean luma
// difference of about 4 between frames) on the scene's own brightness and colour; a cut (a
// frame that starts a scene) changes both at once.
yuvframe sceneframe(int w, int h, int f, const std::vector<int>& cuts);
// The frames as a YUV4MPEG2 file's bytes (25 frames a second).
std::string y4m(const std::vector<yuvframe>& frames);

// The mask and shift as the encoder applies them, by whole rows: luma row r takes row r + shift
// (fill 16 past the plane), the top and bottom rows are filled; chroma likewise with half the
// counts (truncated toward zero) and fill 128.
yuvframe maskedmodel(const yuvframe& f, int top, int bottom, int shift);
// A pixel of the preview: BT.601 studio range in 16.16 fixed point, floored, clamped; red,
// green, blue.
void rgbmodel(int y, int cb, int cr, uint8_t rgb[3]);
// The picture box of w x h pixels showing frame f (masked already) at an aspect: black, the
// picture placed as previewplace says, each box pixel the nearest sample below it.
std::vector<uint8_t> boxmodel(const yuvframe& f, int aspect, int w, int h);
