// The D2V decoder library: reads a D2V project as indexing tools write it and decodes the MPEG-1
// or MPEG-2 video of the files it lists, one after another as one stream (a DVD title split
// into VOB files), through libavformat and libavcodec.
//
// Project file: the first line ends in the two-digit format version; the second holds the
// number of video files; then one line per file (version 6: the name follows the first blank;
// 10 and above: the whole line); a blank line; Key=Value settings (Frame_Rate among them); the
// index lines and a final line, which the decoding here does not need.
//
// Frames are numbered in display order, as the decoder delivers them. The open decodes the
// whole video once, to count its frames and to note where each I picture lies. Frame n is then
// found by decoding onwards: from the last frame delivered when n lies ahead of it and no I
// picture lies between, else from the last I picture at or before n (its frame number known
// from the counting), else from the start.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

#include "videosource/d2vdecoder.h"

namespace {

// ---- the listed files as one byte stream --------------------------------------------------

struct joinedfiles {
  struct part {
    std::string path;
    int64_t start = 0, size = 0;
  };
  std::vector<part> parts;
  int64_t total = 0, pos = 0;
  std::FILE* file = nullptr;
  int current = -1;

  ~joinedfiles() {
    if (file) std::fclose(file);
  }

  int read(uint8_t* buf, int size) {
    int done = 0;
    while (done < size && pos < total) {
      int k = 0;
      while (k + 1 < (int)parts.size() && pos >= parts[k].start + parts[k].size) k++;
      if (k != current) {
        if (file) std::fclose(file);
        file = std::fopen(parts[k].path.c_str(), "rb");
        current = file ? k : -1;
        if (!file) return done > 0 ? done : AVERROR(EIO);
      }
      int64_t off = pos - parts[k].start;
      if (fseeko(file, off, SEEK_SET) != 0) return done > 0 ? done : AVERROR(EIO);
      int64_t want = std::min<int64_t>(size - done, parts[k].size - off);
      size_t got = std::fread(buf + done, 1, (size_t)want, file);
      if (got == 0) return done > 0 ? done : AVERROR(EIO);
      done += (int)got;
      pos += (int64_t)got;
    }
    return done > 0 ? done : AVERROR_EOF;
  }

  int64_t seek(int64_t offset, int whence) {
    whence &= ~AVSEEK_FORCE;
    if (whence == AVSEEK_SIZE) return total;
    int64_t p = whence == SEEK_SET ? offset : whence == SEEK_CUR ? pos + offset : total + offset;
    if (p < 0) return -1;
    pos = p;
    return p;
  }
};

int readcb(void* o, uint8_t* buf, int size) { return static_cast<joinedfiles*>(o)->read(buf, size); }
int64_t seekcb(void* o, int64_t offset, int whence) { return static_cast<joinedfiles*>(o)->seek(offset, whence); }

// ---- one decoding run from the start of the stream ----------------------------------------

struct decoderun {
  joinedfiles files;
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  int next = 0;       // display number of the next frame the run delivers
  bool drained = false;

  ~decoderun() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    if (format) avformat_close_input(&format);
    if (io) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
  }

  bool open(const std::vector<std::string>& paths, int threads = 1) {
    for (const auto& p : paths) {
      struct stat st;
      if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
      files.parts.push_back({p, files.total, (int64_t)st.st_size});
      files.total += st.st_size;
    }
    const int bufsize = 65536;
    auto* buf = (uint8_t*)av_malloc(bufsize);
    if (!buf) return false;
    io = avio_alloc_context(buf, bufsize, 0, &files, readcb, nullptr, seekcb);
    if (!io) {
      av_free(buf);
      return false;
    }
    format = avformat_alloc_context();
    if (!format) return false;
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_open_input(&format, nullptr, nullptr, nullptr) < 0) {
      format = nullptr;  // freed on failure
      return false;
    }
    if (avformat_find_stream_info(format, nullptr) < 0) return false;
    stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0) return false;
    AVCodecParameters* par = format->streams[stream]->codecpar;
    if (par->codec_id != AV_CODEC_ID_MPEG2VIDEO && par->codec_id != AV_CODEC_ID_MPEG1VIDEO) return false;
    const AVCodec* dec = avcodec_find_decoder(par->codec_id);
    if (!dec) return false;
    codec = avcodec_alloc_context3(dec);
    if (!codec || avcodec_parameters_to_context(codec, par) < 0) return false;
    codec->thread_count = threads;
    if (avcodec_open2(codec, dec, nullptr) < 0) return false;
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    return packet && frame;
  }

  // Goes on reading at byte pos of the joined stream, the decoder emptied.
  bool seekto(int64_t pos) {
    if (av_seek_frame(format, stream, pos, AVSEEK_FLAG_BYTE) < 0) return false;
    avcodec_flush_buffers(codec);
    drained = false;
    return true;
  }

  // The next frame in display order into frame; false at the end of the stream or on an error
  // that ends it.
  bool step() {
    for (;;) {
      int r = avcodec_receive_frame(codec, frame);
      if (r == 0) {
        next++;
        return true;
      }
      if (r != AVERROR(EAGAIN) || drained) return false;
      for (;;) {
        r = av_read_frame(format, packet);
        if (r < 0) {
          avcodec_send_packet(codec, nullptr);  // drain the frames held back
          drained = true;
          break;
        }
        bool ours = packet->stream_index == stream;
        if (ours) avcodec_send_packet(codec, packet);  // a damaged picture is skipped
        av_packet_unref(packet);
        if (ours) break;
      }
    }
  }
};

