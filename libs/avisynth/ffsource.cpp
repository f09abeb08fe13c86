// FFVideoSource("file"): any video file through the FFMS2 library, frame-accurate, as YV12 at
// the file's own size and frame rate, or with FFMS2's named arguments at another: width and
// height (pixels; 0 or less keeps the file's), resizer (FFMS2's scaler names), fpsnum and fpsden
// (a constant frame rate; fpsnum 0 or less keeps the file's frames). FFMS2 itself scales and
// converts (its output format); the constant rate follows FFMS2's own frame-server plug-in:
// the clip lasts as long as the file's frames (the span from the first frame's time to the
// last's, and one average frame duration more), output frame n is the file's frame that starts
// closest to the first frame's time plus n * fpsden / fpsnum seconds, so frames are repeated
// or dropped as the rates differ. The index FFMS2 needs is kept beside the file
// ("file.ffindex") or, when that folder cannot be written, in the user's cache folder
// ($XDG_CACHE_HOME/ostrel, else ~/.cache/ostrel), so a second open does not index again. An
// index is read only from a regular file that is no link, and written into a new file that is
// then renamed into place: a link planted under the index's name never leads the write
// elsewhere.
//
// FFMS2 (and the decoding libraries under it, well over a hundred) is loaded on the first
// FFVideoSource call, not with the frame server: loading and binding it takes about 50 ms,
// which every run of a script without FFVideoSource would otherwise pay.
#include <dlfcn.h>
#include <fcntl.h>
#include <ffms.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <numeric>
#include <strings.h>

#include "libs/avisynth/fsinternal.h"

