// The source functions of the script language: Y4MSource, BlankClip, TestPattern.
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <numeric>
#include <strings.h>

#include "libs/avisynth/fsinternal.h"

namespace {

constexpr int maxside = 8192;  // pixels, either side of a generated picture

// Frame n of a clip of count frames: numbers outside give the first or last frame.
int clampframe(fsenvcore* env, int n, int count, const char* who) {
  if (count <= 0) env->fail(std::string(who) + ": the clip has no frames");
  return n < 0 ? 0 : (n >= count ? count - 1 : n);
}

// Writes a 4:2:0 picture into a frame through per-pixel functions (x, y in each plane).
template <class fy, class fu, class fv>
void fillframe(fsframe* f, const videoinfo& vi, fy luma, fu cb, fv cr) {
  uint8_t* d = f->buffer->data;
  for (int y = 0; y < vi.height; y++) {
    uint8_t* row = d + f->offset + (ptrdiff_t)y * f->pitch;
    for (int x = 0; x < vi.width; x++) row[x] = luma(x, y);
  }
  for (int y = 0; y < vi.height / 2; y++) {
    uint8_t* ru = d + f->offsetu + (ptrdiff_t)y * f->pitchuv;
    uint8_t* rv = d + f->offsetv + (ptrdiff_t)y * f->pitchuv;
    for (int x = 0; x < vi.width / 2; x++) {
      ru[x] = cb(x, y);
      rv[x] = cr(x, y);
    }
  }
}

// length, width, height, fps, fps_denominator: the common first five arguments.
videoinfo commoninfo(fsenvcore* env, const std::vector<fsarg>& a, const fswhere& at,
                     const char* who, int length, int width, int height) {
  videoinfo vi;
  vi.numframes = a[0].given ? a[0].value.asint() : length;
  vi.width = a[1].given ? a[1].value.asint() : width;
  vi.height = a[2].given ? a[2].value.asint() : height;
  double fps = a[3].given ? a[3].value.asreal() : 25.0;
  int den = a[4].given ? a[4].value.asint() : 1;
  std::string w = std::string(who) + ": ";
  if (vi.numframes < 0) env->fail(w + "length must not be negative" + at.text());
  if (vi.width < 0 || vi.width > maxside || vi.height < 0 || vi.height > maxside)
    env->fail(w + "width and height must be 0 to " + std::to_string(maxside) + at.text());
  if (!(fps > 0) || den <= 0 || fps > 2e9 || fps / den > 1000)
    env->fail(w + "fps must be above 0 and fps_denominator at least 1" + at.text());
  // A whole rate stays exact (fps=30000, fps_denominator=1001); a decimal one is taken to
  // three places (fps=29.97 is 2997/100).
  long long num, dd = den;
  if (fps == std::floor(fps)) {
    num = (long long)fps;
  } else {
    num = std::llround(fps * 1000.0);
    dd = 1000LL * den;
  }
  long long g = std::gcd(num, dd);
  vi.fpsnum = (int)(num / g);
  vi.fpsden = (int)(dd / g);
  return vi;
}

// ---- BlankClip ----------------------------------------------------------------------------

class blank : public fsclip {
 public:
  blank(const videoinfo& vi, int color) : vi_(vi), color_(color) {}
  const videoinfo& getvideoinfo() override { return vi_; }
  fsframe* getframe(int n, fsenv* e) override {
    auto* env = static_cast<fsenvcore*>(e);
    clampframe(env, n, vi_.numframes, "BlankClip");
    fsframe* f = env->newframe(vi_);
    uint8_t* d = f->buffer->data;
    uint8_t yv = (uint8_t)(color_ >> 16), uv = (uint8_t)(color_ >> 8), vv = (uint8_t)color_;
    if (vi_.pixeltype == pixrgb32) {
      // the same colour as RGB (studio range, BT.601), bytes blue, green, red, alpha
      double yy = 1.164 * (yv - 16), cb = uv - 128, cr = vv - 128;
      auto c = [](double x) { return (uint8_t)std::lround(x < 0 ? 0 : x > 255 ? 255 : x); };
      uint8_t px[4] = {c(yy + 2.018 * cb), c(yy - 0.391 * cb - 0.813 * cr), c(yy + 1.596 * cr), 255};
      for (int y = 0; y < vi_.height; y++)
        for (int x = 0; x < vi_.width; x++) std::memcpy(d + f->offset + y * f->pitch + 4 * x, px, 4);
    } else if (vi_.pixeltype == pixyuv420p16) {
      auto put = [&](int off, int pitch, int w, int h, uint8_t v) {
        for (int y = 0; y < h; y++)
          for (int x = 0; x < w; x++) {
            d[off + y * pitch + 2 * x] = 0;
            d[off + y * pitch + 2 * x + 1] = v;  // little-endian, the value in the high byte
          }
      };
      put(f->offset, f->pitch, vi_.width, vi_.height, yv);
      put(f->offsetu, f->pitchuv, vi_.width / 2, vi_.height / 2, uv);
      put(f->offsetv, f->pitchuv, vi_.width / 2, vi_.height / 2, vv);
    } else {
      fillframe(f, vi_, [&](int, int) { return yv; }, [&](int, int) { return uv; },
                [&](int, int) { return vv; });
    }
    return f;
  }