// ---- the open project ---------------------------------------------------------------------

// An I picture: its frame number, where its packet starts in the joined stream, and a hash of
// its luma to know it again.
struct ipicture {
  int frame;
  int64_t pos;
  uint64_t luma;
};

uint64_t lumahash(const AVFrame* f) {
  uint64_t h = 14695981039346656037ull;
  for (int y = 0; y < f->height; y++) {
    const uint8_t* row = f->data[0] + (ptrdiff_t)y * f->linesize[0];
    for (int x = 0; x < f->width; x++) h = (h ^ row[x]) * 1099511628211ull;
  }
  return h;
}

struct project {
  std::vector<std::string> paths;
  std::vector<ipicture> ipictures;  // in frame order
  int32_t record[6] = {0, 0, 0, 0, 0, 0};
  std::unique_ptr<decoderun> run;
  std::vector<uint8_t> block;
  int blockframe = -1;  // the frame that block holds
};

std::mutex decoderlock;
std::unique_ptr<project> current;
bool quiet = [] {
  av_log_set_level(AV_LOG_QUIET);
  return true;
}();

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n"), e = s.find_last_not_of(" \t\r\n");
  return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// A listed file as given, else with Windows separators, else relative to the project's folder.
std::string findfile(const std::string& name, const std::string& dir) {
  std::string slashed = name;
  for (char& c : slashed)
    if (c == '\\') c = '/';
  for (const std::string& c : {name, slashed, dir + slashed}) {
    struct stat st;
    if (!c.empty() && stat(c.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return c;
  }
  return "";
}

// Reads the project: the files it lists and the frame rate it gives (0 when none).
bool readproject(const char* path, std::vector<std::string>& files, int& fpsnum, int& fpsden) {
  std::ifstream in(path);
  if (!in) return false;
  std::string line;
  if (!std::getline(in, line)) return false;
  line = trim(line);
  if (line.size() < 2 || !isdigit((unsigned char)line[line.size() - 1]) || !isdigit((unsigned char)line[line.size() - 2]))
    return false;
  int version = std::stoi(line.substr(line.size() - 2));
  if (!std::getline(in, line)) return false;
  int count = 0;
  if (std::sscanf(line.c_str(), "%d", &count) != 1 || count < 1 || count > 10000) return false;
  std::string p = path;
  size_t slash = p.rfind('/');
  std::string dir = slash == std::string::npos ? "" : p.substr(0, slash + 1);
  for (int i = 0; i < count; i++) {
    if (!std::getline(in, line)) return false;
    std::string name = line;
    if (!name.empty() && name.back() == '\r') name.pop_back();
    if (version == 6) {
      size_t b = name.find(' ');
      name = b == std::string::npos ? "" : name.substr(b + 1);
    }
    name = trim(name);
    std::string found = findfile(name, dir);
    if (found.empty()) return false;
    files.push_back(found);
  }
  fpsnum = fpsden = 0;
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.rfind("Frame_Rate=", 0) == 0) {
      long a = 0, b = 0, whole = 0;
      if (std::sscanf(line.c_str(), "Frame_Rate=%ld (%ld/%ld)", &whole, &a, &b) == 3 && a > 0 && b > 0) {
        fpsnum = (int)a;
        fpsden = (int)b;
      } else if (whole > 0) {
        fpsnum = (int)whole;  // frames per 1000 seconds
        fpsden = 1000;
      }
    }
  }
  return true;
}

