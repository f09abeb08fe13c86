// FFVideoSource("file"): any video file through the FFMS2 library, frame-accurate, as YV12 at
// the file's own size and frame rate. The index FFMS2 needs is kept beside the file
// ("file.ffindex") or, when that folder cannot be written, in the temporary folder, so a
// second open does not index again.
#include <ffms.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <numeric>

#include "libs/avisynth/fsinternal.h"

namespace {

std::once_flag ffmsinit;

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

// The index file names to try, in order.
std::vector<std::string> indexnames(const std::string& path) {
  std::vector<std::string> names{path + ".ffindex"};
  std::error_code ec;
  std::string abs = std::filesystem::absolute(path, ec).string();
  size_t h = std::hash<std::string>{}(abs);
  char b[32];
  std::snprintf(b, sizeof b, "%016zx", h);
  names.push_back((std::filesystem::temp_directory_path(ec) / ("ostrel-" + std::string(b) + ".ffindex")).string());
  return names;
}

class ffclip : public fsclip {
 public:
  ~ffclip() override {
    if (source_) FFMS_DestroyVideoSource(source_);
  }
  const videoinfo& getvideoinfo() override { return vi_; }

  fsframe* getframe(int n, fsenv* e) override {
    auto* env = static_cast<fsenvcore*>(e);
    n = n < 0 ? 0 : (n >= vi_.numframes ? vi_.numframes - 1 : n);
    std::lock_guard<std::mutex> g(lock_);
    fferror err;
    const FFMS_Frame* src = FFMS_GetFrame(source_, n, &err.info);
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

  void open(fsenvcore* env, const std::string& path, const fswhere& at) {
    name_ = path;
    auto fail = [&](const std::string& what) { env->fail("FFVideoSource: \"" + path + "\" " + what + at.text()); };
    std::call_once(ffmsinit, [] {
      FFMS_Init(0, 0);
      FFMS_SetLogLevel(FFMS_LOG_QUIET);
    });
    if (access(path.c_str(), R_OK) != 0) fail("can't be opened: " + std::string(std::strerror(errno)));

    // The container decides how frames are found: MPEG program and transport streams carry
    // time stamps that do not let FFMS2 seek to the exact frame, so they are decoded onwards
    // from the last key frame reached in order (slower for random access, always right).
    fferror perr;
    FFMS_Indexer* indexer = FFMS_CreateIndexer(path.c_str(), &perr.info);
    if (!indexer) fail("can't be read: " + perr.message());
    std::string format = FFMS_GetFormatNameI(indexer) ? FFMS_GetFormatNameI(indexer) : "";
    int seekmode = (format == "mpeg" || format == "mpegts") ? FFMS_SEEK_LINEAR : FFMS_SEEK_NORMAL;

    // An index from an earlier open, when it belongs to this file as it is now.
    FFMS_Index* index = nullptr;
    std::vector<std::string> names = indexnames(path);
    for (const auto& name : names) {
      fferror err;
      FFMS_Index* i = FFMS_ReadIndex(name.c_str(), &err.info);
      if (!i) continue;
      if (FFMS_IndexBelongsToFile(i, path.c_str(), &err.info) == 0) {
        index = i;
        break;
      }
      FFMS_DestroyIndex(i);
    }
    if (index) {
      FFMS_CancelIndexing(indexer);
    } else {
      fferror err;
      index = FFMS_DoIndexing2(indexer, FFMS_IEH_ABORT, &err.info);  // frees the indexer
      if (!index) fail("can't be indexed: " + err.message());
      for (const auto& name : names) {
        fferror werr;
        if (FFMS_WriteIndex(name.c_str(), index, &werr.info) == 0) break;
        std::remove(name.c_str());
      }
    }
    struct indexguard {
      FFMS_Index* i;
      ~indexguard() { FFMS_DestroyIndex(i); }
    } guard{index};

    fferror err;
    int track = FFMS_GetFirstTrackOfType(index, FFMS_TYPE_VIDEO, &err.info);
    if (track < 0) fail("has no video track");
    source_ = FFMS_CreateVideoSource(path.c_str(), track, index, 1, seekmode, &err.info);
    if (!source_) fail("can't be decoded: " + err.message());
    const FFMS_VideoProperties* props = FFMS_GetVideoProperties(source_);
    const FFMS_Frame* first = FFMS_GetFrame(source_, 0, &err.info);
    if (!first || props->NumFrames <= 0) fail("has no frame that decodes: " + err.message());
    int w = first->EncodedWidth, h = first->EncodedHeight;
    if (w <= 0 || h <= 0) fail("has no picture size");
    if (w % 2 || h % 2) fail("has an odd picture size " + std::to_string(w) + "x" + std::to_string(h) +
                             "; 4:2:0 needs an even width and height");
    int formats[2] = {FFMS_GetPixFmt("yuv420p"), -1};
    if (FFMS_SetOutputFormatV2(source_, formats, w, h, FFMS_RESIZER_BICUBIC, &err.info) != 0)
      fail("can't be converted to 8-bit 4:2:0: " + err.message());
    long long num = props->FPSNumerator, den = props->FPSDenominator;
    if (num <= 0 || den <= 0) fail("has no frame rate");
    long long g = std::gcd(num, den);
    vi_.width = w;
    vi_.height = h;
    vi_.fpsnum = (int)(num / g);
    vi_.fpsden = (int)(den / g);
    vi_.numframes = props->NumFrames;
    vi_.pixeltype = pixyv12;
  }

 private:
  videoinfo vi_;
  std::string name_;
  FFMS_VideoSource* source_ = nullptr;
  std::mutex lock_;
};

}  // namespace

fsvalue ffvideosource(fsenvcore* env, const std::vector<fsarg>& a, const fswhere& at,
                      const std::string& scriptdir) {
  if (!a[0].given) env->fail("Script error: FFVideoSource needs the file name" + at.text());
  std::string path = a[0].value.asstring();
  if (!path.empty() && path[0] != '/') path = scriptdir + path;
  auto* c = new ffclip;
  fsvalue v(c);  // owns the clip: a failed open deletes it
  c->open(env, path, at);
  return v;
}
