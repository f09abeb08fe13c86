// The source opened for the movie information and the preview pages, and the preview picture.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "common/fmtfield.h"
#include "common/yuvpicture.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "frontend/window/planes.h"
#include "resources/frontend.h"
#include "videosource/bridge.h"

bool avsloaded = false;
planeset sourceplanes;
uint8_t previewbitmap[54 + 3 * previewlumabytes];

namespace {
constexpr int messagelength = 200;  // the frame server's error text
const char* const noinput = "input file name (*.d2v, *.avs)";

// The preview of the window thread and the scan thread's preview of a cut take turns: one
// masked copy of the planes and one image.
std::mutex previewlock;
planeset previewplanes;

// The source opened: its picture, its rate and the frame range follow it.
void sourceopened(int width, int height, int frames, int fpsnum, int fpsden) {
  guisettingsrec& g = guisettings;
  previewstaterec& p = previewstate;
  p.width = width;
  p.height = height;
  p.lumapitch = width;
  p.chromapitch = width / 2;
  p.lumasize = width * height;
  p.chromasize = (width / 2) * (height / 2);
  g.sourceframes = frames;
  g.sourcefps = (float)fpsnum / (float)fpsden;
  g.sourceseconds = (float)frames / g.sourcefps;
  if (!iniseen[keyframes]) {
    g.startframe = 0;
    g.endframe = frames - 1;
  }
  if (g.endframe >= frames) g.endframe = frames - 1;
  g.framespan = g.endframe - g.startframe + 1;
  movieinfo();
  filelength();
  dvdcheck();
  p.previewframe = 0;
}

// A failed open leaves no input selected.
void sourcefailed() {
  movieinfovalid = false;
  inputpath.clear();
  iniseen[keyinfile] = false;
  guisettings.sourceframes = 0;
}

void showinputprompt() {
  if (dialogrecord* d = frontdialog(pagemain)) dlgputtext(*d, 1008, noinput);
}

// A picture that the preview planes cannot hold: the message of the failed open, empty when it
// fits.
std::string toolarge(int width, int height) {
  if (width <= previewmaxwidth && height <= previewmaxheight) return "";
  return " picture " + std::to_string(width) + "x" + std::to_string(height) + " too large, the largest is " +
         std::to_string(previewmaxwidth) + "x" + std::to_string(previewmaxheight);
}
}  // namespace

void openavs(int) {
  if (!avsloaded) {
    if (avsload() != 0) {
      showinfo(", Avisynth.dll NOT loaded", true);
      return;
    }
    showinfo(", Avisynth.dll loaded", true);
    avsloaded = true;
    iniseen[keyinfile] = false;
  }
  int width = 0, height = 0, frames = 0, fpsnum = 0, fpsden = 0;
  char message[messagelength];
  std::memset(message, ' ', sizeof message);
  int r = avsopen(asencoder(inputpath).c_str(), width, height, frames, fpsnum, fpsden, message, messagelength);
  previewstate.previewframe = 0;
  d2vversion = 0;
  std::string large = r == 0 ? toolarge(width, height) : "";
  if (r == 0 && large.empty()) {
    movieinfovalid = true;
    iniseen[keyinfile] = true;
    showinfo(", Avisynth successfully initialized", true);
    sourceopened(width, height, frames, fpsnum, fpsden);
    return;
  }
  sourcefailed();
  avsinput = false;
  movieinfo();
  filelength();
  static const std::string texts[] = {"",
                                      " Avisynth.dll not loaded",
                                      " can't create Avisynth script environment",
                                      " error loading Avisynth script, ",
                                      " can't load video",
                                      " no YV12 color space, add ConvertToYV12() to script"};
  // The frame server's own text follows its error in the same line, after the blank.
  if (!large.empty()) showinfo(large, false);
  else if (r == 3) showinfo(texts[3] + trimright(std::string(message, messagelength)), false);
  else if (r >= 1 && r <= 5) showinfo(texts[r], false);
  showinputprompt();
}

void opend2v(int) {
  if (!d2vloaded) {
    std::error_code ec;
    if (!std::filesystem::exists(d2vlibpath, ec)) {
      showinfo(", DGDecode.dll NOT found in " + trimright(progdir) + "DGDecode", true);
      movieinfovalid = false;
      return;
    }
    if (d2vfree() != 0) showinfo(" ERROR unloading DGDecode.dll", false);
    if (d2vload(d2vlibpath.c_str()) != 0) {
      showinfo(", DGDecode.dll NOT loaded", true);
      movieinfovalid = false;
      return;
    }
    if (!d2vlibrary(d2vversion)) {
      // No library of ours reads it; pickdecoder has refused the project before.
      movieinfovalid = false;
      return;
    }
    showinfo(", DGDecode.dll (project version " + std::to_string(d2vversion) + ") loaded", true);
    d2vloaded = true;
  }
  int width = 0, height = 0, frames = 0, fpsnum = 0, fpsden = 0;
  int r = d2vopen(asencoder(inputpath).c_str(), width, height, frames, fpsnum, fpsden);
  previewstate.previewframe = 0;
  std::string large = r == 0 ? toolarge(width, height) : "";
  if (r == 0 && large.empty()) {
    movieinfovalid = true;
    iniseen[keyinfile] = true;
    showinfo(", DGDecode successfully initialized", true);
    sourceopened(width, height, frames, fpsnum, fpsden);
    return;
  }
  sourcefailed();
  d2vfree();
  d2vloaded = false;
  d2vinput = false;
  showinputprompt();
  std::string text = large.empty() ? "" : "," + large;
  switch (r) {
    case 128: text = ", error initializing DGDecode, dll not loaded"; break;
    case 130: text = ", error initializing DGDecode, can't load load routines from dll"; break;
    case 131: text = ", error initializing DGDecode, can't open mpeg file"; break;
    case 132: text = ", error initializing DGDecode, mpeg file opened but can't read specifications"; break;
    default: break;
  }
  showinfo(text, true);
  movieinfo();
  filelength();
}

