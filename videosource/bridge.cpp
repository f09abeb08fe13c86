#include "videosource/bridge.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <cstring>
#include <mutex>

#include "libs/avisynth/frameserver.h"
#include "platform/dynload.h"
#include "videosource/d2vdecoder.h"

namespace {

struct bridgestate {
  // frame server
  void* avsmodule = nullptr;       // avisynth.dll
  fsenv* avsenv = nullptr;         // its script environment
  fsclip** avsclip = nullptr;      // cell holding the current clip reference (or null)
  int avswidth = 0, avsheight = 0;  // the current clip's picture: the callers' planes are this big
  // decoder library
  void* d2vmodule = nullptr;
  int d2vloaded = 0;
  int d2vresolved = 0;
  d2vopenfn d2vopenentry = nullptr;
  d2vframefn d2vframeentry = nullptr;
  d2vclosefn d2vcloseentry = nullptr;
  d2vfilefn d2vfileentry = nullptr;  // optional
  const int32_t* d2vinfo = nullptr;  // the decoder's video record of the open project
  int d2vlumasize = 0, d2vchromasize = 0;
};

bridgestate bridge;
const std::atomic<int>* stopword = nullptr;  // see avswatchstop
// Every operation runs alone: the front end fetches frames from two threads, and a frame server
// or decoder library owes us no more than one call at a time.
std::mutex bridgelock;

// Drops the current clip reference and frees its cell.
void releaseclip() {
  if (bridge.avsclip) {
    fsrelease(*bridge.avsclip);
    delete bridge.avsclip;
    bridge.avsclip = nullptr;
  }
  bridge.avswidth = bridge.avsheight = 0;
}

// The frame server's text into a blank-padded field of len characters.
void copymessage(const char* text, char* msg, int msglen) {
  if (!msg || msglen <= 0) return;
  int n = 0;
  if (text)
    for (; n < msglen && text[n]; n++) msg[n] = text[n];
  std::memset(msg + n, ' ', (size_t)(msglen - n));
}

}  // namespace

int avsload() {
  std::lock_guard<std::mutex> g(bridgelock);
  if (!bridge.avsmodule) bridge.avsmodule = dynload("avisynth.dll");
  if (!bridge.avsmodule) return 1;
  if (bridge.avsenv) return 0;
  auto create = (createenvfn)dynentry(bridge.avsmodule, "CreateScriptEnvironment");
  if (!create) return 2;
  bridge.avsenv = create(fsinterface);
  return bridge.avsenv ? 0 : 2;
}

int avsopen(const char* script, int& width, int& height, int& frames, int& fpsnum, int& fpsden,
            char* msg, int msglen, int* pixeltype) {
  std::lock_guard<std::mutex> g(bridgelock);
  if (!bridge.avsmodule) return 1;
  releaseclip();
  if (!bridge.avsenv) return 2;  // the library loaded but gave no environment
  bridge.avsenv->watchstop(stopword);
  try {
    bridge.avsclip = new fsclip*(nullptr);
    fsvalue name(script ? script : "");
    fsvalue args(&name, 1);
    fsvalue result = bridge.avsenv->invoke("Import", args, nullptr);
    if (fsclip* c = result.asclip()) {
      fsaddref(c);
      *bridge.avsclip = c;
    }
  } catch (const AvisynthError& e) {
    releaseclip();
    copymessage(e.msg, msg, msglen);
    return 3;
  } catch (...) {
    releaseclip();
    copymessage("the frame server failed without a message", msg, msglen);
    return 3;
  }
  // A script whose result is no clip has no video to deliver; a failed open keeps no clip, so
  // a later frame request cannot read a picture the caller did not size its planes for.
  if (!*bridge.avsclip) {
    releaseclip();
    return 4;
  }
  const videoinfo vi = (*bridge.avsclip)->getvideoinfo();
  if (vi.width == 0) {
    releaseclip();
    return 4;
  }
  // Exactly the two 8-bit 4:2:0 layouts: a wider sample format would overflow the planes.
  if (vi.pixeltype != pixyv12 && vi.pixeltype != pixi420) {
    releaseclip();
    return 5;
  }
  width = vi.width;
  height = vi.height;
  frames = vi.numframes;
  fpsnum = vi.fpsnum;
  fpsden = vi.fpsden;
  if (pixeltype) *pixeltype = vi.pixeltype;
  bridge.avswidth = vi.width;
  bridge.avsheight = vi.height;
  return 0;
}