 private:
  videoinfo vi_;
  int color_;
};

// ---- TestPattern --------------------------------------------------------------------------

// A textured picture that pans, with a box moving across it; from frame cut on, a brighter
// texture moving the other way (a hard scene change: the mean luma jumps by about 45). Every
// macroblock row has detail. Integer arithmetic only: the same frames on every machine.
class pattern : public fsclip {
 public:
  pattern(const videoinfo& vi, int cut) : vi_(vi), cut_(cut) {}
  const videoinfo& getvideoinfo() override { return vi_; }
  fsframe* getframe(int n, fsenv* e) override {
    auto* env = static_cast<fsenvcore*>(e);
    n = clampframe(env, n, vi_.numframes, "TestPattern");
    fsframe* f = env->newframe(vi_);
    bool second = cut_ >= 0 && n >= cut_;
    int t = second ? n - cut_ : n;
    int w = vi_.width, h = vi_.height;
    if (!second) {
      // pan: the texture moves 2 pixels left and 1 up per frame; the box 3 right, 1 down
      int bx = (w / 8 + 3 * t) % (w > 64 ? w - 64 : 1), by = (h / 4 + t) % (h > 64 ? h - 64 : 1);
      auto inbox = [=](int x, int y) { return x >= bx && x < bx + 64 && y >= by && y < by + 64; };
      fillframe(
          f, vi_,
          [=](int x, int y) {
            if (inbox(x, y)) {
              int a = x - bx, b = y - by;
              return (uint8_t)(200 - ((a / 8 + b / 8) & 1) * 150 + ((a * b) & 7));
            }
            int u = x + 2 * t, v = y + t;
            return (uint8_t)(16 + ((u ^ v) & 31) * 3 + ((u >> 3) & 15) * 3 + ((v >> 4) & 7) * 5);
          },
          [=](int x, int y) {
            if (inbox(2 * x, 2 * y)) return (uint8_t)90;
            int u = 2 * x + 2 * t, v = 2 * y + t;
            return (uint8_t)(96 + (((u >> 4) + (v >> 5)) & 15) * 4);
          },
          [=](int x, int y) {
            if (inbox(2 * x, 2 * y)) return (uint8_t)200;
            int v = 2 * y + t;
            return (uint8_t)(104 + ((v >> 3) & 15) * 3);
          });
    } else {
      // the second scene: moves 3 pixels right and 2 down per frame
      fillframe(
          f, vi_,
          [=](int x, int y) {
            int u = x - 3 * t, v = y - 2 * t;
            return (uint8_t)(110 + (((u & 63) * (v & 63)) >> 6) + ((u ^ (v >> 1)) & 15) * 3);
          },
          [=](int x, int y) {
            int u = 2 * x - 3 * t;
            return (uint8_t)(90 + ((u >> 3) & 15) * 2);
          },
          [=](int x, int y) {
            int v = 2 * y - 2 * t;
            return (uint8_t)(170 - ((v >> 3) & 15) * 2);
          });
    }
    return f;
  }