void previewbmp(uint8_t* y, uint8_t* cr, uint8_t* cb, int width, int height, int top, int bottom, int shift,
                uint8_t* bitmap) {
  if (width < 1 || height < 1 || width > previewmaxwidth || height > previewmaxheight) return;
  static const uint8_t black[3] = {16, 128, 128};  // Y, U (Cb), V (Cr)
  maskpicture(y, cb, cr, width, height, top, bottom, shift, black);
  bmpfromyuv(y, cb, cr, width, height, bitmap);
}

previewrect previewplace(int aspect, int boxwidth, int boxheight) {
  static const int drawn[5][2] = {{0, 0}, {240, 240}, {320, 240}, {426, 240}, {434, 200}};
  if (aspect < 1 || aspect > 4 || boxwidth <= 0 || boxheight <= 0) return {};
  const int64_t dw = drawn[aspect][0], dh = drawn[aspect][1];
  previewrect r;
  // The side that fills the box is exact; the other is rounded to the nearest pixel.
  if ((int64_t)boxwidth * dh <= (int64_t)boxheight * dw) {
    r.w = boxwidth;
    r.h = (int)std::min<int64_t>(boxheight, (dh * boxwidth + dw / 2) / dw);
  } else {
    r.h = boxheight;
    r.w = (int)std::min<int64_t>(boxwidth, (dw * boxheight + dh / 2) / dh);
  }
  r.x = (boxwidth - r.w) / 2;
  r.y = (boxheight - r.h) / 2;
  return r;
}

void paintpreview(dialogrecord& page) {
  int bx, by, bw, bh;
  if (!dlgcontrolrect(page, previewbox, bx, by, bw, bh)) return;
  const previewrect r = previewplace(guisettings.guiaspect, bw, bh);
  const uint8_t* bmp = previewbitmap;
  auto word = [bmp](int at) { return int(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24); };
  const int width = word(18), height = word(22);
  if (r.w <= 0 || r.h <= 0 || bmp[0] != 'B' || width < 1 || height < 1) return;
  std::vector<uint8_t> rgb((size_t)3 * bw * bh, 0);
  for (int py = 0; py < r.h; py++) {
    const int row = (int)((int64_t)py * height / r.h);  // 0 = the top row, stored last
    const uint8_t* src = bmp + bmpheadersize + (size_t)3 * width * (size_t)(height - 1 - row);
    uint8_t* out = &rgb[(size_t)3 * ((size_t)(r.y + py) * bw + r.x)];
    for (int px = 0; px < r.w; px++, out += 3) {
      const uint8_t* s = src + (size_t)3 * (size_t)((int64_t)px * width / r.w);
      out[0] = s[2];
      out[1] = s[1];
      out[2] = s[0];
    }
  }
  dlgpaint(page, previewbox, rgb.data(), bw, bh);
}

void showpicture(dialogrecord& page) {
  std::lock_guard<std::mutex> g(previewlock);
  const previewstaterec& p = previewstate;
  copyblocks256(sourceplanes.y, previewplanes.y, p.lumasize);
  copyblocks16(sourceplanes.u, previewplanes.u, p.chromasize);
  copyblocks16(sourceplanes.v, previewplanes.v, p.chromasize);
  const int* mask = guisettings.guimask;
  previewbmp(previewplanes.y, previewplanes.v, previewplanes.u, p.width, p.height, mask[0], mask[1], mask[2],
             previewbitmap);
  paintpreview(page);
}

void showframe(dialogrecord& page) {
  if (!movieinfovalid || guisettings.sourceframes <= 0) return;
  const previewstaterec& p = previewstate;
  planeset& s = sourceplanes;
  // A frame the source cannot deliver leaves the planes as they were: the last frame shows again.
  if (d2vinput) d2vgetframe(p.previewframe, s.y, s.u, s.v);
  else if (avsinput) avsgetframe(p.previewframe, p.lumapitch, p.chromapitch, s.y, s.u, s.v);
  showpicture(page);
}