int avsgetframe(int n, int lumapitch, int chromapitch, uint8_t* y, uint8_t* u, uint8_t* v) {
  std::lock_guard<std::mutex> g(bridgelock);
  if (!bridge.avsenv || !bridge.avsclip || !*bridge.avsclip) return 6;
  fsclip* clip = *bridge.avsclip;
  fsframe* f = nullptr;
  try {
    f = clip->getframe(n, bridge.avsenv);
    if (!f) return 6;
    const uint8_t* data = f->buffer->data;
    // Never more than the caller's planes hold: the opened picture size, and no row longer
    // than the caller's pitch.
    int rowsize = std::min({f->rowsize, bridge.avswidth, lumapitch});
    int rows = std::min(f->height, bridge.avsheight);
    if (rowsize > 0 && rows > 0)
      bridge.avsenv->bitblt(y, lumapitch, data + f->offset, f->pitch, rowsize, rows);
    int crow = 0, crows = 0;
    if (f->pitchuv != 0) {
      crow = std::min({f->rowsize / 2, bridge.avswidth / 2, chromapitch});
      crows = std::min(f->height / 2, bridge.avsheight / 2);
    }
    if (crow > 0 && crows > 0) {
      bridge.avsenv->bitblt(u, chromapitch, data + f->offsetu, f->pitchuv, crow, crows);
      bridge.avsenv->bitblt(v, chromapitch, data + f->offsetv, f->pitchuv, crow, crows);
    }
    fsreleaseframe(f);
    return 0;
  } catch (...) {
    fsreleaseframe(f);
    return 6;
  }
}

int avsclose() {
  std::lock_guard<std::mutex> g(bridgelock);
  releaseclip();
  delete bridge.avsenv;
  bridge.avsenv = nullptr;
  if (bridge.avsmodule) {
    if (!dynfree(bridge.avsmodule)) return 7;
    // Forget the freed library: a later open answers 1 instead of calling into it.
    bridge.avsmodule = nullptr;
  }
  return 0;
}

int d2vload(const char* library) {
  std::lock_guard<std::mutex> g(bridgelock);
  bridge.d2vinfo = nullptr;
  bridge.d2vresolved = 0;
  bridge.d2vloaded = 0;
  bridge.d2vfileentry = nullptr;
  bridge.d2vmodule = dynload(library);
  if (!bridge.d2vmodule) return 128;
  bridge.d2vloaded = 1;
  return 0;
}

int d2vopen(const char* project, int& width, int& height, int& frames, int& fpsnum, int& fpsden,
            int* sixth) {
  std::lock_guard<std::mutex> g(bridgelock);
  if (!bridge.d2vmodule) return 128;
  if (!bridge.d2vresolved) {
    bridge.d2vopenentry = (d2vopenfn)dynentry(bridge.d2vmodule, "openMPEG2Source");
    bridge.d2vframeentry = (d2vframefn)dynentry(bridge.d2vmodule, "getFrame");
    bridge.d2vcloseentry = (d2vclosefn)dynentry(bridge.d2vmodule, "closeVideo");
    if (!bridge.d2vopenentry || !bridge.d2vframeentry || !bridge.d2vcloseentry) return 130;
    bridge.d2vresolved = 1;
  }
  bridge.d2vinfo = nullptr;
  const int32_t* info = bridge.d2vopenentry(project ? project : "");
  if (!info) return 131;
  width = info[0];
  height = info[1];
  fpsnum = info[2];
  fpsden = info[3];
  frames = info[4];
  if (sixth) *sixth = info[5];
  if (width == 0 || height == 0 || frames == 0 || fpsnum == 0 || fpsden == 0) return 132;
  bridge.d2vinfo = info;
  bridge.d2vlumasize = width * height;
  bridge.d2vchromasize = bridge.d2vlumasize >> 2;
  return 0;
}

