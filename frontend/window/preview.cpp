// The source opened for the movie information and the preview pages.
#include <algorithm>
#include <cstring>

#include "common/fmtfield.h"
#include "dialogs/dialogs.h"
#include "frontend/settings/settings.h"
#include "frontend/window/front.h"
#include "videosource/bridge.h"

bool avsloaded = false;

namespace {
constexpr int messagelength = 200;  // the frame server's error text
}

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
  int r = avsopen(inputpath.c_str(), width, height, frames, fpsnum, fpsden, message, messagelength);
  previewstate.previewframe = 0;
  d2vversion = 0;
  guisettingsrec& g = guisettings;
  if (r == 0) {
    movieinfovalid = true;
    iniseen[keyinfile] = true;
    previewstate.width = width;
    previewstate.height = height;
    previewstate.lumapitch = width;
    previewstate.chromapitch = width / 2;
    g.sourceframes = frames;
    showinfo(", Avisynth successfully initialized", true);
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
    previewstate.previewframe = 0;
    return;
  }
  movieinfovalid = false;
  inputpath.clear();
  avsinput = false;
  iniseen[keyinfile] = false;
  g.sourceframes = 0;
  movieinfo();
  filelength();
  static const std::string texts[] = {"",
                                      " Avisynth.dll not loaded",
                                      " can't create Avisynth script environment",
                                      " error loading Avisynth script, ",
                                      " can't load video",
                                      " no YV12 color space, add ConvertToYV12() to script"};
  // The frame server's own text follows its error in the same line, after the blank.
  if (r == 3) showinfo(texts[3] + trimright(std::string(message, messagelength)), false);
  else if (r >= 1 && r <= 5) showinfo(texts[r], false);
  if (dialogrecord* d = frontdialog(pagemain)) dlgputtext(*d, 1008, "input file name (*.d2v, *.avs)");
}

// The open of a D2V project through its versioned decoder library: with the preview of the
// source.
void opend2v(int) {}
