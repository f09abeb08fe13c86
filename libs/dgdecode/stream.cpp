// The video bytes of the project's files as one continuous elementary stream.
//
// The files are joined into one byte stream. An elementary stream is read as it is. A program
// stream (or a transport stream, or any container libavformat knows) is demuxed without a
// parser, so that every packet is exactly the payload of one PES packet and its position is
// that packet's start in the joined stream: a seek to that position and a skip of n payload
// bytes reaches any byte again, the same way every time.
#include "dgdecode.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

// The files one after another.
struct joinedfiles {
  const esreader* r = nullptr;
  FILE* f = nullptr;
  int current = -1;
  int64_t pos = 0;  // next byte, joined-stream offset
};

}  // namespace

struct esinput {
  joinedfiles j;
  AVIOContext* io = nullptr;
  AVFormatContext* fmt = nullptr;
  AVPacket* pkt = nullptr;
  int videoid = -1;  // stream id (PES id) of the video, -1 until found
};

void dglog(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::fputs("DGDecode.dll: ", stderr);
  std::vfprintf(stderr, fmt, ap);
  std::fputc('\n', stderr);
  va_end(ap);
}

int esfileof(const esreader& r, int64_t pos) {
  int k = 0;
  while (k + 1 < static_cast<int>(r.files.size()) && pos >= r.starts[k + 1]) k++;
  return k;
}

namespace {

constexpr size_t rawchunksize = 65536;
constexpr int iobuffersize = 65536;

int64_t joinedtotal(const joinedfiles& j) { return j.r->starts.back(); }

size_t joinedread(joinedfiles& j, uint8_t* dst, size_t n) {
  size_t done = 0;
  while (done < n && j.pos < joinedtotal(j)) {
    int k = esfileof(*j.r, j.pos);
    if (k != j.current || !j.f) {
      if (j.f) std::fclose(j.f);
      j.f = std::fopen(j.r->files[k].c_str(), "rb");
      j.current = k;
      if (!j.f) {
        dglog("can't open %s", j.r->files[k].c_str());
        return done;
      }
      if (std::fseek(j.f, static_cast<long>(j.pos - j.r->starts[k]), SEEK_SET) != 0) return done;
    }
    int64_t left = j.r->starts[k + 1] - j.pos;
    size_t want = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(n - done)));
    size_t got = std::fread(dst + done, 1, want, j.f);
    done += got;
    j.pos += static_cast<int64_t>(got);
    if (got < want) {
      dglog("%s ends early", j.r->files[k].c_str());
      return done;
    }
  }
  return done;
}

void joinedseek(joinedfiles& j, int64_t pos) {
  j.pos = std::clamp<int64_t>(pos, 0, joinedtotal(j));
  if (j.f && j.current >= 0 && j.pos < j.r->starts[j.current + 1] && j.pos >= j.r->starts[j.current]) {
    if (std::fseek(j.f, static_cast<long>(j.pos - j.r->starts[j.current]), SEEK_SET) == 0) return;
  }
  if (j.f) std::fclose(j.f);
  j.f = nullptr;
  j.current = -1;
}

int ioread(void* opaque, uint8_t* buf, int size) {
  joinedfiles& j = *static_cast<joinedfiles*>(opaque);
  size_t got = joinedread(j, buf, static_cast<size_t>(size));
  return got > 0 ? static_cast<int>(got) : AVERROR_EOF;
}

int64_t ioseek(void* opaque, int64_t offset, int whence) {
  joinedfiles& j = *static_cast<joinedfiles*>(opaque);
  if (whence & AVSEEK_SIZE) return joinedtotal(j);
  whence &= ~AVSEEK_FORCE;
  int64_t base = whence == SEEK_CUR ? j.pos : whence == SEEK_END ? joinedtotal(j) : 0;
  if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END) return -1;
  joinedseek(j, base + offset);
  return j.pos;
}

void closeinput(esinput* in) {
  if (!in) return;
  if (in->pkt) av_packet_free(&in->pkt);
  if (in->fmt) avformat_close_input(&in->fmt);
  if (in->io) {
    av_freep(&in->io->buffer);
    avio_context_free(&in->io);
  }
  if (in->j.f) std::fclose(in->j.f);
  delete in;
}

esinput* openinput(const esreader& r, std::string& why) {
  esinput* in = new esinput;
  in->j.r = &r;
  if (!r.program) return in;
  uint8_t* buffer = static_cast<uint8_t*>(av_malloc(iobuffersize));
  in->io = buffer ? avio_alloc_context(buffer, iobuffersize, 0, &in->j, ioread, nullptr, ioseek)
                  : nullptr;
  in->fmt = avformat_alloc_context();
  in->pkt = av_packet_alloc();
  if (!buffer || !in->io || !in->fmt || !in->pkt) {
    if (buffer && !in->io) av_free(buffer);
    why = "out of memory";
    closeinput(in);
    return nullptr;
  }
  in->fmt->pb = in->io;
  // No parser (packets stay PES payloads with their own positions), no timestamp guessing.
  in->fmt->flags |= AVFMT_FLAG_NOPARSE | AVFMT_FLAG_NOFILLIN;
  int err = avformat_open_input(&in->fmt, r.files[0].c_str(), nullptr, nullptr);
  if (err < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    why = "can't open " + r.files[0] + ": " + text;
    in->fmt = nullptr;  // freed by avformat_open_input on failure
    closeinput(in);
    return nullptr;
  }
  return in;
}