 private:
  videoinfo vi_;
  int cut_;
};

// ---- Y4MSource ----------------------------------------------------------------------------

class y4m : public fsclip {
 public:
  ~y4m() override {
    if (file_) std::fclose(file_);
  }
  const videoinfo& getvideoinfo() override { return vi_; }

  fsframe* getframe(int n, fsenv* e) override {
    auto* env = static_cast<fsenvcore*>(e);
    n = clampframe(env, n, vi_.numframes, "Y4MSource");
    fsframe* f = env->newframe(vi_);
    std::lock_guard<std::mutex> g(lock_);
    // The planes in the file: Y, then Cb, then Cr, rows packed. They go from the file straight
    // into the frame's rows, one read call for as many rows as it takes (a plane whose rows
    // are packed in the frame too is one piece).
    const int w = vi_.width, h = vi_.height;
    uint8_t* d = f->buffer->data;
    pieces_.clear();
    auto plane = [&](uint8_t* at, int pitch, int rowbytes, int rows) {
      if (pitch == rowbytes) {
        pieces_.push_back({at, size_t(rowbytes) * size_t(rows)});
        return;
      }
      for (int y = 0; y < rows; y++) pieces_.push_back({at + ptrdiff_t(y) * pitch, size_t(rowbytes)});
    };
    plane(d + f->offset, f->pitch, w, h);
    plane(d + f->offsetu, f->pitchuv, w / 2, h / 2);
    plane(d + f->offsetv, f->pitchuv, w / 2, h / 2);
    if (!readpieces(offsets_[n])) {
      fsreleaseframe(f);
      env->fail("Y4MSource: can't read frame " + std::to_string(n) + " of \"" + name_ + "\"");
    }
    return f;
  }

  // Reads the stream header and finds every frame; throws on anything it cannot use.
  void open(fsenvcore* env, const std::string& path, const fswhere& at) {
    name_ = path;
    std::string w = "Y4MSource: \"" + path + "\" ";
    auto fail = [&](const std::string& what) { env->fail(w + what + at.text()); };
    // A FIFO would block until something writes into it.
    const std::string kind = notregular(path);
    if (!kind.empty()) fail("is " + kind + ", not a video file");
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) fail(std::string("can't be opened: ") + std::strerror(errno));
    env->noteread(path);
    struct stat st;
    if (fstat(fileno(file_), &st) != 0) fail("can't be read");
    off_t filesize = st.st_size;

