// The script environment and the library's one export.
#include <sys/stat.h>

#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <utility>

#include "common/fileversion.h"  // the library carries its version
#include "libs/avisynth/fsinternal.h"
#include "libs/avisynth/script.h"

namespace {

// Rows start on 16-byte boundaries.
int align16(int n) { return (n + 15) & ~15; }

struct poolentry {
  fsbuffer buffer;
  fsframe frame;
  std::unique_ptr<uint8_t[]> memory;
  int size = 0;
};

class environment : public fsenvcore {
 public:
  ~environment() override = default;

  fsvalue invoke(const char* name, const fsvalue& args, const char* const* argnames) override {
    std::vector<std::pair<std::string, fsvalue>> list;
    int n = args.type() == fsvalue::array ? args.count() : (args.type() == fsvalue::none ? 0 : 1);
    for (int i = 0; i < n; i++)
      list.emplace_back(argnames && argnames[i] ? argnames[i] : "", args[i]);
    fswhere at;
    return callfunction(this, name ? name : "", list, at, "");
  }

  void bitblt(uint8_t* dst, int dstpitch, const uint8_t* src, int srcpitch, int rowsize,
              int height) override {
    if (rowsize <= 0 || height <= 0) return;
    if (dstpitch == srcpitch && srcpitch == rowsize) {
      std::memcpy(dst, src, (size_t)rowsize * (size_t)height);
      return;
    }
    for (int r = 0; r < height; r++)
      std::memcpy(dst + (ptrdiff_t)r * dstpitch, src + (ptrdiff_t)r * srcpitch, (size_t)rowsize);
  }

  fsframe* newframe(const videoinfo& vi) override {
    // Layout by pixel type: rowsize and height of the first plane, then the chroma planes.
    int rowsize = vi.width, pitchuv = 0, crowsize = 0;
    if (vi.pixeltype == pixrgb32) {
      rowsize = 4 * vi.width;
    } else if (vi.pixeltype == pixyuv420p16) {
      rowsize = 2 * vi.width;
      crowsize = vi.width;
    } else {
      crowsize = vi.width / 2;
    }
    int pitch = align16(rowsize);
    if (crowsize > 0) pitchuv = align16(crowsize);
    int lumabytes = pitch * vi.height;
    int chromabytes = pitchuv * (vi.height / 2);
    int size = lumabytes + 2 * chromabytes;

    std::lock_guard<std::mutex> g(poollock);
    poolentry* e = nullptr;
    for (auto& p : pool)
      if (p.frame.refs.load() == 0 && p.buffer.refs.load() == 0 && p.size >= size) {
        e = &p;
        break;
      }
    if (!e) {
      pool.emplace_back();
      e = &pool.back();
      e->memory.reset(new uint8_t[size > 0 ? size : 1]);
      e->size = size;
    }
    fsframe& f = e->frame;
    e->buffer.data = e->memory.get();
    e->buffer.size = e->size;
    e->buffer.refs.store(1);
    f.buffer = &e->buffer;
    f.refs.store(1);
    f.offset = 0;
    f.pitch = pitch;
    f.rowsize = rowsize;
    f.height = vi.height;
    f.pitchuv = pitchuv;
    if (vi.pixeltype == pixyv12) {  // Y, V, U
      f.offsetv = lumabytes;
      f.offsetu = lumabytes + chromabytes;
    } else {  // Y, U, V
      f.offsetu = lumabytes;
      f.offsetv = lumabytes + chromabytes;
    }
    if (pitchuv == 0) f.offsetu = f.offsetv = 0;
    return &f;
  }

  const char* keep(const std::string& text) override {
    std::lock_guard<std::mutex> g(keeplock);
    kept.push_back(text);
    return kept.back().c_str();
  }

  const char* fileread(int i) override {
    std::lock_guard<std::mutex> g(keeplock);
    if (i < 0 || i >= (int)files.size()) return nullptr;
    auto it = files.begin();
    std::advance(it, i);
    return it->c_str();
  }

  void noteread(const std::string& path) override {
    std::lock_guard<std::mutex> g(keeplock);
    for (const std::string& f : files)
      if (f == path) return;
    files.push_back(path);
  }

  void watchstop(const std::atomic<int>* word) override { stopword = word; }

  bool stopasked() override {
    const std::atomic<int>* w = stopword.load();
    return w && w->load() > 0;
  }

 private:
  std::atomic<const std::atomic<int>*> stopword{nullptr};
  std::list<std::string> files;  // read by the scripts and sources, first use first
  std::mutex poollock;
  std::list<poolentry> pool;  // never shrinks: frames keep their addresses
  std::mutex keeplock;
  std::list<std::string> kept;
};

}  // namespace

std::string notregular(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode)) return "";
  if (S_ISFIFO(st.st_mode)) return "a FIFO";
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
  if (S_ISSOCK(st.st_mode)) return "a socket";
  return "not a regular file";
}

extern "C" __attribute__((visibility("default"))) fsenv* CreateScriptEnvironment(int version) {
  if (version != fsinterface) return nullptr;
  return new environment;
}
