// The class interface of our frame server (the library avisynth.dll of this tree), as its
// callers see it: the video source bridge, and the script functions inside the library.
//
// The library exports one plain function, CreateScriptEnvironment(interface version), which
// gives a script environment. The environment imports a script through its invoke operation
// ("Import" with the script's path) and answers a script value; a clip value gives video
// information and frames. Clips and frames are reference-counted through their count words;
// the counts change only by atomic increment and decrement. The frame server reports every
// failure by throwing AvisynthError.
//
// Both sides are built by the same compiler from this one header, so the classes may cross
// the library boundary with their virtual functions and the exception.
#pragma once

#include <atomic>
#include <cstdint>

// The frame server's one error type: its message, a NUL-terminated text that stays valid
// until the environment that raised it is destroyed.
struct __attribute__((visibility("default"))) AvisynthError {
  const char* msg;
};

// The interface version the environment speaks; CreateScriptEnvironment gives null for any other.
constexpr int fsinterface = 2;

// Pixel types of the video information. Planar 4:2:0 with 8-bit samples: YV12 (planes in memory
// Y, V, U) and I420 (Y, U, V); the frame's plane offsets tell where each plane is, so both give
// the same planes. RGB32: one plane of 4 bytes per pixel. YUV420P16: planar 4:2:0 with 16-bit
// samples (rows twice as long as the width).
constexpr int pixyv12 = int(0xA0000008u);
constexpr int pixi420 = int(0xA0000010u);
constexpr int pixrgb32 = int(0x50000002u);
constexpr int pixyuv420p16 = int(0xA0100008u);

struct videoinfo {
  int width = 0, height = 0;  // pixels
  int fpsnum = 0, fpsden = 1;  // frames per second = fpsnum / fpsden
  int numframes = 0;
  int pixeltype = 0;
  // The shape the picture is shown at (display aspect ratio darnum:darden, 4:3 or 16:9 for a
  // DVD picture) when the source says it; 0:0 when it does not.
  int darnum = 0, darden = 0;
};

// A frame's memory. refs counts the frames that use it.
struct fsbuffer {
  std::atomic<int> refs{0};
  uint8_t* data = nullptr;
  int size = 0;  // bytes
};

// One delivered frame: the planes lie in buffer->data at their offsets. rowsize is the luma
// row in bytes (for RGB32 four bytes a pixel); the chroma planes are rowsize / 2 by height / 2
// at pitchuv (pitchuv is 0 for a frame without chroma planes). refs counts the holders; the
// environment reuses a frame (and its buffer) once both counts are back at 0.
struct fsframe {
  std::atomic<int> refs{0};
  fsbuffer* buffer = nullptr;
  int offset = 0, pitch = 0, rowsize = 0, height = 0;
  int offsetu = 0, offsetv = 0, pitchuv = 0;
};

// Releases one reference of a frame: when the caller held the last one, the buffer's
// reference goes first, then the frame's.
inline void fsreleaseframe(fsframe* f) {
  if (!f) return;
  if (f->refs.load() == 1) f->buffer->refs.fetch_sub(1);
  f->refs.fetch_sub(1);
}

class fsenv;

// A clip. Created with count 0; whoever keeps it adds a reference; the last release deletes it.
class fsclip {
 public:
  std::atomic<int> refs{0};
  virtual ~fsclip() = default;
  // Frame n (numbers outside the clip give its first or last frame), with one reference for
  // the caller. Throws AvisynthError when the frame cannot be delivered.
  virtual fsframe* getframe(int n, fsenv* env) = 0;
  virtual const videoinfo& getvideoinfo() = 0;
};

inline void fsaddref(fsclip* c) {
  if (c) c->refs.fetch_add(1);
}
inline void fsrelease(fsclip* c) {
  if (c && c->refs.fetch_sub(1) == 1) delete c;
}

// A script value. A clip value holds one reference of its clip; strings are owned by whoever
// made the value (the environment keeps the strings of the values it returns); an array value
// points at count elements owned by its maker.
class fsvalue {
 public:
  enum kind : char { none = 'v', clip = 'c', string = 's', integer = 'i', real = 'f', boolean = 'b', array = 'a' };

  fsvalue() = default;
  explicit fsvalue(fsclip* c) : type_(clip), clip_(c) { fsaddref(c); }
  explicit fsvalue(const char* s) : type_(string), str_(s) {}
  explicit fsvalue(int i) : type_(integer), int_(i) {}
  explicit fsvalue(double d) : type_(real), real_(d) {}
  explicit fsvalue(bool b) : type_(boolean), bool_(b) {}
  fsvalue(const fsvalue* elements, int count) : type_(array), arr_(elements), count_(count) {}
  fsvalue(const fsvalue& o) { copyfrom(o); }
  fsvalue& operator=(const fsvalue& o) {
    if (this != &o) {
      drop();
      copyfrom(o);
    }
    return *this;
  }
  ~fsvalue() { drop(); }

  kind type() const { return type_; }
  bool isclip() const { return type_ == clip; }
  fsclip* asclip() const { return type_ == clip ? clip_ : nullptr; }
  const char* asstring() const { return type_ == string ? str_ : nullptr; }
  int asint() const { return int_; }
  double asreal() const { return type_ == integer ? int_ : real_; }
  bool asbool() const { return bool_; }
  int count() const { return type_ == array ? count_ : 1; }
  const fsvalue& operator[](int i) const { return type_ == array ? arr_[i] : *this; }

 private:
  void drop() {
    if (type_ == clip) fsrelease(clip_);
    type_ = none;
  }
  void copyfrom(const fsvalue& o) {
    type_ = o.type_;
    count_ = o.count_;
    switch (type_) {
      case clip: clip_ = o.clip_; fsaddref(clip_); break;
      case string: str_ = o.str_; break;
      case integer: int_ = o.int_; break;
      case real: real_ = o.real_; break;
      case boolean: bool_ = o.bool_; break;
      case array: arr_ = o.arr_; break;
      default: break;
    }
  }

  kind type_ = none;
  union {
    fsclip* clip_;
    const char* str_;
    int int_;
    double real_;
    bool bool_;
    const fsvalue* arr_;
  };
  int count_ = 0;
};

// The script environment. Destroyed with delete; it releases every frame and buffer it made.
class fsenv {
 public:
  virtual ~fsenv() = default;
  // Calls a script function: args is an array value of the arguments in order; argnames is
  // null or has one entry per argument (null for a positional one). Throws AvisynthError.
  virtual fsvalue invoke(const char* name, const fsvalue& args, const char* const* argnames = nullptr) = 0;
  // Copies height rows of rowsize bytes from src (rows srcpitch apart) to dst (dstpitch apart).
  virtual void bitblt(uint8_t* dst, int dstpitch, const uint8_t* src, int srcpitch, int rowsize,
                      int height) = 0;
  // The i-th file (0-based) that the scripts and sources of this environment have read, as
  // they named it (scripts, media files, indexes); null past the last one.
  virtual const char* fileread(int i) = 0;
  // While *word is above 0 (word not null), the long work of an import (reading a script,
  // scanning or indexing a video) stops with AvisynthError. The word stays the caller's.
  virtual void watchstop(const std::atomic<int>* word) = 0;
};

// The one export of avisynth.dll, looked up by this name.
extern "C" {
typedef fsenv* (*createenvfn)(int version);
}