bool isvideo(const AVStream* st) {
  return st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
         (st->codecpar->codec_id == AV_CODEC_ID_MPEG2VIDEO ||
          st->codecpar->codec_id == AV_CODEC_ID_MPEG1VIDEO);
}

// The next payload of the video; false at its end.
bool nextpacket(esinput* in, std::vector<uint8_t>& data, int64_t& pos) {
  if (!in->fmt) {
    pos = in->j.pos;
    data.resize(rawchunksize);
    data.resize(joinedread(in->j, data.data(), rawchunksize));
    return !data.empty();
  }
  for (;;) {
    av_packet_unref(in->pkt);
    if (av_read_frame(in->fmt, in->pkt) < 0) return false;
    AVStream* st = in->fmt->streams[in->pkt->stream_index];
    if (in->videoid < 0 && isvideo(st)) in->videoid = st->id;
    if (st->id != in->videoid || !isvideo(st)) {
      st->discard = AVDISCARD_ALL;  // audio, subtitles, navigation: never needed
      continue;
    }
    if (in->pkt->size <= 0 || in->pkt->pos < 0) continue;
    pos = in->pkt->pos;
    data.assign(in->pkt->data, in->pkt->data + in->pkt->size);
    return true;
  }
}

// What a file holds: an elementary stream's first start code is one of the video layer's
// (a sequence header after zero stuffing, or a GOP or picture of a cut stream); a program
// stream begins with a pack header, a transport stream with no start code at all.
bool iselementary(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  uint8_t b[4096];
  size_t n = std::fread(b, 1, sizeof b, f);
  std::fclose(f);
  for (size_t i = 0; i + 3 < n; i++) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    uint8_t code = b[i + 3];
    return code == 0xB3 || code == 0xB8 || code == 0x00 || code == 0xB5 || code == 0xB2;
  }
  return false;
}

}  // namespace

bool esopen(esreader& r, const std::vector<std::string>& files, std::string& why) {
  esclose(r);
  r = esreader{};
  if (files.empty()) {
    why = "no video files";
    return false;
  }
  r.files = files;
  r.starts.assign(1, 0);
  for (const std::string& f : files) {
    std::error_code ec;
    auto size = std::filesystem::file_size(f, ec);
    if (ec) {
      why = "can't read " + f;
      return false;
    }
    r.starts.push_back(r.starts.back() + static_cast<int64_t>(size));
  }
  r.program = !iselementary(files[0]);
  if (!esrewind(r)) {
    why = "can't read " + files[0];
    return false;
  }
  if (r.program) {
    // A container must show MPEG video among its first packets.
    int64_t pos = 0;
    if (!nextpacket(r.in, r.chunk, pos)) {
      why = files[0] + " holds no MPEG-1/2 video";
      esclose(r);
      return false;
    }
    esrewind(r);
  }
  return true;
}

void esclose(esreader& r) {
  closeinput(r.in);
  r.in = nullptr;
  r.chunk.clear();
  r.chunkused = 0;
  r.chunkpos = 0;
}

bool esrewind(esreader& r) {
  esclose(r);
  std::string why;
  r.in = openinput(r, why);
  if (!r.in) {
    dglog("%s", why.c_str());
    return false;
  }
  return true;
}

bool esseek(esreader& r, const eslocation& loc) {
  if (!r.in && !esrewind(r)) return false;
  r.chunk.clear();
  r.chunkused = 0;
  if (!r.in->fmt) {
    joinedseek(r.in->j, loc.seekpos);
  } else if (av_seek_frame(r.in->fmt, -1, loc.seekpos, AVSEEK_FLAG_BYTE) < 0) {
    return false;
  }
  int64_t pos = 0;
  for (;;) {
    if (!nextpacket(r.in, r.chunk, pos)) return false;
    if (pos == loc.seekpos) break;
    if (pos > loc.seekpos || !r.in->fmt) {
      dglog("lost the packet at byte %lld", static_cast<long long>(loc.seekpos));
      return false;
    }
  }
  r.chunkpos = pos;
  if (static_cast<size_t>(loc.skip) > r.chunk.size()) return false;
  r.chunkused = static_cast<size_t>(loc.skip);
  return true;
}

bool esfill(esreader& r) {
  if (!r.in) return false;
  while (r.chunkused >= r.chunk.size()) {
    int64_t pos = 0;
    if (!nextpacket(r.in, r.chunk, pos)) return false;
    r.chunkpos = pos;
    r.chunkused = 0;
  }
  return true;
}

size_t esread(esreader& r, uint8_t* dst, size_t n) {
  size_t done = 0;
  while (done < n) {
    if (!esfill(r)) return done;
    size_t take = std::min(n - done, r.chunk.size() - r.chunkused);
    std::memcpy(dst + done, r.chunk.data() + r.chunkused, take);
    r.chunkused += take;
    done += take;
  }
  return done;
}