// Positions a fresh run on an I picture: reads on from its packet. The decoder then delivers
// that picture first (the pictures before it in its GOP lack their references and are passed
// over) and the following ones in order. True when the picture that came is that I picture;
// the run's next frame is then the one after it.
bool startat(decoderun& run, const ipicture& at) {
  if (!run.seekto(at.pos) || !run.step()) return false;
  const AVFrame* f = run.frame;
  if (f->pict_type != AV_PICTURE_TYPE_I || (f->pkt_pos >= 0 && f->pkt_pos != at.pos) || lumahash(f) != at.luma)
    return false;
  run.next = at.frame + 1;
  return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const int32_t* openMPEG2Source(const char* path) {
  std::lock_guard<std::mutex> g(decoderlock);
  current.reset();
  if (!path) return nullptr;
  auto p = std::make_unique<project>();
  int d2vnum = 0, d2vden = 0;
  if (!readproject(path, p->paths, d2vnum, d2vden)) return nullptr;

  // Count the frames by decoding them once: exactly what later runs deliver.
  decoderun counting;
  if (!counting.open(p->paths, 0)) return nullptr;  // as many threads as the machine has
  int frames = 0;
  while (counting.step()) {
    if (counting.frame->format != AV_PIX_FMT_YUV420P && counting.frame->format != AV_PIX_FMT_YUVJ420P)
      return nullptr;  // only 4:2:0 is delivered
    if (counting.frame->pict_type == AV_PICTURE_TYPE_I && counting.frame->pkt_pos >= 0 &&
        (p->ipictures.empty() || counting.frame->pkt_pos > p->ipictures.back().pos))
      p->ipictures.push_back({frames, counting.frame->pkt_pos, lumahash(counting.frame)});
    frames++;
  }
  int w = counting.codec->width, h = counting.codec->height;
  if (frames == 0 || w <= 0 || h <= 0 || (w & 1) || (h & 1)) return nullptr;
  // The rate of the stream's sequence header, else the project's.
  AVRational r = counting.codec->framerate;
  if (r.num <= 0 || r.den <= 0) r = counting.format->streams[counting.stream]->r_frame_rate;
  if ((r.num <= 0 || r.den <= 0) && d2vnum > 0) r = AVRational{d2vnum, d2vden};
  if (r.num <= 0 || r.den <= 0) return nullptr;
  int gcd = std::gcd(r.num, r.den);
  p->record[0] = w;
  p->record[1] = h;
  p->record[2] = r.num / gcd;
  p->record[3] = r.den / gcd;
  p->record[4] = frames;
  p->record[5] = 0;
  current = std::move(p);
  return current->record;
}

extern "C" __attribute__((visibility("default"))) const uint8_t* getFrame(int n) {
  std::lock_guard<std::mutex> g(decoderlock);
  if (!current) return nullptr;
  project& p = *current;
  int frames = p.record[4];
  n = n < 0 ? 0 : (n >= frames ? frames - 1 : n);
  if (n == p.blockframe) return p.block.data();
  // The last I picture at or before n: decoding starts there when the current run is behind
  // it or already past n.
  const ipicture* from = nullptr;
  for (const auto& i : p.ipictures)
    if (i.frame <= n && i.frame > 0) from = &i;
  bool restart = !p.run || p.run->next > n || (from && p.run->next <= from->frame);
  if (restart) {
    p.run = std::make_unique<decoderun>();
    if (!p.run->open(p.paths)) {
      p.run.reset();
      std::fprintf(stderr, "DGDecode.dll: can't read the video of the project again (frame %d)\n", n);
      return nullptr;
    }
    if (from && !startat(*p.run, *from)) {
      // Not found where the counting saw it: from the start, which is always right.
      p.run = std::make_unique<decoderun>();
      if (!p.run->open(p.paths)) {
        p.run.reset();
        return nullptr;
      }
    }
  }
  while (p.run->next <= n)
    if (!p.run->step()) {
      std::fprintf(stderr, "DGDecode.dll: can't decode frame %d\n", n);
      p.run.reset();
      return nullptr;
    }
  AVFrame* f = p.run->frame;
  int w = p.record[0], h = p.record[1];
  if (f->width != w || f->height != h ||
      (f->format != AV_PIX_FMT_YUV420P && f->format != AV_PIX_FMT_YUVJ420P)) {
    std::fprintf(stderr, "DGDecode.dll: frame %d changes the picture format\n", n);
    return nullptr;
  }
  p.block.resize((size_t)w * h * 3 / 2);
  uint8_t* d = p.block.data();
  av_image_copy_plane(d, w, f->data[0], f->linesize[0], w, h);
  av_image_copy_plane(d + w * h, w / 2, f->data[1], f->linesize[1], w / 2, h / 2);
  av_image_copy_plane(d + w * h + w * h / 4, w / 2, f->data[2], f->linesize[2], w / 2, h / 2);
  p.blockframe = n;
  return d;
}

extern "C" __attribute__((visibility("default"))) void closeVideo() {
  std::lock_guard<std::mutex> g(decoderlock);
  current.reset();
}