    std::string header;
    if (!readline(0, header)) fail("has no YUV4MPEG2 header line");
    // A file that went through a text conversion: its pictures are damaged the same way.
    if (!header.empty() && header.back() == '\r')
      fail("has a header line that ends in CR LF (a Windows line end, the file was converted as "
           "text?); YUV4MPEG2 lines end in a line feed alone");
    if (header.compare(0, 9, "YUV4MPEG2") != 0 || (header.size() > 9 && header[9] != ' '))
      fail("is not a YUV4MPEG2 file");
    int width = 0, height = 0, fn = 0, fd = 0;
    long sarnum = 0, sarden = 0;
    std::string colour = "420jpeg";
    size_t p = 9;
    while (p < header.size()) {
      while (p < header.size() && header[p] == ' ') p++;
      size_t e = header.find(' ', p);
      if (e == std::string::npos) e = header.size();
      std::string tok = header.substr(p, e - p);
      p = e;
      if (tok.empty()) continue;
      char tag = tok[0];
      std::string val = tok.substr(1);
      if (tag == 'W' || tag == 'H') {
        char* end = nullptr;
        long v = std::strtol(val.c_str(), &end, 10);
        if (val.empty() || *end || v <= 0 || v > 16384) fail("has a bad picture size \"" + tok + "\"");
        (tag == 'W' ? width : height) = (int)v;
      } else if (tag == 'F') {
        long a = 0, b = 0;
        char c = 0;
        if (std::sscanf(val.c_str(), "%ld:%ld%c", &a, &b, &c) != 2 || a <= 0 || b <= 0 ||
            a > 2147483647L || b > 2147483647L)
          fail("has a bad frame rate \"" + tok + "\"");
        fn = (int)a;
        fd = (int)b;
      } else if (tag == 'C') {
        colour = val;
      } else if (tag == 'A') {
        // The pixel aspect; 0:0 (unknown) or a bad one says nothing of the picture's shape.
        long a = 0, b = 0;
        char c = 0;
        if (std::sscanf(val.c_str(), "%ld:%ld%c", &a, &b, &c) == 2 && a > 0 && b > 0 && a <= 65535 && b <= 65535)
          sarnum = a, sarden = b;
      }
      // I (interlacing), X (comments) and unknown tags: not needed here
    }
    if (width == 0 || height == 0) fail("gives no picture size (W and H)");
    if (fn == 0) fail("gives no frame rate (F)");
    if (strcasecmp(colour.c_str(), "420jpeg") != 0 && strcasecmp(colour.c_str(), "420paldv") != 0 &&
        strcasecmp(colour.c_str(), "420mpeg2") != 0 && strcasecmp(colour.c_str(), "420") != 0)
      fail("has colour space C" + colour + "; only 8-bit 4:2:0 is read");
    if (width % 2 || height % 2) fail("has an odd picture size; 4:2:0 needs an even width and height");

    // Every frame: a line "FRAME" with optional parameters, then the picture.
    off_t framebytes = (off_t)width * height * 3 / 2;
    off_t pos = (off_t)header.size() + 1;
    while (pos < filesize) {
      int k = (int)offsets_.size();
      if (k % 4096 == 0 && env->stopasked()) fail("not read to its end: the run was stopped");
      std::string fh;
      if (!readline(pos, fh)) fail("ends inside the header of frame " + std::to_string(k) + " (truncated file)");
      if (fh.compare(0, 5, "FRAME") != 0 || (fh.size() > 5 && fh[5] != ' '))
        fail("has no FRAME header at frame " + std::to_string(k));
      off_t data = pos + (off_t)fh.size() + 1;
      if (data + framebytes > filesize)
        fail("ends inside frame " + std::to_string(k) + " (truncated file)");
      offsets_.push_back(data);
      pos = data + framebytes;
    }
    if (offsets_.empty()) fail("holds no frames");
    if (offsets_.size() > 2147483647u) fail("holds too many frames");
    vi_.width = width;
    vi_.height = height;
    vi_.fpsnum = fn;
    vi_.fpsden = fd;
    vi_.numframes = (int)offsets_.size();
    vi_.pixeltype = pixyv12;
    if (sarnum > 0) {
      long long an = (long long)width * sarnum, ad = (long long)height * sarden, g = std::gcd(an, ad);
      vi_.darnum = (int)(an / g);
      vi_.darden = (int)(ad / g);
    }
  }

 private:
  // The line at pos without its '\n' (at most 4095 characters); false when no line end follows.
  bool readline(off_t pos, std::string& out) {
    char buf[4096];
    if (fseeko(file_, pos, SEEK_SET) != 0) return false;
    size_t got = std::fread(buf, 1, sizeof buf, file_);
    const char* nl = (const char*)std::memchr(buf, '\n', got);
    if (!nl) return false;
    out.assign(buf, (size_t)(nl - buf));
    return true;
  }