namespace {

// The FFMS2 calls this source makes, bound when the library is loaded.
#define FFMSCALLS(X) X(FFMS_CancelIndexing) X(FFMS_CreateIndexer) X(FFMS_CreateVideoSource) X(FFMS_DestroyIndex) X(FFMS_DestroyVideoSource) X(FFMS_DoIndexing2) X(FFMS_FreeIndexBuffer) X(FFMS_GetFirstTrackOfType) X(FFMS_GetFormatNameI) X(FFMS_GetFrame) X(FFMS_GetFrameByTime) X(FFMS_GetPixFmt) X(FFMS_GetVideoProperties) X(FFMS_IndexBelongsToFile) X(FFMS_Init) X(FFMS_ReadIndexFromBuffer) X(FFMS_SetLogLevel) X(FFMS_SetOutputFormatV2) X(FFMS_SetProgressCallback) X(FFMS_WriteIndexToBuffer)
struct ffmslib {
#define FFMSPOINTER(name) decltype(&::name) name = nullptr;
  FFMSCALLS(FFMSPOINTER)
#undef FFMSPOINTER
  std::string error;  // why it could not be loaded ("" once loaded)
};
ffmslib ff;
std::once_flag ffmsload;

// Loads FFMS2 once and initialises it; false (with ff.error) when it can't be loaded.
bool loadffms() {
  std::call_once(ffmsload, [] {
    void* h = dlopen(FFMS2_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!h) {
      const char* why = dlerror();
      ff.error = why ? why : "not found";
      return;
    }
    bool all = true;
#define FFMSBIND(name)                                          \
  ff.name = reinterpret_cast<decltype(&::name)>(dlsym(h, #name)); \
  if (!ff.name) {                                               \
    all = false;                                                \
    ff.error = "no " #name;                                     \
  }
    FFMSCALLS(FFMSBIND)
#undef FFMSBIND
    if (!all) return;  // (the library stays loaded; nothing calls it)
    ff.FFMS_Init(0, 0);
    ff.FFMS_SetLogLevel(FFMS_LOG_QUIET);
  });
  return ff.error.empty();
}
constexpr long long maxindexbytes = 1LL << 30;  // far above the index of any real video

struct fferror {
  char text[1024];
  FFMS_ErrorInfo info;
  fferror() {
    text[0] = 0;
    info.ErrorType = FFMS_ERROR_SUCCESS;
    info.SubType = FFMS_ERROR_SUCCESS;
    info.BufferSize = sizeof text;
    info.Buffer = text;
  }
  std::string message() const { return text[0] ? text : "unknown error"; }
};

// The user's cache folder for indexes, made (private to the user) when missing; "" when there
// is none that is a real folder of this user.
std::string cachefolder() {
  std::string base;
  if (const char* x = std::getenv("XDG_CACHE_HOME"); x && x[0] == '/') {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && h[0] == '/') {
    base = std::string(h) + "/.cache";
  } else {
    return "";
  }
  std::string dir = base + "/ostrel";
  ::mkdir(base.c_str(), 0700);
  ::mkdir(dir.c_str(), 0700);
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return "";
  return dir;
}

// The index file names to try, in order: beside the video, then in the cache folder.
std::vector<std::string> indexnames(const std::string& path) {
  std::vector<std::string> names{path + ".ffindex"};
  std::string cache = cachefolder();
  if (cache.empty()) return names;
  std::error_code ec;
  std::string abs = std::filesystem::absolute(path, ec).string();
  size_t h = std::hash<std::string>{}(abs);
  char b[32];
  std::snprintf(b, sizeof b, "%016zx", h);
  names.push_back(cache + "/" + b + ".ffindex");
  return names;
}

// An index from a regular file that is no link (null otherwise, or when it is no index).
FFMS_Index* readindexfile(const std::string& name) {
  int fd = ::open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  std::vector<uint8_t> data;
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
            st.st_size <= maxindexbytes;
  if (ok) {
    data.resize((size_t)st.st_size);
    size_t got = 0;
    while (ok && got < data.size()) {
      ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n < 0 && errno == EINTR) continue;
      ok = n > 0;
      if (ok) got += (size_t)n;
    }
  }
  ::close(fd);
  if (!ok) return nullptr;
  fferror err;
  return ff.FFMS_ReadIndexFromBuffer(data.data(), data.size(), &err.info);
}

// Writes the index into a new file beside name and renames it to name; whatever stood under
// name (a link included) is replaced, never written through. False when it cannot be kept
// there (nothing is left behind then).
bool writeindexfile(const std::string& name, FFMS_Index* index) {
  uint8_t* buffer = nullptr;
  size_t size = 0;
  fferror err;
  if (ff.FFMS_WriteIndexToBuffer(&buffer, &size, index, &err.info) != 0 || !buffer) return false;
  std::string temp = name + ".XXXXXX";
  int fd = ::mkstemp(temp.data());  // a new file: O_CREAT | O_EXCL, no link followed
  bool ok = fd >= 0;
  size_t put = 0;
  while (ok && put < size) {
    ssize_t n = ::write(fd, buffer + put, size - put);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) put += (size_t)n;
  }
  ff.FFMS_FreeIndexBuffer(&buffer);
  if (fd >= 0) {
    ::fchmod(fd, 0644);
    ok = ::close(fd) == 0 && ok;
    if (ok) ok = ::rename(temp.c_str(), name.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
  }
  return ok;
}

// FFMS2 asks this while it indexes; non-zero stops the indexing.
int FFMS_CC indexprogress(int64_t, int64_t, void* env) {
  return static_cast<fsenvcore*>(env)->stopasked() ? 1 : 0;
}

class ffclip : public fsclip {
 public:
  ~ffclip() override {
    if (source_) ff.FFMS_DestroyVideoSource(source_);
  }
  const videoinfo& getvideoinfo() override { return vi_; }

  fsframe* getframe(int n, fsenv* e) override {
    auto* env = static_cast<fsenvcore*>(e);
    n = n < 0 ? 0 : (n >= vi_.numframes ? vi_.numframes - 1 : n);
    std::lock_guard<std::mutex> g(lock_);
    fferror err;
    // At a constant rate of our own: the file's frame that starts closest to the output
    // frame's time.
    const FFMS_Frame* src =
        fpsnum_ > 0 ? ff.FFMS_GetFrameByTime(source_, firsttime_ + (double)n * fpsden_ / fpsnum_, &err.info)
                    : ff.FFMS_GetFrame(source_, n, &err.info);
    if (!src) env->fail("FFVideoSource: frame " + std::to_string(n) + " of \"" + name_ + "\": " + err.message());
    if (src->ScaledWidth != vi_.width || src->ScaledHeight != vi_.height || !src->Data[0] || !src->Data[1] ||
        !src->Data[2])
      env->fail("FFVideoSource: frame " + std::to_string(n) + " of \"" + name_ + "\" changes the picture size");
    fsframe* f = env->newframe(vi_);
    env->bitblt(f->buffer->data + f->offset, f->pitch, src->Data[0], src->Linesize[0], vi_.width, vi_.height);
    env->bitblt(f->buffer->data + f->offsetu, f->pitchuv, src->Data[1], src->Linesize[1], vi_.width / 2,
                vi_.height / 2);
    env->bitblt(f->buffer->data + f->offsetv, f->pitchuv, src->Data[2], src->Linesize[2], vi_.width / 2,
                vi_.height / 2);
    return f;
  }

  // The output the script asks for: width and height 0 keep the file's size, fpsnum 0 its
  // frames; resizer is one of FFMS2's FFMS_RESIZER_ values.
  struct output {
    int width = 0, height = 0, resizer = FFMS_RESIZER_BICUBIC;
    long long fpsnum = 0, fpsden = 1;
  };

  void open(fsenvcore* env, const std::string& path, const fswhere& at, const output& want) {
    name_ = path;
    auto fail = [&](const std::string& what) { env->fail("FFVideoSource: \"" + path + "\" " + what + at.text()); };
    if (!loadffms()) fail("can't be read: the FFMS2 library can't be loaded (" + ff.error + ")");
    // A FIFO would block until something writes into it.
    const std::string kind = notregular(path);
    if (!kind.empty()) fail("is " + kind + ", not a video file");
    if (access(path.c_str(), R_OK) != 0) fail("can't be opened: " + std::string(std::strerror(errno)));
    env->noteread(path);

    // The container decides how frames are found: MPEG program and transport streams carry
    // time stamps that do not let FFMS2 seek to the exact frame, so they are decoded onwards
    // from the last key frame reached in order (slower for random access, always right).
    fferror perr;
    FFMS_Indexer* indexer = ff.FFMS_CreateIndexer(path.c_str(), &perr.info);
    if (!indexer) fail("can't be read: " + perr.message());
    std::string format = ff.FFMS_GetFormatNameI(indexer) ? ff.FFMS_GetFormatNameI(indexer) : "";
    int seekmode = (format == "mpeg" || format == "mpegts") ? FFMS_SEEK_LINEAR : FFMS_SEEK_NORMAL;

    // An index from an earlier open, when it belongs to this file as it is now.
    FFMS_Index* index = nullptr;
    std::vector<std::string> names = indexnames(path);
    for (const auto& name : names) {
      FFMS_Index* i = readindexfile(name);
      if (!i) continue;
      fferror err;
      if (ff.FFMS_IndexBelongsToFile(i, path.c_str(), &err.info) == 0) {
        index = i;
        env->noteread(name);
        break;
      }
      ff.FFMS_DestroyIndex(i);
    }
    if (index) {
      ff.FFMS_CancelIndexing(indexer);
    } else {
      fferror err;
      ff.FFMS_SetProgressCallback(indexer, indexprogress, env);
      index = ff.FFMS_DoIndexing2(indexer, FFMS_IEH_ABORT, &err.info);  // frees the indexer
      if (!index && env->stopasked()) fail("not indexed: the run was stopped");
      if (!index) fail("can't be indexed: " + err.message());
      for (const auto& name : names)
        if (writeindexfile(name, index)) {
          env->noteread(name);
          break;
        }
    }
    struct indexguard {
      FFMS_Index* i;
      ~indexguard() { ff.FFMS_DestroyIndex(i); }
    } guard{index};

    fferror err;
    int track = ff.FFMS_GetFirstTrackOfType(index, FFMS_TYPE_VIDEO, &err.info);
    if (track < 0) fail("has no video track");
    source_ = ff.FFMS_CreateVideoSource(path.c_str(), track, index, 1, seekmode, &err.info);
    if (!source_) fail("can't be decoded: " + err.message());
    const FFMS_VideoProperties* props = ff.FFMS_GetVideoProperties(source_);
    const FFMS_Frame* first = ff.FFMS_GetFrame(source_, 0, &err.info);
    if (!first || props->NumFrames <= 0) fail("has no frame that decodes: " + err.message());
    int w = first->EncodedWidth, h = first->EncodedHeight;
    if (w <= 0 || h <= 0) fail("has no picture size");
    const int fromw = w, fromh = h;
    if (want.width > 0) w = want.width;
    if (want.height > 0) h = want.height;
    if (w % 2 || h % 2) fail("has an odd picture size " + std::to_string(w) + "x" + std::to_string(h) +
                             "; 4:2:0 needs an even width and height");
    int formats[2] = {ff.FFMS_GetPixFmt("yuv420p"), -1};
    if (ff.FFMS_SetOutputFormatV2(source_, formats, w, h, want.resizer, &err.info) != 0)
      fail("can't be converted to 8-bit 4:2:0 at " + std::to_string(w) + "x" + std::to_string(h) + ": " +
           err.message());
    long long num = props->FPSNumerator, den = props->FPSDenominator;
    int frames = props->NumFrames;
    if (want.fpsnum > 0) {
      // The file's length at the new rate, at least one frame.
      num = want.fpsnum;
      den = want.fpsden;
      double seconds = 0.0;
      if (props->NumFrames > 1)
        seconds = (props->LastTime - props->FirstTime) * (1.0 + 1.0 / (props->NumFrames - 1));
      double n = seconds * (double)num / (double)den + 0.5;
      if (!(n < 1e9)) fail("is too long at " + std::to_string(num) + "/" + std::to_string(den) + " frames a second");
      frames = std::max(1, (int)n);
      fpsnum_ = num;
      fpsden_ = den;
      firsttime_ = props->FirstTime;
    }
    if (num <= 0 || den <= 0) fail("has no frame rate");
    long long g = std::gcd(num, den);
    vi_.width = w;
    vi_.height = h;
    vi_.fpsnum = (int)(num / g);
    vi_.fpsden = (int)(den / g);
    vi_.numframes = frames;
    vi_.pixeltype = pixyv12;
    // The picture's shape as the file shows it (its sample aspect over its own size); a new
    // size stretches the picture to that shape.
    if (props->SARNum > 0 && props->SARDen > 0) {
      long long an = (long long)fromw * props->SARNum, ad = (long long)fromh * props->SARDen;
      long long ag = std::gcd(an, ad);
      if (an / ag <= INT_MAX && ad / ag <= INT_MAX) {
        vi_.darnum = (int)(an / ag);
        vi_.darden = (int)(ad / ag);
      }
    }
  }

 private:
  videoinfo vi_;
  std::string name_;
  FFMS_VideoSource* source_ = nullptr;
  long long fpsnum_ = 0, fpsden_ = 1;  // a constant rate of our own, or fpsnum_ 0
  double firsttime_ = 0.0;             // seconds: the file's first frame
  std::mutex lock_;
};

// FFMS2's scaler names (as its frame-server plug-in takes them, in any case).
int resizernamed(const std::string& name) {
  static const std::pair<const char*, int> names[] = {
      {"FAST_BILINEAR", FFMS_RESIZER_FAST_BILINEAR}, {"BILINEAR", FFMS_RESIZER_BILINEAR},
      {"BICUBIC", FFMS_RESIZER_BICUBIC}, {"X", FFMS_RESIZER_X}, {"POINT", FFMS_RESIZER_POINT},
      {"AREA", FFMS_RESIZER_AREA}, {"BICUBLIN", FFMS_RESIZER_BICUBLIN}, {"GAUSS", FFMS_RESIZER_GAUSS},
      {"SINC", FFMS_RESIZER_SINC}, {"LANCZOS", FFMS_RESIZER_LANCZOS}, {"SPLINE", FFMS_RESIZER_SPLINE}};
  for (const auto& [n, v] : names)
    if (strcasecmp(n, name.c_str()) == 0) return v;
  return -1;
}

}  // namespace

fsvalue ffvideosource(fsenvcore* env, const std::vector<fsarg>& a, const fswhere& at,
                      const std::string& scriptdir) {
  if (!a[0].given) env->fail("Script error: FFVideoSource needs the file name" + at.text());
  std::string path = a[0].value.asstring();
  if (!path.empty() && path[0] != '/') path = scriptdir + path;
  // The output asked for, in FFMS2's ranges: a size up to 8192 pixels (0 or less keeps the
  // file's), a rate of at most 1000 frames a second (fpsnum 0 or less keeps the file's frames).
  ffclip::output want;
  auto bad = [&](const std::string& what) {
    env->fail("Script error: FFVideoSource: " + what + at.text());
  };
  const char* const sizes[2] = {"width", "height"};
  for (int i = 0; i < 2; i++) {
    if (!a[1 + i].given) continue;
    int v = a[1 + i].value.asint();
    if (v > 8192 || (v > 0 && v % 2))
      bad(std::string("argument \"") + sizes[i] + "\" is " + std::to_string(v) +
          ": an even number of pixels up to 8192 (0 or less keeps the file's)");
    (i == 0 ? want.width : want.height) = std::max(v, 0);
  }
  if (a[3].given) {
    std::string name = a[3].value.asstring();
    want.resizer = resizernamed(name);
    if (want.resizer < 0)
      bad("argument \"resizer\" is \"" + name +
          "\": one of FAST_BILINEAR, BILINEAR, BICUBIC, X, POINT, AREA, BICUBLIN, GAUSS, SINC, "
          "LANCZOS, SPLINE");
  }
  if (a[4].given) want.fpsnum = std::max(a[4].value.asint(), 0);
  if (a[5].given) want.fpsden = a[5].value.asint();
  if (want.fpsnum > 0 && (want.fpsden < 1 || want.fpsnum > 1000LL * want.fpsden))
    bad("fpsnum=" + std::to_string(want.fpsnum) + ", fpsden=" + std::to_string(want.fpsden) +
        " is no frame rate: fpsden at least 1 and at most 1000 frames a second");
  if (a[5].given && !a[4].given) bad("argument \"fpsden\" needs \"fpsnum\" beside it");
  auto* c = new ffclip;
  fsvalue v(c);  // owns the clip: a failed open deletes it
  c->open(env, path, at, want);
  return v;
}