int d2vgetframe(int n, uint8_t* y, uint8_t* u, uint8_t* v) {
  std::lock_guard<std::mutex> g(bridgelock);
  if (!bridge.d2vinfo || !bridge.d2vframeentry) return 6;
  const uint8_t* p = bridge.d2vframeentry(n);
  if (!p) return 6;
  std::memcpy(y, p, (size_t)bridge.d2vlumasize);
  std::memcpy(u, p + bridge.d2vlumasize, (size_t)bridge.d2vchromasize);
  std::memcpy(v, p + bridge.d2vlumasize + bridge.d2vchromasize, (size_t)bridge.d2vchromasize);
  return 0;
}

bool avsaspect(int& num, int& den) {
  std::lock_guard<std::mutex> g(bridgelock);
  if (!bridge.avsclip || !*bridge.avsclip) return false;
  const videoinfo vi = (*bridge.avsclip)->getvideoinfo();
  if (vi.darnum <= 0 || vi.darden <= 0) return false;
  num = vi.darnum;
  den = vi.darden;
  return true;
}

bool d2vaspect(const std::string& project, int& num, int& den) {
  std::FILE* f = std::fopen(project.c_str(), "rb");
  if (!f) return false;
  // The settings stand in the project's head, before the index lines.
  char line[256];
  bool found = false;
  for (int n = 0; n < 4096 && !found && std::fgets(line, sizeof line, f); ++n) {
    if (std::strncmp(line, "Aspect_Ratio=", 13) != 0) continue;
    double a = 0, b = 0;
    if (std::sscanf(line + 13, "%lf:%lf", &a, &b) != 2 || a <= 0 || b <= 0 || a > 100 || b > 100) break;
    // Two decimals are enough for every shape an MPEG source can flag (2.21:1).
    int an = int(std::lround(a * 100)), ad = int(std::lround(b * 100));
    const int g = std::gcd(an, ad);
    num = an / g;
    den = ad / g;
    found = true;
  }
  std::fclose(f);
  return found;
}

std::vector<std::string> avsfiles() {
  std::lock_guard<std::mutex> g(bridgelock);
  std::vector<std::string> names;
  if (!bridge.avsenv) return names;
  for (int i = 0;; i++) {
    const char* n = bridge.avsenv->fileread(i);
    if (!n) break;
    names.emplace_back(n);
  }
  return names;
}

std::vector<std::string> d2vfiles() {
  std::lock_guard<std::mutex> g(bridgelock);
  std::vector<std::string> names;
  if (!bridge.d2vinfo || !bridge.d2vmodule) return names;
  if (!bridge.d2vfileentry)
    bridge.d2vfileentry = (d2vfilefn)dynentry(bridge.d2vmodule, "sourceFile");
  if (!bridge.d2vfileentry) return names;
  for (int i = 0;; i++) {
    const char* n = bridge.d2vfileentry(i);
    if (!n) break;
    names.emplace_back(n);
  }
  return names;
}

void avswatchstop(const std::atomic<int>* word) {
  std::lock_guard<std::mutex> g(bridgelock);
  stopword = word;
  if (bridge.avsenv) bridge.avsenv->watchstop(word);
}

int d2vfree() {
  std::lock_guard<std::mutex> g(bridgelock);
  if (!bridge.d2vloaded) return 0;
  if (!dynfree(bridge.d2vmodule)) return 129;
  // Forget the freed library and its entries: a second free, or an open without a new load,
  // must not reach into a library that is gone.
  bridge.d2vmodule = nullptr;
  bridge.d2vloaded = 0;
  bridge.d2vresolved = 0;
  bridge.d2vopenentry = nullptr;
  bridge.d2vframeentry = nullptr;
  bridge.d2vcloseentry = nullptr;
  bridge.d2vfileentry = nullptr;
  bridge.d2vinfo = nullptr;
  return 0;
}