  // Reads the file from `at` on into pieces_, in order; false when the file ends first or a
  // read fails. (The file's position moves along, as a reader's does.)
  bool readpieces(off_t at) {
    const int fd = fileno(file_);
    if (lseek(fd, at, SEEK_SET) != at) return false;
    size_t k = 0;
    while (k < pieces_.size()) {
      const int count = int(std::min<size_t>(pieces_.size() - k, IOV_MAX));
      const ssize_t got = readv(fd, pieces_.data() + k, count);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      // Past the pieces read whole; a piece read in part goes on from where the read ended.
      for (size_t left = size_t(got); left > 0;) {
        iovec& p = pieces_[k];
        if (left < p.iov_len) {
          p.iov_base = static_cast<uint8_t*>(p.iov_base) + left;
          p.iov_len -= left;
          break;
        }
        left -= p.iov_len;
        ++k;
      }
    }
    return true;
  }

  videoinfo vi_;
  std::string name_;
  std::FILE* file_ = nullptr;
  std::vector<off_t> offsets_;  // where each frame's picture starts
  std::vector<iovec> pieces_;   // where a picture's bytes go, in file order (under lock_)
  std::mutex lock_;
};

}  // namespace

fsvalue y4msource(fsenvcore* env, const std::vector<fsarg>& a, const fswhere& at,
                  const std::string& scriptdir) {
  if (!a[0].given) env->fail("Script error: Y4MSource needs the file name" + at.text());
  std::string path = a[0].value.asstring();
  if (!path.empty() && path[0] != '/') path = scriptdir + path;
  auto* c = new y4m;
  fsvalue v(c);  // owns the clip: a failed open deletes it
  c->open(env, path, at);
  return v;
}

fsvalue blankclip(fsenvcore* env, const std::vector<fsarg>& a, const fswhere& at) {
  videoinfo vi = commoninfo(env, a, at, "BlankClip", 240, 640, 480);
  std::string type = a[5].given ? a[5].value.asstring() : "YV12";
  if (strcasecmp(type.c_str(), "YV12") == 0)
    vi.pixeltype = pixyv12;
  else if (strcasecmp(type.c_str(), "I420") == 0)
    vi.pixeltype = pixi420;
  else if (strcasecmp(type.c_str(), "RGB32") == 0)
    vi.pixeltype = pixrgb32;
  else if (strcasecmp(type.c_str(), "YUV420P16") == 0)
    vi.pixeltype = pixyuv420p16;
  else
    env->fail("BlankClip: pixel_type \"" + type + "\" is not YV12, I420, RGB32 or YUV420P16" + at.text());
  if (vi.pixeltype != pixrgb32 && (vi.width % 2 || vi.height % 2))
    env->fail("BlankClip: 4:2:0 needs an even width and height" + at.text());
  int color = a[6].given ? a[6].value.asint() : 0x108080;  // black
  if (color < 0 || color > 0xFFFFFF) env->fail("BlankClip: color_yuv must be $000000 to $FFFFFF" + at.text());
  return fsvalue(static_cast<fsclip*>(new blank(vi, color)));
}

fsvalue testpattern(fsenvcore* env, const std::vector<fsarg>& a, const fswhere& at) {
  videoinfo vi = commoninfo(env, a, at, "TestPattern", 250, 720, 576);
  if (vi.width == 0 || vi.height == 0)
    env->fail("TestPattern: a width or height of 0 gives no picture" + at.text());
  vi.pixeltype = pixyv12;
  if (vi.width % 2 || vi.height % 2) env->fail("TestPattern: 4:2:0 needs an even width and height" + at.text());
  int cut = a[5].given ? a[5].value.asint() : -1;
  if (a[5].given && cut < 0) env->fail("TestPattern: cut must not be negative" + at.text());
  return fsvalue(static_cast<fsclip*>(new pattern(vi, cut)));
}
